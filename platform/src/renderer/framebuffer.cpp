// The framebuffer side: formats, reading texels and the render target.
#include "renderer/raster.h"

#include <string.h>

#include <algorithm>

namespace vr {

int FormatBytes(D3DFORMAT format)
{
    switch (format) {
    case D3DFMT_A8R8G8B8:
    case D3DFMT_X8R8G8B8:
    case D3DFMT_A8B8G8R8:
    case D3DFMT_X8B8G8R8:
        return 4;
    case D3DFMT_R8G8B8:
        return 3;
    case D3DFMT_R5G6B5:
    case D3DFMT_X1R5G5B5:
    case D3DFMT_A1R5G5B5:
    case D3DFMT_A4R4G4B4:
    case D3DFMT_X4R4G4B4:
    case D3DFMT_A8L8:
        return 2;
    case D3DFMT_A8:
    case D3DFMT_L8:
    case D3DFMT_R3G3B2:
        return 1;
    default:
        return 0;
    }
}

uint32_t FetchTexel(const TexLevel& level, int x, int y)
{
    const uint8_t* p = level.bits + (size_t)y * level.pitch;
    switch (level.format) {
    case D3DFMT_A8R8G8B8: {
        uint32_t v;
        memcpy(&v, p + x * 4, 4);
        return v;
    }
    case D3DFMT_X8R8G8B8: {
        uint32_t v;
        memcpy(&v, p + x * 4, 4);
        return v | 0xff000000u;
    }
    case D3DFMT_A8B8G8R8:
    case D3DFMT_X8B8G8R8: {
        uint32_t v;
        memcpy(&v, p + x * 4, 4);
        uint32_t r = v & 0xff, b = (v >> 16) & 0xff;
        v = (v & 0xff00ff00u) | (r << 16) | b;
        return level.format == D3DFMT_X8B8G8R8 ? (v | 0xff000000u) : v;
    }
    case D3DFMT_R8G8B8: {
        const uint8_t* q = p + x * 3;  // stored blue, green, red
        return 0xff000000u | ((uint32_t)q[2] << 16) | ((uint32_t)q[1] << 8) | q[0];
    }
    case D3DFMT_R5G6B5: {
        uint16_t v;
        memcpy(&v, p + x * 2, 2);
        uint32_t r = (v >> 11) & 31, g = (v >> 5) & 63, b = v & 31;
        return 0xff000000u | (((r << 3) | (r >> 2)) << 16) | (((g << 2) | (g >> 4)) << 8) | ((b << 3) | (b >> 2));
    }
    case D3DFMT_X1R5G5B5:
    case D3DFMT_A1R5G5B5: {
        uint16_t v;
        memcpy(&v, p + x * 2, 2);
        uint32_t r = (v >> 10) & 31, g = (v >> 5) & 31, b = v & 31;
        uint32_t a = (level.format == D3DFMT_X1R5G5B5 || (v & 0x8000)) ? 0xff : 0;
        return (a << 24) | (((r << 3) | (r >> 2)) << 16) | (((g << 3) | (g >> 2)) << 8) | ((b << 3) | (b >> 2));
    }
    case D3DFMT_A4R4G4B4:
    case D3DFMT_X4R4G4B4: {
        uint16_t v;
        memcpy(&v, p + x * 2, 2);
        uint32_t a = level.format == D3DFMT_X4R4G4B4 ? 15 : (v >> 12) & 15;
        uint32_t r = (v >> 8) & 15, g = (v >> 4) & 15, b = v & 15;
        return (a * 17u << 24) | (r * 17u << 16) | (g * 17u << 8) | (b * 17u);
    }
    case D3DFMT_A8L8: {
        uint32_t l = p[x * 2], a = p[x * 2 + 1];
        return (a << 24) | (l << 16) | (l << 8) | l;
    }
    case D3DFMT_A8:
        return (uint32_t)p[x] << 24;
    case D3DFMT_L8: {
        uint32_t l = p[x];
        return 0xff000000u | (l << 16) | (l << 8) | l;
    }
    case D3DFMT_R3G3B2: {
        uint32_t v = p[x];
        uint32_t r = (v >> 5) & 7, g = (v >> 2) & 7, b = v & 3;
        return 0xff000000u | ((r * 255 / 7) << 16) | ((g * 255 / 7) << 8) | (b * 85);
    }
    default:
        return 0xff000000u;
    }
}


namespace {

// Eight words a store (the plain loop stays scalar at this optimisation
// level); memcpy, as the words may be depth floats.
void FillRow(uint32_t* p, int n, uint32_t value)
{
    typedef uint32_t Words __attribute__((vector_size(32)));
    const Words v = Words{} + value;
    int i = 0;
    for (; i + 8 <= n; i += 8)
        memcpy(p + i, &v, sizeof v);
    for (; i < n; ++i)
        memcpy(p + i, &value, sizeof value);
}

}  // namespace

void CopyOpaque(const uint32_t* src, uint32_t* dst, size_t count)
{
    typedef uint32_t Words __attribute__((vector_size(32)));
    size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        Words v;
        memcpy(&v, src + i, sizeof v);
        v |= 0xff000000u;
        memcpy(dst + i, &v, sizeof v);
    }
    for (; i < count; ++i)
        dst[i] = src[i] | 0xff000000u;
}

void ClearTarget(const Target& target, int x0, int y0, int x1, int y1, bool color, uint32_t value, bool depth,
                 float z)
{
    x0 = std::max(x0, 0), y0 = std::max(y0, 0);
    x1 = std::min(x1, target.width), y1 = std::min(y1, target.height);
    if (x0 >= x1 || y0 >= y1)
        return;
    uint32_t zBits;
    memcpy(&zBits, &z, sizeof zBits);
    for (int y = y0; y < y1; ++y) {
        const size_t row = (size_t)y * target.width;
        if (color && target.color)
            FillRow((uint32_t*)target.color + row + x0, x1 - x0, value);
        if (depth && target.depth)
            FillRow((uint32_t*)(void*)(target.depth + row + x0), x1 - x0, zBits);
    }
}

}  // namespace vr
