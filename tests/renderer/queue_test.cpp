// The frame queue: every kind of command waits in one queue, binned by the
// bands of rows it touches, and comes out as if drawn at once, whatever the
// number of threads and wherever the band edges fall.
#include "render_threads.h"
#include "stage_support.h"

#include <gtest/gtest.h>

#include <math.h>

#include <functional>
#include <string>
#include <vector>

using namespace stagetest;

namespace {

// A program with one constant, frozen with it: its colour is the diffuse
// red, the constant's green and half the diffuse blue; a green above 0.9
// discards the pixel.
class Tinted final : public vr::PixelProgram {
public:
    float tint = 0.25f;
    int freezes = 0, thaws = 0;
    bool frozenAllowed = true;
    std::vector<float> frozen;

    bool Shade(const float* attr, float out[4]) override { return Colour(tint, attr, out); }
    int Freeze() override
    {
        ++freezes;
        if (!frozenAllowed)
            return -1;
        frozen.push_back(tint);
        return (int)frozen.size() - 1;
    }
    void Thaw() override
    {
        ++thaws;
        frozen.clear();
    }
    bool ShadeFrozen(int handle, int /*thread*/, const float* attr, float out[4]) override
    {
        return Colour(frozen[(size_t)handle], attr, out);
    }
    void ShadeBatchFrozen(int handle, int /*thread*/, const float* attr, int attrs, int count, float* out,
                          bool* keep) override
    {
        const float t = frozen[(size_t)handle];
        ShadeOneByOne(attr, attrs, count, out, keep, [t](const float* a, float* c) { return Colour(t, a, c); });
    }

private:
    static bool Colour(float t, const float* attr, float out[4])
    {
        out[0] = attr[0];
        out[1] = t;
        out[2] = attr[2] * 0.5f;
        out[3] = 1.f;
        return attr[1] < 0.9f;  // a green above 0.9 discards
    }
};

vr::Vertex Shaded(float x, float y, float z, float r, float g, float b, float a = 1.f)
{
    return ScreenVertex(x, y, z, r, g, b, a);
}

// A scene of every kind of command across a 300 x 200 target (band edges
// every 16 rows): clears, span triangles, general triangles (alpha test,
// other blends), program triangles, lines and points, overlapping.
void DrawScene(Canvas& c, Tinted& program)
{
    c.raster.Clear(0, 0, 300, 200, true, 0xff102030u, true, 1.f);
    vr::PixelState plain = PlainState();
    plain.zEnable = true;
    plain.zWrite = true;
    c.raster.SetState(plain);
    for (int i = 0; i < 12; ++i) {
        const float x = 7.f + 23.f * i, y = 3.f + 15.f * i;
        c.raster.DrawTriangle(Shaded(x, y, 0.5f - 0.02f * i, 0.1f * i, 0.5f, 0.3f),
                              Shaded(x + 90.f, y + 10.f, 0.4f, 0.9f, 0.1f * i, 0.2f),
                              Shaded(x + 20.f, y + 120.f, 0.6f, 0.3f, 0.7f, 0.05f * i), true);
    }
    vr::PixelState tested = plain;
    tested.alphaTest = true;
    tested.alphaFunc = D3DCMP_GREATER;
    tested.alphaRef = 100;
    tested.alphaBlend = true;
    tested.srcBlend = D3DBLEND_DESTCOLOR;
    tested.destBlend = D3DBLEND_SRCCOLOR;
    c.raster.SetState(tested);
    c.raster.DrawTriangle(Shaded(-20, -10, 0.3f, 1, 0, 0, 0), Shaded(310, 40, 0.3f, 0, 1, 0, 1),
                          Shaded(100, 230, 0.3f, 0, 0, 1, 0.8f), true);
    c.raster.DrawLine(Shaded(3, 190, 0.1f, 1, 1, 0), Shaded(297, 5, 0.1f, 0, 1, 1), true, true);
    c.raster.DrawPoint(Shaded(64, 64, 0.f, 1, 1, 1), true);
    c.raster.DrawPoint(Shaded(299, 199, 0.f, 1, 0, 1), true);
    c.raster.Clear(120, 60, 190, 130, false, 0, true, 0.2f);
    vr::PixelState shaded = plain;
    shaded.program = &program;
    shaded.programAttrs = 8;
    for (int i = 0; i < 3; ++i) {
        program.tint = 0.2f + 0.3f * i;
        c.raster.SetState(shaded);
        const float x = 40.f + 70.f * i;
        c.raster.DrawTriangle(Shaded(x, 20, 0.25f, 0.9f, 0.3f * i + 0.1f, 0.4f),
                              Shaded(x + 100, 90, 0.15f, 0.2f, 0.95f, 0.8f),
                              Shaded(x - 30, 180, 0.35f, 0.5f, 0.2f, 1.f), true);
    }
    c.raster.SetState(plain);
    c.raster.DrawTriangle(Shaded(150, 0, 0.f, 0, 0, 1), Shaded(300, 0, 0.f, 0, 0, 1), Shaded(300, 200, 0.f, 0, 0, 1),
                          true);
    c.raster.Clear(250, 150, 300, 200, true, 0xffabcdefu, false, 0.f);
    c.raster.Flush();
}

struct Picture {
    std::vector<uint32_t> color;
    std::vector<float> depth;
    uint64_t written;
};

Picture Draw(const char* threads, const std::function<void(Canvas&)>& scene)
{
    ScopedRenderThreads scope(threads);
    Canvas c(300, 200);
    scene(c);
    c.raster.Flush();
    return {c.color, c.depth, c.raster.pixelsWritten};
}

// Drawn at once on one thread, as the reference.
Picture DrawAtOnce(const std::function<void(Canvas&)>& scene)
{
    setenv("VELMORA_RENDER_THREADS", "1", 1);
    Canvas c(300, 200);
    scene(c);
    c.raster.Flush();
    unsetenv("VELMORA_RENDER_THREADS");
    return {c.color, c.depth, c.raster.pixelsWritten};
}

void ExpectSame(const Picture& a, const Picture& b, const std::string& what)
{
    EXPECT_TRUE(a.color == b.color) << what;
    EXPECT_TRUE(memcmp(a.depth.data(), b.depth.data(), a.depth.size() * sizeof(float)) == 0) << what;
    EXPECT_EQ(a.written, b.written) << what;
}

}  // namespace

