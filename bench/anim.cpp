// Figures of the character animation: one dancer's per-frame pass with its
// controls linked and moving, and skinning alone.
#include <benchmark/benchmark.h>

#include "ik/CIKModel.h"
#include "main.h"
#include "plugin.h"

#include <string>

namespace
{
// A dancer as the scene drives it: every control on its first key and
// linked to a band, each band moving.
bool LoadDancer(CIKModel& model, const char* file)
{
    g_DataPath = std::string(VELMORA_PLUGIN_DIR) + "/data/";
    if (!model.LoadFile((g_DataPath + file).c_str()) || model.m_Controls.empty())
        return false;
    int i = 0;
    for (CIKControl& c : model.m_Controls)
    {
        c.NextKey();
        c.m_Type = 2 + i % 3;
        c.m_Mode = i % 3;
        ++i;
    }
    g_fBass = 0.35f;
    g_fMedium = 0.2f;
    g_fTreble = 0.1f;
    return true;
}

void DancerPass(benchmark::State& state, const char* file)
{
    CIKModel model;
    if (!LoadDancer(model, file))
    {
        state.SkipWithError("dancer data missing: build the velmora_dancers target");
        return;
    }
    for (auto _ : state)
    {
        model.ResetPose();
        model.UpdateControls(0.025f);
        model.SolveAll();
        model.ApplyToMesh();
        benchmark::DoNotOptimize(model.m_BoxMax);
    }
    // The scene runs the pass twice per 25 ms frame for every dancer.
    state.counters["dancers_per_frame"] = benchmark::Counter(
        0.025 / 2 * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void Skinning(benchmark::State& state, const char* file)
{
    CIKModel model;
    if (!LoadDancer(model, file))
    {
        state.SkipWithError("dancer data missing: build the velmora_dancers target");
        return;
    }
    for (auto _ : state)
    {
        model.Skin();
        benchmark::DoNotOptimize(model.m_pRenderVertices[0]);
    }
    state.counters["corners"] = model.m_NumRenderVertices;
    // Seconds per thousand corners.
    state.counters["per_1000_corners"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * model.m_NumRenderVertices / 1000.0,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
} // namespace

BENCHMARK_CAPTURE(DancerPass, slim, "dancer_slim.xml")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(DancerPass, broad, "dancer_broad.xml")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(Skinning, slim, "dancer_slim.xml")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(Skinning, broad, "dancer_broad.xml")->Unit(benchmark::kMicrosecond);
