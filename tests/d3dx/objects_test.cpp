// The D3DX drawing objects and texture loading on the software device.
#include <d3dx9.h>
#include <gtest/gtest.h>

#include "d3d_test_device.h"
#include "d3d_test_png.h"

#include <stdio.h>

#include <string>
#include <vector>

namespace {

const int kW = 320;
const int kH = 240;

DWORD At(const std::vector<DWORD>& px, int x, int y)
{
    return px[(size_t)y * kW + x] & 0x00FFFFFF;
}

bool Lit(DWORD c)
{
    return ((c >> 16) & 0xff) > 40 || ((c >> 8) & 0xff) > 40 || (c & 0xff) > 40;
}

// Bounds of the lit pixels: left, top, right, bottom (inclusive); -1 when none.
RECT LitBounds(const std::vector<DWORD>& px)
{
    RECT r = {kW, kH, -1, -1};
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x)
            if (Lit(At(px, x, y))) {
                r.left = x < r.left ? x : r.left;
                r.top = y < r.top ? y : r.top;
                r.right = x > r.right ? x : r.right;
                r.bottom = y > r.bottom ? y : r.bottom;
            }
    return r;
}

std::string TempFile(const char* name)
{
    return std::string(VELMORA_BINARY_DIR) + "/test_pictures_" + name;
}

void WriteBytes(const std::string& path, const void* data, size_t size)
{
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fwrite(data, 1, size, f);
    fclose(f);
}

class D3DXObjects : public ::testing::Test
{
protected:
    void SetUp() override
    {
        VelmoraResetGraphicsCard();
        ASSERT_NE(dev.device, nullptr);
    }

    void Begin(D3DCOLOR clear)
    {
        dev.device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, clear, 1.0f, 0);
        dev.device->BeginScene();
    }

    std::vector<DWORD> Finish(const char* picture)
    {
        dev.device->EndScene();
        std::vector<DWORD> px = dev.Pixels();
        EXPECT_EQ(px.size(), (size_t)kW * kH);
        if (px.size() == (size_t)kW * kH)
            d3dtest::SavePng(std::string("d3dx_") + picture, px, kW, kH);
        return px;
    }

    d3dtest::Device dev{kW, kH};
};

}  // namespace

