// The frame queue: commands with the pipes they are drawn with, binned by
// the bands of rows they touch; the one way in (Reserve), the one flush that
// draws them (its bands drawn by bands.cpp), and the one rule for handing
// work to the threads (on the pool of workers.cpp).
#include "renderer/queue.h"

#include "renderer/pixel_ops.h"
#include "renderer/workers.h"

#include <string.h>

#include <algorithm>

namespace vr {

namespace {

// Work below this many nanoseconds stays on the calling thread: a hand-out
// wakes the workers, and each spins a while for the next, which costs the
// machine more than a shared millisecond saves (a vertex batch, the picture
// copy at 1920 x 1080).
const int64_t kShareFrom = 1000 * 1000;
// A frame whose work took less is drawn at once on the calling thread: its
// hand-outs would keep the workers awake for little gain. (The demo counts
// 2.1 to 3.5 ms at 800 x 600, 3.9 to 7 ms at 1920 x 1080.)
const int64_t kFrameShareFrom = 3800 * 1000;
std::atomic<bool> g_shareAll{false};

const size_t kMaxCommands = 32768;
const size_t kMaxPipes = 1024;
const size_t kMaxTris = 8192;
const size_t kMaxSpans = 8192;
const size_t kMaxLines = 4096;
const size_t kMaxDots = 4096;
const size_t kMaxClears = 256;
const size_t kMaxTables = 32;
const size_t kMaxChunks = 16384;  // 4 MB of bins

// What a pixel of each kind of command costs one thread, in nanoseconds
// per pixel of its bounds (which hold about twice the pixels drawn).
int64_t Cost(int64_t area, int kind)
{
    switch (kind) {
    case 0:  // span loops
        return area / 2;
    case 1:  // pixel program batches
        return area * 4;
    case 2:  // general path
        return area * 8;
    default:  // clears: bound by memory, several pixels a nanosecond
        return area / 8;
    }
}

}  // namespace

void SetShareAllWork(bool enable)
{
    g_shareAll.store(enable);
}

void Rasterizer::FrameQueueFree::operator()(FrameQueue* q) const
{
    delete q;
}

Rasterizer::Rasterizer() : threads_(RenderThreads()), queue_(new FrameQueue), lanes_(new PixelLanes())
{
    FrameQueue& q = *queue_;
    // The span loops' blend tables are used at once as well.
    q.tables.reserve(kMaxTables);
    if (threads_ > 1) {
        q.commands.reserve(kMaxCommands);
        q.pipes.reserve(kMaxPipes);
        q.tris.reserve(kMaxTris);
        q.spans.reserve(kMaxSpans);
        q.lines.reserve(kMaxLines);
        q.dots.reserve(kMaxDots);
        q.clears.reserve(kMaxClears);
        q.chunks.reserve(kMaxChunks);
        for (int t = 0; t < threads_; ++t)
            q.lanes.emplace_back(new PixelLanes());
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
    return !queue_->commands.empty();
}

void Rasterizer::SetTarget(const Target& target)
{
    Flush();
    target_ = target;
    pipe_ = -1;
    FrameQueue& q = *queue_;
    q.bands = (target.height + kBandRows - 1) >> kBandShift;
    q.bins.clear();
    if (threads_ > 1) {
        q.bins.resize((size_t)q.bands);
        q.used.reserve(q.bins.size());
    }
}

bool Rasterizer::Fits(bool itemRoom, size_t tables, bool piped) const
{
    const FrameQueue& q = *queue_;
    // Room for a full-screen command's chunks.
    if (!itemRoom || q.commands.size() == q.commands.capacity() ||
        q.chunks.size() + q.bins.size() > q.chunks.capacity() || q.tables.size() + tables > q.tables.capacity())
        return false;
    if (!piped || pipe_ >= 0)
        return true;
    if (q.pipes.size() == q.pipes.capacity())
        return false;
    return !state_.program || q.Frozen(state_.program) ||
           q.frozenCount < (int)(sizeof q.frozen / sizeof q.frozen[0]);
}

int Rasterizer::BindPipe()
{
    if (pipe_ >= 0)
        return pipe_;
    if (pipeDirect_ || !Sharing())
        return -1;
    FrameQueue& q = *queue_;
    int frozen = -1;
    if (PixelProgram* program = state_.program) {
        if (!q.Frozen(program)) {
            program->ReadyThreads(threads_);
            q.frozen[q.frozenCount++] = program;
        }
        frozen = program->Freeze();
        if (frozen < 0) {
            // It carries values from pixel to pixel: drawn at once, in order.
            pipeDirect_ = true;
            return -1;
        }
    }
    q.pipes.push_back(static_cast<const PixelPipe&>(*this));
    q.pipes.back().frozen_ = frozen;
    // Whoever writes or frees these textures draws this queue first.
    for (int s = 0; s < state_.stageCount; ++s)
        if (const TexView* texture = state_.stages[s].texture)
            if (texture->readIn)
                *texture->readIn = epoch_;
    pipe_ = (int)q.pipes.size() - 1;
    return pipe_;
}

template <class Items>
bool Rasterizer::Reserve(Items& items, size_t tables, bool piped)
{
    // Drawn at once: after what waits. A clear reads no state: only
    // sharing decides for it.
    if (piped ? pipe_ < 0 && (pipeDirect_ || !Sharing()) : !Sharing()) {
        Flush();
        return false;
    }
    if (!Fits(items.size() < items.capacity(), tables, piped))
        Flush();
    if (piped && BindPipe() < 0) {
        Flush();
        return false;
    }
    return true;
}

void Rasterizer::Queue(Kind kind, int pipe, uint32_t item, const Rect& bounds, int64_t nanoseconds, const EdgeFn* e)
{
    FrameQueue& q = *queue_;
    const uint32_t index = (uint32_t)q.commands.size();
    q.commands.push_back({kind, (uint32_t)pipe, item});
    q.work += nanoseconds;
    const int b0 = bounds.y0 >> kBandShift, b1 = bounds.y1 >> kBandShift;
    // A triangle over more than two bands skips those outside one of its
    // edges: an edge function's largest value over a band's pixel centres
    // is at one of its corners.
    const bool skip = e && b1 > b0 + 1;
    const int64_t share = nanoseconds / (b1 - b0 + 1);
    for (int band = b0; band <= b1; ++band) {
        if (skip) {
            const int64_t x1 = bounds.x1 - bounds.x0;
            const int64_t y0 = std::max(band << kBandShift, bounds.y0) - bounds.y0;
            const int64_t y1 = std::min(((band + 1) << kBandShift) - 1, bounds.y1) - bounds.y0;
            bool outside = false;
            for (int i = 0; i < 3 && !outside; ++i)
                outside = e[i].row + e[i].stepX * (e[i].stepX > 0 ? x1 : 0) +
                              e[i].stepY * (e[i].stepY > 0 ? y1 : y0) <
                          0;
            if (outside)
                continue;
        }
        FrameQueue::Bin& bin = q.bins[(size_t)band];
        if (bin.first == FrameQueue::kNone)
            q.used.push_back(band);
        if (bin.last == FrameQueue::kNone || q.chunks[bin.last].count == FrameQueue::Chunk::kRoom) {
            const uint32_t chunk = (uint32_t)q.chunks.size();
            q.chunks.push_back({FrameQueue::kNone, 0, {}});
            (bin.last == FrameQueue::kNone ? bin.first : q.chunks[bin.last].next) = chunk;
            bin.last = chunk;
        }
        FrameQueue::Chunk& c = q.chunks[bin.last];
        c.index[c.count++] = index;
        bin.work += share;
    }
}

void Rasterizer::QueueTri(Kind kind, const Tri& t)
{
    const int64_t area = (int64_t)(t.maxX - t.minX + 1) * (t.maxY - t.minY + 1);
    const int64_t cost = Cost(area, kind == kCmdProgram ? 1 : 2);
    FrameQueue& q = *queue_;
    if (!Reserve(q.tris)) {
        frameWork_ += cost;
        uint64_t written = 0;
        if (kind == kCmdProgram)
            DrawProgram(t, Rect{t.minX, t.minY, t.maxX, t.maxY}, *lanes_, 0, &written);
        else
            DrawGeneral(t, Rect{t.minX, t.minY, t.maxX, t.maxY}, 0, &written);
        pixelsWritten += written;
        return;
    }
    Tri& copy = q.tris.emplace_back();
    memcpy(copy.e, t.e, sizeof t.e);
    copy.minX = t.minX, copy.maxX = t.maxX, copy.minY = t.minY, copy.maxY = t.maxY;
    // Only the planes the pipe reads.
    const size_t planes = (size_t)(2 + attrs_ + 3) / 4 * 4;
    memcpy(copy.base, t.base, sizeof(float) * planes);
    memcpy(copy.ddx, t.ddx, sizeof(float) * planes);
    memcpy(copy.ddy, t.ddy, sizeof(float) * planes);
    Queue(kind, pipe_, (uint32_t)q.tris.size() - 1, Rect{t.minX, t.minY, t.maxX, t.maxY}, cost, t.e);
}

void Rasterizer::QueueSpans(SpanJob& j)
{
    const int64_t cost = Cost((int64_t)(j.maxX - j.minX + 1) * (j.maxY - j.minY + 1), 0);
    FrameQueue& q = *queue_;
    float src[4];
    const TableUse table = SpanTable(j, src);
    const bool queued = Reserve(q.spans, table == kNewTable ? 1 : 0);
    if (table != kNoTable)
        TakeTable(j, src);
    if (!queued) {
        frameWork_ += cost;
        pixelsWritten += RunSpans(j);
        return;
    }
    q.spans.push_back(j);
    const EdgeFn e[3] = {{j.stepX[0], j.stepY[0], j.row[0]}, {j.stepX[1], j.stepY[1], j.row[1]},
                         {j.stepX[2], j.stepY[2], j.row[2]}};
    Queue(kCmdSpans, pipe_, (uint32_t)q.spans.size() - 1, Rect{j.minX, j.minY, j.maxX, j.maxY}, cost, e);
}

void Rasterizer::QueueLine(const Line& l, const Rect& bounds)
{
    FrameQueue& q = *queue_;
    if (Reserve(q.lines)) {
        q.lines.push_back(l);
        Queue(kCmdLine, pipe_, (uint32_t)q.lines.size() - 1, bounds, 0);
        return;
    }
    uint64_t written = 0;
    PixelPipe::DrawLine(l, Rect{clipX0_, clipY0_, clipX1_ - 1, clipY1_ - 1}, 0, &written);
    pixelsWritten += written;
}

void Rasterizer::QueueDot(const Dot& d)
{
    FrameQueue& q = *queue_;
    if (Reserve(q.dots)) {
        q.dots.push_back(d);
        Queue(kCmdDot, pipe_, (uint32_t)q.dots.size() - 1, Rect{d.x, d.y, d.x, d.y}, 0);
        return;
    }
    uint64_t written = 0;
    DrawDot(d, Rect{d.x, d.y, d.x, d.y}, 0, &written);
    pixelsWritten += written;
}

void Rasterizer::Clear(int x0, int y0, int x1, int y1, bool color, uint32_t value, bool depth, float z)
{
    if (x0 >= x1 || y0 >= y1)
        return;
    const int64_t cost = Cost((int64_t)(x1 - x0) * (y1 - y0), 3);
    FrameQueue& q = *queue_;
    // A clear reads no state: it has no pipe.
    if (!Reserve(q.clears, 0, false)) {
        frameWork_ += cost;
        ClearTarget(target_, x0, y0, x1, y1, color, value, depth, z);
        return;
    }
    q.clears.push_back({Rect{x0, y0, x1 - 1, y1 - 1}, color, depth, value, z});
    Queue(kCmdClear, -1, (uint32_t)q.clears.size() - 1, Rect{x0, y0, x1 - 1, y1 - 1}, cost);
}

void Rasterizer::Flush()
{
    FrameQueue& q = *queue_;
    if (q.commands.empty())
        return;
    ++epoch_;
    Workers* workers = WorkersFor(q.work);
    if (workers) {
        // The costliest bands first, so that none is left to the end.
        std::sort(q.used.begin(), q.used.end(),
                  [&q](int a, int b) { return q.bins[(size_t)a].work > q.bins[(size_t)b].work; });
        q.written.store(0);
        workers->Run((int)q.used.size(), [](void* context, int index) {
            Rasterizer& r = *(Rasterizer*)context;
            uint64_t written = 0;
            r.DrawBand(r.queue_->used[(size_t)index], Workers::Current(), &written);
            r.queue_->written.fetch_add(written, std::memory_order_relaxed);
        }, this);
        pixelsWritten += q.written.load();
    } else {
        // Too little to share: each command once over its whole bounds.
        const Rect all = {0, 0, target_.width - 1, target_.height - 1};
        uint64_t written = 0;
        for (size_t i = 0; i < q.commands.size(); ++i)
            Draw(q.commands[i], all, 0, &written);
        pixelsWritten += written;
    }
    for (int band : q.used)
        q.bins[(size_t)band] = FrameQueue::Bin();
    q.used.clear();
    q.chunks.clear();
    q.commands.clear();
    q.pipes.clear();
    q.tris.clear();
    q.spans.clear();
    q.lines.clear();
    q.dots.clear();
    q.clears.clear();
    q.tables.clear();
    q.work = 0;
    for (int i = 0; i < q.frozenCount; ++i)
        q.frozen[i]->Thaw();
    q.frozenCount = 0;
    pipe_ = -1;
}

}  // namespace vr
