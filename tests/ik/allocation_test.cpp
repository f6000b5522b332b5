// The per-frame pass of a dancer must not touch the heap: every allocation
// of this test program is counted.
#include <gtest/gtest.h>

#include "ik/CIKModel.h"
#include "main.h"
#include "plugin.h"

#include "allocation_counter.h"

TEST(IKModelFrame, PassAllocatesNothing)
{
    if (!kAllocationsCounted)
        GTEST_SKIP() << "allocations are not counted under ThreadSanitizer";
    g_DataPath = std::string(VELMORA_PLUGIN_DIR) + "/data/";
    CIKModel m;
    ASSERT_TRUE(m.LoadFile((g_DataPath + "dancer_broad.xml").c_str()));
    ASSERT_FALSE(m.m_Controls.empty());
    int type = 2;
    for (CIKControl& c : m.m_Controls)
    {
        c.NextKey();
        c.m_Type = type++ % 3 + 2;
        c.m_Mode = type % 3;
    }
    g_fBass = 0.3f;
    g_fMedium = 0.2f;
    g_fTreble = 0.1f;
    auto pass = [&] {
        m.ResetPose();
        m.UpdateControls(0.025f);
        m.SolveAll();
        m.ApplyToMesh();
    };
    pass(); // the solvers size their work arrays once
    long before = s_Allocations;
    for (int i = 0; i < 5; ++i)
        pass();
    EXPECT_EQ(s_Allocations - before, 0);
    g_fBass = g_fMedium = g_fTreble = 0;
}
