// A music band made visible: a mesh that swells with its band and takes links.
#ifndef VELMORA_ENTITY_ENTITYAGENT_H
#define VELMORA_ENTITY_ENTITYAGENT_H

#include "Entity/EntityStatic.h"

extern D3DXMATRIX g_AgentViewMatrix;

class CEntityAgent : public CEntityStatic
{
public:
    CEntityAgent();

    bool Load(const TiXmlElement* element) override;
    void Update(float dt) override;
    void Render() override;
    void DrawMarker() override;
    bool LinkHitTest(int x, int y) override;
    D3DXVECTOR2 GetScreenPosition() override;
    bool OnMessage(int message) override;

    void LinkButton(int* reference);
    int GetBand() const { return m_Band; }

    int m_Band;
};

#endif
