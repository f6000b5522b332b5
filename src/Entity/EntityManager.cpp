// Placeholder until the entity manager lands: an empty scene.
#include "Entity/EntityManager.h"

CEntityManager::CEntityManager() : LastInputTime(0)
{
}

CEntityManager::~CEntityManager()
{
}

bool CEntityManager::LoadScene(const char* path)
{
    return false;
}

void CEntityManager::SetMousePosition(int x, int y)
{
}

void CEntityManager::UpdateAndRender(float dt)
{
}

void CEntityManager::OnLeftClick()
{
}

void CEntityManager::BackOut()
{
}

void CEntityManager::NextCamera()
{
}

void CEntityManager::PreviousCamera()
{
}
