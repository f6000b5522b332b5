// The music's formats, as the audio device and the analysis get them, and
// the stream that decodes them ahead of the play position.
#include <gtest/gtest.h>

#include "audio_playback.h"
#include "decoded_music.h"
#include "music_analysis.h"
#include "music_stream.h"
#include "peak_memory.h"
#include "test_support.h"

#include <SDL.h>
#include <sndfile.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>
#include <vector>

using namespace testing_support;

namespace {

const double kPi = 3.14159265358979323846;

struct FileKind
{
    const char* name;
    int format;
    int bits; // significant bits of the samples written
};

const FileKind kKinds[] = {
    {"wav-u8", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 8},   {"wav-16", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 16},
    {"wav-24", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 24},  {"wav-32", SF_FORMAT_WAV | SF_FORMAT_PCM_32, 32},
    {"wav-float", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 24}, {"wav-double", SF_FORMAT_WAV | SF_FORMAT_DOUBLE, 32},
    {"flac-16", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 16}, {"flac-24", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 24},
};

// Noise at up to 0.7 of full scale as 32-bit samples, the bits below `bits` clear.
std::vector<int32_t> Noise(int64_t samples, int bits, uint32_t seed)
{
    std::vector<int32_t> values(static_cast<size_t>(samples));
    const uint32_t keep = bits >= 32 ? 0xFFFFFFFFu : ~((1u << (32 - bits)) - 1u);
    for (int32_t& value : values)
    {
        seed = seed * 1664525u + 1013904223u;
        const double x = (static_cast<double>(seed) / 4294967296.0 - 0.5) * 1.4;
        value = static_cast<int32_t>(static_cast<uint32_t>(static_cast<int32_t>(x * 2147483647.0)) & keep);
    }
    return values;
}

SNDFILE* Create(const std::string& path, int format, int rate, int channels)
{
    SF_INFO info = {};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    EXPECT_TRUE(file) << path << ": " << sf_strerror(nullptr);
    // Past full scale too: as an encoder given a master louder than full scale keeps it.
    if (file)
        sf_command(file, SFC_SET_CLIPPING, nullptr, SF_FALSE);
    return file;
}

void WriteDoubles(const std::string& path, int format, int rate, int channels, const std::vector<double>& values)
{
    SNDFILE* file = Create(path, format, rate, channels);
    ASSERT_TRUE(file);
    const sf_count_t frames = static_cast<sf_count_t>(values.size()) / channels;
    EXPECT_EQ(sf_writef_double(file, values.data(), frames), frames);
    sf_close(file);
}

// Writes 32-bit samples, which every format keeps as far as its bits go
// (float files as -1..1).
void WriteFile(const std::string& path, int format, int rate, int channels, const std::vector<int32_t>& values)
{
    const int subtype = format & SF_FORMAT_SUBMASK;
    if (subtype == SF_FORMAT_FLOAT || subtype == SF_FORMAT_DOUBLE || subtype == SF_FORMAT_VORBIS)
    {
        std::vector<double> scaled(values.size());
        for (size_t i = 0; i < values.size(); ++i)
            scaled[i] = values[i] / 2147483648.0;
        WriteDoubles(path, format, rate, channels, scaled);
        return;
    }
    SNDFILE* file = Create(path, format, rate, channels);
    ASSERT_TRUE(file);
    const sf_count_t frames = static_cast<sf_count_t>(values.size()) / channels;
    EXPECT_EQ(sf_writef_int(file, values.data(), frames), frames);
    sf_close(file);
}

// The file as doubles, without clipping: what the codec gives.
std::vector<double> ReadDoubles(const std::string& path)
{
    SF_INFO info = {};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    EXPECT_TRUE(file) << path;
    if (!file)
        return {};
    std::vector<double> values(static_cast<size_t>(info.frames * info.channels));
    values.resize(static_cast<size_t>(sf_readf_double(file, values.data(), info.frames) * info.channels));
    sf_close(file);
    return values;
}

Music Open(const std::string& path, bool loop)
{
    Music music;
    std::string error;
    EXPECT_TRUE(LoadMusic(path, loop, music, error)) << error;
    return music;
}

Music InMemory(std::unique_ptr<MusicDecoder> decoder, bool loop)
{
    Music music;
    music.stream = std::make_shared<MusicStream>(std::move(decoder), loop);
    music.loop = loop;
    return music;
}

std::vector<float> ReadFrames(MusicStream& stream, int64_t first, int64_t count)
{
    std::vector<float> out(static_cast<size_t>(count * stream.Channels()));
    stream.Read(first, count, out.data());
    return out;
}

// Pulls 16-bit frames from the feed; returns the bytes that carried music.
int PullInto(MusicFeed& feed, std::vector<int16_t>& out)
{
    return feed.Fill(reinterpret_cast<uint8_t*>(out.data()), static_cast<int>(out.size() * sizeof(int16_t)));
}

// Pulls music until `out` is full, waiting for the decoder where it is behind.
void PullMusic(MusicFeed& feed, std::vector<int16_t>& out)
{
    uint8_t* to = reinterpret_cast<uint8_t*>(out.data());
    const int bytes = static_cast<int>(out.size() * sizeof(int16_t));
    for (int got = 0; got < bytes; got += feed.Fill(to + got, bytes - got))
        std::this_thread::yield();
}

const int64_t kOpenGate = INT64_MAX / 2;

// A decoder that gives only as many frames as the test lets it: a disk or a
// machine too slow for the music.
class GatedDecoder : public MusicDecoder
{
public:
    GatedDecoder(std::unique_ptr<MusicDecoder> inner, std::shared_ptr<std::atomic<int64_t>> allowed)
        : m_Inner(std::move(inner)), m_Allowed(std::move(allowed))
    {
    }
    int SampleRate() const override { return m_Inner->SampleRate(); }
    int Channels() const override { return m_Inner->Channels(); }
    int64_t Frames() const override { return m_Inner->Frames(); }
    int64_t Read(float* out, int64_t count) override
    {
        while (m_Given >= *m_Allowed)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        const int64_t got = m_Inner->Read(out, std::min(count, *m_Allowed - m_Given));
        m_Given += std::max<int64_t>(got, 0);
        return got;
    }
    bool Seek(int64_t frame) override { return m_Inner->Seek(frame); }

private:
    std::unique_ptr<MusicDecoder> m_Inner;
    std::shared_ptr<std::atomic<int64_t>> m_Allowed;
    int64_t m_Given = 0;
};

size_t SinkBytes(const std::string& path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0 ? static_cast<size_t>(info.st_size) : 0;
}

PcmAudio Pcm(int rate, int channels, const std::vector<int32_t>& values)
{
    PcmAudio audio;
    audio.sampleRate = rate;
    audio.channels = channels;
    for (int32_t value : values)
        audio.samples.push_back(static_cast<int16_t>(value >> 16));
    return audio;
}

} // namespace

