#include "live_window.h"

#include <SDL.h>
#include <velmora_platform.h>

LiveWindow::~LiveWindow()
{
    if (m_Texture)
        SDL_DestroyTexture(m_Texture);
    if (m_Renderer)
        SDL_DestroyRenderer(m_Renderer);
    if (m_Window)
        SDL_DestroyWindow(m_Window);
    if (m_VideoStarted)
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
}

bool LiveWindow::Open(const char* title, int width, int height, std::string& error)
{
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0)
    {
        error = std::string("no display for a window (") + SDL_GetError() + ")";
        return false;
    }
    m_VideoStarted = true;
    m_Window = SDL_CreateWindow(title, SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, width, height,
                                SDL_WINDOW_RESIZABLE);
    if (!m_Window)
    {
        error = std::string("cannot open a window (") + SDL_GetError() + ")";
        return false;
    }
    m_Renderer = SDL_CreateRenderer(m_Window, -1, SDL_RENDERER_SOFTWARE);
    if (!m_Renderer)
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
    while (SDL_PollEvent(&event))
    {
        switch (event.type)
        {
        case SDL_QUIT:
            return false;
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
            break;
        default:
            break;
        }
    }
    return true;
}

void LiveWindow::Show(HWND renderWindow)
{
    int width = 0;
    int height = 0;
    const DWORD* pixels = VelmoraGetWindowPicture(renderWindow, &width, &height);
    if (pixels && VelmoraGetWindowPictureSerial(renderWindow) != m_ShownSerial)
    {
        m_ShownSerial = VelmoraGetWindowPictureSerial(renderWindow);
        if (!m_Texture || width != m_TextureWidth || height != m_TextureHeight)
        {
            if (m_Texture)
                SDL_DestroyTexture(m_Texture);
            m_Texture =
                SDL_CreateTexture(m_Renderer, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STREAMING, width, height);
            m_TextureWidth = width;
            m_TextureHeight = height;
            if (m_Texture)
                SDL_SetTextureBlendMode(m_Texture, SDL_BLENDMODE_NONE);
        }
        if (m_Texture)
            SDL_UpdateTexture(m_Texture, nullptr, pixels, width * 4);
    }
    SDL_SetRenderDrawColor(m_Renderer, 0, 0, 0, 255);
    SDL_RenderClear(m_Renderer);
    if (m_Texture)
        SDL_RenderCopy(m_Renderer, m_Texture, nullptr, nullptr);
    SDL_RenderPresent(m_Renderer);
}
