// The entity base, static objects, agents and the dance floor.
#include "Entity/EntityAgent.h"
#include "Entity/EntityFloor.h"
#include "Entity/EntityStatic.h"
#include "scene_test_support.h"

#include <cmath>
#include <tinyxml.h>

namespace {

using scenetest::SceneTest;

TEST(EntityWorldMatrix, RotatesThenScalesAlongWorldAxesThenMoves)
{
    CTransform t = CTransform::Identity();
    t.position = D3DXVECTOR3(10.0f, 20.0f, 30.0f);
    t.scale = D3DXVECTOR3(2.0f, 1.0f, 1.0f);
    const D3DXVECTOR3 y(0.0f, 1.0f, 0.0f);
    D3DXQuaternionRotationAxis(&t.rotation, &y, 1.5707964f);
    const D3DXMATRIX world = CEntity::GetWorldMatrix(t);
    D3DXVECTOR3 p;
    const D3DXVECTOR3 x(1.0f, 0.0f, 0.0f);
    D3DXVec3TransformCoord(&p, &x, &world);
    const D3DXVECTOR3 d = p - t.position;
    EXPECT_NEAR(D3DXVec3Length(&d), 1.0f, 1e-5f);
    EXPECT_NEAR(d.z, -1.0f, 1e-5f);
    // Along world x the scale shows.
    const D3DXVECTOR3 z(0.0f, 0.0f, 1.0f);
    D3DXVec3TransformCoord(&p, &z, &world);
    EXPECT_NEAR(p.x - t.position.x, 2.0f, 1e-5f);
}

class EntityTest : public SceneTest
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

    // Opens the floor's menu at the screen's middle.
    void OpenAtMiddle(CEntity* entity)
    {
        entity->m_Menu.Open();
        entity->m_Menu.Update(0.3f);
        entity->m_Menu.m_CentreX = 320.0f;
        entity->m_Menu.m_CentreY = 240.0f;
    }

    void MouseOnButton(CEntity* entity, int button)
    {
        int x, y;
        entity->m_Menu.GetButtonPosition(button, x, y);
        g_MouseX = x;
        g_MouseY = y;
    }

    CEntityManager manager;
};

TEST_F(EntityTest, HoverShowsTheButtonsHelpOnlyOnAnOpenMenu)
{
    CEntityFloor* floor = Add(new CEntityFloor());
    EXPECT_TRUE(floor->OnMessage(MsgHover));
    EXPECT_EQ(scenetest::StatusText(), "");

    OpenAtMiddle(floor);
    MouseOnButton(floor, 7);
    EXPECT_TRUE(floor->OnMessage(MsgHover));
    EXPECT_EQ(scenetest::StatusText(), "turn on/off dancefloor animation");

    scenetest::ClearStatus();
    g_MouseX = 320;
    g_MouseY = 240;
    EXPECT_TRUE(floor->OnMessage(MsgHover));
    EXPECT_EQ(scenetest::StatusText(), "");

    EXPECT_FALSE(floor->OnMessage(1));
    EXPECT_FALSE(floor->OnMessage(7));
    EXPECT_FALSE(floor->OnMessage(MsgCancelLink));

    EXPECT_STREQ(GetButtonHelpText(EntityTypeSpot, 4), "spot movement on Z axis");
    EXPECT_STREQ(GetButtonHelpText(EntityTypeDancer, 5), "apply movement to selected body part");
    EXPECT_EQ(GetButtonHelpText(EntityTypeSpot, 3), nullptr);
    EXPECT_EQ(GetButtonHelpText(EntityTypeFloor, 1), nullptr);
}

