// The scene camera: an eye and a look-at point gliding toward their goals.
#ifndef VELMORA_ENTITY_CAMERAMOTION_H
#define VELMORA_ENTITY_CAMERAMOTION_H

#include <d3dx9.h>

class CCameraMotion
{
public:
    CCameraMotion();

    void Set(const D3DXVECTOR3& position, const D3DXVECTOR3& target);
    void SetGoal(const D3DXVECTOR3& goalPosition, const D3DXVECTOR3& goalTarget);
    void Step(float dt);
    D3DXMATRIX GetViewMatrix() const;

    D3DXVECTOR3 m_Position;
    D3DXVECTOR3 m_Target;
    D3DXVECTOR3 m_GoalPosition;
    D3DXVECTOR3 m_GoalTarget;
};

#endif
