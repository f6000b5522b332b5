// Drawing a MilkShape model: colour changes, groups and triangles, the screen
// centre and the screen hit test.
#include <gtest/gtest.h>

#include <d3dx9.h>

#include "anim_test_support.h"
#include "d3d_test_png.h"
#include "ik/CIKModel.h"
#include "ms3d/CMs3d.h"
#include "resource_test_support.h"

#include <stdlib.h>

namespace {

class ModelDrawing : public ::testing::Test
{
protected:
    ModelDrawing() : bound(256, 256) {}
    void SetUp() override
    {
        ASSERT_NE(g_pDevice, nullptr);
        saved = g_ProjectionMatrix;
        savedShader = g_pDancerShader;
        g_pDancerShader = nullptr;
        D3DXMatrixIdentity(&identity);
        g_ProjectionMatrix = identity;
        g_pDevice->SetTransform(D3DTS_WORLD, &identity);
        g_pDevice->SetTransform(D3DTS_VIEW, &identity);
        g_pDevice->SetTransform(D3DTS_PROJECTION, &identity);
        ASSERT_TRUE(model.Load(animtest::TwoBoneFile().Write("two_bones.ms3d").c_str()));
        model.Skin();
    }
    void TearDown() override
    {
        g_ProjectionMatrix = saved;
        g_pDancerShader = savedShader;
    }
    // Model space 0..15 fills most of the viewport.
    void FitModel()
    {
        D3DXMATRIX scale, move;
        D3DXMatrixScaling(&scale, 0.1f, 0.1f, 0.1f);
        D3DXMatrixTranslation(&move, 0.0f, -0.75f, 0.5f);
        D3DXMATRIX world = scale * move;
        g_pDevice->SetTransform(D3DTS_WORLD, &world);
    }

    restest::BoundDevice bound;
    D3DXMATRIX saved;
    D3DXMATRIX identity;
    CShader* savedShader;
    CMs3d model;
};

TEST_F(ModelDrawing, ChangeColourTakesOneOrThreeRandomNumbers)
{
    bool sawTechnique = false, sawTint = false;
    for (unsigned seed = 1; seed <= 60; ++seed)
    {
        model.m_Tint[0] = 0.5f, model.m_Tint[1] = 0.5f, model.m_Tint[2] = 0.5f, model.m_Tint[3] = 0.5f;
        srand(seed);
        model.ChangeColour();
        const int afterwards = rand();

        srand(seed);
        const int first = rand();
        if (first % 3 == 0)
        {
            sawTechnique = true;
            // No dancer effect: the technique stays null and the tint is kept.
            EXPECT_EQ(model.m_Technique, nullptr);
            EXPECT_EQ(model.m_Tint[0], 0.5f);
            EXPECT_EQ(model.m_Tint[3], 0.5f);
        }
        else
        {
            sawTint = true;
            const float red = static_cast<float>(rand() % 1000) * 0.001f;
            const float blue = static_cast<float>(rand() % 1000) * 0.001f;
            EXPECT_FLOAT_EQ(model.m_Tint[0], red) << seed;
            EXPECT_FLOAT_EQ(model.m_Tint[1], 1.0f - red) << seed;
            EXPECT_FLOAT_EQ(model.m_Tint[2], blue) << seed;
            EXPECT_EQ(model.m_Tint[3], 1.0f);
        }
        EXPECT_EQ(afterwards, rand()) << "seed " << seed;
    }
    EXPECT_TRUE(sawTechnique);
    EXPECT_TRUE(sawTint);
}

TEST_F(ModelDrawing, WithoutDancerEffectNothingIsDrawn)
{
    FitModel();
    // Settings under which the fixed pipeline would show the triangles.
    g_pDevice->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    g_pDevice->SetRenderState(D3DRS_LIGHTING, FALSE);
    g_pDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
    g_pDevice->BeginScene();
    // Each draw without a technique redraws the tint (one or three rand calls).
    srand(7);
    model.Render();
    const int afterwards = rand();
    srand(7);
    const int first = rand();
    if (first % 3 != 0)
        rand(), rand();
    EXPECT_EQ(afterwards, rand());
    EXPECT_EQ(model.m_Technique, nullptr);
    g_pDevice->EndScene();
    for (DWORD pixel : bound.device.Pixels())
        ASSERT_EQ(pixel & 0xFFFFFF, 0u);

    // Without a device neither draw nor test may fail.
    g_pDevice = nullptr;
    model.Render();
    model.DrawGroup(0);
    EXPECT_FALSE(model.HitTestScreenBox(0, 0));
    g_pDevice = bound.device.device;
}

TEST_F(ModelDrawing, GroupsDrawTheirTrianglesOncePerMembership)
{
    // Triangle 1 sits in two groups, triangle 0 in one; a stray index is skipped.
    animtest::Ms3dFile file = animtest::TwoBoneFile();
    file.groups = {{0, 1}, {1}};
    CMs3d twice;
    ASSERT_TRUE(twice.Load(file.Write("two_groups.ms3d").c_str()));
    // The loader refuses stray indexes, so one is put in by hand.
    delete[] twice.m_pGroups[1].triangleIndices;
    twice.m_pGroups[1].triangleIndices = new WORD[2]{1, 9};
    twice.m_pGroups[1].numTriangles = 2;
    twice.Skin();
    FitModel();

    IDirect3DDevice9* device = g_pDevice;
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    device->SetRenderState(D3DRS_ZENABLE, FALSE);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
    device->SetRenderState(D3DRS_TEXTUREFACTOR, 0xFF404040);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TFACTOR);
    device->SetFVF(D3DFVF_XYZ | D3DFVF_NORMAL);
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
    device->BeginScene();
    for (int g = -1; g <= 2; ++g)
        twice.DrawGroup(g);
    twice.DrawTriangle(2);
    twice.DrawTriangle(-1);
    device->EndScene();
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    std::vector<DWORD> pixels = bound.device.Pixels();
    d3dtest::SavePng("model_groups", pixels, 256, 256);

