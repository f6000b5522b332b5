#include <gtest/gtest.h>

#include "CSpectrum.h"
#include "music_analysis.h"
#include "pcm_audio.h"
#include "plugin.h"
#include "spectrum_analyzer.h"

#include <sndfile.h>
#include <stdlib.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <string>

namespace
{
const double kPi = 3.14159265358979323846;

class TempFolder
{
public:
    TempFolder()
    {
        char pattern[] = "/tmp/velmora_signal_XXXXXX";
        m_Path = mkdtemp(pattern);
    }
    ~TempFolder() { std::system(("rm -rf '" + m_Path + "'").c_str()); }
    std::string Path(const std::string& name) const { return m_Path + "/" + name; }

private:
    std::string m_Path;
};

// `seconds` of a sine per channel (0 Hz: silence), 16-bit.
PcmAudio Sines(int rate, std::initializer_list<double> hz, double amplitude, double seconds)
{
    PcmAudio audio;
    audio.sampleRate = rate;
    audio.channels = static_cast<int>(hz.size());
    const int64_t frames = static_cast<int64_t>(rate * seconds);
    for (int64_t n = 0; n < frames; ++n)
        for (double f : hz)
            audio.samples.push_back(static_cast<int16_t>(std::lround(amplitude * 32767.0 * std::sin(2.0 * kPi * f * n / rate))));
    return audio;
}

int PeakBin(const unsigned char bytes[576])
{
    return static_cast<int>(std::max_element(bytes, bytes + 576) - bytes);
}

// The peak may sit one FFT line away from the tone where lines are wider than bins.
int BinTolerance(double hz, int rate)
{
    const double line = static_cast<double>(rate) / SpectrumFftSize(rate);
    return std::max(1, static_cast<int>(std::ceil(SpectrumBinForFrequency(hz + line) - SpectrumBinForFrequency(hz))));
}

std::unique_ptr<SpectrumSource> Open(const std::string& path, bool loop = false)
{
    std::string error;
    std::unique_ptr<SpectrumSource> source = OpenSpectrumSource(path, loop, error);
    EXPECT_TRUE(source) << error;
    EXPECT_EQ(error, "");
    return source;
}

void WriteSndFile(const std::string& path, int format, const PcmAudio& audio)
{
    SF_INFO info = {};
    info.samplerate = audio.sampleRate;
    info.channels = audio.channels;
    info.format = format;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_TRUE(file) << sf_strerror(nullptr);
    sf_writef_short(file, audio.samples.data(), audio.Frames());
    sf_close(file);
}
}

TEST(PlayerSpectrum, DocumentedMapping)
{
    EXPECT_NEAR(SpectrumBinFrequency(0), 20.0, 1e-9);
    EXPECT_NEAR(SpectrumBinFrequency(575), 20000.0, 1e-6);
    EXPECT_NEAR(SpectrumBinFrequency(575.0 / 3), 200.0, 1e-6);
    EXPECT_NEAR(SpectrumBinFrequency(2 * 575.0 / 3), 2000.0, 1e-6);
    EXPECT_NEAR(SpectrumBinForFrequency(1000.0), 575.0 * std::log10(50.0) / 3.0, 1e-9);
    EXPECT_EQ(SpectrumFftSize(44100), 4096);
    EXPECT_EQ(SpectrumFftSize(48000), 4096);
    EXPECT_EQ(SpectrumFftSize(22050), 2048);
    EXPECT_EQ(SpectrumFftSize(8000), 1024);
}

TEST(PlayerSpectrum, SinePeaksAtItsBinWithItsLevel)
{
    for (int rate : {22050, 44100, 48000})
    {
        SpectrumAnalyzer analyzer(rate);
        const int size = analyzer.FftSize();
        for (double hz : {60.0, 100.0, 440.0, 1000.0, 3000.0, 9000.0})
        {
            for (double amplitude : {0.5, 0.01})
            {
                for (int i = 0; i < size; ++i)
                    analyzer.Input()[i] = static_cast<float>(amplitude * std::sin(2.0 * kPi * hz * i / rate + 0.3));
                unsigned char bytes[576];
                analyzer.Analyze(bytes);
                const int expected = static_cast<int>(std::lround(SpectrumBinForFrequency(hz)));
                EXPECT_NEAR(PeakBin(bytes), expected, BinTolerance(hz, rate)) << rate << " Hz rate, tone " << hz;
                // 255 * (dBFS + 72) / 72, less up to 1.5 dB when the tone falls between FFT lines.
                const double level = 255.0 * (20.0 * std::log10(amplitude) + 72.0) / 72.0;
                EXPECT_LE(bytes[PeakBin(bytes)], level + 1.0) << rate << " " << hz;
                EXPECT_GE(bytes[PeakBin(bytes)], level - 6.0) << rate << " " << hz;
                // Far from the tone the spectrum is quiet.
                EXPECT_EQ(bytes[std::min(575, expected + 120)], 0) << rate << " " << hz;
            }
        }
    }
}

