// The player run end to end with a script: the pictures it writes show the
// start-up message for two seconds, the status line and what the H key does.
#include <gtest/gtest.h>

#include "module_session.h"
#include "player_pictures.h"
#include "test_support.h"

#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

using namespace testing_support;

namespace {

// Runs the built module headless in `folder` with the script; pictures go to
// folder/out. With `scene` the shipped data stands beside the module, else a
// data folder of profiles only, so that no scene draws over the texts.
void RunPlayer(const TempFolder& folder, bool scene, const std::string& script, int frames, int every)
{
    const std::string plugin = std::string(VELMORA_PLUGIN_DIR);
    std::string library;
    ASSERT_TRUE(ReadFile(plugin + "/vis_velmora.so", library));
    ASSERT_TRUE(WriteFile(folder / "vis_velmora.so", library));
    if (scene)
        ASSERT_EQ(symlink((plugin + "/data").c_str(), (folder / "data").c_str()), 0);
    else
    {
        ASSERT_EQ(mkdir((folder / "data").c_str(), 0755), 0);
        ASSERT_EQ(symlink((plugin + "/data/spectrum").c_str(), (folder / "data/spectrum").c_str()), 0);
    }
    ASSERT_TRUE(WriteFile(folder / "input.txt", script));
    ProcessResult run = RunProgram({VELMORA_PLAYER_EXE, "--module", folder / "vis_velmora.so", "--drive-c",
                                    folder / "drive_c", "--out", folder / "out", "--every", std::to_string(every),
                                    "--frames", std::to_string(frames), "--script", folder / "input.txt"},
                                   folder.Path());
    ASSERT_EQ(run.status, 0) << run.err;
}

} // namespace

TEST(OverlayDemo, StartUpMessageStatusLineAndHelpKeyInThePlayersPictures)
{
    TempFolder folder;
    const std::string out = folder / "out";
    ASSERT_NO_FATAL_FAILURE(RunPlayer(folder, false,
                                      "# status line first, then help off\n"
                                      "5 command cycle-view\n"
                                      "100 key H\n",
                                      111, 10));

    // Frame 0 is rendered at Init's time; each frame adds 25 ms.
    const Picture early = ReadPng(FramePath(out, 0));
    ASSERT_EQ(early.width, 800);
    ASSERT_EQ(early.height, 600);
    const Box message = FindPixels(early.pixels, early.width, IsMessageBlue);
    ASSERT_FALSE(message.Empty()) << "the start-up message";
    EXPECT_GE(message.top, 60);
    EXPECT_LE(message.top, 70);
    EXPECT_LE(message.right, 719);
    EXPECT_GE(message.right, 705);
    // "Press H to remove the help content" is far wider than "Help Disable".
    EXPECT_GT(message.right - message.left, 200);
    bool exact = false;
    for (DWORD c : early.pixels)
        exact = exact || (c & 0xFFFFFF) == 0x0080FF;
    EXPECT_TRUE(exact) << "drawn in 0xFF0080FF";

    // After 2 s only the status line left by the command shows, white at the bottom right.
    const Picture later = ReadPng(FramePath(out, 90));
    EXPECT_TRUE(FindPixels(later.pixels, later.width, IsMessageBlue).Empty());
    // With nothing under the mouse the scene clears the status line once it is a second old.
    EXPECT_TRUE(FindPixels(later.pixels, later.width, IsStatusWhite).Empty());
    const Picture withStatus = ReadPng(FramePath(out, 30));
    const Box status = FindPixels(withStatus.pixels, withStatus.width, IsStatusWhite);
    ASSERT_FALSE(status.Empty()) << "cycle view off";
    EXPECT_GE(status.top, 480);
    EXPECT_LE(status.top, 490);
    EXPECT_LE(status.right, 719);
    EXPECT_GE(status.right, 705);

    // H: the status line goes, the message says so.
    const Picture helpOff = ReadPng(FramePath(out, 110));
    EXPECT_TRUE(FindPixels(helpOff.pixels, helpOff.width, IsStatusWhite).Empty());
    const Box disable = FindPixels(helpOff.pixels, helpOff.width, IsMessageBlue);
    ASSERT_FALSE(disable.Empty()) << "Help Disable";
    EXPECT_LT(disable.right - disable.left, message.right - message.left);

    const std::string log = ReadFile(folder / "drive_c/winamplog.txt");
    EXPECT_NE(log.find("Random is 0"), std::string::npos);
    std::string windowsFolder = folder.Path();
    for (char& c : windowsFolder)
        c = c == '/' ? '\\' : c;
    EXPECT_NE(log.find("plugin path:Z:" + windowsFolder + "\\data\\"), std::string::npos) << log;
}

// The headless clock does not start at the overlay's "no time": texts set in
// the very first frame keep their timing.
TEST(OverlayDemo, TextsSetInTheFirstFrameKeepTheirTiming)
{
    // A hover text is drawn once it has stood half a second.
    TempFolder hover;
    ASSERT_NO_FATAL_FAILURE(RunPlayer(hover, true, "0 move 400 300\n", 31, 30));
    const Picture hovered = ReadPng(FramePath(hover / "out", 30));
    ASSERT_EQ(hovered.width, 800);
    // The scene has greys of its own: the text's pure white, where the status line stands.
    int white = 0;
    for (size_t i = 0; i < hovered.pixels.size(); ++i)
        white += (hovered.pixels[i] & 0xFFFFFF) == 0xFFFFFF && i / 800 >= 480 && i % 800 < 720;
    EXPECT_GT(white, 20) << "the hover text";

    // A command's status line is kept from the idle clearing for a second.
    TempFolder command;
    ASSERT_NO_FATAL_FAILURE(RunPlayer(command, false, "0 command cycle-view\n", 11, 10));
    const Picture kept = ReadPng(FramePath(command / "out", 10));
    ASSERT_EQ(kept.width, 800);
    EXPECT_FALSE(FindPixels(kept.pixels, kept.width, IsStatusWhite).Empty()) << "cycle view on";
}
