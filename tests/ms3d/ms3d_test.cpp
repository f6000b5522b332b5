#include <gtest/gtest.h>

#include "anim_test_support.h"
#include "ms3d/CMs3d.h"

#include <math.h>

#include <algorithm>
#include <fstream>

using namespace animtest;

namespace
{
const float kPi = 3.14159265358979f;

bool Contains(const std::vector<std::string>& lines, const std::string& text)
{
    return std::find(lines.begin(), lines.end(), text) != lines.end();
}

void ExpectEmpty(const CMs3d& m)
{
    EXPECT_EQ(m.m_NumVertices, 0);
    EXPECT_EQ(m.m_NumTriangles, 0);
    EXPECT_EQ(m.m_NumRenderVertices, 0);
    EXPECT_EQ(m.m_NumGroups, 0);
    EXPECT_EQ(m.m_NumJoints, 0);
    EXPECT_EQ(m.m_pVertices, nullptr);
    EXPECT_EQ(m.m_pTriangles, nullptr);
    EXPECT_EQ(m.m_pRenderVertices, nullptr);
    EXPECT_EQ(m.m_pGroups, nullptr);
    EXPECT_EQ(m.m_pJoints, nullptr);
}
} // namespace

TEST(Ms3dLoad, EmptyFileLoadsAndLogsEveryCount)
{
    Ms3dFile f;
    f.totalFrames = 7;
    std::string path = f.Write("empty.ms3d");
    size_t mark = LogMark();
    CMs3d model;
    ASSERT_TRUE(model.Load(path.c_str()));
    std::vector<std::string> expected = {"====[MS3D MODEL LOADER Tab Start]====",
                                         "Loading file " + path,
                                         "version 4",
                                         "0 vertices",
                                         "0 triangles",
                                         "0 groups",
                                         "0 materials",
                                         "nb frames 7",
                                         "0 joints",
                                         "preparing joints...",
                                         "MS3D model loaded",
                                         "====[MS3D MODEL LOADER Tab End]===="};
    std::vector<std::string> lines = LogSince(mark);
    lines.erase(lines.begin()); // "MS3D constructor"
    EXPECT_EQ(lines, expected);
    std::string raw = LogTextSince(mark);
    EXPECT_NE(raw.find("[           CMs3d:: 172]\t\t0 vertices"), std::string::npos) << raw;
    EXPECT_NE(raw.find("[           CMs3d:: 352]\t\tpreparing joints..."), std::string::npos);

    model.Skin();
    EXPECT_EQ(model.m_BoxMin.x, 1000000.0f);
    EXPECT_EQ(model.m_BoxMax.z, -1000000.0f);
    EXPECT_EQ(model.FindJoint("Root"), -1);
    EXPECT_EQ(model.GetJoint(0), nullptr);
}

TEST(Ms3dLoad, SectionsAreReadInOrderWhateverFollows)
{
    Ms3dFile f = TwoBoneFile();
    f.groups = {{}, {1, 0}}; // the empty group's material byte follows its count
    f.materials = 2;
    f.joints[1].rotationKeys = 2;
    f.joints[1].positionKeys = 3;
    CMs3d plain;
    ASSERT_TRUE(plain.Load(f.Write("plain.ms3d").c_str()));

    f.trailer = std::string(200, '\x7f'); // further sections after the joints
    CMs3d extended;
    ASSERT_TRUE(extended.Load(f.Write("extended.ms3d").c_str()));
    for (CMs3d* m : {&plain, &extended})
    {
        ASSERT_EQ(m->m_NumGroups, 2);
        EXPECT_EQ(m->m_pGroups[0].numTriangles, 0);
        ASSERT_EQ(m->m_pGroups[1].numTriangles, 2);
        EXPECT_EQ(m->m_pGroups[1].triangleIndices[0], 1);
        EXPECT_EQ(m->m_pGroups[1].triangleIndices[1], 0);
        ASSERT_EQ(m->m_NumJoints, 2);
        EXPECT_STREQ(m->m_pJoints[1].name, "Tip");
        EXPECT_FLOAT_EQ(m->m_pJoints[1].position[1], 10.0f);
        EXPECT_EQ(m->m_NumRenderVertices, 6);
    }

    CMs3d missing;
    size_t mark = LogMark();
    EXPECT_FALSE(missing.Load((ScratchDir() + "/nothing.ms3d").c_str()));
    EXPECT_TRUE(Contains(LogSince(mark), "couldn open file"));
    ExpectEmpty(missing);

    // A folder is no file either.
    mark = LogMark();
    EXPECT_FALSE(missing.Load(ScratchDir().c_str()));
    EXPECT_FALSE(missing.Load((ScratchDir() + "/").c_str()));
    const std::vector<std::string> folderLines = LogSince(mark);
    EXPECT_EQ(std::count(folderLines.begin(), folderLines.end(), std::string("couldn open file")), 2);
    EXPECT_FALSE(Contains(folderLines, "model refused: file ends in the header"));
    ExpectEmpty(missing);
}

