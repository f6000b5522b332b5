#include <gtest/gtest.h>

#include "ik/CIKBone.h"
#include "ik/CIKSolver.h"

#include <math.h>

namespace
{
CIKBone* MakeBone(const char* name, CVector3 position, CIKBone* parent = nullptr)
{
    CIKBone* bone = new CIKBone;
    bone->SetName(name);
    bone->m_LocalPosition = position;
    if (parent)
        parent->AddChild(bone);
    return bone;
}

void ExpectNear(const CVector3& v, float x, float y, float z, float eps = 1e-4f)
{
    EXPECT_NEAR(v.x, x, eps);
    EXPECT_NEAR(v.y, y, eps);
    EXPECT_NEAR(v.z, z, eps);
}
} // namespace

TEST(IKBone, WorldMatricesFollowTheParents)
{
    CIKBone fresh;
    EXPECT_EQ(fresh.GetParent(), nullptr);
    EXPECT_EQ(fresh.GetChildCount(), 0);
    ExpectNear(fresh.m_LocalPosition, 0, 1, 0, 0);
    EXPECT_EQ(fresh.m_LocalRotation.w, 1);
    EXPECT_EQ(fresh.m_World.m[3][1], 0);
    EXPECT_EQ(fresh.GetName(), "");
    EXPECT_EQ(fresh.m_JointIndex, -1);

    CIKBone* root = MakeBone("root", CVector3(1, 2, 3));
    CIKBone* child = MakeBone("child", CVector3(0, 5, 0), root);
    root->UpdateWorld(false);
    ExpectNear(root->m_World.GetTranslation(), 1, 2, 3);
    ExpectNear(child->m_World.GetTranslation(), 0, 0, 0); // not recursive: untouched
    root->UpdateWorld(true);
    ExpectNear(child->m_World.GetTranslation(), 1, 7, 3);

    // The parent's rotation turns the child's offset.
    root->m_LocalPosition = CVector3();
    root->m_LocalRotation = CQuaternion(0, 0, 0.7071068f, 0.7071068f);
    child->m_LocalPosition = CVector3(1, 0, 0);
    root->UpdateWorld(true);
    ExpectNear(child->m_World.GetTranslation(), 0, 1, 0);
    EXPECT_EQ(child->GetParent(), root);
    delete root; // deletes the child too (checked by the sanitizer build)
}

TEST(IKBone, FindCloneAndCopyPose)
{
    CIKBone* root = MakeBone("a", CVector3(0, 0, 0));
    CIKBone* left = MakeBone("b", CVector3(1, 0, 0), root);
    CIKBone* deep = MakeBone("x", CVector3(0, 1, 0), left);
    CIKBone* right = MakeBone("x", CVector3(0, 0, 1), root);
    MakeBone("b", CVector3(0, 0, 2), right);
    EXPECT_EQ(root->FindByName("x"), deep); // pre-order: the earlier child's subtree first
    EXPECT_EQ(root->FindByName("b"), left);
    EXPECT_EQ(root->FindByName("X"), nullptr);
    EXPECT_EQ(root->FindByName("none"), nullptr);

    // A clone of a bone under a rotated parent starts from its own local transform.
    CIKBone* parent = MakeBone("p", CVector3(5, 5, 5));
    parent->m_LocalRotation = CQuaternion(0, 0, 0.7071068f, 0.7071068f);
    parent->AddChild(root);
    parent->UpdateWorld(true);
    root->m_LocalRotation = CQuaternion(0.6f, 0, 0, 0.8f);
    CIKBone* copy = root->Clone();
    EXPECT_EQ(copy->GetParent(), nullptr);
    CMatrix4 local;
    local.SetRotationTranslation(root->m_LocalRotation, root->m_LocalPosition);
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            EXPECT_FLOAT_EQ(copy->m_World.m[r][c], local.m[r][c]);
    ASSERT_EQ(copy->GetChildCount(), 2);
    EXPECT_EQ(copy->GetChild(0)->GetParent(), copy);
    EXPECT_EQ(copy->GetChild(0)->GetChild(0)->GetParent(), copy->GetChild(0));
    EXPECT_EQ(copy->FindByName("x")->GetName(), "x");
    EXPECT_NE(copy->FindByName("x"), deep);

    // The copy is independent of the source.
    copy->GetChild(0)->m_LocalPosition = CVector3(9, 9, 9);
    ExpectNear(left->m_LocalPosition, 1, 0, 0, 0);

    // CopyPose: pose only, not names or world matrices.
    copy->GetChild(0)->SetName("renamed");
    CMatrix4 before = copy->GetChild(0)->m_World;
    copy->CopyPose(root);
    ExpectNear(copy->GetChild(0)->m_LocalPosition, 1, 0, 0, 0);
    EXPECT_EQ(copy->GetChild(0)->GetName(), "renamed");
    EXPECT_EQ(copy->GetChild(0)->m_World.m[3][0], before.m[3][0]);
    CIKBone single;
    single.CopyPose(deep);
    ExpectNear(single.m_LocalPosition, 0, 1, 0, 0);
    delete copy;
    delete parent;
}

namespace
{
// The two-bone arm of the worked example: root at the origin, tip 10 above.
struct Arm
{
    CIKBone* root = MakeBone("root", CVector3(0, 0, 0));
    CIKBone* tip = MakeBone("tip", CVector3(0, 10, 0), root);
    CIKSolver solver;
    Arm()
    {
        root->UpdateWorld(true);
        solver.BuildChain(tip, root);
        solver.m_Tolerance = 0.1f;
        solver.m_IterationCap = 400;
    }
    ~Arm() { delete root; }
};
} // namespace

