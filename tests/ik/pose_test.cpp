// The dancers' poses after real passes: every bone matrix the solvers invert
// is affine and its inverse is the general one, and the skinned mesh is the
// one recorded before the inverse took its shorter way.
#include <gtest/gtest.h>

#include "ik/CIKBone.h"
#include "ik/CIKModel.h"
#include "ik/CIKSolver.h"
#include "main.h"
#include "plugin.h"

#include <string>
#include <vector>

namespace
{
// As velmora-pose MODEL --passes 10 --bass 0.8 --medium 0.5 --treble 0.1 --key all.
bool PoseDancer(CIKModel& model, const char* file)
{
    g_DataPath = std::string(VELMORA_PLUGIN_DIR) + "/data/";
    if (!model.LoadFile((g_DataPath + file).c_str()) || model.m_Controls.empty())
        return false;
    for (CIKControl& c : model.m_Controls)
        c.NextKey();
    g_fBass = 0.8f;
    g_fMedium = 0.5f;
    g_fTreble = 0.1f;
    for (int pass = 0; pass < 10; ++pass)
    {
        model.ResetPose();
        model.UpdateControls(0.025f);
        model.SolveAll();
        model.ApplyToMesh();
    }
    g_fBass = g_fMedium = g_fTreble = 0;
    return true;
}

void CollectWorlds(const CIKBone* bone, std::vector<CMatrix4>& out)
{
    out.push_back(bone->m_World);
    for (int i = 0; i < bone->GetChildCount(); ++i)
        CollectWorlds(bone->GetChild(i), out);
}

void ExpectExactInverse(const CMatrix4& world, const CMatrix4& inverse)
{
    CMatrix4 general;
    world.InverseGeneral(general);
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            EXPECT_EQ(inverse.m[r][c], general.m[r][c]);
}

struct RecordedVertex
{
    int index;
    float x, y, z;
};

struct Dancer
{
    const char* file;
    RecordedVertex vertices[4];
};

// Skinned corners of the arms and legs, written by velmora-pose before the change.
const Dancer kDancers[] = {
    {"dancer_slim.xml",
     {{1320, 15.736039f, 137.091202f, -0.975697f},
      {1760, 38.844730f, 125.256844f, -50.218235f},
      {2200, 10.676425f, 49.067993f, 28.127287f},
      {2640, -30.055347f, 113.073036f, -10.704946f}}},
    {"dancer_broad.xml",
     {{1320, 23.007919f, 134.360062f, -2.295777f},
      {1760, 47.484234f, 123.298073f, -48.929344f},
      {2200, 15.640414f, 49.575867f, 28.296780f},
      {2640, -37.767113f, 112.446228f, -10.716216f}}},
};
} // namespace

TEST(IKPose, BoneInversesAreTheGeneralOnes)
{
    for (const Dancer& dancer : kDancers)
    {
        SCOPED_TRACE(dancer.file);
        CIKModel model;
        ASSERT_TRUE(PoseDancer(model, dancer.file));
        std::vector<CMatrix4> worlds;
        CollectWorlds(model.m_pWorkRoot, worlds);
        ASSERT_GT(worlds.size(), 10u);
        for (const CMatrix4& world : worlds)
        {
            ASSERT_TRUE(world.IsAffine());
            ExpectExactInverse(world, world.Inverse());
        }
        // What the solvers keep of their last pass: the inverses they read.
        for (const CIKSolver* solver : model.m_Solvers)
        {
            ExpectExactInverse(solver->m_Base, solver->m_BaseInverse);
            for (size_t k = 2; k < solver->m_World.size(); ++k)
                ExpectExactInverse(solver->m_World[k], solver->m_InverseWorld[k]);
        }
    }
}

TEST(IKPose, SkinnedMeshIsTheRecordedOne)
{
    for (const Dancer& dancer : kDancers)
    {
        SCOPED_TRACE(dancer.file);
        CIKModel model;
        ASSERT_TRUE(PoseDancer(model, dancer.file));
        ASSERT_EQ(model.m_NumRenderVertices, 3528);
        for (const RecordedVertex& v : dancer.vertices)
        {
            const float* p = model.m_pRenderVertices[v.index].position;
            EXPECT_NEAR(p[0], v.x, 1e-4f) << "corner " << v.index;
            EXPECT_NEAR(p[1], v.y, 1e-4f) << "corner " << v.index;
            EXPECT_NEAR(p[2], v.z, 1e-4f) << "corner " << v.index;
        }
    }
}
