// The player's --window runs with SDL's dummy video driver and its disk audio
// driver, which writes what the device would play to a file.
#include <gtest/gtest.h>

#include "decoded_music.h"
#include "pcm_audio.h"
#include "test_support.h"
#include "xvfb.h"

#include <algorithm>
#include <signal.h>
#include <unistd.h>
#include <cstring>
#include <string>
#include <vector>

using namespace testing_support;

namespace {

// Noise at half scale, so that a sample out of place shows; it starts with sound.
PcmAudio Music(int rate, int channels, int64_t frames)
{
    PcmAudio audio;
    audio.sampleRate = rate;
    audio.channels = channels;
    uint32_t seed = 11;
    for (int64_t i = 0; i < frames * channels; ++i)
    {
        seed = seed * 1664525u + 1013904223u;
        audio.samples.push_back(static_cast<int16_t>((static_cast<int32_t>(seed >> 16) - 32768) / 2));
    }
    return audio;
}

class LivePlayer : public ::testing::Test
{
protected:
    // Writes `audio` as the music file and returns what ReadAudioFile makes of it.
    PcmAudio WriteMusic(const PcmAudio& audio)
    {
        std::string error;
        EXPECT_TRUE(WriteWavFile(MusicPath(), audio, error)) << error;
        PcmAudio decoded;
        EXPECT_TRUE(ReadAudioFile(MusicPath(), decoded, error)) << error;
        return decoded;
    }
    std::string MusicPath() const { return m_Folder / "music.wav"; }
    std::string Sink() const { return m_Folder / "device.raw"; }

    ProcessResult Run(std::vector<std::string> args, std::vector<std::string> environment)
    {
        return FinishProgram(Start(std::move(args), std::move(environment)), m_Folder.Path());
    }
    // With SDL's dummy video driver unless `environment` names another.
    pid_t Start(std::vector<std::string> args, std::vector<std::string> environment)
    {
        args.insert(args.begin(), {VELMORA_PLAYER_EXE, "--drive-c", m_Folder / "drive_c"});
        environment.insert(environment.begin(), "SDL_VIDEODRIVER=dummy");
        environment.push_back("SDL_DISKAUDIOFILE=" + Sink());
        return StartProgram(args, m_Folder.Path(), environment);
    }
    std::string LogPath() const { return m_Folder / "drive_c/winamplog.txt"; }

    // Runs with a window and the disk audio driver; `delayMs` is how long the
    // device takes for a block (SDL's default is the block's own length).
    ProcessResult RunLive(std::vector<std::string> args, int delayMs = -1)
    {
        args.insert(args.begin(), "--window");
        std::vector<std::string> environment = {"SDL_AUDIODRIVER=disk"};
        if (delayMs >= 0)
            environment.push_back("SDL_DISKAUDIODELAY=" + std::to_string(delayMs));
        return Run(args, environment);
    }

    static int FramesRendered(const ProcessResult& run)
    {
        int frames = -1;
        const size_t at = run.out.find("velmora-player: ");
        if (at != std::string::npos)
            sscanf(run.out.c_str() + at, "velmora-player: %d frames rendered", &frames);
        return frames;
    }

    // What the device played: the music from its first block on.
    std::vector<int16_t> Played() const
    {
        const std::string bytes = ReadFile(Sink());
        std::vector<int16_t> samples(bytes.size() / sizeof(int16_t));
        memcpy(samples.data(), bytes.data(), samples.size() * sizeof(int16_t));
        return samples;
    }

    static bool NoWindow(const ProcessResult& run)
    {
        return run.err.find("playing without a window") != std::string::npos;
    }

    TempFolder m_Folder;
};

#define SKIP_WITHOUT_WINDOW(run)                                                                                       \
    if (NoWindow(run))                                                                                                 \
    GTEST_SKIP() << "no window could be opened: " << (run).err

} // namespace

TEST_F(LivePlayer, DevicePlaysTheDecodedMusicLooped)
{
    const PcmAudio decoded = WriteMusic(Music(22050, 1, 5000)); // about a quarter of a second
    ProcessResult run = RunLive({"--audio", MusicPath(), "--loop", "--frames", "30"});
    SKIP_WITHOUT_WINDOW(run);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(FramesRendered(run), 30);

    const std::vector<int16_t> heard = Played();
    ASSERT_GT(heard.size(), 2u * 5000u) << "the loop was not reached";
    for (size_t i = 0; i < heard.size(); ++i)
        ASSERT_EQ(heard[i], decoded.samples[i % 5000]) << i;
}

TEST_F(LivePlayer, PositionFollowsTheDeviceNotTheFrames)
{
    // One second of music without --loop: the run ends when the device has
    // played it. A device four times faster than real time ends it early ...
    const PcmAudio decoded = WriteMusic(Music(22050, 2, 22050));
    ProcessResult fast = RunLive({"--audio", MusicPath(), "--frames", "400"}, 5);
    SKIP_WITHOUT_WINDOW(fast);
    ASSERT_EQ(fast.status, 0) << fast.err;
    EXPECT_GT(FramesRendered(fast), 0);
    EXPECT_LT(FramesRendered(fast), 30) << "the picture did not follow the device";
    const std::vector<int16_t> heard = Played();
    ASSERT_GE(heard.size(), decoded.samples.size());
    EXPECT_TRUE(std::equal(decoded.samples.begin(), decoded.samples.end(), heard.begin()));
    // ... and after the music the device hears silence until the run ends.
    EXPECT_TRUE(std::all_of(heard.begin() + decoded.samples.size(), heard.end(), [](int16_t s) { return s == 0; }));

    // A device far slower than real time has not played a quarter of a second
    // in 16 frames of 25 ms, so the run goes on past the music's length in frames.
    WriteMusic(Music(22050, 2, 5512));
    ProcessResult slow = RunLive({"--audio", MusicPath(), "--frames", "16"}, 600);
    ASSERT_EQ(slow.status, 0) << slow.err;
    EXPECT_EQ(FramesRendered(slow), 16);
}

