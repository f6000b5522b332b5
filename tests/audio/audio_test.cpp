#include <gtest/gtest.h>

#include "audio_clock.h"
#include "audio_playback.h"
#include "decoded_music.h"
#include "music_analysis.h"
#include "pcm_audio.h"
#include "test_support.h"

#include <SDL.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>
#include <vector>

using namespace testing_support;

namespace {

const double kPi = 3.14159265358979323846;

// Noise, so that any shifted or dropped sample shows.
PcmAudio Noise(int rate, int channels, int64_t frames, uint32_t seed)
{
    PcmAudio audio;
    audio.sampleRate = rate;
    audio.channels = channels;
    for (int64_t i = 0; i < frames * channels; ++i)
    {
        seed = seed * 1664525u + 1013904223u;
        audio.samples.push_back(static_cast<int16_t>(seed >> 16));
    }
    return audio;
}

Music Decoded(const TempFolder& folder, const PcmAudio& audio, bool loop, PcmAudio& decoded)
{
    std::string error;
    const std::string path = folder / "music.wav";
    EXPECT_TRUE(WriteWavFile(path, audio, error)) << error;
    EXPECT_TRUE(ReadAudioFile(path, decoded, error)) << error;
    Music music;
    EXPECT_TRUE(LoadMusic(path, loop, music, error)) << error;
    return music;
}

// Pulls `frames` 16-bit frames of music from the feed in blocks of `block` frames.
std::vector<int16_t> Pull(MusicFeed& feed, int channels, int64_t frames, int block)
{
    std::vector<int16_t> out(static_cast<size_t>(frames * channels));
    for (int64_t done = 0; done < frames; done += block)
    {
        const int64_t count = std::min<int64_t>(block, frames - done);
        uint8_t* to = reinterpret_cast<uint8_t*>(&out[static_cast<size_t>(done * channels)]);
        const int bytes = static_cast<int>(count * channels * sizeof(int16_t));
        // Faster than a device: where the decoder is behind, wait for it.
        for (int got = 0; got < bytes; got += feed.Fill(to + got, bytes - got))
            std::this_thread::yield();
    }
    return out;
}

} // namespace

TEST(AudioClock, FollowsTheBlocksHandedAndTheTimeBetween)
{
    AudioClock clock(1000);
    EXPECT_EQ(clock.PositionMs(5.0), 0.0); // nothing handed yet
    clock.Handed(100, 10.0);
    EXPECT_EQ(clock.PositionMs(9.0), 0.0);
    EXPECT_DOUBLE_EQ(clock.PositionMs(10.0), 0.0);
    EXPECT_NEAR(clock.PositionMs(10.04), 40.0, 1e-9);
    // Never past what was handed, however long the next block takes.
    EXPECT_DOUBLE_EQ(clock.PositionMs(10.5), 100.0);
    clock.Handed(100, 10.6);
    EXPECT_DOUBLE_EQ(clock.PositionMs(10.6), 100.0);
    EXPECT_NEAR(clock.PositionMs(10.65), 150.0, 1e-9);
    EXPECT_EQ(clock.FramesHanded(), 200);

    // Blocks come late and early; the position never runs back.
    AudioClock jittery(44100);
    double last = 0.0;
    double t = 0.0;
    for (int block = 0; block < 200; ++block)
    {
        const double next = block * 1024.0 / 44100.0 + ((block * 7) % 5) * 0.002;
        for (; t < next; t += 0.0013)
        {
            const double position = jittery.PositionMs(t);
            ASSERT_GE(position, last) << t;
            last = position;
        }
        jittery.Handed(1024, next);
    }
}

TEST(AudioClock, ASlowFrameMovesThePositionByTheTimeThatPassed)
{
    // A device taking 1024 frames at 44.1 kHz, its callback up to 4 ms late.
    const int rate = 44100;
    const double block = 1024.0 / rate;
    AudioClock clock(rate);
    int handed = 0;
    auto runDevice = [&](double until) {
        for (; handed * block <= until; ++handed)
            clock.Handed(1024, handed * block + (handed % 3) * 0.002);
    };

    // 25 ms frames, one of which takes 130 ms.
    const double steps[] = {0.025, 0.025, 0.130, 0.025, 0.025};
    double now = 0.5;
    runDevice(now);
    double before = clock.PositionMs(now);
    for (double step : steps)
    {
        now += step;
        runDevice(now);
        const double after = clock.PositionMs(now);
        EXPECT_NEAR(after - before, step * 1000.0, block * 1000.0) << step;
        EXPECT_NEAR(after, now * 1000.0, block * 1000.0);
        before = after;
    }
}

