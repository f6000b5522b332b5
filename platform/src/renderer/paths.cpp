// The report of the pixel paths taken: with VELMORA_PIXEL_PATHS set, the
// triangles of each path and the draws that missed the span loops, and why,
// are printed to standard error at exit.
#include "renderer/raster.h"

#include <stdio.h>
#include <stdlib.h>

#include <atomic>

namespace vr {

namespace {

struct PathReport {
    bool on = getenv("VELMORA_PIXEL_PATHS") != nullptr;
    std::atomic<uint64_t> paths[4] = {};
    std::atomic<uint64_t> planesMissed{0};
    std::atomic<uint64_t> draws{0};
    std::atomic<uint64_t> misses[16] = {};

    ~PathReport()
    {
        if (!on)
            return;
        static const char* const kPaths[] = {"span loops", "program batches", "one-texture loop", "general"};
        static const char* const kMisses[] = {"",
                                              "the fast paths are switched off",
                                              "alpha test",
                                              "colour write mask",
                                              "blend other than none or source alpha",
                                              "pixel program does more than hand on floats",
                                              "stages do more than pass the colour or modulate one texture",
                                              "texture's level of detail changes from pixel to pixel",
                                              "texture level empty or wider than 2048"};
        fprintf(stderr, "pixel paths, triangles:");
        for (int p = 0; p < 4; ++p)
            fprintf(stderr, " %s %llu;", kPaths[p], (unsigned long long)paths[p].load());
        fprintf(stderr, " planes not finite %llu\n", (unsigned long long)planesMissed.load());
        fprintf(stderr, "pixel paths, draws: %llu; missed the span loops:\n", (unsigned long long)draws.load());
        for (int m = 1; m < (int)(sizeof kMisses / sizeof kMisses[0]); ++m)
            if (misses[m].load())
                fprintf(stderr, "  %llu %s\n", (unsigned long long)misses[m].load(), kMisses[m]);
    }
};

PathReport g_report;

}  // namespace

void PixelPipe::CountDraw(SpanMiss miss)
{
    if (!g_report.on)
        return;
    g_report.draws.fetch_add(1, std::memory_order_relaxed);
    g_report.misses[miss].fetch_add(1, std::memory_order_relaxed);
}

void PixelPipe::CountTriangle(PixelPath path, bool planesMissed)
{
    if (!g_report.on)
        return;
    g_report.paths[path].fetch_add(1, std::memory_order_relaxed);
    if (planesMissed)
        g_report.planesMissed.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace vr
