// Shared pieces of the D3DX objects: reference counting and the device state
// that Begin saves and End gives back.
#ifndef VELMORA_D3DX_INTERNAL_H
#define VELMORA_D3DX_INTERNAL_H

#include <d3dx9.h>

namespace d3dx {

// Vertices of the screen-space drawing: pre-transformed, coloured, textured.
struct ScreenVertex {
    float x, y, z, rhw;
    DWORD color;
};
struct TexturedVertex {
    float x, y, z, rhw;
    DWORD color;
    float u, v;
};
const DWORD kScreenFVF = D3DFVF_XYZRHW | D3DFVF_DIFFUSE;
const DWORD kTexturedFVF = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1;

// The states that the sprite and the line change while they draw; Save reads
// them from the device and Restore writes back what was read.
class SavedState
{
public:
    SavedState() = default;
    ~SavedState() { Clear(); }
    SavedState(const SavedState&) = delete;
    SavedState& operator=(const SavedState&) = delete;

    void Save(IDirect3DDevice9* device);
    void Restore(IDirect3DDevice9* device);
    bool IsSaved() const { return m_Saved; }

private:
    void Clear();

    bool m_Saved = false;
    DWORD m_RenderStates[16] = {};
    bool m_RenderStateRead[16] = {};
    DWORD m_StageStates[8] = {};
    bool m_StageStateRead[8] = {};
    DWORD m_SamplerStates[5] = {};
    bool m_SamplerStateRead[5] = {};
    DWORD m_FVF = 0;
    bool m_FVFRead = false;
    IDirect3DBaseTexture9* m_Texture = nullptr;
    IDirect3DVertexShader9* m_VertexShader = nullptr;
    IDirect3DPixelShader9* m_PixelShader = nullptr;
};

// The IUnknown side of an object made by D3DX: one interface besides
// IUnknown, and a reference count that deletes the object at zero.
template <class Interface, const IID& InterfaceId>
class ComObject : public Interface
{
public:
    HRESULT WINAPI QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_INVALIDARG;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, InterfaceId)) {
            *ppv = static_cast<Interface*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG WINAPI AddRef() override { return ++m_Refs; }
    ULONG WINAPI Release() override
    {
        ULONG n = --m_Refs;
        if (n == 0)
            delete this;
        return n;
    }

protected:
    ComObject() = default;
    virtual ~ComObject() = default;

private:
    ULONG m_Refs = 1;
};

// Hands out the device an object was made on, with a reference for the caller.
inline HRESULT GetDeviceOf(IDirect3DDevice9* device, IDirect3DDevice9** ppDevice)
{
    if (!ppDevice)
        return D3DERR_INVALIDCALL;
    device->AddRef();
    *ppDevice = device;
    return S_OK;
}

}  // namespace d3dx

#endif
