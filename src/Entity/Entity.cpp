// The entity base and the message handling shared by the dynamic kinds.
#include "Entity/Entity.h"

#include "Entity/EntityManager.h"
#include "Logger.h"
#include "d3d_stuff.h"

#include <mmsystem.h>

namespace
{
const char* const kEntitySource = "src\\Entity\\Entity";
const char* const kDynamicSource = "src\\Entity\\EntityDynamic";

struct HelpEntry
{
    int type;
    int button;
    const char* text;
};

const HelpEntry kHelp[] = {
    {EntityTypeDancer, 0, "change color"},
    {EntityTypeDancer, 3, "apply movement to selected body part"},
    {EntityTypeDancer, 4, "apply movement to selected body part"},
    {EntityTypeDancer, 5, "apply movement to selected body part"},
    {EntityTypeDancer, 6, "change position"},
    {EntityTypeDancer, 9, "change character"},
    {EntityTypeDancer, 10, "dancing body part selection"},
    {EntityTypeSpot, 0, "change color"},
    {EntityTypeSpot, 1, "change target"},
    {EntityTypeSpot, 2, "spot movement on X axis"},
    {EntityTypeSpot, 4, "spot movement on Z axis"},
    {EntityTypeSpot, 7, "turn on/off spot strobe"},
    {EntityTypeFloor, 0, "change color"},
    {EntityTypeFloor, 7, "turn on/off dancefloor animation"},
    {EntityTypeFloor, 8, "change dancefloor pattern"},
};
}

CTransform CTransform::Identity()
{
    CTransform transform;
    transform.position = D3DXVECTOR3(0.0f, 0.0f, 0.0f);
    transform.rotation = D3DXQUATERNION(0.0f, 0.0f, 0.0f, 1.0f);
    transform.scale = D3DXVECTOR3(1.0f, 1.0f, 1.0f);
    return transform;
}

const char* GetButtonHelpText(int type, int button)
{
    for (const HelpEntry& entry : kHelp) {
        if (entry.type == type && entry.button == button)
            return entry.text;
    }
    return nullptr;
}

CEntity::CEntity()
    : m_Transform(CTransform::Identity()), m_InitialTransform(CTransform::Identity()), m_Type(0), m_pManager(nullptr)
{
    g_Logger.SetLocation(kEntitySource, 24);
    g_Logger.Printf("ENTITY constructor");
}

CEntity::~CEntity()
{
    g_Logger.SetLocation(kEntitySource, 31);
    g_Logger.Printf("ENTITY destructor");
    m_pManager = nullptr;
}

void CEntity::RenderMenu()
{
    m_Menu.Render();
    if (m_Menu.IsOpen())
        DrawMarker();
}

void CEntity::DrawMarker()
{
}

void CEntity::Update(float)
{
}

void CEntity::OnAction(int)
{
}

D3DXVECTOR2 CEntity::GetScreenPosition()
{
    return D3DXVECTOR2(0.0f, 0.0f);
}

// Rotated first, then scaled along the world axes, then moved: R x S x T.
D3DXMATRIX CEntity::GetWorldMatrix(const CTransform& transform)
{
    D3DXMATRIX rotation, scaling, translation, rs, world;
    D3DXMatrixRotationQuaternion(&rotation, &transform.rotation);
    D3DXMatrixScaling(&scaling, transform.scale.x, transform.scale.y, transform.scale.z);
    D3DXMatrixMultiply(&rs, &rotation, &scaling);
    D3DXMatrixTranslation(&translation, transform.position.x, transform.position.y, transform.position.z);
    D3DXMatrixMultiply(&world, &rs, &translation);
    return world;
}

bool CEntityDynamic::MenuHitTest(int x, int y)
{
    int button;
    return m_Menu.HitTest(x, y, button);
}

int* CEntityDynamic::GetHoveredReference()
{
    int button;
    if (!m_Menu.GetHoveredButton(button))
        return nullptr;
    return &m_Menu.GetButton(button).reference;
}

bool CEntityDynamic::OnMessage(int message)
{
    switch (message) {
    case MsgHover: {
        if (!m_Menu.IsOpen()) {
            DrawMarker();
            return true;
        }
        int button = -1;
        m_Menu.GetHoveredButton(button);
        const char* text = GetButtonHelpText(m_Type, button);
        if (text)
            SetStatusText(text, timeGetTime(), true);
        return true;
    }
    case MsgLeftClick: {
        g_Logger.SetLocation(kDynamicSource, 52);
        g_Logger.Printf("msg left click");
        if (!m_Menu.IsOpen()) {
            g_Logger.SetLocation(kDynamicSource, 56);
            g_Logger.Printf("menu not actif");
            if (m_pManager)
                m_pManager->Broadcast(MsgCloseMenu);
            m_Menu.Open();
            if (m_pManager)
                m_pManager->SetState(state_menu);
            return true;
        }
        int button;
        if (!m_Menu.GetHoveredButton(button))
            return true;
        const int reference = m_Menu.GetButton(button).reference;
        OnAction(button);
        if (reference == RefNone)
            return true;
        g_Logger.SetLocation(kDynamicSource, 74);
        g_Logger.Printf("linking action");
        int* hovered = GetHoveredReference();
        if (!hovered || !m_pManager)
            return true;
        int x, y;
        m_Menu.GetButtonPosition(button, x, y);
        m_pManager->m_LinkOriginX = static_cast<float>(x);
        m_pManager->m_LinkOriginY = static_cast<float>(y);
        m_pManager->SetPendingReference(hovered);
        m_pManager->SetState(state_linking);
        return true;
    }
    case MsgCancelLink:
        return false;
    case MsgOpenMenu:
        m_Menu.Open();
        return true;
    case MsgCloseMenu:
        m_Menu.Close();
        return true;
    default:
        return false;
    }
}
