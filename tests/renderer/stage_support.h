// A small target and plain pixel state for driving the renderer's stages
// directly, without a device.
#ifndef VELMORA_RENDERER_STAGE_SUPPORT_H
#define VELMORA_RENDERER_STAGE_SUPPORT_H

#include "renderer/raster.h"

#include <string.h>

#include <vector>

namespace stagetest {

struct Canvas {
    int width, height;
    std::vector<uint32_t> color;
    std::vector<float> depth;
    vr::Rasterizer raster;

    Canvas(int w, int h, uint32_t clear = 0xff000000u) : width(w), height(h), color((size_t)w * h, clear),
                                                         depth((size_t)w * h, 1.f)
    {
        vr::Target t;
        t.color = color.data();
        t.depth = depth.data();
        t.width = w;
        t.height = h;
        raster.SetTarget(t);
        raster.SetViewport({0, 0, w, h, 0.f, 1.f});
    }
    uint64_t Written()
    {
        raster.Flush();
        return raster.pixelsWritten;
    }
    uint32_t At(int x, int y)
    {
        raster.Flush();
        return color[(size_t)y * width + x];
    }
};

// No stages, no depth, no blending, no culling: the diffuse colour lands.
inline vr::PixelState PlainState()
{
    vr::PixelState ps;
    memset(&ps, 0, sizeof ps);
    ps.zFunc = D3DCMP_LESSEQUAL;
    ps.srcBlend = D3DBLEND_ONE;
    ps.destBlend = D3DBLEND_ZERO;
    ps.blendOp = D3DBLENDOP_ADD;
    ps.alphaFunc = D3DCMP_ALWAYS;
    ps.colorWriteMask = 0xF;
    ps.cullMode = D3DCULL_NONE;
    ps.textureFactor = 0xffffffff;
    return ps;
}

// A screen-space vertex with a colour (channels 0..1).
inline vr::Vertex ScreenVertex(float x, float y, float z, float r, float g, float b, float a = 1.f)
{
    vr::Vertex v;
    memset(&v, 0, sizeof v);
    v.x = x, v.y = y, v.z = z, v.w = 1.f;
    v.diffuse[0] = r, v.diffuse[1] = g, v.diffuse[2] = b, v.diffuse[3] = a;
    return v;
}

}  // namespace stagetest

#endif
