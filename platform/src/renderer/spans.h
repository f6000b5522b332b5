// The span loops' job: one triangle of the state sets the scene draws most,
// with everything its loops read (pixel_spans.cpp).
#ifndef VELMORA_RENDERER_SPANS_H
#define VELMORA_RENDERER_SPANS_H

#include "renderer/raster.h"

namespace vr {

// Tables a job may have: for the key and the two floats either side of it,
// where the bilinear weights' rounding leaves the filtered texel.
const int kKeys = 5, kKeyMid = 2;

// Planes the loops read: depth, 1/w, diffuse, specular, u and v.
enum { kZ, kIw, kR, kG, kB, kA, kSr, kSg, kSb, kU, kV, kSpanPlanes };

struct SpanJob {
    int64_t row[3], stepX[3], stepY[3];
    int minX, maxX, minY, maxY;
    int xStart, xEnd, yStart, yEnd;  // the pixels to draw, inside the bounds
    int width;
    uint32_t* color;
    float* depth;
    float base[kSpanPlanes], ddx[kSpanPlanes], ddy[kSpanPlanes];
    DWORD zFunc;
    bool zTest, zWrite, dstAlpha, blend, specular;
    bool specularZero;  // its planes are 0 and 1/w is constant
    bool unchanged;  // blended at alpha 0 everywhere: at most the destination alpha becomes opaque
    SpanMode tex;  // not kSpanOff
    float texel[4];  // r, g, b, a of the uniform texture
    bool grey;       // ... with r, g and b equal
    float texW, texH;
    const TexLevel* level;  // the sampled textures' level and addressing
    DWORD addressU, addressV;
    D3DCOLOR border;
    bool constant[4];  // a copying program's constant channels
    float value[4];
    // The same source colour at every pixel: the blend is a function of the
    // destination bytes, looked up in tables built with the float formula.
    // Filtered uniform texels must come out as `key` for a lane to use them;
    // with all four channels alike (`spread`), one of the nearest floats to
    // it, each with a table of its own.
    const uint32_t* table;  // kKeys x 4 x 256 entries, a r g b, already shifted
    float key[4];
    bool spread;
    // Every table (all keys) is byte * mul + add in fixed point for each of
    // a, r, g, b: the lanes compute it rather than look it up.
    bool affine;
    uint32_t mul[4], add[4];
};

// What a source colour blends to over each destination byte, by the float
// formula of the other loops: a, r, g, b tables of 256 shifted bytes.
struct BlendTable {
    float src[4], key[4];
    bool dstAlpha, spread, affine;
    uint32_t mul[4], add[4];
    uint32_t t[kKeys * 4 * 256];
};

// Draws the job's pixels inside xStart..xEnd, yStart..yEnd; returns how
// many it wrote.
uint64_t RunSpans(const SpanJob& j);

// The one texel every sample of a level gives, when all texels are alike
// (small levels only).
bool UniformTexel(const TexLevel& level, uint32_t* texel);

}  // namespace vr

#endif
