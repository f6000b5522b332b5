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
std::vector<DWORD> Picture(const std::function<void(IDirect3DDevice9*)>& scene)
{
    Device d(kSize, kSize);
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
    std::vector<DWORD> ExpectAsDrawnAtOnce(const std::function<void(IDirect3DDevice9*)>& scene, const char* name)
    {
        std::vector<DWORD> once;
        {
            ScopedRenderThreads threads("1");
            VelmoraShareAllRenderWork(FALSE);
            once = Picture(scene);
        }
        SavePng(std::string("queued_reads_") + name, once, kSize, kSize);
        for (const char* threads : {"1", "4"}) {
            ScopedRenderThreads scoped(threads);
            EXPECT_EQ(Differing(Picture(scene), once), 0u) << threads << " threads";
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

// A device made to draw its queue at the end of every call that fills it has
// drawn each draw when the call returns: the probe above never shows in it,
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
