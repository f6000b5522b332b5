// Camera glide: a fixed speed toward each goal, resting inside a dead zone.
#include "Entity/CameraMotion.h"

#include "d3d_stuff.h"

namespace
{
const float kSpeed = 200.0f;
const float kDeadZone = 5.0f;

void Approach(D3DXVECTOR3& point, const D3DXVECTOR3& goal, float dt)
{
    D3DXVECTOR3 d = goal - point;
    if (D3DXVec3Length(&d) <= kDeadZone)
        return;
    D3DXVec3Normalize(&d, &d);
    point += d * dt * kSpeed;
}
}

// The device set-up's first view until the scene's camera replaces it.
CCameraMotion::CCameraMotion()
    : m_Position(g_vEyePt), m_Target(g_vLookatPt), m_GoalPosition(g_vEyePt), m_GoalTarget(g_vLookatPt)
{
}

void CCameraMotion::Set(const D3DXVECTOR3& position, const D3DXVECTOR3& target)
{
    m_Position = position;
    m_Target = target;
}

void CCameraMotion::SetGoal(const D3DXVECTOR3& goalPosition, const D3DXVECTOR3& goalTarget)
{
    m_GoalPosition = goalPosition;
    m_GoalTarget = goalTarget;
}

void CCameraMotion::Step(float dt)
{
    Approach(m_Position, m_GoalPosition, dt);
    Approach(m_Target, m_GoalTarget, dt);
}

D3DXMATRIX CCameraMotion::GetViewMatrix() const
{
    const D3DXVECTOR3 up(0.0f, 1.0f, 0.0f);
    D3DXMATRIX view;
    D3DXMatrixLookAtLH(&view, &m_Position, &m_Target, &up);
    return view;
}
