// Effects: compilation and its errors, parameters, techniques, passes and the
// shaders they run through the software renderer.
#include "d3d_test_device.h"
#include "d3d_test_png.h"
#include "effect_test_support.h"

#include <gtest/gtest.h>

#include <stdio.h>

using namespace d3dtest;
using namespace fxtest;

namespace {

const char* const kLightStruct =
    "struct Light { float3 position; float3 direction; float4 colour; };\n";

// A full-screen pass: positions through unchanged, a constant colour out.
const char* const kConstant =
    "float4 colour = float4(1.0, 0.5, 0.0, 1.0);\n"
    "float4 VS(float4 p : POSITION) : POSITION { return p; }\n"
    "float4 PS() : COLOR { return colour; }\n"
    "technique T { pass P { ZEnable = false; CullMode = None; Lighting = false;\n"
    "  VertexShader = compile vs_2_0 VS(); PixelShader = compile ps_2_0 PS(); } }\n";

void FullScreenQuad(IDirect3DDevice9* dev)
{
    ColorVertex q[4] = {{-1, 1, 0.5f, 0xffffffff}, {1, 1, 0.5f, 0xffffffff}, {-1, -1, 0.5f, 0xffffffff},
                        {1, -1, 0.5f, 0xffffffff}};
    dev->SetFVF(kColorFvf);
    dev->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, q, sizeof(ColorVertex));
}

void RunPasses(ID3DXEffect* fx, const std::function<void()>& draw)
{
    UINT passes = 0;
    ASSERT_EQ(fx->Begin(&passes, 0), D3D_OK);
    for (UINT i = 0; i < passes; ++i) {
        fx->BeginPass(i);
        draw();
        fx->EndPass();
    }
    fx->End();
}

std::string ShippedEffect(const char* name)
{
    return std::string(VELMORA_PLUGIN_DIR) + "/data/shaders/" + name;
}

}  // namespace

TEST(Effect, CompileErrorsNameFileLineAndFail)
{
    Device d;
    ASSERT_TRUE(d.device);
    ID3DXEffect* fx = nullptr;
    std::string errors;

    // A syntax error on line 3.
    EXPECT_TRUE(FAILED(MakeEffect(d.device, "float4 a;\nfloat4 b;\nfloat4 c = ;\n", &fx, &errors)));
    EXPECT_EQ(fx, nullptr);
    EXPECT_NE(errors.find("memory(3,"), std::string::npos) << errors;
    EXPECT_NE(errors.find("syntax error"), std::string::npos) << errors;

    // An error inside a shader: reported at its own line.
    std::string src = "float4 VS(float4 p : POSITION) : POSITION\n{\n  return p * missing;\n}\n"
                      "technique T { pass P { VertexShader = compile vs_2_0 VS(); } }\n";
    errors.clear();
    EXPECT_TRUE(FAILED(MakeEffect(d.device, src, &fx, &errors)));
    EXPECT_NE(errors.find("(3,"), std::string::npos) << errors;
    EXPECT_NE(errors.find("missing"), std::string::npos) << errors;

    // Type errors, unknown entry points, unknown states and a vertex shader
    // without a position all fail.
    const char* const bad[] = {
        "float3 v = float4(1, 2, 3, 4) + float2(1, 1) * float4x4(1,0,0,0, 0,1,0,0, 0,0,1,0, 0,0,0,1);",
        "technique T { pass P { VertexShader = compile vs_2_0 Nowhere(); } }",
        "technique T { pass P { Sparkle = true; } }",
        "float4 VS(float4 p : POSITION) : COLOR { return p; }\n"
        "technique T { pass P { VertexShader = compile vs_2_0 VS(); } }",
        "float4 VS(float4 p : POSITION) : POSITION { return p; }\n"
        "technique T { pass P { VertexShader = compile ps_2_0 VS(); } }",
    };
    for (const char* s : bad) {
        errors.clear();
        EXPECT_TRUE(FAILED(MakeEffect(d.device, s, &fx, &errors))) << s;
        EXPECT_NE(errors.find("error"), std::string::npos) << s;
    }

    // A file that does not exist fails without messages.
    ID3DXBuffer* buffer = reinterpret_cast<ID3DXBuffer*>(1);
    EXPECT_TRUE(FAILED(D3DXCreateEffectFromFileA(d.device, "C:\\no\\such\\effect.fx", nullptr, nullptr, 0x20,
                                                 nullptr, &fx, &buffer)));
    EXPECT_EQ(buffer, nullptr);
    EXPECT_EQ(fx, nullptr);

    // A file with an error names the file as given.
    std::string path = std::string(VELMORA_BINARY_DIR) + "/broken_effect.fx";
    FILE* f = fopen(path.c_str(), "w");
    ASSERT_TRUE(f);
    fputs("float4 x;\n\n}\n", f);
    fclose(f);
    char windowsPath[1024];
    ASSERT_TRUE(VelmoraToWindowsPath(path.c_str(), windowsPath, sizeof windowsPath));
    EXPECT_TRUE(FAILED(D3DXCreateEffectFromFileA(d.device, windowsPath, nullptr, nullptr, 0x20, nullptr, &fx,
                                                 &buffer)));
    ASSERT_NE(buffer, nullptr);
    std::string text = (const char*)buffer->GetBufferPointer();
    buffer->Release();
    EXPECT_EQ(text.find(std::string(windowsPath) + "(3,1)"), 0u) << text;
}

