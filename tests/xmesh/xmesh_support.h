// Shared pieces of the mesh tests: a device, file helpers, a binary .x writer
// and readers of a mesh's vertices, faces and materials.
#ifndef VELMORA_XMESH_SUPPORT_H
#define VELMORA_XMESH_SUPPORT_H

#include <d3dx9.h>
#include <gtest/gtest.h>

#include "d3d_test_device.h"

#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

namespace xtest {

inline std::string ReadFile(const std::string& path)
{
    std::string out;
    FILE* f = fopen(path.c_str(), "rb");
    if (!f)
        return out;
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        out.append(buf, n);
    fclose(f);
    return out;
}

inline std::string RealFile(const char* name)
{
    return std::string(VELMORA_REAL_TESTDATA) + "/x/" + name;
}

// A loaded mesh with everything the loader hands back.
struct Loaded {
    HRESULT hr = E_FAIL;
    ID3DXMesh* mesh = nullptr;
    ID3DXBuffer* materials = nullptr;
    ID3DXBuffer* adjacency = nullptr;
    DWORD count = 0;

    Loaded() = default;
    Loaded(const Loaded&) = delete;
    Loaded& operator=(const Loaded&) = delete;
    ~Loaded()
    {
        if (mesh)
            mesh->Release();
        if (materials)
            materials->Release();
        if (adjacency)
            adjacency->Release();
    }
    const D3DXMATERIAL* Materials() const { return (const D3DXMATERIAL*)materials->GetBufferPointer(); }
};

inline void LoadMemory(IDirect3DDevice9* device, const std::string& bytes, Loaded& out, DWORD options = D3DXMESH_VB_SYSTEMMEM)
{
    out.hr = D3DXLoadMeshFromXInMemory(bytes.data(), (DWORD)bytes.size(), options, device, &out.adjacency,
                                       &out.materials, nullptr, &out.count, &out.mesh);
}

inline void LoadFile(IDirect3DDevice9* device, const std::string& path, Loaded& out, DWORD options = D3DXMESH_VB_SYSTEMMEM)
{
    out.hr = D3DXLoadMeshFromXA(path.c_str(), options, device, &out.adjacency, &out.materials, nullptr, &out.count,
                                &out.mesh);
}

// Position, normal and (when present) texture coordinates of every vertex.
struct Vert {
    float p[3], n[3], uv[2];
    DWORD color;
};

inline std::vector<Vert> Vertices(ID3DXMesh* mesh)
{
    std::vector<Vert> out(mesh->GetNumVertices());
    const DWORD fvf = mesh->GetFVF(), stride = mesh->GetNumBytesPerVertex();
    BYTE* data = nullptr;
    if (FAILED(mesh->LockVertexBuffer(D3DLOCK_READONLY, (void**)&data)))
        return {};
    for (size_t i = 0; i < out.size(); ++i) {
        const BYTE* v = data + i * stride;
        memset(&out[i], 0, sizeof(Vert));
        out[i].color = 0xFFFFFFFF;
        memcpy(out[i].p, v, 12);
        size_t at = 12;
        if (fvf & D3DFVF_NORMAL) {
            memcpy(out[i].n, v + at, 12);
            at += 12;
        }
        if (fvf & D3DFVF_DIFFUSE) {
            memcpy(&out[i].color, v + at, 4);
            at += 4;
        }
        if (fvf & D3DFVF_TEX1)
            memcpy(out[i].uv, v + at, 8);
    }
    mesh->UnlockVertexBuffer();
    return out;
}

inline std::vector<DWORD> Indices(ID3DXMesh* mesh)
{
    std::vector<DWORD> out((size_t)mesh->GetNumFaces() * 3);
    void* data = nullptr;
    if (FAILED(mesh->LockIndexBuffer(D3DLOCK_READONLY, &data)))
        return {};
    const bool i32 = (mesh->GetOptions() & D3DXMESH_32BIT) != 0;
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = i32 ? ((DWORD*)data)[i] : ((WORD*)data)[i];
    mesh->UnlockIndexBuffer();
    return out;
}

inline std::vector<DWORD> Attributes(ID3DXMesh* mesh)
{
    DWORD* data = nullptr;
    if (FAILED(mesh->LockAttributeBuffer(D3DLOCK_READONLY, &data)))
        return {};
    std::vector<DWORD> out(data, data + mesh->GetNumFaces());
    mesh->UnlockAttributeBuffer();
    return out;
}

// Writer of binary .x streams, token by token.
class BinaryWriter
{
public:
    explicit BinaryWriter(bool doubles = false) : m_Doubles(doubles)
    {
        m_Out = doubles ? "xof 0303bin 0064" : "xof 0303bin 0032";
    }
    BinaryWriter& Word(uint16_t w)
    {
        m_Out.push_back((char)(w & 0xff));
        m_Out.push_back((char)(w >> 8));
        return *this;
    }
    BinaryWriter& Dword(uint32_t d)
    {
        for (int i = 0; i < 4; ++i)
            m_Out.push_back((char)((d >> (8 * i)) & 0xff));
        return *this;
    }
    BinaryWriter& Name(const std::string& s)
    {
        Word(1).Dword((uint32_t)s.size());
        m_Out += s;
        return *this;
    }
    BinaryWriter& String(const std::string& s)
    {
        Word(2).Dword((uint32_t)s.size());
        m_Out += s;
        return Word(20);
    }
    BinaryWriter& Open() { return Word(10); }
    BinaryWriter& Close() { return Word(11); }
    BinaryWriter& Ints(const std::vector<uint32_t>& v)
    {
        Word(6).Dword((uint32_t)v.size());
        for (uint32_t x : v)
            Dword(x);
        return *this;
    }
    BinaryWriter& Floats(const std::vector<double>& v)
    {
        Word(7).Dword((uint32_t)v.size());
        for (double x : v) {
            if (m_Doubles) {
                char b[8];
                memcpy(b, &x, 8);
                m_Out.append(b, 8);
            } else {
                float f = (float)x;
                uint32_t bits;
                memcpy(&bits, &f, 4);
                Dword(bits);
            }
        }
        return *this;
    }
    const std::string& Bytes() const { return m_Out; }

private:
    bool m_Doubles;
    std::string m_Out;
};

}  // namespace xtest

#endif
