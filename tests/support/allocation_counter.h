// Counts every operator new of a test program: the tests of the per-frame
// work check that it allocates nothing. One file of the program defines
// VELMORA_DEFINE_ALLOCATION_COUNTER before the include and holds nothing else,
// so that the compiler never sees a pointer from new reach free.
#ifndef VELMORA_ALLOCATION_COUNTER_H
#define VELMORA_ALLOCATION_COUNTER_H

#include <atomic>

// ThreadSanitizer's runtime has an operator new of its own, which clang links
// in whole, so that a second one does not link: under it nothing is counted
// and the tests that count skip there (they are about allocations, not threads).
#if defined(__SANITIZE_THREAD__)
#define VELMORA_ALLOCATIONS_UNCOUNTED 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define VELMORA_ALLOCATIONS_UNCOUNTED 1
#endif
#endif
#ifdef VELMORA_ALLOCATIONS_UNCOUNTED
const bool kAllocationsCounted = false;
#else
const bool kAllocationsCounted = true;
#endif

extern std::atomic<long> s_Allocations;
// When set, each counted allocation prints its call stack to stderr.
extern bool s_TraceAllocations;
// When 0 or more: the counted allocations that succeed before one throws
// std::bad_alloc (once; the count then stays at -1).
extern std::atomic<long> s_FailAllocationAfter;

#ifdef VELMORA_DEFINE_ALLOCATION_COUNTER

#include <execinfo.h>
#include <stdlib.h>
#include <unistd.h>

#include <new>

std::atomic<long> s_Allocations{0};
bool s_TraceAllocations = false;
std::atomic<long> s_FailAllocationAfter{-1};

#ifndef VELMORA_ALLOCATIONS_UNCOUNTED

void* operator new(size_t size)
{
    ++s_Allocations;
    if (s_FailAllocationAfter.load() >= 0 && s_FailAllocationAfter.fetch_sub(1) == 0)
        throw std::bad_alloc();
    if (s_TraceAllocations)
    {
        void* frames[24];
        backtrace_symbols_fd(frames, backtrace(frames, 24), 2);
        if (write(2, "----\n", 5) < 0)
            s_TraceAllocations = false;
    }
    if (void* p = malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
void* operator new[](size_t size)
{
    return operator new(size);
}
// The forms that do not throw must pair with the frees below too.
void* operator new(size_t size, const std::nothrow_t&) noexcept
{
    try
    {
        return operator new(size);
    }
    catch (const std::bad_alloc&)
    {
        return nullptr;
    }
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept
{
    return operator new(size, std::nothrow);
}
void operator delete(void* p, const std::nothrow_t&) noexcept
{
    free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept
{
    free(p);
}
void operator delete(void* p) noexcept
{
    free(p);
}
void operator delete[](void* p) noexcept
{
    free(p);
}
void operator delete(void* p, size_t) noexcept
{
    free(p);
}
void operator delete[](void* p, size_t) noexcept
{
    free(p);
}
#endif

#endif

#endif