TEST(Ms3dJoints, MatricesFollowTheFileOrder)
{
    Ms3dFile f;
    f.joints = {Joint("Child", "Parent", 0, 5, 0, kPi / 2, 0, 0), Joint("Parent", "", 1, 2, 3),
                Joint("Orphan", "Nobody", 4, 0, 0), Joint("Under", "Parent", 0, 1, 0)};
    CMs3d m;
    ASSERT_TRUE(m.Load(f.Write("joints.ms3d").c_str()));
    const CMs3dJoint* child = m.GetJoint(0);
    EXPECT_EQ(child->parentIndex, 1);
    EXPECT_NEAR(child->local.m[1][1], 0, 1e-6f);
    EXPECT_NEAR(child->local.m[1][2], 1, 1e-6f);
    EXPECT_NEAR(child->local.m[2][1], -1, 1e-6f);
    EXPECT_NEAR(child->local.m[2][2], 0, 1e-6f);
    EXPECT_FLOAT_EQ(child->local.m[3][1], 5);
    EXPECT_FLOAT_EQ(child->local.m[3][3], 1);
    // Listed before its parent: absolute = local . identity.
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            EXPECT_EQ(child->absolute.m[r][c], child->local.m[r][c]);
    EXPECT_EQ(m.GetJoint(1)->parentIndex, -1);
    EXPECT_EQ(m.GetJoint(2)->parentIndex, -1);
    EXPECT_FLOAT_EQ(m.GetJoint(2)->absolute.m[3][0], 4);
    // After its parent: absolute = local . parent's absolute.
    EXPECT_FLOAT_EQ(m.GetJoint(3)->absolute.m[3][1], 3);
    EXPECT_FLOAT_EQ(m.GetJoint(3)->final.m[3][2], 3);
    EXPECT_EQ(m.GetJoint(-1), nullptr);
    EXPECT_EQ(m.GetJoint(4), nullptr);
}

TEST(Ms3dJoints, FindJointIsExactAndFirstWins)
{
    Ms3dFile f;
    f.joints = {Joint("Arm", "", 0, 0, 0), Joint("Leg", "", 0, 0, 0), Joint("Arm", "", 0, 0, 0),
                Joint(std::string(32, 'N'), "", 0, 0, 0)};
    CMs3d m;
    ASSERT_TRUE(m.Load(f.Write("names.ms3d").c_str()));
    EXPECT_EQ(m.FindJoint("Arm"), 0);
    EXPECT_EQ(m.FindJoint("Leg"), 1);
    EXPECT_EQ(m.FindJoint("arm"), -1);
    EXPECT_EQ(m.FindJoint("Ar"), -1);
    // A name filling its whole field has no terminator.
    EXPECT_EQ(m.FindJoint(std::string(32, 'N').c_str()), 3);
    EXPECT_EQ(m.FindJoint(std::string(33, 'N').c_str()), -1);
}

