// The Direct3D device, its shared drawing objects and the text overlay.
#ifndef VELMORA_D3D_STUFF_H
#define VELMORA_D3D_STUFF_H

#include <windows.h>
#include <d3d9.h>
#include <d3dx9.h>

class CResourceManager;
class CEntityManager;
class CShader;
struct ID3DXMesh;

int InitDirect3D(HWND window);
int InitVertexBuffer();
void ReleaseDirect3D();

void SetStatusText(const char* text, DWORD time, bool delayed);
void ShowTimedMessage(const char* text, DWORD time);
void DrawTextOverlay();
void OnResize(float width, float height);

extern IDirect3D9* g_pD3D;
extern IDirect3DDevice9* g_pDevice;
extern ID3DXFont* g_pFont;
extern ID3DXLine* g_pLine;
extern ID3DXSprite* g_pSprite;
extern IDirect3DTexture9* g_pRenderTexture;
extern IDirect3DSurface9* g_pRenderSurface;
extern IDirect3DVertexBuffer9* g_pVertexBuffer;
extern IDirect3DTexture9* g_pVeilTexture;
extern CResourceManager* g_pResourceManager;
extern CEntityManager* g_pEntityManager;
extern CShader* g_pSpotShader;
extern CShader* g_pDancerShader;
extern D3DLIGHT9 g_DeviceLight;
extern D3DXVECTOR3 g_vEyePt;
extern D3DXVECTOR3 g_vLookatPt;
extern D3DXVECTOR3 g_vUpVec;
extern D3DXMATRIX g_ViewMatrix;
extern D3DXMATRIX g_ProjectionMatrix;

// The overlay's status line and timed message.
extern char g_StatusText[64];
extern DWORD g_StatusTime;
extern bool g_StatusDelayed;
extern char g_MessageText[64];
extern DWORD g_MessageTime;

// ---- Screen-space drawing ---------------------------------------------------

// The points of the last line or circle drawn; 40 is the most one call draws.
const int kLinePointCount = 40;
extern D3DXVECTOR2 g_LinePoints[kLinePointCount];

void DrawLine(const D3DXVECTOR2& a, const D3DXVECTOR2& b, D3DCOLOR colour);
void DrawPatternLine(const D3DXVECTOR2& a, const D3DXVECTOR2& b, D3DCOLOR colour, DWORD pattern, float patternScale);
void DrawCircle(float centreX, float centreY, float radius, D3DCOLOR colour, int segments);
// The marker of a hovered or selected entity.
void DrawMarkerCircle(float x, float y);
// Through the device's world and view, g_ProjectionMatrix and the device's viewport:
// x, y in pixels and z the depth.
D3DXVECTOR3 ProjectToScreen(const D3DXVECTOR3& point);
// Alpha, red, green, blue in x, y, z, w, each byte / 255.
D3DXVECTOR4 UnpackColour(DWORD colour);
// Allocates the mesh box (minimum x, y, z then maximum x, y, z) into *box on
// success; the caller owns it. Returns the bounding-box computation's result.
HRESULT ComputeMeshBounds(float** box, ID3DXMesh* mesh);

#endif
