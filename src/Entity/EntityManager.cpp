// The scene file loader, the frame, the click and back-out handling and the camera keys.
#include "Entity/EntityManager.h"

#include "Entity/EntityAgent.h"
#include "Entity/EntityDancer.h"
#include "Entity/EntityFloor.h"
#include "Entity/EntitySpot.h"
#include "Entity/EntityStatic.h"
#include "Logger.h"
#include "Resource/ResourceManager.h"
#include "Resource/Texture.h"
#include "XmlDepth.h"
#include "XmlTail.h"
#include "d3d_stuff.h"
#include "plugin.h"

#include <cstdio>
#include <mmsystem.h>
#include <tinyxml.h>

namespace
{
const char* const kSource = "src\\Entity\\EntityManager";

void Log(int line, const char* text)
{
    g_Logger.SetLocation(kSource, line);
    g_Logger.Printf("%s", text);
}

char Lower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}
}

bool NamesMatch(const char* a, const char* b)
{
    if (!a || !b)
        return false;
    for (; *a && *b; ++a, ++b) {
        if (Lower(*a) != Lower(*b))
            return false;
    }
    return *a == *b;
}

bool ReadVec3Attribute(const TiXmlElement* element, const char* name, float* out)
{
    const char* text = element->Attribute(name);
    if (!text)
        return false;
    std::sscanf(text, "%f %f %f", &out[0], &out[1], &out[2]);
    return true;
}

bool ReadVec4Attribute(const TiXmlElement* element, const char* name, float* out)
{
    const char* text = element->Attribute(name);
    if (!text)
        return false;
    std::sscanf(text, "%f %f %f %f", &out[0], &out[1], &out[2], &out[3]);
    return true;
}

bool FormatDataPath(char (&path)[128], const char* format, const char* name)
{
    const int length = std::snprintf(path, sizeof(path), format, g_DataPath.c_str(), name);
    if (length < 0 || length >= static_cast<int>(sizeof(path))) {
        path[0] = '\0';
        return false;
    }
    return true;
}

CEntityManager::CEntityManager()
    : m_pPendingReference(nullptr), m_LinkOriginX(0.0f), m_LinkOriginY(0.0f), m_MouseX(0), m_MouseY(0),
      m_State(state_none), m_pSelected(nullptr), m_CameraIndex(0), LastInputTime(0)
{
    Reset();
}

CEntityManager::~CEntityManager()
{
    Clear();
}

void CEntityManager::Reset()
{
    m_pPendingReference = nullptr;
    m_State = state_none;
    m_Entities.clear();
    m_KeyPositions.clear();
    m_KeyTargets.clear();
    for (CTexture*& texture : m_MenuTextures)
        texture = nullptr;
    m_CameraIndex = 0;
    LastInputTime = timeGetTime();
    m_pSelected = nullptr;
}

void CEntityManager::Clear()
{
    for (CEntity* entity : m_Entities)
        delete entity;
    Reset();
}

void CEntityManager::Add(CEntity* entity)
{
    entity->SetManager(this);
    m_Entities.push_back(entity);
}

// ---- Scene file ----

bool CEntityManager::LoadScene(const char* path)
{
    CLogScope scope(&g_Logger, "ENTITY LOADER", 40, kSource);
    g_Logger.SetLocation(kSource, 41);
    g_Logger.Printf("loading file %s", path);

    TiXmlDocument document(path);
    if (!XmlNestingWithinLimit(path, kSource, 44) || !LoadXmlDocument(document)) {
        Log(45, "error loading file");
        return false;
    }

    for (const TiXmlElement* element = document.FirstChildElement(); element;
         element = element->NextSiblingElement()) {
        const char* name = element->Value();
        if (NamesMatch(name, "OBJECT")) {
            ParseObject(element);
            Log(55, "Static Entity Added");
        } else if (NamesMatch(name, "AGENT")) {
            ParseAgent(element);
        } else if (NamesMatch(name, "DANCER")) {
            ParseDancer(element);
        } else if (NamesMatch(name, "SPOT")) {
            ParseSpot(element);
        } else if (NamesMatch(name, "CAMERA")) {
            ParseCamera(element);
        } else if (NamesMatch(name, "MENU")) {
            if (!ParseMenu(element))
                Log(67, "error catching menu parameters");
        } else if (NamesMatch(name, "FLOOR")) {
            ParseFloor(element);
        }
    }

    g_Logger.SetLocation(kSource, 74);
    g_Logger.Printf("%s Loaded", path);
    return true;
}

