// An allocator for the renderer's large queues: whole pages from the
// system, given back whole when a device goes, so that devices made and
// dropped again and again do not leave the heap in pieces.
#ifndef VELMORA_RENDERER_PAGES_H
#define VELMORA_RENDERER_PAGES_H

#include <sys/mman.h>

#include <stddef.h>

#include <new>

namespace vr {

template <class T>
struct PageAllocator {
    using value_type = T;
    PageAllocator() = default;
    template <class U>
    PageAllocator(const PageAllocator<U>&)
    {
    }
    T* allocate(size_t n)
    {
        if (n > (size_t)-1 / sizeof(T))
            throw std::bad_alloc();
        void* p = mmap(nullptr, n * sizeof(T), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED)
            throw std::bad_alloc();
        return static_cast<T*>(p);
    }
    void deallocate(T* p, size_t n) { munmap(p, n * sizeof(T)); }
    template <class U>
    bool operator==(const PageAllocator<U>&) const
    {
        return true;
    }
    template <class U>
    bool operator!=(const PageAllocator<U>&) const
    {
        return false;
    }
};

}  // namespace vr

#endif