TEST_F(D3DXObjects, FontAlignsClipsAndBlendsText)
{
    ID3DXFont* font = nullptr;
    ASSERT_EQ(D3DXCreateFontA(dev.device, 20, 10, 4, 0, FALSE, 0, OUT_TT_ONLY_PRECIS, 0, 0, "Arial", &font), S_OK);
    D3DXFONT_DESCA desc;
    font->GetDescA(&desc);
    EXPECT_STREQ(desc.FaceName, "Arial");

    // Right-aligned text ends at the rectangle's right edge.
    Begin(0xFF000000);
    RECT right = {0, 40, 300, 100};
    EXPECT_EQ(font->DrawTextA(nullptr, "Velmora status", -1, &right, DT_RIGHT, 0xFFFFFFFF), 20);
    std::vector<DWORD> px = Finish("font_right");
    RECT b = LitBounds(px);
    EXPECT_GE(b.right, 296);
    EXPECT_LE(b.right, 299);
    EXPECT_GE(b.top, 40);
    EXPECT_LE(b.top, 48);
    EXPECT_LE(b.bottom, 60);
    EXPECT_GT(b.right - b.left, 100);  // a width of 10 widens the face

    // Left and centred; the count limits the characters (-1 runs to the zero).
    Begin(0xFF000000);
    RECT left = {10, 10, 310, 60};
    font->DrawTextA(nullptr, "Wide text", 4, &left, DT_LEFT | DT_TOP | DT_SINGLELINE, 0xFFFFFFFF);
    px = Finish("font_left");
    RECT l = LitBounds(px);
    EXPECT_GE(l.left, 10);
    EXPECT_LE(l.left, 13);
    int fourWide = l.right - l.left;
    Begin(0xFF000000);
    font->DrawTextA(nullptr, "Wide text", -1, &left, DT_CENTER, 0xFFFFFFFF);
    px = Finish("font_center");
    RECT c = LitBounds(px);
    EXPECT_GT(c.right - c.left, fourWide);
    EXPECT_NEAR((c.left + c.right) / 2.0, 160.0, 4.0);

    // Clipped to the rectangle unless DT_NOCLIP.
    Begin(0xFF000000);
    RECT small = {100, 100, 130, 105};
    font->DrawTextA(nullptr, "Clipped text", -1, &small, DT_LEFT, 0xFFFFFFFF);
    px = Finish("font_clip");
    RECT k = LitBounds(px);
    EXPECT_GE(k.left, 100);
    EXPECT_LE(k.right, 129);
    EXPECT_LE(k.bottom, 104);
    Begin(0xFF000000);
    font->DrawTextA(nullptr, "Clipped text", -1, &small, DT_LEFT | DT_NOCLIP, 0xFFFFFFFF);
    px = Finish("font_noclip");
    k = LitBounds(px);
    EXPECT_GT(k.right, 140);
    EXPECT_GT(k.bottom, 110);

    // Colour with alpha is blended over what lies below.
    Begin(0xFF0000FF);
    RECT mid = {20, 100, 300, 200};
    font->DrawTextA(nullptr, "MMMM", -1, &mid, DT_LEFT, 0x80FF0000);
    px = Finish("font_blend");
    int mixed = 0;
    for (DWORD p : px) {
        int r = (p >> 16) & 0xff, bl = p & 0xff;
        if (r > 100 && r < 160 && bl > 100 && bl < 160)
            ++mixed;
    }
    EXPECT_GT(mixed, 20);

    // DT_CALCRECT measures without drawing; bad arguments draw nothing.
    RECT calc = {5, 5, 5, 5};
    EXPECT_EQ(font->DrawTextA(nullptr, "two\nlines", -1, &calc, DT_CALCRECT, 0xFFFFFFFF), 40);
    EXPECT_EQ(calc.bottom, 45);
    EXPECT_GT(calc.right, 5);
    EXPECT_EQ(font->DrawTextA(nullptr, nullptr, -1, &calc, DT_LEFT, 0xFFFFFFFF), 0);
    EXPECT_EQ(font->DrawTextA(nullptr, "x", -1, nullptr, DT_LEFT, 0xFFFFFFFF), 0);
    EXPECT_EQ(font->Release(), 0u);
    EXPECT_LT(D3DXCreateFontA(dev.device, 20, 0, 400, 0, FALSE, 0, 0, 0, 0, "Arial", nullptr), 0);
}

