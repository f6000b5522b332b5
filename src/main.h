// Main initialisation, the frame clock and the frame, and the spectrum
// profile list.
#ifndef VELMORA_MAIN_H
#define VELMORA_MAIN_H

#include <windows.h>

#include <string>
#include <vector>

struct CVisModule;
struct CShaderLight;

bool InitMain();
int ModuleRender(CVisModule* module);
int RenderFrame();

void LoadSpectrumProfileList();
void NextSpectrumProfile();
void NextPreset();
void PreviousPreset();

extern DWORD g_FrameMs;
extern DWORD g_TotalMs;
extern float g_fTime;
extern float g_fBass;
extern float g_fMedium;
extern float g_fTreble;
extern CShaderLight g_Lights[3];

extern std::vector<std::string> g_SpectrumProfiles;
extern unsigned int g_SpectrumProfileIndex;

#endif
