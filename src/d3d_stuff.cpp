#include "d3d_stuff.h"

#include <string.h>

#include "Entity/EntityManager.h"
#include "Logger.h"
#include "Resource/ResourceManager.h"
#include "Resource/Shader.h"
#include "plugin.h"

#include <new>
#include <string>

IDirect3D9* g_pD3D = nullptr;
IDirect3DDevice9* g_pDevice = nullptr;
ID3DXFont* g_pFont = nullptr;
ID3DXLine* g_pLine = nullptr;
ID3DXSprite* g_pSprite = nullptr;
IDirect3DTexture9* g_pRenderTexture = nullptr;
IDirect3DSurface9* g_pRenderSurface = nullptr;
IDirect3DVertexBuffer9* g_pVertexBuffer = nullptr;
IDirect3DTexture9* g_pVeilTexture = nullptr;
CResourceManager* g_pResourceManager = nullptr;
CEntityManager* g_pEntityManager = nullptr;
CShader* g_pSpotShader = nullptr;
CShader* g_pDancerShader = nullptr;
D3DLIGHT9 g_DeviceLight = {};
D3DXVECTOR3 g_vEyePt(0.0f, 0.0f, 0.0f);
D3DXVECTOR3 g_vLookatPt(0.0f, 0.0f, 0.0f);
D3DXVECTOR3 g_vUpVec(0.0f, 0.0f, 0.0f);
D3DXMATRIX g_ViewMatrix(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
D3DXMATRIX g_ProjectionMatrix(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);

namespace {

template <class T>
void ReleaseAndClear(T*& object)
{
    if (object) {
        object->Release();
        object = nullptr;
    }
}

}  // namespace

int InitDirect3D(HWND window)
{
    g_pD3D = Direct3DCreate9(D3D_SDK_VERSION);
    if (!g_pD3D) {
        g_Logger.SetLocation("src\\d3d_stuff", 62);
        g_Logger.Printf("Pb in the creation of the D3D Object");
        return 1;
    }
    g_Logger.SetLocation("src\\d3d_stuff", 66);
    g_Logger.Printf("D3D obj created");

    D3DDISPLAYMODE mode;
    if (FAILED(g_pD3D->GetAdapterDisplayMode(D3DADAPTER_DEFAULT, &mode))) {
        g_Logger.SetLocation("src\\d3d_stuff", 75);
        g_Logger.Printf("Pb in getting the dispay mode");
        return 1;
    }

    D3DPRESENT_PARAMETERS params = {};
    params.BackBufferWidth = 0;
    params.BackBufferHeight = 0;
    params.BackBufferFormat = mode.Format;
    params.SwapEffect = D3DSWAPEFFECT_DISCARD;
    params.hDeviceWindow = nullptr;
    params.Windowed = TRUE;
    params.EnableAutoDepthStencil = TRUE;
    params.AutoDepthStencilFormat = D3DFMT_D24X8;
    params.PresentationInterval = 0;
    if (FAILED(g_pD3D->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window, D3DCREATE_HARDWARE_VERTEXPROCESSING,
                                    &params, &g_pDevice))) {
        g_pDevice = nullptr;
        g_Logger.SetLocation("src\\d3d_stuff", 105);
        g_Logger.Printf("Pb in the creation of the D3D Device check the hardware vertex processing\n");
        return 1;
    }
    g_Logger.SetLocation("src\\d3d_stuff", 109);
    g_Logger.Printf("D3D device created");

    g_Logger.SetLocation("src\\d3d_stuff", 115);
    g_Logger.Printf("checking D3D caps");
    D3DCAPS9 caps = {};
    g_pDevice->GetDeviceCaps(&caps);
    // Both shader kinds must reach 2.0, although the texts name only pixel shaders.
    if (caps.VertexShaderVersion < D3DVS_VERSION(2, 0) || caps.PixelShaderVersion < D3DPS_VERSION(2, 0)) {
        g_Logger.SetLocation("src\\d3d_stuff", 121);
        g_Logger.Printf("error: pixel shader 2.0 not supported...");
        MessageBoxA(nullptr, "Error: your 3d card do not support pixel shader v2.0", "Error", MB_OK);
        return 1;
    }
    g_Logger.SetLocation("src\\d3d_stuff", 127);
    g_Logger.Printf("pixel shader 2.0 found");

    g_pDevice->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    g_pDevice->SetRenderState(D3DRS_LIGHTING, TRUE);
    g_pDevice->SetRenderState(D3DRS_AMBIENT, 0xFFFFFFFF);
    g_pDevice->SetRenderState(D3DRS_ZENABLE, TRUE);

    g_vEyePt = D3DXVECTOR3(0.0f, 0.0f, -200.0f);
    g_vLookatPt = D3DXVECTOR3(0.0f, 0.0f, 0.0f);
    g_vUpVec = D3DXVECTOR3(0.0f, 1.0f, 0.0f);

    if (FAILED(D3DXCreateFontA(g_pDevice, 20, 10, 4, 0, FALSE, 0, OUT_TT_ONLY_PRECIS, 0, 0, "Arial", &g_pFont))) {
        g_pFont = nullptr;
        g_Logger.SetLocation("src\\d3d_stuff", 161);
        g_Logger.Printf("error in creation oof the font");
    } else {
        g_Logger.SetLocation("src\\d3d_stuff", 163);
        g_Logger.Printf("font created");
    }

    D3DXMatrixLookAtLH(&g_ViewMatrix, &g_vEyePt, &g_vLookatPt, &g_vUpVec);
    g_pDevice->SetTransform(D3DTS_VIEW, &g_ViewMatrix);
    D3DXMatrixPerspectiveFovLH(&g_ProjectionMatrix, 1.2566371f, 1.0f, 1.0f, 1500.0f);
    g_pDevice->SetTransform(D3DTS_PROJECTION, &g_ProjectionMatrix);

    D3DXCreateLine(g_pDevice, &g_pLine);

    g_pRenderTexture = nullptr;
    g_pRenderSurface = nullptr;
    if (FAILED(D3DXCreateTexture(g_pDevice, 1024, 1024, 6, D3DUSAGE_RENDERTARGET | D3DUSAGE_AUTOGENMIPMAP,
                                 D3DFMT_R8G8B8, D3DPOOL_DEFAULT, &g_pRenderTexture))) {
        g_pRenderTexture = nullptr;
        g_Logger.SetLocation("src\\d3d_stuff", 187);
        g_Logger.Printf("error creating renderTexture");
    }
    if (g_pRenderTexture && FAILED(g_pRenderTexture->GetSurfaceLevel(0, &g_pRenderSurface))) {
        g_pRenderSurface = nullptr;
        g_Logger.SetLocation("src\\d3d_stuff", 194);
        g_Logger.Printf("error creating renderTextureSurf");
    }

    D3DXCreateSprite(g_pDevice, &g_pSprite);

    g_pResourceManager = new (std::nothrow) CResourceManager();
    g_pEntityManager = new (std::nothrow) CEntityManager();

    if (g_pResourceManager) {
        g_pSpotShader = g_pResourceManager->GetShader(g_DataPath + "shaders/spot.fx");
        g_pDancerShader = g_pResourceManager->GetShader(g_DataPath + "shaders/dancer.fx");
    }

    g_DeviceLight = D3DLIGHT9();
    g_DeviceLight.Type = D3DLIGHT_POINT;
    g_DeviceLight.Diffuse = {0.5f, 0.5f, 0.5f, 0.0f};
    g_DeviceLight.Specular = {0.3f, 0.3f, 0.3f, 0.0f};
    g_DeviceLight.Ambient = {0.5f, 0.5f, 0.5f, 0.0f};
    g_DeviceLight.Position = {0.0f, 50.0f, -50.0f};
    g_DeviceLight.Direction = {0.0f, 0.0f, 0.0f};
    g_DeviceLight.Range = 500.0f;
    g_DeviceLight.Falloff = 0.0f;
    g_DeviceLight.Attenuation0 = 1.0f;
    g_DeviceLight.Attenuation1 = 0.0f;
    g_DeviceLight.Attenuation2 = 0.0f;
    g_DeviceLight.Theta = 0.0f;
    g_DeviceLight.Phi = 0.0f;
    g_pDevice->SetLight(0, &g_DeviceLight);
    g_pDevice->LightEnable(0, TRUE);
    g_pDevice->SetRenderState(D3DRS_LIGHTING, TRUE);

    std::string veilPath = g_DataPath + "/textures/" + "white.tga";
    g_Logger.SetLocation("src\\d3d_stuff", 227);
    g_Logger.Printf("loading viel texture : %s", veilPath.c_str());
    if (FAILED(D3DXCreateTextureFromFileA(g_pDevice, veilPath.c_str(), &g_pVeilTexture))) {
        g_pVeilTexture = nullptr;
        g_Logger.SetLocation("src\\d3d_stuff", 230);
        g_Logger.Printf("ERROR : failed to load the veil");
    }
    if (!g_pVeilTexture) {
        g_Logger.SetLocation("src\\d3d_stuff", 233);
        g_Logger.Printf("ERROR : viel = NULL");
    }
    return 0;
}