TEST_F(EntityTest, AClickOpensThisMenuAndClosesTheOthers)
{
    CEntityFloor* first = Add(new CEntityFloor());
    CEntityFloor* second = Add(new CEntityFloor());
    OpenAtMiddle(first);
    g_MouseX = g_MouseY = 0;
    restest::LogWatch log;
    EXPECT_TRUE(second->OnMessage(MsgLeftClick));
    EXPECT_EQ(first->m_Menu.GetState(), CMenu::StateClosing);
    EXPECT_EQ(second->m_Menu.GetState(), CMenu::StateOpening);
    EXPECT_EQ(manager.GetState(), state_menu);
    EXPECT_EQ(log.Messages(), (std::vector<std::string>{"msg left click", "menu not actif", "manager state 1"}));

    // A menu still closing is not reopened, yet the state is set.
    manager.m_State = state_none;
    EXPECT_TRUE(first->OnMessage(MsgLeftClick));
    EXPECT_EQ(first->m_Menu.GetState(), CMenu::StateClosing);
    EXPECT_EQ(manager.GetState(), state_menu);

    EXPECT_TRUE(first->OnMessage(MsgOpenMenu));
    first->m_Menu.Update(0.3f);
    EXPECT_EQ(first->m_Menu.GetState(), CMenu::StateClosed);
    EXPECT_TRUE(first->OnMessage(MsgOpenMenu));
    EXPECT_EQ(first->m_Menu.GetState(), CMenu::StateOpening);
}

TEST_F(EntityTest, StaticObjectsLoadTheirPlacementAndAnswerNothing)
{
    TiXmlDocument doc;
    doc.Parse("<OBJECT filename='none.x'><prs position='1 2 3' rotation='0 1 0 90' scale='2 3 4'/></OBJECT>");
    CEntityStatic* object = Add(new CEntityStatic());
    restest::LogWatch log;
    EXPECT_TRUE(object->Load(doc.FirstChildElement()));
    EXPECT_EQ(object->GetMesh(), nullptr);
    EXPECT_EQ(object->m_Transform.position, D3DXVECTOR3(1.0f, 2.0f, 3.0f));
    EXPECT_EQ(object->m_InitialTransform.scale, D3DXVECTOR3(2.0f, 3.0f, 4.0f));
    EXPECT_NEAR(object->m_Transform.rotation.y, 0.7071068f, 1e-6f);
    EXPECT_NEAR(object->m_Transform.rotation.w, 0.7071068f, 1e-6f);
    EXPECT_EQ(log.Count("static obj: setting shader"), 1);

    EXPECT_NE(object->GetType(), EntityTypeDancer);
    EXPECT_NE(object->GetType(), EntityTypeAgent);
    EXPECT_NE(object->GetType(), EntityTypeSpot);
    EXPECT_NE(object->GetType(), EntityTypeFloor);
    for (int message = 0; message < 8; ++message)
        EXPECT_FALSE(object->OnMessage(message));
    EXPECT_FALSE(object->HitTest(320, 240));
    EXPECT_FALSE(object->MenuHitTest(320, 240));
    EXPECT_FALSE(object->LinkHitTest(320, 240));

    restest::LogWatch render;
    object->Render();
    object->Render();
    EXPECT_EQ(render.Count("warning: object NULL"), 2);

    TiXmlDocument bad;
    bad.Parse("<OBJECT><PRS position='1 1 1'/></OBJECT>");
    CEntityStatic* invalid = Add(new CEntityStatic());
    EXPECT_FALSE(invalid->Load(bad.FirstChildElement()));
    EXPECT_EQ(invalid->m_Transform.position, D3DXVECTOR3(0.0f, 0.0f, 0.0f));
}

