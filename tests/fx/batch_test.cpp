// Vertex programs run over batches of vertices: every lane must get exactly
// the floats the per-vertex interpreter computes, and the device, shading a
// draw's vertices up front in batches and reusing equal ones, must draw the
// pictures of one run a vertex.
#include "d3d_test_device.h"
#include "effect_test_support.h"
#include "fx/compiler.h"

#include <d3dx9.h>
#include <velmora_platform.h>

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <random>
#include <sstream>

using namespace d3dtest;
using namespace fxtest;

namespace {

const int kLanes = fx::Batch::kLanes;

std::string ReadShipped(const char* name)
{
    std::ifstream in(std::string(VELMORA_PLUGIN_DIR) + "/data/shaders/" + name);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool CompileText(const std::string& source, fx::CompiledEffect* out)
{
    std::string errors;
    const bool ok = fx::Compile(source, "memory", {}, out, &errors);
    EXPECT_TRUE(ok) << errors;
    return ok && !out->techniques.empty() && !out->techniques[0].passes.empty() &&
           out->techniques[0].passes[0].vs;
}

void SetGlobal(const fx::CompiledEffect& fx, std::vector<float>* frame, const char* name, const float* v, int n)
{
    for (const fx::GlobalDesc& g : fx.globals)
        if (g.name == name)
            for (int i = 0; i < n; ++i)
                (*frame)[(size_t)g.offset + i] = v[i];
}

// The scene's camera and lights, as the module sets them.
void SceneUniforms(const fx::CompiledEffect& fx, std::vector<float>* frame)
{
    D3DMATRIX view = LookAtLH(0, 250, -600, 0, 0, -100), proj = PerspectiveFovLH(0.785f, 4.f / 3.f, 1.f, 5000.f);
    D3DMATRIX world = Identity();
    world._41 = 30.f, world._42 = -12.f, world._11 = 0.8f;
    SetGlobal(fx, frame, "viewMatrix", &view._11, 16);
    SetGlobal(fx, frame, "projectionMatrix", &proj._11, 16);
    SetGlobal(fx, frame, "worldMatrix", &world._11, 16);
    const float lights[30] = {-200, 400, -200, 0.4f, -1, 0.4f, 1,    0.2f, 0.2f, 0, 200, 400, -200, -0.4f, -1,
                              0.4f, 0.2f, 0.2f, 1,   0,   50, 1000, 50,   0,    -1, 0.2f, 0.4f, 0.4f, 0.4f, 0};
    SetGlobal(fx, frame, "lightArr", lights, 30);
}

// Runs `p` over `inputs` (one float4 per input binding a vertex) with the
// per-vertex interpreter and in batches, and compares every output float's
// bits. The batches take `count` lanes at a time.
void ExpectSameFloats(const fx::Program& p, const std::vector<float>& frame, const std::vector<float>& inputs,
                      int count, const char* what)
{
    const size_t perVertex = 4 * p.inputs.size();
    const size_t vertices = inputs.size() / perVertex;
    fx::Batch batch;
    batch.Load(p, frame.data());
    std::vector<float> scalar;
    size_t checked = 0, mismatched = 0;
    for (size_t first = 0; first < vertices; first += (size_t)count) {
        const int n = (int)std::min<size_t>((size_t)count, vertices - first);
        for (int l = 0; l < n; ++l)
            for (size_t k = 0; k < p.inputs.size(); ++k)
                for (int i = 0; i < std::min(p.inputs[k].count, 4); ++i)
                    batch.Float(p.inputs[k].offset + i)[l] = inputs[(first + l) * perVertex + 4 * k + i];
        ASSERT_TRUE(batch.Run(n)) << what;
        for (int l = 0; l < n; ++l) {
            scalar = frame;
            for (size_t k = 0; k < p.inputs.size(); ++k)
                for (int i = 0; i < std::min(p.inputs[k].count, 4); ++i)
                    scalar[(size_t)p.inputs[k].offset + i] = inputs[(first + l) * perVertex + 4 * k + i];
            p.Run(scalar.data());
            for (const fx::Binding& b : p.outputs)
                for (int i = 0; i < std::min(b.count, 4); ++i) {
                    const float x = scalar[(size_t)b.offset + i], y = batch.Float(b.offset + i)[l];
                    ++checked;
                    if (memcmp(&x, &y, sizeof x) != 0 && ++mismatched <= 5)
                        ADD_FAILURE() << what << ": vertex " << first + l << " output " << b.semantic << "." << i
                                      << ": " << x << " one by one, " << y << " batched";
                }
        }
    }
    EXPECT_EQ(mismatched, 0u) << what;
    EXPECT_GT(checked, 0u) << what;
}

// Positions, normals (some zero, some huge) and colours at random.
std::vector<float> RandomInputs(size_t inputCount, size_t vertices, unsigned seed)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> wide(-400.f, 400.f), unit(-1.f, 1.f);
    std::vector<float> out;
    for (size_t v = 0; v < vertices; ++v)
        for (size_t k = 0; k < inputCount; ++k)
            for (int i = 0; i < 4; ++i) {
                float x = k == 0 ? wide(rng) : unit(rng);
                if (v % 13 == 5 && k == 1)
                    x = 0.f;  // a zero normal
                if (v % 17 == 3)
                    x *= 1e6f;
                out.push_back(i == 3 && k == 0 ? 1.f : x);
            }
    return out;
}

// The vertices of one of the demo's meshes: position, normal and colour (as
// the device hands it: white where the mesh has none).
std::vector<float> MeshInputs(IDirect3DDevice9* dev, const char* name)
{
    std::vector<float> out;
    char path[1024];
    std::string unix = std::string(VELMORA_PLUGIN_DIR) + "/data/objects/" + name;
    if (!VelmoraToWindowsPath(unix.c_str(), path, sizeof path))
        return out;
    ID3DXMesh* mesh = nullptr;
    if (FAILED(D3DXLoadMeshFromXA(path, D3DXMESH_MANAGED, dev, nullptr, nullptr, nullptr, nullptr, &mesh)))
        return out;
    const DWORD stride = mesh->GetNumBytesPerVertex();
    void* data = nullptr;
    if ((mesh->GetFVF() & D3DFVF_NORMAL) && SUCCEEDED(mesh->LockVertexBuffer(D3DLOCK_READONLY, &data))) {
        for (DWORD v = 0; v < mesh->GetNumVertices(); ++v) {
            const uint8_t* bytes = (const uint8_t*)data + (size_t)v * stride;
            const float* f = (const float*)bytes;
            DWORD c = 0xFFFFFFFF;
            if (mesh->GetFVF() & D3DFVF_DIFFUSE)
                memcpy(&c, bytes + 24, 4);
            out.insert(out.end(), {f[0], f[1], f[2], 1.f, f[3], f[4], f[5], 0.f, ((c >> 16) & 0xFF) / 255.f,
                                   ((c >> 8) & 0xFF) / 255.f, (c & 0xFF) / 255.f, (c >> 24) / 255.f});
        }
        mesh->UnlockVertexBuffer();
    }
    mesh->Release();
    return out;
}

const char* const kEveryOperation =
    "float4x4 m; float3x3 r; float4 u; float k[4];\n"
    "struct O { float4 p : POSITION; float4 c : COLOR0; float4 t0 : TEXCOORD0; float4 t1 : TEXCOORD1;\n"
    "  float4 t2 : TEXCOORD2; float4 t3 : TEXCOORD3; };\n"
    "O VS(float4 p : POSITION, float3 n : NORMAL) {\n"
    "  O o; float a[4] = {p.x, p.y, n.z, 0.5};\n"
    "  int i = (int)abs(fmod(p.x, 4.0)); a[(int)abs(n.y * 3.0)] = n.x;\n"
    "  o.p = mul(p, m) + float4(mul(n, r), 0) + a[i] * k[i];\n"
    "  float3 q = normalize(n) + reflect(n, normalize(p.xyz)) + cross(n, p.xyz);\n"
    "  o.c = float4(pow(abs(n.x), u.y), sin(p.x), cos(p.y), tan(n.z)) + float4(exp(n.x), exp2(n.y), log(abs(p.z)),\n"
    "    log2(abs(p.x))) * log10(abs(n.y) + 1) + float4(asin(n.x * 0.5), acos(n.y * 0.5), atan(p.z), atan2(p.x, n.y));\n"
    "  o.t0 = float4(frac(p.x), floor(p.y), ceil(p.z), round(n.x * 5)) + float4(trunc(p.xyz * 0.1), sign(n.z)) +\n"
    "    float4(sqrt(abs(p.xyz)), rsqrt(abs(n.x) + 0.5));\n"
    "  o.t1 = float4(clamp(n, -0.5, 0.5), saturate(p.w)) + lerp(p, float4(n, 1), u.x) +\n"
    "    smoothstep(-1, 1, float4(n, p.x * 0.01)) + step(n.x, float4(q, n.y));\n"
    "  o.t2 = float4(p.x < n.x, p.y <= n.y, p.z > 0 && n.x > 0, p.z >= 0 || n.y < 0) +\n"
    "    float4(p.x == p.y, p.x != n.x, !(n.z > 0), any(n) + all(n)) + (n.x > 0 ? u : -u) +\n"
    "    float4(min(p.xyz, n * 100), max(length(q), distance(p.xyz, q))) + dot(p, u) + -p / (1 + abs(n.x));\n"
    "  float4 s = 0; for (int j = 0; j < 4; j++) s += k[j] * p;\n"
    "  float4x4 mm = mul(m, transpose(m)); o.t3 = s + mul(mm, float4(n, 1)) + mul(float4(q, 1), mm);\n"
    "  return o; }\n"
    "float4 PS(float4 c : COLOR0) : COLOR { return c; }\n"
    "technique T { pass P { VertexShader = compile vs_3_0 VS(); PixelShader = compile ps_2_0 PS(); } }\n";

}  // namespace

