#include <gtest/gtest.h>

#include "input.h"
#include "peak_memory.h"
#include "script.h"
#include "test_support.h"

#include <windows.h>

#include <vector>

namespace {

struct Seen
{
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

std::vector<Seen> g_Seen;

LRESULT CALLBACK RecordingProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_MOUSEMOVE || message == WM_LBUTTONUP || message == WM_RBUTTONUP || message == WM_KEYDOWN ||
        message == WM_COMMAND || message == WM_SIZE)
        g_Seen.push_back({message, wParam, lParam});
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

void Deliver()
{
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageA(&msg);
}

class Input : public ::testing::Test
{
protected:
    void SetUp() override
    {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = RecordingProc;
        wc.lpszClassName = "InputTestRender";
        RegisterClassA(&wc);
        m_Embedded = CreateWindowExA(0, "InputTestRender", "", WS_OVERLAPPEDWINDOW, 0, 0, 850, 650, nullptr, nullptr,
                                     nullptr, nullptr);
        m_Target.embeddedWindow = m_Embedded;
        m_Target.renderWindow = CreateWindowExA(0, "InputTestRender", "", WS_CHILD | WS_VISIBLE, 50, 50, 800, 600,
                                                m_Embedded, nullptr, nullptr, nullptr);
        Deliver();
        g_Seen.clear();
    }
    void TearDown() override
    {
        DestroyWindow(m_Embedded);
        Deliver();
        UnregisterClassA("InputTestRender", nullptr);
    }

    HWND m_Embedded = nullptr;
    InputTarget m_Target;
};

} // namespace

TEST(InputNames, KeysAndCommandsByName)
{
    EXPECT_EQ(VirtualKeyFromName("H"), static_cast<WPARAM>('H'));
    EXPECT_EQ(VirtualKeyFromName("h"), static_cast<WPARAM>('H'));
    EXPECT_EQ(VirtualKeyFromName("8"), static_cast<WPARAM>('8'));
    EXPECT_EQ(VirtualKeyFromName("NUMPAD8"), static_cast<WPARAM>(104));
    EXPECT_EQ(VirtualKeyFromName("F12"), static_cast<WPARAM>(123));
    EXPECT_EQ(VirtualKeyFromName("F1"), static_cast<WPARAM>(0x70));
    EXPECT_EQ(VirtualKeyFromName("0x48"), static_cast<WPARAM>(72));
    EXPECT_EQ(VirtualKeyFromName("F13"), 0u);
    EXPECT_EQ(VirtualKeyFromName("NUMPADX"), 0u);
    EXPECT_EQ(VirtualKeyFromName("nonsense"), 0u);
    EXPECT_EQ(VirtualKeyFromName("300"), 0u);

    EXPECT_EQ(CommandFromName("next-preset"), 40382);
    EXPECT_EQ(CommandFromName("previous-preset"), 40383);
    EXPECT_EQ(CommandFromName("cycle-view"), 40384);
    EXPECT_EQ(CommandFromName("next-profile"), 40391);
    EXPECT_EQ(CommandFromName("40389"), 40389);
    EXPECT_EQ(CommandFromName("jump"), 0);
    EXPECT_EQ(CommandFromName("70000"), 0);
}

