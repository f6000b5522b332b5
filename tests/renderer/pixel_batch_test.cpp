// Pixel programs shaded in batches against one run a pixel: the raster
// stage gathers a triangle's pixels for its program, and must still test,
// blend and write each exactly as the general path does.
#include "d3d_test_device.h"
#include "render_threads.h"
#include "stage_support.h"
#include "test_support.h"

#include <d3dx9.h>

#include <gtest/gtest.h>

#include <math.h>
#include <stdlib.h>

#include <string>
#include <vector>

using namespace d3dtest;

namespace {

// How the general path runs a draw's pixel program.
enum class Mode { Reference, Batched, OneByOne };

void SetMode(Mode mode)
{
    VelmoraSetFastPixelPaths(mode == Mode::Reference ? FALSE : TRUE);
    VelmoraSetPixelBatches(mode == Mode::Batched ? TRUE : FALSE);
}

void ResetMode()
{
    VelmoraSetFastPixelPaths(TRUE);
    VelmoraSetPixelBatches(TRUE);
}

// A program whose colours depend on the order it is called in, which
// discards some pixels and notes every call and every batch.
class Recorder final : public vr::PixelProgram {
public:
    bool Shade(const float* attr, float out[4]) override
    {
        calls.push_back(attr[0]);
        calls.push_back(attr[5]);
        out[0] = attr[0] * 1.5f - 0.2f;
        out[1] = attr[1] + (float)(calls.size() % 3) * 0.05f;
        out[2] = attr[2] / attr[6];  // 1/0 and 0/0 where the plane crosses 0
        out[3] = attr[3];
        return attr[4] < 0.85f;
    }
    void ShadeBatch(const float* attr, int attrs, int count, float* out, bool* keep) override
    {
        batches.push_back(count);
        PixelProgram::ShadeBatch(attr, attrs, count, out, keep);
    }
    std::vector<float> calls;
    std::vector<int> batches;
};

struct StageResult {
    std::vector<uint32_t> color;
    std::vector<float> depth;
    uint64_t written = 0;
    std::vector<float> calls;
    std::vector<int> batches;
};

vr::Vertex Random(unsigned* seed, float x0, float y0, float size)
{
    auto next = [seed] {
        *seed = *seed * 1664525u + 1013904223u;
        return (float)(*seed >> 8) / 16777216.f;
    };
    vr::Vertex v = stagetest::ScreenVertex(x0 + next() * size, y0 + next() * size, next(), next(), next(), next(),
                                           next());
    v.w = 0.25f + next() * 2.f;  // 1/w: the floats interpolate in perspective
    for (int i = 0; i < 4; ++i)
        v.specular[i] = next() * 1.2f - 0.1f;
    v.specular[2] = next() - 0.5f;
    return v;
}

// Many overlapping triangles on a 64 x 80 target, from a few pixels to most
// of it, a few at a time over one spot.
StageResult DrawStage(Mode mode, const vr::PixelState& base, bool hasAlpha)
{
    SetMode(mode);
    stagetest::Canvas canvas(64, 80, 0x40302010u);
    vr::Target t = canvas.raster.GetTarget();
    t.hasAlpha = hasAlpha;
    canvas.raster.SetTarget(t);
    for (size_t i = 0; i < canvas.depth.size(); ++i)
        canvas.depth[i] = (float)(i % 7) / 7.f;
    Recorder program;
    vr::PixelState ps = base;
    ps.program = &program;
    ps.programAttrs = 8;
    canvas.raster.SetState(ps);
    canvas.raster.pixelsWritten = 0;
    unsigned seed = 12345;
    for (int i = 0; i < 300; ++i) {
        const float size = i % 50 == 0 ? 90.f : (i % 5 == 0 ? 12.f : 4.f);
        // Runs of a few triangles over the same spot, as a mesh folds over itself.
        const int spot = i / 4;
        const float x0 = (float)(spot * 7 % 64) - 4.f, y0 = (float)(spot * 13 % 80) - 4.f;
        vr::Vertex a = Random(&seed, x0, y0, size), b = Random(&seed, x0, y0, size), c = Random(&seed, x0, y0, size);
        canvas.raster.DrawTriangle(a, b, c, true);
    }
    StageResult r;
    r.written = canvas.Written();
    r.color = canvas.color;
    r.depth = canvas.depth;
    r.calls = program.calls;
    r.batches = program.batches;
    ResetMode();
    return r;
}

void ExpectSameStage(const vr::PixelState& state, bool hasAlpha, const char* what)
{
    const StageResult ref = DrawStage(Mode::Reference, state, hasAlpha);
    const StageResult batched = DrawStage(Mode::Batched, state, hasAlpha);
    const StageResult one = DrawStage(Mode::OneByOne, state, hasAlpha);
    EXPECT_GT(ref.written, 300u) << what;
    EXPECT_TRUE(ref.batches.empty()) << what;
    for (const StageResult* r : {&batched, &one}) {
        const char* how = r == &batched ? "batched" : "one by one";
        EXPECT_EQ(r->written, ref.written) << what << ", " << how;
        EXPECT_TRUE(r->color == ref.color) << what << ", " << how;
        EXPECT_EQ(memcmp(r->depth.data(), ref.depth.data(), ref.depth.size() * sizeof(float)), 0) << what << ", "
                                                                                                  << how;
        // The same pixels shaded in the same order.
        ASSERT_EQ(r->calls.size(), ref.calls.size()) << what << ", " << how;
        EXPECT_EQ(memcmp(r->calls.data(), ref.calls.data(), ref.calls.size() * sizeof(float)), 0) << what << ", "
                                                                                                  << how;
    }
    // Full batches, and the rest of each triangle.
    int full = 0;
    for (int n : batched.batches) {
        EXPECT_TRUE(n >= 1 && n <= vr::PixelProgram::kLanes) << n;
        full += n == vr::PixelProgram::kLanes;
    }
    EXPECT_GT(full, 0) << what;
    EXPECT_TRUE(one.batches.empty()) << what;
}

}  // namespace

