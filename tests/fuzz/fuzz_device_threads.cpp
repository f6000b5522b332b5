// Device calls made from bytes, drawn three ways: on one thread, on four
// threads sharing all the work, and on four threads drawing the queue at the
// end of every call. The pictures, the locked-back bytes and the results of
// the calls must agree byte for byte; any difference is a fault (abort).
//
// Input: one byte of switches, then operations, each an operation byte and
// its arguments; bytes past the end read as zero. A small fixed back buffer,
// small textures and bounded counts keep an input to some milliseconds.
//
// VELMORA_FUZZ_TRACE=1 prints the operations of the one-thread run, then what
// it saw, a line each;
// VELMORA_FUZZ_PICTURE=FILE keeps its final picture's bytes (64 x 48, BGRA).
// VELMORA_WRITE_SEEDS=FOLDER writes the hand-made seeds of the committed
// corpus into FOLDER and ends the process.
#include "fuzz_support.h"

#include <d3dx9.h>

#include "renderer/raster.h"

#include <math.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

const int kWidth = 64, kHeight = 48;
const int kMaxOperations = 256;
// Primitives an input may draw on one device (a queue's worth and more),
// and the pixels of their bounds, roughly: some milliseconds of work.
const UINT kPrimitiveBudget = 24000;
const uint64_t kPixelBudget = 1500000;
const UINT kScreenPixels = kWidth * kHeight;
const UINT kMaxBigDraw = 9500;
const int kTextureSlots = 4, kBufferSlots = 2;

// Switches of the first byte.
enum : uint8_t {
    kSlowPixelPaths = 1,
    kNoPixelBatches = 2,
    kNoVertexBatching = 4,
    kNoBlendFits = 8,
    kAlphaBackBuffer = 16,
    kNoDepth = 32,
    kStencil = 64,
};

enum Op : uint8_t {
    kOpRenderState,
    kOpSamplerState,
    kOpStageState,
    kOpViewport,
    kOpCreateTexture,
    kOpLockTexture,
    kOpSetLod,
    kOpReleaseTexture,
    kOpSetTexture,
    kOpCreateVertexBuffer,
    kOpCreateIndexBuffer,
    kOpSetStream,
    kOpDrawPrimitive,
    kOpDrawIndexedPrimitive,
    kOpDrawUp,
    kOpDrawIndexedUp,
    kOpBigDraw,
    kOpClear,
    kOpEffectDraw,
    kOpLockBackBuffer,
    kOpPresent,
    kOpTransform,
    kOpMaterialLight,
    kOpCount
};

const D3DRENDERSTATETYPE kRenderStates[] = {
    D3DRS_ZENABLE, D3DRS_ZWRITEENABLE, D3DRS_ZFUNC, D3DRS_ALPHABLENDENABLE, D3DRS_SRCBLEND, D3DRS_DESTBLEND,
    D3DRS_BLENDOP, D3DRS_ALPHATESTENABLE, D3DRS_ALPHAREF, D3DRS_ALPHAFUNC, D3DRS_CULLMODE, D3DRS_SHADEMODE,
    D3DRS_SPECULARENABLE, D3DRS_COLORWRITEENABLE, D3DRS_TEXTUREFACTOR, D3DRS_LIGHTING, D3DRS_FILLMODE,
    D3DRS_LASTPIXEL, D3DRS_AMBIENT, D3DRS_COLORVERTEX, D3DRS_NORMALIZENORMALS, D3DRS_DIFFUSEMATERIALSOURCE,
    D3DRS_POINTSIZE, D3DRS_FOGENABLE, D3DRS_STENCILENABLE, D3DRS_DITHERENABLE, D3DRS_LOCALVIEWER,
    D3DRS_AMBIENTMATERIALSOURCE};
const D3DSAMPLERSTATETYPE kSamplerStates[] = {D3DSAMP_ADDRESSU,  D3DSAMP_ADDRESSV,  D3DSAMP_BORDERCOLOR,
                                              D3DSAMP_MAGFILTER, D3DSAMP_MINFILTER, D3DSAMP_MIPFILTER,
                                              D3DSAMP_MIPMAPLODBIAS, D3DSAMP_MAXMIPLEVEL, D3DSAMP_MAXANISOTROPY};
const D3DTEXTURESTAGESTATETYPE kStageStates[] = {
    D3DTSS_COLOROP,   D3DTSS_COLORARG1, D3DTSS_COLORARG2,     D3DTSS_ALPHAOP,   D3DTSS_ALPHAARG1,
    D3DTSS_ALPHAARG2, D3DTSS_COLORARG0, D3DTSS_ALPHAARG0,     D3DTSS_RESULTARG, D3DTSS_TEXCOORDINDEX,
    D3DTSS_TEXTURETRANSFORMFLAGS};
// Values that states and addresses read specially.
const DWORD kSpecialValues[] = {0x80000000u, 0xffffffffu, 0x7fffffffu, 0x3f800000u /* 1.0f */,
                                0x3f000000u /* 0.5f */,     0x42800000u /* 64.0f */, 0xbf800000u /* -1.0f */,
                                0x7fc00000u /* NaN */,      0x7f800000u /* inf */,  0x7149f2cau /* 1e30f */,
                                0x00ff00ffu, 0xff000000u, 0x80808080u, 0x0000ffffu, 0x10000u, 0xfffffffeu};
const D3DFORMAT kTextureFormats[] = {D3DFMT_A8R8G8B8, D3DFMT_X8R8G8B8, D3DFMT_R5G6B5, D3DFMT_A1R5G5B5,
                                     D3DFMT_A4R4G4B4, D3DFMT_L8, D3DFMT_A8, D3DFMT_A8L8};
const float kSpecialFloats[16] = {0.f,     -0.f,     0.5f,         1e30f,  -1e30f, INFINITY, -INFINITY, NAN,
                                  1e-30f,  1e9f,     -1e9f,        65536.f, 3.4e38f, -3.4e38f, 1e-7f,  2e6f};

// Vertex layouts the draws choose from.
const DWORD kFvfs[] = {D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1,
                       D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_SPECULAR | D3DFVF_TEX2,
                       D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1,
                       D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_TEX1,
                       D3DFVF_XYZRHW | D3DFVF_DIFFUSE,
                       D3DFVF_XYZ | D3DFVF_NORMAL};
const int kFvfCount = sizeof kFvfs / sizeof kFvfs[0];

UINT StrideOf(DWORD fvf)
{
    UINT bytes = (fvf & D3DFVF_POSITION_MASK) == D3DFVF_XYZRHW ? 16 : 12;
    if (fvf & D3DFVF_NORMAL)
        bytes += 12;
    if (fvf & D3DFVF_DIFFUSE)
        bytes += 4;
    if (fvf & D3DFVF_SPECULAR)
        bytes += 4;
    return bytes + 8 * ((fvf & D3DFVF_TEXCOUNT_MASK) >> D3DFVF_TEXCOUNT_SHIFT);
}

