// Meshes from .x files: materials, bounding box, the projected screen
// rectangle, sharing and unloading.
#include <gtest/gtest.h>

#include <d3dx9.h>

#include "Resource/GraphicObject.h"
#include "Resource/ResourceManager.h"
#include "d3d_test_png.h"
#include "resource_test_support.h"

#include <stdio.h>

#include <algorithm>

#include <string>

namespace {

using restest::LogWatch;
using testing_support::TempFolder;

// A text .x box from (x0, y0, z0) to (x1, y1, z1): faces 0-5 use a red
// material, faces 6-11 a blue one that names a texture.
std::string BoxFile(float x0, float y0, float z0, float x1, float y1, float z1)
{
    std::string s = "xof 0303txt 0032\nMesh {\n 8;\n";
    char line[160];
    for (int i = 0; i < 8; ++i)
    {
        snprintf(line, sizeof line, " %.6f;%.6f;%.6f;%s\n", (i & 1) ? x1 : x0, (i & 2) ? y1 : y0, (i & 4) ? z1 : z0,
                 i == 7 ? ";" : ",");
        s += line;
    }
    const int faces[12][3] = {{0, 2, 1}, {1, 2, 3}, {4, 5, 6}, {5, 7, 6}, {0, 1, 4}, {1, 5, 4},
                              {2, 6, 3}, {3, 6, 7}, {0, 4, 2}, {2, 4, 6}, {1, 3, 5}, {3, 7, 5}};
    s += " 12;\n";
    for (int f = 0; f < 12; ++f)
    {
        snprintf(line, sizeof line, " 3;%d,%d,%d;%s\n", faces[f][0], faces[f][1], faces[f][2], f == 11 ? ";" : ",");
        s += line;
    }
    s += " MeshMaterialList {\n  2;\n  12;\n  0,0,0,0,0,0,1,1,1,1,1,1;;\n"
         "  Material { 1.0;0.0;0.0;1.0;; 8.0; 0.5;0.5;0.5;; 0.0;0.0;0.0;; }\n"
         "  Material { 0.0;0.0;1.0;0.5;; 2.0; 0.0;0.0;0.0;; 0.1;0.2;0.3;; TextureFilename { \"wood.png\"; } }\n"
         " }\n}\n";
    return s;
}

class GraphicObjects : public ::testing::Test
{
protected:
    GraphicObjects() : bound(256, 256) {}
    void SetUp() override
    {
        ASSERT_NE(g_pDevice, nullptr);
        saved = g_ProjectionMatrix;
        // Identity transforms: model x -1..1 maps to pixels 0..256 exactly.
        D3DXMATRIX identity;
        D3DXMatrixIdentity(&identity);
        g_ProjectionMatrix = identity;
        g_pDevice->SetTransform(D3DTS_WORLD, &identity);
        g_pDevice->SetTransform(D3DTS_VIEW, &identity);
    }
    void TearDown() override { g_ProjectionMatrix = saved; }
    std::string Box(const std::string& name, float x0, float y0, float z0, float x1, float y1, float z1)
    {
        std::string path = folder / name;
        testing_support::WriteFile(path, BoxFile(x0, y0, z0, x1, y1, z1));
        return path;
    }