TEST(Effect, ParametersByNameElementAndMember)
{
    Device d;
    ASSERT_TRUE(d.device);
    std::string src = std::string(kLightStruct) +
                      "float4x4 worldMatrix;\nLight lightArr[4];\nLight three[3];\nfloat4 material;\n"
                      "struct Wide { float3 position; float3 direction; float4 colour; float range; };\n"
                      "Wide wide[4];\nint count = 3;\nstatic float hidden = 2;\ntechnique T { pass P { } }\n";
    ID3DXEffect* fx = nullptr;
    std::string errors;
    ASSERT_EQ(MakeEffect(d.device, src, &fx, &errors), D3D_OK) << errors;

    D3DXHANDLE arr = fx->GetParameterByName(NULL, "lightArr");
    ASSERT_NE(arr, nullptr);
    for (UINT i = 0; i < 4; ++i)
        EXPECT_NE(fx->GetParameterElement(arr, i), nullptr) << i;
    EXPECT_EQ(fx->GetParameterElement(arr, 4), nullptr);
    D3DXHANDLE three = fx->GetParameterByName(NULL, "three");
    EXPECT_NE(fx->GetParameterElement(three, 2), nullptr);
    EXPECT_EQ(fx->GetParameterElement(three, 3), nullptr);
    EXPECT_EQ(fx->GetParameterByName(NULL, "nothing"), nullptr);
    EXPECT_EQ(fx->GetParameterByName(NULL, "hidden"), nullptr);  // static: not a parameter
    EXPECT_EQ(fx->GetParameterElement(fx->GetParameterByName(NULL, "material"), 0), nullptr);
    EXPECT_EQ(fx->GetParameterElement(NULL, 0), nullptr);

    // Raw 40-byte records in and out of an element.
    float record[10] = {1, 2, 3, 0, -1, 0, 0.5f, 0.25f, 0.125f, 1};
    D3DXHANDLE e2 = fx->GetParameterElement(arr, 2);
    EXPECT_EQ(fx->SetValue(e2, record, sizeof record), D3D_OK);
    float back[10] = {};
    EXPECT_EQ(fx->GetValue(e2, back, sizeof back), D3D_OK);
    EXPECT_EQ(memcmp(record, back, sizeof record), 0);
    D3DXHANDLE colour = fx->GetParameterByName(e2, "colour");
    ASSERT_NE(colour, nullptr);
    D3DXVECTOR4 c;
    EXPECT_EQ(fx->GetVector(colour, &c), D3D_OK);
    EXPECT_FLOAT_EQ(c.x, 0.5f);
    EXPECT_FLOAT_EQ(c.w, 1.f);
    // Neighbours are untouched; more bytes than the element holds are refused.
    EXPECT_EQ(fx->GetValue(fx->GetParameterElement(arr, 1), back, sizeof back), D3D_OK);
    EXPECT_FLOAT_EQ(back[0], 0.f);
    float tooMuch[12] = {};
    EXPECT_TRUE(FAILED(fx->SetValue(e2, tooMuch, sizeof tooMuch)));
    // A larger record keeps its first 40 bytes in the same layout.
    D3DXHANDLE w1 = fx->GetParameterElement(fx->GetParameterByName(NULL, "wide"), 1);
    EXPECT_EQ(fx->SetValue(w1, record, sizeof record), D3D_OK);
    D3DXPARAMETER_DESC desc;
    ASSERT_EQ(fx->GetParameterDesc(w1, &desc), D3D_OK);
    EXPECT_EQ(desc.Bytes, 44u);
    EXPECT_EQ(fx->GetVector(fx->GetParameterByName(w1, "colour"), &c), D3D_OK);
    EXPECT_FLOAT_EQ(c.y, 0.25f);

    // Matrices, ints and refused handles.
    D3DXMATRIX m = ToX(Identity());
    m._41 = 7.f;
    D3DXHANDLE world = fx->GetParameterByName(NULL, "worldMatrix");
    EXPECT_EQ(fx->SetMatrix(world, &m), D3D_OK);
    D3DXMATRIX got;
    EXPECT_EQ(fx->GetMatrix(world, &got), D3D_OK);
    EXPECT_FLOAT_EQ(got._41, 7.f);
    EXPECT_TRUE(FAILED(fx->SetMatrix(NULL, &m)));
    EXPECT_TRUE(FAILED(fx->SetMatrix(arr, &m)));
    EXPECT_TRUE(FAILED(fx->SetValue(NULL, record, 16)));
    INT n = 0;
    EXPECT_EQ(fx->GetInt(fx->GetParameterByName(NULL, "count"), &n), D3D_OK);
    EXPECT_EQ(n, 3);
    // A name works where a handle is expected.
    EXPECT_EQ(fx->SetMatrix("worldMatrix", &m), D3D_OK);

    D3DXEFFECT_DESC ed;
    ASSERT_EQ(fx->GetDesc(&ed), D3D_OK);
    EXPECT_EQ(ed.Parameters, 6u);
    fx->Release();
}

