#include <gtest/gtest.h>

#include "frames.h"
#include "host.h"
#include "music_analysis.h"
#include "stall_run.h"
#include "stop_signals.h"
#include "test_support.h"

#include <velmora_platform.h>

#include <signal.h>
#include <sndfile.h>

#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#include <stb/stb_image.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <string>
#include <vector>

using namespace testing_support;

namespace {

const std::string kStartBanner = "\t\n========[LOG START]========\n\n";
const std::string kEndBanner = "\t\n========[LOG END]========\n";

std::vector<std::string> Lines(const std::string& text)
{
    return SplitLines(text);
}

} // namespace

TEST(Player, RunsTheBuiltModuleThroughInitFramesAndQuit)
{
    TempFolder folder;
    const std::string driveC = folder / "drive_c";
    ProcessResult run = RunProgram({VELMORA_PLAYER_EXE, "--drive-c", driveC, "--frames", "12"}, folder.Path());
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("log: " + driveC + "/winamplog.txt"), std::string::npos) << run.out;

    const std::string log = ReadFile(driveC + "/winamplog.txt");
    ASSERT_EQ(log.compare(0, kStartBanner.size(), kStartBanner), 0) << log;
    ASSERT_GE(log.size(), kEndBanner.size());
    EXPECT_EQ(log.substr(log.size() - kEndBanner.size()), kEndBanner);

    const std::vector<std::string> lines = Lines(log);
    std::vector<std::string> init = LinesBetween(lines, "[          plugin:: 116]\t====[INIT MODULE Tab Start]====",
                                                 "[          plugin:: 116]\t====[INIT MODULE Tab End]====");
    ASSERT_GE(init.size(), 6u) << log;
    EXPECT_EQ(init[1], "[          plugin:: 120]\t\tinit");
    EXPECT_EQ(init[2], "[          plugin:: 173]\t\tclass registered");
    EXPECT_EQ(init[3], "[          plugin:: 197]\t\twindow created");
    // The module's folder in Windows form, with the data folder appended.
    EXPECT_EQ(init[4].rfind("[          plugin:: 218]\t\tplugin path:Z:\\", 0), 0u) << init[4];
    EXPECT_NE(init[4].find("\\plugin\\data\\"), std::string::npos) << init[4];
    EXPECT_EQ(init[4].find('/'), std::string::npos);

    std::vector<std::string> quit = LinesBetween(lines, "[          plugin:: 409]\t====[QUIT MODULE Tab Start]====",
                                                 "[          plugin:: 409]\t====[QUIT MODULE Tab End]====");
    ASSERT_GE(quit.size(), 3u) << log;
    EXPECT_EQ(quit[quit.size() - 2], "[          plugin:: 426]\t\tquit");

    // The virtual clock makes a second run write the same log.
    const std::string secondC = folder / "second_c";
    ProcessResult again = RunProgram({VELMORA_PLAYER_EXE, "--drive-c", secondC, "--frames", "12"}, folder.Path());
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(ReadFile(secondC + "/winamplog.txt"), log);
}

