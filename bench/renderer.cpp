// Figures of the software renderer at the module's 800 x 600: fill rate of
// lit, depth-tested triangles; a frame of the scene's size; the ring menu's
// sprite veil and buttons; a textured floor; clear and present.
#include <d3d9.h>
#include <d3dx9.h>
#include <velmora_platform.h>
#include <windows.h>

#include <benchmark/benchmark.h>

#include "bench_device.h"

#include <math.h>
#include <string.h>

#include <vector>

namespace {

struct Rig {
    BenchDevice device;
    IDirect3DDevice9* dev = device.dev;

    explicit Rig(int width = kWidth, int height = kHeight) : device("VelmoraBenchWindow", width, height)
    {

        // The module's fixed-function set-up: lighting on, one point light.
        dev->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
        dev->SetRenderState(D3DRS_LIGHTING, TRUE);
        dev->SetRenderState(D3DRS_AMBIENT, 0xffffffff);
        dev->SetRenderState(D3DRS_NORMALIZENORMALS, TRUE);
        dev->SetRenderState(D3DRS_SPECULARENABLE, TRUE);
        D3DLIGHT9 light;
        memset(&light, 0, sizeof light);
        light.Type = D3DLIGHT_POINT;
        light.Diffuse = {0.5f, 0.5f, 0.5f, 0.f};
        light.Specular = {0.3f, 0.3f, 0.3f, 0.f};
        light.Ambient = {0.5f, 0.5f, 0.5f, 0.f};
        light.Position = {0.f, 50.f, -50.f};
        light.Range = 500.f;
        light.Attenuation0 = 1.f;
        dev->SetLight(0, &light);
        dev->LightEnable(0, TRUE);
        D3DMATERIAL9 mat;
        memset(&mat, 0, sizeof mat);
        mat.Diffuse = {0.8f, 0.5f, 0.3f, 1.f};
        mat.Ambient = {0.2f, 0.2f, 0.2f, 1.f};
        mat.Specular = {1.f, 1.f, 1.f, 1.f};
        mat.Power = 8.f;
        dev->SetMaterial(&mat);
        dev->SetFVF(D3DFVF_XYZ | D3DFVF_NORMAL);
    }
};

struct LitVertex {
    float x, y, z, nx, ny, nz;
};

D3DMATRIX Identity()
{
    D3DMATRIX m;
    memset(&m, 0, sizeof m);
    m._11 = m._22 = m._33 = m._44 = 1.f;
    return m;
}

D3DMATRIX Perspective(float fov, float aspect, float zn, float zf)
{
    D3DMATRIX m;
    memset(&m, 0, sizeof m);
    float ys = 1.f / tanf(fov / 2);
    m._11 = ys / aspect;
    m._22 = ys;
    m._33 = zf / (zf - zn);
    m._34 = 1.f;
    m._43 = -zn * zf / (zf - zn);
    return m;
}

// View from (0, 150, -400) towards the origin, built by hand (left-handed look-at).
D3DMATRIX View()
{
    float eye[3] = {0.f, 150.f, -400.f};
    float z[3] = {-eye[0], -eye[1], -eye[2]};
    float l = sqrtf(z[0] * z[0] + z[1] * z[1] + z[2] * z[2]);
    for (float& v : z)
        v /= l;
    float x[3] = {z[2], 0.f, -z[0]};  // up (0,1,0) cross z
    l = sqrtf(x[0] * x[0] + x[2] * x[2]);
    x[0] /= l;
    x[2] /= l;
    float y[3] = {z[1] * x[2] - z[2] * x[1], z[2] * x[0] - z[0] * x[2], z[0] * x[1] - z[1] * x[0]};
    D3DMATRIX m = Identity();
    for (int i = 0; i < 3; ++i) {
        m.m[i][0] = x[i];
        m.m[i][1] = y[i];
        m.m[i][2] = z[i];
    }
    m._41 = -(x[0] * eye[0] + x[1] * eye[1] + x[2] * eye[2]);
    m._42 = -(y[0] * eye[0] + y[1] * eye[1] + y[2] * eye[2]);
    m._43 = -(z[0] * eye[0] + z[1] * eye[1] + z[2] * eye[2]);
    return m;
}

std::vector<LitVertex> Box(float sx, float sy, float sz)
{
    std::vector<LitVertex> v;
    const float n[6][3] = {{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}};
    for (const auto& f : n) {
        // Two axes spanning the face.
        float u[3] = {f[1] != 0 || f[2] != 0 ? 1.f : 0.f, f[0] != 0 ? 1.f : 0.f, 0.f};
        float w[3] = {f[1] * u[2] - f[2] * u[1], f[2] * u[0] - f[0] * u[2], f[0] * u[1] - f[1] * u[0]};
        auto corner = [&](float a, float b) {
            LitVertex p;
            p.x = (f[0] + a * u[0] + b * w[0]) * sx * 0.5f;
            p.y = (f[1] + a * u[1] + b * w[1]) * sy * 0.5f;
            p.z = (f[2] + a * u[2] + b * w[2]) * sz * 0.5f;
            p.nx = f[0];
            p.ny = f[1];
            p.nz = f[2];
            return p;
        };
        LitVertex c[4] = {corner(-1, -1), corner(1, -1), corner(1, 1), corner(-1, 1)};
        v.insert(v.end(), {c[0], c[1], c[2], c[0], c[2], c[3]});
    }
    return v;
}

void FillRate(benchmark::State& state)
{
    Rig rig;
    IDirect3DDevice9* dev = rig.dev;
    D3DMATRIX proj = Perspective(1.2566371f, 1.f, 1.f, 1000.f);
    D3DMATRIX id = Identity();
    dev->SetTransform(D3DTS_VIEW, &id);
    dev->SetTransform(D3DTS_PROJECTION, &proj);
    // Ten layers of screen-covering quads, nearest last: each passes the depth test.
    std::vector<LitVertex> quads;
    for (int layer = 0; layer < 10; ++layer) {
        float z = 100.f - layer * 5.f, s = z * 2.f;
        LitVertex q[6] = {{-s, s, z, 0, 0, -1}, {s, s, z, 0, 0, -1},   {-s, -s, z, 0, 0, -1},
                          {s, s, z, 0, 0, -1},  {s, -s, z, 0, 0, -1}, {-s, -s, z, 0, 0, -1}};
        quads.insert(quads.end(), q, q + 6);
    }
    double pixels = 0;
    for (auto _ : state) {
        dev->Clear(0, NULL, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.f, 0);
        dev->BeginScene();
        dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, (UINT)quads.size() / 3, quads.data(), sizeof(LitVertex));
        dev->EndScene();
        pixels += 10.0 * kWidth * kHeight;
    }
    state.counters["Mpixels/s"] = benchmark::Counter(pixels / 1e6, benchmark::Counter::kIsRate);
}
BENCHMARK(FillRate)->Unit(benchmark::kMillisecond);

