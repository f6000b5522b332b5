// Saving and restoring the device state around the D3DX drawing objects.
#include "d3dx/internal.h"

namespace d3dx {

namespace {

const D3DRENDERSTATETYPE kRenderStates[] = {
    D3DRS_ALPHABLENDENABLE, D3DRS_SRCBLEND, D3DRS_DESTBLEND,  D3DRS_BLENDOP,  D3DRS_ZENABLE,
    D3DRS_ZWRITEENABLE,     D3DRS_CULLMODE, D3DRS_LIGHTING,   D3DRS_FILLMODE, D3DRS_ALPHATESTENABLE,
    D3DRS_ALPHAREF,         D3DRS_ALPHAFUNC, D3DRS_SCISSORTESTENABLE,
};
const D3DTEXTURESTAGESTATETYPE kStageStates[] = {
    D3DTSS_COLOROP, D3DTSS_COLORARG1, D3DTSS_COLORARG2, D3DTSS_ALPHAOP, D3DTSS_ALPHAARG1, D3DTSS_ALPHAARG2,
};
const D3DSAMPLERSTATETYPE kSamplerStates[] = {
    D3DSAMP_ADDRESSU, D3DSAMP_ADDRESSV, D3DSAMP_MAGFILTER, D3DSAMP_MINFILTER, D3DSAMP_MIPFILTER,
};

static_assert(sizeof(kRenderStates) / sizeof(kRenderStates[0]) <= 16, "render state table");
static_assert(sizeof(kStageStates) / sizeof(kStageStates[0]) <= 8, "stage state table");
static_assert(sizeof(kSamplerStates) / sizeof(kSamplerStates[0]) <= 5, "sampler state table");

}  // namespace

void SavedState::Save(IDirect3DDevice9* device)
{
    Clear();
    for (size_t i = 0; i < sizeof(kRenderStates) / sizeof(kRenderStates[0]); ++i)
        m_RenderStateRead[i] = SUCCEEDED(device->GetRenderState(kRenderStates[i], &m_RenderStates[i]));
    for (size_t i = 0; i < sizeof(kStageStates) / sizeof(kStageStates[0]); ++i)
        m_StageStateRead[i] = SUCCEEDED(device->GetTextureStageState(0, kStageStates[i], &m_StageStates[i]));
    for (size_t i = 0; i < sizeof(kSamplerStates) / sizeof(kSamplerStates[0]); ++i)
        m_SamplerStateRead[i] = SUCCEEDED(device->GetSamplerState(0, kSamplerStates[i], &m_SamplerStates[i]));
    m_FVFRead = SUCCEEDED(device->GetFVF(&m_FVF));
    if (FAILED(device->GetTexture(0, &m_Texture)))
        m_Texture = nullptr;
    if (FAILED(device->GetVertexShader(&m_VertexShader)))
        m_VertexShader = nullptr;
    if (FAILED(device->GetPixelShader(&m_PixelShader)))
        m_PixelShader = nullptr;
    m_Saved = true;
}

void SavedState::Restore(IDirect3DDevice9* device)
{
    if (!m_Saved)
        return;
    for (size_t i = 0; i < sizeof(kRenderStates) / sizeof(kRenderStates[0]); ++i)
        if (m_RenderStateRead[i])
            device->SetRenderState(kRenderStates[i], m_RenderStates[i]);
    for (size_t i = 0; i < sizeof(kStageStates) / sizeof(kStageStates[0]); ++i)
        if (m_StageStateRead[i])
            device->SetTextureStageState(0, kStageStates[i], m_StageStates[i]);
    for (size_t i = 0; i < sizeof(kSamplerStates) / sizeof(kSamplerStates[0]); ++i)
        if (m_SamplerStateRead[i])
            device->SetSamplerState(0, kSamplerStates[i], m_SamplerStates[i]);
    if (m_FVFRead)
        device->SetFVF(m_FVF);
    device->SetTexture(0, m_Texture);
    device->SetVertexShader(m_VertexShader);
    device->SetPixelShader(m_PixelShader);
    Clear();
}

void SavedState::Clear()
{
    if (m_Texture)
        m_Texture->Release();
    if (m_VertexShader)
        m_VertexShader->Release();
    if (m_PixelShader)
        m_PixelShader->Release();
    m_Texture = nullptr;
    m_VertexShader = nullptr;
    m_PixelShader = nullptr;
    m_Saved = false;
}

}  // namespace d3dx
