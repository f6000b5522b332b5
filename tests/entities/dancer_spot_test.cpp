// Dancers (model list, body parts, motions, keys) and spots (colour, target,
// strobe, sweep, light record).
#include "Entity/EntityAgent.h"
#include "Entity/EntityDancer.h"
#include "Entity/EntitySpot.h"
#include "Resource/Shader.h"
#include "scene_test_support.h"

#include <cmath>
#include <cstring>
#include <sys/stat.h>
#include <tinyxml.h>

namespace {

class SceneEntityTest : public scenetest::SceneTest
{
protected:
    void TearDown() override
    {
        manager.Clear();
        SceneTest::TearDown();
    }

    template <class T>
    T* Add(T* entity)
    {
        entity->SetManager(&manager);
        manager.m_Entities.push_back(entity);
        return entity;
    }

    // An IK model file with `controls` controls of two keys each and no mesh.
    void WriteModel(const std::string& name, int controls)
    {
        std::string text = "<MODEL name='none.ms3d'/>";
        for (int i = 0; i < controls; ++i)
            text += "<CONTROL name='c" + std::to_string(i) +
                    "'><KEY position='1 0 0'/><KEY position='2 0 0'/></CONTROL>";
        WriteScene(text, name);
    }

    CEntityDancer* LoadDancer(const std::string& text)
    {
        TiXmlDocument doc;
        doc.Parse(text.c_str());
        CEntityDancer* dancer = new CEntityDancer();
        dancer->Load(doc.FirstChildElement());
        return Add(dancer);
    }

    void ClickButton(CEntity* entity, int button)
    {
        int x, y;
        entity->m_Menu.GetButtonPosition(button, x, y);
        g_MouseX = x;
        g_MouseY = y;
        manager.SetMousePosition(x, y);
        entity->OnMessage(MsgLeftClick);
    }

    void OpenAtMiddle(CEntity* entity)
    {
        entity->m_Menu.Open();
        entity->m_Menu.Update(0.3f);
        entity->m_Menu.m_CentreX = 320.0f;
        entity->m_Menu.m_CentreY = 240.0f;
        manager.m_State = state_menu;
    }

