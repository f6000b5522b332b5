#include "ms3d/CMs3d.h"

#include "Logger.h"
#include "math/CMatrix3.h"
#include "Resource/Shader.h"
#include "d3d_stuff.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <new>
#include <vector>

static const char* const kSource = "src\\ms3d\\CMs3d";

// Three corners per triangle must fit the 16-bit render-vertex count.
static const unsigned kMaxTriangles = 21845;

namespace
{
// Reads the file's bytes in order and never past their end.
class CByteReader
{
public:
    CByteReader(const BYTE* data, size_t size) : m_pData(data), m_Size(size), m_Offset(0) {}

    bool Read(void* out, size_t count)
    {
        if (count > m_Size - m_Offset)
            return false;
        if (count)
            memcpy(out, m_pData + m_Offset, count);
        m_Offset += count;
        return true;
    }
    bool Skip(size_t count)
    {
        if (count > m_Size - m_Offset)
            return false;
        m_Offset += count;
        return true;
    }
    bool Has(size_t count) const { return count <= m_Size - m_Offset; }

private:
    const BYTE* m_pData;
    size_t m_Size;
    size_t m_Offset;
};

// Names fill their 32-byte field and may lack the terminating zero.
size_t FieldLength(const char* field)
{
    const void* zero = memchr(field, 0, 32);
    return zero ? static_cast<size_t>(static_cast<const char*>(zero) - field) : 32;
}
} // namespace

CMs3d::CMs3d()
{
    g_Logger.SetLocation(kSource, 195);
    g_Logger.Printf("MS3D constructor");
    m_pVertices = nullptr;
    m_pTriangles = nullptr;
    m_pRenderVertices = nullptr;
    m_pGroups = nullptr;
    m_pJoints = nullptr;
    Reset();
}

CMs3d::~CMs3d()
{
    g_Logger.SetLocation(kSource, 196);
    g_Logger.Printf("MS3D destructor");
    Free();
}

void CMs3d::Reset()
{
    m_NumVertices = 0;
    m_pVertices = nullptr;
    m_NumTriangles = 0;
    m_pTriangles = nullptr;
    m_Tint[0] = 1.0f;
    m_Tint[1] = 0.6f;
    m_Tint[2] = 0.3f;
    m_Tint[3] = 1.0f;
    m_NumRenderVertices = 0;
    m_pRenderVertices = nullptr;
    m_NumGroups = 0;
    m_pGroups = nullptr;
    m_NumJoints = 0;
    m_pJoints = nullptr;
    m_Technique = nullptr;
}

void CMs3d::Free()
{
    delete[] m_pRenderVertices;
    delete[] m_pVertices;
    delete[] m_pTriangles;
    delete[] m_pJoints;
    if (m_pGroups)
    {
        for (int i = 0; i < m_NumGroups; ++i)
            delete[] m_pGroups[i].triangleIndices;
        delete[] m_pGroups;
    }
    Reset();
}

bool CMs3d::Load(const char* path)
{
    CLogScope scope(&g_Logger, "MS3D MODEL LOADER", 143, kSource);
    g_Logger.SetLocation(kSource, 153);
    g_Logger.Printf("Loading file %s", path);

    FILE* file = fopen(path, "rb");
    if (!file)
    {
        g_Logger.SetLocation(kSource, 157);
        g_Logger.Printf("couldn open file");
        return false;
    }
    // A file too large for memory is refused like a broken one.
    bool parsed = false;
    try
    {
        std::vector<BYTE> data;
        BYTE chunk[65536];
        size_t got;
        while ((got = fread(chunk, 1, sizeof(chunk), file)) > 0)
            data.insert(data.end(), chunk, chunk + got);
        fclose(file);
        file = nullptr;
        parsed = Parse(data.data(), data.size());
        if (parsed)
        {
            PrepareJoints();
            VerticesToBoneSpace();
        }
    }
    catch (const std::bad_alloc&)
    {
        if (file)
            fclose(file);
        parsed = false;
        g_Logger.SetLocation(kSource, 326);
        g_Logger.Printf("model refused: %s", "out of memory");
    }
    if (!parsed)
    {
        Free();
        return false;
    }
    g_Logger.SetLocation(kSource, 328);
    g_Logger.Printf("MS3D model loaded");
    return true;
}

