// The render window's procedure: mouse scaling, keys, player commands and the
// messages that do or do not reach the default procedure.
#include <gtest/gtest.h>

#include "Entity/EntityManager.h"
#include "d3d_stuff.h"
#include "module_session.h"

#include <dlfcn.h>

#include <algorithm>

#include <string>
#include <vector>

using namespace testing_support;

namespace {

// Every call the module makes to the default procedure, seen on the way to the platform's.
struct DefaultCall
{
    HWND window;
    UINT message;
    WPARAM wParam;
};
std::vector<DefaultCall> g_DefaultCalls;

} // namespace

// This program's definition stands in front of the platform's for the module objects linked into it.
extern "C" LRESULT WINAPI DefWindowProcA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    using Proc = LRESULT (*)(HWND, UINT, WPARAM, LPARAM);
    static Proc platform = reinterpret_cast<Proc>(dlsym(RTLD_NEXT, "DefWindowProcA"));
    g_DefaultCalls.push_back({hWnd, Msg, wParam});
    return platform ? platform(hWnd, Msg, wParam, lParam) : 0;
}

namespace {

class WindowProcedure : public ModuleSession
{
protected:
    void SetUp() override
    {
        ModuleSession::SetUp();
        render = host.RenderWindow();
        ASSERT_NE(render, nullptr);
        g_DefaultCalls.clear();
    }

    LRESULT Send(UINT message, WPARAM wParam, LPARAM lParam) { return SendMessageA(render, message, wParam, lParam); }
    LRESULT Command(int id) { return Send(WM_COMMAND, MAKEWPARAM(id, 0), 0); }

    // Whether the default procedure saw this message for the render window since the last look.
    bool ReachedDefault(UINT message)
    {
        bool seen = false;
        for (const DefaultCall& call : g_DefaultCalls)
            seen = seen || (call.window == render && call.message == message);
        g_DefaultCalls.clear();
        return seen;
    }

    HWND render = nullptr;
};

} // namespace

TEST_F(WindowProcedure, MouseMovesScaleToTheViewportAndStampTheInputTime)
{
    ASSERT_EQ(g_WindowWidth, 800);
    VelmoraSetClock(kSessionStart + 5000);
    EXPECT_EQ(Send(WM_MOUSEMOVE, 0, MAKELPARAM(400, 300)), 0);
    EXPECT_EQ(g_MouseX, 400u);
    EXPECT_EQ(g_MouseY, 300u);
    EXPECT_EQ(g_pEntityManager->LastInputTime, kSessionStart + 5000);

    // The window shrinks, the back buffer keeps its size.
    ASSERT_TRUE(SetWindowPos(render, nullptr, 0, 0, 400, 300, SWP_NOMOVE | SWP_NOZORDER));
    EXPECT_EQ(g_WindowWidth, 400);
    EXPECT_EQ(g_WindowHeight, 300);
    Send(WM_MOUSEMOVE, 0, MAKELPARAM(200, 150));
    EXPECT_EQ(g_MouseX, 400u);
    EXPECT_EQ(g_MouseY, 300u);
    // Unsigned products, truncated quotients; the largest coordinate does not overflow.
    Send(WM_MOUSEMOVE, 0, MAKELPARAM(1, 65535));
    EXPECT_EQ(g_MouseX, 2u);
    EXPECT_EQ(g_MouseY, 131070u);

    // A window of no size keeps the last position rather than divide by zero.
    Send(WM_MOUSEMOVE, 0, MAKELPARAM(100, 100));
    Send(WM_SIZE, 0, MAKELPARAM(0, 300));
    VelmoraSetClock(kSessionStart + 6000);
    Send(WM_MOUSEMOVE, 0, MAKELPARAM(7, 9));
    EXPECT_EQ(g_MouseX, 200u);
    EXPECT_EQ(g_MouseY, 200u);
    EXPECT_EQ(g_pEntityManager->LastInputTime, kSessionStart + 6000);
    Send(WM_SIZE, 0, MAKELPARAM(400, 0));
    Send(WM_MOUSEMOVE, 0, MAKELPARAM(7, 9));
    EXPECT_EQ(g_MouseX, 200u);

    // Button releases go to the scene and nowhere else.
    EXPECT_EQ(Send(WM_LBUTTONUP, 0, MAKELPARAM(5, 5)), 0);
    EXPECT_EQ(Send(WM_RBUTTONUP, 0, MAKELPARAM(5, 5)), 0);
    EXPECT_EQ(g_MouseX, 200u);
    EXPECT_FALSE(ReachedDefault(WM_LBUTTONUP) || ReachedDefault(WM_RBUTTONUP));
}

