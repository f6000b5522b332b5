// A window on the desktop (SDL2) that shows the render window's picture and
// turns the person's mouse and keys into the render window's messages.
#ifndef VELMORA_PLAYER_LIVE_WINDOW_H
#define VELMORA_PLAYER_LIVE_WINDOW_H

#include "input.h"

#include <string>

struct SDL_Window;
struct SDL_Renderer;
struct SDL_Texture;

class LiveWindow
{
public:
    LiveWindow() = default;
    ~LiveWindow();
    LiveWindow(const LiveWindow&) = delete;
    LiveWindow& operator=(const LiveWindow&) = delete;

    // Opens a resizable window of the given size; false with a reason when
    // there is no display.
    bool Open(const char* title, int width, int height, std::string& error);
    // Handles the desktop's events: input is posted to the render window, a
    // resize resizes it. Returns false once the person closed the window.
    bool Pump(InputTarget& target);
    // Shows the render window's last picture, scaled to the window.
    void Show(HWND renderWindow);

private:
    SDL_Window* m_Window = nullptr;
    SDL_Renderer* m_Renderer = nullptr;
    SDL_Texture* m_Texture = nullptr;
    int m_TextureWidth = 0;
    int m_TextureHeight = 0;
    unsigned m_ShownSerial = 0;
    bool m_VideoStarted = false;
};

// Windows virtual-key code of an SDL key; 0 for keys the module never sees.
WPARAM VirtualKeyFromSdl(int sdlKey);
// The player command bound to an SDL key (see --help); 0 for none.
int PlayerCommandFromSdl(int sdlKey);

#endif
