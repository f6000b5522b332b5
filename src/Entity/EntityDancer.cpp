// Dancers: their model list, their pass of the IK model and their menu actions.
#include "Entity/EntityDancer.h"

#include "Entity/EntityManager.h"
#include "Entity/EntityStatic.h"
#include "Logger.h"
#include "d3d_stuff.h"
#include "main.h"
#include "plugin.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mmsystem.h>
#include <tinyxml.h>

namespace
{
const char* const kSource = "src\\Entity\\EntityDancer";
}

CEntityDancer::CEntityDancer() : m_SelectedControl(0), m_ModelIndex(-1)
{
    std::memset(&m_Material, 0, sizeof(m_Material));
    Reset();
}

CEntityDancer::~CEntityDancer()
{
    Release();
}

void CEntityDancer::Reset()
{
    m_Type = EntityTypeDancer;
    m_pManager = nullptr;
    m_Model.Clear();
    static const int kButtons[] = {0, 3, 4, 5, 6, 9, 10};
    for (int button : kButtons)
        m_Menu.EnableButton(button, true);
    m_SelectedControl = 0;
    m_ModelFiles.clear();
    m_ModelIndex = -1;
    RandomColour();
}

void CEntityDancer::Release()
{
    m_Model.Destroy();
    Reset();
}

void CEntityDancer::RandomColour()
{
    const float r = (std::rand() % 1000) * 0.001f * 0.2f;
    const float g = (std::rand() % 1000) * 0.001f * 0.2f;
    const float b = (std::rand() % 1000) * 0.001f * 0.2f;
    m_Material.Diffuse.r = m_Material.Ambient.r = m_Material.Emissive.r = r;
    m_Material.Diffuse.g = m_Material.Ambient.g = m_Material.Emissive.g = g;
    m_Material.Diffuse.b = m_Material.Ambient.b = m_Material.Emissive.b = b;
    m_Material.Diffuse.a = m_Material.Ambient.a = m_Material.Emissive.a = 1.0f;
    m_Material.Specular.r = m_Material.Specular.g = m_Material.Specular.b = 0.0f;
    m_Material.Specular.a = 1.0f;
}

int CEntityDancer::GetControlCount() const
{
    return static_cast<int>(m_Model.m_Controls.size());
}

CIKControl* CEntityDancer::GetSelectedControl()
{
    if (m_SelectedControl < 0 || m_SelectedControl >= GetControlCount())
        return nullptr;
    return &m_Model.m_Controls[m_SelectedControl];
}

bool CEntityDancer::Load(const TiXmlElement* element)
{
    bool hasPRS = false;
    for (const TiXmlElement* child = element->FirstChildElement(); child; child = child->NextSiblingElement()) {
        if (NamesMatch(child->Value(), "MODEL")) {
            const char* fileName = child->Attribute("filename");
            if (fileName)
                m_ModelFiles.push_back(fileName);
        } else if (NamesMatch(child->Value(), "PRS")) {
            hasPRS = true;
        }
    }
    // Without a PRS the dancer keeps the transforms it was built with.
    if (hasPRS) {
        const CTransform transform = ReadPRS(element);
        SetTransform(transform);
        SetInitialTransform(transform);
    }

    NextModel();

    D3DXMatrixLookAtLH(&g_ViewMatrix, &g_vEyePt, &g_vLookatPt, &g_vUpVec);
    g_pDevice->SetTransform(D3DTS_VIEW, &g_ViewMatrix);
    D3DXMatrixPerspectiveFovLH(&g_ProjectionMatrix, 0.7853982f, 1.0f, 1.0f, 1500.0f);
    g_pDevice->SetTransform(D3DTS_PROJECTION, &g_ProjectionMatrix);
    SetWorld();

    m_Model.ResetPose();
    m_Model.UpdateControls(0.0f);
    m_Model.SolveAll();
    m_Model.ApplyToMesh();
    m_Model.Render();
    FollowModel();

    g_Logger.SetLocation(kSource, 156);
    g_Logger.Printf("nb models %d", static_cast<int>(m_ModelFiles.size()));
    for (const std::string& file : m_ModelFiles) {
        g_Logger.SetLocation(kSource, 158);
        g_Logger.Printf("model %s", file.c_str());
    }
    return true;
}