TEST_F(WindowProcedure, KeysFlipHelpLogTheSaveKeyAndLeaveTheMouseAlone)
{
    Send(WM_MOUSEMOVE, 0, MAKELPARAM(123, 45));
    const DWORD stamped = g_pEntityManager->LastInputTime;
    ASSERT_EQ(g_ShowHelp, 1);
    for (WPARAM key : {static_cast<WPARAM>('H'), static_cast<WPARAM>(VK_NUMPAD8)})
    {
        VelmoraAdvanceClock(100);
        EXPECT_EQ(Send(WM_KEYDOWN, key, 1), 0);
        EXPECT_EQ(g_ShowHelp, 0);
        EXPECT_STREQ(g_MessageText, "Help Disable");
        EXPECT_EQ(g_MessageTime, timeGetTime());
        VelmoraAdvanceClock(100);
        Send(WM_KEYDOWN, key, 1);
        EXPECT_EQ(g_ShowHelp, 1);
        EXPECT_STREQ(g_MessageText, "Help Enable");
    }

    VelmoraAdvanceClock(100);
    Send(WM_KEYDOWN, VK_F12, 1);
    EXPECT_NE(NewLog().find("[          plugin:: 327]\tsaving xml scene\n"), std::string::npos) << NewLog();
    Send(WM_KEYDOWN, 'A', 1);
    Send(WM_KEYDOWN, '8', 1);
    EXPECT_EQ(g_ShowHelp, 1);
    EXPECT_STREQ(g_MessageText, "Help Enable");

    EXPECT_EQ(g_MouseX, 123u);
    EXPECT_EQ(g_MouseY, 45u);
    EXPECT_EQ(g_pEntityManager->LastInputTime, stamped);
    EXPECT_FALSE(ReachedDefault(WM_KEYDOWN));
}

TEST_F(WindowProcedure, CommandsLeaveTheirStatusTellThePlayerAndReachTheDefaultProcedureAsListed)
{
    ASSERT_EQ(g_CycleView, 1);
    VelmoraSetClock(kSessionStart + 1000);
    Command(40384);
    EXPECT_EQ(g_CycleView, 0);
    EXPECT_STREQ(g_StatusText, "cycle view off");
    EXPECT_EQ(g_StatusTime, kSessionStart + 1000);
    EXPECT_FALSE(g_StatusDelayed);
    EXPECT_EQ(host.CycleView(), 0);
    EXPECT_TRUE(ReachedDefault(WM_COMMAND));
    Command(40384);
    EXPECT_EQ(g_CycleView, 1);
    EXPECT_STREQ(g_StatusText, "cycle view on");
    EXPECT_EQ(host.CycleView(), 1);
    EXPECT_TRUE(ReachedDefault(WM_COMMAND));

    Command(40382);
    EXPECT_STREQ(g_StatusText, "next camera position");
    EXPECT_TRUE(ReachedDefault(WM_COMMAND));
    Command(40383);
    EXPECT_STREQ(g_StatusText, "previous camera position");
    EXPECT_TRUE(ReachedDefault(WM_COMMAND));

    // Unknown ids pass through unchanged; 40389 and 40391 stop here.
    Command(40385);
    ASSERT_FALSE(g_DefaultCalls.empty());
    EXPECT_EQ(g_DefaultCalls.back().wParam, MAKEWPARAM(40385, 0));
    EXPECT_TRUE(ReachedDefault(WM_COMMAND));
    EXPECT_EQ(Command(40389), 0);
    EXPECT_FALSE(ReachedDefault(WM_COMMAND));
    EXPECT_EQ(Command(40391), 0);
    EXPECT_FALSE(ReachedDefault(WM_COMMAND));
    EXPECT_STREQ(g_StatusText, "spectrum profile: Electronic (tight kick)");

    const std::vector<std::string> lines = SplitLines(NewLog());
    auto has = [&](const std::string& line) {
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    };
    EXPECT_TRUE(has("[          plugin:: 448]\tRandom is 0"));
    EXPECT_TRUE(has("[          plugin:: 448]\tRandom is 1"));
    EXPECT_TRUE(has("[            main:: 228]\tNEXT PRESET!!!"));
    EXPECT_TRUE(has("[            main:: 237]\tPREVIOUS PRESET!!!"));
    EXPECT_TRUE(has("[          plugin:: 385]\tcotte"));
}

TEST_F(WindowProcedure, MessagesHandledHereReturnZeroAndOthersGoToTheDefaultProcedure)
{
    for (UINT message : {WM_CREATE, WM_ERASEBKGND, WM_NCMBUTTONUP, WM_WINDOWPOSCHANGING})
    {
        EXPECT_EQ(Send(message, 0, 0), 0) << message;
        EXPECT_FALSE(ReachedDefault(message)) << message;
    }
    // The default procedure answers the rest: the window's text is kept.
    EXPECT_TRUE(SetWindowTextA(render, "render"));
    EXPECT_TRUE(ReachedDefault(WM_SETTEXT));
    char text[16] = {};
    GetWindowTextA(render, text, sizeof(text));
    EXPECT_STREQ(text, "render");

    // A change of position stores the embedded window's place on the screen for the next Init.
    ASSERT_TRUE(SetWindowPos(host.EmbeddedWindow(), nullptr, 123, 45, 0, 0, SWP_NOSIZE | SWP_NOZORDER));
    Send(WM_WINDOWPOSCHANGING, 0, 0);
    EXPECT_EQ(g_WindowX, 123);
    EXPECT_EQ(g_WindowY, 45);
    g_WindowX = 50;
    g_WindowY = 50;

    // Destroying the window asks the thread to quit.
    Send(WM_DESTROY, 0, 0);
    MSG msg;
    bool quit = false;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
        quit = quit || msg.message == WM_QUIT;
    EXPECT_TRUE(quit);
}
