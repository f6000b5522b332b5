// The boundary with the player: the header and module record it reads, the
// embedded-window record it fills, and the module's lifecycle globals.
#ifndef VELMORA_PLUGIN_H
#define VELMORA_PLUGIN_H

#include <windows.h>

#include <string>

struct CVisModule;

typedef CVisModule* (*VisModuleGetter)(int index);

// Shared with the player; the field order is the interface.
struct CVisHeader
{
    int version;
    const char* description;
    VisModuleGetter getModule;
};

struct CVisModule
{
    const char* description;
    HWND hwndParent;
    HINSTANCE hDllInstance;
    int sRate;
    int nCh;
    int latencyMs;
    int delayMs;
    int spectrumNch;
    int waveformNch;
    unsigned char spectrumData[2][576];
    unsigned char waveformData[2][576];
    void (*Config)(CVisModule* module);
    int (*Init)(CVisModule* module);
    int (*Render)(CVisModule* module);
    void (*Quit)(CVisModule* module);
    void* userData;
};

// The player's embedded-window record, passed by address to its embed function.
struct CEmbedWindowState
{
    HWND me;
    int flags;
    RECT r;
    unsigned char extra[260];
};

// The player's embed function, returned for WM_USER code 505.
typedef HWND (*EmbedWindowFunc)(CEmbedWindowState* state);

#define VIS_HEADER_VERSION 0x101

// WM_USER codes sent to the player's main window (code in lParam, value in wParam).
#define IPC_GET_EMBEDIF 505
#define IPC_SETVISWND 611
#define IPC_CB_VISRANDOM 628

typedef CVisHeader* (*VisGetHeaderFunc)(void);

extern "C" __declspec(dllexport) CVisHeader* winampVisGetHeader(void);

CVisModule* GetModule(int index);
void ModuleConfig(CVisModule* module);
int ModuleInit(CVisModule* module);
void ModuleQuit(CVisModule* module);
void GetIniPath(CVisModule* module, char* buffer);
void ReadIni(CVisModule* module);
void WriteIni(CVisModule* module);
LRESULT CALLBACK VisWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

extern CVisModule* g_pModule;
extern CEmbedWindowState g_EmbedWindow;
extern int g_ScreenWidth;
extern int g_ScreenHeight;
extern int g_WindowWidth;
extern int g_WindowHeight;
extern int g_WindowX;
extern int g_WindowY;
extern std::string g_DataPath;
extern unsigned char g_ShowHelp;
extern unsigned int g_MouseX;
extern unsigned int g_MouseY;
extern unsigned char g_CycleView;

#endif
