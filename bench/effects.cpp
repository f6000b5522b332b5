// Figures of effect drawing at the module's 800 x 600: a frame of the
// dancers (4000 lit triangles through the dancer effect, one draw per
// triangle as the model draws) and the 7 x 7 dance floor through the spot
// effect, and each part on its own; the dancers' spheres as meshes (one
// indexed draw each) with and without batches and reuse; and the dancer's
// vertex program on its own, one vertex at a time and in batches; compiling
// the two effects; and the frame through the heaviest effect the compiler
// takes (see WorstEffect).
#include <d3d9.h>
#include <d3dx9.h>
#include <velmora_platform.h>
#include <windows.h>

#include <benchmark/benchmark.h>

#include "bench_device.h"
#include "fx/compiler.h"
#include "fx/shader.h"

#include <math.h>
#include <stdio.h>
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

std::string ReadEffect(const char* name)
{
    std::string path = std::string(VELMORA_PLUGIN_DIR) + "/data/shaders/" + name;
    std::string source;
    if (FILE* f = fopen(path.c_str(), "rb")) {
        char buf[4096];
        for (size_t n; (n = fread(buf, 1, sizeof buf, f)) > 0;)
            source.append(buf, n);
        fclose(f);
    }
    return source;
}

// The spot effect with the heaviest technique the compiler takes: all the
// passes a technique may have; two vertex shaders whose loops take nearly
// all the vertex slots; five pixel shaders of the costliest operations
// (fmod, exp) at nearly all the slots of ps_2_0; the rest plain.
std::string WorstEffect()
{
    std::string spot = ReadEffect("spot.fx");
    size_t tech = spot.find("technique Spot");
    if (tech == std::string::npos)
        return "";
    std::string steps;
    for (int i = 0; i < 23; ++i) {
        const char* xyzw = "xyzw";
        steps += std::string("        w.") + xyzw[i % 4] + " = w." + xyzw[i % 4] + " * 0.999 + 0.001 * w." +
                 xyzw[(i + 1) % 4] + ";\n";
    }
    auto loopVs = [&](const char* name, int count) {
        return std::string("VS_OUTPUT ") + name +
               "(float4 position : POSITION, float3 normal : NORMAL)\n"
               "{\n"
               "    VS_OUTPUT o;\n"
               "    float4 world = mul(position, worldMatrix);\n"
               "    float4 w = world;\n"
               "    for (int j = 0; j < " + std::to_string(count) + "; j++) {\n" + steps +
               "    }\n"
               "    world.w = w.w * 0.0 + 1.0;\n"
               "    o.position = mul(mul(world, viewMatrix), projectionMatrix);\n"
               "    float3 n = normalize(mul(normal, (float3x3)worldMatrix));\n"
               "    float3 light = ambient;\n"
               "    for (int i = 0; i < 3; i++)\n"
               "        light += 2.5 * SpotLight(lightArr[i], world.xyz, n);\n"
               "    o.colour = float4(min(material.yzw, material.x) * light, 1.0);\n"
               "    return o;\n"
               "}\n";
    };
    std::string out = spot.substr(0, tech) + loopVs("LoopVS", 250) + loopVs("LoopVS2", 100) +
                      "float4 HeavyPS(float4 colour : COLOR0) : COLOR0\n"
                      "{\n"
                      "    float4 c = colour;\n"
                      "    c = fmod(c * 7.3, c.yzwx + 0.5);\n"
                      "    c = fmod(c * 7.3, c.yzwx + 0.5);\n"
                      "    c = fmod(c * 7.3, c.yzwx + 0.5);\n"
                      "    c = exp(c);\n"
                      "    return c;\n"
                      "}\n"
                      "technique Spot\n{\n";
    for (int p = 0; p < 16; ++p)
        out += "    pass P" + std::to_string(p) +
               " { ZEnable = true; ZWriteEnable = true; CullMode = CCW;\n"
               "        VertexShader = compile vs_2_0 " + (p == 0 ? "LoopVS" : p == 1 ? "LoopVS2" : "SpotVS") +
               "();\n        PixelShader = compile ps_2_0 " + (p < 5 ? "HeavyPS" : "SpotPS") + "(); }\n";
    return out + "}\n";
}

struct Rig {
    BenchDevice device{"VelmoraEffectBench"};
    IDirect3DDevice9* dev = device.dev;
    ID3DXEffect* spot = nullptr;
    ID3DXEffect* dancer = nullptr;
    std::vector<NormalVertex> dancers = Dancers(), tile = Tile();

