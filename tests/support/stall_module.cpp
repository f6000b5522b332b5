// A module for the player's tests that hangs where it is told.
// VELMORA_STALL in the environment: "init" or "render" never return (the
// call sleeps on), "slow" makes every Render take 300 ms, "deliver" makes the
// delivery of a message that Init posts take 400 ms and Render never return.
// Each callback it enters is noted as a file of its name in the folder
// VELMORA_STALL_MARKS ("deliver" for that message).
#include "plugin.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <string>

namespace
{
void Mark(const char* callback)
{
    const char* folder = getenv("VELMORA_STALL_MARKS");
    if (!folder)
        return;
    const std::string path = std::string(folder) + "/" + callback;
    if (FILE* file = fopen(path.c_str(), "w"))
    {
        fputs(callback, file);
        fclose(file);
    }
}

bool Stalls(const char* callback)
{
    const char* stall = getenv("VELMORA_STALL");
    return stall && strcmp(stall, callback) == 0;
}

void Forever()
{
    for (;;)
        sleep(1);
}

const UINT kSlowMessage = WM_USER + 1;

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message != kSlowMessage)
        return DefWindowProcA(window, message, wParam, lParam);
    Mark("deliver");
    // On through the signals that land meanwhile.
    timespec left = {0, 400000000};
    while (nanosleep(&left, &left) != 0)
    {
    }
    return 0;
}

int Init(CVisModule* module)
{
    Mark("init");
    if (Stalls("init"))
        Forever();
    if (Stalls("deliver"))
    {
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = WindowProc;
        windowClass.hInstance = module->hDllInstance;
        windowClass.lpszClassName = "VelmoraStall";
        RegisterClassA(&windowClass);
        HWND window = CreateWindowExA(0, "VelmoraStall", "", 0, 0, 0, 16, 16, nullptr, nullptr,
                                      module->hDllInstance, nullptr);
        PostMessageA(window, kSlowMessage, 0, 0);
    }
    return 0;
}

int Render(CVisModule*)
{
    Mark("render");
    if (Stalls("render") || Stalls("deliver"))
        Forever();
    if (Stalls("slow"))
        usleep(300000);
    return 0;
}

void Quit(CVisModule*)
{
    Mark("quit");
}

void Config(CVisModule*)
{
}

CVisModule s_Module = {"stalling test module", nullptr, nullptr, 0, 0, 0, 25, 2, 2, {}, {}, Config, Init, Render, Quit,
                       nullptr};

CVisModule* Module(int index)
{
    return index == 0 ? &s_Module : nullptr;
}

CVisHeader s_Header = {VIS_HEADER_VERSION, "stalling test module", Module};
} // namespace

extern "C" __declspec(dllexport) CVisHeader* winampVisGetHeader(void)
{
    return &s_Header;
}
