#include <gtest/gtest.h>

#include "anim_test_support.h"
#include "ik/CIKModel.h"
#include "main.h"
#include "plugin.h"
#include "test_support.h"

#include <math.h>

#include <algorithm>
#include <map>
#include <utility>

using namespace animtest;

namespace
{
// A three-joint arm: "Root" at (0, 0, 0), "Elbow" 20 above, "Hand" 20 more.
std::string WriteArm()
{
    Ms3dFile f;
    f.joints = {Joint("Root", "", 0, 0, 0), Joint("Elbow", "Root", 0, 20, 0), Joint("Hand", "Elbow", 0, 20, 0)};
    f.vertices = {{-1, 0, 0, 0}, {1, 0, 0, 0}, {0, 20, -1, 1}, {0, 40, 1, 2}};
    f.triangles = {{{0, 1, 2}, {{0, 0, 1}, {0, 0, 1}, {0, 0, 1}}}, {{1, 2, 3}, {{0, 0, 1}, {0, 0, 1}, {0, 0, 1}}}};
    f.groups = {{0, 1}};
    return f.Write("arm.ms3d");
}

std::string WriteModel(const std::string& name, const std::string& xml)
{
    g_DataPath = ScratchDir() + "/";
    WriteArm();
    return WriteScratchFile(name, xml);
}

bool Has(const std::vector<std::string>& lines, const std::string& text)
{
    return std::find(lines.begin(), lines.end(), text) != lines.end();
}

int Count(const std::vector<std::string>& lines, const std::string& text)
{
    return static_cast<int>(std::count(lines.begin(), lines.end(), text));
}

void RunPass(CIKModel& m)
{
    m.ResetPose();
    m.UpdateControls(0.025f);
    m.SolveAll();
    m.ApplyToMesh();
}
} // namespace

TEST(IKModel, ValidFileLogsInOrder)
{
    std::string path = WriteModel("valid.xml", R"(<MODEL name="arm.ms3d" />
<SOLVER name="arm" start="Root" end="Hand" />
<CONTROL name="arm" scale="2"><KEY position="1 2 3" /><KEY position="4 5 6" /></CONTROL>)");
    size_t mark = LogMark();
    CIKModel m;
    ASSERT_TRUE(m.LoadFile(path.c_str()));
    std::vector<std::string> lines = LogSince(mark);
    std::string full = g_DataPath + "arm.ms3d";
    std::vector<std::string> head = {"MS3D constructor", "IKMODEL clear", "====[IKMODEL LOADER Tab Start]====",
                                     "destoying...", "IKMODEL destroy", "IKMODEL clear", "loading file " + path,
                                     "file parsed", "MODEL node (name = " + full + ")", "IKMODEL destroy",
                                     "IKMODEL clear", "====[MS3D MODEL LOADER Tab Start]===="};
    ASSERT_GE(lines.size(), head.size());
    EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + head.size()), head);
    std::vector<std::string> tail = {"MS3D model loaded", "====[MS3D MODEL LOADER Tab End]====", "solver arm added",
                                     "control linked to IKSolver", "control arm added with 2 keys",
                                     "====[IKMODEL LOADER Tab End]===="};
    EXPECT_EQ(std::vector<std::string>(lines.end() - tail.size(), lines.end()), tail);
    std::string raw = LogTextSince(mark);
    EXPECT_NE(raw.find("[        CIKModel::  57]\t====[IKMODEL LOADER Tab Start]===="), std::string::npos) << raw;
    EXPECT_NE(raw.find("[        CIKModel:: 236]\t\tsolver arm added"), std::string::npos);
    EXPECT_NE(raw.find("[        CIKModel:: 418]\t\tcontrol arm added with 2 keys"), std::string::npos);

    ASSERT_EQ(m.m_Solvers.size(), 1u);
    ASSERT_EQ(m.m_Controls.size(), 1u);
    const CIKControl& c = m.m_Controls[0];
    EXPECT_EQ(c.m_pSolver, m.m_Solvers[0]);
    EXPECT_EQ(c.m_Scale, 2.0f);
    EXPECT_EQ(c.m_KeyIndex, -1);
    EXPECT_EQ(c.m_Keys[1].y, 5);
    EXPECT_EQ(m.m_Solvers[0]->m_Tolerance, 0.1f);
    EXPECT_EQ(m.m_Solvers[0]->m_IterationCap, 400);
    EXPECT_EQ(m.m_Solvers[0]->GetHome().y, 40);
    EXPECT_EQ(m.m_Solvers[0]->GetChainLength(), 3);
    EXPECT_NE(m.m_pRestRoot, m.m_pWorkRoot);
    EXPECT_EQ(m.m_pWorkRoot->FindByName("Hand")->m_JointIndex, 2);
}

