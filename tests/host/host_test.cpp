#include <gtest/gtest.h>

#include "host.h"
#include "plugin.h"
#include "test_support.h"

#include <velmora_platform.h>

#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

using namespace testing_support;

namespace {

const char* const kModuleName = "D:\\Player\\Plugins\\vis.dll";

std::vector<std::string> InitSection(const std::string& log)
{
    return LinesBetween(SplitLines(log), "[          plugin:: 116]\t====[INIT MODULE Tab Start]====",
                        "[          plugin:: 116]\t====[INIT MODULE Tab End]====");
}

// The module linked into this program, its player, and drive D: on a fresh folder.
class HostBoundary : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(VelmoraSetDriveRoot('D', drive.Path().c_str()));
        plugins = drive / "Player/Plugins";
        ASSERT_TRUE(MakeDirs(plugins));
        logStart = ReadLog().size();
        g_EmbedWindow = CEmbedWindowState{};
        g_pModule = nullptr;
        g_ScreenWidth = 800;
        g_ScreenHeight = 600;
        g_DataPath.clear();
    }

    void TearDown() override
    {
        // Whatever a failed Init left behind must not reach the next test.
        if (IsWindow(g_EmbedWindow.me))
            DestroyWindow(g_EmbedWindow.me);
        UnregisterClassA("TemplateVis", nullptr);
        g_EmbedWindow = CEmbedWindowState{};
    }

    static bool MakeDirs(const std::string& path)
    {
        for (size_t i = 1; i <= path.size(); ++i)
            if (i == path.size() || path[i] == '/')
                if (mkdir(path.substr(0, i).c_str(), 0755) != 0 && errno != EEXIST)
                    return false;
        return true;
    }

    std::string NewLog() const { return ReadLog().substr(logStart); }

    void AttachAs(Host& host, const char* moduleName)
    {
        HINSTANCE instance = VelmoraRegisterModule(moduleName);
        GetModule(0)->hDllInstance = instance; // as the player fills it before Init
        host.Attach(GetModule(0), instance);
    }

    TempFolder drive;
    std::string plugins;
    size_t logStart = 0;
};

HWND NoParentEmbed(CEmbedWindowState* state)
{
    // Makes the embedded window but hands back no parent for the render window.
    Host::DefaultEmbed(state);
    return nullptr;
}

} // namespace

TEST_F(HostBoundary, HeaderAndModuleRecord)
{
    CVisHeader* header = winampVisGetHeader();
    ASSERT_NE(header, nullptr);
    EXPECT_EQ(header->version, 0x101);
    EXPECT_STREQ(header->description, "Velmora");
    EXPECT_EQ(header->getModule, &GetModule);

    CVisModule* module = GetModule(0);
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(GetModule(0), module);
    EXPECT_EQ(GetModule(1), nullptr);
    EXPECT_EQ(GetModule(-1), nullptr);
    EXPECT_STREQ(module->description, "Oscilloscope");
    EXPECT_EQ(module->latencyMs, 25);
    EXPECT_EQ(module->delayMs, 25);
    EXPECT_EQ(module->spectrumNch, 1);
    EXPECT_EQ(module->waveformNch, 1);
    EXPECT_EQ(module->Config, &ModuleConfig);
    EXPECT_EQ(module->Init, &ModuleInit);
    EXPECT_EQ(module->Quit, &ModuleQuit);
    EXPECT_NE(module->Render, nullptr);
    EXPECT_EQ(module->userData, nullptr);
    // Fields follow each other without gaps, pointers at the machine's width.
    EXPECT_EQ(offsetof(CVisModule, sRate), 3 * sizeof(void*));
    EXPECT_EQ(offsetof(CVisModule, spectrumData), 3 * sizeof(void*) + 6 * sizeof(int));
    EXPECT_EQ(offsetof(CVisModule, Config), 3 * sizeof(void*) + 6 * sizeof(int) + 2 * 2 * 576);
    EXPECT_EQ(offsetof(CEmbedWindowState, r), sizeof(void*) + 4);
    EXPECT_EQ(offsetof(CEmbedWindowState, extra), sizeof(void*) + 4 + 16);
}

