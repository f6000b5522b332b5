// Models drawn through the dancer effect: tint, technique, world transform,
// and a look at a generated dancer.
#include <gtest/gtest.h>

#include <d3dx9.h>

#include "Resource/Shader.h"
#include "anim_test_support.h"
#include "ik/CIKModel.h"
#include "ms3d/CMs3d.h"
#include "plugin.h"
#include "resource_test_support.h"

#include <stdlib.h>

#include <string>

namespace {

using testing_support::TempFolder;

// Two valid techniques that paint the tint, one the card cannot run between them.
const char* kTintEffect = R"(
float4x4 projectionMatrix;
float4x4 viewMatrix;
float4x4 worldMatrix;
struct Light { float3 position; float3 direction; float4 colour; };
Light lightArr[4];
float4 material;
float4 VS(float3 p : POSITION) : POSITION
{
    return mul(mul(mul(float4(p, 1), worldMatrix), viewMatrix), projectionMatrix);
}
float4 TintPS() : COLOR { return material; }
float4 HalfPS() : COLOR { return float4(material.rgb * 0.5, 1); }
technique Tint { pass P0 { VertexShader = compile vs_2_0 VS(); PixelShader = compile ps_2_0 TintPS(); } }
technique Never { pass P0 { VertexShader = compile vs_3_0 VS(); PixelShader = compile ps_3_0 TintPS(); } }
technique Half { pass P0 { VertexShader = compile vs_2_0 VS(); PixelShader = compile ps_2_0 HalfPS(); } }
)";

class ModelEffect : public ::testing::Test
{
protected:
    ModelEffect() : bound(256, 256) {}
    void SetUp() override
    {
        ASSERT_NE(g_pDevice, nullptr);
        savedShader = g_pDancerShader;
        savedProjection = g_ProjectionMatrix;
        const std::string path = folder / "tint.fx";
        testing_support::WriteFile(path, kTintEffect);
        shader = new CShader(path);
        ASSERT_TRUE(shader->Load());
        g_pDancerShader = shader;
        D3DXMATRIX identity;
        D3DXMatrixIdentity(&identity);
        shader->SetViewMatrix(identity);
        shader->SetProjectionMatrix(identity);
        g_pDevice->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
        ASSERT_TRUE(model.Load(animtest::TwoBoneFile().Write("effect_bones.ms3d").c_str()));
        model.Skin();
    }
    void TearDown() override
    {
        g_pDancerShader = savedShader;
        g_ProjectionMatrix = savedProjection;
        delete shader;
    }
    void SetWorld(float scale, float x, float y)
    {
        D3DXMATRIX s, t;
        D3DXMatrixScaling(&s, scale, scale, scale);
        D3DXMatrixTranslation(&t, x, y, 0.5f);
        D3DXMATRIX world = s * t;
        g_pDevice->SetTransform(D3DTS_WORLD, &world);
    }
    std::vector<DWORD> Draw()
    {
        g_pDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
        g_pDevice->BeginScene();
        model.Render();
        g_pDevice->EndScene();
        return bound.device.Pixels();
    }

    restest::BoundDevice bound;
    TempFolder folder;
    CShader* savedShader = nullptr;
    CShader* shader = nullptr;
    D3DXMATRIX savedProjection;
    CMs3d model;
};

TEST_F(ModelEffect, RenderPaintsTheTintWithTheModelsTechniqueWhereTheWorldPutsIt)
{
    ID3DXEffect* effect = shader->GetEffect();
    model.m_Technique = effect->GetTechniqueByName("Tint");
    model.m_Tint[0] = 1.0f, model.m_Tint[1] = 0.5f, model.m_Tint[2] = 0.0f, model.m_Tint[3] = 1.0f;
    SetWorld(0.05f, 0.0f, -0.5f);
    std::vector<DWORD> pixels = Draw();
    // Triangle 0 spans model y 0..5, so it covers (128, 184).
    DWORD lower = pixels[180 * 256 + 128];
    EXPECT_EQ(d3dtest::Red(lower), 255);
    EXPECT_NEAR(d3dtest::Green(lower), 128, 1);
    EXPECT_EQ(d3dtest::Blue(lower), 0);
    EXPECT_EQ(pixels[180 * 256 + 60] & 0xFFFFFF, 0u);

    // Another world transform moves it; another technique changes the look.
    SetWorld(0.05f, -0.5f, -0.5f);
    model.m_Technique = effect->GetTechniqueByName("Half");
    pixels = Draw();
    EXPECT_EQ(pixels[180 * 256 + 128] & 0xFFFFFF, 0u);
    DWORD moved = pixels[180 * 256 + 64];
    EXPECT_NEAR(d3dtest::Red(moved), 128, 1);
    EXPECT_EQ(shader->GetTechnique(), model.m_Technique);
}

TEST_F(ModelEffect, ChangeColourStepsThroughTheValidTechniques)
{
    ID3DXEffect* effect = shader->GetEffect();
    D3DXHANDLE tint = effect->GetTechniqueByName("Tint");
    D3DXHANDLE half = effect->GetTechniqueByName("Half");
    std::vector<D3DXHANDLE> seen;
    for (unsigned seed = 1; seen.size() < 4 && seed < 500; ++seed)
    {
        srand(seed);
        if (rand() % 3 != 0)
            continue;
        const float tint0 = model.m_Tint[0];
        srand(seed);
        model.ChangeColour();
        seen.push_back(model.m_Technique);
        EXPECT_EQ(model.m_Tint[0], tint0);
    }
    EXPECT_EQ(seen, (std::vector<D3DXHANDLE>{tint, half, tint, half}));
    // Choosing a technique does not set it on the shared effect.
    EXPECT_EQ(shader->GetTechnique(), tint);
}