void CEntityDancer::NextModel()
{
    ++m_ModelIndex;
    if (m_ModelFiles.empty() || m_ModelIndex >= static_cast<int>(m_ModelFiles.size()))
        m_ModelIndex = 0;
    if (m_ModelIndex >= static_cast<int>(m_ModelFiles.size())) {
        g_Logger.SetLocation(kSource, 44);
        g_Logger.Printf("error loading next ikModel: current indice too large");
        return;
    }
    m_Model.Destroy();
    m_Model.LoadFile((g_DataPath + m_ModelFiles[m_ModelIndex]).c_str());
}

void CEntityDancer::SetWorld()
{
    const D3DXMATRIX world = GetWorldMatrix(m_Transform);
    g_pDevice->SetTransform(D3DTS_WORLD, &world);
}

void CEntityDancer::FollowModel()
{
    if (m_Menu.IsOpen())
        return;
    const CVector3 centre = m_Model.GetScreenCentre();
    m_Menu.m_CentreX = centre.x;
    m_Menu.m_CentreY = centre.y;
}

void CEntityDancer::Update(float dt)
{
    SetWorld();
    m_Model.ResetPose();
    m_Model.UpdateControls(dt);
    m_Model.SolveAll();
    m_Model.ApplyToMesh();
    m_Menu.Update(dt);
}

void CEntityDancer::Render()
{
    SetWorld();
    g_pDevice->SetMaterial(&m_Material);
    m_Model.Render();
    FollowModel();
}

void CEntityDancer::DrawMarker()
{
    SetWorld();
    const CVector3 centre = m_Model.GetScreenCentre();
    DrawMarkerCircle(centre.x, centre.y);
}

bool CEntityDancer::HitTest(int x, int y)
{
    SetWorld();
    const bool hit = m_Model.HitTestScreenBox(x, y);
    if (hit)
        DrawMarker();
    return hit;
}

void CEntityDancer::RenderMenu()
{
    m_Menu.Render();
    if (m_Menu.IsOpen())
        DrawMarker();
    SetWorld();
    CIKControl* control = GetSelectedControl();
    if (!m_Menu.IsOpen() || !control)
        return;
    const D3DXVECTOR3 target(control->m_Target.x, control->m_Target.y, control->m_Target.z);
    const D3DXVECTOR3 point = ProjectToScreen(target);
    DrawCircle(point.x, point.y, std::sin(g_fTime * 20.0f) * 5.0f + 25.0f, 0xFF40FF40, 3);
    if (m_pManager) {
        m_pManager->m_LinkOriginX = point.x;
        m_pManager->m_LinkOriginY = point.y;
    }
}

int* CEntityDancer::GetHoveredReference()
{
    CIKControl* control = GetSelectedControl();
    return control ? &control->m_Type : nullptr;
}

void CEntityDancer::OnAction(int button)
{
    switch (button) {
    case 0:
        m_Model.ChangeColour();
        SetStatusText("color changed", timeGetTime(), false);
        break;
    case 3:
    case 4:
    case 5: {
        static const int kModes[3] = {1, 2, 0};
        CIKControl* control = GetSelectedControl();
        if (control) {
            control->m_Mode = kModes[button - 3];
            control->m_Type = RefUnlinked;
        }
        SetStatusText("select music reference", timeGetTime(), false);
        break;
    }
    case 6:
        g_Logger.SetLocation(kSource, 204);
        g_Logger.Printf("DANCER action change position");
        for (CIKControl& control : m_Model.m_Controls)
            control.NextKey();
        SetStatusText("position changed", timeGetTime(), false);
        break;
    case 9:
        g_Logger.SetLocation(kSource, 214);
        g_Logger.Printf("changing model...");
        NextModel();
        break;
    case 10:
        g_Logger.SetLocation(kSource, 179);
        g_Logger.Printf("DANCER action change control point");
        ++m_SelectedControl;
        if (m_SelectedControl >= GetControlCount())
            m_SelectedControl = 0;
        SetStatusText("new affector selected", timeGetTime(), false);
        break;
    default:
        break;
    }
}
