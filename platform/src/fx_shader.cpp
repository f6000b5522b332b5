// Feeding effect programs from the device's draw calls.
#include "fx_shader.h"

#include <string.h>

namespace vd3d {

namespace {

// Where the fixed pipeline keeps a semantic among the interpolated floats.
bool FixedSlot(int semantic, int* attr, int* count)
{
    if (semantic == fx::Semantic(fx::SemColor, 0))
        return *attr = 0, *count = 4, true;
    if (semantic == fx::Semantic(fx::SemColor, 1))
        return *attr = 4, *count = 4, true;
    if (semantic == fx::Semantic(fx::SemTexcoord, 0))
        return *attr = 8, *count = 2, true;
    if (semantic == fx::Semantic(fx::SemTexcoord, 1))
        return *attr = 10, *count = 2, true;
    return false;
}

}  // namespace

void ProgramLink::Setup(DWORD fvf, const vr::FvfLayout& layout, ProgramVertexShader* vs, ProgramPixelShader* ps)
{
    vs_ = vs;
    ps_ = ps;
    fetches_.clear();
    outs_.clear();
    ins_.clear();
    position_ = -1;
    color_ = -1;
    attrs_ = 4 + 4 + 2 * vr::kTexSets;
    defaultWhite_ = false;

    if (ps) {
        const auto& inputs = ps->Program().inputs;
        for (size_t k = 0; k < inputs.size(); ++k) {
            const fx::Binding& b = inputs[k];
            int attr = 0, count = 0;
            if (vs) {
                if (k >= (size_t)vr::kMaxVaryings / 4)
                    continue;
                attr = 4 * (int)k;
                count = b.count < 4 ? b.count : 4;
            } else if (!FixedSlot(b.semantic, &attr, &count)) {
                continue;
            }
            ins_.push_back(In{b.offset, count < b.count ? count : b.count, attr});
        }
        if (vs) {
            int n = (int)inputs.size();
            attrs_ = 4 * (n < vr::kMaxVaryings / 4 ? n : vr::kMaxVaryings / 4);
        }
        for (const fx::Binding& b : ps->Program().outputs)
            if (b.semantic == fx::Semantic(fx::SemColor, 0)) {
                color_ = b.offset;
                colorCount_ = b.count < 4 ? b.count : 4;
            }
    }
    if (!vs)
        return;

    for (const fx::Binding& b : vs->Program().inputs) {
        Fetch f = {b.offset, b.count < 4 ? b.count : 4, -1, 0, false, {0.f, 0.f, 0.f, 1.f}};
        int kind = b.semantic / 16, index = b.semantic % 16;
        if (kind == fx::SemPosition && index == 0) {
            f.source = layout.position;
            DWORD pos = fvf & D3DFVF_POSITION_MASK;
            f.sourceCount = (pos == D3DFVF_XYZRHW || pos == D3DFVF_XYZW) ? 4 : 3;
        } else if (kind == fx::SemNormal && index == 0 && layout.normal >= 0) {
            f.source = layout.normal;
            f.sourceCount = 3;
        } else if (kind == fx::SemColor && index <= 1) {
            int off = index == 0 ? layout.diffuse : layout.specular;
            if (off >= 0) {
                f.source = off;
                f.color = true;
            } else if (index == 0) {
                f.fallback[0] = f.fallback[1] = f.fallback[2] = 1.f;  // no vertex colour: white
            }
        } else if (kind == fx::SemTexcoord && index < layout.texCount && layout.tex[index] >= 0) {
            f.source = layout.tex[index];
            f.sourceCount = layout.texDims[index];
        }
        fetches_.push_back(f);
    }
    for (const fx::Binding& b : vs->Program().outputs) {
        if (b.semantic == fx::Semantic(fx::SemPosition, 0)) {
            position_ = b.offset;
            continue;
        }
        bool isColor = b.semantic / 16 == fx::SemColor;
        if (ps) {
            const auto& inputs = ps->Program().inputs;
            for (size_t k = 0; k < inputs.size() && k < (size_t)vr::kMaxVaryings / 4; ++k)
                if (inputs[k].semantic == b.semantic)
                    outs_.push_back(Out{b.offset, b.count < 4 ? b.count : 4, 4 * (int)k, isColor});
        } else {
            int attr, count;
            if (FixedSlot(b.semantic, &attr, &count))
                outs_.push_back(Out{b.offset, b.count < count ? b.count : count, attr, isColor});
        }
    }
    defaultWhite_ = !ps;
}

void ProgramLink::RunVertex(const uint8_t* vertex, vr::Vertex* out)
{
    float* frame = vs_->Frame();
    for (const Fetch& f : fetches_) {
        float v[4] = {f.fallback[0], f.fallback[1], f.fallback[2], f.fallback[3]};
        if (f.source >= 0) {
            if (f.color) {
                DWORD c;
                memcpy(&c, vertex + f.source, 4);
                v[0] = ((c >> 16) & 0xff) / 255.f;
                v[1] = ((c >> 8) & 0xff) / 255.f;
                v[2] = (c & 0xff) / 255.f;
                v[3] = ((c >> 24) & 0xff) / 255.f;
            } else {
                memcpy(v, vertex + f.source, 4 * (size_t)f.sourceCount);
            }
        }
        for (int i = 0; i < f.count; ++i)
            frame[f.frame + i] = v[i];
    }
    vs_->Program().Run(frame);
    float* varyings = out->diffuse;
    for (int i = 0; i < vr::kMaxVaryings; ++i)
        varyings[i] = 0.f;
    if (defaultWhite_)
        varyings[0] = varyings[1] = varyings[2] = varyings[3] = 1.f;
    if (position_ >= 0) {
        out->x = frame[position_];
        out->y = frame[position_ + 1];
        out->z = frame[position_ + 2];
        out->w = frame[position_ + 3];
    } else {
        out->x = out->y = out->z = 0.f;
        out->w = 1.f;
    }
    for (const Out& o : outs_)
        for (int i = 0; i < o.count; ++i) {
            float v = frame[o.frame + i];
            // Colour outputs of a 2.0 vertex shader are saturated.
            if (o.saturate)
                v = v < 0.f ? 0.f : (v > 1.f ? 1.f : v);
            varyings[o.attr + i] = v;
        }
}

bool ProgramLink::Shade(const float* attr, float out[4])
{
    float* frame = ps_->Frame();
    for (const In& in : ins_)
        for (int i = 0; i < in.count; ++i)
            frame[in.frame + i] = attr[in.attr + i];
    if (!ps_->Program().Run(frame))
        return false;
    out[0] = out[1] = out[2] = 0.f;
    out[3] = 1.f;
    for (int i = 0; i < colorCount_; ++i)
        out[i] = frame[color_ + i];
    return true;
}

}  // namespace vd3d
