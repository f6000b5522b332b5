// The Direct3D 9 device: state, resources, scenes, drawing and presentation.
#include "d3d9/internal.h"
#include "win32/internal.h"
#include "renderer/workers.h"

#include <velmora_platform.h>

#include <math.h>
#include <string.h>

#include <algorithm>
#include <new>

namespace vd3d {

namespace {

DWORD FloatBits(float f)
{
    DWORD d;
    memcpy(&d, &f, 4);
    return d;
}

D3DMATRIX Identity()
{
    D3DMATRIX m;
    memset(&m, 0, sizeof m);
    m._11 = m._22 = m._33 = m._44 = 1.f;
    return m;
}

bool VertexCountFor(D3DPRIMITIVETYPE type, UINT primitives, UINT* vertices)
{
    switch (type) {
    case D3DPT_POINTLIST:
        *vertices = primitives;
        return true;
    case D3DPT_LINELIST:
        *vertices = primitives * 2;
        return true;
    case D3DPT_LINESTRIP:
        *vertices = primitives + 1;
        return true;
    case D3DPT_TRIANGLELIST:
        *vertices = primitives * 3;
        return true;
    case D3DPT_TRIANGLESTRIP:
    case D3DPT_TRIANGLEFAN:
        *vertices = primitives + 2;
        return true;
    default:
        return false;
    }
}

const DWORD kMaxPrimitives = 0xfffff;
// Draws of up to kDeferPerDraw triangles may wait to be run together; at
// most kDeferPrimitives triangles wait at once.
const UINT kDeferPerDraw = 16;
const UINT kDeferPrimitives = 4096;
// What a vertex program costs a vertex, shaded in batches.
const int64_t kVertexNanoseconds = 100;

}  // namespace

Device::Device(Direct3D* d3d, HWND window, const D3DPRESENT_PARAMETERS& pp) : d3d_(d3d), window_(window), pp_(pp)
{
    d3d_->AddRef();
    CountObject(1);
    d3d_->FillCaps(&caps_);
    textureMemory_ = TheCard().textureMemory;
    flushEachCall_ = TheCard().flushEachCall;
    const UINT w = pp.BackBufferWidth, h = pp.BackBufferHeight;
    color_.assign((size_t)w * h, 0);
    if (pp.EnableAutoDepthStencil)
        depth_.assign((size_t)w * h, 1.f);
    backBuffer_ = new Surface(static_cast<IDirect3DDevice9*>(this), this, pp.BackBufferFormat, w, h,
                              D3DUSAGE_RENDERTARGET, D3DPOOL_DEFAULT, reinterpret_cast<uint8_t*>(color_.data()),
                              (int)(w * 4), true, &backBufferUse_);
    backBufferUse_.drawnInto = true;
    vr::Target target;
    target.color = color_.data();
    target.depth = depth_.empty() ? nullptr : depth_.data();
    target.width = (int)w;
    target.height = (int)h;
    target.hasAlpha = pp.BackBufferFormat == D3DFMT_A8R8G8B8;
    raster_.SetTarget(target);

    world_[256] = Identity();
    view_ = projection_ = Identity();
    for (D3DMATRIX& m : textureTransform_)
        m = Identity();
    viewport_ = {0, 0, w, h, 0.f, 1.f};
    memset(&material_, 0, sizeof material_);

    memset(renderStates_, 0, sizeof renderStates_);
    DWORD* rs = renderStates_;
    rs[D3DRS_ZENABLE] = pp.EnableAutoDepthStencil ? D3DZB_TRUE : D3DZB_FALSE;
    rs[D3DRS_FILLMODE] = D3DFILL_SOLID;
    rs[D3DRS_SHADEMODE] = D3DSHADE_GOURAUD;
    rs[D3DRS_ZWRITEENABLE] = TRUE;
    rs[D3DRS_LASTPIXEL] = TRUE;
    rs[D3DRS_SRCBLEND] = D3DBLEND_ONE;
    rs[D3DRS_DESTBLEND] = D3DBLEND_ZERO;
    rs[D3DRS_CULLMODE] = D3DCULL_CCW;
    rs[D3DRS_ZFUNC] = D3DCMP_LESSEQUAL;
    rs[D3DRS_ALPHAFUNC] = D3DCMP_ALWAYS;
    rs[D3DRS_FOGEND] = FloatBits(1.f);
    rs[D3DRS_FOGDENSITY] = FloatBits(1.f);
    rs[D3DRS_STENCILFAIL] = rs[D3DRS_STENCILZFAIL] = rs[D3DRS_STENCILPASS] = D3DSTENCILOP_KEEP;
    rs[D3DRS_STENCILFUNC] = D3DCMP_ALWAYS;
    rs[D3DRS_STENCILMASK] = rs[D3DRS_STENCILWRITEMASK] = 0xffffffff;
    rs[D3DRS_TEXTUREFACTOR] = 0xffffffff;
    rs[D3DRS_CLIPPING] = TRUE;
    rs[D3DRS_LIGHTING] = TRUE;
    rs[D3DRS_COLORVERTEX] = TRUE;
    rs[D3DRS_LOCALVIEWER] = TRUE;
    rs[D3DRS_DIFFUSEMATERIALSOURCE] = D3DMCS_COLOR1;
    rs[D3DRS_SPECULARMATERIALSOURCE] = D3DMCS_COLOR2;
    rs[D3DRS_AMBIENTMATERIALSOURCE] = D3DMCS_MATERIAL;
    rs[D3DRS_EMISSIVEMATERIALSOURCE] = D3DMCS_MATERIAL;
    rs[D3DRS_POINTSIZE] = FloatBits(1.f);
    rs[D3DRS_POINTSIZE_MIN] = FloatBits(1.f);
    rs[D3DRS_POINTSCALE_A] = FloatBits(1.f);
    rs[D3DRS_MULTISAMPLEANTIALIAS] = TRUE;
    rs[D3DRS_MULTISAMPLEMASK] = 0xffffffff;
    rs[D3DRS_POINTSIZE_MAX] = FloatBits(64.f);
    rs[D3DRS_COLORWRITEENABLE] = rs[D3DRS_COLORWRITEENABLE1] = rs[D3DRS_COLORWRITEENABLE2] =
        rs[D3DRS_COLORWRITEENABLE3] = 0xf;
    rs[D3DRS_BLENDOP] = D3DBLENDOP_ADD;
    rs[D3DRS_POSITIONDEGREE] = 3;  // cubic
    rs[D3DRS_NORMALDEGREE] = 1;    // linear
    rs[D3DRS_MINTESSELLATIONLEVEL] = rs[D3DRS_MAXTESSELLATIONLEVEL] = FloatBits(1.f);
    rs[D3DRS_ADAPTIVETESS_Z] = FloatBits(1.f);
    rs[D3DRS_CCW_STENCILFAIL] = rs[D3DRS_CCW_STENCILZFAIL] = rs[D3DRS_CCW_STENCILPASS] = D3DSTENCILOP_KEEP;
    rs[D3DRS_CCW_STENCILFUNC] = D3DCMP_ALWAYS;
    rs[D3DRS_BLENDFACTOR] = 0xffffffff;
    rs[D3DRS_SRCBLENDALPHA] = D3DBLEND_ONE;
    rs[D3DRS_DESTBLENDALPHA] = D3DBLEND_ZERO;
    rs[D3DRS_BLENDOPALPHA] = D3DBLENDOP_ADD;

    memset(stageStates_, 0, sizeof stageStates_);
    for (int s = 0; s < vr::kMaxStages; ++s) {
        DWORD* t = stageStates_[s];
        t[D3DTSS_COLOROP] = s == 0 ? D3DTOP_MODULATE : D3DTOP_DISABLE;
        t[D3DTSS_COLORARG1] = D3DTA_TEXTURE;
        t[D3DTSS_COLORARG2] = D3DTA_CURRENT;
        t[D3DTSS_ALPHAOP] = s == 0 ? D3DTOP_SELECTARG1 : D3DTOP_DISABLE;
        t[D3DTSS_ALPHAARG1] = D3DTA_TEXTURE;
        t[D3DTSS_ALPHAARG2] = D3DTA_CURRENT;
        t[D3DTSS_TEXCOORDINDEX] = (DWORD)s;
        t[D3DTSS_COLORARG0] = t[D3DTSS_ALPHAARG0] = t[D3DTSS_RESULTARG] = D3DTA_CURRENT;
    }
    memset(samplerStates_, 0, sizeof samplerStates_);
    for (auto& smp : samplerStates_) {
        smp[D3DSAMP_ADDRESSU] = smp[D3DSAMP_ADDRESSV] = smp[D3DSAMP_ADDRESSW] = D3DTADDRESS_WRAP;
        smp[D3DSAMP_MAGFILTER] = smp[D3DSAMP_MINFILTER] = D3DTEXF_POINT;
        smp[D3DSAMP_MIPFILTER] = D3DTEXF_NONE;
        smp[D3DSAMP_MAXANISOTROPY] = 1;
    }
}

Device::~Device()
{
    // Draws held back are never shown now; the textures let go below still
    // wait for the queued ones that read them.
    deferredPrimitives_ = 0;
    for (Texture*& t : textures_)
        if (t) {
            Texture* old = t;
            t = nullptr;
            old->Unbind();
        }
    if (stream_)
        stream_->Unbind();
    if (indices_)
        indices_->Unbind();
    delete backBuffer_;
    d3d_->Release();
    CountObject(-1);
}

HRESULT WINAPI Device::QueryInterface(REFIID riid, void** ppvObj)
{
    if (!ppvObj)
        return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDirect3DDevice9)) {
        AddRef();
        *ppvObj = static_cast<IDirect3DDevice9*>(this);
        return S_OK;
    }
    *ppvObj = nullptr;
    return E_NOINTERFACE;
}