TEST(MusicFeed, LoopsWhereTheAnalysisLoops)
{
    TempFolder folder;
    PcmAudio decoded;
    const Music music = Decoded(folder, Noise(22050, 1, 1000, 3), true, decoded);
    MusicFeed feed(music, AUDIO_S16SYS, 1, 22050);
    const std::vector<int16_t> played = Pull(feed, 1, 3500, 333);
    for (size_t i = 0; i < played.size(); ++i)
        ASSERT_EQ(played[i], decoded.samples[i % 1000]) << i;

    // The built-in music loops without being asked, as its analysis does.
    Music builtIn;
    std::string error;
    ASSERT_TRUE(LoadMusic("", false, builtIn, error));
    EXPECT_TRUE(builtIn.loop);
    const PcmAudio synthMusic = MakeSynthMusic();
    const int64_t frames = synthMusic.Frames();
    MusicFeed synth(builtIn, AUDIO_S16SYS, synthMusic.channels, synthMusic.sampleRate);
    const int channels = synthMusic.channels;
    const std::vector<int16_t> twice = Pull(synth, channels, frames + 4096, 4096);
    EXPECT_TRUE(std::equal(twice.begin(), twice.begin() + frames * channels, synthMusic.samples.begin()));
    EXPECT_TRUE(std::equal(twice.begin() + frames * channels, twice.end(), synthMusic.samples.begin()));
}

TEST(MusicFeed, ConvertsToTheDevicesRateAndChannels)
{
    // One second of a 441 Hz sine at half scale, mono 22.05 kHz, for a stereo float device at 48 kHz.
    PcmAudio tone;
    tone.sampleRate = 22050;
    tone.channels = 1;
    for (int n = 0; n < 22050; ++n)
        tone.samples.push_back(static_cast<int16_t>(std::lround(16384.0 * std::sin(2.0 * kPi * 441.0 * n / 22050))));
    Music music;
    music.stream = std::make_shared<MusicStream>(MemoryMusic(std::make_shared<const PcmAudio>(tone)), false);
    MusicFeed feed(music, AUDIO_F32SYS, 2, 48000);
    std::string error;
    ASSERT_TRUE(feed.Valid(error)) << error;
    std::vector<float> out(2 * 60000);
    uint8_t* to = reinterpret_cast<uint8_t*>(out.data());
    const int bytes = static_cast<int>(out.size() * sizeof(float));
    for (int got = 0; got < bytes; got += feed.Fill(to + got, bytes - got))
        std::this_thread::yield();

    int last = 0; // last frame with sound
    int crossings = 0;
    float peak = 0.0f;
    for (int i = 0; i < 60000; ++i)
    {
        ASSERT_EQ(out[2 * i], out[2 * i + 1]) << i;
        if (std::fabs(out[2 * i]) > 1e-3f)
            last = i;
        if (i > 1000 && i < 47000)
        {
            if ((out[2 * i - 2] < 0.0f) != (out[2 * i] < 0.0f))
                ++crossings;
            peak = std::max(peak, std::fabs(out[2 * i]));
        }
    }
    // One second at the device's rate, the same pitch and level.
    EXPECT_NEAR(last, 48000, 50);
    EXPECT_NEAR(crossings, 882 * 46000 / 48000, 3);
    EXPECT_NEAR(peak, 0.5f, 0.01f);
}

TEST(AudioPlayback, WithoutADeviceTheClockIsTheRealOne)
{
    setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
    TempFolder folder;
    PcmAudio decoded;
    const Music music = Decoded(folder, Noise(22050, 1, 22050, 5), false, decoded);
    AudioPlayback playback;
    std::string error;
    EXPECT_EQ(playback.PositionMs(), 0.0);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(playback.Start(music, false, error));
    EXPECT_FALSE(playback.HasDevice());
    EXPECT_EQ(error.rfind("no audio device (", 0), 0u) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos);
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    const double position = playback.PositionMs();
    const double elapsed = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GE(position, 40.0);
    EXPECT_LE(position, elapsed);
    playback.Stop();
    EXPECT_EQ(playback.PositionMs(), playback.PositionMs()); // stopped
    unsetenv("SDL_AUDIODRIVER");
}

