// The entity manager: hover and click priority, the menu and link states,
// back-out, the veil, the idle timer, camera keys and the camera's glide.
#include "Entity/EntityAgent.h"
#include "Entity/EntityFloor.h"
#include "Entity/EntitySpot.h"
#include "scene_test_support.h"

#include <cmath>

namespace {

// An agent that counts what the manager asks of it.
class CountingAgent : public CEntityAgent
{
public:
    void Render() override { ++renders; }
    D3DXVECTOR2 GetScreenPosition() override
    {
        ++positions;
        return D3DXVECTOR2(10.0f, 10.0f);
    }
    int renders = 0;
    int positions = 0;
};

class ManagerTest : public scenetest::SceneTest
{
protected:
    void TearDown() override
    {
        manager.Clear();
        SceneTest::TearDown();
    }

    // A camera above the floor's click square, which lies around the origin
    // for a floor at (224, -6, 224), so the square is at the screen's middle.
    void LoadFloors(int count, const std::string& extra = "")
    {
        std::string text = "<CAMERA vEyePt='0 300 -300' vLookatPt='0 0 0'/>";
        for (int i = 0; i < count; ++i)
            text += "<FLOOR position='224 -6 224'/>";
        ASSERT_TRUE(manager.LoadScene(WriteScene(text + extra).c_str()));
    }

    void Frame(int x, int y, float dt = 0.025f)
    {
        manager.SetMousePosition(x, y);
        g_MouseX = x;
        g_MouseY = y;
        manager.UpdateAndRender(dt);
    }

    CEntityFloor* Floor(size_t i) { return static_cast<CEntityFloor*>(manager.m_Entities[i]); }

    CEntityManager manager;
};

TEST_F(ManagerTest, EarlierEntitiesWinHoverAndClick)
{
    LoadFloors(2);
    Frame(320, 240);
    EXPECT_EQ(manager.m_pSelected, manager.m_Entities[0]);
    EXPECT_EQ(scenetest::StatusText(), "dancefloor settings");

    manager.OnLeftClick();
    EXPECT_EQ(manager.GetState(), state_menu);
    EXPECT_EQ(Floor(0)->m_Menu.GetState(), CMenu::StateOpening);
    EXPECT_EQ(Floor(1)->m_Menu.GetState(), CMenu::StateClosed);
    EXPECT_EQ(scenetest::StatusText(), "setting the dancefloor");
}

TEST_F(ManagerTest, TheLastHoveredEntityStaysSelectedUntilTheIdleBackOut)
{
    LoadFloors(1);
    Frame(320, 240);
    ASSERT_EQ(manager.m_pSelected, manager.m_Entities[0]);
    manager.LastInputTime = timeGetTime();
    Frame(5, 5);
    EXPECT_EQ(manager.m_pSelected, manager.m_Entities[0]);
    EXPECT_EQ(manager.GetVeilAlpha(), 0);
    VelmoraAdvanceClock(3001);
    restest::LogWatch log;
    Frame(5, 5);
    EXPECT_EQ(manager.m_pSelected, nullptr);
    EXPECT_EQ(log.Count("back to state_none"), 1);
    // The back-out stamps the one input time, as the camera step does.
    EXPECT_EQ(manager.LastInputTime, timeGetTime());
}

TEST_F(ManagerTest, AMissedClickInTheMenuBacksOutWithoutOpeningAnother)
{
    LoadFloors(1);
    Frame(320, 240);
    manager.OnLeftClick();
    Frame(320, 240, 0.2f);
    ASSERT_TRUE(Floor(0)->m_Menu.IsOpen());
    // The floor itself is not a button: the click misses every menu.
    manager.OnLeftClick();
    EXPECT_EQ(manager.GetState(), state_none);
    EXPECT_EQ(manager.m_pSelected, nullptr);
    EXPECT_EQ(Floor(0)->m_Menu.GetState(), CMenu::StateClosing);
    // A second click opens it again once it has closed.
    Frame(320, 240, 0.2f);
    manager.OnLeftClick();
    EXPECT_EQ(manager.GetState(), state_menu);
    EXPECT_EQ(Floor(0)->m_Menu.GetState(), CMenu::StateOpening);
}

TEST_F(ManagerTest, MenuButtonsRunTheirActionsAndTheVeilFollowsTheMenu)
{
    LoadFloors(1);
    Frame(320, 240);
    manager.OnLeftClick();
    CMenu& menu = Floor(0)->m_Menu;
    EXPECT_EQ(manager.GetVeilAlpha(), 0);
    Frame(320, 240, 0.05f);  // two updates: progress 0.4
    EXPECT_EQ(manager.GetVeilAlpha(), static_cast<int>(menu.GetProgress() * 90.0f));
    EXPECT_GT(manager.GetVeilAlpha(), 0);
    Frame(320, 240, 0.2f);
    ASSERT_TRUE(menu.IsOpen());
    EXPECT_EQ(manager.GetVeilAlpha(), 90);

    int x, y;
    menu.GetButtonPosition(8, x, y);
    VelmoraAdvanceClock(1001);  // past the click's status text
    Frame(x, y);
    EXPECT_EQ(scenetest::StatusText(), "change dancefloor pattern");
    manager.OnLeftClick();
    EXPECT_EQ(Floor(0)->m_Pattern, 1);
    EXPECT_EQ(manager.GetState(), state_menu);
    EXPECT_EQ(manager.m_pPendingReference, nullptr);

    manager.BackOut();
    Frame(5, 5, 0.05f);
    EXPECT_EQ(menu.GetState(), CMenu::StateClosing);
}

TEST_F(ManagerTest, ABackOutWhileAMenuOpensLeavesItOpening)
{
    LoadFloors(1);
    Frame(320, 240);
    manager.OnLeftClick();
    manager.BackOut();
    EXPECT_EQ(manager.GetState(), state_none);
    EXPECT_EQ(Floor(0)->m_Menu.GetState(), CMenu::StateOpening);
    Frame(5, 5, 0.2f);
    EXPECT_TRUE(Floor(0)->m_Menu.IsOpen());
}

class LinkTest : public ManagerTest
{
protected:
    void SetUp() override
    {
        ManagerTest::SetUp();
        LoadFloors(0, "<SPOT filename='lamp.x'><PRS position='0 100 0'/><LIGHT id='0' target='0 0 0'/></SPOT>");
        spot = static_cast<CEntitySpot*>(manager.m_Entities[0]);
        agents[0] = new CountingAgent();
        agents[1] = new CountingAgent();
        agents[1]->m_Band = 1;
        for (CountingAgent* agent : agents) {
            agent->SetManager(&manager);
            manager.m_Entities.push_back(agent);
        }
        // Open the spot's menu at the middle of the screen.
        spot->OnMessage(MsgLeftClick);
        spot->m_Menu.Update(0.3f);
        spot->m_Menu.m_CentreX = 320.0f;
        spot->m_Menu.m_CentreY = 240.0f;
        ASSERT_EQ(manager.GetState(), state_menu);
    }

