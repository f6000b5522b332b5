// Span loops for the state sets the scene draws most: Gouraud colour with an
// optional depth test, specular sum and source-alpha blend, optionally
// modulated by a texture whose texels are all alike (the veil). Eight pixels
// go at once; every lane does the general path's float operations in its
// order, so the bytes are the same. GCC's vector types keep one source for
// SSE2 and AVX2; the AVX2 clone is chosen at load time when the CPU has it.
#include "renderer/pixel_ops.h"
#include "renderer/queue.h"
#include "renderer/spans.h"

#include <math.h>
#include <string.h>

// The eight-lane types pass between inlined helpers only; no ABI is at stake.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace vr {

namespace {

const int kLanes = 8;
// Fixed point of the blend tables' linear fits: 255 << 22 plus the offset
// stays inside 31 bits.
const int kFitShift = 22;
typedef float VF __attribute__((vector_size(4 * kLanes)));
typedef int32_t VI __attribute__((vector_size(4 * kLanes)));
typedef uint32_t VU __attribute__((vector_size(4 * kLanes)));

// A triangle's plane values splatted into locals: the depth stores could
// otherwise alias them and force a reload at every step.
struct Lanes {
    VF row[kSpanPlanes], ddx[kSpanPlanes];
};

inline __attribute__((always_inline)) VI Select(VI m, VI a, VI b)
{
    return (a & m) | (b & ~m);
}

inline __attribute__((always_inline)) VF Select(VI m, VF a, VF b)
{
    return (VF)Select(m, (VI)a, (VI)b);
}

inline __attribute__((always_inline)) VF Splat(float v)
{
    return VF{} + v;
}

inline __attribute__((always_inline)) VF Clamp01(VF v)
{
    return Select(v < 0.f, Splat(0.f), Select(v > 1.f, Splat(1.f), v));
}

// Not-a-number lanes write 0, as the general path does.
inline __attribute__((always_inline)) VU ToByte(VF v)
{
    const VF clamped = Select(v > 0.f, Select(v < 1.f, v, Splat(1.f)), Splat(0.f));
    return (VU)__builtin_convertvector(clamped * 255.f + 0.5f, VI);
}

inline __attribute__((always_inline)) VF Channel(VU c, int shift)
{
    return __builtin_convertvector((VI)((c >> shift) & 0xffu), VF) / 255.f;
}

// floorf for every lane; beyond 2^23 every float is whole already.
inline __attribute__((always_inline)) VF Floor(VF f)
{
    const VI small = (f > -8388608.f) & (f < 8388608.f);
    const VF safe = Select(small, f, Splat(0.f));
    VF t = __builtin_convertvector(__builtin_convertvector(safe, VI), VF);
    t = Select(t > safe, t - 1.f, t);
    return Select(small, t, f);
}

inline __attribute__((always_inline)) VI DepthPasses(DWORD func, VF z, VF ref)
{
    switch (func) {
    case D3DCMP_NEVER:
        return VI{};
    case D3DCMP_LESS:
        return z < ref;
    case D3DCMP_EQUAL:
        return z == ref;
    case D3DCMP_LESSEQUAL:
        return z <= ref;
    case D3DCMP_GREATER:
        return z > ref;
    case D3DCMP_NOTEQUAL:
        return z != ref;
    case D3DCMP_GREATEREQUAL:
        return z >= ref;
    default:
        return VI{} - 1;
    }
}

typedef uint64_t VQ __attribute__((vector_size(4 * kLanes)));

inline __attribute__((always_inline)) bool AnyLane(VI m)
{
    const VQ q = (VQ)m;
    return (q[0] | q[1] | q[2] | q[3]) != 0;
}

inline __attribute__((always_inline)) uint64_t SumLanes(VI v)
{
    int64_t n = 0;
    for (int i = 0; i < kLanes; ++i)
        n += v[i];
    return (uint64_t)n;
}

// A uniform texel through the bilinear weights, summed in the general
// sampler's order.
inline __attribute__((always_inline)) VF Filtered(float texel, VF w00, VF w10, VF w01, VF w11)
{
    VF acc = texel * w00;
    acc += texel * w10;
    acc += texel * w01;
    return acc + texel * w11;
}

// One texel a lane as the general sampler addresses it; the border colour
// where the addressing leaves the texture.
inline __attribute__((always_inline)) VU Gather(const SpanJob& j, VI x, VI y)
{
    VU t;
    for (int i = 0; i < kLanes; ++i) {
        bool border = false;
        const int xi = Address(x[i], j.level->width, j.addressU, &border);
        const int yi = Address(y[i], j.level->height, j.addressV, &border);
        t[i] = border ? j.border : Fetch(*j.level, xi, yi);
    }
    return t;
}

// The general sampler at a fixed level, modulated by the diffuse colour d.
template <bool kLinear>
inline __attribute__((always_inline)) void Sample(const SpanJob& j, VF u, VF v, const VF d[4], VF out[4])
{
    const int shifts[4] = {16, 8, 0, 24};
    if (!kLinear) {
        const VU t = Gather(j, __builtin_convertvector(Floor(u * j.texW), VI),
                            __builtin_convertvector(Floor(v * j.texH), VI));
        #pragma GCC unroll 4
        for (int c = 0; c < 4; ++c)
            out[c] = Channel(t, shifts[c]) * d[c];
        return;
    }
    const VF fx = u * j.texW - 0.5f, fy = v * j.texH - 0.5f;
    const VF x0f = Floor(fx), y0f = Floor(fy);
    const VF tx = fx - x0f, ty = fy - y0f;
    const VI x0 = __builtin_convertvector(x0f, VI), y0 = __builtin_convertvector(y0f, VI);
    const VU t00 = Gather(j, x0, y0), t10 = Gather(j, x0 + 1, y0);
    const VU t01 = Gather(j, x0, y0 + 1), t11 = Gather(j, x0 + 1, y0 + 1);
    const VF w00 = (1.f - tx) * (1.f - ty), w10 = tx * (1.f - ty);
    const VF w01 = (1.f - tx) * ty, w11 = tx * ty;
    #pragma GCC unroll 4
    for (int c = 0; c < 4; ++c) {
        VF acc = Channel(t00, shifts[c]) * w00;
        acc += Channel(t10, shifts[c]) * w10;
        acc += Channel(t01, shifts[c]) * w01;
        acc += Channel(t11, shifts[c]) * w11;
        out[c] = acc * d[c];
    }
}

// The colour of eight pixels before blending, as the general path makes it.
template <int kTex, bool kSpecular>
inline __attribute__((always_inline)) void Shade(const SpanJob& j, const Lanes& p, VF dxk, VF w, VF out[4])
{
    VF d[4];
    #pragma GCC unroll 4
    for (int c = 0; c < 4; ++c)
        d[c] = (p.row[kR + c] + p.ddx[kR + c] * dxk) * w;
    if (kTex == kSpanColor) {
        #pragma GCC unroll 4
        for (int c = 0; c < 4; ++c)
            out[c] = d[c];
    } else if (kTex == kSpanCopy) {
        // Colours leave a pixel program saturated.
        #pragma GCC unroll 4
        for (int c = 0; c < 4; ++c)
            out[c] = Clamp01(j.constant[c] ? Splat(j.value[c]) : d[c]);
    } else {
        VF u = (p.row[kU] + p.ddx[kU] * dxk) * w, v = (p.row[kV] + p.ddx[kV] * dxk) * w;
        u = Select((u > -1e6f) & (u < 1e6f), u, Splat(0.f));
        v = Select((v > -1e6f) & (v < 1e6f), v, Splat(0.f));
        if (kTex == kSpanSampledLinear || kTex == kSpanSampledPoint) {
            Sample<kTex == kSpanSampledLinear>(j, u, v, d, out);
        } else if (kTex == kSpanUniformLinear) {
            // Every tap reads the same texel; the weights still round as the
            // general sampler's do.
            const VF fx = u * j.texW - 0.5f, fy = v * j.texH - 0.5f;
            const VF tx = fx - Floor(fx), ty = fy - Floor(fy);
            const VF w00 = (1.f - tx) * (1.f - ty), w10 = tx * (1.f - ty);
            const VF w01 = (1.f - tx) * ty, w11 = tx * ty;
            if (j.grey) {
                // Equal channels (the white veil) filter alike.
                const VF acc = Filtered(j.texel[0], w00, w10, w01, w11);
                out[0] = acc * d[0], out[1] = acc * d[1], out[2] = acc * d[2];
                out[3] = (j.texel[3] == j.texel[0] ? acc : Filtered(j.texel[3], w00, w10, w01, w11)) * d[3];
            } else {
                #pragma GCC unroll 4
                for (int c = 0; c < 4; ++c)
                    out[c] = Filtered(j.texel[c], w00, w10, w01, w11) * d[c];
            }
        } else {
            #pragma GCC unroll 4
            for (int c = 0; c < 4; ++c)
                out[c] = j.texel[c] * d[c];
        }
    }
    if (kSpecular && j.specularZero) {
        // A specular colour of 0 everywhere adds +0 (finite w), which
        // changes no sum; only the clamp remains.
        #pragma GCC unroll 4
        for (int c = 0; c < 3; ++c)
            out[c] = Clamp01(out[c]);
    } else if (kSpecular) {
        #pragma GCC unroll 4
        for (int c = 0; c < 3; ++c)
            out[c] = Clamp01(out[c] + (p.row[kSr + c] + p.ddx[kSr + c] * dxk) * w);
    }
}

// Which table every lane takes (offsets into the job's tables), false when
// the uniform texels filter to a value without one in some lane.
template <int kTex>
inline __attribute__((always_inline)) bool KeyHolds(const SpanJob& j, const Lanes& p, VF dxk, VF w, VI* which)
{
    *which = VI{} + kKeyMid * 1024;
    if (kTex != kSpanUniformLinear)
        return true;
    VF u = (p.row[kU] + p.ddx[kU] * dxk) * w, v = (p.row[kV] + p.ddx[kV] * dxk) * w;
    u = Select((u > -1e6f) & (u < 1e6f), u, Splat(0.f));
    v = Select((v > -1e6f) & (v < 1e6f), v, Splat(0.f));
    const VF fx = u * j.texW - 0.5f, fy = v * j.texH - 0.5f;
    const VF tx = fx - Floor(fx), ty = fy - Floor(fy);
    const VF w00 = (1.f - tx) * (1.f - ty), w10 = tx * (1.f - ty);
    const VF w01 = (1.f - tx) * ty, w11 = tx * ty;
    const VF acc = Filtered(j.texel[0], w00, w10, w01, w11);
    if (j.spread) {
        // Float bits order as the values do (both positive here).
        int32_t keyBits;
        memcpy(&keyBits, &j.key[0], 4);
        const VI step = (VI)acc - keyBits + kKeyMid;
        *which = step * 1024;
        return !AnyLane((step < 0) | (step >= kKeys));
    }
    VI same = acc == j.key[0];
    {
        #pragma GCC unroll 3
        for (int c = 1; c < 4; ++c)
            same &= Filtered(j.texel[c], w00, w10, w01, w11) == j.key[c];
    }
    return !AnyLane(~same);
}

inline __attribute__((always_inline)) uint32_t LookUp(const uint32_t* t, uint32_t d)
{
    return t[d >> 24] | t[256 + ((d >> 16) & 0xff)] | t[512 + ((d >> 8) & 0xff)] | t[768 + (d & 0xff)];
}

// Through memory: taking the lanes out of the registers one by one costs
// more than the look-ups.
inline __attribute__((always_inline)) VU LookUp(const uint32_t* tables, VU dst, VI which)
{
    uint32_t d[kLanes], r[kLanes];
    int32_t offset[kLanes];
    memcpy(d, &dst, sizeof d);
    memcpy(offset, &which, sizeof offset);
    for (int i = 0; i < kLanes; ++i)
        r[i] = LookUp(tables + offset[i], d[i]);
    VU out;
    memcpy(&out, r, sizeof out);
    return out;
}

template <int kTex, bool kBlend, bool kSpecular, bool kUnchanged, bool kTable = false>
inline __attribute__((always_inline)) uint64_t Fill(const SpanJob& j)
{
    VI lane;
    for (int i = 0; i < kLanes; ++i)
        lane[i] = i;
    const bool zTest = j.zTest, zWrite = j.zTest && j.zWrite, dstAlpha = j.dstAlpha;
    const DWORD zFunc = j.zFunc;
    int64_t e[3];
    for (int i = 0; i < 3; ++i)
        e[i] = j.row[i] + j.stepY[i] * (j.yStart - j.minY);
    uint64_t written = 0;
    VI counts = {};
    const bool flatRowW = j.ddx[kIw] == 0.f;
    const uint32_t* const table = j.table;
    Lanes p;
    #pragma GCC unroll 11
    for (int k = 0; k < kSpanPlanes; ++k)
        p.ddx[k] = Splat(j.ddx[k]);
    for (int y = j.yStart; y <= j.yEnd; ++y) {
        int first, last;
        const bool any = RowRun(j.stepX, e, j.maxX - j.minX, &first, &last);
        for (int i = 0; i < 3; ++i)
            e[i] += j.stepY[i];
        if (!any)
            continue;
        first = std::max(first, j.xStart - j.minX);
        last = std::min(last, j.xEnd - j.minX);
        if (first > last)
            continue;
        if (kUnchanged && dstAlpha && !zTest) {
            written += (uint64_t)(last - first + 1);
            continue;
        }
        const int dy = y - j.minY;
        #pragma GCC unroll 11
        for (int k = 0; k < kSpanPlanes; ++k)
            p.row[k] = Splat(j.base[k] + j.ddy[k] * dy);
        // 1/w constant along the row (x + 0 * dxk is x): one division a row.
        const VF rowW = Splat(1.f / (j.base[kIw] + j.ddy[kIw] * dy));
        const size_t rowStart = (size_t)y * j.width + j.minX;
        for (int off = first; off <= last; off += kLanes) {
            const int n = std::min(kLanes, last - off + 1);
            uint32_t* cp = j.color + rowStart + off;
            float* dp = j.depth ? j.depth + rowStart + off : nullptr;
            VU dst = {};
            VF dz = {};
            if (n == kLanes) {
                memcpy(&dst, cp, sizeof dst);
                if (zTest)
                    memcpy(&dz, dp, sizeof dz);
            } else {
                for (int i = 0; i < n; ++i) {
                    dst[i] = cp[i];
                    if (zTest)
                        dz[i] = dp[i];
                }
            }
            const VF dxk = __builtin_convertvector(lane + off, VF);
            const VF z = p.row[kZ] + p.ddx[kZ] * dxk;
            VI m = lane < n;
            if (zTest)
                m &= DepthPasses(zFunc, z, dz);
            if (!AnyLane(m))
                continue;
            counts -= m;  // a passing lane is -1
            VU result;
            const VF w = flatRowW ? rowW : 1.f / (p.row[kIw] + p.ddx[kIw] * dxk);
            VI which;
            const bool hit = kTable && KeyHolds<kTex>(j, p, dxk, w, &which);
            if (hit && j.affine) {
                result = VU{};
                #pragma GCC unroll 4
                for (int k = 0; k < 4; ++k) {
                    const int shift = 24 - 8 * k;
                    result |= ((((dst >> shift) & 0xffu) * j.mul[k] + j.add[k]) >> kFitShift) << shift;
                }
            } else if (hit) {
                if (n == kLanes && !AnyLane(~m)) {
                    // The common case in place, without blends of vectors.
                    int32_t offset[kLanes];
                    memcpy(offset, &which, sizeof offset);
                    for (int i = 0; i < kLanes; ++i)
                        cp[i] = LookUp(table + offset[i], cp[i]);
                    if (zWrite)
                        memcpy(dp, &z, sizeof z);
                    continue;
                }
                result = LookUp(table, dst, which);
            } else if (kUnchanged) {
                if (dstAlpha)
                    continue;
                result = dst | 0xff000000u;
            } else {
                VF out[4];
                Shade<kTex, kSpecular>(j, p, dxk, w, out);
                if (kBlend) {
                    const VF da = dstAlpha ? Channel(dst, 24) : Splat(1.f);
                    const VF dc[4] = {Channel(dst, 16), Channel(dst, 8), Channel(dst, 0), da};
                    const VF fs = out[3], fd = 1.f - out[3];
                    #pragma GCC unroll 4
                    for (int c = 0; c < 4; ++c)
                        out[c] = out[c] * fs + dc[c] * fd;
                }
                result = (ToByte(out[3]) << 24) | (ToByte(out[0]) << 16) | (ToByte(out[1]) << 8) | ToByte(out[2]);
            }
            result = (VU)Select(m, (VI)result, (VI)dst);
            if (n == kLanes) {
                memcpy(cp, &result, sizeof result);
            } else {
                for (int i = 0; i < n; ++i)
                    cp[i] = result[i];
            }
            if (zWrite && !kUnchanged) {
                const VF nz = Select(m, z, dz);
                if (n == kLanes) {
                    memcpy(dp, &nz, sizeof nz);
                } else {
                    for (int i = 0; i < n; ++i)
                        dp[i] = nz[i];
                }
            }
        }
    }
    return written + SumLanes(counts);
}

template <int kTex>
inline __attribute__((always_inline)) uint64_t FillTexture(const SpanJob& j)
{
    if (j.table)
        return j.specular ? Fill<kTex, true, true, false, true>(j) : Fill<kTex, true, false, false, true>(j);
    if (j.blend)
        return j.specular ? Fill<kTex, true, true, false>(j) : Fill<kTex, true, false, false>(j);
    return j.specular ? Fill<kTex, false, true, false>(j) : Fill<kTex, false, false, false>(j);
}

}  // namespace