TEST_F(D3DXObjects, LineWidthPatternAndRestoredState)
{
    ID3DXLine* line = nullptr;
    ASSERT_EQ(D3DXCreateLine(dev.device, &line), S_OK);
    EXPECT_FLOAT_EQ(line->GetWidth(), 1.0f);
    EXPECT_EQ(line->GetPattern(), 0xFFFFFFFFu);
    EXPECT_FALSE(line->GetGLLines());

    dev.device->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    dev.device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
    dev.device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ZERO);

    Begin(0xFF000000);
    D3DXVECTOR2 dashed[2] = {D3DXVECTOR2(10, 50), D3DXVECTOR2(300, 50)};
    D3DXVECTOR2 solid[2] = {D3DXVECTOR2(10, 150), D3DXVECTOR2(300, 150)};
    line->SetGLLines(FALSE);
    line->SetAntialias(FALSE);
    line->SetWidth(2.5f);
    line->SetPatternScale(2.0f);
    line->SetPattern(0x0F0F0F0F);
    EXPECT_FLOAT_EQ(line->GetWidth(), 2.5f);
    EXPECT_FLOAT_EQ(line->GetPatternScale(), 2.0f);
    ASSERT_EQ(line->Begin(), S_OK);
    DWORD value = 0;
    dev.device->GetRenderState(D3DRS_ALPHABLENDENABLE, &value);
    EXPECT_EQ(value, (DWORD)TRUE);
    dev.device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    dev.device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    dev.device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    EXPECT_EQ(line->Draw(dashed, 2, 0xFFFFFFFF), S_OK);
    line->SetPattern(0xFFFFFFFF);
    EXPECT_EQ(line->Draw(solid, 2, 0xFFFFFFFF), S_OK);
    EXPECT_EQ(line->End(), S_OK);
    EXPECT_EQ(line->End(), D3DERR_INVALIDCALL);

    // End gives back the blend states saved at Begin.
    dev.device->GetRenderState(D3DRS_ALPHABLENDENABLE, &value);
    EXPECT_EQ(value, (DWORD)FALSE);
    dev.device->GetRenderState(D3DRS_SRCBLEND, &value);
    EXPECT_EQ(value, (DWORD)D3DBLEND_ONE);
    dev.device->GetRenderState(D3DRS_DESTBLEND, &value);
    EXPECT_EQ(value, (DWORD)D3DBLEND_ZERO);
    std::vector<DWORD> px = Finish("line_pattern");

    // Pattern 0x0F0F0F0F at scale 2: 8 pixels on, 8 off.
    auto runs = [&](int y, int& on, int& gaps) {
        on = gaps = 0;
        bool prev = false;
        for (int x = 10; x < 300; ++x) {
            bool lit = Lit(At(px, x, y));
            if (lit && !prev)
                ++on;
            if (!lit && prev)
                ++gaps;
            prev = lit;
        }
    };
    int on, gaps;
    runs(50, on, gaps);
    EXPECT_GE(gaps, 15);
    EXPECT_GE(on, 16);
    EXPECT_TRUE(Lit(At(px, 12, 50)));
    EXPECT_FALSE(Lit(At(px, 22, 50)));
    runs(150, on, gaps);
    EXPECT_EQ(on, 1);
    EXPECT_EQ(gaps, 0);
    // Width 2.5 about y = 150: rows 149 and 150 lit for sure, 147 and 153 not.
    EXPECT_TRUE(Lit(At(px, 100, 149)));
    EXPECT_TRUE(Lit(At(px, 100, 150)));
    EXPECT_FALSE(Lit(At(px, 100, 147)));
    EXPECT_FALSE(Lit(At(px, 100, 153)));

    // Antialiased circles and a draw outside Begin/End bracket themselves.
    Begin(0xFF000000);
    D3DXVECTOR2 ring[29];
    for (int i = 0; i < 29; ++i) {
        float a = i / 28.0f * 6.283f;
        ring[i] = D3DXVECTOR2(160 + 50 * cosf(a), 120 + 50 * sinf(a));
    }
    line->SetAntialias(TRUE);
    EXPECT_EQ(line->Draw(ring, 29, 0xC0FF8040), S_OK);
    px = Finish("line_circle");
    EXPECT_TRUE(Lit(At(px, 210, 125)));
    EXPECT_TRUE(Lit(At(px, 160, 70)));
    EXPECT_FALSE(Lit(At(px, 160, 120)));
    EXPECT_EQ(line->Draw(ring, 1, 0xFFFFFFFF), D3DERR_INVALIDCALL);
    EXPECT_EQ(line->Draw(nullptr, 2, 0xFFFFFFFF), D3DERR_INVALIDCALL);
    EXPECT_EQ(line->Release(), 0u);
}

