// Spots: aiming, sweeping with the linked bands, strobing, and their light record.
#include "Entity/EntitySpot.h"

#include "Entity/EntityFloor.h"
#include "Entity/EntityManager.h"
#include "Entity/EntityStatic.h"
#include "Logger.h"
#include "Resource/GraphicObject.h"
#include "Resource/Shader.h"
#include "d3d_stuff.h"
#include "main.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mmsystem.h>
#include <tinyxml.h>

namespace
{
const char* const kSource = "src\\Entity\\EntitySpot";
}

CEntitySpot::CEntitySpot()
    : m_Beam(0.0f, 0.0f, 0.0f), m_YawOffset(0.0f), m_PitchOffset(0.0f), m_pLamp(nullptr), m_LightIndex(0),
      m_Position(0.0f, 0.0f, 0.0f), m_Colour(0.0f, 0.0f, 0.0f), m_ColourIndex(0), m_On(true), m_Strobe(false),
      m_Target(0.0f, 0.0f, 0.0f)
{
    Reset();
}

CEntitySpot::~CEntitySpot()
{
    ReleaseLamp();
}

void CEntitySpot::Reset()
{
    m_Type = EntityTypeSpot;
    m_LightIndex = 0;
    m_pLamp = nullptr;
    m_pManager = nullptr;
    m_On = true;
    m_Strobe = false;
    m_ColourIndex = 0;
    static const int kButtons[] = {0, 1, 2, 4, 7};
    for (int button : kButtons)
        m_Menu.EnableButton(button, true);
}

void CEntitySpot::ReleaseLamp()
{
    if (m_pLamp) {
        delete m_pLamp;
        m_pLamp = nullptr;
    }
    Reset();
}

bool CEntitySpot::Load(const TiXmlElement* element)
{
    m_pLamp = new CEntityStatic();
    if (!m_pLamp->Load(element))
        return false;

    for (const TiXmlElement* child = element->FirstChildElement(); child; child = child->NextSiblingElement()) {
        if (NamesMatch(child->Value(), "PRS")) {
            ReadVec3Attribute(child, "position", &m_Position.x);
        } else if (NamesMatch(child->Value(), "LIGHT")) {
            int id = 0;
            child->Attribute("id", &id);
            m_LightIndex = id;
            ReadVec3Attribute(child, "diffuse", &m_Colour.x);
            ReadVec3Attribute(child, "target", &m_Target.x);
        }
    }
    if (!HasLightRecord()) {
        // Only three records exist: such a spot shows its lamp and lights nothing.
        g_Logger.SetLocation(kSource, 92);
        g_Logger.Printf("light id %d out of range: the spot has no light", m_LightIndex);
    }
    m_YawOffset = 0.0f;
    m_PitchOffset = 0.0f;
    AimAt(m_Target);
    return true;
}

void CEntitySpot::AimAt(const D3DXVECTOR3& point)
{
    // A target on the light itself gives no direction: the beam is then zero
    // (the light points straight down) rather than undefined.
    const D3DXVECTOR3 d = point - m_Position;
    if (D3DXVec3Length(&d) > 0.0f)
        D3DXVec3Normalize(&m_Beam, &d);
    else
        m_Beam = D3DXVECTOR3(0.0f, 0.0f, 0.0f);
}

void CEntitySpot::UpdateLight()
{
    const float yaw = m_Beam.x + m_YawOffset;
    const float pitch = m_Beam.y + m_PitchOffset;
    const float roll = m_Beam.z;

    D3DXMATRIX m;
    D3DXMatrixRotationYawPitchRoll(&m, yaw, pitch, roll);
    const D3DXVECTOR3 down(0.0f, -1.0f, 0.0f);
    D3DXVECTOR3 direction;
    D3DXVec3TransformNormal(&direction, &down, &m);
    D3DXVec3Normalize(&direction, &direction);

    if (HasLightRecord()) {
        CShaderLight& light = g_Lights[m_LightIndex];
        light.position[0] = m_Position.x;
        light.position[1] = m_Position.y;
        light.position[2] = m_Position.z;
        light.direction[0] = direction.x;
        light.direction[1] = direction.y;
        light.direction[2] = direction.z;
        if (m_On) {
            light.colour[0] = m_Colour.x;
            light.colour[1] = m_Colour.y;
            light.colour[2] = m_Colour.z;
            // The colour index's bits, unconverted.
            std::memcpy(&light.colour[3], &m_ColourIndex, sizeof(float));
        } else {
            light.colour[0] = light.colour[1] = light.colour[2] = light.colour[3] = 0.0f;
        }
        if (g_pSpotShader)
            g_pSpotShader->SetLight(m_LightIndex, light);
    }

    if (m_pLamp) {
        D3DXQUATERNION q1, q2;
        const D3DXVECTOR3 xAxis(1.0f, 0.0f, 0.0f);
        D3DXQuaternionRotationAxis(&q1, &xAxis, 3.1415927f);
        D3DXQuaternionRotationYawPitchRoll(&q2, yaw, pitch, roll);
        D3DXQuaternionMultiply(&m_pLamp->m_Transform.rotation, &q1, &q2);
    }
}

