// The grace after a stop signal covers every wait of the player that may
// never end: the module's calls and the reads of the music.
#include <gtest/gtest.h>

#include "host.h"
#include "music_analysis.h"
#include "music_stream.h"
#include "stall_run.h"
#include "stop_signals.h"
#include "test_support.h"

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

using namespace testing_support;

namespace {

// Music whose decoder never comes back from its first read.
class StalledDecoder : public MusicDecoder
{
public:
    int SampleRate() const override { return 44100; }
    int Channels() const override { return 2; }
    int64_t Frames() const override { return 0; }
    int64_t Read(float*, int64_t) override
    {
        for (;;)
            pause();
    }
    bool Seek(int64_t) override { return true; }
};

// Runs `body` in a child process with the player's stop signals caught and
// its output in files in `folder` (read with FinishProgramWithin); the child
// exits with 0 where `body` returns.
pid_t StartPlayerChild(const TempFolder& folder, const std::function<void()>& body)
{
    fflush(stdout);
    fflush(stderr);
    const pid_t pid = fork();
    if (pid == 0)
    {
        if (!freopen((folder / "stdout.txt").c_str(), "w", stdout) ||
            !freopen((folder / "stderr.txt").c_str(), "w", stderr))
            _exit(127);
        CatchStopSignals();
        ModuleLoading();
        body();
        fflush(stdout);
        _exit(0);
    }
    return pid;
}

double SecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

TEST(StopSignals, AWaitForAStalledDecoderEndsWithinASecondOfTheSignal)
{
    TempFolder folder;
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t pid = StartPlayerChild(folder, [&] {
        Music music;
        music.stream = std::make_shared<MusicStream>(std::make_unique<StalledDecoder>(), false);
        std::unique_ptr<SpectrumSource> source = MakeSpectrumSource(music);
        CVisModule record = {};
        Host host;
        host.Attach(&record, nullptr);
        ssize_t written = write(ready[1], "r", 1);
        (void)written;
        host.FillAudio(source.get(), 1000.0); // the frame's bytes: never decoded
    });
    close(ready[1]);
    char byte = 0;
    ASSERT_EQ(read(ready[0], &byte, 1), 1);
    close(ready[0]);
    usleep(100000); // into the wait
    const auto start = std::chrono::steady_clock::now();
    kill(pid, SIGTERM);
    ProcessResult run = FinishProgramWithin(pid, folder.Path(), 5.0);
    const double seconds = SecondsSince(start);
    ASSERT_FALSE(run.late) << "the wait for the decoder went on after the signal";
    EXPECT_EQ(run.signal, SIGTERM) << run.err;
    EXPECT_EQ(run.err, kMusicStalledLine);
    // The grace is 950 ms; the bound is loose for a loaded machine.
    EXPECT_LT(seconds, 3.0);
    RecordProperty("seconds_after_signal", std::to_string(seconds));
}

TEST(StopSignals, WorkThatStartsAfterTheGraceEndsThePlayerAsItStarts)
{
    const struct
    {
        std::function<void()> work;
        const char* line;
    } cases[] = {
        {[] { ModuleCall call; }, kShutdownSkippedLine},
        {[] { MusicWait wait; }, kMusicStalledLine},
    };
    // Side by side, so that the test waits for the grace once.
    TempFolder folders[2];
    pid_t pids[2];
    for (int i = 0; i < 2; ++i)
        pids[i] = StartPlayerChild(folders[i], [&] {
            raise(SIGTERM);
            // The grace passes in the player's own work, where nothing is watched.
            const auto start = std::chrono::steady_clock::now();
            while (SecondsSince(start) < kStopGraceMs / 1000.0 + 0.3)
                usleep(10000);
            cases[i].work();
            printf("went on\n");
        });
    for (int i = 0; i < 2; ++i)
    {
        ProcessResult run = FinishProgramWithin(pids[i], folders[i].Path(), 5.0);
        ASSERT_FALSE(run.late);
        EXPECT_EQ(run.signal, SIGTERM) << run.out << run.err;
        EXPECT_EQ(run.err, cases[i].line);
        EXPECT_EQ(run.out, "");
    }
}

TEST(StopSignals, ASignalDuringMessageDeliveryEndsTheRunBeforeTheNextRender)
{
    TempFolder folder;
    double seconds = 0.0;
    // The module's Render would never return.
    ProcessResult run = StopStallingModule(folder, {"deliver", "deliver", false}, {SIGTERM}, seconds);
    ASSERT_FALSE(run.late);
    EXPECT_EQ(run.signal, SIGTERM) << run.err;
    EXPECT_EQ(run.err, "") << "the module was called after the signal";
    EXPECT_FALSE(FileExists(folder / "marks/render"));
    EXPECT_TRUE(FileExists(folder / "marks/quit")) << "Quit did not run";
    EXPECT_NE(run.out.find("velmora-player: 0 frames rendered\n"), std::string::npos) << run.out;
    EXPECT_LT(seconds, 3.0);
    RecordProperty("seconds_after_signal", std::to_string(seconds));
}