TEST(PlayerSpectrum, SilenceAndFullScaleSquare)
{
    TempFolder folder;
    const std::string silent = folder.Path("silence.wav");
    std::string error;
    ASSERT_TRUE(WriteWavFile(silent, Sines(44100, {0.0, 0.0}, 0.0, 1.0), error)) << error;
    std::unique_ptr<SpectrumSource> source = Open(silent);
    ASSERT_TRUE(source);
    unsigned char spectrum[2][576];
    unsigned char waveform[2][576];
    memset(spectrum, 0xAA, sizeof(spectrum));
    memset(waveform, 0xAA, sizeof(waveform));
    ASSERT_TRUE(source->Fill(500.0, spectrum, waveform));
    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < 576; ++i)
        {
            ASSERT_EQ(spectrum[c][i], 0);
            ASSERT_EQ(waveform[c][i], 0);
        }

    // A full-scale square has a fundamental above full scale: it saturates at 255.
    PcmAudio square;
    square.sampleRate = 44100;
    square.channels = 1;
    for (int n = 0; n < 44100; ++n)
        square.samples.push_back((n / 22) % 2 ? -32768 : 32767);
    const std::string squarePath = folder.Path("square.wav");
    ASSERT_TRUE(WriteWavFile(squarePath, square, error)) << error;
    source = Open(squarePath);
    ASSERT_TRUE(source);
    ASSERT_TRUE(source->Fill(500.0, spectrum, waveform));
    const int fundamental = static_cast<int>(std::lround(SpectrumBinForFrequency(44100.0 / 44)));
    EXPECT_NEAR(PeakBin(spectrum[0]), fundamental, 1);
    EXPECT_EQ(spectrum[0][PeakBin(spectrum[0])], 255);
    EXPECT_EQ(spectrum[0][fundamental], 255);
    EXPECT_GT(spectrum[0][fundamental + 1], 200) << "no wrap next to the peak";
    for (int i = 0; i < 576; ++i)
    {
        ASSERT_EQ(spectrum[0][i], spectrum[1][i]) << "mono fills both channels";
        ASSERT_TRUE(waveform[0][i] == 127 || waveform[0][i] == 128) << static_cast<int>(waveform[0][i]);
    }
}

TEST(PlayerSpectrum, FilesOfEveryLayoutReadBack)
{
    TempFolder folder;
    std::string error;
    for (int rate : {22050, 48000})
    {
        // Stereo: each channel its own tone.
        const std::string stereo = folder.Path("stereo" + std::to_string(rate) + ".wav");
        ASSERT_TRUE(WriteWavFile(stereo, Sines(rate, {440.0, 3000.0}, 0.5, 1.0), error)) << error;
        std::unique_ptr<SpectrumSource> source = Open(stereo);
        ASSERT_TRUE(source);
        unsigned char spectrum[2][576];
        unsigned char waveform[2][576];
        ASSERT_TRUE(source->Fill(400.0, spectrum, waveform));
        EXPECT_NEAR(PeakBin(spectrum[0]), SpectrumBinForFrequency(440.0), BinTolerance(440.0, rate));
        EXPECT_NEAR(PeakBin(spectrum[1]), SpectrumBinForFrequency(3000.0), BinTolerance(3000.0, rate));

        // The waveform is the samples at the play position, as signed bytes.
        const int64_t centre = static_cast<int64_t>(0.4 * rate);
        for (int i : {0, 100, 288, 575})
        {
            const double sample = 0.5 * std::sin(2.0 * kPi * 440.0 * (centre - 288 + i) / rate);
            EXPECT_NEAR(static_cast<signed char>(waveform[0][i]), sample * 128.0, 1.5) << i;
        }

        // Mono, FLAC and Ogg: both channels alike; the tone lands in the same bin at any rate.
        for (auto kind : {std::make_pair(std::string("flac"), SF_FORMAT_FLAC | SF_FORMAT_PCM_16),
                          std::make_pair(std::string("ogg"), SF_FORMAT_OGG | SF_FORMAT_VORBIS)})
        {
            const std::string mono = folder.Path("mono" + std::to_string(rate) + "." + kind.first);
            WriteSndFile(mono, kind.second, Sines(rate, {1000.0}, 0.5, 1.0));
            source = Open(mono);
            ASSERT_TRUE(source) << kind.first;
            ASSERT_TRUE(source->Fill(500.0, spectrum, waveform));
            EXPECT_NEAR(PeakBin(spectrum[0]), SpectrumBinForFrequency(1000.0), 1) << kind.first << " " << rate;
            EXPECT_EQ(memcmp(spectrum[0], spectrum[1], 576), 0);
            EXPECT_EQ(memcmp(waveform[0], waveform[1], 576), 0);
        }
    }
}

