// The raster stage's own worker threads beside oneTBB (a task_arena of the
// same number of threads, the caller among them) on hand-outs shaped like the
// renderer's: screen tiles of a few microseconds each, a few hand-outs a
// frame, a frame every 25 ms. The work is a calibrated chain of dependent
// float operations, so that it costs processor time as a tile does.
// cpu_ms is the processor time over all threads per iteration, spare_cpu_ms
// that less the work's own time on one thread: what spinning, waking and
// handing out cost. The kernel counts a thread running on another core only
// at its next tick or sleep, so cpu_ms is only right over many iterations or
// where every thread sleeps at the end of one (the frame then idle case).
#include <benchmark/benchmark.h>

#include "renderer/workers.h"

#include <sys/resource.h>
#include <time.h>

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>
#include <tbb/partitioner.h>
#include <tbb/task_arena.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double ProcessSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

// A chain of dependent multiply-adds: neither vectorised nor folded away.
float Chain(int steps, float x)
{
    for (int i = 0; i < steps; ++i)
    {
        x = x * 0.9999999f + 1e-7f;
        benchmark::DoNotOptimize(x);
    }
    return x;
}

// Steps of the chain a microsecond, from the fastest of a few timed runs.
double StepsPerMicrosecond()
{
    static const double steps = [] {
        const int n = 200000;
        double best = 1e9;
        for (int run = 0; run < 7; ++run)
        {
            const auto start = Clock::now();
            benchmark::DoNotOptimize(Chain(n, 1.0f));
            best = std::min(best, std::chrono::duration<double, std::micro>(Clock::now() - start).count());
        }
        return n / best;
    }();
    return steps;
}

double ThreadSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

struct Work
{
    int steps;
};

void WorkTask(void* context, int i)
{
    benchmark::DoNotOptimize(Chain(static_cast<const Work*>(context)->steps, static_cast<float>(i)));
}

void EmptyTask(void*, int) {}

// The processor time of `tasks` tasks on this thread alone, the median of a
// few runs.
double SerialSeconds(int tasks, void (*task)(void*, int), void* context)
{
    std::vector<double> runs;
    for (int run = 0; run < 5; ++run)
    {
        const double start = ThreadSeconds();
        for (int i = 0; i < tasks; ++i)
            task(context, i);
        runs.push_back(ThreadSeconds() - start);
    }
    std::nth_element(runs.begin(), runs.begin() + 2, runs.end());
    return runs[2];
}

void SetCpuCounters(benchmark::State& state, double cpuSeconds, double workSeconds)
{
    const double iterations = static_cast<double>(state.iterations());
    state.counters["cpu_ms"] = cpuSeconds * 1e3 / iterations;
    state.counters["spare_cpu_ms"] = (cpuSeconds / iterations - workSeconds) * 1e3;
}

// The two pools behind one call: task(context, i) for i in [0, count), the
// caller taking part, returning when all are done.
class Pool
{
public:
    virtual ~Pool() = default;
    virtual void Run(int count, void (*task)(void*, int), void* context) = 0;
};

class OwnPool : public Pool
{
public:
    explicit OwnPool(int threads) : workers_(threads) {}
    void Run(int count, void (*task)(void*, int), void* context) override { workers_.Run(count, task, context); }

private:
    vr::Workers workers_;
};

// One slot of the arena is the caller's, as with the own pool.
template <class Partitioner>
class TbbPool : public Pool
{
public:
    explicit TbbPool(int threads) : arena_(threads, 1) { arena_.initialize(); }
    void Run(int count, void (*task)(void*, int), void* context) override
    {
        arena_.execute([&] {
            tbb::parallel_for(
                tbb::blocked_range<int>(0, count, 1),
                [&](const tbb::blocked_range<int>& r) {
                    for (int i = r.begin(); i != r.end(); ++i)
                        task(context, i);
                },
                Partitioner());
        });
    }

private:
    tbb::task_arena arena_;
};

enum PoolKind
{
    kOwn,
    kTbbSimple,
    kTbbAuto
};

std::unique_ptr<Pool> MakePool(PoolKind kind, int threads)
{
    switch (kind)
    {
    case kOwn:
        return std::make_unique<OwnPool>(threads);
    case kTbbSimple:
        return std::make_unique<TbbPool<tbb::simple_partitioner>>(threads);
    case kTbbAuto:
        return std::make_unique<TbbPool<tbb::auto_partitioner>>(threads);
    }
    return nullptr;
}

