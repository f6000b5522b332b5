// A MilkShape 3D model posed by inverse kinematics: bone trees, solvers and
// controls read from an XML model file.
#ifndef VELMORA_CIKMODEL_H
#define VELMORA_CIKMODEL_H

#include "ik/CIKBone.h"
#include "ik/CIKControl.h"
#include "ik/CIKSolver.h"
#include "ms3d/CMs3d.h"

#include <string>
#include <vector>

class TiXmlElement;

// The attribute read as "%f %f %f"; missing values are 0.
CVector3 ReadVectorAttribute(const TiXmlElement* element, const char* name);

class CIKModel : public CMs3d
{
public:
    CIKModel();
    ~CIKModel();

    bool LoadFile(const char* path);
    bool LoadModel(const char* path);
    bool ParseSolver(const TiXmlElement* element);
    bool AddSolver(const std::string& name, const std::string& start, const std::string& end);
    void ParseControl(const TiXmlElement* element);
    void BuildBones();
    void Clear();
    void Destroy();

    // The per-frame pass, in this order.
    void ResetPose();
    void UpdateControls(float dt);
    void SolveAll();
    void ApplyToMesh();

    void CopyBoneMatrices(const CIKBone* bone);

    // The mesh in its current pose, with the device's world transform.
    void Render();
    // Screen x, y and depth of the current pose's centre.
    CVector3 GetScreenCentre() const;

    CIKBone* m_pRestRoot;
    CIKBone* m_pWorkRoot;
    std::vector<CIKSolver*> m_Solvers;
    std::vector<CIKControl> m_Controls;
};

#endif
