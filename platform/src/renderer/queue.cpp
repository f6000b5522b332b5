// The rasteriser's queues and their flush: the waiting triangles of the
// span loops (pixel_spans.cpp) and of pixel programs, drawn in the order they
// came, and the one rule for handing work to the threads (workers.cpp).
#include "renderer/pixel_ops.h"
#include "renderer/workers.h"

#include <string.h>

#include <algorithm>
#include <atomic>

namespace vr {

namespace {

// Work below this many nanoseconds stays on the calling thread: waking the
// workers, and their spinning for the next hand-out, cost more than it saves.
const int64_t kShareFrom = 100 * 1000;
// A frame whose work took less stays on the calling thread whole: its few
// large hand-outs would keep the workers awake for little gain. (The demo
// at 800 x 600 counts 2.4 to 3.5 ms, at 1920 x 1080 4.2 to 6.4 ms.)
const int64_t kFrameShareFrom = 4000 * 1000;
std::atomic<bool> g_shareAll{false};
// Program triangles that may wait at once (room taken up front: a steady
// frame allocates nothing).
const size_t kMaxProgramTris = 2048;
// Rows a worker clears at a time.
const int kClearRows = 16;

}  // namespace

Rasterizer::Rasterizer()
    : threads_(RenderThreads()), spans_(NewSpanQueue(threads_ > 1)), lanes_(new PixelLanes()),
      programs_(new ProgramQueue)
{
    if (threads_ > 1) {
        programs_->tris.reserve(kMaxProgramTris);
        for (int t = 0; t < threads_; ++t)
            programs_->lanes.emplace_back(new PixelLanes());
    }
}

Rasterizer::~Rasterizer() = default;

// The one place the pool is made: when work is first shared.
Workers* Rasterizer::WorkersFor(int64_t nanoseconds)
{
    frameWork_ += nanoseconds;
    if (!Sharing() || (nanoseconds < kShareFrom && !g_shareAll.load(std::memory_order_relaxed)))
        return nullptr;
    if (!workers_)
        workers_.reset(new Workers(threads_));
    return workers_.get();
}

void SetShareAllWork(bool enable)
{
    g_shareAll.store(enable);
}

bool Rasterizer::Sharing() const
{
    return threads_ > 1 && (lastFrameWork_ >= kFrameShareFrom || g_shareAll.load(std::memory_order_relaxed));
}

void Rasterizer::EndFrame()
{
    lastFrameWork_ = frameWork_;
    frameWork_ = 0;
}

bool Rasterizer::Waiting() const
{
    return !programs_->tris.empty() || WaitingSpans();
}

void Rasterizer::Flush()
{
    ++epoch_;
    // A program's triangles only wait behind span triangles already drawn.
    FlushPrograms();
    FlushSpans();
}

void Rasterizer::Clear(int x0, int y0, int x1, int y1, bool color, uint32_t value, bool depth, float z)
{
    Flush();
    // Clearing is bound by memory, at several pixels a nanosecond.
    Workers* workers = WorkersFor((int64_t)(x1 - x0) * (y1 - y0) / 8);
    if (!workers) {
        ClearTarget(target_, x0, y0, x1, y1, color, value, depth, z);
        return;
    }
    struct Job {
        const Target* target;
        int x0, y0, x1, y1;
        bool color, depth;
        uint32_t value;
        float z;
    } job = {&target_, x0, y0, x1, y1, color, depth, value, z};
    workers->Run((y1 - y0 + kClearRows - 1) / kClearRows, [](void* context, int band) {
        const Job& j = *(const Job*)context;
        const int top = j.y0 + band * kClearRows;
        ClearTarget(*j.target, j.x0, top, j.x1, std::min(j.y1, top + kClearRows), j.color, j.value, j.depth, j.z);
    }, &job);
}

// With threads a pixel program's triangles wait, and each thread draws them
// all, in order, over bands of rows of its own (ProgramRows in raster.cpp).
void Rasterizer::ProgramTriangle(const EdgeFn* e, int minX, int maxX, int minY, int maxY, const float* base,
                                 const float* ddx, const float* ddy)
{
    ProgramQueue& q = *programs_;
    if (q.lanes.size() > 1 && Sharing()) {
        if (q.tris.empty())
            q.shared = state_.program->ShareAmong((int)q.lanes.size());
        if (q.shared) {
            ProgramTri& t = q.tris.emplace_back();
            for (int i = 0; i < 3; ++i)
                t.e[i] = e[i];
            t.minX = minX, t.maxX = maxX, t.minY = minY, t.maxY = maxY;
            const int planes = 2 + attrs_;
            memcpy(t.base, base, sizeof(float) * (size_t)planes);
            memcpy(t.ddx, ddx, sizeof(float) * (size_t)planes);
            memcpy(t.ddy, ddy, sizeof(float) * (size_t)planes);
            if (q.tris.size() == 1)
                q.minY = minY, q.maxY = maxY;
            q.minY = std::min(q.minY, minY), q.maxY = std::max(q.maxY, maxY);
            q.area += (int64_t)(maxX - minX + 1) * (maxY - minY + 1);
            if (q.tris.size() == q.tris.capacity())
                FlushPrograms();
            return;
        }
    }
    frameWork_ += (int64_t)(maxX - minX + 1) * (maxY - minY + 1) * 4;  // as FlushPrograms counts it
    uint64_t written = 0;
    ProgramRows(e, minX, maxX, minY, minY, maxY, base, ddx, ddy, *lanes_, 0, &written);
    pixelsWritten += written;
}

void Rasterizer::FlushPrograms()
{
    ProgramQueue& q = *programs_;
    if (q.tris.empty())
        return;
    // Rows a thread takes at a time; a pixel program's pixel costs several
    // nanoseconds, bounding boxes count twice the pixels.
    const int kBandRows = 8;
    Workers* workers = WorkersFor(q.area * 4);  // ProgramTriangle counts the same
    struct Job {
        Rasterizer* r;
        std::atomic<uint64_t> written{0};
    } job;
    job.r = this;
    auto band = [](void* context, int index) {
        Job& j = *(Job*)context;
        ProgramQueue& q = *j.r->programs_;
        const int thread = Workers::Current();
        const int y0 = q.minY + index * kBandRows, y1 = y0 + kBandRows - 1;
        uint64_t written = 0;
        for (const ProgramTri& t : q.tris) {
            if (t.maxY < y0 || t.minY > y1)
                continue;
            j.r->ProgramRows(t.e, t.minX, t.maxX, t.minY, std::max(t.minY, y0), std::min(t.maxY, y1), t.base, t.ddx,
                             t.ddy, *q.lanes[(size_t)thread], thread, &written);
        }
        j.written.fetch_add(written, std::memory_order_relaxed);
    };
    const int bands = (q.maxY - q.minY) / kBandRows + 1;
    if (workers) {
        workers->Run(bands, band, &job);
    } else {
        for (int i = 0; i < bands; ++i)
            band(&job, i);
    }
    pixelsWritten += job.written.load();
    q.tris.clear();
    q.area = 0;
}

}  // namespace vr
