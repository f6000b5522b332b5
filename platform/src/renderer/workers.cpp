// The raster stage's worker threads.
#include "renderer/workers.h"

#include <linux/futex.h>
#include <sched.h>
#include <stdlib.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <climits>

#include <algorithm>
#include <chrono>

namespace vr {

int AllowedCores()
{
    // A process held to some cores (taskset, a container's CPU set) gains
    // nothing from threads beyond them: they would only take turns.
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof(set), &set) == 0) {
        const int allowed = CPU_COUNT(&set);
        if (allowed > 0)
            return allowed;
    }
    return (int)std::thread::hardware_concurrency();
}

int RenderThreads()
{
    int n = 0;
    if (const char* env = getenv("VELMORA_RENDER_THREADS"))
        n = atoi(env);
    if (n <= 0)
        n = AllowedCores();
    return n < 1 ? 1 : (n > 8 ? 8 : n);
}

namespace {

thread_local int t_current = 0;

// The hand-outs of a frame come some microseconds apart: a worker spins
// briefly for the next before it sleeps, so that an idle renderer, and a
// frame drawn on the calling thread, cost the workers nothing. Each worker's
// spin after a hand-out is processor time spent for nothing when none comes.
const auto kAwake = std::chrono::microseconds(50);
// The caller waits only for tasks that workers have claimed and are running:
// it stays awake longer, as its own wake-up would come after theirs.
const auto kCallerAwake = std::chrono::microseconds(2000);

inline void Relax()
{
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

// Sleeping workers wait on the round word itself: a hand-out wakes them
// all with one call, and none queues for a lock on its way out.
static_assert(sizeof(std::atomic<unsigned>) == sizeof(int), "the round word is a futex");

void FutexWait(std::atomic<unsigned>* word, unsigned expected)
{
    syscall(SYS_futex, reinterpret_cast<int*>(word), FUTEX_WAIT_PRIVATE, (int)expected, nullptr, nullptr, 0);
}

void FutexWakeAll(std::atomic<unsigned>* word)
{
    syscall(SYS_futex, reinterpret_cast<int*>(word), FUTEX_WAKE_PRIVATE, INT_MAX, nullptr, nullptr, 0);
}

// Calls `done` until it says yes or the time to stay awake has passed.
template <class Done>
bool AwaitAwake(Done done, std::chrono::microseconds awake = kAwake)
{
    const auto until = std::chrono::steady_clock::now() + awake;
    for (int i = 1;; ++i) {
        if (done())
            return true;
        Relax();
        if (i % 32 == 0 && std::chrono::steady_clock::now() > until)
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
    stop_.store(true);
    generation_.fetch_add(1);
    FutexWakeAll(&generation_);
    for (std::thread& t : threads_)
        t.join();
}

// A task is claimed by moving the round's claim count on, in the same word
// as the round and its task count: a thread late for a round claims nothing
// of the next, and none reads the task of a round that has ended (a round
// ends only when its claimed tasks are done).
void Workers::Drain(unsigned round)
{
    uint64_t s = claims_.load(std::memory_order_acquire);
    for (;;) {
        const uint32_t index = (uint32_t)(s & 0xffff), count = (uint32_t)((s >> 16) & 0xffff);
        if ((uint32_t)(s >> 32) != round || index >= count)
            return;
        if (!claims_.compare_exchange_weak(s, s + 1, std::memory_order_acq_rel, std::memory_order_acquire))
            continue;
        task_(context_, (int)index);
        if (completed_.fetch_add(1, std::memory_order_acq_rel) + 1 == (int)count) {
            std::lock_guard<std::mutex> lock(mutex_);
            done_.notify_one();
        }
        s = claims_.load(std::memory_order_acquire);
    }
}

void Workers::Run(int count, void (*task)(void*, int), void* context)
{
    // A round holds at most 0xffff tasks.
    for (int first = 0; first < count; first += 0xffff) {
        const int n = std::min(count - first, 0xffff);
        if (first == 0) {
            RunRound(n, task, context);
            continue;
        }
        struct Part {
            void (*task)(void*, int);
            void* context;
            int first;
        } part = {task, context, first};
        RunRound(n, [](void* c, int i) {
            const Part& p = *(const Part*)c;
            p.task(p.context, p.first + i);
        }, &part);
    }
}

void Workers::RunRound(int count, void (*task)(void*, int), void* context)
{
    if (count <= 0)
        return;
    task_ = task;
    context_ = context;
    completed_.store(0, std::memory_order_relaxed);
    const unsigned round = ++round_;
    claims_.store(((uint64_t)round << 32) | ((uint64_t)count << 16), std::memory_order_release);
    // A worker going to sleep counts itself among the sleepers before it
    // reads the round (both in one total order): it sees this round, or is
    // seen here and woken.
    generation_.store(round);
    if (sleeping_.load() > 0)
        FutexWakeAll(&generation_);
    Drain(round);
    auto finished = [&] { return completed_.load(std::memory_order_acquire) == count; };
    if (AwaitAwake(finished, kCallerAwake))
        return;
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, finished);
}

void Workers::Loop(int index)
{
    t_current = index;
    // The rounds count from the making of the workers: a round handed out
    // before this thread got here is still its to join.
    unsigned seen = 0;
    for (;;) {
        // The stop counts too: it may come between the check below and the
        // reading of the round.
        auto fresh = [&] { return stop_.load() || generation_.load(std::memory_order_acquire) != seen; };
        if (!AwaitAwake(fresh)) {
            sleeping_.fetch_add(1);
            // The wait returns at once when the round moved on meanwhile.
            while (!fresh())
                FutexWait(&generation_, seen);
            sleeping_.fetch_sub(1);
        }
        if (stop_.load())
            return;
        seen = generation_.load(std::memory_order_acquire);
        Drain(seen);
    }
}

}  // namespace vr
