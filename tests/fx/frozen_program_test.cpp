// Frozen pixel programs: a handle taken at one draw must shade, on any
// thread and after the uniforms and the wiring have moved on, exactly what
// the program gave when it was frozen.
#include "allocation_counter.h"
#include "pixel_program_support.h"

#include <gtest/gtest.h>

#include <string.h>

#include <thread>

namespace {

using namespace pixeltest;

const DWORD kFvf = D3DFVF_XYZ | D3DFVF_NORMAL;

// Every pixel's verdict and colour bits, through batches of `count` and one
// pixel at a time. Discarded pixels count by their verdict alone.
struct Shaded {
    std::vector<float> batched, single;
    std::vector<char> keptBatched, keptSingle;

    bool operator==(const Shaded& o) const
    {
        return keptBatched == o.keptBatched && keptSingle == o.keptSingle && batched.size() == o.batched.size() &&
               single.size() == o.single.size() &&
               memcmp(batched.data(), o.batched.data(), batched.size() * sizeof(float)) == 0 &&
               memcmp(single.data(), o.single.data(), single.size() * sizeof(float)) == 0;
    }
};

template <class Batch, class One>
Shaded ShadeAll(const std::vector<float>& all, int attrs, int count, Batch batch, One one)
{
    const int pixels = (int)(all.size() / (size_t)attrs);
    Shaded s;
    s.batched.assign((size_t)pixels * 4, 0.f);
    s.single.assign((size_t)pixels * 4, 0.f);
    s.keptBatched.assign((size_t)pixels, 0);
    s.keptSingle.assign((size_t)pixels, 0);
    for (int first = 0; first < pixels; first += count) {
        const int n = std::min(count, pixels - first);
        float lanes[vr::kMaxVaryings * kLanes], out[4 * kLanes];
        bool keep[kLanes];
        ToLanes(all, attrs, first, n, lanes);
        batch(lanes, attrs, n, out, keep);
        for (int l = 0; l < n; ++l) {
            const size_t p = (size_t)(first + l);
            s.keptBatched[p] = keep[l];
            for (int i = 0; keep[l] && i < 4; ++i)
                s.batched[p * 4 + i] = out[i * kLanes + l];
            float c[4];
            s.keptSingle[p] = one(&all[p * attrs], c);
            for (int i = 0; s.keptSingle[p] && i < 4; ++i)
                s.single[p * 4 + i] = c[i];
        }
    }
    return s;
}

Shaded ShadeLive(vd3d::ProgramLink& link, const std::vector<float>& all, int attrs, int count)
{
    return ShadeAll(
        all, attrs, count,
        [&](const float* a, int n, int c, float* out, bool* keep) { link.ShadeBatch(a, n, c, out, keep); },
        [&](const float* a, float* c) { return link.Shade(a, c); });
}

Shaded ShadeFrozen(vd3d::ProgramLink& link, int frozen, int thread, const std::vector<float>& all, int attrs,
                   int count)
{
    return ShadeAll(
        all, attrs, count,
        [&](const float* a, int n, int c, float* out, bool* keep) {
            link.ShadeBatchFrozen(frozen, thread, a, n, c, out, keep);
        },
        [&](const float* a, float* c) { return link.ShadeFrozen(frozen, thread, a, c); });
}

// Full batches, batches too small to run together, and odd sizes.
const int kCounts[] = {kLanes, 1, 3, 4, 9};

class FrozenPrograms : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string errors;
        ASSERT_TRUE(fx::Compile(ReadShipped("dancer.fx"), "dancer.fx", {}, &dancer_, &errors)) << errors;
        store_ = dancer_.store;
        const char source[] =
            "float4 tint = float4(0.2, 0.4, 0.6, 1.0);\n"
            "static float count = 0;\n"
            "struct VOut { float4 pos : POSITION; float4 colour : COLOR0; float4 shade : TEXCOORD0; };\n"
            "VOut VS(float3 p : POSITION) { VOut o; o.pos = float4(p, 1); o.colour = 1; o.shade = 0; return o; }\n"
            "float4 CopyPS(float4 c : COLOR0, float4 s : TEXCOORD0) : COLOR0 { return c.bgra; }\n"
            "float4 LoopPS(float4 c : COLOR0, float4 s : TEXCOORD0) : COLOR0\n"
            "{ float4 r = 0; for (int i = 0; i < 3; i++) { if (s.y > 0.8) r += c * tint; else r += 0.1; }\n"
            "  return r; }\n"
            "float4 CountPS(float4 c : COLOR0) : COLOR0 { count = count + 1; return c * frac(count / 5); }\n"
            "technique Copy { pass P { VertexShader = compile vs_2_0 VS(); PixelShader = compile ps_2_0 CopyPS(); } }\n"
            "technique Loop { pass P { VertexShader = compile vs_2_0 VS(); PixelShader = compile ps_2_0 LoopPS(); } }\n"
            "technique Count { pass P { VertexShader = compile vs_2_0 VS(); PixelShader = compile ps_2_0 CountPS(); } "
            "}\n";
        ASSERT_TRUE(fx::Compile(source, "memory", {}, &own_, &errors)) << errors;
    }
    static const fx::PassDesc& Pass(const fx::CompiledEffect& fx, const char* technique)
    {
        for (const fx::TechniqueDesc& t : fx.techniques)
            if (t.name == technique)
                return t.passes[0];
        ADD_FAILURE() << "no technique " << technique;
        return fx.techniques[0].passes[0];
    }
    const fx::PassDesc& Dancer(const char* technique) { return Pass(dancer_, technique); }
    void Tint(float r, float g, float b, float a)
    {
        const float tint[4] = {r, g, b, a};
        SetGlobal(dancer_, &store_, "material", tint, 4);
    }
    static void Wire(vd3d::ProgramLink& link, const Wired& w) { link.Setup(kFvf, vr::DecodeFvf(kFvf), w.vs, w.ps); }

    fx::CompiledEffect dancer_, own_;
    std::vector<float> store_;
};

