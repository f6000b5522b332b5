// The scene and its entities. Placeholder until the entity manager lands.
#ifndef VELMORA_ENTITY_ENTITYMANAGER_H
#define VELMORA_ENTITY_ENTITYMANAGER_H

#include <windows.h>

class CEntityManager
{
public:
    CEntityManager();
    ~CEntityManager();

    bool LoadScene(const char* path);
    void SetMousePosition(int x, int y);
    void UpdateAndRender(float dt);
    void OnLeftClick();
    void BackOut();
    void NextCamera();
    void PreviousCamera();

    DWORD LastInputTime;
};

#endif
