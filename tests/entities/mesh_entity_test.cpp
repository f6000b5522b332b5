// Agents and spots with the demo's real meshes: the agents' own camera and
// depth state, their picking, and the spot's lamp.
#include "Entity/EntityAgent.h"
#include "Entity/EntitySpot.h"
#include "Entity/EntityStatic.h"
#include "Resource/GraphicObject.h"
#include "Resource/ResourceManager.h"
#include "scene_test_support.h"

#include <tinyxml.h>

namespace {

class MeshEntityTest : public scenetest::SceneTest
{
protected:
    void SetUp() override
    {
        SceneTest::SetUp();
        g_DataPath = std::string(VELMORA_PLUGIN_DIR) + "/data\\";
        g_pResourceManager = new CResourceManager();
    }
    void TearDown() override
    {
        manager.Clear();
        delete g_pResourceManager;
        g_pResourceManager = nullptr;
        SceneTest::TearDown();
    }

    template <class T>
    T* Load(const std::string& text)
    {
        TiXmlDocument doc;
        doc.Parse(text.c_str());
        T* entity = new T();
        entity->Load(doc.FirstChildElement());
        entity->SetManager(&manager);
        manager.m_Entities.push_back(entity);
        return entity;
    }

    CEntityManager manager;
};

TEST_F(MeshEntityTest, AgentsDrawWithTheirOwnCameraAndGiveTheSceneBack)
{
    CEntityAgent* agent = Load<CEntityAgent>("<AGENT filename='agent_bass.x'><PRS position='-100 0 0'/></AGENT>");
    ASSERT_NE(agent->GetMesh(), nullptr);
    agent->Update(0.025f);

    D3DXMATRIX sceneView;
    const D3DXVECTOR3 eye(500.0f, 300.0f, 100.0f), at(0.0f, 0.0f, 0.0f), up(0.0f, 1.0f, 0.0f);
    D3DXMatrixLookAtLH(&sceneView, &eye, &at, &up);
    g_pDevice->SetTransform(D3DTS_VIEW, &sceneView);
    g_pDevice->SetRenderState(D3DRS_ZENABLE, TRUE);
    // The fixed-function light that the device set-up provides.
    D3DLIGHT9 light = {};
    light.Type = D3DLIGHT_DIRECTIONAL;
    light.Diffuse.r = light.Diffuse.g = light.Diffuse.b = light.Diffuse.a = 1.0f;
    light.Direction = D3DXVECTOR3(0.0f, -0.5f, 1.0f);
    g_pDevice->SetLight(0, &light);
    g_pDevice->LightEnable(0, TRUE);
    g_pDevice->SetRenderState(D3DRS_LIGHTING, TRUE);

    g_pDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
    g_pDevice->BeginScene();
    agent->Render();
    g_pDevice->EndScene();

    D3DXMATRIX view;
    g_pDevice->GetTransform(D3DTS_VIEW, &view);
    EXPECT_EQ(view, sceneView);
    DWORD z = 0;
    g_pDevice->GetRenderState(D3DRS_ZENABLE, &z);
    EXPECT_EQ(z, static_cast<DWORD>(TRUE));

    // Seen from (0, 0, -300) the agent at x = -100 lies left of the middle, on its centre line.
    const D3DXVECTOR2 centre = agent->GetScreenPosition();
    EXPECT_LT(centre.x, 320.0f - 50.0f);
    EXPECT_GT(centre.x, 0.0f);
    g_pDevice->GetTransform(D3DTS_VIEW, &view);
    EXPECT_EQ(view, sceneView);
    const std::vector<DWORD> pixels = m_Bound.device.Pixels();
    int drawn = 0;
    for (DWORD p : pixels)
        drawn += (p & 0xFFFFFF) != 0;
    EXPECT_GT(drawn, 500);

    // Picked at its centre through its own camera, whatever the scene's view.
    EXPECT_TRUE(agent->LinkHitTest(static_cast<int>(centre.x), static_cast<int>(centre.y)));
    EXPECT_FALSE(agent->LinkHitTest(600, 20));
    EXPECT_FALSE(agent->HitTest(static_cast<int>(centre.x), static_cast<int>(centre.y)));
    g_pDevice->GetTransform(D3DTS_VIEW, &view);
    EXPECT_EQ(view, sceneView);
}

TEST_F(MeshEntityTest, ASpotIsPickedOnItsLampAndItsMenuFollowsIt)
{
    CEntitySpot* spot = Load<CEntitySpot>("<SPOT filename='spot.x'><PRS position='0 0 0'/>"
                                          "<LIGHT id='0' diffuse='1 1 1' target='0 -100 0'/></SPOT>");
    ASSERT_NE(spot->m_pLamp, nullptr);
    ASSERT_NE(spot->m_pLamp->GetMesh(), nullptr);
    spot->Update(0.025f);
    // The lamp's origin is at the world origin, which the view looks at.
    const D3DXVECTOR2 p = spot->GetScreenPosition();
    EXPECT_NEAR(p.x, 320.0f, 0.5f);
    EXPECT_NEAR(p.y, 240.0f, 0.5f);
    EXPECT_TRUE(spot->HitTest(320, 240));
    EXPECT_FALSE(spot->HitTest(5, 5));

    g_pDevice->BeginScene();
    spot->Render();
    g_pDevice->EndScene();
    EXPECT_NEAR(spot->m_Menu.m_CentreX, 320.0f, 0.5f);

    // Through the manager: hover, then a click opens the spot's menu.
    manager.SetMousePosition(320, 240);
    manager.UpdateAndRender(0.025f);
    EXPECT_EQ(manager.m_pSelected, spot);
    EXPECT_EQ(scenetest::StatusText(), "spot settings");
    manager.OnLeftClick();
    EXPECT_EQ(manager.GetState(), state_menu);
    EXPECT_EQ(scenetest::StatusText(), "setting the spot");
    EXPECT_EQ(spot->m_Menu.GetState(), CMenu::StateOpening);
}

}  // namespace