// Reads the sections in file order into the model's arrays. Anything that
// does not fit the file's data or breaks an index invariant refuses the file.
bool CMs3d::Parse(const BYTE* data, size_t size)
{
    CByteReader in(data, size);
    auto refuse = [](const char* why) {
        g_Logger.SetLocation(kSource, 326);
        g_Logger.Printf("model refused: %s", why);
        return false;
    };

    BYTE header[14];
    if (!in.Read(header, sizeof(header)))
        return refuse("file ends in the header");
    int version;
    memcpy(&version, header + 10, 4);
    g_Logger.SetLocation(kSource, 164);
    g_Logger.Printf("version %d", version);

    WORD count;
    if (!in.Read(&count, 2))
        return refuse("file ends before the vertex count");
    g_Logger.SetLocation(kSource, 172);
    g_Logger.Printf("%d vertices", count);
    if (!in.Has(size_t(count) * 15))
        return refuse("file ends in the vertices");
    m_pVertices = new CMs3dVertex[count];
    m_NumVertices = count;
    for (int v = 0; v < m_NumVertices; ++v)
    {
        CMs3dVertex& vertex = m_pVertices[v];
        in.Read(&vertex.flags, 1);
        in.Read(vertex.position, 12);
        in.Read(&vertex.boneIndex, 1);
        in.Read(&vertex.referenceCount, 1);
    }

    if (!in.Read(&count, 2))
        return refuse("file ends before the triangle count");
    g_Logger.SetLocation(kSource, 186);
    g_Logger.Printf("%d triangles", count);
    if (count > kMaxTriangles)
        return refuse("too many triangles");
    if (!in.Has(size_t(count) * 70))
        return refuse("file ends in the triangles");
    m_pTriangles = new CMs3dTriangle[count];
    m_NumTriangles = count;
    for (int t = 0; t < m_NumTriangles; ++t)
    {
        CMs3dTriangle& triangle = m_pTriangles[t];
        in.Read(&triangle.flags, 2);
        in.Read(triangle.vertexIndices, 6);
        in.Read(triangle.vertexNormals, 36);
        in.Read(triangle.s, 12);
        in.Read(triangle.t, 12);
        in.Read(&triangle.smoothingGroup, 1);
        in.Read(&triangle.groupIndex, 1);
    }
    for (int t = 0; t < m_NumTriangles; ++t)
        for (int k = 0; k < 3; ++k)
            if (m_pTriangles[t].vertexIndices[k] >= m_NumVertices)
                return refuse("triangle vertex index out of range");
    m_NumRenderVertices = static_cast<WORD>(m_NumTriangles * 3);
    m_pRenderVertices = new CMs3dRenderVertex[m_NumRenderVertices];

    if (!in.Read(&count, 2))
        return refuse("file ends before the group count");
    g_Logger.SetLocation(kSource, 203);
    g_Logger.Printf("%d groups", count);
    // Each group takes at least 36 bytes: a count beyond that is a lie.
    if (!in.Has(size_t(count) * 36))
        return refuse("file ends in the groups");
    m_pGroups = new CMs3dGroup[count];
    m_NumGroups = count;
    for (int g = 0; g < m_NumGroups; ++g)
    {
        m_pGroups[g].numTriangles = 0;
        m_pGroups[g].triangleIndices = nullptr;
    }
    for (int g = 0; g < m_NumGroups; ++g)
    {
        BYTE flags;
        char name[32];
        WORD numTriangles;
        if (!in.Read(&flags, 1) || !in.Read(name, 32) || !in.Read(&numTriangles, 2))
            return refuse("file ends in a group");
        if (!in.Has(size_t(numTriangles) * 2 + 1))
            return refuse("file ends in a group");
        CMs3dGroup& group = m_pGroups[g];
        group.triangleIndices = new WORD[numTriangles];
        group.numTriangles = numTriangles;
        in.Read(group.triangleIndices, size_t(numTriangles) * 2);
        signed char material;
        in.Read(&material, 1);
        for (int i = 0; i < numTriangles; ++i)
            if (group.triangleIndices[i] >= m_NumTriangles)
                return refuse("group triangle index out of range");
    }

    if (!in.Read(&count, 2))
        return refuse("file ends before the material count");
    g_Logger.SetLocation(kSource, 238);
    g_Logger.Printf("%d materials", count);
    if (!in.Skip(size_t(count) * 361))
        return refuse("file ends in the materials");

    float framesPerSecond, currentTime;
    int totalFrames;
    if (!in.Read(&framesPerSecond, 4) || !in.Read(&currentTime, 4) || !in.Read(&totalFrames, 4))
        return refuse("file ends in the animation values");
    g_Logger.SetLocation(kSource, 260);
    g_Logger.Printf("nb frames %d", totalFrames);

    if (!in.Read(&count, 2))
        return refuse("file ends before the joint count");
    g_Logger.SetLocation(kSource, 265);
    g_Logger.Printf("%d joints", count);
    if (!in.Has(size_t(count) * 93))
        return refuse("file ends in the joints");
    m_pJoints = new CMs3dJoint[count];
    m_NumJoints = count;
    for (int j = 0; j < m_NumJoints; ++j)
    {
        CMs3dJoint& joint = m_pJoints[j];
        BYTE flags;
        WORD numRotationKeys, numPositionKeys;
        joint.parentIndex = -1;
        if (!in.Read(&flags, 1) || !in.Read(joint.name, 32) || !in.Read(joint.parentName, 32) ||
            !in.Read(joint.rotation, 12) || !in.Read(joint.position, 12) || !in.Read(&numRotationKeys, 2) ||
            !in.Read(&numPositionKeys, 2))
            return refuse("file ends in a joint");
        if (!in.Skip(size_t(numRotationKeys) * 16) || !in.Skip(size_t(numPositionKeys) * 16))
            return refuse("file ends in a joint's key frames");
    }

    for (int v = 0; v < m_NumVertices; ++v)
        if (m_pVertices[v].boneIndex >= m_NumJoints)
            return refuse("vertex bone index out of range");
    return true;
}

