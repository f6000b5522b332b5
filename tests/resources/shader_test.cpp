// Effects: compile, technique choice, parameter look-up and the setters.
#include <gtest/gtest.h>

#include <d3dx9.h>

#include "Resource/ResourceManager.h"
#include "Resource/Shader.h"
#include "Resource/Texture.h"
#include "resource_test_support.h"

#include <string.h>

#include <string>

namespace {

using restest::LogWatch;
using testing_support::TempFolder;

const char* kTechniqueV2 =
    "technique %s { pass P0 { VertexShader = compile vs_2_0 VS(); PixelShader = compile ps_2_0 PS(); } }\n";
const char* kTechniqueV3 =
    "technique %s { pass P0 { VertexShader = compile vs_3_0 VS(); PixelShader = compile ps_3_0 PS(); } }\n";

// An effect with the given parameter declarations and techniques. The shaders
// read every parameter that the text declares (named by the macros).
std::string Effect(const std::string& parameters, const std::string& techniques, bool lights = true,
                   bool material = true)
{
    std::string s = "struct Light { float3 position; float3 direction; float4 colour; };\n";
    s += "float4x4 projectionMatrix;\nfloat4x4 viewMatrix;\nfloat4x4 worldMatrix;\n";
    s += parameters;
    s += "struct VSOut { float4 pos : POSITION; float4 col : COLOR0; };\n"
         "VSOut VS(float3 p : POSITION, float3 n : NORMAL) {\n"
         "  VSOut o;\n"
         "  float4 w = mul(float4(p, 1), worldMatrix);\n"
         "  o.pos = mul(mul(w, viewMatrix), projectionMatrix);\n"
         "  float4 c = float4(1, 1, 1, 1);\n";
    if (material)
        s += "  c = c * material;\n";
    if (lights)
        s += "  c = c * (lightArr[0].colour + float4(0.2, 0.2, 0.2, 0));\n";
    s += "  o.col = c;\n  return o;\n}\n"
         "float4 PS(float4 c : COLOR0) : COLOR { return c; }\n";
    s += techniques;
    return s;
}

std::string Techniques(std::initializer_list<std::pair<const char*, bool>> list)
{
    std::string s;
    for (const auto& t : list)
    {
        char line[256];
        snprintf(line, sizeof line, t.second ? kTechniqueV2 : kTechniqueV3, t.first);
        s += line;
    }
    return s;
}

const std::string kFullParameters = "Light lightArr[4];\nfloat4 material;\n";

class Shaders : public ::testing::Test
{
protected:
    std::string Write(const std::string& name, const std::string& text)
    {
        std::string path = folder / name;
        testing_support::WriteFile(path, text);
        return path;
    }
    std::vector<float> Value(CShader& shader, const char* name, int element, size_t floats)
    {
        ID3DXEffect* effect = shader.GetEffect();
        D3DXHANDLE handle = effect->GetParameterByName(nullptr, name);
        if (element >= 0)
            handle = effect->GetParameterElement(handle, element);
        std::vector<float> out(floats, -1.0f);
        effect->GetValue(handle, out.data(), static_cast<UINT>(floats * sizeof(float)));
        return out;
    }

