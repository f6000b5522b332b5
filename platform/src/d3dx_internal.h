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

// Reference count of an object made by D3DX.
class RefCount
{
public:
    ULONG Add() { return ++m_Count; }
    ULONG Sub() { return --m_Count; }

private:
    ULONG m_Count = 1;
};

}  // namespace d3dx

#endif
