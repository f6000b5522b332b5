// Classes behind the Direct3D 9 interfaces of the platform layer.
#ifndef VELMORA_D3D9_INTERNAL_H
#define VELMORA_D3D9_INTERNAL_H

#include <d3d9.h>

#include "fx/shader.h"
#include "renderer/raster.h"

#include <atomic>
#include <map>
#include <vector>

namespace vd3d {

// The simulated graphics card (test controls of velmora_platform.h).
struct Card {
    DWORD vertexShaderVersion;
    DWORD pixelShaderVersion;
    DWORD refusedRenderTargetFormat;
    bool refuseVertexBuffers;
    bool failCreate;
    bool failDisplayMode;
    bool failCreateDevice;
    UINT desktopWidth;
    UINT desktopHeight;
    UINT textureMemory;
    bool flushEachCall;
};
Card& TheCard();

const UINT kMaxTextureSize = 4096;
const UINT kMaxBackBufferSize = 8192;
// Texture memory of a device: a card of the shader 2.0 generation the module
// asks for had 128 to 256 MB. Two of the largest textures (4096 x 4096 with
// their mip levels, 85 MB each) fit beside everything the demo makes.
const UINT kTextureMemory = 256u << 20;

void CountObject(int delta);

class Device;

// Reference counting shared by resources: the public count, plus bindings
// held by the device (set texture, stream source, indices) that keep the
// memory alive without showing in the public count. A live resource holds a
// reference to its device.
class DeviceChild {
public:
    DeviceChild(Device* device, D3DPOOL pool, DWORD usage);
    virtual ~DeviceChild();
    ULONG AddRefChild();
    ULONG ReleaseChild();
    // Gives back the reference the constructor took, for a resource whose
    // construction failed after it.
    static void ReleaseDevice(Device* device);
    void Bind() { ++binds_; }
    void Unbind();
    Device* OwnerDevice() const { return device_; }
    D3DPOOL Pool() const { return pool_; }
    DWORD Usage() const { return usage_; }

protected:
    Device* device_;
    D3DPOOL pool_;
    DWORD usage_;
    ULONG refs_ = 1;
    ULONG binds_ = 0;
};

class Texture;

// When the rasteriser's queued drawing last used a resource's memory: the
// epoch of the queue whose draws read it (a texture) or write it (the back
// buffer). While that queue waits, the CPU writes or frees the memory only
// after drawing the queue (Device::Writing).
struct QueuedUse {
    uint64_t epoch = 0;
    bool drawnInto = false;  // queued draws write it: reading it waits for them too
};

// A surface: a texture level (its references are the texture's) or the
// device's back buffer (its references are the device's).
class Surface final : public IDirect3DSurface9 {
public:
    Surface(IUnknown* container, Device* device, D3DFORMAT format, UINT width, UINT height, DWORD usage,
            D3DPOOL pool, uint8_t* bits, int pitch, bool lockable, QueuedUse* use);

    HRESULT WINAPI QueryInterface(REFIID riid, void** ppvObj) override;
    ULONG WINAPI AddRef() override;
    ULONG WINAPI Release() override;
    HRESULT WINAPI GetDevice(IDirect3DDevice9** ppDevice) override;
    DWORD WINAPI SetPriority(DWORD PriorityNew) override;
    DWORD WINAPI GetPriority() override;
    void WINAPI PreLoad() override {}
    D3DRESOURCETYPE WINAPI GetType() override { return D3DRTYPE_SURFACE; }
    HRESULT WINAPI GetContainer(REFIID riid, void** ppContainer) override;
    HRESULT WINAPI GetDesc(D3DSURFACE_DESC* pDesc) override;
    HRESULT WINAPI LockRect(D3DLOCKED_RECT* pLockedRect, const RECT* pRect, DWORD Flags) override;
    HRESULT WINAPI UnlockRect() override;

    vr::TexLevel Level() const;

private:
    IUnknown* container_;
    Device* device_;
    D3DFORMAT format_;
    UINT width_, height_;
    DWORD usage_;
    D3DPOOL pool_;
    uint8_t* bits_;
    int pitch_;
    bool lockable_;
    QueuedUse* use_;  // the container's
    bool locked_ = false;
    DWORD priority_ = 0;
};

class Texture final : public IDirect3DTexture9, public DeviceChild {
public:
    Texture(Device* device, UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool);
    ~Texture() override;
    // The bytes of such a texture's levels.
    static size_t MemoryFor(UINT width, UINT height, UINT levels, D3DFORMAT format);

