// A window on the desktop (SDL2) that shows the render window's picture and
// turns the person's mouse and keys into the render window's messages.
#ifndef VELMORA_PLAYER_LIVE_WINDOW_H
#define VELMORA_PLAYER_LIVE_WINDOW_H

#include "input.h"
#include "x11_watch.h"

#include <string>

struct SDL_Window;
struct SDL_Surface;

class LiveWindow
{
public:
    LiveWindow() = default;
    ~LiveWindow();
    LiveWindow(const LiveWindow&) = delete;
    LiveWindow& operator=(const LiveWindow&) = delete;

    // Starts SDL's video; false with a one-line reason when no display can be
    // opened. SDL's offscreen and dummy drivers, which show nothing, count as
    // no display unless SDL_VIDEODRIVER asks for one by name.
    bool StartVideo(std::string& error);
    // Opens a resizable window of the given size (after StartVideo); false
    // with a reason when it cannot.
    bool Open(const char* title, int width, int height, std::string& error);
    // Handles the desktop's events: input is posted to the render window, a
    // resize resizes it. Returns false once the person closed the window, once
    // another program destroyed it, or once the connection to the X server
    // was lost (another program killed it, or the server went away).
    bool Pump(InputTarget& target);
    // Shows the render window's last picture in the window's surface, scaled
    // to the window: one copy, or one scaled copy after a resize.
    void Show(HWND renderWindow);

private:
    SDL_Window* m_Window = nullptr;
    X11Watch m_X11;
    SDL_Surface* m_Picture = nullptr; // the render window's picture, as SDL sees it
    const void* m_PicturePixels = nullptr;
    SDL_Surface* m_Shown = nullptr; // the window surface last drawn into
    int m_ShownWidth = 0;
    int m_ShownHeight = 0;
    unsigned m_ShownSerial = 0;
    bool m_Exposed = false;
    bool m_VideoStarted = false;
};

// Why no window system answered, for "no display for a window (REASON)":
// the display that DISPLAY or WAYLAND_DISPLAY names and could not be opened,
// or that neither is set; `sdlError` where the driver asked for by name
// (`askedDriver`, SDL_VIDEODRIVER) is neither x11 nor wayland.
std::string NoDisplayReason(const char* askedDriver, const char* sdlError);

// Windows virtual-key code of an SDL key; 0 for keys the module never sees.
WPARAM VirtualKeyFromSdl(int sdlKey);
// The player command bound to an SDL key (see --help); 0 for none.
int PlayerCommandFromSdl(int sdlKey);

#endif
