#include <gtest/gtest.h>

#include "test_support.h"

#include <velmora_platform.h>
#include <windows.h>

#include <string>
#include <vector>

namespace {

// Every message each window received, in order.
std::vector<std::pair<HWND, UINT>> s_Seen;
WINDOWPOS s_LastPos;
LRESULT s_CreateAnswer = 0;

LRESULT CALLBACK RecordingProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    s_Seen.push_back({hwnd, message});
    if (message == WM_NCCREATE)
    {
        auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
        SetWindowLongA(hwnd, GWL_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    if (message == WM_CREATE)
        return s_CreateAnswer;
    if (message == WM_WINDOWPOSCHANGING)
        s_LastPos = *reinterpret_cast<WINDOWPOS*>(lParam);
    if (message == WM_DESTROY)
    {
        // Children still exist while their parent hears WM_DESTROY.
        RECT r;
        EXPECT_TRUE(GetWindowRect(hwnd, &r));
    }
    if (message == WM_USER)
        return static_cast<LRESULT>(wParam + lParam);
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

std::vector<UINT> MessagesOf(HWND hwnd)
{
    std::vector<UINT> out;
    for (auto& seen : s_Seen)
        if (seen.first == hwnd)
            out.push_back(seen.second);
    return out;
}

class Windows : public ::testing::Test
{
protected:
    void SetUp() override
    {
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = RecordingProc;
        windowClass.lpszClassName = "Recording";
        ASSERT_NE(RegisterClassA(&windowClass), 0);
        s_Seen.clear();
        s_CreateAnswer = 0;
    }
    void TearDown() override
    {
        for (HWND w : made)
            if (IsWindow(w))
                DestroyWindow(w);
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
        {
        }
        EXPECT_TRUE(UnregisterClassA("Recording", nullptr));
    }
    HWND Make(HWND parent, int x, int y, int w, int h, DWORD style = WS_VISIBLE)
    {
        HWND hwnd = CreateWindowExA(0, "Recording", "title", style | (parent ? WS_CHILD : 0), x, y, w, h, parent,
                                    nullptr, nullptr, this);
        made.push_back(hwnd);
        return hwnd;
    }
    std::vector<HWND> made;
};

} // namespace

TEST_F(Windows, ClassesRegisterOnceAndUnregisterWhenUnused)
{
    WNDCLASSA again = {};
    again.lpfnWndProc = DefWindowProcA;
    again.lpszClassName = "RECORDING";
    EXPECT_EQ(RegisterClassA(&again), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_ALREADY_EXISTS));
    WNDCLASSA noProc = {};
    noProc.lpszClassName = "NoProc";
    EXPECT_EQ(RegisterClassA(&noProc), 0);
    EXPECT_FALSE(UnregisterClassA("NeverRegistered", nullptr));

    HWND window = Make(nullptr, 0, 0, 10, 10);
    ASSERT_NE(window, nullptr);
    EXPECT_FALSE(UnregisterClassA("Recording", nullptr)); // a window still uses it
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_HAS_WINDOWS));
    DestroyWindow(window);

    EXPECT_EQ(CreateWindowExA(0, "Unknown", "", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr), nullptr);
    EXPECT_EQ(CreateWindowExA(0, "Recording", "", WS_CHILD, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr), nullptr);
    EXPECT_EQ(CreateWindowExA(0, "Recording", "", WS_CHILD, 0, 0, 1, 1, window, nullptr, nullptr, nullptr), nullptr);
}

