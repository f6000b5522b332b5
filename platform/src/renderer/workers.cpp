// The raster stage's worker threads.
#include "workers.h"

#include <stdlib.h>

namespace vr {

int RenderThreads()
{
    int n = 0;
    if (const char* env = getenv("VELMORA_RENDER_THREADS"))
        n = atoi(env);
    if (n <= 0)
        n = (int)std::thread::hardware_concurrency();
    return n < 1 ? 1 : (n > 8 ? 8 : n);
}

namespace {

thread_local int t_current = 0;

// A frame hands the workers work many times over, a few hundred
// microseconds apart at most: they wait that long awake (and the caller for
// them) before they sleep, as a wake-up costs more than the work of a band.
const auto kAwake = std::chrono::microseconds(1000);

inline void Relax()
{
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

// Calls `done` until it says yes or the time to stay awake has passed.
template <class Done>
bool AwaitAwake(Done done)
{
    const auto until = std::chrono::steady_clock::now() + kAwake;
    for (int i = 1;; ++i) {
        if (done())
            return true;
        Relax();
        if (i % 64 == 0 && std::chrono::steady_clock::now() > until)
            return false;
    }
}

}  // namespace

int Workers::Current()
{
    return t_current;
}

Workers::Workers(int threads)
{
    for (int i = 1; i < threads; ++i)
        threads_.emplace_back([this, i] { Loop(i); });
}

Workers::~Workers()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_.store(true);
        generation_.fetch_add(1);
    }
    wake_.notify_all();
    for (std::thread& t : threads_)
        t.join();
}

void Workers::Drain()
{
    for (int i = next_.fetch_add(1); i < count_; i = next_.fetch_add(1))
        task_(context_, i);
}

void Workers::Run(int count, void (*task)(void*, int), void* context)
{
    task_ = task;
    context_ = context;
    count_ = count;
    next_.store(0);
    running_.store((int)threads_.size());
    {
        // Under the lock: a worker going to sleep sees the new round or is
        // counted among the sleepers.
        std::lock_guard<std::mutex> lock(mutex_);
        generation_.fetch_add(1, std::memory_order_release);
        if (sleeping_ > 0)
            wake_.notify_all();
    }
    Drain();
    if (AwaitAwake([this] { return running_.load(std::memory_order_acquire) == 0; }))
        return;
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [this] { return running_.load(std::memory_order_acquire) == 0; });
}

void Workers::Loop(int index)
{
    t_current = index;
    // The rounds count from the making of the workers: a round handed out
    // before this thread got here is still its to run.
    unsigned seen = 0;
    for (;;) {
        auto fresh = [&] { return generation_.load(std::memory_order_acquire) != seen; };
        if (!AwaitAwake(fresh)) {
            std::unique_lock<std::mutex> lock(mutex_);
            ++sleeping_;
            wake_.wait(lock, fresh);
            --sleeping_;
        }
        seen = generation_.load(std::memory_order_acquire);
        if (stop_.load())
            return;
        Drain();
        if (running_.fetch_sub(1, std::memory_order_acq_rel) == 1) {
            std::lock_guard<std::mutex> lock(mutex_);
            done_.notify_one();
        }
    }
}

}  // namespace vr
