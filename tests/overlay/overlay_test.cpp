// The status line and the timed message: what is kept, for how long, what is
// drawn, where and in which colour.
#include <gtest/gtest.h>

#include "d3d_stuff.h"
#include "module_session.h"

#include <string.h>

#include <string>

using namespace testing_support;

namespace {

class Overlay : public ModuleSession
{
protected:
    void SetUp() override
    {
        ModuleSession::SetUp();
        // Start each case from an empty line, help on and no message on screen.
        SetStatusText("", 0, false);
        g_ShowHelp = 1;
        ShowTimedMessage("", 0);
    }

    // Whether the status line or the message shows on a frame rendered at `now`.
    bool StatusDrawnAt(DWORD now)
    {
        std::vector<DWORD> pixels = PictureAt(now);
        return !FindPixels(pixels, pictureWidth, IsStatusWhite).Empty();
    }
    bool MessageDrawnAt(DWORD now)
    {
        std::vector<DWORD> pixels = PictureAt(now);
        return !FindPixels(pixels, pictureWidth, IsMessageBlue).Empty();
    }

    void ExpectStatus(const char* text, DWORD time, bool delayed)
    {
        EXPECT_STREQ(g_StatusText, text);
        EXPECT_EQ(g_StatusTime, time);
        EXPECT_EQ(g_StatusDelayed, delayed);
    }
};

} // namespace

TEST_F(Overlay, DelayedTextsWaitHalfASecondAndNeverReplaceAYoungLine)
{
    const DWORD t = 200000;
    // A hover text re-sent every frame keeps its first time.
    VelmoraSetClock(t);
    SetStatusText("change color", t, true);
    VelmoraSetClock(t + 300);
    SetStatusText("change color", t + 300, true);
    ExpectStatus("change color", t, true);
    EXPECT_FALSE(StatusDrawnAt(t + 500));
    EXPECT_TRUE(StatusDrawnAt(t + 501));

    // An acknowledgement replaces it at once and holds off delayed texts up to 1000 ms.
    const DWORD ack = t + 2000;
    VelmoraSetClock(ack);
    SetStatusText("color changed", ack, false);
    ExpectStatus("color changed", ack, false);
    EXPECT_TRUE(StatusDrawnAt(ack));
    VelmoraSetClock(ack + 1000);
    SetStatusText("spot settings", ack + 1000, true);
    ExpectStatus("color changed", ack, false);
    VelmoraSetClock(ack + 1001);
    SetStatusText("spot settings", ack + 1001, true);
    ExpectStatus("spot settings", ack + 1001, true);

    // The same text again does not renew the time of an acknowledgement either.
    SetStatusText("color changed", ack + 1100, false);
    SetStatusText("color changed", ack + 1200, false);
    ExpectStatus("color changed", ack + 1100, false);
}

TEST_F(Overlay, TheIdleClearWaitsASecondAndTheEmptyAcknowledgementClearsAtOnce)
{
    const DWORD t = 300000;
    VelmoraSetClock(t);
    SetStatusText("next camera position", t, false);
    VelmoraSetClock(t + 1000);
    SetStatusText("", 0, true);
    ExpectStatus("next camera position", t, false);
    VelmoraSetClock(t + 1001);
    SetStatusText("", 0, true);
    ExpectStatus("", 0, false);
    EXPECT_FALSE(StatusDrawnAt(t + 1001));

    // With the line empty a delayed text is taken at once, and then holds the line.
    VelmoraSetClock(t + 1002);
    SetStatusText("link to music reference bass", t + 1002, true);
    ExpectStatus("link to music reference bass", t + 1002, true);
    SetStatusText("change color", t + 1002, true);
    ExpectStatus("link to music reference bass", t + 1002, true);

    // The empty text as an acknowledgement clears however young the line is.
    SetStatusText("", t + 1003, false);
    ExpectStatus("", 0, false);
}

TEST_F(Overlay, TextsKeepAtMost63CharactersAndALongTextSentAgainKeepsItsTime)
{
    const std::string longText(70, 'x');
    const DWORD t = 400000;
    VelmoraSetClock(t);
    SetStatusText(longText.c_str(), t, true);
    EXPECT_EQ(strlen(g_StatusText), 63u);
    // Compared as it was kept: a hover text longer than the line still shows after 500 ms.
    VelmoraSetClock(t + 1500);
    SetStatusText(longText.c_str(), t + 1500, true);
    EXPECT_EQ(g_StatusTime, t);
    SetStatusText((longText + "y").c_str(), t + 1500, false);
    EXPECT_EQ(g_StatusTime, t);

    ShowTimedMessage(std::string(100, 'm').c_str(), t);
    EXPECT_EQ(std::string(g_MessageText), std::string(63, 'm'));
    EXPECT_EQ(g_MessageTime, t);
}

