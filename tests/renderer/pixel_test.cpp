// The pixel stage's span loops against the general path on the state sets
// the scene draws: lit Gouraud with depth tests, translucent geometry, the
// sprite veil at alpha 0 and above, copying pixel programs; both target
// formats, so that the destination alpha is checked too.
#include "d3d_test_device.h"
#include "renderer/raster.h"
#include "render_threads.h"
#include "stage_support.h"

#include <d3dx9.h>

#include <gtest/gtest.h>

#include <stdlib.h>

#include <string>
#include <vector>

using namespace d3dtest;

namespace {

// Not a multiple of the loops' width nor of the threads' bands; the veil
// is large enough to be shared among threads.
const int kW = 301, kH = 203;

IDirect3DTexture9* SolidTexture(IDirect3DDevice9* dev, UINT size, D3DCOLOR color)
{
    IDirect3DTexture9* tex = nullptr;
    if (FAILED(dev->CreateTexture(size, size, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &tex, nullptr)))
        return nullptr;
    D3DLOCKED_RECT lr;
    if (SUCCEEDED(tex->LockRect(0, &lr, nullptr, 0))) {
        for (UINT y = 0; y < size; ++y)
            for (UINT x = 0; x < size; ++x)
                ((DWORD*)((BYTE*)lr.pBits + y * lr.Pitch))[x] = color;
        tex->UnlockRect(0);
    }
    return tex;
}

// Overlapping lit triangles at random depths in front of the camera.
void DrawLitTriangles(IDirect3DDevice9* dev, unsigned seed, int count, DWORD alpha)
{
    std::vector<LitVertex> v;
    auto next = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return (float)(seed >> 8) / 16777216.f;
    };
    for (int i = 0; i < count; ++i) {
        float cx = next() * 8.f - 4.f, cy = next() * 6.f - 3.f, cz = 3.f + next() * 10.f;
        for (int k = 0; k < 3; ++k) {
            float nx = next() - 0.5f, ny = next() - 0.5f;
            v.push_back({cx + next() * 3.f - 1.5f, cy + next() * 3.f - 1.5f, cz + next() * 4.f - 2.f, nx, ny, -1.f});
        }
    }
    D3DMATERIAL9 m;
    memset(&m, 0, sizeof m);
    m.Diffuse = {0.9f, 0.6f, 0.3f, alpha / 255.f};
    m.Ambient = {0.2f, 0.2f, 0.3f, 1.f};
    m.Specular = {1.f, 1.f, 1.f, 1.f};
    m.Power = 12.f;
    dev->SetMaterial(&m);
    dev->SetFVF(kLitFvf);
    dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, (UINT)count, v.data(), sizeof(LitVertex));
}

const char* kCopyEffect = R"(
float4x4 wvp;
struct VOut { float4 pos : POSITION; float4 colour : COLOR0; };
VOut CopyVS(float3 p : POSITION, float3 n : NORMAL)
{
    VOut o;
    o.pos = mul(float4(p, 1), wvp);
    o.colour = float4(n * 0.5 + 0.5, 0.7);
    return o;
}
float4 CopyPS(float4 colour : COLOR0) : COLOR0 { return colour; }
technique Copy { pass P0 { VertexShader = compile vs_2_0 CopyVS(); PixelShader = compile ps_2_0 CopyPS(); } }
)";

std::vector<DWORD> BackBufferPixels(IDirect3DDevice9* dev)
{
    IDirect3DSurface9* bb = nullptr;
    dev->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &bb);
    D3DLOCKED_RECT lr;
    std::vector<DWORD> px((size_t)kW * kH);
    if (SUCCEEDED(bb->LockRect(&lr, nullptr, D3DLOCK_READONLY))) {
        for (int y = 0; y < kH; ++y)
            memcpy(&px[(size_t)y * kW], (const BYTE*)lr.pBits + (size_t)y * lr.Pitch, kW * 4);
        bb->UnlockRect();
    }
    bb->Release();
    return px;
}

// A kW x kH device on `window`; null (and `d3d` released) when it fails.
IDirect3DDevice9* MakeDevice(IDirect3D9* d3d, HWND window, D3DFORMAT format)
{
    D3DPRESENT_PARAMETERS pp = WindowedParameters(kW, kH);
    pp.BackBufferFormat = format;
    IDirect3DDevice9* dev = nullptr;
    if (FAILED(d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window, D3DCREATE_HARDWARE_VERTEXPROCESSING, &pp,
                                 &dev))) {
        d3d->Release();
        return nullptr;
    }
    return dev;
}

