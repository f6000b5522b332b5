// Runs of the player with the stalling test module (stall_module.cpp),
// stopped by signals.
#ifndef VELMORA_TEST_STALL_RUN_H
#define VELMORA_TEST_STALL_RUN_H

#include "frames.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

namespace testing_support {

// A run of the stalling test module, headless or with a window (SDL's dummy
// driver), stopped by signals once it is in the callback it was told about.
struct StallRun
{
    std::string stall;  // VELMORA_STALL
    const char* waitFor; // the callback to be in before the first signal
    bool window;
};

inline ProcessResult StopStallingModule(const TempFolder& folder, const StallRun& how, const std::vector<int>& signals,
                                        double& seconds)
{
    const std::string marks = folder / "marks";
    MakeFolders(marks);
    std::vector<std::string> args = {VELMORA_PLAYER_EXE, "--drive-c", folder / "drive_c", "--module",
                                     VELMORA_STALL_MODULE, "--frames", "100000"};
    if (how.window)
        args.push_back("--window");
    pid_t pid = StartProgram(args, folder.Path(),
                             {"VELMORA_STALL=" + how.stall, "VELMORA_STALL_MARKS=" + marks, "SDL_VIDEODRIVER=dummy",
                              "SDL_AUDIODRIVER=disk", "SDL_DISKAUDIOFILE=" + (folder / "device.raw")});
    EXPECT_TRUE(WaitForFileText(marks + "/" + how.waitFor, how.waitFor, 30.0)) << how.stall;
    const auto start = std::chrono::steady_clock::now();
    for (size_t i = 0; i < signals.size(); ++i)
    {
        if (i > 0)
            usleep(100000);
        kill(pid, signals[i]);
    }
    ProcessResult run = FinishProgramWithin(pid, folder.Path(), 10.0);
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return run;
}

} // namespace testing_support

#endif