TEST(Player, BadArgumentsGiveOneLineAndAFailureStatus)
{
    TempFolder folder;
    const std::string driveC = folder / "drive_c";
    ProcessResult run = RunProgram({VELMORA_PLAYER_EXE, "--drive-c", driveC, "--module", folder / "missing.so"}, folder.Path());
    EXPECT_NE(run.status, 0);
    EXPECT_EQ(Lines(run.err).size(), 1u) << run.err;
    EXPECT_NE(run.err.find("missing.so"), std::string::npos);

    // A file that is no module at all.
    ASSERT_TRUE(WriteFile(folder / "fake.so", "not a library"));
    run = RunProgram({VELMORA_PLAYER_EXE, "--drive-c", driveC, "--module", folder / "fake.so"}, folder.Path());
    EXPECT_NE(run.status, 0);
    EXPECT_EQ(Lines(run.err).size(), 1u) << run.err;

    // Unreadable music stops the player before the module is loaded.
    run = RunProgram({VELMORA_PLAYER_EXE, "--drive-c", driveC, "--audio", folder / "missing.wav"}, folder.Path());
    EXPECT_NE(run.status, 0);
    EXPECT_EQ(Lines(run.err).size(), 1u) << run.err;
    EXPECT_FALSE(FileExists(driveC + "/winamplog.txt"));

    // Options the player cannot use say which option and what it takes, or
    // which other option they need, and stop the run before anything is done.
    const std::string out = folder / "out";
    const std::pair<std::vector<std::string>, std::string> refused[] = {
        {{"--frames", "many"}, "--frames takes a whole number of frames from 0"},
        {{"--frames", "-1"}, "--frames takes a whole number of frames from 0"},
        {{"--every", "0", "--out", out}, "--every takes a whole number of frames from 1"},
        {{"--out", out, "--every", "1e3"}, "--every takes a whole number of frames from 1"},
        {{"--audio"}, "--audio takes a file"},
        {{"--audio", "--loop"}, "--audio takes a file"},
        {{"--audio", ""}, "--audio takes a file"},
        {{"--out", "--every", "5"}, "--out takes a folder"},
        {{"--every", "5"}, "--every needs --out"},
        {{"--mute", "--frames", "3"}, "--mute needs --window"},
        {{"--frames", "3", "--dance"}, "'--dance'"},
    };
    for (const auto& c : refused)
    {
        std::vector<std::string> args = {VELMORA_PLAYER_EXE, "--drive-c", driveC};
        args.insert(args.end(), c.first.begin(), c.first.end());
        run = RunProgram(args, folder.Path());
        EXPECT_EQ(run.status, 2) << c.second;
        EXPECT_EQ(Lines(run.err).size(), 1u) << run.err;
        EXPECT_EQ(run.err.rfind("velmora-player: ", 0), 0u) << run.err;
        EXPECT_NE(run.err.find(c.second), std::string::npos) << run.err;
        EXPECT_FALSE(FileExists(driveC + "/winamplog.txt")) << c.second;
        EXPECT_FALSE(FileExists(out)) << c.second;
        remove((driveC + "/winamplog.txt").c_str());
    }
    // --loop means something without --audio too: the built-in music loops anyway.
    run = RunProgram({VELMORA_PLAYER_EXE, "--drive-c", driveC, "--loop", "--frames", "2"}, folder.Path());
    EXPECT_EQ(run.status, 0) << run.err;

    run = RunProgram({VELMORA_PLAYER_EXE, "--help"}, folder.Path());
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.out.find("--drive-c"), std::string::npos);
    EXPECT_NE(run.out.find("plugin.ini beside the module"), std::string::npos) << "where the window's size comes from";
    EXPECT_NE(run.out.find("MP3"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("VELMORA_RENDER_THREADS"), std::string::npos) << run.out;
}

TEST(Player, PlaysMp3Files)
{
    // One second of a 440 Hz tone, made here as MP3 where this libsndfile writes it.
    const int rate = 44100;
    TempFolder folder;
    const std::string path = folder / "tone.mp3";
    SF_INFO info = {};
    info.samplerate = rate;
    info.channels = 2;
    info.format = SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file)
        GTEST_SKIP() << "this libsndfile cannot write MP3: " << sf_strerror(nullptr);
    std::vector<float> samples;
    for (int n = 0; n < rate; ++n)
    {
        const float v = 0.5f * static_cast<float>(std::sin(2.0 * 3.14159265358979 * 440.0 * n / rate));
        samples.push_back(v);
        samples.push_back(v);
    }
    ASSERT_EQ(sf_writef_float(file, samples.data(), rate), rate);
    sf_close(file);

    // The tone is heard where it is: bin 257 is centred on 20 Hz * 1000^(257/575), 440 Hz.
    std::string error;
    std::unique_ptr<SpectrumSource> source = OpenSpectrumSource(path, false, error);
    ASSERT_TRUE(source) << error;
    unsigned char spectrum[2][576], waveform[2][576];
    ASSERT_TRUE(source->Fill(500.0, spectrum, waveform));
    const unsigned char* loudest = std::max_element(spectrum[0], spectrum[0] + 576);
    EXPECT_GT(*loudest, 200);
    EXPECT_NEAR(loudest - spectrum[0], 257, 2);

    // And the player plays it to its end: a second at 25 ms a frame.
    const std::string driveC = folder / "drive_c";
    ProcessResult run = RunProgram({VELMORA_PLAYER_EXE, "--drive-c", driveC, "--audio", path, "--frames", "100"}, folder.Path());
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_NE(run.out.find("velmora-player: 40 frames rendered\n"), std::string::npos) << run.out;
}

