#include "plugin.h"

#include "CSpectrum.h"
#include "Logger.h"
#include "Entity/EntityManager.h"
#include "d3d_stuff.h"
#include "main.h"

#include <mmsystem.h>
#include <string.h>

#include <string>
#include <vector>

// The global objects, built at load in this order and destroyed in reverse.
CLogger g_Logger("C:\\winamplog.txt");
CSpectrum g_Spectrum;
std::vector<std::string> g_SpectrumProfiles;
std::string g_DataPath;

CVisModule* g_pModule = nullptr;
CEmbedWindowState g_EmbedWindow;
int g_ScreenWidth = 800;
int g_ScreenHeight = 600;
int g_WindowWidth = 0;
int g_WindowHeight = 0;
int g_WindowX = 50;
int g_WindowY = 50;
unsigned char g_ShowHelp = 0;
unsigned int g_MouseX = 0;
unsigned int g_MouseY = 0;
unsigned char g_CycleView = 0;

static CVisModule s_Module = {
    "Oscilloscope", // also the embedded window's title
    nullptr,        // parent window, filled by the player
    nullptr,        // module instance, filled by the player
    0,              // sample rate
    0,              // channel count
    25,             // latency, ms
    25,             // delay, ms: the frame step
    1,              // spectrum channels
    1,              // waveform channels
    {},             // spectrum bytes
    {},             // waveform bytes
    ModuleConfig,
    ModuleInit,
    ModuleRender,
    ModuleQuit,
    nullptr, // user data
};

static CVisHeader s_Header = {VIS_HEADER_VERSION, "Velmora", GetModule};

static const char* const kClassName = "TemplateVis";
static const char* const kIniSection = "velmora";
static const char* const kIniName = "plugin.ini";
static const char* const kDataFolder = "\\data\\";

extern "C" __declspec(dllexport) CVisHeader* winampVisGetHeader(void)
{
    return &s_Header;
}

CVisModule* GetModule(int index)
{
    return index == 0 ? &s_Module : nullptr;
}

void ModuleConfig(CVisModule* module)
{
    MessageBoxA(module ? module->hwndParent : nullptr,
                "VELMORA Visualisation Module\nWritten by the Velmora developers", "Credits", 0);
}

// An empty buffer means the path did not fit and is refused.
void GetIniPath(CVisModule* module, char* buffer)
{
    char path[MAX_PATH];
    buffer[0] = '\0';
    DWORD length = GetModuleFileNameA(module->hDllInstance, path, sizeof(path));
    if (length == 0 || length >= sizeof(path))
    {
        g_Logger.SetLocation("src\\plugin", 88);
        g_Logger.Printf("module file name unavailable or too long, plugin.ini not used");
        return;
    }
    char* slash = strrchr(path, '\\');
    if (slash)
        slash[1] = '\0';
    else
        path[0] = '\0';
    if (strlen(path) + strlen(kIniName) >= MAX_PATH)
    {
        g_Logger.SetLocation("src\\plugin", 98);
        g_Logger.Printf("plugin.ini path too long, plugin.ini not used");
        return;
    }
    strcpy(buffer, path);
    strcat(buffer, kIniName);
}

// The largest window side a Direct3D 9 back buffer commonly offers.
static const int kMaxScreenSide = 8192;

// A side that no device takes (0, negative, text that is no number, absurdly
// large) falls back to the default, so that Quit writes back a size that starts.
static int ReadScreenSide(const char* key, int fallback, const char* path, int logLine)
{
    const int value = static_cast<int>(GetPrivateProfileIntA(kIniSection, key, fallback, path));
    if (value >= 1 && value <= kMaxScreenSide)
        return value;
    g_Logger.SetLocation("src\\plugin", logLine);
    g_Logger.Printf("plugin.ini %s %d out of range 1 to %d, using %d", key, value, kMaxScreenSide, fallback);
    return fallback;
}

void ReadIni(CVisModule* module)
{
    char path[MAX_PATH];
    GetIniPath(module, path);
    if (!path[0])
    {
        g_ScreenWidth = 800;
        g_ScreenHeight = 600;
        return;
    }
    g_ScreenWidth = ReadScreenSide("SCREEN_WIDTH", 800, path, 106);
    g_ScreenHeight = ReadScreenSide("SCREEN_HEIGHT", 600, path, 107);
}