TEST_F(ModelEffect, FirstDrawWithoutTechniquePicksTintOrTechnique)
{
    SetWorld(0.05f, 0.0f, -0.5f);
    for (unsigned seed = 1; seed <= 12; ++seed)
    {
        model.Free();
        ASSERT_TRUE(model.Load(animtest::TwoBoneFile().Write("effect_bones.ms3d").c_str()));
        model.Skin();
        srand(seed);
        const bool technique = rand() % 3 == 0;
        srand(seed);
        std::vector<DWORD> pixels = Draw();
        if (technique)
        {
            // The default tint in the first technique.
            EXPECT_EQ(model.m_Technique, shader->GetEffect()->GetTechniqueByName("Tint"));
            DWORD p = pixels[180 * 256 + 128];
            EXPECT_EQ(d3dtest::Red(p), 255) << seed;
            EXPECT_NEAR(d3dtest::Green(p), 153, 1) << seed;
        }
        else
        {
            // A random tint, and no technique yet: the effect keeps its own.
            EXPECT_EQ(model.m_Technique, nullptr);
            EXPECT_EQ(model.m_Tint[3], 1.0f);
        }
    }
}

// The demo's dancer in the demo's dancer effect, written out for a look.
TEST_F(ModelEffect, GeneratedDancerThroughTheDancerEffect)
{
    std::string fx = std::string(VELMORA_PLUGIN_DIR) + "/data/shaders/dancer.fx";
    if (!testing_support::FileExists(fx))
        GTEST_SKIP() << "no dancer effect in the data folder";
    CShader dancer(fx);
    ASSERT_TRUE(dancer.Load());
    g_pDancerShader = &dancer;

    g_DataPath = std::string(VELMORA_PLUGIN_DIR) + "/data/";
    CIKModel ik;
    ASSERT_TRUE(ik.LoadFile((g_DataPath + "dancer_slim.xml").c_str()));
    ik.ResetPose();
    ik.UpdateControls(0.0f);
    ik.SolveAll();
    ik.ApplyToMesh();
    const D3DXVECTOR3 centre((ik.m_BoxMin.x + ik.m_BoxMax.x) * 0.5f, (ik.m_BoxMin.y + ik.m_BoxMax.y) * 0.5f,
                             (ik.m_BoxMin.z + ik.m_BoxMax.z) * 0.5f);
    D3DXVECTOR3 eye(centre.x + 60.0f, centre.y + 20.0f, centre.z - 170.0f), up(0, 1, 0);
    D3DXMATRIX view, world;
    D3DXMatrixLookAtLH(&view, &eye, &centre, &up);
    D3DXMatrixPerspectiveFovLH(&g_ProjectionMatrix, 1.2566371f, 1.0f, 1.0f, 1500.0f);
    D3DXMatrixIdentity(&world);
    g_pDevice->SetTransform(D3DTS_VIEW, &view);
    g_pDevice->SetTransform(D3DTS_WORLD, &world);
    dancer.SetViewMatrix(view);
    dancer.SetProjectionMatrix(g_ProjectionMatrix);
    CShaderLight front;
    front.position[0] = centre.x - 100.0f, front.position[1] = centre.y + 250.0f, front.position[2] = centre.z - 300.0f;
    front.direction[0] = 100.0f, front.direction[1] = -250.0f, front.direction[2] = 300.0f;
    front.colour[0] = 1.0f, front.colour[1] = 0.9f, front.colour[2] = 0.8f, front.colour[3] = 1.0f;
    dancer.SetLight(0, front);
    dancer.SetLight(1, CShaderLight());
    dancer.SetLight(2, CShaderLight());

    ik.m_Technique = dancer.NextValidTechnique(nullptr);
    ik.m_Tint[0] = 0.3f, ik.m_Tint[1] = 0.7f, ik.m_Tint[2] = 0.9f, ik.m_Tint[3] = 1.0f;
    g_pDevice->SetRenderState(D3DRS_CULLMODE, D3DCULL_CCW);
    g_pDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF101018, 1.0f, 0);
    g_pDevice->BeginScene();
    ik.Render();
    g_pDevice->EndScene();
    std::vector<DWORD> pixels = bound.device.Pixels();
    d3dtest::SavePng("dancer_effect", pixels, 256, 256);

    // The dancer covers the centre of the picture and leaves the corners alone.
    CVector3 screen = ik.GetScreenCentre();
    EXPECT_NEAR(screen.x, 128.0f, 1.0f);
    EXPECT_NEAR(screen.y, 128.0f, 1.0f);
    int covered = 0;
    for (DWORD p : pixels)
        covered += (p & 0xFFFFFF) != 0x101018;
    EXPECT_GT(covered, 2000);
    EXPECT_EQ(pixels[0] & 0xFFFFFF, 0x101018u);
    EXPECT_TRUE(ik.HitTestScreenBox(128, 128));
    EXPECT_FALSE(ik.HitTestScreenBox(2, 2));
    g_pDancerShader = shader;
}

}  // namespace
