// Feeding effect programs from the device's draw calls.
#include "fx/shader.h"

#include "renderer/workers.h"

#include <velmora_platform.h>

#include <string.h>

#include <algorithm>
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
    useCache_ = g_vertexCache.load(std::memory_order_relaxed) && vs && vs->Program().selfContained &&
                keyBytes_ <= kKeyBytes;
    if (useCache_ && cache_.empty()) {
        cache_.resize(kCacheEntries);
        cached_.resize(kCacheEntries);
        aliases_.reserve(kCacheEntries);
    }
}

void ProgramLink::FindCopy()
{
    PixelWiring& w = pixel_;
    w.copy = false;
    if (!ps_)
        return;
    const fx::Program& p = ps_->Program();
    const std::vector<int>& src = p.colorSources;
    if (src.empty() || (int)src.size() != w.colorCount)
        return;
    for (int i = 0; i < 4; ++i) {
        w.copyAttr[i] = -1;
        w.copyValue[i] = i == 3 ? 1.f : 0.f;
    }
    for (int i = 0; i < w.colorCount; ++i) {
        const int s = src[(size_t)i];
        bool found = false;
        // The last input written wins, as in Shade.
        for (size_t k = w.ins.size(); k-- > 0 && !found;)
            if (s >= w.ins[k].frame && s < w.ins[k].frame + w.ins[k].count) {
                w.copyAttr[i] = w.ins[k].attr + (s - w.ins[k].frame);
                found = true;
            }
        if (!found && s >= p.uniformFloats && s < p.workStart) {
            w.copyValue[i] = p.initial[(size_t)s];
            found = true;
        }
        if (!found)
            return;  // a uniform, or a float nobody wrote
    }
    w.copy = true;
}

void ProgramLink::FindPixelBatch()
{
    pixel_.batches = false;
    pixel_.reads = 0;
    if (!ps_ || pixel_.copy || pixel_.color < 0 || !ps_->Program().selfContained)
        return;
    // A batch starts from the uniforms alone: every input float the program
    // may read must come from the rasteriser, as it does for each run.
    for (const fx::Binding& b : ps_->Program().inputs) {
        bool fed = false;
        for (const In& in : pixel_.ins)
            fed = fed || (in.frame == b.offset && in.count >= std::min(b.count, 4));
        if (!fed)
            return;
    }
    for (const In& in : pixel_.ins)
        pixel_.reads = std::max(pixel_.reads, in.attr + in.count);
    pixel_.batches = true;
}

