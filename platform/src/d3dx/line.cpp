// ID3DXLine: polylines in screen pixels, each segment a quad of the line's
// width (with soft edges when antialiased), cut into dashes by the pattern.
#include "d3dx/internal.h"

#include <math.h>
#include <new>
#include <vector>

namespace {

class CLine final : public d3dx::ComObject<ID3DXLine, IID_ID3DXLine>
{
public:
    explicit CLine(IDirect3DDevice9* device) : m_Device(device) { m_Device->AddRef(); }
    ~CLine() { m_Device->Release(); }


    HRESULT WINAPI GetDevice(IDirect3DDevice9** ppDevice) override { return d3dx::GetDeviceOf(m_Device, ppDevice); }

    HRESULT WINAPI Begin() override
    {
        if (m_Begun)
            return D3DERR_INVALIDCALL;
        m_State.Save(m_Device);
        m_Device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
        m_Device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
        m_Device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
        m_Device->SetRenderState(D3DRS_BLENDOP, D3DBLENDOP_ADD);
        m_Device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
        m_Device->SetRenderState(D3DRS_LIGHTING, FALSE);
        m_Device->SetRenderState(D3DRS_FILLMODE, D3DFILL_SOLID);
        m_Device->SetTexture(0, nullptr);
        m_Device->SetVertexShader(nullptr);
        m_Device->SetPixelShader(nullptr);
        m_Device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG2);
        m_Device->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
        m_Device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG2);
        m_Device->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
        m_Begun = true;
        return S_OK;
    }

    HRESULT WINAPI Draw(const D3DXVECTOR2* points, DWORD count, D3DCOLOR color) override
    {
        if (!points || count < 2)
            return D3DERR_INVALIDCALL;
        // Outside Begin and End a draw brackets itself, as D3DX does.
        bool own = !m_Begun;
        if (own)
            Begin();
        m_Vertices.clear();
        BuildPolyline(points, count, color);
        HRESULT hr = S_OK;
        if (!m_Vertices.empty()) {
            m_Device->SetFVF(d3dx::kScreenFVF);
            hr = m_Device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, (UINT)(m_Vertices.size() / 3), m_Vertices.data(),
                                           sizeof(d3dx::ScreenVertex));
        }
        if (own)
            End();
        return hr;
    }

    HRESULT WINAPI DrawTransform(const D3DXVECTOR3* points, DWORD count, const D3DXMATRIX* transform,
                                 D3DCOLOR color) override
    {
        if (!points || !transform || count < 2)
            return D3DERR_INVALIDCALL;
        // Projected to the viewport, then drawn as a screen polyline.
        D3DVIEWPORT9 vp;
        if (FAILED(m_Device->GetViewport(&vp)))
            return D3DERR_INVALIDCALL;
        std::vector<D3DXVECTOR2>& screen = m_Screen;
        screen.resize(count);
        for (DWORD i = 0; i < count; ++i) {
            D3DXVECTOR3 p;
            D3DXVec3Project(&p, &points[i], &vp, transform, nullptr, nullptr);
            screen[i] = D3DXVECTOR2(p.x, p.y);
        }
        return Draw(screen.data(), count, color);
    }

    HRESULT WINAPI SetPattern(DWORD pattern) override
    {
        m_Pattern = pattern;
        return S_OK;
    }
    DWORD WINAPI GetPattern() override { return m_Pattern; }
    HRESULT WINAPI SetPatternScale(FLOAT scale) override
    {
        m_PatternScale = scale;
        return S_OK;
    }
    FLOAT WINAPI GetPatternScale() override { return m_PatternScale; }
    HRESULT WINAPI SetWidth(FLOAT width) override
    {
        m_Width = width;
        return S_OK;
    }
    FLOAT WINAPI GetWidth() override { return m_Width; }
    HRESULT WINAPI SetAntialias(BOOL antialias) override
    {
        m_Antialias = antialias;
        return S_OK;
    }
    BOOL WINAPI GetAntialias() override { return m_Antialias; }
    HRESULT WINAPI SetGLLines(BOOL glLines) override
    {
        m_GLLines = glLines;
        return S_OK;
    }
    BOOL WINAPI GetGLLines() override { return m_GLLines; }

    HRESULT WINAPI End() override
    {
        if (!m_Begun)
            return D3DERR_INVALIDCALL;
        m_State.Restore(m_Device);
        m_Begun = false;
        return S_OK;
    }

    HRESULT WINAPI OnLostDevice() override { return S_OK; }
    HRESULT WINAPI OnResetDevice() override { return S_OK; }

