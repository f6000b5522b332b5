#include "Resource/ResourceManager.h"

#include <new>

#include "Logger.h"
#include "Resource/IResource.h"
#include "Resource/GraphicObject.h"
#include "Resource/Shader.h"
#include "Resource/Texture.h"

CResourceManager::CResourceManager()
{
}

CResourceManager::~CResourceManager()
{
    UnloadAll();
    for (IResource* resource : m_Unloaded)
        delete resource;
    m_Unloaded.clear();
}

template <class T>
T* CResourceManager::Get(const std::string& path, int type, int line)
{
    g_Logger.SetLocation("src\\Resource\\ResourceManager", line);
    g_Logger.Printf("loading %s", path.c_str());

    if (IResource* held = Find(path))
    {
        if (held->GetType() != type)
            return nullptr;
        held->AddRequest();
        return static_cast<T*>(held);
    }

    T* resource = new (std::nothrow) T(path);
    if (!resource)
        return nullptr;
    if (!resource->Load())
    {
        delete resource;
        return nullptr;
    }
    Add(resource);
    resource->AddRequest();
    return resource;
}

CTexture* CResourceManager::GetTexture(const std::string& path)
{
    return Get<CTexture>(path, RESOURCE_TEXTURE, 54);
}

CShader* CResourceManager::GetShader(const std::string& path)
{
    return Get<CShader>(path, RESOURCE_SHADER, 89);
}

CGraphicObject* CResourceManager::GetGraphicObject(const std::string& path)
{
    return Get<CGraphicObject>(path, RESOURCE_GRAPHICOBJECT, 124);
}

IResource* CResourceManager::Find(const std::string& path) const
{
    std::map<std::string, IResource*>::const_iterator found = m_Resources.find(path);
    return found == m_Resources.end() ? nullptr : found->second;
}

void CResourceManager::Add(IResource* resource)
{
    if (resource)
        m_Resources.insert(std::make_pair(resource->GetName(), resource));
}

void CResourceManager::UnloadAll()
{
    for (std::map<std::string, IResource*>::iterator it = m_Resources.begin(); it != m_Resources.end(); ++it)
    {
        it->second->Unload();
        m_Unloaded.push_back(it->second);
    }
    m_Resources.clear();
}
