// A steady frame of the demo scene must not touch the heap: every operator
// new of this test program is counted while the module renders and handles
// its input, in each state of the scene, after a few frames in that state.
#include <gtest/gtest.h>

#include "allocation_counter.h"
#include "demo_scene.h"
#include "render_threads.h"

#include <stdlib.h>

namespace testing_support {
// The state's name in the test's messages.
void PrintTo(DemoState state, std::ostream* out)
{
    *out << DemoStateName(state);
}
} // namespace testing_support

using namespace testing_support;

namespace {

struct Counts
{
    long render = 0; // in Render
    long input = 0;  // while the posted input and the frame's messages are handled
};

// Allocations over `frames` frames of the scene as it is.
Counts CountFrames(DemoScene& scene, int frames)
{
    Counts counts;
    for (int i = 0; i < frames; ++i)
    {
        long before = s_Allocations;
        scene.BeginFrame();
        counts.input += s_Allocations - before;
        before = s_Allocations;
        scene.Render();
        counts.render += s_Allocations - before;
        before = s_Allocations;
        scene.EndFrame();
        counts.input += s_Allocations - before;
    }
    return counts;
}


class SteadyFrame : public ::testing::TestWithParam<DemoState>
{
};

void ExpectSteadyFramesAllocateNothing(DemoState state)
{
    DemoScene scene(800, 600);
    std::string error;
    ASSERT_TRUE(scene.Start(error)) << error;
    ASSERT_TRUE(scene.Enter(state, error)) << error;
    // Warm-up: whatever is sized once is sized now.
    CountFrames(scene, 5);
    // VELMORA_TRACE_ALLOCATIONS=1 prints where each counted allocation happens.
    s_TraceAllocations = getenv("VELMORA_TRACE_ALLOCATIONS") != nullptr;
    const Counts counts = CountFrames(scene, 20);
    s_TraceAllocations = false;
    EXPECT_TRUE(scene.InState(state));
    EXPECT_EQ(counts.render, 0) << "allocations in Render over 20 frames";
    EXPECT_EQ(counts.input, 0) << "allocations in the frames' input and messages over 20 frames";
}

TEST_P(SteadyFrame, AllocatesNothing)
{
    if (!kAllocationsCounted)
        GTEST_SKIP() << "allocations are not counted under ThreadSanitizer";
    ExpectSteadyFramesAllocateNothing(GetParam());
}

// The same with the frame queued and drawn by four threads, band by band.
TEST_P(SteadyFrame, AllocatesNothingDrawnByThreads)
{
    if (!kAllocationsCounted)
        GTEST_SKIP() << "allocations are not counted under ThreadSanitizer";
    ScopedRenderThreads threads("4");
    ExpectSteadyFramesAllocateNothing(GetParam());
}

INSTANTIATE_TEST_SUITE_P(DemoStates, SteadyFrame,
                         ::testing::Values(DemoState::NoMenu, DemoState::Hover, DemoState::MenuOpen),
                         [](const ::testing::TestParamInfo<DemoState>& info) {
                             return std::string(DemoStateName(info.param));
                         });

} // namespace
