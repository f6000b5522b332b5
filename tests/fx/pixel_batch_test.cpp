// Pixel programs over batches of pixels: the wiring between the rasteriser's
// interpolated floats and a pixel program must give every pixel of a batch
// the colour bits and the verdict that one run for that pixel gives.
#include "pixel_program_support.h"

#include <gtest/gtest.h>

#include <string.h>

namespace {

using namespace pixeltest;

// Shades `pixels` pixels of `attrs` in batches of `count` through ShadeBatch
// and one at a time through Shade; returns the number of pixels kept, and
// fails on the first pixel whose colour bits or verdict differ.
int ExpectBatchesShadeAsOneAtATime(vd3d::ProgramLink& link, const std::vector<float>& all, int attrs, int count,
                                   const char* what)
{
    const int pixels = (int)(all.size() / (size_t)attrs);
    int kept = 0;
    for (int first = 0; first < pixels; first += count) {
        const int n = std::min(count, pixels - first);
        float lanes[vr::kMaxVaryings * kLanes], out[4 * kLanes];
        bool keep[kLanes];
        ToLanes(all, attrs, first, n, lanes);
        link.ShadeBatch(lanes, attrs, n, out, keep);
        for (int l = 0; l < n; ++l) {
            float c[4];
            const bool one = link.Shade(&all[(size_t)(first + l) * attrs], c);
            EXPECT_EQ(keep[l], one) << what << ": pixel " << first + l;
            if (!one)
                continue;
            ++kept;
            for (int i = 0; i < 4; ++i) {
                const float batched = out[i * kLanes + l];
                if (memcmp(&batched, &c[i], sizeof c[i]) != 0) {
                    ADD_FAILURE() << what << ": pixel " << first + l << " channel " << i << ": " << c[i]
                                  << " one at a time, " << batched << " batched (" << n << " lanes)";
                    return kept;
                }
            }
        }
    }
    return kept;
}

class PixelBatches : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string errors;
        ASSERT_TRUE(fx::Compile(ReadShipped("dancer.fx"), "dancer.fx", {}, &dancer_, &errors)) << errors;
        store_ = dancer_.store;
    }
    const fx::PassDesc& Pass(const char* technique)
    {
        for (const fx::TechniqueDesc& t : dancer_.techniques)
            if (t.name == technique)
                return t.passes[0];
        ADD_FAILURE() << "no technique " << technique;
        return dancer_.techniques[0].passes[0];
    }

    fx::CompiledEffect dancer_;
    std::vector<float> store_;
};

TEST_F(PixelBatches, DancerProgramsGiveEachPixelWhatOneRunGives)
{
    for (const char* technique : {"Smooth", "Toon", "Glow"}) {
        const fx::PassDesc& pass = Pass(technique);
        ASSERT_TRUE(pass.ps && pass.ps->selfContained) << technique;
        Wired w(pass, store_);
        const int attrs = w.link.Attrs();
        ASSERT_GE(attrs, 8) << technique;
        const std::vector<float> all = RandomAttrs(attrs, 40 * kLanes, 7);
        // Full batches, batches too small to run together, and the rest.
        for (int count : {kLanes, 1, 3, 4, 9})
            EXPECT_EQ(ExpectBatchesShadeAsOneAtATime(w.link, all, attrs, count, technique), 40 * kLanes);
    }
}

TEST_F(PixelBatches, NewUniformsReachTheNextBatch)
{
    Wired w(Pass("Glow"), store_);
    const int attrs = w.link.Attrs();
    const std::vector<float> all = RandomAttrs(attrs, kLanes, 3);
    float lanes[vr::kMaxVaryings * kLanes], before[4 * kLanes], after[4 * kLanes];
    bool keep[kLanes];
    ToLanes(all, attrs, 0, kLanes, lanes);
    w.link.ShadeBatch(lanes, attrs, kLanes, before, keep);
    // Another tint between two draws, as a colour change sets it.
    const float tint[4] = {0.2f, 0.9f, 0.4f, 0.5f};
    SetGlobal(dancer_, &store_, "material", tint, 4);
    w.SetUniforms(store_);
    w.link.ShadeBatch(lanes, attrs, kLanes, after, keep);
    EXPECT_NE(memcmp(before, after, sizeof before), 0);
    EXPECT_EQ(after[3 * kLanes], 0.5f);
    EXPECT_EQ(ExpectBatchesShadeAsOneAtATime(w.link, all, attrs, kLanes, "Glow, new tint"), kLanes);
}