    HRESULT WINAPI QueryInterface(REFIID riid, void** ppvObj) override;
    ULONG WINAPI AddRef() override { return AddRefChild(); }
    ULONG WINAPI Release() override { return ReleaseChild(); }
    HRESULT WINAPI GetDevice(IDirect3DDevice9** ppDevice) override;
    DWORD WINAPI SetPriority(DWORD PriorityNew) override;
    DWORD WINAPI GetPriority() override { return priority_; }
    void WINAPI PreLoad() override {}
    D3DRESOURCETYPE WINAPI GetType() override { return D3DRTYPE_TEXTURE; }
    DWORD WINAPI SetLOD(DWORD LODNew) override;
    DWORD WINAPI GetLOD() override { return lod_; }
    DWORD WINAPI GetLevelCount() override { return (DWORD)levels_.size(); }
    HRESULT WINAPI SetAutoGenFilterType(D3DTEXTUREFILTERTYPE FilterType) override;
    D3DTEXTUREFILTERTYPE WINAPI GetAutoGenFilterType() override { return autoGenFilter_; }
    void WINAPI GenerateMipSubLevels() override {}
    HRESULT WINAPI GetLevelDesc(UINT Level, D3DSURFACE_DESC* pDesc) override;
    HRESULT WINAPI GetSurfaceLevel(UINT Level, IDirect3DSurface9** ppSurfaceLevel) override;
    HRESULT WINAPI LockRect(UINT Level, D3DLOCKED_RECT* pLockedRect, const RECT* pRect, DWORD Flags) override;
    HRESULT WINAPI UnlockRect(UINT Level) override;
    HRESULT WINAPI AddDirtyRect(const RECT* pDirtyRect) override { return D3D_OK; }

    // What the sampler reads; the levels below the texture's LOD are skipped.
    // The rasteriser stamps use_ through it with each queue that reads it.
    const vr::TexView& View();

private:
    std::vector<std::vector<uint8_t>> memory_;
    size_t bytes_ = 0;  // taken from the device's texture memory
    std::vector<Surface*> levels_;
    vr::TexView view_;  // queued draws read it, and the levels it points to
    QueuedUse use_;
    DWORD priority_ = 0;
    DWORD lod_ = 0;
    D3DTEXTUREFILTERTYPE autoGenFilter_ = D3DTEXF_LINEAR;
};

// What vertex and index buffers share: bytes in system memory, locks and the
// resource calls.
template <class Interface, const IID& InterfaceId>
class LinearBuffer : public Interface, public DeviceChild {
public:
    // Out of memory for the data gives back the reference the base took.
    LinearBuffer(Device* device, UINT length, DWORD usage, D3DPOOL pool) try
        : DeviceChild(device, pool, usage), data_(length, 0)
    {
    } catch (...) {
        ReleaseDevice(device);
    }

    HRESULT WINAPI QueryInterface(REFIID riid, void** ppvObj) override
    {
        if (!ppvObj)
            return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDirect3DResource9) ||
            IsEqualIID(riid, InterfaceId)) {
            AddRef();
            *ppvObj = static_cast<Interface*>(this);
            return S_OK;
        }
        *ppvObj = nullptr;
        return E_NOINTERFACE;
    }
    ULONG WINAPI AddRef() override { return AddRefChild(); }
    ULONG WINAPI Release() override { return ReleaseChild(); }
    HRESULT WINAPI GetDevice(IDirect3DDevice9** ppDevice) override;
    DWORD WINAPI SetPriority(DWORD PriorityNew) override
    {
        DWORD old = priority_;
        priority_ = PriorityNew;
        return old;
    }
    DWORD WINAPI GetPriority() override { return priority_; }
    void WINAPI PreLoad() override {}
    HRESULT WINAPI Lock(UINT OffsetToLock, UINT SizeToLock, void** ppbData, DWORD Flags) override;
    HRESULT WINAPI Unlock() override;

    const std::vector<uint8_t>& Data() const { return data_; }

protected:
    std::vector<uint8_t> data_;

private:
    int locks_ = 0;
    DWORD priority_ = 0;
};

class VertexBuffer final : public LinearBuffer<IDirect3DVertexBuffer9, IID_IDirect3DVertexBuffer9> {
public:
    VertexBuffer(Device* device, UINT length, DWORD usage, DWORD fvf, D3DPOOL pool)
        : LinearBuffer(device, length, usage, pool), fvf_(fvf)
    {
    }

    D3DRESOURCETYPE WINAPI GetType() override { return D3DRTYPE_VERTEXBUFFER; }
    HRESULT WINAPI GetDesc(D3DVERTEXBUFFER_DESC* pDesc) override;

private:
    DWORD fvf_;
};

