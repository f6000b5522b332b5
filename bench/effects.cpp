// Figures of effect drawing at the module's 800 x 600: a frame of the
// dancers (4000 lit triangles through the dancer effect, one draw per
// triangle as the model draws) and the 7 x 7 dance floor through the spot
// effect, and each part on its own.
#include <d3d9.h>
#include <d3dx9.h>
#include <velmora_platform.h>
#include <windows.h>

#include <benchmark/benchmark.h>

#include "bench_device.h"

#include <math.h>
#include <string.h>

#include <string>
#include <vector>

namespace {

struct NormalVertex {
    float x, y, z, nx, ny, nz;
};

D3DXMATRIX Identity()
{
    D3DXMATRIX m;
    memset((void*)&m, 0, sizeof m);
    m._11 = m._22 = m._33 = m._44 = 1.f;
    return m;
}

// Two dancers' worth of triangles: spheres of 4000 triangles in all.
std::vector<NormalVertex> Dancers()
{
    std::vector<NormalVertex> tris;
    const int stacks = 20, slices = 25;  // 1000 triangles a sphere
    for (int s = 0; s < 4; ++s) {
        float cx = -150.f + 100.f * s, cy = 80.f, cz = 0.f, r = 45.f;
        auto at = [&](int i, int j) {
            float phi = 3.14159265f * i / stacks, theta = 6.2831853f * j / slices;
            float nx = sinf(phi) * cosf(theta), ny = cosf(phi), nz = sinf(phi) * sinf(theta);
            return NormalVertex{cx + r * nx, cy + r * ny, cz + r * nz, nx, ny, nz};
        };
        for (int i = 0; i < stacks; ++i)
            for (int j = 0; j < slices; ++j) {
                NormalVertex a = at(i, j), b = at(i, j + 1), c = at(i + 1, j), d = at(i + 1, j + 1);
                tris.insert(tris.end(), {a, b, c, b, d, c});
            }
    }
    return tris;
}

// One floor tile: a 64 x 3 x 64 box centred on its origin.
std::vector<NormalVertex> Tile()
{
    const float x = 32.f, y = 1.5f, z = 32.f;
    struct Face {
        float n[3], u[3], v[3];
    } faces[6] = {{{0, 1, 0}, {1, 0, 0}, {0, 0, 1}},  {{0, -1, 0}, {0, 0, 1}, {1, 0, 0}},
                  {{1, 0, 0}, {0, 0, 1}, {0, 1, 0}},  {{-1, 0, 0}, {0, 1, 0}, {0, 0, 1}},
                  {{0, 0, 1}, {0, 1, 0}, {1, 0, 0}},  {{0, 0, -1}, {1, 0, 0}, {0, 1, 0}}};
    std::vector<NormalVertex> out;
    for (const Face& f : faces) {
        auto corner = [&](float a, float b) {
            float p[3];
            for (int k = 0; k < 3; ++k)
                p[k] = f.n[k] + a * f.u[k] + b * f.v[k];
            return NormalVertex{p[0] * x, p[1] * y, p[2] * z, f.n[0], f.n[1], f.n[2]};
        };
        NormalVertex a = corner(-1, -1), b = corner(-1, 1), c = corner(1, 1), d = corner(1, -1);
        out.insert(out.end(), {a, b, c, a, c, d});
    }
    return out;
}

struct Rig {
    BenchDevice device{"VelmoraEffectBench"};
    IDirect3DDevice9* dev = device.dev;
    ID3DXEffect* spot = nullptr;
    ID3DXEffect* dancer = nullptr;
    std::vector<NormalVertex> dancers = Dancers(), tile = Tile();

