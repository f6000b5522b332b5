// The Direct3D object and device: creation and its failures, scenes,
// presentation, state, resources and reference counting.
#include "d3d_test_device.h"
#include "render_threads.h"

#include <gtest/gtest.h>

using namespace d3dtest;

namespace {

class D3D9 : public ::testing::Test {
protected:
    void SetUp() override
    {
        VelmoraResetGraphicsCard();
        live_ = VelmoraLiveGraphicsObjects();
    }
    void TearDown() override
    {
        VelmoraResetGraphicsCard();
        EXPECT_EQ(VelmoraLiveGraphicsObjects(), live_) << "graphics objects leaked";
    }
    int live_ = 0;
};

}  // namespace

TEST_F(D3D9, CreatingTheDirect3DObject)
{
    EXPECT_EQ(Direct3DCreate9(31), nullptr);
    EXPECT_EQ(Direct3DCreate9(0), nullptr);
    IDirect3D9* d3d = Direct3DCreate9(D3D_SDK_VERSION);
    ASSERT_NE(d3d, nullptr);
    EXPECT_EQ(d3d->Release(), 0u);

    VelmoraFailDirect3DCreate(TRUE);
    EXPECT_EQ(Direct3DCreate9(D3D_SDK_VERSION), nullptr);
    VelmoraFailDirect3DCreate(FALSE);

    d3d = Direct3DCreate9(D3D_SDK_VERSION);
    D3DDISPLAYMODE mode;
    ASSERT_EQ(d3d->GetAdapterDisplayMode(D3DADAPTER_DEFAULT, &mode), D3D_OK);
    EXPECT_EQ(mode.Format, D3DFMT_X8R8G8B8);
    EXPECT_EQ(mode.Width, 1024u);
    EXPECT_EQ(mode.Height, 768u);
    EXPECT_EQ(d3d->GetAdapterDisplayMode(D3DADAPTER_DEFAULT, NULL), D3DERR_INVALIDCALL);
    EXPECT_EQ(d3d->GetAdapterDisplayMode(1, &mode), D3DERR_INVALIDCALL);
    VelmoraFailDisplayMode(TRUE);
    EXPECT_TRUE(FAILED(d3d->GetAdapterDisplayMode(D3DADAPTER_DEFAULT, &mode)));
    d3d->Release();
}

TEST_F(D3D9, CreatingTheDevice)
{
    HWND window = MakeWindow(320, 200);
    ASSERT_TRUE(window);
    IDirect3D9* d3d = Direct3DCreate9(D3D_SDK_VERSION);
    ASSERT_TRUE(d3d);
    IDirect3DDevice9* dev = nullptr;

    // Zero size: the window's client size; the chosen values are written back.
    D3DPRESENT_PARAMETERS pp = WindowedParameters();
    pp.BackBufferFormat = D3DFMT_UNKNOWN;
    ASSERT_EQ(d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window, D3DCREATE_HARDWARE_VERTEXPROCESSING, &pp,
                                &dev),
              D3D_OK);
    EXPECT_EQ(pp.BackBufferWidth, 320u);
    EXPECT_EQ(pp.BackBufferHeight, 200u);
    EXPECT_EQ(pp.BackBufferFormat, D3DFMT_X8R8G8B8);
    D3DVIEWPORT9 vp;
    ASSERT_EQ(dev->GetViewport(&vp), D3D_OK);
    EXPECT_EQ(vp.X, 0u);
    EXPECT_EQ(vp.Width, 320u);
    EXPECT_EQ(vp.Height, 200u);
    EXPECT_EQ(vp.MinZ, 0.f);
    EXPECT_EQ(vp.MaxZ, 1.f);
    D3DCAPS9 caps;
    ASSERT_EQ(dev->GetDeviceCaps(&caps), D3D_OK);
    EXPECT_EQ(caps.VertexShaderVersion, D3DVS_VERSION(2, 0));
    EXPECT_EQ(caps.PixelShaderVersion, D3DPS_VERSION(2, 0));
    EXPECT_GE(caps.MaxTextureWidth, 1024u);
    EXPECT_EQ(dev->GetDeviceCaps(NULL), D3DERR_INVALIDCALL);

    // A weaker card for the next device; this one keeps what it reported.
    VelmoraSetDeviceShaderVersions(D3DVS_VERSION(1, 1), D3DPS_VERSION(2, 0));
    dev->GetDeviceCaps(&caps);
    EXPECT_EQ(caps.VertexShaderVersion, D3DVS_VERSION(2, 0));
    IDirect3DDevice9* weak = nullptr;
    pp = WindowedParameters();
    ASSERT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, window, D3DCREATE_HARDWARE_VERTEXPROCESSING, &pp, &weak), D3D_OK);
    weak->GetDeviceCaps(&caps);
    EXPECT_EQ(caps.VertexShaderVersion, 0xFFFE0101u);
    EXPECT_EQ(caps.PixelShaderVersion, 0xFFFF0200u);
    weak->Release();
    dev->Release();

    // Refusals, each leaving the out-pointer null.
    auto create = [&](HWND focus, D3DPRESENT_PARAMETERS* p, DWORD flags) {
        IDirect3DDevice9* d = reinterpret_cast<IDirect3DDevice9*>(1);
        HRESULT hr = d3d->CreateDevice(0, D3DDEVTYPE_HAL, focus, flags, p, &d);
        EXPECT_EQ(d, nullptr);
        return hr;
    };
    pp = WindowedParameters();
    EXPECT_EQ(create(NULL, &pp, D3DCREATE_HARDWARE_VERTEXPROCESSING), D3DERR_INVALIDCALL);
    EXPECT_EQ(create(reinterpret_cast<HWND>(0x7777), &pp, D3DCREATE_HARDWARE_VERTEXPROCESSING), D3DERR_INVALIDCALL);
    EXPECT_EQ(create(window, NULL, D3DCREATE_HARDWARE_VERTEXPROCESSING), D3DERR_INVALIDCALL);
    EXPECT_EQ(create(window, &pp, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, window, D3DCREATE_HARDWARE_VERTEXPROCESSING, &pp, NULL),
              D3DERR_INVALIDCALL);
    HWND empty = MakeWindow(0, 0);
    EXPECT_EQ(create(empty, &pp, D3DCREATE_HARDWARE_VERTEXPROCESSING), D3DERR_INVALIDCALL);
    DestroyWindow(empty);
    VelmoraFailCreateDevice(TRUE);
    EXPECT_TRUE(FAILED(create(window, &pp, D3DCREATE_HARDWARE_VERTEXPROCESSING)));

    d3d->Release();
    DestroyWindow(window);
}

