// Placeholder until the resource manager lands: it loads nothing yet.
#include "Resource/ResourceManager.h"

CResourceManager::CResourceManager()
{
}

CResourceManager::~CResourceManager()
{
}

CShader* CResourceManager::GetShader(const std::string& path)
{
    return nullptr;
}
