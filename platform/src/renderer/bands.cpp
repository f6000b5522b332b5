// The workers' side of the frame queue: a band's commands drawn in queue
// order, each clipped to the band, so that every thread count draws the
// same picture.
#include "renderer/queue.h"

#include "renderer/pixel_ops.h"

#include <algorithm>

namespace vr {

void Rasterizer::Draw(const Command& c, const Rect& r, int thread, uint64_t* written)
{
    FrameQueue& q = *queue_;
    const uint32_t item = c.item;
    const PixelPipe& pipe = c.kind == kCmdClear ? *this : q.pipes[c.pipe];
    switch (c.kind) {
    case kCmdSpans: {
        SpanJob part = q.spans[item];
        part.xStart = std::max(part.minX, r.x0), part.xEnd = std::min(part.maxX, r.x1);
        part.yStart = std::max(part.minY, r.y0), part.yEnd = std::min(part.maxY, r.y1);
        if (part.xStart <= part.xEnd && part.yStart <= part.yEnd)
            *written += RunSpans(part);
        break;
    }
    case kCmdProgram:
        pipe.DrawProgram(q.tris[item], r, thread < (int)q.lanes.size() ? *q.lanes[(size_t)thread] : *lanes_, thread,
                         written);
        break;
    case kCmdGeneral:
        pipe.DrawGeneral(q.tris[item], r, thread, written);
        break;
    case kCmdLine:
        pipe.DrawLine(q.lines[item], r, thread, written);
        break;
    case kCmdDot:
        pipe.DrawDot(q.dots[item], r, thread, written);
        break;
    case kCmdClear: {
        // The target changes only after a flush.
        const FrameQueue::ClearItem& k = q.clears[item];
        const int x0 = std::max(k.rect.x0, r.x0), x1 = std::min(k.rect.x1, r.x1);
        const int y0 = std::max(k.rect.y0, r.y0), y1 = std::min(k.rect.y1, r.y1);
        if (x0 <= x1 && y0 <= y1)
            ClearTarget(target_, x0, y0, x1 + 1, y1 + 1, k.color, k.value, k.depth, k.z);
        break;
    }
    }
}

void Rasterizer::DrawBand(int band, int thread, uint64_t* written)
{
    FrameQueue& q = *queue_;
    const Rect r = {0, band << kBandShift, target_.width - 1, std::min(target_.height, (band + 1) << kBandShift) - 1};
    for (uint32_t chunk = q.bins[(size_t)band].first; chunk != FrameQueue::kNone; chunk = q.chunks[chunk].next) {
        const FrameQueue::Chunk& c = q.chunks[chunk];
        for (uint32_t i = 0; i < c.count; ++i)
            Draw(q.commands[c.index[i]], r, thread, written);
    }
}

}  // namespace vr
