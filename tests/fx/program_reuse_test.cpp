// Work the device saves on effect programs: shaded vertices reused for equal
// vertex bytes, and pixel programs that only copy an interpolated input. Both
// must leave every picture exactly as running the programs gives it.
#include "d3d_test_device.h"
#include "effect_test_support.h"
#include "fx/compiler.h"

#include <velmora_platform.h>

#include <gtest/gtest.h>

#include <functional>

using namespace d3dtest;
using namespace fxtest;

namespace {

std::string ShippedEffect(const char* name)
{
    return std::string(VELMORA_PLUGIN_DIR) + "/data/shaders/" + name;
}

ID3DXEffect* LoadShipped(IDirect3DDevice9* dev, const char* name)
{
    char windowsPath[1024];
    if (!VelmoraToWindowsPath(ShippedEffect(name).c_str(), windowsPath, sizeof windowsPath))
        return nullptr;
    ID3DXEffect* fx = nullptr;
    D3DXCreateEffectFromFileA(dev, windowsPath, nullptr, nullptr, 0, nullptr, &fx, nullptr);
    return fx;
}

// One draw per triangle, as the dancers are drawn: shared corners come again
// and again in later draws.
void DrawOneByOne(IDirect3DDevice9* dev, const std::vector<NormalVertex>& tris)
{
    dev->SetFVF(D3DFVF_XYZ | D3DFVF_NORMAL);
    for (size_t t = 0; t + 2 < tris.size(); t += 3)
        dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, &tris[t], sizeof(NormalVertex));
}

const fx::Program* CompiledPixelProgram(const std::string& source, fx::CompiledEffect* fx)
{
    std::string errors;
    if (!fx::Compile(source, "memory", {}, fx, &errors) || fx->techniques.empty() ||
        fx->techniques[0].passes.empty()) {
        ADD_FAILURE() << errors;
        return nullptr;
    }
    return fx->techniques[0].passes[0].ps.get();
}

struct CacheOff {
    CacheOff() { VelmoraSetVertexCacheAndBatching(FALSE); }
    ~CacheOff() { VelmoraSetVertexCacheAndBatching(TRUE); }
};

}  // namespace

