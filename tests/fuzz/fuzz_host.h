// The module started by the player's Host from a folder of the scratch folder
// (module file "vis.dll", plugin.ini and data folder beside it), on the
// virtual clock, as the player runs it.
#ifndef VELMORA_FUZZ_HOST_H
#define VELMORA_FUZZ_HOST_H

#include "fuzz_support.h"

#include "host.h"
#include "main.h"
#include "plugin.h"

namespace fuzzing {

struct HostedModule
{
    std::string folder;
    std::string dataFolder;
    Host host;

    explicit HostedModule(const std::string& name)
    {
        // Two render threads: the shared paths are run, and an input is not
        // spent making a thread for every core.
        setenv("VELMORA_RENDER_THREADS", "2", 0);
        folder = MakeFolder(name);
        dataFolder = folder + "/data";
        mkdir(dataFolder.c_str(), 0755);
        char windowsName[4096];
        if (!VelmoraToWindowsPath((folder + "/vis.dll").c_str(), windowsName, sizeof(windowsName)))
            abort();
        HINSTANCE instance = VelmoraRegisterModule(windowsName);
        GetModule(0)->hDllInstance = instance;
        host.Attach(GetModule(0), instance);
        VelmoraUseVirtualClock(100000);
    }

    std::string IniPath() const { return folder + "/plugin.ini"; }

    // Init as a fresh start of the player would see it.
    int Init()
    {
        GetModule(0)->delayMs = 25;
        g_WindowX = 50;
        g_WindowY = 50;
        g_SpectrumProfiles.clear();
        return host.Init();
    }
};

} // namespace fuzzing

#endif
