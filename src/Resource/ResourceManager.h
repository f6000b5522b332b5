// Loads every file-backed resource once by its exact path and shares it.
#ifndef VELMORA_RESOURCE_RESOURCEMANAGER_H
#define VELMORA_RESOURCE_RESOURCEMANAGER_H

#include <map>
#include <string>
#include <vector>

class IResource;
class CTexture;
class CShader;
class CGraphicObject;

class CResourceManager
{
public:
    CResourceManager();
    // Unloads every resource, then deletes them: no pointer handed out is valid afterwards.
    ~CResourceManager();

    // The one shared resource of that path, loaded at the first request; null when
    // loading fails or the path is held by another kind.
    CTexture* GetTexture(const std::string& path);
    CShader* GetShader(const std::string& path);
    CGraphicObject* GetGraphicObject(const std::string& path);

    IResource* Find(const std::string& path) const;
    // Files the resource under its name unless that key is taken.
    void Add(IResource* resource);
    // Unloads every resource in key order and empties the table. The objects stay
    // alive until the manager goes, so pointers handed out stay valid.
    void UnloadAll();

    CResourceManager(const CResourceManager&) = delete;
    CResourceManager& operator=(const CResourceManager&) = delete;

private:
    template <class T>
    T* Get(const std::string& path, int type, int line);

    std::map<std::string, IResource*> m_Resources;
    // Unloaded resources waiting for the manager's destruction.
    std::vector<IResource*> m_Unloaded;
};

#endif
