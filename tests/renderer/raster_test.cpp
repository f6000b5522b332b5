// The software renderer seen through the device: coverage, clipping, depth,
// interpolation, lighting, blending, culling and texturing.
#include "d3d_test_device.h"
#include "d3d_test_png.h"

#include <d3dx9.h>

#include <gtest/gtest.h>

#include <math.h>

#include <string>

using namespace d3dtest;

namespace {

// Additive blending of 1/255 per write: each pixel's value counts its writes.
void CountWrites(IDirect3DDevice9* dev)
{
    dev->SetRenderState(D3DRS_ZENABLE, FALSE);
    dev->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    dev->SetRenderState(D3DRS_LIGHTING, FALSE);
    dev->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    dev->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
    dev->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
}

void BeginFrame(IDirect3DDevice9* dev, D3DCOLOR clear = 0)
{
    dev->Clear(0, NULL, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, clear, 1.f, 0);
    dev->BeginScene();
}

}  // namespace

TEST(Renderer, SharedEdgesCoverEachPixelOnce)
{
    Device d(67, 45);
    ASSERT_TRUE(d.device);
    IDirect3DDevice9* dev = d.device;
    CountWrites(dev);

    // A full-screen quad of two triangles in screen space.
    BeginFrame(dev);
    DrawRect(dev, 0.f, 0.f, 67.f, 45.f, 0x01010101);
    dev->EndScene();
    std::vector<DWORD> px = d.Pixels();
    for (size_t i = 0; i < px.size(); ++i)
        ASSERT_EQ(Red(px[i]), 1) << "pixel " << i % 67 << "," << i / 67;

    // The same through the transform: a clip-space quad over the whole viewport.
    D3DMATRIX identity = Identity();
    dev->SetTransform(D3DTS_PROJECTION, &identity);
    ColorVertex q[4] = {{-1, 1, 0.5f, 0x01010101}, {1, 1, 0.5f, 0x01010101}, {-1, -1, 0.5f, 0x01010101},
                        {1, -1, 0.5f, 0x01010101}};
    BeginFrame(dev);
    dev->SetFVF(kColorFvf);
    dev->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, q, sizeof(ColorVertex));
    dev->EndScene();
    px = d.Pixels();
    for (size_t i = 0; i < px.size(); ++i)
        ASSERT_EQ(Red(px[i]), 1) << "pixel " << i % 67 << "," << i / 67;

    // A fan of thin triangles around an off-grid centre, every edge shared:
    // no pixel twice, and no gap against the outline drawn as one polygon.
    BeginFrame(dev);
    const int n = 37;
    std::vector<RhwVertex> fan;
    fan.push_back({33.3f, 22.6f, 0.5f, 1.f, 0x01010101});
    for (int i = 0; i <= n; ++i) {
        float a = 6.2831853f * i / n;
        fan.push_back({33.3f + 30.17f * cosf(a), 22.6f + 20.31f * sinf(a), 0.5f, 1.f, 0x01010101});
    }
    dev->SetFVF(kRhwFvf);
    dev->DrawPrimitiveUP(D3DPT_TRIANGLEFAN, n, fan.data(), sizeof(RhwVertex));
    dev->EndScene();
    std::vector<DWORD> fanPx = d.Pixels();
    int covered = 0;
    for (DWORD p : fanPx) {
        ASSERT_LE(Red(p), 1);
        covered += Red(p);
    }
    EXPECT_GT(covered, 1500);
}

TEST(Renderer, NearPlaneClipsInsteadOfWrapping)
{
    Device d(64, 64);
    ASSERT_TRUE(d.device);
    IDirect3DDevice9* dev = d.device;
    dev->SetRenderState(D3DRS_LIGHTING, FALSE);
    dev->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    D3DMATRIX proj = PerspectiveFovLH(1.5707964f, 1.f, 0.1f, 100.f);
    dev->SetTransform(D3DTS_PROJECTION, &proj);

    // Two corners in front of the eye, one behind it.
    ColorVertex tri[3] = {{-1, -1, 2, 0xffffffff}, {1, -1, 2, 0xffffffff}, {0, 1, -1, 0xffffffff}};
    BeginFrame(dev);
    dev->SetFVF(kColorFvf);
    EXPECT_EQ(dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, tri, sizeof(ColorVertex)), D3D_OK);
    dev->EndScene();
    std::vector<DWORD> px = d.Pixels();
    SavePng("near_clip", px, 64, 64);
    int above = 0, below = 0;
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            if (y < 47)
                above += px[y * 64 + x] != 0;
            if (y > 49)
                below += px[y * 64 + x] != 0;
        }
    // The front corners project to row 48 and the visible part rises from
    // there to beyond the top; a corner wrapped through w < 0 would land at
    // the bottom centre instead.
    EXPECT_GT(above, 500);
    EXPECT_EQ(below, 0);

    // Wholly behind the eye, or beyond the far plane: nothing.
    ColorVertex behind[3] = {{-1, -1, -2, 0xffffffff}, {1, -1, -2, 0xffffffff}, {0, 1, -3, 0xffffffff}};
    ColorVertex far[3] = {{-1, -1, 200, 0xffffffff}, {1, -1, 200, 0xffffffff}, {0, 1, 300, 0xffffffff}};
    BeginFrame(dev);
    dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, behind, sizeof(ColorVertex));
    dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, far, sizeof(ColorVertex));
    dev->EndScene();
    for (DWORD p : d.Pixels())
        ASSERT_EQ(p, 0u);
}