void CEntitySpot::Update(float dt)
{
    const float a2 = m_Menu.GetButton(2).accumulatedLevel;
    const float a4 = m_Menu.GetButton(4).accumulatedLevel;
    m_Target.x += 50.0f * std::sin(a2);
    m_Target.z += 50.0f * std::sin(a4);
    AimAt(m_Target);
    const int n = static_cast<int>(g_fTime * 50.0f);
    m_On = !(m_Strobe && n % 2 != 0);
    UpdateLight();
    m_Menu.Update(dt);
}

void CEntitySpot::NextColour()
{
    m_ColourIndex = m_ColourIndex >= FloorColourCount - 1 ? 0 : m_ColourIndex + 1;
    const DWORD packed = g_FloorColours[m_ColourIndex];
    const float scale = 1.0f / 255.0f;
    m_Colour.x = ((packed >> 16) & 0xFF) * scale;
    m_Colour.y = ((packed >> 8) & 0xFF) * scale;
    m_Colour.z = (packed & 0xFF) * scale;
}

void CEntitySpot::RandomTarget()
{
    m_YawOffset = ((std::rand() % 1000) * 0.001f - 0.5f) * 1.5f;
    m_PitchOffset = ((std::rand() % 1000) * 0.001f - 0.5f) * 1.5f;
    m_Target = D3DXVECTOR3(0.0f, 0.0f, 0.0f);
    AimAt(m_Target);
    UpdateLight();
    Update(0.0f);
}

void CEntitySpot::OnAction(int button)
{
    switch (button) {
    case 0:
        SetStatusText("color changed", timeGetTime(), false);
        NextColour();
        break;
    case 1:
        SetStatusText("target changed", timeGetTime(), false);
        RandomTarget();
        break;
    case 2:
    case 4:
        SetStatusText("select music reference", timeGetTime(), false);
        break;
    case 7:
        g_Logger.SetLocation(kSource, 148);
        g_Logger.Printf("ON OFF");
        m_Strobe = !m_Strobe;
        SetStatusText(m_Strobe ? "strobing on" : "strobing off", timeGetTime(), false);
        break;
    default:
        break;
    }
}

void CEntitySpot::Render()
{
    if (m_pLamp)
        m_pLamp->Render();
    const D3DXVECTOR2 p = GetScreenPosition();
    if (!m_Menu.IsOpen()) {
        m_Menu.m_CentreX = p.x;
        m_Menu.m_CentreY = p.y;
    }
}

D3DXVECTOR2 CEntitySpot::GetScreenPosition()
{
    const D3DXMATRIX world = GetWorldMatrix(m_pLamp ? m_pLamp->m_Transform : m_Transform);
    g_pDevice->SetTransform(D3DTS_WORLD, &world);
    const D3DXVECTOR3 p = ProjectToScreen(D3DXVECTOR3(0.0f, 0.0f, 0.0f));
    return D3DXVECTOR2(p.x, p.y);
}

void CEntitySpot::DrawMarker()
{
    const D3DXVECTOR2 p = GetScreenPosition();
    DrawMarkerCircle(p.x, p.y);
}

bool CEntitySpot::HitTest(int x, int y)
{
    if (!m_pLamp || !m_pLamp->GetMesh())
        return false;
    const D3DXMATRIX world = GetWorldMatrix(m_pLamp->m_Transform);
    g_pDevice->SetTransform(D3DTS_WORLD, &world);
    const bool hit = m_pLamp->GetMesh()->HitTestScreenBox(x, y);
    if (hit)
        DrawMarker();
    return hit;
}