int InitVertexBuffer()
{
    if (!g_pDevice || FAILED(g_pDevice->CreateVertexBuffer(3456, 0, D3DFVF_XYZ, D3DPOOL_MANAGED, &g_pVertexBuffer,
                                                           nullptr))) {
        g_pVertexBuffer = nullptr;
        g_Logger.SetLocation("src\\d3d_stuff", 272);
        g_Logger.Printf("Pb in the creation of the VB");
        return 1;
    }
    g_Logger.SetLocation("src\\d3d_stuff", 279);
    g_Logger.Printf("VB created");
    return 0;
}

void ReleaseDirect3D()
{
    if (g_pEntityManager) {
        delete g_pEntityManager;
        g_pEntityManager = nullptr;
    }
    if (g_pResourceManager) {
        delete g_pResourceManager;
        g_pResourceManager = nullptr;
    }
    // The effects belonged to the resource manager.
    g_pSpotShader = nullptr;
    g_pDancerShader = nullptr;

    g_Logger.SetLocation("src\\d3d_stuff", 322);
    g_Logger.Printf("clearing D3D");

    ReleaseAndClear(g_pRenderTexture);
    ReleaseAndClear(g_pRenderSurface);
    ReleaseAndClear(g_pVeilTexture);
    ReleaseAndClear(g_pSprite);
    ReleaseAndClear(g_pVertexBuffer);
    ReleaseAndClear(g_pDevice);
    ReleaseAndClear(g_pD3D);
    ReleaseAndClear(g_pFont);
    ReleaseAndClear(g_pLine);
}

