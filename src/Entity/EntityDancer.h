// A dancer: a character posed by its inverse-kinematics model, driven from its menu.
#ifndef VELMORA_ENTITY_ENTITYDANCER_H
#define VELMORA_ENTITY_ENTITYDANCER_H

#include "Entity/Entity.h"
#include "ik/CIKModel.h"

#include <string>
#include <vector>

class TiXmlElement;

class CEntityDancer : public CEntityDynamic
{
public:
    CEntityDancer();
    ~CEntityDancer() override;

    bool Load(const TiXmlElement* element);
    void NextModel();
    void Reset();
    void Release();
    void RandomColour();
    int GetControlCount() const;

    void Render() override;
    void RenderMenu() override;
    void DrawMarker() override;
    void Update(float dt) override;
    void OnAction(int button) override;
    bool HitTest(int x, int y) override;
    int* GetHoveredReference() override;

    // The selected control, or null when the index is not below the control count.
    CIKControl* GetSelectedControl();

    CIKModel m_Model;
    int m_SelectedControl;
    D3DMATERIAL9 m_Material;
    std::vector<std::string> m_ModelFiles;
    int m_ModelIndex;

private:
    void SetWorld();
    void FollowModel();
};

#endif
