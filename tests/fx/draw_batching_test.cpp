// Small draws of effect programs wait in the device and run together. Nothing
// a caller can see may change: not the picture, not the order, not what a
// lock of the back buffer shows, and the caller's vertex memory is its own
// again as soon as the call returns.
#include "d3d_test_device.h"
#include "effect_test_support.h"
#include "render_threads.h"

#include <velmora_platform.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

using namespace d3dtest;
using namespace fxtest;

namespace {

// The vertex's normal is its colour; the tint, a uniform, multiplies it.
const char* const kNormalColour =
    "float4 tint = float4(1, 1, 1, 1);\n"
    "struct O { float4 p : POSITION; float4 c : COLOR0; };\n"
    "O VS(float4 p : POSITION, float3 n : NORMAL) { O o; o.p = p; o.c = float4(n, 1); return o; }\n"
    "float4 PS(float4 c : COLOR0) : COLOR { return c * tint; }\n"
    "technique T { pass P { ZEnable = false; CullMode = None; VertexShader = compile vs_2_0 VS();\n"
    "  PixelShader = compile ps_2_0 PS(); } }\n";

const int kSize = 64;

// Overlapping triangles in clip space, each its own colour: the last drawn
// shows, so a change of order would.
std::vector<NormalVertex> Fan(int count)
{
    std::vector<NormalVertex> v;
    for (int i = 0; i < count; ++i) {
        float a = 0.37f * (float)i, r = 0.2f + 0.7f * (float)((i * 7) % 11) / 11.f;
        float cx = 0.5f * cosf(a), cy = 0.5f * sinf(a);
        float nx = (float)(i % 5) / 4.f, ny = (float)(i % 3) / 2.f, nz = (float)(i % 7) / 6.f;
        v.push_back({cx, cy + r, 0.5f, nx, ny, nz});
        v.push_back({cx + r, cy - r, 0.5f, nx, ny, nz});
        v.push_back({cx - r, cy - r, 0.5f, nx, ny, nz});
    }
    return v;
}

// One device with the effect's pass begun inside a scene.
struct OpenPass {
    Device d{kSize, kSize};
    ID3DXEffect* fx = nullptr;
    OpenPass(bool scene)
    {
        std::string errors;
        EXPECT_EQ(MakeEffect(d.device, kNormalColour, &fx, &errors), D3D_OK) << errors;
        if (!fx)
            return;
        d.device->Clear(0, NULL, D3DCLEAR_TARGET, 0xff000000, 1.f, 0);
        if (scene)
            d.device->BeginScene();
        UINT passes = 0;
        fx->Begin(&passes, 0);
        fx->BeginPass(0);
        d.device->SetFVF(D3DFVF_XYZ | D3DFVF_NORMAL);
    }
    ~OpenPass()
    {
        if (!fx)
            return;
        fx->EndPass();
        fx->End();
        fx->Release();
    }
};

// Runs `draw` inside a scene with the effect's pass begun, with the vertex
// cache (and so the waiting of small draws) on, then off; both pictures.
struct Both {
    std::vector<DWORD> fast, reference;
};

Both Draw(const std::function<void(IDirect3DDevice9*, ID3DXEffect*)>& draw)
{
    Both out;
    for (int pass = 0; pass < 2; ++pass) {
        VelmoraSetVertexCacheAndBatching(pass == 0 ? TRUE : FALSE);
        OpenPass p(true);
        if (!p.fx)
            break;
        p.d.device->Clear(0, NULL, D3DCLEAR_TARGET, 0xff202020, 1.f, 0);
        draw(p.d.device, p.fx);
        p.d.device->EndScene();
        (pass == 0 ? out.fast : out.reference) = p.d.Pixels();
    }
    VelmoraSetVertexCacheAndBatching(TRUE);
    return out;
}

size_t Differ(const Both& b)
{
    size_t n = b.fast.size() != b.reference.size() ? 1 : 0;
    for (size_t i = 0; i < b.fast.size() && i < b.reference.size(); ++i)
        n += b.fast[i] != b.reference[i];
    return n;
}

size_t Colours(const std::vector<DWORD>& pixels)
{
    std::vector<DWORD> seen(pixels);
    std::sort(seen.begin(), seen.end());
    return (size_t)(std::unique(seen.begin(), seen.end()) - seen.begin());
}

}  // namespace

