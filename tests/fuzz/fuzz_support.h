// Helpers of the fuzz targets: a private folder per process, the module's log
// sent to /dev/null (the logger opens its file for every line), the input
// written where a loader reads it, the build's data linked into a folder, and
// a small device for the graphics loaders.
#ifndef VELMORA_FUZZ_SUPPORT_H
#define VELMORA_FUZZ_SUPPORT_H

#include <d3d9.h>
#include <velmora_platform.h>
#include <windows.h>

#include <dirent.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <string>

namespace fuzzing {

// The process's scratch folder; C: maps to it and its log goes nowhere.
inline const std::string& Scratch()
{
    static const std::string folder = [] {
        const char* tmp = getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/velmora-fuzz-XXXXXX";
        if (!mkdtemp(&pattern[0]))
            abort();
        static std::string removeAtExit = pattern;
        atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(removeAtExit, ignored);
        });
        VelmoraSetDriveRoot('C', pattern.c_str());
        if (symlink("/dev/null", (pattern + "/winamplog.txt").c_str()) != 0)
            abort();
        return pattern;
    }();
    return folder;
}

inline std::string MakeFolder(const std::string& name)
{
    const std::string path = Scratch() + "/" + name;
    mkdir(path.c_str(), 0755);
    return path;
}

inline void WriteInput(const std::string& path, const uint8_t* data, size_t size)
{
    FILE* file = fopen(path.c_str(), "wb");
    if (!file)
        abort();
    if (size && fwrite(data, 1, size, file) != size)
        abort();
    fclose(file);
}

// Links every entry of the build's data folder into `folder`, but those in `except`.
inline void LinkBuiltData(const std::string& folder, const std::set<std::string>& except)
{
    const std::string source = std::string(VELMORA_PLUGIN_DIR) + "/data";
    DIR* dir = opendir(source.c_str());
    if (!dir)
        abort();
    while (dirent* entry = readdir(dir))
    {
        const std::string name = entry->d_name;
        if (name == "." || name == ".." || except.count(name))
            continue;
        symlink((source + "/" + name).c_str(), (folder + "/" + name).c_str());
    }
    closedir(dir);
}

// A hidden window with a small device, made once per process.
struct SmallDevice
{
    static SmallDevice& Get()
    {
        static SmallDevice device;
        return device;
    }
    IDirect3DDevice9* device = nullptr;

private:
    SmallDevice()
    {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = DefWindowProcA;
        wc.lpszClassName = "VelmoraFuzzWindow";
        RegisterClassA(&wc);
        HWND window = CreateWindowExA(0, wc.lpszClassName, "fuzz", WS_POPUP, 0, 0, 32, 32, NULL, NULL, NULL, NULL);
        IDirect3D9* d3d = Direct3DCreate9(D3D_SDK_VERSION);
        D3DPRESENT_PARAMETERS pp = {};
        pp.BackBufferWidth = 32;
        pp.BackBufferHeight = 32;
        pp.BackBufferFormat = D3DFMT_X8R8G8B8;
        pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
        pp.Windowed = TRUE;
        pp.EnableAutoDepthStencil = TRUE;
        pp.AutoDepthStencilFormat = D3DFMT_D24X8;
        if (!d3d || FAILED(d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window,
                                             D3DCREATE_HARDWARE_VERTEXPROCESSING, &pp, &device)))
            abort();
    }
};

} // namespace fuzzing

#endif
