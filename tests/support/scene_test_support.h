// Helpers of the scene tests: a device bound to the module's globals, a
// virtual clock, scene files written to a scratch folder, the status line.
#ifndef VELMORA_SCENE_TEST_SUPPORT_H
#define VELMORA_SCENE_TEST_SUPPORT_H

#include "Entity/EntityManager.h"
#include "d3d_stuff.h"
#include "main.h"
#include "plugin.h"
#include "resource_test_support.h"

#include <mmsystem.h>
#include <velmora_platform.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

extern char g_StatusText[64];
extern DWORD g_StatusTime;

namespace scenetest {

inline std::string StatusText()
{
    return g_StatusText;
}

inline void ClearStatus()
{
    g_StatusText[0] = '\0';
    g_StatusTime = 0;
}

// A device of 640 x 480 with the frame's view and projection, the sprite and line,
// a virtual clock, cleared band levels and mouse, and a scratch data folder.
class SceneTest : public ::testing::Test
{
protected:
    // The clock and the first view are set before the derived tests build their managers.
    SceneTest() : m_Bound(640, 480)
    {
        VelmoraUseVirtualClock(100000);
        g_vEyePt = D3DXVECTOR3(0.0f, 0.0f, -200.0f);
        g_vLookatPt = D3DXVECTOR3(0.0f, 0.0f, 0.0f);
        g_vUpVec = D3DXVECTOR3(0.0f, 1.0f, 0.0f);
    }

    void SetUp() override
    {
        ASSERT_NE(g_pDevice, nullptr);
        D3DXCreateSprite(g_pDevice, &g_pSprite);
        D3DXCreateLine(g_pDevice, &g_pLine);
        m_SavedDataPath = g_DataPath;
        g_DataPath = m_Folder.Path() + "\\";
        D3DXMatrixLookAtLH(&g_ViewMatrix, &g_vEyePt, &g_vLookatPt, &g_vUpVec);
        g_pDevice->SetTransform(D3DTS_VIEW, &g_ViewMatrix);
        D3DXMatrixPerspectiveFovLH(&g_ProjectionMatrix, 0.7853982f, 640.0f / 480.0f, 1.0f, 1500.0f);
        g_pDevice->SetTransform(D3DTS_PROJECTION, &g_ProjectionMatrix);
        g_fBass = g_fMedium = g_fTreble = 0.0f;
        g_fTime = 0.0f;
        g_MouseX = g_MouseY = 0;
        g_CycleView = 0;
        ClearStatus();
    }

    void TearDown() override
    {
        if (g_pSprite) {
            g_pSprite->Release();
            g_pSprite = nullptr;
        }
        if (g_pLine) {
            g_pLine->Release();
            g_pLine = nullptr;
        }
        g_DataPath = m_SavedDataPath;
        VelmoraUseRealClock();
    }

    // Writes a scene file into the scratch folder and returns its path.
    std::string WriteScene(const std::string& text, const std::string& name = "scene.xml")
    {
        const std::string path = m_Folder / name;
        testing_support::WriteFile(path, text);
        return path;
    }

    std::string FolderPath(const std::string& name) const { return m_Folder / name; }

    restest::BoundDevice m_Bound;
    testing_support::TempFolder m_Folder;
    std::string m_SavedDataPath;
};

}  // namespace scenetest

#endif
