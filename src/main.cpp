#include "main.h"

#include "plugin.h"

// Placeholders until the frame loop lands.
float g_fTime = 0.0f;
float g_fBass = 0.0f;
float g_fMedium = 0.0f;
float g_fTreble = 0.0f;
unsigned int g_SpectrumProfileIndex = 0;

bool InitMain()
{
    return true;
}

int ModuleRender(CVisModule* module)
{
    return RenderFrame();
}

int RenderFrame()
{
    return 0;
}
