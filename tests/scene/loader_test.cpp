// The scene file loader: element names, order rules, menus, transforms, camera keys.
#include "Entity/EntityAgent.h"
#include "Entity/EntityDancer.h"
#include "Entity/EntityFloor.h"
#include "Entity/EntitySpot.h"
#include "Entity/EntityStatic.h"
#include "Resource/ResourceManager.h"
#include "Resource/Shader.h"
#include "Resource/Texture.h"
#include "scene_test_support.h"

#include <cmath>
#include <sys/stat.h>

namespace {

class LoaderTest : public scenetest::SceneTest
{
protected:
    void SetUp() override
    {
        SceneTest::SetUp();
        mkdir(FolderPath("textures").c_str(), 0755);
        restest::WriteTga(FolderPath("textures/b7.tga"), 64, 64, 0xFF00FF00);
        g_pResourceManager = new CResourceManager();
    }
    void TearDown() override
    {
        manager.Clear();
        delete g_pResourceManager;
        g_pResourceManager = nullptr;
        SceneTest::TearDown();
    }

    bool Load(const std::string& text) { return manager.LoadScene(WriteScene(text).c_str()); }

    CEntityManager manager;
};

TEST_F(LoaderTest, MissingOrBrokenFilesAddNothing)
{
    restest::LogWatch log;
    EXPECT_FALSE(manager.LoadScene(FolderPath("none.xml").c_str()));
    EXPECT_FALSE(Load("<OBJECT filename='a.x'><PRS></OBJECT>"));
    EXPECT_TRUE(manager.m_Entities.empty());
    EXPECT_EQ(log.Count("error loading file"), 2);
    EXPECT_EQ(log.Count("====[ENTITY LOADER Tab End]===="), 2);
}

TEST_F(LoaderTest, ElementNamesMatchInAnyCaseAttributesExactly)
{
    restest::LogWatch log;
    EXPECT_TRUE(Load("<object filename='a.x'><prs position='1 2 3'/></object>"
                     "<Object Filename='b.x'/>"
                     "<Menu filename='b7.tga' num='7'/>"
                     "<floor/>"
                     "<unknown filename='c.x'/>"));
    ASSERT_EQ(manager.m_Entities.size(), 3u);
    EXPECT_EQ(manager.m_Entities[0]->GetType(), EntityTypeStatic);
    EXPECT_EQ(manager.m_Entities[0]->m_Transform.position, D3DXVECTOR3(1.0f, 2.0f, 3.0f));
    EXPECT_EQ(manager.m_Entities[0]->m_InitialTransform.position, D3DXVECTOR3(1.0f, 2.0f, 3.0f));
    EXPECT_EQ(log.Count("Object definition not valid"), 1);
    EXPECT_EQ(log.Count("Static Entity Added"), 2);
    EXPECT_NE(manager.m_MenuTextures[7], nullptr);
    EXPECT_EQ(manager.m_Entities[2]->GetType(), EntityTypeFloor);
    EXPECT_EQ(manager.m_Entities[2]->m_Menu.GetButton(7).texture, manager.m_MenuTextures[7]);
    for (CEntity* entity : manager.m_Entities)
        EXPECT_EQ(entity->GetManager(), &manager);
    EXPECT_TRUE(log.Has("EntityManager", 74, WriteScene("", "scene.xml") + " Loaded"));
}

TEST_F(LoaderTest, ARootElementHidesEverything)
{
    EXPECT_TRUE(Load("<SCENE><OBJECT filename='a.x'/><FLOOR/><CAMERA><key position='1 1 1'/></CAMERA></SCENE>"));
    EXPECT_TRUE(manager.m_Entities.empty());
    EXPECT_TRUE(manager.m_KeyPositions.empty());
}

TEST_F(LoaderTest, MenuImagesReachOnlyLaterEntitiesAndEnabledButtons)
{
    restest::WriteTga(FolderPath("textures/b1.tga"), 64, 64, 0xFFFF0000);
    EXPECT_TRUE(Load("<FLOOR/>"
                     "<MENU filename='b7.tga' num='7'/>"
                     "<MENU filename='b1.tga' num='1'/>"
                     "<FLOOR/>"
                     "<SPOT filename='lamp.x'><LIGHT id='0'/></SPOT>"));
    ASSERT_EQ(manager.m_Entities.size(), 3u);
    EXPECT_EQ(manager.m_Entities[0]->m_Menu.GetButton(7).texture, nullptr);
    EXPECT_NE(manager.m_Entities[1]->m_Menu.GetButton(7).texture, nullptr);
    // The floor has no button 1; the spot does, and has button 7 too.
    EXPECT_EQ(manager.m_Entities[1]->m_Menu.GetButton(1).texture, nullptr);
    EXPECT_NE(manager.m_Entities[2]->m_Menu.GetButton(1).texture, nullptr);
    EXPECT_NE(manager.m_Entities[2]->m_Menu.GetButton(7).texture, nullptr);
}

TEST_F(LoaderTest, MenuNumbersOutsideTheButtonsAreRefused)
{
    restest::LogWatch log;
    EXPECT_TRUE(Load("<MENU filename='b7.tga' num='10'/>"
                     "<MENU filename='b7.tga' num='11'/>"
                     "<MENU filename='b7.tga' num='-1'/>"
                     "<MENU filename='b7.tga'/>"
                     "<MENU num='3'/>"
                     "<MENU filename='missing.tga' num='2'/>"));
    EXPECT_NE(manager.m_MenuTextures[10], nullptr);
    EXPECT_EQ(manager.m_MenuTextures[2], nullptr);
    EXPECT_EQ(manager.m_MenuTextures[3], nullptr);
    EXPECT_EQ(log.Count("error catching menu parameters"), 5);
    EXPECT_EQ(log.Count("error in loading"), 1);
    EXPECT_EQ(log.Count("Menu texture num 10"), 1);
}

TEST_F(LoaderTest, PathsTooLongForTheBufferAreRefused)
{
    const std::string longName(130, 'x');
    restest::LogWatch log;
    EXPECT_TRUE(Load("<MENU filename='" + longName + ".tga' num='0'/><OBJECT filename='" + longName +
                     ".x'><PRS position='5 0 0'/></OBJECT>"));
    EXPECT_EQ(manager.m_MenuTextures[0], nullptr);
    EXPECT_EQ(log.Count("error catching menu parameters"), 1);
    EXPECT_EQ(log.Count("menu texture path too long: " + longName + ".tga"), 1);
    EXPECT_EQ(log.Count("object path too long: " + longName + ".x"), 1);
    ASSERT_EQ(manager.m_Entities.size(), 1u);
    EXPECT_EQ(static_cast<CEntityStatic*>(manager.m_Entities[0])->GetMesh(), nullptr);
    EXPECT_EQ(manager.m_Entities[0]->m_Transform.position.x, 5.0f);
}

TEST_F(LoaderTest, TheLastPRSGivesTheWholeTransform)
{
    EXPECT_TRUE(Load("<OBJECT filename='a.x'/>"
                     "<OBJECT filename='a.x'><PRS position='1 2 3' scale='2 2 2' rotation='1 0 0 45'/>"
                     "<PRS position='4 5 6'/></OBJECT>"
                     "<OBJECT filename='a.x'><PRS rotation='0 1 0 90'/></OBJECT>"
                     "<OBJECT filename='a.x'><PRS position='7 8'/></OBJECT>"));
    ASSERT_EQ(manager.m_Entities.size(), 4u);
    const CTransform& plain = manager.m_Entities[0]->m_Transform;
    EXPECT_EQ(plain.position, D3DXVECTOR3(0.0f, 0.0f, 0.0f));
    EXPECT_EQ(plain.rotation, D3DXQUATERNION(0.0f, 0.0f, 0.0f, 1.0f));
    EXPECT_EQ(plain.scale, D3DXVECTOR3(1.0f, 1.0f, 1.0f));

    const CTransform& second = manager.m_Entities[1]->m_Transform;
    EXPECT_EQ(second.position, D3DXVECTOR3(4.0f, 5.0f, 6.0f));
    EXPECT_EQ(second.scale, D3DXVECTOR3(1.0f, 1.0f, 1.0f));
    EXPECT_EQ(second.rotation, D3DXQUATERNION(0.0f, 0.0f, 0.0f, 1.0f));

    const CTransform& turned = manager.m_Entities[2]->m_Transform;
    EXPECT_NEAR(turned.rotation.x, 0.0f, 1e-6f);
    EXPECT_NEAR(turned.rotation.y, 0.7071068f, 1e-6f);
    EXPECT_NEAR(turned.rotation.z, 0.0f, 1e-6f);
    EXPECT_NEAR(turned.rotation.w, 0.7071068f, 1e-6f);
    // A quarter turn about y carries +x onto -z.
    const D3DXMATRIX world = CEntity::GetWorldMatrix(turned);
    D3DXVECTOR3 p;
    const D3DXVECTOR3 x(1.0f, 0.0f, 0.0f);
    D3DXVec3TransformCoord(&p, &x, &world);
    EXPECT_NEAR(p.x, 0.0f, 1e-6f);
    EXPECT_NEAR(p.z, -1.0f, 1e-6f);

    // A short number list keeps the missing components at their default.
    EXPECT_EQ(manager.m_Entities[3]->m_Transform.position, D3DXVECTOR3(7.0f, 8.0f, 0.0f));
}

TEST_F(LoaderTest, AgentTypesIgnoreCase)
{
    EXPECT_TRUE(Load("<AGENT filename='a.x' type='TrEbLe'/><AGENT filename='a.x' type='medium'/>"
                     "<AGENT filename='a.x' type='bass'/><AGENT filename='a.x' type='loud'/>"
                     "<AGENT filename='a.x'/>"));
    ASSERT_EQ(manager.m_Entities.size(), 5u);
    const int expected[5] = {RefTreble, RefMedium, RefBass, RefBass, RefBass};
    for (int i = 0; i < 5; ++i) {
        ASSERT_EQ(manager.m_Entities[i]->GetType(), EntityTypeAgent);
        int code = RefUnlinked;
        static_cast<CEntityAgent*>(manager.m_Entities[i])->LinkButton(&code);
        EXPECT_EQ(code, expected[i]) << i;
    }
}

TEST_F(LoaderTest, CameraKeysAddUpAndTheFirstKeyIsTheGoal)
{
    restest::LogWatch log;
    EXPECT_TRUE(Load("<CAMERA vEyePt='0 100 -400' vLookatPt='0 10 0'>"
                     "<key position='100 100 -100' target='0 0 0'/><KEY position='-100 50 0'/></CAMERA>"
                     "<CAMERA><key target='1 2 3'/></CAMERA>"));
    EXPECT_EQ(log.Count("CAMERA 2 key loaded"), 1);
    EXPECT_EQ(log.Count("CAMERA 3 key loaded"), 1);
    ASSERT_EQ(manager.m_KeyPositions.size(), 3u);
    // A key without a target keeps the previous key's target.
    EXPECT_EQ(manager.m_KeyTargets[1], D3DXVECTOR3(0.0f, 0.0f, 0.0f));
    // The first key of the second element starts from the camera it was given.
    EXPECT_EQ(manager.m_KeyPositions[2], D3DXVECTOR3(0.0f, 100.0f, -400.0f));
    EXPECT_EQ(manager.m_KeyTargets[2], D3DXVECTOR3(1.0f, 2.0f, 3.0f));
    EXPECT_EQ(g_vEyePt, D3DXVECTOR3(0.0f, 100.0f, -400.0f));
    EXPECT_EQ(g_vLookatPt, D3DXVECTOR3(0.0f, 10.0f, 0.0f));
    // Each element restarts at key 0.
    EXPECT_EQ(manager.m_CameraIndex, 0);
    EXPECT_EQ(manager.m_Camera.m_GoalPosition, D3DXVECTOR3(100.0f, 100.0f, -100.0f));
    EXPECT_EQ(manager.m_Camera.m_Position, D3DXVECTOR3(0.0f, 100.0f, -400.0f));
}

TEST_F(LoaderTest, ACameraWithoutKeysStandsStill)
{
    EXPECT_TRUE(Load("<CAMERA vEyePt='0 100 -400' vLookatPt='0 10 0'/>"));
    restest::LogWatch log;
    manager.NextCamera();
    manager.PreviousCamera();
    EXPECT_TRUE(log.Lines().empty());
    for (int i = 0; i < 10; ++i)
        manager.m_Camera.Step(0.025f);
    EXPECT_EQ(manager.m_Camera.m_Position, D3DXVECTOR3(0.0f, 100.0f, -400.0f));
    EXPECT_EQ(manager.m_Camera.m_Target, D3DXVECTOR3(0.0f, 10.0f, 0.0f));
}

TEST_F(LoaderTest, SpotsReadTheirLightAndRefuseRecordsBeyondThree)
{
    for (CShaderLight& light : g_Lights)
        light = CShaderLight();
    restest::LogWatch log;
    EXPECT_TRUE(Load("<SPOT filename='lamp.x'><PRS position='0 100 0'/>"
                     "<LIGHT id='2' diffuse='1 0.5 0.25' target='0 0 0'/></SPOT>"
                     "<SPOT filename='lamp.x'><PRS position='0 100 0'/><LIGHT id='3' diffuse='1 1 1'/></SPOT>"
                     "<SPOT filename='lamp.x'><LIGHT id='-1' diffuse='1 1 1'/></SPOT>"
                     "<SPOT><LIGHT id='1' diffuse='1 1 1'/></SPOT>"));
    ASSERT_EQ(manager.m_Entities.size(), 4u);
    CEntitySpot* spot = static_cast<CEntitySpot*>(manager.m_Entities[0]);
    EXPECT_EQ(spot->m_LightIndex, 2);
    EXPECT_EQ(spot->m_Position, D3DXVECTOR3(0.0f, 100.0f, 0.0f));
    EXPECT_EQ(spot->m_Colour, D3DXVECTOR3(1.0f, 0.5f, 0.25f));
    EXPECT_EQ(spot->m_Beam, D3DXVECTOR3(0.0f, -1.0f, 0.0f));
    EXPECT_EQ(log.Count("light id 3 out of range: the spot has no light"), 1);
    EXPECT_EQ(log.Count("light id -1 out of range: the spot has no light"), 1);

    // A whole frame: the spots beyond the records write nothing anywhere.
    manager.UpdateAndRender(0.025f);
    EXPECT_EQ(g_Lights[2].colour[0], 1.0f);
    EXPECT_EQ(g_Lights[1].colour[0], 0.0f) << "the spot without a lamp file reads no LIGHT";
    EXPECT_EQ(g_Lights[0].colour[0], 0.0f);
    // The spot without "filename" kept light index 0 and wrote zeros there.
    EXPECT_EQ(static_cast<CEntitySpot*>(manager.m_Entities[3])->m_LightIndex, 0);
}

}  // namespace