TEST_F(EntityTest, AgentsSwellWithTheirBandAndLinkWhatWaits)
{
    CEntityAgent* agent = Add(new CEntityAgent());
    agent->m_InitialTransform.scale = D3DXVECTOR3(1.0f, 1.0f, 1.0f);
    g_fBass = 2.0f;
    agent->Update(0.025f);
    EXPECT_FLOAT_EQ(agent->m_Transform.scale.x, 1.6f);
    EXPECT_FLOAT_EQ(agent->m_Transform.scale.z, 1.6f);
    EXPECT_EQ(agent->m_InitialTransform.scale, D3DXVECTOR3(1.0f, 1.0f, 1.0f));
    g_fBass = -1.0f;
    agent->Update(0.025f);
    EXPECT_FLOAT_EQ(agent->m_Transform.scale.y, 0.7f);

    // The agents' own camera looks at the origin from (0, 0, -300).
    D3DXMATRIX expected;
    const D3DXVECTOR3 eye(0.0f, 0.0f, -300.0f), at(0.0f, 0.0f, 0.0f), up(0.0f, 1.0f, 0.0f);
    D3DXMatrixLookAtLH(&expected, &eye, &at, &up);
    EXPECT_EQ(g_AgentViewMatrix, expected);

    restest::LogWatch log;
    agent->LinkButton(nullptr);
    EXPECT_EQ(log.Count("link to NULL button!"), 1);

    // A click with nothing pending only resets the state and names the band.
    manager.m_State = state_linking;
    EXPECT_TRUE(agent->OnMessage(MsgLeftClick));
    EXPECT_EQ(manager.GetState(), state_menu);
    EXPECT_EQ(scenetest::StatusText(), "music reference: bass");
    EXPECT_FALSE(agent->OnMessage(MsgOpenMenu));
    EXPECT_FALSE(agent->LinkHitTest(320, 240)) << "no mesh";
    EXPECT_EQ(agent->GetScreenPosition(), D3DXVECTOR2(0.0f, 0.0f));
}

// ---- Dance floor ----

int LitCount(const CEntityFloor& floor)
{
    int n = 0;
    for (int r = 0; r < FloorSize; ++r)
        for (int c = 0; c < FloorSize; ++c)
            n += floor.IsTileLit(r, c);
    return n;
}

TEST_F(EntityTest, ANewFloorShowsTheMillInRed)
{
    CEntityFloor floor;
    EXPECT_EQ(floor.GetType(), EntityTypeFloor);
    EXPECT_NE(floor.m_pBox, nullptr);
    EXPECT_EQ(floor.m_Pattern, 0);
    EXPECT_EQ(floor.m_Frame, 0);
    EXPECT_EQ(g_FloorColours[floor.m_Colour], 0xFFFF0000u);
    EXPECT_FALSE(floor.m_Animation);
    EXPECT_EQ(LitCount(floor), 13);
    for (int i = 0; i < FloorSize; ++i) {
        EXPECT_TRUE(floor.IsTileLit(i, i));
        EXPECT_TRUE(floor.IsTileLit(i, 6 - i));
    }
    for (int i = 0; i < MenuButtonCount; ++i)
        EXPECT_EQ(floor.m_Menu.GetButton(i).enabled, i == 0 || i == 7 || i == 8) << i;
    // Pattern 1 lights columns, pattern 2 rows.
    EXPECT_EQ(GetFloorPatternFrame(1, 0)[0 * 7 + 0], '#');
    EXPECT_EQ(GetFloorPatternFrame(1, 0)[1 * 7 + 0], '#');
    EXPECT_EQ(GetFloorPatternFrame(2, 0)[0 * 7 + 1], '#');
    EXPECT_EQ(GetFloorPatternFrame(2, 0)[1 * 7 + 0], '.');
}

TEST_F(EntityTest, FloorButtonsCycleColoursPatternsAndAnimation)
{
    CEntityFloor floor;
    restest::LogWatch log;
    floor.OnAction(8);
    EXPECT_TRUE(log.Has("EntityFloor", 252, "pattern 0 "));
    EXPECT_EQ(scenetest::StatusText(), "lines");
    for (int i = 1; i < 6; ++i)
        floor.OnAction(8);
    EXPECT_EQ(scenetest::StatusText(), "corner");
    floor.m_Frame = 3;
    floor.OnAction(8);
    EXPECT_EQ(floor.m_Pattern, 0);
    EXPECT_EQ(floor.m_Frame, 0);
    EXPECT_EQ(scenetest::StatusText(), "mill");

    for (int i = 0; i < 11; ++i)
        floor.OnAction(0);
    EXPECT_EQ(floor.m_Colour, 11);
    floor.OnAction(0);
    EXPECT_EQ(floor.m_Colour, 0);
    EXPECT_EQ(scenetest::StatusText(), "color changed");

    floor.OnAction(7);
    EXPECT_TRUE(floor.m_Animation);
    EXPECT_EQ(scenetest::StatusText(), "animation on");
    floor.OnAction(7);
    EXPECT_EQ(scenetest::StatusText(), "animation off");
    floor.OnAction(3);
    EXPECT_EQ(log.Count("Floor Animation ONOFF"), 2);
}