TEST(Player, HostAnswersTheModuleRequests)
{
    Host host;
    // 505 hands out the embed function, which makes a top-level window from the record's rectangle.
    auto embed = reinterpret_cast<EmbedWindowFunc>(SendMessageA(host.MainWindow(), WM_USER, 0, IPC_GET_EMBEDIF));
    ASSERT_NE(embed, nullptr);
    CEmbedWindowState state = {};
    state.r = {0, 0, 690, 650};
    HWND window = embed(&state);
    ASSERT_TRUE(IsWindow(window));
    EXPECT_EQ(state.me, window);
    EXPECT_EQ(GetParent(window), nullptr);
    RECT r;
    GetClientRect(window, &r);
    EXPECT_EQ(r.right, 690);
    EXPECT_EQ(r.bottom, 650);

    SendMessageA(host.MainWindow(), WM_USER, reinterpret_cast<WPARAM>(window), IPC_SETVISWND);
    EXPECT_EQ(host.RenderWindow(), window);
    SendMessageA(host.MainWindow(), WM_USER, 0, IPC_SETVISWND);
    EXPECT_EQ(host.RenderWindow(), nullptr);
    SendMessageA(host.MainWindow(), WM_USER, 1, IPC_CB_VISRANDOM);
    EXPECT_EQ(host.CycleView(), 1);
    SendMessageA(host.MainWindow(), WM_USER, 0, IPC_CB_VISRANDOM);
    EXPECT_EQ(host.CycleView(), 0);

    host.SetEmbedFunction(nullptr);
    EXPECT_EQ(SendMessageA(host.MainWindow(), WM_USER, 0, IPC_GET_EMBEDIF), 0);

    std::string error;
    EXPECT_FALSE(host.Load("/no/such/module.so", error));
    EXPECT_FALSE(error.empty());
    DestroyWindow(window);
}

TEST(Player, BuiltInSignalIsRepeatableAndAudioErrorsAreReported)
{
    std::string error;
    auto first = OpenSpectrumSource("", false, error);
    auto second = OpenSpectrumSource("", false, error);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    unsigned char s1[2][576], w1[2][576], s2[2][576], w2[2][576];
    ASSERT_TRUE(first->Fill(1234.0, s1, w1));
    ASSERT_TRUE(second->Fill(1234.0, s2, w2));
    EXPECT_EQ(memcmp(s1, s2, sizeof(s1)), 0);
    EXPECT_EQ(memcmp(w1, w2, sizeof(w1)), 0);
    ASSERT_TRUE(first->Fill(0.0, s2, w2));
    EXPECT_NE(memcmp(s1, s2, sizeof(s1)), 0); // it moves with the music

    EXPECT_EQ(OpenSpectrumSource("/no/such/song.wav", false, error), nullptr);
    EXPECT_EQ(error.find('\n'), std::string::npos);
    EXPECT_FALSE(error.empty());
}

