// The software renderer behind the Direct3D 9 device, its pipeline in file
// order: fixed-function vertex processing (vertex.cpp), clipping (clip.cpp),
// set-up with Direct3D 9's fill conventions, pixel centres on integer
// coordinates and the top-left rule (setup.cpp), the frame queue of
// commands binned by bands of rows, with the state each is drawn with, and
// its flush (queue.cpp), the workers drawing bands (bands.cpp, on the pool
// of workers.cpp), the pixel paths (pixel_paths.cpp chooses and reports
// them; pixel_spans.cpp, pixel_general.cpp) and the target
// (framebuffer.cpp).
#ifndef VELMORA_RASTER_H
#define VELMORA_RASTER_H

#include <d3d9types.h>

#include "renderer/pages.h"

#include <stdint.h>

#include <memory>
#include <vector>

namespace vr {

class Workers;
struct Color;

const int kMaxStages = 8;
const int kTexSets = 2;  // texture coordinate sets carried through the pipeline
const int kMaxLights = 8;
// Floats a vertex carries to the pixels: diffuse, specular and the texture
// sets for the fixed pipeline, up to eight four-float slots for shaders.
const int kMaxVaryings = 32;

// One mip level of a texture as the sampler sees it.
struct TexLevel {
    const uint8_t* bits = nullptr;
    int width = 0;
    int height = 0;
    int pitch = 0;
    D3DFORMAT format = D3DFMT_UNKNOWN;
};

struct TexView {
    TexLevel levels[16];
    int levelCount = 0;
    // Set by the rasteriser to the epoch of the queue whose commands read
    // the texture (see Rasterizer::Epoch); null: not kept.
    uint64_t* readIn = nullptr;
};

// Reads one texel as 0xAARRGGBB; formats without alpha read opaque.
uint32_t FetchTexel(const TexLevel& level, int x, int y);
// Bytes per pixel of a colour format, 0 when not a supported colour format.
int FormatBytes(D3DFORMAT format);

// A vertex after vertex processing: clip-space position (or screen position
// and 1/w for pre-transformed vertices), colours and texture coordinates.
struct Vertex {
    float x, y, z, w;
    float diffuse[4];   // r, g, b, a in 0..1
    float specular[4];
    float tex[kTexSets][2];
    float extra[kMaxVaryings - 8 - 2 * kTexSets];  // further shader outputs
};

// A pixel shader: reads the interpolated floats, writes the colour (r, g,
// b, a); false discards the pixel.
class PixelProgram {
public:
    virtual ~PixelProgram() = default;
    virtual bool Shade(const float* attr, float out[4]) = 0;
    // Pixels shaded together, at most kLanes: float k of pixel l at
    // attr[k * kLanes + l] (k < attrs), channel c of its colour to
    // out[c * kLanes + l], keep[l] false when it is discarded. Each pixel
    // gets what Shade gives it, the pixels taken in order. Rows are whole:
    // lanes from `count` on may be read and written.
    static constexpr int kLanes = 16;
    virtual void ShadeBatch(const float* attr, int attrs, int count, float* out, bool* keep);

protected:
    // A batch's pixels one at a time through shade(attr, colour).
    template <class Shade>
    static void ShadeOneByOne(const float* attr, int attrs, int count, float* out, bool* keep, Shade shade)
    {
        for (int l = 0; l < count; ++l) {
            float a[kMaxVaryings], c[4];
            for (int k = 0; k < attrs && k < kMaxVaryings; ++k)
                a[k] = attr[k * kLanes + l];
            keep[l] = shade(a, c);
            for (int i = 0; i < 4; ++i)
                out[i * kLanes + l] = c[i];
        }
    }

public:
    // The program as it stands now, its constants included, frozen for
    // pixels drawn later by any thread: a handle for ShadeFrozen and
    // ShadeBatchFrozen, or -1 when the program carries values from one pixel
    // to the next (its pixels are then drawn at once, in order, on the
    // drawing thread, through Shade and ShadeBatch).
    virtual int Freeze() { return -1; }
    // Every handle is let go: the pixels that held them are drawn.
    virtual void Thaw() {}
    // Room for threads 0 to `threads` - 1, taken once, before they shade.
    virtual void ReadyThreads(int /*threads*/) {}
    // Shade and ShadeBatch of a frozen program, as `thread`; several threads
    // may call at once, each with its own number.
    virtual bool ShadeFrozen(int frozen, int thread, const float* attr, float out[4]);
    virtual void ShadeBatchFrozen(int frozen, int thread, const float* attr, int attrs, int count, float* out,
                                  bool* keep);