    void ClickButton(int button)
    {
        int x, y;
        spot->m_Menu.GetButtonPosition(button, x, y);
        manager.SetMousePosition(x, y);
        g_MouseX = x;
        g_MouseY = y;
        manager.OnLeftClick();
    }

    CEntitySpot* spot = nullptr;
    CountingAgent* agents[2] = {};
};

TEST_F(LinkTest, ALinkableButtonWaitsForAnAgent)
{
    ClickButton(2);
    EXPECT_EQ(manager.GetState(), state_linking);
    EXPECT_EQ(manager.m_pPendingReference, &spot->m_Menu.GetButton(2).reference);
    int x, y;
    spot->m_Menu.GetButtonPosition(2, x, y);
    EXPECT_EQ(manager.m_LinkOriginX, static_cast<float>(x));
    EXPECT_EQ(manager.m_LinkOriginY, static_cast<float>(y));
    EXPECT_EQ(scenetest::StatusText(), "select music reference");

    // Agents are drawn, with their lines, only while the link waits.
    manager.UpdateAndRender(0.025f);
    EXPECT_EQ(agents[0]->renders, 1);
    EXPECT_EQ(agents[1]->positions, 1);

    agents[1]->OnMessage(MsgLeftClick);
    EXPECT_EQ(spot->m_Menu.GetButton(2).reference, RefMedium);
    EXPECT_EQ(manager.m_pPendingReference, nullptr);
    EXPECT_EQ(manager.GetState(), state_menu);
    EXPECT_EQ(scenetest::StatusText(), "music reference: medium");
    manager.UpdateAndRender(0.025f);
    EXPECT_EQ(agents[0]->renders, 1);
}

TEST_F(LinkTest, ButtonsWithoutAReferenceActWhileTheLinkWaits)
{
    ClickButton(2);
    ClickButton(7);
    EXPECT_TRUE(spot->m_Strobe);
    EXPECT_EQ(manager.GetState(), state_linking);
    EXPECT_EQ(manager.m_pPendingReference, &spot->m_Menu.GetButton(2).reference);

    // A second linkable button takes over; the first keeps its code.
    spot->m_Menu.GetButton(2).reference = RefTreble;
    ClickButton(4);
    EXPECT_EQ(manager.m_pPendingReference, &spot->m_Menu.GetButton(4).reference);
    EXPECT_EQ(spot->m_Menu.GetButton(2).reference, RefTreble);
}

TEST_F(LinkTest, BackingOutOfALinkUnlinksTheWaitingButton)
{
    spot->m_Menu.GetButton(4).reference = RefBass;
    ClickButton(4);
    ASSERT_EQ(manager.GetState(), state_linking);
    restest::LogWatch log;
    manager.BackOut();
    EXPECT_EQ(spot->m_Menu.GetButton(4).reference, RefUnlinked);
    EXPECT_EQ(manager.GetState(), state_menu);
    EXPECT_EQ(manager.m_pPendingReference, nullptr);
    EXPECT_TRUE(spot->m_Menu.IsOpen());
    EXPECT_EQ(scenetest::StatusText(), "no reference selected");
    EXPECT_EQ(log.Messages(), std::vector<std::string>{"back to state_menu"});

    // Out of the menu: every agent cancels (logging the menu state) before state_none.
    restest::LogWatch second;
    manager.BackOut();
    EXPECT_EQ(manager.GetState(), state_none);
    EXPECT_EQ(second.Messages(),
              (std::vector<std::string>{"back to state_none", "manager state 1", "manager state 1"}));
    EXPECT_EQ(spot->m_Menu.GetState(), CMenu::StateClosing);
}

TEST_F(LinkTest, AMissedClickWhileLinkingBacksOutToTheMenu)
{
    ClickButton(2);
    manager.SetMousePosition(5, 5);
    manager.OnLeftClick();
    EXPECT_EQ(manager.GetState(), state_menu);
    EXPECT_EQ(spot->m_Menu.GetButton(2).reference, RefUnlinked);
}

TEST_F(ManagerTest, AnEmptySceneClearsTheStatusAndBacksOutEveryThreeSeconds)
{
    ASSERT_TRUE(manager.LoadScene(WriteScene("<NOTHING/>").c_str()));
    SetStatusText("hello", 1, false);
    restest::LogWatch log;
    Frame(10, 10);
    EXPECT_EQ(scenetest::StatusText(), "");
    EXPECT_EQ(log.Count("back to state_none"), 0);
    for (int i = 0; i < 4; ++i) {
        VelmoraAdvanceClock(1600);
        Frame(10, 10);
    }
    // 6400 ms: the back-out fired at 3200 and again at 6400.
    EXPECT_EQ(log.Count("back to state_none"), 2);
}

// Two keys a few units apart, so that the camera hardly moves off the floor.
const char* const kTwoKeys = "<CAMERA vEyePt='0 300 -300' vLookatPt='0 0 0'><key position='0 300 -300' target='0 0 0'/>"
                             "<key position='0 300 -302' target='0 0 0'/></CAMERA>";

// When the camera steps and the idle back-out fires, in ms after a start.
struct TimedEvents
{
    std::vector<DWORD> steps;
    std::vector<DWORD> backOuts;
};

class CyclingTest : public ManagerTest
{
protected:
    void SetUp() override
    {
        ManagerTest::SetUp();
        LoadFloors(1, kTwoKeys);
        g_CycleView = 1;
        m_Start = timeGetTime();
    }

