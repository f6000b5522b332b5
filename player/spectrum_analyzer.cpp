#include "spectrum_analyzer.h"

#include <fftw3.h>

#include <cmath>

namespace
{
const double kPi = 3.14159265358979323846;
const double kBinSpan = std::log(kSpectrumHighestHz / kSpectrumLowestHz) / (kSpectrumBinCount - 1);
}

double SpectrumBinFrequency(double bin)
{
    return kSpectrumLowestHz * std::exp(bin * kBinSpan);
}

double SpectrumBinForFrequency(double hz)
{
    return std::log(hz / kSpectrumLowestHz) / kBinSpan;
}

int SpectrumFftSize(int sampleRate)
{
    int size = 256;
    while (size < sampleRate / 12 && size < (1 << 20))
        size *= 2;
    return size;
}

SpectrumAnalyzer::SpectrumAnalyzer(int sampleRate)
    : m_SampleRate(sampleRate > 0 ? sampleRate : 1), m_Size(SpectrumFftSize(sampleRate))
{
    const int lines = m_Size / 2 + 1;
    m_Input = fftwf_alloc_real(m_Size);
    m_Windowed = fftwf_alloc_real(m_Size);
    fftwf_complex* spectrum = fftwf_alloc_complex(lines);
    m_Spectrum = spectrum;
    for (int i = 0; i < m_Size; ++i)
        m_Input[i] = m_Windowed[i] = 0.0f;
    // Estimated, not measured, plans: the same transform on every run.
    m_Plan = fftwf_plan_dft_r2c_1d(m_Size, m_Windowed, spectrum, FFTW_ESTIMATE);

    m_Window.resize(m_Size);
    for (int i = 0; i < m_Size; ++i)
        m_Window[i] = static_cast<float>(0.5 - 0.5 * std::cos(2.0 * kPi * i / m_Size));
    m_Amplitude.resize(lines);

    const double linesPerHz = static_cast<double>(m_Size) / m_SampleRate;
    const double nyquist = m_SampleRate / 2.0;
    m_Bins.resize(kSpectrumBinCount);
    for (int i = 0; i < kSpectrumBinCount; ++i)
    {
        BinSource& bin = m_Bins[i];
        const double centre = SpectrumBinFrequency(i);
        bin.audible = centre < nyquist;
        bin.first = static_cast<int>(std::ceil(SpectrumBinFrequency(i - 0.5) * linesPerHz));
        bin.last = static_cast<int>(std::floor(SpectrumBinFrequency(i + 0.5) * linesPerHz));
        if (bin.last > lines - 1)
            bin.last = lines - 1;
        const double line = centre * linesPerHz;
        bin.below = static_cast<int>(std::floor(line));
        bin.fraction = static_cast<float>(line - bin.below);
        if (bin.below >= lines - 1)
        {
            bin.below = lines - 2;
            bin.fraction = 1.0f;
        }
    }
}

SpectrumAnalyzer::~SpectrumAnalyzer()
{
    fftwf_destroy_plan(static_cast<fftwf_plan>(m_Plan));
    fftwf_free(static_cast<fftwf_complex*>(m_Spectrum));
    fftwf_free(m_Windowed);
    fftwf_free(m_Input);
}

void SpectrumAnalyzer::Analyze(unsigned char bytes[kSpectrumBinCount])
{
    for (int i = 0; i < m_Size; ++i)
        m_Windowed[i] = m_Input[i] * m_Window[i];
    fftwf_execute(static_cast<fftwf_plan>(m_Plan));

    // A sine of amplitude A at a line's centre gives |X| = A * N / 4 under the Hann window.
    const fftwf_complex* spectrum = static_cast<const fftwf_complex*>(m_Spectrum);
    const float toAmplitude = 4.0f / m_Size;
    const int lines = m_Size / 2 + 1;
    for (int k = 0; k < lines; ++k)
        m_Amplitude[k] = std::sqrt(spectrum[k][0] * spectrum[k][0] + spectrum[k][1] * spectrum[k][1]) * toAmplitude;

    for (int i = 0; i < kSpectrumBinCount; ++i)
    {
        const BinSource& bin = m_Bins[i];
        if (!bin.audible)
        {
            bytes[i] = 0;
            continue;
        }
        float amplitude = m_Amplitude[bin.below] +
            (m_Amplitude[bin.below + 1] - m_Amplitude[bin.below]) * bin.fraction;
        for (int k = bin.first; k <= bin.last; ++k)
        {
            if (m_Amplitude[k] > amplitude)
                amplitude = m_Amplitude[k];
        }
        if (!(amplitude > 0.0f))
        {
            bytes[i] = 0;
            continue;
        }
        const double level = 255.0 * (20.0 * std::log10(amplitude) - kSpectrumFloorDb) / -kSpectrumFloorDb;
        if (level <= 0.0)
            bytes[i] = 0;
        else if (level >= 255.0)
            bytes[i] = 255;
        else
            bytes[i] = static_cast<unsigned char>(std::floor(level + 0.5));
    }
}
