#include "x11_watch.h"

#include <SDL.h>
#include <SDL_syswm.h>

#if defined(SDL_VIDEO_DRIVER_X11)
#include <X11/Xlib.h>

namespace
{
// Xlib's error handler is one for the process and takes no context.
Display* s_Display = nullptr;
Window s_Window = 0;
bool s_Gone = false;
XErrorHandler s_Previous = nullptr;

int OnXError(Display* display, XErrorEvent* error)
{
    if (display == s_Display && s_Window != 0 && error->resourceid == s_Window)
    {
        s_Gone = true;
        return 0;
    }
    return s_Previous ? s_Previous(display, error) : 0;
}
} // namespace

void X11Watch::Watch(SDL_Window* window)
{
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (m_Watching || !SDL_GetWindowWMInfo(window, &info) || info.subsystem != SDL_SYSWM_X11)
        return;
    s_Display = info.info.x11.display;
    s_Window = info.info.x11.window;
    s_Gone = false;
    s_Previous = XSetErrorHandler(OnXError);
    SDL_EventState(SDL_SYSWMEVENT, SDL_ENABLE);
    m_Watching = true;
}

void X11Watch::Note(const SDL_SysWMmsg* message)
{
    if (m_Watching && message && message->subsystem == SDL_SYSWM_X11 &&
        message->msg.x11.event.type == DestroyNotify && message->msg.x11.event.xdestroywindow.window == s_Window)
        s_Gone = true;
}

bool X11Watch::Gone() const
{
    return m_Watching && s_Gone;
}

void X11Watch::Stop()
{
    if (!m_Watching)
        return;
    XSync(s_Display, False);
    XSetErrorHandler(s_Previous);
    s_Display = nullptr;
    s_Window = 0;
    s_Previous = nullptr;
    m_Watching = false;
}

#else

void X11Watch::Watch(SDL_Window*)
{
}

void X11Watch::Note(const SDL_SysWMmsg*)
{
}

bool X11Watch::Gone() const
{
    return false;
}

void X11Watch::Stop()
{
}

#endif

X11Watch::~X11Watch()
{
    Stop();
}