// The caller refills one small buffer for every triangle, or frees it: each
// draw keeps the vertices it was given.
TEST(DrawBatching, CallerMemoryIsFreeWhenTheCallReturns)
{
    const std::vector<NormalVertex> fan = Fan(40);
    Both b = Draw([&](IDirect3DDevice9* dev, ID3DXEffect*) {
        for (size_t t = 0; t < fan.size(); t += 3) {
            // Exactly three vertices on the heap, gone after the call.
            auto* three = new NormalVertex[3]{fan[t], fan[t + 1], fan[t + 2]};
            dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, three, sizeof(NormalVertex));
            three[0] = three[1] = three[2] = NormalVertex{0, 0, 0, 1, 0, 0};
            delete[] three;
        }
    });
    EXPECT_EQ(Differ(b), 0u);
    EXPECT_GT(Colours(b.fast), 10u);
}

// Padded vertices whose last one ends at its data, and the stride changing
// from draw to draw.
TEST(DrawBatching, StridesChangeAndTheLastVertexMayBeShort)
{
    const std::vector<NormalVertex> fan = Fan(30);
    const UINT padded = 40;
    Both b = Draw([&](IDirect3DDevice9* dev, ID3DXEffect*) {
        for (size_t t = 0; t < fan.size(); t += 3) {
            if ((t / 3) % 3 == 2) {
                dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, &fan[t], sizeof(NormalVertex));
                continue;
            }
            std::vector<uint8_t> bytes(2 * padded + sizeof(NormalVertex), 0xee);
            for (int k = 0; k < 3; ++k)
                memcpy(bytes.data() + k * padded, &fan[t + k], sizeof(NormalVertex));
            dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, bytes.data(), padded);
        }
    });
    EXPECT_EQ(Differ(b), 0u);
    EXPECT_GT(Colours(b.fast), 10u);
}

// Whatever happens between two draws takes effect between them: states,
// a cleared target, constants committed inside the pass, larger draws and
// other primitive types.
TEST(DrawBatching, ChangesBetweenDrawsTakeEffectInOrder)
{
    const std::vector<NormalVertex> fan = Fan(60);
    Both b = Draw([&](IDirect3DDevice9* dev, ID3DXEffect* fx) {
        for (size_t i = 0; i < fan.size() / 3; ++i) {
            const size_t t = 3 * i;
            switch (i % 12) {
            case 3:
                dev->SetRenderState(D3DRS_COLORWRITEENABLE, D3DCOLORWRITEENABLE_RED | D3DCOLORWRITEENABLE_BLUE);
                break;
            case 4:
                dev->SetRenderState(D3DRS_COLORWRITEENABLE, 0xf);
                break;
            case 5: {
                D3DXVECTOR4 tint(0.5f, 1.f, 0.25f, 1.f);
                fx->SetVector("tint", &tint);
                fx->CommitChanges();
                break;
            }
            case 6:
                dev->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
                dev->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
                dev->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
                break;
            case 7:
                dev->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
                break;
            case 8: {
                D3DRECT corner = {0, 0, kSize / 2, kSize / 2};
                dev->Clear(1, &corner, D3DCLEAR_TARGET, 0xff0000ff, 1.f, 0);
                break;
            }
            case 9:
                // Too many triangles to wait: drawn in its turn all the same.
                dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 20, &fan[0], sizeof(NormalVertex));
                break;
            case 10:
                dev->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 1, &fan[t], sizeof(NormalVertex));
                continue;
            case 11: {
                D3DXVECTOR4 tint(1.f, 1.f, 1.f, 1.f);
                fx->SetVector("tint", &tint);
                fx->CommitChanges();
                break;
            }
            default:
                break;
            }
            dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, &fan[t], sizeof(NormalVertex));
        }
    });
    EXPECT_EQ(Differ(b), 0u);
    EXPECT_GT(Colours(b.fast), 20u);
}

// More triangles than may wait at once, in one long run.
TEST(DrawBatching, LongRunsKeepTheirOrder)
{
    const std::vector<NormalVertex> fan = Fan(5000);
    Both b = Draw([&](IDirect3DDevice9* dev, ID3DXEffect*) {
        for (size_t t = 0; t < fan.size(); t += 3)
            dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, &fan[t], sizeof(NormalVertex));
    });
    EXPECT_EQ(Differ(b), 0u);
    EXPECT_GT(Colours(b.fast), 20u);
}