TEST(RendererPixelBatches, DepthTestedOpaqueDrawsMatchOneRunAPixel)
{
    vr::PixelState s = stagetest::PlainState();
    s.zEnable = s.zWrite = true;
    s.zFunc = D3DCMP_LESS;
    ExpectSameStage(s, false, "less, written");
    s.zFunc = D3DCMP_GREATEREQUAL;
    ExpectSameStage(s, false, "greater or equal, written");
    s.zWrite = false;
    s.zFunc = D3DCMP_LESSEQUAL;
    ExpectSameStage(s, false, "less or equal, not written");
}

TEST(RendererPixelBatches, BlendsAlphaTestsAndWriteMasksMatchOneRunAPixel)
{
    vr::PixelState s = stagetest::PlainState();
    s.zEnable = s.zWrite = true;
    s.alphaBlend = true;
    s.srcBlend = D3DBLEND_SRCALPHA;
    s.destBlend = D3DBLEND_INVSRCALPHA;
    ExpectSameStage(s, true, "source alpha blend");
    s.alphaTest = true;
    s.alphaRef = 0x50;
    s.alphaFunc = D3DCMP_GREATER;
    s.srcBlend = D3DBLEND_DESTCOLOR;
    s.destBlend = D3DBLEND_ONE;
    s.blendOp = D3DBLENDOP_REVSUBTRACT;
    ExpectSameStage(s, true, "alpha test, reverse subtraction");
    s.alphaTest = false;
    s.zEnable = false;
    s.blendOp = D3DBLENDOP_MAX;
    s.colorWriteMask = D3DCOLORWRITEENABLE_RED | D3DCOLORWRITEENABLE_ALPHA;
    ExpectSameStage(s, true, "no depth, maximum, red and alpha only");
}

