// Direct3D 9 subset of the Velmora platform layer: the Direct3D object, the
// device and its resources, backed by a software renderer.
#ifndef VELMORA_D3D9_H
#define VELMORA_D3D9_H

#include <windows.h>
#include <unknwn.h>
#include <d3d9types.h>

#define D3D_SDK_VERSION 32

typedef struct _RGNDATA RGNDATA;

VELMORA_EXTERN_C_BEGIN
VELMORA_API extern const IID IID_IDirect3D9;
VELMORA_API extern const IID IID_IDirect3DDevice9;
VELMORA_API extern const IID IID_IDirect3DResource9;
VELMORA_API extern const IID IID_IDirect3DBaseTexture9;
VELMORA_API extern const IID IID_IDirect3DTexture9;
VELMORA_API extern const IID IID_IDirect3DSurface9;
VELMORA_API extern const IID IID_IDirect3DVertexBuffer9;
VELMORA_API extern const IID IID_IDirect3DIndexBuffer9;
VELMORA_EXTERN_C_END

#ifdef __cplusplus

struct IDirect3D9;
struct IDirect3DDevice9;
struct IDirect3DResource9;
struct IDirect3DBaseTexture9;
struct IDirect3DTexture9;
struct IDirect3DSurface9;
struct IDirect3DVertexBuffer9;
struct IDirect3DIndexBuffer9;
struct IDirect3DVertexShader9;
struct IDirect3DPixelShader9;

typedef IDirect3D9* LPDIRECT3D9;
typedef IDirect3DDevice9* LPDIRECT3DDEVICE9;
typedef IDirect3DResource9* LPDIRECT3DRESOURCE9;
typedef IDirect3DBaseTexture9* LPDIRECT3DBASETEXTURE9;
typedef IDirect3DTexture9* LPDIRECT3DTEXTURE9;
typedef IDirect3DSurface9* LPDIRECT3DSURFACE9;
typedef IDirect3DVertexBuffer9* LPDIRECT3DVERTEXBUFFER9;
typedef IDirect3DIndexBuffer9* LPDIRECT3DINDEXBUFFER9;

struct IDirect3D9 : public IUnknown {
    virtual UINT WINAPI GetAdapterCount() = 0;
    virtual UINT WINAPI GetAdapterModeCount(UINT Adapter, D3DFORMAT Format) = 0;
    virtual HRESULT WINAPI EnumAdapterModes(UINT Adapter, D3DFORMAT Format, UINT Mode, D3DDISPLAYMODE* pMode) = 0;
    virtual HRESULT WINAPI GetAdapterDisplayMode(UINT Adapter, D3DDISPLAYMODE* pMode) = 0;
    virtual HRESULT WINAPI CheckDeviceType(UINT Adapter, D3DDEVTYPE DevType, D3DFORMAT AdapterFormat,
                                           D3DFORMAT BackBufferFormat, BOOL bWindowed) = 0;
    virtual HRESULT WINAPI CheckDeviceFormat(UINT Adapter, D3DDEVTYPE DeviceType, D3DFORMAT AdapterFormat, DWORD Usage,
                                             D3DRESOURCETYPE RType, D3DFORMAT CheckFormat) = 0;
    virtual HRESULT WINAPI CheckDepthStencilMatch(UINT Adapter, D3DDEVTYPE DeviceType, D3DFORMAT AdapterFormat,
                                                  D3DFORMAT RenderTargetFormat, D3DFORMAT DepthStencilFormat) = 0;
    virtual HRESULT WINAPI GetDeviceCaps(UINT Adapter, D3DDEVTYPE DeviceType, D3DCAPS9* pCaps) = 0;
    virtual HRESULT WINAPI CreateDevice(UINT Adapter, D3DDEVTYPE DeviceType, HWND hFocusWindow, DWORD BehaviorFlags,
                                        D3DPRESENT_PARAMETERS* pPresentationParameters,
                                        IDirect3DDevice9** ppReturnedDeviceInterface) = 0;
};

struct IDirect3DResource9 : public IUnknown {
    virtual HRESULT WINAPI GetDevice(IDirect3DDevice9** ppDevice) = 0;
    virtual DWORD WINAPI SetPriority(DWORD PriorityNew) = 0;
    virtual DWORD WINAPI GetPriority() = 0;
    virtual void WINAPI PreLoad() = 0;
    virtual D3DRESOURCETYPE WINAPI GetType() = 0;
};

struct IDirect3DSurface9 : public IDirect3DResource9 {
    // The texture the surface belongs to (IID_IDirect3DTexture9), or the device for a back buffer.
    virtual HRESULT WINAPI GetContainer(REFIID riid, void** ppContainer) = 0;
    virtual HRESULT WINAPI GetDesc(D3DSURFACE_DESC* pDesc) = 0;
    virtual HRESULT WINAPI LockRect(D3DLOCKED_RECT* pLockedRect, const RECT* pRect, DWORD Flags) = 0;
    virtual HRESULT WINAPI UnlockRect() = 0;
};