// A lock of the back buffer in the middle of a scene shows every draw made
// before it, as the caller's vertices were at the call.
TEST(DrawBatching, ALockSeesTheDrawsBeforeIt)
{
    OpenPass p(true);
    ASSERT_TRUE(p.fx);
    IDirect3DDevice9* dev = p.d.device;
    const NormalVertex red[3] = {{-1, 1, 0.5f, 1, 0, 0}, {1, 1, 0.5f, 1, 0, 0}, {-1, -1, 0.5f, 1, 0, 0}};
    NormalVertex green[3] = {{1, 1, 0.5f, 0, 1, 0}, {1, -1, 0.5f, 0, 1, 0}, {-1, -1, 0.5f, 0, 1, 0}};
    dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, red, sizeof(NormalVertex));
    EXPECT_EQ(p.d.Pixel(8, 8) & 0xffffff, 0xff0000u);
    EXPECT_EQ(p.d.Pixel(56, 56) & 0xffffff, 0x000000u);
    dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, green, sizeof(NormalVertex));
    EXPECT_EQ(p.d.Pixel(56, 56) & 0xffffff, 0x00ff00u);
    dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, red, sizeof(NormalVertex));
    dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, green, sizeof(NormalVertex));
    green[0].nx = 1.f;  // after the call: not drawn
    EXPECT_EQ(p.d.Pixel(8, 8) & 0xffffff, 0xff0000u);
    EXPECT_EQ(p.d.Pixel(56, 56) & 0xffffff, 0x00ff00u);
    EXPECT_EQ(p.d.Pixel(40, 40) & 0xffffff, 0x00ff00u);
    EXPECT_EQ(dev->EndScene(), D3D_OK);
}

// Draws outside a scene, or without vertices, fail at the call as before.
TEST(DrawBatching, RefusedDrawsFailAtTheCall)
{
    const std::vector<NormalVertex> fan = Fan(2);
    OpenPass p(false);
    ASSERT_TRUE(p.fx);
    IDirect3DDevice9* dev = p.d.device;
    EXPECT_EQ(dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, fan.data(), sizeof(NormalVertex)), D3DERR_INVALIDCALL);
    dev->BeginScene();
    EXPECT_EQ(dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, fan.data(), 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, nullptr, sizeof(NormalVertex)), D3DERR_INVALIDCALL);
    EXPECT_EQ(dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, fan.data(), sizeof(NormalVertex)), D3D_OK);
    EXPECT_EQ(dev->EndScene(), D3D_OK);
    EXPECT_EQ(dev->EndScene(), D3DERR_INVALIDCALL);
}

// A pixel program that counts its runs sees its pixels in the walk's order
// whatever the threads; one that does not is shared among them. Both draw
// what one thread draws.
TEST(DrawBatching, PixelProgramsDrawAsOneThreadWhateverTheThreads)
{
    const char* const kCounting =
        "static float count = 0;\n"
        "struct O { float4 p : POSITION; float4 c : COLOR0; };\n"
        "O VS(float4 p : POSITION, float3 n : NORMAL) { O o; o.p = p; o.c = float4(n, 1); return o; }\n"
        "float4 PS(float4 c : COLOR0) : COLOR { count = count + 1; return float4(frac(count / 7), c.g, c.b, 1); }\n"
        "technique T { pass P { ZEnable = false; CullMode = None; VertexShader = compile vs_2_0 VS();\n"
        "  PixelShader = compile ps_2_0 PS(); } }\n";
    const std::vector<NormalVertex> fan = Fan(24);
    ScopedRenderThreads scoped("1");
    for (const char* source : {kCounting, kNormalColour}) {
        std::vector<std::vector<DWORD>> pictures;
        for (const char* threads : {"1", "4"}) {
            scoped.Set(threads);
            Device d(256, 256);
            ASSERT_TRUE(d.device);
            ID3DXEffect* fx = nullptr;
            std::string errors;
            ASSERT_EQ(MakeEffect(d.device, source, &fx, &errors), D3D_OK) << errors;
            d.device->Clear(0, NULL, D3DCLEAR_TARGET, 0xff000000, 1.f, 0);
            d.device->BeginScene();
            Passes(fx, [&] {
                d.device->SetFVF(D3DFVF_XYZ | D3DFVF_NORMAL);
                d.device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, (UINT)fan.size() / 3, fan.data(), sizeof(NormalVertex));
            });
            d.device->EndScene();
            pictures.push_back(d.Pixels());
            fx->Release();
        }
        EXPECT_TRUE(pictures[0] == pictures[1]) << (source == kCounting ? "counting" : "plain");
        EXPECT_GT(Colours(pictures[0]), 10u);
    }
}

