// The built module file loaded by the player's Host, then started, drawn and
// stopped a hundred times with the shipped data: every Direct3D object goes
// with each Quit and the memory in use stays flat. (The sanitizer build checks
// at exit that nothing leaked.)
#include <gtest/gtest.h>

#include "host.h"
#include "test_support.h"

#include <velmora_platform.h>

#include <stdio.h>
#include <unistd.h>

#include <string>

// Under either sanitizer the resident size holds the runtime's own memory
// (ThreadSanitizer's grows by megabytes over the starts): the heap is watched.
#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define VELMORA_UNDER_SANITIZER 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define VELMORA_UNDER_SANITIZER 1
#endif
#ifdef VELMORA_UNDER_SANITIZER
// The sanitizer runtime's count of the heap bytes in use (its public interface; gcc ships no header for it).
extern "C" size_t __sanitizer_get_current_allocated_bytes(void);
#endif

using namespace testing_support;

namespace {

#ifdef VELMORA_UNDER_SANITIZER
// The sanitizer counts the heap bytes in use exactly (the C library's figures
// count blocks held in its per-thread caches as used).
size_t HeapInUse()
{
    return __sanitizer_get_current_allocated_bytes();
}
#else
size_t ResidentBytes()
{
    long pages = 0, resident = 0;
    FILE* statm = fopen("/proc/self/statm", "r");
    if (!statm)
        return 0;
    if (fscanf(statm, "%ld %ld", &pages, &resident) != 2)
        resident = 0;
    fclose(statm);
    return static_cast<size_t>(resident) * static_cast<size_t>(sysconf(_SC_PAGESIZE));
}
#endif

} // namespace

TEST(InitQuitCycles, HundredStartsThroughTheHostLeaveNothingBehind)
{
    TempFolder folder;
    const std::string plugin = VELMORA_PLUGIN_DIR;
    std::string library;
    ASSERT_TRUE(ReadFile(plugin + "/vis_velmora.so", library));
    ASSERT_TRUE(WriteFile(folder / "vis_velmora.so", library));
    ASSERT_EQ(symlink((plugin + "/data").c_str(), (folder / "data").c_str()), 0);
    // A small window keeps the frames quick; the sizes are written back by every Quit.
    ASSERT_TRUE(WriteFile(folder / "plugin.ini", "[velmora]\nSCREEN_WIDTH=160\nSCREEN_HEIGHT=120\n"));
    VelmoraUseVirtualClock(100000);
    const int graphicsBefore = VelmoraLiveGraphicsObjects();

    const int kCycles = 100;
    const int kWarmUp = 10;
    size_t memoryAfterWarmUp = 0;
    Host host;
    std::string error;
    ASSERT_TRUE(host.Load(folder / "vis_velmora.so", error)) << error;
    for (int cycle = 1; cycle <= kCycles; ++cycle)
    {
        ASSERT_EQ(host.Init(), 0) << "cycle " << cycle;
        ASSERT_TRUE(host.Frame(nullptr, 0.0));
        ASSERT_TRUE(host.Frame(nullptr, 25.0));
        host.Quit();
        ASSERT_EQ(VelmoraLiveGraphicsObjects(), graphicsBefore) << "cycle " << cycle;
        if (cycle == kWarmUp)
        {
#ifdef VELMORA_UNDER_SANITIZER
            memoryAfterWarmUp = HeapInUse();
#else
            memoryAfterWarmUp = ResidentBytes();
#endif
        }
    }
#ifdef VELMORA_UNDER_SANITIZER
    // A few hundred bytes a start (one more list entry, say) would add up to more than this.
    const double growth = static_cast<double>(HeapInUse()) - static_cast<double>(memoryAfterWarmUp);
    EXPECT_LT(growth, 16.0 * 1024) << "heap bytes in use grew over " << kCycles - kWarmUp << " starts";
#else
    // The sanitizers keep memory of their own (freed blocks in a quarantine, say): plain builds watch the resident size.
    const double growth = static_cast<double>(ResidentBytes()) - static_cast<double>(memoryAfterWarmUp);
    EXPECT_LT(growth, 1024.0 * 1024) << "resident size grew over " << kCycles - kWarmUp << " starts";
#endif
    host.Unload();
    VelmoraUseRealClock();
}
