// Agents: drawn over the scene with their own camera while a link waits.
#include "Entity/EntityAgent.h"

#include "Entity/EntityManager.h"
#include "Logger.h"
#include "Resource/GraphicObject.h"
#include "d3d_stuff.h"
#include "main.h"

#include <mmsystem.h>
#include <tinyxml.h>

D3DXMATRIX g_AgentViewMatrix;

namespace
{
const char* const kSource = "src\\Entity\\EntityAgent";

const char* const kHoverText[3] = {"link to music reference bass", "link to music reference medium",
                                   "link to music reference treble"};
const char* const kClickText[3] = {"music reference: bass", "music reference: medium", "music reference: treble"};

float BandLevel(int band)
{
    switch (band) {
    case 1:
        return g_fMedium;
    case 2:
        return g_fTreble;
    default:
        return g_fBass;
    }
}

int BandIndex(int band)
{
    return band == 1 || band == 2 ? band : 0;
}

// Sets the agents' own view for the duration of a scope and gives the kept one back.
class CAgentView
{
public:
    CAgentView()
    {
        g_pDevice->GetTransform(D3DTS_VIEW, &m_Kept);
        g_pDevice->SetTransform(D3DTS_VIEW, &g_AgentViewMatrix);
    }
    ~CAgentView() { g_pDevice->SetTransform(D3DTS_VIEW, &m_Kept); }

private:
    D3DXMATRIX m_Kept;
};
}

CEntityAgent::CEntityAgent() : m_Band(0)
{
    m_Type = EntityTypeAgent;
    const D3DXVECTOR3 eye(0.0f, 0.0f, -300.0f);
    const D3DXVECTOR3 target(0.0f, 0.0f, 0.0f);
    const D3DXVECTOR3 up(0.0f, 1.0f, 0.0f);
    D3DXMatrixLookAtLH(&g_AgentViewMatrix, &eye, &target, &up);
}

bool CEntityAgent::Load(const TiXmlElement* element)
{
    m_Band = 0;
    const char* type = element->Attribute("type");
    if (type) {
        if (NamesMatch(type, "MEDIUM"))
            m_Band = 1;
        else if (NamesMatch(type, "TREBLE"))
            m_Band = 2;
    }
    g_Logger.SetLocation(kSource, 41);
    g_Logger.Printf("agent type %s", type ? type : "(null)");
    return CEntityStatic::Load(element);
}

void CEntityAgent::Update(float)
{
    m_Transform = m_InitialTransform;
    const float level = BandLevel(m_Band);
    m_Transform.scale.x = m_InitialTransform.scale.x + 0.3f * level;
    m_Transform.scale.y = m_InitialTransform.scale.y + 0.3f * level;
    m_Transform.scale.z = m_InitialTransform.scale.z + 0.3f * level;
}

void CEntityAgent::Render()
{
    if (!m_pMesh)
        return;
    g_pDevice->SetRenderState(D3DRS_ZENABLE, FALSE);
    {
        CAgentView view;
        const D3DXMATRIX world = GetWorldMatrix(m_Transform);
        g_pDevice->SetTransform(D3DTS_WORLD, &world);
        g_pDevice->SetTransform(D3DTS_PROJECTION, &g_ProjectionMatrix);
        const DWORD count = m_pMesh->GetMaterialCount();
        const D3DMATERIAL9* materials = m_pMesh->GetMaterials();
        for (DWORD i = 0; i < count; ++i) {
            if (materials)
                g_pDevice->SetMaterial(&materials[i]);
            m_pMesh->DrawSubset(i);
        }
        g_pDevice->SetRenderState(D3DRS_ZENABLE, TRUE);
    }
}

bool CEntityAgent::LinkHitTest(int x, int y)
{
    if (!m_pMesh)
        return false;
    const D3DXMATRIX world = GetWorldMatrix(m_Transform);
    g_pDevice->SetTransform(D3DTS_WORLD, &world);
    CAgentView view;
    return m_pMesh->HitTestScreenBox(x, y);
}

D3DXVECTOR2 CEntityAgent::GetScreenPosition()
{
    if (!m_pMesh)
        return D3DXVECTOR2(0.0f, 0.0f);
    const D3DXMATRIX world = GetWorldMatrix(m_Transform);
    g_pDevice->SetTransform(D3DTS_WORLD, &world);
    CAgentView view;
    g_pDevice->SetTransform(D3DTS_PROJECTION, &g_ProjectionMatrix);
    return m_pMesh->GetScreenCentre();
}

void CEntityAgent::DrawMarker()
{
    if (m_pMesh) {
        const D3DXMATRIX world = GetWorldMatrix(m_Transform);
        g_pDevice->SetTransform(D3DTS_WORLD, &world);
        CAgentView view;
        const D3DXVECTOR2 centre = m_pMesh->GetScreenCentre();
        DrawMarkerCircle(centre.x, centre.y);
    }
    SetStatusText(kHoverText[BandIndex(m_Band)], timeGetTime(), true);
}

bool CEntityAgent::OnMessage(int message)
{
    switch (message) {
    case MsgHover:
        DrawMarker();
        return true;
    case MsgLeftClick:
        if (m_pManager) {
            if (m_pManager->GetPendingReference())
                LinkButton(m_pManager->GetPendingReference());
            m_pManager->SetPendingReference(nullptr);
            m_pManager->SetState(state_menu);
        }
        SetStatusText(kClickText[BandIndex(m_Band)], timeGetTime(), false);
        return true;
    case MsgCancelLink:
        if (m_pManager) {
            m_pManager->SetPendingReference(nullptr);
            m_pManager->SetState(state_menu);
        }
        return true;
    default:
        return false;
    }
}

void CEntityAgent::LinkButton(int* reference)
{
    if (!reference) {
        g_Logger.SetLocation(kSource, 142);
        g_Logger.Printf("link to NULL button!");
        return;
    }
    g_Logger.SetLocation(kSource, 146);
    g_Logger.Printf("linking...");
    *reference = m_Band == 0 ? RefBass : m_Band == 1 ? RefMedium : RefTreble;
}