ULONG WINAPI Device::AddRef()
{
    return ++refs_;
}

ULONG WINAPI Device::Release()
{
    if (refs_ == 0)
        return 0;
    ULONG r = --refs_;
    if (r == 0)
        delete this;
    return r;
}

HRESULT WINAPI Device::GetDirect3D(IDirect3D9** ppD3D9)
{
    if (!ppD3D9)
        return D3DERR_INVALIDCALL;
    d3d_->AddRef();
    *ppD3D9 = d3d_;
    return D3D_OK;
}

HRESULT WINAPI Device::GetDeviceCaps(D3DCAPS9* pCaps)
{
    if (!pCaps)
        return D3DERR_INVALIDCALL;
    *pCaps = caps_;
    return D3D_OK;
}

HRESULT WINAPI Device::GetDisplayMode(UINT iSwapChain, D3DDISPLAYMODE* pMode)
{
    if (iSwapChain != 0 || !pMode)
        return D3DERR_INVALIDCALL;
    return d3d_->GetAdapterDisplayMode(0, pMode);
}

HRESULT WINAPI Device::Present(const RECT* pSourceRect, const RECT* pDestRect, HWND hDestWindowOverride,
                               const RGNDATA* pDirtyRegion)
{
    Reading(backBufferUse_);
    if (inScene_)
        return D3DERR_INVALIDCALL;
    if (pp_.SwapEffect != D3DSWAPEFFECT_COPY && (pSourceRect || pDestRect))
        return D3DERR_INVALIDCALL;
    HWND target = hDestWindowOverride ? hDestWindowOverride : window_;
    const int w = (int)pp_.BackBufferWidth, h = (int)pp_.BackBufferHeight;
    BOOL ok;
    if (pp_.BackBufferFormat == D3DFMT_A8R8G8B8) {
        ok = VelmoraSetWindowPicture(target, color_.data(), w, h);
    } else {
        // The unused byte of X8R8G8B8 is shown as opaque, written straight
        // into the window's picture.
        DWORD* picture = velmora::PresentWindowPictureInPlace(target, w, h);
        ok = picture != nullptr;
        if (picture)
            CopyToPicture(picture);
    }
    raster_.EndFrame();
    return ok ? D3D_OK : D3DERR_INVALIDCALL;
}

HRESULT WINAPI Device::GetBackBuffer(UINT iSwapChain, UINT iBackBuffer, D3DBACKBUFFER_TYPE Type,
                                     IDirect3DSurface9** ppBackBuffer)
{
    if (!ppBackBuffer)
        return D3DERR_INVALIDCALL;
    *ppBackBuffer = nullptr;
    if (iSwapChain != 0 || iBackBuffer >= pp_.BackBufferCount)
        return D3DERR_INVALIDCALL;
    backBuffer_->AddRef();
    *ppBackBuffer = backBuffer_;
    return D3D_OK;
}

HRESULT WINAPI Device::GetRenderTarget(DWORD RenderTargetIndex, IDirect3DSurface9** ppRenderTarget)
{
    if (!ppRenderTarget)
        return D3DERR_INVALIDCALL;
    *ppRenderTarget = nullptr;
    if (RenderTargetIndex != 0)
        return D3DERR_NOTFOUND;
    backBuffer_->AddRef();
    *ppRenderTarget = backBuffer_;
    return D3D_OK;
}