TEST_F(Windows, CreationSendsItsMessagesAndCanBeRefused)
{
    HWND window = Make(nullptr, 5, 6, 70, 80);
    ASSERT_NE(window, nullptr);
    std::vector<UINT> messages = MessagesOf(window);
    ASSERT_GE(messages.size(), 2u);
    EXPECT_EQ(messages[0], static_cast<UINT>(WM_NCCREATE));
    EXPECT_EQ(messages[1], static_cast<UINT>(WM_CREATE));
    EXPECT_EQ(GetWindowLongA(window, GWL_USERDATA), reinterpret_cast<LONG_PTR>(this)); // pointer-wide

    s_CreateAnswer = -1;
    s_Seen.clear();
    EXPECT_EQ(Make(nullptr, 0, 0, 1, 1), nullptr);
    ASSERT_FALSE(s_Seen.empty());
    EXPECT_FALSE(IsWindow(s_Seen.front().first));
    EXPECT_EQ(MessagesOf(s_Seen.front().first).back(), static_cast<UINT>(WM_NCDESTROY));
}

TEST_F(Windows, GeometryTextAndVisibility)
{
    HWND top = Make(nullptr, 100, 200, 400, 300);
    HWND middle = Make(top, 10, 20, 200, 100);
    HWND inner = Make(middle, 1, 2, 30, 40);
    RECT r;
    ASSERT_TRUE(GetWindowRect(inner, &r));
    EXPECT_EQ(r.left, 111);
    EXPECT_EQ(r.top, 222);
    EXPECT_EQ(r.right, 141);
    EXPECT_EQ(r.bottom, 262);
    ASSERT_TRUE(GetClientRect(middle, &r));
    EXPECT_EQ(r.right, 200);
    EXPECT_EQ(r.bottom, 100);
    EXPECT_EQ(GetParent(inner), middle);
    EXPECT_EQ(GetParent(top), nullptr);

    // A size change reaches the procedure as WM_WINDOWPOSCHANGING, then WM_SIZE.
    s_Seen.clear();
    ASSERT_TRUE(MoveWindow(middle, 10, 20, 300, 150, TRUE));
    std::vector<UINT> messages = MessagesOf(middle);
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.front(), static_cast<UINT>(WM_WINDOWPOSCHANGING));
    EXPECT_EQ(s_LastPos.cx, 300);
    EXPECT_EQ(s_LastPos.cy, 150);
    EXPECT_EQ(std::count(messages.begin(), messages.end(), static_cast<UINT>(WM_SIZE)), 1);
    s_Seen.clear();
    ASSERT_TRUE(SetWindowPos(middle, nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER));
    messages = MessagesOf(middle);
    EXPECT_EQ(std::count(messages.begin(), messages.end(), static_cast<UINT>(WM_SIZE)), 0);
    ASSERT_TRUE(GetWindowRect(inner, &r));
    EXPECT_EQ(r.left, 101);

    char text[8];
    ASSERT_TRUE(SetWindowTextA(top, "a longer title"));
    EXPECT_EQ(GetWindowTextA(top, text, sizeof(text)), 7);
    EXPECT_STREQ(text, "a longe");

    EXPECT_TRUE(IsWindowVisible(inner));
    EXPECT_TRUE(ShowWindow(top, SW_HIDE));
    EXPECT_FALSE(IsWindowVisible(inner)); // hidden with its parent
    EXPECT_FALSE(ShowWindow(top, SW_SHOWNORMAL));
    EXPECT_TRUE(IsWindowVisible(inner));

    EXPECT_TRUE(SetForegroundWindow(top));
    EXPECT_EQ(GetForegroundWindow(), top);
}

