// Clipping against the view volume (with a guard band) and the way from
// clip space to screen space; set-up follows in setup.cpp.
#include "renderer/raster.h"

#include <math.h>
#include <string.h>

namespace vr {

namespace {

const float kGuardBand = 16.f;  // clip x and y at this multiple of w

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

// The crossing point is always computed from the inside vertex towards the
// outside one, so that two triangles sharing an edge get identical points.
Vertex Intersect(const Vertex& in, float dIn, const Vertex& out, float dOut)
{
    return Lerp(in, out, dIn / (dIn - dOut));
}

const int kPlanes = 7;

// Inside (or on) every plane, as ClipPolygon tests it: PlaneDistance's
// sums, not negative (NaN counts as inside there too).
inline __attribute__((always_inline)) bool InsideVolume(const Vertex& v)
{
    const float band = kGuardBand * v.w;
    return !(v.z < 0.f) & !(v.w - v.z < 0.f) & !(v.x + band < 0.f) & !(band - v.x < 0.f) & !(v.y + band < 0.f) &
           !(band - v.y < 0.f) & !(v.w - 1e-6f < 0.f);
}

}  // namespace

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
    // Most triangles lie inside the volume: no copies for the clipper.
    const bool inside = pretransformed || (InsideVolume(a) && InsideVolume(b) && InsideVolume(c));
    if (inside) {
        ToScreen(a, pretransformed, &s[0]);
        ToScreen(b, pretransformed, &s[1]);
        ToScreen(c, pretransformed, &s[2]);
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
        FillTriangle(s[0], s[i], s[i + 1]);
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
    FillPoint(s);
}

}  // namespace vr