// The shipped effects over many one-triangle draws, with the world, the lights
// and the technique changing between objects, and a program that carries a
// value from vertex to vertex: the same pixels with reuse as without.
TEST(ProgramReuse, ShadedVerticesReusedGiveTheSamePictures)
{
    const int W = 160, H = 120;
    Device d(W, H);
    ASSERT_TRUE(d.device);
    IDirect3DDevice9* dev = d.device;
    ID3DXEffect* dancer = LoadShipped(dev, "dancer.fx");
    ID3DXEffect* spot = LoadShipped(dev, "spot.fx");
    ASSERT_TRUE(dancer && spot);
    // Each vertex moves by a running count: reusing a vertex would show.
    const char* const kRunning =
        "float4x4 wvp;\n"
        "static float count = 0;\n"
        "struct O { float4 p : POSITION; float4 c : COLOR0; };\n"
        "O VS(float4 p : POSITION, float3 n : NORMAL) { O o; count = count + 1;\n"
        "  o.p = mul(p + float4(0, 0.05 * frac(count / 7), 0, 0), wvp); o.c = float4(frac(count / 5), n.y, 0.5, 1);\n"
        "  return o; }\n"
        "float4 PS(float4 c : COLOR0) : COLOR { return c; }\n"
        "technique T { pass P { CullMode = None; VertexShader = compile vs_2_0 VS();\n"
        "  PixelShader = compile ps_2_0 PS(); } }\n";
    ID3DXEffect* running = nullptr;
    std::string errors;
    ASSERT_EQ(MakeEffect(dev, kRunning, &running, &errors), D3D_OK) << errors;

    D3DXMATRIX view = ToX(LookAtLH(0, 60, -300, 0, 0, 0)), proj = ToX(PerspectiveFovLH(0.8f, (float)W / H, 10.f, 5000.f));
    float lights[3][10] = {{-200, 300, -200, 0.4f, -1, 0.4f, 1, 0.2f, 0.2f, 0},
                           {200, 300, -200, -0.4f, -1, 0.4f, 0.2f, 0.2f, 1, 0},
                           {50, 1000, 50, 0, -1, 0.2f, 0.4f, 0.4f, 0.4f, 0}};
    const std::vector<NormalVertex> sphere = Sphere(60.f, 12, 18);

    auto frame = [&](int k) {
        dev->Clear(0, NULL, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xff101020, 1.f, 0);
        dev->BeginScene();
        for (ID3DXEffect* fx : {dancer, spot}) {
            fx->SetMatrix("viewMatrix", &view);
            fx->SetMatrix("projectionMatrix", &proj);
            D3DXHANDLE arr = fx->GetParameterByName(NULL, "lightArr");
            for (UINT i = 0; i < 3; ++i) {
                float l[10];
                memcpy(l, lights[i], sizeof l);
                l[0] += 40.f * (float)k;
                fx->SetValue(fx->GetParameterElement(arr, i), l, 40);
            }
        }
        // Three dancers in three looks, then floor tiles.
        D3DXHANDLE tech = nullptr;
        for (int i = 0; i < 3; ++i) {
            dancer->FindNextValidTechnique(tech, &tech);
            if (!tech)
                dancer->FindNextValidTechnique(NULL, &tech);
            dancer->SetTechnique(tech);
            D3DXMATRIX world = ToX(Identity());
            world._41 = -110.f + 110.f * (float)i;
            world._42 = 10.f * (float)k;
            dancer->SetMatrix("worldMatrix", &world);
            float tint[4] = {1.f, 0.3f * (float)i, 0.5f, 1.f};
            dancer->SetValue(dancer->GetParameterByName(NULL, "material"), tint, 16);
            Passes(dancer, [&] { DrawOneByOne(dev, sphere); });
        }
        for (int i = 0; i < 2; ++i) {
            D3DXMATRIX world = ToX(Identity());
            world._11 = world._22 = world._33 = 0.5f;
            world._41 = -60.f + 120.f * (float)i;
            world._42 = -80.f;
            spot->SetMatrix("worldMatrix", &world);
            float colour[4] = {1.f, 0.2f + 0.5f * (float)i, 0.8f, 0.3f};
            spot->SetValue(spot->GetParameterByName(NULL, "material"), colour, 16);
            Passes(spot, [&] { DrawOneByOne(dev, sphere); });
        }
        D3DXMATRIX wvp = ToX(Identity());
        wvp._11 = wvp._22 = 0.004f;
        wvp._33 = 0.001f;
        wvp._43 = 0.1f;
        running->SetMatrix("wvp", &wvp);
        Passes(running, [&] { DrawOneByOne(dev, sphere); });
        dev->EndScene();
        return d.Pixels();
    };

    for (int k = 0; k < 2; ++k) {
        std::vector<DWORD> reused = frame(k), plain;
        {
            CacheOff off;
            plain = frame(k);
        }
        ASSERT_EQ(reused.size(), plain.size());
        size_t differ = 0, drawn = 0;
        for (size_t i = 0; i < plain.size(); ++i) {
            differ += reused[i] != plain[i];
            drawn += (plain[i] & 0xffffff) != 0x101020;
        }
        EXPECT_EQ(differ, 0u) << "frame " << k;
        EXPECT_GT(drawn, 3000u) << "frame " << k;
    }
    // The shipped vertex programs may be reused; the counting one may not.
    fx::CompiledEffect compiled;
    ASSERT_NE(CompiledPixelProgram(kRunning, &compiled), nullptr);
    EXPECT_FALSE(compiled.techniques[0].passes[0].vs->selfContained);
    running->Release();
    spot->Release();
    dancer->Release();
}