// The shipped effects' programs on the scene's constants and on random
// ones, over random vertices and the demo's meshes, full and part batches.
TEST(Batch, ShippedProgramsGiveTheFloatsOfOneRunAVertex)
{
    Device d(16, 16);
    ASSERT_TRUE(d.device);
    std::vector<float> meshes;
    for (const char* name : {"spot.x", "discoball.x", "agent_bass.x", "djbooth.x"}) {
        std::vector<float> m = MeshInputs(d.device, name);
        meshes.insert(meshes.end(), m.begin(), m.end());
    }
    ASSERT_GT(meshes.size(), 12u * 200);
    // Position and normal; the objects' effect also takes the vertex colour.
    const struct {
        const char* name;
        size_t inputs;
    } shipped[] = {{"spot.fx", 3}, {"dancer.fx", 2}};
    for (const auto& effect : shipped) {
        const char* name = effect.name;
        fx::CompiledEffect fx;
        ASSERT_TRUE(CompileText(ReadShipped(name), &fx)) << name;
        const fx::Program& p = *fx.techniques[0].passes[0].vs;
        ASSERT_TRUE(p.selfContained) << name;
        ASSERT_EQ(p.inputs.size(), effect.inputs) << name;
        std::vector<float> meshInputs;
        for (size_t at = 0; at + 12 <= meshes.size(); at += 12)
            meshInputs.insert(meshInputs.end(), meshes.begin() + (long)at,
                              meshes.begin() + (long)(at + 4 * effect.inputs));
        std::vector<float> scene = p.initial;
        std::copy(fx.store.begin(), fx.store.end(), scene.begin());
        SceneUniforms(fx, &scene);
        std::vector<float> random = scene;
        std::mt19937 rng(7);
        std::uniform_real_distribution<float> any(-2.f, 2.f);
        for (int i = 0; i < p.uniformFloats; ++i)
            random[(size_t)i] = any(rng);
        const std::vector<float> vertices = RandomInputs(effect.inputs, 300, 11);
        for (int count : {kLanes, 5, 1}) {
            ExpectSameFloats(p, scene, vertices, count, name);
            ExpectSameFloats(p, random, vertices, count, name);
            ExpectSameFloats(p, scene, meshInputs, count, name);
        }
    }
}

