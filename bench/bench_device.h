// A window (800 x 600 unless told) with a device on it, as the module makes them, for the
// benchmarks of the platform.
#ifndef VELMORA_BENCH_DEVICE_H
#define VELMORA_BENCH_DEVICE_H

#include <d3d9.h>
#include <windows.h>

#include <string.h>

const int kWidth = 800, kHeight = 600;

struct BenchDevice {
    HWND window = NULL;
    IDirect3D9* d3d = nullptr;
    IDirect3DDevice9* dev = nullptr;

    explicit BenchDevice(const char* className, int width = kWidth, int height = kHeight)
    {
        WNDCLASSA wc;
        memset(&wc, 0, sizeof wc);
        wc.lpfnWndProc = DefWindowProcA;
        wc.lpszClassName = className;
        RegisterClassA(&wc);
        window = CreateWindowExA(0, className, "bench", WS_POPUP, 0, 0, width, height, NULL, NULL, NULL, NULL);
        d3d = Direct3DCreate9(D3D_SDK_VERSION);
        D3DPRESENT_PARAMETERS pp;
        memset(&pp, 0, sizeof pp);
        pp.BackBufferFormat = D3DFMT_X8R8G8B8;
        pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
        pp.Windowed = TRUE;
        pp.EnableAutoDepthStencil = TRUE;
        pp.AutoDepthStencilFormat = D3DFMT_D24X8;
        d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window, D3DCREATE_HARDWARE_VERTEXPROCESSING, &pp, &dev);
    }
    ~BenchDevice()
    {
        if (dev)
            dev->Release();
        if (d3d)
            d3d->Release();
        DestroyWindow(window);
    }
    BenchDevice(const BenchDevice&) = delete;
    BenchDevice& operator=(const BenchDevice&) = delete;
};

#endif
