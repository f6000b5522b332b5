#include "music_analysis.h"

#include "pcm_audio.h"
#include "spectrum_analyzer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace
{
const int kWaveformBytes = 576;

// Analyses the music around the play position, channel by channel (a mono
// source fills both channels).
class StreamSpectrumSource : public SpectrumSource
{
public:
    explicit StreamSpectrumSource(const Music& music)
        : m_Stream(music.stream), m_Analyzer(m_Stream->SampleRate()),
          m_Half(std::max(m_Analyzer.FftSize(), kWaveformBytes) / 2),
          m_Span(static_cast<size_t>(2 * m_Half * m_Stream->Channels()))
    {
    }

    bool Fill(double positionMs, unsigned char spectrum[2][576], unsigned char waveform[2][576]) override
    {
        // NaN, or so far off that the frame would not fit its integer.
        if (!(std::fabs(positionMs) < 1e15))
            return false;
        const int64_t position = static_cast<int64_t>(std::floor(positionMs * m_Stream->SampleRate() / 1000.0));
        // The frames around the position first: the end is then known without a jump.
        m_Stream->Read(position - m_Half, 2 * m_Half, m_Span.data());
        if (m_Stream->EndedBy(position))
            return false;

        const int channels = m_Stream->Channels();
        for (int channel = 0; channel < 2; ++channel)
        {
            if (channel == 1 && channels == 1)
            {
                std::copy(spectrum[0], spectrum[0] + 576, spectrum[1]);
                std::copy(waveform[0], waveform[0] + 576, waveform[1]);
                break;
            }
            const int size = m_Analyzer.FftSize();
            float* input = m_Analyzer.Input();
            const int64_t start = m_Half - size / 2;
            for (int i = 0; i < size; ++i)
                input[i] = Sample(start + i, channel);
            m_Analyzer.Analyze(spectrum[channel]);

            // The middle of the same window, as signed 8-bit samples.
            const int64_t waveStart = m_Half - kWaveformBytes / 2;
            for (int i = 0; i < kWaveformBytes; ++i)
            {
                long value = std::lround(Sample(waveStart + i, channel) * 128.0f);
                value = value > 127 ? 127 : (value < -128 ? -128 : value);
                waveform[channel][i] = static_cast<unsigned char>(static_cast<signed char>(value));
            }
        }
        return true;
    }

private:
    float Sample(int64_t index, int channel) const
    {
        return m_Span[static_cast<size_t>(index * m_Stream->Channels() + channel)];
    }

    std::shared_ptr<MusicStream> m_Stream;
    SpectrumAnalyzer m_Analyzer;
    const int64_t m_Half; // frames read either side of the position
    std::vector<float> m_Span;
};
}

bool LoadMusic(const std::string& audioPath, bool loop, Music& music, std::string& error)
{
    error.clear();
    if (audioPath.empty())
    {
        music.stream = std::make_shared<MusicStream>(MemoryMusic(std::make_shared<const PcmAudio>(MakeSynthMusic())), true);
        music.loop = true;
        return true;
    }
    std::unique_ptr<MusicDecoder> decoder = OpenMusicFile(audioPath, error);
    if (!decoder)
        return false;
    // Where the file breaks off, as the decoder finds it: the run goes on (or
    // ends there), but not in silence about it.
    const std::string name = "velmora-player: audio file \"" + audioPath + "\" ";
    auto report = [name](const std::string& what) { fprintf(stderr, "%s%s\n", name.c_str(), what.c_str()); };
    music.stream = std::make_shared<MusicStream>(std::move(decoder), loop, report);
    music.loop = loop;
    return true;
}

std::unique_ptr<SpectrumSource> MakeSpectrumSource(const Music& music)
{
    return std::unique_ptr<SpectrumSource>(new StreamSpectrumSource(music));
}

std::unique_ptr<SpectrumSource> OpenSpectrumSource(const std::string& audioPath, bool loop, std::string& error)
{
    Music music;
    if (!LoadMusic(audioPath, loop, music, error))
        return nullptr;
    return MakeSpectrumSource(music);
}