VELMORA_TARGET_CLONES("avx2", "default") uint64_t RunSpans(const SpanJob& j)
{
    if (j.unchanged)
        return Fill<kSpanColor, true, false, true>(j);
    switch (j.tex) {
    case kSpanUniformPoint:
        return FillTexture<kSpanUniformPoint>(j);
    case kSpanUniformLinear:
        return FillTexture<kSpanUniformLinear>(j);
    case kSpanSampledPoint:
        return FillTexture<kSpanSampledPoint>(j);
    case kSpanSampledLinear:
        return FillTexture<kSpanSampledLinear>(j);
    case kSpanCopy:
        return j.blend ? Fill<kSpanCopy, true, false, false>(j) : Fill<kSpanCopy, false, false, false>(j);
    default:
        return FillTexture<kSpanColor>(j);
    }
}

// The one texel every sample of a level gives, when all texels are alike
// (small levels only: the check runs once a draw).
bool UniformTexel(const TexLevel& level, uint32_t* texel)
{
    if (!level.bits || level.width <= 0 || level.height <= 0 || level.width * level.height > 4096)
        return false;
    const uint32_t first = FetchTexel(level, 0, 0);
    for (int y = 0; y < level.height; ++y)
        for (int x = 0; x < level.width; ++x)
            if (FetchTexel(level, x, y) != first)
                return false;
    *texel = first;
    return true;
}