TEST(FrameQueue, EveryKindOfCommandComesOutAsDrawnAtOnce)
{
    Tinted reference;
    const Picture once = DrawAtOnce([&](Canvas& c) { DrawScene(c, reference); });
    for (int threads = 1; threads <= 8; ++threads) {
        Tinted program;
        const Picture p = Draw(std::to_string(threads).c_str(), [&](Canvas& c) { DrawScene(c, program); });
        ExpectSame(p, once, std::to_string(threads) + " threads");
        if (threads > 1) {
            EXPECT_EQ(program.freezes, 3) << "one freeze a state";
            EXPECT_GE(program.thaws, 1);
        }
    }
    // The scene reaches every kind of pixel: a clear, the point, the line.
    EXPECT_EQ(once.color[(size_t)199 * 300 + 299], 0xffabcdefu);
}

// A program whose constants change between draws keeps, in the queue, the
// ones it had at each draw.
TEST(FrameQueue, QueuedProgramTrianglesKeepTheConstantsOfTheirDraw)
{
    ScopedRenderThreads scope("4");
    Canvas c(128, 64);
    Tinted program;
    vr::PixelState ps = PlainState();
    ps.program = &program;
    ps.programAttrs = 8;
    program.tint = 0.2f;
    c.raster.SetState(ps);
    c.raster.DrawTriangle(Shaded(0, 0, 0, 0, 0, 0), Shaded(64, 0, 0, 0, 0, 0), Shaded(0, 64, 0, 0, 0, 0), true);
    program.tint = 0.8f;
    c.raster.SetState(ps);
    c.raster.DrawTriangle(Shaded(64, 0, 0, 0, 0, 0), Shaded(128, 0, 0, 0, 0, 0), Shaded(64, 64, 0, 0, 0, 0), true);
    EXPECT_TRUE(c.raster.Waiting());
    EXPECT_EQ((c.At(5, 5) >> 8) & 0xff, 51u);   // 0.2
    EXPECT_EQ((c.At(70, 5) >> 8) & 0xff, 204u);  // 0.8
    EXPECT_FALSE(c.raster.Waiting());
}

