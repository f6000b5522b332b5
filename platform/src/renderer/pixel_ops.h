// Pixel helpers the rasteriser and the pixel stage share: colour packing,
// comparisons and texture sampling, inlined into their loops.
#ifndef VELMORA_RENDERER_PIXEL_OPS_H
#define VELMORA_RENDERER_PIXEL_OPS_H

#include "renderer/raster.h"

#include <math.h>
#include <string.h>

#include <algorithm>

// Versions of a function for several instruction sets, chosen at load. The
// ThreadSanitizer build has none: their resolvers run before it is set up.
#ifdef VELMORA_NO_FUNCTION_CLONES
#define VELMORA_TARGET_CLONES(...)
#else
#define VELMORA_TARGET_CLONES(...) __attribute__((target_clones(__VA_ARGS__)))
#endif

namespace vr {

const int kAttrs = 4 + 4 + 2 * kTexSets;

struct Color {
    float r, g, b, a;
};

inline __attribute__((always_inline)) float Clamp01(float v)
{
    return v < 0.f ? 0.f : (v > 1.f ? 1.f : v);
}

// Byte / 255 for every byte, so that unpacking a colour needs no division.
struct ByteFloats {
    float v[256];
    constexpr ByteFloats() : v()
    {
        for (int i = 0; i < 256; ++i)
            v[i] = (float)i / 255.f;
    }
};
constexpr ByteFloats kByte;

inline __attribute__((always_inline)) Color Unpack(uint32_t c)
{
    return {kByte.v[(c >> 16) & 0xff], kByte.v[(c >> 8) & 0xff], kByte.v[c & 0xff], kByte.v[c >> 24]};
}

// A colour that is not a number (0/0 in a pixel program) writes 0, as a
// conversion to a normalised byte does on the cards.
inline __attribute__((always_inline)) uint32_t ToByte(float v)
{
    const float clamped = v > 0.f ? (v < 1.f ? v : 1.f) : 0.f;
    return (uint32_t)(clamped * 255.f + 0.5f);
}

inline __attribute__((always_inline)) bool Compare(DWORD func, float value, float reference)
{
    switch (func) {
    case D3DCMP_NEVER:
        return false;
    case D3DCMP_LESS:
        return value < reference;
    case D3DCMP_EQUAL:
        return value == reference;
    case D3DCMP_LESSEQUAL:
        return value <= reference;
    case D3DCMP_GREATER:
        return value > reference;
    case D3DCMP_NOTEQUAL:
        return value != reference;
    case D3DCMP_GREATEREQUAL:
        return value >= reference;
    default:
        return true;
    }
}

inline __attribute__((always_inline)) int Address(int i, int size, DWORD mode, bool* border)
{
    switch (mode) {
    case D3DTADDRESS_CLAMP:
        return i < 0 ? 0 : (i >= size ? size - 1 : i);
    case D3DTADDRESS_BORDER:
        if (i < 0 || i >= size)
            *border = true;
        return i < 0 ? 0 : (i >= size ? size - 1 : i);
    case D3DTADDRESS_MIRROR: {
        int period = 2 * size;
        int m = ((i % period) + period) % period;
        return m < size ? m : period - 1 - m;
    }
    case D3DTADDRESS_MIRRORONCE: {
        int m = i < 0 ? -1 - i : i;
        return m >= size ? size - 1 : m;
    }
    default:
        return ((i % size) + size) % size;
    }
}

// The common 32-bit formats read in place; the rest through FetchTexel.
inline __attribute__((always_inline)) uint32_t Fetch(const TexLevel& level, int x, int y)
{
    if (level.format == D3DFMT_A8R8G8B8 || level.format == D3DFMT_X8R8G8B8) {
        uint32_t v;
        memcpy(&v, level.bits + (size_t)y * level.pitch + (size_t)x * 4, 4);
        return level.format == D3DFMT_X8R8G8B8 ? (v | 0xff000000u) : v;
    }
    return FetchTexel(level, x, y);
}

// The mip level and the filter a level of detail selects; lodUnscaled is in
// texture-coordinate units, log2Size scales it to level 0's texels.
struct Resolved {
    const TexLevel* level;
    bool linear;
};

inline __attribute__((always_inline)) Resolved Resolve(const StageState& st, float log2Size, float lodUnscaled)
{
    const TexView& tex = *st.texture;
    float lod = lodUnscaled + log2Size;
    const int last = std::max(tex.levelCount - 1, 0);
    int level = 0;
    // Compared before it is converted: a slope that overflows is infinite.
    if (tex.levelCount > 1 && st.mipFilter != D3DTEXF_NONE && lod > 0.f)
        level = lod + 0.5f < (float)last ? (int)floorf(lod + 0.5f) : last;
    if ((DWORD)level < st.maxMipLevel)
        level = (int)std::min(st.maxMipLevel, (DWORD)last);
    DWORD filter = lod > 0.f ? st.minFilter : st.magFilter;
    return {&tex.levels[level], filter == D3DTEXF_LINEAR || filter == D3DTEXF_ANISOTROPIC};
}

// floorf(f) as an int for any f: kept within +-2^30 (texel addresses from
// coordinates below 1e6 on levels up to 4096 wide would overflow), NaN 0.
inline __attribute__((always_inline)) int FloorToInt(float f)
{
    const float kLimit = 1073741824.f;
    return f > -kLimit ? (f < kLimit ? (int)floorf(f) : (int)kLimit) : (f == f ? -(int)kLimit : 0);
}

inline __attribute__((always_inline)) void SampleLevel(const StageState& st, const Resolved& r, float u, float v,
                                                       float out[4])
{
    const TexLevel& L = *r.level;
    if (!(u > -1e6f && u < 1e6f))
        u = 0.f;
    if (!(v > -1e6f && v < 1e6f))
        v = 0.f;
    bool border = false;
    if (r.linear) {
        float fx = u * L.width - 0.5f, fy = v * L.height - 0.5f;
        float x0f = floorf(fx), y0f = floorf(fy);
        float tx = fx - x0f, ty = fy - y0f;
        int x0 = FloorToInt(x0f), y0 = FloorToInt(y0f);
        float acc[4] = {0, 0, 0, 0};
        for (int j = 0; j < 2; ++j)
            for (int i = 0; i < 2; ++i) {
                bool b = false;
                int xi = Address(x0 + i, L.width, st.addressU, &b);
                int yi = Address(y0 + j, L.height, st.addressV, &b);
                uint32_t t = b ? st.borderColor : Fetch(L, xi, yi);
                float wgt = (i ? tx : 1.f - tx) * (j ? ty : 1.f - ty);
                Color c = Unpack(t);
                acc[0] += c.r * wgt;
                acc[1] += c.g * wgt;
                acc[2] += c.b * wgt;
                acc[3] += c.a * wgt;
            }
        memcpy(out, acc, sizeof acc);
        return;
    }
    int xi = Address(FloorToInt(u * L.width), L.width, st.addressU, &border);
    int yi = Address(FloorToInt(v * L.height), L.height, st.addressV, &border);
    Color c = Unpack(border ? st.borderColor : Fetch(L, xi, yi));
    out[0] = c.r;
    out[1] = c.g;
    out[2] = c.b;
    out[3] = c.a;
}

// Level of detail of u = U / Q at one pixel from the planes' derivatives.
inline __attribute__((always_inline)) float PixelLod(const float* ddx, const float* ddy, int ku, float u, float v,
                                                     float w)
{
    float dudx = (ddx[ku] - u * ddx[1]) * w, dvdx = (ddx[ku + 1] - v * ddx[1]) * w;
    float dudy = (ddy[ku] - u * ddy[1]) * w, dvdy = (ddy[ku + 1] - v * ddy[1]) * w;
    return 0.5f * log2f(std::max(dudx * dudx + dvdx * dvdx, dudy * dudy + dvdy * dvdy) + 1e-30f);
}

// The covered pixels of a row are one run: where all three edge functions
// (w at the row's first pixel, stepping by stepX) are >= 0. Offsets from
// the first pixel, at most `span`; false when none.
inline __attribute__((always_inline)) bool RowRun(const int64_t stepX[3], const int64_t w[3], int64_t span,
                                                  int* first, int* last)
{
    int64_t lo = 0, hi = span;
    for (int i = 0; i < 3; ++i) {
        const int64_t s = stepX[i], v = w[i];
        if (s == 0) {
            if (v < 0)
                return false;
        } else if (s > 0) {
            if (v < 0)
                lo = std::max(lo, (-v + s - 1) / s);
        } else {
            if (v < 0)
                return false;
            hi = std::min(hi, v / -s);
        }
    }
    *first = (int)lo;
    *last = (int)hi;
    return lo <= hi;
}

// One triangle of the common textured configuration: stage 0 modulates one
// texture with the diffuse colour, nothing after it. Every operation is the
// general path's, in its order, so the bytes are the same.
struct PixelPipe::FastTri {
    EdgeFn e[3];
    int minX, maxX, minY, maxY;
    const float *base, *ddx, *ddy;
    int ku;            // plane of the stage's u; v follows
    bool lodPerPixel;  // the level of detail is not fixed by the sampler
    bool lodConst;     // ... but the same wherever u and v are finite
    const TexLevel* level;  // level and filter when the level of detail is fixed
    bool linear;
};

}  // namespace vr

#endif