TEST(Effect, TechniquesValidOnTheDevice)
{
    const char* src =
        "float4 VS(float4 p : POSITION) : POSITION { return p; }\n"
        "float4 PS() : COLOR { return 1; }\n"
        "technique Three { pass P { VertexShader = compile vs_3_0 VS(); PixelShader = compile ps_3_0 PS(); } }\n"
        "technique First { pass P { VertexShader = compile vs_2_0 VS(); PixelShader = compile ps_2_0 PS(); } }\n"
        "technique PixelThree { pass P { VertexShader = compile vs_2_0 VS(); PixelShader = compile ps_3_0 PS(); } }\n"
        "technique Second { pass P { VertexShader = compile vs_1_1 VS(); PixelShader = compile ps_2_0 PS(); } }\n";
    Device d;
    ASSERT_TRUE(d.device);
    ID3DXEffect* fx = nullptr;
    std::string errors;
    ASSERT_EQ(MakeEffect(d.device, src, &fx, &errors), D3D_OK) << errors;
    D3DXHANDLE three = fx->GetTechniqueByName("Three"), first = fx->GetTechniqueByName("First"),
               second = fx->GetTechniqueByName("Second");
    D3DXHANDLE found = nullptr;
    EXPECT_EQ(fx->FindNextValidTechnique(NULL, &found), D3D_OK);
    EXPECT_EQ(found, first);
    EXPECT_EQ(fx->FindNextValidTechnique(first, &found), D3D_OK);
    EXPECT_EQ(found, second);
    // After the last valid one: no handle, and no wrap-around.
    EXPECT_EQ(fx->FindNextValidTechnique(second, &found), D3D_OK);
    EXPECT_EQ(found, nullptr);
    EXPECT_TRUE(FAILED(fx->FindNextValidTechnique(first, NULL)));
    EXPECT_TRUE(FAILED(fx->ValidateTechnique(three)));
    EXPECT_EQ(fx->ValidateTechnique(first), D3D_OK);

    // The current technique: the first one until set; null is refused.
    EXPECT_EQ(fx->GetCurrentTechnique(), three);
    EXPECT_EQ(fx->SetTechnique(second), D3D_OK);
    EXPECT_TRUE(FAILED(fx->SetTechnique(NULL)));
    EXPECT_EQ(fx->GetCurrentTechnique(), second);
    fx->Release();

    // On a 3.0 card every technique is valid.
    VelmoraSetDeviceShaderVersions(D3DVS_VERSION(3, 0), D3DPS_VERSION(3, 0));
    Device d3;
    VelmoraResetGraphicsCard();
    ASSERT_TRUE(d3.device);
    ASSERT_EQ(MakeEffect(d3.device, src, &fx, &errors), D3D_OK);
    EXPECT_EQ(fx->FindNextValidTechnique(NULL, &found), D3D_OK);
    EXPECT_EQ(found, fx->GetTechniqueByName("Three"));
    fx->Release();

    // No valid technique at all.
    ASSERT_EQ(MakeEffect(d.device,
                         "float4 VS(float4 p : POSITION) : POSITION { return p; }\n"
                         "technique T { pass P { VertexShader = compile vs_3_0 VS(); } }",
                         &fx, &errors),
              D3D_OK);
    EXPECT_EQ(fx->FindNextValidTechnique(NULL, &found), D3D_OK);
    EXPECT_EQ(found, nullptr);
    fx->Release();
}

