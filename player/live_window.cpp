#include "live_window.h"
#include "quiet_stderr.h"

#include <SDL.h>
#include <SDL_syswm.h>
#include <velmora_platform.h>

#include <stdlib.h>
#include <string.h>

LiveWindow::~LiveWindow()
{
    if (m_Picture)
        SDL_FreeSurface(m_Picture);
    // Over a lost X connection SDL's window and video are left as they are:
    // their teardown would use the connection, and Xlib would end the player.
    const bool lost = m_X11.Lost();
    if (m_Window && !lost)
        SDL_DestroyWindow(m_Window);
    m_X11.Stop();
    if (m_VideoStarted && !lost)
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
}

namespace
{
std::string Environment(const char* name)
{
    const char* value = getenv(name);
    return value ? value : "";
}

bool Named(const char* driver, const char* name)
{
    return driver && strcmp(driver, name) == 0;
}
} // namespace

std::string NoDisplayReason(const char* askedDriver, const char* sdlError)
{
    const std::string x = Environment("DISPLAY");
    const std::string wayland = Environment("WAYLAND_DISPLAY");
    const bool asked = askedDriver && *askedDriver;
    // A driver asked for by name other than the two window systems: SDL knows best.
    if (asked && !Named(askedDriver, "x11") && !Named(askedDriver, "wayland"))
        return sdlError;
    const bool tryX = !asked || Named(askedDriver, "x11");
    const bool tryWayland = !asked || Named(askedDriver, "wayland");
    const std::string xNamed = "the X display '" + x + "' that DISPLAY names";
    const std::string waylandNamed = "the Wayland display '" + wayland + "' that WAYLAND_DISPLAY names";
    if (tryX && !x.empty() && tryWayland && !wayland.empty())
        return "cannot open " + xNamed + ", nor " + waylandNamed;
    if (tryX && !x.empty())
        return "cannot open " + xNamed;
    if (tryWayland && !wayland.empty())
        return "cannot open " + waylandNamed;
    if (tryX && tryWayland)
        return "neither DISPLAY nor WAYLAND_DISPLAY is set";
    return std::string(tryX ? "DISPLAY" : "WAYLAND_DISPLAY") + " is not set";
}

bool LiveWindow::StartVideo(std::string& error)
{
    if (m_VideoStarted)
        return true;
    // The picture is already in memory: without a GPU, SDL's default of
    // showing the window surface through an OpenGL texture costs a software
    // OpenGL pass per frame, several times the copy that the window system
    // takes. SDL_FRAMEBUFFER_ACCELERATION in the environment still decides.
    SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    int started = 0;
    {
        QuietStderr quiet; // the Wayland client complains without a session
        started = SDL_InitSubSystem(SDL_INIT_VIDEO);
    }
    const char* asked = SDL_GetHint(SDL_HINT_VIDEODRIVER);
    if (started != 0)
    {
        error = "no display for a window (" + NoDisplayReason(asked, SDL_GetError()) + ")";
        return false;
    }
    m_VideoStarted = true;
    const char* driver = SDL_GetCurrentVideoDriver();
    if ((!asked || !*asked) && (Named(driver, "offscreen") || Named(driver, "dummy")))
    {
        // SDL settles for a driver that shows nothing when no window system
        // answered: say which display that was, or that none was named.
        const std::string fallback = std::string("SDL found only its ") + driver + " video driver, which shows nothing";
        error = "no display for a window (" + NoDisplayReason(nullptr, fallback.c_str()) + ")";
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
        m_VideoStarted = false;
        return false;
    }
    return true;
}

bool LiveWindow::Open(const char* title, int width, int height, std::string& error)
{
    if (!StartVideo(error))
        return false;
    m_Window = SDL_CreateWindow(title, SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, width, height,
                                SDL_WINDOW_RESIZABLE);
    if (!m_Window)
    {
        error = std::string("cannot open a window (") + SDL_GetError() + ")";
        return false;
    }
    m_X11.Watch(m_Window);
    if (!SDL_GetWindowSurface(m_Window))
    {
        error = std::string("cannot draw into the window (") + SDL_GetError() + ")";
        return false;
    }
    return true;
}

WPARAM VirtualKeyFromSdl(int key)
{
    if (key >= SDLK_a && key <= SDLK_z)
        return static_cast<WPARAM>('A' + (key - SDLK_a));
    if (key >= SDLK_0 && key <= SDLK_9)
        return static_cast<WPARAM>('0' + (key - SDLK_0));
    if (key >= SDLK_F1 && key <= SDLK_F12)
        return static_cast<WPARAM>(VK_F1 + (key - SDLK_F1));
    if (key >= SDLK_KP_1 && key <= SDLK_KP_9)
        return static_cast<WPARAM>(VK_NUMPAD1 + (key - SDLK_KP_1));
    switch (key)
    {
    case SDLK_KP_0:
        return VK_NUMPAD0;
    case SDLK_RETURN:
        return VK_RETURN;
    case SDLK_BACKSPACE:
        return VK_BACK;
    case SDLK_UP:
        return VK_UP;
    case SDLK_DOWN:
        return VK_DOWN;
    default:
        return 0;
    }
}