TEST_F(D3DXObjects, SpriteDrawsModulatedAndRestoresState)
{
    IDirect3DTexture9* tex = nullptr;
    std::string veil = std::string(VELMORA_PLUGIN_DIR) + "/data/textures/white.tga";
    ASSERT_EQ(D3DXCreateTextureFromFileA(dev.device, veil.c_str(), &tex), S_OK);
    ID3DXSprite* sprite = nullptr;
    ASSERT_EQ(D3DXCreateSprite(dev.device, &sprite), S_OK);

    // Scaled 1000 from the origin the veil covers the whole screen.
    dev.device->SetRenderState(D3DRS_ZENABLE, TRUE);
    Begin(0xFF000000);
    ASSERT_EQ(sprite->Begin(D3DXSPRITE_ALPHABLEND), S_OK);
    dev.device->SetRenderState(D3DRS_ZENABLE, FALSE);
    D3DXMATRIX scale;
    D3DXMatrixScaling(&scale, 1000, 1000, 1000);
    sprite->SetTransform(&scale);
    EXPECT_EQ(sprite->Draw(tex, nullptr, nullptr, nullptr, 0xFF30C060), S_OK);
    D3DXMatrixScaling(&scale, 1, 1, 1);
    sprite->SetTransform(&scale);
    EXPECT_EQ(sprite->End(), S_OK);
    DWORD value = 0;
    dev.device->GetRenderState(D3DRS_ZENABLE, &value);
    EXPECT_EQ(value, (DWORD)TRUE);
    dev.device->GetRenderState(D3DRS_ALPHABLENDENABLE, &value);
    EXPECT_EQ(value, (DWORD)FALSE);
    std::vector<DWORD> px = Finish("sprite_veil");
    int covered = 0;
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x)
            covered += At(px, x, y) == 0x30C060;
    EXPECT_EQ(covered, kW * kH);

    // Half alpha over black; a source rectangle drawn with its centre at the position.
    Begin(0xFF000000);
    sprite->Begin(D3DXSPRITE_ALPHABLEND);
    D3DXVECTOR3 pos(100, 100, 0), centre(2, 2, 0);
    RECT src = {0, 0, 4, 4};
    EXPECT_EQ(sprite->Draw(tex, &src, &centre, &pos, 0x80FFFFFF), S_OK);
    D3DXVECTOR3 at(200, 50, 0);
    EXPECT_EQ(sprite->Draw(tex, nullptr, nullptr, &at, 0xFFFFFFFF), S_OK);
    EXPECT_EQ(sprite->Draw(nullptr, nullptr, nullptr, &at, 0xFFFFFFFF), D3DERR_INVALIDCALL);
    sprite->End();
    px = Finish("sprite_rect");
    RECT b = {kW, kH, -1, -1};
    for (int y = 80; y < 120; ++y)
        for (int x = 80; x < 120; ++x)
            if (Lit(At(px, x, y))) {
                b.left = x < b.left ? x : b.left;
                b.top = y < b.top ? y : b.top;
                b.right = x > b.right ? x : b.right;
                b.bottom = y > b.bottom ? y : b.bottom;
            }
    EXPECT_EQ(b.left, 98);
    EXPECT_EQ(b.top, 98);
    EXPECT_EQ(b.right, 101);
    EXPECT_EQ(b.bottom, 101);
    DWORD grey = At(px, 99, 99);
    EXPECT_NEAR((int)(grey & 0xff), 128, 3);
    EXPECT_EQ(At(px, 200, 50), 0xFFFFFFu);
    EXPECT_EQ(At(px, 207, 57), 0xFFFFFFu);
    EXPECT_EQ(At(px, 208, 50), 0u);
    // Drawing outside Begin is refused.
    EXPECT_EQ(sprite->Draw(tex, nullptr, nullptr, &at, 0xFFFFFFFF), D3DERR_INVALIDCALL);
    EXPECT_EQ(sprite->End(), D3DERR_INVALIDCALL);
    EXPECT_EQ(sprite->Release(), 0u);
    EXPECT_EQ(tex->Release(), 0u);
}

TEST_F(D3DXObjects, TexturesFromImageFiles)
{
    // A 16 x 8 picture with an alpha gradient, written in every supported format.
    const int w = 16, h = 8;
    std::vector<unsigned char> rgba(w * h * 4);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            unsigned char* p = &rgba[(y * w + x) * 4];
            p[0] = (unsigned char)(x * 16);
            p[1] = (unsigned char)(y * 32);
            p[2] = 200;
            p[3] = (unsigned char)(255 - x * 8);
        }
    std::string png = TempFile("in.png"), tga = TempFile("in.tga"), bmp = TempFile("in.bmp"), jpg = TempFile("in.jpg");
    ASSERT_TRUE(stbi_write_png(png.c_str(), w, h, 4, rgba.data(), w * 4));
    ASSERT_TRUE(stbi_write_tga(tga.c_str(), w, h, 4, rgba.data()));
    ASSERT_TRUE(stbi_write_bmp(bmp.c_str(), w, h, 4, rgba.data()));
#ifndef __SANITIZE_ADDRESS__
    // The JPEG writer shifts negative numbers, which the sanitizer build refuses.
    ASSERT_TRUE(stbi_write_jpg(jpg.c_str(), w, h, 4, rgba.data(), 95));
#else
    jpg = bmp;
