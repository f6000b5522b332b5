// Feeding effect programs from the device's draw calls.
#include "fx_shader.h"

#include <velmora_platform.h>

#include <string.h>

#include <atomic>

namespace vd3d {

namespace {

std::atomic<uint64_t> g_stamps{0};
std::atomic<bool> g_vertexCache{true};

uint64_t KeyHash(const uint8_t* bytes, int count)
{
    uint64_t h = 0x243f6a8885a308d3ull;
    int i = 0;
    for (; i + 4 <= count; i += 4) {
        uint32_t w;
        memcpy(&w, bytes + i, 4);
        h = (h ^ w) * 0x9e3779b97f4a7c15ull;
    }
    for (; i < count; ++i)
        h = (h ^ bytes[i]) * 0x9e3779b97f4a7c15ull;
    return h ^ (h >> 31);
}

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

uint64_t NextShaderStamp()
{
    return ++g_stamps;
}

void ProgramLink::Setup(DWORD fvf, const vr::FvfLayout& layout, ProgramVertexShader* vs, ProgramPixelShader* ps)
{
    // One-triangle draws come in long runs with the same shaders: the wiring
    // is only built again when the format or a shader changes.
    const uint64_t vsSerial = vs ? vs->Serial() : 0, psSerial = ps ? ps->Serial() : 0;
    const uint64_t vsVersion = vs ? vs->Version() : 0;
    if (!built_ || fvf != fvf_ || vsSerial != vsSerial_ || psSerial != psSerial_) {
        Rebuild(fvf, layout, vs, ps);
        built_ = true;
        fvf_ = fvf;
        vsSerial_ = vsSerial;
        psSerial_ = psSerial;
        vsVersion_ = vsVersion;
        ++generation_;
    } else if (vsVersion != vsVersion_) {
        vsVersion_ = vsVersion;
        ++generation_;
    }
    vs_ = vs;
    ps_ = ps;
    keyBytes_ = layout.size;
    useCache_ = g_vertexCache.load(std::memory_order_relaxed) && vs && vs->Program().selfContained &&
                keyBytes_ > 0 && keyBytes_ <= kKeyBytes;
    if (useCache_ && cache_.empty())
        cache_.resize(kCacheEntries);
}

void ProgramLink::FindCopy()
{
    copy_ = false;
    if (!ps_)
        return;
    const fx::Program& p = ps_->Program();
    const std::vector<int>& src = p.colorSources;
    if (src.empty() || (int)src.size() != colorCount_)
        return;
    for (int i = 0; i < 4; ++i) {
        copyAttr_[i] = -1;
        copyValue_[i] = i == 3 ? 1.f : 0.f;
    }
    for (int i = 0; i < colorCount_; ++i) {
        const int s = src[(size_t)i];
        bool found = false;
        // The last input written wins, as in Shade.
        for (size_t k = ins_.size(); k-- > 0 && !found;)
            if (s >= ins_[k].frame && s < ins_[k].frame + ins_[k].count) {
                copyAttr_[i] = ins_[k].attr + (s - ins_[k].frame);
                found = true;
            }
        if (!found && s >= p.uniformFloats && s < p.workStart) {
            copyValue_[i] = p.initial[(size_t)s];
            found = true;
        }
        if (!found)
            return;  // a uniform, or a float nobody wrote
    }
    copy_ = true;
}

void ProgramLink::Rebuild(DWORD fvf, const vr::FvfLayout& layout, ProgramVertexShader* vs, ProgramPixelShader* ps)
{
    vs_ = vs;
    ps_ = ps;
    copy_ = false;
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
    FindCopy();
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
    CacheEntry* entry = nullptr;
    if (useCache_) {
        entry = &cache_[KeyHash(vertex, keyBytes_) & (kCacheEntries - 1)];
        if (entry->generation == generation_ && memcmp(entry->key, vertex, (size_t)keyBytes_) == 0) {
            *out = entry->out;
            return;
        }
    }
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
    bool cutShort = false;
    vs_->Program().Run(frame, &cutShort);
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
    if (entry && !cutShort) {
        entry->generation = generation_;
        memcpy(entry->key, vertex, (size_t)keyBytes_);
        entry->out = *out;
    }
}

bool ProgramLink::Copies(int source[4], float constant[4]) const
{
    if (!copy_)
        return false;
    for (int i = 0; i < 4; ++i)
        source[i] = copyAttr_[i], constant[i] = copyValue_[i];
    return true;
}

bool ProgramLink::Shade(const float* attr, float out[4])
{
    if (copy_) {
        for (int i = 0; i < 4; ++i)
            out[i] = copyAttr_[i] >= 0 ? attr[copyAttr_[i]] : copyValue_[i];
        return true;
    }
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

extern "C" void VelmoraSetVertexCache(BOOL enable)
{
    vd3d::g_vertexCache.store(enable != FALSE);
}