// A triangle's pixels are all drawn when DrawTriangle returns: a line, a
// state change or another triangle after it finds them written.
TEST(RendererPixelBatches, EachTrianglesPixelsAreDrawnWhenItReturns)
{
    std::vector<std::vector<float>> seen[2];
    std::vector<uint32_t> pictures[2];
    for (Mode mode : {Mode::Reference, Mode::Batched}) {
        SetMode(mode);
        std::vector<std::vector<float>>& calls = seen[mode == Mode::Batched];
        stagetest::Canvas canvas(16, 16);
        Recorder program;
        vr::PixelState ps = stagetest::PlainState();
        ps.zEnable = ps.zWrite = true;
        ps.program = &program;
        ps.programAttrs = 8;
        canvas.raster.SetState(ps);
        vr::Vertex a = stagetest::ScreenVertex(0, 0, 0.5f, 0.2f, 0.3f, 0.4f);
        vr::Vertex b = stagetest::ScreenVertex(16, 0, 0.5f, 0.5f, 0.6f, 0.7f);
        vr::Vertex c = stagetest::ScreenVertex(0, 16, 0.5f, 0.8f, 0.1f, 0.1f);
        canvas.raster.DrawTriangle(a, b, c, true);
        calls.push_back(program.calls);
        // At the triangle's depth: LESSEQUAL passes only where it wrote.
        vr::Vertex l0 = stagetest::ScreenVertex(0, 3, 0.5f, 0.9f, 0.9f, 0.9f);
        vr::Vertex l1 = stagetest::ScreenVertex(16, 3, 0.5f, 0.9f, 0.9f, 0.9f);
        canvas.raster.DrawLine(l0, l1, true, false);
        calls.push_back(program.calls);
        canvas.raster.DrawTriangle(c, b, a, true);
        vr::PixelState less = ps;
        less.zFunc = D3DCMP_LESS;
        canvas.raster.SetState(less);
        calls.push_back(program.calls);
        canvas.raster.DrawTriangle(a, b, c, true);
        canvas.raster.Flush();
        calls.push_back(program.calls);
        pictures[mode == Mode::Batched] = canvas.color;
    }
    ResetMode();
    EXPECT_GT(seen[0][0].size(), 2u * 100);
    for (size_t i = 0; i < seen[0].size(); ++i)
        EXPECT_TRUE(seen[1][i] == seen[0][i]) << "step " << i;
    EXPECT_GT(seen[0][1].size(), seen[0][0].size());
    EXPECT_TRUE(pictures[1] == pictures[0]);
}

namespace {

std::string ReadShipped(const char* name)
{
    return testing_support::ReadFile(std::string(VELMORA_PLUGIN_DIR) + "/data/shaders/" + name);
}

ID3DXEffect* MakeEffect(IDirect3DDevice9* dev, const std::string& source)
{
    ID3DXEffect* effect = nullptr;
    ID3DXBuffer* errors = nullptr;
    HRESULT hr = D3DXCreateEffect(dev, source.data(), (UINT)source.size(), nullptr, nullptr, 0, nullptr, &effect,
                                  &errors);
    EXPECT_EQ(hr, D3D_OK) << (errors ? (const char*)errors->GetBufferPointer() : "");
    if (errors)
        errors->Release();
    return effect;
}

const char* kClipEffect = R"(
float4x4 wvp;
struct VOut { float4 pos : POSITION; float4 colour : COLOR0; float4 shade : TEXCOORD0; };
VOut VS(float3 p : POSITION, float3 n : NORMAL)
{
    VOut o;
    o.pos = mul(float4(p, 1), wvp);
    o.colour = float4(n * 0.5 + 0.5, 1);
    o.shade = float4(n.x, n.y * 4, p.z * 0.1, 0);
    return o;
}
float4 PS(float4 c : COLOR0, float4 s : TEXCOORD0) : COLOR0
{
    clip(s.y + 0.5);
    if (s.x > 0.6)
        discard;
    return float4(c.rgb * 1.5, s.z);
}
technique Clip { pass P0 { ZEnable = true; ZWriteEnable = true;
    VertexShader = compile vs_2_0 VS(); PixelShader = compile ps_2_0 PS(); } }
)";