TEST(Renderer, DepthTestAndComparisons)
{
    Device d(32, 32);
    ASSERT_TRUE(d.device);
    IDirect3DDevice9* dev = d.device;
    dev->SetRenderState(D3DRS_LIGHTING, FALSE);
    DWORD zfunc = 0, zenable = 0;
    dev->GetRenderState(D3DRS_ZFUNC, &zfunc);
    dev->GetRenderState(D3DRS_ZENABLE, &zenable);
    EXPECT_EQ(zfunc, (DWORD)D3DCMP_LESSEQUAL);
    EXPECT_EQ(zenable, (DWORD)D3DZB_TRUE);

    // Near first or far first: the near one stays in front.
    BeginFrame(dev);
    DrawRect(dev, 0, 0, 32, 32, 0xffff0000, 0.3f);
    DrawRect(dev, 0, 0, 32, 32, 0xff00ff00, 0.6f);
    dev->EndScene();
    EXPECT_EQ(d.Pixel(5, 5), 0xffff0000u);
    BeginFrame(dev);
    DrawRect(dev, 0, 0, 32, 32, 0xff00ff00, 0.6f);
    DrawRect(dev, 0, 0, 32, 32, 0xffff0000, 0.3f);
    dev->EndScene();
    EXPECT_EQ(d.Pixel(5, 5), 0xffff0000u);

    // Equal depth passes LESSEQUAL but not LESS.
    BeginFrame(dev);
    DrawRect(dev, 0, 0, 32, 32, 0xffff0000, 0.5f);
    DrawRect(dev, 0, 0, 32, 32, 0xff0000ff, 0.5f);
    dev->EndScene();
    EXPECT_EQ(d.Pixel(7, 9), 0xff0000ffu);
    dev->SetRenderState(D3DRS_ZFUNC, D3DCMP_LESS);
    BeginFrame(dev);
    DrawRect(dev, 0, 0, 32, 32, 0xffff0000, 0.5f);
    DrawRect(dev, 0, 0, 32, 32, 0xff0000ff, 0.5f);
    dev->EndScene();
    EXPECT_EQ(d.Pixel(7, 9), 0xffff0000u);
    dev->SetRenderState(D3DRS_ZFUNC, D3DCMP_GREATER);
    BeginFrame(dev, 0);
    dev->Clear(0, NULL, D3DCLEAR_ZBUFFER, 0, 0.f, 0);
    DrawRect(dev, 0, 0, 32, 32, 0xffff0000, 0.3f);
    DrawRect(dev, 0, 0, 32, 32, 0xff00ff00, 0.6f);
    dev->EndScene();
    EXPECT_EQ(d.Pixel(5, 5), 0xff00ff00u);
    dev->SetRenderState(D3DRS_ZFUNC, D3DCMP_LESSEQUAL);

    // Without depth writes the far quad is not hidden by the first; without
    // the depth test the last one drawn wins.
    dev->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
    BeginFrame(dev);
    DrawRect(dev, 0, 0, 32, 32, 0xffff0000, 0.3f);
    DrawRect(dev, 0, 0, 32, 32, 0xff00ff00, 0.6f);
    dev->EndScene();
    EXPECT_EQ(d.Pixel(5, 5), 0xff00ff00u);
    dev->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
    dev->SetRenderState(D3DRS_ZENABLE, FALSE);
    BeginFrame(dev);
    DrawRect(dev, 0, 0, 32, 32, 0xffff0000, 0.3f);
    DrawRect(dev, 0, 0, 32, 32, 0xff00ff00, 0.6f);
    dev->EndScene();
    EXPECT_EQ(d.Pixel(5, 5), 0xff00ff00u);
}

TEST(Renderer, PerspectiveCorrectInterpolation)
{
    const int S = 128;
    Device d(S, S);
    ASSERT_TRUE(d.device);
    IDirect3DDevice9* dev = d.device;
    dev->SetRenderState(D3DRS_LIGHTING, FALSE);
    dev->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    D3DMATRIX proj = PerspectiveFovLH(1.5707964f, 1.f, 0.1f, 100.f);
    dev->SetTransform(D3DTS_PROJECTION, &proj);

    // A floor from z = 1 (red 0) to z = 3 (red 255), seen from above it.
    ColorVertex q[4] = {{-4, -1, 1, 0xff000000}, {4, -1, 1, 0xff000000}, {-4, -1, 3, 0xffff0000},
                        {4, -1, 3, 0xffff0000}};
    BeginFrame(dev);
    dev->SetFVF(kColorFvf);
    dev->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, q, sizeof(ColorVertex));
    dev->EndScene();
    std::vector<DWORD> px = d.Pixels();
    SavePng("receding_floor", px, S, S);
    // World z = 2 (half way, red 127.5) projects to NDC y = -0.5: row 96.
    // Interpolating on the screen would give about 191 there.
    EXPECT_NEAR(Red(px[96 * S + S / 2]), 128, 3);
    // The same for z = 1.5 (red 63.75): NDC y = -2/3, row 106.67.
    EXPECT_NEAR(Red(px[107 * S + S / 2]), 64, 4);
}