    // `spotSource`, when given, stands for spot.fx.
    explicit Rig(const std::string* spotSource = nullptr)
    {
        if (spotSource)
            D3DXCreateEffect(dev, spotSource->data(), (UINT)spotSource->size(), nullptr, nullptr,
                             D3DXSHADER_PARTIALPRECISION, nullptr, &spot, nullptr);
        else
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

    // The world at the origin, the dancers' tint, then `draw` in each pass.
    template <class F>
    void Tinted(ID3DXEffect* fx, F draw)
    {
        D3DXMATRIX world = Identity();
        float tint[4] = {1.f, 0.6f, 0.3f, 1.f};
        fx->SetMatrix(fx->GetParameterByName(NULL, "worldMatrix"), &world);
        fx->SetValue(fx->GetParameterByName(NULL, "material"), tint, 16);
        dev->SetFVF(D3DFVF_XYZ | D3DFVF_NORMAL);
        UINT passes = 0;
        fx->Begin(&passes, 0);
        for (UINT p = 0; p < passes; ++p) {
            fx->BeginPass(p);
            draw();
            fx->EndPass();
        }
        fx->End();
    }

    void DrawDancers()
    {
        Tinted(dancer, [&] {
            for (size_t t = 0; t + 2 < dancers.size(); t += 3)
                dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, &dancers[t], sizeof(NormalVertex));
        });
    }

