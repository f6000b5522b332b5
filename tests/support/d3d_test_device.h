// A window and a Direct3D 9 device for tests of the graphics layer, with
// helpers to read the back buffer and write it to a PNG for a look.
#ifndef VELMORA_D3D_TEST_DEVICE_H
#define VELMORA_D3D_TEST_DEVICE_H

#include <d3d9.h>
#include <velmora_platform.h>
#include <windows.h>

#include <math.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

namespace d3dtest {

inline HWND MakeWindow(int width, int height)
{
    WNDCLASSA wc;
    memset(&wc, 0, sizeof wc);
    wc.lpfnWndProc = DefWindowProcA;
    wc.lpszClassName = "VelmoraTestWindow";
    RegisterClassA(&wc);
    return CreateWindowExA(0, "VelmoraTestWindow", "test", WS_POPUP, 0, 0, width, height, NULL, NULL, NULL, NULL);
}

inline D3DPRESENT_PARAMETERS WindowedParameters(UINT width = 0, UINT height = 0)
{
    D3DPRESENT_PARAMETERS pp;
    memset(&pp, 0, sizeof pp);
    pp.BackBufferWidth = width;
    pp.BackBufferHeight = height;
    pp.BackBufferFormat = D3DFMT_X8R8G8B8;
    pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
    pp.Windowed = TRUE;
    pp.EnableAutoDepthStencil = TRUE;
    pp.AutoDepthStencilFormat = D3DFMT_D24X8;
    return pp;
}

struct Device {
    HWND window = NULL;
    IDirect3D9* d3d = nullptr;
    IDirect3DDevice9* device = nullptr;
    int width = 0;
    int height = 0;

    explicit Device(int w = 64, int h = 64, bool depth = true)
    {
        width = w;
        height = h;
        window = MakeWindow(w, h);
        d3d = Direct3DCreate9(D3D_SDK_VERSION);
        if (!d3d)
            return;
        D3DPRESENT_PARAMETERS pp = WindowedParameters(w, h);
        pp.EnableAutoDepthStencil = depth;
        if (FAILED(d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window, D3DCREATE_HARDWARE_VERTEXPROCESSING,
                                     &pp, &device)))
            device = nullptr;
    }
    ~Device()
    {
        if (device)
            device->Release();
        if (d3d)
            d3d->Release();
        if (window)
            DestroyWindow(window);
    }
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    // The back buffer's pixels, 0xAARRGGBB, rows top to bottom.
    std::vector<DWORD> Pixels() const
    {
        std::vector<DWORD> out;
        IDirect3DSurface9* bb = nullptr;
        if (FAILED(device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &bb)))
            return out;
        D3DLOCKED_RECT lr;
        if (SUCCEEDED(bb->LockRect(&lr, NULL, D3DLOCK_READONLY))) {
            out.resize((size_t)width * height);
            for (int y = 0; y < height; ++y)
                memcpy(&out[(size_t)y * width], (const BYTE*)lr.pBits + (size_t)y * lr.Pitch, width * 4);
            bb->UnlockRect();
        }
        bb->Release();
        return out;
    }
    DWORD Pixel(int x, int y) const { return Pixels()[(size_t)y * width + x]; }
};

// Colour channels of a pixel.
inline int Red(DWORD c) { return (c >> 16) & 0xff; }
inline int Green(DWORD c) { return (c >> 8) & 0xff; }
inline int Blue(DWORD c) { return c & 0xff; }
inline int Alpha(DWORD c) { return (c >> 24) & 0xff; }

struct RhwVertex {
    float x, y, z, rhw;
    D3DCOLOR color;
};
const DWORD kRhwFvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE;

struct ColorVertex {
    float x, y, z;
    D3DCOLOR color;
};
const DWORD kColorFvf = D3DFVF_XYZ | D3DFVF_DIFFUSE;

struct LitVertex {
    float x, y, z;
    float nx, ny, nz;
};
const DWORD kLitFvf = D3DFVF_XYZ | D3DFVF_NORMAL;

inline D3DMATRIX Identity()
{
    D3DMATRIX m;
    memset(&m, 0, sizeof m);
    m._11 = m._22 = m._33 = m._44 = 1.f;
    return m;
}

// Left-handed perspective projection of the documented form.
inline D3DMATRIX PerspectiveFovLH(float fovY, float aspect, float zn, float zf)
{
    D3DMATRIX m;
    memset(&m, 0, sizeof m);
    float ys = 1.f / tanf(fovY / 2.f);
    m._11 = ys / aspect;
    m._22 = ys;
    m._33 = zf / (zf - zn);
    m._34 = 1.f;
    m._43 = -zn * zf / (zf - zn);
    return m;
}

// A screen-space rectangle of two triangles.
inline void DrawRect(IDirect3DDevice9* dev, float x0, float y0, float x1, float y1, D3DCOLOR color, float z = 0.5f)
{
    RhwVertex v[6] = {{x0, y0, z, 1.f, color}, {x1, y0, z, 1.f, color}, {x0, y1, z, 1.f, color},
                      {x1, y0, z, 1.f, color}, {x1, y1, z, 1.f, color}, {x0, y1, z, 1.f, color}};
    dev->SetFVF(kRhwFvf);
    dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 2, v, sizeof(RhwVertex));
}

// Writes the pixels to build/test-pictures/<name>.png for a look.
bool SavePng(const std::string& name, const std::vector<DWORD>& pixels, int width, int height);

}  // namespace d3dtest

#endif
