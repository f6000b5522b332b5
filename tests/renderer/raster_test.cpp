// The software renderer seen through the device: coverage, clipping, depth,
// interpolation, lighting, blending, culling and texturing.
#include "d3d_test_device.h"
#include "d3d_test_png.h"

#include <gtest/gtest.h>

#include <math.h>

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