static int FindJointByField(const CMs3dJoint* joints, int numJoints, const char* name, size_t length)
{
    for (int i = 0; i < numJoints; ++i)
        if (FieldLength(joints[i].name) == length && memcmp(joints[i].name, name, length) == 0)
            return i;
    return -1;
}

int CMs3d::FindJoint(const char* name) const
{
    if (!name || !m_pJoints)
        return -1;
    size_t length = strlen(name);
    if (length > 32)
        return -1;
    return FindJointByField(m_pJoints, m_NumJoints, name, length);
}

CMs3dJoint* CMs3d::GetJoint(int index)
{
    if (index < 0 || index >= m_NumJoints)
        return nullptr;
    return &m_pJoints[index];
}

const CMs3dJoint* CMs3d::GetJoint(int index) const
{
    if (index < 0 || index >= m_NumJoints)
        return nullptr;
    return &m_pJoints[index];
}

void CMs3d::PrepareJoints()
{
    g_Logger.SetLocation(kSource, 352);
    g_Logger.Printf("preparing joints...");
    for (int i = 0; i < m_NumJoints; ++i)
    {
        CMs3dJoint& joint = m_pJoints[i];
        size_t parentLength = FieldLength(joint.parentName);
        // An empty parent name marks a root, even when some joint has no name.
        joint.parentIndex =
            parentLength ? FindJointByField(m_pJoints, m_NumJoints, joint.parentName, parentLength) : -1;

        joint.local.SetIdentity();
        joint.local.RotateX(joint.rotation[0]);
        joint.local.RotateY(joint.rotation[1]);
        joint.local.RotateZ(joint.rotation[2]);
        joint.local.m[3][0] = joint.position[0];
        joint.local.m[3][1] = joint.position[1];
        joint.local.m[3][2] = joint.position[2];

        if (joint.parentIndex == -1)
            joint.absolute = joint.local;
        else
            joint.absolute = m_pJoints[joint.parentIndex].absolute * joint.local;
        joint.final = joint.absolute;
    }
}

void CMs3d::VerticesToBoneSpace()
{
    if (!m_NumJoints)
        return;
    std::vector<CMatrix4> inverse(m_NumJoints);
    std::vector<CMatrix3> inverseRotation(m_NumJoints);
    for (int j = 0; j < m_NumJoints; ++j)
    {
        m_pJoints[j].final.Inverse(inverse[j]);
        inverseRotation[j].Invert(m_pJoints[j].final.GetMatrix3());
    }
    for (int v = 0; v < m_NumVertices; ++v)
    {
        CMs3dVertex& vertex = m_pVertices[v];
        if (vertex.boneIndex < 0)
            continue;
        CVector3 p(vertex.position[0], vertex.position[1], vertex.position[2]);
        p *= inverse[vertex.boneIndex];
        vertex.position[0] = p.x;
        vertex.position[1] = p.y;
        vertex.position[2] = p.z;
    }
    for (int t = 0; t < m_NumTriangles; ++t)
    {
        CMs3dTriangle& triangle = m_pTriangles[t];
        for (int k = 0; k < 3; ++k)
        {
            int bone = m_pVertices[triangle.vertexIndices[k]].boneIndex;
            if (bone < 0)
                continue;
            float* n = triangle.vertexNormals[k];
            CVector3 normal(n[0], n[1], n[2]);
            normal *= inverseRotation[bone];
            normal.Normalize();
            n[0] = normal.x;
            n[1] = normal.y;
            n[2] = normal.z;
        }
    }
}

