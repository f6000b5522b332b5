// The Direct3D object: adapter queries and device creation, and the test
// controls of the simulated graphics card.
#include "d3d9/internal.h"

#include <velmora_platform.h>

#include <string.h>

#include <new>

namespace vd3d {

namespace {

const Card kDefaultCard = {
    D3DVS_VERSION(2, 0), D3DPS_VERSION(2, 0), 0, false, false, false, false, 1024, 768, kTextureMemory, false};
std::atomic<int> g_liveObjects{0};

bool IsBackBufferFormat(D3DFORMAT f)
{
    return f == D3DFMT_X8R8G8B8 || f == D3DFMT_A8R8G8B8;
}

}  // namespace

Card& TheCard()
{
    static Card card = kDefaultCard;
    return card;
}

void CountObject(int delta)
{
    g_liveObjects += delta;
}

bool IsDepthFormat(D3DFORMAT f)
{
    return f == D3DFMT_D16 || f == D3DFMT_D16_LOCKABLE || f == D3DFMT_D24X8 || f == D3DFMT_D24S8 ||
           f == D3DFMT_D32 || f == D3DFMT_D15S1 || f == D3DFMT_D24X4S4;
}

Direct3D::Direct3D()
{
    CountObject(1);
}

Direct3D::~Direct3D()
{
    CountObject(-1);
}

HRESULT WINAPI Direct3D::QueryInterface(REFIID riid, void** ppvObj)
{
    if (!ppvObj)
        return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDirect3D9)) {
        AddRef();
        *ppvObj = static_cast<IDirect3D9*>(this);
        return S_OK;
    }
    *ppvObj = nullptr;
    return E_NOINTERFACE;
}

ULONG WINAPI Direct3D::AddRef()
{
    return ++refs_;
}

ULONG WINAPI Direct3D::Release()
{
    ULONG r = --refs_;
    if (r == 0)
        delete this;
    return r;
}

UINT WINAPI Direct3D::GetAdapterModeCount(UINT Adapter, D3DFORMAT Format)
{
    return (Adapter == 0 && Format == D3DFMT_X8R8G8B8) ? 1 : 0;
}

HRESULT WINAPI Direct3D::EnumAdapterModes(UINT Adapter, D3DFORMAT Format, UINT Mode, D3DDISPLAYMODE* pMode)
{
    if (Adapter != 0 || !pMode || Mode != 0)
        return D3DERR_INVALIDCALL;
    if (Format != D3DFMT_X8R8G8B8)
        return D3DERR_NOTAVAILABLE;
    return GetAdapterDisplayMode(Adapter, pMode);
}

HRESULT WINAPI Direct3D::GetAdapterDisplayMode(UINT Adapter, D3DDISPLAYMODE* pMode)
{
    if (Adapter != 0 || !pMode)
        return D3DERR_INVALIDCALL;
    if (TheCard().failDisplayMode)
        return D3DERR_NOTAVAILABLE;
    pMode->Width = TheCard().desktopWidth;
    pMode->Height = TheCard().desktopHeight;
    pMode->RefreshRate = 60;
    pMode->Format = D3DFMT_X8R8G8B8;
    return D3D_OK;
}

HRESULT WINAPI Direct3D::CheckDeviceType(UINT Adapter, D3DDEVTYPE DevType, D3DFORMAT AdapterFormat,
                                         D3DFORMAT BackBufferFormat, BOOL bWindowed)
{
    if (Adapter != 0)
        return D3DERR_INVALIDCALL;
    if (DevType != D3DDEVTYPE_HAL && DevType != D3DDEVTYPE_REF)
        return D3DERR_NOTAVAILABLE;
    if (AdapterFormat != D3DFMT_X8R8G8B8)
        return D3DERR_NOTAVAILABLE;
    if (BackBufferFormat != D3DFMT_UNKNOWN && !IsBackBufferFormat(BackBufferFormat))
        return D3DERR_NOTAVAILABLE;
    return D3D_OK;
}

HRESULT WINAPI Direct3D::CheckDeviceFormat(UINT Adapter, D3DDEVTYPE DeviceType, D3DFORMAT AdapterFormat, DWORD Usage,
                                           D3DRESOURCETYPE RType, D3DFORMAT CheckFormat)
{
    if (Adapter != 0)
        return D3DERR_INVALIDCALL;
    if (DeviceType != D3DDEVTYPE_HAL && DeviceType != D3DDEVTYPE_REF)
        return D3DERR_NOTAVAILABLE;
    if (Usage & D3DUSAGE_DEPTHSTENCIL)
        return IsDepthFormat(CheckFormat) ? D3D_OK : D3DERR_NOTAVAILABLE;
    if (RType == D3DRTYPE_TEXTURE || RType == D3DRTYPE_SURFACE) {
        if (vr::FormatBytes(CheckFormat) == 0)
            return D3DERR_NOTAVAILABLE;
        if ((Usage & D3DUSAGE_RENDERTARGET) && CheckFormat == (D3DFORMAT)TheCard().refusedRenderTargetFormat)
            return D3DERR_NOTAVAILABLE;
        return D3D_OK;
    }
    return D3DERR_NOTAVAILABLE;
}