    restest::BoundDevice bound;
    TempFolder folder;
};

CShaderLight MakeLight(float seed)
{
    CShaderLight light;
    for (int i = 0; i < 3; ++i)
    {
        light.position[i] = seed + i;
        light.direction[i] = seed + 10 + i;
    }
    for (int i = 0; i < 4; ++i)
        light.colour[i] = seed + 20 + i;
    return light;
}

TEST_F(Shaders, FullEffectLoadsQuietlyAndTakesEveryValue)
{
    const std::string path = Write("full.fx", Effect(kFullParameters, Techniques({{"First", true}})));
    LogWatch log;
    CShader shader(path);
    EXPECT_TRUE(log.Has("Shader", 58, "CSHADER constructor"));
    EXPECT_EQ(shader.GetType(), 1);
    ASSERT_TRUE(shader.Load());
    EXPECT_EQ(log.Messages(), std::vector<std::string>{"CSHADER constructor"});
    ID3DXEffect* effect = shader.GetEffect();
    ASSERT_NE(effect, nullptr);
    EXPECT_EQ(shader.GetTechnique(), effect->GetTechniqueByName("First"));
    EXPECT_EQ(effect->GetCurrentTechnique(), shader.GetTechnique());

    D3DXMATRIX world, view, projection, read;
    D3DXMatrixTranslation(&world, 1, 2, 3);
    D3DXMatrixScaling(&view, 4, 5, 6);
    D3DXMatrixPerspectiveFovLH(&projection, 1.0f, 1.5f, 1.0f, 100.0f);
    shader.SetWorldMatrix(world);
    shader.SetViewMatrix(view);
    shader.SetProjectionMatrix(projection);
    effect->GetMatrix(effect->GetParameterByName(nullptr, "worldMatrix"), &read);
    EXPECT_EQ(memcmp(&read, &world, sizeof read), 0);
    effect->GetMatrix(effect->GetParameterByName(nullptr, "viewMatrix"), &read);
    EXPECT_EQ(memcmp(&read, &view, sizeof read), 0);
    effect->GetMatrix(effect->GetParameterByName(nullptr, "projectionMatrix"), &read);
    EXPECT_EQ(memcmp(&read, &projection, sizeof read), 0);

    const float colour[4] = {0.1f, 0.2f, 0.3f, 0.4f};
    shader.SetMaterial(colour);
    EXPECT_EQ(Value(shader, "material", -1, 4), std::vector<float>(colour, colour + 4));

    // Lights 0 to 3 land in their elements; 4 and -1 change nothing.
    for (int i = 0; i < 4; ++i)
        shader.SetLight(i, MakeLight(100.0f * i));
    const std::vector<float> before = Value(shader, "lightArr", 3, 10);
    shader.SetLight(4, MakeLight(7));
    shader.SetLight(-1, MakeLight(7));
    for (int i = 0; i < 4; ++i)
    {
        CShaderLight expected = MakeLight(100.0f * i);
        std::vector<float> got = Value(shader, "lightArr", i, 10);
        EXPECT_EQ(memcmp(got.data(), &expected, sizeof expected), 0) << i;
    }
    EXPECT_EQ(Value(shader, "lightArr", 3, 10), before);
    EXPECT_EQ(Value(shader, "lightArr", 0, 10)[0], 0.0f);
}

TEST_F(Shaders, MissingParametersWarnAndTheirSettersDoNothing)
{
    LogWatch log;
    // Without "lightArr": one warning, no element warnings.
    CShader noLights(Write("nolights.fx", Effect("float4 material;\n", Techniques({{"T", true}}), false)));
    ASSERT_TRUE(noLights.Load());
    EXPECT_TRUE(log.Has("Shader", 69, "warning parameter *lightArr* not founded"));
    EXPECT_EQ(log.Count("warning parameter *lightArr* not founded"), 1);
    EXPECT_EQ(log.Count("warning couldnot find light 0"), 0);
    for (int i = -1; i <= 4; ++i)
        noLights.SetLight(i, MakeLight(1));

    // Three elements: the fourth is missing and said so; 0 to 2 still arrive.
    CShader three(Write("three.fx", Effect("Light lightArr[3];\nfloat4 material;\n", Techniques({{"T", true}}))));
    ASSERT_TRUE(three.Load());
    EXPECT_TRUE(log.Has("Shader", 74, "warning couldnot find light 3"));
    EXPECT_EQ(log.Count("warning couldnot find light 3"), 1);
    EXPECT_EQ(log.Count("warning couldnot find light 2"), 0);
    for (int i = 0; i < 4; ++i)
        three.SetLight(i, MakeLight(10.0f * (i + 1)));
    CShaderLight second = MakeLight(30.0f);
    std::vector<float> got = Value(three, "lightArr", 2, 10);
    EXPECT_EQ(memcmp(got.data(), &second, sizeof second), 0);

    // Without "material": its warning, and SetMaterial has nowhere to go.
    CShader noMaterial(Write("nomaterial.fx", Effect("Light lightArr[4];\n", Techniques({{"T", true}}), true, false)));
    ASSERT_TRUE(noMaterial.Load());
    EXPECT_TRUE(log.Has("Shader", 80, "WARNING material NULL"));
    const float colour[4] = {1, 2, 3, 4};
    noMaterial.SetMaterial(colour);
    // The matrices are never reported.
    CShader bare(Write("bare.fx", "float4 VS(float3 p : POSITION) : POSITION { return float4(p, 1); }\n"
                                  "float4 PS() : COLOR { return float4(1, 1, 1, 1); }\n" +
                                      Techniques({{"T", true}})));
    ASSERT_TRUE(bare.Load());
    D3DXMATRIX m;
    D3DXMatrixIdentity(&m);
    bare.SetWorldMatrix(m);
    bare.SetViewMatrix(m);
    bare.SetProjectionMatrix(m);
    EXPECT_EQ(log.Count("WARNING material NULL"), 2);
    EXPECT_EQ(log.Count("warning parameter *lightArr* not founded"), 2);
}

TEST_F(Shaders, FailedLoadsSayWhyOrNothing)
{
    CResourceManager manager;
    // A compile error: the compiler's text goes to the log.
    const std::string broken = Write("broken.fx", "float4 material;\nthis is not hlsl;\n");
    LogWatch log;
    EXPECT_EQ(manager.GetShader(broken), nullptr);
    // The compiler's text may run over several lines.
    std::vector<std::string> messages = log.Messages();
    ASSERT_GE(messages.size(), 4u);
    EXPECT_EQ(messages[0], "loading " + broken);
    EXPECT_EQ(messages[1], "CSHADER constructor");
    EXPECT_NE(messages[2].find("error"), std::string::npos) << messages[2];
    EXPECT_EQ(messages.back(), "CSHADER destructor");
    EXPECT_TRUE(log.Lines()[2].find("[          Shader::  36]") == 0) << log.Lines()[2];

    // A missing file fails without text of its own.
    LogWatch quiet;
    const std::string missing = folder / "missing.fx";
    EXPECT_EQ(manager.GetShader(missing), nullptr);
    EXPECT_EQ(quiet.Messages(),
              (std::vector<std::string>{"loading " + missing, "CSHADER constructor", "CSHADER destructor"}));
    EXPECT_TRUE(quiet.Has("ResourceManager", 89, "loading " + missing));

    // No technique the card can run.
    LogWatch refused;
    const std::string tooNew = Write("toonew.fx", Effect(kFullParameters, Techniques({{"Three", false}})));
    EXPECT_EQ(manager.GetShader(tooNew), nullptr);
    EXPECT_TRUE(refused.Has("Shader", 55, tooNew + " : error setting technique"));
    EXPECT_EQ(refused.Count("CSHADER destructor"), 1);
    EXPECT_EQ(manager.Find(tooNew), nullptr);
}

// Sources that once hung or crashed the compiler fail like any compile error:
// the compiler's text in the log and no effect.
TEST_F(Shaders, HostileSourcesEndInTheCompilersErrorLine)
{
    CResourceManager manager;
    const std::string unclosed = Write("unclosed.fx", "float4 f() { [ }");
    const std::string deep =
        Write("deep.fx", "float c = " + std::string(20000, '(') + "1" + std::string(20000, ')') + ";");
    LogWatch log;
    EXPECT_EQ(manager.GetShader(unclosed), nullptr);
    EXPECT_EQ(manager.GetShader(deep), nullptr);
    int unexpectedEnd = 0, tooDeep = 0;
    for (const std::string& line : log.Lines())
    {
        if (line.find("[          Shader::  36]") != 0)
            continue;
        unexpectedEnd += line.find("(1,17): error: syntax error: unexpected end of file") != std::string::npos;
        tooDeep += line.find(": error: nesting too deep") != std::string::npos;
    }
    EXPECT_EQ(unexpectedEnd, 1);
    EXPECT_EQ(tooDeep, 1);
    EXPECT_EQ(log.Count("CSHADER destructor"), 2);
}

TEST_F(Shaders, NextValidTechniqueSkipsInvalidOnesAndWraps)
{
    const std::string path =
        Write("many.fx", Effect(kFullParameters, Techniques({{"Old", false}, {"A", true}, {"Mid", false}, {"B", true},
                                                             {"Last", false}})));
    CShader shader(path);
    ASSERT_TRUE(shader.Load());
    ID3DXEffect* effect = shader.GetEffect();
    D3DXHANDLE a = effect->GetTechniqueByName("A");
    D3DXHANDLE b = effect->GetTechniqueByName("B");
    EXPECT_EQ(shader.GetTechnique(), a);
    EXPECT_EQ(shader.NextValidTechnique(nullptr), a);
    EXPECT_EQ(shader.NextValidTechnique(a), b);
    EXPECT_EQ(shader.NextValidTechnique(b), a);
    EXPECT_EQ(shader.NextValidTechnique(effect->GetTechniqueByName("Old")), a);
    // Asking does not change the current technique; setting does.
    EXPECT_EQ(shader.GetTechnique(), a);
    shader.SetTechnique(b);
    EXPECT_EQ(shader.GetTechnique(), b);
    EXPECT_EQ(effect->GetCurrentTechnique(), b);
    // The effect refuses a null technique and keeps its own.
    shader.SetTechnique(nullptr);
    EXPECT_EQ(effect->GetCurrentTechnique(), b);

    CShader single(Write("single.fx", Effect(kFullParameters, Techniques({{"Only", true}, {"Not", false}}))));
    ASSERT_TRUE(single.Load());
    D3DXHANDLE only = single.GetEffect()->GetTechniqueByName("Only");
    EXPECT_EQ(single.NextValidTechnique(nullptr), only);
    EXPECT_EQ(single.NextValidTechnique(only), only);

    // Unloaded: no effect, no technique.
    ID3DXEffect* kept = single.GetEffect();
    kept->AddRef();
    single.Unload();
    EXPECT_EQ(single.GetEffect(), nullptr);
    EXPECT_EQ(single.NextValidTechnique(nullptr), nullptr);
    single.SetLight(0, MakeLight(1));
    EXPECT_EQ(kept->Release(), 0u);
}

TEST_F(Shaders, KindsDoNotMixUnderOnePath)
{
    const std::string path = Write("shared.fx", Effect(kFullParameters, Techniques({{"T", true}})));
    CResourceManager manager;
    CShader* shader = manager.GetShader(path);
    ASSERT_NE(shader, nullptr);
    EXPECT_EQ(manager.GetShader(path), shader);
    EXPECT_EQ(manager.GetTexture(path), nullptr);
    EXPECT_EQ(manager.GetGraphicObject(path), nullptr);
    EXPECT_EQ(shader->GetRequestCount(), 2);
    EXPECT_NE(shader->GetEffect(), nullptr);

    CTexture texture(path);
    CShader sameName(path);
    EXPECT_TRUE(texture.IsDifferent(shader));
    EXPECT_TRUE(shader->IsDifferent(&texture));
    EXPECT_FALSE(shader->IsDifferent(&sameName));
}

}  // namespace