namespace {

// What a source colour blends to over each destination byte, by the float
// formula of the other loops: a, r, g, b tables of 256 shifted bytes.
void BuildBlendTable(const float src[4], bool dstAlpha, uint32_t* table)
{
    const float fs = src[3], fd = 1.f - src[3];
    const int shifts[4] = {24, 16, 8, 0}, channel[4] = {3, 0, 1, 2};
    for (int k = 0; k < 4; ++k)
        for (int b = 0; b < 256; ++b) {
            const float dst = (k == 0 && !dstAlpha) ? 1.f : kByte.v[b];
            const float s = src[channel[k]];
            table[k * 256 + b] = vr::ToByte(s * fs + dst * fd) << shifts[k];
        }
}

// Fits floor((byte * mul + add) >> kFitShift) to channel k (0..3: a r g b)
// of `count` tables, exactly at all 256 bytes of each, searching around the
// slope the blend has; false when no fit is near.
bool FitTables(const uint32_t* tables, int count, int k, float slope, uint32_t* mul, uint32_t* add)
{
    const int shift = 24 - 8 * k;
    const int64_t one = int64_t(1) << kFitShift;
    const int64_t guess = (int64_t)llroundf(slope * (float)one);
    for (int tries = 0; tries <= 128; ++tries) {
        const int64_t a = guess + ((tries & 1) ? -(tries + 1) / 2 : tries / 2);
        if (a < 0 || a > one)
            continue;
        int64_t lo = 0, hi = one * 256;
        for (int t = 0; t < count && lo <= hi; ++t)
            for (int b = 0; b < 256; ++b) {
                const int64_t v = (tables[t * 1024 + k * 256 + b] >> shift) & 0xff;
                lo = std::max(lo, v * one - a * b);
                hi = std::min(hi, (v + 1) * one - 1 - a * b);
            }
        if (lo <= hi) {
            *mul = (uint32_t)a;
            *add = (uint32_t)lo;
            return true;
        }
    }
    return false;
}

std::atomic<bool> g_blendFits{true};

// A table costs about as much as blending a thousand pixels.
const int64_t kTableArea = 2048;

}  // namespace