TEST_F(Windows, DestroyingGoesThroughTheTreeAndLeavesDeadHandles)
{
    HWND top = Make(nullptr, 0, 0, 100, 100);
    HWND child = Make(top, 0, 0, 50, 50);
    HWND grandchild = Make(child, 0, 0, 10, 10);
    HWND sibling = Make(top, 0, 0, 5, 5);
    SetForegroundWindow(top);
    PostMessageA(child, WM_USER, 1, 2);
    s_Seen.clear();
    ASSERT_TRUE(DestroyWindow(top));

    std::vector<std::pair<HWND, UINT>> expected = {
        {top, WM_DESTROY},          {child, WM_DESTROY},     {grandchild, WM_DESTROY}, {sibling, WM_DESTROY},
        {grandchild, WM_NCDESTROY}, {child, WM_NCDESTROY},   {sibling, WM_NCDESTROY},  {top, WM_NCDESTROY},
    };
    EXPECT_EQ(s_Seen, expected);
    for (HWND w : {top, child, grandchild, sibling})
        EXPECT_FALSE(IsWindow(w));
    EXPECT_EQ(GetForegroundWindow(), nullptr);

    // Every call on a dead handle fails without harm.
    RECT r;
    char text[4] = "xyz";
    EXPECT_FALSE(DestroyWindow(child));
    EXPECT_FALSE(GetWindowRect(child, &r));
    EXPECT_FALSE(SetWindowTextA(child, "x"));
    EXPECT_EQ(GetWindowTextA(child, text, sizeof(text)), 0);
    EXPECT_EQ(SendMessageA(child, WM_USER, 1, 2), 0);
    EXPECT_FALSE(PostMessageA(child, WM_USER, 1, 2));
    EXPECT_EQ(SetWindowLongA(child, GWL_USERDATA, 1), 0);
    EXPECT_FALSE(MoveWindow(child, 0, 0, 1, 1, FALSE));
    EXPECT_FALSE(ShowWindow(child, SW_SHOW));
    EXPECT_FALSE(SetForegroundWindow(child));
    EXPECT_EQ(VelmoraGetWindowPicture(child, nullptr, nullptr), nullptr);
    // Its posted message went with it.
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(Windows, SentMessagesRunAtOncePostedOnesWaitForThePlayer)
{
    HWND window = Make(nullptr, 0, 0, 10, 10);
    s_Seen.clear();
    EXPECT_EQ(SendMessageA(window, WM_USER, 40, 2), 42);
    EXPECT_EQ(s_Seen.size(), 1u);

    s_Seen.clear();
    ASSERT_TRUE(PostMessageA(window, WM_USER, 1, 0));
    ASSERT_TRUE(PostMessageA(window, WM_USER + 1, 2, 0));
    EXPECT_TRUE(s_Seen.empty());
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_USER));
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, WM_USER + 1, WM_USER + 1, PM_REMOVE)); // filtered by number
    EXPECT_EQ(msg.wParam, 2u);
    ASSERT_TRUE(PeekMessageA(&msg, window, 0, 0, PM_REMOVE));
    EXPECT_EQ(DispatchMessageA(&msg), 1);
    EXPECT_EQ(MessagesOf(window), std::vector<UINT>{WM_USER});
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));

    PostQuitMessage(3);
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
    EXPECT_EQ(msg.wParam, 3u);
}

TEST_F(Windows, WindowsKeepACopyOfTheirLastPicture)
{
    HWND window = Make(nullptr, 0, 0, 10, 10);
    int w = 0, h = 0;
    EXPECT_EQ(VelmoraGetWindowPicture(window, &w, &h), nullptr);
    EXPECT_EQ(VelmoraGetWindowPictureSerial(window), 0u);
    std::vector<DWORD> pixels = {0xFF000001, 0xFF000002, 0xFF000003, 0xFF000004, 0xFF000005, 0xFF000006};
    ASSERT_TRUE(VelmoraSetWindowPicture(window, pixels.data(), 3, 2));
    pixels[0] = 0; // the window's copy is its own
    const DWORD* picture = VelmoraGetWindowPicture(window, &w, &h);
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(w, 3);
    EXPECT_EQ(h, 2);
    EXPECT_EQ(picture[0], 0xFF000001u);
    EXPECT_EQ(picture[5], 0xFF000006u);
    EXPECT_TRUE(VelmoraSetWindowPicture(window, pixels.data(), 1, 1));
    EXPECT_EQ(VelmoraGetWindowPictureSerial(window), 2u);
    EXPECT_FALSE(VelmoraSetWindowPicture(window, pixels.data(), 0, 1));
    EXPECT_FALSE(VelmoraSetWindowPicture(window, nullptr, 1, 1));
}