TEST(ModuleFile, ExportsItsEntryPointAlone)
{
    // Every symbol the built module defines for others to find, by name.
    TempFolder folder;
    ProcessResult nm = RunProgram({VELMORA_NM, "-D", "--defined-only", "--format=posix",
                                   std::string(VELMORA_PLUGIN_DIR) + "/vis_velmora.so"},
                                  folder.Path());
    ASSERT_EQ(nm.status, 0) << nm.err;
    std::vector<std::string> names;
    for (const std::string& line : SplitLines(nm.out))
        if (!line.empty())
            names.push_back(line.substr(0, line.find(' ')));
    EXPECT_EQ(names, std::vector<std::string>{"winampVisGetHeader"}) << nm.out;
}

TEST_F(HostBoundary, InitAndQuitWithAnIniHoldingOnlyTheWidth)
{
    ASSERT_TRUE(WriteFile(plugins + "/plugin.ini", "; window\r\n[VELMORA]\r\nSCREEN_WIDTH=640\r\n[other]\r\nkey=1\r\n"));
    Host host;
    AttachAs(host, kModuleName);
    ASSERT_EQ(host.Init(), 0);

    HWND render = host.RenderWindow();
    ASSERT_TRUE(IsWindow(render));
    RECT client;
    ASSERT_TRUE(GetClientRect(render, &client));
    EXPECT_EQ(client.right, 640);
    EXPECT_EQ(client.bottom, 600);
    EXPECT_EQ(g_WindowWidth, 640);
    EXPECT_EQ(g_WindowHeight, 600);

    // The render window is a visible child of the embedded window at (50, 50).
    HWND embedded = host.EmbeddedWindow();
    ASSERT_EQ(g_EmbedWindow.me, embedded);
    EXPECT_EQ(GetParent(render), embedded);
    EXPECT_EQ(GetWindowLongA(render, GWL_STYLE), 0x56000000);
    EXPECT_EQ(GetWindowLongA(render, GWL_USERDATA), reinterpret_cast<LONG_PTR>(GetModule(0)));
    EXPECT_TRUE(IsWindowVisible(render));
    RECT embedRect, renderRect;
    GetWindowRect(embedded, &embedRect);
    GetWindowRect(render, &renderRect);
    EXPECT_EQ(renderRect.left - embedRect.left, 50);
    EXPECT_EQ(renderRect.top - embedRect.top, 50);
    EXPECT_EQ(embedRect.right - embedRect.left, 690);
    EXPECT_EQ(embedRect.bottom - embedRect.top, 650);
    char title[64];
    GetWindowTextA(embedded, title, sizeof(title));
    EXPECT_STREQ(title, "Oscilloscope");

    EXPECT_EQ(g_DataPath, "D:\\Player\\Plugins\\data\\");
    char iniPath[MAX_PATH];
    GetIniPath(GetModule(0), iniPath);
    EXPECT_STREQ(iniPath, "D:\\Player\\Plugins\\plugin.ini");

    // The player resizes the render window: the ini keeps the size read at Init.
    ASSERT_TRUE(MoveWindow(render, 50, 50, 320, 240, TRUE));
    host.Quit();
    EXPECT_FALSE(IsWindow(embedded));
    EXPECT_FALSE(IsWindow(render));
    EXPECT_EQ(host.RenderWindow(), nullptr); // unregistered with code 611, value 0
    EXPECT_EQ(GetForegroundWindow(), host.MainWindow());

    const std::string ini = plugins + "/plugin.ini";
    EXPECT_EQ(GetPrivateProfileIntA("velmora", "SCREEN_WIDTH", 0, ini.c_str()), 640u);
    EXPECT_EQ(GetPrivateProfileIntA("velmora", "SCREEN_HEIGHT", 0, ini.c_str()), 600u);
    EXPECT_EQ(GetPrivateProfileIntA("other", "key", 0, ini.c_str()), 1u);

    // The class is gone with Quit, so it registers again.
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.lpszClassName = "TemplateVis";
    EXPECT_NE(RegisterClassA(&windowClass), 0);

    const std::vector<std::string> lines = SplitLines(NewLog());
    EXPECT_EQ(InitSection(NewLog()), (std::vector<std::string>{
                                         "[          plugin:: 116]\t====[INIT MODULE Tab Start]====",
                                         "[          plugin:: 120]\t\tinit",
                                         "[          plugin:: 173]\t\tclass registered",
                                         "[          plugin:: 197]\t\twindow created",
                                         "[          plugin:: 218]\t\tplugin path:D:\\Player\\Plugins\\data\\",
                                         "[       d3d_stuff::  66]\t\tD3D obj created",
                                         "[       d3d_stuff:: 109]\t\tD3D device created",
                                         "[       d3d_stuff:: 115]\t\tchecking D3D caps",
                                         "[       d3d_stuff:: 127]\t\tpixel shader 2.0 found",
                                         "[       d3d_stuff:: 163]\t\tfont created",
                                         // No effect files in this folder: each is tried once, silently.
                                         "[ ResourceManager::  89]\t\tloading D:\\Player\\Plugins\\data\\shaders/spot.fx",
                                         "[          Shader::  58]\t\tCSHADER constructor",
                                         "[          Shader::  59]\t\tCSHADER destructor",
                                         "[ ResourceManager::  89]\t\tloading D:\\Player\\Plugins\\data\\shaders/dancer.fx",
                                         "[          Shader::  58]\t\tCSHADER constructor",
                                         "[          Shader::  59]\t\tCSHADER destructor",
                                         "[       d3d_stuff:: 227]\t\tloading viel texture : "
                                         "D:\\Player\\Plugins\\data\\/textures/white.tga",
                                         "[       d3d_stuff:: 230]\t\tERROR : failed to load the veil",
                                         "[       d3d_stuff:: 233]\t\tERROR : viel = NULL",
                                         "[       d3d_stuff:: 279]\t\tVB created",
                                         "[            main::  48]\t\t====[INIT MAIN Tab Start]====",
                                         "[   EntityManager::  40]\t\t\t====[ENTITY LOADER Tab Start]====",
                                         "[   EntityManager::  41]\t\t\t\tloading file "
                                         "D:\\Player\\Plugins\\data\\scene.xml",
                                         "[   EntityManager::  45]\t\t\t\terror loading file",
                                         "[   EntityManager::  40]\t\t\t====[ENTITY LOADER Tab End]====",
                                         "[       CSpectrum::  43]\t\t\t====[SPECTRUM LOADER Tab Start]====",
                                         "[       CSpectrum::  45]\t\t\t\tdestroying",
                                         "[       CSpectrum::  48]\t\t\t\tloading file "
                                         "D:\\Player\\Plugins\\data\\/spectrum/default.xml",
                                         "[       CSpectrum::  51]\t\t\t\terror loading file",
                                         "[       CSpectrum::  43]\t\t\t====[SPECTRUM LOADER Tab End]====",
                                         "[            main::  48]\t\t====[INIT MAIN Tab End]====",
                                         "[          plugin:: 116]\t====[INIT MODULE Tab End]====",
                                     }));
    EXPECT_EQ(LinesBetween(lines, "[          plugin:: 409]\t====[QUIT MODULE Tab Start]====",
                           "[          plugin:: 409]\t====[QUIT MODULE Tab End]===="),
              (std::vector<std::string>{
                  "[          plugin:: 409]\t====[QUIT MODULE Tab Start]====",
                  "[       d3d_stuff:: 322]\t\tclearing D3D",
                  "[          plugin:: 426]\t\tquit",
                  "[          plugin:: 409]\t====[QUIT MODULE Tab End]====",
              }));
}

