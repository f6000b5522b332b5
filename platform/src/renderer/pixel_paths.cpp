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

std::atomic<bool> g_fastPixelPaths{true};
std::atomic<bool> g_pixelBatches{true};

}  // namespace

void SetFastPixelPaths(bool enable)
{
    g_fastPixelPaths.store(enable);
}

void SetPixelBatches(bool enable)
{
    g_pixelBatches.store(enable);
}

bool PixelPipe::PixelBatches()
{
    return g_pixelBatches.load(std::memory_order_relaxed);
}

void Rasterizer::SetState(const PixelState& state)
{
    pipe_ = -1;
    pipeDirect_ = false;
    state_ = state;
    // The special case that D3DBLEND_BOTH* replaces the destination factor.
    if (state_.srcBlend == D3DBLEND_BOTHSRCALPHA)
        state_.srcBlend = D3DBLEND_SRCALPHA, state_.destBlend = D3DBLEND_INVSRCALPHA;
    else if (state_.srcBlend == D3DBLEND_BOTHINVSRCALPHA)
        state_.srcBlend = D3DBLEND_INVSRCALPHA, state_.destBlend = D3DBLEND_SRCALPHA;
    if (!target_.depth)
        state_.zEnable = false;
    attrs_ = state_.program ? std::min(std::max(state_.programAttrs, 0), kMaxVaryings) : kAttrs;
    passThrough_ = true;
    for (int s = 0; s < state_.stageCount; ++s) {
        const StageState& st = state_.stages[s];
        StagePrep& prep = prep_[s];
        prep.set = (int)(st.texCoordIndex & 0xffff);
        if (prep.set >= kTexSets)
            prep.set = 0;
        prep.log2Size = 0.f;
        if (st.texture) {
            const TexLevel& l0 = st.texture->levels[0];
            prep.log2Size = log2f((float)std::max(l0.width, l0.height));
        }
        // A stage that reads a texture it does not have passes its input on,
        // so untextured geometry shows its vertex colour and alpha.
        auto readsTexture = [](DWORD op, DWORD a1, DWORD a2) {
            return ((a1 & D3DTA_SELECTMASK) == D3DTA_TEXTURE && op != D3DTOP_SELECTARG2) ||
                   ((a2 & D3DTA_SELECTMASK) == D3DTA_TEXTURE && op != D3DTOP_SELECTARG1);
        };
        prep.passesWithoutTexture = !st.texture && readsTexture(st.colorOp, st.colorArg1, st.colorArg2) &&
                                    (st.alphaOp == D3DTOP_DISABLE ||
                                     readsTexture(st.alphaOp, st.alphaArg1, st.alphaArg2));
        auto onlyTexture = [](DWORD op, DWORD a1, DWORD a2) {
            return op == D3DTOP_DISABLE || (op == D3DTOP_SELECTARG1 && (a1 & ~D3DTA_SELECTMASK) == 0 &&
                                            (a1 == D3DTA_TEXTURE || a1 == D3DTA_CURRENT)) ||
                   (op == D3DTOP_MODULATE && (a1 == D3DTA_TEXTURE || a1 == D3DTA_CURRENT) &&
                    (a2 == D3DTA_TEXTURE || a2 == D3DTA_CURRENT));
        };
        if (st.texture || st.resultArg == D3DTA_TEMP || !onlyTexture(st.colorOp, st.colorArg1, st.colorArg2) ||
            !onlyTexture(st.alphaOp, st.alphaArg1, st.alphaArg2))
            passThrough_ = false;
    }
    Color f = passThrough_ ? Color{0, 0, 0, 0} : Unpack(state_.textureFactor);
    factor_[0] = f.r, factor_[1] = f.g, factor_[2] = f.b, factor_[3] = f.a;

    const bool plainBlend = !state_.alphaBlend || (state_.srcBlend == D3DBLEND_SRCALPHA &&
                                                   state_.destBlend == D3DBLEND_INVSRCALPHA &&
                                                   state_.blendOp == D3DBLENDOP_ADD);
    fastPaths_ = g_fastPixelPaths.load(std::memory_order_relaxed);
    ChoosePixelPaths(plainBlend);
    CountDraw(spanMiss_);
}

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
    const bool fastModulate = fastPaths_ && !state_.program && state_.stageCount == 1 &&
                              s0.texture && s0.texture->levelCount > 0 && s0.resultArg != D3DTA_TEMP &&
                              modulates(s0.colorOp, s0.colorArg1, s0.colorArg2) &&
                              modulates(s0.alphaOp, s0.alphaArg1, s0.alphaArg2) &&
                              !state_.alphaTest && state_.colorWriteMask == 0xF && plainBlend;
    path_ = fastPaths_ && state_.program && PixelBatches() ? kPathProgramBatch
            : fastModulate                                 ? kPathModulate
                                                           : kPathGeneral;
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
    if (!fastModulate)
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
