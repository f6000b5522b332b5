// The built module file loaded by the player's Host, then started, drawn and
// stopped a hundred times with the shipped data: every Direct3D object goes
// with each Quit, and the memory in use grows by the spectrum profile list
// alone, which keeps its entries until unload and gets them again at every
// Init. (The sanitizer build checks at exit that nothing leaked.)
#include <gtest/gtest.h>

#include "host.h"
#include "test_support.h"

#include <velmora_platform.h>

#include <malloc.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

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

// The heap bytes in use, as the C library or the sanitizer counts them.
size_t HeapBytes()
{
#ifdef VELMORA_UNDER_SANITIZER
    return HeapInUse();
#else
    return mallinfo2().uordblks;
#endif
}

// The log from byte `offset` on; the whole log is not read at every start, so
// that its growing copies do not move the resident size.
std::string LogFrom(long offset)
{
    std::string text;
    ReadFile(LogPath(), text, offset);
    return text;
}

long LogSize()
{
    struct stat info;
    return stat(LogPath().c_str(), &info) == 0 ? static_cast<long>(info.st_size) : 0;
}

const char kNameLine[] = "\tname ";

// The full paths of the "name %s" lines of `log`, in order.
std::vector<std::string> ListedPaths(const std::string& log)
{
    std::vector<std::string> paths;
    for (const std::string& line : SplitLines(log))
    {
        const size_t at = line.find(kNameLine);
        if (at != std::string::npos)
            paths.push_back(line.substr(at + sizeof(kNameLine) - 1));
    }
    return paths;
}

// The heap bytes that `starts` starts' worth of the list of `paths` holds when
// built as the module builds it: the data folder's path joined with the listed
// name, appended one by one.
size_t ListBytes(const std::vector<std::string>& paths, int starts, const std::string& folder)
{
    const size_t before = HeapBytes();
    std::vector<std::string> list;
    for (int start = 0; start < starts; ++start)
    {
        for (const std::string& path : paths)
            list.push_back(folder + path.substr(folder.size()).c_str());
    }
    return HeapBytes() - before;
}

} // namespace

TEST(InitQuitCycles, HundredStartsThroughTheHostLeaveNothingBehindButTheListAgain)
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
    // The "name %s" lines of the first Init: the entries that every Init appends;
    // the list's length counted from the lines of every Init. (The test keeps
    // nothing that grows, so that the heap's growth is the module's.)
    std::vector<std::string> entries;
    size_t listLength = 0;
    Host host;
    std::string error;
    ASSERT_TRUE(host.Load(folder / "vis_velmora.so", error)) << error;
    for (int cycle = 1; cycle <= kCycles; ++cycle)
    {
        const long logBefore = LogSize();
        ASSERT_EQ(host.Init(), 0) << "cycle " << cycle;
        const std::vector<std::string> added = ListedPaths(LogFrom(logBefore));
        if (cycle == 1)
            entries = added;
        // Every Init appends the file's entries once more, in file order.
        ASSERT_FALSE(entries.empty());
        ASSERT_EQ(added, entries) << "cycle " << cycle;
        listLength += added.size();

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
        ASSERT_EQ(listLength, cycle * entries.size());
    }
    // The module's list, rebuilt here the same way, at the warm-up's length and at the end's.
    const std::string dataFolder = entries[0].substr(0, entries[0].size() - std::string("spectrum/default.xml").size());
    ASSERT_EQ(entries[0], dataFolder + "spectrum/default.xml");
    const double listGrowth = static_cast<double>(ListBytes(entries, kCycles, dataFolder)) -
                              static_cast<double>(ListBytes(entries, kWarmUp, dataFolder));
    EXPECT_GT(listGrowth, 0.0);
#ifdef VELMORA_UNDER_SANITIZER
    // A few hundred bytes a start besides the list would add up to more than this;
    // a list that did not grow would leave the heap short of the list's growth.
    const double growth = static_cast<double>(HeapInUse()) - static_cast<double>(memoryAfterWarmUp) - listGrowth;
    EXPECT_LT(growth, 16.0 * 1024) << "heap bytes in use grew over " << kCycles - kWarmUp
                                   << " starts, besides the list's " << listGrowth;
    EXPECT_GT(growth, -16.0 * 1024) << "the heap grew less than the list's " << listGrowth;
#else
    // The sanitizers keep memory of their own (freed blocks in a quarantine, say): plain builds watch the resident size.
    const double growth = static_cast<double>(ResidentBytes()) - static_cast<double>(memoryAfterWarmUp) - listGrowth;
    EXPECT_LT(growth, 1024.0 * 1024) << "resident size grew over " << kCycles - kWarmUp << " starts, besides the list's "
                                     << listGrowth;
#endif
    host.Unload();
    VelmoraUseRealClock();
}
