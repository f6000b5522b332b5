// Music that goes wrong: files that break off or are cut short, decoders
// that fail, seeks that fail or land wrongly; looped play against a plain
// read from the start, at every seam and jump.
#include <gtest/gtest.h>

#include "music_analysis.h"
#include "music_stream.h"
#include "test_support.h"

#include <sndfile.h>
#include <unistd.h>

#include <mutex>
#include <vector>

using namespace testing_support;

namespace {

// Stereo noise at 22050 Hz, as doubles in -0.7..0.7.
std::vector<double> Noise(int64_t frames, uint32_t seed)
{
    std::vector<double> values(static_cast<size_t>(frames * 2));
    for (double& value : values)
    {
        seed = seed * 1664525u + 1013904223u;
        value = (static_cast<double>(seed) / 4294967296.0 - 0.5) * 1.4;
    }
    return values;
}

void WriteMusic(const std::string& path, int format, const std::vector<double>& values)
{
    SF_INFO info = {};
    info.samplerate = 22050;
    info.channels = 2;
    info.format = format;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_TRUE(file) << path << ": " << sf_strerror(nullptr);
    const sf_count_t frames = static_cast<sf_count_t>(values.size() / 2);
    EXPECT_EQ(sf_writef_double(file, values.data(), frames), frames);
    sf_close(file);
}

// Keeps the first `share` of the file's bytes, as a download that stopped.
void Cut(const std::string& path, double share)
{
    const std::string bytes = ReadFile(path);
    ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(bytes.size() * share)), 0);
}

// Everything a decoder gives from where it is, read straight on.
std::vector<float> ReadOn(MusicDecoder& decoder)
{
    std::vector<float> all;
    std::vector<float> block(static_cast<size_t>(1000 * decoder.Channels()));
    int64_t got = 0;
    while ((got = decoder.Read(block.data(), 1000)) > 0)
        all.insert(all.end(), block.begin(), block.begin() + got * decoder.Channels());
    return all;
}

// Music in memory that fails as a file can: a header that gives `header`
// frames (0: no length), frames that stop at `breakAt` with an error or as
// an end, no seeks at all, and a file that is gone after `opens` reopenings.
struct FaultyMusic
{
    std::vector<float> frames; // mono
    int64_t header = 0;
    int64_t breakAt = INT64_MAX;
    bool error = false;
    bool seeks = true;
    int opens = 1 << 30;
};

class FaultyDecoder : public MusicDecoder
{
public:
    explicit FaultyDecoder(std::shared_ptr<FaultyMusic> music) : m_Music(std::move(music)) {}
    int SampleRate() const override { return 8000; }
    int Channels() const override { return 1; }
    int64_t Frames() const override { return m_Music->header; }
    int64_t Read(float* out, int64_t count) override
    {
        const int64_t end = std::min<int64_t>(m_Music->breakAt, m_Music->frames.size());
        if (m_Next >= end)
            return m_Next >= m_Music->breakAt && m_Music->error ? -1 : 0;
        const int64_t got = std::min(count, end - m_Next);
        std::copy_n(&m_Music->frames[static_cast<size_t>(m_Next)], got, out);
        m_Next += got;
        return got;
    }
    bool Seek(int64_t frame) override
    {
        if (!m_Music->seeks || frame < 0 || frame > std::min<int64_t>(m_Music->breakAt, m_Music->frames.size()))
            return false;
        m_Next = frame;
        return true;
    }
    std::string Error() const override { return m_Music->error ? "the disk went away" : ""; }
    std::unique_ptr<MusicDecoder> Reopen() const override
    {
        if (--m_Music->opens < 0)
            return nullptr;
        return std::unique_ptr<MusicDecoder>(new FaultyDecoder(m_Music));
    }

private:
    std::shared_ptr<FaultyMusic> m_Music;
    int64_t m_Next = 0;
};

std::shared_ptr<FaultyMusic> Faulty(int64_t frames)
{
    auto music = std::make_shared<FaultyMusic>();
    for (double value : Noise((frames + 1) / 2, 9))
        music->frames.push_back(static_cast<float>(value));
    music->frames.resize(static_cast<size_t>(frames));
    return music;
}

// What the stream tells about the music, line by line.
struct Told
{
    std::mutex lock;
    std::vector<std::string> lines;
    MusicStream::Report Report()
    {
        return [this](const std::string& line) {
            std::lock_guard<std::mutex> guard(lock);
            lines.push_back(line);
        };
    }
    std::vector<std::string> Lines()
    {
        std::lock_guard<std::mutex> guard(lock);
        return lines;
    }
};

std::vector<float> ReadFrames(MusicStream& stream, int64_t first, int64_t count)
{
    std::vector<float> out(static_cast<size_t>(count * stream.Channels()));
    stream.Read(first, count, out.data());
    return out;
}

