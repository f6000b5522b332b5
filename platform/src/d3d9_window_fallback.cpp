// Stand-ins of the window calls the device uses, until the window manager is
// merged; its definitions replace these weak ones.
#include <windows.h>
#include <velmora_platform.h>

#include <stdlib.h>
#include <string.h>

#include <map>
#include <vector>

namespace {

struct FallbackWindow {
    int width;
    int height;
    std::vector<DWORD> picture;
    int pictureWidth = 0, pictureHeight = 0;
    unsigned serial = 0;
};

std::map<HWND, FallbackWindow>& Windows()
{
    static std::map<HWND, FallbackWindow> windows;
    return windows;
}

}  // namespace

extern "C" {

__attribute__((weak)) ATOM WINAPI RegisterClassA(const WNDCLASSA* lpWndClass)
{
    return lpWndClass ? 1 : 0;
}

__attribute__((weak)) HWND WINAPI CreateWindowExA(DWORD, LPCSTR, LPCSTR, DWORD, int, int, int nWidth, int nHeight,
                                                  HWND, HMENU, HINSTANCE, LPVOID)
{
    static uintptr_t next = 0x1000;
    HWND h = reinterpret_cast<HWND>(next += 16);
    Windows()[h] = FallbackWindow{nWidth > 0 ? nWidth : 0, nHeight > 0 ? nHeight : 0, {}, 0, 0, 0};
    return h;
}

__attribute__((weak)) BOOL WINAPI DestroyWindow(HWND hWnd)
{
    return Windows().erase(hWnd) ? TRUE : FALSE;
}

__attribute__((weak)) BOOL WINAPI IsWindow(HWND hWnd)
{
    return Windows().count(hWnd) ? TRUE : FALSE;
}

__attribute__((weak)) BOOL WINAPI GetClientRect(HWND hWnd, LPRECT lpRect)
{
    auto it = Windows().find(hWnd);
    if (it == Windows().end() || !lpRect)
        return FALSE;
    lpRect->left = lpRect->top = 0;
    lpRect->right = it->second.width;
    lpRect->bottom = it->second.height;
    return TRUE;
}

__attribute__((weak)) BOOL VelmoraSetWindowPicture(HWND hWnd, const DWORD* pixels, int width, int height)
{
    auto it = Windows().find(hWnd);
    if (it == Windows().end() || !pixels || width <= 0 || height <= 0)
        return FALSE;
    it->second.picture.assign(pixels, pixels + (size_t)width * height);
    it->second.pictureWidth = width;
    it->second.pictureHeight = height;
    ++it->second.serial;
    return TRUE;
}

__attribute__((weak)) const DWORD* VelmoraGetWindowPicture(HWND hWnd, int* width, int* height)
{
    auto it = Windows().find(hWnd);
    if (it == Windows().end() || it->second.picture.empty())
        return nullptr;
    if (width)
        *width = it->second.pictureWidth;
    if (height)
        *height = it->second.pictureHeight;
    return it->second.picture.data();
}

__attribute__((weak)) unsigned VelmoraGetWindowPictureSerial(HWND hWnd)
{
    auto it = Windows().find(hWnd);
    return it == Windows().end() ? 0 : it->second.serial;
}
}