// The input, read front to back; past its end every read gives zero.
class Reader {
public:
    Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool Done() const { return at_ >= size_; }
    uint8_t U8() { return at_ < size_ ? data_[at_++] : 0; }
    // Low byte first; each read its own statement, as operands have no order.
    uint16_t U16()
    {
        const uint16_t low = U8();
        return (uint16_t)(low | U8() << 8);
    }
    uint32_t U32()
    {
        const uint32_t low = U16();
        return low | (uint32_t)U16() << 16;
    }
    // A float in [lo, hi], or one of the special floats.
    float Float(float lo, float hi)
    {
        const uint8_t b = U8();
        if (b >= 0xf0)
            return kSpecialFloats[b - 0xf0];
        return lo + (hi - lo) * (float)b / 239.f;
    }
    // A state's value: small numbers mostly, then special and raw ones.
    DWORD Value()
    {
        const uint8_t b = U8();
        if (b < 0xc0)
            return b & 0x3f;
        if (b < 0xf0)
            return kSpecialValues[b & 15];
        return U32();
    }
    // Each nibble of two bytes widened to a colour channel.
    D3DCOLOR Color()
    {
        const uint16_t c = U16();
        return (D3DCOLOR)(((c >> 12) & 15) * 0x11000000u + ((c >> 8) & 15) * 0x110000u + ((c >> 4) & 15) * 0x1100u +
                          (c & 15) * 0x11u);
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

struct Random {
    uint32_t state;
    explicit Random(uint32_t seed) : state(seed ? seed : 0x9e3779b9u) {}
    uint32_t Next()
    {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    }
    float Unit() { return (float)(Next() >> 8) / 16777216.f; }
};

// Fills rows of texels: one colour, or noise from a seed.
void FillTexels(uint8_t* bits, int pitch, int width, int height, int bytesPerTexel, Reader& in)
{
    const bool uniform = in.U8() & 1;
    const uint32_t value = in.U32();
    Random random(value);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const uint32_t texel = uniform ? value : random.Next();
            memcpy(bits + (size_t)y * pitch + (size_t)x * bytesPerTexel, &texel, (size_t)bytesPerTexel);
        }
}

// What a run saw, in order: results of calls and bytes read back.
struct Observation {
    int operation;
    std::string what;
    std::vector<uint8_t> bytes;
};

class Run {
public:
    Run(const char* threads, bool shareAll, bool flushEachCall, uint8_t switches, bool trace = false)
        : threads_(threads), shareAll_(shareAll), flushEachCall_(flushEachCall), switches_(switches), trace_(trace)
    {
    }

    std::vector<Observation> Play(const uint8_t* data, size_t size);

private:
    void Note(const char* what, const void* bytes, size_t size)
    {
        const uint8_t* b = static_cast<const uint8_t*>(bytes);
        seen_.push_back({operation_, what, std::vector<uint8_t>(b, b + size)});
    }
    void NoteResult(const char* what, HRESULT hr) { Note(what, &hr, sizeof hr); }
    // Whether the budget has room for `primitives` of about `pixels` each;
    // takes it if so.
    bool Spend(UINT primitives, UINT pixels)
    {
        if (primitives > kPrimitiveBudget - spent_ || (uint64_t)primitives * pixels > kPixelBudget - pixelsSpent_)
            return false;
        spent_ += primitives;
        pixelsSpent_ += (uint64_t)primitives * pixels;
        return true;
    }
    void Step(Op op, Reader& in);
    void Vertices(DWORD fvf, UINT count, Reader& in, std::vector<uint8_t>* out);
    void ReadBackBuffer(const char* what);
    void ReleaseTexture(int slot);
    ID3DXEffect* Effect(int index);
    D3DMATRIX Matrix(Reader& in);

    const char* threads_;
    bool shareAll_, flushEachCall_;
    uint8_t switches_;
    bool trace_;
    HWND window_ = NULL;
    IDirect3D9* d3d_ = nullptr;
    IDirect3DDevice9* device_ = nullptr;
    IDirect3DTexture9* textures_[kTextureSlots] = {};
    IDirect3DVertexBuffer9* vertexBuffers_[kBufferSlots] = {};
    DWORD vertexFvfs_[kBufferSlots] = {};
    IDirect3DIndexBuffer9* indexBuffers_[kBufferSlots] = {};
    ID3DXEffect* effects_[2] = {};
    UINT spent_ = 0;
    uint64_t pixelsSpent_ = 0;
    int operation_ = -1;
    std::vector<Observation> seen_;
};

HWND Window()
{
    static HWND window = [] {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = DefWindowProcA;
        wc.lpszClassName = "VelmoraFuzzThreads";
        RegisterClassA(&wc);
        return CreateWindowExA(0, wc.lpszClassName, "fuzz", WS_POPUP, 0, 0, kWidth, kHeight, NULL, NULL, NULL, NULL);
    }();
    return window;
}

std::vector<Observation> Run::Play(const uint8_t* data, size_t size)
{
    Reader in(data, size);
    setenv("VELMORA_RENDER_THREADS", threads_, 1);
    VelmoraShareAllRenderWork(shareAll_);
    VelmoraFlushRenderWorkAfterEachCall(flushEachCall_);
    window_ = Window();
    d3d_ = Direct3DCreate9(D3D_SDK_VERSION);
    D3DPRESENT_PARAMETERS pp = {};
    pp.BackBufferWidth = kWidth;
    pp.BackBufferHeight = kHeight;
    pp.BackBufferFormat = (switches_ & kAlphaBackBuffer) ? D3DFMT_A8R8G8B8 : D3DFMT_X8R8G8B8;
    pp.BackBufferCount = 1;
    pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
    pp.Windowed = TRUE;
    pp.EnableAutoDepthStencil = (switches_ & kNoDepth) ? FALSE : TRUE;
    pp.AutoDepthStencilFormat = (switches_ & kStencil) ? D3DFMT_D24S8 : D3DFMT_D24X8;
    if (!d3d_ || FAILED(d3d_->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window_,
                                           D3DCREATE_HARDWARE_VERTEXPROCESSING, &pp, &device_)))
        abort();
    VelmoraFlushRenderWorkAfterEachCall(FALSE);
    device_->BeginScene();
    for (int n = 0; n < kMaxOperations && !in.Done(); ++n) {
        operation_ = n;
        const uint8_t op = in.U8();
        if (trace_)
            fprintf(stderr, "%3d operation %d\n", n, op % kOpCount);
        Step((Op)(op % kOpCount), in);
    }
    operation_ = -1;
    device_->EndScene();
    ReadBackBuffer("final picture");

    for (ID3DXEffect* effect : effects_)
        if (effect)
            effect->Release();
    device_->SetTexture(0, nullptr);
    device_->SetTexture(1, nullptr);
    device_->SetTexture(2, nullptr);
    device_->SetStreamSource(0, nullptr, 0, 0);
    device_->SetIndices(nullptr);
    for (int slot = 0; slot < kTextureSlots; ++slot)
        ReleaseTexture(slot);
    for (int slot = 0; slot < kBufferSlots; ++slot) {
        if (vertexBuffers_[slot])
            vertexBuffers_[slot]->Release();
        if (indexBuffers_[slot])
            indexBuffers_[slot]->Release();
    }
    device_->Release();
    d3d_->Release();
    VelmoraShareAllRenderWork(FALSE);
    return std::move(seen_);
}