HRESULT WINAPI Device::CreateTexture(UINT Width, UINT Height, UINT Levels, DWORD Usage, D3DFORMAT Format,
                                     D3DPOOL Pool, IDirect3DTexture9** ppTexture, HANDLE* pSharedHandle)
{
    if (!ppTexture)
        return D3DERR_INVALIDCALL;
    *ppTexture = nullptr;
    if (Width == 0 || Height == 0 || pSharedHandle)
        return D3DERR_INVALIDCALL;
    if (Width > caps_.MaxTextureWidth || Height > caps_.MaxTextureHeight)
        return D3DERR_INVALIDCALL;
    if (Pool > D3DPOOL_SCRATCH)
        return D3DERR_INVALIDCALL;
    if ((Usage & (D3DUSAGE_RENDERTARGET | D3DUSAGE_DEPTHSTENCIL)) && Pool != D3DPOOL_DEFAULT)
        return D3DERR_INVALIDCALL;
    if ((Usage & D3DUSAGE_DYNAMIC) && Pool == D3DPOOL_MANAGED)
        return D3DERR_INVALIDCALL;
    if (vr::FormatBytes(Format) == 0 || (Usage & D3DUSAGE_DEPTHSTENCIL))
        return D3DERR_NOTAVAILABLE;
    if ((Usage & D3DUSAGE_RENDERTARGET) && Format == (D3DFORMAT)TheCard().refusedRenderTargetFormat)
        return D3DERR_NOTAVAILABLE;
    UINT chain = 1;
    while ((Width >> chain) || (Height >> chain))
        ++chain;
    if (Usage & D3DUSAGE_AUTOGENMIPMAP)
        Levels = 1;  // the sub-levels are the device's own business
    else if (Levels == 0)
        Levels = chain;
    else if (Levels > chain)
        return D3DERR_INVALIDCALL;
    // Past the budget a default-pool texture finds no video memory; the other
    // pools live in system memory, whose shortage is E_OUTOFMEMORY.
    const HRESULT noMemory = Pool == D3DPOOL_DEFAULT ? D3DERR_OUTOFVIDEOMEMORY : E_OUTOFMEMORY;
    const size_t bytes = Texture::MemoryFor(Width, Height, Levels, Format);
    if (!TakeTextureMemory(bytes))
        return noMemory;
    Texture* t = nullptr;
    try {
        t = new Texture(this, Width, Height, Levels, Usage, Format, Pool);
    } catch (const std::bad_alloc&) {
        GiveTextureMemory(bytes);
        return noMemory;
    }
    *ppTexture = t;
    return D3D_OK;
}

UINT WINAPI Device::GetAvailableTextureMem()
{
    // An estimate, to the nearest megabyte, as a card gives it.
    const size_t left = textureMemory_ - textureMemoryUsed_;
    return (UINT)(((left + (1u << 19)) >> 20) << 20);
}

bool Device::TakeTextureMemory(size_t bytes)
{
    if (bytes > textureMemory_ - textureMemoryUsed_)
        return false;
    textureMemoryUsed_ += bytes;
    return true;
}

void Device::GiveTextureMemory(size_t bytes)
{
    textureMemoryUsed_ -= bytes;
}

HRESULT WINAPI Device::CreateVertexBuffer(UINT Length, DWORD Usage, DWORD FVF, D3DPOOL Pool,
                                          IDirect3DVertexBuffer9** ppVertexBuffer, HANDLE* pSharedHandle)
{
    if (!ppVertexBuffer)
        return D3DERR_INVALIDCALL;
    *ppVertexBuffer = nullptr;
    if (Length == 0 || pSharedHandle || Pool > D3DPOOL_SYSTEMMEM)
        return D3DERR_INVALIDCALL;
    if ((Usage & D3DUSAGE_DYNAMIC) && Pool == D3DPOOL_MANAGED)
        return D3DERR_INVALIDCALL;
    if (FVF) {
        vr::FvfLayout layout = vr::DecodeFvf(FVF);
        if (!layout.valid || Length < (UINT)layout.size)
            return D3DERR_INVALIDCALL;
    }
    if (TheCard().refuseVertexBuffers)
        return D3DERR_OUTOFVIDEOMEMORY;
    try {
        *ppVertexBuffer = new VertexBuffer(this, Length, Usage, FVF, Pool);
    } catch (const std::bad_alloc&) {
        return D3DERR_OUTOFVIDEOMEMORY;
    }
    return D3D_OK;
}

HRESULT WINAPI Device::CreateIndexBuffer(UINT Length, DWORD Usage, D3DFORMAT Format, D3DPOOL Pool,
                                         IDirect3DIndexBuffer9** ppIndexBuffer, HANDLE* pSharedHandle)
{
    if (!ppIndexBuffer)
        return D3DERR_INVALIDCALL;
    *ppIndexBuffer = nullptr;
    if (Length == 0 || pSharedHandle || Pool > D3DPOOL_SYSTEMMEM)
        return D3DERR_INVALIDCALL;
    if (Format != D3DFMT_INDEX16 && Format != D3DFMT_INDEX32)
        return D3DERR_INVALIDCALL;
    if ((Usage & D3DUSAGE_DYNAMIC) && Pool == D3DPOOL_MANAGED)
        return D3DERR_INVALIDCALL;
    try {
        *ppIndexBuffer = new IndexBuffer(this, Length, Usage, Format, Pool);
    } catch (const std::bad_alloc&) {
        return D3DERR_OUTOFVIDEOMEMORY;
    }
    return D3D_OK;
}

HRESULT WINAPI Device::BeginScene()
{
    if (inScene_)
        return D3DERR_INVALIDCALL;
    inScene_ = true;
    return D3D_OK;
}

HRESULT WINAPI Device::EndScene()
{
    // The scene's draws go to the frame queue; its pixels wait for Present
    // or a lock.
    FlushDeferred();
    if (!inScene_)
        return D3DERR_INVALIDCALL;
    inScene_ = false;
    return D3D_OK;
}