TEST_F(FrozenPrograms, ShadeWhatTheyGaveWhenFrozen)
{
    for (const char* technique : {"Toon", "Glow", "Smooth"}) {
        Wired w(Dancer(technique), store_);
        Wired other(Pass(own_, "Loop"), own_.store);
        const int attrs = w.link.Attrs();
        const std::vector<float> all = RandomAttrs(attrs, 24 * kLanes, 7);
        std::vector<Shaded> before, after;
        for (int count : kCounts)
            before.push_back(ShadeLive(w.link, all, attrs, count));
        const int first = w.link.Freeze();
        ASSERT_GE(first, 0) << technique;
        // Another tint for the next draw, then another program altogether.
        Tint(0.2f, 0.9f, 0.4f, 0.5f);
        w.SetUniforms(store_);
        for (int count : kCounts)
            after.push_back(ShadeLive(w.link, all, attrs, count));
        const int second = w.link.Freeze();
        EXPECT_NE(second, first);
        Wire(w.link, other);
        w.link.ReadyThreads(2);
        for (size_t k = 0; k < before.size(); ++k) {
            if (std::string(technique) != "Smooth") {
                EXPECT_FALSE(before[k] == after[k]) << technique << ": the tint shows";
            }
            for (int thread : {0, 1}) {
                EXPECT_TRUE(ShadeFrozen(w.link, first, thread, all, attrs, kCounts[k]) == before[k])
                    << technique << ", " << kCounts[k] << " lanes, thread " << thread;
                EXPECT_TRUE(ShadeFrozen(w.link, second, thread, all, attrs, kCounts[k]) == after[k])
                    << technique << ", " << kCounts[k] << " lanes, thread " << thread;
            }
        }
        w.link.Thaw();
        Tint(1.0f, 0.6f, 0.3f, 1.0f);
    }
}

