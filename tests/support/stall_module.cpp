// A module for the player's tests that hangs where it is told.
// VELMORA_STALL in the environment: "init" or "render" never return (the
// call sleeps on), "slow" makes every Render take 300 ms. Each callback it
// enters is noted as a file of its name in the folder VELMORA_STALL_MARKS.
#include "plugin.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
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

int Init(CVisModule*)
{
    Mark("init");
    if (Stalls("init"))
        Forever();
    return 0;
}

int Render(CVisModule*)
{
    Mark("render");
    if (Stalls("render"))
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