struct IDirect3DBaseTexture9 : public IDirect3DResource9 {
    virtual DWORD WINAPI SetLOD(DWORD LODNew) = 0;
    virtual DWORD WINAPI GetLOD() = 0;
    virtual DWORD WINAPI GetLevelCount() = 0;
    virtual HRESULT WINAPI SetAutoGenFilterType(D3DTEXTUREFILTERTYPE FilterType) = 0;
    virtual D3DTEXTUREFILTERTYPE WINAPI GetAutoGenFilterType() = 0;
    virtual void WINAPI GenerateMipSubLevels() = 0;
};

struct IDirect3DTexture9 : public IDirect3DBaseTexture9 {
    virtual HRESULT WINAPI GetLevelDesc(UINT Level, D3DSURFACE_DESC* pDesc) = 0;
    virtual HRESULT WINAPI GetSurfaceLevel(UINT Level, IDirect3DSurface9** ppSurfaceLevel) = 0;
    virtual HRESULT WINAPI LockRect(UINT Level, D3DLOCKED_RECT* pLockedRect, const RECT* pRect, DWORD Flags) = 0;
    virtual HRESULT WINAPI UnlockRect(UINT Level) = 0;
    virtual HRESULT WINAPI AddDirtyRect(const RECT* pDirtyRect) = 0;
};

struct IDirect3DVertexBuffer9 : public IDirect3DResource9 {
    virtual HRESULT WINAPI Lock(UINT OffsetToLock, UINT SizeToLock, void** ppbData, DWORD Flags) = 0;
    virtual HRESULT WINAPI Unlock() = 0;
    virtual HRESULT WINAPI GetDesc(D3DVERTEXBUFFER_DESC* pDesc) = 0;
};

struct IDirect3DIndexBuffer9 : public IDirect3DResource9 {
    virtual HRESULT WINAPI Lock(UINT OffsetToLock, UINT SizeToLock, void** ppbData, DWORD Flags) = 0;
    virtual HRESULT WINAPI Unlock() = 0;
    virtual HRESULT WINAPI GetDesc(D3DINDEXBUFFER_DESC* pDesc) = 0;
};

// Programmable shaders are not run by the software renderer; the device only
// keeps the pointers it is given (null selects the fixed-function pipeline).
struct IDirect3DVertexShader9 : public IUnknown {
    virtual HRESULT WINAPI GetDevice(IDirect3DDevice9** ppDevice) = 0;
};
struct IDirect3DPixelShader9 : public IUnknown {
    virtual HRESULT WINAPI GetDevice(IDirect3DDevice9** ppDevice) = 0;
};