    // True for a program that only hands on interpolated floats or constants:
    // for r, g, b and a the float's index, or -1 and the constant.
    virtual bool Copies(int /*source*/[4], float /*constant*/[4]) const { return false; }
};

struct StageState {
    DWORD colorOp, colorArg1, colorArg2, colorArg0;
    DWORD alphaOp, alphaArg1, alphaArg2, alphaArg0;
    DWORD texCoordIndex;
    DWORD resultArg;
    const TexView* texture;  // null: no texture bound
    DWORD addressU, addressV;
    DWORD magFilter, minFilter, mipFilter;
    DWORD maxMipLevel;
    D3DCOLOR borderColor;
};

// Everything the pixel stage needs, snapshotted per draw call.
struct PixelState {
    bool zEnable, zWrite;
    DWORD zFunc;
    bool alphaBlend;
    DWORD srcBlend, destBlend, blendOp;
    bool alphaTest;
    DWORD alphaRef, alphaFunc;
    bool specularEnable;
    bool flatShade;
    DWORD colorWriteMask;
    DWORD cullMode;
    DWORD textureFactor;
    StageState stages[kMaxStages];
    int stageCount;  // stages before the first disabled one
    PixelProgram* program;  // null: the texture stages colour the pixel
    int programAttrs;       // floats interpolated for the program
};

struct Target {
    uint32_t* color = nullptr;  // 0xAARRGGBB, rows top to bottom
    float* depth = nullptr;     // null: no depth buffer
    int width = 0;
    int height = 0;
    bool hasAlpha = false;  // destination alpha is stored (A8R8G8B8)
};

// Fills [x0, x1) x [y0, y1) of the colour and/or the depth plane.
void ClearTarget(const Target& target, int x0, int y0, int x1, int y1, bool color, uint32_t value, bool depth,
                 float z);

// dst = src with every alpha byte 0xff (how an X8R8G8B8 picture shows).
void CopyOpaque(const uint32_t* src, uint32_t* dst, size_t count);

struct Viewport {
    int x, y, width, height;
    float minZ, maxZ;
};

// Fixed-function vertex processing state.
struct LightState {
    D3DLIGHT9 light;  // position and direction already in view space
};

struct VertexState {
    D3DMATRIX world, view, projection;
    bool lighting;
    bool normalizeNormals;
    bool specularEnable;
    bool localViewer;
    bool colorVertex;
    DWORD diffuseSource, specularSource, ambientSource, emissiveSource;
    D3DCOLOR ambient;
    D3DMATERIAL9 material;
    std::vector<D3DLIGHT9> lights;  // enabled lights in world space
    DWORD texCoordIndex[kTexSets];  // which FVF set feeds each carried set
};

// Layout of a flexible vertex format.
struct FvfLayout {
    bool valid = false;
    bool pretransformed = false;
    int size = 0;
    int position = 0;
    int normal = -1;
    int diffuse = -1;
    int specular = -1;
    int texCount = 0;
    int tex[8] = {-1, -1, -1, -1, -1, -1, -1, -1};
    int texDims[8] = {2, 2, 2, 2, 2, 2, 2, 2};
};
FvfLayout DecodeFvf(DWORD fvf);

// Clips a convex polygon in clip space against the view volume, x and y
// with a guard band; returns the new vertex count (below 3: nothing left).
// Both arrays hold at least 16 vertices.
int ClipPolygon(Vertex* poly, int count, Vertex* scratch);

// Transforms and lights `count` vertices read from `data` with `stride`.
class VertexProcessor {
public:
    void Setup(const VertexState& state, const FvfLayout& layout);
    void Process(const uint8_t* vertex, Vertex* out) const;

private:
    VertexState state_;
    FvfLayout layout_;
    D3DMATRIX worldView_, worldViewProj_;
    float normalMatrix_[3][3];
    struct PreparedLight {
        D3DLIGHTTYPE type;
        float pos[3], dir[3];  // view space; dir = towards the light for directional lights
        float diffuse[3], specular[3], ambient[3];
        float range, falloff, att0, att1, att2, cosHalfTheta, cosHalfPhi;
    };
    std::vector<PreparedLight> lights_;
};

// Whether textured draws in the common configuration take the specialised
// pixel loop (on by default); off, every pixel goes through the general one.
void SetFastPixelPaths(bool enable);
// Whether the general path shades a pixel program's pixels in batches (on
// by default, and only with the fast paths); off, one pixel at a time.
void SetPixelBatches(bool enable);
// Whether every piece of work goes to the threads, however small it or the
// last frame was (off by default; for tests of the threads).
void SetShareAllWork(bool enable);
// Whether blends of one source colour compute their tables' linear fits
// (on by default); off, they look every byte up (for tests).
void SetBlendTableFits(bool enable);

// The span loops (pixel_spans.cpp) a draw's triangles take, chosen once a
// draw, refused for a triangle whose planes are not all finite: the diffuse
// colour, modulated by a texture whose texels are all alike or by one
// sampled at a fixed level, or a program's copied floats; or none.
enum SpanMode {
    kSpanOff,
    kSpanColor,
    kSpanUniformPoint,
    kSpanUniformLinear,
    kSpanSampledPoint,
    kSpanSampledLinear,
    kSpanCopy
};

// A rectangle of pixels, both ends included.
struct Rect {
    int x0, y0, x1, y1;
};

// Planes a set-up triangle carries: depth, 1/w and the attributes, padded
// to whole groups of four.
const int kPaddedPlanes = (2 + kMaxVaryings + 3) / 4 * 4;

// What a draw's pixels are drawn with, and the pixel paths that draw them.
// The rasteriser holds the current one; a copy taken at the draw goes with
// its commands into the frame queue (queue.cpp) and stays as it was, so
// that any thread may draw them later. Every path draws only the pixels
// inside the rectangle it is given: a band, or the whole target.
class PixelPipe {
public:
    struct EdgeFn {
        int64_t stepX, stepY, row;
    };
    struct ScreenVertex {
        float x, y, z, iw;
        float attr[kMaxVaryings];
    };
    // A set-up triangle: edge functions and planes (depth, 1/w, the
    // attributes over w) from (minX, minY), its bounds inside the viewport.
    struct Tri {
        EdgeFn e[3];
        int minX, maxX, minY, maxY;
        alignas(16) float base[kPaddedPlanes];
        alignas(16) float ddx[kPaddedPlanes];
        alignas(16) float ddy[kPaddedPlanes];
    };
    // A line from its screen vertices; a point, the pixel and its floats.
    struct Line {
        ScreenVertex a, b;
        bool lastPixel;
    };
    struct Dot {
        int x, y;
        float z;
        float attr[kMaxVaryings];
    };
    // Pixels of one triangle waiting for the pixel program, in the order
    // the walk met them.
    struct PixelLanes {
        int count;
        uint32_t index[PixelProgram::kLanes];
        float z[PixelProgram::kLanes];
        alignas(64) float attr[kMaxVaryings * PixelProgram::kLanes];
        alignas(64) float color[4 * PixelProgram::kLanes];
        bool keep[PixelProgram::kLanes];
    };