HRESULT WINAPI Device::Clear(DWORD Count, const D3DRECT* pRects, DWORD Flags, D3DCOLOR Color, float Z, DWORD Stencil)
{
    FlushDeferred();
    if ((Count > 0 && !pRects) || (Count == 0 && pRects))
        return D3DERR_INVALIDCALL;
    if (Flags == 0 || (Flags & ~(DWORD)(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL)))
        return D3DERR_INVALIDCALL;
    if ((Flags & D3DCLEAR_ZBUFFER) && depth_.empty())
        return D3DERR_INVALIDCALL;
    if ((Flags & D3DCLEAR_STENCIL) &&
        (depth_.empty() || (pp_.AutoDepthStencilFormat != D3DFMT_D24S8 &&
                            pp_.AutoDepthStencilFormat != D3DFMT_D15S1 && pp_.AutoDepthStencilFormat != D3DFMT_D24X4S4)))
        return D3DERR_INVALIDCALL;
    if (!(Z >= 0.f && Z <= 1.f))
        return D3DERR_INVALIDCALL;
    // Clearing stays inside the viewport.
    RECT vp = {(LONG)viewport_.X, (LONG)viewport_.Y, (LONG)(viewport_.X + viewport_.Width),
               (LONG)(viewport_.Y + viewport_.Height)};
    D3DRECT whole = {vp.left, vp.top, vp.right, vp.bottom};
    const D3DRECT* rects = Count ? pRects : &whole;
    DWORD n = Count ? Count : 1;
    for (DWORD i = 0; i < n; ++i) {
        LONG x0 = rects[i].x1 > vp.left ? rects[i].x1 : vp.left;
        LONG y0 = rects[i].y1 > vp.top ? rects[i].y1 : vp.top;
        LONG x1 = rects[i].x2 < vp.right ? rects[i].x2 : vp.right;
        LONG y1 = rects[i].y2 < vp.bottom ? rects[i].y2 : vp.bottom;
        raster_.Clear((int)x0, (int)y0, (int)x1, (int)y1, (Flags & D3DCLEAR_TARGET) != 0, Color,
                      (Flags & D3DCLEAR_ZBUFFER) != 0, Z);
    }
    if (flushEachCall_)
        raster_.Flush();
    return D3D_OK;
}

HRESULT WINAPI Device::SetTransform(D3DTRANSFORMSTATETYPE State, const D3DMATRIX* pMatrix)
{
    Changing();
    if (!pMatrix)
        return D3DERR_INVALIDCALL;
    DWORD s = (DWORD)State;
    if (s == D3DTS_VIEW)
        view_ = *pMatrix;
    else if (s == D3DTS_PROJECTION)
        projection_ = *pMatrix;
    else if (s >= D3DTS_TEXTURE0 && s <= D3DTS_TEXTURE7)
        textureTransform_[s - D3DTS_TEXTURE0] = *pMatrix;
    else if (s >= 256 && s < 512)
        world_[s] = *pMatrix;
    else
        return D3DERR_INVALIDCALL;
    return D3D_OK;
}

HRESULT WINAPI Device::GetTransform(D3DTRANSFORMSTATETYPE State, D3DMATRIX* pMatrix)
{
    if (!pMatrix)
        return D3DERR_INVALIDCALL;
    DWORD s = (DWORD)State;
    if (s == D3DTS_VIEW)
        *pMatrix = view_;
    else if (s == D3DTS_PROJECTION)
        *pMatrix = projection_;
    else if (s >= D3DTS_TEXTURE0 && s <= D3DTS_TEXTURE7)
        *pMatrix = textureTransform_[s - D3DTS_TEXTURE0];
    else if (s >= 256 && s < 512) {
        auto it = world_.find(s);
        *pMatrix = it != world_.end() ? it->second : Identity();
    } else
        return D3DERR_INVALIDCALL;
    return D3D_OK;
}

HRESULT WINAPI Device::MultiplyTransform(D3DTRANSFORMSTATETYPE State, const D3DMATRIX* pMatrix)
{
    if (!pMatrix)
        return D3DERR_INVALIDCALL;
    D3DMATRIX cur;
    HRESULT hr = GetTransform(State, &cur);
    if (FAILED(hr))
        return hr;
    D3DMATRIX r;
    // The given matrix multiplies the current one from the left.
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            r.m[i][j] = pMatrix->m[i][0] * cur.m[0][j] + pMatrix->m[i][1] * cur.m[1][j] +
                        pMatrix->m[i][2] * cur.m[2][j] + pMatrix->m[i][3] * cur.m[3][j];
    return SetTransform(State, &r);
}

HRESULT WINAPI Device::SetViewport(const D3DVIEWPORT9* pViewport)
{
    Changing();
    if (!pViewport)
        return D3DERR_INVALIDCALL;
    const D3DVIEWPORT9& v = *pViewport;
    if (v.Width == 0 || v.Height == 0 || v.X >= pp_.BackBufferWidth || v.Y >= pp_.BackBufferHeight ||
        v.Width > pp_.BackBufferWidth - v.X || v.Height > pp_.BackBufferHeight - v.Y)
        return D3DERR_INVALIDCALL;
    if (!(v.MinZ >= 0.f && v.MinZ <= 1.f && v.MaxZ >= 0.f && v.MaxZ <= 1.f))
        return D3DERR_INVALIDCALL;
    viewport_ = v;
    return D3D_OK;
}

HRESULT WINAPI Device::GetViewport(D3DVIEWPORT9* pViewport)
{
    if (!pViewport)
        return D3DERR_INVALIDCALL;
    *pViewport = viewport_;
    return D3D_OK;
}

HRESULT WINAPI Device::SetMaterial(const D3DMATERIAL9* pMaterial)
{
    Changing();
    if (!pMaterial)
        return D3DERR_INVALIDCALL;
    material_ = *pMaterial;
    return D3D_OK;
}

HRESULT WINAPI Device::GetMaterial(D3DMATERIAL9* pMaterial)
{
    if (!pMaterial)
        return D3DERR_INVALIDCALL;
    *pMaterial = material_;
    return D3D_OK;
}

HRESULT WINAPI Device::SetLight(DWORD Index, const D3DLIGHT9* pLight)
{
    Changing();
    if (!pLight)
        return D3DERR_INVALIDCALL;
    const D3DLIGHT9& l = *pLight;
    if (l.Type != D3DLIGHT_POINT && l.Type != D3DLIGHT_SPOT && l.Type != D3DLIGHT_DIRECTIONAL)
        return D3DERR_INVALIDCALL;
    if (l.Type != D3DLIGHT_DIRECTIONAL && !(l.Range >= 0.f))
        return D3DERR_INVALIDCALL;
    if (l.Type != D3DLIGHT_POINT && l.Direction.x == 0.f && l.Direction.y == 0.f && l.Direction.z == 0.f)
        return D3DERR_INVALIDCALL;
    if (l.Type == D3DLIGHT_SPOT && !(l.Theta >= 0.f && l.Phi >= l.Theta && l.Phi <= 3.1415927f))
        return D3DERR_INVALIDCALL;
    auto it = lights_.find(Index);
    bool enabled = it != lights_.end() && it->second.enabled;
    lights_[Index] = {l, enabled};
    return D3D_OK;
}

HRESULT WINAPI Device::GetLight(DWORD Index, D3DLIGHT9* pLight)
{
    if (!pLight)
        return D3DERR_INVALIDCALL;
    auto it = lights_.find(Index);
    if (it == lights_.end())
        return D3DERR_INVALIDCALL;
    *pLight = it->second.light;
    return D3D_OK;
}

