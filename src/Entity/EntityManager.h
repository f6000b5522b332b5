// The scene: its entities, camera keys, menu images and the hover, click,
// menu and link states.
#ifndef VELMORA_ENTITY_ENTITYMANAGER_H
#define VELMORA_ENTITY_ENTITYMANAGER_H

#include "Entity/CameraMotion.h"
#include "Menu/Menu.h"

#include <windows.h>
#include <d3dx9.h>

#include <vector>

class CEntity;
class CTexture;
class TiXmlElement;

enum
{
    state_none = 0,
    state_menu = 1,
    state_linking = 2
};

// Reads "%f %f %f" (or four) into out; false, writing nothing, when the attribute is absent.
bool ReadVec3Attribute(const TiXmlElement* element, const char* name, float* out);
bool ReadVec4Attribute(const TiXmlElement* element, const char* name, float* out);
// Element names of the scene file compare without regard to case.
bool NamesMatch(const char* a, const char* b);
// Formats a data-folder path into a 128-byte buffer; false when it does not fit.
bool FormatDataPath(char (&path)[128], const char* format, const char* name);

class CEntityManager
{
public:
    CEntityManager();
    ~CEntityManager();

    void Reset();
    void Clear();

    bool LoadScene(const char* path);
    bool ParseObject(const TiXmlElement* element);
    bool ParseAgent(const TiXmlElement* element);
    bool ParseDancer(const TiXmlElement* element);
    bool ParseSpot(const TiXmlElement* element);
    bool ParseFloor(const TiXmlElement* element);
    bool ParseCamera(const TiXmlElement* element);
    bool ParseMenu(const TiXmlElement* element);

    void SetMousePosition(int x, int y);
    void SetState(int state);
    void SetPendingReference(int* reference) { m_pPendingReference = reference; }
    int* GetPendingReference() const { return m_pPendingReference; }
    int GetState() const { return m_State; }
    void Broadcast(int message);

    void UpdateAndRender(float dt);
    void OnLeftClick();
    void BackOut();
    void NextCamera();
    void PreviousCamera();

    // The veil's alpha for the selected entity's menu state.
    int GetVeilAlpha() const;

    int* m_pPendingReference;
    float m_LinkOriginX;
    float m_LinkOriginY;
    int m_MouseX;
    int m_MouseY;
    int m_State;
    std::vector<CEntity*> m_Entities;
    CTexture* m_MenuTextures[MenuButtonCount];
    CEntity* m_pSelected;
    CCameraMotion m_Camera;
    int m_CameraIndex;
    std::vector<D3DXVECTOR3> m_KeyPositions;
    std::vector<D3DXVECTOR3> m_KeyTargets;
    DWORD LastInputTime;

private:
    void Add(CEntity* entity);
    void DrawVeil();
    void SetCameraGoal();

    CEntityManager(const CEntityManager&) = delete;
    CEntityManager& operator=(const CEntityManager&) = delete;
};

#endif
