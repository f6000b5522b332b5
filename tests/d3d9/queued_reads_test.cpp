// Triangles queued for the render threads read their textures when the
// queue is drawn. Whatever writes, frees or re-views a texture after a draw
// that reads it must leave the picture as one thread drawing at once makes
// it; what queued draws do not read waits for nothing.
#include "d3d_test_device.h"
#include "d3d_test_png.h"
#include "render_threads.h"

#include <gtest/gtest.h>

#include <functional>

using namespace d3dtest;

namespace {

const int kSize = 128;
const DWORD kGrey = 0xff808080;

struct TexVertex {
    float x, y, z, rhw;
    DWORD colour;
    float u, v;
};

// A screen-space quad showing the texture of stage 0 once.
void Quad(IDirect3DDevice9* dev, float x0, float y0, float x1, float y1)
{
    const TexVertex v[4] = {{x0, y0, 0.5f, 1, 0xffffffff, 0, 0}, {x1, y0, 0.5f, 1, 0xffffffff, 1, 0},
                            {x0, y1, 0.5f, 1, 0xffffffff, 0, 1}, {x1, y1, 0.5f, 1, 0xffffffff, 1, 1}};
    dev->SetFVF(D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1);
    dev->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, v, sizeof(TexVertex));
}

// Checkers of `colour` and grey over a level locked as `lr` (not all alike,
// so that the draws sample it texel by texel).
void Checkers(const D3DLOCKED_RECT& lr, UINT width, UINT height, DWORD colour)
{
    for (UINT y = 0; y < height; ++y)
        for (UINT x = 0; x < width; ++x)
            ((DWORD*)((BYTE*)lr.pBits + y * lr.Pitch))[x] = (x + y) % 2 ? colour : kGrey;
}

void Fill(IDirect3DTexture9* tex, UINT level, DWORD colour, DWORD flags = 0)
{
    D3DSURFACE_DESC desc;
    ASSERT_EQ(tex->GetLevelDesc(level, &desc), D3D_OK);
    D3DLOCKED_RECT lr;
    ASSERT_EQ(tex->LockRect(level, &lr, NULL, flags), D3D_OK);
    Checkers(lr, desc.Width, desc.Height, colour);
    tex->UnlockRect(level);
}

// An 8 x 8 texture, level n in colours[n].
IDirect3DTexture9* Texture(IDirect3DDevice9* dev, std::initializer_list<DWORD> colours)
{
    IDirect3DTexture9* tex = nullptr;
    EXPECT_EQ(dev->CreateTexture(8, 8, (UINT)colours.size(), 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &tex, NULL), D3D_OK);
    UINT level = 0;
    for (DWORD c : colours)
        Fill(tex, level++, c);
    return tex;
}

// States whose textured draws take the span loops, which queue their
// triangles for the threads.
void Prepare(IDirect3DDevice9* dev)
{
    dev->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    dev->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
    dev->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
}

// The back buffer read inside the scene, as `scene` leaves it on a new device.
std::vector<DWORD> Picture(const std::function<void(IDirect3DDevice9*)>& scene, int width = kSize,
                           int height = kSize)
{
    Device d(width, height);
    EXPECT_TRUE(d.device);
    if (!d.device)
        return {};
    IDirect3DDevice9* dev = d.device;
    Prepare(dev);
    dev->Clear(0, NULL, D3DCLEAR_TARGET, 0xff000000, 1.f, 0);
    dev->BeginScene();
    scene(dev);
    std::vector<DWORD> picture = d.Pixels();
    dev->SetTexture(0, NULL);
    dev->EndScene();
    return picture;
}

size_t Differing(const std::vector<DWORD>& a, const std::vector<DWORD>& b)
{
    if (a.size() != b.size())
        return (size_t)-1;
    size_t n = 0;
    for (size_t i = 0; i < a.size(); ++i)
        n += a[i] != b[i];
    return n;
}

class QueuedReads : public ::testing::Test {
protected:
    void SetUp() override
    {
        VelmoraResetGraphicsCard();
        live_ = VelmoraLiveGraphicsObjects();
    }
    void TearDown() override { EXPECT_EQ(VelmoraLiveGraphicsObjects(), live_) << "graphics objects leaked"; }