// A program that cannot be frozen draws at once, after what waits before it.
TEST(FrameQueue, AProgramThatCannotBeFrozenDrawsInOrderAtOnce)
{
    ScopedRenderThreads scope("4");
    Canvas c(128, 128);
    c.raster.SetState(PlainState());
    c.raster.DrawTriangle(Shaded(0, 0, 0, 1, 0, 0), Shaded(128, 0, 0, 1, 0, 0), Shaded(0, 128, 0, 1, 0, 0), true);
    EXPECT_TRUE(c.raster.Waiting());
    Tinted program;
    program.frozenAllowed = false;
    vr::PixelState ps = PlainState();
    ps.program = &program;
    ps.programAttrs = 8;
    c.raster.SetState(ps);
    const uint64_t epoch = c.raster.Epoch();
    c.raster.DrawTriangle(Shaded(0, 0, 0, 0, 0, 0), Shaded(32, 0, 0, 0, 0, 0), Shaded(0, 32, 0, 0, 0, 0), true);
    EXPECT_GT(c.raster.Epoch(), epoch) << "the red went first";
    EXPECT_FALSE(c.raster.Waiting());
    EXPECT_EQ(c.color[(size_t)2 * 128 + 2], 0xff004000u);  // drawn already: tint 0.25 over the red
    EXPECT_EQ(c.color[(size_t)60 * 128 + 60], 0xffff0000u);
    EXPECT_EQ(program.freezes, 1) << "asked once a state";
}

// More commands than the queue has room for: it is drawn when full and
// goes on, the order kept.
TEST(FrameQueue, AFullQueueIsDrawnAndFillsAgain)
{
    auto scene = [](Canvas& c) {
        vr::PixelState ps = PlainState();
        ps.alphaBlend = true;
        ps.srcBlend = D3DBLEND_SRCALPHA;
        ps.destBlend = D3DBLEND_INVSRCALPHA;
        c.raster.SetState(ps);
        for (int i = 0; i < 40000; ++i) {
            const float x = (float)(i * 37 % 290), y = (float)(i * 53 % 190);
            const float r = (float)(i % 7) / 7.f, g = (float)(i % 11) / 11.f;
            c.raster.DrawTriangle(Shaded(x, y, 0, r, g, 0.5f, 0.5f), Shaded(x + 12, y + 3, 0, g, r, 0.2f, 0.5f),
                                  Shaded(x + 4, y + 11, 0, 0.1f, 0.9f, r, 0.5f), true);
        }
    };
    const Picture once = DrawAtOnce(scene);
    for (const char* threads : {"2", "8"})
        ExpectSame(Draw(threads, scene), once, threads);
}

namespace {

// Blends whose colour is the same at every pixel take a table built for
// the draw; these are compared by their bytes, not their linear fits.
struct TableLookUps {
    TableLookUps() { vr::SetBlendTableFits(false); }
    ~TableLookUps() { vr::SetBlendTableFits(true); }
};

vr::PixelState SourceAlphaBlend()
{
    vr::PixelState ps = PlainState();
    ps.alphaBlend = true;
    ps.srcBlend = D3DBLEND_SRCALPHA;
    ps.destBlend = D3DBLEND_INVSRCALPHA;
    return ps;
}

// A triangle of one colour over [x, x + 60) x [y, y + 60).
void Flat(vr::Rasterizer& r, float x, float y, float red, float green, float blue)
{
    r.DrawTriangle(Shaded(x, y, 0, red, green, blue, 0.5f), Shaded(x + 60, y, 0, red, green, blue, 0.5f),
                   Shaded(x, y + 60, 0, red, green, blue, 0.5f), true);
}

}  // namespace