TEST_F(PixelBatches, DiscardingAndLoopingProgramsKeepTheirVerdicts)
{
    // clip() and discard make a program that no batch runs; a loop bounded
    // by an input runs batched where the lanes agree, one by one where not.
    const char source[] =
        "struct VOut { float4 pos : POSITION; float4 colour : COLOR0; float4 shade : TEXCOORD0; };\n"
        "VOut VS(float3 p : POSITION) { VOut o; o.pos = float4(p, 1); o.colour = 1; o.shade = 0; return o; }\n"
        "float4 ClipPS(float4 c : COLOR0, float4 s : TEXCOORD0) : COLOR0\n"
        "{ clip(s.y - 0.5); return float4(c.rgb * 2 - 0.5, s.x); }\n"
        "float4 DiscardPS(float4 c : COLOR0, float4 s : TEXCOORD0) : COLOR0\n"
        "{ if (c.r > s.x) discard; return c / s.z; }\n"
        "float4 LoopPS(float4 c : COLOR0, float4 s : TEXCOORD0) : COLOR0\n"
        "{ float4 r = 0; for (int i = 0; i < 3; i++) { if (s.y > 0.8) r += c * 0.25; else r += 0.1; } return r; }\n"
        "technique Clip { pass P { VertexShader = compile vs_2_0 VS(); PixelShader = compile ps_2_0 ClipPS(); } }\n"
        "technique Discard { pass P { VertexShader = compile vs_2_0 VS(); PixelShader = compile ps_2_0 DiscardPS(); } }\n"
        "technique Loop { pass P { VertexShader = compile vs_2_0 VS(); PixelShader = compile ps_2_0 LoopPS(); } }\n";
    fx::CompiledEffect fx;
    std::string errors;
    ASSERT_TRUE(fx::Compile(source, "memory", {}, &fx, &errors)) << errors;
    ASSERT_EQ(fx.techniques.size(), 3u);
    for (const fx::TechniqueDesc& t : fx.techniques) {
        Wired w(t.passes[0], fx.store);
        const int attrs = w.link.Attrs();
        const std::vector<float> all = RandomAttrs(attrs, 24 * kLanes, 11);
        const int kept = ExpectBatchesShadeAsOneAtATime(w.link, all, attrs, kLanes, t.name.c_str());
        if (t.name == "Loop")
            EXPECT_EQ(kept, 24 * kLanes);
        else
            EXPECT_TRUE(kept > 0 && kept < 24 * kLanes) << t.name << " keeps " << kept;
    }
}

// A program that only copies keeps its own shortcut, batch or not.
TEST_F(PixelBatches, CopyingProgramsCopy)
{
    const char source[] =
        "struct VOut { float4 pos : POSITION; float4 colour : COLOR0; };\n"
        "VOut VS(float3 p : POSITION) { VOut o; o.pos = float4(p, 1); o.colour = 1; return o; }\n"
        "float4 PS(float4 c : COLOR0) : COLOR0 { return c.bgra; }\n"
        "technique T { pass P { VertexShader = compile vs_2_0 VS(); PixelShader = compile ps_2_0 PS(); } }\n";
    fx::CompiledEffect fx;
    std::string errors;
    ASSERT_TRUE(fx::Compile(source, "memory", {}, &fx, &errors)) << errors;
    Wired w(fx.techniques[0].passes[0], fx.store);
    const int attrs = w.link.Attrs();
    const std::vector<float> all = RandomAttrs(attrs, 2 * kLanes, 5);
    EXPECT_EQ(ExpectBatchesShadeAsOneAtATime(w.link, all, attrs, kLanes, "copy"), 2 * kLanes);
}

}  // namespace
