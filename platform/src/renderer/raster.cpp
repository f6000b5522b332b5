// Triangle set-up (edge functions and attribute planes) and the walk over
// the covered pixels; lines step along their major axis.
#include "renderer/pixel_ops.h"

#include <math.h>
#include <string.h>

#include <algorithm>

namespace vr {

namespace {

const int kSubBits = 8;  // sub-pixel precision of the rasteriser
const float kSubScale = 256.f;

const int kPlaneLanes = 4;
const int kPaddedPlanes = (2 + kMaxVaryings + kPlaneLanes - 1) / kPlaneLanes * kPlaneLanes;
typedef float V4 __attribute__((vector_size(4 * kPlaneLanes)));

}  // namespace

// Depth, 1/w and the attributes of a vertex in plane order, zero-padded.
void Rasterizer::VertexPlanes(const ScreenVertex& v, int planes, int padded, float* out)
{
    out[0] = v.z;
    out[1] = v.iw;
    memcpy(out + 2, v.attr, sizeof(float) * (planes - 2));
    for (int k = planes; k < padded; ++k)
        out[k] = 0.f;
}

void Rasterizer::FillTriangle(const ScreenVertex& va, const ScreenVertex& vb0, const ScreenVertex& vc0)
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
    // Four planes at a time, each lane the scalar formula (the padding
    // lanes compute planes nobody reads).
    const int planes = 2 + attrs_, padded = (planes + kPlaneLanes - 1) / kPlaneLanes * kPlaneLanes;
    alignas(16) float f0[kPaddedPlanes], f1[kPaddedPlanes], f2[kPaddedPlanes];
    alignas(16) float base[kPaddedPlanes], ddx[kPaddedPlanes], ddy[kPaddedPlanes];
    VertexPlanes(*pa, planes, padded, f0);
    VertexPlanes(*pb, planes, padded, f1);
    VertexPlanes(*pc, planes, padded, f2);
    for (int k = 0; k < padded; k += kPlaneLanes) {
        V4 a, b, c;
        memcpy(&a, f0 + k, sizeof a);
        memcpy(&b, f1 + k, sizeof b);
        memcpy(&c, f2 + k, sizeof c);
        const V4 d1 = b - a, d2 = c - a;
        const V4 dx = (d1 * y2 - d2 * y1) / det;
        const V4 dy = (d2 * x1 - d1 * x2) / det;
        const V4 b0 = a + dx * ox + dy * oy;
        memcpy(ddx + k, &dx, sizeof dx);
        memcpy(ddy + k, &dy, sizeof dy);
        memcpy(base + k, &b0, sizeof b0);
    }

    if (spanMode_ != kSpanOff && FillSpans(e, minX, maxX, minY, maxY, base, ddx, ddy)) {
        CountTriangle(kPathSpans, false);
        return;
    }
    FlushSpans();  // triangles waiting for the span loops come first
    if (pixelBatches_) {
        CountTriangle(kPathProgramBatch, spanMode_ != kSpanOff);
        ProgramTriangle(e, minX, maxX, minY, maxY, base, ddx, ddy);
        return;
    }
    FlushPrograms();

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

    CountTriangle(fastModulate_ && !program ? kPathModulate : kPathGeneral, spanMode_ != kSpanOff);
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
        FastModulate(t);
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


// The general path's walk for a pixel program: the pixels that pass the
// depth test wait in lanes for one run a batch, each float as the walk above
// computes it. The pixels of one triangle never meet, so a pixel's depth
// test comes out the same before the others are written.
void Rasterizer::ProgramRows(const EdgeFn* e, int minX, int maxX, int minY, int y0, int y1, const float* base,
                             const float* ddx, const float* ddy, PixelLanes& lanes, int thread, uint64_t* written)
{
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

void Rasterizer::FillLine(const ScreenVertex& a, const ScreenVertex& b, bool lastPixel)
{
    Flush();
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

}  // namespace vr
