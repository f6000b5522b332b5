// Device set-up and tear-down: order, log lines, failure results and what is
// left for the tear-down.
#include <gtest/gtest.h>

#include "Entity/EntityManager.h"
#include "Logger.h"
#include "Resource/ResourceManager.h"
#include "Resource/Shader.h"
#include "d3d_stuff.h"
#include "d3d_test_device.h"
#include "plugin.h"

#include <stdio.h>

#include <string>

namespace {

std::string ReadLog()
{
    std::string text;
    FILE* f = fopen(g_Logger.GetFileName().c_str(), "rb");
    if (!f)
        return text;
    char chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof(chunk), f)) > 0)
        text.append(chunk, n);
    fclose(f);
    return text;
}

// The logged line of this source file: its location, then the message.
std::string Line(int number, const std::string& message)
{
    char location[64];
    snprintf(location, sizeof(location), "[%16s::%4d]", "d3d_stuff", number);
    return std::string(location) + "\t" + message + "\n";
}

class DeviceSetup : public ::testing::Test
{
protected:
    void SetUp() override
    {
        VelmoraResetGraphicsCard();
        m_SavedDataPath = g_DataPath;
        g_DataPath = std::string(VELMORA_PLUGIN_DIR) + "/data\\";
        m_Window = d3dtest::MakeWindow(400, 300);
        ASSERT_NE(m_Window, nullptr);
        m_LiveBefore = VelmoraLiveGraphicsObjects();
        // A log of this test's own, whatever else runs beside it.
        std::string log = std::string(VELMORA_BINARY_DIR) + "/device_setup_" +
                          ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".log";
        g_Logger.SetFile(log.c_str());
        m_LogStart = ReadLog().size();
    }

    void TearDown() override
    {
        ReleaseDirect3D();
        EXPECT_EQ(VelmoraLiveGraphicsObjects(), m_LiveBefore);
        VelmoraResetGraphicsCard();
        DestroyWindow(m_Window);
        g_DataPath = m_SavedDataPath;
    }

    // What this test has logged so far.
    std::string Log() const { return ReadLog().substr(m_LogStart); }

    HWND m_Window = nullptr;
    int m_LiveBefore = 0;
    size_t m_LogStart = 0;
    std::string m_SavedDataPath;
};

}  // namespace

