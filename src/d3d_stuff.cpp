#include "d3d_stuff.h"

// Placeholders until the device set-up and the overlay land.
int InitDirect3D(HWND window)
{
    return 0;
}

int InitVertexBuffer()
{
    return 0;
}

void ReleaseDirect3D()
{
}

void SetStatusText(const char* text, DWORD time, bool delayed)
{
}

void ShowTimedMessage(const char* text, DWORD time)
{
}

void DrawTextOverlay()
{
}

void OnResize(float width, float height)
{
}
