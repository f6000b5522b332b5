// A spot light: a lamp the user clicks, and one of the three light records.
#ifndef VELMORA_ENTITY_ENTITYSPOT_H
#define VELMORA_ENTITY_ENTITYSPOT_H

#include "Entity/Entity.h"

class CEntityStatic;
class TiXmlElement;

const int SpotLightCount = 3;

class CEntitySpot : public CEntityDynamic
{
public:
    CEntitySpot();
    ~CEntitySpot() override;

    bool Load(const TiXmlElement* element);
    void Reset();
    void ReleaseLamp();
    void AimAt(const D3DXVECTOR3& point);
    void UpdateLight();
    void NextColour();
    void RandomTarget();

    void Render() override;
    void DrawMarker() override;
    void Update(float dt) override;
    void OnAction(int button) override;
    bool HitTest(int x, int y) override;
    D3DXVECTOR2 GetScreenPosition() override;

    // The light index names one of the records.
    bool HasLightRecord() const { return m_LightIndex >= 0 && m_LightIndex < SpotLightCount; }

    D3DXVECTOR3 m_Beam;
    float m_YawOffset;
    float m_PitchOffset;
    CEntityStatic* m_pLamp;
    int m_LightIndex;
    D3DXVECTOR3 m_Position;
    D3DXVECTOR3 m_Colour;
    int m_ColourIndex;
    bool m_On;
    bool m_Strobe;
    D3DXVECTOR3 m_Target;
};

#endif