HRESULT WINAPI Device::LightEnable(DWORD Index, BOOL Enable)
{
    Changing();
    auto it = lights_.find(Index);
    if (it == lights_.end()) {
        // Enabling a light never set makes the default white directional light.
        D3DLIGHT9 l;
        memset(&l, 0, sizeof l);
        l.Type = D3DLIGHT_DIRECTIONAL;
        l.Diffuse = {1.f, 1.f, 1.f, 0.f};
        l.Direction = {0.f, 0.f, 1.f};
        it = lights_.insert({Index, {l, false}}).first;
    }
    if (Enable && !it->second.enabled) {
        DWORD active = 0;
        for (const auto& kv : lights_)
            active += kv.second.enabled ? 1 : 0;
        if (active >= caps_.MaxActiveLights)
            return D3DERR_INVALIDCALL;
    }
    it->second.enabled = Enable != FALSE;
    return D3D_OK;
}

HRESULT WINAPI Device::GetLightEnable(DWORD Index, BOOL* pEnable)
{
    if (!pEnable)
        return D3DERR_INVALIDCALL;
    auto it = lights_.find(Index);
    if (it == lights_.end())
        return D3DERR_INVALIDCALL;
    *pEnable = it->second.enabled ? TRUE : FALSE;
    return D3D_OK;
}

HRESULT WINAPI Device::SetRenderState(D3DRENDERSTATETYPE State, DWORD Value)
{
    Changing();
    if ((DWORD)State >= 256)
        return D3DERR_INVALIDCALL;
    renderStates_[State] = Value;
    return D3D_OK;
}

HRESULT WINAPI Device::GetRenderState(D3DRENDERSTATETYPE State, DWORD* pValue)
{
    if (!pValue || (DWORD)State >= 256)
        return D3DERR_INVALIDCALL;
    *pValue = renderStates_[State];
    return D3D_OK;
}

HRESULT WINAPI Device::GetTexture(DWORD Stage, IDirect3DBaseTexture9** ppTexture)
{
    if (!ppTexture)
        return D3DERR_INVALIDCALL;
    *ppTexture = nullptr;
    if (Stage >= (DWORD)vr::kMaxStages)
        return D3DERR_INVALIDCALL;
    if (textures_[Stage]) {
        textures_[Stage]->AddRef();
        *ppTexture = textures_[Stage];
    }
    return D3D_OK;
}

HRESULT WINAPI Device::SetTexture(DWORD Stage, IDirect3DBaseTexture9* pTexture)
{
    Changing();
    if (Stage >= (DWORD)vr::kMaxStages)
        return D3DERR_INVALIDCALL;
    Texture* t = nullptr;
    if (pTexture) {
        t = dynamic_cast<Texture*>(pTexture);
        if (!t || t->OwnerDevice() != this)
            return D3DERR_INVALIDCALL;
    }
    if (t == textures_[Stage])
        return D3D_OK;
    if (t)
        t->Bind();
    Texture* old = textures_[Stage];
    textures_[Stage] = t;
    if (old)
        old->Unbind();
    return D3D_OK;
}

HRESULT WINAPI Device::GetTextureStageState(DWORD Stage, D3DTEXTURESTAGESTATETYPE Type, DWORD* pValue)
{
    if (!pValue || Stage >= (DWORD)vr::kMaxStages || (DWORD)Type >= 33)
        return D3DERR_INVALIDCALL;
    *pValue = stageStates_[Stage][Type];
    return D3D_OK;
}

HRESULT WINAPI Device::SetTextureStageState(DWORD Stage, D3DTEXTURESTAGESTATETYPE Type, DWORD Value)
{
    Changing();
    if (Stage >= (DWORD)vr::kMaxStages || (DWORD)Type >= 33)
        return D3DERR_INVALIDCALL;
    stageStates_[Stage][Type] = Value;
    return D3D_OK;
}

HRESULT WINAPI Device::GetSamplerState(DWORD Sampler, D3DSAMPLERSTATETYPE Type, DWORD* pValue)
{
    if (!pValue || Sampler >= 16 || (DWORD)Type >= 14)
        return D3DERR_INVALIDCALL;
    *pValue = samplerStates_[Sampler][Type];
    return D3D_OK;
}

HRESULT WINAPI Device::SetSamplerState(DWORD Sampler, D3DSAMPLERSTATETYPE Type, DWORD Value)
{
    Changing();
    if (Sampler >= 16 || (DWORD)Type >= 14)
        return D3DERR_INVALIDCALL;
    samplerStates_[Sampler][Type] = Value;
    return D3D_OK;
}

HRESULT WINAPI Device::SetFVF(DWORD FVF)
{
    Changing();
    fvf_ = FVF;
    return D3D_OK;
}

HRESULT WINAPI Device::GetFVF(DWORD* pFVF)
{
    if (!pFVF)
        return D3DERR_INVALIDCALL;
    *pFVF = fvf_;
    return D3D_OK;
}

HRESULT WINAPI Device::SetVertexShader(IDirect3DVertexShader9* pShader)
{
    Changing();
    vertexShader_ = pShader;
    return D3D_OK;
}

HRESULT WINAPI Device::GetVertexShader(IDirect3DVertexShader9** ppShader)
{
    if (!ppShader)
        return D3DERR_INVALIDCALL;
    if (vertexShader_)
        vertexShader_->AddRef();
    *ppShader = vertexShader_;
    return D3D_OK;
}

HRESULT WINAPI Device::SetPixelShader(IDirect3DPixelShader9* pShader)
{
    Changing();
    pixelShader_ = pShader;
    return D3D_OK;
}

HRESULT WINAPI Device::GetPixelShader(IDirect3DPixelShader9** ppShader)
{
    if (!ppShader)
        return D3DERR_INVALIDCALL;
    if (pixelShader_)
        pixelShader_->AddRef();
    *ppShader = pixelShader_;
    return D3D_OK;
}

HRESULT WINAPI Device::SetStreamSource(UINT StreamNumber, IDirect3DVertexBuffer9* pStreamData, UINT OffsetInBytes,
                                       UINT Stride)
{
    Changing();
    if (StreamNumber != 0)
        return D3DERR_INVALIDCALL;
    VertexBuffer* vb = nullptr;
    if (pStreamData) {
        vb = dynamic_cast<VertexBuffer*>(pStreamData);
        if (!vb || vb->OwnerDevice() != this)
            return D3DERR_INVALIDCALL;
        vb->Bind();
    }
    VertexBuffer* old = stream_;
    stream_ = vb;
    streamOffset_ = OffsetInBytes;
    streamStride_ = Stride;
    if (old)
        old->Unbind();
    return D3D_OK;
}