HRESULT WINAPI Direct3D::CheckDepthStencilMatch(UINT Adapter, D3DDEVTYPE DeviceType, D3DFORMAT AdapterFormat,
                                                D3DFORMAT RenderTargetFormat, D3DFORMAT DepthStencilFormat)
{
    if (Adapter != 0)
        return D3DERR_INVALIDCALL;
    return IsDepthFormat(DepthStencilFormat) ? D3D_OK : D3DERR_NOTAVAILABLE;
}

void Direct3D::FillCaps(D3DCAPS9* c) const
{
    memset(c, 0, sizeof *c);
    c->DeviceType = D3DDEVTYPE_HAL;
    c->AdapterOrdinal = 0;
    c->PresentationIntervals = D3DPRESENT_INTERVAL_IMMEDIATE | D3DPRESENT_INTERVAL_ONE;
    c->ZCmpCaps = 0xff;
    c->AlphaCmpCaps = 0xff;
    c->SrcBlendCaps = 0x1fff;
    c->DestBlendCaps = 0x1fff;
    c->MaxTextureWidth = kMaxTextureSize;
    c->MaxTextureHeight = kMaxTextureSize;
    c->MaxTextureRepeat = 8192;
    c->MaxTextureAspectRatio = kMaxTextureSize;
    c->MaxAnisotropy = 1;
    c->MaxVertexW = 1e10f;
    c->GuardBandLeft = -8192.f;
    c->GuardBandTop = -8192.f;
    c->GuardBandRight = 8192.f;
    c->GuardBandBottom = 8192.f;
    c->MaxTextureBlendStages = vr::kMaxStages;
    c->MaxSimultaneousTextures = vr::kMaxStages;
    c->MaxActiveLights = vr::kMaxLights;
    c->MaxPointSize = 1.f;
    c->MaxPrimitiveCount = 0xfffff;
    c->MaxVertexIndex = 0xffffff;
    c->MaxStreams = 1;
    c->MaxStreamStride = 255;
    c->VertexShaderVersion = TheCard().vertexShaderVersion;
    c->MaxVertexShaderConst = 256;
    c->PixelShaderVersion = TheCard().pixelShaderVersion;
    c->PixelShader1xMaxValue = 1.f;
    c->NumberOfAdaptersInGroup = 1;
    c->NumSimultaneousRTs = 1;
    c->VS20Caps.NumTemps = 12;
    c->PS20Caps.NumTemps = 12;
    c->PS20Caps.NumInstructionSlots = 96;
}

HRESULT WINAPI Direct3D::GetDeviceCaps(UINT Adapter, D3DDEVTYPE DeviceType, D3DCAPS9* pCaps)
{
    if (Adapter != 0 || !pCaps)
        return D3DERR_INVALIDCALL;
    if (DeviceType != D3DDEVTYPE_HAL && DeviceType != D3DDEVTYPE_REF)
        return D3DERR_NOTAVAILABLE;
    FillCaps(pCaps);
    pCaps->DeviceType = DeviceType;
    return D3D_OK;
}

