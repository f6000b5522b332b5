// Lines, circles, markers, projection and colour unpacking in screen space.
#include <gtest/gtest.h>

#include <d3dx9.h>

#include "d3d_stuff.h"
#include "d3d_test_device.h"
#include "d3d_test_png.h"

#include <math.h>

#include <algorithm>

#include <string>
#include <vector>

namespace {

// A line object that keeps what it was asked to draw.
struct RecordingLine : public ID3DXLine
{
    struct Drawn
    {
        std::vector<D3DXVECTOR2> points;
        D3DCOLOR colour;
    };
    std::vector<Drawn> drawn;
    std::vector<std::string> calls;
    DWORD pattern = 0xFFFFFFFF;
    float patternScale = 1.0f;
    float width = 1.0f;
    BOOL antialias = FALSE;
    BOOL glLines = FALSE;

    HRESULT WINAPI QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG WINAPI AddRef() override { return 1; }
    ULONG WINAPI Release() override { return 1; }
    HRESULT WINAPI GetDevice(IDirect3DDevice9**) override { return E_FAIL; }
    HRESULT WINAPI Begin() override
    {
        calls.push_back("Begin");
        return S_OK;
    }
    HRESULT WINAPI Draw(const D3DXVECTOR2* points, DWORD count, D3DCOLOR colour) override
    {
        calls.push_back("Draw");
        drawn.push_back({std::vector<D3DXVECTOR2>(points, points + count), colour});
        return S_OK;
    }
    HRESULT WINAPI DrawTransform(const D3DXVECTOR3*, DWORD, const D3DXMATRIX*, D3DCOLOR) override { return E_FAIL; }
    HRESULT WINAPI SetPattern(DWORD p) override
    {
        calls.push_back("SetPattern");
        pattern = p;
        return S_OK;
    }
    DWORD WINAPI GetPattern() override { return pattern; }
    HRESULT WINAPI SetPatternScale(FLOAT s) override
    {
        calls.push_back("SetPatternScale");
        patternScale = s;
        return S_OK;
    }
    FLOAT WINAPI GetPatternScale() override { return patternScale; }
    HRESULT WINAPI SetWidth(FLOAT w) override
    {
        calls.push_back("SetWidth");
        width = w;
        return S_OK;
    }
    FLOAT WINAPI GetWidth() override { return width; }
    HRESULT WINAPI SetAntialias(BOOL a) override
    {
        calls.push_back(a ? "SetAntialias(1)" : "SetAntialias(0)");
        antialias = a;
        return S_OK;
    }
    BOOL WINAPI GetAntialias() override { return antialias; }
    HRESULT WINAPI SetGLLines(BOOL g) override
    {
        calls.push_back(g ? "SetGLLines(1)" : "SetGLLines(0)");
        glLines = g;
        return S_OK;
    }
    BOOL WINAPI GetGLLines() override { return glLines; }
    HRESULT WINAPI End() override
    {
        calls.push_back("End");
        return S_OK;
    }
    HRESULT WINAPI OnLostDevice() override { return S_OK; }
    HRESULT WINAPI OnResetDevice() override { return S_OK; }
};

class ScreenDrawing : public ::testing::Test
{
protected:
    ScreenDrawing() : device(320, 240) {}
    void SetUp() override
    {
        ASSERT_NE(device.device, nullptr);
        g_pDevice = device.device;
        g_pLine = &recorder;
    }
    void TearDown() override
    {
        g_pLine = nullptr;
        g_pDevice = nullptr;
    }
    void SetBlend(DWORD enable, DWORD source, DWORD destination)
    {
        device.device->SetRenderState(D3DRS_ALPHABLENDENABLE, enable);
        device.device->SetRenderState(D3DRS_SRCBLEND, source);
        device.device->SetRenderState(D3DRS_DESTBLEND, destination);
    }
    void ExpectBlend(DWORD enable, DWORD source, DWORD destination, const char* after)
    {
        DWORD value = 0;
        device.device->GetRenderState(D3DRS_ALPHABLENDENABLE, &value);
        EXPECT_EQ(value, enable) << after;
        device.device->GetRenderState(D3DRS_SRCBLEND, &value);
        EXPECT_EQ(value, source) << after;
        device.device->GetRenderState(D3DRS_DESTBLEND, &value);
        EXPECT_EQ(value, destination) << after;
    }