void Run::ReadBackBuffer(const char* what)
{
    IDirect3DSurface9* surface = nullptr;
    HRESULT hr = device_->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &surface);
    D3DLOCKED_RECT locked = {};
    if (SUCCEEDED(hr))
        hr = surface->LockRect(&locked, nullptr, D3DLOCK_READONLY);
    NoteResult(what, hr);
    if (SUCCEEDED(hr)) {
        std::vector<uint8_t> pixels((size_t)kWidth * kHeight * 4);
        for (int y = 0; y < kHeight; ++y)
            memcpy(&pixels[(size_t)y * kWidth * 4], static_cast<const uint8_t*>(locked.pBits) + (size_t)y * locked.Pitch,
                   kWidth * 4);
        surface->UnlockRect();
        seen_.push_back({operation_, what, std::move(pixels)});
    }
    if (surface)
        surface->Release();
}

void Run::ReleaseTexture(int slot)
{
    if (textures_[slot])
        textures_[slot]->Release();
    textures_[slot] = nullptr;
}

// The shipped effects, read once; compiled for each device that draws one.
ID3DXEffect* Run::Effect(int index)
{
    static const char* const kFiles[2] = {"dancer.fx", "spot.fx"};
    static std::vector<char> sources[2];
    if (!effects_[index]) {
        if (sources[index].empty()) {
            const std::string path = std::string(VELMORA_PLUGIN_DIR) + "/data/shaders/" + kFiles[index];
            FILE* file = fopen(path.c_str(), "rb");
            if (!file)
                abort();
            char chunk[4096];
            size_t got;
            while ((got = fread(chunk, 1, sizeof chunk, file)) > 0)
                sources[index].insert(sources[index].end(), chunk, chunk + got);
            fclose(file);
        }
        if (FAILED(D3DXCreateEffect(device_, sources[index].data(), (UINT)sources[index].size(), nullptr, nullptr, 0,
                                    nullptr, &effects_[index], nullptr)))
            abort();
    }
    return effects_[index];
}

// A matrix: identity, a perspective, a turn about z or raw numbers, scaled.
D3DMATRIX Run::Matrix(Reader& in)
{
    D3DMATRIX m = {};
    m._11 = m._22 = m._33 = m._44 = 1.f;
    const uint8_t kind = in.U8() & 3;
    if (kind == 1) {
        const float fov = in.Float(0.2f, 2.8f), zn = in.Float(0.05f, 1.f), zf = in.Float(2.f, 100.f);
        const float ys = 1.f / tanf(fov / 2.f);
        m._11 = ys * kHeight / kWidth;
        m._22 = ys;
        m._33 = zf / (zf - zn);
        m._34 = 1.f;
        m._43 = -zn * zf / (zf - zn);
        m._44 = 0.f;
    } else if (kind == 2) {
        const float a = in.Float(-3.2f, 3.2f);
        m._11 = m._22 = cosf(a);
        m._12 = sinf(a);
        m._21 = -m._12;
        m._41 = in.Float(-1.f, 1.f);
        m._42 = in.Float(-1.f, 1.f);
        m._43 = in.Float(-1.f, 3.f);
    } else if (kind == 3) {
        for (int i = 0; i < 4; ++i)
            for (int j = 0; j < 4; ++j)
                m.m[i][j] = in.Float(-2.f, 2.f);
    }
    return m;
}

// `count` vertices of `fvf`: each number from a byte, or all made from a seed.
void Run::Vertices(DWORD fvf, UINT count, Reader& in, std::vector<uint8_t>* out)
{
    const UINT stride = StrideOf(fvf);
    out->assign((size_t)count * stride, 0);
    const bool screen = (fvf & D3DFVF_POSITION_MASK) == D3DFVF_XYZRHW;
    const uint8_t mode = in.U8();
    Random random(mode & 1 ? in.U32() : 1);
    const float texScale = mode & 1 ? in.Float(0.f, 4.f) : 1.f;
    const D3DCOLOR flat = mode & 1 ? in.Color() : 0;
    // Seeded vertices lie near one another, within `spread` pixels (or clip units / 32).
    const float spread = 1.f + (float)(mode >> 1);
    float cx = 0, cy = 0;
    for (UINT v = 0; v < count; ++v) {
        float* f = reinterpret_cast<float*>(out->data() + (size_t)v * stride);
        int k = 0;
        if (mode & 1) {
            if (v % 3 == 0)
                cx = random.Unit() * kWidth, cy = random.Unit() * kHeight;
            const float x = cx + (random.Unit() - 0.5f) * spread, y = cy + (random.Unit() - 0.5f) * spread;
            if (screen) {
                f[k++] = x;
                f[k++] = y;
                f[k++] = random.Unit();
                f[k++] = 0.5f + random.Unit();
            } else {
                f[k++] = x / kWidth * 2.f - 1.f;
                f[k++] = 1.f - y / kHeight * 2.f;
                f[k++] = random.Unit();
            }
            if (fvf & D3DFVF_NORMAL) {
                f[k++] = random.Unit() - 0.5f;
                f[k++] = random.Unit() - 0.5f;
                f[k++] = -1.f;
            }
            if (fvf & D3DFVF_DIFFUSE) {
                const D3DCOLOR c = (flat >> 24) == 0x11 ? random.Next() : flat;
                memcpy(&f[k++], &c, 4);
            }
            if (fvf & D3DFVF_SPECULAR) {
                const D3DCOLOR c = random.Next() & 0x3f3f3f3f;
                memcpy(&f[k++], &c, 4);
            }
            for (DWORD t = 0; t < ((fvf & D3DFVF_TEXCOUNT_MASK) >> D3DFVF_TEXCOUNT_SHIFT); ++t) {
                f[k++] = random.Unit() * texScale;
                f[k++] = random.Unit() * texScale;
            }
            continue;
        }
        if (screen) {
            f[k++] = in.Float(-16.f, 80.f);
            f[k++] = in.Float(-16.f, 64.f);
            f[k++] = in.Float(-0.2f, 1.2f);
            f[k++] = in.Float(0.05f, 2.f);
        } else {
            f[k++] = in.Float(-1.5f, 1.5f);
            f[k++] = in.Float(-1.5f, 1.5f);
            f[k++] = in.Float(-0.5f, 1.5f);
        }
        if (fvf & D3DFVF_NORMAL) {
            f[k++] = in.Float(-1.f, 1.f);
            f[k++] = in.Float(-1.f, 1.f);
            f[k++] = in.Float(-1.f, 1.f);
        }
        if (fvf & D3DFVF_DIFFUSE) {
            const D3DCOLOR c = in.Color();
            memcpy(&f[k++], &c, 4);
        }
        if (fvf & D3DFVF_SPECULAR) {
            const D3DCOLOR c = in.Color();
            memcpy(&f[k++], &c, 4);
        }
        for (DWORD t = 0; t < ((fvf & D3DFVF_TEXCOUNT_MASK) >> D3DFVF_TEXCOUNT_SHIFT); ++t) {
            f[k++] = in.Float(-2.f, 3.f);
            f[k++] = in.Float(-2.f, 3.f);
        }
    }
}