bool CEntityManager::ParseObject(const TiXmlElement* element)
{
    CLogScope scope(&g_Logger, "Parsing object", 80, kSource);
    CEntityStatic* entity = new CEntityStatic();
    entity->Load(element);
    Add(entity);
    return true;
}

bool CEntityManager::ParseAgent(const TiXmlElement* element)
{
    CLogScope scope(&g_Logger, "PARSING AGENT", 90, kSource);
    CEntityAgent* entity = new CEntityAgent();
    entity->Load(element);
    Add(entity);
    return true;
}

bool CEntityManager::ParseDancer(const TiXmlElement* element)
{
    CLogScope scope(&g_Logger, "PARSING DANCER", 100, kSource);
    CEntityDancer* entity = new CEntityDancer();
    entity->Load(element);
    entity->SetManager(this);
    entity->GetMenu().SetTextures(m_MenuTextures);
    m_Entities.push_back(entity);
    return true;
}

bool CEntityManager::ParseSpot(const TiXmlElement* element)
{
    CLogScope scope(&g_Logger, "Parsing spot", 112, kSource);
    CEntitySpot* entity = new CEntitySpot();
    entity->Load(element);
    entity->SetManager(this);
    entity->GetMenu().SetTextures(m_MenuTextures);
    m_Entities.push_back(entity);
    return true;
}

bool CEntityManager::ParseFloor(const TiXmlElement* element)
{
    float position[3] = {0.0f, 0.0f, 0.0f};
    float scale[3] = {1.0f, 1.0f, 1.0f};
    ReadVec3Attribute(element, "position", position);
    ReadVec3Attribute(element, "scale", scale);
    CEntityFloor* entity = new CEntityFloor();
    CTransform transform = CTransform::Identity();
    transform.position = D3DXVECTOR3(position[0], position[1], position[2]);
    transform.scale = D3DXVECTOR3(scale[0], scale[1], scale[2]);
    entity->SetTransform(transform);
    entity->SetInitialTransform(transform);
    entity->SetManager(this);
    entity->GetMenu().SetTextures(m_MenuTextures);
    m_Entities.push_back(entity);
    return true;
}

bool CEntityManager::ParseCamera(const TiXmlElement* element)
{
    ReadVec3Attribute(element, "vEyePt", &g_vEyePt.x);
    ReadVec3Attribute(element, "vLookatPt", &g_vLookatPt.x);

    // A first key without a value starts from the camera given here.
    D3DXVECTOR3 position = g_vEyePt;
    D3DXVECTOR3 target = g_vLookatPt;
    for (const TiXmlElement* child = element->FirstChildElement(); child; child = child->NextSiblingElement()) {
        if (!NamesMatch(child->Value(), "key"))
            continue;
        ReadVec3Attribute(child, "position", &position.x);
        ReadVec3Attribute(child, "target", &target.x);
        m_KeyPositions.push_back(position);
        m_KeyTargets.push_back(target);
    }
    g_Logger.SetLocation(kSource, 163);
    g_Logger.Printf("CAMERA %d key loaded", static_cast<int>(m_KeyPositions.size()));

    m_Camera.Set(g_vEyePt, g_vLookatPt);
    // Without keys nothing sets a goal: hold the camera where it was put.
    if (m_KeyPositions.empty())
        m_Camera.SetGoal(g_vEyePt, g_vLookatPt);
    m_CameraIndex = -1;
    NextCamera();
    return true;
}