// The scene of SceneFrame: 49 boxes and 4000 small triangles about four
// dancers, drawn one call each as the model does.
struct SceneGeometry {
    std::vector<LitVertex> box = Box(60.f, 10.f, 60.f);
    std::vector<LitVertex> tris;

    SceneGeometry()
    {
        unsigned seed = 12345;
        auto rnd = [&]() {
            seed = seed * 1103515245u + 12345u;
            return ((seed >> 8) & 0xffff) / 65535.f - 0.5f;
        };
        for (int i = 0; i < 4000; ++i) {
            float cx = -150.f + 100.f * (i % 4) + rnd() * 30.f, cy = 40.f + rnd() * 70.f, cz = rnd() * 30.f;
            for (int k = 0; k < 3; ++k)
                tris.push_back({cx + rnd() * 6.f, cy + rnd() * 6.f, cz + rnd() * 6.f, rnd(), rnd(), -0.5f});
        }
    }

    void Draw(IDirect3DDevice9* dev) const
    {
        dev->SetFVF(D3DFVF_XYZ | D3DFVF_NORMAL);
        for (int c = 0; c < 7; ++c)
            for (int r = 0; r < 7; ++r) {
                D3DMATRIX world = Identity();
                world._41 = -192.f + 64.f * r;
                world._43 = -192.f + 64.f * c;
                dev->SetTransform(D3DTS_WORLD, &world);
                dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, (UINT)box.size() / 3, box.data(), sizeof(LitVertex));
            }
        D3DMATRIX id = Identity();
        dev->SetTransform(D3DTS_WORLD, &id);
        for (size_t t = 0; t < tris.size(); t += 3)
            dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, &tris[t], sizeof(LitVertex));
    }
};