HRESULT WINAPI Device::GetStreamSource(UINT StreamNumber, IDirect3DVertexBuffer9** ppStreamData, UINT* pOffsetInBytes,
                                       UINT* pStride)
{
    if (StreamNumber != 0 || !ppStreamData || !pOffsetInBytes || !pStride)
        return D3DERR_INVALIDCALL;
    if (stream_)
        stream_->AddRef();
    *ppStreamData = stream_;
    *pOffsetInBytes = streamOffset_;
    *pStride = streamStride_;
    return D3D_OK;
}

HRESULT WINAPI Device::SetIndices(IDirect3DIndexBuffer9* pIndexData)
{
    Changing();
    IndexBuffer* ib = nullptr;
    if (pIndexData) {
        ib = dynamic_cast<IndexBuffer*>(pIndexData);
        if (!ib || ib->OwnerDevice() != this)
            return D3DERR_INVALIDCALL;
        ib->Bind();
    }
    IndexBuffer* old = indices_;
    indices_ = ib;
    if (old)
        old->Unbind();
    return D3D_OK;
}

HRESULT WINAPI Device::GetIndices(IDirect3DIndexBuffer9** ppIndexData)
{
    if (!ppIndexData)
        return D3DERR_INVALIDCALL;
    if (indices_)
        indices_->AddRef();
    *ppIndexData = indices_;
    return D3D_OK;
}

// --- Drawing -----------------------------------------------------------------------

void Device::PrepareDraw(const vr::FvfLayout& layout, vr::PixelProgram* program, int programAttrs, bool fixedVertices)
{
    if (fixedVertices)
        PrepareFixedVertices(layout);
    PreparePixels(program, programAttrs);
}

void Device::PrepareFixedVertices(const vr::FvfLayout& layout)
{
    const DWORD* rs = renderStates_;
    vr::VertexState vs;
    vs.world = world_.count(256) ? world_[256] : Identity();
    vs.view = view_;
    vs.projection = projection_;
    vs.lighting = rs[D3DRS_LIGHTING] != 0;
    vs.normalizeNormals = rs[D3DRS_NORMALIZENORMALS] != 0;
    vs.specularEnable = rs[D3DRS_SPECULARENABLE] != 0;
    vs.localViewer = rs[D3DRS_LOCALVIEWER] != 0;
    vs.colorVertex = rs[D3DRS_COLORVERTEX] != 0;
    vs.diffuseSource = rs[D3DRS_DIFFUSEMATERIALSOURCE];
    vs.specularSource = rs[D3DRS_SPECULARMATERIALSOURCE];
    vs.ambientSource = rs[D3DRS_AMBIENTMATERIALSOURCE];
    vs.emissiveSource = rs[D3DRS_EMISSIVEMATERIALSOURCE];
    vs.ambient = rs[D3DRS_AMBIENT];
    vs.material = material_;
    if (vs.lighting)
        for (const auto& kv : lights_)
            if (kv.second.enabled)
                vs.lights.push_back(kv.second.light);
    for (int s = 0; s < vr::kTexSets; ++s)
        vs.texCoordIndex[s] = (DWORD)s;
    vertexProcessor_.Setup(vs, layout);
}

void Device::PreparePixels(vr::PixelProgram* program, int programAttrs)
{
    const DWORD* rs = renderStates_;
    vr::PixelState ps;
    memset(&ps, 0, sizeof ps);
    ps.zEnable = rs[D3DRS_ZENABLE] != D3DZB_FALSE;
    ps.zWrite = rs[D3DRS_ZWRITEENABLE] != 0;
    ps.zFunc = rs[D3DRS_ZFUNC];
    ps.alphaBlend = rs[D3DRS_ALPHABLENDENABLE] != 0;
    ps.srcBlend = rs[D3DRS_SRCBLEND];
    ps.destBlend = rs[D3DRS_DESTBLEND];
    ps.blendOp = rs[D3DRS_BLENDOP];
    ps.alphaTest = rs[D3DRS_ALPHATESTENABLE] != 0;
    ps.alphaRef = rs[D3DRS_ALPHAREF];
    ps.alphaFunc = rs[D3DRS_ALPHAFUNC];
    ps.specularEnable = rs[D3DRS_SPECULARENABLE] != 0;
    ps.flatShade = rs[D3DRS_SHADEMODE] == D3DSHADE_FLAT;
    ps.colorWriteMask = rs[D3DRS_COLORWRITEENABLE] & 0xf;
    ps.cullMode = rs[D3DRS_CULLMODE];
    ps.textureFactor = rs[D3DRS_TEXTUREFACTOR];
    ps.stageCount = 0;
    for (int s = 0; s < vr::kMaxStages; ++s) {
        const DWORD* t = stageStates_[s];
        if (t[D3DTSS_COLOROP] == D3DTOP_DISABLE)
            break;
        vr::StageState& st = ps.stages[s];
        st.colorOp = t[D3DTSS_COLOROP];
        st.colorArg1 = t[D3DTSS_COLORARG1];
        st.colorArg2 = t[D3DTSS_COLORARG2];
        st.colorArg0 = t[D3DTSS_COLORARG0];
        st.alphaOp = t[D3DTSS_ALPHAOP];
        st.alphaArg1 = t[D3DTSS_ALPHAARG1];
        st.alphaArg2 = t[D3DTSS_ALPHAARG2];
        st.alphaArg0 = t[D3DTSS_ALPHAARG0];
        st.texCoordIndex = t[D3DTSS_TEXCOORDINDEX];
        st.resultArg = t[D3DTSS_RESULTARG];
        st.texture = nullptr;
        // The rasteriser stamps the texture with each queue its draws wait in.
        if (Texture* texture = textures_[s])
            st.texture = &texture->View();
        const DWORD* smp = samplerStates_[s];
        st.addressU = smp[D3DSAMP_ADDRESSU];
        st.addressV = smp[D3DSAMP_ADDRESSV];
        st.magFilter = smp[D3DSAMP_MAGFILTER];
        st.minFilter = smp[D3DSAMP_MINFILTER];
        st.mipFilter = smp[D3DSAMP_MIPFILTER];
        st.maxMipLevel = smp[D3DSAMP_MAXMIPLEVEL];
        st.borderColor = smp[D3DSAMP_BORDERCOLOR];
        ps.stageCount = s + 1;
    }
    ps.program = program;
    ps.programAttrs = programAttrs;
    vr::Viewport vp = {(int)viewport_.X, (int)viewport_.Y, (int)viewport_.Width, (int)viewport_.Height,
                       viewport_.MinZ, viewport_.MaxZ};
    raster_.SetViewport(vp);
    raster_.SetState(ps);
    Using(backBufferUse_);
}