TEST(InputScriptParse, ReadsStepsAndRefusesBadLinesWithTheirNumber)
{
    InputScript script;
    std::string error;
    ASSERT_TRUE(script.Parse("# a comment\n\n3 move 400 300  # trailing\n3 lclick\n4 rclick\n5 key H\n"
                             "6 command cycle-view\n7 resize 400 300\n",
                             "s.txt", error))
        << error;
    ASSERT_EQ(script.Steps().size(), 6u);
    EXPECT_EQ(script.Steps()[0].kind, ScriptStep::Move);
    EXPECT_EQ(script.Steps()[0].frame, 3);
    EXPECT_EQ(script.Steps()[0].a, 400);
    EXPECT_EQ(script.Steps()[0].b, 300);
    EXPECT_EQ(script.Steps()[3].a, 'H');
    EXPECT_EQ(script.Steps()[4].a, 40384);
    EXPECT_EQ(script.Steps()[5].kind, ScriptStep::Resize);

    const char* bad[] = {"x move 1 2\n", "1\n", "1 move 1\n", "1 move -1 2\n", "1 key NOPE\n",
                         "1 command nope\n", "1 dance\n", "1 lclick now\n", "1 resize 70000 2\n"};
    for (const char* text : bad)
    {
        EXPECT_FALSE(script.Parse(std::string("0 lclick\n") + text, "s.txt", error)) << text;
        EXPECT_EQ(error.rfind("s.txt:2: ", 0), 0u) << error;
        EXPECT_TRUE(script.Steps().empty());
    }
    EXPECT_FALSE(script.Load("/nonexistent/script.txt", error));
}

TEST(InputScriptParse, AByteOrderMarkIsSkippedAndUnprintableBytesAreEscaped)
{
    InputScript script;
    std::string error;
    // Editors write the mark at the start of a file; only there is it skipped.
    EXPECT_TRUE(script.Parse("\xEF\xBB\xBF" "1 lclick\n2 rclick\n", "s", error)) << error;
    EXPECT_EQ(script.Steps().size(), 2u);
    EXPECT_FALSE(script.Parse("\xEF\xBB\xBF" "1 lclick\n\xEF\xBB\xBF" "2 rclick\n", "s", error));
    EXPECT_EQ(error.rfind("s:2: ", 0), 0u) << error;

    // The message goes on past a NUL; UTF-8 text stays as it is.
    const std::pair<std::string, std::string> cases[] = {
        {std::string("1 lclick \0x\n", 12), "s:1: unexpected '\\x00x'"},
        {"1 key \xFF\n", "s:1: unknown key '\\xFF'"},
        {"1 dance\x01\x7F\n", "s:1: unknown action 'dance\\x01\\x7F'"},
        {"1 command \xC3\xA9t\xC3\n", "s:1: unknown command '\xC3\xA9t\\xC3'"},
        {"\xEF\xBB\xBF" "1 key \xE2\x82\n", "s:1: unknown key '\\xE2\\x82'"},
    };
    for (const auto& c : cases)
    {
        EXPECT_FALSE(script.Parse(c.first, "s", error));
        EXPECT_EQ(error, c.second);
    }
}

TEST_F(Input, ScriptStepsArePostedAndReachTheWindowWhenDelivered)
{
    InputScript script;
    std::string error;
    ASSERT_TRUE(script.Parse("2 move 120 80\n2 lclick\n2 rclick\n2 key NUMPAD8\n2 command next-profile\n"
                             "5 move 1 1\n",
                             "s", error));
    script.Apply(1, m_Target);
    Deliver();
    EXPECT_TRUE(g_Seen.empty());

    script.Apply(2, m_Target);
    EXPECT_TRUE(g_Seen.empty()) << "input waits until the player delivers it";
    Deliver();
    ASSERT_EQ(g_Seen.size(), 5u);
    EXPECT_EQ(g_Seen[0].message, static_cast<UINT>(WM_MOUSEMOVE));
    EXPECT_EQ(g_Seen[0].lParam, MAKELPARAM(120, 80));
    EXPECT_EQ(g_Seen[1].message, static_cast<UINT>(WM_LBUTTONUP));
    EXPECT_EQ(g_Seen[1].lParam, MAKELPARAM(120, 80));
    EXPECT_EQ(g_Seen[2].message, static_cast<UINT>(WM_RBUTTONUP));
    EXPECT_EQ(g_Seen[3].message, static_cast<UINT>(WM_KEYDOWN));
    EXPECT_EQ(g_Seen[3].wParam, static_cast<WPARAM>(VK_NUMPAD8));
    EXPECT_EQ(g_Seen[4].message, static_cast<UINT>(WM_COMMAND));
    EXPECT_EQ(LOWORD(g_Seen[4].wParam), 40391);
}

