// The Direct3D device, its shared drawing objects and the text overlay.
#ifndef VELMORA_D3D_STUFF_H
#define VELMORA_D3D_STUFF_H

#include <windows.h>

int InitDirect3D(HWND window);
int InitVertexBuffer();
void ReleaseDirect3D();

void SetStatusText(const char* text, DWORD time, bool delayed);
void ShowTimedMessage(const char* text, DWORD time);
void DrawTextOverlay();
void OnResize(float width, float height);

#endif