TEST(IKSolver, WorkedExampleTurnsTheRootTowardTheTarget)
{
    Arm arm;
    arm.solver.m_Target = CVector3(5, 8.66f, 0);
    arm.solver.m_IterationCap = 1;
    arm.solver.Solve();
    EXPECT_EQ(arm.solver.GetPassCount(), 1);
    const CQuaternion& q = arm.root->m_LocalRotation;
    EXPECT_NEAR(q.x, 0, 1e-7f);
    EXPECT_NEAR(q.y, 0, 1e-7f);
    EXPECT_NEAR(q.z, -0.00025f, 1e-7f);
    EXPECT_NEAR(q.w, 0.99999997f, 1e-7f);
    arm.root->UpdateWorld(true);
    ExpectNear(arm.tip->m_World.GetTranslation(), 0.005f, 9.9999988f, 0, 1e-5f);

    // A full solve gets nearer (a short arm turns slowly under the fixed
    // gain); positions and the end rotation stay.
    arm.tip->m_LocalRotation = CQuaternion(0, 0.6f, 0, 0.8f);
    arm.root->m_LocalRotation = CQuaternion();
    arm.root->UpdateWorld(true);
    arm.solver.m_IterationCap = 400;
    arm.solver.Solve();
    arm.root->UpdateWorld(true);
    CVector3 miss = arm.tip->m_World.GetTranslation() - CVector3(5, 8.66f, 0);
    EXPECT_LT(miss.Length(), 4.0f); // from 5.18
    ExpectNear(arm.root->m_LocalPosition, 0, 0, 0, 0);
    EXPECT_EQ(arm.tip->m_LocalRotation.y, 0.6f);
    EXPECT_EQ(arm.tip->m_LocalRotation.w, 0.8f);
}

TEST(IKSolver, PassesStopAtToleranceOrCap)
{
    Arm arm;
    arm.root->m_LocalRotation = CQuaternion(0, 0, 0.1f, 0.99498744f);
    arm.root->UpdateWorld(true);
    CVector3 end = arm.tip->m_World.GetTranslation();

    arm.solver.m_Target = end + CVector3(0.05f, 0, 0); // within tolerance
    arm.solver.Solve();
    EXPECT_EQ(arm.solver.GetPassCount(), 1);
    EXPECT_EQ(arm.root->m_LocalRotation.z, 0.1f);
    EXPECT_EQ(arm.root->m_LocalRotation.w, 0.99498744f);

    arm.solver.m_Tolerance = 0.5f; // exactly at the tolerance: reached
    arm.solver.m_Target = end + CVector3(0, 0, 0.5f);
    arm.solver.Solve();
    EXPECT_EQ(arm.solver.GetPassCount(), 1);
    EXPECT_EQ(arm.root->m_LocalRotation.z, 0.1f);

    arm.solver.m_Tolerance = 0.1f; // out of reach: the whole cap, each pass a step
    arm.solver.m_Target = CVector3(30, 0, 0);
    arm.solver.Solve();
    EXPECT_EQ(arm.solver.GetPassCount(), 400);
    EXPECT_NE(arm.root->m_LocalRotation.z, 0.1f);

    // Target, pivot and end on one line: no axis, no turn, yet every pass runs.
    arm.root->m_LocalRotation = CQuaternion();
    arm.root->UpdateWorld(true);
    arm.solver.m_Target = CVector3(0, 30, 0);
    arm.solver.Solve();
    EXPECT_EQ(arm.solver.GetPassCount(), 400);
    EXPECT_EQ(arm.root->m_LocalRotation.x, 0);
    EXPECT_EQ(arm.root->m_LocalRotation.z, 0);
    EXPECT_EQ(arm.root->m_LocalRotation.w, 1);
    EXPECT_FALSE(isnan(arm.root->m_LocalRotation.w));
}

TEST(IKSolver, ChainShapes)
{
    Arm arm;
    CIKSolver single; // n = 0: passes only measure
    single.BuildChain(arm.tip, arm.tip);
    EXPECT_EQ(single.GetChainLength(), 1);
    single.m_Target = CVector3(50, 0, 0);
    single.Solve();
    EXPECT_EQ(single.GetPassCount(), 100);
    EXPECT_EQ(arm.tip->m_LocalRotation.w, 1);

    // A start bone that is not an ancestor: the chain runs to the root, base identity.
    CIKBone* mid = MakeBone("mid", CVector3(0, 3, 0), arm.tip);
    CIKBone* other = MakeBone("other", CVector3(4, 0, 0), arm.root);
    arm.root->m_LocalPosition = CVector3(1, 1, 1);
    arm.root->UpdateWorld(true);
    CIKSolver stray;
    stray.BuildChain(mid, other);
    ASSERT_EQ(stray.GetChainLength(), 3);
    EXPECT_EQ(stray.GetEndBone(), mid);
    EXPECT_EQ(stray.m_Chain[2], arm.root);
    EXPECT_EQ(stray.m_Base.m[3][0], 0);

    // A chain whose start has a parent keeps that parent's world matrix as base.
    CIKSolver inner;
    inner.BuildChain(mid, arm.tip);
    EXPECT_EQ(inner.m_Base.m[3][0], 1);
    EXPECT_EQ(inner.m_Base.m[3][1], 1);

    // Empty chain: solving changes nothing.
    CIKSolver none;
    none.BuildChain(nullptr, nullptr);
    none.Solve();
    EXPECT_EQ(none.GetChainLength(), 0);
    EXPECT_EQ(none.GetPassCount(), 0);
    (void)other;
}