namespace {

struct LightCase {
    D3DMATERIAL9 material;
    D3DLIGHT9 light;
    D3DCOLOR ambient;
    bool specular;
};

// Lights a triangle whose three corners see the light alike (all at the same
// distance, normal towards the light at the eye) and returns the centre pixel.
DWORD LightTriangle(Device& d, const LightCase& c)
{
    IDirect3DDevice9* dev = d.device;
    dev->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    dev->SetRenderState(D3DRS_LIGHTING, TRUE);
    dev->SetRenderState(D3DRS_AMBIENT, c.ambient);
    dev->SetRenderState(D3DRS_SPECULARENABLE, c.specular);
    D3DMATRIX proj = PerspectiveFovLH(1.5707964f, 1.f, 0.1f, 100.f);
    dev->SetTransform(D3DTS_PROJECTION, &proj);
    dev->SetMaterial(&c.material);
    dev->SetLight(0, &c.light);
    dev->LightEnable(0, TRUE);
    LitVertex tri[3] = {{0, 3, 5, 0, 0, -1}, {-2.598076f, -1.5f, 5, 0, 0, -1}, {2.598076f, -1.5f, 5, 0, 0, -1}};
    BeginFrame(dev);
    dev->SetFVF(kLitFvf);
    dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, tri, sizeof(LitVertex));
    dev->EndScene();
    return d.Pixel(d.width / 2, d.height / 2);
}

D3DCOLORVALUE Rgba(float r, float g, float b, float a = 1.f)
{
    D3DCOLORVALUE c = {r, g, b, a};
    return c;
}

int Byte(float v)
{
    v = v < 0 ? 0 : (v > 1 ? 1 : v);
    return (int)(v * 255.f + 0.5f);
}

}  // namespace

TEST(Renderer, FixedFunctionLightingMatchesTheDocumentedFormula)
{
    Device d(32, 32);
    ASSERT_TRUE(d.device);
    LightCase c;
    memset(&c, 0, sizeof c);
    c.material.Diffuse = Rgba(0.8f, 0.6f, 0.4f);
    c.material.Ambient = Rgba(0.2f, 0.3f, 0.4f);
    c.material.Specular = Rgba(1.f, 1.f, 1.f);
    c.material.Emissive = Rgba(0.05f, 0.f, 0.f);
    c.material.Power = 10.f;
    c.light.Type = D3DLIGHT_POINT;
    c.light.Diffuse = Rgba(1.f, 1.f, 1.f, 0.f);
    c.light.Ambient = Rgba(0.5f, 0.5f, 0.5f, 0.f);
    c.light.Specular = Rgba(0.5f, 0.5f, 0.5f, 0.f);
    c.light.Position = {0.f, 0.f, 0.f};
    c.light.Range = 100.f;
    c.light.Attenuation0 = 0.5f;
    c.light.Attenuation1 = 0.1f;
    c.light.Attenuation2 = 0.01f;
    c.ambient = 0x00404040;  // 64 / 255 grey

    const float dist = sqrtf(9.f + 25.f);
    const float nl = 5.f / dist;  // the eye is at the light: N.H = N.L
    const float atten = 1.f / (0.5f + 0.1f * dist + 0.01f * dist * dist);
    const float ga = 64.f / 255.f;
    auto expected = [&](int ch, bool spec) {
        const float Cd[3] = {0.8f, 0.6f, 0.4f}, Ca[3] = {0.2f, 0.3f, 0.4f}, Ce[3] = {0.05f, 0.f, 0.f};
        float v = Ce[ch] + Ca[ch] * (ga + atten * 0.5f) + Cd[ch] * 1.f * nl * atten;
        if (spec)
            v = (v > 1 ? 1 : v) + 1.f * 0.5f * powf(nl, 10.f) * atten;
        return Byte(v);
    };
    DWORD p = LightTriangle(d, c);
    EXPECT_NEAR(Red(p), expected(0, false), 1);
    EXPECT_NEAR(Green(p), expected(1, false), 1);
    EXPECT_NEAR(Blue(p), expected(2, false), 1);

    p = LightTriangle(d, {c.material, c.light, c.ambient, true});
    EXPECT_NEAR(Red(p), expected(0, true), 1);
    EXPECT_NEAR(Green(p), expected(1, true), 1);
    EXPECT_NEAR(Blue(p), expected(2, true), 1);

    // Out of range: only the global ambient and the emissive colour remain.
    LightCase out = c;
    out.light.Range = 5.f;
    p = LightTriangle(d, out);
    EXPECT_NEAR(Red(p), Byte(0.05f + 0.2f * ga), 1);
    EXPECT_NEAR(Green(p), Byte(0.3f * ga), 1);
    EXPECT_NEAR(Blue(p), Byte(0.4f * ga), 1);

    // A directional light along +z: N.L = 1, no attenuation.
    LightCase dir = c;
    dir.light.Type = D3DLIGHT_DIRECTIONAL;
    dir.light.Direction = {0.f, 0.f, 1.f};
    p = LightTriangle(d, dir);
    EXPECT_NEAR(Red(p), Byte(0.05f + 0.2f * (ga + 0.5f) + 0.8f), 1);
    EXPECT_NEAR(Green(p), Byte(0.3f * (ga + 0.5f) + 0.6f), 1);

    // A spot light aimed away from the triangle lights only through ambient
    // and emissive; aimed at it with a wide cone, as the point light.
    LightCase spot = c;
    spot.light.Type = D3DLIGHT_SPOT;
    spot.light.Direction = {0.f, 0.f, -1.f};
    spot.light.Theta = 0.5f;
    spot.light.Phi = 1.0f;
    spot.light.Falloff = 1.f;
    p = LightTriangle(d, spot);
    EXPECT_NEAR(Green(p), Byte(0.3f * ga), 1);
    spot.light.Direction = {0.f, 0.f, 1.f};
    spot.light.Theta = 2.0f;
    spot.light.Phi = 2.5f;
    p = LightTriangle(d, spot);
    EXPECT_NEAR(Green(p), expected(1, false), 1);

    // Lighting off: the vertex colour, or white without one.
    d.device->SetRenderState(D3DRS_LIGHTING, FALSE);
    LitVertex tri[3] = {{0, 3, 5, 0, 0, -1}, {-2.6f, -1.5f, 5, 0, 0, -1}, {2.6f, -1.5f, 5, 0, 0, -1}};
    BeginFrame(d.device);
    d.device->SetFVF(kLitFvf);
    d.device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, tri, sizeof(LitVertex));
    d.device->EndScene();
    EXPECT_EQ(d.Pixel(16, 16) & 0xffffff, 0xffffffu);
}