TEST(Effect, ConstantPassFillsTheScreenAndRestoresStates)
{
    Device d(40, 30);
    ASSERT_TRUE(d.device);
    IDirect3DDevice9* dev = d.device;
    ID3DXEffect* fx = nullptr;
    std::string errors;
    ASSERT_EQ(MakeEffect(dev, kConstant, &fx, &errors), D3D_OK) << errors;
    dev->SetRenderState(D3DRS_CULLMODE, D3DCULL_CW);
    D3DMATRIX identity = Identity();
    dev->SetTransform(D3DTS_PROJECTION, &identity);

    dev->Clear(0, NULL, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.f, 0);
    dev->BeginScene();
    RunPasses(fx, [&] { FullScreenQuad(dev); });
    dev->EndScene();
    for (DWORD p : d.Pixels())
        ASSERT_EQ(p & 0xffffff, 0xff8000u);

    // The pass's states and shaders are given back.
    DWORD cull = 0;
    dev->GetRenderState(D3DRS_CULLMODE, &cull);
    EXPECT_EQ(cull, (DWORD)D3DCULL_CW);
    IDirect3DVertexShader9* vs = reinterpret_cast<IDirect3DVertexShader9*>(1);
    dev->GetVertexShader(&vs);
    EXPECT_EQ(vs, nullptr);

    // A value set inside a pass reaches the shader only when committed.
    D3DXVECTOR4 green(0.f, 1.f, 0.f, 1.f), blue(0.f, 0.f, 1.f, 1.f);
    dev->BeginScene();
    UINT passes;
    fx->Begin(&passes, 0);
    fx->BeginPass(0);
    fx->SetVector("colour", &green);
    FullScreenQuad(dev);
    EXPECT_EQ(d.Pixel(5, 5) & 0xffffff, 0xff8000u);
    fx->SetVector("colour", &blue);
    fx->CommitChanges();
    FullScreenQuad(dev);
    EXPECT_EQ(d.Pixel(5, 5) & 0xffffff, 0x0000ffu);
    fx->EndPass();
    fx->End();
    dev->EndScene();
    EXPECT_TRUE(FAILED(fx->BeginPass(0)));
    EXPECT_TRUE(FAILED(fx->End()));
    fx->Release();
}