// Every operation of the interpreter, each lane with its own array index.
TEST(Batch, EveryOperationGivesTheFloatsOfOneRunAVertex)
{
    fx::CompiledEffect fx;
    ASSERT_TRUE(CompileText(kEveryOperation, &fx));
    const fx::Program& p = *fx.techniques[0].passes[0].vs;
    EXPECT_TRUE(p.selfContained);
    std::vector<float> frame = p.initial;
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> any(-1.5f, 1.5f);
    for (int i = 0; i < p.uniformFloats; ++i)
        frame[(size_t)i] = any(rng);
    const std::vector<float> vertices = RandomInputs(p.inputs.size(), 400, 5);
    ExpectSameFloats(p, frame, vertices, kLanes, "every operation");
    ExpectSameFloats(p, frame, vertices, 3, "every operation");
}

// Lanes that would branch apart are refused (the device then runs them one
// by one); lanes that agree run.
TEST(Batch, LanesThatBranchApartAreRefused)
{
    fx::CompiledEffect fx;
    ASSERT_TRUE(CompileText("struct O { float4 p : POSITION; float4 c : COLOR0; };\n"
                            "O VS(float4 p : POSITION) { O o; o.p = p; o.c = 0;\n"
                            "  if (p.x > 0) o.c = float4(sin(p.y), 1, 0, 1); else o.c.g = p.y; return o; }\n"
                            "float4 PS(float4 c : COLOR0) : COLOR { return c; }\n"
                            "technique T { pass P { VertexShader = compile vs_2_0 VS();\n"
                            "  PixelShader = compile ps_2_0 PS(); } }\n",
                            &fx));
    const fx::Program& p = *fx.techniques[0].passes[0].vs;
    fx::Batch batch;
    batch.Load(p, p.initial.data());
    const int x = p.inputs[0].offset;
    for (int l = 0; l < kLanes; ++l)
        batch.Float(x)[l] = 1.f + (float)l, batch.Float(x + 1)[l] = 0.1f * (float)l;
    EXPECT_TRUE(batch.Run(kLanes));
    batch.Float(x)[7] = -1.f;
    EXPECT_FALSE(batch.Run(kLanes));
    EXPECT_TRUE(batch.Run(7));  // the lanes that count still agree
    const std::vector<float> vertices = RandomInputs(1, 64, 9);
    std::vector<float> same;  // all on one side
    for (size_t i = 0; i < vertices.size(); i += 4)
        same.insert(same.end(), {fabsf(vertices[i]) + 1.f, vertices[i + 1], vertices[i + 2], 1.f});
    ExpectSameFloats(p, p.initial, same, kLanes, "branch");
}