// ---- Text overlay ---------------------------------------------------------

char g_StatusText[64] = "";
DWORD g_StatusTime = 0;
bool g_StatusDelayed = false;
char g_MessageText[64] = "";
DWORD g_MessageTime = 0;

// Copies at most 63 characters and always terminates.
static void CopyOverlayText(char (&target)[64], const char* text)
{
    strncpy(target, text, sizeof(target) - 1);
    target[sizeof(target) - 1] = '\0';
}

void SetStatusText(const char* text, DWORD time, bool delayed)
{
    if (!text)
        text = "";
    if (delayed && g_StatusTime != 0 && timeGetTime() <= g_StatusTime + 1000)
        return;
    if (text[0] == '\0')
    {
        g_StatusText[0] = '\0';
        g_StatusTime = 0;
        g_StatusDelayed = false;
        return;
    }
    // Compared as it would be stored, so a long text sent again keeps its time.
    char candidate[64];
    CopyOverlayText(candidate, text);
    if (strcmp(candidate, g_StatusText) == 0)
        return;
    CopyOverlayText(g_StatusText, candidate);
    g_StatusTime = time;
    g_StatusDelayed = delayed;
}

void ShowTimedMessage(const char* text, DWORD time)
{
    CopyOverlayText(g_MessageText, text ? text : "");
    g_MessageTime = time;
}

void DrawTextOverlay()
{
    D3DVIEWPORT9 viewport;
    g_pDevice->GetViewport(&viewport);
    const double width = viewport.Width;
    const double height = viewport.Height;

    if (g_ShowHelp)
    {
        RECT rect = {0, static_cast<LONG>(height * 0.8), static_cast<LONG>(width * 0.9), static_cast<LONG>(height)};
        const char* text = g_StatusText;
        if (g_StatusDelayed && (g_StatusTime == 0 || timeGetTime() <= g_StatusTime + 500))
            text = "";
        if (g_pFont)
            g_pFont->DrawTextA(NULL, text, static_cast<INT>(strlen(text)), &rect, DT_RIGHT, 0xFFFFFFFF);
    }

    if (g_MessageTime + 2000 > timeGetTime())
    {
        RECT rect = {0, static_cast<LONG>(height * 0.1), static_cast<LONG>(width * 0.9), static_cast<LONG>(height)};
        if (g_pFont)
            g_pFont->DrawTextA(NULL, g_MessageText, static_cast<INT>(strlen(g_MessageText)), &rect, DT_RIGHT,
                               0xFF0080FF);
    }
}

void OnResize(float width, float height)
{
    if (!g_pDevice)
        return;
    g_WindowWidth = static_cast<int>(width);
    g_WindowHeight = static_cast<int>(height);
}