TEST_F(LivePlayer, MuteSendsSilenceAndKeepsTheClock)
{
    WriteMusic(Music(22050, 1, 22050));
    ProcessResult run = RunLive({"--audio", MusicPath(), "--mute", "--frames", "400"}, 5);
    SKIP_WITHOUT_WINDOW(run);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_LT(FramesRendered(run), 30); // the device's clock still ends the music
    const std::string played = ReadFile(Sink());
    EXPECT_GE(played.size(), 22050u * sizeof(int16_t));
    EXPECT_EQ(played.find_first_not_of('\0'), std::string::npos);
}

TEST_F(LivePlayer, WithoutAnAudioDeviceTheWindowRunsSilently)
{
    ProcessResult run = Run({"--window", "--frames", "10"}, {"SDL_AUDIODRIVER=no-such-driver"});
    SKIP_WITHOUT_WINDOW(run);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(FramesRendered(run), 10);
    const std::vector<std::string> lines = SplitLines(run.err);
    ASSERT_EQ(lines.size(), 1u) << run.err;
    EXPECT_EQ(lines[0].rfind("velmora-player: no audio device (", 0), 0u) << lines[0];
    EXPECT_NE(lines[0].find("; the music is silent"), std::string::npos) << lines[0];
}

TEST_F(LivePlayer, HeadlessRunsStaySilent)
{
    ProcessResult run = Run({"--frames", "5"}, {"SDL_AUDIODRIVER=disk"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_FALSE(FileExists(Sink()));
}

TEST_F(LivePlayer, RatesThatNoDevicePlaysAreRefusedBeforeTheModuleLoads)
{
    // A device's block is at least 256 frames: at 20 Hz closing it would wait 13 s.
    for (int rate : {1, 20, 7999})
    {
        WriteMusic(Music(rate, 1, 40));
        ProcessResult run = RunLive({"--audio", MusicPath(), "--frames", "5"});
        EXPECT_EQ(run.status, 1) << rate;
        EXPECT_EQ(run.err, "velmora-player: " + MusicPath() + ": " + std::to_string(rate) +
                               " Hz is a sample rate that no audio device plays (8000 to 384000 Hz)\n");
        EXPECT_FALSE(FileExists(LogPath()));
        EXPECT_FALSE(FileExists(Sink()));
    }
    // Headless runs play nothing, so any rate is analysed.
    ProcessResult headless = Run({"--audio", MusicPath(), "--frames", "3"}, {});
    EXPECT_EQ(headless.status, 0) << headless.err;
}

TEST_F(LivePlayer, SignalsEndAWindowRunPromptly)
{
    for (int number : {SIGTERM, SIGINT})
    {
        WriteMusic(Music(22050, 2, 22050));
        unlink(LogPath().c_str()); // the last run's
        pid_t pid = Start({"--window", "--audio", MusicPath(), "--loop"}, {"SDL_AUDIODRIVER=disk"});
        ASSERT_TRUE(WaitForFileText(LogPath(), "====[INIT MODULE Tab End]====", 60.0));
        usleep(200000); // into the frames, the music playing
        kill(pid, number);
        ProcessResult run = FinishProgramWithin(pid, m_Folder.Path(), 5.0);
        ASSERT_FALSE(run.late) << "signal " << number << " did not end the run";
        if (NoWindow(run))
            GTEST_SKIP() << "no window could be opened: " << run.err;
        EXPECT_EQ(run.signal, number) << run.err;
        EXPECT_GT(FramesRendered(run), 0);
        EXPECT_NE(ReadFile(LogPath()).find("\t\tquit\n"), std::string::npos) << "Quit did not run";
        EXPECT_FALSE(Played().empty());
    }
}

TEST_F(LivePlayer, AWindowDestroyedByAnotherProgramEndsTheRunAsAClose)
{
    testing_support::Xvfb server;
    if (server.Display().empty())
        GTEST_SKIP() << "no Xvfb to show a window on";
    WriteMusic(Music(22050, 2, 22050));
    pid_t pid = Start({"--window", "--audio", MusicPath(), "--loop"},
                      {"SDL_VIDEODRIVER=x11", "DISPLAY=" + server.Display(), "WAYLAND_DISPLAY", "SDL_AUDIODRIVER=disk"});
    ::Display* display = XOpenDisplay(server.Display().c_str());
    ASSERT_NE(display, nullptr);
    const Window window = testing_support::FindTopLevelWindow(display, "Velmora", 60.0);
    if (!window)
    {
        XCloseDisplay(display);
        kill(pid, SIGKILL);
        FAIL() << "no window appeared: " << FinishProgram(pid, m_Folder.Path()).err;
    }
    ASSERT_TRUE(WaitForFileText(LogPath(), "====[INIT MODULE Tab End]====", 60.0));
    usleep(300000); // into the frames, the music playing
    // As `xdotool windowclose` does.
    XDestroyWindow(display, window);
    XSync(display, False);
    XCloseDisplay(display);

    ProcessResult run = FinishProgramWithin(pid, m_Folder.Path(), 10.0);
    ASSERT_FALSE(run.late) << "the run went on without its window";
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_GT(FramesRendered(run), 0) << run.out;
    const std::string log = ReadFile(LogPath());
    EXPECT_NE(log.find("\t\tquit\n"), std::string::npos) << "Quit did not run";
    EXPECT_EQ(log.substr(log.size() - std::min(log.size(), std::string("========[LOG END]========\n").size())),
              "========[LOG END]========\n");
    EXPECT_FALSE(Played().empty());
}
