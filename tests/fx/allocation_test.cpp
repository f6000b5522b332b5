// Drawing through vertex programs, batched and reused, must not touch the
// heap once the device has seen a frame: every allocation of this test
// program is counted.
#include "allocation_counter.h"
#include "d3d_test_device.h"
#include "effect_test_support.h"

#include <d3dx9.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

using namespace d3dtest;
using namespace fxtest;

TEST(EffectDrawing, SteadyFrameDrawsAllocateNothing)
{
    if (!kAllocationsCounted)
        GTEST_SKIP() << "allocations are not counted under ThreadSanitizer";
    Device d(96, 72);
    ASSERT_TRUE(d.device);
    IDirect3DDevice9* dev = d.device;
    std::ifstream in(std::string(VELMORA_PLUGIN_DIR) + "/data/shaders/spot.fx");
    std::stringstream text;
    text << in.rdbuf();
    ID3DXEffect* spot = nullptr;
    std::string errors;
    ASSERT_EQ(MakeEffect(dev, text.str(), &spot, &errors), D3D_OK) << errors;
    const std::vector<NormalVertex> tris = Sphere(60.f, 10, 16);
    std::vector<WORD> indices;
    for (size_t i = 0; i < tris.size(); ++i)
        indices.push_back((WORD)i);
    D3DXMATRIX view = ToX(LookAtLH(0, 60, -300, 0, 0, 0)), proj = ToX(PerspectiveFovLH(0.8f, 96.f / 72.f, 10.f, 5000.f));
    spot->SetMatrix("viewMatrix", &view);
    spot->SetMatrix("projectionMatrix", &proj);
    long during = 0;
    auto counted = [&](auto draw) {
        const long before = s_Allocations.load();
        draw();
        during += s_Allocations.load() - before;
    };
    auto frame = [&](int k) {
        dev->Clear(0, NULL, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xff101020, 1.f, 0);
        dev->BeginScene();
        dev->SetFVF(D3DFVF_XYZ | D3DFVF_NORMAL);
        D3DXMATRIX world = ToX(Identity());
        world._42 = 5.f * (float)k;
        spot->SetMatrix("worldMatrix", &world);
        Passes(spot, [&] {
            // One indexed draw (batches), then the same corners one triangle
            // a draw (reuse).
            counted([&] {
                dev->DrawIndexedPrimitiveUP(D3DPT_TRIANGLELIST, 0, (UINT)tris.size(), (UINT)tris.size() / 3,
                                            indices.data(), D3DFMT_INDEX16, tris.data(), sizeof(NormalVertex));
                for (size_t t = 0; t + 2 < tris.size(); t += 3)
                    dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, &tris[t], sizeof(NormalVertex));
            });
        });
        dev->EndScene();
        dev->Present(nullptr, nullptr, nullptr, nullptr);
    };
    frame(0);
    during = 0;
    frame(1);
    frame(2);
    EXPECT_EQ(during, 0);
    spot->Release();
}
