// ID3DXSprite: textured quads in screen pixels, gathered between Begin and End
// and drawn as pre-transformed triangles through the device.
#include "d3dx/internal.h"

#include <new>
#include <vector>

extern "C" {
const IID IID_ID3DXBuffer = {0x56e10101, 0x7a1d, 0x4d3a, {0x9b, 0x02, 0, 0, 0, 0, 0, 0x01}};
const IID IID_ID3DXFont = {0x56e10102, 0x7a1d, 0x4d3a, {0x9b, 0x02, 0, 0, 0, 0, 0, 0x02}};
const IID IID_ID3DXSprite = {0x56e10103, 0x7a1d, 0x4d3a, {0x9b, 0x02, 0, 0, 0, 0, 0, 0x03}};
const IID IID_ID3DXLine = {0x56e10104, 0x7a1d, 0x4d3a, {0x9b, 0x02, 0, 0, 0, 0, 0, 0x04}};
}

namespace {

class CSprite final : public d3dx::ComObject<ID3DXSprite, IID_ID3DXSprite>
{
public:
    explicit CSprite(IDirect3DDevice9* device) : m_Device(device)
    {
        m_Device->AddRef();
        D3DXMatrixIdentity(&m_Transform);
    }

    ~CSprite()
    {
        DropBatch();
        m_Device->Release();
    }


    HRESULT WINAPI GetDevice(IDirect3DDevice9** ppDevice) override { return d3dx::GetDeviceOf(m_Device, ppDevice); }

    HRESULT WINAPI GetTransform(D3DXMATRIX* pTransform) override
    {
        if (!pTransform)
            return D3DERR_INVALIDCALL;
        *pTransform = m_Transform;
        return S_OK;
    }

    HRESULT WINAPI SetTransform(const D3DXMATRIX* pTransform) override
    {
        if (!pTransform)
            return D3DERR_INVALIDCALL;
        m_Transform = *pTransform;
        return S_OK;
    }

    HRESULT WINAPI Begin(DWORD flags) override
    {
        if (m_Begun)
            return D3DERR_INVALIDCALL;
        m_Flags = flags;
        if (!(flags & D3DXSPRITE_DONOTSAVESTATE))
            m_State.Save(m_Device);
        m_Begun = true;
        return S_OK;
    }

    HRESULT WINAPI Draw(IDirect3DTexture9* pTexture, const RECT* pSrcRect, const D3DXVECTOR3* pCenter,
                        const D3DXVECTOR3* pPosition, D3DCOLOR color) override
    {
        if (!m_Begun || !pTexture)
            return D3DERR_INVALIDCALL;
        D3DSURFACE_DESC desc;
        if (FAILED(pTexture->GetLevelDesc(0, &desc)) || desc.Width == 0 || desc.Height == 0)
            return D3DERR_INVALIDCALL;
        RECT src = {0, 0, (LONG)desc.Width, (LONG)desc.Height};
        if (pSrcRect)
            src = *pSrcRect;
        float w = (float)(src.right - src.left), h = (float)(src.bottom - src.top);
        D3DXVECTOR3 centre = pCenter ? *pCenter : D3DXVECTOR3(0, 0, 0);
        D3DXVECTOR3 pos = pPosition ? *pPosition : D3DXVECTOR3(0, 0, 0);
        float u0 = src.left / (float)desc.Width, u1 = src.right / (float)desc.Width;
        float v0 = src.top / (float)desc.Height, v1 = src.bottom / (float)desc.Height;

        const float corners[4][4] = {{0, 0, u0, v0}, {w, 0, u1, v0}, {0, h, u0, v1}, {w, h, u1, v1}};
        d3dx::TexturedVertex quad[4];
        for (int i = 0; i < 4; ++i) {
            D3DXVECTOR3 p(corners[i][0] - centre.x + pos.x, corners[i][1] - centre.y + pos.y, pos.z - centre.z);
            D3DXVec3TransformCoord(&p, &p, &m_Transform);
            // Texel edges onto pixel edges: pixel centres lie on integers.
            quad[i] = {p.x - 0.5f, p.y - 0.5f, p.z < 0.0f ? 0.0f : p.z > 1.0f ? 1.0f : p.z, 1.0f, color,
                       corners[i][2], corners[i][3]};
        }
        Item item;
        item.texture = pTexture;
        pTexture->AddRef();
        const int order[6] = {0, 1, 2, 2, 1, 3};
        for (int i = 0; i < 6; ++i)
            item.vertices[i] = quad[order[i]];
        m_Batch.push_back(item);
        return S_OK;
    }

