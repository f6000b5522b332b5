// Message boxes and the multimedia clock.
#include <velmora_platform.h>
#include <windows.h>

#include <stdio.h>
#include <time.h>

#include <atomic>
#include <mutex>
#include <string>

namespace {

struct Boxes
{
    std::mutex mutex;
    int count = 0;
    std::string text;
    std::string caption;
};

Boxes& TheBoxes()
{
    static Boxes* boxes = new Boxes;
    return *boxes;
}

std::atomic<bool> s_VirtualClock{false};
std::atomic<DWORD> s_VirtualMs{0};

} // namespace

extern "C" {

int WINAPI MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType)
{
    // No display: the user reads it on standard error and it counts as acknowledged.
    const char* text = lpText ? lpText : "";
    const char* caption = lpCaption ? lpCaption : "Error";
    fprintf(stderr, "[%s] %s\n", caption, text);
    Boxes& boxes = TheBoxes();
    std::lock_guard<std::mutex> lock(boxes.mutex);
    ++boxes.count;
    boxes.text = text;
    boxes.caption = caption;
    return IDOK;
}

int VelmoraMessageBoxCount(void)
{
    Boxes& boxes = TheBoxes();
    std::lock_guard<std::mutex> lock(boxes.mutex);
    return boxes.count;
}

const char* VelmoraLastMessageBoxText(void)
{
    Boxes& boxes = TheBoxes();
    std::lock_guard<std::mutex> lock(boxes.mutex);
    return boxes.text.c_str();
}

const char* VelmoraLastMessageBoxCaption(void)
{
    Boxes& boxes = TheBoxes();
    std::lock_guard<std::mutex> lock(boxes.mutex);
    return boxes.caption.c_str();
}

DWORD WINAPI timeGetTime(void)
{
    if (s_VirtualClock.load())
        return s_VirtualMs.load();
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    // Wraps every 49.7 days, as the Windows counter does.
    unsigned long long ms = static_cast<unsigned long long>(now.tv_sec) * 1000ull + now.tv_nsec / 1000000;
    return static_cast<DWORD>(ms);
}

void VelmoraUseVirtualClock(DWORD startMs)
{
    s_VirtualMs.store(startMs);
    s_VirtualClock.store(true);
}

void VelmoraUseRealClock(void)
{
    s_VirtualClock.store(false);
}

void VelmoraAdvanceClock(DWORD ms)
{
    s_VirtualMs.fetch_add(ms);
}

void VelmoraSetClock(DWORD ms)
{
    s_VirtualMs.store(ms);
}

} // extern "C"