private:
    // Joins consecutive segments with mitred corners, so that neighbouring
    // quads share their edges: no gaps and no double blending at the corners.
    void BuildPolyline(const D3DXVECTOR2* points, DWORD count, D3DCOLOR color)
    {
        if (!(m_Width > 0.0f))
            return;
        std::vector<D3DXVECTOR2>& pts = m_Points;
        pts.clear();
        for (DWORD i = 0; i < count; ++i) {
            if (!isfinite(points[i].x) || !isfinite(points[i].y))
                continue;
            if (pts.empty() || pts.back() != points[i])
                pts.push_back(points[i]);
        }
        if (pts.size() < 2)
            return;
        size_t segments = pts.size() - 1;
        std::vector<D3DXVECTOR2>& sides = m_Sides;
        sides.assign(pts.size(), D3DXVECTOR2(0, 0));
        std::vector<D3DXVECTOR2>& normals = m_Normals;
        normals.resize(segments);
        for (size_t i = 0; i < segments; ++i) {
            D3DXVECTOR2 d = pts[i + 1] - pts[i];
            D3DXVec2Normalize(&d, &d);
            // Perpendicular, or along the minor axis for GL-style lines.
            if (m_GLLines)
                normals[i] = fabsf(d.x) >= fabsf(d.y) ? D3DXVECTOR2(0, 1) : D3DXVECTOR2(1, 0);
            else
                normals[i] = D3DXVECTOR2(-d.y, d.x);
        }
        sides[0] = normals[0];
        sides[segments] = normals[segments - 1];
        for (size_t j = 1; j < segments; ++j) {
            D3DXVECTOR2 m = normals[j - 1] + normals[j];
            float len = D3DXVec2Length(&m);
            if (m_GLLines || len < 1e-3f) {
                sides[j] = normals[j];
                continue;
            }
            m /= len;
            float cosHalf = m.x * normals[j].x + m.y * normals[j].y;
            float scale = cosHalf > 0.25f ? 1.0f / cosHalf : 4.0f;  // sharp corners are cut short
            sides[j] = m * scale;
        }
        float distance = 0.0f;
        for (size_t i = 0; i < segments; ++i) {
            D3DXVECTOR2 sa = sides[i], sb = sides[i + 1];
            if (m_GLLines)
                sa = sb = normals[i];
            AddSegment(pts[i], pts[i + 1], sa, sb, color, distance);
        }
    }

    void AddSegment(const D3DXVECTOR2& a, const D3DXVECTOR2& b, const D3DXVECTOR2& sideA, const D3DXVECTOR2& sideB,
                    D3DCOLOR color, float& distance)
    {
        D3DXVECTOR2 d = b - a;
        float length = D3DXVec2Length(&d);
        if (!(length > 0.0f) || !isfinite(length))
            return;
        if (m_Pattern == 0xFFFFFFFF) {
            AddPiece(a, b, sideA, sideB, color);
            distance += length;
            return;
        }
        if (m_Pattern == 0) {
            distance += length;
            return;
        }
        // Bit k % 32 of the pattern covers the distances [k, k + 1) x scale
        // along the polyline; runs of set bits become one piece each.
        double scale = m_PatternScale > 0.0f ? m_PatternScale : 1.0;
        if (length / scale > 100000.0)
            scale = length / 100000.0;  // bounds the work for absurd scales
        double begin = distance, end = (double)distance + length;
        double runStart = -1.0;
        auto emit = [&](double t0, double t1) {
            float f0 = (float)(t0 / length), f1 = (float)(t1 / length);
            AddPiece(a + d * f0, a + d * f1, sideA + (sideB - sideA) * f0, sideA + (sideB - sideA) * f1, color);
        };
        for (double k = floor(begin / scale); k * scale < end; k += 1.0) {
            double c0 = k * scale > begin ? k * scale : begin;
            bool on = (m_Pattern >> (unsigned)fmod(k, 32.0)) & 1u;
            if (on && runStart < 0.0)
                runStart = c0 - begin;
            if (!on && runStart >= 0.0) {
                emit(runStart, c0 - begin);
                runStart = -1.0;
            }
        }
        if (runStart >= 0.0)
            emit(runStart, length);
        distance += length;
    }

    // One piece of the line between a and b; the sides are the unit offsets
    // (mitred at corners) at each end.
    void AddPiece(const D3DXVECTOR2& a, const D3DXVECTOR2& b, const D3DXVECTOR2& sideA, const D3DXVECTOR2& sideB,
                  D3DCOLOR color)
    {
        float half = m_Width * 0.5f;
        if (!m_Antialias) {
            AddQuad(a, b, sideA * -half, sideB * -half, sideA * half, sideB * half, color, color);
            return;
        }
        // A solid core and one-pixel soft fringes fading to transparent.
        DWORD clear = color & 0x00FFFFFF;
        float inner = half > 0.5f ? half - 0.5f : 0.0f;
        float outer = half + 0.5f;
        DWORD core = color;
        if (half < 0.5f) {
            // Thinner than a pixel: the coverage goes into the alpha.
            DWORD alpha = (DWORD)((color >> 24) * (half * 2.0f));
            core = (alpha << 24) | clear;
        }
        if (inner > 0.0f)
            AddQuad(a, b, sideA * -inner, sideB * -inner, sideA * inner, sideB * inner, core, core);
        AddQuad(a, b, sideA * inner, sideB * inner, sideA * outer, sideB * outer, core, clear);
        AddQuad(a, b, sideA * -inner, sideB * -inner, sideA * -outer, sideB * -outer, core, clear);
    }

    // The quad between two offset edges of the piece, coloured per edge.
    void AddQuad(const D3DXVECTOR2& a, const D3DXVECTOR2& b, const D3DXVECTOR2& oa0, const D3DXVECTOR2& ob0,
                 const D3DXVECTOR2& oa1, const D3DXVECTOR2& ob1, DWORD c0, DWORD c1)
    {
        d3dx::ScreenVertex v[4] = {{a.x + oa0.x, a.y + oa0.y, 0.0f, 1.0f, c0},
                                   {b.x + ob0.x, b.y + ob0.y, 0.0f, 1.0f, c0},
                                   {a.x + oa1.x, a.y + oa1.y, 0.0f, 1.0f, c1},
                                   {b.x + ob1.x, b.y + ob1.y, 0.0f, 1.0f, c1}};
        const int order[6] = {0, 1, 2, 2, 1, 3};
        for (int i = 0; i < 6; ++i)
            m_Vertices.push_back(v[order[i]]);
    }

    IDirect3DDevice9* m_Device;
    bool m_Begun = false;
    d3dx::SavedState m_State;
    std::vector<d3dx::ScreenVertex> m_Vertices;
    std::vector<D3DXVECTOR2> m_Points;
    std::vector<D3DXVECTOR2> m_Sides;
    // Work arrays kept between draws, so that a steady frame allocates nothing.
    std::vector<D3DXVECTOR2> m_Normals;
    std::vector<D3DXVECTOR2> m_Screen;
    DWORD m_Pattern = 0xFFFFFFFF;
    float m_PatternScale = 1.0f;
    float m_Width = 1.0f;
    BOOL m_Antialias = FALSE;
    BOOL m_GLLines = FALSE;
};

}  // namespace

HRESULT WINAPI D3DXCreateLine(IDirect3DDevice9* pDevice, ID3DXLine** ppLine)
{
    if (!pDevice || !ppLine)
        return D3DERR_INVALIDCALL;
    CLine* line = new (std::nothrow) CLine(pDevice);
    if (!line)
        return E_OUTOFMEMORY;
    *ppLine = line;
    return S_OK;
}