    Rig()
    {
        spot = Load("spot.fx");
        dancer = Load("dancer.fx");

        // The scene's camera and the start-up lights.
        D3DXMATRIX view, proj;
        D3DXVECTOR3 eye(0.f, 250.f, -600.f), at(0.f, 0.f, -100.f), up(0.f, 1.f, 0.f);
        D3DXMatrixLookAtLH(&view, &eye, &at, &up);
        D3DXMatrixPerspectiveFovLH(&proj, 0.78539816f, (float)kWidth / kHeight, 1.f, 5000.f);
        float lights[3][10] = {{-200, 400, -200, 0.4f, -1, 0.4f, 1, 0.2f, 0.2f, 0},
                               {200, 400, -200, -0.4f, -1, 0.4f, 0.2f, 0.2f, 1, 0},
                               {50, 1000, 50, 0, -1, 0.2f, 0.4f, 0.4f, 0.4f, 0}};
        for (ID3DXEffect* fx : {spot, dancer}) {
            if (!fx)
                continue;
            fx->SetMatrix(fx->GetParameterByName(NULL, "viewMatrix"), &view);
            fx->SetMatrix(fx->GetParameterByName(NULL, "projectionMatrix"), &proj);
            D3DXHANDLE arr = fx->GetParameterByName(NULL, "lightArr");
            for (UINT i = 0; i < 3; ++i)
                fx->SetValue(fx->GetParameterElement(arr, i), lights[i], 40);
        }
    }
    ~Rig()
    {
        if (spot)
            spot->Release();
        if (dancer)
            dancer->Release();
    }

    ID3DXEffect* Load(const char* name)
    {
        std::string path = std::string(VELMORA_PLUGIN_DIR) + "/data/shaders/" + name;
        char windowsPath[1024];
        VelmoraToWindowsPath(path.c_str(), windowsPath, sizeof windowsPath);
        ID3DXEffect* fx = nullptr;
        D3DXCreateEffectFromFileA(dev, windowsPath, nullptr, nullptr, D3DXSHADER_PARTIALPRECISION, nullptr, &fx,
                                  nullptr);
        return fx;
    }

    void DrawDancers()
    {
        D3DXMATRIX world = Identity();
        float tint[4] = {1.f, 0.6f, 0.3f, 1.f};
        dancer->SetMatrix(dancer->GetParameterByName(NULL, "worldMatrix"), &world);
        dancer->SetValue(dancer->GetParameterByName(NULL, "material"), tint, 16);
        dev->SetFVF(D3DFVF_XYZ | D3DFVF_NORMAL);
        UINT passes = 0;
        dancer->Begin(&passes, 0);
        for (UINT p = 0; p < passes; ++p) {
            dancer->BeginPass(p);
            for (size_t t = 0; t + 2 < dancers.size(); t += 3)
                dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, &dancers[t], sizeof(NormalVertex));
            dancer->EndPass();
        }
        dancer->End();
    }

    void DrawFloor()
    {
        D3DXHANDLE world = spot->GetParameterByName(NULL, "worldMatrix");
        D3DXHANDLE material = spot->GetParameterByName(NULL, "material");
        dev->SetFVF(D3DFVF_XYZ | D3DFVF_NORMAL);
        for (int c = 0; c < 7; ++c)
            for (int r = 0; r < 7; ++r) {
                D3DXMATRIX m = Identity();
                m._41 = -192.f + 64.f * r;
                m._42 = 0.f;
                m._43 = -192.f + 64.f * c;
                float lit[4] = {1.f, 0.2f, 0.2f, 1.f}, unlit[4] = {0.2f, 0.2f, 0.2f, 1.f};
                spot->SetMatrix(world, &m);
                spot->SetValue(material, ((r + c) & 1) ? lit : unlit, 16);
                UINT passes = 0;
                spot->Begin(&passes, 0);
                for (UINT p = 0; p < passes; ++p) {
                    spot->BeginPass(p);
                    dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, (UINT)tile.size() / 3, tile.data(),
                                         sizeof(NormalVertex));
                    spot->EndPass();
                }
                spot->End();
            }
    }
};

void Frame(benchmark::State& state, bool floor, bool dancers)
{
    Rig rig;
    if (!rig.dev || !rig.spot || !rig.dancer) {
        state.SkipWithError("no device or effects");
        return;
    }
    for (auto _ : state) {
        rig.dev->Clear(0, NULL, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xff101020, 1.f, 0);
        rig.dev->BeginScene();
        if (floor)
            rig.DrawFloor();
        if (dancers)
            rig.DrawDancers();
        rig.dev->EndScene();
    }
    state.counters["ms_per_frame"] =
        benchmark::Counter((double)state.iterations(), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_EffectFrame(benchmark::State& state) { Frame(state, true, true); }
void BM_EffectFloorOnly(benchmark::State& state) { Frame(state, true, false); }
void BM_EffectDancersOnly(benchmark::State& state) { Frame(state, false, true); }

}  // namespace

BENCHMARK(BM_EffectFrame)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EffectFloorOnly)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EffectDancersOnly)->Unit(benchmark::kMillisecond);