// Clears, begins the scene and sets a camera and a light; the projection.
D3DMATRIX BeginLitScene(IDirect3DDevice9* dev)
{
    // Alpha 0x30 in the clear colour: a blend must leave or set it as the general path does.
    dev->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0x30203040, 1.f, 0);
    dev->BeginScene();
    D3DMATRIX proj = PerspectiveFovLH(1.f, (float)kW / kH, 0.5f, 50.f);
    dev->SetTransform(D3DTS_PROJECTION, &proj);
    D3DLIGHT9 light;
    memset(&light, 0, sizeof light);
    light.Type = D3DLIGHT_DIRECTIONAL;
    light.Diffuse = {1.f, 0.9f, 0.8f, 1.f};
    light.Specular = {1.f, 1.f, 1.f, 1.f};
    light.Direction = {0.3f, -0.4f, 1.f};
    dev->SetLight(0, &light);
    dev->LightEnable(0, TRUE);
    dev->SetRenderState(D3DRS_AMBIENT, 0xff202020);
    dev->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    return proj;
}

// One picture after each part; `fast` switches the specialised loops.
std::vector<std::vector<DWORD>> DrawScenes(bool fast, D3DFORMAT format)
{
    VelmoraSetFastPixelPaths(fast ? TRUE : FALSE);
    std::vector<std::vector<DWORD>> pictures;
    HWND window = MakeWindow(kW, kH);
    IDirect3D9* d3d = Direct3DCreate9(D3D_SDK_VERSION);
    IDirect3DDevice9* dev = MakeDevice(d3d, window, format);
    if (!dev)
        return {};
    auto part = [&] {
        dev->EndScene();
        pictures.push_back(BackBufferPixels(dev));
        dev->BeginScene();
    };
    const D3DMATRIX proj = BeginLitScene(dev);
    dev->SetRenderState(D3DRS_SPECULARENABLE, TRUE);

    // Opaque lit triangles under three depth tests.
    DrawLitTriangles(dev, 1, 40, 255);
    dev->SetRenderState(D3DRS_ZFUNC, D3DCMP_LESS);
    DrawLitTriangles(dev, 2, 30, 255);
    dev->SetRenderState(D3DRS_SPECULARENABLE, FALSE);
    dev->SetRenderState(D3DRS_ZFUNC, D3DCMP_GREATER);
    DrawLitTriangles(dev, 3, 10, 255);
    dev->SetRenderState(D3DRS_ZFUNC, D3DCMP_LESSEQUAL);
    part();

    // Translucent lit triangles over them, depth tested, not written.
    dev->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    dev->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    dev->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    dev->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
    DrawLitTriangles(dev, 4, 25, 0x70);
    dev->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
    dev->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    part();

    // The veil: an 8 x 8 white texture over everything, at alpha 0 (with
    // and without a depth test), then at 90; a clear texture at full alpha.
    IDirect3DTexture9* white = SolidTexture(dev, 8, 0xffffffff);
    IDirect3DTexture9* clear = SolidTexture(dev, 8, 0x00ffffff);
    ID3DXSprite* sprite = nullptr;
    D3DXCreateSprite(dev, &sprite);
    D3DXMATRIX scale;
    D3DXMatrixScaling(&scale, kW / 8.f + 0.3f, kH / 8.f + 0.7f, 1.f);
    dev->SetRenderState(D3DRS_SPECULARENABLE, TRUE);
    for (D3DCOLOR diffuse : {0x00ffffffu, 0x5affffffu}) {
        for (BOOL depth : {FALSE, TRUE}) {
            dev->SetRenderState(D3DRS_ZENABLE, depth);
            sprite->Begin(D3DXSPRITE_ALPHABLEND);
            sprite->SetTransform(&scale);
            sprite->Draw(white, nullptr, nullptr, nullptr, diffuse);
            sprite->End();
        }
        part();
    }
    sprite->Begin(D3DXSPRITE_ALPHABLEND);
    sprite->SetTransform(&scale);
    sprite->Draw(clear, nullptr, nullptr, nullptr, 0xffffffff);
    sprite->End();
    dev->SetRenderState(D3DRS_ZENABLE, TRUE);
    part();

    // A pixel program that hands on its colour, opaque and blended (the
    // veil wrote depth 0 everywhere).
    dev->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 1.f, 0);
    ID3DXEffect* effect = nullptr;
    ID3DXBuffer* errors = nullptr;
    HRESULT made = D3DXCreateEffect(dev, kCopyEffect, (UINT)strlen(kCopyEffect), nullptr, nullptr, 0, nullptr, &effect,
                                    &errors);
    if (errors) {
        ADD_FAILURE() << (const char*)errors->GetBufferPointer();
        errors->Release();
    }
    if (SUCCEEDED(made)) {
        effect->SetMatrix("wvp", (const D3DXMATRIX*)&proj);
        UINT passes = 0;
        effect->Begin(&passes, 0);
        effect->BeginPass(0);
        DrawLitTriangles(dev, 5, 20, 255);
        dev->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
        DrawLitTriangles(dev, 6, 20, 255);
        effect->EndPass();
        effect->End();
        effect->Release();
        dev->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    }
    part();

    // Text: glyph textures, sampled per pixel, over the picture.
    ID3DXFont* font = nullptr;
    if (SUCCEEDED(D3DXCreateFontA(dev, 22, 0, 700, 0, FALSE, 0, OUT_TT_ONLY_PRECIS, 0, 0, "Arial", &font))) {
        RECT r = {4, 4, kW - 4, kH - 4};
        font->DrawTextA(nullptr, "Velmora: every glyph as the general path draws it", -1, &r, DT_WORDBREAK, 0xffffe080);
        RECT low = {10, kH - 40, kW, kH};
        font->DrawTextA(nullptr, "0123456789 status", -1, &low, DT_LEFT, 0xa0ffffff);
        font->Release();
    }
    part();

    dev->EndScene();
    sprite->Release();
    white->Release();
    clear->Release();
    dev->Release();
    d3d->Release();
    DestroyWindow(window);
    VelmoraSetFastPixelPaths(TRUE);
    return pictures;
}