HRESULT Device::Draw(D3DPRIMITIVETYPE type, UINT primitiveCount, const uint8_t* vertices, UINT vertexCount,
                     UINT stride, const void* indices, bool index32, INT baseVertex, bool callerMemory)
{
    if (!inScene_)
        return D3DERR_INVALIDCALL;
    vr::FvfLayout layout = vr::DecodeFvf(fvf_);
    if (!layout.valid)
        return D3DERR_INVALIDCALL;
    UINT needed;
    if (!VertexCountFor(type, primitiveCount, &needed))
        return D3DERR_INVALIDCALL;
    if (primitiveCount == 0)
        return D3D_OK;
    if (primitiveCount > kMaxPrimitives)
        return D3DERR_INVALIDCALL;
    if (!indices && needed > vertexCount)
        return D3DERR_INVALIDCALL;

    // Shaders made by an effect run in place of the fixed stages; other
    // shader objects are only kept.
    ProgramVertexShader* vsProgram = dynamic_cast<ProgramVertexShader*>(vertexShader_);
    ProgramPixelShader* psProgram = dynamic_cast<ProgramPixelShader*>(pixelShader_);
    if (vsProgram || psProgram)
        programLink_.Setup(fvf_, layout, vsProgram, psProgram);

    // Models drawn one triangle a call would run the vertex program a vertex
    // at a time: such draws wait (copied) and run as one triangle list, so
    // their vertices are shaded in batches. Nothing a draw depends on can
    // change meanwhile: every such call runs the waiting draws first.
    const bool defer = callerMemory && type == D3DPT_TRIANGLELIST && !indices && primitiveCount <= kDeferPerDraw &&
                       vsProgram && programLink_.Reuses() && (deferredPrimitives_ == 0 || stride == deferredStride_);
    if (!defer) {
        FlushDeferred();
        DrawNow(type, primitiveCount, vertices, vertexCount, stride, indices, index32, baseVertex, layout, vsProgram,
                psProgram);
        return D3D_OK;
    }
    const size_t at = deferred_.size(), bytes = (size_t)needed * stride;
    deferred_.resize(at + bytes);
    // The last vertex may end before its stride does.
    const size_t valid = bytes - stride + ((UINT)layout.size < stride ? (UINT)layout.size : stride);
    memcpy(deferred_.data() + at, vertices, valid);
    memset(deferred_.data() + at + valid, 0, bytes - valid);
    deferredStride_ = stride;
    deferredPrimitives_ += primitiveCount;
    if (deferredPrimitives_ >= kDeferPrimitives)
        FlushDeferred();
    return D3D_OK;
}

void Device::FlushDeferred()
{
    if (deferredPrimitives_ == 0)
        return;
    const UINT primitives = deferredPrimitives_;
    deferredPrimitives_ = 0;
    const vr::FvfLayout layout = vr::DecodeFvf(fvf_);
    ProgramVertexShader* vsProgram = dynamic_cast<ProgramVertexShader*>(vertexShader_);
    ProgramPixelShader* psProgram = dynamic_cast<ProgramPixelShader*>(pixelShader_);
    programLink_.Setup(fvf_, layout, vsProgram, psProgram);
    DrawNow(D3DPT_TRIANGLELIST, primitives, deferred_.data(), 3 * primitives, deferredStride_, nullptr, false, 0,
            layout, vsProgram, psProgram);
    deferred_.clear();
}

void Device::CopyToPicture(uint32_t* picture)
{
    // Bound by memory, at several pixels a nanosecond.
    static const size_t kBlock = 256 * 1024;
    vr::Workers* workers = raster_.WorkersFor((int64_t)color_.size() / 8);
    if (!workers) {
        vr::CopyOpaque(color_.data(), picture, color_.size());
        return;
    }
    struct Job {
        const uint32_t* from;
        uint32_t* to;
        size_t count;
    } job = {color_.data(), picture, color_.size()};
    workers->Run((int)((job.count + kBlock - 1) / kBlock), [](void* context, int block) {
        const Job& j = *(const Job*)context;
        const size_t first = (size_t)block * kBlock;
        vr::CopyOpaque(j.from + first, j.to + first, std::min(kBlock, j.count - first));
    }, &job);
}

void Device::FlushPixels()
{
    FlushDeferred();
    raster_.Flush();
}

void FlushDeviceDraws(IDirect3DDevice9* device)
{
    if (Device* d = dynamic_cast<Device*>(device))
        d->Changing();
}

void Device::Changing()
{
    // The draws waiting to be shaded together take the device's state when
    // they run: they run before it changes.
    FlushDeferred();
}

void Device::Writing(const QueuedUse& use)
{
    // The held-back draws have not yet stamped what they will use.
    FlushDeferred();
    // Every queued command, a clear too, writes the back buffer.
    if ((use.drawnInto || use.epoch == raster_.Epoch()) && raster_.Waiting())
        raster_.Flush();
}

void Device::Reading(const QueuedUse& use)
{
    // Queued draws only read textures: the CPU may read them meanwhile.
    if (use.drawnInto)
        Writing(use);
}

