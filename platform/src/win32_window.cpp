// Placeholder until the window manager lands.
#include <windows.h>

extern "C" LRESULT WINAPI DefWindowProcA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    return 0;
}