TEST_F(Input, ResizeGivesTheRenderWindowItsNewClientSizeInPlace)
{
    ResizeRenderWindow(m_Target, 400, 300);
    bool sized = false;
    for (const Seen& seen : g_Seen)
        if (seen.message == WM_SIZE && seen.lParam == MAKELPARAM(400, 300))
            sized = true;
    EXPECT_TRUE(sized);

    RECT client = {};
    ASSERT_TRUE(GetClientRect(m_Target.renderWindow, &client));
    EXPECT_EQ(client.right, 400);
    EXPECT_EQ(client.bottom, 300);
    RECT render = {};
    RECT embedded = {};
    ASSERT_TRUE(GetWindowRect(m_Target.renderWindow, &render));
    ASSERT_TRUE(GetWindowRect(m_Embedded, &embedded));
    EXPECT_EQ(render.left - embedded.left, 50);
    EXPECT_EQ(embedded.right - embedded.left, 450);
    EXPECT_EQ(embedded.bottom - embedded.top, 350);
}

TEST(InputScriptParse, StepsAreKeptInFrameOrderAndEachFrameFindsItsOwn)
{
    InputScript script;
    std::string error;
    ASSERT_TRUE(script.Parse("5 key A\n2 move 1 1\n5 key B\n2 lclick\n3 rclick\n", "s", error)) << error;
    const std::deque<ScriptStep>& steps = script.Steps();
    ASSERT_EQ(steps.size(), 5u);
    EXPECT_EQ(steps[0].kind, ScriptStep::Move);
    EXPECT_EQ(steps[1].kind, ScriptStep::LeftClick);
    EXPECT_EQ(steps[2].kind, ScriptStep::RightClick);
    EXPECT_EQ(steps[3].a, 'A'); // file order within a frame
    EXPECT_EQ(steps[4].a, 'B');

    // A last line without its line break still counts.
    ASSERT_TRUE(script.Parse("1 lclick", "s", error)) << error;
    EXPECT_EQ(script.Steps().size(), 1u);
}

TEST(InputScriptParse, AScriptPastTheLimitIsRefusedWithoutReadingOn)
{
    InputScript script;
    std::string error;
    // A stream without end: the limit stops the reading, not the memory.
    EXPECT_FALSE(script.Load("/dev/zero", error));
    EXPECT_EQ(error, "/dev/zero: a script may hold at most 64 MB");
    EXPECT_TRUE(script.Steps().empty());

    // One byte past the limit, in comments that would parse.
    std::string text(kMaxScriptBytes + 1, '#');
    text[0] = '\n';
    EXPECT_FALSE(script.Parse(text, "big.txt", error));
    EXPECT_EQ(error, "big.txt: a script may hold at most 64 MB");
    text.pop_back();
    EXPECT_TRUE(script.Parse(text, "big.txt", error)) << error;

    // A line is kept to its limit: past it, a step is refused and a comment stays one.
    std::string longLine = "1 move 1 1" + std::string(kMaxLineBytes, ' ') + "\n";
    EXPECT_FALSE(script.Parse("0 lclick\n" + longLine, "s", error));
    EXPECT_EQ(error, "s:2: a line may hold at most 65536 bytes");
    EXPECT_TRUE(script.Parse("1 lclick # " + std::string(kMaxLineBytes, 'x') + "\n2 rclick\n", "s", error)) << error;
    EXPECT_EQ(script.Steps().size(), 2u);
}

TEST_F(Input, ALongScriptHandsEachFrameOnlyItsOwnSteps)
{
    // 612k steps in 10 MB: three a frame from frame 200 on, and one at frame 100.
    std::string text;
    for (int frame = 200; frame < 200 + 204000; ++frame)
        text += std::to_string(frame) + " move 10 20\n" + std::to_string(frame) + " key H\n" +
                std::to_string(frame) + " command cycle-view\n";
    text += "100 key A\n";
    InputScript script;
    std::string error;
    ASSERT_TRUE(script.Parse(text, "long.txt", error)) << error;
    ASSERT_EQ(script.Steps().size(), 612001u);
    for (int frame = 0; frame < 200; ++frame)
        script.Apply(frame, m_Target);
    Deliver();
    ASSERT_EQ(g_Seen.size(), 1u);
    EXPECT_EQ(g_Seen[0].wParam, static_cast<WPARAM>('A'));
    script.Apply(204199, m_Target);
    Deliver();
    EXPECT_EQ(g_Seen.size(), 4u);
}

