// D3DXLoadMeshFromX: every Mesh object of a .x file, carried through the
// transforms of the frames around it, merged into one mesh whose subsets are
// the materials of the files's material lists, in order.
#include "d3dx/internal.h"
#include "d3dx/mesh_internal.h"
#include "d3dx/xfile.h"

#include <velmora_platform.h>

#include <errno.h>
#include <math.h>
#include <stdio.h>
#include <string.h>
#include <algorithm>
#include <map>
#include <new>
#include <string>
#include <unordered_map>
#include <memory>
#include <vector>

namespace {

using xfile::Node;

struct Material {
    D3DMATERIAL9 d3d;
    std::string texture;
    bool hasTexture = false;
};

struct Vertex {
    float p[3];
    float n[3];
    float uv[2];
    DWORD color;
};

// Reads a node's numbers in order; any read past the end, or a count that the
// numbers left cannot hold, marks the cursor bad.
class Cursor
{
public:
    explicit Cursor(const std::vector<double>& v) : m_V(v) {}
    bool Ok() const { return m_Ok; }
    double Number()
    {
        if (m_I >= m_V.size()) {
            m_Ok = false;
            return 0;
        }
        return m_V[m_I++];
    }
    float Float() { return (float)Number(); }
    // A count of items of at least `perItem` numbers each.
    DWORD Count(size_t perItem)
    {
        double d = Number();
        if (!m_Ok || !(d >= 0) || d != floor(d) || d > 4294967295.0 || (m_V.size() - m_I) / perItem < (size_t)d) {
            m_Ok = false;
            return 0;
        }
        return (DWORD)d;
    }
    // An index below `limit`.
    DWORD Index(DWORD limit)
    {
        double d = Number();
        if (!m_Ok || !(d >= 0) || d != floor(d) || d >= (double)limit) {
            m_Ok = false;
            return 0;
        }
        return (DWORD)d;
    }

private:
    const std::vector<double>& m_V;
    size_t m_I = 0;
    bool m_Ok = true;
};

const Node* FirstChild(const Node& node, const char* type)
{
    for (const Node& c : node.children)
        if (!c.reference && c.type == type)
            return &c;
    return nullptr;
}

Material DefaultMaterial()
{
    Material m;
    memset(&m.d3d, 0, sizeof m.d3d);
    m.d3d.Diffuse.r = m.d3d.Diffuse.g = m.d3d.Diffuse.b = m.d3d.Diffuse.a = 1.f;
    return m;
}

bool ReadMaterial(const Node& node, Material& out)
{
    Cursor c(node.numbers);
    out = Material();
    memset(&out.d3d, 0, sizeof out.d3d);
    D3DMATERIAL9& m = out.d3d;
    m.Diffuse.r = c.Float();
    m.Diffuse.g = c.Float();
    m.Diffuse.b = c.Float();
    m.Diffuse.a = c.Float();
    m.Power = c.Float();
    m.Specular.r = c.Float();
    m.Specular.g = c.Float();
    m.Specular.b = c.Float();
    m.Specular.a = 1.f;
    m.Emissive.r = c.Float();
    m.Emissive.g = c.Float();
    m.Emissive.b = c.Float();
    m.Emissive.a = 1.f;
    // The ambient colour stays zero: the file has none and D3DX makes none up.
    const Node* texture = FirstChild(node, "TextureFilename");
    if (texture && !texture->strings.empty()) {
        out.texture = texture->strings[0];
        out.hasTexture = true;
    }
    return c.Ok();
}

class Builder
{
public:
    std::vector<Vertex> vertices;
    std::vector<DWORD> indices;     // three per face
    std::vector<DWORD> attributes;  // one per face
    std::vector<DWORD> points;      // file vertex ids, three per face, for the adjacency
    std::vector<Material> materials;
    bool anyTexture = false;
    bool anyColor = false;

    void CollectMaterials(const std::vector<Node>& nodes)
    {
        for (const Node& n : nodes) {
            if (n.reference)
                continue;
            if (n.type == "Material" && !n.name.empty() && !m_Named.count(n.name))
                m_Named[n.name] = &n;
            CollectMaterials(n.children);
        }
    }