    // Draws `scene` at once (one thread, nothing shared), then with its
    // triangles queued for one and four threads: the same bytes each time.
    // Returns the picture drawn at once.
    std::vector<DWORD> ExpectAsDrawnAtOnce(const std::function<void(IDirect3DDevice9*)>& scene, const char* name,
                                           int width = kSize, int height = kSize,
                                           std::initializer_list<const char*> threadCounts = {"1", "4"})
    {
        std::vector<DWORD> once;
        {
            ScopedRenderThreads threads("1");
            VelmoraShareAllRenderWork(FALSE);
            once = Picture(scene, width, height);
        }
        SavePng(std::string("queued_reads_") + name, once, width, height);
        for (const char* threads : threadCounts) {
            ScopedRenderThreads scoped(threads);
            EXPECT_EQ(Differing(Picture(scene, width, height), once), 0u) << name << ", " << threads << " threads";
        }
        return once;
    }

    int live_ = 0;
};

DWORD At(const std::vector<DWORD>& picture, int x, int y)
{
    return picture.empty() ? 0 : picture[(size_t)y * kSize + x] | 0xff000000;
}

// The texel colours a quad over [x0, x0 + 64) shows: both colours of the checkers at its first two texels.
bool Shows(const std::vector<DWORD>& picture, int x0, int y0, DWORD colour)
{
    return At(picture, x0 + 4, y0 + 4) == kGrey && At(picture, x0 + 12, y0 + 4) == colour;
}

}  // namespace

TEST_F(QueuedReads, ATextureWrittenAfterADrawKeepsItsOldTexelsForThatDraw)
{
    const auto picture = ExpectAsDrawnAtOnce([](IDirect3DDevice9* dev) {
        IDirect3DTexture9* a = Texture(dev, {0xffff0000});
        dev->SetTexture(0, a);
        Quad(dev, 0, 0, 64, 64);
        Fill(a, 0, 0xff0000ff);  // locked while bound, the quad still waiting
        Quad(dev, 64, 0, 128, 64);
        // A part of the level, the lock given a rectangle.
        D3DLOCKED_RECT lr;
        const RECT corner = {0, 0, 2, 1};
        ASSERT_EQ(a->LockRect(0, &lr, &corner, 0), D3D_OK);
        ((DWORD*)lr.pBits)[1] = 0xff00ff00;
        a->UnlockRect(0);
        Quad(dev, 0, 64, 64, 128);
        dev->SetTexture(0, NULL);
        a->Release();
    }, "written");
    EXPECT_TRUE(Shows(picture, 0, 0, 0xffff0000));
    EXPECT_TRUE(Shows(picture, 64, 0, 0xff0000ff));
    EXPECT_TRUE(Shows(picture, 0, 64, 0xff00ff00));
}

TEST_F(QueuedReads, ATextureLetGoAfterADrawStaysUntilTheDrawIsDone)
{
    const auto picture = ExpectAsDrawnAtOnce([](IDirect3DDevice9* dev) {
        IDirect3DTexture9* b = Texture(dev, {0xff0000ff});
        // Unbound, then released: freed at once.
        IDirect3DTexture9* a = Texture(dev, {0xffff0000});
        dev->SetTexture(0, a);
        Quad(dev, 0, 0, 64, 64);
        dev->SetTexture(0, b);
        EXPECT_EQ(a->Release(), 0u);
        // What is made next may take its memory.
        IDirect3DTexture9* c = Texture(dev, {0xffffff00});
        dev->SetTexture(0, c);
        Quad(dev, 64, 0, 128, 64);
        // Released while bound: freed when the binding goes.
        IDirect3DTexture9* e = Texture(dev, {0xff00ff00});
        dev->SetTexture(0, e);
        Quad(dev, 0, 64, 64, 128);
        EXPECT_EQ(e->Release(), 0u);
        dev->SetTexture(0, b);
        IDirect3DTexture9* f = Texture(dev, {0xffff00ff});
        f->Release();
        Quad(dev, 64, 64, 128, 128);
        dev->SetTexture(0, NULL);
        c->Release();
        b->Release();
    }, "released");
    EXPECT_TRUE(Shows(picture, 0, 0, 0xffff0000));
    EXPECT_TRUE(Shows(picture, 64, 0, 0xffffff00));
    EXPECT_TRUE(Shows(picture, 0, 64, 0xff00ff00));
    EXPECT_TRUE(Shows(picture, 64, 64, 0xff0000ff));
}

