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

std::atomic<bool> g_fastPixelPaths{true};
std::atomic<bool> g_pixelBatches{true};

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

void SetFastPixelPaths(bool enable)
{
    g_fastPixelPaths.store(enable);
}

void SetPixelBatches(bool enable)
{
    g_pixelBatches.store(enable);
}

void PixelProgram::ShadeBatch(const float* attr, int attrs, int count, float* out, bool* keep, int /*thread*/)
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

void Rasterizer::SetState(const PixelState& state)
{
    FlushPrograms();
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

    const bool plainBlend = !state_.alphaBlend || (state_.srcBlend == D3DBLEND_SRCALPHA &&
                                                   state_.destBlend == D3DBLEND_INVSRCALPHA &&
                                                   state_.blendOp == D3DBLENDOP_ADD);
    fastPaths_ = g_fastPixelPaths.load(std::memory_order_relaxed);
    ChoosePixelPaths(plainBlend);
    CountDraw(spanMiss_);
}

bool Rasterizer::PixelBatches()
{
    return g_pixelBatches.load(std::memory_order_relaxed);
}
void Rasterizer::FastModulate(const FastTri& t)
{
    if (state_.alphaBlend)
        state_.specularEnable ? FastFill<true, true>(t) : FastFill<true, false>(t);
    else
        state_.specularEnable ? FastFill<false, true>(t) : FastFill<false, false>(t);
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

inline __attribute__((always_inline)) bool Rasterizer::WritePixel(int index, float z, const Color& current)
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
    if (WritePixel(index, z, current))
        ++pixelsWritten;
}

void Rasterizer::ShadeLanes(PixelLanes& lanes, int attrs, int thread, uint64_t* written)
{
    const int n = lanes.count;
    lanes.count = 0;
    state_.program->ShadeBatch(lanes.attr, attrs, n, lanes.color, lanes.keep, thread);
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
