// The frame clock, the band levels, the lights and the frame's device calls.
#include <gtest/gtest.h>

#include "CSpectrum.h"
#include "Resource/Shader.h"
#include "d3d_stuff.h"
#include "module_session.h"

#include <string.h>

using namespace testing_support;

namespace {

class FrameLoop : public ModuleSession
{
};

} // namespace

TEST_F(FrameLoop, TheClockStepsByTheRecordsDelayWhateverTheRealTime)
{
    EXPECT_EQ(g_TotalMs, 0u);
    EXPECT_EQ(g_FrameMs, 0u);
    for (int i = 0; i < 40; ++i)
    {
        // Real time jumps about between frames; the frame clock does not see it.
        VelmoraSetClock(kSessionStart + static_cast<DWORD>(i * i * 137));
        Frame();
        if (i == 0)
        {
            EXPECT_FLOAT_EQ(g_fTime, 0.025f);
        }
    }
    EXPECT_EQ(g_TotalMs, 1000u);
    EXPECT_EQ(g_FrameMs, 25u);
    EXPECT_EQ(g_fTime, 1.0f);

    // A player that changes the delay changes the next step.
    GetModule(0)->delayMs = 50;
    Frame();
    EXPECT_EQ(g_FrameMs, 50u);
    EXPECT_EQ(g_TotalMs, 1050u);
    EXPECT_FLOAT_EQ(g_fTime, 1.05f);

    // A new start resets the total but leaves the seconds until the next frame.
    GetModule(0)->delayMs = 25;
    host.Quit();
    ASSERT_EQ(host.Init(), 0);
    EXPECT_EQ(g_TotalMs, 0u);
    EXPECT_EQ(g_FrameMs, 0u);
    EXPECT_FLOAT_EQ(g_fTime, 1.05f);
    Frame();
    EXPECT_FLOAT_EQ(g_fTime, 0.025f);
}

TEST_F(FrameLoop, BandLevelsFollowTheSpectrumAndSilenceGivesZero)
{
    CVisModule* module = GetModule(0);
    memset(module->spectrumData, 255, sizeof(module->spectrumData));
    module->Render(module);
    EXPECT_GT(g_fBass, 0.0f);
    EXPECT_GT(g_fMedium, 0.0f);
    EXPECT_GT(g_fTreble, 0.0f);
    EXPECT_EQ(g_fBass, static_cast<float>(g_Spectrum.GetBass()));
    EXPECT_EQ(g_fTreble, static_cast<float>(g_Spectrum.GetTreble()));

    Frame(); // the player hands silence
    EXPECT_EQ(g_fBass, 0.0f);
    EXPECT_EQ(g_fMedium, 0.0f);
    EXPECT_EQ(g_fTreble, 0.0f);
}

TEST_F(FrameLoop, InitMainSetsTheRenderStatesAndLeavesTheLightsWithoutASpotEffect)
{
    ASSERT_EQ(g_pSpotShader, nullptr);
    for (CShaderLight& light : g_Lights)
    {
        light.position[1] = 7.0f;
        light.colour[3] = 3.0f;
    }
    g_pDevice->SetRenderState(D3DRS_NORMALIZENORMALS, FALSE);
    g_pDevice->SetRenderState(D3DRS_SPECULARENABLE, FALSE);
    g_CycleView = 0;
    EXPECT_TRUE(InitMain());
    for (const CShaderLight& light : g_Lights)
    {
        EXPECT_EQ(light.position[1], 7.0f);
        EXPECT_EQ(light.colour[3], 3.0f);
    }
    DWORD value = 0;
    g_pDevice->GetRenderState(D3DRS_LIGHTING, &value);
    EXPECT_EQ(value, 1u);
    g_pDevice->GetRenderState(D3DRS_NORMALIZENORMALS, &value);
    EXPECT_EQ(value, 1u);
    g_pDevice->GetRenderState(D3DRS_SPECULARENABLE, &value);
    EXPECT_EQ(value, 1u);
    EXPECT_EQ(g_CycleView, 1);
    EXPECT_EQ(host.CycleView(), -1) << "starting the cycle is not reported to the player";
    // The default profile is loaded after the list is read.
    EXPECT_STREQ(g_Spectrum.GetName(), "Default");
    EXPECT_EQ(g_SpectrumProfileIndex, 0u);
}

TEST_F(FrameLoop, EachFrameClearsSetsTheProjectionAndPresents)
{
    const unsigned before = VelmoraGetWindowPictureSerial(host.RenderWindow());
    g_pDevice->SetRenderState(D3DRS_ZENABLE, TRUE);
    Frame();
    EXPECT_EQ(VelmoraGetWindowPictureSerial(host.RenderWindow()), before + 1);

    D3DXMATRIX expected, actual;
    D3DXMatrixPerspectiveFovLH(&expected, 1.2566371f, 1.0f, 5.0f, 1000.0f);
    EXPECT_EQ(g_ProjectionMatrix, expected);
    g_pDevice->GetTransform(D3DTS_PROJECTION, &actual);
    EXPECT_EQ(actual, expected);

    // Cleared to black: nothing but the overlay's text is lit.
    ShowTimedMessage("", 0);
    SetStatusText("", 0, false);
    std::vector<DWORD> pixels = PictureAt(kSessionStart + 10000);
    EXPECT_TRUE(FindPixels(pixels, pictureWidth, [](DWORD c) { return (c & 0xFFFFFF) != 0; }).Empty());
    EXPECT_EQ(NewLog().find("unable to clear buffer"), std::string::npos);
}