TEST(Ms3dSkin, RestPoseReproducesTheFile)
{
    Ms3dFile f = TwoBoneFile();
    f.joints[0] = Joint("Root", "", 1, 2, 3, 0.3f, -0.7f, 1.1f);
    f.joints[1] = Joint("Tip", "Root", 0, 10, 0, -0.5f, 0.2f, 0.4f);
    f.vertices.push_back({7, 8, 9, -1}); // no bone
    const float s = 0.6f, c = 0.8f;
    f.triangles[1] = {{3, 4, 6}, {{s, c, 0}, {0, s, c}, {c, 0, s}}};
    CMs3d m;
    ASSERT_TRUE(m.Load(f.Write("rest.ms3d").c_str()));
    // In bone space the positions have moved, except the unbound vertex.
    EXPECT_GT(fabsf(m.m_pVertices[0].position[0] + 1), 0.01f);
    EXPECT_EQ(m.m_pVertices[6].position[0], 7);
    m.Skin();
    for (int t = 0; t < 2; ++t)
        for (int k = 0; k < 3; ++k)
        {
            const TestVertex& v = f.vertices[f.triangles[t].v[k]];
            const CMs3dRenderVertex& r = m.m_pRenderVertices[3 * t + k];
            EXPECT_NEAR(r.position[0], v.x, 1e-4f);
            EXPECT_NEAR(r.position[1], v.y, 1e-4f);
            EXPECT_NEAR(r.position[2], v.z, 1e-4f);
            for (int a = 0; a < 3; ++a)
                EXPECT_NEAR(r.normal[a], f.triangles[t].n[k][a], 1e-5f);
        }
    EXPECT_FLOAT_EQ(m.m_BoxMin.x, -1);
    EXPECT_FLOAT_EQ(m.m_BoxMax.y, 10);
    EXPECT_FLOAT_EQ(m.m_BoxMax.z, 9);

    // Moving a joint moves only its vertices; the unbound one stays.
    m.m_pJoints[1].final.m[3][0] += 100;
    m.Skin();
    EXPECT_NEAR(m.m_pRenderVertices[3].position[0], -1 + 100, 1e-3f);
    EXPECT_NEAR(m.m_pRenderVertices[0].position[0], -1, 1e-4f);
    EXPECT_NEAR(m.m_pRenderVertices[5].position[0], 7, 1e-6f);
}

TEST(Ms3dLoad, FreeThenLoadKeepsNothingOfTheFirstModel)
{
    Ms3dFile big = TwoBoneFile();
    Ms3dFile small;
    small.vertices = {{0, 0, 0, -1}, {1, 0, 0, -1}, {0, 1, 0, -1}};
    small.triangles = {{{0, 1, 2}, {{0, 0, 1}, {0, 0, 1}, {0, 0, 1}}}};
    CMs3d m;
    ASSERT_TRUE(m.Load(big.Write("big.ms3d").c_str()));
    m.m_Tint[0] = 0.1f;
    m.Free();
    ExpectEmpty(m);
    EXPECT_FLOAT_EQ(m.m_Tint[0], 1.0f);
    ASSERT_TRUE(m.Load(small.Write("small.ms3d").c_str()));
    EXPECT_EQ(m.m_NumVertices, 3);
    EXPECT_EQ(m.m_NumJoints, 0);
    EXPECT_EQ(m.m_NumGroups, 0);
    EXPECT_EQ(m.FindJoint("Root"), -1);
    m.Free();
    m.Free();
    ExpectEmpty(m);
}

// Files that break the layout or an index invariant are refused whole.
TEST(Ms3dRefusal, BrokenFilesLeaveTheModelEmpty)
{
    Ms3dFile f = TwoBoneFile();
    f.materials = 1;
    f.joints[1].rotationKeys = 1;
    const std::string good = f.Build();
    {
        CMs3d m;
        ASSERT_TRUE(m.Load(WriteScratchFile("good.ms3d", good).c_str()));
    }
    // Cut anywhere: the file ends early.
    for (size_t length = 0; length < good.size(); ++length)
    {
        CMs3d m;
        size_t mark = LogMark();
        EXPECT_FALSE(m.Load(WriteScratchFile("cut.ms3d", good.substr(0, length)).c_str())) << length;
        ExpectEmpty(m);
        std::string log = LogTextSince(mark);
        EXPECT_NE(log.find("model refused: file ends"), std::string::npos) << length;
        EXPECT_EQ(log.find("MS3D model loaded"), std::string::npos);
    }

    auto refused = [](Ms3dFile file, const char* why) {
        CMs3d m;
        size_t mark = LogMark();
        EXPECT_FALSE(m.Load(file.Write("bad.ms3d").c_str())) << why;
        ExpectEmpty(m);
        EXPECT_TRUE(Contains(LogSince(mark), std::string("model refused: ") + why)) << LogTextSince(mark);
    };
    Ms3dFile badVertex = TwoBoneFile();
    badVertex.triangles[0].v[2] = 6;
    refused(badVertex, "triangle vertex index out of range");
    Ms3dFile badGroup = TwoBoneFile();
    badGroup.groups = {{0, 2}};
    refused(badGroup, "group triangle index out of range");
    Ms3dFile badBone = TwoBoneFile();
    badBone.vertices[4].bone = 2;
    refused(badBone, "vertex bone index out of range");
    Ms3dFile farBone = TwoBoneFile();
    farBone.vertices[4].bone = 127;
    refused(farBone, "vertex bone index out of range");

    // Counts larger than the data.
    std::string lying = good;
    lying[14] = 100; // vertex count
    CMs3d m;
    EXPECT_FALSE(m.Load(WriteScratchFile("lying.ms3d", lying).c_str()));
    ExpectEmpty(m);

    // 21846 triangles no longer fit the 16-bit render-vertex count.
    Ms3dFile many;
    many.vertices = {{0, 0, 0, -1}, {1, 0, 0, -1}, {0, 1, 0, -1}};
    many.triangles.assign(21846, {{0, 1, 2}, {{0, 0, 1}, {0, 0, 1}, {0, 0, 1}}});
    refused(many, "too many triangles");
    many.triangles.resize(21845);
    CMs3d most;
    EXPECT_TRUE(most.Load(many.Write("most.ms3d").c_str()));
    EXPECT_EQ(most.m_NumRenderVertices, 65535);
}

