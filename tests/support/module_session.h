// The module linked into a test program, started by the player's Host from a
// folder of its own (module file "vis.dll", data folder "data") on the
// virtual clock, with helpers to read the render window's picture.
#ifndef VELMORA_MODULE_SESSION_H
#define VELMORA_MODULE_SESSION_H

#include <gtest/gtest.h>

#include "host.h"
#include "main.h"
#include "plugin.h"
#include "test_support.h"

#include <velmora_platform.h>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

namespace testing_support {

// The clock starts well above 0 so that "time 0" never means "now".
const DWORD kSessionStart = 100000;

class ModuleSession : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE(folder.Path().empty());
        dataDir = folder / "data";
        ASSERT_EQ(mkdir(dataDir.c_str(), 0755), 0);
        // Only the spectrum profiles of the build: no scene or effects draw over the overlay.
        if (LinkBuiltProfiles())
        {
            for (const char* name : {"spectrum", "spectrum.xml"})
                ASSERT_EQ(symlink((std::string(VELMORA_PLUGIN_DIR) + "/data/" + name).c_str(),
                                  (dataDir + "/" + name).c_str()),
                          0);
        }
        PrepareData();

        char windowsName[4096];
        ASSERT_TRUE(VelmoraToWindowsPath((folder / "vis.dll").c_str(), windowsName, sizeof(windowsName)));
        moduleName = windowsName;
        HINSTANCE instance = VelmoraRegisterModule(moduleName.c_str());
        GetModule(0)->hDllInstance = instance;
        GetModule(0)->delayMs = 25;
        host.Attach(GetModule(0), instance);
        // A window move of an earlier case stored a place for the next Init.
        g_WindowX = 50;
        g_WindowY = 50;
        // Init appends the profile list to what an earlier Init of this process read.
        g_SpectrumProfiles.clear();
        VelmoraUseVirtualClock(kSessionStart);
        logStart = ReadLog().size();
        if (StartModule())
        {
            ASSERT_EQ(host.Init(), 0) << ReadLog().substr(logStart);
        }
    }

    void TearDown() override
    {
        if (host.Initialised())
            host.Quit();
        GetModule(0)->delayMs = 25;
        g_SpectrumProfiles.clear();
        VelmoraUseRealClock();
    }

    // The session's data folder holds the build's spectrum profiles unless a test makes its own.
    virtual bool LinkBuiltProfiles() const { return true; }
    virtual void PrepareData() {}
    virtual bool StartModule() const { return true; }

    std::string NewLog() const { return ReadLog().substr(logStart); }

    // Links each entry of the build's data folder into the session's, but `except`.
    void LinkBuiltData(const std::string& except = std::string())
    {
        const std::string built = std::string(VELMORA_PLUGIN_DIR) + "/data";
        DIR* folder = opendir(built.c_str());
        ASSERT_NE(folder, nullptr);
        while (dirent* entry = readdir(folder))
        {
            const std::string name = entry->d_name;
            if (name == "." || name == ".." || name == except)
                continue;
            ASSERT_EQ(symlink((built + "/" + name).c_str(), (dataDir + "/" + name).c_str()), 0);
        }
        closedir(folder);
    }

    // Renders one frame of silence at the current clock (the clock then moves on by the delay).
    void Frame() { host.Frame(nullptr, 0.0); }

    // Renders one frame at `now` and returns its picture.
    std::vector<DWORD> PictureAt(DWORD now)
    {
        VelmoraSetClock(now);
        Frame();
        int width = 0, height = 0;
        const DWORD* pixels = VelmoraGetWindowPicture(host.RenderWindow(), &width, &height);
        pictureWidth = width;
        pictureHeight = height;
        if (!pixels)
            return {};
        return std::vector<DWORD>(pixels, pixels + static_cast<size_t>(width) * height);
    }

    TempFolder folder;
    std::string dataDir;
    std::string moduleName;
    Host host;
    size_t logStart = 0;
    int pictureWidth = 0;
    int pictureHeight = 0;
};

// Colour tests for text pixels, which the font blends towards the black background.
inline int Red(DWORD c) { return (c >> 16) & 0xff; }
inline int Green(DWORD c) { return (c >> 8) & 0xff; }
inline int Blue(DWORD c) { return c & 0xff; }

// A shade of 0xFF0080FF: no red, green about half of blue.
inline bool IsMessageBlue(DWORD c)
{
    return Blue(c) >= 64 && Red(c) <= 16 && abs(2 * Green(c) - Blue(c)) <= 24;
}

// A shade of white: the three channels alike and clearly lit.
inline bool IsStatusWhite(DWORD c)
{
    return Red(c) >= 64 && abs(Red(c) - Green(c)) <= 8 && abs(Red(c) - Blue(c)) <= 8;
}

struct Box
{
    int left = -1, top = -1, right = -1, bottom = -1; // inclusive pixel bounds; left -1 when empty
    int count = 0;
    bool Empty() const { return count == 0; }
};

// The bounds of the pixels that pass `test` (rows top to bottom, 0xAARRGGBB).
inline Box FindPixels(const std::vector<DWORD>& pixels, int width, const std::function<bool(DWORD)>& test)
{
    Box box;
    for (size_t i = 0; i < pixels.size(); ++i)
    {
        if (!test(pixels[i]))
            continue;
        const int x = static_cast<int>(i % width), y = static_cast<int>(i / width);
        if (box.count++ == 0)
        {
            box.left = box.right = x;
            box.top = box.bottom = y;
        }
        box.left = std::min(box.left, x);
        box.right = std::max(box.right, x);
        box.top = std::min(box.top, y);
        box.bottom = std::max(box.bottom, y);
    }
    return box;
}

} // namespace testing_support

#endif
