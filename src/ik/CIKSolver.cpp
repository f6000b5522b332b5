#include "ik/CIKSolver.h"

#include "ik/CIKBone.h"
#include "math/CAxisAngle.h"

// Angle turned per unit of the Jacobian-transpose step.
static const float kStepGain = 0.00001f;
// Links turn from index 1 up, each relative to the next link's world (or the
// base): the inverses below index 2 are never read.
static const size_t kFirstInverse = 2;

CIKSolver::CIKSolver()
    : m_Tolerance(1.0f), m_IterationCap(100), m_PassCount(0)
{
}

CIKSolver::~CIKSolver() = default;

void CIKSolver::TakeBase()
{
    m_Base.SetIdentity();
    m_BaseInverse.SetIdentity();
    if (m_Chain.empty())
        return;
    if (const CIKBone* parent = m_Chain.back()->GetParent())
    {
        m_Base = parent->m_World;
        m_Base.Inverse(m_BaseInverse);
    }
}

void CIKSolver::BuildChain(CIKBone* endBone, CIKBone* startBone)
{
    std::vector<CIKBone*>().swap(m_Chain);
    for (CIKBone* bone = endBone; bone; bone = bone->GetParent())
    {
        m_Chain.push_back(bone);
        if (bone == startBone)
            break;
    }
    size_t length = m_Chain.size();
    m_Rotations.assign(length, CQuaternion());
    m_World.assign(length, CMatrix4());
    m_InverseWorld.assign(length, CMatrix4());
    SnapshotChain();
    TakeBase();
}

void CIKSolver::SnapshotChain()
{
    for (size_t k = 0; k < m_Chain.size(); ++k)
    {
        m_Rotations[k] = m_Chain[k]->m_LocalRotation;
        m_World[k] = m_Chain[k]->m_World;
        if (k >= kFirstInverse)
            m_World[k].Inverse(m_InverseWorld[k]);
    }
}

void CIKSolver::Solve()
{
    m_PassCount = 0;
    if (m_Chain.empty())
        return;
    TakeBase();
    SnapshotChain();
    const int n = static_cast<int>(m_Chain.size()) - 1;
    // Same sizes every solve: after the first, nothing is allocated.
    m_Jacobian.resize(6 * n);
    m_JacobianT.resize(6 * n);
    m_AngleSteps.resize(n);
    m_Axes.resize(n);

    bool stepped;
    do
    {
        const CVector3 end = m_World[0].GetTranslation();
        const CVector3 error = end - m_Target;
        const float distance = error.Length();
        stepped = distance > m_Tolerance;
        if (stepped)
        {
            for (int i = 0; i < n; ++i)
            {
                const CVector3 pivot = m_World[i + 1].GetTranslation();
                const CVector3 toTarget = m_Target - pivot;
                const CVector3 toEnd = end - pivot;
                CVector3 axis = CVector3::Cross(toTarget, toEnd);
                axis.Normalize();
                m_Axes[i] = axis;
                const CVector3 c = CVector3::Cross(toEnd, axis);
                m_Jacobian[0 * n + i] = c.x;
                m_Jacobian[1 * n + i] = c.y;
                m_Jacobian[2 * n + i] = c.z;
                m_Jacobian[3 * n + i] = axis.x;
                m_Jacobian[4 * n + i] = axis.y;
                m_Jacobian[5 * n + i] = axis.z;
            }
            for (int r = 0; r < 6; ++r)
                for (int i = 0; i < n; ++i)
                    m_JacobianT[6 * i + r] = m_Jacobian[r * n + i];
            for (int i = 0; i < n; ++i)
            {
                const float* row = &m_JacobianT[6 * i];
                m_AngleSteps[i] = row[0] * error.x + row[1] * error.y + row[2] * error.z;
            }
            for (int i = 0; i < n; ++i)
            {
                const CVector3& axis = m_Axes[i];
                // Target, pivot and end point on one line: no axis, no turn.
                if (axis.x == 0.0f && axis.y == 0.0f && axis.z == 0.0f)
                    continue;
                CQuaternion q;
                q.FromAxisAngle(CAxisAngle(axis, kStepGain * m_AngleSteps[i]));
                q.Normalize();
                ApplyLinkRotation(q, i + 1);
            }
            ForwardKinematics(n);
        }
        ++m_PassCount;
    } while (m_PassCount < m_IterationCap && stepped);

    WriteBackRotations();
}

void CIKSolver::ApplyLinkRotation(const CQuaternion& rotation, int chainIndex)
{
    const int last = static_cast<int>(m_Chain.size()) - 1;
    const CMatrix4 turn = rotation.GetMatrix();
    const CMatrix4& parentInverse = chainIndex == last ? m_BaseInverse : m_InverseWorld[chainIndex + 1];
    // world . turn . parentInverse, in standard order.
    CMatrix4 m;
    CMatrix4::Multiply(m, turn, m_World[chainIndex]);
    CMatrix4::Multiply(m, parentInverse, m);
    m_Rotations[chainIndex].FromMatrix(m);
    m_Rotations[chainIndex].Normalize();
}

void CIKSolver::ForwardKinematics(int highestIndex)
{
    const int last = static_cast<int>(m_Chain.size()) - 1;
    for (int k = highestIndex; k >= 0; --k)
    {
        const CMatrix4& parent = k == last ? m_Base : m_World[k + 1];
        CMatrix4 local;
        local.SetRotationTranslation(m_Rotations[k], m_Chain[k]->m_LocalPosition);
        CMatrix4::Multiply(m_World[k], parent, local); // local . parent
        if (k >= static_cast<int>(kFirstInverse))
            m_World[k].Inverse(m_InverseWorld[k]);
    }
}

void CIKSolver::WriteBackRotations()
{
    for (size_t k = 0; k < m_Chain.size(); ++k)
        m_Chain[k]->m_LocalRotation = m_Rotations[k];
}
