// The base of everything in the scene: a place in the world, a kind, a ring
// menu and the operations the entity manager calls each frame and on input.
#ifndef VELMORA_ENTITY_ENTITY_H
#define VELMORA_ENTITY_ENTITY_H

#include "Menu/Menu.h"

#include <d3dx9.h>

class CEntityManager;

// Position, rotation quaternion (w last), scale along the world axes.
struct CTransform
{
    D3DXVECTOR3 position;
    D3DXQUATERNION rotation;
    D3DXVECTOR3 scale;

    static CTransform Identity();
};

enum
{
    EntityTypeStatic = 1,
    EntityTypeDancer = 2,
    EntityTypeAgent = 3,
    EntityTypeSpot = 4,
    EntityTypeFloor = 5
};

enum
{
    MsgHover = 2,
    MsgLeftClick = 3,
    MsgCancelLink = 4,
    MsgOpenMenu = 5,
    MsgCloseMenu = 6
};

class CEntity
{
public:
    CEntity();
    virtual ~CEntity();

    virtual void Render() = 0;
    virtual void RenderMenu();
    virtual void DrawMarker();
    virtual void Update(float dt);
    virtual void OnAction(int button);
    virtual bool HitTest(int x, int y) = 0;
    virtual bool MenuHitTest(int x, int y) = 0;
    virtual bool LinkHitTest(int x, int y) = 0;
    virtual D3DXVECTOR2 GetScreenPosition();
    virtual bool OnMessage(int message) = 0;

    void SetManager(CEntityManager* manager) { m_pManager = manager; }
    void SetTransform(CTransform transform) { m_Transform = transform; }
    void SetInitialTransform(CTransform transform) { m_InitialTransform = transform; }
    static D3DXMATRIX GetWorldMatrix(const CTransform& transform);

    int GetType() const { return m_Type; }
    CMenu& GetMenu() { return m_Menu; }
    CEntityManager* GetManager() const { return m_pManager; }

    CTransform m_Transform;
    CTransform m_InitialTransform;
    int m_Type;
    CMenu m_Menu;
    CEntityManager* m_pManager;

    CEntity(const CEntity&) = delete;
    CEntity& operator=(const CEntity&) = delete;
};

// The kinds the user works with through their ring menu.
class CEntityDynamic : public CEntity
{
public:
    bool MenuHitTest(int x, int y) override;
    bool LinkHitTest(int x, int y) override { return false; }
    bool OnMessage(int message) override;
    virtual int* GetHoveredReference();
};

// The help text of a kind's button, or null.
const char* GetButtonHelpText(int type, int button);

#endif