    CEntityManager manager;
};

TEST_F(SceneEntityTest, DancersStepThroughTheirModelFiles)
{
    WriteModel("three.xml", 3);
    WriteModel("two.xml", 2);
    restest::LogWatch log;
    CEntityDancer* dancer = LoadDancer("<DANCER><MODEL filename='three.xml'/><model/><Model filename='two.xml'/>"
                                       "<PRS position='10 0 5'/></DANCER>");
    EXPECT_TRUE(log.Has("EntityDancer", 156, "nb models 2"));
    EXPECT_TRUE(log.Has("EntityDancer", 158, "model three.xml"));
    EXPECT_TRUE(log.Has("EntityDancer", 158, "model two.xml"));
    EXPECT_EQ(dancer->m_ModelIndex, 0);
    EXPECT_EQ(dancer->GetControlCount(), 3);
    EXPECT_EQ(dancer->m_Transform.position, D3DXVECTOR3(10.0f, 0.0f, 5.0f));
    EXPECT_EQ(dancer->GetType(), EntityTypeDancer);
    EXPECT_EQ(dancer->GetScreenPosition(), D3DXVECTOR2(0.0f, 0.0f));
    for (int i = 0; i < MenuButtonCount; ++i)
        EXPECT_EQ(dancer->m_Menu.GetButton(i).enabled, i == 0 || (i >= 3 && i <= 6) || i >= 9) << i;

    dancer->OnAction(9);
    EXPECT_EQ(dancer->GetControlCount(), 2);
    EXPECT_TRUE(log.Has("EntityDancer", 214, "changing model..."));
    dancer->OnAction(9);
    EXPECT_EQ(dancer->GetControlCount(), 3);
    EXPECT_EQ(dancer->m_ModelIndex, 0);

    // One file: button 9 rebuilds it, controls back to their defaults.
    CEntityDancer* single = LoadDancer("<DANCER><MODEL filename='three.xml'/></DANCER>");
    single->m_Model.m_Controls[0].m_Type = RefBass;
    single->OnAction(9);
    EXPECT_EQ(single->m_Model.m_Controls[0].m_Type, RefUnlinked);
    EXPECT_EQ(single->m_Transform.position, D3DXVECTOR3(0.0f, 0.0f, 0.0f));

    // No file at all.
    restest::LogWatch empty;
    CEntityDancer* none = LoadDancer("<DANCER/>");
    EXPECT_TRUE(empty.Has("EntityDancer", 44, "error loading next ikModel: current indice too large"));
    none->OnAction(9);
    EXPECT_EQ(empty.Count("error loading next ikModel: current indice too large"), 2);
    EXPECT_EQ(none->GetHoveredReference(), nullptr);
}

// An empty file name resolves to the data folder itself; neither it nor any
// other folder stops the dancer, which logs the failed load and goes on.
TEST_F(SceneEntityTest, AModelNamingAFolderFailsToLoadAndIsLogged)
{
    WriteModel("two.xml", 2);
    ASSERT_EQ(mkdir(FolderPath("models").c_str(), 0755), 0);
    restest::LogWatch log;
    CEntityDancer* dancer =
        LoadDancer("<DANCER><MODEL filename=''/><MODEL filename='models'/><MODEL filename='two.xml'/></DANCER>");
    EXPECT_EQ(log.Count("couldnt load file"), 1);
    EXPECT_TRUE(log.Has("CIKModel", 68, "couldnt load file"));
    EXPECT_EQ(dancer->GetControlCount(), 0);
    dancer->OnAction(9);
    EXPECT_EQ(log.Count("couldnt load file"), 2);
    EXPECT_EQ(dancer->GetControlCount(), 0);
    dancer->OnAction(9);
    EXPECT_EQ(dancer->GetControlCount(), 2);
    EXPECT_EQ(log.Count("couldnt load file"), 2);
}

TEST_F(SceneEntityTest, BodyPartSelectionWrapsAndSurvivesAModelChange)
{
    WriteModel("three.xml", 3);
    WriteModel("two.xml", 2);
    CEntityDancer* dancer = LoadDancer("<DANCER><MODEL filename='three.xml'/><MODEL filename='two.xml'/></DANCER>");
    restest::LogWatch log;
    int seen[4];
    for (int i = 0; i < 4; ++i) {
        dancer->OnAction(10);
        seen[i] = dancer->m_SelectedControl;
    }
    EXPECT_EQ(std::vector<int>(seen, seen + 4), (std::vector<int>{1, 2, 0, 1}));
    EXPECT_TRUE(log.Has("EntityDancer", 179, "DANCER action change control point"));
    EXPECT_EQ(scenetest::StatusText(), "new affector selected");

    // Control 2 of three, then a model of two: no control is selected.
    dancer->OnAction(10);
    ASSERT_EQ(dancer->m_SelectedControl, 2);
    dancer->OnAction(9);
    EXPECT_EQ(dancer->m_SelectedControl, 2);
    EXPECT_EQ(dancer->GetSelectedControl(), nullptr);
    EXPECT_EQ(dancer->GetHoveredReference(), nullptr);
    dancer->OnAction(3);
    EXPECT_EQ(scenetest::StatusText(), "select music reference");
    for (const CIKControl& control : dancer->m_Model.m_Controls)
        EXPECT_EQ(control.m_Mode, 0);
    OpenAtMiddle(dancer);
    dancer->RenderMenu();  // no pulse, link origin untouched
    EXPECT_EQ(manager.m_LinkOriginX, 0.0f);
    // A linkable button with no control starts no link.
    ClickButton(dancer, 4);
    EXPECT_EQ(manager.GetState(), state_menu);
    dancer->OnAction(10);
    EXPECT_EQ(dancer->m_SelectedControl, 0);
}

TEST_F(SceneEntityTest, AMotionButtonLinksTheSelectedBodyPartToAnAgent)
{
    WriteModel("three.xml", 3);
    CEntityDancer* dancer = LoadDancer("<DANCER><MODEL filename='three.xml'/></DANCER>");
    CEntityAgent* treble = Add(new CEntityAgent());
    treble->m_Band = 2;
    dancer->OnAction(10);
    OpenAtMiddle(dancer);

    ClickButton(dancer, 3);
    CIKControl& control = dancer->m_Model.m_Controls[1];
    EXPECT_EQ(control.m_Mode, 1);
    EXPECT_EQ(control.m_Type, RefUnlinked);
    EXPECT_EQ(manager.GetState(), state_linking);
    EXPECT_EQ(manager.m_pPendingReference, &control.m_Type);

    treble->OnMessage(MsgLeftClick);
    EXPECT_EQ(control.m_Type, RefTreble);
    EXPECT_EQ(manager.GetState(), state_menu);

    // The control now moves with the treble.
    g_fTreble = 0.5f;
    const CVector3 before = control.m_Offset;
    dancer->Update(0.025f);
    EXPECT_NE(control.m_Offset.y, before.y);

    // Button 3 again stops it until a band is picked; 4 and 5 choose the other motions.
    ClickButton(dancer, 3);
    EXPECT_EQ(control.m_Type, RefUnlinked);
    manager.BackOut();
    EXPECT_EQ(control.m_Type, RefUnlinked);
    dancer->OnAction(4);
    EXPECT_EQ(control.m_Mode, 2);
    dancer->OnAction(5);
    EXPECT_EQ(control.m_Mode, 0);

    // The selected body part is where the link lines start.
    manager.m_LinkOriginX = -1.0f;
    dancer->RenderMenu();
    EXPECT_NE(manager.m_LinkOriginX, -1.0f);
}

TEST_F(SceneEntityTest, PositionButtonStepsEveryControlThroughItsKeys)
{
    WriteModel("three.xml", 3);
    CEntityDancer* dancer = LoadDancer("<DANCER><MODEL filename='three.xml'/></DANCER>");
    restest::LogWatch log;
    const int expected[4] = {0, 1, -1, 0};
    for (int step = 0; step < 4; ++step) {
        dancer->OnAction(6);
        for (const CIKControl& control : dancer->m_Model.m_Controls)
            EXPECT_EQ(control.m_KeyIndex, expected[step]) << step;
    }
    EXPECT_TRUE(log.Has("EntityDancer", 204, "DANCER action change position"));
    EXPECT_EQ(scenetest::StatusText(), "position changed");
}

TEST_F(SceneEntityTest, DancerMaterialIsADimRandomTint)
{
    CEntityDancer dancer;
    for (int i = 0; i < 20; ++i) {
        dancer.RandomColour();
        EXPECT_GE(dancer.m_Material.Diffuse.r, 0.0f);
        EXPECT_LT(dancer.m_Material.Diffuse.r, 0.2f);
        EXPECT_EQ(dancer.m_Material.Diffuse.g, dancer.m_Material.Ambient.g);
        EXPECT_EQ(dancer.m_Material.Emissive.b, dancer.m_Material.Diffuse.b);
        EXPECT_EQ(dancer.m_Material.Specular.r, 0.0f);
    }
}

// ---- Spots ----

CEntitySpot* LoadSpot(const std::string& text)
{
    TiXmlDocument doc;
    doc.Parse(text.c_str());
    CEntitySpot* spot = new CEntitySpot();
    spot->Load(doc.FirstChildElement());
    return spot;
}

TEST_F(SceneEntityTest, ASpotAimedStraightDownLeansByOneRadianOfPitch)
{
    CEntitySpot* spot =
        Add(LoadSpot("<SPOT filename='lamp.x'><PRS position='0 100 0'/><LIGHT id='1' diffuse='1 1 1' "
                     "target='0 0 0'/></SPOT>"));
    EXPECT_EQ(spot->m_Beam, D3DXVECTOR3(0.0f, -1.0f, 0.0f));
    spot->Update(0.025f);
    const CShaderLight& light = g_Lights[1];
    EXPECT_NEAR(light.direction[0], 0.0f, 1e-6f);
    EXPECT_NEAR(light.direction[1], -0.5403023f, 1e-6f);
    EXPECT_NEAR(light.direction[2], 0.8414710f, 1e-6f);
    EXPECT_EQ(light.position[1], 100.0f);
    EXPECT_EQ(light.colour[0], 1.0f);
    EXPECT_EQ(light.colour[3], 0.0f);
    // The lamp turns half a turn about x, then by the spot's angles.
    D3DXQUATERNION q1, q2, expected;
    const D3DXVECTOR3 x(1.0f, 0.0f, 0.0f);
    D3DXQuaternionRotationAxis(&q1, &x, 3.1415927f);
    D3DXQuaternionRotationYawPitchRoll(&q2, 0.0f, -1.0f, 0.0f);
    D3DXQuaternionMultiply(&expected, &q1, &q2);
    EXPECT_EQ(spot->m_pLamp->m_Transform.rotation, expected);

    // A target on the light itself gives a zero beam, not NaN: the light points down.
    spot->m_Target = spot->m_Position;
    spot->AimAt(spot->m_Target);
    EXPECT_EQ(spot->m_Beam, D3DXVECTOR3(0.0f, 0.0f, 0.0f));
    spot->UpdateLight();
    EXPECT_NEAR(light.direction[1], -1.0f, 1e-6f);
    EXPECT_FALSE(std::isnan(light.direction[0]));
}

TEST_F(SceneEntityTest, SpotsWithOneIdShareOneRecord)
{
    CEntitySpot* red = Add(LoadSpot("<SPOT filename='l.x'><LIGHT id='0' diffuse='1 0 0' target='0 -1 0'/></SPOT>"));
    CEntitySpot* blue = Add(LoadSpot("<SPOT filename='l.x'><LIGHT id='0' diffuse='0 0 1' target='0 -1 0'/></SPOT>"));
    red->Update(0.025f);
    blue->Update(0.025f);
    EXPECT_EQ(g_Lights[0].colour[2], 1.0f);
    EXPECT_EQ(g_Lights[0].colour[0], 0.0f);
    red->Update(0.025f);
    EXPECT_EQ(g_Lights[0].colour[0], 1.0f);
}

TEST_F(SceneEntityTest, TheColourButtonWalksTheTable)
{
    CEntitySpot* spot = Add(LoadSpot("<SPOT filename='l.x'><LIGHT id='0' diffuse='1 1 1'/></SPOT>"));
    spot->OnAction(0);
    EXPECT_EQ(spot->m_ColourIndex, 1);
    EXPECT_FLOAT_EQ(spot->m_Colour.x, 0.2509804f);
    EXPECT_EQ(spot->m_Colour.y, 0.0f);
    EXPECT_EQ(scenetest::StatusText(), "color changed");
    for (int i = 0; i < 10; ++i)
        spot->OnAction(0);
    EXPECT_EQ(spot->m_ColourIndex, 11);
    EXPECT_FLOAT_EQ(spot->m_Colour.z, 0.5019608f);
    spot->OnAction(0);
    EXPECT_EQ(spot->m_Colour, D3DXVECTOR3(1.0f, 0.0f, 0.0f));
    spot->OnAction(0);
    EXPECT_EQ(spot->m_ColourIndex, 1);

    // The fourth float carries the colour index's bits.
    spot->Update(0.025f);
    int bits;
    std::memcpy(&bits, &g_Lights[0].colour[3], sizeof bits);
    EXPECT_EQ(bits, 1);
}

TEST_F(SceneEntityTest, ChangeTargetAimsAtTheOriginWithRandomOffsets)
{
    CEntitySpot* spot =
        Add(LoadSpot("<SPOT filename='l.x'><PRS position='100 100 0'/><LIGHT target='50 0 50'/></SPOT>"));
    spot->OnAction(1);
    EXPECT_EQ(scenetest::StatusText(), "target changed");
    EXPECT_EQ(spot->m_Target, D3DXVECTOR3(0.0f, 0.0f, 0.0f));
    D3DXVECTOR3 expected(-100.0f, -100.0f, 0.0f);
    D3DXVec3Normalize(&expected, &expected);
    EXPECT_NEAR(spot->m_Beam.x, expected.x, 1e-6f);
    EXPECT_NEAR(spot->m_Beam.y, expected.y, 1e-6f);
    EXPECT_GE(spot->m_YawOffset, -0.75f);
    EXPECT_LE(spot->m_YawOffset, 0.7485f);
    EXPECT_GE(spot->m_PitchOffset, -0.75f);
    EXPECT_LE(spot->m_PitchOffset, 0.7485f);
}

TEST_F(SceneEntityTest, StrobingDarkensTheOddFiftieths)
{
    CEntitySpot* spot = Add(LoadSpot("<SPOT filename='l.x'><LIGHT id='2' diffuse='0.5 0.5 0.5'/></SPOT>"));
    restest::LogWatch log;
    spot->OnAction(7);
    EXPECT_TRUE(spot->m_Strobe);
    EXPECT_TRUE(log.Has("EntitySpot", 148, "ON OFF"));
    EXPECT_EQ(scenetest::StatusText(), "strobing on");
    g_fTime = 0.07f;
    spot->Update(0.025f);
    EXPECT_FALSE(spot->m_On);
    EXPECT_EQ(g_Lights[2].colour[0], 0.0f);
    EXPECT_EQ(g_Lights[2].colour[3], 0.0f);
    g_fTime = 0.05f;
    spot->Update(0.025f);
    EXPECT_TRUE(spot->m_On);
    EXPECT_EQ(g_Lights[2].colour[0], 0.5f);
    spot->OnAction(7);
    EXPECT_EQ(scenetest::StatusText(), "strobing off");
    g_fTime = 0.07f;
    spot->Update(0.025f);
    EXPECT_TRUE(spot->m_On);
}

TEST_F(SceneEntityTest, LinkedSweepButtonsMoveTheTargetUpdateAfterUpdate)
{
    CEntitySpot* spot = Add(LoadSpot("<SPOT filename='l.x'><PRS position='0 100 0'/><LIGHT target='0 0 0'/></SPOT>"));
    g_fBass = 0.3f;
    spot->Update(0.025f);
    spot->Update(0.025f);
    EXPECT_EQ(spot->m_Target, D3DXVECTOR3(0.0f, 0.0f, 0.0f)) << "unlinked: sin 0";

    spot->m_Menu.GetButton(2).reference = RefBass;
    float x = 0.0f;
    for (int k = 1; k <= 5; ++k) {
        spot->Update(0.025f);
        x += 50.0f * std::sin((k - 1) * 0.3f);
        EXPECT_NEAR(spot->m_Target.x, x, 1e-3f) << k;
    }
    EXPECT_EQ(spot->m_Target.z, 0.0f);

    // Unlinking stops the sweep where it got to.
    spot->m_Menu.GetButton(2).reference = RefUnlinked;
    spot->Update(0.025f);
    const float stopped = spot->m_Target.x;
    spot->Update(0.025f);
    EXPECT_EQ(spot->m_Target.x, stopped);
}

TEST_F(SceneEntityTest, ASpotWithoutALampFileReadsNothingElse)
{
    restest::LogWatch log;
    CEntitySpot* spot = Add(LoadSpot("<SPOT><PRS position='1 2 3'/><LIGHT id='2' diffuse='1 1 1'/></SPOT>"));
    EXPECT_EQ(log.Count("Object definition not valid"), 1);
    EXPECT_EQ(spot->m_Position, D3DXVECTOR3(0.0f, 0.0f, 0.0f));
    EXPECT_EQ(spot->m_LightIndex, 0);
    EXPECT_FALSE(spot->HitTest(320, 240));
    for (int i = 0; i < MenuButtonCount; ++i)
        EXPECT_EQ(spot->m_Menu.GetButton(i).enabled, i == 0 || i == 1 || i == 2 || i == 4 || i == 7) << i;
}

}  // namespace