    bool Visit(const Node& node, const D3DXMATRIX& parent)
    {
        if (node.reference)
            return true;
        if (node.type == "Mesh")
            return AddMesh(node, parent);
        if (node.type != "Frame")
            return true;
        D3DXMATRIX world = parent;
        if (const Node* ftm = FirstChild(node, "FrameTransformMatrix")) {
            Cursor c(ftm->numbers);
            D3DXMATRIX local;
            for (int i = 0; i < 16; ++i)
                local.m[i / 4][i % 4] = c.Float();
            if (!c.Ok())
                return false;
            D3DXMatrixMultiply(&world, &local, &parent);
        }
        for (const Node& child : node.children)
            if (!Visit(child, world))
                return false;
        return true;
    }

private:
    bool AddMesh(const Node& node, const D3DXMATRIX& world)
    {
        Cursor c(node.numbers);
        const DWORD nv = c.Count(3);
        std::vector<float> positions((size_t)nv * 3);
        for (float& f : positions)
            f = c.Float();
        const DWORD nf = c.Count(1);
        std::vector<DWORD> faceStart, corners;
        for (DWORD f = 0; f < nf && c.Ok(); ++f) {
            const DWORD n = c.Count(1);
            faceStart.push_back((DWORD)corners.size());
            for (DWORD k = 0; k < n && c.Ok(); ++k)
                corners.push_back(c.Index(nv));
        }
        if (!c.Ok())
            return false;
        faceStart.push_back((DWORD)corners.size());

        // Normals per face corner, when the file gives a list that matches the faces.
        std::vector<float> normals;
        std::vector<DWORD> cornerNormals;
        if (const Node* mn = FirstChild(node, "MeshNormals")) {
            Cursor nc(mn->numbers);
            const DWORD nn = nc.Count(3);
            normals.resize((size_t)nn * 3);
            for (float& f : normals)
                f = nc.Float();
            const DWORD nfn = nc.Count(1);
            bool match = nc.Ok() && nfn == nf;
            for (DWORD f = 0; f < nf && match; ++f) {
                const DWORD n = nc.Count(1);
                match = nc.Ok() && n == faceStart[f + 1] - faceStart[f];
                for (DWORD k = 0; k < n && match; ++k) {
                    cornerNormals.push_back(nc.Index(nn));
                    match = nc.Ok();
                }
            }
            if (!match)
                cornerNormals.clear();
        }

        std::vector<float> uv((size_t)nv * 2, 0.f);
        bool hasUv = false;
        if (const Node* tc = FirstChild(node, "MeshTextureCoords")) {
            Cursor tcc(tc->numbers);
            const DWORD n = tcc.Count(2);
            for (DWORD i = 0; i < n && tcc.Ok(); ++i) {
                float u = tcc.Float(), v = tcc.Float();
                if (i < nv) {
                    uv[i * 2] = u;
                    uv[i * 2 + 1] = v;
                }
            }
            if (!tcc.Ok())
                return false;
            hasUv = true;
        }

        std::vector<DWORD> colors(nv, 0xFFFFFFFF);
        bool hasColor = false;
        if (const Node* vc = FirstChild(node, "MeshVertexColors")) {
            Cursor cc(vc->numbers);
            const DWORD n = cc.Count(5);
            for (DWORD i = 0; i < n && cc.Ok(); ++i) {
                const DWORD index = cc.Index(0xFFFFFFFF);
                float rgba[4];
                for (float& f : rgba) {
                    f = cc.Float();
                    f = f < 0.f ? 0.f : (f > 1.f ? 1.f : f);
                }
                if (index < nv)
                    colors[index] = ((DWORD)(rgba[3] * 255.f + 0.5f) << 24) |
                                    ((DWORD)(rgba[0] * 255.f + 0.5f) << 16) |
                                    ((DWORD)(rgba[1] * 255.f + 0.5f) << 8) | (DWORD)(rgba[2] * 255.f + 0.5f);
            }
            if (!cc.Ok())
                return false;
            hasColor = true;
        }

        // Material per face; the last index given goes on for the faces after it.
        const DWORD materialBase = (DWORD)materials.size();
        std::vector<DWORD> faceMaterial(nf, 0);
        if (const Node* ml = FirstChild(node, "MeshMaterialList")) {
            Cursor mc(ml->numbers);
            const DWORD nm = mc.Index(0xFFFFFFFF);
            const DWORD ni = mc.Count(1);
            // More materials than objects to give them and faces to use them is no list.
            if (nm > ml->children.size() && nm > nf)
                return false;
            for (DWORD i = 0; i < ni && mc.Ok(); ++i) {
                DWORD m = mc.Index(nm);
                if (i < nf)
                    faceMaterial[i] = m;
            }
            if (!mc.Ok())
                return false;
            for (DWORD i = ni; i < nf && ni > 0; ++i)
                faceMaterial[i] = faceMaterial[ni - 1];
            DWORD added = 0;
            for (const Node& child : ml->children) {
                if (added == nm)
                    break;
                const Node* source = &child;
                if (child.reference) {
                    auto it = m_Named.find(child.name);
                    if (it == m_Named.end())
                        return false;
                    source = it->second;
                } else if (child.type != "Material") {
                    continue;
                }
                Material m;
                if (!ReadMaterial(*source, m))
                    return false;
                materials.push_back(m);
                ++added;
            }
            for (; added < nm; ++added)
                materials.push_back(DefaultMaterial());
            if (nm == 0)
                materials.push_back(DefaultMaterial());
        } else {
            materials.push_back(DefaultMaterial());
        }

        // Output vertices: the file's vertices first, then copies of those that
        // carry a second normal.
        const DWORD base = (DWORD)vertices.size();
        const DWORD none = 0xFFFFFFFF;
        std::vector<DWORD> firstNormal(nv, none);
        std::unordered_map<uint64_t, DWORD> copies;
        const bool fileNormals = !cornerNormals.empty();
        D3DXMATRIX normalMatrix;
        {
            D3DXMATRIX inverse;
            if (D3DXMatrixInverse(&inverse, nullptr, &world))
                D3DXMatrixTranspose(&normalMatrix, &inverse);
            else
                normalMatrix = world;
        }
        for (DWORD i = 0; i < nv; ++i) {
            Vertex v;
            memset(&v, 0, sizeof v);
            D3DXVECTOR3 p(positions[i * 3], positions[i * 3 + 1], positions[i * 3 + 2]), out;
            D3DXVec3TransformCoord(&out, &p, &world);
            v.p[0] = out.x;
            v.p[1] = out.y;
            v.p[2] = out.z;
            v.uv[0] = uv[i * 2];
            v.uv[1] = uv[i * 2 + 1];
            v.color = colors[i];
            vertices.push_back(v);
        }
        auto setNormal = [&](Vertex& v, DWORD n) {
            D3DXVECTOR3 in(normals[n * 3], normals[n * 3 + 1], normals[n * 3 + 2]), out;
            D3DXVec3TransformNormal(&out, &in, &normalMatrix);
            D3DXVec3Normalize(&out, &out);
            v.n[0] = out.x;
            v.n[1] = out.y;
            v.n[2] = out.z;
        };
        std::vector<DWORD> cornerVertex(corners.size());
        for (size_t k = 0; k < corners.size(); ++k) {
            const DWORD v = corners[k];
            if (!fileNormals) {
                cornerVertex[k] = base + v;
                continue;
            }
            const DWORD n = cornerNormals[k];
            if (firstNormal[v] == none) {
                firstNormal[v] = n;
                setNormal(vertices[base + v], n);
                cornerVertex[k] = base + v;
            } else if (firstNormal[v] == n) {
                cornerVertex[k] = base + v;
            } else {
                const uint64_t key = ((uint64_t)v << 32) | n;
                auto it = copies.find(key);
                if (it == copies.end()) {
                    Vertex copy = vertices[base + v];
                    setNormal(copy, n);
                    vertices.push_back(copy);
                    it = copies.emplace(key, (DWORD)(vertices.size() - 1)).first;
                }
                cornerVertex[k] = it->second;
            }
        }

        // Polygons become fans of triangles.
        const size_t firstFace = attributes.size();
        for (DWORD f = 0; f < nf; ++f) {
            const DWORD s = faceStart[f], n = faceStart[f + 1] - s;
            for (DWORD k = 1; k + 1 < n; ++k) {
                const DWORD corner[3] = {s, s + k, s + k + 1};
                for (DWORD cidx : corner) {
                    indices.push_back(cornerVertex[cidx]);
                    points.push_back(m_PointBase + corners[cidx]);
                }
                attributes.push_back(materialBase + faceMaterial[f]);
            }
        }
        m_PointBase += nv;

        // Without normals in the file, each vertex takes the area-weighted
        // normal of the triangles around it.
        if (!fileNormals) {
            std::vector<D3DXVECTOR3> sum(nv, D3DXVECTOR3(0, 0, 0));
            for (size_t f = firstFace; f < attributes.size(); ++f) {
                const Vertex& a = vertices[indices[f * 3]];
                const Vertex& b = vertices[indices[f * 3 + 1]];
                const Vertex& cc = vertices[indices[f * 3 + 2]];
                D3DXVECTOR3 e1(b.p[0] - a.p[0], b.p[1] - a.p[1], b.p[2] - a.p[2]);
                D3DXVECTOR3 e2(cc.p[0] - a.p[0], cc.p[1] - a.p[1], cc.p[2] - a.p[2]);
                D3DXVECTOR3 n;
                D3DXVec3Cross(&n, &e1, &e2);
                for (int k = 0; k < 3; ++k)
                    sum[indices[f * 3 + k] - base] += n;
            }
            for (DWORD i = 0; i < nv; ++i) {
                D3DXVec3Normalize(&sum[i], &sum[i]);
                memcpy(vertices[base + i].n, &sum[i], sizeof(float) * 3);
            }
        }
        anyTexture = anyTexture || hasUv;
        anyColor = anyColor || hasColor;
        return true;
    }