class IndexBuffer final : public LinearBuffer<IDirect3DIndexBuffer9, IID_IDirect3DIndexBuffer9> {
public:
    IndexBuffer(Device* device, UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool)
        : LinearBuffer(device, length, usage, pool), format_(format)
    {
    }

    D3DRESOURCETYPE WINAPI GetType() override { return D3DRTYPE_INDEXBUFFER; }
    HRESULT WINAPI GetDesc(D3DINDEXBUFFER_DESC* pDesc) override;

    D3DFORMAT Format() const { return format_; }

private:
    D3DFORMAT format_;
};

class Direct3D;

class Device final : public IDirect3DDevice9 {
public:
    Device(Direct3D* d3d, HWND window, const D3DPRESENT_PARAMETERS& pp);
    ~Device();

    HRESULT WINAPI QueryInterface(REFIID riid, void** ppvObj) override;
    ULONG WINAPI AddRef() override;
    ULONG WINAPI Release() override;
    HRESULT WINAPI TestCooperativeLevel() override { return D3D_OK; }
    UINT WINAPI GetAvailableTextureMem() override;
    HRESULT WINAPI GetDirect3D(IDirect3D9** ppD3D9) override;
    HRESULT WINAPI GetDeviceCaps(D3DCAPS9* pCaps) override;
    HRESULT WINAPI GetDisplayMode(UINT iSwapChain, D3DDISPLAYMODE* pMode) override;
    HRESULT WINAPI Present(const RECT* pSourceRect, const RECT* pDestRect, HWND hDestWindowOverride,
                           const RGNDATA* pDirtyRegion) override;
    HRESULT WINAPI GetBackBuffer(UINT iSwapChain, UINT iBackBuffer, D3DBACKBUFFER_TYPE Type,
                                 IDirect3DSurface9** ppBackBuffer) override;
    HRESULT WINAPI CreateTexture(UINT Width, UINT Height, UINT Levels, DWORD Usage, D3DFORMAT Format, D3DPOOL Pool,
                                 IDirect3DTexture9** ppTexture, HANDLE* pSharedHandle) override;
    HRESULT WINAPI CreateVertexBuffer(UINT Length, DWORD Usage, DWORD FVF, D3DPOOL Pool,
                                      IDirect3DVertexBuffer9** ppVertexBuffer, HANDLE* pSharedHandle) override;
    HRESULT WINAPI CreateIndexBuffer(UINT Length, DWORD Usage, D3DFORMAT Format, D3DPOOL Pool,
                                     IDirect3DIndexBuffer9** ppIndexBuffer, HANDLE* pSharedHandle) override;
    HRESULT WINAPI GetRenderTarget(DWORD RenderTargetIndex, IDirect3DSurface9** ppRenderTarget) override;
    HRESULT WINAPI BeginScene() override;
    HRESULT WINAPI EndScene() override;
    HRESULT WINAPI Clear(DWORD Count, const D3DRECT* pRects, DWORD Flags, D3DCOLOR Color, float Z,
                         DWORD Stencil) override;
    HRESULT WINAPI SetTransform(D3DTRANSFORMSTATETYPE State, const D3DMATRIX* pMatrix) override;
    HRESULT WINAPI GetTransform(D3DTRANSFORMSTATETYPE State, D3DMATRIX* pMatrix) override;
    HRESULT WINAPI MultiplyTransform(D3DTRANSFORMSTATETYPE State, const D3DMATRIX* pMatrix) override;
    HRESULT WINAPI SetViewport(const D3DVIEWPORT9* pViewport) override;
    HRESULT WINAPI GetViewport(D3DVIEWPORT9* pViewport) override;
    HRESULT WINAPI SetMaterial(const D3DMATERIAL9* pMaterial) override;
    HRESULT WINAPI GetMaterial(D3DMATERIAL9* pMaterial) override;
    HRESULT WINAPI SetLight(DWORD Index, const D3DLIGHT9* pLight) override;
    HRESULT WINAPI GetLight(DWORD Index, D3DLIGHT9* pLight) override;
    HRESULT WINAPI LightEnable(DWORD Index, BOOL Enable) override;
    HRESULT WINAPI GetLightEnable(DWORD Index, BOOL* pEnable) override;
    HRESULT WINAPI SetRenderState(D3DRENDERSTATETYPE State, DWORD Value) override;
    HRESULT WINAPI GetRenderState(D3DRENDERSTATETYPE State, DWORD* pValue) override;
    HRESULT WINAPI GetTexture(DWORD Stage, IDirect3DBaseTexture9** ppTexture) override;
    HRESULT WINAPI SetTexture(DWORD Stage, IDirect3DBaseTexture9* pTexture) override;
    HRESULT WINAPI GetTextureStageState(DWORD Stage, D3DTEXTURESTAGESTATETYPE Type, DWORD* pValue) override;
    HRESULT WINAPI SetTextureStageState(DWORD Stage, D3DTEXTURESTAGESTATETYPE Type, DWORD Value) override;
    HRESULT WINAPI GetSamplerState(DWORD Sampler, D3DSAMPLERSTATETYPE Type, DWORD* pValue) override;
    HRESULT WINAPI SetSamplerState(DWORD Sampler, D3DSAMPLERSTATETYPE Type, DWORD Value) override;
    HRESULT WINAPI DrawPrimitive(D3DPRIMITIVETYPE PrimitiveType, UINT StartVertex, UINT PrimitiveCount) override;
    HRESULT WINAPI DrawIndexedPrimitive(D3DPRIMITIVETYPE PrimitiveType, INT BaseVertexIndex, UINT MinVertexIndex,
                                        UINT NumVertices, UINT startIndex, UINT primCount) override;
    HRESULT WINAPI DrawPrimitiveUP(D3DPRIMITIVETYPE PrimitiveType, UINT PrimitiveCount,
                                   const void* pVertexStreamZeroData, UINT VertexStreamZeroStride) override;
    HRESULT WINAPI DrawIndexedPrimitiveUP(D3DPRIMITIVETYPE PrimitiveType, UINT MinVertexIndex, UINT NumVertices,
                                          UINT PrimitiveCount, const void* pIndexData, D3DFORMAT IndexDataFormat,
                                          const void* pVertexStreamZeroData, UINT VertexStreamZeroStride) override;
    HRESULT WINAPI SetFVF(DWORD FVF) override;
    HRESULT WINAPI GetFVF(DWORD* pFVF) override;
    HRESULT WINAPI SetVertexShader(IDirect3DVertexShader9* pShader) override;
    HRESULT WINAPI GetVertexShader(IDirect3DVertexShader9** ppShader) override;
    HRESULT WINAPI SetStreamSource(UINT StreamNumber, IDirect3DVertexBuffer9* pStreamData, UINT OffsetInBytes,
                                   UINT Stride) override;
    HRESULT WINAPI GetStreamSource(UINT StreamNumber, IDirect3DVertexBuffer9** ppStreamData, UINT* pOffsetInBytes,
                                   UINT* pStride) override;
    HRESULT WINAPI SetIndices(IDirect3DIndexBuffer9* pIndexData) override;
    HRESULT WINAPI GetIndices(IDirect3DIndexBuffer9** ppIndexData) override;
    HRESULT WINAPI SetPixelShader(IDirect3DPixelShader9* pShader) override;
    HRESULT WINAPI GetPixelShader(IDirect3DPixelShader9** ppShader) override;