bool CEntityManager::ParseMenu(const TiXmlElement* element)
{
    const char* fileName = element->Attribute("filename");
    int number = 0;
    if (!fileName || !element->Attribute("num", &number) || number < 0 || number >= MenuButtonCount)
        return false;
    g_Logger.SetLocation(kSource, 181);
    g_Logger.Printf("Menu texture num %d", number);

    char path[128];
    if (!FormatDataPath(path, "%stextures\\%s", fileName)) {
        g_Logger.SetLocation(kSource, 185);
        g_Logger.Printf("menu texture path too long: %s", fileName);
        return false;
    }
    CTexture* texture = g_pResourceManager ? g_pResourceManager->GetTexture(path) : nullptr;
    if (!texture) {
        Log(190, "error in loading");
        return false;
    }
    m_MenuTextures[number] = texture;
    return true;
}

// ---- State ----

void CEntityManager::SetMousePosition(int x, int y)
{
    m_MouseX = x;
    m_MouseY = y;
}

void CEntityManager::SetState(int state)
{
    g_Logger.SetLocation(kSource, 210);
    g_Logger.Printf("manager state %d", state);
    m_State = state;
}

void CEntityManager::Broadcast(int message)
{
    for (CEntity* entity : m_Entities)
        entity->OnMessage(message);
}

int CEntityManager::GetVeilAlpha() const
{
    if (!m_pSelected)
        return 0;
    const CMenu& menu = m_pSelected->m_Menu;
    switch (menu.GetState()) {
    case CMenu::StateOpen:
        return 90;
    case CMenu::StateOpening:
        return static_cast<int>(menu.GetProgress() * 90.0f);
    case CMenu::StateClosing:
        return static_cast<int>((1.0f - menu.GetProgress()) * 90.0f);
    default:
        return 0;
    }
}

// ---- Frame ----

void CEntityManager::DrawVeil()
{
    const D3DCOLOR colour = (static_cast<DWORD>(GetVeilAlpha()) << 24) + 0xFFFFFF;
    if (!g_pVeilTexture)
        Log(245, "viel texture = NULL");
    if (!g_pSprite) {
        Log(252, "error in rendering the viel");
        return;
    }
    g_pSprite->Begin(D3DXSPRITE_ALPHABLEND);
    g_pDevice->SetRenderState(D3DRS_ZENABLE, FALSE);
    D3DXMATRIX scaling;
    D3DXMatrixScaling(&scaling, 1000.0f, 1000.0f, 1000.0f);
    g_pSprite->SetTransform(&scaling);
    if (FAILED(g_pSprite->Draw(g_pVeilTexture, nullptr, nullptr, nullptr, colour)))
        Log(252, "error in rendering the viel");
    D3DXMatrixScaling(&scaling, 1.0f, 1.0f, 1.0f);
    g_pSprite->SetTransform(&scaling);
    g_pSprite->End();
    g_pDevice->SetRenderState(D3DRS_ZENABLE, TRUE);
}