// Frames `first`.. of the stream against `once` (the music read straight
// through from its start) looped: the same, frame by frame.
void ExpectLooped(MusicStream& stream, const std::vector<float>& once, int64_t first, int64_t count, const std::string& what)
{
    const int channels = stream.Channels();
    const int64_t length = static_cast<int64_t>(once.size()) / channels;
    const std::vector<float> got = ReadFrames(stream, first, count);
    for (int64_t i = 0; i < count * channels; ++i)
    {
        const int64_t frame = ((first + i / channels) % length + length) % length;
        ASSERT_EQ(got[static_cast<size_t>(i)], once[static_cast<size_t>(frame * channels + i % channels)])
            << what << ": frame " << first + i / channels << " of play";
    }
}

// Three passes in odd blocks, the frames before the start, and jumps far on,
// back, into a later pass and back to the start.
void ExpectLoopedEverywhere(MusicStream& stream, const std::vector<float>& once, const std::string& what)
{
    const int64_t length = static_cast<int64_t>(once.size()) / stream.Channels();
    ASSERT_GT(length, 0) << what;
    for (int64_t at = 0; at < 3 * length; at += 777)
        ExpectLooped(stream, once, at, 777, what + ", in order");
    ExpectLooped(stream, once, -300, 300, what + ", before the start");
    const int64_t jumps[] = {3600LL * 22050 + 123, length / 3, 5 * length + length * 2 / 3, 7 * length - 10,
                             length - 700, 2 * length + 50, 0};
    for (int64_t jump : jumps)
        ExpectLooped(stream, once, jump, 1500, what + ", after a jump to " + std::to_string(jump));
}

} // namespace

