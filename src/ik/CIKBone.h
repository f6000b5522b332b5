// One bone of an inverse-kinematics skeleton; a bone owns its children.
#ifndef VELMORA_CIKBONE_H
#define VELMORA_CIKBONE_H

#include "math/CMatrix4.h"
#include "math/CQuaternion.h"
#include "math/CVector3.h"

#include <string>
#include <vector>

struct CMs3dJoint;

class CIKBone
{
public:
    CIKBone();
    ~CIKBone();

    void Reset();
    void DeleteChildren();
    void AddChild(CIKBone* child);
    CIKBone* GetParent() const { return m_pParent; }
    int GetChildCount() const { return static_cast<int>(m_Children.size()); }
    CIKBone* GetChild(int index) const { return m_Children[index]; }
    std::string GetName() const { return m_Name; }
    void SetName(const std::string& name) { m_Name = name; }

    static void InitFromJoint(const CMs3dJoint& joint, CIKBone* bone, int jointIndex);

    void UpdateWorld(bool recursive);
    CIKBone* FindByName(const char* name);
    CIKBone* Clone() const;
    void CopyPose(const CIKBone* other);

    CIKBone(const CIKBone&) = delete;
    CIKBone& operator=(const CIKBone&) = delete;

    CIKBone* m_pParent;
    std::vector<CIKBone*> m_Children;
    CVector3 m_LocalPosition;
    CQuaternion m_LocalRotation;
    CMatrix4 m_World;
    std::string m_Name;
    int m_JointIndex;
};

#endif
