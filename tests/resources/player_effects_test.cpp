// The demo's two effects load through the resource manager in a player run;
// a dancer effect that the compiler refuses leaves the dancers out.
#include <gtest/gtest.h>

#include "bad_effects.h"
#include "player_pictures.h"
#include "resource_test_support.h"

#include <dirent.h>
#include <sys/resource.h>

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

// Runs the player for a few frames with the shipped data but `dancer` as the
// dancer effect; the picture of the last frame goes to *picture.
ProcessResult RunWithDancerEffect(const TempFolder& folder, const std::string& dancer, Picture* picture,
                                  std::string* log)
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
    // A hang is a failure, not a stuck test.
    const int frames = 3;
    ProcessResult run = RunProgram({"/usr/bin/timeout", "120", VELMORA_PLAYER_EXE, "--module", folder / "vis_velmora.so",
                                    "--drive-c", folder / "drive_c", "--frames", std::to_string(frames), "--out",
                                    folder / "out"},
                                   folder.Path());
    *picture = ReadPng(FramePath(folder / "out", frames - 1));
    *log = ReadFile(folder / "drive_c/winamplog.txt");
    return run;
}

long PeakChildKilobytes()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return usage.ru_maxrss;
}

// Each effect that once hung the player or took gigabytes, as the dancer
// effect: the compiler's message is logged through the shader's line, and the
// player draws the scene without the dancers, in the memory of a normal run.
TEST(PlayerEffects, RefusedDancerEffectsAreLoggedAndTheSceneDrawsWithoutThem)
{
    Picture shipped, broken;
    std::string log;
    {
        TempFolder folder;
        ASSERT_EQ(RunWithDancerEffect(folder, ReadShippedEffect("dancer.fx"), &shipped, &log).status, 0);
    }
    // The largest run yet: the measure of a normal run's memory.
    const long normal = PeakChildKilobytes();
    {
        TempFolder folder;
        ASSERT_EQ(RunWithDancerEffect(folder, "float4 broken", &broken, &log).status, 0);
    }
    ASSERT_GT(broken.width, 0);
    ASSERT_EQ(broken.pixels.size(), shipped.pixels.size());
    EXPECT_NE(broken.pixels, shipped.pixels) << "the dancers are drawn with their effect only";

    for (const BadEffect& bad : BadDancerEffects())
    {
        ASSERT_FALSE(bad.source.empty()) << bad.what << ": the shipped dancer effect changed";
        TempFolder folder;
        Picture picture;
        ProcessResult run = RunWithDancerEffect(folder, bad.source, &picture, &log);
        EXPECT_EQ(run.status, 0) << bad.what << ": " << run.err;
        // The message as the compiler gives it, after the effect's file name.
        const std::string line = "[          Shader::  36]\t\tZ:";
        const size_t at = log.find(line);
        ASSERT_NE(at, std::string::npos) << bad.what << ": " << log;
        const size_t end = log.find('\n', at);
        const std::string message = log.substr(at, end - at);
        EXPECT_NE(message.find("\\data\\shaders/dancer.fx" + bad.error), std::string::npos)
            << bad.what << ": " << message;
        EXPECT_TRUE(picture.pixels == broken.pixels) << bad.what;
        EXPECT_LE(PeakChildKilobytes(), normal + 32 * 1024) << bad.what;
    }
}

}  // namespace