void WriteIni(CVisModule* module)
{
    char path[MAX_PATH];
    GetIniPath(module, path);
    if (!path[0])
        return;
    // A write that fails (read-only folder) is not reported: the size is only a preference.
    char value[32];
    wsprintfA(value, "%d", g_ScreenWidth);
    WritePrivateProfileStringA(kIniSection, "SCREEN_WIDTH", value, path);
    wsprintfA(value, "%d", g_ScreenHeight);
    WritePrivateProfileStringA(kIniSection, "SCREEN_HEIGHT", value, path);
}

// The module file's folder followed by "\data\"; false when it does not fit.
static bool BuildDataPath(CVisModule* module)
{
    char path[1024];
    DWORD length = GetModuleFileNameA(module->hDllInstance, path, sizeof(path));
    if (length == 0 || length >= sizeof(path))
        return false;
    char* slash = strrchr(path, '\\');
    if (slash)
    {
        if (static_cast<size_t>(slash - path) + strlen(kDataFolder) >= sizeof(path))
            return false;
        strcpy(slash, kDataFolder);
    }
    g_DataPath = path;
    return true;
}

int ModuleInit(CVisModule* module)
{
    CLogScope scope(&g_Logger, "INIT MODULE", 116, "src\\plugin");
    g_Logger.SetLocation("src\\plugin", 120);
    g_Logger.Printf("init");
    if (!module)
    {
        g_Logger.SetLocation("src\\plugin", 122);
        g_Logger.Printf("no module record");
        return 1;
    }

    ReadIni(module);
    g_WindowWidth = g_ScreenWidth;
    g_WindowHeight = g_ScreenHeight;
    g_pModule = module;
    g_EmbedWindow.r.left = 0;
    g_EmbedWindow.r.top = 0;
    g_EmbedWindow.r.right = g_WindowX + g_WindowWidth;
    g_EmbedWindow.r.bottom = g_WindowY + g_WindowHeight;

    EmbedWindowFunc embed =
        reinterpret_cast<EmbedWindowFunc>(SendMessageA(module->hwndParent, WM_USER, 0, IPC_GET_EMBEDIF));
    if (!embed)
    {
        g_Logger.SetLocation("src\\plugin", 151);
        g_Logger.Printf("This plugin requires Winamp 5.0+");
        return 1;
    }
    HWND parent = embed(&g_EmbedWindow);
    SetWindowTextA(g_EmbedWindow.me, module->description);

    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = VisWndProc;
    windowClass.hInstance = module->hDllInstance;
    windowClass.lpszClassName = kClassName;
    if (!RegisterClassA(&windowClass))
    {
        g_Logger.SetLocation("src\\plugin", 169);
        g_Logger.Printf("Error registering window class");
        return 1;
    }
    g_Logger.SetLocation("src\\plugin", 173);
    g_Logger.Printf("class registered");

    HWND window = CreateWindowExA(0, kClassName, nullptr, WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN,
                                  g_WindowX, g_WindowY, g_ScreenWidth, g_ScreenHeight, parent, nullptr,
                                  module->hDllInstance, nullptr);
    if (!window)
    {
        g_Logger.SetLocation("src\\plugin", 193);
        g_Logger.Printf("Error creating window");
        return 1;
    }
    g_Logger.SetLocation("src\\plugin", 197);
    g_Logger.Printf("window created");

    SetWindowLongA(window, GWL_USERDATA, reinterpret_cast<LONG_PTR>(module));
    SendMessageA(module->hwndParent, WM_USER, reinterpret_cast<WPARAM>(window), IPC_SETVISWND);

    if (!BuildDataPath(module))
    {
        g_Logger.SetLocation("src\\plugin", 214);
        g_Logger.Printf("module file name unavailable or too long for the data path");
        return 1;
    }
    g_Logger.SetLocation("src\\plugin", 218);
    g_Logger.Printf("plugin path:%s", g_DataPath.c_str());

    if (InitDirect3D(window) != 0)
    {
        ModuleQuit(module);
        return 1;
    }
    ShowWindow(parent, SW_SHOWNORMAL);
    if (InitVertexBuffer() != 0)
        return 1;
    g_MouseX = 0;
    g_MouseY = 0;
    if (!InitMain())
        return 1;
    g_ShowHelp = 1;
    ShowTimedMessage("Press H to remove the help content", timeGetTime());
    return 0;
}