// The same vertex bytes drawn again after a change of constants, of the
// vertex format or of the effect must be shaded anew.
TEST(ProgramReuse, ChangesBetweenDrawsOfTheSameVerticesShow)
{
    Device d(32, 32);
    ASSERT_TRUE(d.device);
    IDirect3DDevice9* dev = d.device;
    const char* const kTinted =
        "float4 tint = float4(1, 0, 0, 1);\n"
        "float4x4 worldMatrix = float4x4(1,0,0,0, 0,1,0,0, 0,0,1,0, 0,0,0,1);\n"
        "struct O { float4 p : POSITION; float4 c : COLOR0; };\n"
        "O VS(float4 p : POSITION, float4 v : COLOR0) { O o; o.p = mul(p, worldMatrix); o.c = v * tint; return o; }\n"
        "float4 PS(float4 c : COLOR0) : COLOR { return c; }\n"
        "technique T { pass P { ZEnable = false; CullMode = None; VertexShader = compile vs_2_0 VS();\n"
        "  PixelShader = compile ps_2_0 PS(); } }\n";
    ID3DXEffect* fx = nullptr;
    ID3DXEffect* other = nullptr;
    std::string errors;
    ASSERT_EQ(MakeEffect(dev, kTinted, &fx, &errors), D3D_OK) << errors;
    ASSERT_EQ(MakeEffect(dev, kTinted, &other, &errors), D3D_OK) << errors;
    ColorVertex quad[6] = {{-1, 1, 0.5f, 0xffffffff}, {1, 1, 0.5f, 0xffffffff}, {-1, -1, 0.5f, 0xffffffff},
                           {1, 1, 0.5f, 0xffffffff},  {1, -1, 0.5f, 0xffffffff}, {-1, -1, 0.5f, 0xffffffff}};
    auto draw = [&](DWORD fvf) {
        dev->SetFVF(fvf);
        for (int t = 0; t < 2; ++t)
            dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, &quad[3 * t], sizeof(ColorVertex));
    };
    const D3DXVECTOR4 red(1, 0, 0, 1), green(0, 1, 0, 1), white(1, 1, 1, 1), grey(0.6f, 0.6f, 0.6f, 1);

    // Returns the colours seen after each step, with or without reuse.
    auto run = [&]() {
        std::vector<DWORD> seen;
        auto look = [&] { seen.push_back(d.Pixel(8, 16) & 0xffffff), seen.push_back(d.Pixel(24, 16) & 0xffffff); };
        fx->SetVector("tint", &red);
        D3DXMATRIX world = ToX(Identity());
        fx->SetMatrix("worldMatrix", &world);
        dev->Clear(0, NULL, D3DCLEAR_TARGET, 0, 1.f, 0);
        dev->BeginScene();
        UINT passes = 0;
        fx->Begin(&passes, 0);
        fx->BeginPass(0);
        draw(kColorFvf);
        look();
        // Set inside the pass: the device sees it only once committed.
        fx->SetVector("tint", &green);
        draw(kColorFvf);
        look();
        fx->CommitChanges();
        draw(kColorFvf);
        look();
        // A moved world, committed: the left half of the target is left alone.
        world._41 = 1.f;
        fx->SetMatrix("worldMatrix", &world);
        fx->CommitChanges();
        dev->Clear(0, NULL, D3DCLEAR_TARGET, 0, 1.f, 0);
        draw(kColorFvf);
        look();
        world._41 = 0.f;
        fx->SetMatrix("worldMatrix", &world);
        fx->EndPass();
        // A new pass with a new tint.
        fx->SetVector("tint", &white);
        fx->BeginPass(0);
        draw(kColorFvf);
        look();
        // Other vertex colours, then the same bytes read without their
        // colour (white).
        quad[0].color = quad[1].color = quad[2].color = quad[3].color = quad[4].color = quad[5].color = 0xff00ffff;
        draw(kColorFvf);
        look();
        draw(D3DFVF_XYZ);
        look();
        fx->EndPass();
        fx->End();
        // Another effect with its own tint over the same vertices.
        other->SetVector("tint", &grey);
        Passes(other, [&] { draw(kColorFvf); });
        look();
        dev->EndScene();
        for (ColorVertex& v : quad)
            v.color = 0xffffffff;
        return seen;
    };

    std::vector<DWORD> reused = run(), plain;
    {
        CacheOff off;
        plain = run();
    }
    EXPECT_EQ(reused, plain);
    const std::vector<DWORD> expected = {0xff0000, 0xff0000, 0xff0000, 0xff0000, 0x00ff00, 0x00ff00,
                                         0x000000, 0x00ff00, 0xffffff, 0xffffff, 0x00ffff, 0x00ffff,
                                         0xffffff, 0xffffff, 0x009999, 0x009999};
    EXPECT_EQ(reused, expected);
    other->Release();
    fx->Release();
}