    HRESULT WINAPI Flush() override
    {
        if (!m_Begun)
            return D3DERR_INVALIDCALL;
        if (m_Batch.empty())
            return S_OK;
        if (!(m_Flags & D3DXSPRITE_DONOTMODIFY_RENDERSTATE))
            SetDrawingState();
        m_Device->SetFVF(d3dx::kTexturedFVF);
        std::vector<d3dx::TexturedVertex>& run = m_Run;
        size_t i = 0;
        while (i < m_Batch.size()) {
            IDirect3DTexture9* texture = m_Batch[i].texture;
            run.clear();
            for (; i < m_Batch.size() && m_Batch[i].texture == texture; ++i)
                run.insert(run.end(), m_Batch[i].vertices, m_Batch[i].vertices + 6);
            m_Device->SetTexture(0, texture);
            m_Device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, (UINT)(run.size() / 3), run.data(),
                                      sizeof(d3dx::TexturedVertex));
        }
        // The device holds the last texture only until state is given back.
        DropBatch();
        return S_OK;
    }

    HRESULT WINAPI End() override
    {
        if (!m_Begun)
            return D3DERR_INVALIDCALL;
        Flush();
        m_Device->SetTexture(0, nullptr);
        m_State.Restore(m_Device);
        m_Begun = false;
        return S_OK;
    }

    HRESULT WINAPI OnLostDevice() override { return S_OK; }
    HRESULT WINAPI OnResetDevice() override { return S_OK; }

private:
    struct Item {
        IDirect3DTexture9* texture;
        d3dx::TexturedVertex vertices[6];
    };

    void SetDrawingState()
    {
        if (m_Flags & D3DXSPRITE_ALPHABLEND) {
            m_Device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
            m_Device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
            m_Device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
            m_Device->SetRenderState(D3DRS_BLENDOP, D3DBLENDOP_ADD);
        } else {
            m_Device->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
        }
        m_Device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
        m_Device->SetRenderState(D3DRS_LIGHTING, FALSE);
        m_Device->SetRenderState(D3DRS_FILLMODE, D3DFILL_SOLID);
        m_Device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
        m_Device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
        m_Device->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
        m_Device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
        m_Device->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
        m_Device->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
        m_Device->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
        m_Device->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP);
        m_Device->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
        m_Device->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
        m_Device->SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_NONE);
        m_Device->SetVertexShader(nullptr);
        m_Device->SetPixelShader(nullptr);
    }

    void DropBatch()
    {
        for (Item& item : m_Batch)
            item.texture->Release();
        m_Batch.clear();
    }

    IDirect3DDevice9* m_Device;
    D3DXMATRIX m_Transform;
    DWORD m_Flags = 0;
    bool m_Begun = false;
    d3dx::SavedState m_State;
    std::vector<Item> m_Batch;
    // The vertices of one texture's run, kept between flushes.
    std::vector<d3dx::TexturedVertex> m_Run;
};

}  // namespace

HRESULT WINAPI D3DXCreateSprite(IDirect3DDevice9* pDevice, ID3DXSprite** ppSprite)
{
    if (!pDevice || !ppSprite)
        return D3DERR_INVALIDCALL;
    CSprite* sprite = new (std::nothrow) CSprite(pDevice);
    if (!sprite)
        return E_OUTOFMEMORY;
    *ppSprite = sprite;
    return S_OK;
}
