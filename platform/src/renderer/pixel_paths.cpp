// Which pixel path a draw's triangles take, every rule in one place, and
// the report of the paths taken: with VELMORA_PIXEL_PATHS set, the
// triangles of each path and the draws that missed the span loops, and why,
// are printed to standard error at exit.
#include "renderer/pixel_ops.h"
#include "renderer/spans.h"

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

// Every rule of who may take which pixel path, once a draw; FillTriangle
// follows it, the span loops falling back to the general path for a
// triangle whose planes are not finite.
void Rasterizer::ChoosePixelPaths(bool plainBlend)
{
    const StageState& s0 = state_.stages[0];
    // At the first stage the current colour is the diffuse one.
    auto modulates = [](DWORD op, DWORD a1, DWORD a2) {
        auto diffuse = [](DWORD a) { return a == D3DTA_DIFFUSE || a == D3DTA_CURRENT; };
        return op == D3DTOP_MODULATE && ((a1 == D3DTA_TEXTURE && diffuse(a2)) || (diffuse(a1) && a2 == D3DTA_TEXTURE));
    };
    fastModulate_ = fastPaths_ && !state_.program && state_.stageCount == 1 &&
                    s0.texture && s0.texture->levelCount > 0 && s0.resultArg != D3DTA_TEMP &&
                    modulates(s0.colorOp, s0.colorArg1, s0.colorArg2) &&
                    modulates(s0.alphaOp, s0.alphaArg1, s0.alphaArg2) &&
                    !state_.alphaTest && state_.colorWriteMask == 0xF && plainBlend;
    pixelBatches_ = fastPaths_ && state_.program && PixelBatches();
    spanMode_ = kSpanOff;
    spanMiss_ = !fastPaths_ ? kMissReference
                : state_.alphaTest ? kMissAlphaTest
                : state_.colorWriteMask != 0xF ? kMissWriteMask
                : !plainBlend ? kMissBlend : kMissNone;
    if (spanMiss_ != kMissNone)
        return;
    if (state_.program) {
        spanMiss_ = kMissProgram;
        if (!state_.program->Copies(spanSource_, spanConst_))
            return;
        #pragma GCC unroll 4
        for (int c = 0; c < 4; ++c)
            if (spanSource_[c] >= attrs_)
                return;
        spanMode_ = kSpanCopy;
        spanMiss_ = kMissNone;
        return;
    }
    if (passThrough_) {
        spanMode_ = kSpanColor;
        return;
    }
    spanMiss_ = kMissStages;
    if (!fastModulate_)
        return;
    const StageState& st = state_.stages[0];
    const bool lodPerDraw = !((st.texture->levelCount > 1 && st.mipFilter != D3DTEXF_NONE) || st.magFilter != st.minFilter);
    spanMiss_ = kMissLod;
    if (!lodPerDraw)
        return;
    const Resolved r = Resolve(st, prep_[0].log2Size, 0.f);
    const TexLevel& level = *r.level;
    // Texel indices stay inside int for coordinates below the sampler's 1e6.
    spanMiss_ = kMissLevel;
    if (!level.bits || level.width <= 0 || level.height <= 0 || level.width > 2048 || level.height > 2048)
        return;
    spanMiss_ = kMissNone;
    spanLevel_ = &level;
    spanTexSize_[0] = (float)level.width, spanTexSize_[1] = (float)level.height;
    uint32_t texel;
    if (st.addressU != D3DTADDRESS_BORDER && st.addressV != D3DTADDRESS_BORDER && UniformTexel(level, &texel)) {
        const Color c = Unpack(texel);
        spanTexel_[0] = c.r, spanTexel_[1] = c.g, spanTexel_[2] = c.b, spanTexel_[3] = c.a;
        spanMode_ = r.linear ? kSpanUniformLinear : kSpanUniformPoint;
    } else {
        spanMode_ = r.linear ? kSpanSampledLinear : kSpanSampledPoint;
    }
}

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
