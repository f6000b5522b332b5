#include "main.h"

#include "CSpectrum.h"
#include "Entity/EntityManager.h"
#include "Logger.h"
#include "Resource/Shader.h"
#include "XmlDepth.h"
#include "XmlTail.h"
#include "d3d_stuff.h"
#include "plugin.h"

#include <math.h>

#include <d3d9.h>
#include <d3dx9.h>
#include <tinyxml.h>

static const char* const kSource = "src\\main";

DWORD g_FrameMs = 0;
DWORD g_TotalMs = 0;
float g_fTime = 0.0f;
float g_fBass = 0.0f;
float g_fMedium = 0.0f;
float g_fTreble = 0.0f;
CShaderLight g_Lights[3];
unsigned int g_SpectrumProfileIndex = 0;

// Uploads light record `index` to both effects, the dancer effect only when it exists.
static void UploadLight(int index)
{
    g_pSpotShader->SetLight(index, g_Lights[index]);
    if (g_pDancerShader)
        g_pDancerShader->SetLight(index, g_Lights[index]);
}

bool InitMain()
{
    CLogScope scope(&g_Logger, "INIT MAIN", 48, kSource);

    if (g_pEntityManager)
        g_pEntityManager->LoadScene((g_DataPath + "scene.xml").c_str());

    g_TotalMs = 0;
    g_FrameMs = 0;

    g_pDevice->SetRenderState(D3DRS_LIGHTING, TRUE);
    g_pDevice->SetRenderState(D3DRS_NORMALIZENORMALS, TRUE);
    g_pDevice->SetRenderState(D3DRS_SPECULARENABLE, TRUE);

    if (g_pSpotShader)
    {
        const float t = g_fTime;
        g_Lights[0] = CShaderLight();
        g_Lights[1] = CShaderLight();
        CShaderLight& sky = g_Lights[2];
        sky.position[0] = 50.0f;
        sky.position[1] = 1000.0f + 200.0f * sinf(0.25f * t);
        sky.position[2] = 50.0f;
        sky.direction[0] = 0.3f * sinf(0.5f * t);
        sky.direction[1] = -1.0f;
        sky.direction[2] = 0.2f * cosf(0.5f * t);
        sky.colour[0] = 0.4f;
        sky.colour[1] = 0.4f;
        sky.colour[2] = 0.4f;
        sky.colour[3] = 0.0f;

        g_pSpotShader->SetLight(2, g_Lights[2]);
        if (g_pDancerShader)
            g_pDancerShader->SetLight(2, g_Lights[2]);
        for (int i = 0; i < 3; ++i)
            g_pSpotShader->SetLight(i, g_Lights[i]);
        if (g_pDancerShader)
            for (int i = 0; i < 3; ++i)
                g_pDancerShader->SetLight(i, g_Lights[i]);
    }

    LoadSpectrumProfileList();

    g_Spectrum.Reset();
    g_SpectrumProfileIndex = 0;
    g_Spectrum.Load((g_DataPath + "/spectrum/default.xml").c_str());

    g_CycleView = 1;
    return true;
}

int ModuleRender(CVisModule* module)
{
    g_FrameMs = static_cast<DWORD>(module->delayMs);
    g_TotalMs += g_FrameMs;
    g_fTime = static_cast<float>(static_cast<double>(g_TotalMs) * static_cast<double>(0.001f));

    g_Spectrum.Update(module);
    g_fBass = static_cast<float>(g_Spectrum.GetBass());
    g_fMedium = static_cast<float>(g_Spectrum.GetMedium());
    g_fTreble = static_cast<float>(g_Spectrum.GetTreble());

    return RenderFrame();
}

int RenderFrame()
{
    // A player that renders after a failed Init finds no device.
    if (!g_pDevice)
        return 0;

    if (FAILED(g_pDevice->Clear(0, NULL, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0)))
    {
        g_Logger.SetLocation(kSource, 122);
        g_Logger.Printf("unable to clear buffer");
    }

    D3DXMatrixPerspectiveFovLH(&g_ProjectionMatrix, 1.2566371f, 1.0f, 5.0f, 1000.0f);
    g_pDevice->SetTransform(D3DTS_PROJECTION, &g_ProjectionMatrix);

    g_pDevice->BeginScene();

    DrawTextOverlay();

    if (g_pEntityManager)
    {
        g_pEntityManager->SetMousePosition(static_cast<int>(g_MouseX), static_cast<int>(g_MouseY));
        g_pEntityManager->UpdateAndRender(static_cast<float>(g_FrameMs * 0.001));
    }

    if (g_pSpotShader)
    {
        g_pSpotShader->SetViewMatrix(g_ViewMatrix);
        g_pSpotShader->SetProjectionMatrix(g_ProjectionMatrix);
        if (g_pDancerShader)
        {
            g_pDancerShader->SetViewMatrix(g_ViewMatrix);
            g_pDancerShader->SetProjectionMatrix(g_ProjectionMatrix);
        }
        for (int i = 0; i < 3; ++i)
            UploadLight(i);
    }

    g_pDevice->EndScene();
    g_pDevice->Present(NULL, NULL, NULL, NULL);
    return 0;
}

void LoadSpectrumProfileList()
{
    // Appends: the list lives until unload, so a second Init in the same load
    // lists every entry again.
    const std::string path = g_DataPath + "spectrum.xml";
    TiXmlDocument document(path.c_str());
    // A list nested too deeply lists nothing and, like a broken one, says nothing.
    if (XmlNestingWithinLimit(path.c_str(), nullptr, 0))
        LoadXmlDocument(document);

    for (TiXmlElement* element = document.FirstChildElement(); element; element = element->NextSiblingElement())
    {
        const char* name = element->Attribute("name");
        if (!name)
            continue;
        g_SpectrumProfiles.push_back(g_DataPath + name);
        g_Logger.SetLocation(kSource, 100);
        g_Logger.Printf("name %s", g_SpectrumProfiles.back().c_str());
    }
}

void NextSpectrumProfile()
{
    ++g_SpectrumProfileIndex;
    if (g_SpectrumProfiles.empty() || g_SpectrumProfileIndex >= g_SpectrumProfiles.size())
        g_SpectrumProfileIndex = 0;
    if (g_SpectrumProfiles.empty())
        return;

    const std::string& path = g_SpectrumProfiles[g_SpectrumProfileIndex];
    g_Logger.SetLocation(kSource, 249);
    g_Logger.Printf("loading coef %s", path.c_str());
    g_Spectrum.Load(path.c_str());

    // A status text holds at most 63 characters.
    const std::string status = std::string("spectrum profile: ") + g_Spectrum.GetName();
    SetStatusText(status.substr(0, 63).c_str(), timeGetTime(), false);
}

void NextPreset()
{
    g_Logger.SetLocation(kSource, 228);
    g_Logger.Printf("NEXT PRESET!!!");
    if (g_pEntityManager)
        g_pEntityManager->NextCamera();
    SetStatusText("next camera position", timeGetTime(), false);
}

void PreviousPreset()
{
    g_Logger.SetLocation(kSource, 237);
    g_Logger.Printf("PREVIOUS PRESET!!!");
    if (g_pEntityManager)
        g_pEntityManager->PreviousCamera();
    SetStatusText("previous camera position", timeGetTime(), false);
}