// The kind of primitive from the low three bits.
D3DPRIMITIVETYPE PrimitiveType(uint8_t b)
{
    return (D3DPRIMITIVETYPE)(1 + (b & 7) % 6);
}

// Vertices a draw of `count` primitives of `type` reads.
UINT VerticesFor(D3DPRIMITIVETYPE type, UINT count)
{
    switch (type) {
    case D3DPT_POINTLIST:
        return count;
    case D3DPT_LINELIST:
        return 2 * count;
    case D3DPT_LINESTRIP:
        return count + 1;
    case D3DPT_TRIANGLELIST:
        return 3 * count;
    default:
        return count + 2;
    }
}

void Run::Step(Op op, Reader& in)
{
    switch (op) {
    case kOpRenderState: {
        const D3DRENDERSTATETYPE state = kRenderStates[in.U8() % (sizeof kRenderStates / sizeof kRenderStates[0])];
        const bool color = state == D3DRS_TEXTUREFACTOR || state == D3DRS_AMBIENT;
        device_->SetRenderState(state, color ? in.Color() : in.Value());
        break;
    }
    case kOpSamplerState: {
        const uint8_t b = in.U8();
        device_->SetSamplerState(b & 1, kSamplerStates[(b >> 1) % (sizeof kSamplerStates / sizeof kSamplerStates[0])],
                                 in.Value());
        break;
    }
    case kOpStageState: {
        const uint8_t b = in.U8();
        device_->SetTextureStageState(b % 3, kStageStates[(b / 3) % (sizeof kStageStates / sizeof kStageStates[0])],
                                      in.Value());
        break;
    }
    case kOpViewport: {
        D3DVIEWPORT9 vp;
        vp.X = in.U8() % kWidth;
        vp.Y = in.U8() % kHeight;
        vp.Width = 1 + in.U8() % kWidth;
        vp.Height = 1 + in.U8() % kHeight;
        vp.MinZ = in.U8() / 255.f;
        vp.MaxZ = in.U8() / 255.f;
        NoteResult("SetViewport", device_->SetViewport(&vp));
        break;
    }
    case kOpCreateTexture: {
        const uint8_t b = in.U8();
        const int slot = b % kTextureSlots;
        ReleaseTexture(slot);
        const UINT width = 1 + in.U8() % 16, height = 1 + in.U8() % 16, levels = in.U8() % 6;
        const D3DFORMAT format = kTextureFormats[(b >> 2) % 8];
        const D3DPOOL pool = (b & 0x20) ? D3DPOOL_DEFAULT : D3DPOOL_MANAGED;
        const DWORD usage = (b & 0x20) ? D3DUSAGE_DYNAMIC : 0;
        const HRESULT hr = device_->CreateTexture(width, height, levels, usage, format, pool, &textures_[slot], nullptr);
        NoteResult("CreateTexture", hr);
        if (FAILED(hr))
            break;
        // Every level filled, so that no draw reads what a lock never wrote.
        const int bytes = vr::FormatBytes(format);
        for (DWORD level = 0; level < textures_[slot]->GetLevelCount(); ++level) {
            D3DSURFACE_DESC desc;
            D3DLOCKED_RECT locked;
            textures_[slot]->GetLevelDesc(level, &desc);
            if (SUCCEEDED(textures_[slot]->LockRect(level, &locked, nullptr, 0))) {
                FillTexels(static_cast<uint8_t*>(locked.pBits), locked.Pitch, (int)desc.Width, (int)desc.Height, bytes,
                           in);
                textures_[slot]->UnlockRect(level);
            }
        }
        break;
    }
    case kOpLockTexture: {
        const uint8_t b = in.U8();
        IDirect3DTexture9* texture = textures_[b % kTextureSlots];
        if (!texture)
            break;
        const UINT level = (b >> 2) % 4;
        D3DSURFACE_DESC desc;
        if (FAILED(texture->GetLevelDesc(level, &desc)))
            break;
        RECT rect = {0, 0, (LONG)desc.Width, (LONG)desc.Height};
        if (b & 0x10) {
            rect.left = in.U8() % desc.Width;
            rect.top = in.U8() % desc.Height;
            rect.right = rect.left + 1 + in.U8() % (desc.Width - rect.left);
            rect.bottom = rect.top + 1 + in.U8() % (desc.Height - rect.top);
        }
        const bool read = b & 0x20;
        D3DLOCKED_RECT locked;
        const HRESULT hr = texture->LockRect(level, &locked, &rect, read ? D3DLOCK_READONLY : 0);
        NoteResult("texture LockRect", hr);
        if (FAILED(hr))
            break;
        const int bytes = vr::FormatBytes(desc.Format);
        const int width = rect.right - rect.left, height = rect.bottom - rect.top;
        if (read) {
            for (int y = 0; y < height; ++y)
                Note("texture read back", static_cast<const uint8_t*>(locked.pBits) + (size_t)y * locked.Pitch,
                     (size_t)width * bytes);
        } else {
            FillTexels(static_cast<uint8_t*>(locked.pBits), locked.Pitch, width, height, bytes, in);
        }
        texture->UnlockRect(level);
        break;
    }
    case kOpSetLod: {
        const uint8_t b = in.U8();
        if (IDirect3DTexture9* texture = textures_[b % kTextureSlots]) {
            const DWORD old = texture->SetLOD((b >> 2) % 6);
            Note("SetLOD", &old, sizeof old);
        }
        break;
    }
    case kOpReleaseTexture:
        ReleaseTexture(in.U8() % kTextureSlots);
        break;
    case kOpSetTexture: {
        const uint8_t b = in.U8();
        const int slot = (b >> 2) % (kTextureSlots + 1);
        device_->SetTexture((b & 3) % 3, slot < kTextureSlots ? textures_[slot] : nullptr);
        break;
    }
    case kOpCreateVertexBuffer: {
        const uint8_t b = in.U8();
        const int slot = b % kBufferSlots;
        const DWORD fvf = kFvfs[(b >> 1) % kFvfCount];
        const UINT count = 3 + in.U8() % 62;
        if (vertexBuffers_[slot])
            vertexBuffers_[slot]->Release();
        vertexBuffers_[slot] = nullptr;
        std::vector<uint8_t> vertices;
        Vertices(fvf, count, in, &vertices);
        const DWORD usage = (b & 0x40) ? D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY : 0;
        HRESULT hr = device_->CreateVertexBuffer((UINT)vertices.size(), usage, fvf, D3DPOOL_DEFAULT,
                                                 &vertexBuffers_[slot], nullptr);
        void* bits = nullptr;
        if (SUCCEEDED(hr))
            hr = vertexBuffers_[slot]->Lock(0, 0, &bits, 0);
        NoteResult("CreateVertexBuffer", hr);
        if (SUCCEEDED(hr)) {
            memcpy(bits, vertices.data(), vertices.size());
            vertexBuffers_[slot]->Unlock();
            vertexFvfs_[slot] = fvf;
        }
        break;
    }
    case kOpCreateIndexBuffer: {
        const uint8_t b = in.U8();
        const int slot = b % kBufferSlots;
        const bool wide = b & 2;
        const UINT count = 3 + in.U8() % 94;
        if (indexBuffers_[slot])
            indexBuffers_[slot]->Release();
        indexBuffers_[slot] = nullptr;
        HRESULT hr = device_->CreateIndexBuffer(count * (wide ? 4 : 2), 0, wide ? D3DFMT_INDEX32 : D3DFMT_INDEX16,
                                                D3DPOOL_DEFAULT, &indexBuffers_[slot], nullptr);
        void* bits = nullptr;
        if (SUCCEEDED(hr))
            hr = indexBuffers_[slot]->Lock(0, 0, &bits, 0);
        NoteResult("CreateIndexBuffer", hr);
        if (FAILED(hr))
            break;
        for (UINT i = 0; i < count; ++i) {
            // Mostly inside a buffer's vertices, now and then past them.
            const uint8_t v = in.U8();
            const uint32_t index = v < 0xf8 ? v % 64 : 0xfff0u + v;
            if (wide)
                static_cast<uint32_t*>(bits)[i] = index;
            else
                static_cast<uint16_t*>(bits)[i] = (uint16_t)index;
        }
        indexBuffers_[slot]->Unlock();
        break;
    }
    case kOpSetStream: {
        const uint8_t b = in.U8();
        const int slot = b % kBufferSlots;
        const UINT stride = StrideOf(vertexFvfs_[slot]) + ((b & 4) ? 4 : 0);
        const UINT offset = (b & 8) ? stride * (in.U8() % 4) : 0;
        device_->SetStreamSource(0, vertexBuffers_[slot], offset, stride);
        device_->SetIndices(indexBuffers_[(b >> 1) % kBufferSlots]);
        device_->SetFVF((b & 4) ? kFvfs[in.U8() % kFvfCount] : vertexFvfs_[slot]);
        break;
    }
    case kOpDrawPrimitive: {
        const D3DPRIMITIVETYPE type = PrimitiveType(in.U8());
        const UINT start = in.U8() % 32, count = in.U8() % 64;
        if (Spend(count, kScreenPixels))
            NoteResult("DrawPrimitive", device_->DrawPrimitive(type, start, count));
        break;
    }
    case kOpDrawIndexedPrimitive: {
        const D3DPRIMITIVETYPE type = PrimitiveType(in.U8());
        const INT base = (int8_t)in.U8() / 8;
        const UINT minIndex = in.U8() % 16, vertices = in.U8() % 64, start = in.U8() % 48, count = in.U8() % 64;
        if (Spend(count, kScreenPixels))
            NoteResult("DrawIndexedPrimitive",
                       device_->DrawIndexedPrimitive(type, base, minIndex, vertices, start, count));
        break;
    }
    case kOpDrawUp:
    case kOpDrawIndexedUp: {
        const uint8_t b = in.U8();
        const D3DPRIMITIVETYPE type = PrimitiveType(b);
        const DWORD fvf = kFvfs[(b >> 3) % kFvfCount];
        const UINT count = 1 + in.U8() % 48;
        if (!Spend(count, kScreenPixels))
            break;
        device_->SetFVF(fvf);
        if (op == kOpDrawUp) {
            std::vector<uint8_t> vertices;
            Vertices(fvf, VerticesFor(type, count), in, &vertices);
            NoteResult("DrawPrimitiveUP", device_->DrawPrimitiveUP(type, count, vertices.data(), StrideOf(fvf)));
            break;
        }
        const UINT vertexCount = 3 + in.U8() % 30;
        std::vector<uint8_t> vertices;
        Vertices(fvf, vertexCount, in, &vertices);
        std::vector<uint16_t> indices(VerticesFor(type, count));
        for (uint16_t& index : indices)
            index = in.U8() % (vertexCount + 2);
        NoteResult("DrawIndexedPrimitiveUP",
                   device_->DrawIndexedPrimitiveUP(type, 0, vertexCount, count, indices.data(), D3DFMT_INDEX16,
                                                   vertices.data(), StrideOf(fvf)));
        break;
    }
    case kOpBigDraw: {
        // Many seeded triangles in one call: enough to fill the frame queue.
        const uint8_t b = in.U8();
        const DWORD fvf = kFvfs[b % 2];
        const UINT count = 1 + in.U16() % kMaxBigDraw;
        if (trace_)
            fprintf(stderr, "    %u %s, flags 0x%02x\n", count, (b & 2) ? "slivers" : "triangles", b);
        // Small triangles, or slivers from corner to corner (large bounds, few pixels).
        const bool slivers = b & 2;
        const float size = 1.f + ((b >> 2) & 15);
        if (!Spend(count, slivers ? kWidth + kHeight : (UINT)(size * size)))
            break;
        const uint32_t seed = in.U32();
        const float texScale = in.Float(0.f, 8.f);
        const D3DCOLOR flat = in.Color();
        Random random(seed);
        const float turn = (b & 0x40) ? -2.0944f : 2.0944f;
        const UINT stride = StrideOf(fvf);
        std::vector<uint8_t> vertices((size_t)count * 3 * stride);
        for (UINT t = 0; t < count; ++t) {
            const float cx = random.Unit() * kWidth, cy = random.Unit() * kHeight;
            for (int v = 0; v < 3; ++v) {
                float* f = reinterpret_cast<float*>(vertices.data() + (size_t)(3 * t + v) * stride);
                if (slivers) {
                    f[0] = v == 0 ? 0.f : (v == 1 ? (float)kWidth : random.Unit() * 2.f);
                    f[1] = v == 0 ? 0.f : (v == 1 ? (float)kHeight : random.Unit() * 2.f + 0.5f);
                } else {
                    // Around the centre one way, so that culling keeps all or none.
                    const float angle = (float)v * turn + random.Unit() * 1.5f;
                    const float radius = (0.25f + 0.25f * random.Unit()) * size;
                    f[0] = cx + radius * cosf(angle);
                    f[1] = cy + radius * sinf(angle);
                }
                f[2] = 0.5f;
                f[3] = 1.f;
                const D3DCOLOR c = (flat >> 24) == 0x11 ? random.Next() : flat;
                memcpy(&f[4], &c, 4);
                int k = 5;
                if (fvf & D3DFVF_SPECULAR) {
                    const D3DCOLOR s = 0;
                    memcpy(&f[k++], &s, 4);
                }
                f[k++] = (v == 1) * texScale;
                f[k++] = (v == 2) * texScale;
            }
        }
        device_->SetFVF(fvf);
        NoteResult("DrawPrimitiveUP many", device_->DrawPrimitiveUP(D3DPT_TRIANGLELIST, count, vertices.data(), stride));
        break;
    }
    case kOpClear: {
        const uint8_t b = in.U8();
        D3DRECT rects[2];
        const DWORD count = (b >> 3) % 3;
        for (DWORD i = 0; i < count; ++i) {
            rects[i].x1 = (int8_t)in.U8();
            rects[i].y1 = (int8_t)in.U8();
            rects[i].x2 = rects[i].x1 + in.U8() % 80;
            rects[i].y2 = rects[i].y1 + in.U8() % 60;
        }
        const D3DCOLOR color = in.Color();
        const float z = in.Float(0.f, 1.f);
        NoteResult("Clear", device_->Clear(count, count ? rects : nullptr, b & 7, color, z, in.U8()));
        break;
    }
    case kOpEffectDraw: {
        const uint8_t b = in.U8();
        ID3DXEffect* effect = Effect(b & 1);
        effect->SetTechnique(effect->GetTechnique((b >> 1) % 3));
        D3DXMATRIX world(Matrix(in)), view(Matrix(in)), projection(Matrix(in));
        effect->SetMatrix("worldMatrix", &world);
        effect->SetMatrix("viewMatrix", &view);
        effect->SetMatrix("projectionMatrix", &projection);
        // Braces: the reads in order.
        const D3DXVECTOR4 material{in.Float(0.f, 1.f), in.Float(0.f, 1.f), in.Float(0.f, 1.f), in.Float(0.f, 1.f)};
        effect->SetVector("material", &material);
        // Three lights: position, direction, colour.
        float lights[4][10];
        for (auto& light : lights)
            for (int i = 0; i < 10; ++i)
                light[i] = i < 6 ? in.Float(-4.f, 4.f) : in.Float(0.f, 1.f);
        effect->SetValue("lightArr", lights, sizeof lights);
        const UINT count = 1 + in.U8() % 24;
        if (!Spend(count, kScreenPixels))
            break;
        const DWORD fvf = kFvfs[5];
        std::vector<uint8_t> vertices;
        Vertices(fvf, 3 * count, in, &vertices);
        UINT passes = 0;
        if (FAILED(effect->Begin(&passes, 0)))
            break;
        if (SUCCEEDED(effect->BeginPass(0))) {
            device_->SetFVF(fvf);
            // Drawn one triangle a call, as the module draws its models, or all at once.
            if (b & 8) {
                NoteResult("effect DrawPrimitiveUP",
                           device_->DrawPrimitiveUP(D3DPT_TRIANGLELIST, count, vertices.data(), StrideOf(fvf)));
            } else {
                // With 16, each triangle in a tint of its own: the programs'
                // constants change between draws that wait in the queue.
                for (UINT t = 0; t < count; ++t) {
                    if (b & 16) {
                        const D3DXVECTOR4 tint(material.x, (float)t / (float)count, material.z, material.w);
                        effect->SetVector("material", &tint);
                        effect->CommitChanges();
                    }
                    device_->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, vertices.data() + (size_t)t * 3 * StrideOf(fvf),
                                             StrideOf(fvf));
                }
            }
            effect->EndPass();
        }
        effect->End();
        break;
    }
    case kOpLockBackBuffer: {
        const uint8_t b = in.U8();
        if (!(b & 1)) {
            ReadBackBuffer("back buffer read");
            break;
        }
        IDirect3DSurface9* surface = nullptr;
        if (FAILED(device_->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &surface)))
            abort();
        RECT rect;
        rect.left = in.U8() % kWidth;
        rect.top = in.U8() % kHeight;
        rect.right = rect.left + 1 + in.U8() % (kWidth - rect.left);
        rect.bottom = rect.top + 1 + in.U8() % (kHeight - rect.top);
        D3DLOCKED_RECT locked;
        const HRESULT hr = surface->LockRect(&locked, &rect, 0);
        NoteResult("back buffer LockRect", hr);
        if (SUCCEEDED(hr)) {
            FillTexels(static_cast<uint8_t*>(locked.pBits), locked.Pitch, rect.right - rect.left,
                       rect.bottom - rect.top, 4, in);
            surface->UnlockRect();
        }
        surface->Release();
        break;
    }
    case kOpPresent: {
        device_->EndScene();
        NoteResult("Present", device_->Present(nullptr, nullptr, nullptr, nullptr));
        int width = 0, height = 0;
        const DWORD* picture = VelmoraGetWindowPicture(window_, &width, &height);
        if (picture)
            Note("presented picture", picture, (size_t)width * height * 4);
        device_->BeginScene();
        break;
    }
    case kOpTransform: {
        const uint8_t b = in.U8();
        static const D3DTRANSFORMSTATETYPE kTransforms[4] = {D3DTS_WORLD, D3DTS_VIEW, D3DTS_PROJECTION,
                                                              D3DTS_TEXTURE0};
        const D3DMATRIX m = Matrix(in);
        device_->SetTransform(kTransforms[b & 3], &m);
        break;
    }
    case kOpMaterialLight: {
        D3DMATERIAL9 material = {};
        material.Diffuse = {in.Float(0.f, 1.f), in.Float(0.f, 1.f), in.Float(0.f, 1.f), in.Float(0.f, 1.f)};
        material.Ambient = {in.Float(0.f, 1.f), in.Float(0.f, 1.f), in.Float(0.f, 1.f), 1.f};
        material.Specular = {in.Float(0.f, 1.f), in.Float(0.f, 1.f), in.Float(0.f, 1.f), 1.f};
        material.Power = in.Float(0.f, 64.f);
        device_->SetMaterial(&material);
        D3DLIGHT9 light = {};
        const uint8_t b = in.U8();
        light.Type = (D3DLIGHTTYPE)(1 + b % 3);
        light.Diffuse = {in.Float(0.f, 1.f), in.Float(0.f, 1.f), in.Float(0.f, 1.f), 1.f};
        light.Specular = light.Diffuse;
        light.Position = {in.Float(-4.f, 4.f), in.Float(-4.f, 4.f), in.Float(-4.f, 4.f)};
        light.Direction = {in.Float(-1.f, 1.f), in.Float(-1.f, 1.f), in.Float(-1.f, 1.f)};
        light.Range = in.Float(0.f, 100.f);
        light.Attenuation0 = 1.f;
        light.Theta = 0.5f;
        light.Phi = 1.f;
        light.Falloff = 1.f;
        NoteResult("SetLight", device_->SetLight(b >> 3 & 1, &light));
        device_->LightEnable(b >> 3 & 1, (b >> 4) & 1);
        break;
    }
    case kOpCount:
        break;
    }
}