void ExpectSamePictures(D3DFORMAT format, const std::string& name)
{
    std::vector<std::vector<DWORD>> fast = DrawScenes(true, format);
    std::vector<std::vector<DWORD>> general = DrawScenes(false, format);
    ASSERT_EQ(fast.size(), 7u);
    ASSERT_EQ(general.size(), fast.size());
    for (size_t i = 0; i < fast.size(); ++i) {
        SavePng(name + "_" + std::to_string(i), fast[i], kW, kH);
        if (i > 0 && i != 2 && i != 4) {  // parts 2 and 4 blend at alpha 0
            int changed = 0;
            for (size_t p = 0; p < fast[i].size(); ++p)
                changed += fast[i][p] != fast[i - 1][p];
            EXPECT_GT(changed, 300) << "part " << i;
        }
        int differ = 0;
        for (size_t p = 0; p < fast[i].size(); ++p)
            differ += fast[i][p] != general[i][p];
        EXPECT_EQ(differ, 0) << "part " << i;
    }
    // The veil at alpha 0 keeps every colour; on a target without alpha the
    // stored alpha becomes opaque, as the general path writes it.
    for (size_t p = 0; p < fast[4].size(); ++p)
        ASSERT_EQ(fast[4][p] & 0xffffffu, fast[3][p] & 0xffffffu);
    for (size_t p = 0; p < fast[2].size(); ++p) {
        ASSERT_EQ(fast[2][p] & 0xffffffu, fast[1][p] & 0xffffffu);
        if (format == D3DFMT_A8R8G8B8)
            ASSERT_EQ(fast[2][p], fast[1][p]);
        else
            ASSERT_EQ(fast[2][p] >> 24, 0xffu);
    }
}

}  // namespace

TEST(RendererPixels, SpanLoopsDrawTheGeneralPathsPictures)
{
    ExpectSamePictures(D3DFMT_X8R8G8B8, "span_loops_x8");
}

TEST(RendererPixels, SpanLoopsKeepTheDestinationAlpha)
{
    ExpectSamePictures(D3DFMT_A8R8G8B8, "span_loops_a8");
}

TEST(RendererPixels, EveryThreadCountDrawsTheReference)
{
    std::vector<std::vector<DWORD>> one;
    {
        ScopedRenderThreads scope("1");
        one = DrawScenes(false, D3DFMT_X8R8G8B8);
    }
    // The fast paths on every thread count against the reference.
    for (int threads = 1; threads <= 8; ++threads) {
        ScopedRenderThreads scope(std::to_string(threads).c_str());
        std::vector<std::vector<DWORD>> several = DrawScenes(true, D3DFMT_X8R8G8B8);
        ASSERT_EQ(several.size(), one.size());
        for (size_t i = 0; i < one.size(); ++i)
            EXPECT_TRUE(several[i] == one[i]) << threads << " threads, part " << i;
    }
}