    // The pixel paths; each adds the pixels it writes to `written`. `thread`
    // is the drawing thread's number among the rasteriser's threads.
    // The general path, texture stages or a pixel program one pixel at a time.
    void DrawGeneral(const Tri& t, const Rect& r, int thread, uint64_t* written) const;
    // A pixel program's pixels shaded in batches (`lanes` the thread's own).
    void DrawProgram(const Tri& t, const Rect& r, PixelLanes& lanes, int thread, uint64_t* written) const;
    void DrawLine(const Line& l, const Rect& r, int thread, uint64_t* written) const;
    void DrawDot(const Dot& d, const Rect& r, int thread, uint64_t* written) const;
    const Target& GetTarget() const { return target_; }

protected:
    friend class Rasterizer;  // freezes its copies' programs
    // What a stage's set-up decides once per draw.
    struct StagePrep {
        int set;                  // texture coordinate set it reads
        float log2Size;           // log2 of level 0's larger side
        bool passesWithoutTexture;  // reads a texture it does not have
    };
    struct FastTri;
    void ShadePixel(int index, float z, const float* attr, const float* lod, int thread, uint64_t* written) const;
    // ShadePixel after the colour is known: alpha test, blend and writes;
    // false when the alpha test drops the pixel.
    bool WritePixel(int index, float z, const Color& current) const;
    // Shades and writes the waiting pixels as ShadePixel would one by one.
    void ShadeLanes(PixelLanes& lanes, int attrs, int thread, uint64_t* written) const;
    void Sample(int stage, float u, float v, float lod, float out[4]) const;
    void FastModulate(const FastTri& t, const Rect& r, uint64_t* written) const;
    template <bool kBlend, bool kSpecular>
    void FastFill(const FastTri& t, const Rect& r, uint64_t* written) const;
    // The pixel program, frozen with the pipe or (-1) the live one.
    bool Shade(const float* attr, float out[4], int thread) const;