    d3dtest::Device device;
    RecordingLine recorder;
};

TEST_F(ScreenDrawing, CircleDrawsSegmentsPlusOnePointsBetweenThreeAndForty)
{
    const int segments[] = {0, 1, 2, 3, 28, 38, 39, 40, 100, -5};
    const size_t expected[] = {3, 3, 3, 4, 29, 39, 40, 40, 40, 3};
    for (size_t i = 0; i < sizeof(segments) / sizeof(segments[0]); ++i)
    {
        recorder.drawn.clear();
        DrawCircle(100.0f, 50.0f, 10.0f, 0xFF00FF00, segments[i]);
        ASSERT_EQ(recorder.drawn.size(), 1u) << segments[i];
        EXPECT_EQ(recorder.drawn[0].points.size(), expected[i]) << "segments " << segments[i];
    }

    // The ring starts at angle 0 and ends at 6.283, not two pi.
    recorder.drawn.clear();
    DrawCircle(100.0f, 50.0f, 10.0f, 0xFF00FF00, 3);
    const std::vector<D3DXVECTOR2>& p = recorder.drawn[0].points;
    EXPECT_FLOAT_EQ(p[0].x, 110.0f);
    EXPECT_FLOAT_EQ(p[0].y, 50.0f);
    EXPECT_FLOAT_EQ(p[1].x, 100.0f + 10.0f * cosf(6.283f / 3.0f));
    EXPECT_FLOAT_EQ(p[3].x, 100.0f + 10.0f * cosf(6.283f));
    EXPECT_FLOAT_EQ(p[3].y, 50.0f + 10.0f * sinf(6.283f));
    EXPECT_LT(p[3].y, 50.0f);
    EXPECT_TRUE(recorder.antialias);
    EXPECT_FLOAT_EQ(recorder.width, 2.5f);
    EXPECT_FALSE(recorder.glLines);
}

TEST_F(ScreenDrawing, MarkerIsTwentyEightSegmentsOfRadiusFifty)
{
    DrawMarkerCircle(160.0f, 120.0f);
    ASSERT_EQ(recorder.drawn.size(), 1u);
    EXPECT_EQ(recorder.drawn[0].colour, 0xC0FF8040u);
    ASSERT_EQ(recorder.drawn[0].points.size(), 29u);
    for (const D3DXVECTOR2& point : recorder.drawn[0].points)
        EXPECT_NEAR(hypotf(point.x - 160.0f, point.y - 120.0f), 50.0f, 1e-3f);
    // The shared point array holds the last call's points.
    EXPECT_FLOAT_EQ(g_LinePoints[0].x, 210.0f);
}

TEST_F(ScreenDrawing, LinesTakeTheirSettingsAndPatternGoesBackToSolid)
{
    DrawPatternLine(D3DXVECTOR2(1.0f, 2.0f), D3DXVECTOR2(30.0f, 40.0f), 0xC4FFFF00, 0x0F0F0F0F, 2.0f);
    ASSERT_EQ(recorder.drawn.size(), 1u);
    ASSERT_EQ(recorder.drawn[0].points.size(), 2u);
    EXPECT_FLOAT_EQ(recorder.drawn[0].points[1].y, 40.0f);
    EXPECT_EQ(recorder.drawn[0].colour, 0xC4FFFF00u);
    const std::vector<std::string> patternCalls = {"SetGLLines(0)", "SetAntialias(0)", "SetWidth", "SetPatternScale",
                                                   "SetPattern", "Begin", "Draw", "End", "SetPattern"};
    EXPECT_EQ(recorder.calls, patternCalls);
    EXPECT_EQ(recorder.pattern, 0xFFFFFFFFu);
    EXPECT_FLOAT_EQ(recorder.patternScale, 2.0f);

    recorder.calls.clear();
    DrawLine(D3DXVECTOR2(5.0f, 6.0f), D3DXVECTOR2(7.0f, 8.0f), 0xFAFFFF00);
    const std::vector<std::string> lineCalls = {"SetAntialias(1)", "SetWidth", "Begin", "Draw", "End"};
    EXPECT_EQ(recorder.calls, lineCalls);
    EXPECT_EQ(recorder.drawn[1].colour, 0xFAFFFF00u);

    // The same with the platform's line object.
    ID3DXLine* line = nullptr;
    ASSERT_TRUE(SUCCEEDED(D3DXCreateLine(device.device, &line)));
    g_pLine = line;
    device.device->BeginScene();
    DrawPatternLine(D3DXVECTOR2(1.0f, 2.0f), D3DXVECTOR2(30.0f, 40.0f), 0xC4FFFF00, 0x0F0F0F0F, 3.0f);
    device.device->EndScene();
    EXPECT_EQ(line->GetPattern(), 0xFFFFFFFFu);
    EXPECT_FLOAT_EQ(line->GetPatternScale(), 3.0f);
    g_pLine = &recorder;
    line->Release();
}

TEST_F(ScreenDrawing, LineFunctionsLeaveTheBlendStatesAsTheyWere)
{
    ID3DXLine* line = nullptr;
    ASSERT_TRUE(SUCCEEDED(D3DXCreateLine(device.device, &line)));
    g_pLine = line;
    const DWORD settings[2][3] = {{FALSE, D3DBLEND_ONE, D3DBLEND_ZERO}, {TRUE, D3DBLEND_DESTCOLOR, D3DBLEND_SRCCOLOR}};
    device.device->BeginScene();
    for (const DWORD* s : settings)
    {
        SetBlend(s[0], s[1], s[2]);
        DrawLine(D3DXVECTOR2(0, 0), D3DXVECTOR2(50, 50), 0xFFFFFFFF);
        ExpectBlend(s[0], s[1], s[2], "DrawLine");
        DrawPatternLine(D3DXVECTOR2(0, 0), D3DXVECTOR2(50, 50), 0xFFFFFFFF, 0x0F0F0F0F, 2.0f);
        ExpectBlend(s[0], s[1], s[2], "DrawPatternLine");
        DrawCircle(100, 100, 30, 0xFFFFFFFF, 20);
        ExpectBlend(s[0], s[1], s[2], "DrawCircle");
        DrawMarkerCircle(100, 100);
        ExpectBlend(s[0], s[1], s[2], "DrawMarkerCircle");
    }
    device.device->EndScene();
    g_pLine = &recorder;
    line->Release();
}

TEST_F(ScreenDrawing, NothingIsDrawnWithoutLineOrDevice)
{
    g_pDevice = nullptr;
    DrawLine(D3DXVECTOR2(0, 0), D3DXVECTOR2(1, 1), 0xFFFFFFFF);
    DrawPatternLine(D3DXVECTOR2(0, 0), D3DXVECTOR2(1, 1), 0xFFFFFFFF, 0x0F0F0F0F, 2.0f);
    DrawCircle(10, 10, 5, 0xFFFFFFFF, 10);
    DrawMarkerCircle(10, 10);
    EXPECT_TRUE(recorder.calls.empty());
    D3DXVECTOR3 p = ProjectToScreen(D3DXVECTOR3(1, 2, 3));
    EXPECT_EQ(p.x, 0.0f);
    EXPECT_EQ(p.y, 0.0f);

    g_pDevice = device.device;
    g_pLine = nullptr;
    DrawLine(D3DXVECTOR2(0, 0), D3DXVECTOR2(1, 1), 0xFFFFFFFF);
    DrawPatternLine(D3DXVECTOR2(0, 0), D3DXVECTOR2(1, 1), 0xFFFFFFFF, 0x0F0F0F0F, 2.0f);
    DrawMarkerCircle(10, 10);
}

TEST_F(ScreenDrawing, UnpackColourGivesAlphaRedGreenBlue)
{
    D3DXVECTOR4 c = UnpackColour(0xFF400000);
    EXPECT_EQ(c.x, 1.0f);
    EXPECT_FLOAT_EQ(c.y, 0.2509804f);
    EXPECT_EQ(c.z, 0.0f);
    EXPECT_EQ(c.w, 0.0f);
    c = UnpackColour(0x80FF0180);
    EXPECT_FLOAT_EQ(c.x, 0.5019608f);
    EXPECT_EQ(c.y, 1.0f);
    EXPECT_EQ(c.z, 1.0f * (1.0f / 255.0f));
    EXPECT_EQ(c.w, 128.0f * (1.0f / 255.0f));
}

TEST_F(ScreenDrawing, ProjectionUsesDeviceWorldViewViewportAndGlobalProjection)
{
    D3DVIEWPORT9 viewport = {10, 20, 200, 100, 0.0f, 1.0f};
    device.device->SetViewport(&viewport);
    D3DXVECTOR3 eye(0, 0, -200), at(10, 20, 30), up(0, 1, 0);
    D3DXMATRIX view, identity, projection, other;
    D3DXMatrixLookAtLH(&view, &eye, &at, &up);
    D3DXMatrixIdentity(&identity);
    device.device->SetTransform(D3DTS_VIEW, &view);
    device.device->SetTransform(D3DTS_WORLD, &identity);
    D3DXMatrixPerspectiveFovLH(&g_ProjectionMatrix, 1.2566371f, 2.0f, 1.0f, 1500.0f);
    // The device's own projection plays no part.
    D3DXMatrixPerspectiveFovLH(&projection, 0.3f, 1.0f, 5.0f, 50.0f);
    device.device->SetTransform(D3DTS_PROJECTION, &projection);

    D3DXVECTOR3 centre = ProjectToScreen(at);
    EXPECT_NEAR(centre.x, 110.0f, 1e-3f);
    EXPECT_NEAR(centre.y, 70.0f, 1e-3f);
    EXPECT_GT(centre.z, 0.0f);
    EXPECT_LT(centre.z, 1.0f);

    // The world transform carries the point first.
    D3DXMatrixTranslation(&other, -10, -20, -30);
    device.device->SetTransform(D3DTS_WORLD, &other);
    D3DXVECTOR3 shifted = ProjectToScreen(D3DXVECTOR3(20, 40, 60));
    EXPECT_NEAR(shifted.x, 110.0f, 1e-3f);
    EXPECT_NEAR(shifted.y, 70.0f, 1e-3f);
    D3DXVECTOR3 above = ProjectToScreen(D3DXVECTOR3(20, 50, 60));
    EXPECT_LT(above.y, 70.0f);
}

TEST_F(ScreenDrawing, CuesShowOnThePicture)
{
    ID3DXLine* line = nullptr;
    ASSERT_TRUE(SUCCEEDED(D3DXCreateLine(device.device, &line)));
    g_pLine = line;
    device.device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
    device.device->BeginScene();
    DrawMarkerCircle(100, 120);
    DrawCircle(240, 80, 25, 0xFF4080FF, 5);
    DrawLine(D3DXVECTOR2(20, 220), D3DXVECTOR2(300, 200), 0xFAFFFF00);
    DrawPatternLine(D3DXVECTOR2(20, 20), D3DXVECTOR2(300, 40), 0xC4FFFF00, 0x0F0F0F0F, 2.0f);
    device.device->EndScene();
    std::vector<DWORD> pixels = device.Pixels();
    d3dtest::SavePng("screen_cues", pixels, device.width, device.height);
    g_pLine = &recorder;
    line->Release();

    // The marker's rim is orange-ish, its centre untouched.
    int rimRed = 0;
    for (int x = 48; x <= 52; ++x)
        rimRed = std::max(rimRed, d3dtest::Red(pixels[120 * 320 + x]));
    EXPECT_GT(rimRed, 100);
    EXPECT_EQ(pixels[120 * 320 + 100] & 0xFFFFFF, 0u);
    // A solid line has no gaps; the patterned one has.
    int lit = 0, dark = 0;
    for (int x = 40; x < 280; ++x)
    {
        int y = static_cast<int>(20.0f + (x - 20) * 20.0f / 280.0f + 0.5f);
        bool on = d3dtest::Red(pixels[y * 320 + x]) > 50 || d3dtest::Red(pixels[(y + 1) * 320 + x]) > 50 ||
                  d3dtest::Red(pixels[(y - 1) * 320 + x]) > 50;
        (on ? lit : dark)++;
    }
    EXPECT_GT(lit, 40);
    EXPECT_GT(dark, 40);
}

}  // namespace
