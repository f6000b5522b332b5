#include "plugin.h"

#include "CSpectrum.h"
#include "Logger.h"
#include "d3d_stuff.h"
#include "main.h"

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

// Placeholder until the host boundary lands.
static CVisModule s_Module = {};
static CVisHeader s_Header = {VIS_HEADER_VERSION, "Velmora", GetModule};

extern "C" __declspec(dllexport) CVisHeader* winampVisGetHeader(void)
{
    return &s_Header;
}

CVisModule* GetModule(int index)
{
    return index == 0 ? &s_Module : nullptr;
}

LRESULT CALLBACK VisWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcA(hwnd, message, wParam, lParam);
}