// Hand-outs of `tasks` tasks of `micros` each, `handouts` of them an
// iteration, the caller working `apart` microseconds on its own before each
// (the next flush's geometry); the threads sleep between the benchmarks.
void Handouts(benchmark::State& state, PoolKind kind, int handouts, int tasks, double micros, double apart = 0)
{
    Work work{static_cast<int>(micros * StepsPerMicrosecond())};
    Work own{static_cast<int>(apart * StepsPerMicrosecond())};
    void (*task)(void*, int) = micros > 0 ? WorkTask : EmptyTask;
    const double workSeconds = handouts * (SerialSeconds(tasks, task, &work) + SerialSeconds(1, WorkTask, &own));
    std::unique_ptr<Pool> pool = MakePool(kind, static_cast<int>(state.range(0)));
    double cpuSeconds = 0;
    for (auto _ : state)
    {
        const double cpuStart = ProcessSeconds();
        for (int h = 0; h < handouts; ++h)
        {
            WorkTask(&own, h);
            pool->Run(tasks, task, &work);
        }
        cpuSeconds += ProcessSeconds() - cpuStart;
    }
    SetCpuCounters(state, cpuSeconds, workSeconds);
}

// A 1920 x 1080 frame's tiles in one hand-out.
void OneHandout(benchmark::State& state, PoolKind kind)
{
    Handouts(state, kind, 1, 510, 10);
}

// A frame of several flushes.
void Flushes(benchmark::State& state, PoolKind kind)
{
    Handouts(state, kind, 10, 50, 5);
}

// The same with the caller busy between flushes: what the workers spend
// waiting for the next.
void FlushesApart(benchmark::State& state, PoolKind kind)
{
    Handouts(state, kind, 10, 50, 5, 200);
}

// What handing out costs, with the workers awake from the last one.
void Latency(benchmark::State& state, PoolKind kind)
{
    Handouts(state, kind, 1, 8, 0);
}

// A frame's hand-out, then the caller idle until the next frame at 40 frames
// a second: spare_cpu_ms holds what the threads spend while it sleeps, and
// handout_ms is the hand-out's wall time with the workers woken from sleep.
void Frame(benchmark::State& state, PoolKind kind)
{
    Work work{static_cast<int>(10 * StepsPerMicrosecond())};
    const double workSeconds = SerialSeconds(510, WorkTask, &work);
    std::unique_ptr<Pool> pool = MakePool(kind, static_cast<int>(state.range(0)));
    double cpuSeconds = 0, handoutSeconds = 0;
    for (auto _ : state)
    {
        const double cpuStart = ProcessSeconds();
        const auto start = Clock::now();
        pool->Run(510, WorkTask, &work);
        handoutSeconds += std::chrono::duration<double>(Clock::now() - start).count();
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
        cpuSeconds += ProcessSeconds() - cpuStart;
    }
    SetCpuCounters(state, cpuSeconds, workSeconds);
    state.counters["handout_ms"] = benchmark::Counter(handoutSeconds * 1e3, benchmark::Counter::kAvgIterations);
}

void Register()
{
    const struct
    {
        const char* name;
        PoolKind kind;
    } pools[] = {{"own", kOwn}, {"tbb_simple", kTbbSimple}, {"tbb_auto", kTbbAuto}};
    const struct
    {
        const char* name;
        void (*run)(benchmark::State&, PoolKind);
    } cases[] = {{"one_handout_510x10us", OneHandout},
                 {"flushes_10x50x5us", Flushes},
                 {"flushes_10x50x5us_200us_apart", FlushesApart},
                 {"frame_then_25ms_idle", Frame},
                 {"latency_8_empty", Latency}};
    for (const auto& c : cases)
        for (const auto& p : pools)
        {
            auto* b = benchmark::RegisterBenchmark((std::string(c.name) + "/" + p.name).c_str(), c.run, p.kind);
            b->ArgName("threads")->Arg(2)->Arg(4)->Arg(8)->UseRealTime()->Unit(benchmark::kMicrosecond);
            if (c.run == Frame)
                b->Iterations(40);
        }
}

const int registered = (Register(), 0);

}  // namespace
