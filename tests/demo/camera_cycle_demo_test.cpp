// The demo scene run headless through the player's host with nobody at the
// mouse: the camera cycles through its keys every 5 s while the idle back-out
// keeps its 3 s rhythm; a mouse movement holds cycling back; switched off it
// stays on its key.
#include <gtest/gtest.h>

#include "input.h"
#include "module_session.h"
#include "test_support.h"

#include <unistd.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

using namespace testing_support;

namespace {

using Times = std::vector<DWORD>;

// The whole data folder of the build: the scene, its models, effects and textures.
class DemoScene : public ModuleSession
{
protected:
    bool LinkBuiltProfiles() const override { return false; }

    void PrepareData() override { LinkBuiltData(); }

    // A frame every 100 ms of the clock (the timers read only the clock) until
    // `until` ms after the start, calling `before` ahead of each frame. Records
    // when the camera steps, when the idle back-out fires and the pictures of
    // the frames at `pictureTimes`.
    void Run(DWORD until, const std::function<void(DWORD)>& before = nullptr)
    {
        for (DWORD now = 100; now <= until; now += 100)
        {
            if (before)
                before(now);
            const size_t start = ReadLog().size();
            const bool wanted = std::find(pictureTimes.begin(), pictureTimes.end(), now) != pictureTimes.end();
            if (wanted)
                pictures.push_back(PictureAt(kSessionStart + now));
            else
            {
                VelmoraSetClock(kSessionStart + now);
                Frame();
            }
            const std::string added = ReadLog().substr(start);
            if (added.find("\tusing camera ") != std::string::npos)
                steps.push_back(now);
            if (added.find("\tback to state_none\n") != std::string::npos)
                backOuts.push_back(now);
        }
    }

    InputTarget Target() const
    {
        InputTarget target;
        target.renderWindow = host.RenderWindow();
        target.embeddedWindow = host.EmbeddedWindow();
        return target;
    }

    Times steps;
    Times backOuts;
    Times pictureTimes;
    std::vector<std::vector<DWORD>> pictures;
};

// The share of lit pixels that two pictures have in common.
double SharedLitPixels(const std::vector<DWORD>& a, const std::vector<DWORD>& b)
{
    size_t either = 0, both = 0;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i)
    {
        const bool litA = (a[i] & 0xFFFFFF) != 0, litB = (b[i] & 0xFFFFFF) != 0;
        either += litA || litB;
        both += litA && litB;
    }
    return either ? static_cast<double>(both) / either : 1.0;
}

} // namespace

TEST_F(DemoScene, WithoutInputTheCameraStepsEveryFiveSecondsAndTheViewChanges)
{
    ASSERT_EQ(g_CycleView, 1);
    pictureTimes = {3000, 4000, 10000};
    Run(16000);
    EXPECT_EQ(steps, (Times{5100, 10200, 15300})) << NewLog();
    EXPECT_EQ(backOuts, (Times{3100, 6200, 9300, 12400, 15500}));
    EXPECT_NE(NewLog().find("\tusing camera 3\n"), std::string::npos);

    // The camera rests on its first key at 3 s and 4 s: only the dancers and the
    // lights move. 6 s later it is well on its way to the next key.
    ASSERT_EQ(pictures.size(), 3u);
    ASSERT_FALSE(pictures[0].empty());
    const double sameView = SharedLitPixels(pictures[0], pictures[1]);
    const double nextView = SharedLitPixels(pictures[1], pictures[2]);
    EXPECT_GT(sameView, 0.9);
    EXPECT_LT(nextView, 0.6) << "same view: " << sameView;
}

TEST_F(DemoScene, AMouseMovementAtSevenSecondsDelaysTheNextStepToTwelve)
{
    InputTarget target = Target();
    Run(16000, [&](DWORD now) {
        if (now == 7000)
        {
            VelmoraSetClock(kSessionStart + now);
            PostMouseMove(target, 2, 2);
            host.DeliverMessages();
        }
    });
    EXPECT_EQ(steps, (Times{5100, 12100})) << NewLog();
    EXPECT_EQ(backOuts, (Times{3100, 6200, 10100, 13200}));
}

TEST_F(DemoScene, SwitchedOffTheCameraStaysOnItsKey)
{
    InputTarget target = Target();
    PostCommand(target, CommandToggleCycleView);
    host.DeliverMessages();
    ASSERT_EQ(g_CycleView, 0);
    Run(16000);
    EXPECT_TRUE(steps.empty()) << NewLog();
    EXPECT_EQ(backOuts, (Times{3100, 6200, 9300, 12400, 15500}));
}