// The colour a blended job hands to the blend when it is the same at every
// pixel (flat planes, 1/w constant, a uniform texture or none), as the lanes
// compute it; for a filtered texture, where its weights sum as at a texel's
// centre, which the lanes check.
static bool UniformJob(SpanJob& j)
{
    if (!j.blend || j.unchanged || (j.tex != kSpanColor && j.tex != kSpanUniformPoint && j.tex != kSpanUniformLinear))
        return false;
    const bool flatW = j.ddx[kIw] == 0.f && j.ddy[kIw] == 0.f && j.base[kIw] != 0.f;
    const int last = (j.specular && !j.specularZero) ? kSb : kA;
    for (int k = kR; k <= last; ++k)
        if (j.ddx[k] != 0.f || j.ddy[k] != 0.f)
            return false;
    for (int c = 0; c < 4; ++c)
        j.key[c] = j.texel[c] * 1.f + j.texel[c] * 0.f + j.texel[c] * 0.f + j.texel[c] * 0.f;
    j.spread = j.tex == kSpanUniformLinear && j.grey && j.texel[3] == j.texel[0] && j.key[0] > 0.f;
    return flatW;
}

// The source colour when the uniform texel filters to `filtered`.
static void UniformSource(const SpanJob& j, const float filtered[4], float src[4])
{
    const float w = 1.f / j.base[kIw];
    for (int c = 0; c < 4; ++c) {
        const float d = j.base[kR + c] * w;
        src[c] = j.tex == kSpanColor ? d : (j.tex == kSpanUniformPoint ? j.texel[c] : filtered[c]) * d;
    }
    if (j.specular)
        for (int c = 0; c < 3; ++c)
            src[c] = Clamp01(j.specularZero ? src[c] : src[c] + j.base[kSr + c] * w);
}

