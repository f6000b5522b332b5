#include <benchmark/benchmark.h>

#include "CSpectrum.h"
#include "music_analysis.h"
#include "plugin.h"

#include <string>

namespace
{
// One frame of the module: the update from the record and the three level reads.
void BM_SpectrumUpdateAndLevels(benchmark::State& state)
{
    CSpectrum spectrum;
    spectrum.Load(VELMORA_PLUGIN_DIR "/data/spectrum/acoustic.xml");
    CVisModule module = {};
    module.spectrumNch = 2;
    for (int i = 0; i < 576; ++i)
    {
        module.spectrumData[0][i] = static_cast<unsigned char>(i * 7);
        module.spectrumData[1][i] = static_cast<unsigned char>(255 - i * 3);
    }
    float levels = 0.0f;
    for (auto _ : state)
    {
        spectrum.Update(&module);
        float bass = static_cast<float>(spectrum.GetBass());
        float medium = static_cast<float>(spectrum.GetMedium());
        float treble = static_cast<float>(spectrum.GetTreble());
        levels += bass + medium + treble;
        benchmark::DoNotOptimize(levels);
    }
}
BENCHMARK(BM_SpectrumUpdateAndLevels);

// One frame of the player: both channels' spectrum and waveform of the built-in music.
void BM_PlayerSpectrumFrame(benchmark::State& state)
{
    std::string error;
    std::unique_ptr<SpectrumSource> source = OpenSpectrumSource("", false, error);
    unsigned char spectrum[2][576];
    unsigned char waveform[2][576];
    double position = 0.0;
    for (auto _ : state)
    {
        source->Fill(position, spectrum, waveform);
        benchmark::DoNotOptimize(spectrum);
        position += 25.0;
    }
}
BENCHMARK(BM_PlayerSpectrumFrame);
}