TEST(MusicFormats, SamplesSaturateAndSixteenBitsStayExact)
{
    for (int value = -32768; value <= 32767; ++value)
        ASSERT_EQ(ToPcm16(value / 32768.0f), value);
    EXPECT_EQ(ToPcm16(1.0f), 32767);
    EXPECT_EQ(ToPcm16(1.3f), 32767);
    EXPECT_EQ(ToPcm16(1e30f), 32767);
    EXPECT_EQ(ToPcm16(-1.0f), -32768);
    EXPECT_EQ(ToPcm16(-7.0f), -32768);
    EXPECT_EQ(ToPcm16(std::nanf("")), 0);
    EXPECT_EQ(ToPcm16(INFINITY), 32767);
    EXPECT_EQ(ToPcm16(-INFINITY), -32768);
    EXPECT_EQ(ClipSample(std::nanf("")), 0.0f);
    EXPECT_EQ(ClipSample(-1.5f), -1.0f);
    EXPECT_EQ(ClipSample(0.25f), 0.25f);
}

TEST(MusicFormats, TheDevicePlaysEveryFormatAsItsReferenceDecode)
{
    // A tenth of a second of stereo noise in each format, played through SDL's
    // disk driver; the reference is the samples written, cut to 16 bits.
    const int rate = 22050;
    const int64_t frames = 2205;
    for (const FileKind& kind : kKinds)
    {
        TempFolder folder;
        const std::string path = folder / (std::string("music.") + ((kind.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_FLAC ? "flac" : "wav"));
        const std::vector<int32_t> written = Noise(frames * 2, kind.bits, 21);
        WriteFile(path, kind.format, rate, 2, written);
        const std::string sink = folder / "device.raw";
        setenv("SDL_AUDIODRIVER", "disk", 1);
        setenv("SDL_DISKAUDIOFILE", sink.c_str(), 1);
        setenv("SDL_DISKAUDIODELAY", "1", 1);
        const Music music = Open(path, false);
        ASSERT_TRUE(music.stream) << kind.name;
        AudioPlayback playback;
        std::string error;
        ASSERT_TRUE(playback.Start(music, false, error)) << kind.name << ": " << error;
        const size_t wanted = static_cast<size_t>(frames * 2) * sizeof(int16_t);
        for (int waited = 0; waited < 5000 && SinkBytes(sink) < wanted + 16384; ++waited)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        playback.Stop();
        unsetenv("SDL_AUDIODRIVER");
        unsetenv("SDL_DISKAUDIOFILE");
        unsetenv("SDL_DISKAUDIODELAY");

        // A block of silence the device may play before the music's first
        // (a busy machine) is not the format's doing.
        std::string played = ReadFile(sink);
        ASSERT_NE(written[0] >> 16, 0);
        size_t lead = 0;
        while (lead + 1 < played.size() && (played[lead] | played[lead + 1]) == 0)
            lead += 2;
        played.erase(0, lead);
        ASSERT_GE(played.size(), wanted) << kind.name;
        std::vector<int16_t> heard(written.size());
        memcpy(heard.data(), played.data(), wanted);
        // Formats of 16 bits or fewer are exact; deeper ones round to the nearest.
        const int tolerance = kind.bits > 16 ? 1 : 0;
        int worst = 0;
        for (size_t i = 0; i < written.size(); ++i)
            worst = std::max(worst, std::abs(heard[i] - (written[i] >> 16)));
        EXPECT_LE(worst, tolerance) << kind.name;
        // The ends of the music come after it, as silence.
        for (size_t i = wanted; i + 1 < played.size(); i += 2)
            ASSERT_EQ(played[i] | played[i + 1], 0) << kind.name << " byte " << i;
    }
}

TEST(MusicFormats, TheAnalysisSeesTheSameMusicInEveryContainer)
{
    // The same 16-bit music in every container but 8-bit: the same spectrum
    // and waveform, frame by frame.
    const int rate = 44100;
    std::vector<int32_t> values;
    for (int n = 0; n < rate / 2; ++n)
    {
        const double left = 0.6 * std::sin(2.0 * kPi * 440.0 * n / rate) + 0.2 * std::sin(2.0 * kPi * 5000.0 * n / rate);
        const double right = 0.4 * std::sin(2.0 * kPi * 90.0 * n / rate);
        values.push_back(static_cast<int32_t>(std::lround(left * 32767.0)) * 65536);
        values.push_back(static_cast<int32_t>(std::lround(right * 32767.0)) * 65536);
    }
    TempFolder folder;
    const std::string reference = folder / "reference.wav";
    WriteFile(reference, SF_FORMAT_WAV | SF_FORMAT_PCM_16, rate, 2, values);
    std::unique_ptr<SpectrumSource> expected = MakeSpectrumSource(Open(reference, false));
    std::vector<std::unique_ptr<SpectrumSource>> sources;
    std::vector<std::string> names;
    for (const FileKind& kind : kKinds)
    {
        if (kind.bits < 16)
            continue;
        const std::string path = folder / (std::string(kind.name) + ((kind.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_FLAC ? ".flac" : ".wav"));
        WriteFile(path, kind.format, rate, 2, values);
        sources.push_back(MakeSpectrumSource(Open(path, false)));
        names.push_back(kind.name);
    }
    for (double ms = 0.0; ms < 500.0; ms += 25.0)
    {
        unsigned char spectrum[2][576], waveform[2][576];
        ASSERT_TRUE(expected->Fill(ms, spectrum, waveform));
        ASSERT_GT(*std::max_element(spectrum[0], spectrum[0] + 576), 200) << "the music is heard";
        for (size_t i = 0; i < sources.size(); ++i)
        {
            unsigned char otherSpectrum[2][576], otherWaveform[2][576];
            ASSERT_TRUE(sources[i]->Fill(ms, otherSpectrum, otherWaveform)) << names[i];
            EXPECT_EQ(memcmp(spectrum, otherSpectrum, sizeof(spectrum)), 0) << names[i] << " at " << ms << " ms";
            EXPECT_EQ(memcmp(waveform, otherWaveform, sizeof(waveform)), 0) << names[i] << " at " << ms << " ms";
        }
    }
}

TEST(MusicFormats, ALoudVorbisFileClipsAndNeverFlipsSign)
{
    // Two sines at -0.05 dBFS: Vorbis gives peaks a little past full scale.
    const int rate = 44100;
    std::vector<double> values;
    const double peak = std::pow(10.0, -0.05 / 20.0);
    for (int n = 0; n < rate; ++n)
    {
        const double v = 0.5 * peak * (std::sin(2.0 * kPi * 997.0 * n / rate) + std::sin(2.0 * kPi * 1499.0 * n / rate + 0.4));
        values.push_back(v);
        values.push_back(-v);
    }
    TempFolder folder;
    const std::string path = folder / "loud.ogg";
    WriteDoubles(path, SF_FORMAT_OGG | SF_FORMAT_VORBIS, rate, 2, values);
    const std::vector<double> codec = ReadDoubles(path);
    ASSERT_FALSE(codec.empty());
    int over = 0;
    for (double v : codec)
        over += std::fabs(v) > 1.0;
    ASSERT_GT(over, 0) << "the codec should overshoot full scale here";

    // What the device gets, and what a whole-file read gives.
    MusicFeed feed(Open(path, false), AUDIO_S16SYS, 2, rate);
    std::vector<int16_t> played(codec.size());
    PullMusic(feed, played);
    PcmAudio read;
    std::string error;
    ASSERT_TRUE(ReadAudioFile(path, read, error)) << error;
    ASSERT_EQ(read.samples.size(), codec.size());
    for (const std::vector<int16_t>* samples : {&played, &read.samples})
    {
        for (size_t i = 0; i < codec.size(); ++i)
        {
            const double expected = std::max(-32768.0, std::min(32767.0, codec[i] * 32768.0));
            ASSERT_LE(std::fabs((*samples)[i] - expected), 1.0) << "sample " << i << " of " << codec[i];
        }
    }
}

TEST(MusicStream, MemoryStaysFlatOverALongFile)
{
    // Ten minutes against a second: the same ring, the same memory, and the
    // decoder never further ahead than the ring holds.
    const int rate = 8000;
    TempFolder folder;
    const std::string shortPath = folder / "short.wav";
    const std::string longPath = folder / "long.wav";
    WriteFile(shortPath, SF_FORMAT_WAV | SF_FORMAT_PCM_16, rate, 1, Noise(rate, 16, 1));
    WriteFile(longPath, SF_FORMAT_WAV | SF_FORMAT_PCM_16, rate, 1, Noise(600 * rate, 16, 2));

    long long peaks[2] = {};
    int64_t rings[2] = {};
    const std::string paths[2] = {shortPath, longPath};
    for (int i = 0; i < 2; ++i)
    {
        PeakMemory memory;
        const bool measured = memory.Start();
        {
            const Music music = Open(paths[i], false);
            ASSERT_TRUE(music.stream);
            MusicStream& stream = *music.stream;
            rings[i] = stream.BufferFrames();
            std::vector<float> block(static_cast<size_t>(rate));
            int64_t at = 0;
            for (; !stream.EndedBy(at); at += rate)
            {
                stream.Read(at, rate, block.data());
                ASSERT_LE(stream.FramesDecoded(), at + rate + stream.BufferFrames()) << "at frame " << at;
            }
            EXPECT_EQ(at, (i == 0 ? 1 : 600) * rate);
            EXPECT_EQ(stream.Repositions(), 0);
        }
        peaks[i] = measured ? memory.Peak() : 0;
    }
    EXPECT_EQ(rings[0], rings[1]);
    EXPECT_LT(rings[1] * static_cast<int64_t>(sizeof(float)), 600 * rate * 2 / 10) << "a tenth of the file, 16-bit";
    // The whole file as floats would be 19 MB.
    EXPECT_LT(peaks[1], peaks[0] + 2 * 1024 * 1024) << peaks[0] << " then " << peaks[1];
}

TEST(MusicStream, LoopsBitExactAtTheSeamAndJumps)
{
    const int rate = 22050;
    const int64_t length = 10000;
    const std::vector<int32_t> values = Noise(length * 2, 16, 5);
    TempFolder folder;
    struct Case
    {
        const char* name;
        int format;
    };
    const Case cases[] = {{"music.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16},
                          {"music.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16},
                          {"music.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS}};
    for (const Case& c : cases)
    {
        const std::string path = folder / c.name;
        WriteFile(path, c.format, rate, 2, values);
        const Music music = Open(path, true);
        ASSERT_TRUE(music.stream) << c.name;
        MusicStream& stream = *music.stream;
        const std::vector<float> once = ReadFrames(stream, 0, length);
        // Three times round, read in odd blocks: each pass the same as the first.
        for (int64_t at = 0; at < 3 * length; at += 777)
        {
            const std::vector<float> block = ReadFrames(stream, at, 777);
            for (int64_t i = 0; i < 777 * 2; ++i)
                ASSERT_EQ(block[i], once[((at * 2 + i) % (length * 2))]) << c.name << " frame " << at + i / 2;
        }
        // Before the start is the music's end.
        const std::vector<float> before = ReadFrames(stream, -100, 100);
        EXPECT_TRUE(std::equal(before.begin(), before.end(), once.end() - 200)) << c.name;
        // A jump an hour on lands where the loop would be.
        const int64_t hour = 3600LL * rate + 123;
        const std::vector<float> later = ReadFrames(stream, hour, 500);
        for (int64_t i = 0; i < 500 * 2; ++i)
            ASSERT_EQ(later[i], once[(hour * 2 + i) % (length * 2)]) << c.name << " after the jump, " << i;
        EXPECT_GE(stream.Repositions(), 1) << c.name;
        EXPECT_LE(stream.FramesDecoded(), 4 * length + 2 * stream.BufferFrames()) << c.name;
    }
}

TEST(MusicStream, MusicThatDoesNotLoopEndsWhereItsFileEnds)
{
    const int rate = 8000;
    TempFolder folder;
    const std::string path = folder / "music.wav";
    const std::vector<int32_t> values = Noise(3000, 16, 8);
    WriteFile(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, rate, 1, values);
    const Music music = Open(path, false);
    MusicStream& stream = *music.stream;
    EXPECT_FALSE(stream.EndedBy(2999));
    EXPECT_TRUE(stream.EndedBy(3000));
    EXPECT_TRUE(stream.EndedBy(1000000));
    EXPECT_FALSE(stream.EndedBy(0)) << "after a jump past the end, back to the start";
    // Frames outside the music are silence.
    const std::vector<float> around = ReadFrames(stream, -10, 3020);
    for (int i = 0; i < 3020; ++i)
    {
        const float expected = i < 10 || i >= 3010 ? 0.0f : (values[i - 10] >> 16) / 32768.0f;
        ASSERT_EQ(around[i], expected) << i;
    }
    // The device takes the music in order to its end, and is then told it has ended.
    stream.StartDevice();
    std::vector<float> device(3004);
    int64_t taken = 0;
    for (int64_t got = 0; got >= 0; taken += got)
    {
        got = stream.Take(3004 - taken, device.data() + taken);
        if (got < 0)
            break;
        if (got == 0)
            std::this_thread::yield();
    }
    ASSERT_EQ(taken, 3000);
    for (int i = 0; i < 3000; ++i)
        ASSERT_EQ(device[i], (values[i] >> 16) / 32768.0f) << i;

    // A position that is not a number, or beyond any frame count, is not music.
    std::unique_ptr<SpectrumSource> source = MakeSpectrumSource(music);
    unsigned char spectrum[2][576], waveform[2][576];
    EXPECT_TRUE(source->Fill(100.0, spectrum, waveform));
    EXPECT_FALSE(source->Fill(std::nan(""), spectrum, waveform));
    EXPECT_FALSE(source->Fill(1e300, spectrum, waveform));
    EXPECT_FALSE(source->Fill(-INFINITY, spectrum, waveform));
}

TEST(MusicStream, ADecoderThatFallsBehindLosesNoSound)
{
    // The device gets silence while the decoder is behind, and the music goes
    // on from where it stopped; the feed says how much of a block was music.
    const int rate = 22050;
    auto audio = std::make_shared<const PcmAudio>(Pcm(rate, 2, Noise(20000 * 2, 16, 17)));
    auto allowed = std::make_shared<std::atomic<int64_t>>(6000);
    Music music = InMemory(std::unique_ptr<MusicDecoder>(new GatedDecoder(MemoryMusic(audio), allowed)), false);
    MusicFeed feed(music, AUDIO_S16SYS, 2, rate);

    std::vector<int16_t> heard;
    std::vector<int16_t> block(1000 * 2);
    int starved = 0;
    for (int turn = 0; turn < 40 && heard.size() < audio->samples.size(); ++turn)
    {
        const int bytes = PullInto(feed, block);
        ASSERT_EQ(bytes % 4, 0);
        heard.insert(heard.end(), block.begin(), block.begin() + bytes / 2);
        if (bytes < static_cast<int>(block.size() * 2))
        {
            ++starved;
            for (size_t i = static_cast<size_t>(bytes / 2); i < block.size(); ++i)
                ASSERT_EQ(block[i], 0) << "the rest of a starved block is silence";
            *allowed += 5000; // the decoder catches up a little
            music.stream->WaitFor(0, *allowed);
        }
    }
    *allowed = kOpenGate;
    EXPECT_GE(starved, 2);
    ASSERT_GE(heard.size(), audio->samples.size());
    EXPECT_TRUE(std::equal(audio->samples.begin(), audio->samples.end(), heard.begin())) << "nothing skipped or repeated";
}

TEST(AudioPlayback, ThePositionWaitsWhileTheDecoderIsBehind)
{
    TempFolder folder;
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", (folder / "device.raw").c_str(), 1);
    const int rate = 22050;
    auto audio = std::make_shared<const PcmAudio>(Pcm(rate, 2, Noise(rate * 2 * 2, 16, 3)));
    auto allowed = std::make_shared<std::atomic<int64_t>>(4096);
    Music music = InMemory(std::unique_ptr<MusicDecoder>(new GatedDecoder(MemoryMusic(audio), allowed)), false);
    AudioPlayback playback;
    std::string error;
    ASSERT_TRUE(playback.Start(music, false, error)) << error;
    // With only 4096 frames decoded the position comes to rest there (186 ms)
    // while the device plays silence; "within 5 s" only bounds a stuck wait.
    const double held = 4096 * 1000.0 / rate;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (playback.PositionMs() != held && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_EQ(playback.PositionMs(), held);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(playback.PositionMs(), held) << "the position waits for the music";
    *allowed = kOpenGate;
    while (playback.PositionMs() < held + 50.0 && std::chrono::steady_clock::now() < until + std::chrono::seconds(5))
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_GE(playback.PositionMs(), held + 50.0) << "the music goes on";
    playback.Stop();
    *allowed = kOpenGate;
    unsetenv("SDL_AUDIODRIVER");
    unsetenv("SDL_DISKAUDIOFILE");
}

TEST(HeadlessPlayer, StopsAtTheEndOfAFileThatDoesNotLoop)
{
    // Half a second of music at 25 ms a frame: 20 frames, however many were asked for.
    TempFolder folder;
    const std::string path = folder / "music.flac";
    WriteFile(path, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 44100, 2, Noise(22050 * 2, 16, 4));
    const std::string driveC = folder / "drive_c";
    ProcessResult once = RunProgram({VELMORA_PLAYER_EXE, "--drive-c", driveC, "--audio", path, "--frames", "60"}, folder.Path());
    EXPECT_EQ(once.status, 0) << once.err;
    EXPECT_NE(once.out.find("velmora-player: 20 frames rendered\n"), std::string::npos) << once.out;
    ProcessResult looped =
        RunProgram({VELMORA_PLAYER_EXE, "--drive-c", driveC, "--audio", path, "--loop", "--frames", "60"}, folder.Path());
    EXPECT_EQ(looped.status, 0) << looped.err;
    EXPECT_NE(looped.out.find("velmora-player: 60 frames rendered\n"), std::string::npos) << looped.out;

    const ProcessResult help = RunProgram({VELMORA_PLAYER_EXE, "--help"}, folder.Path());
    EXPECT_NE(help.out.find("headless too, stops at the end of the file"), std::string::npos) << help.out;
}