TEST_F(D3D9, ScenesClearAndPresent)
{
    Device d(40, 30);
    ASSERT_TRUE(d.device);
    IDirect3DDevice9* dev = d.device;

    EXPECT_EQ(dev->EndScene(), D3DERR_INVALIDCALL);
    ASSERT_EQ(dev->BeginScene(), D3D_OK);
    EXPECT_EQ(dev->BeginScene(), D3DERR_INVALIDCALL);
    EXPECT_EQ(dev->Present(NULL, NULL, NULL, NULL), D3DERR_INVALIDCALL);
    EXPECT_EQ(dev->EndScene(), D3D_OK);

    // Clear with a colour of alpha 0: the window is shown an opaque picture.
    ASSERT_EQ(dev->Clear(0, NULL, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0x00102030, 1.f, 0), D3D_OK);
    D3DRECT r = {10, 5, 20, 15};
    ASSERT_EQ(dev->Clear(1, &r, D3DCLEAR_TARGET, 0xffff0000, 1.f, 0), D3D_OK);
    unsigned serial = VelmoraGetWindowPictureSerial(d.window);
    ASSERT_EQ(dev->Present(NULL, NULL, NULL, NULL), D3D_OK);
    EXPECT_EQ(VelmoraGetWindowPictureSerial(d.window), serial + 1);
    int w = 0, h = 0;
    const DWORD* pic = VelmoraGetWindowPicture(d.window, &w, &h);
    ASSERT_TRUE(pic);
    EXPECT_EQ(w, 40);
    EXPECT_EQ(h, 30);
    EXPECT_EQ(pic[0], 0xff102030u);
    EXPECT_EQ(pic[5 * 40 + 10], 0xffff0000u);
    EXPECT_EQ(pic[15 * 40 + 20], 0xff102030u);

    // Bad clears change nothing.
    EXPECT_EQ(dev->Clear(1, NULL, D3DCLEAR_TARGET, 0, 1.f, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(dev->Clear(0, &r, D3DCLEAR_TARGET, 0, 1.f, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(dev->Clear(0, NULL, 0, 0, 1.f, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(dev->Clear(0, NULL, D3DCLEAR_STENCIL, 0, 1.f, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(dev->Clear(0, NULL, D3DCLEAR_ZBUFFER, 0, 2.f, 0), D3DERR_INVALIDCALL);
    RECT source = {0, 0, 4, 4};
    EXPECT_EQ(dev->Present(&source, NULL, NULL, NULL), D3DERR_INVALIDCALL);
    EXPECT_EQ(d.Pixel(12, 7), 0xffff0000u);

    // Drawing outside a scene is refused and leaves the picture alone.
    std::vector<DWORD> before = d.Pixels();
    dev->SetRenderState(D3DRS_LIGHTING, FALSE);
    RhwVertex v[3] = {{0, 0, 0.5f, 1, 0xffffffff}, {40, 0, 0.5f, 1, 0xffffffff}, {0, 30, 0.5f, 1, 0xffffffff}};
    dev->SetFVF(kRhwFvf);
    EXPECT_EQ(dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, v, sizeof(RhwVertex)), D3DERR_INVALIDCALL);
    EXPECT_EQ(d.Pixels(), before);

    // Bad draws inside a scene.
    dev->BeginScene();
    EXPECT_EQ(dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, NULL, sizeof(RhwVertex)), D3DERR_INVALIDCALL);
    EXPECT_EQ(dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, v, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(dev->DrawPrimitiveUP((D3DPRIMITIVETYPE)9, 1, v, sizeof(RhwVertex)), D3DERR_INVALIDCALL);
    EXPECT_EQ(dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 0, v, sizeof(RhwVertex)), D3D_OK);
    dev->SetFVF(0);
    EXPECT_EQ(dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, v, sizeof(RhwVertex)), D3DERR_INVALIDCALL);
    EXPECT_EQ(dev->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1), D3DERR_INVALIDCALL);  // no stream
    dev->EndScene();
    EXPECT_EQ(d.Pixels(), before);
}

TEST_F(D3D9, StatesKeepWhatIsSet)
{
    Device d(16, 16);
    ASSERT_TRUE(d.device);
    IDirect3DDevice9* dev = d.device;
    struct {
        D3DRENDERSTATETYPE state;
        DWORD value;
    } defaults[] = {{D3DRS_ZENABLE, D3DZB_TRUE},         {D3DRS_ZWRITEENABLE, TRUE},
                    {D3DRS_ZFUNC, D3DCMP_LESSEQUAL},     {D3DRS_CULLMODE, D3DCULL_CCW},
                    {D3DRS_LIGHTING, TRUE},              {D3DRS_AMBIENT, 0},
                    {D3DRS_NORMALIZENORMALS, FALSE},     {D3DRS_SPECULARENABLE, FALSE},
                    {D3DRS_ALPHABLENDENABLE, FALSE},     {D3DRS_SRCBLEND, D3DBLEND_ONE},
                    {D3DRS_DESTBLEND, D3DBLEND_ZERO},    {D3DRS_COLORVERTEX, TRUE},
                    {D3DRS_SHADEMODE, D3DSHADE_GOURAUD}, {D3DRS_TEXTUREFACTOR, 0xffffffff},
                    {D3DRS_COLORWRITEENABLE, 0xf},       {D3DRS_DIFFUSEMATERIALSOURCE, D3DMCS_COLOR1}};
    for (const auto& c : defaults) {
        DWORD v = 0xdead;
        ASSERT_EQ(dev->GetRenderState(c.state, &v), D3D_OK);
        EXPECT_EQ(v, c.value) << "state " << c.state;
    }
    EXPECT_EQ(dev->SetRenderState(D3DRS_AMBIENT, 0xffffffff), D3D_OK);
    DWORD v;
    dev->GetRenderState(D3DRS_AMBIENT, &v);
    EXPECT_EQ(v, 0xffffffffu);
    EXPECT_EQ(dev->GetRenderState(D3DRS_AMBIENT, NULL), D3DERR_INVALIDCALL);

    dev->GetTextureStageState(0, D3DTSS_COLOROP, &v);
    EXPECT_EQ(v, (DWORD)D3DTOP_MODULATE);
    dev->GetTextureStageState(1, D3DTSS_COLOROP, &v);
    EXPECT_EQ(v, (DWORD)D3DTOP_DISABLE);
    dev->GetSamplerState(0, D3DSAMP_ADDRESSU, &v);
    EXPECT_EQ(v, (DWORD)D3DTADDRESS_WRAP);

    D3DMATRIX m = Identity(), out;
    m._41 = 5.f;
    m._12 = 0.25f;
    for (D3DTRANSFORMSTATETYPE t : {D3DTS_WORLD, D3DTS_VIEW, D3DTS_PROJECTION}) {
        ASSERT_EQ(dev->SetTransform(t, &m), D3D_OK);
        ASSERT_EQ(dev->GetTransform(t, &out), D3D_OK);
        EXPECT_EQ(memcmp(&m, &out, sizeof m), 0);
    }
    EXPECT_EQ(dev->SetTransform(D3DTS_WORLD, NULL), D3DERR_INVALIDCALL);
    EXPECT_EQ(dev->GetTransform(D3DTS_VIEW, NULL), D3DERR_INVALIDCALL);

    D3DVIEWPORT9 vp = {4, 4, 8, 8, 0.f, 1.f}, got;
    EXPECT_EQ(dev->SetViewport(&vp), D3D_OK);
    dev->GetViewport(&got);
    EXPECT_EQ(got.X, 4u);
    EXPECT_EQ(got.Width, 8u);
    D3DVIEWPORT9 tooBig = {8, 0, 9, 16, 0.f, 1.f};
    EXPECT_EQ(dev->SetViewport(&tooBig), D3DERR_INVALIDCALL);
    EXPECT_EQ(dev->SetViewport(NULL), D3DERR_INVALIDCALL);

    // Lights: unknown index, the default light LightEnable makes, bad lights.
    D3DLIGHT9 light;
    EXPECT_EQ(dev->GetLight(3, &light), D3DERR_INVALIDCALL);
    EXPECT_EQ(dev->LightEnable(3, TRUE), D3D_OK);
    ASSERT_EQ(dev->GetLight(3, &light), D3D_OK);
    EXPECT_EQ(light.Type, D3DLIGHT_DIRECTIONAL);
    EXPECT_EQ(light.Diffuse.r, 1.f);
    EXPECT_EQ(light.Direction.z, 1.f);
    BOOL on = FALSE;
    dev->GetLightEnable(3, &on);
    EXPECT_TRUE(on);
    EXPECT_EQ(dev->SetLight(0, NULL), D3DERR_INVALIDCALL);
    memset(&light, 0, sizeof light);
    EXPECT_EQ(dev->SetLight(0, &light), D3DERR_INVALIDCALL);  // no type
    light.Type = D3DLIGHT_POINT;
    light.Range = 500.f;
    light.Attenuation0 = 1.f;
    EXPECT_EQ(dev->SetLight(0, &light), D3D_OK);
    D3DMATERIAL9 mat;
    memset(&mat, 0, sizeof mat);
    mat.Power = 7.f;
    EXPECT_EQ(dev->SetMaterial(&mat), D3D_OK);
    D3DMATERIAL9 gotMat;
    dev->GetMaterial(&gotMat);
    EXPECT_EQ(gotMat.Power, 7.f);
    EXPECT_EQ(dev->SetMaterial(NULL), D3DERR_INVALIDCALL);
}

TEST_F(D3D9, ReferenceCounting)
{
    Device d(16, 16);
    ASSERT_TRUE(d.device);
    IDirect3DDevice9* dev = d.device;
    const int before = VelmoraLiveGraphicsObjects();

    IDirect3DTexture9* tex = nullptr;
    ASSERT_EQ(dev->CreateTexture(64, 64, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &tex, NULL), D3D_OK);
    EXPECT_EQ(tex->AddRef(), 2u);
    EXPECT_EQ(tex->Release(), 1u);
    // A surface level counts on its texture.
    IDirect3DSurface9* level = nullptr;
    ASSERT_EQ(tex->GetSurfaceLevel(0, &level), D3D_OK);
    EXPECT_EQ(tex->AddRef(), 3u);
    tex->Release();
    // Released in the order of the module's tear-down: texture, then surface.
    EXPECT_EQ(tex->Release(), 1u);
    EXPECT_EQ(VelmoraLiveGraphicsObjects(), before + 1);
    EXPECT_EQ(level->Release(), 0u);
    EXPECT_EQ(VelmoraLiveGraphicsObjects(), before);

    // A bound texture released by its owner stays usable until unbound.
    ASSERT_EQ(dev->CreateTexture(8, 8, 1, 0, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED, &tex, NULL), D3D_OK);
    dev->SetTexture(0, tex);
    EXPECT_EQ(tex->Release(), 0u);
    dev->BeginScene();
    DrawRect(dev, 0, 0, 16, 16, 0xffffffff);
    dev->EndScene();
    EXPECT_EQ(VelmoraLiveGraphicsObjects(), before + 1);
    dev->SetTexture(0, NULL);
    EXPECT_EQ(VelmoraLiveGraphicsObjects(), before);

    // A device released before its resources lives until the last of them goes,
    // as do the Direct3D object and the device (font and line after them).
    IDirect3DVertexBuffer9* vb = nullptr;
    ASSERT_EQ(dev->CreateVertexBuffer(3456, 0, D3DFVF_XYZ, D3DPOOL_MANAGED, &vb, NULL), D3D_OK);
    dev->AddRef();
    EXPECT_EQ(dev->Release(), 2u);  // the test's reference and the buffer's
    IDirect3DDevice9* owner = nullptr;
    vb->GetDevice(&owner);
    EXPECT_EQ(owner, dev);
    owner->Release();
    IDirect3D9* d3d = nullptr;
    dev->GetDirect3D(&d3d);
    EXPECT_EQ(d3d, d.d3d);
    d3d->Release();
    vb->Release();
}

TEST_F(D3D9, TexturesAndSurfaces)
{
    Device d(16, 16);
    ASSERT_TRUE(d.device);
    IDirect3DDevice9* dev = d.device;
    IDirect3DTexture9* tex = nullptr;

    // A full chain for 256 x 64: 9 levels down to 1 x 1.
    ASSERT_EQ(dev->CreateTexture(256, 64, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &tex, NULL), D3D_OK);
    EXPECT_EQ(tex->GetLevelCount(), 9u);
    D3DSURFACE_DESC desc;
    ASSERT_EQ(tex->GetLevelDesc(2, &desc), D3D_OK);
    EXPECT_EQ(desc.Width, 64u);
    EXPECT_EQ(desc.Height, 16u);
    EXPECT_EQ(desc.Format, D3DFMT_A8R8G8B8);
    EXPECT_EQ(tex->GetLevelDesc(9, &desc), D3DERR_INVALIDCALL);
    D3DLOCKED_RECT lr;
    ASSERT_EQ(tex->LockRect(8, &lr, NULL, 0), D3D_OK);
    EXPECT_EQ(tex->LockRect(8, &lr, NULL, 0), D3DERR_INVALIDCALL);  // already locked
    EXPECT_EQ(tex->UnlockRect(8), D3D_OK);
    EXPECT_EQ(tex->UnlockRect(8), D3DERR_INVALIDCALL);
    EXPECT_EQ(tex->LockRect(0, NULL, NULL, 0), D3DERR_INVALIDCALL);
    RECT outside = {250, 0, 300, 10};
    EXPECT_EQ(tex->LockRect(0, &lr, &outside, 0), D3DERR_INVALIDCALL);
    RECT part = {4, 2, 8, 6};
    ASSERT_EQ(tex->LockRect(0, &lr, &part, 0), D3D_OK);
    EXPECT_EQ(lr.Pitch, 1024);
    tex->UnlockRect(0);
    IDirect3DSurface9* s = nullptr;
    EXPECT_EQ(tex->GetSurfaceLevel(9, &s), D3DERR_INVALIDCALL);
    EXPECT_EQ(tex->GetSurfaceLevel(0, NULL), D3DERR_INVALIDCALL);
    ASSERT_EQ(tex->GetSurfaceLevel(1, &s), D3D_OK);
    s->GetDesc(&desc);
    EXPECT_EQ(desc.Width, 128u);
    IDirect3DTexture9* container = nullptr;
    ASSERT_EQ(s->GetContainer(IID_IDirect3DTexture9, (void**)&container), D3D_OK);
    EXPECT_EQ(container, tex);
    container->Release();
    s->Release();
    tex->Release();

    // Bad sizes and formats; the device's limit; null out-pointers.
    EXPECT_EQ(dev->CreateTexture(0, 16, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &tex, NULL), D3DERR_INVALIDCALL);
    EXPECT_EQ(tex, nullptr);
    EXPECT_EQ(dev->CreateTexture(16, 16, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, NULL, NULL), D3DERR_INVALIDCALL);
    D3DCAPS9 caps;
    dev->GetDeviceCaps(&caps);
    EXPECT_EQ(dev->CreateTexture(caps.MaxTextureWidth + 1, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &tex, NULL),
              D3DERR_INVALIDCALL);
    ASSERT_EQ(dev->CreateTexture(caps.MaxTextureWidth, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &tex, NULL), D3D_OK);
    tex->Release();
    EXPECT_EQ(dev->CreateTexture(16, 16, 6, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &tex, NULL), D3DERR_INVALIDCALL);
    EXPECT_TRUE(FAILED(dev->CreateTexture(16, 16, 1, 0, D3DFMT_DXT1, D3DPOOL_MANAGED, &tex, NULL)));

    // The render target of the device set-up: one visible level, not lockable;
    // refused when the card cannot render to R8G8B8.
    ASSERT_EQ(dev->CreateTexture(1024, 1024, 6, D3DUSAGE_RENDERTARGET | D3DUSAGE_AUTOGENMIPMAP, D3DFMT_R8G8B8,
                                 D3DPOOL_DEFAULT, &tex, NULL),
              D3D_OK);
    EXPECT_EQ(tex->GetLevelCount(), 1u);
    EXPECT_EQ(tex->LockRect(0, &lr, NULL, 0), D3DERR_INVALIDCALL);
    ASSERT_EQ(tex->GetSurfaceLevel(0, &s), D3D_OK);
    s->GetDesc(&desc);
    EXPECT_EQ(desc.Format, D3DFMT_R8G8B8);
    EXPECT_EQ(desc.Usage, (DWORD)(D3DUSAGE_RENDERTARGET | D3DUSAGE_AUTOGENMIPMAP));
    tex->Release();
    s->Release();
    EXPECT_EQ(dev->CreateTexture(64, 64, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &tex, NULL),
              D3DERR_INVALIDCALL);
    VelmoraRefuseRenderTargetFormat(D3DFMT_R8G8B8);
    tex = reinterpret_cast<IDirect3DTexture9*>(1);
    EXPECT_TRUE(FAILED(dev->CreateTexture(1024, 1024, 6, D3DUSAGE_RENDERTARGET | D3DUSAGE_AUTOGENMIPMAP,
                                          D3DFMT_R8G8B8, D3DPOOL_DEFAULT, &tex, NULL)));
    EXPECT_EQ(tex, nullptr);
    // Only render targets of that format are refused.
    ASSERT_EQ(dev->CreateTexture(4, 4, 1, 0, D3DFMT_R8G8B8, D3DPOOL_MANAGED, &tex, NULL), D3D_OK);
    tex->Release();
}

// A device has a texture memory of its own: past it a texture is refused as
// by a card out of memory, and a texture that goes gives its bytes back.
TEST_F(D3D9, TextureMemoryIsBudgeted)
{
    {
        Device d(16, 16);
        ASSERT_TRUE(d.device);
        EXPECT_EQ(d.device->GetAvailableTextureMem(), 256u << 20);
    }
    VelmoraSetTextureMemory(8u << 20);
    Device d(16, 16);
    ASSERT_TRUE(d.device);
    IDirect3DDevice9* dev = d.device;
    EXPECT_EQ(dev->GetAvailableTextureMem(), 8u << 20);

    // 1024 x 1024 with its mip levels: 5.33 MB, reported to the nearest MB.
    IDirect3DTexture9* big = nullptr;
    ASSERT_EQ(dev->CreateTexture(1024, 1024, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &big, NULL), D3D_OK);
    EXPECT_EQ(dev->GetAvailableTextureMem(), 3u << 20);
    IDirect3DTexture9* refused = reinterpret_cast<IDirect3DTexture9*>(1);
    EXPECT_EQ(dev->CreateTexture(1024, 1024, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &refused, NULL), E_OUTOFMEMORY);
    EXPECT_EQ(refused, nullptr);
    EXPECT_EQ(dev->CreateTexture(1024, 1024, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &refused,
                                 NULL),
              D3DERR_OUTOFVIDEOMEMORY);
    EXPECT_EQ(refused, nullptr);
    EXPECT_EQ(dev->GetAvailableTextureMem(), 3u << 20);  // a refusal takes nothing

    // What is left is there to the byte, whatever the pool: 2 MB, 672 KB,
    // then one row of 4 bytes more than is left.
    const size_t left = (size_t)(8u << 20) - ((size_t)1024 * 1024 * 4 * 4 - 4) / 3;
    IDirect3DTexture9* a = nullptr;
    IDirect3DTexture9* b = nullptr;
    ASSERT_EQ(dev->CreateTexture(4096, 128, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM, &a, NULL), D3D_OK);
    ASSERT_EQ(dev->CreateTexture(4096, 42, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_SCRATCH, &b, NULL), D3D_OK);
    const size_t rest = left - (size_t)4096 * 170 * 4;
    ASSERT_EQ(rest % 4, 0u);
    ASSERT_LT(rest / 4, 4096u);
    IDirect3DTexture9* exact = nullptr;
    EXPECT_EQ(dev->CreateTexture((UINT)(rest / 4 + 1), 1, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &exact, NULL),
              E_OUTOFMEMORY);
    ASSERT_EQ(dev->CreateTexture((UINT)(rest / 4), 1, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &exact, NULL), D3D_OK);
    EXPECT_EQ(dev->GetAvailableTextureMem(), 0u);
    exact->Release();
    b->Release();
    a->Release();

    // A released texture still set on a stage is the device's until unset.
    ASSERT_EQ(dev->SetTexture(0, big), D3D_OK);
    big->Release();
    EXPECT_EQ(dev->GetAvailableTextureMem(), 3u << 20);
    ASSERT_EQ(dev->SetTexture(0, NULL), D3D_OK);
    EXPECT_EQ(dev->GetAvailableTextureMem(), 8u << 20);
    ASSERT_EQ(dev->CreateTexture(1024, 1024, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &big, NULL),
              D3D_OK);
    big->Release();

    // The budget is each device's own.
    Device other(16, 16);
    ASSERT_TRUE(other.device);
    ASSERT_EQ(dev->CreateTexture(1024, 1024, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &a, NULL), D3D_OK);
    ASSERT_EQ(other.device->CreateTexture(1024, 1024, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &b, NULL), D3D_OK);
    a->Release();
    b->Release();
}

TEST_F(D3D9, VertexAndIndexBuffers)
{
    Device d(32, 32);
    ASSERT_TRUE(d.device);
    IDirect3DDevice9* dev = d.device;
    IDirect3DVertexBuffer9* vb = nullptr;
    ASSERT_EQ(dev->CreateVertexBuffer(3456, 0, D3DFVF_XYZ, D3DPOOL_MANAGED, &vb, NULL), D3D_OK);
    D3DVERTEXBUFFER_DESC desc;
    ASSERT_EQ(vb->GetDesc(&desc), D3D_OK);
    EXPECT_EQ(desc.Size, 3456u);
    EXPECT_EQ(desc.FVF, (DWORD)D3DFVF_XYZ);
    EXPECT_EQ(desc.Pool, D3DPOOL_MANAGED);
    void* p = nullptr;
    EXPECT_EQ(vb->Lock(3000, 500, &p, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(vb->Lock(0, 0, NULL, 0), D3DERR_INVALIDCALL);
    ASSERT_EQ(vb->Lock(0, 0, &p, 0), D3D_OK);
    EXPECT_NE(p, nullptr);
    EXPECT_EQ(vb->Unlock(), D3D_OK);
    EXPECT_EQ(vb->Unlock(), D3DERR_INVALIDCALL);
    vb->Release();

    EXPECT_EQ(dev->CreateVertexBuffer(0, 0, D3DFVF_XYZ, D3DPOOL_MANAGED, &vb, NULL), D3DERR_INVALIDCALL);
    EXPECT_EQ(dev->CreateVertexBuffer(8, 0, D3DFVF_XYZ, D3DPOOL_MANAGED, &vb, NULL), D3DERR_INVALIDCALL);
    EXPECT_EQ(dev->CreateVertexBuffer(64, 0, D3DFVF_XYZ, D3DPOOL_MANAGED, NULL, NULL), D3DERR_INVALIDCALL);
    VelmoraRefuseVertexBuffers(TRUE);
    vb = reinterpret_cast<IDirect3DVertexBuffer9*>(1);
    EXPECT_TRUE(FAILED(dev->CreateVertexBuffer(3456, 0, D3DFVF_XYZ, D3DPOOL_MANAGED, &vb, NULL)));
    EXPECT_EQ(vb, nullptr);
    VelmoraRefuseVertexBuffers(FALSE);

    // Drawing from buffers gives what drawing from memory gives.
    dev->SetRenderState(D3DRS_LIGHTING, FALSE);
    dev->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    RhwVertex quad[4] = {{3, 4, 0.5f, 1, 0xff00ff00}, {29, 2, 0.5f, 1, 0xffff0000}, {1, 30, 0.5f, 1, 0xff0000ff},
                         {27, 28, 0.5f, 1, 0xffffffff}};
    WORD index[6] = {0, 1, 2, 1, 3, 2};
    dev->SetFVF(kRhwFvf);
    dev->Clear(0, NULL, D3DCLEAR_TARGET, 0, 1.f, 0);
    dev->BeginScene();
    dev->DrawIndexedPrimitiveUP(D3DPT_TRIANGLELIST, 0, 4, 2, index, D3DFMT_INDEX16, quad, sizeof(RhwVertex));
    dev->EndScene();
    std::vector<DWORD> fromMemory = d.Pixels();

    ASSERT_EQ(dev->CreateVertexBuffer(sizeof quad, D3DUSAGE_WRITEONLY, kRhwFvf, D3DPOOL_MANAGED, &vb, NULL), D3D_OK);
    IDirect3DIndexBuffer9* ib = nullptr;
    EXPECT_EQ(dev->CreateIndexBuffer(12, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &ib, NULL), D3DERR_INVALIDCALL);
    ASSERT_EQ(dev->CreateIndexBuffer(sizeof index, 0, D3DFMT_INDEX16, D3DPOOL_MANAGED, &ib, NULL), D3D_OK);
    vb->Lock(0, 0, &p, 0);
    memcpy(p, quad, sizeof quad);
    vb->Unlock();
    ib->Lock(0, 0, &p, 0);
    memcpy(p, index, sizeof index);
    ib->Unlock();
    dev->SetStreamSource(0, vb, 0, sizeof(RhwVertex));
    dev->SetIndices(ib);
    dev->Clear(0, NULL, D3DCLEAR_TARGET, 0, 1.f, 0);
    dev->BeginScene();
    EXPECT_EQ(dev->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 4, 0, 2), D3D_OK);
    EXPECT_EQ(dev->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 4, 2, 2), D3DERR_INVALIDCALL);  // past the indices
    dev->EndScene();
    EXPECT_EQ(d.Pixels(), fromMemory);
    // Indices past the buffer's vertices are skipped, not read.
    dev->BeginScene();
    EXPECT_EQ(dev->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 100, 0, 4, 0, 2), D3D_OK);
    EXPECT_EQ(dev->DrawPrimitive(D3DPT_TRIANGLELIST, 3, 1), D3DERR_INVALIDCALL);
    dev->EndScene();
    EXPECT_EQ(d.Pixels(), fromMemory);
    dev->SetStreamSource(0, NULL, 0, 0);
    dev->SetIndices(NULL);
    vb->Release();
    ib->Release();
}

// With several threads, triangles wait over draws to be drawn together. A
// texture let go, or written, after a draw that samples it, and a lock of
// the back buffer, must all see the draws made before them, as one thread.
TEST_F(D3D9, TrianglesWaitingForThreadsSeeTexturesAsTheyWere)
{
    ScopedRenderThreads scoped("1");
    std::vector<std::vector<DWORD>> pictures;
    for (const char* threads : {"1", "4"}) {
        scoped.Set(threads);
        Device d(512, 512);
        ASSERT_TRUE(d.device);
        IDirect3DDevice9* dev = d.device;
        auto texture = [&](DWORD colour) {
            IDirect3DTexture9* tex = nullptr;
            EXPECT_EQ(dev->CreateTexture(8, 8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &tex, NULL), D3D_OK);
            D3DLOCKED_RECT lr;
            EXPECT_EQ(tex->LockRect(0, &lr, NULL, 0), D3D_OK);
            for (int y = 0; y < 8; ++y)
                for (int x = 0; x < 8; ++x)
                    ((DWORD*)((uint8_t*)lr.pBits + y * lr.Pitch))[x] = (x + y) % 2 ? colour : 0xff808080;
            tex->UnlockRect(0);
            return tex;
        };
        struct TexVertex {
            float x, y, z, rhw;
            DWORD colour;
            float u, v;
        };
        auto quad = [&](float x0, float y0, float x1, float y1) {
            const TexVertex v[4] = {{x0, y0, 0.5f, 1, 0xffffffff, 0, 0}, {x1, y0, 0.5f, 1, 0xffffffff, 1, 0},
                                    {x0, y1, 0.5f, 1, 0xffffffff, 0, 1}, {x1, y1, 0.5f, 1, 0xffffffff, 1, 1}};
            dev->SetFVF(D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1);
            dev->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, v, sizeof(TexVertex));
        };
        dev->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
        dev->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
        // Texture and diffuse modulated: the span loops, whose triangles wait.
        dev->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
        dev->Clear(0, NULL, D3DCLEAR_TARGET, 0xff000000, 1.f, 0);
        dev->BeginScene();
        // Sampled, then unbound and released: gone while its quad may wait.
        IDirect3DTexture9* red = texture(0xffff0000);
        dev->SetTexture(0, red);
        quad(0, 0, 300, 300);
        dev->SetTexture(0, NULL);
        EXPECT_EQ(red->Release(), 0u);
        // Sampled, then written while bound: the first quad keeps the old texels.
        IDirect3DTexture9* green = texture(0xff00ff00);
        dev->SetTexture(0, green);
        quad(200, 200, 512, 512);
        D3DLOCKED_RECT lr;
        ASSERT_EQ(green->LockRect(0, &lr, NULL, 0), D3D_OK);
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x)
                ((DWORD*)((uint8_t*)lr.pBits + y * lr.Pitch))[x] = 0xff0000ff;
        green->UnlockRect(0);
        quad(0, 400, 100, 512);
        std::vector<DWORD> mid = d.Pixels();  // a lock inside the scene
        EXPECT_EQ(Red(mid[10 * 512 + 50]), 255);
        EXPECT_EQ(Green(mid[450 * 512 + 405]), 255);
        EXPECT_EQ(Blue(mid[450 * 512 + 50]), 255);
        dev->SetTexture(0, NULL);
        green->Release();
        dev->EndScene();
        pictures.push_back(d.Pixels());
    }
    EXPECT_EQ(pictures[0], pictures[1]);
}

// A large picture is handed to the window by several threads: every pixel
// arrives, opaque, the last partial block too.
TEST_F(D3D9, LargePicturesArePresentedWhole)
{
    ScopedRenderThreads threads("3");
    {
        Device d(1100, 1000);
        ASSERT_TRUE(d.device);
        IDirect3DDevice9* dev = d.device;
        ASSERT_EQ(dev->Clear(0, NULL, D3DCLEAR_TARGET, 0x00102030, 1.f, 0), D3D_OK);
        D3DRECT r[2] = {{0, 0, 7, 3}, {1093, 997, 1100, 1000}};
        ASSERT_EQ(dev->Clear(2, r, D3DCLEAR_TARGET, 0x40ff0000, 1.f, 0), D3D_OK);
        const std::vector<DWORD> back = d.Pixels();
        ASSERT_EQ(dev->Present(NULL, NULL, NULL, NULL), D3D_OK);
        int w = 0, h = 0;
        const DWORD* pic = VelmoraGetWindowPicture(d.window, &w, &h);
        ASSERT_TRUE(pic);
        ASSERT_EQ((size_t)w * h, back.size());
        size_t wrong = 0;
        for (size_t i = 0; i < back.size(); ++i)
            wrong += pic[i] != (back[i] | 0xff000000u);
        EXPECT_EQ(wrong, 0u);
        EXPECT_EQ(pic[back.size() - 1], 0xffff0000u);
        EXPECT_EQ(pic[500 * 1100 + 500], 0xff102030u);
    }
}

// A slope of texture coordinates too large for a float picks the smallest
// level, whatever the largest level the sampler may use is set to (read as
// the unsigned number it is).
TEST_F(D3D9, AnOverflowingTextureSlopeTakesTheSmallestLevel)
{
    const DWORD levelColours[5] = {0xffff0000, 0xff00ff00, 0xff0000ff, 0xffffff00, 0xff00ffff};
    for (DWORD maxLevel : {0x80000000u, 0xffffffffu, 0u}) {
        Device d(64, 64);
        ASSERT_TRUE(d.device);
        IDirect3DDevice9* dev = d.device;
        IDirect3DTexture9* tex = nullptr;
        ASSERT_EQ(dev->CreateTexture(16, 16, 5, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &tex, NULL), D3D_OK);
        for (UINT level = 0; level < 5; ++level) {
            D3DLOCKED_RECT lr;
            ASSERT_EQ(tex->LockRect(level, &lr, NULL, 0), D3D_OK);
            const UINT side = 16 >> level;
            for (UINT y = 0; y < side; ++y)
                for (UINT x = 0; x < side; ++x)
                    ((DWORD*)((BYTE*)lr.pBits + y * lr.Pitch))[x] = levelColours[level];
            tex->UnlockRect(level);
        }
        dev->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
        dev->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
        dev->SetRenderState(D3DRS_LIGHTING, FALSE);
        dev->SetTexture(0, tex);
        dev->SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_POINT);
        dev->SetSamplerState(0, D3DSAMP_MAXMIPLEVEL, maxLevel);
        struct {
            float x, y, z, rhw;
            DWORD colour;
            float u, v;
        } v[3] = {{2, 2, 0.5f, 1, 0xffffffff, 0, 0},
                  {60, 2, 0.5f, 1, 0xffffffff, 1e30f, 0},
                  {2, 60, 0.5f, 1, 0xffffffff, 0, 1e30f}};
        dev->Clear(0, NULL, D3DCLEAR_TARGET, 0xff000000, 1.f, 0);
        dev->BeginScene();
        dev->SetFVF(D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1);
        EXPECT_EQ(dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, v, sizeof v[0]), D3D_OK);
        dev->EndScene();
        EXPECT_EQ(d.Pixel(10, 10) | 0xff000000, levelColours[4]) << std::hex << maxLevel;
        dev->SetTexture(0, NULL);
        tex->Release();
    }
}

