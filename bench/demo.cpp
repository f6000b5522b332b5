// The module's frame as the player runs it: one Render call of the demo scene
// with nothing under the mouse, with the mouse over a dancer (veil at alpha 0)
// and with its ring menu open, at 800 x 600, 1920 x 1080 and 3840 x 2160.
// Beside the wall time, cpu_ms is the processor time of a frame over all
// threads, so that threads that spin or wait show.
#include <benchmark/benchmark.h>

#include "demo_scene.h"

#include <sys/resource.h>

#include <chrono>
#include <memory>
#include <string>

using testing_support::DemoScene;
using testing_support::DemoState;

namespace {

double ProcessSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

// One module runs at a time: a benchmark of another size quits the last one.
DemoScene* SceneOfSize(int width, int height, std::string& error)
{
    static std::unique_ptr<DemoScene> scene;
    if (scene && scene->Width() == width && scene->Height() == height)
        return scene.get();
    scene.reset();
    scene = std::make_unique<DemoScene>(width, height);
    if (!scene->Start(error))
    {
        scene.reset();
        return nullptr;
    }
    return scene.get();
}

void DemoFrame(benchmark::State& state, int width, int height, DemoState demoState)
{
    std::string error;
    DemoScene* scene = SceneOfSize(width, height, error);
    if (!scene || !scene->Enter(demoState, error))
    {
        state.SkipWithError(error.c_str());
        return;
    }
    bool held = true;
    double seconds = 0, cpuSeconds = 0;
    for (auto _ : state)
    {
        scene->BeginFrame();
        const double cpuStart = ProcessSeconds();
        const auto start = std::chrono::steady_clock::now();
        scene->Render();
        const auto end = std::chrono::steady_clock::now();
        cpuSeconds += ProcessSeconds() - cpuStart;
        scene->EndFrame();
        held = held && scene->InState(demoState);
        const double elapsed = std::chrono::duration<double>(end - start).count();
        seconds += elapsed;
        state.SetIterationTime(elapsed);
    }
    if (!held)
        state.SkipWithError("the scene left its state during the run");
    state.counters["ns_per_pixel"] =
        benchmark::Counter(seconds * 1e9 / (static_cast<double>(width) * height), benchmark::Counter::kAvgIterations);
    state.counters["cpu_ms"] = benchmark::Counter(cpuSeconds * 1e3, benchmark::Counter::kAvgIterations);
}

void Register()
{
    const struct
    {
        const char* name;
        int width, height;
    } sizes[] = {{"DemoFrame", 800, 600}, {"DemoFrame1080", 1920, 1080}, {"DemoFrame4K", 3840, 2160}};
    for (const auto& size : sizes)
        for (DemoState demoState : {DemoState::NoMenu, DemoState::Hover, DemoState::MenuOpen})
        {
            const std::string name = std::string(size.name) + "/" + testing_support::DemoStateName(demoState);
            const int width = size.width, height = size.height;
            benchmark::RegisterBenchmark(name.c_str(),
                                         [=](benchmark::State& state) {
                                             DemoFrame(state, width, height, demoState);
                                         })
                ->UseManualTime()
                ->Unit(benchmark::kMillisecond);
        }
}

const int s_Registered = (Register(), 0);

} // namespace
