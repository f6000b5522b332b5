// Notices a window that another X client destroyed, and a connection to the
// X server that was lost. Xlib's own answer to the errors that the window's
// requests then raise, and to a lost connection, is to end the program,
// without the module's shutdown; watched, either counts as a close.
#ifndef VELMORA_PLAYER_X11_WATCH_H
#define VELMORA_PLAYER_X11_WATCH_H

struct SDL_Window;
struct SDL_SysWMmsg;

class X11Watch
{
public:
    X11Watch() = default;
    ~X11Watch();
    X11Watch(const X11Watch&) = delete;
    X11Watch& operator=(const X11Watch&) = delete;

    // Starts watching `window` where SDL shows it through X11 (and asks SDL
    // for the window system's events); elsewhere does nothing. Of the X
    // errors, BadWindow and BadDrawable about the window are its close; the
    // rest go on to the handler that was there before.
    void Watch(SDL_Window* window);
    // One window system event from SDL.
    void Note(const SDL_SysWMmsg* message);
    // True once the window was destroyed from outside, or its connection lost.
    bool Gone() const;
    // True once the connection to the X server was lost: from then on nothing
    // may use it, SDL's window and video included.
    bool Lost() const;
    // After SDL let go of the window (or, once lost, without that): collects
    // the errors of its last requests about a window already gone, then stops
    // watching.
    void Stop();

private:
    bool m_Watching = false;
};

#endif
