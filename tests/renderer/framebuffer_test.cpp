// The framebuffer stage: clearing rectangles and reading texels of every
// supported format.
#include "render_threads.h"
#include "stage_support.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <string>

using namespace stagetest;

TEST(RendererFramebuffer, ClearFillsOnlyTheRectangleAndThePlanesAsked)
{
    Canvas c(8, 6, 0x11111111u);
    vr::Target t = c.raster.GetTarget();
    vr::ClearTarget(t, 2, 1, 5, 3, true, 0xff00ff00u, false, 0.f);
    int green = 0;
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 8; ++x) {
            bool inside = x >= 2 && x < 5 && y >= 1 && y < 3;
            EXPECT_EQ(c.At(x, y), inside ? 0xff00ff00u : 0x11111111u) << x << "," << y;
            green += inside;
            EXPECT_EQ(c.depth[(size_t)y * 8 + x], 1.f);
        }
    EXPECT_EQ(green, 6);
    // Depth only, with a rectangle reaching past the target: clipped to it.
    vr::ClearTarget(t, -3, 4, 20, 40, false, 0u, true, 0.25f);
    EXPECT_EQ(c.depth[4 * 8 + 0], 0.25f);
    EXPECT_EQ(c.depth[5 * 8 + 7], 0.25f);
    EXPECT_EQ(c.depth[3 * 8 + 7], 1.f);
    EXPECT_EQ(c.At(0, 5), 0x11111111u);
    // Empty and inverted rectangles change nothing.
    vr::ClearTarget(t, 4, 4, 4, 6, true, 0u, true, 0.f);
    vr::ClearTarget(t, 6, 2, 3, 1, true, 0u, true, 0.f);
    EXPECT_EQ(c.At(4, 4), 0x11111111u);
}

TEST(RendererFramebuffer, TexelsOfEachFormatReadAsArgb)
{
    struct Case {
        D3DFORMAT format;
        uint8_t bytes[4];
        uint32_t expected;
    };
    const Case cases[] = {
        {D3DFMT_A8R8G8B8, {0x30, 0x20, 0x10, 0x40}, 0x40102030u},
        {D3DFMT_X8R8G8B8, {0x30, 0x20, 0x10, 0x00}, 0xff102030u},
        {D3DFMT_R5G6B5, {0x00, 0xf8, 0, 0}, 0xffff0000u},
        {D3DFMT_A4R4G4B4, {0x0f, 0xf0, 0, 0}, 0xff0000ffu},
        {D3DFMT_A8, {0x80, 0, 0, 0}, 0x80000000u},
        {D3DFMT_L8, {0x7f, 0, 0, 0}, 0xff7f7f7fu},
    };
    for (const Case& c : cases) {
        vr::TexLevel level;
        level.bits = c.bytes;
        level.width = level.height = 1;
        level.pitch = vr::FormatBytes(c.format);
        level.format = c.format;
        ASSERT_GT(level.pitch, 0) << c.format;
        EXPECT_EQ(vr::FetchTexel(level, 0, 0), c.expected) << "format " << c.format;
    }
    EXPECT_EQ(vr::FormatBytes(D3DFMT_D24S8), 0);
}

TEST(RendererFramebuffer, ClearSharedAmongThreadsFillsTheSameRectangle)
{
    ScopedRenderThreads scope("4");
    Canvas shared(1201, 901, 0x01020304u);
    Canvas alone(1201, 901, 0x01020304u);
    // Large enough for the workers; the rows do not split evenly into bands.
    shared.raster.Clear(3, 5, 1197, 899, true, 0xffa0b0c0u, true, 0.5f);
    shared.raster.Flush();  // a clear waits in the queue like a draw
    vr::ClearTarget(alone.raster.GetTarget(), 3, 5, 1197, 899, true, 0xffa0b0c0u, true, 0.5f);
    EXPECT_TRUE(shared.color == alone.color);
    EXPECT_TRUE(shared.depth == alone.depth);
    EXPECT_EQ(shared.At(3, 5), 0xffa0b0c0u);
    EXPECT_EQ(shared.At(1196, 898), 0xffa0b0c0u);
    EXPECT_EQ(shared.At(1197, 898), 0x01020304u);
    EXPECT_EQ(shared.At(100, 899), 0x01020304u);
}

TEST(RendererFramebuffer, OpaqueCopySetsOnlyTheAlphaBytes)
{
    std::vector<uint32_t> src(19), dst(19, 0u);
    for (size_t i = 0; i < src.size(); ++i)
        src[i] = (uint32_t)(i * 0x01030507u);
    vr::CopyOpaque(src.data(), dst.data(), src.size());
    for (size_t i = 0; i < src.size(); ++i)
        EXPECT_EQ(dst[i], src[i] | 0xff000000u) << i;
}