    // Frames every 100 ms with the mouse at (x, y) until `until` ms after the start;
    // `input` ms after the start the mouse moves, as the window procedure stamps it.
    TimedEvents Run(DWORD until, int x, int y, DWORD input = 0)
    {
        TimedEvents events;
        while (timeGetTime() - m_Start < until) {
            VelmoraAdvanceClock(100);
            const DWORD now = timeGetTime() - m_Start;
            if (input && now == input)
                manager.LastInputTime = timeGetTime();
            restest::LogWatch log;
            Frame(x, y);
            if (log.Count("using camera 0") + log.Count("using camera 1"))
                events.steps.push_back(now);
            if (log.Count("back to state_none"))
                events.backOuts.push_back(now);
        }
        return events;
    }

    DWORD m_Start = 0;
};

using Times = std::vector<DWORD>;

TEST_F(CyclingTest, OverNothingItNeverStepsAndTheBackOutFiresEveryThreeSeconds)
{
    const TimedEvents events = Run(16000, 5, 5);
    EXPECT_TRUE(events.steps.empty());
    EXPECT_EQ(events.backOuts, (Times{3100, 6200, 9300, 12400, 15500}));
    EXPECT_EQ(manager.m_CameraIndex, 0);
    // Each back-out stamps the input time, so 5000 ms never pass.
    EXPECT_EQ(manager.LastInputTime, m_Start + 15500);
}

TEST_F(CyclingTest, UnderARestingMouseItStepsEveryFiveSeconds)
{
    const TimedEvents events = Run(16000, 320, 240);
    EXPECT_EQ(events.steps, (Times{5100, 10200, 15300}));
    EXPECT_TRUE(events.backOuts.empty());
    EXPECT_EQ(manager.m_CameraIndex, 1);
    EXPECT_EQ(manager.LastInputTime, m_Start + 15300);
}

TEST_F(CyclingTest, AMouseMovementHoldsTheNextStepBackFiveSeconds)
{
    const TimedEvents events = Run(16000, 320, 240, 7000);
    EXPECT_EQ(events.steps, (Times{5100, 12100}));
    EXPECT_TRUE(events.backOuts.empty());
}

TEST_F(CyclingTest, SwitchedOffItNeverSteps)
{
    g_CycleView = 0;
    TimedEvents events = Run(8000, 320, 240);
    EXPECT_TRUE(events.steps.empty());
    EXPECT_TRUE(events.backOuts.empty());
    events = Run(16000, 5, 5);
    EXPECT_TRUE(events.steps.empty());
    // Nothing stamped the input time while the floor was hovered: the first frame over nothing backs out.
    EXPECT_EQ(events.backOuts, (Times{8100, 11200, 14300}));
    EXPECT_EQ(manager.m_CameraIndex, 0);
}

TEST_F(CyclingTest, UnderARestingMouseItStepsAndTheViewBacksOutThreeSecondsAfterTheStep)
{
    for (int i = 0; i < 50; ++i) {
        VelmoraAdvanceClock(100);
        Frame(320, 240);
    }
    EXPECT_EQ(manager.m_CameraIndex, 0) << "exactly 5000 ms is not more";
    ASSERT_EQ(manager.m_pSelected, manager.m_Entities[0]);
    VelmoraAdvanceClock(1);
    Frame(320, 240);
    EXPECT_EQ(manager.m_CameraIndex, 1);
    EXPECT_EQ(manager.LastInputTime, timeGetTime());

    // The view moves away from under the mouse: the step's stamp keeps the selection 3 s.
    restest::LogWatch log;
    VelmoraAdvanceClock(100);
    Frame(5, 5);
    EXPECT_EQ(manager.m_pSelected, manager.m_Entities[0]);
    VelmoraAdvanceClock(2900);
    Frame(5, 5);
    EXPECT_EQ(log.Count("back to state_none"), 0);
    VelmoraAdvanceClock(1);
    Frame(5, 5);
    EXPECT_EQ(log.Count("back to state_none"), 1);
    EXPECT_EQ(manager.m_pSelected, nullptr);
}

TEST_F(ManagerTest, CameraKeysWrapBothWays)
{
    ASSERT_TRUE(manager.LoadScene(WriteScene("<CAMERA><key position='1 0 0'/><key position='2 0 0'/>"
                                             "<key position='3 0 0'/></CAMERA>")
                                      .c_str()));
    EXPECT_EQ(manager.m_CameraIndex, 0);
    manager.PreviousCamera();
    EXPECT_EQ(manager.m_CameraIndex, 2);
    EXPECT_EQ(manager.m_Camera.m_GoalPosition.x, 3.0f);
    restest::LogWatch log;
    manager.NextCamera();
    EXPECT_EQ(manager.m_CameraIndex, 0);
    EXPECT_EQ(log.Messages(), (std::vector<std::string>{"using camera 0", "setting 1.000000 0.000000 0.000000"}));

    CEntityManager one;
    ASSERT_TRUE(one.LoadScene(WriteScene("<CAMERA><key position='4 0 0'/></CAMERA>").c_str()));
    one.NextCamera();
    EXPECT_EQ(one.m_CameraIndex, 0);
    one.PreviousCamera();
    EXPECT_EQ(one.m_CameraIndex, 0);
    EXPECT_EQ(one.m_Camera.m_GoalPosition.x, 4.0f);
}

TEST(CameraMotion, GlidesFiveUnitsAFrameAndRestsInsideTheDeadZone)
{
    CCameraMotion camera;
    camera.Set(D3DXVECTOR3(0.0f, 0.0f, 0.0f), D3DXVECTOR3(0.0f, 0.0f, 10.0f));
    camera.SetGoal(D3DXVECTOR3(12.0f, 0.0f, 0.0f), D3DXVECTOR3(0.0f, 5.0f, 10.0f));
    camera.Step(0.025f);
    EXPECT_NEAR(camera.m_Position.x, 5.0f, 1e-5f);
    camera.Step(0.025f);
    EXPECT_NEAR(camera.m_Position.x, 10.0f, 1e-5f);
    camera.Step(0.025f);
    EXPECT_NEAR(camera.m_Position.x, 10.0f, 1e-5f) << "2 units short: inside the dead zone";
    // A goal exactly 5 units away is not approached.
    EXPECT_EQ(camera.m_Target, D3DXVECTOR3(0.0f, 0.0f, 10.0f));

    D3DXMATRIX expected;
    const D3DXVECTOR3 up(0.0f, 1.0f, 0.0f);
    D3DXMatrixLookAtLH(&expected, &camera.m_Position, &camera.m_Target, &up);
    EXPECT_EQ(camera.GetViewMatrix(), expected);
}

}  // namespace