    // The same spheres as shared vertices and one indexed draw each.
    void DrawMeshes()
    {
        const size_t perSphere = dancers.size() / 4;
        if (meshVertices.empty())
            for (size_t i = 0; i < dancers.size(); ++i) {
                size_t k = sphereStart[i / perSphere];
                while (k < meshVertices.size() && memcmp(&meshVertices[k], &dancers[i], sizeof dancers[i]) != 0)
                    ++k;
                if (k == meshVertices.size())
                    meshVertices.push_back(dancers[i]);
                meshIndices.push_back((WORD)k);
                if ((i + 1) % perSphere == 0 && i / perSphere < 3)
                    sphereStart[i / perSphere + 1] = meshVertices.size();
            }
        Tinted(spot, [&] {
            for (UINT s = 0; s < 4; ++s)
                dev->DrawIndexedPrimitiveUP(D3DPT_TRIANGLELIST, 0, (UINT)meshVertices.size(), (UINT)perSphere / 3,
                                            &meshIndices[s * perSphere], D3DFMT_INDEX16, meshVertices.data(),
                                            sizeof(NormalVertex));
        });
    }
    std::vector<NormalVertex> meshVertices;
    std::vector<WORD> meshIndices;
    size_t sphereStart[4] = {};

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

void Frame(benchmark::State& state, bool floor, bool dancers, const std::string* spotSource = nullptr)
{
    Rig rig(spotSource);
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

// Argument 1: batches and reuse (the default); 0: one run a vertex.
void BM_EffectMeshes(benchmark::State& state)
{
    Rig rig;
    if (!rig.dev || !rig.spot) {
        state.SkipWithError("no device or effects");
        return;
    }
    VelmoraSetVertexCacheAndBatching(state.range(0) != 0);
    for (auto _ : state) {
        rig.dev->Clear(0, NULL, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xff101020, 1.f, 0);
        rig.dev->BeginScene();
        rig.DrawMeshes();
        rig.dev->EndScene();
    }
    VelmoraSetVertexCacheAndBatching(TRUE);
    state.counters["ms_per_frame"] =
        benchmark::Counter((double)state.iterations(), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

bool CompileDancer(benchmark::State& state, fx::CompiledEffect* fx)
{
    std::string errors;
    if (!fx::Compile(ReadEffect("dancer.fx"), "dancer.fx", {}, fx, &errors) || fx->techniques.size() < 2 || !fx->techniques[0].passes[0].vs) {
        state.SkipWithError("dancer.fx does not compile");
        return false;
    }
    return true;
}

// The dancer's vertex program over the spheres' corners with the scene's
// camera and lights: argument 0 runs one vertex at a time, 1 in batches.
void BM_DancerProgram(benchmark::State& state)
{
    fx::CompiledEffect fx;
    if (!CompileDancer(state, &fx))
        return;
    const fx::Program& p = *fx.techniques[0].passes[0].vs;
    std::vector<float> frame = p.initial;
    std::copy(fx.store.begin(), fx.store.end(), frame.begin());
    D3DXMATRIX view, proj, world = Identity();
    D3DXVECTOR3 eye(0.f, 250.f, -600.f), at(0.f, 0.f, -100.f), up(0.f, 1.f, 0.f);
    D3DXMatrixLookAtLH(&view, &eye, &at, &up);
    D3DXMatrixPerspectiveFovLH(&proj, 0.78539816f, (float)kWidth / kHeight, 1.f, 5000.f);
    const float lights[30] = {-200, 400, -200, 0.4f, -1, 0.4f, 1,    0.2f, 0.2f, 0, 200, 400, -200, -0.4f, -1,
                              0.4f, 0.2f, 0.2f, 1,   0,   50, 1000, 50,   0,    -1, 0.2f, 0.4f, 0.4f, 0.4f, 0};
    for (const fx::GlobalDesc& g : fx.globals) {
        const float* v = g.name == "viewMatrix" ? (const float*)&view
                         : g.name == "projectionMatrix" ? (const float*)&proj
                         : g.name == "worldMatrix" ? (const float*)&world
                         : g.name == "lightArr" ? lights : nullptr;
        if (v)
            std::copy(v, v + (g.name == "lightArr" ? 30 : 16), frame.begin() + g.offset);
    }
    const std::vector<NormalVertex> vertices = Dancers();
    const int position = p.inputs[0].offset, normal = p.inputs[1].offset;
    const bool batched = state.range(0) != 0;
    fx::Batch batch;
    batch.Load(p, frame.data());
    for (auto _ : state) {
        if (!batched) {
            for (const NormalVertex& v : vertices) {
                float* f = frame.data();
                f[position] = v.x, f[position + 1] = v.y, f[position + 2] = v.z, f[position + 3] = 1.f;
                f[normal] = v.nx, f[normal + 1] = v.ny, f[normal + 2] = v.nz;
                p.Run(f);
            }
            benchmark::DoNotOptimize(frame.data());
            continue;
        }
        for (size_t first = 0; first < vertices.size(); first += fx::Batch::kLanes) {
            const int n = (int)std::min(vertices.size() - first, (size_t)fx::Batch::kLanes);
            for (int l = 0; l < n; ++l) {
                const NormalVertex& v = vertices[first + (size_t)l];
                batch.Float(position)[l] = v.x, batch.Float(position + 1)[l] = v.y;
                batch.Float(position + 2)[l] = v.z, batch.Float(position + 3)[l] = 1.f;
                batch.Float(normal)[l] = v.nx, batch.Float(normal + 1)[l] = v.ny, batch.Float(normal + 2)[l] = v.nz;
            }
            benchmark::DoNotOptimize(batch.Run(n));
        }
    }
    state.SetItemsProcessed((int64_t)state.iterations() * (int64_t)vertices.size());
}

// Draws of the toon pixel program, the tint changing at each, 64 batches
// of pixels a draw: argument 0 shades them live, 1 freezes each draw's
// program and shades the batches through its handle.
void BM_ToonPixelDraws(benchmark::State& state)
{
    fx::CompiledEffect fx;
    if (!CompileDancer(state, &fx))
        return;
    const fx::PassDesc& pass = fx.techniques[1].passes[0];
    auto* vs = new vd3d::ProgramVertexShader(nullptr, pass.vs);
    auto* ps = new vd3d::ProgramPixelShader(nullptr, pass.ps);
    vd3d::ProgramLink link;
    const DWORD fvf = D3DFVF_XYZ | D3DFVF_NORMAL;
    link.Setup(fvf, vr::DecodeFvf(fvf), vs, ps);
    int material = 0;
    for (const fx::GlobalDesc& g : fx.globals)
        if (g.name == "material")
            material = g.offset;
    std::vector<float> store = fx.store;
    const int W = vr::PixelProgram::kLanes, batches = 64, draws = 100;
    std::vector<float> attrs((size_t)vr::kMaxVaryings * W * batches);
    for (size_t i = 0; i < attrs.size(); ++i)
        attrs[i] = (float)((i * 2654435761u) % 1000u) / 999.f;
    const bool frozen = state.range(0) != 0;
    link.ReadyThreads(1);
    float out[4 * W];
    bool keep[W];
    for (auto _ : state) {
        for (int d = 0; d < draws; ++d) {
            store[(size_t)material] = (float)d / draws;
            ps->SetUniforms(store.data(), store.size());
            const int h = frozen ? link.Freeze() : -1;
            for (int b = 0; b < batches; ++b) {
                const float* a = &attrs[(size_t)b * vr::kMaxVaryings * W];
                if (frozen)
                    link.ShadeBatchFrozen(h, 0, a, link.Attrs(), W, out, keep);
                else
                    link.ShadeBatch(a, link.Attrs(), W, out, keep);
                benchmark::DoNotOptimize(out);
            }
        }
        link.Thaw();
    }
    state.SetItemsProcessed((int64_t)state.iterations() * draws * batches * W);
    vs->Release();
    ps->Release();
}

// Argument 0: spot.fx, 1: dancer.fx.
void BM_CompileEffect(benchmark::State& state)
{
    const std::string source = ReadEffect(state.range(0) ? "dancer.fx" : "spot.fx");
    for (auto _ : state) {
        fx::CompiledEffect fx;
        std::string errors;
        if (!fx::Compile(source, "effect", {}, &fx, &errors)) {
            state.SkipWithError("the effect does not compile");
            return;
        }
        benchmark::DoNotOptimize(fx.techniques.data());
    }
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)source.size());
}

void BM_WorstEffectFrame(benchmark::State& state)
{
    const std::string worst = WorstEffect();
    Frame(state, true, true, &worst);
}

void BM_EffectFrame(benchmark::State& state) { Frame(state, true, true); }
void BM_EffectFloorOnly(benchmark::State& state) { Frame(state, true, false); }
void BM_EffectDancersOnly(benchmark::State& state) { Frame(state, false, true); }

}  // namespace

BENCHMARK(BM_EffectFrame)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EffectFloorOnly)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EffectDancersOnly)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EffectMeshes)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DancerProgram)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ToonPixelDraws)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CompileEffect)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WorstEffectFrame)->Unit(benchmark::kMillisecond);