    restest::BoundDevice bound;
    TempFolder folder;
    D3DXMATRIX saved;
};

TEST_F(GraphicObjects, LoadCopiesMaterialsAndBoundsTheVertices)
{
    const std::string path = Box("box.x", -1.0f, -2.0f, -3.0f, 4.0f, 5.0f, 6.0f);
    LogWatch log;
    CGraphicObject object(path);
    EXPECT_TRUE(log.Has("GraphicObject", 43, "CGRAPHICOBJ constructor"));
    EXPECT_EQ(object.GetType(), 2);
    EXPECT_EQ(object.GetMesh(), nullptr);
    ASSERT_TRUE(object.Load());
    ASSERT_NE(object.GetMesh(), nullptr);
    ASSERT_EQ(object.GetMaterialCount(), 2u);
    const D3DMATERIAL9* materials = object.GetMaterials();
    EXPECT_FLOAT_EQ(materials[0].Diffuse.r, 1.0f);
    EXPECT_FLOAT_EQ(materials[0].Power, 8.0f);
    EXPECT_FLOAT_EQ(materials[1].Diffuse.b, 1.0f);
    EXPECT_FLOAT_EQ(materials[1].Diffuse.a, 0.5f);
    EXPECT_FLOAT_EQ(materials[1].Emissive.g, 0.2f);
    const float* box = object.GetBoundingBox();
    ASSERT_NE(box, nullptr);
    const float expected[6] = {-1, -2, -3, 4, 5, 6};
    for (int i = 0; i < 6; ++i)
        EXPECT_FLOAT_EQ(box[i], expected[i]) << i;
}

TEST_F(GraphicObjects, MissingOrBrokenFilesFailWithTheirLine)
{
    const std::string missing = folder / "missing.x";
    const std::string broken = folder / "broken.x";
    testing_support::WriteFile(broken, "xof 0303txt 0032\nMesh { 3; 1;2;");
    LogWatch log;
    for (const std::string& path : {missing, broken})
    {
        CGraphicObject object(path);
        EXPECT_FALSE(object.Load());
        EXPECT_EQ(object.GetMesh(), nullptr);
        EXPECT_EQ(object.GetBoundingBox(), nullptr);
        EXPECT_TRUE(log.Has("GraphicObject", 64, "Cannot Load the Object " + path));
    }
    EXPECT_TRUE(log.Has("GraphicObject", 13, "CGRAPHICOBJ  destructor"));
    EXPECT_EQ(log.Count("CGRAPHICOBJ  destructor"), 2);
}

TEST_F(GraphicObjects, ScreenRectangleExcludesItsBorderAndTruncatesTowardZero)
{
    // Pixels: x = 128 + 128 * x, y = 128 - 128 * y.
    CGraphicObject object(Box("exact.x", -0.75f, -0.5f, 0.2f, 0.5f, 0.25f, 0.6f));
    ASSERT_TRUE(object.Load());
    int left, top, right, bottom;
    object.GetScreenRect(left, top, right, bottom);
    EXPECT_EQ(left, 32);
    EXPECT_EQ(right, 192);
    EXPECT_EQ(top, 96);
    EXPECT_EQ(bottom, 192);
    EXPECT_FALSE(object.HitTestScreenBox(32, 100));
    EXPECT_TRUE(object.HitTestScreenBox(33, 100));
    EXPECT_FALSE(object.HitTestScreenBox(192, 100));
    EXPECT_TRUE(object.HitTestScreenBox(191, 100));
    EXPECT_FALSE(object.HitTestScreenBox(100, 96));
    EXPECT_TRUE(object.HitTestScreenBox(100, 97));
    EXPECT_FALSE(object.HitTestScreenBox(100, 192));
    D3DXVECTOR2 centre = object.GetScreenCentre();
    EXPECT_EQ(centre.x, 112.0f);
    EXPECT_EQ(centre.y, 144.0f);

    // Corners at x = -0.5 and 10.9 pixels: left 0, right 10.
    CGraphicObject thin(Box("thin.x", -0.5f / 128.0f - 1.0f, -0.5f, 0.2f, 10.9f / 128.0f - 1.0f, 0.5f, 0.6f));
    ASSERT_TRUE(thin.Load());
    thin.GetScreenRect(left, top, right, bottom);
    EXPECT_EQ(left, 0);
    EXPECT_EQ(right, 10);
    EXPECT_FALSE(thin.HitTestScreenBox(0, 128));
    EXPECT_TRUE(thin.HitTestScreenBox(1, 128));
    EXPECT_TRUE(thin.HitTestScreenBox(9, 128));
    EXPECT_FALSE(thin.HitTestScreenBox(10, 128));
    // The centre is the int sum halved.
    EXPECT_EQ(thin.GetScreenCentre().x, 5.0f);

    // Not loaded: the start values, which nothing hits.
    CGraphicObject empty(folder / "none.x");
    empty.GetScreenRect(left, top, right, bottom);
    EXPECT_EQ(left, 100000);
    EXPECT_EQ(top, 100000);
    EXPECT_EQ(right, -1000000);
    EXPECT_EQ(bottom, -100000);
    EXPECT_FALSE(empty.HitTestScreenBox(0, 0));
    EXPECT_EQ(empty.GetScreenCentre().x, -450000.0f);
    EXPECT_EQ(empty.GetScreenCentre().y, 0.0f);
}

TEST_F(GraphicObjects, RectangleFollowsTransformsAndKeepsCornersBehindTheCamera)
{
    CGraphicObject object(Box("cube.x", -10, -10, -10, 10, 10, 10));
    ASSERT_TRUE(object.Load());
    D3DXMatrixPerspectiveFovLH(&g_ProjectionMatrix, 1.2566371f, 1.0f, 1.0f, 1500.0f);
    D3DXVECTOR3 eye(0, 0, -200), at(0, 0, 0), up(0, 1, 0);
    D3DXMATRIX view;
    D3DXMatrixLookAtLH(&view, &eye, &at, &up);
    g_pDevice->SetTransform(D3DTS_VIEW, &view);
    EXPECT_TRUE(object.HitTestScreenBox(128, 128));
    EXPECT_FALSE(object.HitTestScreenBox(20, 128));

    // Another view, same object and point: another answer.
    D3DXVECTOR3 aside(150, 0, 0);
    D3DXMATRIX sideView;
    D3DXMatrixLookAtLH(&sideView, &eye, &aside, &up);
    g_pDevice->SetTransform(D3DTS_VIEW, &sideView);
    EXPECT_FALSE(object.HitTestScreenBox(128, 128));
    // The world transform counts too.
    D3DXMATRIX moved;
    D3DXMatrixTranslation(&moved, 150, 0, 0);
    g_pDevice->SetTransform(D3DTS_WORLD, &moved);
    EXPECT_TRUE(object.HitTestScreenBox(128, 128));

    // The eye inside the box: the corners behind it still count, unclipped.
    D3DXMATRIX identity;
    D3DXMatrixIdentity(&identity);
    g_pDevice->SetTransform(D3DTS_WORLD, &identity);
    D3DXVECTOR3 inside(2, 3, -5), ahead(2, 3, 100);
    D3DXMatrixLookAtLH(&view, &inside, &ahead, &up);
    g_pDevice->SetTransform(D3DTS_VIEW, &view);
    int left, top, right, bottom;
    object.GetScreenRect(left, top, right, bottom);
    D3DVIEWPORT9 viewport;
    g_pDevice->GetViewport(&viewport);
    float minX = 1e30f, maxX = -1e30f;
    for (int i = 0; i < 8; ++i)
    {
        D3DXVECTOR3 corner((i & 1) ? 10.f : -10.f, (i & 2) ? 10.f : -10.f, (i & 4) ? 10.f : -10.f), p;
        D3DXVec3Project(&p, &corner, &viewport, &g_ProjectionMatrix, &view, &identity);
        minX = std::min(minX, p.x);
        maxX = std::max(maxX, p.x);
    }
    EXPECT_EQ(left, static_cast<int>(minX));
    EXPECT_EQ(right, static_cast<int>(maxX));
    EXPECT_LT(left, 0);
    EXPECT_GT(right, 256);

    // A corner on the eye's plane projects to infinity: the bound saturates.
    D3DXVECTOR3 onPlane(10, 0, -10), forward(10, 0, 100);
    D3DXMatrixLookAtLH(&view, &onPlane, &forward, &up);
    g_pDevice->SetTransform(D3DTS_VIEW, &view);
    object.GetScreenRect(left, top, right, bottom);
    object.HitTestScreenBox(128, 128);
    D3DXVECTOR2 centre = object.GetScreenCentre();
    EXPECT_FALSE(centre.x != centre.x);
}

TEST_F(GraphicObjects, SharedByPathAndEmptiedByUnload)
{
    const std::string path = Box("shared.x", -1, -1, -1, 1, 1, 1);
    CResourceManager manager;
    CGraphicObject* a = manager.GetGraphicObject(path);
    CGraphicObject* b = manager.GetGraphicObject(path);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a, b);
    EXPECT_EQ(a->GetRequestCount(), 2);
    EXPECT_EQ(a->GetBoundingBox(), b->GetBoundingBox());
    EXPECT_EQ(a->GetMaterials(), b->GetMaterials());