TEST(Effect, VertexShaderCoverageMatchesFixedPipeline)
{
    const int S = 64;
    Device d(S, S);
    ASSERT_TRUE(d.device);
    IDirect3DDevice9* dev = d.device;
    D3DMATRIX world = Identity(), view = LookAtLH(0.3f, 0.4f, -3.f, 0, 0, 0),
              proj = PerspectiveFovLH(0.9f, 1.f, 0.5f, 20.f);
    world._41 = 0.2f;
    D3DXMATRIX wvp;
    D3DXMatrixMultiply(&wvp, (const D3DXMATRIX*)&world, (const D3DXMATRIX*)&view);
    D3DXMatrixMultiply(&wvp, &wvp, (const D3DXMATRIX*)&proj);
    ColorVertex tri[6] = {{-1.3f, -0.9f, 0.4f, 0xffff0000}, {0.1f, 1.2f, -0.3f, 0xff00ff00},
                          {1.1f, -0.7f, 0.9f, 0xff0000ff}, {-0.2f, 0.3f, 2.5f, 0xffffffff},
                          {0.9f, 0.9f, 0.1f, 0xff808080}, {0.4f, -1.4f, -1.9f, 0xff000000}};

    // Fixed pipeline.
    dev->SetTransform(D3DTS_WORLD, &world);
    dev->SetTransform(D3DTS_VIEW, &view);
    dev->SetTransform(D3DTS_PROJECTION, &proj);
    dev->SetRenderState(D3DRS_LIGHTING, FALSE);
    dev->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    dev->Clear(0, NULL, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.f, 0);
    dev->BeginScene();
    dev->SetFVF(kColorFvf);
    dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 2, tri, sizeof(ColorVertex));
    dev->EndScene();
    std::vector<DWORD> fixed = d.Pixels();

    // The same through an effect: mul(position, worldViewProj), colour interpolated.
    ID3DXEffect* fx = nullptr;
    std::string errors;
    const char* src =
        "float4x4 worldViewProj;\n"
        "struct VOut { float4 p : POSITION; float4 c : COLOR0; };\n"
        "VOut VS(float3 p : POSITION, float4 c : COLOR0) { VOut o; o.p = mul(float4(p, 1), worldViewProj);"
        " o.c = c; return o; }\n"
        "float4 PS(float4 c : COLOR0) : COLOR0 { return c; }\n"
        "technique T { pass P { VertexShader = compile vs_2_0 VS(); PixelShader = compile ps_2_0 PS(); } }\n";
    ASSERT_EQ(MakeEffect(dev, src, &fx, &errors), D3D_OK) << errors;
    fx->SetMatrix("worldViewProj", &wvp);
    dev->Clear(0, NULL, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.f, 0);
    dev->BeginScene();
    RunPasses(fx, [&] {
        dev->SetFVF(kColorFvf);
        dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 2, tri, sizeof(ColorVertex));
    });
    dev->EndScene();
    std::vector<DWORD> shaded = d.Pixels();
    SavePng("effect_coverage_fixed", fixed, S, S);
    SavePng("effect_coverage_shaded", shaded, S, S);
    int covered = 0;
    for (int i = 0; i < S * S; ++i) {
        ASSERT_EQ(fixed[i] != 0, shaded[i] != 0) << "pixel " << i % S << "," << i / S;
        if (fixed[i]) {
            ++covered;
            ASSERT_NEAR(Red(fixed[i]), Red(shaded[i]), 1) << i;
            ASSERT_NEAR(Green(fixed[i]), Green(shaded[i]), 1) << i;
            ASSERT_NEAR(Blue(fixed[i]), Blue(shaded[i]), 1) << i;
        }
    }
    EXPECT_GT(covered, 300);
    fx->Release();
}