// A blended triangle whose table is made as the queue fills up keeps it:
// the next draw's table does not take its place.
TEST(FrameQueue, ATableMadeAsTheQueueFillsStaysTheDrawsOwn)
{
    TableLookUps lookUps;
    auto scene = [](Canvas& c) {
        c.raster.SetState(PlainState());
        for (int i = 0; i < 8192; ++i)
            c.raster.DrawTriangle(Shaded(1, 1, 0, 0.2f, 0.2f, 0.2f), Shaded(3, 1, 0, 0.2f, 0.2f, 0.2f),
                                  Shaded(1, 3, 0, 0.2f, 0.2f, 0.2f), true);
        c.raster.SetState(SourceAlphaBlend());
        Flat(c.raster, 10, 10, 1, 0, 0);
        Flat(c.raster, 100, 10, 0, 1, 0);
    };
    const Picture once = DrawAtOnce(scene);
    EXPECT_EQ(once.color[(size_t)20 * 300 + 20], 0xbf800000u);  // half red over opaque black
    for (const char* threads : {"2", "4"})
        ExpectSame(Draw(threads, scene), once, threads);
}

// The queue's other limits: more blend tables than it holds, more
// programs than it freezes, more pipes, more lines and points, more
// clears, in one go.
TEST(FrameQueue, EveryLimitOfTheQueueIsDrawnAndFillsAgain)
{
    TableLookUps lookUps;
    Tinted programs[6];
    auto scene = [&programs](Canvas& c) {
        c.raster.SetState(SourceAlphaBlend());
        for (int i = 0; i < 40; ++i)
            Flat(c.raster, (float)(i * 7 % 230), (float)(i * 11 % 130), (float)(i % 5) / 4.f, (float)(i % 3) / 2.f,
                 (float)(i % 7) / 6.f);
        vr::PixelState shaded = PlainState();
        shaded.programAttrs = 8;
        for (int i = 0; i < 20; ++i) {
            Tinted& p = programs[i % 6];
            p.tint = 0.05f * (float)i;
            shaded.program = &p;
            c.raster.SetState(shaded);
            Flat(c.raster, (float)(i * 13 % 230), (float)(i * 17 % 130), 0.3f, 0.1f, 0.9f);
        }
        vr::PixelState plain = PlainState();
        for (int i = 0; i < 1100; ++i) {
            plain.textureFactor = (DWORD)i;  // a pipe each
            c.raster.SetState(plain);
            const float x = (float)(i * 29 % 290), y = (float)(i * 31 % 190);
            c.raster.DrawTriangle(Shaded(x, y, 0, 0.1f, (float)(i % 10) / 9.f, 0.5f),
                                  Shaded(x + 9, y + 2, 0, 1, 0, 0), Shaded(x + 3, y + 8, 0, 0, 0, 1), true);
        }
        for (int i = 0; i < 4200; ++i) {
            const float x = (float)(i * 37 % 290), y = (float)(i * 53 % 190), r = (float)(i % 9) / 8.f;
            c.raster.DrawLine(Shaded(x, y, 0, r, 1 - r, 0), Shaded(x + 9, y + 5, 0, 0, r, 1), true, false);
            c.raster.DrawPoint(Shaded(y, x * 0.6f, 0, 1, r, 0.5f), true);
        }
        // More clears than the queue holds, each over what was drawn before it.
        c.raster.SetState(PlainState());
        for (int i = 0; i < 300; ++i) {
            const int x = i * 41 % 280, y = i * 23 % 180;
            c.raster.Clear(x, y, x + 14, y + 12, true, 0xff000000u | (uint32_t)(i * 2654435761u >> 8), i % 2 == 0,
                           0.5f);
            Flat(c.raster, (float)(x + 5), (float)(y + 4), (float)(i % 4) / 3.f, 0.5f, 0.2f);
        }
    };
    const Picture once = DrawAtOnce(scene);
    for (const char* threads : {"2", "4"})
        ExpectSame(Draw(threads, scene), once, threads);
}