void CMs3d::Skin()
{
    float boxMin[3] = {1000000.0f, 1000000.0f, 1000000.0f};
    float boxMax[3] = {-1000000.0f, -1000000.0f, -1000000.0f};
    static const CMatrix4 identity;
    for (int t = 0; t < m_NumTriangles; ++t)
    {
        const CMs3dTriangle& triangle = m_pTriangles[t];
        for (int k = 0; k < 3; ++k)
        {
            const CMs3dVertex& vertex = m_pVertices[triangle.vertexIndices[k]];
            const CMatrix4& m = vertex.boneIndex < 0 ? identity : m_pJoints[vertex.boneIndex].final;
            const float* v = vertex.position;
            const float* n = triangle.vertexNormals[k];
            CMs3dRenderVertex& out = m_pRenderVertices[3 * t + k];
            for (int c = 0; c < 3; ++c)
            {
                float p = v[0] * m.m[0][c] + v[1] * m.m[1][c] + v[2] * m.m[2][c] + m.m[3][c];
                out.position[c] = p;
                out.normal[c] = n[0] * m.m[0][c] + n[1] * m.m[1][c] + n[2] * m.m[2][c];
                if (p > boxMax[c])
                    boxMax[c] = p;
                if (p < boxMin[c])
                    boxMin[c] = p;
            }
        }
    }
    m_BoxMin = CVector3(boxMin[0], boxMin[1], boxMin[2]);
    m_BoxMax = CVector3(boxMax[0], boxMax[1], boxMax[2]);
}

void CMs3d::Render()
{
    if (!g_pDevice)
        return;
    D3DXMATRIX world;
    g_pDevice->GetTransform(D3DTS_WORLD, &world);
    if (!m_Technique)
        ChangeColour();
    g_pDevice->SetFVF(D3DFVF_XYZ | D3DFVF_NORMAL);
    if (!g_pDancerShader)
        return;
    g_pDancerShader->SetMaterial(m_Tint);
    g_pDancerShader->SetTechnique(m_Technique);
    ID3DXEffect* effect = g_pDancerShader->GetEffect();
    if (!effect)
        return;
    g_pDancerShader->SetWorldMatrix(world);
    UINT passes = 0;
    effect->Begin(&passes, 0);
    for (UINT pass = 0; pass < passes; ++pass)
    {
        effect->BeginPass(pass);
        for (int group = 0; group < m_NumGroups; ++group)
            DrawGroup(group);
        effect->EndPass();
    }
    effect->End();
}

void CMs3d::DrawGroup(int group)
{
    if (group < 0 || group >= m_NumGroups || !m_pGroups)
        return;
    const CMs3dGroup& g = m_pGroups[group];
    for (int i = 0; i < g.numTriangles; ++i)
        DrawTriangle(g.triangleIndices[i]);
}

void CMs3d::DrawTriangle(int triangle)
{
    // A group index past the triangles cannot come from a valid file: skip it.
    if (!g_pDevice || !m_pRenderVertices || triangle < 0 || triangle >= m_NumTriangles)
        return;
    g_pDevice->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, &m_pRenderVertices[3 * triangle], sizeof(CMs3dRenderVertex));
}

void CMs3d::ChangeColour()
{
    if (rand() % 3 == 0)
    {
        if (g_pDancerShader)
            m_Technique = g_pDancerShader->NextValidTechnique(m_Technique);
        return;
    }
    float red = static_cast<float>(rand() % 1000) * 0.001f;
    m_Tint[0] = red;
    m_Tint[1] = 1.0f - red;
    m_Tint[2] = static_cast<float>(rand() % 1000) * 0.001f;
    m_Tint[3] = 1.0f;
}

CVector3 CMs3d::GetScreenCentre() const
{
    D3DXVECTOR3 centre((m_BoxMin.x + m_BoxMax.x) * 0.5f, (m_BoxMin.y + m_BoxMax.y) * 0.5f,
                       (m_BoxMin.z + m_BoxMax.z) * 0.5f);
    D3DXVECTOR3 screen = ProjectToScreen(centre);
    return CVector3(screen.x, screen.y, screen.z);
}

bool CMs3d::HitTestScreenBox(int x, int y) const
{
    D3DXVECTOR3 a = ProjectToScreen(D3DXVECTOR3(m_BoxMin.x, m_BoxMin.y, m_BoxMin.z));
    D3DXVECTOR3 b = ProjectToScreen(D3DXVECTOR3(m_BoxMax.x, m_BoxMax.y, m_BoxMax.z));
    if (a.x > b.x)
    {
        float t = a.x;
        a.x = b.x;
        b.x = t;
    }
    if (a.y > b.y)
    {
        float t = a.y;
        a.y = b.y;
        b.y = t;
    }
    const float fx = static_cast<float>(x);
    const float fy = static_cast<float>(y);
    return a.x < fx && fx < b.x && a.y < fy && fy < b.y;
}