struct SheetVertex {
    float x, y, z;
    float nx, ny, nz;
};

// A bumpy sheet of small triangles in one draw, and large ones through it.
void DrawSheet(IDirect3DDevice9* dev, float phase)
{
    const int n = 24;
    std::vector<SheetVertex> v;
    auto at = [&](int i, int j) {
        const float x = -4.f + 8.f * i / n, y = -3.f + 6.f * j / n;
        const float z = 8.f + sinf(x * 1.7f + phase) * cosf(y * 2.1f) * 1.5f;
        const float nx = cosf(x * 1.7f + phase) * 0.6f, ny = sinf(y * 2.1f) * 0.6f;
        const float len = sqrtf(nx * nx + ny * ny + 1.f);
        return SheetVertex{x, y, z, nx / len, ny / len, -1.f / len};
    };
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i) {
            v.push_back(at(i, j)), v.push_back(at(i + 1, j)), v.push_back(at(i, j + 1));
            v.push_back(at(i + 1, j)), v.push_back(at(i + 1, j + 1)), v.push_back(at(i, j + 1));
        }
    const SheetVertex big[6] = {{-5, -3, 6, 0, 0, -1},     {5, 0, 11, 0.7f, 0, -0.7f}, {-4, 4, 9, 0, 0.7f, -0.7f},
                                {3, -4, 10, -0.6f, 0.6f, -0.5f}, {4, 4, 6, 0, 0, -1}, {-5, 1, 9, 0.5f, -0.5f, -0.7f}};
    v.insert(v.end(), big, big + 6);
    dev->SetFVF(D3DFVF_XYZ | D3DFVF_NORMAL);
    dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, (UINT)(v.size() / 3), v.data(), sizeof(SheetVertex));
}

void Render(IDirect3DDevice9* dev, ID3DXEffect* effect, float phase)
{
    UINT passes = 0;
    effect->Begin(&passes, 0);
    effect->BeginPass(0);
    DrawSheet(dev, phase);
    effect->EndPass();
    effect->End();
}