// A loop bounded by a uniform stops at 255 iterations in both interpreters;
// a program that runs away (no compiled one does) is cut short in a batch
// as in a run of one vertex.
TEST(Batch, LoopsStopAtTheirBoundAndRunawaysAreCutShort)
{
    fx::CompiledEffect fx;
    ASSERT_TRUE(CompileText("float n = 1e9;\n"
                            "struct O { float4 p : POSITION; float4 c : COLOR0; };\n"
                            "O VS(float4 p : POSITION) { O o; o.p = p; o.c = 0;\n"
                            "  for (float i = 0; i < n; i++) o.c.r += p.x; return o; }\n"
                            "float4 PS(float4 c : COLOR0) : COLOR { return c; }\n"
                            "technique T { pass P { VertexShader = compile vs_2_0 VS();\n"
                            "  PixelShader = compile ps_2_0 PS(); } }\n",
                            &fx));
    const fx::Program& p = *fx.techniques[0].passes[0].vs;
    const int colour = p.outputs[1].offset;
    std::vector<float> frame = p.initial;
    std::copy(fx.store.begin(), fx.store.end(), frame.begin());
    fx::Batch batch;
    batch.Load(p, frame.data());
    frame[(size_t)p.inputs[0].offset] = 0.5f;
    bool cutShort = false;
    p.Run(frame.data(), &cutShort);
    EXPECT_FALSE(cutShort);
    EXPECT_EQ(frame[(size_t)colour], 255 * 0.5f);
    for (int l = 0; l < kLanes; ++l)
        batch.Float(p.inputs[0].offset)[l] = 0.5f;
    ASSERT_TRUE(batch.Run(kLanes));
    for (int l = 0; l < kLanes; ++l)
        EXPECT_EQ(batch.Float(colour)[l], 255 * 0.5f) << l;

    fx::Program runaway = p;
    fx::Instr jump{};
    jump.op = fx::OpJmp;
    jump.i0 = 0;
    runaway.code.insert(runaway.code.begin(), jump);
    frame = runaway.initial;
    std::copy(fx.store.begin(), fx.store.end(), frame.begin());
    batch.Load(runaway, frame.data());
    EXPECT_TRUE(runaway.Run(frame.data(), &cutShort));
    EXPECT_TRUE(cutShort);
    bool batchCutShort = false;
    EXPECT_TRUE(batch.Run(kLanes, &batchCutShort));
    EXPECT_TRUE(batchCutShort);
}

// The key of reuse: only the input floats a program reads.
TEST(Batch, ProgramsTellWhichInputFloatsTheyRead)
{
    fx::CompiledEffect fx;
    ASSERT_TRUE(CompileText("struct O { float4 p : POSITION; float4 c : COLOR0; };\n"
                            "O VS(float4 p : POSITION, float3 n : NORMAL, float4 v : COLOR0, float2 t : TEXCOORD0)\n"
                            "{ O o; o.p = float4(p.xy, 0.5, 1); o.c = float4(v.b, 0, t.y, 1); return o; }\n"
                            "float4 PS(float4 c : COLOR0) : COLOR { return c; }\n"
                            "technique T { pass P { VertexShader = compile vs_2_0 VS();\n"
                            "  PixelShader = compile ps_2_0 PS(); } }\n",
                            &fx));
    const fx::Program& p = *fx.techniques[0].passes[0].vs;
    ASSERT_EQ(p.inputs.size(), 4u);
    EXPECT_EQ(p.inputsRead, (std::vector<uint8_t>{0x3, 0x0, 0x4, 0x2}));
}