// Where two runs first part; prints it and says whether they agree.
bool Agree(const char* name, const std::vector<Observation>& reference, const std::vector<Observation>& other)
{
    const size_t n = std::min(reference.size(), other.size());
    for (size_t i = 0; i < n; ++i) {
        const Observation& a = reference[i];
        const Observation& b = other[i];
        if (a.what == b.what && a.bytes == b.bytes)
            continue;
        size_t differ = 0, first = SIZE_MAX;
        for (size_t k = 0; k < std::min(a.bytes.size(), b.bytes.size()); ++k)
            if (a.bytes[k] != b.bytes[k]) {
                ++differ;
                first = std::min(first, k);
            }
        fprintf(stderr,
                "fuzz_device_threads: %s differs from one thread at operation %d, \"%s\" (one thread: \"%s\"): "
                "%zu of %zu bytes differ, the first at byte %zu\n",
                name, b.operation, b.what.c_str(), a.what.c_str(), differ, a.bytes.size(), first);
        return false;
    }
    if (reference.size() != other.size()) {
        fprintf(stderr, "fuzz_device_threads: %s saw %zu things, one thread %zu\n", name, other.size(),
                reference.size());
        return false;
    }
    return true;
}

void SetSwitches(uint8_t switches)
{
    VelmoraSetFastPixelPaths(!(switches & kSlowPixelPaths));
    VelmoraSetPixelBatches(!(switches & kNoPixelBatches));
    VelmoraSetVertexCacheAndBatching(!(switches & kNoVertexBatching));
    vr::SetBlendTableFits(!(switches & kNoBlendFits));
}