TEST(Effect, LanguageFeaturesComputeLikeHlsl)
{
    // Each case writes a colour that the test reads back from the screen.
    struct Case {
        const char* body;
        DWORD expected;
    } cases[] = {
        {"float4 c = 0; for (int i = 0; i < 4; i++) { if (i == 2) continue; c.r += 0.25; } return c;", 0xbf0000},
        {"float3 v = float3(3, 4, 0); return float4(length(v) / 10, dot(v, float3(0, 0.25, 0)), 0, 1);", 0x80ff00},
        {"float2x2 m = float2x2(1, 2, 3, 4); float2 r = mul(float2(1, 0), m); return float4(r / 4, 0, 1);", 0x408000},
        {"float2x2 m = float2x2(1, 2, 3, 4); float2 r = mul(m, float2(1, 0)); return float4(r / 4, 0, 1);", 0x40bf00},
        {"int i = 7 / 2; float f = 7.0 / 2; return float4(i / 4.0, f / 4, 0, 1);", 0xbfe000},
        {"float4 c = float4(0.1, 0.2, 0.3, 1); c.xz = c.zx; return c.bgra;", 0x1a334d},
        {"float x = 0.5; x *= 2; x -= 0.5; return x > 0.4 ? float4(1, 0, 0, 1) : float4(0, 1, 0, 1);", 0xff0000},
        {"return float4(saturate(2.0), clamp(-1, 0, 1), lerp(0.0, 1.0, 0.5), 1);", 0xff0080},
        {"return float4(smoothstep(0, 1, 0.5), step(0.5, 0.7), frac(1.25), 1);", 0x80ff40},
        {"float3 n = cross(float3(1, 0, 0), float3(0, 1, 0)); return float4(n, 1);", 0x0000ff},
        {"float a[3] = {0.25, 0.5, 0.75}; int k = 1; return float4(a[k], a[k + 1], a[0], 1);", 0x80bf40},
        {"return Helper(0.25);", 0x408000},
        {"float o; Twice(0.25, o); return float4(o, o, o, 1);", 0x808080},
    };
    Device d(8, 8);
    ASSERT_TRUE(d.device);
    IDirect3DDevice9* dev = d.device;
    D3DMATRIX identity = Identity();
    dev->SetTransform(D3DTS_PROJECTION, &identity);
    for (const Case& c : cases) {
        std::string src = std::string(
                              "float4 Helper(float x) { return float4(x, x * 2, 0, 1); }\n"
                              "void Twice(float x, out float y) { y = x * 2; }\n"
                              "float4 VS(float4 p : POSITION) : POSITION { return p; }\n"
                              "float4 PS() : COLOR {\n") +
                          c.body +
                          "\n}\ntechnique T { pass P { ZEnable = false; CullMode = None;\n"
                          " VertexShader = compile vs_2_0 VS(); PixelShader = compile ps_2_0 PS(); } }\n";
        ID3DXEffect* fx = nullptr;
        std::string errors;
        ASSERT_EQ(MakeEffect(dev, src, &fx, &errors), D3D_OK) << c.body << "\n" << errors;
        dev->Clear(0, NULL, D3DCLEAR_TARGET, 0, 1.f, 0);
        dev->BeginScene();
        RunPasses(fx, [&] { FullScreenQuad(dev); });
        dev->EndScene();
        DWORD p = d.Pixel(4, 4) & 0xffffff;
        EXPECT_NEAR(Red(p), Red(c.expected), 1) << c.body;
        EXPECT_NEAR(Green(p), Green(c.expected), 1) << c.body;
        EXPECT_NEAR(Blue(p), Blue(c.expected), 1) << c.body;
        fx->Release();
    }
}