TEST_F(DeviceSetup, BuildsEverythingAndTearsItDown)
{
    ASSERT_EQ(InitDirect3D(m_Window), 0);
    EXPECT_NE(g_pD3D, nullptr);
    ASSERT_NE(g_pDevice, nullptr);
    EXPECT_NE(g_pFont, nullptr);
    EXPECT_NE(g_pLine, nullptr);
    EXPECT_NE(g_pSprite, nullptr);
    EXPECT_NE(g_pRenderTexture, nullptr);
    EXPECT_NE(g_pRenderSurface, nullptr);
    EXPECT_NE(g_pVeilTexture, nullptr);
    EXPECT_NE(g_pResourceManager, nullptr);
    EXPECT_NE(g_pEntityManager, nullptr);
    // The effects load when the data folder has them, through the manager.
    for (const char* name : {"shaders/spot.fx", "shaders/dancer.fx"})
    {
        const std::string path = g_DataPath + name;
        FILE* file = fopen((std::string(VELMORA_PLUGIN_DIR) + "/data/" + name).c_str(), "rb");
        CShader* shader = name[8] == 's' ? g_pSpotShader : g_pDancerShader;
        EXPECT_EQ(shader != nullptr, file != nullptr) << name;
        if (file)
        {
            fclose(file);
            EXPECT_EQ(g_pResourceManager->Find(path), shader) << name;
        }
    }
    EXPECT_EQ(g_pVertexBuffer, nullptr);

    std::string log = Log();
    size_t pos = 0;
    for (const std::string& expected :
         {Line(66, "D3D obj created"), Line(109, "D3D device created"), Line(115, "checking D3D caps"),
          Line(127, "pixel shader 2.0 found"), Line(163, "font created"),
          Line(227, "loading viel texture : " + g_DataPath + "/textures/white.tga")}) {
        size_t at = log.find(expected, pos);
        EXPECT_NE(at, std::string::npos) << expected;
        if (at != std::string::npos)
            pos = at;
    }
    EXPECT_EQ(log.find("ERROR"), std::string::npos);
    EXPECT_EQ(log.find("error"), std::string::npos);

    // Camera, projection, light and the first render states.
    EXPECT_EQ(g_vEyePt, D3DXVECTOR3(0, 0, -200));
    EXPECT_EQ(g_vLookatPt, D3DXVECTOR3(0, 0, 0));
    EXPECT_EQ(g_vUpVec, D3DXVECTOR3(0, 1, 0));
    D3DXMATRIX view, proj, m;
    D3DXMatrixLookAtLH(&view, &g_vEyePt, &g_vLookatPt, &g_vUpVec);
    D3DXMatrixPerspectiveFovLH(&proj, 1.2566371f, 1.0f, 1.0f, 1500.0f);
    EXPECT_EQ(g_ViewMatrix, view);
    EXPECT_EQ(g_ProjectionMatrix, proj);
    g_pDevice->GetTransform(D3DTS_VIEW, &m);
    EXPECT_EQ(m, view);
    g_pDevice->GetTransform(D3DTS_PROJECTION, &m);
    EXPECT_EQ(m, proj);
    D3DLIGHT9 light;
    ASSERT_EQ(g_pDevice->GetLight(0, &light), S_OK);
    EXPECT_EQ(light.Type, D3DLIGHT_POINT);
    EXPECT_FLOAT_EQ(light.Diffuse.r, 0.5f);
    EXPECT_FLOAT_EQ(light.Diffuse.a, 0.0f);
    EXPECT_FLOAT_EQ(light.Specular.g, 0.3f);
    EXPECT_FLOAT_EQ(light.Ambient.b, 0.5f);
    EXPECT_FLOAT_EQ(light.Position.y, 50.0f);
    EXPECT_FLOAT_EQ(light.Position.z, -50.0f);
    EXPECT_FLOAT_EQ(light.Range, 500.0f);
    EXPECT_FLOAT_EQ(light.Attenuation0, 1.0f);
    BOOL enabled = FALSE;
    g_pDevice->GetLightEnable(0, &enabled);
    EXPECT_TRUE(enabled);
    DWORD value = 0;
    g_pDevice->GetRenderState(D3DRS_CULLMODE, &value);
    EXPECT_EQ(value, (DWORD)D3DCULL_NONE);
    g_pDevice->GetRenderState(D3DRS_LIGHTING, &value);
    EXPECT_EQ(value, (DWORD)TRUE);
    g_pDevice->GetRenderState(D3DRS_AMBIENT, &value);
    EXPECT_EQ(value, 0xFFFFFFFFu);
    g_pDevice->GetRenderState(D3DRS_ZENABLE, &value);
    EXPECT_EQ(value, (DWORD)TRUE);
    // The back buffer takes the window's client size.
    D3DVIEWPORT9 vp;
    g_pDevice->GetViewport(&vp);
    EXPECT_EQ(vp.Width, 400u);
    EXPECT_EQ(vp.Height, 300u);

    EXPECT_EQ(InitVertexBuffer(), 0);
    EXPECT_NE(g_pVertexBuffer, nullptr);
    EXPECT_NE(Log().find(Line(279, "VB created")), std::string::npos);

    ReleaseDirect3D();
    for (const void* p : {(const void*)g_pD3D, (const void*)g_pDevice, (const void*)g_pFont, (const void*)g_pLine,
                          (const void*)g_pSprite, (const void*)g_pRenderTexture, (const void*)g_pRenderSurface,
                          (const void*)g_pVertexBuffer, (const void*)g_pVeilTexture, (const void*)g_pResourceManager,
                          (const void*)g_pEntityManager})
        EXPECT_EQ(p, nullptr);
    EXPECT_EQ(VelmoraLiveGraphicsObjects(), m_LiveBefore);
    EXPECT_NE(Log().find(Line(322, "clearing D3D")), std::string::npos);

    // A second tear-down only logs its line.
    size_t before = Log().size();
    ReleaseDirect3D();
    EXPECT_EQ(Log().substr(before), Line(322, "clearing D3D"));
}

TEST_F(DeviceSetup, CardBelowShaderModelTwoIsRefused)
{
    int boxes = VelmoraMessageBoxCount();
    VelmoraSetDeviceShaderVersions(D3DVS_VERSION(1, 1), D3DPS_VERSION(2, 0));
    EXPECT_EQ(InitDirect3D(m_Window), 1);
    std::string log = Log();
    EXPECT_NE(log.find(Line(115, "checking D3D caps")), std::string::npos);
    EXPECT_NE(log.find(Line(121, "error: pixel shader 2.0 not supported...")), std::string::npos);
    EXPECT_EQ(log.find("pixel shader 2.0 found"), std::string::npos);
    EXPECT_EQ(VelmoraMessageBoxCount(), boxes + 1);
    EXPECT_STREQ(VelmoraLastMessageBoxText(), "Error: your 3d card do not support pixel shader v2.0");
    EXPECT_STREQ(VelmoraLastMessageBoxCaption(), "Error");
    // Only the Direct3D object and the device exist; the tear-down takes them.
    EXPECT_NE(g_pD3D, nullptr);
    EXPECT_NE(g_pDevice, nullptr);
    EXPECT_EQ(g_pFont, nullptr);
    EXPECT_EQ(g_pResourceManager, nullptr);

    ReleaseDirect3D();
    VelmoraSetDeviceShaderVersions(D3DVS_VERSION(2, 0), D3DPS_VERSION(1, 4));
    EXPECT_EQ(InitDirect3D(m_Window), 1);
    EXPECT_EQ(VelmoraMessageBoxCount(), boxes + 2);
}

