// Decor: a mesh placed once by the scene file, drawn lit white, never clicked.
#ifndef VELMORA_ENTITY_ENTITYSTATIC_H
#define VELMORA_ENTITY_ENTITYSTATIC_H

#include "Entity/Entity.h"

class CGraphicObject;
class TiXmlElement;

class CEntityStatic : public CEntity
{
public:
    CEntityStatic();

    void Render() override;
    bool HitTest(int, int) override { return false; }
    bool MenuHitTest(int, int) override { return false; }
    bool LinkHitTest(int, int) override { return false; }
    bool OnMessage(int) override { return false; }
    virtual bool Load(const TiXmlElement* element);

    CGraphicObject* GetMesh() const { return m_pMesh; }

    CGraphicObject* m_pMesh;
};

// Reads the transform of an element's "PRS" children (the last one wins).
CTransform ReadPRS(const TiXmlElement* element);

#endif
