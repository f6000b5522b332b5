// The most memory a test program held over a stretch of its work, above what
// it held at the start: the heap bytes in use as a sanitizer's runtime counts
// them (its hooks see every malloc and free), or else the high-water mark of
// the resident size, which /proc/self/clear_refs sets back to the present.
#ifndef VELMORA_PEAK_MEMORY_H
#define VELMORA_PEAK_MEMORY_H

#include <stddef.h>
#include <stdio.h>
#include <string.h>

#include <atomic>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define VELMORA_SANITIZER_HEAP 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define VELMORA_SANITIZER_HEAP 1
#endif
#endif

#ifdef VELMORA_SANITIZER_HEAP
// The sanitizer runtime's public interface (gcc ships no header for it).
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*malloc_hook)(const volatile void*, size_t),
                                                          void (*free_hook)(const volatile void*));
extern "C" size_t __sanitizer_get_allocated_size(const volatile void* p);
#endif

namespace testing_support {

#ifdef VELMORA_SANITIZER_HEAP
inline std::atomic<long long> g_HeapInUse{0};
inline std::atomic<long long> g_HeapPeak{0};
#endif

class PeakMemory
{
public:
    // Starts the stretch; false where the program cannot tell.
    bool Start()
    {
#ifdef VELMORA_SANITIZER_HEAP
        static const bool hooked = __sanitizer_install_malloc_and_free_hooks(
                                       [](const volatile void*, size_t size) {
                                           const long long now = g_HeapInUse += (long long)size;
                                           long long peak = g_HeapPeak.load();
                                           while (now > peak && !g_HeapPeak.compare_exchange_weak(peak, now)) {
                                           }
                                       },
                                       [](const volatile void* p) {
                                           if (p)
                                               g_HeapInUse -= (long long)__sanitizer_get_allocated_size(p);
                                       }) != 0;
        m_Start = g_HeapInUse.load();
        g_HeapPeak = m_Start;
        return hooked;
#else
        FILE* f = fopen("/proc/self/clear_refs", "w");
        if (!f)
            return false;
        const bool reset = fputs("5", f) >= 0;
        if (fclose(f) != 0 || !reset)
            return false;
        m_Start = StatusBytes("VmRSS:");
        return m_Start > 0;
#endif
    }

    // Bytes above the start at the highest point since.
    long long Peak() const
    {
#ifdef VELMORA_SANITIZER_HEAP
        return g_HeapPeak.load() - m_Start;
#else
        return StatusBytes("VmHWM:") - m_Start;
#endif
    }

private:
    static long long StatusBytes(const char* field)
    {
        FILE* f = fopen("/proc/self/status", "r");
        if (!f)
            return 0;
        char line[256];
        long long kb = 0;
        while (fgets(line, sizeof line, f))
            if (strncmp(line, field, strlen(field)) == 0 && sscanf(line + strlen(field), "%lld", &kb) == 1)
                break;
        fclose(f);
        return kb * 1024;
    }

    long long m_Start = 0;
};

} // namespace testing_support

#endif