TEST(Renderer, NormalsGoThroughTheWorldMatrix)
{
    Device d(32, 32);
    ASSERT_TRUE(d.device);
    LightCase c;
    memset(&c, 0, sizeof c);
    c.material.Diffuse = Rgba(0.5f, 0.5f, 0.5f);
    c.light.Type = D3DLIGHT_DIRECTIONAL;
    c.light.Diffuse = Rgba(1.f, 1.f, 1.f);
    c.light.Direction = {0.f, 0.f, 1.f};
    // Scaling the world by 2 makes the normals half as long unless they are
    // normalised again.
    D3DMATRIX world = Identity();
    world._11 = world._22 = world._33 = 2.f;
    d.device->SetTransform(D3DTS_WORLD, &world);
    LitVertex tri[3] = {{0, 1.5f, 2.5f, 0, 0, -1}, {-1.3f, -0.75f, 2.5f, 0, 0, -1}, {1.3f, -0.75f, 2.5f, 0, 0, -1}};
    auto draw = [&]() {
        IDirect3DDevice9* dev = d.device;
        dev->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
        D3DMATRIX proj = PerspectiveFovLH(1.5707964f, 1.f, 0.1f, 100.f);
        dev->SetTransform(D3DTS_PROJECTION, &proj);
        dev->SetMaterial(&c.material);
        dev->SetLight(0, &c.light);
        dev->LightEnable(0, TRUE);
        BeginFrame(dev);
        dev->SetFVF(kLitFvf);
        dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, tri, sizeof(LitVertex));
        dev->EndScene();
        return d.Pixel(16, 16);
    };
    EXPECT_NEAR(Red(draw()), Byte(0.25f), 1);
    d.device->SetRenderState(D3DRS_NORMALIZENORMALS, TRUE);
    EXPECT_NEAR(Red(draw()), Byte(0.5f), 1);
    // A rotation of the world turns the normal away from the light.
    D3DMATRIX rot = Identity();  // 90 degrees about y: the normal (0,0,-1) becomes (-1,0,0)
    rot._11 = 0.f;
    rot._13 = -1.f;
    rot._31 = 1.f;
    rot._33 = 0.f;
    rot._43 = 0.f;
    d.device->SetTransform(D3DTS_WORLD, &rot);
    LitVertex side[3] = {{-2.5f, 1.5f, 0, 0, 0, -1}, {-2.5f, -0.75f, -1.3f, 0, 0, -1}, {-2.5f, -0.75f, 1.3f, 0, 0, -1}};
    memcpy(tri, side, sizeof tri);
    EXPECT_EQ(Red(draw()), 0);
}

TEST(Renderer, AlphaBlending)
{
    Device d(16, 16);
    ASSERT_TRUE(d.device);
    IDirect3DDevice9* dev = d.device;
    dev->SetRenderState(D3DRS_LIGHTING, FALSE);
    dev->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    dev->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    dev->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    BeginFrame(dev, 0xff0000ff);
    DrawRect(dev, 0, 0, 16, 16, 0x80ff0000);
    dev->EndScene();
    DWORD p = d.Pixel(8, 8);
    EXPECT_NEAR(Red(p), 128, 1);
    EXPECT_NEAR(Blue(p), 127, 1);
    EXPECT_EQ(Green(p), 0);

    // ONE / ZERO replaces; ZERO / ONE keeps what was there.
    dev->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ZERO);
    dev->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
    BeginFrame(dev, 0xff0000ff);
    DrawRect(dev, 0, 0, 16, 16, 0x80ff0000);
    dev->EndScene();
    EXPECT_EQ(d.Pixel(3, 3) & 0xffffff, 0x0000ffu);
    dev->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
    dev->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ZERO);
    BeginFrame(dev, 0xff0000ff);
    DrawRect(dev, 0, 0, 16, 16, 0x80ff0000);
    dev->EndScene();
    EXPECT_EQ(d.Pixel(3, 3) & 0xffffff, 0xff0000u);
}

