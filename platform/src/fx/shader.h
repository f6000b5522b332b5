// Shader objects made from compiled effect programs, and how the device feeds
// them: vertex inputs from the vertex format by semantic, outputs to the
// interpolated floats of the rasteriser, pixel inputs back from those.
#ifndef VELMORA_FX_SHADER_H
#define VELMORA_FX_SHADER_H

#include <d3d9.h>

#include "fx/program.h"
#include "renderer/raster.h"

#include <string.h>

#include <memory>
#include <vector>

namespace vd3d {

// Numbers that never repeat in the process: shader identities and the
// versions of their uniform values.
uint64_t NextShaderStamp();

// Runs the draws a device holds back, before what they read changes.
void FlushDeviceDraws(IDirect3DDevice9* device);

template <class Interface>
class ProgramShader final : public Interface {
public:
    ProgramShader(IDirect3DDevice9* device, std::shared_ptr<const fx::Program> program)
        : device_(device), program_(std::move(program)), frame_(program_->initial), serial_(NextShaderStamp()),
          version_(serial_)
    {
    }

    HRESULT WINAPI QueryInterface(REFIID riid, void** ppvObj) override
    {
        if (!ppvObj)
            return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown)) {
            AddRef();
            *ppvObj = static_cast<Interface*>(this);
            return S_OK;
        }
        *ppvObj = nullptr;
        return E_NOINTERFACE;
    }
    ULONG WINAPI AddRef() override { return ++refs_; }
    ULONG WINAPI Release() override
    {
        ULONG n = --refs_;
        if (n == 0)
            delete this;
        return n;
    }
    HRESULT WINAPI GetDevice(IDirect3DDevice9** ppDevice) override
    {
        if (!ppDevice)
            return D3DERR_INVALIDCALL;
        device_->AddRef();
        *ppDevice = device_;
        return D3D_OK;
    }

    // Copies the effect's parameter values into the program's frame.
    void SetUniforms(const float* values, size_t count)
    {
        size_t n = count < (size_t)program_->uniformFloats ? count : (size_t)program_->uniformFloats;
        if (n == 0 || memcmp(frame_.data(), values, n * sizeof(float)) == 0)
            return;
        FlushDeviceDraws(device_);
        for (size_t i = 0; i < n; ++i)
            frame_[i] = values[i];
        version_ = NextShaderStamp();
    }
    const fx::Program& Program() const { return *program_; }
    // What keeps the program alive for pixels drawn after a release.
    const std::shared_ptr<const fx::Program>& Shared() const { return program_; }
    float* Frame() { return frame_.data(); }
    uint64_t Serial() const { return serial_; }
    // Changes whenever the uniform values do.
    uint64_t Version() const { return version_; }

private:
    ~ProgramShader() = default;

    IDirect3DDevice9* device_;
    std::shared_ptr<const fx::Program> program_;
    std::vector<float> frame_;
    uint64_t serial_, version_;
    ULONG refs_ = 1;
};

using ProgramVertexShader = ProgramShader<IDirect3DVertexShader9>;
using ProgramPixelShader = ProgramShader<IDirect3DPixelShader9>;

// The wiring of one draw call between the vertex format, the programs and
// the rasteriser.
class ProgramLink final : public vr::PixelProgram {
public:
    // Either program may be null (the fixed stage runs in its place).
    void Setup(DWORD fvf, const vr::FvfLayout& layout, ProgramVertexShader* vs, ProgramPixelShader* ps);
    // Runs the vertex program for one vertex (no reuse).
    void RunVertex(const uint8_t* vertex, vr::Vertex* out);
    // True when the vertex program's runs may be reused and batched: the
    // device then shades a draw's vertices up front with ShadeVertices.
    bool Reuses() const { return useCache_; }
    // Shades the vertices `indices[0..count)` (each once) of `vertices`
    // into `out[index]`: reused where an equal vertex was shaded with the
    // same constants, the rest in batches, shared among `workers` if any.
    void ShadeVertices(const uint8_t* vertices, UINT stride, const uint32_t* indices, int count, vr::Vertex* out,
                       vr::Workers* workers = nullptr);
    bool Shade(const float* attr, float out[4]) override;
    void ShadeBatch(const float* attr, int attrs, int count, float* out, bool* keep) override;
    // Freeze, Thaw and ReadyThreads are the drawing thread's; Thaw and
    // ReadyThreads only while no thread shades frozen. A handle reads none
    // of the link's own members, so that the link may be wired again for
    // other draws while it waits.
    int Freeze() override;
    void Thaw() override;
    void ReadyThreads(int threads) override;
    bool ShadeFrozen(int frozen, int thread, const float* attr, float out[4]) override;
    void ShadeBatchFrozen(int frozen, int thread, const float* attr, int attrs, int count, float* out,
                          bool* keep) override;
    bool Copies(int source[4], float constant[4]) const override;
    int Attrs() const { return attrs_; }

private:
    void Rebuild(DWORD fvf, const vr::FvfLayout& layout, ProgramVertexShader* vs, ProgramPixelShader* ps);
    void FindCopy();
    void FindPixelBatch();

    // Float k of the program's frame at f[k * step]: one vertex's frame
    // (step 1) or a lane of a batch (step Batch::kLanes).
    void Fill(const uint8_t* vertex, float* f, int step) const;
    void Emit(const float* f, int step, vr::Vertex* out) const;
    int Key(const uint8_t* vertex, uint8_t* key) const;
    void Flush(vr::Vertex* out);
    // Runs the batch of lanes [16 * chunk, ...) of the group; false when it
    // is left to single runs. `cutShort` as Batch::Run sets it.
    bool RunChunk(int chunk, int lanes, vr::Vertex* out, bool* cutShort);