HRESULT WINAPI Direct3D::CreateDevice(UINT Adapter, D3DDEVTYPE DeviceType, HWND hFocusWindow, DWORD BehaviorFlags,
                                      D3DPRESENT_PARAMETERS* pp, IDirect3DDevice9** ppDevice)
{
    if (!ppDevice)
        return D3DERR_INVALIDCALL;
    *ppDevice = nullptr;
    if (Adapter != 0 || !pp)
        return D3DERR_INVALIDCALL;
    if (DeviceType != D3DDEVTYPE_HAL && DeviceType != D3DDEVTYPE_REF)
        return D3DERR_NOTAVAILABLE;
    DWORD processing = BehaviorFlags & (D3DCREATE_SOFTWARE_VERTEXPROCESSING | D3DCREATE_HARDWARE_VERTEXPROCESSING |
                                        D3DCREATE_MIXED_VERTEXPROCESSING);
    if (processing != D3DCREATE_SOFTWARE_VERTEXPROCESSING && processing != D3DCREATE_HARDWARE_VERTEXPROCESSING &&
        processing != D3DCREATE_MIXED_VERTEXPROCESSING)
        return D3DERR_INVALIDCALL;
    if (pp->SwapEffect < D3DSWAPEFFECT_DISCARD || pp->SwapEffect > D3DSWAPEFFECT_COPY || pp->BackBufferCount > 3)
        return D3DERR_INVALIDCALL;
    if (pp->MultiSampleType != D3DMULTISAMPLE_NONE)
        return D3DERR_NOTAVAILABLE;
    if (TheCard().failCreateDevice)
        return D3DERR_NOTAVAILABLE;

    HWND window = pp->hDeviceWindow ? pp->hDeviceWindow : hFocusWindow;
    if (!window || !IsWindow(window))
        return D3DERR_INVALIDCALL;
    if (hFocusWindow && !IsWindow(hFocusWindow))
        return D3DERR_INVALIDCALL;

    D3DPRESENT_PARAMETERS actual = *pp;
    if (actual.Windowed) {
        if (actual.BackBufferWidth == 0 || actual.BackBufferHeight == 0) {
            RECT rc = {0, 0, 0, 0};
            if (!GetClientRect(window, &rc))
                return D3DERR_INVALIDCALL;
            if (actual.BackBufferWidth == 0)
                actual.BackBufferWidth = (UINT)(rc.right > rc.left ? rc.right - rc.left : 0);
            if (actual.BackBufferHeight == 0)
                actual.BackBufferHeight = (UINT)(rc.bottom > rc.top ? rc.bottom - rc.top : 0);
        }
        if (actual.BackBufferFormat == D3DFMT_UNKNOWN)
            actual.BackBufferFormat = D3DFMT_X8R8G8B8;
    }
    if (actual.BackBufferWidth == 0 || actual.BackBufferHeight == 0)
        return D3DERR_INVALIDCALL;
    if (actual.BackBufferWidth > kMaxBackBufferSize || actual.BackBufferHeight > kMaxBackBufferSize)
        return D3DERR_OUTOFVIDEOMEMORY;
    if (!IsBackBufferFormat(actual.BackBufferFormat))
        return D3DERR_NOTAVAILABLE;
    if (actual.EnableAutoDepthStencil && !IsDepthFormat(actual.AutoDepthStencilFormat))
        return D3DERR_NOTAVAILABLE;
    if (actual.BackBufferCount == 0)
        actual.BackBufferCount = 1;

    Device* device = new (std::nothrow) Device(this, window, actual);
    if (!device)
        return D3DERR_OUTOFVIDEOMEMORY;
    *pp = actual;
    *ppDevice = device;
    return D3D_OK;
}

}  // namespace vd3d

using vd3d::TheCard;

extern "C" {

IDirect3D9* WINAPI Direct3DCreate9(UINT SDKVersion)
{
    if (SDKVersion != D3D_SDK_VERSION || TheCard().failCreate)
        return nullptr;
    return new (std::nothrow) vd3d::Direct3D();
}

void VelmoraSetDeviceShaderVersions(DWORD vertexShaderVersion, DWORD pixelShaderVersion)
{
    TheCard().vertexShaderVersion = vertexShaderVersion;
    TheCard().pixelShaderVersion = pixelShaderVersion;
}

void VelmoraRefuseRenderTargetFormat(DWORD format)
{
    TheCard().refusedRenderTargetFormat = format;
}

void VelmoraRefuseVertexBuffers(BOOL refuse)
{
    TheCard().refuseVertexBuffers = refuse != FALSE;
}

void VelmoraFailDirect3DCreate(BOOL fail)
{
    TheCard().failCreate = fail != FALSE;
}

void VelmoraFailDisplayMode(BOOL fail)
{
    TheCard().failDisplayMode = fail != FALSE;
}

void VelmoraFailCreateDevice(BOOL fail)
{
    TheCard().failCreateDevice = fail != FALSE;
}

void VelmoraSetDesktopSize(UINT width, UINT height)
{
    TheCard().desktopWidth = width;
    TheCard().desktopHeight = height;
}

void VelmoraSetTextureMemory(UINT bytes)
{
    TheCard().textureMemory = bytes;
}

void VelmoraFlushRenderWorkAfterEachCall(BOOL enable)
{
    TheCard().flushEachCall = enable != FALSE;
}

void VelmoraResetGraphicsCard(void)
{
    TheCard() = vd3d::kDefaultCard;
}

int VelmoraLiveGraphicsObjects(void)
{
    return vd3d::g_liveObjects.load();
}
}
