// The demo scene's floor in the player's pictures: lit tiles in the floor's
// colour, the others in the dim grey the floor asks for.
#include <gtest/gtest.h>

#include "player_pictures.h"
#include "test_support.h"

#include <algorithm>
#include <string>

using namespace testing_support;

TEST(FloorDemo, UnlitTilesAreDimGreyAndLitTilesRed)
{
    TempFolder folder;
    const std::string out = folder / "out";
    ProcessResult run = RunProgram({VELMORA_PLAYER_EXE, "--drive-c", folder / "drive_c", "--out", out, "--every", "120",
                                    "--frames", "121"},
                                   folder.Path());
    ASSERT_EQ(run.status, 0) << run.err;

    // 3 s in: the camera rests on its first key; the front rows of the floor,
    // below the dancers, get only the ambient light.
    const Picture picture = ReadPng(FramePath(out, 120));
    ASSERT_EQ(picture.width, 800);
    ASSERT_EQ(picture.height, 600);
    int lit = 0, grey = 0;
    for (int y = 380; y <= 430; ++y)
    {
        for (int x = 180; x <= 620; ++x)
        {
            const DWORD c = picture.At(x, y);
            const int r = (c >> 16) & 0xFF, g = (c >> 8) & 0xFF, b = c & 0xFF;
            if (r > 0 && g == 0 && b == 0)
            {
                ++lit;
                continue;
            }
            // Before, these read as navy: (1, 1, 7).
            ASSERT_LE(std::max({r, g, b}) - std::min({r, g, b}), 2) << x << ", " << y << ": " << std::hex << c;
            ASSERT_GE(std::min({r, g, b}), 3) << x << ", " << y << ": " << std::hex << c;
            ++grey;
        }
    }
    EXPECT_GT(lit, 2000);
    EXPECT_GT(grey, 10000);
}