TEST(PlayerSpectrum, EndOfFileStopsOrLoops)
{
    TempFolder folder;
    std::string error;
    const std::string path = folder.Path("short.wav");
    ASSERT_TRUE(WriteWavFile(path, Sines(44100, {1000.0}, 0.5, 0.5), error)) << error;
    unsigned char spectrum[2][576];
    unsigned char waveform[2][576];

    std::unique_ptr<SpectrumSource> once = Open(path, false);
    ASSERT_TRUE(once);
    EXPECT_TRUE(once->Fill(0.0, spectrum, waveform));
    EXPECT_TRUE(once->Fill(499.0, spectrum, waveform));
    EXPECT_FALSE(once->Fill(500.0, spectrum, waveform));
    EXPECT_FALSE(once->Fill(10000.0, spectrum, waveform));

    std::unique_ptr<SpectrumSource> looped = Open(path, true);
    ASSERT_TRUE(looped);
    unsigned char first[2][576];
    ASSERT_TRUE(looped->Fill(200.0, first, waveform));
    ASSERT_TRUE(looped->Fill(1200.0, spectrum, waveform));
    EXPECT_EQ(memcmp(first, spectrum, sizeof(first)), 0);
}

TEST(PlayerSpectrum, BadFilesFailWithOneLine)
{
    TempFolder folder;
    std::string error;
    const std::string garbage = folder.Path("garbage.wav");
    std::ofstream(garbage, std::ios::binary) << "this is not audio at all, only some text standing in for it";
    const std::string empty = folder.Path("empty.flac");
    std::ofstream(empty, std::ios::binary).flush();
    const std::string noFrames = folder.Path("noframes.wav");
    ASSERT_TRUE(WriteWavFile(noFrames, Sines(44100, {1000.0}, 0.5, 0.0), error)) << error;

    for (const std::string& path : {folder.Path("missing.wav"), garbage, empty, noFrames, folder.Path("")})
    {
        error.clear();
        EXPECT_FALSE(OpenSpectrumSource(path, false, error)) << path;
        EXPECT_FALSE(error.empty()) << path;
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
        EXPECT_NE(error.find(path), std::string::npos) << error;
    }
    OpenSpectrumSource(folder.Path("missing.wav"), false, error);
    EXPECT_NE(error.find("not found"), std::string::npos) << error;
}

TEST(PlayerSpectrum, BuiltInMusicBeatsAndMoves)
{
    std::string error;
    std::unique_ptr<SpectrumSource> source = OpenSpectrumSource("", false, error);
    std::unique_ptr<SpectrumSource> again = OpenSpectrumSource("", false, error);
    ASSERT_TRUE(source && again) << error;

    CSpectrum spectrum;
    ASSERT_TRUE(spectrum.Load(VELMORA_SOURCE_DIR "/data/spectrum/default.xml"));
    CVisModule module = {};
    module.spectrumNch = 2;

    // 25 ms frames over two loops of the 8-second music.
    const int frames = 2 * 8000 / 25;
    std::vector<double> bass(frames), medium(frames), treble(frames);
    for (int f = 0; f < frames; ++f)
    {
        ASSERT_TRUE(source->Fill(f * 25.0, module.spectrumData, module.waveformData));
        spectrum.Update(&module);
        bass[f] = spectrum.GetBass();
        medium[f] = spectrum.GetMedium();
        treble[f] = spectrum.GetTreble();

        unsigned char other[2][576];
        unsigned char wave[2][576];
        ASSERT_TRUE(again->Fill(f * 25.0, other, wave));
        ASSERT_EQ(memcmp(other, module.spectrumData, sizeof(other)), 0) << "deterministic";
    }

    // 120 beats a minute: a beat every 20 frames. The bass band rises on each.
    for (int beat = 1; beat < frames / 20; ++beat)
    {
        const int at = beat * 20;
        const double before = bass[at - 3];
        const double onBeat = std::max({bass[at - 1], bass[at], bass[at + 1], bass[at + 2]});
        EXPECT_GT(onBeat, before + 0.1) << "beat " << beat;
    }
    for (const std::vector<double>* band : {&medium, &treble})
    {
        const auto range = std::minmax_element(band->begin(), band->end());
        EXPECT_GT(*range.second - *range.first, 0.15);
    }
    EXPECT_TRUE(source->Fill(3600000.0, module.spectrumData, module.waveformData)) << "the music loops";
}
