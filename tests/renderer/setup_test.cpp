// The raster stage on its own: the fill rule and interpolation across a
// triangle, drawn straight into a target.
#include "render_threads.h"
#include "stage_support.h"

#include <gtest/gtest.h>

#include <string>

using namespace stagetest;

TEST(RendererRaster, TopLeftRuleOnPixelCentres)
{
    Canvas c(8, 8);
    vr::PixelState ps = PlainState();
    c.raster.SetState(ps);
    // The square [2, 6) x [1, 5) as two triangles: corners on pixel centres,
    // so the right and bottom edges' centres belong to no pixel.
    vr::Vertex a = ScreenVertex(2, 1, 0.5f, 1, 1, 1), b = ScreenVertex(6, 1, 0.5f, 1, 1, 1);
    vr::Vertex d = ScreenVertex(2, 5, 0.5f, 1, 1, 1), e = ScreenVertex(6, 5, 0.5f, 1, 1, 1);
    c.raster.pixelsWritten = 0;
    c.raster.DrawTriangle(a, b, d, true);
    c.raster.DrawTriangle(b, e, d, true);
    EXPECT_EQ(c.Written(), 16u);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            EXPECT_EQ(c.At(x, y) == 0xffffffffu, x >= 2 && x < 6 && y >= 1 && y < 5) << x << "," << y;
}

TEST(RendererRaster, ColoursRunLinearlyInScreenSpace)
{
    Canvas c(16, 4);
    c.raster.SetState(PlainState());
    // Red rises from 0 at x = 0 to 1 at x = 15 (w = 1 everywhere).
    vr::Vertex a = ScreenVertex(0, 0, 0, 0, 0, 0), b = ScreenVertex(15, 0, 0, 1, 0, 0);
    vr::Vertex d = ScreenVertex(0, 4, 0, 0, 0, 0), e = ScreenVertex(15, 4, 0, 1, 0, 0);
    c.raster.DrawTriangle(a, b, d, true);
    c.raster.DrawTriangle(b, e, d, true);
    for (int x = 0; x < 15; ++x)
        EXPECT_EQ((c.At(x, 1) >> 16) & 0xff, (uint32_t)(x * 17)) << x;
}

TEST(RendererRaster, CullingAndDegenerateTriangles)
{
    Canvas c(8, 8);
    vr::PixelState ps = PlainState();
    ps.cullMode = D3DCULL_CCW;
    c.raster.SetState(ps);
    vr::Vertex a = ScreenVertex(0, 0, 0, 1, 1, 1), b = ScreenVertex(8, 0, 0, 1, 1, 1);
    vr::Vertex d = ScreenVertex(0, 8, 0, 1, 1, 1);
    c.raster.pixelsWritten = 0;
    c.raster.DrawTriangle(a, d, b, true);  // counter-clockwise on the screen: culled
    EXPECT_EQ(c.Written(), 0u);
    c.raster.DrawTriangle(a, b, d, true);
    EXPECT_EQ(c.Written(), 36u);
    c.raster.pixelsWritten = 0;
    c.raster.DrawTriangle(a, b, ScreenVertex(4, 0, 0, 1, 1, 1), true);  // no area
    EXPECT_EQ(c.Written(), 0u);
}

namespace {

// Hands the diffuse colour on: the span loops may draw it, and a triangle
// whose colour they cannot take goes to the program's own queue.
class PassThrough final : public vr::PixelProgram {
public:
    bool Shade(const float* attr, float out[4]) override
    {
        for (int c = 0; c < 4; ++c)
            out[c] = attr[c];
        return true;
    }
    int Freeze() override { return 0; }  // nothing to keep: Shade reads no constants
    bool Copies(int source[4], float constant[4]) const override
    {
        for (int c = 0; c < 4; ++c)
            source[c] = c, constant[c] = 0.f;
        return true;
    }
};

}  // namespace

// Triangles reach the screen in the order they were drawn, whichever queue
// of the several threads each waits in.
TEST(RendererRaster, SpanAndProgramTrianglesKeepTheirOrder)
{
    const float nan = __builtin_nanf("");
    for (int threads : {1, 2, 4, 8}) {
        ScopedRenderThreads scope(std::to_string(threads).c_str());
        Canvas c(64, 64);
        PassThrough program;
        vr::PixelState ps = PlainState();
        ps.program = &program;
        ps.programAttrs = 4;
        c.raster.SetState(ps);
        // A red the span loops cannot take, then green over it, then another
        // red elsewhere, all in one draw.
        c.raster.DrawTriangle(ScreenVertex(0, 0, 0, nan, 0, 0), ScreenVertex(64, 0, 0, nan, 0, 0),
                              ScreenVertex(0, 64, 0, nan, 0, 0), true);
        c.raster.DrawTriangle(ScreenVertex(0, 0, 0, 0, 1, 0), ScreenVertex(64, 0, 0, 0, 1, 0),
                              ScreenVertex(0, 64, 0, 0, 1, 0), true);
        c.raster.DrawTriangle(ScreenVertex(64, 64, 0, nan, 0, 0), ScreenVertex(64, 60, 0, nan, 0, 0),
                              ScreenVertex(60, 64, 0, nan, 0, 0), true);
        c.raster.Flush();
        EXPECT_EQ(c.At(5, 5), 0xff00ff00u) << threads << " threads";
        EXPECT_EQ(c.At(30, 30), 0xff00ff00u) << threads << " threads";
    }
}
