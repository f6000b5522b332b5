#include "signal.h"

#include "pcm_audio.h"
#include "spectrum_analyzer.h"

#include <cmath>

namespace
{
const int kWaveformBytes = 576;

// Plays PCM audio from memory: each frame analyses the samples around the
// play position, channel by channel (a mono source fills both channels).
class PcmSpectrumSource : public SpectrumSource
{
public:
    explicit PcmSpectrumSource(const Music& music)
        : m_Audio(*music.audio), m_Music(music.audio), m_Loop(music.loop), m_Analyzer(m_Audio.sampleRate)
    {
    }

    bool Fill(double positionMs, unsigned char spectrum[2][576], unsigned char waveform[2][576]) override
    {
        const int64_t frames = m_Audio.Frames();
        if (frames <= 0 || !(positionMs == positionMs))
            return false;
        const int64_t position = static_cast<int64_t>(std::floor(positionMs * m_Audio.sampleRate / 1000.0));
        if (!m_Loop && position >= frames)
            return false;

        for (int channel = 0; channel < 2; ++channel)
        {
            if (channel == 1 && m_Audio.channels == 1)
            {
                std::copy(spectrum[0], spectrum[0] + 576, spectrum[1]);
                std::copy(waveform[0], waveform[0] + 576, waveform[1]);
                break;
            }
            const int size = m_Analyzer.FftSize();
            float* input = m_Analyzer.Input();
            const int64_t start = position - size / 2;
            for (int i = 0; i < size; ++i)
                input[i] = Sample(start + i, channel);
            m_Analyzer.Analyze(spectrum[channel]);

            // The middle of the same window, as signed 8-bit samples.
            const int64_t waveStart = position - kWaveformBytes / 2;
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
    float Sample(int64_t frame, int channel) const
    {
        const int64_t frames = m_Audio.Frames();
        if (m_Loop)
        {
            frame %= frames;
            if (frame < 0)
                frame += frames;
        }
        else if (frame < 0 || frame >= frames)
        {
            return 0.0f;
        }
        return m_Audio.samples[static_cast<size_t>(frame * m_Audio.channels + channel)] / 32768.0f;
    }

    const PcmAudio& m_Audio;
    std::shared_ptr<const PcmAudio> m_Music; // keeps m_Audio alive
    bool m_Loop;
    SpectrumAnalyzer m_Analyzer;
};
}

bool LoadMusic(const std::string& audioPath, bool loop, Music& music, std::string& error)
{
    error.clear();
    if (audioPath.empty())
    {
        music.audio = std::make_shared<const PcmAudio>(MakeSynthMusic());
        music.loop = true;
        return true;
    }
    auto audio = std::make_shared<PcmAudio>();
    if (!ReadAudioFile(audioPath, *audio, error))
        return false;
    music.audio = std::move(audio);
    music.loop = loop;
    return true;
}

std::unique_ptr<SpectrumSource> MakeSpectrumSource(const Music& music)
{
    return std::unique_ptr<SpectrumSource>(new PcmSpectrumSource(music));
}

std::unique_ptr<SpectrumSource> OpenSpectrumSource(const std::string& audioPath, bool loop, std::string& error)
{
    Music music;
    if (!LoadMusic(audioPath, loop, music, error))
        return nullptr;
    return MakeSpectrumSource(music);
}