// Public models that no one on the project wrote.
TEST(Ms3dRealFiles, LoadAndSkinBackToTheirRestPositions)
{
    const std::string dir = std::string(VELMORA_REAL_TESTDATA) + "/ms3d/";
    const std::string woman = ReadFile(dir + "Woman4.ms3d");
    if (woman.empty())
        GTEST_SKIP() << "no real test data";

    CMs3d m;
    ASSERT_TRUE(m.Load((dir + "Woman4.ms3d").c_str()));
    EXPECT_EQ(m.m_NumVertices, 1789);
    EXPECT_EQ(m.m_NumTriangles, 3450);
    EXPECT_EQ(m.m_NumGroups, 10);
    EXPECT_EQ(m.m_NumJoints, 31);
    int hips = m.FindJoint("Hips");
    ASSERT_GE(hips, 0);
    EXPECT_EQ(m.GetJoint(hips)->parentIndex, -1);
    m.Skin();
    // The file's own vertex positions, read straight from its bytes.
    auto u16 = [&](size_t at) { return uint16_t(uint8_t(woman[at]) | uint8_t(woman[at + 1]) << 8); };
    auto f32 = [&](size_t at) {
        float v;
        memcpy(&v, woman.data() + at, 4);
        return v;
    };
    const size_t vertices = 16, triangles = vertices + 15 * 1789 + 2;
    float worst = 0;
    for (int t = 0; t < 3450; ++t)
        for (int k = 0; k < 3; ++k)
        {
            size_t v = vertices + 15 * size_t(u16(triangles + 70 * t + 2 + 2 * k));
            for (int c = 0; c < 3; ++c)
                worst = std::max(worst, fabsf(m.m_pRenderVertices[3 * t + k].position[c] - f32(v + 1 + 4 * c)));
        }
    EXPECT_LT(worst, 1e-3f);

    for (const char* name : {"Box.ms3d", "Wuson.ms3d", "jeep1.ms3d", "twospheres.ms3d", "twospheres_withmats.ms3d"})
    {
        CMs3d other;
        EXPECT_TRUE(other.Load((dir + name).c_str())) << name;
        EXPECT_GT(other.m_NumTriangles, 0) << name;
        other.Skin();
        EXPECT_LE(other.m_BoxMin.x, other.m_BoxMax.x) << name;
    }
    CMs3d box;
    ASSERT_TRUE(box.Load((dir + "Box.ms3d").c_str()));
    bool emptyGroup = false;
    for (int g = 0; g < box.m_NumGroups; ++g)
        emptyGroup |= box.m_pGroups[g].numTriangles == 0;
    EXPECT_TRUE(emptyGroup);
    CMs3d wuson;
    ASSERT_TRUE(wuson.Load((dir + "Wuson.ms3d").c_str()));
    EXPECT_EQ(wuson.m_NumJoints, 0);
}