void SetBlendTableFits(bool enable)
{
    g_blendFits.store(enable);
}

bool Rasterizer::SetUpSpans(const Tri& t, SpanJob* job) const
{
    SpanJob& j = *job;
    const float *base = t.base, *ddx = t.ddx, *ddy = t.ddy;
    const int minX = t.minX, maxX = t.maxX, minY = t.minY, maxY = t.maxY;
    for (int i = 0; i < 3; ++i)
        j.row[i] = t.e[i].row, j.stepX[i] = t.e[i].stepX, j.stepY[i] = t.e[i].stepY;
    j.minX = minX, j.maxX = maxX, j.minY = minY, j.maxY = maxY;
    j.width = target_.width;
    j.color = target_.color;
    j.depth = target_.depth;
    const bool textured = spanMode_ != kSpanColor && spanMode_ != kSpanCopy;
    const bool copy = spanMode_ == kSpanCopy;
    const int ku = 2 + 8 + 2 * prep_[0].set;
    // Plane k of the job from plane `from` of the set-up; unused planes are 0.
    int from[kSpanPlanes] = {0, 1, 2, 3, 4, 5, 6, 7, 8, textured ? ku : -1, textured ? ku + 1 : -1};
    #pragma GCC unroll 4
    for (int c = 0; c < 4; ++c) {
        j.constant[c] = copy && spanSource_[c] < 0;
        j.value[c] = spanConst_[c];
        if (copy)
            from[kR + c] = spanSource_[c] >= 0 ? 2 + spanSource_[c] : -1;
    }
    if (copy)
        from[kSr] = from[kSg] = from[kSb] = -1;
    for (int k = 0; k < kSpanPlanes; ++k) {
        const int f = from[k];
        j.base[k] = f >= 0 ? base[f] : 0.f;
        j.ddx[k] = f >= 0 ? ddx[f] : 0.f;
        j.ddy[k] = f >= 0 ? ddy[f] : 0.f;
        // Infinities and NaNs leave the lanes differently from the scalar
        // conversions; those triangles take the general path.
        if (!std::isfinite(j.base[k]) || !std::isfinite(j.ddx[k]) || !std::isfinite(j.ddy[k]))
            return false;
    }
    j.zFunc = state_.zFunc;
    j.zTest = state_.zEnable;
    j.zWrite = state_.zWrite;
    j.dstAlpha = target_.hasAlpha;
    j.blend = state_.alphaBlend;
    // A pixel program's colour takes no specular sum.
    j.specular = state_.specularEnable && !copy;
    j.tex = spanMode_;
    memcpy(j.texel, spanTexel_, sizeof j.texel);
    j.grey = j.texel[0] == j.texel[1] && j.texel[1] == j.texel[2];
    j.texW = spanTexSize_[0], j.texH = spanTexSize_[1];
    j.level = spanLevel_;
    j.addressU = state_.stages[0].addressU, j.addressV = state_.stages[0].addressV;
    j.border = state_.stages[0].borderColor;
    // A source-alpha blend whose alpha is 0 at every pixel (the texture's or
    // the diffuse plane's) and a finite colour (1/w constant) leaves every
    // colour as it is; only depth writes and an undefined destination alpha
    // would change.
    const bool diffuseAlphaZero = copy ? (j.constant[3] && j.value[3] == 0.f)
                                       : (j.base[kA] == 0.f && j.ddx[kA] == 0.f && j.ddy[kA] == 0.f);
    const bool texelAlphaZero =
        (spanMode_ == kSpanUniformPoint || spanMode_ == kSpanUniformLinear) && spanTexel_[3] == 0.f;
    const bool flatW = j.ddx[kIw] == 0.f && j.ddy[kIw] == 0.f && j.base[kIw] != 0.f;
    j.specularZero = flatW;
    for (int k = kSr; k <= kSb; ++k)
        j.specularZero = j.specularZero && j.base[k] == 0.f && j.ddx[k] == 0.f && j.ddy[k] == 0.f;
    j.unchanged = j.blend && flatW && (diffuseAlphaZero || texelAlphaZero) && !(j.zTest && j.zWrite);
    j.xStart = minX, j.xEnd = maxX;
    j.yStart = minY, j.yEnd = maxY;
    j.table = nullptr;
    j.affine = false;
    return true;
}

