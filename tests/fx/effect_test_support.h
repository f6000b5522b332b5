// Shared pieces of the effect tests: effects from source text, geometry.
#ifndef VELMORA_EFFECT_TEST_SUPPORT_H
#define VELMORA_EFFECT_TEST_SUPPORT_H

#include "d3d_test_device.h"

#include <d3dx9.h>

#include <stdio.h>
#include <stdlib.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace fxtest {

// Compiles `source`; `errors` receives the compiler's text, if any.
inline HRESULT MakeEffect(IDirect3DDevice9* dev, const std::string& source, ID3DXEffect** effect,
                          std::string* errors = nullptr)
{
    ID3DXBuffer* buffer = nullptr;
    HRESULT hr = D3DXCreateEffect(dev, source.data(), (UINT)source.size(), nullptr, nullptr, 0, nullptr, effect,
                                  &buffer);
    if (buffer) {
        if (errors)
            *errors = (const char*)buffer->GetBufferPointer();
        buffer->Release();
    }
    return hr;
}

struct NormalVertex {
    float x, y, z;
    float nx, ny, nz;
};

// A sphere as a triangle list, clockwise seen from outside.
inline std::vector<NormalVertex> Sphere(float radius, int stacks, int slices)
{
    std::vector<NormalVertex> grid;
    for (int i = 0; i <= stacks; ++i) {
        float phi = 3.14159265f * i / stacks;
        for (int j = 0; j <= slices; ++j) {
            float theta = 2.f * 3.14159265f * j / slices;
            float nx = sinf(phi) * cosf(theta), ny = cosf(phi), nz = sinf(phi) * sinf(theta);
            grid.push_back({radius * nx, radius * ny, radius * nz, nx, ny, nz});
        }
    }
    std::vector<NormalVertex> tris;
    for (int i = 0; i < stacks; ++i)
        for (int j = 0; j < slices; ++j) {
            const NormalVertex& a = grid[i * (slices + 1) + j];
            const NormalVertex& b = grid[i * (slices + 1) + j + 1];
            const NormalVertex& c = grid[(i + 1) * (slices + 1) + j];
            const NormalVertex& d = grid[(i + 1) * (slices + 1) + j + 1];
            tris.insert(tris.end(), {a, b, c, b, d, c});
        }
    return tris;
}

// Left-handed look-at of the documented form.
inline D3DMATRIX LookAtLH(float ex, float ey, float ez, float ax, float ay, float az)
{
    float z[3] = {ax - ex, ay - ey, az - ez};
    float lz = sqrtf(z[0] * z[0] + z[1] * z[1] + z[2] * z[2]);
    for (float& v : z)
        v /= lz;
    float up[3] = {0, 1, 0};
    if (fabsf(z[1]) > 0.99f)
        up[1] = 0, up[2] = 1;
    float x[3] = {up[1] * z[2] - up[2] * z[1], up[2] * z[0] - up[0] * z[2], up[0] * z[1] - up[1] * z[0]};
    float lx = sqrtf(x[0] * x[0] + x[1] * x[1] + x[2] * x[2]);
    for (float& v : x)
        v /= lx;
    float y[3] = {z[1] * x[2] - z[2] * x[1], z[2] * x[0] - z[0] * x[2], z[0] * x[1] - z[1] * x[0]};
    float e[3] = {ex, ey, ez};
    D3DMATRIX m = d3dtest::Identity();
    for (int i = 0; i < 3; ++i) {
        m.m[i][0] = x[i];
        m.m[i][1] = y[i];
        m.m[i][2] = z[i];
    }
    m.m[3][0] = -(x[0] * e[0] + x[1] * e[1] + x[2] * e[2]);
    m.m[3][1] = -(y[0] * e[0] + y[1] * e[1] + y[2] * e[2]);
    m.m[3][2] = -(z[0] * e[0] + z[1] * e[1] + z[2] * e[2]);
    return m;
}

inline D3DXMATRIX ToX(const D3DMATRIX& m)
{
    D3DXMATRIX r;
    memcpy((void*)&r, &m, sizeof m);
    return r;
}

// Calls `draw` inside each pass of the effect's technique.
inline void Passes(ID3DXEffect* fx, const std::function<void()>& draw)
{
    UINT passes = 0;
    fx->Begin(&passes, 0);
    for (UINT i = 0; i < passes; ++i) {
        fx->BeginPass(i);
        draw();
        fx->EndPass();
    }
    fx->End();
}

// Ends the test program when its owner's work runs away: a hang is a failure.
class Watchdog
{
public:
    Watchdog(int seconds, const std::string& what)
        : m_Thread([this, seconds, what] {
              std::unique_lock<std::mutex> lock(m_Mutex);
              if (!m_Done.wait_for(lock, std::chrono::seconds(seconds), [this] { return m_Finished; })) {
                  fprintf(stderr, "the effect compiler hung on: %s\n", what.c_str());
                  fflush(stderr);
                  std::_Exit(1);
              }
          })
    {
    }
    ~Watchdog()
    {
        {
            std::lock_guard<std::mutex> lock(m_Mutex);
            m_Finished = true;
        }
        m_Done.notify_all();
        m_Thread.join();
    }

private:
    std::mutex m_Mutex;
    std::condition_variable m_Done;
    bool m_Finished = false;
    std::thread m_Thread;
};

}  // namespace fxtest

#endif