TEST(LoopedMusic, PlaysBitExactWithAReadFromTheStartAtEverySeamAndJump)
{
    // Three seconds of noise: WAV, FLAC and Ogg, and FLAC and Ogg cut short
    // (their headers give more than they hold, and they break off).
    const std::vector<double> values = Noise(3 * 22050, 5);
    struct Case
    {
        const char* name;
        int format;
        bool cut;
    };
    const Case cases[] = {{"music.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, false},
                          {"music.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, false},
                          {"music.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, false},
                          {"cut.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, true},
                          {"cut.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, true}};
    TempFolder folder;
    for (const Case& c : cases)
    {
        const std::string path = folder / c.name;
        WriteMusic(path, c.format, values);
        if (c.cut)
            Cut(path, 0.6);
        std::string error;
        std::unique_ptr<MusicDecoder> plain = OpenMusicFile(path, error);
        ASSERT_TRUE(plain) << error;
        const std::vector<float> once = ReadOn(*plain);
        if (c.cut)
        {
            ASSERT_LT(once.size(), values.size()) << c.name << " should break off";
        }
        Told told;
        MusicStream stream(OpenMusicFile(path, error), true, told.Report());
        ExpectLoopedEverywhere(stream, once, c.name);
        // A cut FLAC file is told of once, where it breaks off; libsndfile
        // gives a cut Ogg file no length and no error: it simply ends.
        const bool breaks = c.cut && (c.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_FLAC;
        const std::vector<std::string> lines = told.Lines();
        ASSERT_EQ(lines.size(), breaks ? 1u : 0u) << c.name << (lines.empty() ? "" : ": " + lines[0]);
        if (breaks)
        {
            EXPECT_EQ(lines[0].rfind("breaks off at ", 0), 0u) << lines[0];
        }
    }
}

TEST(LoopedMusic, DecodersWithoutALengthOrWithAWrongOneWrapWhereTheMusicEnds)
{
    struct Case
    {
        const char* name;
        int64_t header;
        int64_t breakAt;
        bool error;
        bool seeks;
    };
    const int64_t frames = 9000;
    const Case cases[] = {{"no length", 0, INT64_MAX, false, true},
                          {"no length, no seeks", 0, INT64_MAX, false, false},
                          {"a header that gives more", 2 * frames, INT64_MAX, false, true},
                          {"an error at 6000", frames, 6000, true, true},
                          {"an error at 6000, no seeks", 0, 6000, true, false}};
    for (const Case& c : cases)
    {
        std::shared_ptr<FaultyMusic> music = Faulty(frames);
        music->header = c.header;
        music->breakAt = c.breakAt;
        music->error = c.error;
        music->seeks = c.seeks;
        const int64_t length = std::min(frames, c.breakAt);
        const std::vector<float> once(music->frames.begin(), music->frames.begin() + length);
        Told told;
        MusicStream stream(std::unique_ptr<MusicDecoder>(new FaultyDecoder(music)), true, told.Report());
        ExpectLoopedEverywhere(stream, once, c.name);
        EXPECT_FALSE(stream.EndedBy(100 * frames)) << c.name;
        const std::vector<std::string> lines = told.Lines();
        const bool breaks = c.breakAt < frames || c.header > frames;
        ASSERT_EQ(lines.size(), breaks ? 1u : 0u) << c.name;
        if (c.error)
        {
            EXPECT_EQ(lines[0], "breaks off at 0.750 s: the disk went away") << c.name;
        }
    }
}

TEST(LoopedMusic, EndsOnlyWhenTheFileCannotBeReadAtAllAndSaysSo)
{
    // The file is gone after the first pass: no reopening, no seek back.
    std::shared_ptr<FaultyMusic> music = Faulty(4000);
    music->seeks = false;
    music->opens = 1;
    Told told;
    MusicStream stream(std::unique_ptr<MusicDecoder>(new FaultyDecoder(music)), true, told.Report());
    ExpectLooped(stream, music->frames, 0, 4000, "the first pass");
    EXPECT_FALSE(stream.EndedBy(3999));
    EXPECT_TRUE(stream.EndedBy(4000));
    EXPECT_TRUE(stream.StoppedAtBreak());
    const std::vector<std::string> lines = told.Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("cannot be read at all", 0), 0u) << lines[0];
}

TEST(MusicThatBreaksOff, IsNotTakenForItsEnd)
{
    // An error part way, and a header that gives more than decodes: the
    // stream ends there, says where and why, and knows it stopped early.
    struct Case
    {
        const char* name;
        int64_t header;
        int64_t breakAt;
        bool error;
        const char* line;
    };
    const Case cases[] = {{"an error", 9000, 6000, true, "breaks off at 0.750 s: the disk went away"},
                          {"a short file", 12000, INT64_MAX, false, "breaks off at 1.125 s: the file ends before the 1.500 s its header gives"},
                          {"the end", 9000, INT64_MAX, false, nullptr}};
    for (const Case& c : cases)
    {
        std::shared_ptr<FaultyMusic> music = Faulty(9000);
        music->header = c.header;
        music->breakAt = c.breakAt;
        music->error = c.error;
        Told told;
        MusicStream stream(std::unique_ptr<MusicDecoder>(new FaultyDecoder(music)), false, told.Report());
        const int64_t end = std::min<int64_t>(9000, c.breakAt);
        EXPECT_FALSE(stream.EndedBy(end - 1)) << c.name;
        EXPECT_FALSE(stream.StoppedAtBreak()) << c.name;
        EXPECT_TRUE(stream.EndedBy(end)) << c.name;
        EXPECT_EQ(stream.StoppedAtBreak(), c.line != nullptr) << c.name;
        const std::vector<std::string> lines = told.Lines();
        ASSERT_EQ(lines.size(), c.line ? 1u : 0u) << c.name;
        if (c.line)
        {
            EXPECT_EQ(lines[0], c.line);
        }
    }
}

TEST(MusicThatBreaksOff, AFileTruncatedWhilePlayingEndsThere)
{
    // Sixty seconds of WAV, cut to 1 MB a second into play.
    TempFolder folder;
    const std::string path = folder / "music.wav";
    WriteMusic(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, Noise(60 * 22050, 3));
    std::string error;
    std::unique_ptr<MusicDecoder> decoder = OpenMusicFile(path, error);
    ASSERT_TRUE(decoder) << error;
    Told told;
    MusicStream stream(std::move(decoder), false, told.Report());
    ReadFrames(stream, 0, 22050);
    ASSERT_EQ(truncate(path.c_str(), 1 << 20), 0);
    int64_t at = 22050;
    while (!stream.EndedBy(at) && at < 60 * 22050)
        at += 551;
    EXPECT_LT(at, 13 * 22050) << "1 MB is 11.9 s";
    EXPECT_TRUE(stream.StoppedAtBreak());
    const std::vector<std::string> lines = told.Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("breaks off at 11.", 0), 0u) << lines[0];
}

TEST(MusicThatBreaksOff, EndsAHeadlessRunEarlyWithOneLineAndAFailure)
{
    // Two seconds of FLAC cut to 60 %: the run stops where it breaks off,
    // keeps the pictures written, names the file and fails; looped, it plays on.
    TempFolder folder;
    const std::string path = folder / "cut.flac";
    WriteMusic(path, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, Noise(2 * 22050, 7));
    Cut(path, 0.6);
    const std::string driveC = folder / "drive_c";
    const ProcessResult once = RunProgram({VELMORA_PLAYER_EXE, "--drive-c", driveC, "--audio", path, "--frames", "200",
                                           "--out", folder / "out", "--every", "10"},
                                          folder.Path());
    EXPECT_EQ(once.status, 1) << once.err;
    EXPECT_EQ(once.out.find("200 frames rendered"), std::string::npos) << once.out;
    EXPECT_NE(once.out.find("frames: 5 written"), std::string::npos) << once.out;
    const std::string line = "velmora-player: audio file \"" + path + "\" breaks off at 1.";
    EXPECT_EQ(once.err.rfind(line, 0), 0u) << once.err;
    EXPECT_EQ(std::count(once.err.begin(), once.err.end(), '\n'), 1) << once.err;

    const ProcessResult looped =
        RunProgram({VELMORA_PLAYER_EXE, "--drive-c", driveC, "--audio", path, "--loop", "--frames", "200"}, folder.Path());
    EXPECT_EQ(looped.status, 0) << looped.err;
    EXPECT_NE(looped.out.find("200 frames rendered"), std::string::npos) << looped.out;
    EXPECT_EQ(looped.err.rfind(line, 0), 0u) << looped.err;
}