TEST(AudioPlayback, DeviceHearsTheMusicAndStopsAtOnce)
{
    TempFolder folder;
    const std::string sink = folder / "device.raw";
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", sink.c_str(), 1);
    PcmAudio decoded;
    const Music music = Decoded(folder, Noise(22050, 2, 22050, 9), false, decoded);
    AudioPlayback playback;
    std::string error;
    ASSERT_TRUE(playback.Start(music, false, error)) << error;
    EXPECT_TRUE(playback.HasDevice());
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_GT(playback.PositionMs(), 0.0);
    playback.Stop();
    const double stoppedAt = playback.PositionMs();
    const std::string played = ReadFile(sink);
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    EXPECT_EQ(ReadFile(sink).size(), played.size()); // nothing after Stop
    EXPECT_EQ(playback.PositionMs(), stoppedAt);

    // The device's first block is the music's first.
    const size_t heard = played.size();
    ASSERT_GT(heard, 0u);
    ASSERT_LE(heard, decoded.samples.size() * sizeof(int16_t));
    EXPECT_EQ(memcmp(played.data(), decoded.samples.data(), heard), 0);
    // The clock counts no more than the device was handed.
    EXPECT_LE(stoppedAt, heard / 4 * 1000.0 / 22050 + 1e-9);
    unsetenv("SDL_AUDIODRIVER");
    unsetenv("SDL_DISKAUDIOFILE");
}

TEST(AudioPlayback, TheFirstBlockPlayedIsTheFirstBlockOfMusic)
{
    // The device's thread starts inside the open; a block of silence handed
    // over before the device is started would be heard ahead of the music.
    TempFolder folder;
    const std::string sink = folder / "device.raw";
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", sink.c_str(), 1);
    setenv("SDL_DISKAUDIODELAY", "1", 1);
    PcmAudio decoded;
    const Music music = Decoded(folder, Noise(44100, 2, 4096, 13), true, decoded);
    ASSERT_NE(decoded.samples[0], 0);
    for (int run = 0; run < 20; ++run)
    {
        AudioPlayback playback;
        std::string error;
        ASSERT_TRUE(playback.Start(music, false, error)) << error;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        playback.Stop();
        const std::string played = ReadFile(sink);
        ASSERT_GE(played.size(), sizeof(int16_t)) << "run " << run;
        int16_t first = 0;
        memcpy(&first, played.data(), sizeof(first));
        EXPECT_EQ(first, decoded.samples[0]) << "run " << run << ": the device began with silence";
    }
    unsetenv("SDL_AUDIODRIVER");
    unsetenv("SDL_DISKAUDIOFILE");
    unsetenv("SDL_DISKAUDIODELAY");
}

TEST(AudioPlayback, RatesThatNoDevicePlaysAreRefused)
{
    EXPECT_FALSE(DevicePlaysRate(1));
    EXPECT_FALSE(DevicePlaysRate(7999));
    EXPECT_TRUE(DevicePlaysRate(8000));
    EXPECT_TRUE(DevicePlaysRate(44100));
    EXPECT_TRUE(DevicePlaysRate(384000));
    EXPECT_FALSE(DevicePlaysRate(384001));

    // A 20 Hz file would take a device 13 s a block: refused before any device opens.
    TempFolder folder;
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", (folder / "device.raw").c_str(), 1);
    PcmAudio decoded;
    const Music music = Decoded(folder, Noise(20, 1, 40, 3), false, decoded);
    AudioPlayback playback;
    std::string error;
    EXPECT_FALSE(playback.Start(music, false, error));
    EXPECT_FALSE(playback.HasDevice());
    EXPECT_EQ(error, "no audio device plays 20 Hz");
    EXPECT_FALSE(FileExists(folder / "device.raw"));
    unsetenv("SDL_AUDIODRIVER");
    unsetenv("SDL_DISKAUDIOFILE");
}
