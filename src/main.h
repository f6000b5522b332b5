// Main initialisation, the frame clock and the frame.
#ifndef VELMORA_MAIN_H
#define VELMORA_MAIN_H

#include <string>
#include <vector>

struct CVisModule;

bool InitMain();
int ModuleRender(CVisModule* module);
int RenderFrame();

extern float g_fTime;
extern float g_fBass;
extern float g_fMedium;
extern float g_fTreble;

// Spectrum profile list.
extern std::vector<std::string> g_SpectrumProfiles;
extern unsigned int g_SpectrumProfileIndex;

#endif