void ProgramLink::Rebuild(DWORD fvf, const vr::FvfLayout& layout, ProgramVertexShader* vs, ProgramPixelShader* ps)
{
    vs_ = vs;
    ps_ = ps;
    pixelWiring_ = NextShaderStamp();
    pixel_.copy = false;
    fetches_.clear();
    outs_.clear();
    pixel_.ins.clear();
    position_ = -1;
    pixel_.color = -1;
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
            pixel_.ins.push_back(In{b.offset, count < b.count ? count : b.count, attr});
        }
        if (vs) {
            int n = (int)inputs.size();
            attrs_ = 4 * (n < vr::kMaxVaryings / 4 ? n : vr::kMaxVaryings / 4);
        }
        for (const fx::Binding& b : ps->Program().outputs)
            if (b.semantic == fx::Semantic(fx::SemColor, 0)) {
                pixel_.color = b.offset;
                pixel_.colorCount = b.count < 4 ? b.count : 4;
            }
    }
    FindCopy();
    FindPixelBatch();
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
    // The key of reuse: the vertex bytes behind the input floats the program
    // reads, so that vertices differing only in other bytes share a run.
    keySpans_.clear();
    keyBytes_ = 0;
    const std::vector<uint8_t>& read = vs->Program().inputsRead;
    for (size_t k = 0; k < fetches_.size(); ++k) {
        const Fetch& f = fetches_[k];
        const unsigned mask = k < read.size() ? read[k] : 0xfu;
        if (f.source < 0)
            continue;
        for (int i = 0; i < (f.color ? 1 : std::min(f.count, f.sourceCount)); ++i) {
            const bool used = f.color ? (mask & ((1u << f.count) - 1)) != 0 : ((mask >> i) & 1) != 0;
            if (!used)
                continue;
            const int at = f.source + 4 * i;
            if (!keySpans_.empty() && keySpans_.back().offset + keySpans_.back().bytes == at)
                keySpans_.back().bytes += 4;
            else
                keySpans_.push_back(Span{at, 4});
            keyBytes_ += 4;
        }
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

void ProgramLink::Fill(const uint8_t* vertex, float* f, int step) const
{
    for (const Fetch& fe : fetches_) {
        float v[4] = {fe.fallback[0], fe.fallback[1], fe.fallback[2], fe.fallback[3]};
        if (fe.source >= 0) {
            if (fe.color) {
                DWORD c;
                memcpy(&c, vertex + fe.source, 4);
                v[0] = ((c >> 16) & 0xff) / 255.f;
                v[1] = ((c >> 8) & 0xff) / 255.f;
                v[2] = (c & 0xff) / 255.f;
                v[3] = ((c >> 24) & 0xff) / 255.f;
            } else {
                memcpy(v, vertex + fe.source, 4 * (size_t)fe.sourceCount);
            }
        }
        for (int i = 0; i < fe.count; ++i)
            f[(fe.frame + i) * step] = v[i];
    }
}

void ProgramLink::Emit(const float* f, int step, vr::Vertex* out) const
{
    float* varyings = out->diffuse;
    for (int i = 0; i < vr::kMaxVaryings; ++i)
        varyings[i] = 0.f;
    if (defaultWhite_)
        varyings[0] = varyings[1] = varyings[2] = varyings[3] = 1.f;
    if (position_ >= 0) {
        out->x = f[position_ * step];
        out->y = f[(position_ + 1) * step];
        out->z = f[(position_ + 2) * step];
        out->w = f[(position_ + 3) * step];
    } else {
        out->x = out->y = out->z = 0.f;
        out->w = 1.f;
    }
    for (const Out& o : outs_)
        for (int i = 0; i < o.count; ++i) {
            float v = f[(o.frame + i) * step];
            // Colour outputs of a 2.0 vertex shader are saturated.
            if (o.saturate)
                v = v < 0.f ? 0.f : (v > 1.f ? 1.f : v);
            varyings[o.attr + i] = v;
        }
}

int ProgramLink::Key(const uint8_t* vertex, uint8_t* key) const
{
    int n = 0;
    for (const Span& sp : keySpans_) {
        memcpy(key + n, vertex + sp.offset, (size_t)sp.bytes);
        n += sp.bytes;
    }
    return (int)(KeyHash(key, n) & (kCacheEntries - 1));
}

void ProgramLink::RunVertex(const uint8_t* vertex, vr::Vertex* out)
{
    float* frame = vs_->Frame();
    Fill(vertex, frame, 1);
    vs_->Program().Run(frame);
    Emit(frame, 1, out);
}

void ProgramLink::ShadeVertices(const uint8_t* vertices, UINT stride, const uint32_t* indices, int count,
                                vr::Vertex* out, vr::Workers* workers)
{
    // Below several batches the workers cost more than they save.
    workers_ = workers && count >= kMinShared * fx::Batch::kLanes ? workers : nullptr;
    groupLanes_ = workers_ ? kGroupLanes : fx::Batch::kLanes;
    const size_t threads = workers_ ? (size_t)workers_->Threads() : 1;
    if (batches_.size() < threads)
        batches_.resize(threads);
    uint8_t key[kKeyBytes];
    for (int k = 0; k < count; ++k) {
        const uint32_t index = indices[k];
        const uint8_t* vertex = vertices + (size_t)index * stride;
        const int slot = Key(vertex, key);
        CacheEntry& e = cache_[(size_t)slot];
        if (e.generation == generation_ && memcmp(e.key, key, (size_t)keyBytes_) == 0) {
            if (e.lane >= 0)
                aliases_.push_back(Alias{index, e.lane});
            else
                out[index] = cached_[(size_t)slot];
            continue;
        }
        // A new vertex: it takes the entry (an equal one later in the group
        // waits for this lane) and the next lane.
        e.generation = generation_;
        e.lane = lanes_;
        memcpy(e.key, key, (size_t)keyBytes_);
        laneVertex_[lanes_] = vertex;
        laneIndex_[lanes_] = index;
        laneEntry_[lanes_] = slot;
        if (++lanes_ == groupLanes_)
            Flush(out);
    }
    Flush(out);
}

void ProgramLink::LoadBatch(ThreadBatch& tb)
{
    if (tb.generation != generation_) {
        tb.batch.Load(vs_->Program(), vs_->Frame());
        tb.generation = generation_;
    }
}

bool ProgramLink::RunChunk(int chunk, int lanes, vr::Vertex* out, bool* cutShort)
{
    *cutShort = false;
    // Below a few lanes one run a vertex costs less than a batch.
    const int kMinLanes = 4;
    const int first = chunk * fx::Batch::kLanes;
    const int n = std::min(fx::Batch::kLanes, lanes - first);
    if (n < kMinLanes)
        return false;
    ThreadBatch& tb = batches_[(size_t)(workers_ ? vr::Workers::Current() : 0)];
    LoadBatch(tb);
    for (int l = 0; l < n; ++l)
        Fill(laneVertex_[first + l], tb.batch.Float(0) + l, fx::Batch::kLanes);
    if (!tb.batch.Run(n, cutShort))
        return false;
    for (int l = 0; l < n; ++l)
        Emit(tb.batch.Float(0) + l, fx::Batch::kLanes, &out[laneIndex_[first + l]]);
    return true;
}

void ProgramLink::Flush(vr::Vertex* out)
{
    const int n = lanes_;
    lanes_ = 0;
    if (n == 0)
        return;
    const int chunks = (n + fx::Batch::kLanes - 1) / fx::Batch::kLanes;
    if (workers_ && chunks >= kMinShared) {
        // Every thread's batch gets the uniforms here, whichever thread
        // takes which batches.
        for (int t = 0; t < workers_->Threads(); ++t)
            LoadBatch(batches_[(size_t)t]);
        struct Job {
            ProgramLink* link;
            int lanes;
            vr::Vertex* out;
        } job = {this, n, out};
        // Each batch reads the frame's uniforms and writes its own lanes'
        // vertices only.
        workers_->Run(chunks, [](void* context, int chunk) {
            Job& j = *(Job*)context;
            j.link->chunkBatched_[chunk] = j.link->RunChunk(chunk, j.lanes, j.out, &j.link->chunkCutShort_[chunk]);
        }, &job);
    } else {
        for (int c = 0; c < chunks; ++c)
            chunkBatched_[c] = RunChunk(c, n, out, &chunkCutShort_[c]);
    }
    float* frame = vs_->Frame();
    for (int l = 0; l < n; ++l) {
        const int chunk = l / fx::Batch::kLanes;
        bool cutShort = chunkBatched_[chunk] && chunkCutShort_[chunk];
        if (!chunkBatched_[chunk]) {
            Fill(laneVertex_[l], frame, 1);
            vs_->Program().Run(frame, &cutShort);
            Emit(frame, 1, &out[laneIndex_[l]]);
        }
        // The entry is kept unless a later vertex of the group took it, or
        // the run was cut short in a runaway loop.
        CacheEntry& e = cache_[(size_t)laneEntry_[l]];
        if (e.generation == generation_ && e.lane == l) {
            e.lane = -1;
            if (cutShort)
                e.generation = 0;
            else
                cached_[(size_t)laneEntry_[l]] = out[laneIndex_[l]];
        }
    }
    for (const Alias& a : aliases_)
        out[a.index] = out[laneIndex_[a.lane]];
    aliases_.clear();
}

bool ProgramLink::Copies(int source[4], float constant[4]) const
{
    if (!pixel_.copy)
        return false;
    for (int i = 0; i < 4; ++i)
        source[i] = pixel_.copyAttr[i], constant[i] = pixel_.copyValue[i];
    return true;
}

bool ProgramLink::Shade(const float* attr, float out[4])
{
    return ShadeIn(pixel_, ps_->Program(), ps_->Frame(), attr, out);
}

bool ProgramLink::ShadeIn(const PixelWiring& w, const fx::Program& program, float* frame, const float* attr,
                          float out[4])
{
    if (w.copy) {
        for (int i = 0; i < 4; ++i)
            out[i] = w.copyAttr[i] >= 0 ? attr[w.copyAttr[i]] : w.copyValue[i];
        return true;
    }
    for (const In& in : w.ins)
        for (int i = 0; i < in.count; ++i)
            frame[in.frame + i] = attr[in.attr + i];
    if (!program.Run(frame))
        return false;
    out[0] = out[1] = out[2] = 0.f;
    out[3] = 1.f;
    for (int i = 0; i < w.colorCount; ++i)
        out[i] = frame[w.color + i];
    return true;
}

template <class Frame, class GetBatch>
void ProgramLink::ShadeBatchIn(const PixelWiring& w, const fx::Program& program, Frame frame, GetBatch batch,
                               const float* attr, int attrs, int count, float* out, bool* keep)
{
    auto oneByOne = [&] {
        float* const f = frame();
        ShadeOneByOne(attr, attrs, count, out, keep,
                      [&w, &program, f](const float* a, float* c) { return ShadeIn(w, program, f, a, c); });
    };
    // Below a few pixels one run a pixel costs less than a batch.
    const int kMinLanes = 4;
    const int W = fx::Batch::kLanes;
    static_assert(fx::Batch::kLanes == vr::PixelProgram::kLanes, "a batch of pixels is one of the interpreter");
    if (!w.batches || count < kMinLanes || count > W || w.reads > attrs) {
        oneByOne();
        return;
    }
    fx::Batch& b = batch();
    // Whole rows: the lanes past `count` compute what nobody reads.
    float* const lanes = b.Float(0);
    for (const In& in : w.ins)
        for (int i = 0; i < in.count; ++i)
            memcpy(lanes + (size_t)(in.frame + i) * W, attr + (size_t)(in.attr + i) * W, sizeof(float) * W);
    // Lanes that branch apart: one run a pixel instead. (A run cut short
    // in a runaway loop gives what runs one by one would.)
    if (!b.Run(count)) {
        oneByOne();
        return;
    }
    for (int c = 0; c < 4; ++c) {
        if (c < w.colorCount) {
            memcpy(out + c * W, lanes + (size_t)(w.color + c) * W, sizeof(float) * W);
        } else {
            for (int l = 0; l < W; ++l)
                out[c * W + l] = c == 3 ? 1.f : 0.f;
        }
    }
    for (int l = 0; l < count; ++l)
        keep[l] = true;
}

void ProgramLink::ShadeBatch(const float* attr, int attrs, int count, float* out, bool* keep)
{
    // The drawing thread's: the shader's own frame.
    ShadeBatchIn(
        pixel_, ps_->Program(), [this] { return ps_->Frame(); },
        [this]() -> fx::Batch& {
            if (pixelVersion_ != ps_->Version()) {
                pixelBatch_.Load(ps_->Program(), ps_->Frame());
                pixelVersion_ = ps_->Version();
            }
            return pixelBatch_;
        },
        attr, attrs, count, out, keep);
}

ProgramLink::Frozen* ProgramLink::FrozenAt(int frozen) const
{
    // Chunk c starts at kFrozenFirst * (2^c - 1).
    const unsigned k = (unsigned)frozen / kFrozenFirst + 1;
    const int c = 31 - __builtin_clz(k);
    return &frozenChunks_[c][(size_t)frozen - (size_t)kFrozenFirst * ((1u << c) - 1)];
}

int ProgramLink::Freeze()
{
    // A program that carries values from pixel to pixel is drawn in order.
    if (!ps_ || !(pixel_.copy || ps_->Program().selfContained))
        return -1;
    if (frozenCount_ > 0) {
        const Frozen& last = *FrozenAt(frozenCount_ - 1);
        if (last.serial == ps_->Serial() && last.version == ps_->Version() && last.wiringStamp == pixelWiring_)
            return frozenCount_ - 1;
    }
    // Past all the room (millions of draws), drawn at once as one that
    // cannot freeze.
    const int c = 31 - __builtin_clz((unsigned)frozenCount_ / kFrozenFirst + 1);
    if (c >= kFrozenChunks)
        return -1;
    if (!frozenChunks_[c])
        frozenChunks_[c].reset(new Frozen[(size_t)kFrozenFirst << c]);
    Frozen& f = *FrozenAt(frozenCount_);
    f.program = ps_->Shared();
    if (pixel_.copy)
        f.frame.clear();
    else
        f.frame.assign(ps_->Frame(), ps_->Frame() + ps_->Program().initial.size());
    f.wiring = pixel_;
    f.serial = ps_->Serial();
    f.version = ps_->Version();
    f.wiringStamp = pixelWiring_;
    f.stamp = ++frozenStamps_;
    return frozenCount_++;
}

void ProgramLink::Thaw()
{
    for (int k = 0; k < frozenCount_; ++k)
        FrozenAt(k)->program.reset();
    frozenCount_ = 0;
}

void ProgramLink::ReadyThreads(int threads)
{
    if (frozenThreads_.size() < (size_t)threads)
        frozenThreads_.resize((size_t)threads);
}

bool ProgramLink::ShadeFrozen(int frozen, int thread, const float* attr, float out[4])
{
    const Frozen& f = *FrozenAt(frozen);
    FrozenThread& t = frozenThreads_[(size_t)thread];
    return ShadeIn(f.wiring, *f.program, FrozenFrame(f, t), attr, out);
}

void ProgramLink::ShadeBatchFrozen(int frozen, int thread, const float* attr, int attrs, int count, float* out,
                                   bool* keep)
{
    const Frozen& f = *FrozenAt(frozen);
    FrozenThread& t = frozenThreads_[(size_t)thread];
    ShadeBatchIn(
        f.wiring, *f.program, [&f, &t] { return FrozenFrame(f, t); },
        [&f, &t]() -> fx::Batch& {
            if (t.batchStamp != f.stamp) {
                t.batch.Load(*f.program, f.frame.data());
                t.batchStamp = f.stamp;
            }
            return t.batch;
        },
        attr, attrs, count, out, keep);
}

float* ProgramLink::FrozenFrame(const Frozen& f, FrozenThread& t)
{
    // Loaded once a freeze: the floats a run leaves behind are written
    // before they are read by the next (the program is self-contained).
    if (t.frameStamp != f.stamp) {
        t.frame.assign(f.frame.begin(), f.frame.end());
        t.frameStamp = f.stamp;
    }
    return t.frame.data();
}

}  // namespace vd3d

extern "C" void VelmoraSetVertexCacheAndBatching(BOOL enable)
{
    vd3d::g_vertexCache.store(enable != FALSE);
}
