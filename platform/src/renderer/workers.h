// A few threads that the raster stage hands bands of the screen to; the
// caller takes part, so one thread means no workers at all.
#ifndef VELMORA_RENDERER_WORKERS_H
#define VELMORA_RENDERER_WORKERS_H

#include <stdint.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace vr {

// The cores the calling thread may run on (its CPU affinity), or the
// machine's when that cannot be read.
int AllowedCores();
// Threads to draw with: VELMORA_RENDER_THREADS when set (1 = no workers),
// else AllowedCores(); 1 to 8.
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
    void RunRound(int count, void (*task)(void*, int), void* context);
    void Drain(unsigned round);

    std::vector<std::thread> threads_;
    std::mutex mutex_;
    std::condition_variable done_;
    std::atomic<unsigned> generation_{0};  // the round handed out last
    std::atomic<uint64_t> claims_{0};      // round << 32 | tasks << 16 | claimed
    std::atomic<int> completed_{0};        // tasks of the round done
    std::atomic<bool> stop_{false};
    unsigned round_ = 0;  // the caller's count of rounds
    std::atomic<int> sleeping_{0};  // workers asleep on generation_
    void (*task_)(void*, int) = nullptr;
    void* context_ = nullptr;
};

}  // namespace vr

#endif