TEST(Player, PicturesAreWrittenAsPng)
{
    TempFolder folder;
    EXPECT_EQ(FrameFileName(42), "frame_00042.png");
    Host host;
    HWND window = host.MainWindow();
    EXPECT_FALSE(WriteWindowPicture(window, folder / "none.png")); // no picture yet
    const DWORD pixels[] = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0x00FFFFFF};
    ASSERT_TRUE(VelmoraSetWindowPicture(window, pixels, 2, 2));
    ASSERT_TRUE(WriteWindowPicture(window, folder / "p.png"));
    int w = 0, h = 0, n = 0;
    unsigned char* rgba = stbi_load((folder / "p.png").c_str(), &w, &h, &n, 4);
    ASSERT_NE(rgba, nullptr);
    EXPECT_EQ(w, 2);
    EXPECT_EQ(h, 2);
    const unsigned char expected[] = {255, 0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 255, 255, 255, 255};
    EXPECT_EQ(memcmp(rgba, expected, sizeof(expected)), 0);
    stbi_image_free(rgba);

    EXPECT_TRUE(MakeFolders(folder / "a/b/c"));
    EXPECT_TRUE(FileExists(folder / "a/b/c"));
}

// A display number that no X server on this machine answers at.
std::string AbsentXDisplay()
{
    for (int number = 4000;; ++number)
        if (!FileExists("/tmp/.X11-unix/X" + std::to_string(number)) &&
            !FileExists("/tmp/.X" + std::to_string(number) + "-lock"))
            return ":" + std::to_string(number);
}

TEST(Player, WindowWithoutADisplayFailsInOneLineBeforeTheModuleLoads)
{
    // No display and no driver asked for by name: SDL would settle for its
    // offscreen driver, which shows nothing. Each case names what is missing.
    const std::string absent = AbsentXDisplay();
    const struct
    {
        std::vector<std::string> environment;
        std::string reason;
    } cases[] = {
        {{"DISPLAY", "WAYLAND_DISPLAY"}, "neither DISPLAY nor WAYLAND_DISPLAY is set"},
        {{"DISPLAY=", "WAYLAND_DISPLAY="}, "neither DISPLAY nor WAYLAND_DISPLAY is set"},
        {{"DISPLAY=" + absent, "WAYLAND_DISPLAY"}, "cannot open the X display '" + absent + "' that DISPLAY names"},
        {{"DISPLAY", "WAYLAND_DISPLAY=velmora-no-such-wayland"},
         "cannot open the Wayland display 'velmora-no-such-wayland' that WAYLAND_DISPLAY names"},
        {{"DISPLAY=" + absent, "WAYLAND_DISPLAY=velmora-no-such-wayland"},
         "cannot open the X display '" + absent +
             "' that DISPLAY names, nor the Wayland display 'velmora-no-such-wayland' that WAYLAND_DISPLAY names"},
        // Asked for by name, the driver fails in SDL itself.
        {{"DISPLAY=" + absent, "WAYLAND_DISPLAY", "SDL_VIDEODRIVER=x11"},
         "cannot open the X display '" + absent + "' that DISPLAY names"},
    };
    for (const auto& c : cases)
    {
        TempFolder folder;
        const std::string driveC = folder / "drive_c";
        std::vector<std::string> environment = {"SDL_VIDEODRIVER", "SDL_AUDIODRIVER=disk",
                                                "SDL_DISKAUDIOFILE=" + (folder / "device.raw")};
        environment.insert(environment.end(), c.environment.begin(), c.environment.end());
        pid_t pid = StartProgram({VELMORA_PLAYER_EXE, "--drive-c", driveC, "--window", "--frames", "5"}, folder.Path(),
                                 environment);
        ProcessResult run = FinishProgramWithin(pid, folder.Path(), 20.0);
        ASSERT_FALSE(run.late) << "the run went on without a display: " << c.reason;
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, "velmora-player: no display for a window (" + c.reason + ")\n");
        EXPECT_FALSE(FileExists(driveC + "/winamplog.txt")) << "the module was loaded";
        EXPECT_FALSE(FileExists(folder / "device.raw")) << "the music played";
    }
}

