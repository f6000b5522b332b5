// Clipping, set-up and pixel processing of the software renderer.
#include "raster.h"

#include <velmora_platform.h>

#include <math.h>
#include <string.h>

#include <algorithm>
#include <atomic>

namespace vr {

namespace {

const int kAttrs = 4 + 4 + 2 * kTexSets;
const int kSubBits = 8;  // sub-pixel precision of the rasteriser
const float kSubScale = 256.f;
const float kGuardBand = 16.f;  // clip x and y at this multiple of w

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

std::atomic<bool> g_fastPixelPaths{true};

// A colour that is not a number (0/0 in a pixel program) writes 0, as a
// conversion to a normalised byte does on the cards.
inline __attribute__((always_inline)) uint32_t ToByte(float v)
{
    const float clamped = v > 0.f ? (v < 1.f ? v : 1.f) : 0.f;
    return (uint32_t)(clamped * 255.f + 0.5f);
}

Vertex Lerp(const Vertex& a, const Vertex& b, float t)
{
    Vertex r;
    const float* pa = &a.x;
    const float* pb = &b.x;
    float* pr = &r.x;
    const int n = sizeof(Vertex) / sizeof(float);
    for (int i = 0; i < n; ++i)
        pr[i] = pa[i] + (pb[i] - pa[i]) * t;
    return r;
}

// Signed distance to one clip plane (inside when >= 0).
float PlaneDistance(const Vertex& v, int plane)
{
    switch (plane) {
    case 0:
        return v.z;  // near: z >= 0
    case 1:
        return v.w - v.z;  // far: z <= w
    case 2:
        return v.x + kGuardBand * v.w;
    case 3:
        return kGuardBand * v.w - v.x;
    case 4:
        return v.y + kGuardBand * v.w;
    case 5:
        return kGuardBand * v.w - v.y;
    default:
        return v.w - 1e-6f;  // in front of the eye
    }
}
const int kPlanes = 7;

// The crossing point is always computed from the inside vertex towards the
// outside one, so that two triangles sharing an edge get identical points.
Vertex Intersect(const Vertex& in, float dIn, const Vertex& out, float dOut)
{
    return Lerp(in, out, dIn / (dIn - dOut));
}

int ClipPolygon(Vertex* poly, int count, Vertex* scratch)
{
    for (int plane = 0; plane < kPlanes; ++plane) {
        bool allIn = true;
        for (int i = 0; i < count; ++i)
            if (PlaneDistance(poly[i], plane) < 0.f) {
                allIn = false;
                break;
            }
        if (allIn)
            continue;
        int n = 0;
        for (int i = 0; i < count; ++i) {
            const Vertex& cur = poly[i];
            const Vertex& next = poly[(i + 1) % count];
            float dc = PlaneDistance(cur, plane);
            float dn = PlaneDistance(next, plane);
            if (dc >= 0.f)
                scratch[n++] = cur;
            if ((dc >= 0.f) != (dn >= 0.f))
                scratch[n++] = dc >= 0.f ? Intersect(cur, dc, next, dn) : Intersect(next, dn, cur, dc);
        }
        count = n;
        memcpy(poly, scratch, sizeof(Vertex) * count);
        if (count < 3)
            return count;
    }
    return count;
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

Color Argument(DWORD arg, const Color& diffuse, const Color& current, const Color& tex, const Color& factor,
               const Color& specular, const Color& temp)
{
    Color c;
    switch (arg & D3DTA_SELECTMASK) {
    case D3DTA_DIFFUSE:
        c = diffuse;
        break;
    case D3DTA_CURRENT:
        c = current;
        break;
    case D3DTA_TEXTURE:
        c = tex;
        break;
    case D3DTA_TFACTOR:
        c = factor;
        break;
    case D3DTA_SPECULAR:
        c = specular;
        break;
    case D3DTA_TEMP:
        c = temp;
        break;
    default:
        c = {1.f, 1.f, 1.f, 1.f};
        break;
    }
    if (arg & D3DTA_COMPLEMENT)
        c = {1.f - c.r, 1.f - c.g, 1.f - c.b, 1.f - c.a};
    if (arg & D3DTA_ALPHAREPLICATE)
        c.r = c.g = c.b = c.a;
    return c;
}

// One texture operation on one channel (or on the alpha).
float Operate(DWORD op, float a1, float a2, float a0, float diffuseA, float texA, float factorA, float currentA)
{
    switch (op) {
    case D3DTOP_SELECTARG1:
        return a1;
    case D3DTOP_SELECTARG2:
        return a2;
    case D3DTOP_MODULATE:
        return a1 * a2;
    case D3DTOP_MODULATE2X:
        return Clamp01(a1 * a2 * 2.f);
    case D3DTOP_MODULATE4X:
        return Clamp01(a1 * a2 * 4.f);
    case D3DTOP_ADD:
        return Clamp01(a1 + a2);
    case D3DTOP_ADDSIGNED:
        return Clamp01(a1 + a2 - 0.5f);
    case D3DTOP_ADDSIGNED2X:
        return Clamp01((a1 + a2 - 0.5f) * 2.f);
    case D3DTOP_SUBTRACT:
        return Clamp01(a1 - a2);
    case D3DTOP_ADDSMOOTH:
        return Clamp01(a1 + a2 - a1 * a2);
    case D3DTOP_BLENDDIFFUSEALPHA:
        return a1 * diffuseA + a2 * (1.f - diffuseA);
    case D3DTOP_BLENDTEXTUREALPHA:
        return a1 * texA + a2 * (1.f - texA);
    case D3DTOP_BLENDFACTORALPHA:
        return a1 * factorA + a2 * (1.f - factorA);
    case D3DTOP_BLENDCURRENTALPHA:
        return a1 * currentA + a2 * (1.f - currentA);
    case D3DTOP_BLENDTEXTUREALPHAPM:
        return Clamp01(a1 + a2 * (1.f - texA));
    case D3DTOP_MULTIPLYADD:
        return Clamp01(a0 + a1 * a2);
    case D3DTOP_LERP:
        return a0 * a1 + (1.f - a0) * a2;
    default:
        return a1 * a2;
    }
}

void BlendFactor(DWORD f, const Color& src, const Color& dst, float out[4])
{
    switch (f) {
    case D3DBLEND_ZERO:
        out[0] = out[1] = out[2] = out[3] = 0.f;
        break;
    case D3DBLEND_SRCCOLOR:
        out[0] = src.r, out[1] = src.g, out[2] = src.b, out[3] = src.a;
        break;
    case D3DBLEND_INVSRCCOLOR:
        out[0] = 1 - src.r, out[1] = 1 - src.g, out[2] = 1 - src.b, out[3] = 1 - src.a;
        break;
    case D3DBLEND_SRCALPHA:
    case D3DBLEND_BOTHSRCALPHA:
        out[0] = out[1] = out[2] = out[3] = src.a;
        break;
    case D3DBLEND_INVSRCALPHA:
    case D3DBLEND_BOTHINVSRCALPHA:
        out[0] = out[1] = out[2] = out[3] = 1.f - src.a;
        break;
    case D3DBLEND_DESTALPHA:
        out[0] = out[1] = out[2] = out[3] = dst.a;
        break;
    case D3DBLEND_INVDESTALPHA:
        out[0] = out[1] = out[2] = out[3] = 1.f - dst.a;
        break;
    case D3DBLEND_DESTCOLOR:
        out[0] = dst.r, out[1] = dst.g, out[2] = dst.b, out[3] = dst.a;
        break;
    case D3DBLEND_INVDESTCOLOR:
        out[0] = 1 - dst.r, out[1] = 1 - dst.g, out[2] = 1 - dst.b, out[3] = 1 - dst.a;
        break;
    case D3DBLEND_SRCALPHASAT: {
        float f2 = std::min(src.a, 1.f - dst.a);
        out[0] = out[1] = out[2] = f2;
        out[3] = 1.f;
        break;
    }
    default:  // ONE, and the blend-factor modes this device does not offer
        out[0] = out[1] = out[2] = out[3] = 1.f;
        break;
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
    int level = 0;
    if (tex.levelCount > 1 && st.mipFilter != D3DTEXF_NONE && lod > 0.f) {
        level = (int)floorf(lod + 0.5f);
        if (level >= tex.levelCount)
            level = tex.levelCount - 1;
    }
    if (level < (int)st.maxMipLevel)
        level = std::min((int)st.maxMipLevel, tex.levelCount - 1);
    DWORD filter = lod > 0.f ? st.minFilter : st.magFilter;
    return {&tex.levels[level], filter == D3DTEXF_LINEAR || filter == D3DTEXF_ANISOTROPIC};
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
        int x0 = (int)x0f, y0 = (int)y0f;
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
    int xi = Address((int)floorf(u * L.width), L.width, st.addressU, &border);
    int yi = Address((int)floorf(v * L.height), L.height, st.addressV, &border);
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

}  // namespace

void SetFastPixelPaths(bool enable)
{
    g_fastPixelPaths.store(enable);
}

void Rasterizer::SetTarget(const Target& target)
{
    target_ = target;
}

void Rasterizer::SetViewport(const Viewport& viewport)
{
    viewport_ = viewport;
    clipX0_ = std::max(0, viewport.x);
    clipY0_ = std::max(0, viewport.y);
    clipX1_ = std::min(target_.width, viewport.x + viewport.width);
    clipY1_ = std::min(target_.height, viewport.y + viewport.height);
}

void Rasterizer::SetState(const PixelState& state)
{
    state_ = state;
    // The special case that D3DBLEND_BOTH* replaces the destination factor.
    if (state_.srcBlend == D3DBLEND_BOTHSRCALPHA)
        state_.srcBlend = D3DBLEND_SRCALPHA, state_.destBlend = D3DBLEND_INVSRCALPHA;
    else if (state_.srcBlend == D3DBLEND_BOTHINVSRCALPHA)
        state_.srcBlend = D3DBLEND_INVSRCALPHA, state_.destBlend = D3DBLEND_SRCALPHA;
    if (!target_.depth)
        state_.zEnable = false;
    attrs_ = state_.program ? std::min(std::max(state_.programAttrs, 0), kMaxVaryings) : kAttrs;
    passThrough_ = true;
    for (int s = 0; s < state_.stageCount; ++s) {
        const StageState& st = state_.stages[s];
        StagePrep& prep = prep_[s];
        prep.set = (int)(st.texCoordIndex & 0xffff);
        if (prep.set >= kTexSets)
            prep.set = 0;
        prep.log2Size = 0.f;
        if (st.texture) {
            const TexLevel& l0 = st.texture->levels[0];
            prep.log2Size = log2f((float)std::max(l0.width, l0.height));
        }
        // A stage that reads a texture it does not have passes its input on,
        // so untextured geometry shows its vertex colour and alpha.
        auto readsTexture = [](DWORD op, DWORD a1, DWORD a2) {
            return ((a1 & D3DTA_SELECTMASK) == D3DTA_TEXTURE && op != D3DTOP_SELECTARG2) ||
                   ((a2 & D3DTA_SELECTMASK) == D3DTA_TEXTURE && op != D3DTOP_SELECTARG1);
        };
        prep.passesWithoutTexture = !st.texture && readsTexture(st.colorOp, st.colorArg1, st.colorArg2) &&
                                    (st.alphaOp == D3DTOP_DISABLE ||
                                     readsTexture(st.alphaOp, st.alphaArg1, st.alphaArg2));
        auto onlyTexture = [](DWORD op, DWORD a1, DWORD a2) {
            return op == D3DTOP_DISABLE || (op == D3DTOP_SELECTARG1 && (a1 & ~D3DTA_SELECTMASK) == 0 &&
                                            (a1 == D3DTA_TEXTURE || a1 == D3DTA_CURRENT)) ||
                   (op == D3DTOP_MODULATE && (a1 == D3DTA_TEXTURE || a1 == D3DTA_CURRENT) &&
                    (a2 == D3DTA_TEXTURE || a2 == D3DTA_CURRENT));
        };
        if (st.texture || st.resultArg == D3DTA_TEMP || !onlyTexture(st.colorOp, st.colorArg1, st.colorArg2) ||
            !onlyTexture(st.alphaOp, st.alphaArg1, st.alphaArg2))
            passThrough_ = false;
    }
    Color f = passThrough_ ? Color{0, 0, 0, 0} : Unpack(state_.textureFactor);
    factor_[0] = f.r, factor_[1] = f.g, factor_[2] = f.b, factor_[3] = f.a;

    const StageState& s0 = state_.stages[0];
    // At the first stage the current colour is the diffuse one.
    auto modulates = [](DWORD op, DWORD a1, DWORD a2) {
        auto diffuse = [](DWORD a) { return a == D3DTA_DIFFUSE || a == D3DTA_CURRENT; };
        return op == D3DTOP_MODULATE && ((a1 == D3DTA_TEXTURE && diffuse(a2)) || (diffuse(a1) && a2 == D3DTA_TEXTURE));
    };
    const bool plainBlend = !state_.alphaBlend || (state_.srcBlend == D3DBLEND_SRCALPHA &&
                                                   state_.destBlend == D3DBLEND_INVSRCALPHA &&
                                                   state_.blendOp == D3DBLENDOP_ADD);
    fastPaths_ = g_fastPixelPaths.load(std::memory_order_relaxed);
    fastModulate_ = fastPaths_ && !state_.program && state_.stageCount == 1 &&
                    s0.texture && s0.texture->levelCount > 0 && s0.resultArg != D3DTA_TEMP &&
                    modulates(s0.colorOp, s0.colorArg1, s0.colorArg2) &&
                    modulates(s0.alphaOp, s0.alphaArg1, s0.alphaArg2) &&
                    !state_.alphaTest && state_.colorWriteMask == 0xF && plainBlend;
}

void Rasterizer::ToScreen(const Vertex& v, bool pretransformed, ScreenVertex* out) const
{
    float iw;
    if (pretransformed) {
        iw = 1.f / v.w;
        out->x = v.x;
        out->y = v.y;
        out->z = v.z;
    } else {
        iw = 1.f / v.w;
        out->x = viewport_.x + (1.f + v.x * iw) * viewport_.width * 0.5f;
        out->y = viewport_.y + (1.f - v.y * iw) * viewport_.height * 0.5f;
        out->z = viewport_.minZ + v.z * iw * (viewport_.maxZ - viewport_.minZ);
    }
    out->iw = iw;
    const float* src = v.diffuse;  // diffuse, specular and texture sets are contiguous
    for (int i = 0; i < attrs_; ++i)
        out->attr[i] = src[i] * iw;
}

void Rasterizer::DrawTriangle(const Vertex& a, const Vertex& b, const Vertex& c, bool pretransformed)
{
    if (clipX0_ >= clipX1_ || clipY0_ >= clipY1_)
        return;
    ScreenVertex s[16];
    int count = 3;
    if (pretransformed) {
        ToScreen(a, true, &s[0]);
        ToScreen(b, true, &s[1]);
        ToScreen(c, true, &s[2]);
    } else {
        Vertex poly[16], scratch[16];
        poly[0] = a;
        poly[1] = b;
        poly[2] = c;
        count = ClipPolygon(poly, 3, scratch);
        if (count < 3)
            return;
        for (int i = 0; i < count; ++i)
            ToScreen(poly[i], false, &s[i]);
    }
    // Flat shading takes the colours of the first vertex.
    if (state_.flatShade) {
        ScreenVertex first;
        ToScreen(a, pretransformed, &first);
        for (int i = 0; i < count; ++i)
            for (int k = 0; k < 8; ++k)
                s[i].attr[k] = first.attr[k] / first.iw * s[i].iw;
    }
    for (int i = 1; i + 1 < count; ++i)
        FillTriangle(s[0], s[i], s[i + 1], false);
}

// One triangle of the common textured configuration: stage 0 modulates one
// texture with the diffuse colour, nothing after it. Every operation is the
// general path's, in its order, so the bytes are the same.
struct Rasterizer::FastTri {
    EdgeFn e[3];
    int minX, maxX, minY, maxY;
    const float *base, *ddx, *ddy;
    int ku;            // plane of the stage's u; v follows
    bool lodPerPixel;  // the level of detail is not fixed by the sampler
    bool lodConst;     // ... but the same wherever u and v are finite
    const TexLevel* level;  // level and filter when the level of detail is fixed
    bool linear;
};

void Rasterizer::FillTriangle(const ScreenVertex& va, const ScreenVertex& vb0, const ScreenVertex& vc0, bool)
{
    // Guard against values no pixel can use (NaN, infinity from w = 0).
    if (!(fabsf(va.x) < 1e7f && fabsf(va.y) < 1e7f && fabsf(vb0.x) < 1e7f && fabsf(vb0.y) < 1e7f &&
          fabsf(vc0.x) < 1e7f && fabsf(vc0.y) < 1e7f))
        return;
    int64_t ax = llrintf(va.x * kSubScale), ay = llrintf(va.y * kSubScale);
    int64_t bx = llrintf(vb0.x * kSubScale), by = llrintf(vb0.y * kSubScale);
    int64_t cx = llrintf(vc0.x * kSubScale), cy = llrintf(vc0.y * kSubScale);
    int64_t area = (bx - ax) * (cy - ay) - (by - ay) * (cx - ax);
    if (area == 0)
        return;
    // Positive area: clockwise on the screen (y grows downwards).
    if (state_.cullMode == D3DCULL_CCW && area < 0)
        return;
    if (state_.cullMode == D3DCULL_CW && area > 0)
        return;
    const ScreenVertex* pa = &va;
    const ScreenVertex* pb = &vb0;
    const ScreenVertex* pc = &vc0;
    if (area < 0) {
        std::swap(pb, pc);
        std::swap(bx, cx);
        std::swap(by, cy);
        area = -area;
    }

    int minX = (int)((std::min({ax, bx, cx}) + 255) >> kSubBits);
    int maxX = (int)(std::max({ax, bx, cx}) >> kSubBits);
    int minY = (int)((std::min({ay, by, cy}) + 255) >> kSubBits);
    int maxY = (int)(std::max({ay, by, cy}) >> kSubBits);
    minX = std::max(minX, clipX0_);
    minY = std::max(minY, clipY0_);
    maxX = std::min(maxX, clipX1_ - 1);
    maxY = std::min(maxY, clipY1_ - 1);
    if (minX > maxX || minY > maxY)
        return;

    // Edge functions, positive inside; an edge's own pixels belong to it only
    // when it is a top or a left edge.
    EdgeFn e[3];
    const int64_t px[3] = {ax, bx, cx}, py[3] = {ay, by, cy};
    for (int i = 0; i < 3; ++i) {
        int j = (i + 1) % 3;
        int64_t dx = px[j] - px[i], dy = py[j] - py[i];
        bool topLeft = (dy == 0 && dx > 0) || dy < 0;
        int64_t sx = (int64_t)minX << kSubBits, sy = (int64_t)minY << kSubBits;
        e[i].row = dx * (sy - py[i]) - dy * (sx - px[i]) + (topLeft ? 0 : -1);
        e[i].stepX = -dy * (1 << kSubBits);
        e[i].stepY = dx * (1 << kSubBits);
    }
    // Edge i runs from vertex i to i + 1; its function weighs the opposite vertex.

    // Plane equations of depth, 1/w and the attributes over w.
    const float x1 = (bx - ax) / kSubScale, y1 = (by - ay) / kSubScale;
    const float x2 = (cx - ax) / kSubScale, y2 = (cy - ay) / kSubScale;
    const float det = x1 * y2 - x2 * y1;
    const float ox = minX - ax / kSubScale, oy = minY - ay / kSubScale;
    const int n = 2 + kMaxVaryings;
    float base[n], ddx[n], ddy[n];
    auto plane = [&](int k, float f0, float f1, float f2) {
        float d1 = f1 - f0, d2 = f2 - f0;
        ddx[k] = (d1 * y2 - d2 * y1) / det;
        ddy[k] = (d2 * x1 - d1 * x2) / det;
        base[k] = f0 + ddx[k] * ox + ddy[k] * oy;
    };
    plane(0, pa->z, pb->z, pc->z);
    plane(1, pa->iw, pb->iw, pc->iw);
    for (int k = 0; k < attrs_; ++k)
        plane(2 + k, pa->attr[k], pb->attr[k], pc->attr[k]);

    // Which texture sets need a level of detail per pixel, and which of those
    // have the same one at every pixel: 1/w is constant over the triangle and
    // the coordinates' derivatives are finite, so only u and v themselves
    // (finite, they cancel out) would vary.
    bool needLod[kTexSets] = {};
    bool lodConst[kTexSets] = {};
    float constLod[kTexSets] = {};
    int usedSets = 0;
    for (int s = 0; s < state_.stageCount; ++s) {
        const StageState& st = state_.stages[s];
        if (!st.texture)
            continue;
        int set = prep_[s].set;
        usedSets = std::max(usedSets, set + 1);
        if ((st.texture->levelCount > 1 && st.mipFilter != D3DTEXF_NONE) || st.magFilter != st.minFilter)
            needLod[set] = true;
    }
    const bool flatW = fastPaths_ && ddx[1] == 0.f && ddy[1] == 0.f && std::isfinite(base[1]) && base[1] != 0.f;
    for (int s = 0; s < usedSets; ++s) {
        int ku = 2 + 8 + 2 * s;
        if (needLod[s] && flatW && std::isfinite(ddx[ku]) && std::isfinite(ddx[ku + 1]) && std::isfinite(ddy[ku]) &&
            std::isfinite(ddy[ku + 1])) {
            lodConst[s] = true;
            constLod[s] = PixelLod(ddx, ddy, ku, 0.f, 0.f, 1.f / base[1]);
        }
    }
    const bool program = state_.program != nullptr;

    if (fastModulate_ && !program) {
        const StageState& st = state_.stages[0];
        const int set = prep_[0].set;
        FastTri t;
        for (int i = 0; i < 3; ++i)
            t.e[i] = e[i];
        t.minX = minX, t.maxX = maxX, t.minY = minY, t.maxY = maxY;
        t.base = base, t.ddx = ddx, t.ddy = ddy;
        t.ku = 2 + 8 + 2 * set;
        t.lodPerPixel = needLod[set];
        t.lodConst = lodConst[set];
        Resolved r = Resolve(st, prep_[0].log2Size, needLod[set] ? constLod[set] : 0.f);
        t.level = r.level;
        t.linear = r.linear;
        if (state_.alphaBlend)
            state_.specularEnable ? FastFill<true, true>(t) : FastFill<true, false>(t);
        else
            state_.specularEnable ? FastFill<false, true>(t) : FastFill<false, false>(t);
        return;
    }

    const int attrsNeeded = program ? attrs_ : 8 + 2 * usedSets;
    const bool needSpecular = state_.specularEnable || !passThrough_;
    const float* depthRow = target_.depth;

    for (int y = minY; y <= maxY; ++y) {
        int64_t w0 = e[0].row, w1 = e[1].row, w2 = e[2].row;
        float row[n];
        for (int k = 0; k < 2 + attrsNeeded; ++k)
            row[k] = base[k] + ddy[k] * (y - minY);
        const bool zTest = state_.zEnable;
        uint32_t index = (uint32_t)y * target_.width + minX;
        for (int x = minX; x <= maxX; ++x, ++index) {
            if ((w0 | w1 | w2) >= 0) {
                float dxk = (float)(x - minX);
                float z = row[0] + ddx[0] * dxk;
                if (zTest && !Compare(state_.zFunc, z, depthRow[index])) {
                    w0 += e[0].stepX;
                    w1 += e[1].stepX;
                    w2 += e[2].stepX;
                    continue;
                }
                float iw = row[1] + ddx[1] * dxk;
                float w = 1.f / iw;
                float attr[kMaxVaryings];
                if (program) {
                    for (int k = 0; k < attrsNeeded; ++k)
                        attr[k] = (row[2 + k] + ddx[2 + k] * dxk) * w;
                    float lod0[kTexSets] = {};
                    ShadePixel((int)index, z, attr, lod0);
                    w0 += e[0].stepX;
                    w1 += e[1].stepX;
                    w2 += e[2].stepX;
                    continue;
                }
                for (int k = 0; k < 4; ++k)
                    attr[k] = (row[2 + k] + ddx[2 + k] * dxk) * w;
                for (int k = 4; k < 8; ++k)
                    attr[k] = needSpecular ? (row[2 + k] + ddx[2 + k] * dxk) * w : 0.f;
                for (int k = 8; k < attrsNeeded; ++k)
                    attr[k] = (row[2 + k] + ddx[2 + k] * dxk) * w;
                float lod[kTexSets] = {};
                for (int s = 0; s < usedSets; ++s) {
                    if (!needLod[s])
                        continue;
                    float u = attr[8 + 2 * s], v = attr[9 + 2 * s];
                    lod[s] = lodConst[s] && std::isfinite(u) && std::isfinite(v)
                                 ? constLod[s]
                                 : PixelLod(ddx, ddy, 2 + 8 + 2 * s, u, v, w);
                }
                ShadePixel((int)index, z, attr, lod);
            }
            w0 += e[0].stepX;
            w1 += e[1].stepX;
            w2 += e[2].stepX;
        }
        e[0].row += e[0].stepY;
        e[1].row += e[1].stepY;
        e[2].row += e[2].stepY;
    }
}

template <bool kBlend, bool kSpecular>
void Rasterizer::FastFill(const FastTri& t)
{
    // Locals throughout: the compiler cannot tell the pixel and depth stores
    // from the state, the planes or the texture.
    const StageState st = state_.stages[0];
    const TexLevel fixedLevel = *t.level;
    const Resolved fixed = {&fixedLevel, t.linear};
    const bool lodPerPixel = t.lodPerPixel, lodConst = t.lodConst;
    const float log2Size = prep_[0].log2Size;
    const int ku = t.ku;
    const int m = std::min(2 + attrs_, 2 + kMaxVaryings);
    float base[2 + kMaxVaryings], ddx[2 + kMaxVaryings], ddy[2 + kMaxVaryings];
    for (int k = 0; k < m; ++k)
        base[k] = t.base[k], ddx[k] = t.ddx[k], ddy[k] = t.ddy[k];
    // 1/w constant over the triangle: every pixel divides the same numbers.
    const bool flatW = ddx[1] == 0.f && ddy[1] == 0.f && std::isfinite(base[1]) && base[1] != 0.f;
    const float flatWValue = flatW ? 1.f / base[1] : 0.f;
    const bool zTest = state_.zEnable, zWrite = state_.zEnable && state_.zWrite;
    const DWORD zFunc = state_.zFunc;
    const bool dstAlpha = target_.hasAlpha;
    float* const depth = target_.depth;
    uint32_t* const color = target_.color;
    const int width = target_.width;
    const int minX = t.minX, maxX = t.maxX;
    EdgeFn e[3] = {t.e[0], t.e[1], t.e[2]};
    uint64_t written = 0;
    for (int y = t.minY; y <= t.maxY; ++y) {
        int64_t w0 = e[0].row, w1 = e[1].row, w2 = e[2].row;
        const int dy = y - t.minY;
        const float rz = base[0] + ddy[0] * dy, riw = base[1] + ddy[1] * dy;
        const float rr = base[2] + ddy[2] * dy, rg = base[3] + ddy[3] * dy;
        const float rb = base[4] + ddy[4] * dy, ra = base[5] + ddy[5] * dy;
        const float rsr = kSpecular ? base[6] + ddy[6] * dy : 0.f;
        const float rsg = kSpecular ? base[7] + ddy[7] * dy : 0.f;
        const float rsb = kSpecular ? base[8] + ddy[8] * dy : 0.f;
        const float ru = base[ku] + ddy[ku] * dy, rv = base[ku + 1] + ddy[ku + 1] * dy;
        uint32_t index = (uint32_t)y * width + minX;
        for (int x = minX; x <= maxX; ++x, ++index, w0 += e[0].stepX, w1 += e[1].stepX, w2 += e[2].stepX) {
            if ((w0 | w1 | w2) < 0)
                continue;
            const float dxk = (float)(x - minX);
            const float z = rz + ddx[0] * dxk;
            if (zTest && !Compare(zFunc, z, depth[index]))
                continue;
            const float w = flatW ? flatWValue : 1.f / (riw + ddx[1] * dxk);
            const float dr = (rr + ddx[2] * dxk) * w, dg = (rg + ddx[3] * dxk) * w;
            const float db = (rb + ddx[4] * dxk) * w, da = (ra + ddx[5] * dxk) * w;
            const float u = (ru + ddx[ku] * dxk) * w, v = (rv + ddx[ku + 1] * dxk) * w;
            Resolved r = fixed;
            if (lodPerPixel && !(lodConst && std::isfinite(u) && std::isfinite(v)))
                r = Resolve(st, log2Size, PixelLod(ddx, ddy, ku, u, v, w));
            float tex[4];
            SampleLevel(st, r, u, v, tex);
            Color out = {tex[0] * dr, tex[1] * dg, tex[2] * db, tex[3] * da};
            if (kSpecular) {
                out.r = Clamp01(out.r + (rsr + ddx[6] * dxk) * w);
                out.g = Clamp01(out.g + (rsg + ddx[7] * dxk) * w);
                out.b = Clamp01(out.b + (rsb + ddx[8] * dxk) * w);
            }
            uint32_t* pixel = color + index;
            if (kBlend) {
                Color dst = Unpack(*pixel);
                if (!dstAlpha)
                    dst.a = 1.f;
                const float fs = out.a, fd = 1.f - out.a;
                out = {out.r * fs + dst.r * fd, out.g * fs + dst.g * fd, out.b * fs + dst.b * fd,
                       out.a * fs + dst.a * fd};
            }
            *pixel = (ToByte(out.a) << 24) | (ToByte(out.r) << 16) | (ToByte(out.g) << 8) | ToByte(out.b);
            if (zWrite)
                depth[index] = z;
            ++written;
        }
        e[0].row += e[0].stepY;
        e[1].row += e[1].stepY;
        e[2].row += e[2].stepY;
    }
    pixelsWritten += written;
}

void Rasterizer::Sample(int stage, float u, float v, float lodUnscaled, float out[4]) const
{
    const StageState& st = state_.stages[stage];
    SampleLevel(st, Resolve(st, prep_[stage].log2Size, lodUnscaled), u, v, out);
}

void Rasterizer::ShadePixel(int index, float z, const float* attr, const float* lod)
{
    float* depth = target_.depth ? target_.depth + index : nullptr;
    if (state_.zEnable && !Compare(state_.zFunc, z, *depth))
        return;

    Color diffuse = {attr[0], attr[1], attr[2], attr[3]};
    Color specular = {attr[4], attr[5], attr[6], attr[7]};
    Color current = diffuse, temp = {0, 0, 0, 0};
    if (state_.program) {
        float c[4];
        if (!state_.program->Shade(attr, c))
            return;
        // Colours leave the pixel shader saturated, as for a fixed-point target.
        current = {Clamp01(c[0]), Clamp01(c[1]), Clamp01(c[2]), Clamp01(c[3])};
        specular = {0, 0, 0, 0};
    }
    const Color factor = {factor_[0], factor_[1], factor_[2], factor_[3]};
    for (int s = 0; s < ((passThrough_ || state_.program) ? 0 : state_.stageCount); ++s) {
        const StageState& st = state_.stages[s];
        Color tex = {1.f, 1.f, 1.f, 1.f};
        if (st.texture) {
            int set = prep_[s].set;
            float t[4];
            Sample(s, attr[8 + 2 * set], attr[9 + 2 * set], lod[set], t);
            tex = {t[0], t[1], t[2], t[3]};
        }
        if (prep_[s].passesWithoutTexture) {
            if (st.resultArg == D3DTA_TEMP)
                temp = current;
            continue;
        }
        Color c1 = Argument(st.colorArg1, diffuse, current, tex, factor, specular, temp);
        Color c2 = Argument(st.colorArg2, diffuse, current, tex, factor, specular, temp);
        Color c0 = Argument(st.colorArg0, diffuse, current, tex, factor, specular, temp);
        Color r;
        r.r = Operate(st.colorOp, c1.r, c2.r, c0.r, diffuse.a, tex.a, factor.a, current.a);
        r.g = Operate(st.colorOp, c1.g, c2.g, c0.g, diffuse.a, tex.a, factor.a, current.a);
        r.b = Operate(st.colorOp, c1.b, c2.b, c0.b, diffuse.a, tex.a, factor.a, current.a);
        if (st.alphaOp == D3DTOP_DISABLE) {
            r.a = current.a;
        } else {
            Color a1 = Argument(st.alphaArg1, diffuse, current, tex, factor, specular, temp);
            Color a2 = Argument(st.alphaArg2, diffuse, current, tex, factor, specular, temp);
            Color a0 = Argument(st.alphaArg0, diffuse, current, tex, factor, specular, temp);
            r.a = Operate(st.alphaOp, a1.a, a2.a, a0.a, diffuse.a, tex.a, factor.a, current.a);
        }
        if (st.resultArg == D3DTA_TEMP)
            temp = r;
        else
            current = r;
    }
    if (state_.specularEnable && !state_.program) {
        current.r = Clamp01(current.r + specular.r);
        current.g = Clamp01(current.g + specular.g);
        current.b = Clamp01(current.b + specular.b);
    }
    if (state_.alphaTest) {
        uint32_t a = ToByte(current.a);
        if (!Compare(state_.alphaFunc, (float)a, (float)(state_.alphaRef & 0xff)))
            return;
    }

    uint32_t* pixel = target_.color + index;
    Color out = current;
    if (state_.alphaBlend) {
        Color dst = Unpack(*pixel);
        if (!target_.hasAlpha)
            dst.a = 1.f;
        float fs[4], fd[4];
        BlendFactor(state_.srcBlend, current, dst, fs);
        BlendFactor(state_.destBlend, current, dst, fd);
        float s[4] = {current.r * fs[0], current.g * fs[1], current.b * fs[2], current.a * fs[3]};
        float d[4] = {dst.r * fd[0], dst.g * fd[1], dst.b * fd[2], dst.a * fd[3]};
        float src4[4] = {current.r, current.g, current.b, current.a};
        float dst4[4] = {dst.r, dst.g, dst.b, dst.a};
        float o[4];
        for (int k = 0; k < 4; ++k) {
            switch (state_.blendOp) {
            case D3DBLENDOP_SUBTRACT:
                o[k] = s[k] - d[k];
                break;
            case D3DBLENDOP_REVSUBTRACT:
                o[k] = d[k] - s[k];
                break;
            case D3DBLENDOP_MIN:
                o[k] = std::min(src4[k], dst4[k]);
                break;
            case D3DBLENDOP_MAX:
                o[k] = std::max(src4[k], dst4[k]);
                break;
            default:
                o[k] = s[k] + d[k];
                break;
            }
        }
        out = {o[0], o[1], o[2], o[3]};
    }
    uint32_t value = (ToByte(out.a) << 24) | (ToByte(out.r) << 16) | (ToByte(out.g) << 8) | ToByte(out.b);
    DWORD mask = state_.colorWriteMask;
    if (mask == 0xF) {
        *pixel = value;
    } else {
        uint32_t bits = ((mask & D3DCOLORWRITEENABLE_ALPHA) ? 0xff000000u : 0) |
                        ((mask & D3DCOLORWRITEENABLE_RED) ? 0x00ff0000u : 0) |
                        ((mask & D3DCOLORWRITEENABLE_GREEN) ? 0x0000ff00u : 0) |
                        ((mask & D3DCOLORWRITEENABLE_BLUE) ? 0x000000ffu : 0);
        *pixel = (*pixel & ~bits) | (value & bits);
    }
    if (state_.zEnable && state_.zWrite)
        *depth = z;
    ++pixelsWritten;
}

void Rasterizer::DrawLine(const Vertex& a, const Vertex& b, bool pretransformed, bool lastPixel)
{
    if (clipX0_ >= clipX1_ || clipY0_ >= clipY1_)
        return;
    Vertex p = a, q = b;
    bool cutEnd = false;
    if (!pretransformed) {
        for (int plane = 0; plane < kPlanes; ++plane) {
            float dp = PlaneDistance(p, plane), dq = PlaneDistance(q, plane);
            if (dp < 0.f && dq < 0.f)
                return;
            if (dp < 0.f)
                p = Intersect(q, dq, p, dp);
            else if (dq < 0.f) {
                q = Intersect(p, dp, q, dq);
                cutEnd = true;
            }
        }
    }
    ScreenVertex sp, sq;
    ToScreen(p, pretransformed, &sp);
    ToScreen(q, pretransformed, &sq);
    FillLine(sp, sq, lastPixel || cutEnd);
}

void Rasterizer::FillLine(const ScreenVertex& a, const ScreenVertex& b, bool lastPixel)
{
    if (!(fabsf(a.x) < 1e7f && fabsf(a.y) < 1e7f && fabsf(b.x) < 1e7f && fabsf(b.y) < 1e7f))
        return;
    float dx = b.x - a.x, dy = b.y - a.y;
    bool xMajor = fabsf(dx) >= fabsf(dy);
    float len = xMajor ? fabsf(dx) : fabsf(dy);
    // Step along the major axis through pixel centres.
    float start = xMajor ? a.x : a.y, end = xMajor ? b.x : b.y;
    int i0 = (int)floorf(start + 0.5f), i1 = (int)floorf(end + 0.5f);
    int step = i1 >= i0 ? 1 : -1;
    int count = abs(i1 - i0) + (lastPixel ? 1 : 0);
    if (count == 0 && len == 0.f)
        count = lastPixel ? 1 : 0;
    for (int k = 0; k < count; ++k) {
        int major = i0 + k * step;
        float t = len > 0.f ? ((float)major - start) / (end - start) : 0.f;
        t = Clamp01(t);
        float minor = xMajor ? a.y + dy * t : a.x + dx * t;
        int x = xMajor ? major : (int)floorf(minor + 0.5f);
        int y = xMajor ? (int)floorf(minor + 0.5f) : major;
        if (x < clipX0_ || x >= clipX1_ || y < clipY0_ || y >= clipY1_)
            continue;
        float iw = a.iw + (b.iw - a.iw) * t;
        float w = 1.f / iw;
        float attr[kMaxVaryings];
        for (int j = 0; j < attrs_; ++j)
            attr[j] = (a.attr[j] + (b.attr[j] - a.attr[j]) * t) * w;
        float lod[kTexSets] = {};
        ShadePixel(y * target_.width + x, a.z + (b.z - a.z) * t, attr, lod);
    }
}

void Rasterizer::DrawPoint(const Vertex& a, bool pretransformed)
{
    if (clipX0_ >= clipX1_ || clipY0_ >= clipY1_)
        return;
    if (!pretransformed)
        for (int plane = 0; plane < kPlanes; ++plane)
            if (PlaneDistance(a, plane) < 0.f)
                return;
    ScreenVertex s;
    ToScreen(a, pretransformed, &s);
    if (!(fabsf(s.x) < 1e7f && fabsf(s.y) < 1e7f))
        return;
    int x = (int)floorf(s.x + 0.5f), y = (int)floorf(s.y + 0.5f);
    if (x < clipX0_ || x >= clipX1_ || y < clipY0_ || y >= clipY1_)
        return;
    float attr[kMaxVaryings];
    for (int j = 0; j < attrs_; ++j)
        attr[j] = s.attr[j] / s.iw;
    float lod[kTexSets] = {};
    ShadePixel(y * target_.width + x, s.z, attr, lod);
}

}  // namespace vr

extern "C" void VelmoraSetFastPixelPaths(BOOL enable)
{
    vr::SetFastPixelPaths(enable != FALSE);
}