TEST_F(QueuedReads, ADrawKeepsTheLevelsItWasGivenWhenTheLodChanges)
{
    const auto picture = ExpectAsDrawnAtOnce([](IDirect3DDevice9* dev) {
        IDirect3DTexture9* a = Texture(dev, {0xffff0000, 0xff00ff00});
        dev->SetTexture(0, a);
        Quad(dev, 0, 0, 64, 64);
        EXPECT_EQ(a->SetLOD(1), 0u);
        Quad(dev, 64, 0, 128, 64);
        EXPECT_EQ(a->SetLOD(0), 1u);
        Quad(dev, 0, 64, 64, 128);
        dev->SetTexture(0, NULL);
        a->Release();
    }, "lod");
    EXPECT_TRUE(Shows(picture, 0, 0, 0xffff0000));
    // Level 1 is 4 x 4: its texels are twice as wide.
    EXPECT_EQ(At(picture, 64 + 4, 4), kGrey);
    EXPECT_EQ(At(picture, 64 + 20, 4), 0xff00ff00u);
    EXPECT_TRUE(Shows(picture, 0, 64, 0xffff0000));
}

TEST_F(QueuedReads, ATextureCopiedIntoAfterADrawKeepsItsOldTexelsForThatDraw)
{
    const auto picture = ExpectAsDrawnAtOnce([](IDirect3DDevice9* dev) {
        IDirect3DTexture9* a = Texture(dev, {0xffff0000, 0xffffff00});
        IDirect3DTexture9* b = Texture(dev, {0xff0000ff});
        dev->SetTexture(0, a);
        Quad(dev, 0, 0, 64, 64);
        // Level by level, through the surfaces: b's level read, a's written.
        IDirect3DSurface9 *from = nullptr, *to = nullptr;
        ASSERT_EQ(b->GetSurfaceLevel(0, &from), D3D_OK);
        ASSERT_EQ(a->GetSurfaceLevel(0, &to), D3D_OK);
        D3DLOCKED_RECT src, dst;
        ASSERT_EQ(from->LockRect(&src, NULL, D3DLOCK_READONLY), D3D_OK);
        ASSERT_EQ(to->LockRect(&dst, NULL, 0), D3D_OK);
        for (int y = 0; y < 8; ++y)
            memcpy((BYTE*)dst.pBits + y * dst.Pitch, (const BYTE*)src.pBits + y * src.Pitch, 8 * 4);
        to->UnlockRect();
        from->UnlockRect();
        to->Release();
        from->Release();
        Quad(dev, 64, 0, 128, 64);
        dev->SetTexture(0, NULL);
        b->Release();
        a->Release();
    }, "copied");
    EXPECT_TRUE(Shows(picture, 0, 0, 0xffff0000));
    EXPECT_TRUE(Shows(picture, 64, 0, 0xff0000ff));
}

// What queued draws do not read is bound, unbound, written and read without
// drawing the queue. The probe: texels written through a read-only lock (a
// promise the caller breaks) after a draw show in that draw only while it
// still waits.
TEST_F(QueuedReads, WhatQueuedDrawsDoNotReadLeavesTheQueueWaiting)
{
    ScopedRenderThreads threads("4");
    Device d(kSize, kSize);
    ASSERT_TRUE(d.device);
    IDirect3DDevice9* dev = d.device;
    Prepare(dev);
    dev->BeginScene();
    IDirect3DTexture9* a = Texture(dev, {0xffff0000});
    IDirect3DTexture9* b = Texture(dev, {0xff00ff00});
    // b is drawn from in a queue drawn already (the back buffer read).
    dev->SetTexture(0, b);
    Quad(dev, 64, 64, 128, 128);
    EXPECT_TRUE(Shows(d.Pixels(), 64, 64, 0xff00ff00));

    dev->SetTexture(0, a);
    Quad(dev, 0, 0, 64, 64);
    dev->SetTexture(0, b);
    dev->SetTexture(0, NULL);
    Fill(b, 0, 0xffffff00);
    Fill(a, 0, 0xff0000ff, D3DLOCK_READONLY);
    const std::vector<DWORD> picture = d.Pixels();
    EXPECT_TRUE(Shows(picture, 0, 0, 0xff0000ff));
    EXPECT_TRUE(Shows(picture, 64, 64, 0xff00ff00));

    // Written for real, a's next lock draws the queue first: the quad keeps
    // the texels it was drawn with, not those of the probe after it.
    dev->SetTexture(0, a);
    Quad(dev, 0, 0, 64, 64);
    Fill(a, 0, 0xffff0000);
    Fill(a, 0, 0xffffffff, D3DLOCK_READONLY);
    EXPECT_TRUE(Shows(d.Pixels(), 0, 0, 0xff0000ff));
    dev->SetTexture(0, NULL);
    dev->EndScene();
    a->Release();
    b->Release();
}