// Coordinates just inside the sampler's range on the widest level: the texel
// address is past an int's range before it wraps.
TEST_F(D3D9, AFarCoordinateOnAWideTextureWrapsToItsTexel)
{
    Device d(16, 16);
    ASSERT_TRUE(d.device);
    IDirect3DDevice9* dev = d.device;
    IDirect3DTexture9* tex = nullptr;
    ASSERT_EQ(dev->CreateTexture(4096, 1, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &tex, NULL), D3D_OK);
    D3DLOCKED_RECT lr;
    ASSERT_EQ(tex->LockRect(0, &lr, NULL, 0), D3D_OK);
    for (int x = 0; x < 4096; ++x)
        ((DWORD*)lr.pBits)[x] = x == 0 ? 0xffff0000 : 0xff00ff00;
    tex->UnlockRect(0);
    dev->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    dev->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
    dev->SetTexture(0, tex);
    // 900000 whole turns of the texture: texel 0.
    struct {
        float x, y, z, rhw;
        DWORD colour;
        float u, v;
    } v[3] = {{0, 0, 0.5f, 1, 0xffffffff, 9e5f, 0}, {16, 0, 0.5f, 1, 0xffffffff, 9e5f, 0},
              {0, 16, 0.5f, 1, 0xffffffff, 9e5f, 0}};
    dev->BeginScene();
    dev->SetFVF(D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1);
    EXPECT_EQ(dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, v, sizeof v[0]), D3D_OK);
    dev->EndScene();
    EXPECT_EQ(d.Pixel(2, 2) | 0xff000000, 0xffff0000u);
    dev->SetTexture(0, NULL);
    tex->Release();
}