// A pixel program's colour that is not a number writes 0 in its channel, with
// and without blending; the other channels come out as usual.
TEST(Renderer, ColoursThatAreNotNumbersWriteZero)
{
    Device d(16, 16);
    ASSERT_TRUE(d.device);
    IDirect3DDevice9* dev = d.device;
    const char source[] =
        "float zero;\n"
        "float4 PS(float4 c : COLOR0) : COLOR0 { return float4(zero / zero, 1.0, 0.5, 1.0 + zero / zero); }\n"
        "technique T { pass P { PixelShader = compile ps_2_0 PS(); } }\n";
    ID3DXEffect* effect = nullptr;
    ASSERT_EQ(D3DXCreateEffect(dev, source, sizeof(source) - 1, NULL, NULL, 0, NULL, &effect, NULL), D3D_OK);
    effect->SetFloat("zero", 0.0f);
    dev->SetRenderState(D3DRS_LIGHTING, FALSE);
    for (BOOL blend : {FALSE, TRUE})
    {
        dev->SetRenderState(D3DRS_ALPHABLENDENABLE, blend);
        dev->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
        dev->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ZERO);
        BeginFrame(dev, 0xff204060);
        UINT passes = 0;
        effect->Begin(&passes, 0);
        effect->BeginPass(0);
        DrawRect(dev, 0, 0, 16, 16, 0xffffffff);
        effect->EndPass();
        effect->End();
        dev->EndScene();
        EXPECT_EQ(d.Pixel(8, 8), 0x0000ff80u) << "blending " << blend;
    }
    effect->Release();
}

// The same through a vertex program's colour, which the pass-through pixel
// program hands on: the specialised loop writes 0 as the general path does.
TEST(Renderer, VertexColoursThatAreNotNumbersWriteZeroOnBothPaths)
{
    const char source[] =
        "float zero;\n"
        "struct VOut { float4 pos : POSITION; float4 colour : COLOR0; };\n"
        "VOut VS(float3 p : POSITION) { VOut o; o.pos = float4(p, 1.0);\n"
        "  o.colour = float4(zero / zero, 1.0, 0.5, 1.0); return o; }\n"
        "float4 PS(float4 c : COLOR0) : COLOR0 { return c; }\n"
        "technique T { pass P { VertexShader = compile vs_2_0 VS(); PixelShader = compile ps_2_0 PS(); } }\n";
    for (BOOL fast : {FALSE, TRUE})
    {
        VelmoraSetFastPixelPaths(fast);
        Device d(16, 16);
        ASSERT_TRUE(d.device);
        IDirect3DDevice9* dev = d.device;
        ID3DXEffect* effect = nullptr;
        ASSERT_EQ(D3DXCreateEffect(dev, source, sizeof(source) - 1, NULL, NULL, 0, NULL, &effect, NULL), D3D_OK);
        effect->SetFloat("zero", 0.0f);
        dev->SetRenderState(D3DRS_LIGHTING, FALSE);
        dev->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
        BeginFrame(dev, 0xff204060);
        const float quad[6][3] = {{-1, -1, 0.5f}, {1, -1, 0.5f}, {-1, 1, 0.5f}, {1, -1, 0.5f}, {1, 1, 0.5f}, {-1, 1, 0.5f}};
        dev->SetFVF(D3DFVF_XYZ);
        UINT passes = 0;
        effect->Begin(&passes, 0);
        effect->BeginPass(0);
        dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 2, quad, sizeof(quad[0]));
        effect->EndPass();
        effect->End();
        dev->EndScene();
        EXPECT_EQ(d.Pixel(8, 8), 0xff00ff80u) << "fast paths " << fast;
        effect->Release();
    }
    VelmoraSetFastPixelPaths(TRUE);
}

TEST(Renderer, CullingModes)
{
    Device d(32, 32);
    ASSERT_TRUE(d.device);
    IDirect3DDevice9* dev = d.device;
    dev->SetRenderState(D3DRS_LIGHTING, FALSE);
    // Clockwise on the screen (left half) and counter-clockwise (right half).
    RhwVertex cw[3] = {{0, 0, 0.5f, 1, 0xffff0000}, {15, 0, 0.5f, 1, 0xffff0000}, {0, 31, 0.5f, 1, 0xffff0000}};
    RhwVertex ccw[3] = {{17, 0, 0.5f, 1, 0xff00ff00}, {17, 31, 0.5f, 1, 0xff00ff00}, {31, 0, 0.5f, 1, 0xff00ff00}};
    auto draw = [&](DWORD mode, bool* left, bool* right) {
        dev->SetRenderState(D3DRS_CULLMODE, mode);
        BeginFrame(dev);
        dev->SetFVF(kRhwFvf);
        dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, cw, sizeof(RhwVertex));
        dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, ccw, sizeof(RhwVertex));
        dev->EndScene();
        *left = d.Pixel(2, 2) != 0;
        *right = d.Pixel(19, 2) != 0;
    };
    DWORD def = 0;
    dev->GetRenderState(D3DRS_CULLMODE, &def);
    EXPECT_EQ(def, (DWORD)D3DCULL_CCW);
    bool l, r;
    draw(D3DCULL_CCW, &l, &r);
    EXPECT_TRUE(l);
    EXPECT_FALSE(r);
    draw(D3DCULL_CW, &l, &r);
    EXPECT_FALSE(l);
    EXPECT_TRUE(r);
    draw(D3DCULL_NONE, &l, &r);
    EXPECT_TRUE(l);
    EXPECT_TRUE(r);
}