void Device::DrawNow(D3DPRIMITIVETYPE type, UINT primitiveCount, const uint8_t* vertices, UINT vertexCount,
                     UINT stride, const void* indices, bool index32, INT baseVertex, const vr::FvfLayout& layout,
                     ProgramVertexShader* vsProgram, ProgramPixelShader* psProgram)
{
    // A vertex program needs none of the fixed transform and lighting state.
    PrepareDraw(layout, psProgram ? &programLink_ : nullptr, programLink_.Attrs(), !vsProgram);
    UINT needed = 0;
    VertexCountFor(type, primitiveCount, &needed);
    // Only grown: the vertices are written before they are read (done_).
    if (transformed_.size() < vertexCount)
        transformed_.resize(vertexCount);
    done_.assign(vertexCount, 0);
    auto indexOf = [&](UINT k) -> int64_t {
        if (!indices)
            return k;
        return (int64_t)(index32 ? ((const uint32_t*)indices)[k] : ((const uint16_t*)indices)[k]) + baseVertex;
    };
    if (vsProgram && programLink_.Reuses()) {
        // Every vertex the primitives name, shaded up front in batches: the
        // program's results depend on nothing but the vertex.
        pending_.clear();
        for (UINT k = 0; k < needed; ++k) {
            const int64_t idx = indexOf(k);
            if (idx < 0 || idx >= (int64_t)vertexCount || done_[idx])
                continue;
            done_[idx] = 1;
            pending_.push_back((uint32_t)idx);
        }
        programLink_.ShadeVertices(vertices, stride, pending_.data(), (int)pending_.size(), transformed_.data(),
                                    raster_.WorkersFor((int64_t)pending_.size() * kVertexNanoseconds));
    }
    auto fetch = [&](UINT k, const vr::Vertex** out) -> bool {
        const int64_t idx = indexOf(k);
        if (idx < 0 || idx >= (int64_t)vertexCount)
            return false;  // outside the vertices given: the primitive is skipped
        if (!done_[idx]) {
            if (vsProgram)
                programLink_.RunVertex(vertices + (size_t)idx * stride, &transformed_[idx]);
            else
                vertexProcessor_.Process(vertices + (size_t)idx * stride, &transformed_[idx]);
            done_[idx] = 1;
        }
        *out = &transformed_[idx];
        return true;
    };
    const bool pre = layout.pretransformed && !vsProgram;
    const bool lastPixel = renderStates_[D3DRS_LASTPIXEL] != 0;
    const vr::Vertex *a, *b, *c;
    for (UINT p = 0; p < primitiveCount; ++p) {
        switch (type) {
        case D3DPT_POINTLIST:
            if (fetch(p, &a))
                raster_.DrawPoint(*a, pre);
            break;
        case D3DPT_LINELIST:
            if (fetch(2 * p, &a) && fetch(2 * p + 1, &b))
                raster_.DrawLine(*a, *b, pre, lastPixel);
            break;
        case D3DPT_LINESTRIP:
            if (fetch(p, &a) && fetch(p + 1, &b))
                raster_.DrawLine(*a, *b, pre, lastPixel && p + 1 == primitiveCount);
            break;
        case D3DPT_TRIANGLELIST:
            if (fetch(3 * p, &a) && fetch(3 * p + 1, &b) && fetch(3 * p + 2, &c))
                raster_.DrawTriangle(*a, *b, *c, pre);
            break;
        case D3DPT_TRIANGLESTRIP:
            // Every second triangle is reversed so that all keep the winding of the first.
            if (fetch(p, &a) && fetch(p + 1, &b) && fetch(p + 2, &c)) {
                if (p & 1)
                    raster_.DrawTriangle(*b, *a, *c, pre);
                else
                    raster_.DrawTriangle(*a, *b, *c, pre);
            }
            break;
        case D3DPT_TRIANGLEFAN:
            if (fetch(0, &a) && fetch(p + 1, &b) && fetch(p + 2, &c))
                raster_.DrawTriangle(*a, *b, *c, pre);
            break;
        default:
            break;
        }
    }
    if (flushEachCall_)
        raster_.Flush();
}

HRESULT WINAPI Device::DrawPrimitiveUP(D3DPRIMITIVETYPE PrimitiveType, UINT PrimitiveCount,
                                       const void* pVertexStreamZeroData, UINT VertexStreamZeroStride)
{
    if (!pVertexStreamZeroData || VertexStreamZeroStride == 0)
        return D3DERR_INVALIDCALL;
    UINT needed;
    if (!VertexCountFor(PrimitiveType, PrimitiveCount, &needed))
        return D3DERR_INVALIDCALL;
    return Draw(PrimitiveType, PrimitiveCount, (const uint8_t*)pVertexStreamZeroData, needed,
                VertexStreamZeroStride, nullptr, false, 0, true);
}

HRESULT WINAPI Device::DrawIndexedPrimitiveUP(D3DPRIMITIVETYPE PrimitiveType, UINT MinVertexIndex, UINT NumVertices,
                                              UINT PrimitiveCount, const void* pIndexData, D3DFORMAT IndexDataFormat,
                                              const void* pVertexStreamZeroData, UINT VertexStreamZeroStride)
{
    if (!pIndexData || !pVertexStreamZeroData || VertexStreamZeroStride == 0)
        return D3DERR_INVALIDCALL;
    if (IndexDataFormat != D3DFMT_INDEX16 && IndexDataFormat != D3DFMT_INDEX32)
        return D3DERR_INVALIDCALL;
    // The vertices the caller vouches for: indices from 0 to MinVertexIndex + NumVertices - 1.
    return Draw(PrimitiveType, PrimitiveCount, (const uint8_t*)pVertexStreamZeroData, MinVertexIndex + NumVertices,
                VertexStreamZeroStride, pIndexData, IndexDataFormat == D3DFMT_INDEX32, 0, true);
}

HRESULT WINAPI Device::DrawPrimitive(D3DPRIMITIVETYPE PrimitiveType, UINT StartVertex, UINT PrimitiveCount)
{
    if (!stream_ || streamStride_ == 0)
        return D3DERR_INVALIDCALL;
    vr::FvfLayout layout = vr::DecodeFvf(fvf_);
    const std::vector<uint8_t>& data = stream_->Data();
    size_t start = (size_t)streamOffset_ + (size_t)StartVertex * streamStride_;
    UINT available = 0;
    if (layout.valid && start + layout.size <= data.size())
        available = (UINT)((data.size() - start - layout.size) / streamStride_ + 1);
    return Draw(PrimitiveType, PrimitiveCount, data.data() + (start <= data.size() ? start : 0), available,
                streamStride_, nullptr, false, 0, false);
}

HRESULT WINAPI Device::DrawIndexedPrimitive(D3DPRIMITIVETYPE PrimitiveType, INT BaseVertexIndex, UINT MinVertexIndex,
                                            UINT NumVertices, UINT startIndex, UINT primCount)
{
    if (!stream_ || !indices_ || streamStride_ == 0)
        return D3DERR_INVALIDCALL;
    UINT needed;
    if (!VertexCountFor(PrimitiveType, primCount, &needed))
        return D3DERR_INVALIDCALL;
    const bool index32 = indices_->Format() == D3DFMT_INDEX32;
    const size_t indexSize = index32 ? 4 : 2;
    const std::vector<uint8_t>& ib = indices_->Data();
    if (((size_t)startIndex + needed) * indexSize > ib.size())
        return D3DERR_INVALIDCALL;
    vr::FvfLayout layout = vr::DecodeFvf(fvf_);
    const std::vector<uint8_t>& data = stream_->Data();
    size_t start = streamOffset_;
    UINT available = 0;
    if (layout.valid && start + layout.size <= data.size())
        available = (UINT)((data.size() - start - layout.size) / streamStride_ + 1);
    return Draw(PrimitiveType, primCount, data.data() + (start <= data.size() ? start : 0), available, streamStride_,
                ib.data() + (size_t)startIndex * indexSize, index32, BaseVertexIndex, false);
}

}  // namespace vd3d