// The dancers' three looks, then blended, masked, at equal depth, and a
// program that clips and discards under an alpha test; one picture after
// each part, each part drawn over the last.
std::vector<std::vector<DWORD>> DrawDancerScenes(Mode mode)
{
    SetMode(mode);
    const int W = 160, H = 120;
    Device d(W, H);
    IDirect3DDevice9* dev = d.device;
    ID3DXEffect* dancer = dev ? MakeEffect(dev, ReadShipped("dancer.fx")) : nullptr;
    ID3DXEffect* clip = dev ? MakeEffect(dev, kClipEffect) : nullptr;
    if (!dancer || !clip)
        return {};
    std::vector<std::vector<DWORD>> pictures;
    const D3DMATRIX id = Identity(), proj = PerspectiveFovLH(1.f, (float)W / H, 1.f, 50.f);
    dancer->SetMatrix("worldMatrix", (const D3DXMATRIX*)&id);
    dancer->SetMatrix("viewMatrix", (const D3DXMATRIX*)&id);
    dancer->SetMatrix("projectionMatrix", (const D3DXMATRIX*)&proj);
    D3DXHANDLE lights = dancer->GetParameterByName(nullptr, "lightArr");
    const float light[3][10] = {{-3, 4, 0, 0.4f, -0.5f, 1, 1, 0.8f, 0.6f, 1},
                                {3, 2, 2, -0.3f, -0.2f, 1, 0.3f, 0.5f, 1, 1},
                                {0, -4, 1, 0, 0.5f, 1, 0.6f, 1, 0.4f, 1}};
    for (UINT i = 0; i < 3; ++i)
        dancer->SetValue(dancer->GetParameterElement(lights, i), light[i], sizeof light[i]);
    D3DMATRIX wvp = proj;
    clip->SetMatrix("wvp", (const D3DXMATRIX*)&wvp);
    dev->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    dev->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xff203040, 1.f, 0);
    dev->BeginScene();
    auto part = [&] {
        dev->EndScene();
        pictures.push_back(d.Pixels());
        dev->BeginScene();
    };
    const char* looks[3] = {"Smooth", "Toon", "Glow"};
    for (int i = 0; i < 3; ++i) {
        dancer->SetTechnique(looks[i]);
        Render(dev, dancer, 0.7f * i);
        part();
    }
    // A translucent tint over what is there.
    const float tint[4] = {0.3f, 0.8f, 1.f, 0.45f};
    dancer->SetVector("material", (const D3DXVECTOR4*)tint);
    dev->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    dev->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    dev->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    dancer->SetTechnique("Toon");
    Render(dev, dancer, 0.3f);
    part();
    // The same sheet again at equal depth, added into red and green only.
    dev->SetRenderState(D3DRS_ZFUNC, D3DCMP_EQUAL);
    dev->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
    dev->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
    dev->SetRenderState(D3DRS_COLORWRITEENABLE, D3DCOLORWRITEENABLE_RED | D3DCOLORWRITEENABLE_GREEN);
    dancer->SetTechnique("Glow");
    Render(dev, dancer, 0.3f);
    part();
    dev->SetRenderState(D3DRS_ZFUNC, D3DCMP_LESSEQUAL);
    dev->SetRenderState(D3DRS_COLORWRITEENABLE, 0xF);
    dev->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    dev->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 1.f, 0);
    dev->SetRenderState(D3DRS_ALPHATESTENABLE, TRUE);
    dev->SetRenderState(D3DRS_ALPHAREF, 0x60);
    dev->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATER);
    Render(dev, clip, 1.1f);
    dev->SetRenderState(D3DRS_ALPHATESTENABLE, FALSE);
    part();
    dev->EndScene();
    dancer->Release();
    clip->Release();
    ResetMode();
    return pictures;
}

}  // namespace

TEST(RendererPixelBatches, DancerProgramsDrawTheReferencePictures)
{
    const std::vector<std::vector<DWORD>> ref = DrawDancerScenes(Mode::Reference);
    const std::vector<std::vector<DWORD>> batched = DrawDancerScenes(Mode::Batched);
    const std::vector<std::vector<DWORD>> one = DrawDancerScenes(Mode::OneByOne);
    ASSERT_EQ(ref.size(), 6u);
    ASSERT_EQ(batched.size(), ref.size());
    ASSERT_EQ(one.size(), ref.size());
    for (size_t i = 0; i < ref.size(); ++i) {
        // Every part draws something of its own.
        const std::vector<DWORD>& before = i ? ref[i - 1] : std::vector<DWORD>(ref[i].size(), 0xff203040);
        int changed = 0;
        for (size_t p = 0; p < ref[i].size(); ++p)
            changed += ref[i][p] != before[p];
        EXPECT_GT(changed, 1000) << "part " << i;
        EXPECT_TRUE(batched[i] == ref[i]) << "part " << i;
        EXPECT_TRUE(one[i] == ref[i]) << "part " << i;
    }
}

TEST(RendererPixelBatches, EveryThreadCountDrawsTheReference)
{
    // Every thread count against the reference: one thread, one run a pixel.
    std::vector<std::vector<DWORD>> ref;
    {
        ScopedRenderThreads scope("1");
        ref = DrawDancerScenes(Mode::Reference);
    }
    ASSERT_EQ(ref.size(), 6u);
    for (int threads = 1; threads <= 8; ++threads) {
        ScopedRenderThreads scope(std::to_string(threads).c_str());
        EXPECT_TRUE(DrawDancerScenes(Mode::Batched) == ref) << threads << " threads";
    }
}