int PlayerCommandFromSdl(int key)
{
    switch (key)
    {
    case SDLK_RIGHT:
        return CommandNextPreset;
    case SDLK_LEFT:
        return CommandPreviousPreset;
    case SDLK_SPACE:
        return CommandToggleCycleView;
    case SDLK_TAB:
        return CommandNextSpectrumProfile;
    default:
        return 0;
    }
}

bool LiveWindow::Pump(InputTarget& target)
{
    SDL_Event event;
    // Each poll reads the X connection: none once it is lost.
    while (!m_X11.Lost() && SDL_PollEvent(&event))
    {
        switch (event.type)
        {
        case SDL_QUIT:
            return false;
        case SDL_SYSWMEVENT:
            m_X11.Note(event.syswm.msg);
            break;
        case SDL_MOUSEMOTION:
            PostMouseMove(target, event.motion.x, event.motion.y);
            break;
        case SDL_MOUSEBUTTONUP:
            PostMouseMove(target, event.button.x, event.button.y);
            if (event.button.button == SDL_BUTTON_LEFT)
                PostLeftButtonUp(target);
            else if (event.button.button == SDL_BUTTON_RIGHT)
                PostRightButtonUp(target);
            break;
        case SDL_KEYDOWN:
            if (event.key.keysym.sym == SDLK_ESCAPE)
                return false;
            if (int command = PlayerCommandFromSdl(event.key.keysym.sym))
                PostCommand(target, command);
            else if (WPARAM key = VirtualKeyFromSdl(event.key.keysym.sym))
                PostKeyDown(target, key);
            break;
        case SDL_WINDOWEVENT:
            if (event.window.event == SDL_WINDOWEVENT_SIZE_CHANGED)
                ResizeRenderWindow(target, event.window.data1, event.window.data2);
            else if (event.window.event == SDL_WINDOWEVENT_EXPOSED)
                m_Exposed = true;
            break;
        default:
            break;
        }
    }
    // Gone from outside, or its connection lost: it ends the run as a close does.
    return !m_X11.Gone();
}

void LiveWindow::Show(HWND renderWindow)
{
    if (m_X11.Lost())
        return;
    int width = 0;
    int height = 0;
    const DWORD* pixels = VelmoraGetWindowPicture(renderWindow, &width, &height);
    SDL_Surface* screen = SDL_GetWindowSurface(m_Window); // a new one after a resize
    if (!pixels || !screen)
        return;
    const unsigned serial = VelmoraGetWindowPictureSerial(renderWindow);
    if (serial == m_ShownSerial && screen == m_Shown && screen->w == m_ShownWidth && screen->h == m_ShownHeight &&
        !m_Exposed)
        return;
    // The picture is A8R8G8B8 with an opaque alpha: described in the window's
    // own 32-bit layout where that is one of the two it matches, the blit is a
    // copy of rows; otherwise SDL converts.
    const Uint32 format = screen->format->format == SDL_PIXELFORMAT_RGB888 ? SDL_PIXELFORMAT_RGB888
                                                                            : SDL_PIXELFORMAT_ARGB8888;
    if (!m_Picture || m_PicturePixels != pixels || m_Picture->w != width || m_Picture->h != height ||
        m_Picture->format->format != format)
    {
        if (m_Picture)
            SDL_FreeSurface(m_Picture);
        m_Picture = SDL_CreateRGBSurfaceWithFormatFrom(const_cast<DWORD*>(pixels), width, height, 32, width * 4, format);
        m_PicturePixels = pixels;
        if (!m_Picture)
            return;
        SDL_SetSurfaceBlendMode(m_Picture, SDL_BLENDMODE_NONE);
    }
    const bool same = screen->w == width && screen->h == height;
    if ((same ? SDL_BlitSurface(m_Picture, nullptr, screen, nullptr)
              : SDL_BlitScaled(m_Picture, nullptr, screen, nullptr)) != 0)
        return;
    SDL_UpdateWindowSurface(m_Window);
    m_ShownSerial = serial;
    m_Shown = screen;
    m_ShownWidth = screen->w;
    m_ShownHeight = screen->h;
    m_Exposed = false;
}

#if defined(__SANITIZE_ADDRESS__)
// SDL's window systems open a D-Bus connection that libdbus keeps to the end
// of the process (only its own shutdown, which SDL leaves to the program,
// would free it): not a leak of ours, and not growing.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libdbus-1.so\n";
}

// Keeps standard error to the player's own lines.
extern "C" const char* __lsan_default_options()
{
    return "print_suppressions=0";
}
#endif