void SceneFrame(benchmark::State& state)
{
    Rig rig;
    IDirect3DDevice9* dev = rig.dev;
    D3DMATRIX proj = Perspective(1.2566371f, 1.f, 5.f, 1000.f);
    D3DMATRIX view = View();
    dev->SetTransform(D3DTS_VIEW, &view);
    dev->SetTransform(D3DTS_PROJECTION, &proj);
    const SceneGeometry scene;
    for (auto _ : state) {
        dev->Clear(0, NULL, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.f, 0);
        dev->BeginScene();
        scene.Draw(dev);
        dev->EndScene();
        dev->Present(NULL, NULL, NULL, NULL);
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

// The ring menu's frame: an 8 x 8 white veil scaled 1000 over the picture,
// half transparent, and eight 64 x 64 buttons, as the module draws them.
void SpriteVeil(benchmark::State& state)
{
    Rig rig;
    IDirect3DDevice9* dev = rig.dev;
    IDirect3DTexture9* veil = FilledTexture(dev, 8, 1);
    IDirect3DTexture9* button = FilledTexture(dev, 64, 1);
    ID3DXSprite* sprite = nullptr;
    D3DXCreateSprite(dev, &sprite);
    for (auto _ : state) {
        dev->Clear(0, NULL, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xff203040, 1.f, 0);
        dev->BeginScene();
        sprite->Begin(D3DXSPRITE_ALPHABLEND);
        D3DXMATRIX m;
        D3DXMatrixScaling(&m, 1000, 1000, 1000);
        sprite->SetTransform(&m);
        sprite->Draw(veil, nullptr, nullptr, nullptr, 0x80ffffff);
        D3DXMatrixScaling(&m, 1, 1, 1);
        sprite->SetTransform(&m);
        for (int i = 0; i < 8; ++i) {
            D3DXVECTOR3 at(400.f + 150.f * cosf(i * 0.785f) - 32.f, 300.f + 150.f * sinf(i * 0.785f) - 32.f, 0.f);
            sprite->Draw(button, nullptr, nullptr, &at, 0xffffffff);
        }
        sprite->End();
        dev->EndScene();
    }
    sprite->Release();
    button->Release();
    veil->Release();
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
    D3DMATRIX proj = Perspective(1.2566371f, (float)width / height, 5.f, 1000.f);
    D3DMATRIX view = View();
    dev->SetTransform(D3DTS_VIEW, &view);
    dev->SetTransform(D3DTS_PROJECTION, &proj);
    const SceneGeometry scene;
    IDirect3DTexture9* veil = FilledTexture(dev, 8, 1);
    IDirect3DTexture9* button = FilledTexture(dev, 64, 1);
    ID3DXSprite* sprite = nullptr;
    D3DXCreateSprite(dev, &sprite);
    for (auto _ : state) {
        dev->Clear(0, NULL, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xff203040, 1.f, 0);
        dev->BeginScene();
        scene.Draw(dev);
        sprite->Begin(D3DXSPRITE_ALPHABLEND);
        D3DXMATRIX m;
        D3DXMatrixScaling(&m, 1000, 1000, 1000);
        sprite->SetTransform(&m);
        sprite->Draw(veil, nullptr, nullptr, nullptr, 0x5affffff);
        D3DXMatrixScaling(&m, 1, 1, 1);
        sprite->SetTransform(&m);
        for (int i = 0; i < 8; ++i) {
            D3DXVECTOR3 at(width / 2.f + 150.f * cosf(i * 0.785f) - 32.f, height / 2.f + 150.f * sinf(i * 0.785f) - 32.f,
                           0.f);
            sprite->Draw(button, nullptr, nullptr, &at, 0xffffffff);
        }
        sprite->End();
        dev->EndScene();
        dev->Present(NULL, NULL, NULL, NULL);
    }
    sprite->Release();
    button->Release();
    veil->Release();
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
