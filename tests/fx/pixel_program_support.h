// Pixel programs wired as the device wires them, fed interpolated floats at
// random: shared by the tests of pixel batches and of frozen programs.
#ifndef VELMORA_PIXEL_PROGRAM_SUPPORT_H
#define VELMORA_PIXEL_PROGRAM_SUPPORT_H

#include "fx/compiler.h"
#include "fx/shader.h"
#include "test_support.h"

#include <math.h>

#include <random>
#include <string>
#include <vector>

namespace pixeltest {

const int kLanes = vr::PixelProgram::kLanes;

inline std::string ReadShipped(const char* name)
{
    return testing_support::ReadFile(std::string(VELMORA_PLUGIN_DIR) + "/data/shaders/" + name);
}

inline void SetGlobal(const fx::CompiledEffect& fx, std::vector<float>* store, const char* name, const float* v, int n)
{
    for (const fx::GlobalDesc& g : fx.globals)
        if (g.name == name)
            for (int i = 0; i < n; ++i)
                (*store)[(size_t)g.offset + i] = v[i];
}

// A technique's programs wired as the device wires them for a draw.
struct Wired {
    vd3d::ProgramVertexShader* vs = nullptr;
    vd3d::ProgramPixelShader* ps = nullptr;
    vd3d::ProgramLink link;

    Wired(const fx::PassDesc& pass, const std::vector<float>& store)
    {
        const DWORD fvf = D3DFVF_XYZ | D3DFVF_NORMAL;
        if (pass.vs)
            vs = new vd3d::ProgramVertexShader(nullptr, pass.vs);
        ps = new vd3d::ProgramPixelShader(nullptr, pass.ps);
        SetUniforms(store);
        link.Setup(fvf, vr::DecodeFvf(fvf), vs, ps);
    }
    ~Wired()
    {
        if (vs)
            vs->Release();
        ps->Release();
    }
    void SetUniforms(const std::vector<float>& store)
    {
        if (vs)
            vs->SetUniforms(store.data(), store.size());
        ps->SetUniforms(store.data(), store.size());
    }
};

// Interpolated floats at random for `pixels` pixels, pixel-major: colours
// and shades in and around 0..1, a few not numbers, infinite or huge; every
// second group of 16 has its shades on one side of the toon outline, so
// that some batches branch alike and some apart.
inline std::vector<float> RandomAttrs(int attrs, int pixels, unsigned seed)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> unit(-0.2f, 1.2f);
    std::vector<float> out((size_t)attrs * pixels);
    for (int p = 0; p < pixels; ++p)
        for (int k = 0; k < attrs; ++k) {
            float x = unit(rng);
            if ((p / kLanes) % 2 == 0 && k == 5)
                x = 0.1f + 0.5f * (x + 0.2f) / 1.4f;  // shade.y below the outline
            if (p % 23 == 7 && k == 4)
                x = p % 2 ? NAN : INFINITY;
            if (p % 29 == 11)
                x *= 1e6f;
            out[(size_t)p * attrs + k] = x;
        }
    return out;
}

// Pixels [first, first + n) of the pixel-major `all` as a batch's lanes.
inline void ToLanes(const std::vector<float>& all, int attrs, int first, int n, float* lanes)
{
    for (int l = 0; l < n; ++l)
        for (int k = 0; k < attrs; ++k)
            lanes[k * kLanes + l] = all[(size_t)(first + l) * attrs + k];
}

}  // namespace pixeltest

#endif