// Whole meshes in one indexed draw each, corners repeated, and vertices
// that differ only in bytes the program does not read: the same pictures
// with batches and reuse as with one run a vertex.
TEST(Batch, DrawsInBatchesGiveThePicturesOfOneRunAVertex)
{
    const int W = 160, H = 120;
    Device d(W, H);
    ASSERT_TRUE(d.device);
    IDirect3DDevice9* dev = d.device;
    ID3DXEffect* spot = nullptr;
    ID3DXEffect* flat = nullptr;
    std::string errors;
    ASSERT_EQ(MakeEffect(dev, ReadShipped("spot.fx"), &spot, &errors), D3D_OK) << errors;
    // Reads the normal only where the position is on the right: the batches
    // of the left and right halves branch apart.
    ASSERT_EQ(MakeEffect(dev,
                         "float4x4 wvp;\n"
                         "struct O { float4 p : POSITION; float4 c : COLOR0; };\n"
                         "O VS(float4 p : POSITION, float3 n : NORMAL) { O o; o.p = mul(p, wvp); o.c = 0.5;\n"
                         "  if (p.x > 0) o.c.rg = saturate(n.xy); return o; }\n"
                         "float4 PS(float4 c : COLOR0) : COLOR { return c; }\n"
                         "technique T { pass P { CullMode = None; VertexShader = compile vs_2_0 VS();\n"
                         "  PixelShader = compile ps_2_0 PS(); } }\n",
                         &flat, &errors),
              D3D_OK)
        << errors;
    // A sphere as shared vertices and indices (the mesh form).
    const std::vector<NormalVertex> tris = Sphere(60.f, 14, 20);
    std::vector<NormalVertex> shared;
    std::vector<WORD> indices;
    for (const NormalVertex& v : tris) {
        size_t k = 0;
        while (k < shared.size() && memcmp(&shared[k], &v, sizeof v) != 0)
            ++k;
        if (k == shared.size())
            shared.push_back(v);
        indices.push_back((WORD)k);
    }
    ASSERT_LT(shared.size(), tris.size() / 2);
    D3DXMATRIX view = ToX(LookAtLH(0, 60, -300, 0, 0, 0)), proj = ToX(PerspectiveFovLH(0.8f, (float)W / H, 10.f, 5000.f));
    D3DXMATRIX wvp = ToX(Identity());
    wvp._11 = wvp._22 = 0.012f, wvp._33 = 0.001f, wvp._43 = 0.5f;
    flat->SetMatrix("wvp", &wvp);
    auto frame = [&]() {
        dev->Clear(0, NULL, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xff101020, 1.f, 0);
        dev->BeginScene();
        dev->SetFVF(D3DFVF_XYZ | D3DFVF_NORMAL);
        spot->SetMatrix("viewMatrix", &view);
        spot->SetMatrix("projectionMatrix", &proj);
        const float light[10] = {0, 300, -200, 0, -1, 0.5f, 1, 0.8f, 0.5f, 0};
        spot->SetValue(spot->GetParameterElement(spot->GetParameterByName(NULL, "lightArr"), 0), light, 40);
        for (int i = 0; i < 3; ++i) {
            D3DXMATRIX world = ToX(Identity());
            world._41 = -120.f + 120.f * (float)i;
            spot->SetMatrix("worldMatrix", &world);
            Passes(spot, [&] {
                dev->DrawIndexedPrimitiveUP(D3DPT_TRIANGLELIST, 0, (UINT)shared.size(), (UINT)indices.size() / 3,
                                            indices.data(), D3DFMT_INDEX16, shared.data(), sizeof(NormalVertex));
            });
        }
        Passes(flat, [&] {
            dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, (UINT)tris.size() / 3, tris.data(), sizeof(NormalVertex));
        });
        dev->EndScene();
        return d.Pixels();
    };
    const std::vector<DWORD> batched = frame();
    VelmoraSetVertexCacheAndBatching(FALSE);
    const std::vector<DWORD> plain = frame();
    VelmoraSetVertexCacheAndBatching(TRUE);
    ASSERT_EQ(batched.size(), plain.size());
    size_t differ = 0, drawn = 0;
    for (size_t i = 0; i < plain.size(); ++i) {
        differ += batched[i] != plain[i];
        drawn += (plain[i] & 0xffffff) != 0x101020;
    }
    EXPECT_EQ(differ, 0u);
    EXPECT_GT(drawn, 4000u);
    flat->Release();
    spot->Release();
}