namespace {

bool SameTable(const BlendTable& t, const SpanJob& j, const float src[4])
{
    return t.dstAlpha == j.dstAlpha && t.spread == j.spread && memcmp(t.src, src, sizeof t.src) == 0 &&
           memcmp(t.key, j.key, sizeof t.key) == 0;
}

// Every table a source colour blends through: the key's, and with `spread`
// those of the floats either side of it; with their linear fits if asked.
void MakeTable(const SpanJob& j, const float src[4], BlendTable& t)
{
    memcpy(t.src, src, sizeof t.src);
    memcpy(t.key, j.key, sizeof t.key);
    t.dstAlpha = j.dstAlpha, t.spread = j.spread;
    for (int k = 0; k < kKeys; ++k) {
        if (!j.spread && k != kKeyMid)
            continue;
        float filtered[4] = {j.key[0], j.key[1], j.key[2], j.key[3]};
        if (k != kKeyMid) {
            int32_t bits;
            memcpy(&bits, &j.key[0], 4);
            bits += k - kKeyMid;
            memcpy(&filtered[0], &bits, 4);
            filtered[1] = filtered[2] = filtered[3] = filtered[0];
        }
        float other[4];
        UniformSource(j, filtered, other);
        BuildBlendTable(other, j.dstAlpha, t.t + k * 1024);
    }
    t.affine = g_blendFits.load(std::memory_order_relaxed);
    const int count = j.spread ? kKeys : 1;
    const uint32_t* first = t.t + (j.spread ? 0 : kKeyMid * 1024);
    for (int k = 0; k < 4; ++k) {
        const float slope = (k == 0 && !j.dstAlpha) ? 0.f : 1.f - src[3];
        t.affine = t.affine && FitTables(first, count, k, slope, &t.mul[k], &t.add[k]);
    }
}

}  // namespace