TEST(Renderer, TexturesModulateTheDiffuseColour)
{
    Device d(64, 64);
    ASSERT_TRUE(d.device);
    IDirect3DDevice9* dev = d.device;
    IDirect3DTexture9* tex = nullptr;
    ASSERT_EQ(dev->CreateTexture(2, 2, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &tex, NULL), D3D_OK);
    D3DLOCKED_RECT lr;
    ASSERT_EQ(tex->LockRect(0, &lr, NULL, 0), D3D_OK);
    DWORD* row0 = (DWORD*)lr.pBits;
    DWORD* row1 = (DWORD*)((BYTE*)lr.pBits + lr.Pitch);
    row0[0] = 0xffffffff;
    row0[1] = 0x80ff0000;
    row1[0] = 0xff00ff00;
    row1[1] = 0xff0000ff;
    tex->UnlockRect(0);

    struct TexVertex {
        float x, y, z, rhw;
        D3DCOLOR color;
        float u, v;
    } q[4] = {{0, 0, 0.5f, 1, 0xff808080, 0, 0}, {64, 0, 0.5f, 1, 0xff808080, 1, 0},
              {0, 64, 0.5f, 1, 0xff808080, 0, 1}, {64, 64, 0.5f, 1, 0xff808080, 1, 1}};
    dev->SetTexture(0, tex);
    dev->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    dev->SetFVF(D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1);
    BeginFrame(dev);
    dev->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, q, sizeof(TexVertex));
    dev->EndScene();
    std::vector<DWORD> px = d.Pixels();
    SavePng("texture_point", px, 64, 64);
    // Point sampling: each quarter one texel, times the grey diffuse.
    EXPECT_EQ(px[10 * 64 + 10], 0xff808080u);
    EXPECT_EQ(px[10 * 64 + 50], 0x80800000u);
    EXPECT_EQ(px[50 * 64 + 10], 0xff008000u);
    EXPECT_EQ(px[50 * 64 + 50], 0xff000080u);

    // Bilinear filtering blends neighbours at the centre; clamping keeps the
    // corners pure.
    dev->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
    dev->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
    dev->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
    dev->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP);
    for (TexVertex& v : q)
        v.color = 0xffffffff;
    BeginFrame(dev);
    dev->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, q, sizeof(TexVertex));
    dev->EndScene();
    px = d.Pixels();
    SavePng("texture_bilinear", px, 64, 64);
    EXPECT_EQ(px[0] & 0xffffff, 0xffffffu);
    DWORD centre = px[32 * 64 + 32];
    EXPECT_NEAR(Red(centre), (255 + 255 + 0 + 0) / 4, 4);
    EXPECT_NEAR(Green(centre), (255 + 0 + 255 + 0) / 4, 4);
    EXPECT_NEAR(Blue(centre), (255 + 0 + 0 + 255) / 4, 4);

    dev->SetTexture(0, NULL);
    EXPECT_EQ(tex->Release(), 0u);
}

TEST(Renderer, LinesAndPoints)
{
    Device d(32, 32);
    ASSERT_TRUE(d.device);
    IDirect3DDevice9* dev = d.device;
    dev->SetRenderState(D3DRS_LIGHTING, FALSE);
    RhwVertex line[3] = {{2, 5, 0.5f, 1, 0xffffffff}, {20, 5, 0.5f, 1, 0xffffffff}, {20, 25, 0.5f, 1, 0xffffffff}};
    BeginFrame(dev);
    dev->SetFVF(kRhwFvf);
    dev->DrawPrimitiveUP(D3DPT_LINESTRIP, 2, line, sizeof(RhwVertex));
    RhwVertex pt = {30, 30, 0.5f, 1, 0xffff0000};
    dev->DrawPrimitiveUP(D3DPT_POINTLIST, 1, &pt, sizeof(RhwVertex));
    dev->EndScene();
    std::vector<DWORD> px = d.Pixels();
    int lit = 0;
    for (DWORD p : px)
        lit += p != 0;
    EXPECT_EQ(lit, 18 + 21 + 1);  // 18 along the first, 20 plus the last pixel down the second, one point
    EXPECT_EQ(px[5 * 32 + 2], 0xffffffffu);
    EXPECT_EQ(px[25 * 32 + 20], 0xffffffffu);
    EXPECT_EQ(px[30 * 32 + 30], 0xffff0000u);
}

TEST(Renderer, DrawingStaysInsideTheViewport)
{
    Device d(32, 32);
    ASSERT_TRUE(d.device);
    IDirect3DDevice9* dev = d.device;
    dev->SetRenderState(D3DRS_LIGHTING, FALSE);
    D3DVIEWPORT9 vp = {8, 8, 16, 16, 0.f, 1.f};
    ASSERT_EQ(dev->SetViewport(&vp), D3D_OK);
    BeginFrame(dev);
    // Far larger than the back buffer, in screen space and through the transform.
    DrawRect(dev, -1000.f, -1000.f, 1000.f, 1000.f, 0xffffffff);
    ColorVertex big[3] = {{-100, -100, 0.5f, 0xffff0000}, {100, -100, 0.5f, 0xffff0000}, {0, 300, 0.5f, 0xffff0000}};
    dev->SetFVF(kColorFvf);
    dev->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, big, sizeof(ColorVertex));
    dev->EndScene();
    std::vector<DWORD> px = d.Pixels();
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x) {
            bool inside = x >= 8 && x < 24 && y >= 8 && y < 24;
            ASSERT_EQ(px[y * 32 + x] != 0, inside) << x << "," << y;
        }
}