TEST_F(DeviceSetup, MissingVeilAndRefusedRenderTargetAreLoggedAndPassedOver)
{
    std::string empty = std::string(VELMORA_BINARY_DIR) + "/no_data_here\\";
    g_DataPath = empty;
    VelmoraRefuseRenderTargetFormat(D3DFMT_R8G8B8);
    EXPECT_EQ(InitDirect3D(m_Window), 0);
    std::string log = Log();
    size_t l187 = log.find(Line(187, "error creating renderTexture"));
    size_t l227 = log.find(Line(227, "loading viel texture : " + empty + "/textures/white.tga"));
    size_t l230 = log.find(Line(230, "ERROR : failed to load the veil"));
    size_t l233 = log.find(Line(233, "ERROR : viel = NULL"));
    EXPECT_NE(l187, std::string::npos);
    ASSERT_NE(l227, std::string::npos);
    ASSERT_NE(l230, std::string::npos);
    ASSERT_NE(l233, std::string::npos);
    EXPECT_LT(l227, l230);
    EXPECT_LT(l230, l233);
    // No surface is asked of a texture that does not exist.
    EXPECT_EQ(log.find("renderTextureSurf"), std::string::npos);
    EXPECT_EQ(g_pRenderTexture, nullptr);
    EXPECT_EQ(g_pRenderSurface, nullptr);
    EXPECT_EQ(g_pVeilTexture, nullptr);
    EXPECT_NE(g_pSprite, nullptr);
    EXPECT_NE(g_pEntityManager, nullptr);
}

// A card without texture memory to spare refuses the render target and the
// veil as out of memory: both are logged and passed over.
TEST_F(DeviceSetup, TexturesPastTheCardsMemoryAreLoggedAndPassedOver)
{
    VelmoraSetTextureMemory(0);
    EXPECT_EQ(InitDirect3D(m_Window), 0);
    const std::string log = Log();
    EXPECT_NE(log.find(Line(187, "error creating renderTexture")), std::string::npos) << log;
    EXPECT_NE(log.find(Line(230, "ERROR : failed to load the veil")), std::string::npos) << log;
    EXPECT_NE(log.find(Line(233, "ERROR : viel = NULL")), std::string::npos) << log;
    EXPECT_EQ(g_pRenderTexture, nullptr);
    EXPECT_EQ(g_pVeilTexture, nullptr);
    EXPECT_NE(g_pEntityManager, nullptr);
}

TEST_F(DeviceSetup, EarlyFailuresLeaveOnlyWhatWasMade)
{
    VelmoraFailDirect3DCreate(TRUE);
    EXPECT_EQ(InitDirect3D(m_Window), 1);
    EXPECT_NE(Log().find(Line(62, "Pb in the creation of the D3D Object")), std::string::npos);
    EXPECT_EQ(g_pD3D, nullptr);
    VelmoraResetGraphicsCard();

    VelmoraFailDisplayMode(TRUE);
    EXPECT_EQ(InitDirect3D(m_Window), 1);
    EXPECT_NE(Log().find(Line(75, "Pb in getting the dispay mode")), std::string::npos);
    ReleaseDirect3D();
    VelmoraResetGraphicsCard();

    // Failed at the device: the tear-down releases the Direct3D object only.
    VelmoraFailCreateDevice(TRUE);
    EXPECT_EQ(InitDirect3D(m_Window), 1);
    EXPECT_NE(Log().find(Line(105, "Pb in the creation of the D3D Device check the hardware vertex processing\n")),
              std::string::npos);
    EXPECT_NE(g_pD3D, nullptr);
    EXPECT_EQ(g_pDevice, nullptr);
    EXPECT_EQ(g_pResourceManager, nullptr);
    EXPECT_EQ(g_pEntityManager, nullptr);
    size_t before = Log().size();
    ReleaseDirect3D();
    EXPECT_EQ(Log().substr(before), Line(322, "clearing D3D"));
    EXPECT_EQ(g_pD3D, nullptr);
    EXPECT_EQ(VelmoraLiveGraphicsObjects(), m_LiveBefore);
}

TEST_F(DeviceSetup, RefusedVertexBufferFailsItsStep)
{
    ASSERT_EQ(InitDirect3D(m_Window), 0);
    VelmoraRefuseVertexBuffers(TRUE);
    EXPECT_EQ(InitVertexBuffer(), 1);
    EXPECT_EQ(g_pVertexBuffer, nullptr);
    EXPECT_NE(Log().find(Line(272, "Pb in the creation of the VB")), std::string::npos);
    EXPECT_EQ(Log().find("VB created"), std::string::npos);
}