void WriteSeeds(const std::string& folder);

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzzing::Scratch();
    if (const char* folder = getenv("VELMORA_WRITE_SEEDS")) {
        WriteSeeds(folder);
        exit(0);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const uint8_t switches = data[0];
    SetSwitches(switches);
    const int liveBefore = VelmoraLiveGraphicsObjects();
    const bool trace = getenv("VELMORA_FUZZ_TRACE") != nullptr;
    const std::vector<Observation> one = Run("1", false, false, switches, trace).Play(data + 1, size - 1);
    const std::vector<Observation> four = Run("4", true, false, switches).Play(data + 1, size - 1);
    const std::vector<Observation> eachCall = Run("4", true, true, switches).Play(data + 1, size - 1);
    SetSwitches(0);
    if (trace)
        for (const Observation& o : one) {
            uint32_t head = 0;
            memcpy(&head, o.bytes.data(), std::min<size_t>(4, o.bytes.size()));
            fprintf(stderr, "%3d %s: %zu bytes, 0x%08x\n", o.operation, o.what.c_str(), o.bytes.size(), head);
        }
    if (const char* path = getenv("VELMORA_FUZZ_PICTURE"))
        if (!one.empty())
            fuzzing::WriteInput(path, one.back().bytes.data(), one.back().bytes.size());
    // Both compared, so that a report says which ways of drawing part.
    const bool fourAgree = Agree("four threads", one, four);
    const bool agree = Agree("four threads drawing each call", one, eachCall) && fourAgree;
    if (VelmoraLiveGraphicsObjects() != liveBefore) {
        fprintf(stderr, "fuzz_device_threads: %d Direct3D objects outlive the devices\n",
                VelmoraLiveGraphicsObjects() - liveBefore);
        abort();
    }
    if (!agree)
        abort();
    return 0;
}

