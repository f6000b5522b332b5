// The clip stage: polygons against the view volume.
#include "stage_support.h"

#include <gtest/gtest.h>

namespace {

vr::Vertex Clip(float x, float y, float z, float w, float red = 0.f)
{
    vr::Vertex v = stagetest::ScreenVertex(x, y, z, red, 0, 0);
    v.w = w;
    return v;
}

}  // namespace

TEST(RendererClip, InsideTrianglesStayAsTheyAre)
{
    vr::Vertex poly[16], scratch[16];
    poly[0] = Clip(-0.5f, -0.5f, 0.5f, 1.f);
    poly[1] = Clip(0.5f, -0.5f, 0.5f, 1.f);
    poly[2] = Clip(0.f, 0.5f, 0.5f, 1.f);
    ASSERT_EQ(vr::ClipPolygon(poly, 3, scratch), 3);
    EXPECT_EQ(poly[1].x, 0.5f);
    EXPECT_EQ(poly[2].y, 0.5f);
}

TEST(RendererClip, NearPlaneCutsAndInterpolatesEveryAttribute)
{
    vr::Vertex poly[16], scratch[16];
    // One corner behind the near plane (z < 0): a quadrilateral remains.
    poly[0] = Clip(0.f, 0.f, -1.f, 1.f, 0.f);
    poly[1] = Clip(0.5f, 0.f, 1.f, 1.f, 1.f);
    poly[2] = Clip(0.f, 0.5f, 1.f, 1.f, 1.f);
    int n = vr::ClipPolygon(poly, 3, scratch);
    ASSERT_EQ(n, 4);
    for (int i = 0; i < n; ++i) {
        EXPECT_GE(poly[i].z, 0.f);
        // The colour runs with z: where z is 0 the red is half way.
        if (poly[i].z == 0.f) {
            EXPECT_FLOAT_EQ(poly[i].diffuse[0], 0.5f);
        }
    }
    // Wholly behind: nothing left.
    poly[0] = Clip(0.f, 0.f, -1.f, 1.f);
    poly[1] = Clip(0.5f, 0.f, -2.f, 1.f);
    poly[2] = Clip(0.f, 0.5f, -1.f, 1.f);
    EXPECT_LT(vr::ClipPolygon(poly, 3, scratch), 3);
}

TEST(RendererClip, SharedEdgesGetTheSameCrossingPoints)
{
    // Two triangles share the edge a-b, which crosses the far plane; each
    // must cut it at the same point whatever the order of its corners.
    const vr::Vertex a = Clip(-0.3f, 0.1f, 0.2f, 1.f), b = Clip(0.4f, -0.2f, 3.f, 1.f);
    vr::Vertex p[16], q[16], scratch[16];
    p[0] = a, p[1] = b, p[2] = Clip(0.6f, 0.6f, 0.5f, 1.f);
    q[0] = b, q[1] = a, q[2] = Clip(-0.6f, -0.6f, 0.5f, 1.f);
    int np = vr::ClipPolygon(p, 3, scratch), nq = vr::ClipPolygon(q, 3, scratch);
    ASSERT_EQ(np, 4);
    ASSERT_EQ(nq, 4);
    // b is cut away; a and the crossing on a-b are the corners both keep.
    int shared = 0;
    for (int i = 0; i < np; ++i)
        for (int j = 0; j < nq; ++j)
            shared += p[i].x == q[j].x && p[i].y == q[j].y && p[i].z == q[j].z && p[i].w == q[j].w;
    EXPECT_EQ(shared, 2);
}

// Corners exactly on the near and far planes and on the guard band count as
// inside: the clipper keeps such triangles as they are, and so does the
// rasteriser's shortcut for triangles inside the volume, which draws them.
TEST(RendererClip, CornersOnThePlanesCountAsInside)
{
    vr::Vertex poly[16], scratch[16];
    poly[0] = Clip(-16.f, 0.f, 0.f, 1.f);
    poly[1] = Clip(16.f, 16.f, 1.f, 1.f);
    poly[2] = Clip(0.f, -16.f, 0.5f, 1.f);
    ASSERT_EQ(vr::ClipPolygon(poly, 3, scratch), 3);
    EXPECT_EQ(poly[0].x, -16.f);
    EXPECT_EQ(poly[1].z, 1.f);

    stagetest::Canvas c(16, 16);
    c.raster.SetState(stagetest::PlainState());
    c.raster.pixelsWritten = 0;
    // Covers the whole target from the near plane to the far one.
    c.raster.DrawTriangle(Clip(-1.f, -1.f, 0.f, 1.f, 1.f), Clip(5.f, -1.f, 1.f, 1.f, 1.f),
                          Clip(-1.f, 5.f, 0.5f, 1.f, 1.f), false);
    EXPECT_EQ(c.Written(), 256u);
    // Just behind the near plane at one corner: cut, yet still over the target.
    c.raster.pixelsWritten = 0;
    c.raster.DrawTriangle(Clip(-1.f, -1.f, -1e-3f, 1.f, 1.f), Clip(5.f, -1.f, 1.f, 1.f, 1.f),
                          Clip(-1.f, 5.f, 0.5f, 1.f, 1.f), false);
    EXPECT_GT(c.Written(), 200u);
}
