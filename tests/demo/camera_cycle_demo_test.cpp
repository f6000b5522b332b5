// The demo scene run headless through the player's host for 640 frames
// (16 s) with the mouse at rest and no clicks: over nothing the idle back-out
// fires every 3 s and stamps the input time, so the camera never steps on its
// own; resting on the left dancer it steps each time 5 s have passed, until a
// glide carries the dancer away from under the mouse. A mouse movement holds
// the step back; switched off the camera stays on its key.
#include <gtest/gtest.h>

#include "Entity/EntityManager.h"
#include "d3d_stuff.h"
#include "input.h"
#include "module_session.h"
#include "test_support.h"

#include <functional>
#include <string>
#include <vector>

using namespace testing_support;

namespace {

using Times = std::vector<DWORD>;

const int kFrames = 640;

// The whole data folder of the build: the scene, its models, effects and textures.
class DemoScene : public ModuleSession
{
protected:
    bool LinkBuiltProfiles() const override { return false; }

    void PrepareData() override { LinkBuiltData(); }

    void MoveMouse(int x, int y)
    {
        InputTarget target;
        target.renderWindow = host.RenderWindow();
        target.embeddedWindow = host.EmbeddedWindow();
        PostMouseMove(target, x, y);
        host.DeliverMessages();
    }

    // The mouse put at (x, y) before the first frame, then `frames` frames of
    // 25 ms, calling `before` (with the ms since the start) ahead of each.
    // Records the ms of each camera step and each idle back-out.
    void Run(int x, int y, int frames = kFrames, const std::function<void(DWORD)>& before = nullptr)
    {
        MoveMouse(x, y);
        for (int frame = 0; frame < frames; ++frame)
        {
            const DWORD now = timeGetTime() - kSessionStart;
            if (before)
                before(now);
            const size_t start = ReadLog().size();
            Frame();
            const std::string added = ReadLog().substr(start);
            if (added.find("\tusing camera ") != std::string::npos)
                steps.push_back(now);
            if (added.find("\tback to state_none\n") != std::string::npos)
                backOuts.push_back(now);
        }
    }

    Times steps;
    Times backOuts;
};

} // namespace

TEST_F(DemoScene, OverNothingTheCameraNeverStepsAndTheViewBacksOutEveryThreeSeconds)
{
    ASSERT_EQ(g_CycleView, 1);
    Run(700, 560);
    EXPECT_TRUE(steps.empty()) << NewLog();
    EXPECT_EQ(backOuts, (Times{3025, 6050, 9075, 12100, 15125}));
    EXPECT_EQ(g_pEntityManager->m_CameraIndex, 0);
}

TEST_F(DemoScene, OnTheLeftDancerTheCameraStepsAfterFiveSecondsOfRest)
{
    Run(288, 300);
    // The first step comes 5 s after the mouse came to rest. The next key
    // still shows the dancer under the mouse, so the camera steps again 5 s
    // later; the glide to the key after that leaves nothing under the mouse,
    // and from there on each back-out stamps the time anew 3 s after the step
    // or the last back-out.
    EXPECT_EQ(steps, (Times{5025, 10050})) << NewLog();
    EXPECT_EQ(backOuts, (Times{13075}));
    EXPECT_EQ(g_pEntityManager->m_CameraIndex, 2);
}

TEST_F(DemoScene, AMouseMovementHoldsTheNextStepBackFiveSeconds)
{
    Run(288, 300, 360, [&](DWORD now) {
        if (now == 3000)
            MoveMouse(290, 300);
    });
    EXPECT_EQ(steps, (Times{8025})) << NewLog();
}

TEST_F(DemoScene, SwitchedOffTheCameraStaysOnItsKey)
{
    InputTarget target;
    target.renderWindow = host.RenderWindow();
    target.embeddedWindow = host.EmbeddedWindow();
    PostCommand(target, CommandToggleCycleView);
    host.DeliverMessages();
    ASSERT_EQ(g_CycleView, 0);
    // 7 s: past the 5 s after which the camera would have stepped.
    Run(288, 300, 280);
    EXPECT_TRUE(steps.empty()) << NewLog();
    EXPECT_TRUE(backOuts.empty());
    EXPECT_EQ(g_pEntityManager->m_CameraIndex, 0);
}
