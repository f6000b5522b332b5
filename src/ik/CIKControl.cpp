#include "ik/CIKControl.h"

#include "Logger.h"
#include "main.h"

#include <math.h>

static const float kAmplitude = 10.0f;

CIKControl::CIKControl()
    : m_Scale(1.0f), m_Mode(0), m_Type(1), m_Phase(0.0f), m_pSolver(nullptr), m_KeyIndex(-1)
{
}

void CIKControl::Update(float dt)
{
    float level;
    switch (m_Type)
    {
    case 2:
        level = g_fBass;
        break;
    case 3:
        level = g_fMedium;
        break;
    case 4:
        level = g_fTreble;
        break;
    default:
        // Unlinked: the motion stops where it is and restarts from phase 0.
        m_Phase = 0.0f;
        return;
    }
    m_Phase += level;
    ComputeOffset(m_Mode);
    m_Offset *= m_Scale;
}

void CIKControl::ComputeOffset(int mode)
{
    switch (mode)
    {
    case 0:
        m_Offset = CVector3(kAmplitude * sinf(m_Phase), kAmplitude * cosf(m_Phase), 0.0f);
        break;
    case 1:
        m_Offset = CVector3(0.0f, kAmplitude * cosf(m_Phase), 0.0f);
        break;
    case 2:
        m_Offset = CVector3(0.0f, 0.0f, kAmplitude * sinf(m_Phase));
        break;
    default:
        break;
    }
}

void CIKControl::NextKey()
{
    ++m_KeyIndex;
    if (m_Keys.empty() || m_KeyIndex >= static_cast<int>(m_Keys.size()))
        m_KeyIndex = -1;
    m_KeyPosition = m_KeyIndex == -1 ? CVector3() : m_Keys[m_KeyIndex];
    g_Logger.SetLocation("src\\ik\\CIKControl", 57);
    g_Logger.Printf("control next key %d %f %f %f", m_KeyIndex, m_KeyPosition.x, m_KeyPosition.y,
                    m_KeyPosition.z);
}