TEST_F(HostBoundary, SizesOutOfRangeFallBackToTheDefaultsAndTheNextStartWorks)
{
    const std::string ini = plugins + "/plugin.ini";
    // One start and quit; the window must have the given size, and so must the ini after Quit.
    auto startAndQuit = [&](int width, int height) {
        const size_t mark = ReadLog().size();
        Host host;
        AttachAs(host, kModuleName);
        EXPECT_EQ(host.Init(), 0);
        EXPECT_EQ(g_ScreenWidth, width);
        EXPECT_EQ(g_ScreenHeight, height);
        RECT client = {};
        EXPECT_TRUE(GetClientRect(host.RenderWindow(), &client));
        EXPECT_EQ(client.right, width);
        EXPECT_EQ(client.bottom, height);
        host.Quit();
        EXPECT_EQ(GetPrivateProfileIntA("velmora", "SCREEN_WIDTH", 0, ini.c_str()), static_cast<UINT>(width));
        EXPECT_EQ(GetPrivateProfileIntA("velmora", "SCREEN_HEIGHT", 0, ini.c_str()), static_cast<UINT>(height));
        return InitSection(ReadLog().substr(mark));
    };
    struct Case
    {
        const char* width;
        const char* height;
        int readWidth, readHeight; // what the ini reads as
    };
    const Case cases[] = {
        {"0", "-600", 0, -600},
        {"wide", "2147483647", 0, 2147483647},
        {"2147483600", "-2147483648", 2147483600, -2147483647 - 1},
        {"-1", "8193", -1, 8193},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(std::string(c.width) + " x " + c.height);
        ASSERT_TRUE(WriteFile(ini, std::string("[velmora]\r\nSCREEN_WIDTH=") + c.width + "\r\nSCREEN_HEIGHT=" + c.height +
                                       "\r\n"));
        std::vector<std::string> init = startAndQuit(800, 600);
        ASSERT_GE(init.size(), 4u);
        EXPECT_EQ(init[1], "[          plugin:: 120]\t\tinit");
        EXPECT_EQ(init[2], "[          plugin:: 106]\t\tplugin.ini SCREEN_WIDTH " + std::to_string(c.readWidth) +
                               " out of range 1 to 8192, using 800");
        EXPECT_EQ(init[3], "[          plugin:: 107]\t\tplugin.ini SCREEN_HEIGHT " + std::to_string(c.readHeight) +
                               " out of range 1 to 8192, using 600");
        // Quit wrote the defaults: the next start reads them without a word.
        init = startAndQuit(800, 600);
        ASSERT_GE(init.size(), 3u);
        EXPECT_EQ(init[2], "[          plugin:: 173]\t\tclass registered");
    }

    // The extremes that a device takes stay as they are.
    ASSERT_TRUE(WriteFile(ini, "[velmora]\r\nSCREEN_WIDTH=8192\r\nSCREEN_HEIGHT=1\r\n"));
    const std::vector<std::string> init = startAndQuit(8192, 1);
    ASSERT_GE(init.size(), 3u);
    EXPECT_EQ(init[2], "[          plugin:: 173]\t\tclass registered");
}