    // Why a draw's triangles miss the span loops.
    enum SpanMiss {
        kMissNone,
        kMissReference,  // the fast paths are switched off
        kMissAlphaTest,
        kMissWriteMask,
        kMissBlend,    // a blend other than none or source alpha
        kMissProgram,  // the pixel program does more than hand on floats
        kMissStages,   // the stages do more than pass the colour or modulate one texture
        kMissLod,      // the texture's level of detail may change from pixel to pixel
        kMissLevel,    // the texture level is empty or wider than 2048
    };
    // The paths a triangle takes, counted for the report at exit.
    enum PixelPath { kPathSpans, kPathProgramBatch, kPathModulate, kPathGeneral, kPathCount };
    static void CountDraw(SpanMiss miss);
    static void CountTriangle(PixelPath path, bool planesMissed);
    static bool PixelBatches();

    Target target_;
    PixelState state_ = {};
    int clipX0_ = 0, clipY0_ = 0, clipX1_ = 0, clipY1_ = 0;  // scissor, exclusive max
    int frozen_ = -1;  // the program's frozen handle; -1: the live program
    bool passThrough_ = false;  // no stage changes the diffuse colour
    bool fastPaths_ = true;  // shortcuts allowed; off, every pixel takes the general path
    // The path of the triangles the span loops do not take: a program's
    // pixels in batches; one textured stage modulating the diffuse colour,
    // no alpha test, opaque or source-alpha blending (the specialised loop);
    // or the general path.
    PixelPath path_ = kPathGeneral;
    float factor_[4] = {0, 0, 0, 0};  // texture factor, r g b a
    StagePrep prep_[kMaxStages] = {};
    int attrs_ = 4 + 4 + 2 * kTexSets;  // floats interpolated per vertex
    SpanMode spanMode_ = kSpanOff;
    SpanMiss spanMiss_ = kMissNone;
    float spanTexel_[4] = {0, 0, 0, 0};  // the uniform texture's colour
    float spanTexSize_[2] = {0, 0};
    const TexLevel* spanLevel_ = nullptr;
    int spanSource_[4] = {0, 1, 2, 3};  // the copying program's floats, -1: spanConst_
    float spanConst_[4] = {0, 0, 0, 0};
};

struct SpanJob;

// Set-up and binning: triangles, lines, points and clears become commands
// of one frame queue, in the order they come, each binned by the bands of
// rows it touches and holding the pipe it is drawn with. The queue
// is drawn at a flush: band by band on the threads, each band's commands in
// queue order, so that any number of threads draws the same picture. A
// frame too small to gain is drawn at once on the calling thread.
class Rasterizer : private PixelPipe {
public:
    Rasterizer();
    ~Rasterizer();
    Rasterizer(const Rasterizer&) = delete;
    Rasterizer& operator=(const Rasterizer&) = delete;

    void SetTarget(const Target& target);
    using PixelPipe::GetTarget;
    void SetViewport(const Viewport& viewport);
    void SetState(const PixelState& state);

    // Clip-space triangle (or screen-space when pretransformed); clips, culls
    // and fills.
    void DrawTriangle(const Vertex& a, const Vertex& b, const Vertex& c, bool pretransformed);
    void DrawLine(const Vertex& a, const Vertex& b, bool pretransformed, bool lastPixel);
    void DrawPoint(const Vertex& a, bool pretransformed);
    // ClearTarget on the target, in order with the draws.
    void Clear(int x0, int y0, int x1, int y1, bool color, uint32_t value, bool depth, float z);
    // Draws the queue: the device calls it before pixels are read, and
    // before a texture that queued work reads is written or let go.
    void Flush();
    // The one rule for sharing work among the threads: the rasteriser's
    // threads for work that takes one thread about `nanoseconds`, or null when
    // it, or the last frame's work, is too little to pay for waking them.
    Workers* WorkersFor(int64_t nanoseconds);
    // A frame was shown: the work asked for since the last is the frame's.
    void EndFrame();
    // Whether commands wait in the queue: there are threads and the last
    // frame was large enough for them.
    bool Sharing() const;
    // Counts the flushes: work queued now is drawn by the flush that ends
    // this epoch. A resource read by queued work is stamped with it.
    uint64_t Epoch() const { return epoch_; }
    // Whether queued work waits to be drawn.
    bool Waiting() const;