// The link may let go of the shader object; the handle keeps the program.
TEST_F(FrozenPrograms, OutliveTheirShader)
{
    Wired w(Dancer("Toon"), store_);
    auto* ps = new vd3d::ProgramPixelShader(nullptr, Dancer("Glow").ps);
    ps->SetUniforms(store_.data(), store_.size());
    w.link.Setup(kFvf, vr::DecodeFvf(kFvf), w.vs, ps);
    const int attrs = w.link.Attrs();
    const std::vector<float> all = RandomAttrs(attrs, 8 * kLanes, 3);
    const Shaded live = ShadeLive(w.link, all, attrs, kLanes);
    const int frozen = w.link.Freeze();
    ASSERT_GE(frozen, 0);
    Wire(w.link, w);
    ps->Release();
    w.link.ReadyThreads(1);
    EXPECT_TRUE(ShadeFrozen(w.link, frozen, 0, all, attrs, kLanes) == live);
    w.link.Thaw();
}

TEST_F(FrozenPrograms, ShareAHandleWhileNothingChanges)
{
    Wired toon(Dancer("Toon"), store_), glow(Dancer("Glow"), store_);
    vd3d::ProgramLink& link = toon.link;
    const int a = link.Freeze();
    EXPECT_EQ(link.Freeze(), a);
    // The same shaders set again, and the same values set again.
    Wire(link, toon);
    toon.SetUniforms(store_);
    EXPECT_EQ(link.Freeze(), a);
    Tint(0.5f, 0.5f, 0.5f, 1.f);
    toon.SetUniforms(store_);
    const int b = link.Freeze();
    EXPECT_NE(b, a);
    // The same pixel program fed by the fixed stage is wired anew.
    link.Setup(kFvf, vr::DecodeFvf(kFvf), nullptr, toon.ps);
    const int fixed = link.Freeze();
    EXPECT_NE(fixed, b);
    Wire(link, glow);
    const int c = link.Freeze();
    EXPECT_NE(c, fixed);
    // Only the last handle is shared: an earlier state comes back anew.
    Wire(link, toon);
    const int d = link.Freeze();
    EXPECT_NE(d, a);
    EXPECT_NE(d, b);
    EXPECT_NE(d, c);
    link.Thaw();
    EXPECT_EQ(link.Freeze(), 0);
    link.Thaw();
}

TEST_F(FrozenPrograms, OnlyProgramsThatKeepNothingBetweenPixelsFreeze)
{
    Wired count(Pass(own_, "Count"), own_.store), copy(Pass(own_, "Copy"), own_.store);
    ASSERT_FALSE(Pass(own_, "Count").ps->selfContained);
    EXPECT_EQ(count.link.Freeze(), -1);
    // A copy freezes, and copies.
    const int frozen = copy.link.Freeze();
    ASSERT_GE(frozen, 0);
    const int attrs = copy.link.Attrs();
    const std::vector<float> all = RandomAttrs(attrs, 2 * kLanes, 5);
    const Shaded live = ShadeLive(copy.link, all, attrs, kLanes);
    Wire(copy.link, count);
    EXPECT_EQ(copy.link.Freeze(), -1);
    copy.link.ReadyThreads(1);
    EXPECT_TRUE(ShadeFrozen(copy.link, frozen, 0, all, attrs, kLanes) == live);
    copy.link.Thaw();
    // The fixed stage has no program to freeze.
    vd3d::ProgramLink fixed;
    fixed.Setup(kFvf, vr::DecodeFvf(kFvf), nullptr, nullptr);
    EXPECT_EQ(fixed.Freeze(), -1);
}