TEST(IKModel, ElementOrderDecidesWhatIsKept)
{
    CIKModel m;
    size_t mark = LogMark();
    ASSERT_TRUE(m.LoadFile(WriteModel("order.xml", R"(<SOLVER name="early" start="Root" end="Hand" />
<CONTROL name="arm" scale="1" />
<MODEL name="arm.ms3d" />
<CONTROL name="arm" scale="1" />
<SOLVER name="arm" start="Root" end="Hand" />
<SOLVER name="arm" start="Elbow" end="Hand" />
<CONTROL name="arm" scale="1" />)").c_str()));
    std::vector<std::string> lines = LogSince(mark);
    EXPECT_EQ(Count(lines, "could not find bones"), 1); // SOLVER before MODEL
    ASSERT_EQ(m.m_Solvers.size(), 2u);
    ASSERT_EQ(m.m_Controls.size(), 2u); // the one before MODEL is gone
    EXPECT_EQ(m.m_Controls[0].m_pSolver, nullptr); // listed before its solver
    EXPECT_EQ(m.m_Controls[1].m_pSolver, m.m_Solvers[1]); // duplicates: the last wins
    EXPECT_EQ(Count(lines, "control linked to IKSolver"), 2);

    // Element names in any case; attribute names exact; "$root" is ordinary.
    mark = LogMark();
    ASSERT_TRUE(m.LoadFile(WriteModel("case.xml", R"(<model name="arm.ms3d" />
<Solver name="arm" start="Root" end="Hand" />
<solver Name="x" start="Root" end="Hand" />
<control name="$root" Scale="3"><key position="5" /><Key /><other position="1 1 1" /></control>
<CONTROL name="arm" scale="1" />
<CONTROL scale="1" />
<MODEL />
<SOLVER name="y" start="Root" />
<unknown />)").c_str()));
    lines = LogSince(mark);
    ASSERT_EQ(m.m_Solvers.size(), 1u);
    ASSERT_EQ(m.m_Controls.size(), 2u);
    const CIKControl& lower = m.m_Controls[0];
    EXPECT_EQ(lower.m_Name, "$root");
    EXPECT_EQ(lower.m_Scale, 1.0f);
    ASSERT_EQ(lower.m_Keys.size(), 2u);
    EXPECT_EQ(lower.m_Keys[0].x, 5);
    EXPECT_EQ(lower.m_Keys[0].y, 0);
    EXPECT_EQ(lower.m_Keys[1].x, 0);
    EXPECT_TRUE(Has(lines, "control $root added with 2 keys"));
    EXPECT_TRUE(Has(lines, "control arm added with 0 keys"));
    EXPECT_TRUE(Has(lines, "CONTROL error : scale not found"));
    EXPECT_TRUE(Has(lines, "CONTROL error: name not found"));
    EXPECT_TRUE(Has(lines, "MODEL error: name not found"));
    EXPECT_EQ(Count(lines, "SOLVER error: name, start or end not found"), 2);
    EXPECT_EQ(m.m_NumJoints, 3); // the MODEL without name changed nothing

    // A "$root" control moves nothing but its own offset.
    m.m_Controls[0].NextKey();
    RunPass(m);
    EXPECT_EQ(m.m_pWorkRoot->m_World.m[3][0], 0);
}

// Presence decides: a present scale is its value read as a double (text that
// is no number reads 0), only a missing one is logged and stays 1.
TEST(IKModel, APresentScaleIsItsValueEvenWhenItIsNoNumber)
{
    CIKModel m;
    const size_t mark = LogMark();
    ASSERT_TRUE(m.LoadFile(WriteModel("scales.xml", R"(<MODEL name="arm.ms3d" />
<CONTROL name="word" scale="abc" />
<CONTROL name="empty" scale="" />
<CONTROL name="nan" scale="nan" />
<CONTROL name="huge" scale="1e300" />
<CONTROL name="-huge" scale="-1e300" />
<CONTROL name="number" scale="-2.5" />
<CONTROL name="missing" />)").c_str()));
    ASSERT_EQ(m.m_Controls.size(), 7u);
    EXPECT_EQ(m.m_Controls[0].m_Scale, 0.0f);
    EXPECT_EQ(m.m_Controls[1].m_Scale, 0.0f);
    EXPECT_TRUE(std::isnan(m.m_Controls[2].m_Scale));
    EXPECT_EQ(m.m_Controls[3].m_Scale, HUGE_VALF);
    EXPECT_EQ(m.m_Controls[4].m_Scale, -HUGE_VALF);
    EXPECT_EQ(m.m_Controls[5].m_Scale, -2.5f);
    EXPECT_EQ(m.m_Controls[6].m_Scale, 1.0f);
    const std::vector<std::string> lines = LogSince(mark);
    EXPECT_EQ(Count(lines, "CONTROL error : scale not found"), 1);
    EXPECT_EQ(Count(lines, "control word added with 0 keys"), 1);
}

// Scales that are no finite number, on controls linked to a band, pose the model
// without a fault (the sanitizer build checks the conversions on the way).
TEST(IKModel, LinkedControlsWithScalesThatAreNoFiniteNumberPose)
{
    CIKModel m;
    ASSERT_TRUE(m.LoadFile(WriteModel("wild.xml", R"(<MODEL name="arm.ms3d" />
<SOLVER name="arm" start="Root" end="Hand" />
<CONTROL name="arm" scale="nan"><KEY position="15 -10 0" /></CONTROL>
<CONTROL name="$ROOT" scale="1e300"><KEY position="3 0 0" /></CONTROL>)").c_str()));
    for (CIKControl& c : m.m_Controls)
    {
        c.NextKey();
        c.m_Type = 2;
    }
    const float bass = g_fBass;
    g_fBass = 0.5f;
    for (int frame = 0; frame < 3; ++frame)
        RunPass(m);
    g_fBass = bass;
    EXPECT_TRUE(std::isnan(m.m_Controls[0].m_Offset.x));
    EXPECT_TRUE(std::isinf(m.m_Controls[1].m_Offset.y));
    EXPECT_NE(m.m_pRenderVertices, nullptr);
}

TEST(IKModel, BrokenFilesLeaveAnEmptyModel)
{
    CIKModel m;
    size_t mark = LogMark();
    EXPECT_FALSE(m.LoadFile((ScratchDir() + "/missing.xml").c_str()));
    EXPECT_TRUE(Has(LogSince(mark), "couldnt load file"));

    // Nested deeper than TinyXML's recursion can go: refused before it parses.
    for (int depth : {257, 100000})
    {
        const std::string deep = WriteModel("deep.xml", testing_support::NestedXml("CONTROL", depth));
        mark = LogMark();
        EXPECT_FALSE(m.LoadFile(deep.c_str()));
        const std::string text = LogTextSince(mark);
        const std::string expected = "[        CIKModel::  67]\t\telements nested deeper than 256 levels in " + deep +
                                     "\n[        CIKModel::  68]\t\tcouldnt load file\n";
        EXPECT_NE(text.find(expected), std::string::npos) << text;
        EXPECT_TRUE(m.m_Controls.empty());
    }

    mark = LogMark();
    EXPECT_TRUE(m.LoadFile(WriteModel("blank.xml", "<!-- nothing -->").c_str()));
    EXPECT_TRUE(Has(LogSince(mark), "merde!"));

    mark = LogMark();
    EXPECT_TRUE(m.LoadFile(WriteModel("nomesh.xml", R"(<MODEL name="none.ms3d" />
<SOLVER name="arm" start="Root" end="Hand" />
<CONTROL name="arm" scale="1"><KEY position="1 1 1" /></CONTROL>
<CONTROL name="$ROOT" scale="1"><KEY position="1 1 1" /></CONTROL>)").c_str()));
    std::vector<std::string> lines = LogSince(mark);
    EXPECT_TRUE(Has(lines, "couldn open file"));
    EXPECT_TRUE(Has(lines, "could not find bones"));
    EXPECT_EQ(m.m_pWorkRoot, nullptr);
    ASSERT_EQ(m.m_Controls.size(), 2u);
    for (CIKControl& c : m.m_Controls)
        c.NextKey();
    RunPass(m); // no skeleton: nothing to move, nothing breaks
    EXPECT_EQ(m.m_Controls[1].m_Target.x, 0);
    EXPECT_EQ(m.m_BoxMin.x, 1000000.0f);

    // A refused mesh is the same as a missing one.
    Ms3dFile bad = TwoBoneFile();
    bad.vertices[0].bone = 5;
    bad.Write("bad.ms3d");
    EXPECT_TRUE(m.LoadFile(WriteScratchFile("bad.xml", R"(<MODEL name="bad.ms3d" />)").c_str()));
    EXPECT_EQ(m.m_NumVertices, 0);
    EXPECT_EQ(m.m_pRestRoot, nullptr);
}

TEST(IKModel, PassMovesChainsAndRoot)
{
    CIKModel m;
    ASSERT_TRUE(m.LoadFile(WriteModel("pass.xml", R"(<MODEL name="arm.ms3d" />
<SOLVER name="arm" start="Root" end="Hand" />
<CONTROL name="arm" scale="1"><KEY position="15 -10 0" /></CONTROL>
<CONTROL name="$ROOT" scale="1"><KEY position="3 0 0" /></CONTROL>)").c_str()));
    RunPass(m); // no key yet: the rest pose
    EXPECT_NEAR(m.m_pRenderVertices[5].position[1], 40, 1e-4f);
    EXPECT_NEAR(m.m_Controls[0].m_Target.y, 40, 1e-4f);

    for (CIKControl& c : m.m_Controls)
        c.NextKey();
    RunPass(m);
    const CIKControl& arm = m.m_Controls[0];
    const CIKControl& root = m.m_Controls[1];
    // The root moved by its key from its rest position.
    EXPECT_FLOAT_EQ(root.m_Target.x, 3);
    EXPECT_FLOAT_EQ(m.m_pWorkRoot->m_World.m[3][0], 3);
    // The arm reached for home + key; its control holds where it arrived.
    CVector3 hand = m.m_pWorkRoot->FindByName("Hand")->m_World.GetTranslation();
    EXPECT_FLOAT_EQ(arm.m_Target.x, hand.x);
    EXPECT_FLOAT_EQ(arm.m_Target.y, hand.y);
    EXPECT_NE(arm.m_Target.y, 30.0f);
    EXPECT_GT(hand.x, 3.5f);
    // The mesh follows the joints.
    EXPECT_NEAR(m.m_pRenderVertices[5].position[0], hand.x, 1e-3f);
    EXPECT_NEAR(m.m_pRenderVertices[5].position[1], hand.y, 1e-3f);

    // The next pass starts from the rest pose again: same result.
    RunPass(m);
    EXPECT_FLOAT_EQ(m.m_Controls[0].m_Target.x, hand.x);
    EXPECT_FLOAT_EQ(m.m_pWorkRoot->m_LocalPosition.x, 3);
}

TEST(IKModel, JointsOutOfOrderKeepTheirLoadPose)
{
    Ms3dFile f;
    f.joints = {Joint("Root", "", 0, 0, 0), Joint("Hand", "Elbow", 0, 20, 0), Joint("Elbow", "Root", 0, 20, 0),
                Joint("Root2", "", 50, 0, 0), Joint("Late", "Root2", 0, 5, 0)};
    f.vertices = {{0, 40, 0, 1}, {0, 20, 0, 2}, {50, 5, 0, 4}};
    f.triangles = {{{0, 1, 2}, {{0, 0, 1}, {0, 0, 1}, {0, 0, 1}}}};
    g_DataPath = ScratchDir() + "/";
    f.Write("order.ms3d");
    CIKModel m;
    ASSERT_TRUE(m.LoadFile(WriteScratchFile("joints.xml", R"(<MODEL name="order.ms3d" />
<SOLVER name="s" start="Root" end="Hand" />
<SOLVER name="t" start="Root2" end="Late" />
<CONTROL name="$ROOT" scale="1"><KEY position="0 7 0" /></CONTROL>)").c_str()));
    // The last parentless joint is the root; "Hand" came before its parent.
    EXPECT_EQ(m.m_pRestRoot->GetName(), "Root2");
    EXPECT_EQ(m.m_pWorkRoot->FindByName("Hand"), nullptr);
    ASSERT_EQ(m.m_Solvers.size(), 1u);
    m.m_Controls[0].NextKey();
    RunPass(m);
    // The root control moved "Late"; "Hand" kept its load-time matrix.
    EXPECT_NEAR(m.m_pRenderVertices[2].position[1], 12, 1e-4f);
    EXPECT_NEAR(m.m_pRenderVertices[0].position[1], 40, 1e-4f); // still its file position
}

// The demo dancers that the build generates.
TEST(IKModel, GeneratedDancersLoadClosedAndBend)
{
    for (const char* name : {"dancer_slim.xml", "dancer_broad.xml"})
    {
        SCOPED_TRACE(name);
        g_DataPath = std::string(VELMORA_PLUGIN_DIR) + "/data/";
        CIKModel m;
        ASSERT_TRUE(m.LoadFile((g_DataPath + name).c_str()));
        ASSERT_EQ(m.m_Solvers.size(), 4u);
        ASSERT_EQ(m.m_Controls.size(), 5u);
        EXPECT_EQ(m.m_Controls[4].m_Name, "$ROOT");
        for (const CIKControl& c : m.m_Controls)
        {
            EXPECT_GE(c.m_Keys.size(), 2u);
            EXPECT_LE(c.m_Keys.size(), 3u);
            EXPECT_TRUE(c.m_Name == "$ROOT" || c.m_pSolver);
        }
        EXPECT_GE(m.m_NumTriangles, 300);
        EXPECT_LE(m.m_NumTriangles, 5000);
        for (const char* joint : {"Hips", "Spine", "Chest", "Neck", "Head", "LeftShoulder", "RightElbow",
                                  "LeftWrist", "RightHip", "LeftKnee", "RightAnkle"})
            EXPECT_GE(m.FindJoint(joint), 0) << joint;
        EXPECT_EQ(m.m_pRestRoot->GetName(), "Hips");

        // Closed: every edge is shared by exactly two triangles, in opposite directions.
        std::map<std::pair<int, int>, int> edges;
        for (int t = 0; t < m.m_NumTriangles; ++t)
            for (int k = 0; k < 3; ++k)
                ++edges[{m.m_pTriangles[t].vertexIndices[k], m.m_pTriangles[t].vertexIndices[(k + 1) % 3]}];
        for (const auto& e : edges)
        {
            ASSERT_EQ(e.second, 1);
            ASSERT_EQ(edges.count({e.first.second, e.first.first}), 1u);
        }

        RunPass(m);
        float height = m.m_BoxMax.y - m.m_BoxMin.y;
        EXPECT_GT(height, 170);
        EXPECT_LT(height, 190);
        CVector3 restHand = m.m_Controls[0].m_Target;

        // Every control to its first key: the left hand rises visibly.
        for (CIKControl& c : m.m_Controls)
            c.NextKey();
        RunPass(m);
        CVector3 hand = m.m_Controls[0].m_Target;
        EXPECT_GT(hand.y - restHand.y, 15) << hand.y;
        CVector3 asked = m.m_Solvers[0]->GetHome() + m.m_Controls[0].m_KeyPosition;
        EXPECT_LT((hand - asked).Length(), (restHand - asked).Length() * 0.5f);
    }
}
