// Figures of the software renderer at the module's 800 x 600: fill rate of
// lit, depth-tested triangles; a frame of the scene's size; the ring menu's
// sprite veil and buttons; a textured floor; clear and present.
#include <d3d9.h>
#include <d3dx9.h>
#include <velmora_platform.h>
#include <windows.h>

#include <benchmark/benchmark.h>

#include "bench_device.h"
#include "bench_workloads.h"

#include <math.h>
#include <string.h>

#include <vector>

namespace {

void FillRate(benchmark::State& state)
{
    Rig rig;
    D3DWorkloadTarget target{rig.dev};
    FillWorkload fill;
    fill.SetUp(target);
    double pixels = 0;
    for (auto _ : state) {
        fill.Draw(target);
        pixels += 10.0 * kWidth * kHeight;
    }
    state.counters["Mpixels/s"] = benchmark::Counter(pixels / 1e6, benchmark::Counter::kIsRate);
}
BENCHMARK(FillRate)->Unit(benchmark::kMillisecond);

void SceneFrame(benchmark::State& state)
{
    Rig rig;
    D3DWorkloadTarget target{rig.dev};
    SceneWorkload scene;
    scene.SetUp(target);
    for (auto _ : state) {
        scene.Draw(target);
        target.Present();
    }
}
BENCHMARK(SceneFrame)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

IDirect3DTexture9* FilledTexture(IDirect3DDevice9* dev, UINT size, UINT levels)
{
    IDirect3DTexture9* tex = nullptr;
    dev->CreateTexture(size, size, levels, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &tex, NULL);
    for (DWORD level = 0; level < tex->GetLevelCount(); ++level) {
        D3DSURFACE_DESC desc;
        tex->GetLevelDesc(level, &desc);
        D3DLOCKED_RECT lr;
        tex->LockRect(level, &lr, NULL, 0);
        for (UINT y = 0; y < desc.Height; ++y)
            for (UINT x = 0; x < desc.Width; ++x)
                ((DWORD*)((BYTE*)lr.pBits + (size_t)y * lr.Pitch))[x] =
                    size == 8 ? 0xffffffffu : 0xc0000000u | ((x * 37u + y * 11u + level * 60u) & 0xff) * 0x010101u;
        tex->UnlockRect(level);
    }
    return tex;
}

// The ring menu's sprites: the 8 x 8 white veil scaled 1000 over the
// picture and eight 64 x 64 buttons about (cx, cy), as the module draws them.
struct MenuSprites {
    IDirect3DTexture9* veil;
    IDirect3DTexture9* button;
    ID3DXSprite* sprite = nullptr;

    explicit MenuSprites(IDirect3DDevice9* dev)
        : veil(FilledTexture(dev, 8, 1)), button(FilledTexture(dev, 64, 1))
    {
        D3DXCreateSprite(dev, &sprite);
    }
    ~MenuSprites()
    {
        sprite->Release();
        button->Release();
        veil->Release();
    }
    void Draw(D3DCOLOR veilColour, float cx, float cy)
    {
        sprite->Begin(D3DXSPRITE_ALPHABLEND);
        D3DXMATRIX m;
        D3DXMatrixScaling(&m, 1000, 1000, 1000);
        sprite->SetTransform(&m);
        sprite->Draw(veil, nullptr, nullptr, nullptr, veilColour);
        D3DXMatrixScaling(&m, 1, 1, 1);
        sprite->SetTransform(&m);
        for (int i = 0; i < 8; ++i) {
            D3DXVECTOR3 at(cx + 150.f * cosf(i * 0.785f) - 32.f, cy + 150.f * sinf(i * 0.785f) - 32.f, 0.f);
            sprite->Draw(button, nullptr, nullptr, &at, 0xffffffff);
        }
        sprite->End();
    }
};

// The ring menu's frame: an 8 x 8 white veil scaled 1000 over the picture,
// half transparent, and eight 64 x 64 buttons, as the module draws them.
void SpriteVeil(benchmark::State& state)
{
    Rig rig;
    IDirect3DDevice9* dev = rig.dev;
    MenuSprites menu(dev);
    for (auto _ : state) {
        dev->Clear(0, NULL, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xff203040, 1.f, 0);
        dev->BeginScene();
        menu.Draw(0x80ffffff, 400.f, 300.f);
        dev->EndScene();
    }
}
BENCHMARK(SpriteVeil)->Unit(benchmark::kMillisecond);

// A mip-mapped, blended floor in perspective over the lower half of the picture.
void TexturedFloor(benchmark::State& state)
{
    Rig rig;
    IDirect3DDevice9* dev = rig.dev;
    IDirect3DTexture9* tex = FilledTexture(dev, 256, 0);
    D3DMATRIX proj = Perspective(1.2566371f, 800.f / 600.f, 1.f, 1000.f);
    D3DMATRIX id = Identity();
    dev->SetTransform(D3DTS_WORLD, &id);
    dev->SetTransform(D3DTS_VIEW, &id);
    dev->SetTransform(D3DTS_PROJECTION, &proj);
    dev->SetRenderState(D3DRS_LIGHTING, FALSE);
    dev->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    dev->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    dev->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    dev->SetTexture(0, tex);
    dev->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    dev->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
    dev->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
    dev->SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_POINT);
    struct V {
        float x, y, z;
        D3DCOLOR c;
        float u, v;
    } q[4] = {{-300, -50, 20, 0xffffffff, 0, 0}, {300, -50, 20, 0xffffffff, 8, 0}, {-300, -50, 600, 0xffffffff, 0, 8},
              {300, -50, 600, 0xffffffff, 8, 8}};
    dev->SetFVF(D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1);
    for (auto _ : state) {
        dev->Clear(0, NULL, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xff203040, 1.f, 0);
        dev->BeginScene();
        dev->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, q, sizeof(V));
        dev->EndScene();
    }
    dev->SetTexture(0, nullptr);
    tex->Release();
}
BENCHMARK(TexturedFloor)->Unit(benchmark::kMillisecond);

// A frame with the ring menu open at a given size: the scene of SceneFrame,
// the veil at 90 over it, eight buttons, Present.
void MenuFrame(benchmark::State& state)
{
    const int width = (int)state.range(0), height = (int)state.range(1);
    Rig rig(width, height);
    IDirect3DDevice9* dev = rig.dev;
    D3DWorkloadTarget target{dev};
    SceneWorkload scene;
    target.SetCamera(View(), Perspective(1.2566371f, (float)width / height, 5.f, 1000.f));
    MenuSprites menu(dev);
    for (auto _ : state) {
        scene.Draw(target);
        dev->BeginScene();
        menu.Draw(0x5affffff, width / 2.f, height / 2.f);
        dev->EndScene();
        target.Present();
    }
}
BENCHMARK(MenuFrame)->Args({800, 600})->Args({1920, 1080})->Unit(benchmark::kMillisecond)->UseRealTime();

void ClearPresent(benchmark::State& state)
{
    Rig rig;
    for (auto _ : state) {
        rig.dev->Clear(0, NULL, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.f, 0);
        rig.dev->BeginScene();
        rig.dev->EndScene();
        rig.dev->Present(NULL, NULL, NULL, NULL);
    }
}
BENCHMARK(ClearPresent)->Unit(benchmark::kMillisecond);

}  // namespace