TEST_F(HostBoundary, MissingOrUnreadableIniGivesTheDefaultsAndAnUnwritableOneFailsQuietly)
{
    {
        Host host;
        AttachAs(host, kModuleName);
        ASSERT_EQ(host.Init(), 0);
        EXPECT_EQ(g_ScreenWidth, 800);
        EXPECT_EQ(g_ScreenHeight, 600);
        host.Quit();
        // Quit writes the defaults into a new file.
        EXPECT_EQ(GetPrivateProfileIntA("velmora", "SCREEN_HEIGHT", 0, (plugins + "/plugin.ini").c_str()), 600u);
    }
    // A folder named plugin.ini can be neither read nor written.
    const std::string blocked = drive / "Blocked";
    ASSERT_TRUE(MakeDirs(blocked + "/plugin.ini"));
    {
        Host host;
        AttachAs(host, "D:\\Blocked\\vis.dll");
        ASSERT_EQ(host.Init(), 0);
        EXPECT_EQ(g_ScreenWidth, 800);
        host.Quit();
    }
    // A read-only folder (only binding for a user other than root).
    const std::string locked = drive / "Locked";
    ASSERT_TRUE(MakeDirs(locked));
    chmod(locked.c_str(), 0555);
    {
        Host host;
        AttachAs(host, "D:\\Locked\\vis.dll");
        ASSERT_EQ(host.Init(), 0);
        host.Quit();
    }
    if (geteuid() != 0)
    {
        EXPECT_FALSE(FileExists(locked + "/plugin.ini"));
    }
}