#endif

    for (const std::string& path : {png, tga}) {
        IDirect3DTexture9* tex = nullptr;
        ASSERT_EQ(D3DXCreateTextureFromFileA(dev.device, path.c_str(), &tex), S_OK) << path;
        D3DSURFACE_DESC desc;
        tex->GetLevelDesc(0, &desc);
        EXPECT_EQ(desc.Width, (UINT)w);
        EXPECT_EQ(desc.Height, (UINT)h);
        EXPECT_EQ(desc.Format, D3DFMT_A8R8G8B8);
        EXPECT_EQ(desc.Pool, D3DPOOL_MANAGED);
        EXPECT_EQ(tex->GetLevelCount(), 5u);  // 16x8, 8x4, 4x2, 2x1, 1x1
        D3DLOCKED_RECT locked;
        ASSERT_EQ(tex->LockRect(0, &locked, nullptr, D3DLOCK_READONLY), S_OK);
        const DWORD* row = reinterpret_cast<const DWORD*>(static_cast<unsigned char*>(locked.pBits) + 3 * locked.Pitch);
        EXPECT_EQ(row[5], ((DWORD)(255 - 40) << 24) | (80u << 16) | (96u << 8) | 200u) << path;
        tex->UnlockRect(0);
        ASSERT_EQ(tex->LockRect(4, &locked, nullptr, D3DLOCK_READONLY), S_OK);
        DWORD last = *static_cast<DWORD*>(locked.pBits);
        EXPECT_NEAR((int)(last & 0xff), 200, 2);  // the average of the picture
        EXPECT_NEAR((int)(last >> 24), 255 - 60, 3);
        tex->UnlockRect(4);
        tex->Release();
    }
    for (const std::string& path : {bmp, jpg}) {
        IDirect3DTexture9* tex = nullptr;
        ASSERT_EQ(D3DXCreateTextureFromFileA(dev.device, path.c_str(), &tex), S_OK) << path;
        D3DSURFACE_DESC desc;
        tex->GetLevelDesc(0, &desc);
        EXPECT_EQ(desc.Width, (UINT)w);
        tex->Release();
    }

    // Missing, truncated, empty and non-image files fail and hand out nothing.
    std::vector<unsigned char> whole;
    {
        FILE* f = fopen(tga.c_str(), "rb");
        ASSERT_NE(f, nullptr);
        int c;
        while ((c = fgetc(f)) != EOF)
            whole.push_back((unsigned char)c);
        fclose(f);
    }
    std::string cut = TempFile("cut.tga"), cutPng = TempFile("cut.png"), text = TempFile("text.png"),
                empty = TempFile("empty.tga");
    WriteBytes(cut, whole.data(), whole.size() / 2);
    std::vector<unsigned char> pngBytes;
    {
        FILE* f = fopen(png.c_str(), "rb");
        int c;
        while ((c = fgetc(f)) != EOF)
            pngBytes.push_back((unsigned char)c);
        fclose(f);
    }
    WriteBytes(cutPng, pngBytes.data(), pngBytes.size() - 20);
    const char notImage[] = "this is not a picture, only some words in a file";
    WriteBytes(text, notImage, sizeof(notImage));
    WriteBytes(empty, "", 0);
    for (const std::string& path : {std::string("C:\\no\\such\\file.tga"), cut, cutPng, text, empty}) {
        IDirect3DTexture9* tex = reinterpret_cast<IDirect3DTexture9*>(0x1);
        EXPECT_LT(D3DXCreateTextureFromFileA(dev.device, path.c_str(), &tex), 0) << path;
        EXPECT_EQ(tex, reinterpret_cast<IDirect3DTexture9*>(0x1)) << path;
    }
    EXPECT_EQ(D3DXCreateTextureFromFileA(dev.device, nullptr, nullptr), D3DERR_INVALIDCALL);

    // Render targets: the device's refusal of a format is the result.
    IDirect3DTexture9* rt = nullptr;
    EXPECT_EQ(D3DXCreateTexture(dev.device, 64, 64, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &rt),
              S_OK);
    ASSERT_NE(rt, nullptr);
    rt->Release();
    EXPECT_EQ(D3DXCreateTexture(dev.device, 0, 64, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &rt), D3DERR_INVALIDCALL);
    EXPECT_EQ(D3DXCreateTexture(dev.device, 64, 64, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, nullptr),
              D3DERR_INVALIDCALL);
    VelmoraRefuseRenderTargetFormat(D3DFMT_R8G8B8);
    rt = nullptr;
    EXPECT_LT(D3DXCreateTexture(dev.device, 1024, 1024, 6, 0x401, D3DFMT_R8G8B8, D3DPOOL_DEFAULT, &rt), 0);
    EXPECT_EQ(rt, nullptr);
    VelmoraResetGraphicsCard();
}
