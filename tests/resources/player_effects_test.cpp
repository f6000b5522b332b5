// The demo's two effects load through the resource manager in a player run;
// a dancer effect that the compiler refuses leaves the dancers out.
#include <gtest/gtest.h>

#include "bad_effects.h"
#include "player_pictures.h"
#include "resource_test_support.h"

#include <dirent.h>
#include <stdlib.h>

#include <string>

namespace {

using namespace testing_support;

TEST(PlayerEffects, DemoEffectsLoadWithoutComplaint)
{
    TempFolder folder;
    const std::string driveC = folder / "drive_c";
    ASSERT_EQ(mkdir(driveC.c_str(), 0755), 0);
    ProcessResult run = RunProgram({VELMORA_PLAYER_EXE, "--drive-c", driveC, "--frames", "5"}, folder.Path());
    ASSERT_EQ(run.status, 0) << run.err;
    const std::vector<std::string> lines = SplitLines(ReadFile(driveC + "/winamplog.txt"));

    int constructed = 0, destroyed = 0;
    for (size_t i = 0; i < lines.size(); ++i)
    {
        const std::string message = restest::LogWatch::Message(lines[i]);
        constructed += message == "CSHADER constructor";
        destroyed += message == "CSHADER destructor";
        EXPECT_EQ(message.find("error"), std::string::npos) << message;
        EXPECT_EQ(message.find("warning"), std::string::npos) << message;
        EXPECT_EQ(message.find("WARNING"), std::string::npos) << message;
    }
    // Loaded once each at set-up; deleted with the manager at tear-down.
    EXPECT_EQ(constructed, 2);
    EXPECT_EQ(destroyed, 2);
    const std::string log = ReadFile(driveC + "/winamplog.txt");
    const size_t spot = log.find("shaders/spot.fx\n");
    const size_t dancer = log.find("shaders/dancer.fx\n");
    EXPECT_NE(spot, std::string::npos);
    EXPECT_NE(dancer, std::string::npos);
    EXPECT_LT(spot, dancer);
}

struct DancerRun
{
    int status = -1;
    std::string err, log;
    Picture picture; // of the last frame
    long peakKilobytes = 0;
};

// Runs the player for a few frames with the shipped data but `dancer` as the
// dancer effect.
DancerRun RunWithDancerEffect(const TempFolder& folder, const std::string& dancer)
{
    const std::string plugin = VELMORA_PLUGIN_DIR;
    std::string library;
    EXPECT_TRUE(ReadFile(plugin + "/vis_velmora.so", library));
    EXPECT_TRUE(WriteFile(folder / "vis_velmora.so", library));
    EXPECT_EQ(mkdir((folder / "data").c_str(), 0755), 0);
    if (DIR* dir = opendir((plugin + "/data").c_str()))
    {
        while (const dirent* entry = readdir(dir))
        {
            const std::string name = entry->d_name;
            if (name != "." && name != ".." && name != "shaders")
            {
                EXPECT_EQ(symlink((plugin + "/data/" + name).c_str(), (folder / "data/" + name).c_str()), 0);
            }
        }
        closedir(dir);
    }
    EXPECT_EQ(mkdir((folder / "data/shaders").c_str(), 0755), 0);
    EXPECT_EQ(symlink((plugin + "/data/shaders/spot.fx").c_str(), (folder / "data/shaders/spot.fx").c_str()), 0);
    EXPECT_TRUE(WriteFile(folder / "data/shaders/dancer.fx", dancer));
    // A hang is a failure, not a stuck test. The peak memory is the player's
    // own: time's child starts from time's small image, not this program's.
    const int frames = 3;
    ProcessResult process = RunProgram({"/usr/bin/time", "-f", "%M", "-o", folder / "peak.txt", "/usr/bin/timeout",
                                        "120", VELMORA_PLAYER_EXE, "--module", folder / "vis_velmora.so", "--drive-c",
                                        folder / "drive_c", "--frames", std::to_string(frames), "--out", folder / "out"},
                                       folder.Path());
    DancerRun run;
    run.status = process.status;
    run.err = process.err;
    run.picture = ReadPng(FramePath(folder / "out", frames - 1));
    run.log = ReadFile(folder / "drive_c/winamplog.txt");
    run.peakKilobytes = atol(ReadFile(folder / "peak.txt").c_str());
    return run;
}

// Each effect that once hung the player, took gigabytes or ended it, as the
// dancer effect: the compiler's message is logged through the shader's line, and the
// player draws the scene without the dancers, in the memory of a normal run.
TEST(PlayerEffects, RefusedDancerEffectsAreLoggedAndTheSceneDrawsWithoutThem)
{
    TempFolder shippedFolder, brokenFolder;
    const DancerRun shipped = RunWithDancerEffect(shippedFolder, ReadShippedEffect("dancer.fx"));
    ASSERT_EQ(shipped.status, 0) << shipped.err;
    ASSERT_GT(shipped.peakKilobytes, 0);
    const DancerRun broken = RunWithDancerEffect(brokenFolder, "float4 broken");
    ASSERT_EQ(broken.status, 0) << broken.err;
    ASSERT_GT(broken.picture.width, 0);
    ASSERT_EQ(broken.picture.pixels.size(), shipped.picture.pixels.size());
    EXPECT_NE(broken.picture.pixels, shipped.picture.pixels) << "the dancers are drawn with their effect only";

    std::vector<BadEffect> effects = BadDancerEffects();
    for (BadEffect& hostile : HostileEffectFiles())
        effects.push_back(std::move(hostile));
    for (const BadEffect& bad : effects)
    {
        ASSERT_FALSE(bad.source.empty()) << bad.what << ": the shipped dancer effect changed";
        TempFolder folder;
        const DancerRun run = RunWithDancerEffect(folder, bad.source);
        EXPECT_EQ(run.status, 0) << bad.what << ": " << run.err;
        // The message as the compiler gives it, after the effect's file name.
        const size_t at = run.log.find("[          Shader::  36]\t\tZ:");
        ASSERT_NE(at, std::string::npos) << bad.what << ": " << run.log;
        const std::string message = run.log.substr(at, run.log.find('\n', at) - at);
        EXPECT_NE(message.find("\\data\\shaders/dancer.fx" + bad.error), std::string::npos)
            << bad.what << ": " << message;
        EXPECT_TRUE(run.picture.pixels == broken.picture.pixels) << bad.what;
        EXPECT_GT(run.peakKilobytes, 0) << bad.what;
        EXPECT_LE(run.peakKilobytes, shipped.peakKilobytes + 16 * 1024) << bad.what;
    }
}

}  // namespace