    // A texture request for a mesh path is refused; the mesh stays.
    LogWatch log;
    EXPECT_EQ(manager.GetTexture(path), nullptr);
    EXPECT_EQ(log.Messages(), std::vector<std::string>{"loading " + path});
    EXPECT_EQ(manager.Find(path), a);
    EXPECT_EQ(a->GetRequestCount(), 2);
    EXPECT_TRUE(log.Has("ResourceManager", 54, "loading " + path));
    EXPECT_EQ(manager.GetGraphicObject(folder / "nothing.x"), nullptr);

    const int liveLoaded = VelmoraLiveGraphicsObjects();
    a->Unload();
    EXPECT_LT(VelmoraLiveGraphicsObjects(), liveLoaded);
    EXPECT_EQ(a->GetMesh(), nullptr);
    EXPECT_EQ(a->GetBoundingBox(), nullptr);
    EXPECT_EQ(a->GetMaterials(), nullptr);
    EXPECT_EQ(a->GetMaterialCount(), 0u);
    EXPECT_EQ(a->GetShader(), nullptr);
    EXPECT_FALSE(a->HitTestScreenBox(0, 0));
    a->Render();
    a->DrawSubset(0);
}

TEST_F(GraphicObjects, SubsetsDrawWithTheFixedPipeline)
{
    CGraphicObject object(Box("drawn.x", -0.5f, -0.5f, 0.2f, 0.5f, 0.5f, 0.6f));
    ASSERT_TRUE(object.Load());
    IDirect3DDevice9* device = g_pDevice;
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
    device->BeginScene();
    // No shader assigned: Render draws nothing.
    object.Render();
    device->EndScene();
    std::vector<DWORD> pixels = bound.device.Pixels();
    EXPECT_EQ(pixels[128 * 256 + 128] & 0xFFFFFF, 0u);

    device->BeginScene();
    for (DWORD i = 0; i < object.GetMaterialCount(); ++i)
        object.DrawSubset(i);
    device->EndScene();
    pixels = bound.device.Pixels();
    d3dtest::SavePng("graphic_object_subsets", pixels, 256, 256);
    EXPECT_NE(pixels[128 * 256 + 128] & 0xFFFFFF, 0u);
    EXPECT_EQ(pixels[10 * 256 + 10] & 0xFFFFFF, 0u);
}

}  // namespace