    // Vertices already shaded with the same program, uniforms and format, as
    // a graphics card's post-transform cache keeps them: found by the vertex
    // bytes the program reads, exact because only self-contained programs
    // use it.
    static const int kCacheEntries = 4096;  // a power of two
    static const int kKeyBytes = 64;
    struct CacheEntry {
        uint64_t generation;
        int lane;  // >= 0: still being shaded in that lane of the batch
        uint8_t key[kKeyBytes];
    };
    std::vector<CacheEntry> cache_;
    std::vector<vr::Vertex> cached_;  // the shaded vertex of each entry
    uint64_t generation_ = 0;  // entries of other generations are stale
    bool useCache_ = false;
    // The vertex bytes a run reads: (offset, length) spans.
    struct Span {
        int offset, bytes;
    };
    std::vector<Span> keySpans_;
    int keyBytes_ = 0;
    // The group being filled: the vertex and the cache entry of each lane,
    // and vertices equal to a lane's, to be copied when it is done. One
    // thread shades a batch of lanes at a time; with workers, a group of
    // batches is shared among them, each thread with its own batch.
    static const int kGroupLanes = fx::Batch::kLanes * 64;
    struct ThreadBatch {
        fx::Batch batch;
        uint64_t generation = 0;
    };
    static const int kMinShared = 8;  // batches worth sharing
    std::vector<ThreadBatch> batches_;
    void LoadBatch(ThreadBatch& tb);
    vr::Workers* workers_ = nullptr;
    int groupLanes_ = fx::Batch::kLanes;
    const uint8_t* laneVertex_[kGroupLanes];
    uint32_t laneIndex_[kGroupLanes];
    int laneEntry_[kGroupLanes];
    bool chunkBatched_[kGroupLanes / fx::Batch::kLanes];
    bool chunkCutShort_[kGroupLanes / fx::Batch::kLanes];  // of those batched
    int lanes_ = 0;
    struct Alias {
        uint32_t index;
        int lane;
    };
    std::vector<Alias> aliases_;
    // What the wiring was built for.
    DWORD fvf_ = 0;
    uint64_t vsSerial_ = 0, vsVersion_ = 0, psSerial_ = 0;
    bool built_ = false;

    struct In {
        int frame, count, attr;
    };
    // How the pixel program is fed and read: what a frozen program keeps.
    struct PixelWiring {
        std::vector<In> ins;
        int color = -1, colorCount = 0;
        // A program that only copies: each colour float is an interpolated
        // float (copyAttr >= 0) or a constant.
        bool copy = false;
        int copyAttr[4];
        float copyValue[4];
        // Pixels shaded in batches: for a self-contained program whose every
        // input float is fed from the interpolated floats [0, reads).
        bool batches = false;
        int reads = 0;
    };
    PixelWiring pixel_;
    uint64_t pixelWiring_ = 0;  // stamped again by each Rebuild
    static bool ShadeIn(const PixelWiring& w, const fx::Program& program, float* frame, const float* attr,
                        float out[4]);
    // ShadeBatch for a wiring: frame() gives the frame of single runs,
    // batch() a batch loaded with the uniforms.
    template <class Frame, class GetBatch>
    static void ShadeBatchIn(const PixelWiring& w, const fx::Program& program, Frame frame, GetBatch batch,
                             const float* attr, int attrs, int count, float* out, bool* keep);

    // Live batches, like the frame of the scalar runs, used by the drawing
    // thread alone.
    fx::Batch pixelBatch_;
    uint64_t pixelVersion_ = 0;  // the uniforms pixelBatch_ holds

    // Frozen programs, in chunks that never move (chunk c holds
    // kFrozenFirst << c), so that a new freeze leaves the ones being read
    // alone. Entries and their vectors are kept across Thaw for reuse.
    struct Frozen {
        std::shared_ptr<const fx::Program> program;
        std::vector<float> frame;  // empty for a copy
        PixelWiring wiring;
        uint64_t serial, version, wiringStamp;
        uint64_t stamp;  // never the same for two freezes of the link
    };
    static const int kFrozenFirst = 64;
    static const int kFrozenChunks = 16;
    std::unique_ptr<Frozen[]> frozenChunks_[kFrozenChunks];
    int frozenCount_ = 0;
    uint64_t frozenStamps_ = 0;
    Frozen* FrozenAt(int frozen) const;
    // Each thread's scratch, with the stamp of the freeze it holds.
    struct alignas(64) FrozenThread {
        fx::Batch batch;
        std::vector<float> frame;
        uint64_t batchStamp = 0, frameStamp = 0;
    };
    static float* FrozenFrame(const Frozen& f, FrozenThread& t);
    std::vector<FrozenThread> frozenThreads_;

    struct Fetch {
        int frame, count, source, sourceCount;
        bool color;
        float fallback[4];
    };
    struct Out {
        int frame, count, attr;
        bool saturate;
    };
    ProgramVertexShader* vs_ = nullptr;
    ProgramPixelShader* ps_ = nullptr;
    std::vector<Fetch> fetches_;
    std::vector<Out> outs_;
    int position_ = -1;
    int attrs_ = 12;
    bool defaultWhite_ = false;
};

}  // namespace vd3d

#endif