    // The texture memory a texture takes from the device's budget and gives back.
    bool TakeTextureMemory(size_t bytes);
    void GiveTextureMemory(size_t bytes);

    // Pixels the renderer has written so far (for the figures).
    uint64_t PixelsWritten()
    {
        FlushPixels();
        return raster_.pixelsWritten;
    }
    // Every setter of the device, and new effect constants, come here before
    // they change the state: the draws held back to run together take the
    // state when they run. Queued triangles carry their state: a texture
    // bound or unbound changes nothing they read.
    void Changing();
    // The one rule for memory that queued drawing uses: before the CPU
    // writes or frees it (or for the back buffer, reads it), the draws
    // queued with it are drawn; memory no queued draw uses waits for nothing.
    void Writing(const QueuedUse& use);
    void Reading(const QueuedUse& use);
    // Runs the small draws held back to be shaded together (see Draw). Every
    // change of state, and every call that reads pixels, runs them first.
    void FlushDeferred();
    // ... and lets the rasteriser finish all the triangles it holds.
    void FlushPixels();

private:
    HRESULT Draw(D3DPRIMITIVETYPE type, UINT primitiveCount, const uint8_t* vertices, UINT vertexCount,
                 UINT stride, const void* indices, bool index32, INT baseVertex, bool callerMemory);
    void DrawNow(D3DPRIMITIVETYPE type, UINT primitiveCount, const uint8_t* vertices, UINT vertexCount, UINT stride,
                 const void* indices, bool index32, INT baseVertex, const vr::FvfLayout& layout,
                 ProgramVertexShader* vsProgram, ProgramPixelShader* psProgram);
    void PrepareDraw(const vr::FvfLayout& layout, vr::PixelProgram* program, int programAttrs, bool fixedVertices);
    void PrepareFixedVertices(const vr::FvfLayout& layout);
    void PreparePixels(vr::PixelProgram* program, int programAttrs);
    // The back buffer into the window's picture, the unused byte opaque.
    void CopyToPicture(uint32_t* picture);
    // Stamps memory a draw queued now uses with the queue's epoch.
    void Using(QueuedUse& use) { use.epoch = raster_.Epoch(); }

