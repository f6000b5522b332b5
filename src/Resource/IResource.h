// Base of every file-backed resource: a kind, the path it was requested under
// and how many times the resource manager handed it out.
#ifndef VELMORA_RESOURCE_IRESOURCE_H
#define VELMORA_RESOURCE_IRESOURCE_H

#include <string>

enum EResourceType
{
    RESOURCE_TEXTURE = 0,
    RESOURCE_SHADER = 1,
    RESOURCE_GRAPHICOBJECT = 2
};

class IResource
{
public:
    IResource(int type, const std::string& name) : m_Type(type), m_Name(name), m_RequestCount(0) {}

    // Sets the kind's device objects and handles to null.
    virtual void Init() = 0;
    // Creates the kind's device objects from the file named by the name.
    virtual bool Load() = 0;
    // Releases the kind's device objects, then Init.
    virtual void Unload() = 0;
    // False only for the same kind under a byte-for-byte equal name.
    virtual bool IsDifferent(const IResource* other) const
    {
        return !other || other->m_Type != m_Type || other->m_Name != m_Name;
    }
    virtual ~IResource() {}

    std::string GetName() const { return m_Name; }
    int GetType() const { return m_Type; }
    int GetRequestCount() const { return m_RequestCount; }
    void AddRequest() { ++m_RequestCount; }

    IResource(const IResource&) = delete;
    IResource& operator=(const IResource&) = delete;

protected:
    int m_Type;
    std::string m_Name;
    int m_RequestCount;
};

#endif