TEST_F(Overlay, MessageShowsForTwoSecondsWithHelpOnOrOffAndTheLineOnlyWithHelpOn)
{
    const DWORD t = 500000;
    ShowTimedMessage("Help Disable", t);
    EXPECT_TRUE(MessageDrawnAt(t));
    EXPECT_TRUE(MessageDrawnAt(t + 1999));
    EXPECT_FALSE(MessageDrawnAt(t + 2000));
    EXPECT_STREQ(g_MessageText, "Help Disable"); // kept, only not drawn

    // Help off: texts are kept and timed as usual; the message is still drawn.
    g_ShowHelp = 0;
    VelmoraSetClock(t + 3000);
    SetStatusText("cycle view off", t + 3000, false);
    ShowTimedMessage("Help Disable", t + 3000);
    ExpectStatus("cycle view off", t + 3000, false);
    std::vector<DWORD> pixels = PictureAt(t + 3000);
    EXPECT_TRUE(FindPixels(pixels, pictureWidth, IsStatusWhite).Empty());
    EXPECT_FALSE(FindPixels(pixels, pictureWidth, IsMessageBlue).Empty());
    g_ShowHelp = 1;
    EXPECT_TRUE(StatusDrawnAt(t + 3000));

    // The 2000 ms run on unsigned time across the clock's wrap.
    const DWORD late = 0xFFFFFFFFu - 500;
    ShowTimedMessage("Help Enable", late);
    EXPECT_TRUE(MessageDrawnAt(late + 1999));
    EXPECT_FALSE(MessageDrawnAt(late + 2000));
}

TEST_F(Overlay, RectanglesAndColoursAt800By600)
{
    const DWORD t = 600000;
    VelmoraSetClock(t);
    SetStatusText("cycle view off", t, false);
    ShowTimedMessage("Press H to remove the help content", t);
    std::vector<DWORD> pixels = PictureAt(t);
    ASSERT_EQ(pictureWidth, 800);
    ASSERT_EQ(pictureHeight, 600);

    // Right-aligned at x 720; the message's top at y 60, the status line's at y 480.
    const Box message = FindPixels(pixels, pictureWidth, IsMessageBlue);
    ASSERT_FALSE(message.Empty());
    EXPECT_LE(message.right, 719);
    EXPECT_GE(message.right, 705);
    EXPECT_GE(message.top, 60);
    EXPECT_LE(message.top, 70);
    EXPECT_LE(message.bottom, 90);
    const Box status = FindPixels(pixels, pictureWidth, IsStatusWhite);
    ASSERT_FALSE(status.Empty());
    EXPECT_LE(status.right, 719);
    EXPECT_GE(status.right, 705);
    EXPECT_GE(status.top, 480);
    EXPECT_LE(status.top, 490);
    EXPECT_LE(status.bottom, 510);

    // Fully covered pixels carry the exact colours.
    bool opaqueBlue = false, opaqueWhite = false;
    for (DWORD c : pixels)
    {
        opaqueBlue = opaqueBlue || (c & 0xFFFFFF) == 0x0080FF;
        opaqueWhite = opaqueWhite || (c & 0xFFFFFF) == 0xFFFFFF;
    }
    EXPECT_TRUE(opaqueBlue);
    EXPECT_TRUE(opaqueWhite);
}

TEST_F(Overlay, ResizeFollowsTheWindowOnceTheDeviceExists)
{
    OnResize(400.9f, 300.2f);
    EXPECT_EQ(g_WindowWidth, 400);
    EXPECT_EQ(g_WindowHeight, 300);
    // The back buffer keeps its size: the rectangles stay those of 800 x 600.
    const DWORD t = 700000;
    ShowTimedMessage("Help Enable", t);
    std::vector<DWORD> pixels = PictureAt(t);
    const Box message = FindPixels(pixels, pictureWidth, IsMessageBlue);
    EXPECT_GE(message.right, 705);
    EXPECT_GE(message.top, 60);

    host.Quit();
    OnResize(640.0f, 480.0f);
    EXPECT_EQ(g_WindowWidth, 400) << "no device, nothing changes";
}