TEST(Player, SignalsEndAHeadlessRunThroughTheModulesQuit)
{
    for (int number : {SIGTERM, SIGINT})
    {
        TempFolder folder;
        const std::string driveC = folder / "drive_c";
        pid_t pid = StartProgram({VELMORA_PLAYER_EXE, "--drive-c", driveC, "--frames", "100000000"}, folder.Path());
        ASSERT_TRUE(WaitForFileText(driveC + "/winamplog.txt", "====[INIT MODULE Tab End]====", 60.0));
        kill(pid, number);
        // Well within this; the player checks between frames.
        ProcessResult run = FinishProgramWithin(pid, folder.Path(), 5.0);
        ASSERT_FALSE(run.late) << "signal " << number << " did not end the run";
        EXPECT_EQ(run.signal, number) << run.err;
        EXPECT_NE(run.out.find(" frames rendered\n"), std::string::npos) << run.out;
        const std::string log = ReadFile(driveC + "/winamplog.txt");
        EXPECT_NE(log.find("\t\tquit\n"), std::string::npos) << "Quit did not run";
        ASSERT_GE(log.size(), kEndBanner.size());
        EXPECT_EQ(log.substr(log.size() - kEndBanner.size()), kEndBanner);
    }
}

TEST(Player, AScriptWithoutEndIsRefusedInOneLine)
{
    TempFolder folder;
    const std::string driveC = folder / "drive_c";
    ProcessResult run = RunProgram({VELMORA_PLAYER_EXE, "--drive-c", driveC, "--script", "/dev/zero"}, folder.Path());
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "velmora-player: /dev/zero: a script may hold at most 64 MB\n");
    EXPECT_FALSE(FileExists(driveC + "/winamplog.txt"));
}

void ExpectEndedWithoutShutdown(const StallRun& how, int number)
{
    TempFolder folder;
    double seconds = 0.0;
    ProcessResult run = StopStallingModule(folder, how, {number}, seconds);
    const std::string what = how.stall + (how.window ? " in a window" : " headless");
    ASSERT_FALSE(run.late) << what;
    EXPECT_EQ(run.signal, number) << what << ": " << run.err;
    // One second of grace, then at once; the bound is loose for a loaded machine.
    EXPECT_LT(seconds, 3.0) << what;
    EXPECT_EQ(run.err, kShutdownSkippedLine) << what;
    EXPECT_EQ(run.out.find(" frames rendered"), std::string::npos) << what;
    EXPECT_FALSE(FileExists(folder / "marks/quit")) << what << ": Quit ran in a module that never returned";
}

TEST(Player, ASignalEndsAHeadlessRunWhoseModuleNeverReturnsWithinASecond)
{
    ExpectEndedWithoutShutdown({"render", "render", false}, SIGTERM);
    ExpectEndedWithoutShutdown({"init", "init", false}, SIGINT);
}

TEST(Player, ASignalEndsAWindowRunWhoseModuleNeverReturnsWithinASecond)
{
    ExpectEndedWithoutShutdown({"render", "render", true}, SIGINT);
}

TEST(Player, ASecondSignalEndsTheRunAtOnceAndASlowFrameStillShutsDown)
{
    for (bool window : {false, true})
    {
        TempFolder folder;
        double seconds = 0.0;
        ProcessResult run = StopStallingModule(folder, {"render", "render", window}, {SIGTERM, SIGINT}, seconds);
        ASSERT_FALSE(run.late);
        EXPECT_EQ(run.signal, SIGINT) << run.err;
        EXPECT_EQ(run.err, kSecondSignalLine) << "not the second signal ended it";
        EXPECT_FALSE(FileExists(folder / "marks/quit"));
    }

    // A frame of 300 ms returns within the grace time: the clean path runs.
    for (bool window : {false, true})
    {
        TempFolder folder;
        double seconds = 0.0;
        ProcessResult run = StopStallingModule(folder, {"slow", "render", window}, {SIGTERM}, seconds);
        ASSERT_FALSE(run.late);
        EXPECT_EQ(run.signal, SIGTERM) << run.err;
        EXPECT_EQ(run.err.find(kShutdownSkippedLine), std::string::npos) << run.err;
        EXPECT_NE(run.out.find(" frames rendered\n"), std::string::npos) << run.out;
        EXPECT_TRUE(FileExists(folder / "marks/quit")) << "Quit did not run";
    }
}