TEST(InputScriptParse, AFrameHoldsAtMostItsBoundOfStepsAndTheFirstFaultIsNamed)
{
    InputScript script;
    std::string error;
    // Frame 7's steps spread among others' and comments: its 257th is on line 2 * 257 + 1.
    std::string text = "# crowded\n";
    for (int i = 0; i < kMaxStepsPerFrame; ++i)
        text += "7 move 1 1\n" + std::to_string(8 + i) + " lclick\n";
    ASSERT_TRUE(script.Parse(text, "s", error)) << error;
    EXPECT_EQ(script.Steps().size(), 2u * kMaxStepsPerFrame);
    const std::string over = text + "7 key A\n" + "9 rclick\n";
    EXPECT_FALSE(script.Parse(over, "s", error));
    EXPECT_EQ(error, "s:514: more than 256 steps at frame 7");
    EXPECT_TRUE(script.Steps().empty());

    // Out of file order: still the line of the frame's 257th step in the file.
    std::string shuffled = "3 key A\n";
    for (int i = 0; i <= kMaxStepsPerFrame; ++i)
        shuffled += "9 rclick\n2 lclick\n";
    EXPECT_FALSE(script.Parse(shuffled, "s", error));
    EXPECT_EQ(error, "s:514: more than 256 steps at frame 9");

    // Two crowded frames: the one that went over first in the file.
    std::string two;
    for (int i = 0; i < kMaxStepsPerFrame + 1; ++i)
        two += "20 lclick\n";
    two = "30 lclick\n" + two;
    for (int i = 0; i < kMaxStepsPerFrame; ++i)
        two += "30 lclick\n";
    EXPECT_FALSE(script.Parse(two, "s", error));
    EXPECT_EQ(error, "s:258: more than 256 steps at frame 20");

    // A bad line after the crowding is not the first fault; one before it is.
    EXPECT_FALSE(script.Parse(over + "10 dance\n", "s", error));
    EXPECT_EQ(error, "s:514: more than 256 steps at frame 7");
    EXPECT_FALSE(script.Parse("1 dance\n" + over, "s", error));
    EXPECT_EQ(error, "s:1: unknown action 'dance'");
}

TEST(InputScriptParse, ALargeScriptTakesLessMemoryThanTwiceItsFile)
{
    // 400,000 shortest steps, 256 to a frame, the frames backwards so that
    // they must be put in order.
    testing_support::TempFolder folder;
    const int frames = 400000 / kMaxStepsPerFrame;
    std::string text;
    for (int frame = frames - 1; frame >= 0; --frame)
    {
        const std::string line = std::to_string(frame) + " key A\n";
        for (int i = 0; i < kMaxStepsPerFrame; ++i)
            text += line;
    }
    const std::string path = folder / "large.txt";
    ASSERT_TRUE(testing_support::WriteFile(path, text));
    const long long fileBytes = static_cast<long long>(text.size());
    std::string().swap(text);

    InputScript script;
    std::string error;
    testing_support::PeakMemory peak;
    ASSERT_TRUE(peak.Start());
    ASSERT_TRUE(script.Load(path, error)) << error;
    const long long used = peak.Peak();
    RecordProperty("PeakBytes", std::to_string(used));
    EXPECT_LT(used, 2 * fileBytes) << "a file of " << fileBytes << " bytes";
    ASSERT_EQ(script.Steps().size(), static_cast<size_t>(frames) * kMaxStepsPerFrame);
    EXPECT_EQ(script.Steps().front().frame, 0u);
    EXPECT_EQ(script.Steps().back().frame, static_cast<unsigned>(frames - 1));
}
