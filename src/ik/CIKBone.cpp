#include "ik/CIKBone.h"

#include "ms3d/CMs3d.h"

#include <string.h>

CIKBone::CIKBone()
{
    Reset();
}

CIKBone::~CIKBone()
{
    DeleteChildren();
}

void CIKBone::Reset()
{
    m_JointIndex = -1;
    m_LocalPosition = CVector3(0.0f, 1.0f, 0.0f);
    m_LocalRotation = CQuaternion();
    m_pParent = nullptr;
    std::vector<CIKBone*>().swap(m_Children);
}

void CIKBone::DeleteChildren()
{
    for (CIKBone* child : m_Children)
        delete child;
    m_Children.clear();
    Reset();
}

void CIKBone::AddChild(CIKBone* child)
{
    child->m_pParent = this;
    m_Children.push_back(child);
}

void CIKBone::InitFromJoint(const CMs3dJoint& joint, CIKBone* bone, int jointIndex)
{
    bone->m_JointIndex = jointIndex;
    // The name field may fill all 32 bytes without a terminator.
    const void* zero = memchr(joint.name, 0, sizeof(joint.name));
    size_t length = zero ? static_cast<const char*>(zero) - joint.name : sizeof(joint.name);
    bone->m_Name.assign(joint.name, length);
    bone->m_LocalRotation.FromMatrix(joint.local);
    bone->m_LocalPosition = CVector3(joint.position[0], joint.position[1], joint.position[2]);
}

void CIKBone::UpdateWorld(bool recursive)
{
    CMatrix4 local;
    local.SetRotationTranslation(m_LocalRotation, m_LocalPosition);
    if (m_pParent)
        CMatrix4::Multiply(m_World, m_pParent->m_World, local); // local . parent
    else
        m_World = local;
    if (recursive)
        for (CIKBone* child : m_Children)
            child->UpdateWorld(true);
}

CIKBone* CIKBone::FindByName(const char* name)
{
    if (m_Name == name)
        return this;
    for (CIKBone* child : m_Children)
        if (CIKBone* found = child->FindByName(name))
            return found;
    return nullptr;
}

CIKBone* CIKBone::Clone() const
{
    CIKBone* copy = new CIKBone;
    copy->m_JointIndex = m_JointIndex;
    copy->m_Name = m_Name;
    copy->m_LocalRotation = m_LocalRotation;
    copy->m_LocalPosition = m_LocalPosition;
    for (const CIKBone* child : m_Children)
        copy->AddChild(child->Clone());
    copy->UpdateWorld(true);
    return copy;
}

void CIKBone::CopyPose(const CIKBone* other)
{
    m_JointIndex = other->m_JointIndex;
    m_LocalRotation = other->m_LocalRotation;
    m_LocalPosition = other->m_LocalPosition;
    // Trees of another shape copy only what they share.
    for (size_t i = 0; i < m_Children.size() && i < other->m_Children.size(); ++i)
        m_Children[i]->CopyPose(other->m_Children[i]);
}
