// The raster stage's worker threads: every band once, run after run.
#include "renderer/workers.h"

#include <gtest/gtest.h>

#include <sched.h>
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

TEST(RendererWorkers, EveryTaskRunsOnceInEveryRound)
{
    for (int threads : {1, 2, 5}) {
        vr::Workers workers(threads);
        EXPECT_EQ(workers.Threads(), threads);
        for (int round = 0; round < 50; ++round) {
            const int count = round % 7 == 0 ? 0 : 1 + round % 13;
            std::vector<std::atomic<int>> hits(20);
            for (auto& h : hits)
                h.store(0);
            workers.Run(count, [](void* context, int i) { (*(std::vector<std::atomic<int>>*)context)[i]++; },
                        &hits);
            for (int i = 0; i < 20; ++i)
                ASSERT_EQ(hits[i].load(), i < count ? 1 : 0) << threads << " threads, round " << round;
        }
    }
}

// Work handed out at once after the threads are made, and work after the
// workers went to sleep, is all done: nothing waits for a thread that missed
// a round.
TEST(RendererWorkers, RoundsRightAfterStartAndAfterSleepAllRun)
{
    auto count = [](void* context, int) { (*(std::atomic<int>*)context)++; };
    for (int made = 0; made < 1000; ++made) {
        vr::Workers workers(2 + made % 7);
        std::atomic<int> hits{0};
        workers.Run(9, count, &hits);
        ASSERT_EQ(hits.load(), 9) << "workers made " << made;
    }
    vr::Workers workers(4);
    for (int round = 0; round < 6; ++round) {
        std::atomic<int> hits{0};
        workers.Run(32, count, &hits);
        ASSERT_EQ(hits.load(), 32) << "round " << round;
        // Long enough for the workers to stop waiting awake.
        std::this_thread::sleep_for(std::chrono::milliseconds(round % 2 ? 5 : 0));
    }
}

// Each task knows which thread runs it, so that scratch space can be one a
// thread: the caller is 0, and no two threads share an index.
TEST(RendererWorkers, TasksKnowTheirThread)
{
    vr::Workers workers(4);
    EXPECT_EQ(vr::Workers::Current(), 0);
    struct Seen {
        std::atomic<int> badIndex{0};
        std::atomic<std::thread::id> owner[4];
        std::atomic<int> clash{0};
        std::thread::id caller = std::this_thread::get_id();
    } seen;
    for (auto& o : seen.owner)
        o.store(std::thread::id());
    for (int round = 0; round < 20; ++round)
        workers.Run(64, [](void* context, int) {
            Seen& s = *(Seen*)context;
            const int k = vr::Workers::Current();
            if (k < 0 || k >= 4) {
                s.badIndex++;
                return;
            }
            std::thread::id none;
            const std::thread::id me = std::this_thread::get_id();
            if (!s.owner[k].compare_exchange_strong(none, me) && none != me)
                s.clash++;
            if ((k == 0) != (me == s.caller))
                s.clash++;
        }, &seen);
    EXPECT_EQ(seen.badIndex.load(), 0);
    EXPECT_EQ(seen.clash.load(), 0);
    EXPECT_EQ(vr::Workers::Current(), 0);
}

TEST(RendererWorkers, ThreadCountFromTheEnvironment)
{
    const char* before = getenv("VELMORA_RENDER_THREADS");
    const std::string saved = before ? before : "";
    setenv("VELMORA_RENDER_THREADS", "3", 1);
    EXPECT_EQ(vr::RenderThreads(), 3);
    setenv("VELMORA_RENDER_THREADS", "1", 1);
    EXPECT_EQ(vr::RenderThreads(), 1);
    setenv("VELMORA_RENDER_THREADS", "64", 1);
    EXPECT_EQ(vr::RenderThreads(), 8);
    unsetenv("VELMORA_RENDER_THREADS");
    const int cores = vr::AllowedCores();
    EXPECT_EQ(vr::RenderThreads(), cores < 1 ? 1 : (cores > 8 ? 8 : cores));

    // Held to fewer cores (as by taskset), the default follows the CPU set,
    // not the machine.
    cpu_set_t all;
    ASSERT_EQ(sched_getaffinity(0, sizeof(all), &all), 0);
    EXPECT_EQ(cores, CPU_COUNT(&all));
    for (int wanted : {1, 2, 3}) {
        cpu_set_t some;
        CPU_ZERO(&some);
        int taken = 0;
        for (int cpu = 0; cpu < CPU_SETSIZE && taken < wanted; ++cpu)
            if (CPU_ISSET(cpu, &all)) {
                CPU_SET(cpu, &some);
                ++taken;
            }
        if (taken < wanted)
            break;
        ASSERT_EQ(sched_setaffinity(0, sizeof(some), &some), 0);
        EXPECT_EQ(vr::AllowedCores(), wanted);
        EXPECT_EQ(vr::RenderThreads(), wanted);
        // The variable still decides over the CPU set.
        setenv("VELMORA_RENDER_THREADS", "5", 1);
        EXPECT_EQ(vr::RenderThreads(), 5);
        unsetenv("VELMORA_RENDER_THREADS");
        EXPECT_EQ(sched_setaffinity(0, sizeof(all), &all), 0);
    }
    if (before)
        setenv("VELMORA_RENDER_THREADS", saved.c_str(), 1);
}