namespace {

// A texture of `size` with `levels` levels (0: the full chain), every texel
// a different colour and alpha, every level a different tint.
IDirect3DTexture9* PatternTexture(IDirect3DDevice9* dev, UINT size, UINT levels, D3DFORMAT format)
{
    IDirect3DTexture9* tex = nullptr;
    if (FAILED(dev->CreateTexture(size, size, levels, 0, format, D3DPOOL_MANAGED, &tex, NULL)))
        return nullptr;
    for (DWORD level = 0; level < tex->GetLevelCount(); ++level) {
        D3DSURFACE_DESC desc;
        tex->GetLevelDesc(level, &desc);
        D3DLOCKED_RECT lr;
        tex->LockRect(level, &lr, NULL, 0);
        for (UINT y = 0; y < desc.Height; ++y)
            for (UINT x = 0; x < desc.Width; ++x) {
                DWORD h = (x * 73856093u) ^ (y * 19349663u) ^ (level * 83492791u);
                h = (h + 12345u) * 2654435761u;
                DWORD c = ((0x20u + (h >> 24) % 0xd0u) << 24) | ((h >> 4) & 0xffffff) | ((level * 40u) << 16);
                BYTE* p = (BYTE*)lr.pBits + (size_t)y * lr.Pitch;
                if (format == D3DFMT_A4R4G4B4)
                    ((WORD*)p)[x] = (WORD)(c >> 7);
                else
                    ((DWORD*)p)[x] = c;
            }
        tex->UnlockRect(level);
    }
    return tex;
}

struct TexVertex {
    float x, y, z, rhw;
    D3DCOLOR diffuse, specular;
    float u, v;
};
const DWORD kTexFvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_SPECULAR | D3DFVF_TEX1;

struct TexVertex3 {
    float x, y, z;
    D3DCOLOR diffuse;
    float u, v;
};
const DWORD kTex3Fvf = D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1;

// A quad turned by `angle` about (cx, cy), texture coordinates scaled by `uvScale`.
void DrawTurnedQuad(IDirect3DDevice9* dev, float cx, float cy, float half, float angle, float uvScale,
                    const float rhw[4], D3DCOLOR diffuse, D3DCOLOR specular)
{
    TexVertex q[4];
    const float corner[4][2] = {{-1, -1}, {1, -1}, {-1, 1}, {1, 1}};
    for (int i = 0; i < 4; ++i) {
        float x = corner[i][0] * half, y = corner[i][1] * half;
        q[i] = {cx + x * cosf(angle) - y * sinf(angle), cy + x * sinf(angle) + y * cosf(angle), 0.3f + 0.1f * i,
                rhw[i], diffuse + 0x00102030u * i, specular, (corner[i][0] + 1) * 0.5f * uvScale,
                (corner[i][1] + 1) * 0.5f * uvScale};
    }
    dev->SetFVF(kTexFvf);
    dev->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, q, sizeof(TexVertex));
}