TEST(Effect, ShippedEffectsMeetTheContractAndLight)
{
    const int W = 160, H = 120;
    Device d(W, H);
    ASSERT_TRUE(d.device);
    IDirect3DDevice9* dev = d.device;
    D3DXMATRIX world = ToX(Identity()), view = ToX(LookAtLH(0, 60, -300, 0, 0, 0)),
               proj = ToX(PerspectiveFovLH(0.8f, (float)W / H, 10.f, 5000.f));
    // Record 2: broad light high above pointing down (slightly forward), as at start-up.
    float lights[3][10] = {{0}, {0}, {50, 1000, 50, 0, -1, 0.2f, 0.4f, 0.4f, 0.4f, 0}};
    std::vector<NormalVertex> sphere = Sphere(80.f, 16, 24);
    std::vector<std::vector<DWORD>> looks;

    for (const char* name : {"spot.fx", "dancer.fx"}) {
        char windowsPath[1024];
        ASSERT_TRUE(VelmoraToWindowsPath(ShippedEffect(name).c_str(), windowsPath, sizeof windowsPath));
        ID3DXEffect* fx = nullptr;
        ID3DXBuffer* errors = nullptr;
        HRESULT hr = D3DXCreateEffectFromFileA(dev, windowsPath, nullptr, nullptr, D3DXSHADER_PARTIALPRECISION,
                                               nullptr, &fx, &errors);
        ASSERT_EQ(hr, D3D_OK) << (errors ? (const char*)errors->GetBufferPointer() : "");
        for (const char* p : {"projectionMatrix", "viewMatrix", "worldMatrix", "material"})
            EXPECT_NE(fx->GetParameterByName(NULL, p), nullptr) << name << " " << p;
        D3DXHANDLE arr = fx->GetParameterByName(NULL, "lightArr");
        ASSERT_NE(arr, nullptr);
        for (UINT i = 0; i < 4; ++i)
            ASSERT_NE(fx->GetParameterElement(arr, i), nullptr);
        fx->SetMatrix("projectionMatrix", &proj);
        fx->SetMatrix("viewMatrix", &view);
        fx->SetMatrix("worldMatrix", &world);
        for (UINT i = 0; i < 3; ++i)
            fx->SetValue(fx->GetParameterElement(arr, i), lights[i], 40);
        float white[4] = {1, 1, 1, 1}, tint[4] = {1.f, 0.5f, 0.2f, 1.f};
        bool dancer = std::string(name) == "dancer.fx";
        fx->SetValue(fx->GetParameterByName(NULL, "material"), dancer ? tint : white, 16);

        D3DXHANDLE tech = nullptr;
        ASSERT_EQ(fx->FindNextValidTechnique(NULL, &tech), D3D_OK);
        ASSERT_NE(tech, nullptr);
        int techniques = 0;
        while (tech) {
            ++techniques;
            fx->SetTechnique(tech);
            dev->Clear(0, NULL, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.f, 0);
            dev->BeginScene();
            RunPasses(fx, [&] {
                dev->SetFVF(D3DFVF_XYZ | D3DFVF_NORMAL);
                dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, (UINT)sphere.size() / 3, sphere.data(),
                                     sizeof(NormalVertex));
            });
            dev->EndScene();
            std::vector<DWORD> px = d.Pixels();
            D3DXTECHNIQUE_DESC td;
            fx->GetTechniqueDesc(tech, &td);
            SavePng(std::string("effect_") + name + "_" + td.Name, px, W, H);
            // Lit from above: the top of the sphere is brighter than its lower half.
            auto lum = [&](int x, int y) {
                DWORD p = px[(size_t)y * W + x];
                return Red(p) + Green(p) + Blue(p);
            };
            int top = 0, bottom = 0, lit = 0;
            for (int y = 0; y < H; ++y)
                for (int x = 0; x < W; ++x) {
                    if (px[(size_t)y * W + x] & 0xffffff)
                        ++lit;
                }
            for (int x = W / 2 - 5; x <= W / 2 + 5; ++x) {
                top += lum(x, H / 2 - 22);
                bottom += lum(x, H / 2 + 22);
            }
            EXPECT_GT(lit, 1500) << name << " " << td.Name;
            if (std::string(td.Name) != "Glow") {
                EXPECT_GT(top, bottom + 30) << name << " " << td.Name;
            }
            looks.push_back(px);
            if (!dancer)
                break;
            D3DXHANDLE next = nullptr;
            fx->FindNextValidTechnique(tech, &next);
            tech = next;
        }
        if (dancer) {
            EXPECT_GE(techniques, 3);
        }
        fx->Release();
    }
    // The dancer's looks differ clearly from each other.
    ASSERT_GE(looks.size(), 4u);
    for (size_t a = 1; a < looks.size(); ++a)
        for (size_t b = a + 1; b < looks.size(); ++b) {
            long diff = 0;
            for (size_t i = 0; i < looks[a].size(); ++i)
                diff += abs(Red(looks[a][i]) - Red(looks[b][i])) + abs(Green(looks[a][i]) - Green(looks[b][i]));
            EXPECT_GT(diff / (long)looks[a].size(), 3) << a << " vs " << b;
        }
}