namespace {

struct ScreenVertex {
    float x, y, z, rhw;
    DWORD diffuse, specular;
};

// Draws of one source colour over a varied picture: uniform textures of
// every channel apart under sprites (filtered and point sampled), flat
// untextured quads with and without a flat specular sum. One picture after
// each draw.
std::vector<std::vector<DWORD>> DrawUniformBlends(bool fast, bool fits, D3DFORMAT format)
{
    vr::SetBlendTableFits(fits);
    VelmoraSetFastPixelPaths(fast ? TRUE : FALSE);
    HWND window = MakeWindow(kW, kH);
    IDirect3D9* d3d = Direct3DCreate9(D3D_SDK_VERSION);
    IDirect3DDevice9* dev = MakeDevice(d3d, window, format);
    if (!dev)
        return {};
    std::vector<std::vector<DWORD>> pictures;
    auto snap = [&] { pictures.push_back(BackBufferPixels(dev)); };
    BeginLitScene(dev);
    // Every byte value under the draws: 60 triangles of many shades.
    DrawLitTriangles(dev, 11, 60, 255);
    dev->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    dev->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    dev->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    DrawLitTriangles(dev, 12, 30, 0x90);
    snap();

    ID3DXSprite* sprite = nullptr;
    D3DXCreateSprite(dev, &sprite);
    IDirect3DTexture9* tinted = SolidTexture(dev, 4, 0x80c06020);
    IDirect3DTexture9* white = SolidTexture(dev, 8, 0xffffffff);
    D3DXMATRIX scale;
    D3DXMatrixScaling(&scale, kW / 3.f + 0.3f, kH / 3.f + 0.7f, 1.f);
    for (IDirect3DTexture9* tex : {tinted, white})
        for (D3DCOLOR diffuse : {0xf080ff40u, 0x5affffffu, 0xc0203040u, 0x10ffffffu})
            for (DWORD filter : {D3DTEXF_LINEAR, D3DTEXF_POINT}) {
                sprite->Begin(D3DXSPRITE_ALPHABLEND);
                dev->SetSamplerState(0, D3DSAMP_MAGFILTER, filter);
                dev->SetSamplerState(0, D3DSAMP_MINFILTER, filter);
                sprite->SetTransform(&scale);
                sprite->Draw(tex, nullptr, nullptr, nullptr, diffuse);
                sprite->End();
                snap();
            }

    // Flat quads without a texture, once with a flat specular sum.
    dev->SetTexture(0, nullptr);
    dev->SetRenderState(D3DRS_ZENABLE, FALSE);
    dev->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    dev->SetFVF(D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_SPECULAR);
    for (BOOL specular : {FALSE, TRUE}) {
        dev->SetRenderState(D3DRS_SPECULARENABLE, specular);
        const float x0 = 3.5f, y0 = 5.25f, x1 = kW - 7.f, y1 = kH - 2.5f;
        const ScreenVertex quad[4] = {{x0, y0, 0.5f, 1.f, 0x6090c0e0, 0x00302010},
                                      {x1, y0, 0.5f, 1.f, 0x6090c0e0, 0x00302010},
                                      {x0, y1, 0.5f, 1.f, 0x6090c0e0, 0x00302010},
                                      {x1, y1, 0.5f, 1.f, 0x6090c0e0, 0x00302010}};
        dev->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof(ScreenVertex));
        snap();
    }
    dev->EndScene();
    sprite->Release();
    tinted->Release();
    white->Release();
    dev->Release();
    d3d->Release();
    DestroyWindow(window);
    VelmoraSetFastPixelPaths(TRUE);
    vr::SetBlendTableFits(true);
    return pictures;
}

}  // namespace

// The blend tables (computed as linear fits or looked up) give the general
// path's bytes, on targets with and without alpha.
TEST(RendererPixels, BlendsOfOneSourceColourByTable)
{
    for (D3DFORMAT format : {D3DFMT_X8R8G8B8, D3DFMT_A8R8G8B8}) {
        const std::vector<std::vector<DWORD>> general = DrawUniformBlends(false, true, format);
        ASSERT_EQ(general.size(), 19u);
        for (size_t i = 1; i < general.size(); ++i) {
            int changed = 0;
            for (size_t p = 0; p < general[i].size(); ++p)
                changed += general[i][p] != general[i - 1][p];
            EXPECT_GT(changed, kW * kH / 20) << "draw " << i;
        }
        for (bool fits : {true, false}) {
            const std::vector<std::vector<DWORD>> fast = DrawUniformBlends(true, fits, format);
            ASSERT_EQ(fast.size(), general.size());
            for (size_t i = 0; i < fast.size(); ++i) {
                int differ = 0;
                for (size_t p = 0; p < fast[i].size(); ++p)
                    differ += fast[i][p] != general[i][p];
                EXPECT_EQ(differ, 0) << "draw " << i << (fits ? " fitted" : " looked up") << " format " << format;
            }
        }
    }
}
