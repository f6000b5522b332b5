// Set-up: the viewport that bounds the pixels; a triangle's edge functions
// and attribute planes, a line's and a point's screen values, each handed to
// the frame queue with its pixel path.
#include "renderer/pixel_ops.h"
#include "renderer/spans.h"

#include <math.h>
#include <string.h>

#include <algorithm>

namespace vr {

namespace {

const int kSubBits = 8;  // sub-pixel precision of the rasteriser
const float kSubScale = 256.f;

const int kPlaneLanes = 4;
typedef float V4 __attribute__((vector_size(4 * kPlaneLanes)));

}  // namespace

void Rasterizer::SetViewport(const Viewport& viewport)
{
    pipe_ = -1;
    pipeDirect_ = false;
    viewport_ = viewport;
    clipX0_ = std::max(0, viewport.x);
    clipY0_ = std::max(0, viewport.y);
    clipX1_ = std::min(target_.width, viewport.x + viewport.width);
    clipY1_ = std::min(target_.height, viewport.y + viewport.height);
}

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
    Tri t;
    t.minX = minX, t.maxX = maxX, t.minY = minY, t.maxY = maxY;
    EdgeFn* const e = t.e;
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
    // Four planes at a time, each lane the scalar formula (the padding
    // lanes compute planes nobody reads).
    const int planes = 2 + attrs_, padded = (planes + kPlaneLanes - 1) / kPlaneLanes * kPlaneLanes;
    alignas(16) float f0[kPaddedPlanes], f1[kPaddedPlanes], f2[kPaddedPlanes];
    float* const base = t.base;
    float* const ddx = t.ddx;
    float* const ddy = t.ddy;
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

    if (spanMode_ != kSpanOff) {
        SpanJob job;
        if (SetUpSpans(t, &job)) {
            CountTriangle(kPathSpans, false);
            QueueSpans(job);
            return;
        }
    }
    CountTriangle(path_, spanMode_ != kSpanOff);
    QueueTri(path_ == kPathProgramBatch ? kCmdProgram : kCmdGeneral, t);
}

void Rasterizer::FillLine(const ScreenVertex& a, const ScreenVertex& b, bool lastPixel)
{
    if (!(fabsf(a.x) < 1e7f && fabsf(a.y) < 1e7f && fabsf(b.x) < 1e7f && fabsf(b.y) < 1e7f))
        return;
    Line l;
    l.a = a, l.b = b, l.lastPixel = lastPixel;
    // The pixel centres it can reach, inside the viewport.
    const Rect bounds = {std::max(clipX0_, (int)floorf(std::min(a.x, b.x) + 0.5f) - 1),
                         std::max(clipY0_, (int)floorf(std::min(a.y, b.y) + 0.5f) - 1),
                         std::min(clipX1_ - 1, (int)floorf(std::max(a.x, b.x) + 0.5f) + 1),
                         std::min(clipY1_ - 1, (int)floorf(std::max(a.y, b.y) + 0.5f) + 1)};
    if (bounds.x0 > bounds.x1 || bounds.y0 > bounds.y1)
        return;
    QueueLine(l, bounds);
}

void Rasterizer::FillPoint(const ScreenVertex& s)
{
    if (!(fabsf(s.x) < 1e7f && fabsf(s.y) < 1e7f))
        return;
    int x = (int)floorf(s.x + 0.5f), y = (int)floorf(s.y + 0.5f);
    if (x < clipX0_ || x >= clipX1_ || y < clipY0_ || y >= clipY1_)
        return;
    Dot d;
    d.x = x, d.y = y, d.z = s.z;
    for (int j = 0; j < attrs_; ++j)
        d.attr[j] = s.attr[j] / s.iw;
    QueueDot(d);
}

}  // namespace vr