// The sprite veil, minified, magnified, perspective and screen-space mip-mapped
// triangles under the blend, filter and addressing modes the module uses and
// some it does not; one picture after each part.
std::vector<std::vector<DWORD>> DrawTexturedScenes(bool fast)
{
    VelmoraSetFastPixelPaths(fast ? TRUE : FALSE);
    std::vector<std::vector<DWORD>> pictures;
    const int W = 160, H = 120;
    Device d(W, H);
    IDirect3DDevice9* dev = d.device;
    if (!dev)
        return pictures;
    IDirect3DTexture9* veil = PatternTexture(dev, 8, 1, D3DFMT_A8R8G8B8);
    IDirect3DTexture9* button = PatternTexture(dev, 64, 1, D3DFMT_A8R8G8B8);
    IDirect3DTexture9* mipped = PatternTexture(dev, 64, 0, D3DFMT_A8R8G8B8);
    IDirect3DTexture9* opaque = PatternTexture(dev, 32, 0, D3DFMT_X8R8G8B8);
    IDirect3DTexture9* packed = PatternTexture(dev, 16, 1, D3DFMT_A4R4G4B4);
    ID3DXSprite* sprite = nullptr;
    D3DXCreateSprite(dev, &sprite);
    auto part = [&] {
        dev->EndScene();
        pictures.push_back(d.Pixels());
        dev->BeginScene();
    };
    dev->SetRenderState(D3DRS_LIGHTING, FALSE);
    dev->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    dev->SetRenderState(D3DRS_ZENABLE, FALSE);
    BeginFrame(dev, 0xff204060);
    // A shaded background, so that blending meets different destinations.
    RhwVertex bg[4] = {{0, 0, 0.9f, 1, 0xffff0000}, {(float)W, 0, 0.9f, 1, 0xff00ff00}, {0, (float)H, 0.9f, 1, 0xff0000ff},
                       {(float)W, (float)H, 0.9f, 1, 0xffffffff}};
    dev->SetFVF(kRhwFvf);
    dev->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, bg, sizeof(RhwVertex));
    part();

    // The veil with the module's specular switch on, then a button without it.
    dev->SetRenderState(D3DRS_SPECULARENABLE, TRUE);
    sprite->Begin(D3DXSPRITE_ALPHABLEND);
    D3DXMATRIX m;
    D3DXMatrixScaling(&m, 1000, 1000, 1000);
    sprite->SetTransform(&m);
    sprite->Draw(veil, nullptr, nullptr, nullptr, 0xC0FFE0A0);
    D3DXMatrixScaling(&m, 19.7f, 14.3f, 1);
    sprite->SetTransform(&m);
    sprite->Draw(veil, nullptr, nullptr, nullptr, 0xA0FFFFFF);
    D3DXMatrixScaling(&m, 1, 1, 1);
    sprite->SetTransform(&m);
    sprite->End();
    part();
    dev->SetRenderState(D3DRS_SPECULARENABLE, FALSE);
    sprite->Begin(D3DXSPRITE_ALPHABLEND);
    D3DXVECTOR3 at(70.5f, 30.25f, 0);
    sprite->Draw(button, nullptr, nullptr, &at, 0xE0FFFFFF);
    sprite->End();
    part();

    // Mip-mapped, minified, turned: one level per triangle on screen-space
    // geometry; blended and opaque, bilinear and point, diffuse first and second.
    const float flat[4] = {1, 1, 1, 1}, leaning[4] = {1.f, 0.5f, 0.25f, 2.f};
    dev->SetTexture(0, mipped);
    dev->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    dev->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    dev->SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_POINT);
    dev->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
    dev->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
    dev->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    dev->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    dev->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    DrawTurnedQuad(dev, 30, 30, 12, 0.4f, 1.f, flat, 0xffc08040, 0);
    DrawTurnedQuad(dev, 80, 30, 20, 1.1f, 3.f, flat, 0x80ffffff, 0x00303030);
    dev->SetRenderState(D3DRS_SPECULARENABLE, TRUE);
    dev->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_MIRROR);
    DrawTurnedQuad(dev, 130, 30, 25, -0.3f, 9.f, flat, 0xffffffff, 0x00402010);
    dev->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
    dev->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_TEXTURE);
    dev->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    dev->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_POINT);
    DrawTurnedQuad(dev, 30, 85, 28, 0.2f, 0.5f, flat, 0xffffffff, 0);
    // Perspective in screen space: the level changes from pixel to pixel.
    dev->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_POINT);
    dev->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
    dev->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_WRAP);
    DrawTurnedQuad(dev, 80, 85, 30, 0.7f, 6.f, leaning, 0xffa0a0ff, 0x00100000);
    dev->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    DrawTurnedQuad(dev, 130, 85, 30, -0.9f, 0.25f, leaning, 0xc0ffffff, 0);
    // Alpha testing keeps to the general path, mip-mapped all the same.
    dev->SetRenderState(D3DRS_ALPHATESTENABLE, TRUE);
    dev->SetRenderState(D3DRS_ALPHAREF, 0x60);
    dev->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATER);
    DrawTurnedQuad(dev, 80, 60, 25, 2.f, 2.f, flat, 0xffffffff, 0);
    DrawTurnedQuad(dev, 20, 60, 18, 0.1f, 1.f, leaning, 0xffffffff, 0);
    dev->SetRenderState(D3DRS_ALPHATESTENABLE, FALSE);
    part();

    // A depth-tested perspective floor under the projection, blended.
    dev->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    dev->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
    dev->SetRenderState(D3DRS_SPECULARENABLE, FALSE);
    dev->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
    dev->SetRenderState(D3DRS_ZENABLE, TRUE);
    D3DMATRIX proj = PerspectiveFovLH(1.2f, (float)W / H, 0.1f, 100.f);
    dev->SetTransform(D3DTS_PROJECTION, &proj);
    TexVertex3 floor[4] = {{-6, -1, 0.5f, 0xffffffff, 0, 0}, {6, -1, 0.5f, 0xffffe0c0, 8, 0},
                           {-6, -1, 20, 0x80c0e0ff, 0, 24}, {6, -1, 20, 0xffffffff, 8, 24}};
    dev->SetFVF(kTex3Fvf);
    dev->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, floor, sizeof(TexVertex3));
    dev->SetTexture(0, opaque);
    dev->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    TexVertex3 wall[4] = {{-2, 0, 4, 0xffffffff, -1, -1}, {2, 0.5f, 5, 0xff80ff80, 2, -1},
                          {-2, 3, 4, 0xffffffff, -1, 2}, {2, 3, 8, 0xffffffff, 2, 2}};
    dev->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, wall, sizeof(TexVertex3));
    part();

    // Border addressing, a 16-bit format, coordinates past the sampler's range.
    dev->SetRenderState(D3DRS_ZENABLE, FALSE);
    dev->SetTexture(0, packed);
    dev->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    dev->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_BORDER);
    dev->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_BORDER);
    dev->SetSamplerState(0, D3DSAMP_BORDERCOLOR, 0x80ff00ff);
    DrawTurnedQuad(dev, 40, 60, 30, 0.3f, 2.f, flat, 0xffffffff, 0);
    dev->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
    dev->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP);
    DrawTurnedQuad(dev, 120, 60, 30, 0.3f, 3e6f, flat, 0xffffffff, 0);
    part();

    dev->EndScene();
    dev->SetTexture(0, nullptr);
    sprite->Release();
    for (IDirect3DTexture9* t : {veil, button, mipped, opaque, packed})
        if (t)
            t->Release();
    VelmoraSetFastPixelPaths(TRUE);
    return pictures;
}

}  // namespace

TEST(Renderer, FastPixelPathsDrawTheSamePictures)
{
    std::vector<std::vector<DWORD>> fast = DrawTexturedScenes(true);
    std::vector<std::vector<DWORD>> general = DrawTexturedScenes(false);
    ASSERT_EQ(fast.size(), 6u);
    ASSERT_EQ(general.size(), fast.size());
    for (size_t i = 0; i < fast.size(); ++i) {
        SavePng("fast_path_" + std::to_string(i), fast[i], 160, 120);
        // Every part draws something.
        if (i > 0) {
            int changed = 0;
            for (size_t p = 0; p < fast[i].size(); ++p)
                changed += fast[i][p] != fast[i - 1][p];
            EXPECT_GT(changed, 400) << "part " << i;
        }
        int differ = 0;
        for (size_t p = 0; p < fast[i].size(); ++p)
            differ += fast[i][p] != general[i][p];
        EXPECT_EQ(differ, 0) << "part " << i;
    }
}
