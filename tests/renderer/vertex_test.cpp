// The vertex stage: vertex layouts and the fixed transform without lighting.
#include "stage_support.h"

#include <gtest/gtest.h>

#include <string.h>

TEST(RendererVertex, LayoutsOfCommonFormats)
{
    vr::FvfLayout l = vr::DecodeFvf(D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_TEX1);
    ASSERT_TRUE(l.valid);
    EXPECT_FALSE(l.pretransformed);
    EXPECT_EQ(l.normal, 12);
    EXPECT_EQ(l.diffuse, 24);
    EXPECT_EQ(l.tex[0], 28);
    EXPECT_EQ(l.size, 36);
    vr::FvfLayout s = vr::DecodeFvf(D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_SPECULAR | D3DFVF_TEX2);
    ASSERT_TRUE(s.valid);
    EXPECT_TRUE(s.pretransformed);
    EXPECT_EQ(s.diffuse, 16);
    EXPECT_EQ(s.specular, 20);
    EXPECT_EQ(s.texCount, 2);
    EXPECT_EQ(s.size, 40);
}

TEST(RendererVertex, UnlitVerticesTransformAndKeepTheirColours)
{
    vr::VertexState vs;
    memset(&vs.world, 0, sizeof vs.world);
    for (int i = 0; i < 4; ++i)
        vs.world.m[i][i] = 1.f;
    vs.view = vs.world;
    vs.projection = vs.world;
    vs.world.m[3][0] = 2.f;  // translate x by 2
    vs.projection.m[2][3] = 1.f;  // w = z
    vs.projection.m[3][3] = 0.f;
    vs.lighting = false;
    vs.normalizeNormals = vs.specularEnable = vs.localViewer = false;
    vs.colorVertex = true;
    vs.diffuseSource = D3DMCS_COLOR1;
    vs.specularSource = D3DMCS_COLOR2;
    vs.ambientSource = vs.emissiveSource = D3DMCS_MATERIAL;
    vs.ambient = 0;
    memset(&vs.material, 0, sizeof vs.material);
    vs.texCoordIndex[0] = 0, vs.texCoordIndex[1] = 1;
    const DWORD fvf = D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1;
    vr::VertexProcessor vp;
    vp.Setup(vs, vr::DecodeFvf(fvf));
    struct {
        float x, y, z;
        DWORD color;
        float u, v;
    } in = {1.f, 3.f, 4.f, 0x80ff0000u, 0.25f, 0.75f};
    vr::Vertex out;
    vp.Process((const uint8_t*)&in, &out);
    EXPECT_FLOAT_EQ(out.x, 3.f);
    EXPECT_FLOAT_EQ(out.y, 3.f);
    EXPECT_FLOAT_EQ(out.w, 4.f);
    EXPECT_FLOAT_EQ(out.diffuse[0], 1.f);
    EXPECT_FLOAT_EQ(out.diffuse[1], 0.f);
    EXPECT_NEAR(out.diffuse[3], 128 / 255.f, 1e-6f);
    EXPECT_FLOAT_EQ(out.tex[0][0], 0.25f);
    EXPECT_FLOAT_EQ(out.tex[0][1], 0.75f);
}