    Direct3D* d3d_;
    ULONG refs_ = 1;
    HWND window_;
    D3DPRESENT_PARAMETERS pp_;
    D3DCAPS9 caps_;
    size_t textureMemory_;     // the budget
    size_t textureMemoryUsed_ = 0;
    std::vector<uint32_t> color_;
    std::vector<float> depth_;
    QueuedUse backBufferUse_;  // color_ and depth_, written by every draw
    Surface* backBuffer_;
    bool inScene_ = false;

    std::map<DWORD, D3DMATRIX> world_;
    D3DMATRIX view_, projection_, textureTransform_[8];
    D3DVIEWPORT9 viewport_;
    DWORD renderStates_[256];
    D3DMATERIAL9 material_;
    struct LightSlot {
        D3DLIGHT9 light;
        bool enabled;
    };
    std::map<DWORD, LightSlot> lights_;
    Texture* textures_[vr::kMaxStages] = {};
    DWORD stageStates_[vr::kMaxStages][33];
    DWORD samplerStates_[16][14];
    bool flushEachCall_;  // the queue is drawn at the end of every call that adds to it
    DWORD fvf_ = 0;
    VertexBuffer* stream_ = nullptr;
    UINT streamOffset_ = 0, streamStride_ = 0;
    IndexBuffer* indices_ = nullptr;
    IDirect3DVertexShader9* vertexShader_ = nullptr;
    IDirect3DPixelShader9* pixelShader_ = nullptr;

    ProgramLink programLink_;  // the effect shaders of the current draw
    vr::VertexProcessor vertexProcessor_;
    vr::Rasterizer raster_;
    std::vector<vr::Vertex> transformed_;
    std::vector<uint8_t> done_;
    std::vector<uint32_t> pending_;  // vertices to shade before a draw
    // Triangle-list draws from the caller's memory, copied, waiting to run
    // as one draw.
    std::vector<uint8_t> deferred_;
    UINT deferredStride_ = 0, deferredPrimitives_ = 0;
};

class Direct3D final : public IDirect3D9 {
public:
    Direct3D();
    ~Direct3D();

    HRESULT WINAPI QueryInterface(REFIID riid, void** ppvObj) override;
    ULONG WINAPI AddRef() override;
    ULONG WINAPI Release() override;
    UINT WINAPI GetAdapterCount() override { return 1; }
    UINT WINAPI GetAdapterModeCount(UINT Adapter, D3DFORMAT Format) override;
    HRESULT WINAPI EnumAdapterModes(UINT Adapter, D3DFORMAT Format, UINT Mode, D3DDISPLAYMODE* pMode) override;
    HRESULT WINAPI GetAdapterDisplayMode(UINT Adapter, D3DDISPLAYMODE* pMode) override;
    HRESULT WINAPI CheckDeviceType(UINT Adapter, D3DDEVTYPE DevType, D3DFORMAT AdapterFormat,
                                   D3DFORMAT BackBufferFormat, BOOL bWindowed) override;
    HRESULT WINAPI CheckDeviceFormat(UINT Adapter, D3DDEVTYPE DeviceType, D3DFORMAT AdapterFormat, DWORD Usage,
                                     D3DRESOURCETYPE RType, D3DFORMAT CheckFormat) override;
    HRESULT WINAPI CheckDepthStencilMatch(UINT Adapter, D3DDEVTYPE DeviceType, D3DFORMAT AdapterFormat,
                                          D3DFORMAT RenderTargetFormat, D3DFORMAT DepthStencilFormat) override;
    HRESULT WINAPI GetDeviceCaps(UINT Adapter, D3DDEVTYPE DeviceType, D3DCAPS9* pCaps) override;
    HRESULT WINAPI CreateDevice(UINT Adapter, D3DDEVTYPE DeviceType, HWND hFocusWindow, DWORD BehaviorFlags,
                                D3DPRESENT_PARAMETERS* pPresentationParameters,
                                IDirect3DDevice9** ppReturnedDeviceInterface) override;

    void FillCaps(D3DCAPS9* caps) const;

private:
    ULONG refs_ = 1;
};

bool IsDepthFormat(D3DFORMAT format);

}  // namespace vd3d

#endif
