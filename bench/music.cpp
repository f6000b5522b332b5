// The player's music from the file to the first frames of spectrum: the time
// and the resident memory, for a second of music and for half an hour, played
// once and looped (which reads the music's last frames first); and a jump far
// into looped music. The files are made here, once, in a temporary folder.
#include <benchmark/benchmark.h>

#include "music_analysis.h"

#include <sndfile.h>
#include <stdlib.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace
{
const int kRate = 44100;

class MusicFolder
{
public:
    MusicFolder()
    {
        char pattern[] = "/tmp/velmora_bench_music_XXXXXX";
        if (mkdtemp(pattern))
            m_Path = pattern;
    }
    ~MusicFolder()
    {
        for (const auto& file : m_Files)
            unlink(file.second.c_str());
        if (!m_Path.empty())
            rmdir(m_Path.c_str());
    }

    // A stereo 16-bit FLAC (or Ogg Vorbis) of `seconds`: tones under a beat, with a little noise.
    const std::string& Music(int seconds, bool vorbis = false)
    {
        std::string& path = m_Files[seconds * 2 + vorbis];
        if (!path.empty())
            return path;
        path = m_Path + "/music_" + std::to_string(seconds) + (vorbis ? "s.ogg" : "s.flac");
        SF_INFO info = {};
        info.samplerate = kRate;
        info.channels = 2;
        info.format = vorbis ? SF_FORMAT_OGG | SF_FORMAT_VORBIS : SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
        SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
        if (!file)
            return path;
        double level = 0.0; // FLAC's fastest: half an hour is written in seconds
        sf_command(file, SFC_SET_COMPRESSION_LEVEL, &level, sizeof(level));
        std::vector<short> block(2 * kRate);
        uint32_t seed = 1;
        for (int64_t second = 0; second < seconds; ++second)
        {
            for (int i = 0; i < kRate; ++i)
            {
                const double t = static_cast<double>(second * kRate + i) / kRate;
                const double beat = std::exp(-std::fmod(t, 0.5) * 8.0);
                seed = seed * 1664525u + 1013904223u;
                const double noise = static_cast<double>(seed >> 20) / 4096.0 - 0.5;
                block[2 * i] = static_cast<short>(8000.0 * std::sin(2.0 * M_PI * 440.0 * t) + 4000.0 * beat * std::sin(2.0 * M_PI * 60.0 * t) + 200.0 * noise);
                block[2 * i + 1] = static_cast<short>(8000.0 * std::sin(2.0 * M_PI * 3000.0 * t) * beat + 200.0 * noise);
            }
            sf_writef_short(file, block.data(), kRate);
        }
        sf_close(file);
        return path;
    }

private:
    std::string m_Path;
    std::map<int, std::string> m_Files;
};

MusicFolder& Folder()
{
    static MusicFolder folder;
    return folder;
}

// The process's resident memory now (VmRSS) or at its highest (VmHWM), in MB.
double ResidentMegabytes(const char* field)
{
    FILE* status = fopen("/proc/self/status", "r");
    if (!status)
        return 0.0;
    char line[256];
    long kb = 0;
    const size_t length = strlen(field);
    while (fgets(line, sizeof line, status))
    {
        if (strncmp(line, field, length) == 0 && sscanf(line + length, "%ld", &kb) == 1)
            break;
    }
    fclose(status);
    return kb / 1024.0;
}

// From opening the file to `frames` frames of spectrum at 25 ms a frame, as a
// headless run does, from `startMs` on. The memory is the process's, the files
// made beforehand.
void MusicToFrames(benchmark::State& state, int frames, bool loop, bool vorbis = false, double startMs = 0.0)
{
    const std::string path = Folder().Music(static_cast<int>(state.range(0)), vorbis);
    for (auto _ : state)
    {
        Music music;
        std::string error;
        if (!LoadMusic(path, loop, music, error))
        {
            state.SkipWithError(error.c_str());
            break;
        }
        std::unique_ptr<SpectrumSource> source = MakeSpectrumSource(music);
        unsigned char spectrum[2][576];
        unsigned char waveform[2][576];
        for (int frame = 0; frame < frames; ++frame)
            source->Fill(startMs + frame * 25.0, spectrum, waveform);
        benchmark::DoNotOptimize(spectrum);
    }
    state.counters["resident_MB"] = ResidentMegabytes("VmRSS:");
    state.counters["peak_resident_MB"] = ResidentMegabytes("VmHWM:");
}

void BM_MusicFirstFrame(benchmark::State& state)
{
    MusicToFrames(state, 1, false);
}
BENCHMARK(BM_MusicFirstFrame)->Arg(1)->Arg(30 * 60)->ArgName("seconds")->Unit(benchmark::kMillisecond);

void BM_MusicFortyFrames(benchmark::State& state)
{
    MusicToFrames(state, 40, false);
}
BENCHMARK(BM_MusicFortyFrames)->Arg(1)->Arg(30 * 60)->ArgName("seconds")->Unit(benchmark::kMillisecond);

// FLAC seeks to its last frames; Vorbis, whose seeks libsndfile does not make
// exact, reads the whole music on a second decoder first.
void BM_LoopedMusicFirstFrame(benchmark::State& state)
{
    MusicToFrames(state, 1, true);
}
BENCHMARK(BM_LoopedMusicFirstFrame)->Arg(1)->Arg(30 * 60)->ArgName("seconds")->Unit(benchmark::kMillisecond);

void BM_LoopedVorbisFirstFrame(benchmark::State& state)
{
    MusicToFrames(state, 1, true, true);
}
BENCHMARK(BM_LoopedVorbisFirstFrame)->Arg(1)->Arg(60)->ArgName("seconds")->Unit(benchmark::kMillisecond);

// A first frame two thirds of the way in: a seek for FLAC, a reopened decoder
// read forward to it for Vorbis.
void BM_LoopedJumpFirstFrame(benchmark::State& state)
{
    const bool vorbis = state.range(1) != 0;
    MusicToFrames(state, 1, true, vorbis, state.range(0) * 1000.0 * 2.0 / 3.0);
}
BENCHMARK(BM_LoopedJumpFirstFrame)->Args({60, 0})->Args({60, 1})->ArgNames({"seconds", "vorbis"})->Unit(benchmark::kMillisecond);
}
