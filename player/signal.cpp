// A provisional music source: a built-in beat, or an audio file read with
// libsndfile and analysed with a plain discrete Fourier transform.
#include "signal.h"

#include <sndfile.h>

#include <math.h>

#include <algorithm>
#include <vector>

namespace {

const int kBins = 576;
const double kPi = 3.14159265358979323846;

unsigned char ToByte(double value)
{
    return static_cast<unsigned char>(std::clamp(value, 0.0, 255.0));
}

// A deterministic beat: a kick every half second, a slow mid sweep, hiss on the off-beats.
class BuiltInSignal : public SpectrumSource
{
public:
    bool Fill(double positionMs, unsigned char spectrum[2][576], unsigned char waveform[2][576]) override
    {
        const double beat = fmod(positionMs, 500.0) / 500.0;
        const double kick = exp(-6.0 * beat);
        const double hat = exp(-12.0 * fmod(beat + 0.5, 1.0));
        const double sweep = 0.5 + 0.5 * sin(positionMs * 0.002);
        for (int channel = 0; channel < 2; ++channel)
        {
            for (int i = 0; i < kBins; ++i)
            {
                const double f = static_cast<double>(i) / kBins;
                double level = 200.0 * kick * exp(-f * 40.0);
                level += 120.0 * sweep * exp(-pow((f - 0.25) * 12.0, 2.0));
                level += 70.0 * hat * (f > 0.5 ? 1.0 : 0.0) * (0.6 + 0.4 * sin(i * 1.7 + channel));
                spectrum[channel][i] = ToByte(level);
                const double t = positionMs / 1000.0 + i / 44100.0;
                const double wave = 90.0 * kick * sin(2.0 * kPi * 55.0 * t) + 30.0 * sweep * sin(2.0 * kPi * 440.0 * t);
                waveform[channel][i] = static_cast<unsigned char>(static_cast<signed char>(std::clamp(wave, -128.0, 127.0)));
            }
        }
        return true;
    }
};

class FileSignal : public SpectrumSource
{
public:
    FileSignal(std::vector<float> samples, int channels, int rate, bool loop)
        : m_Samples(std::move(samples)), m_Channels(channels), m_Rate(rate), m_Loop(loop)
    {
    }

    bool Fill(double positionMs, unsigned char spectrum[2][576], unsigned char waveform[2][576]) override
    {
        const long long frames = static_cast<long long>(m_Samples.size()) / m_Channels;
        long long start = static_cast<long long>(positionMs * m_Rate / 1000.0);
        if (start >= frames)
        {
            if (!m_Loop || frames == 0)
                return false;
            start %= frames;
        }
        const int window = 2 * kBins;
        std::vector<double> x(window);
        for (int channel = 0; channel < 2; ++channel)
        {
            const int source = std::min(channel, m_Channels - 1);
            for (int n = 0; n < window; ++n)
            {
                long long frame = start + n;
                if (frame >= frames)
                    frame = m_Loop ? frame % frames : -1;
                const double s = frame >= 0 ? m_Samples[static_cast<size_t>(frame * m_Channels + source)] : 0.0;
                const double hann = 0.5 - 0.5 * cos(2.0 * kPi * n / (window - 1));
                x[n] = s * hann;
                if (n < kBins)
                    waveform[channel][n] = static_cast<unsigned char>(static_cast<signed char>(std::clamp(s * 127.0, -128.0, 127.0)));
            }
            for (int k = 0; k < kBins; ++k)
            {
                double re = 0.0, im = 0.0;
                for (int n = 0; n < window; ++n)
                {
                    const double angle = 2.0 * kPi * k * n / window;
                    re += x[n] * cos(angle);
                    im -= x[n] * sin(angle);
                }
                const double magnitude = sqrt(re * re + im * im);
                spectrum[channel][k] = ToByte(40.0 * log10(1.0 + magnitude * 4.0));
            }
        }
        return true;
    }

private:
    std::vector<float> m_Samples;
    int m_Channels;
    int m_Rate;
    bool m_Loop;
};

} // namespace

std::unique_ptr<SpectrumSource> OpenSpectrumSource(const std::string& audioPath, bool loop, std::string& error)
{
    if (audioPath.empty())
        return std::make_unique<BuiltInSignal>();
    SF_INFO info = {};
    SNDFILE* file = sf_open(audioPath.c_str(), SFM_READ, &info);
    if (!file)
    {
        error = "cannot open audio file " + audioPath + ": " + sf_strerror(nullptr);
        return nullptr;
    }
    if (info.channels <= 0 || info.samplerate <= 0 || info.frames <= 0)
    {
        sf_close(file);
        error = "audio file " + audioPath + " holds no sound";
        return nullptr;
    }
    std::vector<float> samples(static_cast<size_t>(info.frames) * static_cast<size_t>(info.channels));
    sf_count_t read = sf_readf_float(file, samples.data(), info.frames);
    sf_close(file);
    samples.resize(static_cast<size_t>(std::max<sf_count_t>(read, 0)) * static_cast<size_t>(info.channels));
    if (samples.empty())
    {
        error = "cannot read audio file " + audioPath;
        return nullptr;
    }
    return std::make_unique<FileSignal>(std::move(samples), info.channels, info.samplerate, loop);
}