void ModuleQuit(CVisModule* module)
{
    CLogScope scope(&g_Logger, "QUIT MODULE", 409, "src\\plugin");
    if (!module)
        module = g_pModule;
    ReleaseDirect3D();
    if (module)
    {
        SendMessageA(module->hwndParent, WM_USER, 0, IPC_SETVISWND);
        WriteIni(module);
    }
    if (g_EmbedWindow.me)
    {
        if (g_pModule)
            SetForegroundWindow(g_pModule->hwndParent);
        DestroyWindow(g_EmbedWindow.me);
        // The handle is dead: a second Quit must not destroy whatever window reuses it.
        g_EmbedWindow.me = nullptr;
    }
    UnregisterClassA(kClassName, module ? module->hDllInstance : nullptr);
    g_Logger.SetLocation("src\\plugin", 426);
    g_Logger.Printf("quit");
}

// ---- Render window procedure ----------------------------------------------

static void OnLeftClick()
{
    if (g_pEntityManager)
        g_pEntityManager->OnLeftClick();
}

static void OnRightClick()
{
    if (g_pEntityManager)
        g_pEntityManager->BackOut();
}

static void ToggleCycleView()
{
    g_CycleView = !g_CycleView;
    SetStatusText(g_CycleView ? "cycle view on" : "cycle view off", timeGetTime(), false);
    if (g_pModule)
        SendMessageA(g_pModule->hwndParent, WM_USER, g_CycleView ? 1 : 0, IPC_CB_VISRANDOM);
    g_Logger.SetLocation("src\\plugin", 448);
    g_Logger.Printf("Random is %d", g_CycleView);
}

// Scales a client position to viewport pixels; a window of no size keeps the last position.
static void OnMouseMove(LPARAM lParam)
{
    if (g_pDevice && g_WindowWidth != 0 && g_WindowHeight != 0)
    {
        D3DVIEWPORT9 viewport;
        g_pDevice->GetViewport(&viewport);
        g_MouseX = static_cast<unsigned int>(LOWORD(lParam)) * viewport.Width / static_cast<unsigned int>(g_WindowWidth);
        g_MouseY =
            static_cast<unsigned int>(HIWORD(lParam)) * viewport.Height / static_cast<unsigned int>(g_WindowHeight);
    }
    if (g_pEntityManager)
        g_pEntityManager->LastInputTime = timeGetTime();
}

static void OnKeyDown(WPARAM key)
{
    switch (key)
    {
    case 'H':
    case VK_NUMPAD8:
        g_ShowHelp = !g_ShowHelp;
        ShowTimedMessage(g_ShowHelp ? "Help Enable" : "Help Disable", timeGetTime());
        break;
    case VK_F12:
        g_Logger.SetLocation("src\\plugin", 327);
        g_Logger.Printf("saving xml scene");
        break;
    default:
        break;
    }
}

LRESULT CALLBACK VisWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message)
    {
    case WM_CREATE:
    case WM_ERASEBKGND:
    case WM_NCMBUTTONUP:
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    case WM_SIZE:
        OnResize(static_cast<float>(LOWORD(lParam)), static_cast<float>(HIWORD(lParam)));
        return 0;
    case WM_WINDOWPOSCHANGING:
    {
        RECT rect;
        if (GetWindowRect(g_EmbedWindow.me, &rect))
        {
            g_WindowX = rect.left;
            g_WindowY = rect.top;
        }
        return 0;
    }
    case WM_KEYDOWN:
        OnKeyDown(wParam);
        return 0;
    case WM_COMMAND:
        switch (LOWORD(wParam))
        {
        case 40382:
            NextPreset();
            break;
        case 40383:
            PreviousPreset();
            break;
        case 40384:
            ToggleCycleView();
            break;
        case 40389:
            g_Logger.SetLocation("src\\plugin", 385);
            g_Logger.Printf("cotte");
            return 0;
        case 40391:
            NextSpectrumProfile();
            return 0;
        default:
            break;
        }
        return DefWindowProcA(hwnd, message, wParam, lParam);
    case WM_MOUSEMOVE:
        OnMouseMove(lParam);
        return 0;
    case WM_LBUTTONUP:
        OnLeftClick();
        return 0;
    case WM_RBUTTONUP:
        OnRightClick();
        return 0;
    default:
        return DefWindowProcA(hwnd, message, wParam, lParam);
    }
}
