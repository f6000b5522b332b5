// The demo frames keep their pictures: the scene with nothing under the mouse,
// with the mouse over a dancer and with its ring menu open, drawn at 800 x 600,
// against the pictures kept in tests/golden/pictures. The general pixel path
// must draw them exactly; the specialised paths within one step of 255 in a
// channel. After an intended change of the pictures, scripts/update-goldens.sh
// writes them again (VELMORA_UPDATE_GOLDENS=1 makes this program write them).
#include <gtest/gtest.h>

#include "demo_scene.h"
#include "frames.h"

#include "png_picture.h"
#include "render_threads.h"

#include <stdlib.h>

#include <string>
#include <vector>

using namespace testing_support;

namespace {

const DemoState kStates[] = {DemoState::NoMenu, DemoState::Hover, DemoState::MenuOpen};

std::string GoldenPath(DemoState state)
{
    return std::string(VELMORA_SOURCE_DIR) + "/tests/golden/pictures/" + DemoStateName(state) + ".png";
}

// The kept picture without its alpha.
Picture ReadKept(DemoState state)
{
    Picture picture = ReadPng(GoldenPath(state));
    for (DWORD& pixel : picture.pixels)
        pixel &= 0xFFFFFF;
    return picture;
}

// The demo's frames, one per state in the order the demo script meets them,
// drawn by the general pixel path or by the specialised ones. Written as the
// kept pictures when VELMORA_UPDATE_GOLDENS is set.
std::vector<Picture> RenderDemoFrames(bool fastPixelPaths)
{
    std::vector<Picture> pictures;
    VelmoraSetFastPixelPaths(fastPixelPaths ? TRUE : FALSE);
    DemoScene scene(800, 600);
    std::string error;
    EXPECT_TRUE(scene.Start(error)) << error;
    const char* update = getenv("VELMORA_UPDATE_GOLDENS");
    for (DemoState state : kStates)
    {
        Picture picture;
        if (scene.Enter(state, error))
        {
            scene.Frame();
            const DWORD* pixels = scene.Picture(picture.width, picture.height);
            for (size_t i = 0; pixels && i < static_cast<size_t>(picture.width) * picture.height; ++i)
                picture.pixels.push_back(pixels[i] & 0xFFFFFF);
            if (update && *update && !fastPixelPaths)
            {
                EXPECT_TRUE(WriteWindowPicture(scene.RenderWindow(), GoldenPath(state)));
            }
        }
        else
        {
            ADD_FAILURE() << error;
        }
        pictures.push_back(picture);
    }
    VelmoraSetFastPixelPaths(TRUE);
    return pictures;
}

int ChannelStep(DWORD a, DWORD b)
{
    int step = 0;
    for (int shift = 0; shift < 24; shift += 8)
        step = std::max(step, abs(static_cast<int>((a >> shift) & 0xff) - static_cast<int>((b >> shift) & 0xff)));
    return step;
}

// The largest difference in a channel and how many pixels differ at all.
struct Difference
{
    int largest = 0;
    size_t pixels = 0;
};

Difference Compare(const Picture& a, const Picture& b)
{
    Difference d;
    for (size_t i = 0; i < a.pixels.size() && i < b.pixels.size(); ++i)
    {
        const int step = ChannelStep(a.pixels[i], b.pixels[i]);
        d.largest = std::max(d.largest, step);
        d.pixels += step != 0;
    }
    return d;
}

class GoldenFrames : public ::testing::Test
{
protected:
    void ExpectKept(bool fastPixelPaths, int tolerance)
    {
        const std::vector<Picture> drawn = RenderDemoFrames(fastPixelPaths);
        ASSERT_EQ(drawn.size(), std::size(kStates));
        for (size_t s = 0; s < drawn.size(); ++s)
        {
            const char* name = DemoStateName(kStates[s]);
            const Picture kept = ReadKept(kStates[s]);
            ASSERT_EQ(kept.width, 800) << "no kept picture " << GoldenPath(kStates[s]);
            ASSERT_EQ(drawn[s].width, kept.width) << name;
            ASSERT_EQ(drawn[s].height, kept.height) << name;
            const Difference d = Compare(drawn[s], kept);
            EXPECT_LE(d.largest, tolerance) << name << ": " << d.pixels << " pixels differ, by up to " << d.largest;
            if (d.pixels)
                printf("%s: %zu pixels differ by up to %d\n", name, d.pixels, d.largest);
        }
    }
};

TEST_F(GoldenFrames, GeneralPathDrawsTheKeptPicturesExactly)
{
    ExpectKept(false, 0);
}

TEST_F(GoldenFrames, SpecialisedPathsDrawTheKeptPicturesExactly)
{
    ExpectKept(true, 0);
}

// The dancers' pixel programs run over batches of pixels draw, byte for
// byte, what one run a pixel draws.
TEST_F(GoldenFrames, PixelBatchesDrawWhatOneRunAPixelDraws)
{
    VelmoraSetPixelBatches(FALSE);
    const std::vector<Picture> one = RenderDemoFrames(true);
    VelmoraSetPixelBatches(TRUE);
    const std::vector<Picture> batched = RenderDemoFrames(true);
    ASSERT_EQ(one.size(), std::size(kStates));
    ASSERT_EQ(batched.size(), one.size());
    for (size_t s = 0; s < one.size(); ++s)
    {
        const Difference d = Compare(batched[s], one[s]);
        EXPECT_FALSE(one[s].pixels.empty()) << DemoStateName(kStates[s]);
        EXPECT_TRUE(batched[s].pixels == one[s].pixels)
            << DemoStateName(kStates[s]) << ": " << d.pixels << " pixels differ, by up to " << d.largest;
    }
}

TEST(GoldenFramesCompare, StepIsTheLargestChannelDifference)
{
    EXPECT_EQ(ChannelStep(0x102030, 0x102030), 0);
    EXPECT_EQ(ChannelStep(0x102030, 0x112030), 1);
    EXPECT_EQ(ChannelStep(0x102030, 0x10202f), 1);
    EXPECT_EQ(ChannelStep(0xff0000, 0x000001), 255);
    Picture a{2, 1, {0x000000, 0x101010}}, b{2, 1, {0x000001, 0x101010}};
    const Difference d = Compare(a, b);
    EXPECT_EQ(d.largest, 1);
    EXPECT_EQ(d.pixels, 1u);
}

} // namespace

// Shared among threads (bands of the screen, batches of vertices, draws
// waiting for the workers) the demo frames come out as the kept pictures,
// which the general path draws on one thread, for every thread count (one
// test each: under the sanitizers each takes a while).
class GoldenThreads : public ::testing::TestWithParam<int>
{
};

TEST_P(GoldenThreads, DrawTheKeptPictures)
{
    ScopedRenderThreads scoped(std::to_string(GetParam()).c_str());
    const std::vector<Picture> drawn = RenderDemoFrames(true);
    ASSERT_EQ(drawn.size(), std::size(kStates));
    for (size_t s = 0; s < drawn.size(); ++s)
    {
        const Picture kept = ReadKept(kStates[s]);
        ASSERT_EQ(drawn[s].pixels.size(), kept.pixels.size());
        EXPECT_EQ(Compare(drawn[s], kept).pixels, 0u) << DemoStateName(kStates[s]);
    }
}

INSTANTIATE_TEST_SUITE_P(OneToEight, GoldenThreads, ::testing::Range(1, 9));
