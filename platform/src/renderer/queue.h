// The frame queue: the commands of the draws in the order they came, their
// items, the pipes they are drawn with, and the bins of the screen's bands.
#ifndef VELMORA_RENDERER_QUEUE_H
#define VELMORA_RENDERER_QUEUE_H

#include "renderer/raster.h"
#include "renderer/spans.h"

#include <atomic>
#include <memory>
#include <vector>

namespace vr {

// The screen is binned in bands of this many rows across its width. Bands
// rather than square tiles: a triangle's every row sets up its planes once
// in each bin it crosses, which across a 1920 x 1080 picture in 64 x 64
// tiles cost a fifth more processor time than the better locality saved.
const int kBandShift = 4;
const int kBandRows = 1 << kBandShift;

struct Rasterizer::FrameQueue {
    struct ClearItem {
        Rect rect;
        bool color, depth;
        uint32_t value;
        float z;
    };
    template <class T>
    using Items = std::vector<T, PageAllocator<T>>;
    // Room for all is taken up front (a steady frame allocates nothing); a
    // queue that fills is drawn.
    Items<Command> commands;
    Items<PixelPipe> pipes;
    Items<Tri> tris;
    Items<SpanJob> spans;
    Items<Line> lines;
    Items<Dot> dots;
    Items<ClearItem> clears;
    Items<BlendTable> tables;
    // Per band, its commands' numbers in queue order, in a chain of chunks
    // taken from one store; the bands that have any.
    struct Chunk {
        static const int kRoom = 62;
        uint32_t next;  // kNone: the last
        uint32_t count;
        uint32_t index[kRoom];
    };
    static const uint32_t kNone = 0xffffffffu;
    struct Bin {
        uint32_t first = kNone, last = kNone;
        int64_t work = 0;  // its share of its commands' nanoseconds
    };
    int bands = 0;
    std::vector<Bin> bins;
    std::vector<int> used;
    Items<Chunk> chunks;
    // Pixel programs frozen for the pipes, let go once the queue is drawn.
    PixelProgram* frozen[4] = {};
    int frozenCount = 0;
    bool Frozen(const PixelProgram* program) const
    {
        for (int i = 0; i < frozenCount; ++i)
            if (frozen[i] == program)
                return true;
        return false;
    }
    int64_t work = 0;  // nanoseconds the queued commands take one thread
    std::vector<std::unique_ptr<PixelLanes>> lanes;  // one a thread
    std::atomic<uint64_t> written{0};
};

}  // namespace vr

#endif