namespace {

// Writes operations in the input's format.
class Seed {
public:
    explicit Seed(uint8_t switches) { bytes_.push_back(switches); }
    Seed& Op(Op op) { return U8(op); }
    Seed& U8(uint8_t b)
    {
        bytes_.push_back(b);
        return *this;
    }
    Seed& U16(uint16_t v) { return U8(v & 0xff).U8(v >> 8); }
    Seed& U32(uint32_t v) { return U16(v & 0xffff).U16(v >> 16); }
    // A colour as Reader::Color reads it: one nibble a channel.
    Seed& Color(uint16_t argbNibbles) { return U16(argbNibbles); }
    Seed& RenderState(D3DRENDERSTATETYPE state, uint8_t valueByte)
    {
        return Op(kOpRenderState).U8(Index(kRenderStates, state)).U8(valueByte);
    }
    Seed& SamplerState(int sampler, D3DSAMPLERSTATETYPE state, uint8_t valueByte)
    {
        return Op(kOpSamplerState).U8((uint8_t)(sampler | Index(kSamplerStates, state) << 1)).U8(valueByte);
    }
    Seed& ColorState(D3DRENDERSTATETYPE state, uint16_t color)
    {
        return Op(kOpRenderState).U8(Index(kRenderStates, state)).Color(color);
    }
    // A texture of A8R8G8B8 in a managed pool, every level noise.
    Seed& Texture(int slot, int size, int levels)
    {
        Op(kOpCreateTexture).U8((uint8_t)slot).U8((uint8_t)(size - 1)).U8((uint8_t)(size - 1)).U8((uint8_t)levels);
        for (int level = 0, s = size; level < (levels ? levels : 8) && s > 0; ++level, s >>= 1)
            U8(0).U32(0x1234567u + level);
        return *this;
    }
    Seed& SetTexture(int stage, int slot) { return Op(kOpSetTexture).U8((uint8_t)(stage | slot << 2)); }
    Seed& BigDraw(bool specular, bool slivers, int size, uint16_t count, uint32_t seed, uint8_t texScale,
                  uint16_t color)
    {
        return Op(kOpBigDraw)
            .U8((uint8_t)((specular ? 1 : 0) | (slivers ? 2 : 0) | (size - 1) << 2))
            .U16(count)
            .U32(seed)
            .U8(texScale)
            .Color(color);
    }
    void Write(const std::string& path) const
    {
        fuzzing::WriteInput(path, bytes_.data(), bytes_.size());
    }

private:
    template <class T, size_t N>
    static uint8_t Index(const T (&table)[N], T value)
    {
        for (size_t i = 0; i < N; ++i)
            if (table[i] == value)
                return (uint8_t)i;
        abort();
    }
    std::vector<uint8_t> bytes_;
};

void WriteSeeds(const std::string& folder)
{
    // A textured draw that fills the queue, then a write to its texture.
    Seed(0)
        .RenderState(D3DRS_CULLMODE, D3DCULL_NONE)
        .Texture(0, 16, 1)
        .SetTexture(0, 0)
        .BigDraw(false, false, 6, 9000, 7, 100, 0xffff)
        .Op(kOpLockTexture).U8(0).U8(1).U32(0xff00ff00u)
        .Write(folder + "/queue_filling_draw_then_texture_write");
    // The same, the texture let go instead, and its memory likely taken by
    // a new one of one colour.
    Seed(0)
        .RenderState(D3DRS_CULLMODE, D3DCULL_NONE)
        .Texture(1, 16, 1)
        .SetTexture(0, 1)
        .BigDraw(false, false, 6, 9000, 7, 100, 0xffff)
        .Op(kOpReleaseTexture).U8(1)
        .SetTexture(0, 4)
        .Op(kOpCreateTexture).U8(1).U8(15).U8(15).U8(1).U8(1).U32(0xffff0000u)
        .Write(folder + "/queue_filling_draw_then_texture_release");
    // Blended slivers of one colour past a queue's spans, then a blended
    // triangle of another: its table must not be the slivers'.
    Seed(kNoBlendFits)
        .RenderState(D3DRS_ALPHABLENDENABLE, 1)
        .RenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA)
        .RenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA)
        .RenderState(D3DRS_ZENABLE, 0)
        .RenderState(D3DRS_CULLMODE, D3DCULL_NONE)
        .BigDraw(false, true, 1, 8193, 3, 0, 0x80f0)
        .Op(kOpDrawUp).U8(3 /* triangle list, screen vertices with texture */).U8(0).U8(0)
        .U8(0).U8(0).U8(120).U8(200).Color(0x8f00).U8(0).U8(0)
        .U8(239).U8(0).U8(120).U8(200).Color(0x8f00).U8(0).U8(0)
        .U8(0).U8(239).U8(120).U8(200).Color(0x8f00).U8(0).U8(0)
        .Write(folder + "/blended_draw_after_a_queue_of_spans");
    // Every operation once or twice, on seeded vertices: a start for the fuzzer.
    const uint8_t kSeeded = 1 | 20 << 1;  // seeded vertices within 21 pixels
    Seed tour(0);
    tour.Texture(2, 8, 0)
        .SetTexture(0, 2)
        .SamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_LINEAR)
        .SamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR)
        .Op(kOpCreateVertexBuffer).U8(2 << 1).U8(27).U8(kSeeded).U32(11).U8(60).Color(0xffff)
        .Op(kOpCreateIndexBuffer).U8(0).U8(30);
    for (int i = 0; i < 33; ++i)
        tour.U8((uint8_t)(i * 7 % 30));
    tour.Op(kOpSetStream).U8(0)
        .Op(kOpDrawPrimitive).U8(3).U8(0).U8(9)
        .Op(kOpDrawIndexedPrimitive).U8(4).U8(0).U8(0).U8(30).U8(0).U8(20)
        .Op(kOpTransform).U8(1 /* view */).U8(2).U8(120).U8(120).U8(120).U8(180)
        .Op(kOpTransform).U8(2 /* projection */).U8(1).U8(100).U8(10).U8(100)
        .Op(kOpMaterialLight).U8(200).U8(100).U8(50).U8(239).U8(40).U8(40).U8(40).U8(100).U8(100).U8(100).U8(30)
        .U8(0 /* point light 0, off */).U8(239).U8(239).U8(239).U8(120).U8(120).U8(60).U8(0).U8(0).U8(239).U8(200)
        .RenderState(D3DRS_SPECULARENABLE, 1)
        .Op(kOpDrawUp).U8(3 | 3 << 3).U8(12).U8(kSeeded).U32(12).U8(100).Color(0x1000)
        .Op(kOpTransform).U8(1).U8(0)
        .Op(kOpTransform).U8(2).U8(0)
        .RenderState(D3DRS_ALPHABLENDENABLE, 1)
        .RenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA)
        .RenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA)
        .Op(kOpDrawUp).U8(1 /* lines */ | 1 << 3).U8(20).U8(kSeeded).U32(13).U8(30).Color(0x1000)
        .Op(kOpDrawUp).U8(0 /* points */).U8(40).U8(kSeeded).U32(14).U8(30).Color(0x1000)
        .Op(kOpStageState).U8(1 /* stage 1 colour op */).U8(D3DTOP_ADD)
        .Op(kOpStageState).U8(1 + 3 * 1 /* stage 1 arg 1 */).U8(D3DTA_TFACTOR)
        .ColorState(D3DRS_TEXTUREFACTOR, 0x0420)
        .Op(kOpDrawIndexedUp).U8(4 /* strip */ | 1 << 3).U8(8).U8(12).U8(kSeeded).U32(15).U8(200).Color(0x1000);
    for (int i = 0; i < 11; ++i)  // a strip of 9 triangles
        tour.U8((uint8_t)(i * 5 % 14));
    tour.Op(kOpStageState).U8(1).U8(D3DTOP_DISABLE)
        .Op(kOpClear).U8(D3DCLEAR_ZBUFFER | 2 << 3).U8(4).U8(4).U8(20).U8(20).U8(30).U8(20).U8(40).U8(30).Color(0)
        .U8(239).U8(0)
        .Op(kOpEffectDraw).U8(1 << 1 /* dancer, Toon, one triangle a call */).U8(0).U8(0).U8(0)
        .U8(239).U8(150).U8(60).U8(239);
    for (int i = 0; i < 40; ++i)
        tour.U8((uint8_t)(i * 37 % 240));
    tour.U8(9).U8(kSeeded).U32(16).U8(0).Color(0)
        .Op(kOpEffectDraw).U8(1 | 8 /* spot, all at once */).U8(0).U8(0).U8(0).U8(120).U8(239).U8(239).U8(239);
    for (int i = 0; i < 40; ++i)
        tour.U8((uint8_t)(i * 53 % 240));
    tour.U8(9).U8(kSeeded).U32(17).U8(0).Color(0)
        .Op(kOpLockBackBuffer).U8(0)
        .Op(kOpLockBackBuffer).U8(1).U8(10).U8(10).U8(8).U8(8).U8(1).U32(0xff204080u)
        .Op(kOpPresent)
        .Op(kOpViewport).U8(8).U8(4).U8(40).U8(30).U8(0).U8(255)
        .BigDraw(false, false, 4, 2000, 5, 60, 0x1000)
        .Op(kOpLockTexture).U8(2 | 0x20 /* read back */)
        .Op(kOpSetLod).U8(2 | 1 << 2)
        .BigDraw(true, false, 3, 500, 6, 60, 0xcfff)
        .Op(kOpLockTexture).U8(2 | 0x10 /* a rectangle */).U8(1).U8(1).U8(3).U8(3).U8(1).U32(0x80ff0000u)
        .Op(kOpPresent);
    tour.Write(folder + "/every_operation");
    // An effect's triangles drawn a call each, its tint changed before each:
    // more frozen programs than a queue holds.
    Seed constants(0);
    constants.Op(kOpEffectDraw).U8(2 << 1 | 16 /* dancer, Glow, a tint a triangle */).U8(0).U8(0).U8(0)
        .U8(239).U8(120).U8(120).U8(239);
    for (int i = 0; i < 40; ++i)
        constants.U8((uint8_t)(i * 37 % 240));
    constants.U8(20).U8(kSeeded).U32(5).U8(0).Color(0)
        .Write(folder + "/effect_constants_between_queued_draws");
    // A mipmapped triangle whose texture coordinates span 1e30 over a few
    // pixels, under three largest mip levels.
    const uint8_t kMaxMipLevels[3] = {0xc0 /* 0x80000000 */, 0xc1 /* 0xffffffff */, 0};
    const char* const kNames[3] = {"mip_slope_overflow_maxmiplevel_80000000", "mip_slope_overflow_maxmiplevel_ffffffff",
                                   "mip_slope_overflow_maxmiplevel_0"};
    for (int i = 0; i < 3; ++i)
        Seed(0)
            .Texture(0, 16, 0)
            .SetTexture(0, 0)
            .SamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_POINT)
            .SamplerState(0, D3DSAMP_MAXMIPLEVEL, kMaxMipLevels[i])
            .Op(kOpDrawUp).U8(3).U8(0).U8(0)
            .U8(10).U8(10).U8(120).U8(200).Color(0xffff).U8(0).U8(0)
            .U8(200).U8(10).U8(120).U8(200).Color(0xffff).U8(0xf3 /* 1e30 */).U8(0)
            .U8(10).U8(150).U8(120).U8(200).Color(0xffff).U8(0).U8(0xf3)
            .Write(folder + "/" + kNames[i]);
}

}  // namespace