void CEntityManager::UpdateAndRender(float dt)
{
    if (g_CycleView && static_cast<LONG>(timeGetTime() - LastInputTime) > 5000) {
        NextCamera();
        LastInputTime = timeGetTime();
    }

    m_Camera.Step(dt);
    g_ViewMatrix = m_Camera.GetViewMatrix();
    g_pDevice->SetTransform(D3DTS_VIEW, &g_ViewMatrix);

    for (CEntity* entity : m_Entities) {
        entity->Update(dt);
        if (entity->GetType() != EntityTypeAgent && entity != m_pSelected)
            entity->Render();
    }

    if (m_pSelected) {
        DrawVeil();
        m_pSelected->Render();
    }

    for (CEntity* entity : m_Entities) {
        entity->Update(dt);
        if (entity->GetType() == EntityTypeAgent && m_State == state_linking)
            entity->Render();
    }

    const D3DXVECTOR2 origin(m_LinkOriginX, m_LinkOriginY);
    if (m_State == state_linking) {
        for (CEntity* entity : m_Entities) {
            if (entity->GetType() == EntityTypeAgent)
                DrawPatternLine(entity->GetScreenPosition(), origin, 0xC4FFFF00, 0x0F0F0F0F, 2.0f);
        }
    }

    for (CEntity* entity : m_Entities)
        entity->RenderMenu();

    if (m_State == state_linking) {
        const D3DXVECTOR2 mouse(static_cast<float>(m_MouseX), static_cast<float>(m_MouseY));
        DrawLine(mouse, origin, 0xFAFFFF00);
    }

    for (CEntity* entity : m_Entities) {
        bool hit;
        switch (m_State) {
        case state_none:
            hit = entity->HitTest(m_MouseX, m_MouseY);
            break;
        case state_menu:
            hit = entity->MenuHitTest(m_MouseX, m_MouseY);
            break;
        default:
            hit = entity->LinkHitTest(m_MouseX, m_MouseY);
            break;
        }
        if (!hit)
            continue;
        entity->OnMessage(MsgHover);
        if (m_State == state_none) {
            m_pSelected = entity;
            const char* text = nullptr;
            switch (entity->GetType()) {
            case EntityTypeDancer:
                text = "dancer settings";
                break;
            case EntityTypeSpot:
                text = "spot settings";
                break;
            case EntityTypeFloor:
                text = "dancefloor settings";
                break;
            }
            if (text)
                SetStatusText(text, timeGetTime(), true);
        }
        return;
    }

    if (static_cast<LONG>(timeGetTime() - LastInputTime) > 3000) {
        BackOut();
        LastInputTime = timeGetTime();
    }
    SetStatusText("", 0, true);
}

void CEntityManager::OnLeftClick()
{
    const int state = m_State;
    for (CEntity* entity : m_Entities) {
        bool hit;
        if (state == state_none)
            hit = entity->HitTest(m_MouseX, m_MouseY);
        else if (state == state_menu)
            hit = entity->MenuHitTest(m_MouseX, m_MouseY);
        else
            hit = entity->LinkHitTest(m_MouseX, m_MouseY) || entity->MenuHitTest(m_MouseX, m_MouseY);
        if (!hit)
            continue;
        entity->OnMessage(MsgLeftClick);
        if (state == state_none) {
            const char* text = nullptr;
            switch (entity->GetType()) {
            case EntityTypeDancer:
                text = "setting the dancer";
                break;
            case EntityTypeSpot:
                text = "setting the spot";
                break;
            case EntityTypeFloor:
                text = "setting the dancefloor";
                break;
            }
            if (text)
                SetStatusText(text, timeGetTime(), false);
        }
        return;
    }
    BackOut();
}

void CEntityManager::BackOut()
{
    if (m_State == state_linking) {
        Log(360, "back to state_menu");
        m_State = state_menu;
        if (m_pPendingReference) {
            *m_pPendingReference = RefUnlinked;
            m_pPendingReference = nullptr;
        }
        SetStatusText("no reference selected", timeGetTime(), false);
        return;
    }
    Log(370, "back to state_none");
    Broadcast(MsgCancelLink);
    Broadcast(MsgCloseMenu);
    m_State = state_none;
    m_pSelected = nullptr;
}

// ---- Camera keys ----

void CEntityManager::SetCameraGoal()
{
    g_Logger.SetLocation(kSource, 385);
    g_Logger.Printf("using camera %d", m_CameraIndex);
    const D3DXVECTOR3& position = m_KeyPositions[m_CameraIndex];
    g_Logger.SetLocation(kSource, 387);
    g_Logger.Printf("setting %f %f %f", position.x, position.y, position.z);
    m_Camera.SetGoal(position, m_KeyTargets[m_CameraIndex]);
}

void CEntityManager::NextCamera()
{
    if (m_KeyPositions.empty())
        return;
    ++m_CameraIndex;
    if (m_CameraIndex >= static_cast<int>(m_KeyPositions.size()))
        m_CameraIndex = 0;
    SetCameraGoal();
}

void CEntityManager::PreviousCamera()
{
    if (m_KeyPositions.empty())
        return;
    --m_CameraIndex;
    if (m_CameraIndex < 0)
        m_CameraIndex = static_cast<int>(m_KeyPositions.size()) - 1;
    SetCameraGoal();
}