    std::map<std::string, const Node*> m_Named;
    DWORD m_PointBase = 0;
};

bool ReadWholeFile(const char* windowsPath, std::vector<unsigned char>& data)
{
    char mapped[4096];
    if (!VelmoraMapPath(windowsPath, mapped, sizeof(mapped)))
        return false;
    std::unique_ptr<FILE, int (*)(FILE*)> f(fopen(mapped, "rb"), fclose);
    if (!f)
        return false;
    unsigned char chunk[65536];
    size_t n;
    bool ok = true;
    while ((n = fread(chunk, 1, sizeof(chunk), f.get())) > 0) {
        data.insert(data.end(), chunk, chunk + n);
        if (data.size() > 0x7FFFFFFF) {
            ok = false;
            break;
        }
    }
    return ok && !ferror(f.get());
}

HRESULT BuildMesh(Builder& b, DWORD options, IDirect3DDevice9* device, ID3DXMesh** ppMesh)
{
    const DWORD faces = (DWORD)b.attributes.size();
    // Faces grouped by subset, keeping their order within each.
    std::vector<DWORD> order(faces);
    for (DWORD f = 0; f < faces; ++f)
        order[f] = f;
    std::stable_sort(order.begin(), order.end(),
                     [&](DWORD x, DWORD y) { return b.attributes[x] < b.attributes[y]; });
    std::vector<DWORD> indices(b.indices.size()), attributes(faces), points(b.points.size());
    for (DWORD f = 0; f < faces; ++f) {
        attributes[f] = b.attributes[order[f]];
        for (int k = 0; k < 3; ++k) {
            indices[f * 3 + k] = b.indices[order[f] * 3 + k];
            points[f * 3 + k] = b.points[order[f] * 3 + k];
        }
    }
    b.indices.swap(indices);
    b.attributes.swap(attributes);
    b.points.swap(points);

    DWORD fvf = D3DFVF_XYZ | D3DFVF_NORMAL;
    if (b.anyColor)
        fvf |= D3DFVF_DIFFUSE;
    if (b.anyTexture)
        fvf |= D3DFVF_TEX1;
    ID3DXMesh* mesh = nullptr;
    HRESULT hr = d3dx::CreateMesh(faces, (DWORD)b.vertices.size(), options, fvf, device, &mesh);
    if (FAILED(hr))
        return hr;
    BYTE* vb = nullptr;
    void* ib = nullptr;
    DWORD* attr = nullptr;
    if (FAILED(mesh->LockVertexBuffer(0, (void**)&vb)) || FAILED(mesh->LockIndexBuffer(0, &ib))) {
        mesh->Release();
        return E_FAIL;
    }
    const DWORD stride = mesh->GetNumBytesPerVertex();
    for (size_t i = 0; i < b.vertices.size(); ++i) {
        const Vertex& v = b.vertices[i];
        BYTE* out = vb + i * stride;
        memcpy(out, v.p, 12);
        memcpy(out + 12, v.n, 12);
        size_t at = 24;
        if (b.anyColor) {
            memcpy(out + at, &v.color, 4);
            at += 4;
        }
        if (b.anyTexture)
            memcpy(out + at, v.uv, 8);
    }
    const bool index32 = (options & D3DXMESH_32BIT) != 0;
    for (size_t i = 0; i < b.indices.size(); ++i) {
        if (index32)
            ((DWORD*)ib)[i] = b.indices[i];
        else
            ((WORD*)ib)[i] = (WORD)b.indices[i];
    }
    mesh->UnlockIndexBuffer();
    mesh->UnlockVertexBuffer();
    mesh->LockAttributeBuffer(0, &attr);
    memcpy(attr, b.attributes.data(), faces * sizeof(DWORD));
    mesh->UnlockAttributeBuffer();
    *ppMesh = mesh;
    return D3D_OK;
}

HRESULT MaterialBuffer(const std::vector<Material>& materials, ID3DXBuffer** ppBuffer)
{
    size_t size = materials.size() * sizeof(D3DXMATERIAL);
    for (const Material& m : materials)
        if (m.hasTexture)
            size += m.texture.size() + 1;
    HRESULT hr = D3DXCreateBuffer((DWORD)size, ppBuffer);
    if (FAILED(hr))
        return hr;
    BYTE* data = (BYTE*)(*ppBuffer)->GetBufferPointer();
    D3DXMATERIAL* out = (D3DXMATERIAL*)data;
    char* names = (char*)(data + materials.size() * sizeof(D3DXMATERIAL));
    for (size_t i = 0; i < materials.size(); ++i) {
        out[i].MatD3D = materials[i].d3d;
        out[i].pTextureFilename = nullptr;
        if (materials[i].hasTexture) {
            memcpy(names, materials[i].texture.c_str(), materials[i].texture.size() + 1);
            out[i].pTextureFilename = names;
            names += materials[i].texture.size() + 1;
        }
    }
    return D3D_OK;
}

}  // namespace

