#include <gtest/gtest.h>

#include "anim_test_support.h"
#include "ik/CIKControl.h"
#include "main.h"

#include <math.h>

using namespace animtest;

TEST(IKControl, MusicDrivesThePhaseAndTheOffset)
{
    CIKControl c;
    EXPECT_EQ(c.m_Type, 1);
    EXPECT_EQ(c.m_KeyIndex, -1);
    EXPECT_EQ(c.m_Scale, 1.0f);
    EXPECT_EQ(c.m_Mode, 0);
    EXPECT_EQ(c.m_Offset.y, 0);
    EXPECT_EQ(c.m_Target.x, 0);
    EXPECT_EQ(c.m_pSolver, nullptr);

    g_fBass = 0.5f;
    g_fMedium = 0.25f;
    g_fTreble = 2.0f;
    c.Update(0.025f); // unlinked: nothing moves
    EXPECT_EQ(c.m_Offset.y, 0);

    c.m_Type = 2;
    c.Update(123.0f); // the time step plays no part
    EXPECT_FLOAT_EQ(c.m_Offset.x, 10 * sinf(0.5f));
    EXPECT_FLOAT_EQ(c.m_Offset.y, 10 * cosf(0.5f));
    EXPECT_EQ(c.m_Offset.z, 0);
    c.Update(0);
    EXPECT_FLOAT_EQ(c.m_Phase, 1.0f);

    // Unlinked again: phase back to 0, offset frozen where it was.
    c.m_Type = 1;
    c.Update(0);
    EXPECT_EQ(c.m_Phase, 0);
    EXPECT_FLOAT_EQ(c.m_Offset.x, 10 * sinf(1.0f));

    // Relinked in mode 1 to the medium band, scaled.
    c.m_Type = 3;
    c.m_Mode = 1;
    c.m_Scale = 2;
    c.Update(0);
    EXPECT_EQ(c.m_Offset.x, 0);
    EXPECT_FLOAT_EQ(c.m_Offset.y, 20 * cosf(0.25f));

    c.m_Type = 4;
    c.m_Mode = 2;
    c.m_Scale = 0;
    c.Update(0);
    c.Update(0);
    EXPECT_EQ(c.m_Offset.x, 0);
    EXPECT_EQ(c.m_Offset.y, 0);
    EXPECT_EQ(c.m_Offset.z, 0);
    c.m_Scale = 1;
    c.Update(0);
    EXPECT_FLOAT_EQ(c.m_Offset.z, 10 * sinf(6.25f)); // 0.25 left from the medium link
    g_fBass = g_fMedium = g_fTreble = 0;
}

TEST(IKControl, KeysCycleThroughNone)
{
    CIKControl c;
    c.m_Keys = {CVector3(1, 2, 3), CVector3(4, 5, 6), CVector3(7, 8, 9)};
    size_t mark = LogMark();
    int seen[5];
    for (int i = 0; i < 5; ++i)
    {
        c.NextKey();
        seen[i] = c.m_KeyIndex;
    }
    EXPECT_EQ(seen[0], 0);
    EXPECT_EQ(seen[2], 2);
    EXPECT_EQ(seen[3], -1);
    EXPECT_EQ(seen[4], 0);
    EXPECT_EQ(c.m_KeyPosition.z, 3);
    std::vector<std::string> lines = LogSince(mark);
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[1], "control next key 1 4.000000 5.000000 6.000000");
    EXPECT_EQ(lines[3], "control next key -1 0.000000 0.000000 0.000000");
    EXPECT_NE(LogTextSince(mark).find("[      CIKControl::  57]"), std::string::npos);

    CIKControl empty;
    mark = LogMark();
    empty.NextKey();
    empty.NextKey();
    EXPECT_EQ(empty.m_KeyIndex, -1);
    EXPECT_EQ(LogSince(mark), std::vector<std::string>(2, "control next key -1 0.000000 0.000000 0.000000"));

    CIKControl copy = c; // a value: the keys are copied
    copy.m_Keys.clear();
    EXPECT_EQ(c.m_Keys.size(), 3u);
}
