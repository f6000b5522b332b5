// The raster stage's worker threads: every band once, run after run.
#include "workers.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <atomic>
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
    const int cores = (int)std::thread::hardware_concurrency();
    EXPECT_EQ(vr::RenderThreads(), cores < 1 ? 1 : (cores > 8 ? 8 : cores));
    if (before)
        setenv("VELMORA_RENDER_THREADS", saved.c_str(), 1);
}
