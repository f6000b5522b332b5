// Counts every allocation of the test program that includes it (in one of
// its files only): the global allocation functions, replaced.
#ifndef VELMORA_COUNTING_ALLOCATIONS_H
#define VELMORA_COUNTING_ALLOCATIONS_H

#include <stdlib.h>

#include <atomic>
#include <new>

static std::atomic<long> s_Allocations{0};

void* operator new(size_t size)
{
    ++s_Allocations;
    if (void* p = malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
void* operator new[](size_t size)
{
    return operator new(size);
}
// The library makes some objects with the forms that return null.
void* operator new(size_t size, const std::nothrow_t&) noexcept
{
    ++s_Allocations;
    return malloc(size ? size : 1);
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept
{
    ++s_Allocations;
    return malloc(size ? size : 1);
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
