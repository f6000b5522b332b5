// The pixel stage: texture stages, alpha test, blending and the writes, in
// the general form and in loops specialised for common state sets.
#include "renderer/pixel_ops.h"

#include <velmora_platform.h>

#include <math.h>
#include <string.h>

#include <algorithm>
#include <atomic>

namespace vr {

namespace {

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

typedef float F4 __attribute__((vector_size(16)));
typedef int32_t I4 __attribute__((vector_size(16)));

// ToByte(Clamp01(v)) for four floats, each as the scalar functions compute
// it (a NaN stays one through the first and becomes 0 in the second); in
// 0..255.5 a signed conversion gives the same number.
inline __attribute__((always_inline)) I4 Byte4(const float* p)
{
    F4 v;
    memcpy(&v, p, sizeof v);
    const F4 zero = {0.f, 0.f, 0.f, 0.f}, one = {1.f, 1.f, 1.f, 1.f};
    const F4 s = v < zero ? zero : (v > one ? one : v);
    const F4 t = s > zero ? (s < one ? s : one) : zero;
    return __builtin_convertvector(t * 255.f + 0.5f, I4);
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

}  // namespace

void PixelProgram::ShadeBatch(const float* attr, int attrs, int count, float* out, bool* keep)
{
    ShadeOneByOne(attr, attrs, count, out, keep, [this](const float* a, float* c) { return Shade(a, c); });
}

// A program that cannot be frozen is never asked to shade frozen.
bool PixelProgram::ShadeFrozen(int /*frozen*/, int /*thread*/, const float* attr, float out[4])
{
    return Shade(attr, out);
}

void PixelProgram::ShadeBatchFrozen(int /*frozen*/, int /*thread*/, const float* attr, int attrs, int count,
                                    float* out, bool* keep)
{
    ShadeOneByOne(attr, attrs, count, out, keep, [this](const float* a, float* c) { return Shade(a, c); });
}

void PixelPipe::FastModulate(const FastTri& t, const Rect& r, uint64_t* written) const
{
    if (state_.alphaBlend)
        state_.specularEnable ? FastFill<true, true>(t, r, written) : FastFill<true, false>(t, r, written);
    else
        state_.specularEnable ? FastFill<false, true>(t, r, written) : FastFill<false, false>(t, r, written);
}

template <bool kBlend, bool kSpecular>
void PixelPipe::FastFill(const FastTri& t, const Rect& r, uint64_t* written) const
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
    const int minX = t.minX;
    const int x0 = std::max(minX, r.x0), x1 = std::min(t.maxX, r.x1);
    const int y0 = std::max(t.minY, r.y0), y1 = std::min(t.maxY, r.y1);
    EdgeFn e[3] = {t.e[0], t.e[1], t.e[2]};
    for (int i = 0; i < 3; ++i)
        e[i].row += e[i].stepY * (y0 - t.minY) + e[i].stepX * (x0 - minX);
    uint64_t count = 0;
    for (int y = y0; y <= y1; ++y) {
        int64_t w0 = e[0].row, w1 = e[1].row, w2 = e[2].row;
        const int dy = y - t.minY;
        const float rz = base[0] + ddy[0] * dy, riw = base[1] + ddy[1] * dy;
        const float rr = base[2] + ddy[2] * dy, rg = base[3] + ddy[3] * dy;
        const float rb = base[4] + ddy[4] * dy, ra = base[5] + ddy[5] * dy;
        const float rsr = kSpecular ? base[6] + ddy[6] * dy : 0.f;
        const float rsg = kSpecular ? base[7] + ddy[7] * dy : 0.f;
        const float rsb = kSpecular ? base[8] + ddy[8] * dy : 0.f;
        const float ru = base[ku] + ddy[ku] * dy, rv = base[ku + 1] + ddy[ku + 1] * dy;
        uint32_t index = (uint32_t)y * width + x0;
        for (int x = x0; x <= x1; ++x, ++index, w0 += e[0].stepX, w1 += e[1].stepX, w2 += e[2].stepX) {
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
            ++count;
        }
        e[0].row += e[0].stepY;
        e[1].row += e[1].stepY;
        e[2].row += e[2].stepY;
    }
    *written += count;
}

void PixelPipe::Sample(int stage, float u, float v, float lodUnscaled, float out[4]) const
{
    const StageState& st = state_.stages[stage];
    SampleLevel(st, Resolve(st, prep_[stage].log2Size, lodUnscaled), u, v, out);
}

inline __attribute__((always_inline)) bool PixelPipe::WritePixel(int index, float z, const Color& current) const
{
    float* depth = target_.depth ? target_.depth + index : nullptr;
    if (state_.alphaTest) {
        uint32_t a = ToByte(current.a);
        if (!Compare(state_.alphaFunc, (float)a, (float)(state_.alphaRef & 0xff)))
            return false;
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
    return true;
}

bool PixelPipe::Shade(const float* attr, float out[4], int thread) const
{
    if (frozen_ >= 0)
        return state_.program->ShadeFrozen(frozen_, thread, attr, out);
    return state_.program->Shade(attr, out);
}

void PixelPipe::ShadePixel(int index, float z, const float* attr, const float* lod, int thread, uint64_t* written) const
{
    float* depth = target_.depth ? target_.depth + index : nullptr;
    if (state_.zEnable && !Compare(state_.zFunc, z, *depth))
        return;

    Color diffuse = {attr[0], attr[1], attr[2], attr[3]};
    Color specular = {attr[4], attr[5], attr[6], attr[7]};
    Color current = diffuse, temp = {0, 0, 0, 0};
    if (state_.program) {
        float c[4];
        if (!Shade(attr, c, thread))
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
    if (WritePixel(index, z, current))
        ++*written;
}

void PixelPipe::ShadeLanes(PixelLanes& lanes, int attrs, int thread, uint64_t* written) const
{
    const int n = lanes.count;
    lanes.count = 0;
    if (frozen_ >= 0)
        state_.program->ShadeBatchFrozen(frozen_, thread, lanes.attr, attrs, n, lanes.color, lanes.keep);
    else
        state_.program->ShadeBatch(lanes.attr, attrs, n, lanes.color, lanes.keep);
    const int W = PixelProgram::kLanes;
    if (!state_.alphaTest && !state_.alphaBlend && state_.colorWriteMask == 0xF) {
        // The colours packed for all lanes at once, as WritePixel packs
        // them: saturated, then to bytes (in 0..255.5 a signed conversion
        // gives the same number and vectorises).
        const float* c = lanes.color;
        uint32_t value[PixelProgram::kLanes];
        for (int l = 0; l < W; l += 4) {
            const I4 v = (Byte4(c + 3 * W + l) << 24) | (Byte4(c + l) << 16) | (Byte4(c + W + l) << 8) |
                         Byte4(c + 2 * W + l);
            memcpy(value + l, &v, sizeof v);
        }
        const bool zTest = state_.zEnable, zWrite = state_.zEnable && state_.zWrite;
        const DWORD zFunc = state_.zFunc;
        float* const depth = target_.depth;
        uint32_t* const color = target_.color;
        uint64_t count = 0;
        for (int l = 0; l < n; ++l) {
            const uint32_t index = lanes.index[l];
            const float z = lanes.z[l];
            if ((zTest && !Compare(zFunc, z, depth[index])) || !lanes.keep[l])
                continue;
            color[index] = value[l];
            if (zWrite)
                depth[index] = z;
            ++count;
        }
        *written += count;
        return;
    }
    for (int l = 0; l < n; ++l) {
        // The tests and writes of ShadePixel.
        const int index = (int)lanes.index[l];
        const float z = lanes.z[l];
        if (state_.zEnable && !Compare(state_.zFunc, z, target_.depth[index]))
            continue;
        if (!lanes.keep[l])
            continue;
        const float* c = lanes.color + l;
        const Color current = {Clamp01(c[0]), Clamp01(c[W]), Clamp01(c[2 * W]), Clamp01(c[3 * W])};
        if (WritePixel(index, z, current))
            ++*written;
    }
}

// The general path: the walk over the triangle's pixels inside `r`, the
// texture stages or the pixel program one pixel at a time (and the loop
// for one modulated texture).
void PixelPipe::DrawGeneral(const Tri& t, const Rect& r, int thread, uint64_t* written) const
{
    const int minX = t.minX, maxX = t.maxX, minY = t.minY;
    const float *base = t.base, *ddx = t.ddx, *ddy = t.ddy;
    const int x0 = std::max(minX, r.x0), x1 = std::min(maxX, r.x1);
    const int y0 = std::max(minY, r.y0), y1 = std::min(t.maxY, r.y1);
    if (x0 > x1 || y0 > y1)
        return;
    const int n = 2 + kMaxVaryings;
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

    if (path_ == kPathModulate) {
        const StageState& st = state_.stages[0];
        const int set = prep_[0].set;
        FastTri f;
        for (int i = 0; i < 3; ++i)
            f.e[i] = t.e[i];
        f.minX = minX, f.maxX = maxX, f.minY = minY, f.maxY = t.maxY;
        f.base = base, f.ddx = ddx, f.ddy = ddy;
        f.ku = 2 + 8 + 2 * set;
        f.lodPerPixel = needLod[set];
        f.lodConst = lodConst[set];
        Resolved fixed = Resolve(st, prep_[0].log2Size, needLod[set] ? constLod[set] : 0.f);
        f.level = fixed.level;
        f.linear = fixed.linear;
        FastModulate(f, Rect{x0, y0, x1, y1}, written);
        return;
    }

    const int attrsNeeded = program ? attrs_ : 8 + 2 * usedSets;
    const bool needSpecular = state_.specularEnable || !passThrough_;
    const float* depthRow = target_.depth;

    EdgeFn e[3] = {t.e[0], t.e[1], t.e[2]};
    for (int i = 0; i < 3; ++i)
        e[i].row += e[i].stepY * (y0 - minY) + e[i].stepX * (x0 - minX);
    for (int y = y0; y <= y1; ++y) {
        int64_t w0 = e[0].row, w1 = e[1].row, w2 = e[2].row;
        float row[n];
        for (int k = 0; k < 2 + attrsNeeded; ++k)
            row[k] = base[k] + ddy[k] * (y - minY);
        const bool zTest = state_.zEnable;
        uint32_t index = (uint32_t)y * target_.width + x0;
        for (int x = x0; x <= x1; ++x, ++index) {
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
                    ShadePixel((int)index, z, attr, lod0, thread, written);
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
                ShadePixel((int)index, z, attr, lod, thread, written);
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

// The general path's walk for a pixel program: the pixels that pass the
// depth test wait in lanes for one run a batch, each float as the walk above
// computes it. The pixels of one triangle never meet, so a pixel's depth
// test comes out the same before the others are written.
void PixelPipe::DrawProgram(const Tri& t, const Rect& r, PixelLanes& lanes, int thread, uint64_t* written) const
{
    const EdgeFn* const e = t.e;
    const int minX = t.minX, maxX = t.maxX, minY = t.minY;
    const float *base = t.base, *ddx = t.ddx, *ddy = t.ddy;
    const int x0 = std::max(minX, r.x0) - minX, x1 = std::min(maxX, r.x1) - minX;
    const int y0 = std::max(minY, r.y0), y1 = std::min(t.maxY, r.y1);
    if (x0 > x1 || y0 > y1)
        return;
    const int W = PixelProgram::kLanes;
    const int attrs = attrs_;
    const bool zTest = state_.zEnable;
    const DWORD zFunc = state_.zFunc;
    const float* const depth = target_.depth;
    const int64_t stepX[3] = {e[0].stepX, e[1].stepX, e[2].stepX};
    int64_t w[3];
    for (int i = 0; i < 3; ++i)
        w[i] = e[i].row + e[i].stepY * (y0 - minY);
    float row[2 + kMaxVaryings];
    for (int y = y0; y <= y1; ++y) {
        int first, last;
        const bool any = RowRun(stepX, w, maxX - minX, &first, &last);
        for (int i = 0; i < 3; ++i)
            w[i] += e[i].stepY;
        if (!any)
            continue;
        first = std::max(first, x0), last = std::min(last, x1);
        if (first > last)
            continue;
        for (int k = 0; k < 2 + attrs; ++k)
            row[k] = base[k] + ddy[k] * (y - minY);
        const uint32_t rowIndex = (uint32_t)y * target_.width + minX;
        for (int d = first; d <= last; ++d) {
            const uint32_t index = rowIndex + (uint32_t)d;
            const float dxk = (float)d;
            const float z = row[0] + ddx[0] * dxk;
            if (zTest && !Compare(zFunc, z, depth[index]))
                continue;
            const float iw = row[1] + ddx[1] * dxk;
            const float pw = 1.f / iw;
            const int l = lanes.count++;
            lanes.index[l] = index;
            lanes.z[l] = z;
            for (int k = 0; k < attrs; ++k)
                lanes.attr[k * W + l] = (row[2 + k] + ddx[2 + k] * dxk) * pw;
            if (lanes.count == W)
                ShadeLanes(lanes, attrs, thread, written);
        }
    }
    if (lanes.count > 0)
        ShadeLanes(lanes, attrs, thread, written);
}

// A line's pixels inside `r`, stepped along its major axis.
void PixelPipe::DrawLine(const Line& l, const Rect& r, int thread, uint64_t* written) const
{
    const ScreenVertex &a = l.a, &b = l.b;
    const bool lastPixel = l.lastPixel;
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
        if (x < clipX0_ || x >= clipX1_ || y < clipY0_ || y >= clipY1_ || x < r.x0 || x > r.x1 || y < r.y0 ||
            y > r.y1)
            continue;
        float iw = a.iw + (b.iw - a.iw) * t;
        float w = 1.f / iw;
        float attr[kMaxVaryings];
        for (int j = 0; j < attrs_; ++j)
            attr[j] = (a.attr[j] + (b.attr[j] - a.attr[j]) * t) * w;
        float lod[kTexSets] = {};
        ShadePixel(y * target_.width + x, a.z + (b.z - a.z) * t, attr, lod, thread, written);
    }
}

void PixelPipe::DrawDot(const Dot& d, const Rect& r, int thread, uint64_t* written) const
{
    if (d.x < r.x0 || d.x > r.x1 || d.y < r.y0 || d.y > r.y1)
        return;
    float lod[kTexSets] = {};
    ShadePixel(d.y * target_.width + d.x, d.z, d.attr, lod, thread, written);
}

}  // namespace vr

extern "C" void VelmoraSetFastPixelPaths(BOOL enable)
{
    vr::SetFastPixelPaths(enable != FALSE);
}

extern "C" void VelmoraSetPixelBatches(BOOL enable)
{
    vr::SetPixelBatches(enable != FALSE);
}

extern "C" void VelmoraShareAllRenderWork(BOOL enable)
{
    vr::SetShareAllWork(enable != FALSE);
}
