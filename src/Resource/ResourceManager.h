// The one owner of the file-backed resources. Placeholder until the resource manager lands.
#ifndef VELMORA_RESOURCE_RESOURCEMANAGER_H
#define VELMORA_RESOURCE_RESOURCEMANAGER_H

#include <string>

class CShader;

class CResourceManager
{
public:
    CResourceManager();
    ~CResourceManager();

    CShader* GetShader(const std::string& path);
};

#endif