    // Pixels written since the last reset (for tests and figures).
    uint64_t pixelsWritten = 0;

private:
    enum Kind : uint8_t { kCmdSpans, kCmdProgram, kCmdGeneral, kCmdLine, kCmdDot, kCmdClear };
    struct FrameQueue;
    struct FrameQueueFree {
        void operator()(FrameQueue* q) const;
    };
    void ToScreen(const Vertex& v, bool pretransformed, ScreenVertex* out) const;
    static void VertexPlanes(const ScreenVertex& v, int planes, int padded, float* out);
    void FillTriangle(const ScreenVertex& a, const ScreenVertex& b, const ScreenVertex& c);
    void FillLine(const ScreenVertex& a, const ScreenVertex& b, bool lastPixel);
    void FillPoint(const ScreenVertex& s);
    void ChoosePixelPaths(bool plainBlend);
    // The span loops' job for a triangle, without its blend table; false
    // when its planes are not all finite.
    bool SetUpSpans(const Tri& t, SpanJob* job) const;
    // Whether a job blends through a table: none, the queue's last one, or
    // one to be made (`src` its source colour).
    enum TableUse { kNoTable, kLastTable, kNewTable };
    TableUse SpanTable(SpanJob& j, float src[4]) const;
    // The job's table in the queue as it is now: the last one when it fits,
    // else one made, if it pays and there is room.
    void TakeTable(SpanJob& j, const float src[4]);
    // Whether one more command fits in the queue as it is: its item (room
    // in its items), `tables` new blend tables and, when `piped`, its pipe.
    bool Fits(bool itemRoom, size_t tables, bool piped) const;
    // The queue's copy of the current pipe, made at the first command after
    // a change or a flush, and with it the frozen program and the textures
    // it reads bound to the queue; -1 when commands are drawn at once (no
    // sharing, or a pixel program that cannot be frozen). Never draws the
    // queue: Reserve has made room.
    int BindPipe();
    // The one way into the queue: room for one more command with its item
    // in `items` and `tables` new blend tables, the queue drawn first when
    // it has none, then, when `piped`, the command's pipe bound in the queue
    // that will hold it (pipe_). False, with the queue drawn, for a command
    // to be drawn at once.
    template <class Items>
    bool Reserve(Items& items, size_t tables = 0, bool piped = true);
    // Queues one command over the pixels of `bounds` (a triangle's with its
    // edges from the corner), its item already stored after Reserve.
    void Queue(Kind kind, int pipe, uint32_t item, const Rect& bounds, int64_t nanoseconds,
               const EdgeFn* e = nullptr);
    // Where a command's pipe and item are in the queue.
    struct Command {
        Kind kind;
        uint32_t pipe;
        uint32_t item;
    };
    // A command drawn over `r`.
    void Draw(const Command& c, const Rect& r, int thread, uint64_t* written);
    void QueueTri(Kind kind, const Tri& t);
    void QueueSpans(SpanJob& j);
    void QueueLine(const Line& l, const Rect& bounds);
    void QueueDot(const Dot& d);
    void DrawBand(int band, int thread, uint64_t* written);

    uint64_t epoch_ = 1;
    int threads_;  // RenderThreads() when made
    std::unique_ptr<Workers> workers_;  // made when work is first shared
    std::unique_ptr<FrameQueue, FrameQueueFree> queue_;
    int pipe_ = -1;  // the current pipe's copy in the queue, -1: none yet
    bool pipeDirect_ = false;  // the current pipe cannot be queued
    // Made once (zeroed): lanes past a batch's pixels hold earlier numbers.
    std::unique_ptr<PixelLanes> lanes_;
    int64_t frameWork_ = 0;  // nanoseconds asked of WorkersFor since the frame began
    int64_t lastFrameWork_ = INT64_MAX;  // unknown before the first frame: as if large
    Viewport viewport_ = {0, 0, 0, 0, 0.f, 1.f};
};

}  // namespace vr

#endif