namespace {

const DWORD kTexFvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1;

// `count` small textured primitives of `type` in one draw, scattered over
// the picture, later ones over earlier ones, each reading both colours of
// the checkers.
void Scatter(IDirect3DDevice9* dev, D3DPRIMITIVETYPE type, int count)
{
    const int per = type == D3DPT_TRIANGLELIST ? 3 : (type == D3DPT_LINELIST ? 2 : 1);
    std::vector<TexVertex> v;
    for (int i = 0; i < count; ++i) {
        const float x = (float)(i * 37 % (kSize - 10)), y = (float)(i * 53 % (kSize - 10));
        const float u = (float)(i % 8) / 8.f + 1.f / 16.f;
        const TexVertex corners[3] = {{x, y, 0.5f, 1, 0xffffffff, per == 1 ? u : 0.f, 0},
                                      {x + 9, y + 1, 0.5f, 1, 0xffffffff, 1, 0.1f},
                                      {x + 2, y + 9, 0.5f, 1, 0xffffffff, 0.2f, 1}};
        v.insert(v.end(), corners, corners + per);
    }
    dev->SetFVF(kTexFvf);
    dev->DrawPrimitiveUP(type, (UINT)count, v.data(), sizeof(TexVertex));
}

// One draw that fills the queue part-way, its texture then written over
// (or let go): what the draw put in the queue after it filled must still
// show the texels it was drawn with.
void FillTheQueueThenWrite(IDirect3DDevice9* dev, const std::function<void(IDirect3DDevice9*)>& draw, bool release)
{
    IDirect3DTexture9* a = Texture(dev, {0xffff0000});
    dev->SetTexture(0, a);
    draw(dev);
    if (release) {
        dev->SetTexture(0, NULL);
        a->Release();
        return;
    }
    Fill(a, 0, 0xff0000ff);
    dev->SetTexture(0, NULL);
    a->Release();
}

}  // namespace

// Each of the queue's limits reached in the middle of one draw: by the
// count of its triangles (span loops and the general path), lines and
// points, and by the pipes of many small draws.
TEST_F(QueuedReads, ADrawThatFillsTheQueueKeepsItsTextureUntilAllOfItIsDrawn)
{
    struct Case {
        const char* name;
        std::function<void(IDirect3DDevice9*)> draw;
    };
    const Case cases[] = {
        {"full_spans", [](IDirect3DDevice9* dev) { Scatter(dev, D3DPT_TRIANGLELIST, 9000); }},
        {"full_triangles",
         [](IDirect3DDevice9* dev) {
             // An alpha test keeps them off the span loops.
             dev->SetRenderState(D3DRS_ALPHATESTENABLE, TRUE);
             dev->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_ALWAYS);
             Scatter(dev, D3DPT_TRIANGLELIST, 9000);
             dev->SetRenderState(D3DRS_ALPHATESTENABLE, FALSE);
         }},
        {"full_lines", [](IDirect3DDevice9* dev) { Scatter(dev, D3DPT_LINELIST, 5000); }},
        {"full_points", [](IDirect3DDevice9* dev) { Scatter(dev, D3DPT_POINTLIST, 5000); }},
        {"full_pipes",
         [](IDirect3DDevice9* dev) {
             // Untextured draws take all the pipes; the textured one
             // after them finds none.
             IDirect3DBaseTexture9* a = nullptr;
             dev->GetTexture(0, &a);
             dev->SetTexture(0, NULL);
             for (int i = 0; i < 1024; ++i)
                 Scatter(dev, D3DPT_TRIANGLELIST, 1);
             dev->SetTexture(0, a);
             a->Release();
             Scatter(dev, D3DPT_TRIANGLELIST, 300);
         }},
    };
    for (const Case& c : cases) {
        const auto picture = ExpectAsDrawnAtOnce(
            [&c](IDirect3DDevice9* dev) { FillTheQueueThenWrite(dev, c.draw, false); }, c.name);
        size_t blue = 0;
        for (DWORD p : picture)
            blue += (p & 0xffffff) == 0x0000ff;
        EXPECT_EQ(blue, 0u) << c.name << ": texels written after the draw";
    }
}