struct IDirect3DDevice9 : public IUnknown {
    virtual HRESULT WINAPI TestCooperativeLevel() = 0;
    virtual UINT WINAPI GetAvailableTextureMem() = 0;
    virtual HRESULT WINAPI GetDirect3D(IDirect3D9** ppD3D9) = 0;
    virtual HRESULT WINAPI GetDeviceCaps(D3DCAPS9* pCaps) = 0;
    virtual HRESULT WINAPI GetDisplayMode(UINT iSwapChain, D3DDISPLAYMODE* pMode) = 0;
    virtual HRESULT WINAPI Present(const RECT* pSourceRect, const RECT* pDestRect, HWND hDestWindowOverride,
                                   const RGNDATA* pDirtyRegion) = 0;
    virtual HRESULT WINAPI GetBackBuffer(UINT iSwapChain, UINT iBackBuffer, D3DBACKBUFFER_TYPE Type,
                                         IDirect3DSurface9** ppBackBuffer) = 0;
    virtual HRESULT WINAPI CreateTexture(UINT Width, UINT Height, UINT Levels, DWORD Usage, D3DFORMAT Format,
                                         D3DPOOL Pool, IDirect3DTexture9** ppTexture, HANDLE* pSharedHandle) = 0;
    virtual HRESULT WINAPI CreateVertexBuffer(UINT Length, DWORD Usage, DWORD FVF, D3DPOOL Pool,
                                              IDirect3DVertexBuffer9** ppVertexBuffer, HANDLE* pSharedHandle) = 0;
    virtual HRESULT WINAPI CreateIndexBuffer(UINT Length, DWORD Usage, D3DFORMAT Format, D3DPOOL Pool,
                                             IDirect3DIndexBuffer9** ppIndexBuffer, HANDLE* pSharedHandle) = 0;
    virtual HRESULT WINAPI GetRenderTarget(DWORD RenderTargetIndex, IDirect3DSurface9** ppRenderTarget) = 0;
    virtual HRESULT WINAPI BeginScene() = 0;
    virtual HRESULT WINAPI EndScene() = 0;
    virtual HRESULT WINAPI Clear(DWORD Count, const D3DRECT* pRects, DWORD Flags, D3DCOLOR Color, float Z,
                                 DWORD Stencil) = 0;
    virtual HRESULT WINAPI SetTransform(D3DTRANSFORMSTATETYPE State, const D3DMATRIX* pMatrix) = 0;
    virtual HRESULT WINAPI GetTransform(D3DTRANSFORMSTATETYPE State, D3DMATRIX* pMatrix) = 0;
    virtual HRESULT WINAPI MultiplyTransform(D3DTRANSFORMSTATETYPE State, const D3DMATRIX* pMatrix) = 0;
    virtual HRESULT WINAPI SetViewport(const D3DVIEWPORT9* pViewport) = 0;
    virtual HRESULT WINAPI GetViewport(D3DVIEWPORT9* pViewport) = 0;
    virtual HRESULT WINAPI SetMaterial(const D3DMATERIAL9* pMaterial) = 0;
    virtual HRESULT WINAPI GetMaterial(D3DMATERIAL9* pMaterial) = 0;
    virtual HRESULT WINAPI SetLight(DWORD Index, const D3DLIGHT9* pLight) = 0;
    virtual HRESULT WINAPI GetLight(DWORD Index, D3DLIGHT9* pLight) = 0;
    virtual HRESULT WINAPI LightEnable(DWORD Index, BOOL Enable) = 0;
    virtual HRESULT WINAPI GetLightEnable(DWORD Index, BOOL* pEnable) = 0;
    virtual HRESULT WINAPI SetRenderState(D3DRENDERSTATETYPE State, DWORD Value) = 0;
    virtual HRESULT WINAPI GetRenderState(D3DRENDERSTATETYPE State, DWORD* pValue) = 0;
    virtual HRESULT WINAPI GetTexture(DWORD Stage, IDirect3DBaseTexture9** ppTexture) = 0;
    virtual HRESULT WINAPI SetTexture(DWORD Stage, IDirect3DBaseTexture9* pTexture) = 0;
    virtual HRESULT WINAPI GetTextureStageState(DWORD Stage, D3DTEXTURESTAGESTATETYPE Type, DWORD* pValue) = 0;
    virtual HRESULT WINAPI SetTextureStageState(DWORD Stage, D3DTEXTURESTAGESTATETYPE Type, DWORD Value) = 0;
    virtual HRESULT WINAPI GetSamplerState(DWORD Sampler, D3DSAMPLERSTATETYPE Type, DWORD* pValue) = 0;
    virtual HRESULT WINAPI SetSamplerState(DWORD Sampler, D3DSAMPLERSTATETYPE Type, DWORD Value) = 0;
    virtual HRESULT WINAPI DrawPrimitive(D3DPRIMITIVETYPE PrimitiveType, UINT StartVertex, UINT PrimitiveCount) = 0;
    virtual HRESULT WINAPI DrawIndexedPrimitive(D3DPRIMITIVETYPE PrimitiveType, INT BaseVertexIndex,
                                                UINT MinVertexIndex, UINT NumVertices, UINT startIndex,
                                                UINT primCount) = 0;
    virtual HRESULT WINAPI DrawPrimitiveUP(D3DPRIMITIVETYPE PrimitiveType, UINT PrimitiveCount,
                                           const void* pVertexStreamZeroData, UINT VertexStreamZeroStride) = 0;
    virtual HRESULT WINAPI DrawIndexedPrimitiveUP(D3DPRIMITIVETYPE PrimitiveType, UINT MinVertexIndex,
                                                  UINT NumVertices, UINT PrimitiveCount, const void* pIndexData,
                                                  D3DFORMAT IndexDataFormat, const void* pVertexStreamZeroData,
                                                  UINT VertexStreamZeroStride) = 0;
    virtual HRESULT WINAPI SetFVF(DWORD FVF) = 0;
    virtual HRESULT WINAPI GetFVF(DWORD* pFVF) = 0;
    virtual HRESULT WINAPI SetVertexShader(IDirect3DVertexShader9* pShader) = 0;
    virtual HRESULT WINAPI GetVertexShader(IDirect3DVertexShader9** ppShader) = 0;
    virtual HRESULT WINAPI SetStreamSource(UINT StreamNumber, IDirect3DVertexBuffer9* pStreamData, UINT OffsetInBytes,
                                           UINT Stride) = 0;
    virtual HRESULT WINAPI GetStreamSource(UINT StreamNumber, IDirect3DVertexBuffer9** ppStreamData,
                                           UINT* pOffsetInBytes, UINT* pStride) = 0;
    virtual HRESULT WINAPI SetIndices(IDirect3DIndexBuffer9* pIndexData) = 0;
    virtual HRESULT WINAPI GetIndices(IDirect3DIndexBuffer9** ppIndexData) = 0;
    virtual HRESULT WINAPI SetPixelShader(IDirect3DPixelShader9* pShader) = 0;
    virtual HRESULT WINAPI GetPixelShader(IDirect3DPixelShader9** ppShader) = 0;
};

// Returns null for any SDK version but D3D_SDK_VERSION.
extern "C" VELMORA_API IDirect3D9* WINAPI Direct3DCreate9(UINT SDKVersion);

#endif // __cplusplus

#endif
