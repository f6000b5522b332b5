// The demo's two effects load through the resource manager in a player run.
#include <gtest/gtest.h>

#include "resource_test_support.h"

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

}  // namespace