HRESULT WINAPI D3DXLoadMeshFromXInMemory(LPCVOID Memory, DWORD SizeOfMemory, DWORD Options,
                                         IDirect3DDevice9* pD3DDevice, ID3DXBuffer** ppAdjacency,
                                         ID3DXBuffer** ppMaterials, ID3DXBuffer** ppEffectInstances,
                                         DWORD* pNumMaterials, ID3DXMesh** ppMesh)
{
    if (!Memory || !pD3DDevice || !ppMesh)
        return D3DERR_INVALIDCALL;
    *ppMesh = nullptr;
    try {
        std::vector<Node> top;
        if (xfile::Parse((const unsigned char*)Memory, SizeOfMemory, top) != xfile::Result::Ok)
            return D3DXERR_INVALIDDATA;
        Builder b;
        b.CollectMaterials(top);
        D3DXMATRIX identity(1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1);
        for (const Node& n : top)
            if (!b.Visit(n, identity))
                return D3DXERR_INVALIDDATA;
        if (b.attributes.empty())
            return D3DXERR_INVALIDDATA;
        if (b.vertices.size() > 0xFFFF && !(Options & D3DXMESH_32BIT))
            return D3DXERR_INVALIDDATA;

        ID3DXMesh* mesh = nullptr;
        HRESULT hr = BuildMesh(b, Options, pD3DDevice, &mesh);
        if (FAILED(hr))
            return hr;
        ID3DXBuffer *adjacency = nullptr, *materials = nullptr, *effects = nullptr;
        if (ppAdjacency) {
            std::vector<DWORD> adj = d3dx::FaceAdjacency(b.points);
            hr = d3dx::MakeBuffer(adj.data(), (DWORD)(adj.size() * sizeof(DWORD)), &adjacency);
        }
        if (SUCCEEDED(hr) && ppMaterials)
            hr = MaterialBuffer(b.materials, &materials);
        if (SUCCEEDED(hr) && ppEffectInstances) {
            hr = D3DXCreateBuffer((DWORD)(b.materials.size() * sizeof(D3DXEFFECTINSTANCE)), &effects);
            if (SUCCEEDED(hr))
                memset(effects->GetBufferPointer(), 0, effects->GetBufferSize());
        }
        if (FAILED(hr)) {
            for (ID3DXBuffer* buffer : {adjacency, materials, effects})
                if (buffer)
                    buffer->Release();
            mesh->Release();
            return hr;
        }
        if (ppAdjacency)
            *ppAdjacency = adjacency;
        if (ppMaterials)
            *ppMaterials = materials;
        if (ppEffectInstances)
            *ppEffectInstances = effects;
        if (pNumMaterials)
            *pNumMaterials = (DWORD)b.materials.size();
        *ppMesh = mesh;
        return D3D_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT WINAPI D3DXLoadMeshFromXA(LPCSTR pFilename, DWORD Options, IDirect3DDevice9* pD3DDevice,
                                  ID3DXBuffer** ppAdjacency, ID3DXBuffer** ppMaterials,
                                  ID3DXBuffer** ppEffectInstances, DWORD* pNumMaterials, ID3DXMesh** ppMesh)
{
    if (!pFilename || !pD3DDevice || !ppMesh)
        return D3DERR_INVALIDCALL;
    *ppMesh = nullptr;
    std::vector<unsigned char> file;
    try {
        errno = 0;
        if (!ReadWholeFile(pFilename, file))
            return errno == ENOMEM ? E_OUTOFMEMORY : E_FAIL;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    if (file.empty())
        return D3DXERR_INVALIDDATA;
    return D3DXLoadMeshFromXInMemory(file.data(), (DWORD)file.size(), Options, pD3DDevice, ppAdjacency, ppMaterials,
                                     ppEffectInstances, pNumMaterials, ppMesh);
}
