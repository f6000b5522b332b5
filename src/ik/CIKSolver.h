// Jacobian-transpose solver of one bone chain: turns the chain's local
// rotations so that the end bone's origin moves toward the target.
#ifndef VELMORA_CIKSOLVER_H
#define VELMORA_CIKSOLVER_H

#include "math/CMatrix4.h"
#include "math/CQuaternion.h"
#include "math/CVector3.h"

#include <string>
#include <vector>

class CIKBone;

class CIKSolver
{
public:
    CIKSolver();
    ~CIKSolver();

    void SetName(const std::string& name) { m_Name = name; }
    std::string GetName() const { return m_Name; }
    const std::string& Name() const { return m_Name; }
    void SetHome(const CVector3& home) { m_Home = home; }
    CVector3 GetHome() const { return m_Home; }

    void BuildChain(CIKBone* endBone, CIKBone* startBone);
    void Solve();
    CIKBone* GetEndBone() const { return m_Chain[0]; }
    int GetChainLength() const { return static_cast<int>(m_Chain.size()); }
    // Passes run by the last solve.
    int GetPassCount() const { return m_PassCount; }

    void SnapshotChain();
    void ApplyLinkRotation(const CQuaternion& rotation, int chainIndex);
    void ForwardKinematics(int highestIndex);
    void WriteBackRotations();

    CIKSolver(const CIKSolver&) = delete;
    CIKSolver& operator=(const CIKSolver&) = delete;

    std::string m_Name;
    CVector3 m_Home;
    CVector3 m_Target;
    float m_Tolerance;
    int m_IterationCap;
    std::vector<CIKBone*> m_Chain;
    CMatrix4 m_Base;
    CMatrix4 m_BaseInverse;
    std::vector<CQuaternion> m_Rotations;
    std::vector<CMatrix4> m_World;
    // Inverses of the links' world matrices from index 2 up: a link is only
    // ever turned relative to the link two above the end bone or higher, so
    // entries 0 and 1 are not kept (they stay the identity).
    std::vector<CMatrix4> m_InverseWorld;
    std::vector<float> m_Jacobian;
    std::vector<float> m_JacobianT;
    std::vector<float> m_AngleSteps;
    std::vector<CVector3> m_Axes;

private:
    void TakeBase();

    int m_PassCount;
};

#endif
