#include "x11_watch.h"

#include <SDL.h>
#include <SDL_syswm.h>

#if defined(SDL_VIDEO_DRIVER_X11)
#include <X11/Xlib.h>

namespace
{
// Xlib's error handlers are one for the process and take no context.
Display* s_Display = nullptr;
Window s_Window = 0;
bool s_Gone = false;
bool s_Lost = false;
XErrorHandler s_Previous = nullptr;
XIOErrorHandler s_PreviousIO = nullptr;

int OnXError(Display* display, XErrorEvent* error)
{
    // Other errors, about the window too (a BadMatch of a request out of its
    // bounds), say nothing of whether it is still there.
    if (display == s_Display && s_Window != 0 && error->resourceid == s_Window &&
        (error->error_code == BadWindow || error->error_code == BadDrawable))
    {
        s_Gone = true;
        return 0;
    }
    return s_Previous ? s_Previous(display, error) : 0;
}

int OnIOError(Display* display)
{
    if (display == s_Display)
    {
        s_Lost = true;
        return 0;
    }
    return s_PreviousIO ? s_PreviousIO(display) : 0;
}

// Where Xlib would exit: the call that met the lost connection returns
// instead, and the run ends as by a close.
void OnIOErrorExit(Display*, void*)
{
}
} // namespace

void X11Watch::Watch(SDL_Window* window)
{
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (m_Watching || !SDL_GetWindowWMInfo(window, &info) || info.subsystem != SDL_SYSWM_X11)
        return;
    // SDL's own connection, on which its window and its events come.
    s_Display = info.info.x11.display;
    s_Window = info.info.x11.window;
    s_Gone = false;
    s_Lost = false;
    s_Previous = XSetErrorHandler(OnXError);
    s_PreviousIO = XSetIOErrorHandler(OnIOError);
    XSetIOErrorExitHandler(s_Display, OnIOErrorExit, nullptr);
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
    return m_Watching && (s_Gone || s_Lost);
}

bool X11Watch::Lost() const
{
    return m_Watching && s_Lost;
}

void X11Watch::Stop()
{
    if (!m_Watching)
        return;
    if (!s_Lost)
    {
        XSync(s_Display, False);
        XSetIOErrorExitHandler(s_Display, nullptr, nullptr); // Xlib's own again
    }
    XSetErrorHandler(s_Previous);
    XSetIOErrorHandler(s_PreviousIO);
    s_Display = nullptr;
    s_Window = 0;
    s_Previous = nullptr;
    s_PreviousIO = nullptr;
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

bool X11Watch::Lost() const
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