TEST_F(EntityTest, FloorFramesFollowTheOddThirtiethsOfTheClock)
{
    CEntityFloor floor;
    floor.m_Animation = true;
    g_fTime = 0.05f;
    floor.Update(0.025f);
    EXPECT_EQ(floor.m_Frame, 1);
    g_fTime = 0.075f;
    floor.Update(0.025f);
    EXPECT_EQ(floor.m_Frame, 1);
    g_fTime = 0.1f;
    floor.Update(0.025f);
    EXPECT_EQ(floor.m_Frame, 2);

    // Two calls in the same odd thirtieth step a 2-frame pattern back to where it was.
    floor.m_Pattern = 3;
    floor.m_Frame = 0;
    floor.LoadPatternFrame();
    g_fTime = 0.05f;
    floor.Update(0.025f);
    floor.Update(0.025f);
    EXPECT_EQ(floor.m_Frame, 0);

    // A frame counter beyond the pattern restarts.
    floor.m_Frame = 9;
    floor.LoadPatternFrame();
    EXPECT_EQ(floor.m_Frame, 0);
    EXPECT_TRUE(floor.IsTileLit(0, 0));
}

TEST_F(EntityTest, FloorClicksLandStrictlyInsideTheCornerRectangle)
{
    // View identity and a projection that puts world z on screen y, so the
    // corners land on whole pixels: A at (80, 420), B at (0, 480).
    D3DXMATRIX identity;
    D3DXMatrixIdentity(&identity);
    g_pDevice->SetTransform(D3DTS_VIEW, &identity);
    D3DXMatrixIdentity(&g_ProjectionMatrix);
    g_ProjectionMatrix._22 = 0.0f;
    g_ProjectionMatrix._32 = 1.0f;
    g_ProjectionMatrix._33 = 0.0f;
    g_ProjectionMatrix._43 = 0.5f;

    CEntityFloor* floor = Add(new CEntityFloor());
    CTransform t = CTransform::Identity();
    t.scale = D3DXVECTOR3(1.0f / 256.0f, 1.0f, 1.0f / 256.0f);
    floor->SetInitialTransform(t);

    const D3DXVECTOR2 middle = floor->GetScreenPosition();
    EXPECT_NEAR(middle.x, 40.0f, 1e-3f);
    EXPECT_NEAR(middle.y, 450.0f, 1e-3f);
    EXPECT_TRUE(floor->HitTest(79, 450));
    EXPECT_FALSE(floor->HitTest(80, 450));
    EXPECT_FALSE(floor->HitTest(0, 450));
    EXPECT_TRUE(floor->HitTest(40, 421));
    EXPECT_FALSE(floor->HitTest(40, 420));

    // The menu follows the floor while it is not open.
    floor->Update(0.025f);
    EXPECT_NEAR(floor->m_Menu.m_CentreX, 40.0f, 1e-3f);
    floor->m_Menu.Open();
    floor->Update(0.3f);
    floor->m_Menu.m_CentreX = 300.0f;
    floor->Update(0.025f);
    EXPECT_EQ(floor->m_Menu.m_CentreX, 300.0f);
}

TEST_F(EntityTest, FloorTilesAreLaidFromTheRestPosition)
{
    CEntityFloor floor;
    CTransform t = CTransform::Identity();
    t.position = D3DXVECTOR3(100.0f, 0.0f, 50.0f);
    floor.SetInitialTransform(t);
    g_pDevice->BeginScene();
    floor.Render();
    g_pDevice->EndScene();
    // The last tile drawn is (6, 6); the device keeps its world matrix.
    EXPECT_EQ(floor.m_Transform.position, D3DXVECTOR3(100.0f - 29.5f, 20.0f, 50.0f - 29.5f));
    D3DXMATRIX world;
    g_pDevice->GetTransform(D3DTS_WORLD, &world);
    EXPECT_EQ(world._41, 100.0f - 29.5f);
    EXPECT_EQ(world._43, 50.0f - 29.5f);
    EXPECT_EQ(floor.m_InitialTransform.position, t.position);
}

}  // namespace
