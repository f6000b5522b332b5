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
}

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
        stop_ = true;
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
    {
        std::lock_guard<std::mutex> lock(mutex_);
        task_ = task;
        context_ = context;
        count_ = count;
        next_.store(0);
        running_ = (int)threads_.size();
        ++generation_;
    }
    wake_.notify_all();
    Drain();
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [this] { return running_ == 0; });
}

void Workers::Loop(int index)
{
    t_current = index;
    unsigned seen = 0;
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [&] { return stop_ || generation_ != seen; });
            if (stop_)
                return;
            seen = generation_;
        }
        Drain();
        std::lock_guard<std::mutex> lock(mutex_);
        if (--running_ == 0)
            done_.notify_one();
    }
}

}  // namespace vr