Rasterizer::TableUse Rasterizer::SpanTable(SpanJob& j, float src[4]) const
{
    if (!UniformJob(j))
        return kNoTable;
    UniformSource(j, j.key, src);
    const FrameQueue& q = *queue_;
    if (!q.tables.empty() && SameTable(q.tables.back(), j, src))
        return kLastTable;
    return (int64_t)(j.maxX - j.minX + 1) * (j.maxY - j.minY + 1) >= kTableArea ? kNewTable : kNoTable;
}

void Rasterizer::TakeTable(SpanJob& j, const float src[4])
{
    FrameQueue& q = *queue_;
    const BlendTable* table = nullptr;
    if (!q.tables.empty() && SameTable(q.tables.back(), j, src)) {
        table = &q.tables.back();
    } else if ((int64_t)(j.maxX - j.minX + 1) * (j.maxY - j.minY + 1) >= kTableArea) {
        // Tables no queued command reads (drawn at once) make room.
        if (q.commands.empty())
            q.tables.clear();
        // The queue's tables never move: room for them is taken up front.
        if (q.tables.size() < q.tables.capacity()) {
            MakeTable(j, src, q.tables.emplace_back());
            table = &q.tables.back();
        }
    }
    if (table) {
        j.table = table->t;
        j.affine = table->affine;
        memcpy(j.mul, table->mul, sizeof j.mul);
        memcpy(j.add, table->add, sizeof j.add);
    }
}

}  // namespace vr