    // Triangle 0 spans model y 0..5, triangle 1 y 10..15; x = 0 is the middle.
    D3DXVECTOR3 low = ProjectToScreen(D3DXVECTOR3(0.0f, 2.0f, 0.0f));
    D3DXVECTOR3 high = ProjectToScreen(D3DXVECTOR3(0.0f, 12.0f, 0.0f));
    DWORD once = pixels[static_cast<int>(low.y) * 256 + static_cast<int>(low.x)];
    DWORD doubled = pixels[static_cast<int>(high.y) * 256 + static_cast<int>(high.x)];
    ASSERT_NEAR(d3dtest::Red(once), 0x40, 1) << "the device does not honour the texture factor";
    EXPECT_NEAR(d3dtest::Red(doubled), 2 * d3dtest::Red(once), 2);
}

TEST_F(ModelDrawing, ScreenBoxExcludesItsEdgesWhicheverWayTheCornersFall)
{
    // Pixels: x = 128 + 128 * x, y = 128 - 128 * y: the box is x 32..192, y 96..192.
    model.m_BoxMin = CVector3(-0.75f, -0.5f, 0.2f);
    model.m_BoxMax = CVector3(0.5f, 0.25f, 0.6f);
    for (int pass = 0; pass < 2; ++pass)
    {
        SCOPED_TRACE(pass ? "corners swapped" : "corners in order");
        EXPECT_FALSE(model.HitTestScreenBox(32, 100));
        EXPECT_TRUE(model.HitTestScreenBox(33, 100));
        EXPECT_FALSE(model.HitTestScreenBox(192, 100));
        EXPECT_TRUE(model.HitTestScreenBox(191, 100));
        EXPECT_FALSE(model.HitTestScreenBox(100, 96));
        EXPECT_TRUE(model.HitTestScreenBox(100, 97));
        EXPECT_FALSE(model.HitTestScreenBox(100, 192));
        EXPECT_TRUE(model.HitTestScreenBox(100, 191));
        CVector3 centre = model.GetScreenCentre();
        EXPECT_FLOAT_EQ(centre.x, 112.0f);
        EXPECT_FLOAT_EQ(centre.y, 144.0f);
        EXPECT_NEAR(centre.z, 0.4f, 1e-6f);
        std::swap(model.m_BoxMin, model.m_BoxMax);
    }

    // The world transform moves the box.
    D3DXMATRIX move;
    D3DXMatrixTranslation(&move, 0.5f, 0.0f, 0.0f);
    g_pDevice->SetTransform(D3DTS_WORLD, &move);
    EXPECT_FALSE(model.HitTestScreenBox(40, 100));
    EXPECT_TRUE(model.HitTestScreenBox(250, 100));

    // The IK model answers with its mesh's centre.
    CIKModel ik;
    ik.m_BoxMin = CVector3(-0.75f, -0.5f, 0.2f);
    ik.m_BoxMax = CVector3(0.5f, 0.25f, 0.6f);
    EXPECT_FLOAT_EQ(ik.GetScreenCentre().x, 112.0f + 64.0f);
    EXPECT_FLOAT_EQ(ik.GetScreenCentre().y, 144.0f);
}

}  // namespace
