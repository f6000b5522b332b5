// A few threads that the raster stage hands bands of the screen to; the
// caller takes part, so one thread means no workers at all.
#ifndef VELMORA_RENDERER_WORKERS_H
#define VELMORA_RENDERER_WORKERS_H

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace vr {

// Threads to draw with: VELMORA_RENDER_THREADS when set (1 = no workers),
// else the machine's cores; 1 to 8.
int RenderThreads();

class Workers {
public:
    explicit Workers(int threads);
    ~Workers();
    Workers(const Workers&) = delete;
    Workers& operator=(const Workers&) = delete;

    int Threads() const { return (int)threads_.size() + 1; }
    // Which thread of its Workers runs the caller's code: 0 for the thread
    // that called Run, 1 to Threads() - 1 for the workers.
    static int Current();
    // Runs task(context, i) for every i in [0, count) on the workers and the
    // caller; returns when all have finished.
    void Run(int count, void (*task)(void*, int), void* context);

private:
    void Loop(int index);
    void Drain();

    std::vector<std::thread> threads_;
    std::mutex mutex_;
    std::condition_variable wake_, done_;
    std::atomic<unsigned> generation_{0};  // one more for every round
    std::atomic<int> running_{0};           // workers still in the current round
    std::atomic<bool> stop_{false};
    int sleeping_ = 0;  // workers waiting on wake_ (under mutex_)
    int count_ = 0;
    std::atomic<int> next_{0};
    void (*task_)(void*, int) = nullptr;
    void* context_ = nullptr;
};

}  // namespace vr

#endif