// Released instead: the queued triangles after the flush must not read
// memory given back (AddressSanitizer sees it).
TEST_F(QueuedReads, ADrawThatFillsTheQueueKeepsItsTextureWhenLetGo)
{
    ExpectAsDrawnAtOnce(
        [](IDirect3DDevice9* dev) {
            FillTheQueueThenWrite(dev, [](IDirect3DDevice9* d) { Scatter(d, D3DPT_TRIANGLELIST, 9000); }, true);
        },
        "full_released");
}

// The chunk store of the bands' bins fills first on a tall picture: needles
// over all its 256 bands (its 16,384 chunks of 62 fill after some 3,900),
// then triangles that show the texture, in one draw.
TEST_F(QueuedReads, ADrawThatFillsTheBinsKeepsItsTextureUntilAllOfItIsDrawn)
{
    const int width = 16, height = 4096;
    const auto picture = ExpectAsDrawnAtOnce(
        [](IDirect3DDevice9* dev) {
            FillTheQueueThenWrite(
                dev,
                [](IDirect3DDevice9* d) {
                    std::vector<TexVertex> v;
                    for (int i = 0; i < 4000; ++i) {
                        // Thinner than a pixel, across the picture from
                        // corner to corner: in every band, on few pixels.
                        const float x = 0.5f + 0.001f * (float)(i % 100);
                        const TexVertex needle[3] = {{x, 0, 0.5f, 1, 0xffffffff, 0, 0},
                                                     {x + 0.01f, 0, 0.5f, 1, 0xffffffff, 1, 0},
                                                     {15.5f, (float)height, 0.5f, 1, 0xffffffff, 1, 1}};
                        v.insert(v.end(), needle, needle + 3);
                    }
                    for (int i = 0; i < 32; ++i) {
                        const float y = 100.f * (float)i;
                        const TexVertex quad[6] = {
                            {0, y, 0.5f, 1, 0xffffffff, 0, 0},      {16, y, 0.5f, 1, 0xffffffff, 1, 0},
                            {0, y + 16, 0.5f, 1, 0xffffffff, 0, 1}, {16, y, 0.5f, 1, 0xffffffff, 1, 0},
                            {16, y + 16, 0.5f, 1, 0xffffffff, 1, 1}, {0, y + 16, 0.5f, 1, 0xffffffff, 0, 1}};
                        v.insert(v.end(), quad, quad + 6);
                    }
                    d->SetFVF(kTexFvf);
                    d->DrawPrimitiveUP(D3DPT_TRIANGLELIST, (UINT)(v.size() / 3), v.data(), sizeof(TexVertex));
                },
                false);
        },
        "full_bins", width, height, {"4"});
    ASSERT_EQ(picture.size(), (size_t)width * height);
    size_t blue = 0;
    for (DWORD p : picture)
        blue += (p & 0xffffff) == 0x0000ff;
    EXPECT_EQ(blue, 0u);
}

// A device made to draw its queue at the end of every call that fills it has
// drawn each draw when the call returns: a read-only lock's probe (as in
// WhatQueuedDrawsDoNotReadLeavesTheQueueWaiting) never shows in it,
// while a device queueing for the frame still shows it.
TEST_F(QueuedReads, ADeviceDrawingAfterEachCallHasDrawnADrawWhenItReturns)
{
    ScopedRenderThreads threads("4");
    for (BOOL eachCall : {FALSE, TRUE}) {
        VelmoraFlushRenderWorkAfterEachCall(eachCall);
        Device d(kSize, kSize);
        // Devices made later queue for the frame again.
        VelmoraFlushRenderWorkAfterEachCall(FALSE);
        ASSERT_TRUE(d.device);
        IDirect3DDevice9* dev = d.device;
        Prepare(dev);
        dev->BeginScene();
        IDirect3DTexture9* a = Texture(dev, {0xffff0000});
        dev->SetTexture(0, a);
        Quad(dev, 0, 0, 64, 64);
        Fill(a, 0, 0xff0000ff, D3DLOCK_READONLY);
        EXPECT_TRUE(Shows(d.Pixels(), 0, 0, eachCall ? 0xffff0000 : 0xff0000ff))
            << (eachCall ? "drawn after each call" : "queued for the frame");
        dev->SetTexture(0, NULL);
        dev->EndScene();
        a->Release();
    }
}
