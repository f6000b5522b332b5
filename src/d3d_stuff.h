// The Direct3D device, its shared drawing objects and the text overlay.
#ifndef VELMORA_D3D_STUFF_H
#define VELMORA_D3D_STUFF_H

#include <windows.h>
#include <d3d9.h>
#include <d3dx9.h>

class CResourceManager;
class CEntityManager;
class CShader;

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

#endif