namespace {

// The colour from the normal, texture coordinates from the position: the
// device's texture stages colour the pixels.
const char* const kStagesColour =
    "struct O { float4 p : POSITION; float4 c : COLOR0; float2 t : TEXCOORD0; };\n"
    "O VS(float4 p : POSITION, float3 n : NORMAL) { O o; o.p = p; o.c = float4(n, 1); o.t = p.xy * 3; return o; }\n"
    "technique T { pass P { ZEnable = false; CullMode = None; VertexShader = compile vs_2_0 VS(); } }\n";

IDirect3DTexture9* Checks(IDirect3DDevice9* dev, DWORD even, DWORD odd)
{
    IDirect3DTexture9* t = nullptr;
    if (FAILED(dev->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t, nullptr)))
        return nullptr;
    D3DLOCKED_RECT r;
    t->LockRect(0, &r, nullptr, 0);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            ((DWORD*)((uint8_t*)r.pBits + y * r.Pitch))[x] = (x + y) % 2 ? odd : even + (DWORD)(x * 0x10 + y * 0x2000);
    t->UnlockRect(0);
    return t;
}

}  // namespace

// Every setter of the state a waiting draw reads, between two small draws
// that wait: the first draw is drawn as the state was, the second as it is,
// just as when every draw is drawn at its call. (Only draws of a vertex
// program from the caller's memory wait: transforms, material, lights,
// stream source and indices are read by none of them.)
TEST(DrawBatching, EverySetterTakesEffectAfterTheDrawsBeforeIt)
{
    const std::vector<NormalVertex> fan = Fan(8);
    struct Setter {
        const char* name;
        bool stages;  // the vertex program only, the texture stages colour
        std::function<void(IDirect3DDevice9*, IDirect3DTexture9*)> change;
    };
    const D3DVIEWPORT9 half = {8, 4, kSize / 2, kSize / 2, 0.f, 1.f};
    const std::vector<Setter> setters = {
        {"SetRenderState", true, [](IDirect3DDevice9* d, IDirect3DTexture9*) {
             d->SetRenderState(D3DRS_COLORWRITEENABLE, D3DCOLORWRITEENABLE_RED);
         }},
        {"SetTextureStageState", true, [](IDirect3DDevice9* d, IDirect3DTexture9*) {
             d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG2);
         }},
        {"SetSamplerState", true, [](IDirect3DDevice9* d, IDirect3DTexture9*) {
             d->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
         }},
        {"SetTexture", true, [](IDirect3DDevice9* d, IDirect3DTexture9* other) { d->SetTexture(0, other); }},
        {"SetTexture(none)", true, [](IDirect3DDevice9* d, IDirect3DTexture9*) { d->SetTexture(0, nullptr); }},
        {"SetViewport", false, [&](IDirect3DDevice9* d, IDirect3DTexture9*) { d->SetViewport(&half); }},
        {"SetFVF", false, [](IDirect3DDevice9* d, IDirect3DTexture9*) { d->SetFVF(D3DFVF_XYZ | D3DFVF_DIFFUSE); }},
        {"SetVertexShader", false, [](IDirect3DDevice9* d, IDirect3DTexture9*) { d->SetVertexShader(nullptr); }},
        {"SetPixelShader", false, [](IDirect3DDevice9* d, IDirect3DTexture9*) { d->SetPixelShader(nullptr); }},
    };
    for (const Setter& setter : setters) {
        std::vector<DWORD> pictures[2];
        for (int pass = 0; pass < 2; ++pass) {
            VelmoraSetVertexCacheAndBatching(pass == 0 ? TRUE : FALSE);
            Device d(kSize, kSize);
            ASSERT_TRUE(d.device);
            IDirect3DDevice9* dev = d.device;
            ID3DXEffect* fx = nullptr;
            std::string errors;
            ASSERT_EQ(MakeEffect(dev, setter.stages ? kStagesColour : kNormalColour, &fx, &errors), D3D_OK) << errors;
            IDirect3DTexture9* texture = Checks(dev, 0xff40c0ff, 0xffff4020);
            IDirect3DTexture9* other = Checks(dev, 0xff20ff40, 0xff8080c0);
            ASSERT_TRUE(texture && other);
            dev->SetTexture(0, texture);
            dev->Clear(0, NULL, D3DCLEAR_TARGET, 0xff202020, 1.f, 0);
            dev->BeginScene();
            Passes(fx, [&] {
                dev->SetFVF(D3DFVF_XYZ | D3DFVF_NORMAL);
                for (size_t t = 0; t < fan.size() / 2; t += 3)
                    dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, &fan[t], sizeof(NormalVertex));
                setter.change(dev, other);
                for (size_t t = fan.size() / 2; t < fan.size(); t += 3)
                    dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, &fan[t], sizeof(NormalVertex));
            });
            dev->EndScene();
            pictures[pass] = d.Pixels();
            texture->Release();
            other->Release();
            fx->Release();
        }
        VelmoraSetVertexCacheAndBatching(TRUE);
        EXPECT_TRUE(pictures[0] == pictures[1]) << setter.name;
        EXPECT_GT(Colours(pictures[1]), 3u) << setter.name;
    }
}
