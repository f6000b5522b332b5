// A keyed target of an inverse-kinematics model whose offset moves with
// the music band it is linked to.
#ifndef VELMORA_CIKCONTROL_H
#define VELMORA_CIKCONTROL_H

#include "math/CVector3.h"

#include <string>
#include <vector>

class CIKSolver;

class CIKControl
{
public:
    CIKControl();
    CIKControl(const CIKControl& other) = default;
    CIKControl& operator=(const CIKControl& other) = default;
    ~CIKControl() = default;

    void Update(float dt);
    void ComputeOffset(int mode);
    void NextKey();

    std::string m_Name;
    float m_Scale;
    int m_Mode;
    CVector3 m_Offset;
    CVector3 m_Target;
    CVector3 m_KeyPosition;
    int m_Type;
    float m_Phase;
    CIKSolver* m_pSolver;
    int m_KeyIndex;
    std::vector<CVector3> m_Keys;
};

#endif