TEST_F(HostBoundary, ModuleNamesWithoutBackslashOrTooLongForTheBuffers)
{
    // No backslash: the ini is "plugin.ini" alone and the data path is the name unchanged.
    TempFolder work;
    char previous[4096];
    ASSERT_NE(getcwd(previous, sizeof(previous)), nullptr);
    ASSERT_EQ(chdir(work.Path().c_str()), 0);
    {
        Host host;
        AttachAs(host, "vis.dll");
        char iniPath[MAX_PATH];
        GetIniPath(GetModule(0), iniPath);
        EXPECT_STREQ(iniPath, "plugin.ini");
        ASSERT_EQ(host.Init(), 0);
        EXPECT_EQ(g_DataPath, "vis.dll");
        host.Quit();
        EXPECT_TRUE(FileExists(work / "plugin.ini"));
    }
    ASSERT_EQ(chdir(previous), 0);

    // A folder name that leaves no room for "plugin.ini" in 260 bytes: refused, defaults used.
    const std::string folder250 = "D:\\" + std::string(246, 'f') + "\\";
    ASSERT_EQ(folder250.size(), 250u);
    {
        Host host;
        AttachAs(host, (folder250 + "v.dll").c_str());
        char iniPath[MAX_PATH];
        memset(iniPath, 'x', sizeof(iniPath));
        GetIniPath(GetModule(0), iniPath);
        EXPECT_STREQ(iniPath, "");
        ASSERT_EQ(host.Init(), 0);
        EXPECT_EQ(g_ScreenWidth, 800);
        EXPECT_EQ(g_DataPath, folder250.substr(0, folder250.size() - 1) + "\\data\\");
        host.Quit();
    }
    // A module file name longer than 260 bytes: the ini is refused, not cut.
    {
        Host host;
        AttachAs(host, ("D:\\" + std::string(300, 'g') + "\\vis.dll").c_str());
        char iniPath[MAX_PATH];
        GetIniPath(GetModule(0), iniPath);
        EXPECT_STREQ(iniPath, "");
    }
    // Longer than the 1024-byte module path buffer: Init refuses with a log line.
    logStart = ReadLog().size();
    {
        Host host;
        AttachAs(host, ("D:\\" + std::string(1100, 'h') + "\\vis.dll").c_str());
        EXPECT_EQ(host.Init(), 1);
        EXPECT_NE(NewLog().find("too long for the data path"), std::string::npos);
    }
}

TEST_F(HostBoundary, PlayerWithoutEmbedFunctionFailsInit)
{
    Host host;
    AttachAs(host, kModuleName);
    host.SetEmbedFunction(nullptr);
    EXPECT_EQ(host.Init(), 1);
    EXPECT_EQ(InitSection(NewLog()), (std::vector<std::string>{
                                         "[          plugin:: 116]\t====[INIT MODULE Tab Start]====",
                                         "[          plugin:: 120]\t\tinit",
                                         "[          plugin:: 151]\t\tThis plugin requires Winamp 5.0+",
                                         "[          plugin:: 116]\t====[INIT MODULE Tab End]====",
                                     }));
    EXPECT_EQ(host.RenderWindow(), nullptr);
}

TEST_F(HostBoundary, ClassRegistrationAndWindowCreationFailures)
{
    WNDCLASSA taken = {};
    taken.lpfnWndProc = DefWindowProcA;
    taken.lpszClassName = "templatevis"; // class names compare without regard to case
    ASSERT_NE(RegisterClassA(&taken), 0);
    {
        Host host;
        AttachAs(host, kModuleName);
        EXPECT_EQ(host.Init(), 1);
        std::vector<std::string> section = InitSection(NewLog());
        ASSERT_EQ(section.size(), 4u);
        EXPECT_EQ(section[2], "[          plugin:: 169]\t\tError registering window class");
        // Nothing is undone: the embedded window stays.
        EXPECT_TRUE(IsWindow(g_EmbedWindow.me));
    }
    ASSERT_TRUE(UnregisterClassA("TemplateVis", nullptr));
    g_EmbedWindow = CEmbedWindowState{};

    logStart = ReadLog().size();
    {
        Host host;
        AttachAs(host, kModuleName);
        host.SetEmbedFunction(NoParentEmbed);
        EXPECT_EQ(host.Init(), 1);
        std::vector<std::string> section = InitSection(NewLog());
        ASSERT_EQ(section.size(), 5u);
        EXPECT_EQ(section[2], "[          plugin:: 173]\t\tclass registered");
        EXPECT_EQ(section[3], "[          plugin:: 193]\t\tError creating window");
        EXPECT_EQ(host.RenderWindow(), nullptr);
    }
    // The class stays registered after the failure.
    EXPECT_TRUE(UnregisterClassA("TemplateVis", nullptr));
}

TEST_F(HostBoundary, ConfigShowsTheCreditsBox)
{
    Host host;
    AttachAs(host, kModuleName);
    const int before = VelmoraMessageBoxCount();
    GetModule(0)->hwndParent = host.MainWindow();
    GetModule(0)->Config(GetModule(0));
    EXPECT_EQ(VelmoraMessageBoxCount(), before + 1);
    EXPECT_STREQ(VelmoraLastMessageBoxCaption(), "Credits");
    const std::string text = VelmoraLastMessageBoxText();
    EXPECT_EQ(text.rfind("VELMORA Visualisation Module\n", 0), 0u);
    EXPECT_GT(text.size(), strlen("VELMORA Visualisation Module\n"));
}