// Only a pixel program that moves floats counts as a copy; what it gives is
// the interpolated input, in its order, with its constants.
TEST(ProgramReuse, OnlyPlainCopiesSkipThePixelProgram)
{
    struct Case {
        const char* body;
        bool copy;
        DWORD expected;  // of a vertex colour 0x804020 (blend: alpha over black)
    } cases[] = {
        {"return c;", true, 0x804020},
        {"return c.bgra;", true, 0x204080},
        {"float4 t = c; t.a = 0.5; return t;", true, 0x402010},
        {"return float4(c.rgb, 1.0) * 1.0;", false, 0x804020},
        {"return c + float4(0.25, 0, 0, 0);", false, 0xc04020},
        {"return saturate(c.gbra);", false, 0x402080},
        {"if (c.r > 0.9) return c.bgra; return c;", false, 0x804020},
        {"return tint;", false, 0x336699},
    };
    Device d(16, 16);
    ASSERT_TRUE(d.device);
    IDirect3DDevice9* dev = d.device;
    for (const Case& c : cases) {
        std::string src = std::string("float4 tint = float4(0.2, 0.4, 0.6, 1.0);\n"
                                      "struct O { float4 p : POSITION; float4 c : COLOR0; };\n"
                                      "O VS(float4 p : POSITION, float4 v : COLOR0) { O o; o.p = p; o.c = v; return o; }\n"
                                      "float4 PS(float4 c : COLOR0) : COLOR { ") +
                          c.body +
                          " }\n"
                          "technique T { pass P { ZEnable = false; CullMode = None; AlphaBlendEnable = true;\n"
                          "  SrcBlend = SrcAlpha; DestBlend = InvSrcAlpha;\n"
                          "  VertexShader = compile vs_2_0 VS(); PixelShader = compile ps_2_0 PS(); } }\n";
        fx::CompiledEffect compiled;
        const fx::Program* ps = CompiledPixelProgram(src, &compiled);
        ASSERT_NE(ps, nullptr) << c.body;
        // A uniform is moved, yet not an input: the device still runs it.
        bool copies = !ps->colorSources.empty() && std::string(c.body) != "return tint;";
        EXPECT_EQ(copies, c.copy) << c.body;

        ID3DXEffect* fx = nullptr;
        std::string errors;
        ASSERT_EQ(MakeEffect(dev, src, &fx, &errors), D3D_OK) << errors;
        ColorVertex q[4] = {{-1, 1, 0.5f, 0xff804020}, {1, 1, 0.5f, 0xff804020}, {-1, -1, 0.5f, 0xff804020},
                            {1, -1, 0.5f, 0xff804020}};
        dev->Clear(0, NULL, D3DCLEAR_TARGET, 0, 1.f, 0);
        dev->BeginScene();
        if (std::string(c.body) == "return tint;") {
            D3DXVECTOR4 t(0.2f, 0.4f, 0.6f, 1.f);
            fx->SetVector("tint", &t);
        }
        Passes(fx, [&] {
            dev->SetFVF(kColorFvf);
            dev->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, q, sizeof(ColorVertex));
        });
        dev->EndScene();
        DWORD p = d.Pixel(8, 8) & 0xffffff;
        EXPECT_NEAR(Red(p), Red(c.expected), 1) << c.body;
        EXPECT_NEAR(Green(p), Green(c.expected), 1) << c.body;
        EXPECT_NEAR(Blue(p), Blue(c.expected), 1) << c.body;
        fx->Release();
    }
}
