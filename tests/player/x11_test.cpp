// The live window on X11, on an X server of the test's own: errors about its
// window, the window destroyed or the connection lost from outside.
#include <gtest/gtest.h>

#include "live_window.h"
#include "test_support.h"
#include "x11_watch.h"
#include "xvfb.h"

#include <SDL.h>
#include <SDL_syswm.h>
#include <X11/Xlib.h>

#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

using namespace testing_support;

namespace {

std::vector<XErrorEvent> s_PassedOn;

int Record(Display*, XErrorEvent* error)
{
    s_PassedOn.push_back(*error);
    return 0;
}

// SDL's X11 video on `display` for the time of a test, started as the live
// window starts it.
class SdlVideoOn
{
public:
    explicit SdlVideoOn(const std::string& display)
    {
        if (const char* before = getenv("DISPLAY"))
            m_Display = before;
        setenv("DISPLAY", display.c_str(), 1);
        SDL_SetHint(SDL_HINT_VIDEODRIVER, "x11");
        m_Video.reset(new LiveWindow);
        m_Started = m_Video->StartVideo(m_Error);
    }
    ~SdlVideoOn()
    {
        m_Video.reset();
        SDL_SetHint(SDL_HINT_VIDEODRIVER, nullptr);
        if (m_Display.empty())
            unsetenv("DISPLAY");
        else
            setenv("DISPLAY", m_Display.c_str(), 1);
    }
    bool Started() const { return m_Started; }
    const std::string& Error() const { return m_Error; }

private:
    std::string m_Display;
    std::unique_ptr<LiveWindow> m_Video;
    std::string m_Error;
    bool m_Started = false;
};

// A player with a window on `server`, the built-in music playing on the disk
// driver; returns once it is into its frames, or -1.
pid_t StartWindowRun(const TempFolder& folder, const Xvfb& server)
{
    const pid_t pid = StartProgram({VELMORA_PLAYER_EXE, "--drive-c", folder / "drive_c", "--window"}, folder.Path(),
                                   {"SDL_VIDEODRIVER=x11", "DISPLAY=" + server.Display(), "WAYLAND_DISPLAY",
                                    "SDL_AUDIODRIVER=disk", "SDL_DISKAUDIOFILE=" + (folder / "device.raw")});
    if (!WaitForFileText(folder / "drive_c/winamplog.txt", "====[INIT MODULE Tab End]====", 60.0))
    {
        kill(pid, SIGKILL);
        FinishProgram(pid, folder.Path());
        return -1;
    }
    usleep(300000); // into the frames, the music playing
    return pid;
}

// As a close of the window ends it: the sound stopped, the module's Quit,
// the closing lines, exit 0 and nothing on standard error.
void ExpectEndedAsAClose(const TempFolder& folder, pid_t pid, const char* how)
{
    ProcessResult run = FinishProgramWithin(pid, folder.Path(), 10.0);
    ASSERT_FALSE(run.late) << how << ": the run went on";
    EXPECT_EQ(run.status, 0) << how << ": " << run.err;
    EXPECT_EQ(run.err, "") << how;
    EXPECT_NE(run.out.find(" frames rendered\nlog: "), std::string::npos) << how;
    const std::string log = ReadFile(folder / "drive_c/winamplog.txt");
    EXPECT_NE(log.find("\t\tquit\n"), std::string::npos) << how << ": Quit did not run";
    const std::string end = "========[LOG END]========\n";
    EXPECT_EQ(log.substr(log.size() - std::min(log.size(), end.size())), end) << how;
    EXPECT_FALSE(ReadFile(folder / "device.raw").empty()) << how;
}

} // namespace

TEST(X11, OnlyBadWindowAndBadDrawableAboutTheWindowCountAsItsClose)
{
    Xvfb server;
    if (server.Display().empty())
        GTEST_SKIP() << "no Xvfb to show a window on";
    SdlVideoOn video(server.Display());
    ASSERT_TRUE(video.Started()) << video.Error();
    SDL_Window* window = SDL_CreateWindow("Velmora", 0, 0, 64, 48, 0);
    ASSERT_NE(window, nullptr) << SDL_GetError();
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    ASSERT_TRUE(SDL_GetWindowWMInfo(window, &info));
    ASSERT_EQ(info.subsystem, SDL_SYSWM_X11);
    Display* display = info.info.x11.display;
    const Window own = info.info.x11.window;
    Display* other = XOpenDisplay(server.Display().c_str());
    ASSERT_NE(other, nullptr);

    s_PassedOn.clear();
    const XErrorHandler before = XSetErrorHandler(Record);
    X11Watch watch;
    watch.Watch(window);
    // Beyond the window's bounds: BadMatch about the window, which is still there.
    EXPECT_EQ(XGetImage(display, own, 1000, 1000, 8, 8, AllPlanes, ZPixmap), nullptr);
    EXPECT_FALSE(watch.Gone());
    ASSERT_EQ(s_PassedOn.size(), 1u);
    EXPECT_EQ(s_PassedOn[0].error_code, BadMatch);
    EXPECT_EQ(s_PassedOn[0].resourceid, own);

    // BadWindow about another window.
    const Window gone = XCreateSimpleWindow(other, DefaultRootWindow(other), 0, 0, 8, 8, 0, 0, 0);
    XDestroyWindow(other, gone);
    XSync(other, False);
    XWindowAttributes attributes;
    EXPECT_FALSE(XGetWindowAttributes(display, gone, &attributes));
    EXPECT_FALSE(watch.Gone());
    ASSERT_EQ(s_PassedOn.size(), 2u);
    EXPECT_EQ(s_PassedOn[1].error_code, BadWindow);

    // Its own window destroyed by another client.
    XDestroyWindow(other, own);
    XSync(other, False);
    EXPECT_EQ(XGetImage(display, own, 0, 0, 8, 8, AllPlanes, ZPixmap), nullptr); // BadDrawable
    EXPECT_TRUE(watch.Gone());
    EXPECT_EQ(s_PassedOn.size(), 2u);

    SDL_DestroyWindow(window);
    watch.Stop();
    XSetErrorHandler(before);
    XCloseDisplay(other);
}

TEST(X11, ALostConnectionEndsTheRunAsACloseDoes)
{
    {
        TempFolder folder;
        Xvfb server;
        if (server.Display().empty())
            GTEST_SKIP() << "no Xvfb to show a window on";
        const pid_t pid = StartWindowRun(folder, server);
        ASSERT_GT(pid, 0) << "the module did not start";
        Display* display = XOpenDisplay(server.Display().c_str());
        ASSERT_NE(display, nullptr);
        const Window window = FindTopLevelWindow(display, "Velmora", 10.0);
        ASSERT_NE(window, 0u);
        // As `xdotool windowkill` does: the server closes the player's connection.
        XKillClient(display, window);
        XSync(display, False);
        XCloseDisplay(display);
        ExpectEndedAsAClose(folder, pid, "its client killed");
    }
    {
        TempFolder folder;
        Xvfb server;
        const pid_t pid = StartWindowRun(folder, server);
        ASSERT_GT(pid, 0) << "the module did not start";
        server.Stop();
        ExpectEndedAsAClose(folder, pid, "the server gone");
    }
}
