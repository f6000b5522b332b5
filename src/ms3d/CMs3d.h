// A MilkShape 3D model: the file's vertices, triangles, groups and joints,
// the joint matrices, and the skinned vertices that are drawn.
#ifndef VELMORA_CMS3D_H
#define VELMORA_CMS3D_H

#include <windows.h>

#include "math/CMatrix4.h"
#include "math/CVector3.h"

// A vertex record of the file (15 bytes there), its fields aligned in memory.
struct CMs3dVertex
{
    BYTE flags;
    float position[3];
    signed char boneIndex;
    BYTE referenceCount;
};

// A triangle record of the file (70 bytes there), its fields aligned in memory.
struct CMs3dTriangle
{
    WORD flags;
    WORD vertexIndices[3];
    float vertexNormals[3][3];
    float s[3];
    float t[3];
    BYTE smoothingGroup;
    BYTE groupIndex;
};

struct CMs3dGroup
{
    WORD numTriangles;
    WORD* triangleIndices;
};

struct CMs3dJoint
{
    char name[32];
    char parentName[32];
    float rotation[3];
    float position[3];
    int parentIndex;
    CMatrix4 local;
    CMatrix4 absolute;
    CMatrix4 final;
};

// Vertex format handed to the device: D3DFVF_XYZ | D3DFVF_NORMAL.
struct CMs3dRenderVertex
{
    float position[3];
    float normal[3];
};

// Technique handle of the dancer effect (a D3DXHANDLE).
typedef LPCSTR CMs3dTechnique;

class CMs3d
{
public:
    CMs3d();
    ~CMs3d();

    void Reset();
    void Free();
    // False when the file cannot be opened or its contents are refused
    // (the model is then empty).
    bool Load(const char* path);

    int FindJoint(const char* name) const;
    CMs3dJoint* GetJoint(int index);
    const CMs3dJoint* GetJoint(int index) const;

    void PrepareJoints();
    void VerticesToBoneSpace();
    void Skin();

    // Draws the skinned vertices through the dancer effect in the tint, with the
    // device's current world transform.
    void Render();
    void DrawGroup(int group);
    void DrawTriangle(int triangle);
    // Either the dancer effect's next technique or a new random tint.
    void ChangeColour();
    // Screen x, y and depth of the bounding box's centre.
    CVector3 GetScreenCentre() const;
    // Whether the point lies strictly inside the projected box of the minimum and
    // maximum corners.
    bool HitTestScreenBox(int x, int y) const;

    CMs3d(const CMs3d&) = delete;
    CMs3d& operator=(const CMs3d&) = delete;

    CVector3 m_BoxMin;
    CVector3 m_BoxMax;
    WORD m_NumVertices;
    CMs3dVertex* m_pVertices;
    WORD m_NumTriangles;
    CMs3dTriangle* m_pTriangles;
    float m_Tint[4];
    WORD m_NumRenderVertices;
    CMs3dRenderVertex* m_pRenderVertices;
    WORD m_NumGroups;
    CMs3dGroup* m_pGroups;
    WORD m_NumJoints;
    CMs3dJoint* m_pJoints;
    CMs3dTechnique m_Technique;

private:
    bool Parse(const BYTE* data, size_t size);
};

#endif