// Four threads shading several handles in turns, each batch with another
// handle than its last, give what one thread gave for each.
TEST_F(FrozenPrograms, ThreadsShadeTheirHandlesAtOnce)
{
    Wired toon(Dancer("Toon"), store_), glow(Dancer("Glow"), store_), loop(Pass(own_, "Loop"), own_.store),
        copy(Pass(own_, "Copy"), own_.store);
    vd3d::ProgramLink& link = toon.link;
    const int attrs = link.Attrs();
    const std::vector<float> all = RandomAttrs(attrs, 12 * kLanes, 13);
    const int counts = (int)(sizeof kCounts / sizeof kCounts[0]);
    std::vector<int> handles;
    std::vector<Shaded> expected;  // by handle, then batch size
    auto freeze = [&](const Wired& w) {
        Wire(link, w);
        ASSERT_EQ(link.Attrs(), attrs);
        handles.push_back(link.Freeze());
        ASSERT_GE(handles.back(), 0);
        for (int count : kCounts)
            expected.push_back(ShadeLive(link, all, attrs, count));
    };
    for (int k = 0; k < 3; ++k) {
        Tint(0.3f * (float)k, 0.5f, 1.f - 0.2f * (float)k, 0.25f * (float)(k + 1));
        toon.SetUniforms(store_);
        glow.SetUniforms(store_);
        freeze(toon);
        freeze(glow);
        freeze(loop);
    }
    freeze(copy);
    const int threads = 4, handleCount = (int)handles.size();
    link.ReadyThreads(threads);
    std::vector<int> wrong((size_t)threads, 0);
    std::vector<std::thread> running;
    for (int t = 0; t < threads; ++t)
        running.emplace_back([&, t] {
            for (int round = 0; round < 2 * counts; ++round)
                for (int k = 0; k < handleCount; ++k) {
                    const int h = (k * (t + 1) + round + t) % handleCount, c = (round + t) % counts;
                    if (!(ShadeFrozen(link, handles[(size_t)h], t, all, attrs, kCounts[c]) ==
                          expected[(size_t)(h * counts + c)]))
                        ++wrong[(size_t)t];
                }
        });
    for (std::thread& r : running)
        r.join();
    for (int t = 0; t < threads; ++t)
        EXPECT_EQ(wrong[(size_t)t], 0) << "thread " << t;
    link.Thaw();
}

// After Thaw the handles start again from the same room: a steady frame
// takes nothing from the heap, and a thread that held handle 0 before
// does not take the new handle 0 for it.
TEST_F(FrozenPrograms, ThawedRoomIsReusedWithoutTheHeap)
{
    Wired toon(Dancer("Toon"), store_), glow(Dancer("Glow"), store_);
    vd3d::ProgramLink& link = toon.link;
    const int attrs = link.Attrs();
    const int threads = 3;
    link.ReadyThreads(threads);
    const std::vector<float> all = RandomAttrs(attrs, 4 * kLanes, 17);
    float lanes[vr::kMaxVaryings * kLanes], out[4 * kLanes], c[4];
    bool keep[kLanes];
    ToLanes(all, attrs, 0, kLanes, lanes);
    // Many draws a frame, the tint changing at each.
    auto frame = [&](float shift) {
        for (int draw = 0; draw < 150; ++draw) {
            Tint(shift + 0.004f * (float)draw, 0.5f, 0.25f, 1.f);
            toon.SetUniforms(store_);
            glow.SetUniforms(store_);
            Wire(link, draw % 2 ? glow : toon);
            const int h = link.Freeze();
            for (int t = 0; t < threads; ++t) {
                link.ShadeBatchFrozen(h, t, lanes, attrs, kLanes, out, keep);
                link.ShadeFrozen(h, t, all.data(), c);
            }
        }
        link.Thaw();
    };
    frame(0.f);
    const long before = s_Allocations.load();
    frame(0.1f);
    frame(0.2f);
    if (kAllocationsCounted) {
        EXPECT_EQ(s_Allocations.load() - before, 0);
    }

    // Every thread holds handle 0 of a frame; handle 0 of the next frame is
    // the same program with other values.
    Wire(link, toon);
    Tint(0.9f, 0.1f, 0.7f, 0.5f);
    toon.SetUniforms(store_);
    ASSERT_EQ(link.Freeze(), 0);
    for (int t = 0; t < threads; ++t)
        ShadeFrozen(link, 0, t, all, attrs, kLanes);
    link.Thaw();
    Tint(0.1f, 0.8f, 0.2f, 0.75f);
    toon.SetUniforms(store_);
    const Shaded live = ShadeLive(link, all, attrs, kLanes);
    ASSERT_EQ(link.Freeze(), 0);
    for (int t = 0; t < threads; ++t)
        EXPECT_TRUE(ShadeFrozen(link, 0, t, all, attrs, kLanes) == live) << "thread " << t;
    link.Thaw();
}

}  // namespace
