// ID3DXMesh: a vertex buffer, an index buffer of triangles and one attribute
// per face. A subset is drawn as the runs of faces that carry its attribute,
// with the device's own indexed draw call and whatever state the device holds.
#include "d3dx/internal.h"
#include "d3dx/mesh_internal.h"
#include "renderer/raster.h"

#include <math.h>
#include <string.h>
#include <new>
#include <unordered_map>
#include <vector>

extern "C" {
const IID IID_ID3DXBaseMesh = {0x56e10111, 0x7a1d, 0x4d3a, {0x9b, 0x02, 0, 0, 0, 0, 0, 0x11}};
const IID IID_ID3DXMesh = {0x56e10112, 0x7a1d, 0x4d3a, {0x9b, 0x02, 0, 0, 0, 0, 0, 0x12}};
}

namespace {

class CMesh final : public ID3DXMesh
{
public:
    CMesh(IDirect3DDevice9* device, DWORD options, DWORD fvf, DWORD stride, DWORD faces, DWORD vertices,
          IDirect3DVertexBuffer9* vb, IDirect3DIndexBuffer9* ib)
        : m_Device(device), m_Options(options), m_FVF(fvf), m_Stride(stride), m_NumFaces(faces),
          m_NumVertices(vertices), m_VB(vb), m_IB(ib), m_Attributes(faces, 0)
    {
        m_Device->AddRef();
    }
    ~CMesh()
    {
        m_VB->Release();
        m_IB->Release();
        m_Device->Release();
    }
    CMesh(const CMesh&) = delete;
    CMesh& operator=(const CMesh&) = delete;

    HRESULT WINAPI QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_INVALIDARG;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_ID3DXBaseMesh) || IsEqualIID(riid, IID_ID3DXMesh)) {
            *ppv = static_cast<ID3DXMesh*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG WINAPI AddRef() override { return ++m_Refs; }
    ULONG WINAPI Release() override
    {
        ULONG n = --m_Refs;
        if (n == 0)
            delete this;
        return n;
    }

    HRESULT WINAPI DrawSubset(DWORD AttribId) override
    {
        UpdateRanges();
        m_Device->SetFVF(m_FVF);
        m_Device->SetStreamSource(0, m_VB, 0, m_Stride);
        m_Device->SetIndices(m_IB);
        for (const D3DXATTRIBUTERANGE& r : m_Ranges) {
            if (r.AttribId != AttribId || r.FaceCount == 0)
                continue;
            HRESULT hr = m_Device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, r.VertexStart, r.VertexCount,
                                                        r.FaceStart * 3, r.FaceCount);
            if (FAILED(hr))
                return hr;
        }
        return D3D_OK;
    }
    DWORD WINAPI GetNumFaces() override { return m_NumFaces; }
    DWORD WINAPI GetNumVertices() override { return m_NumVertices; }
    DWORD WINAPI GetFVF() override { return m_FVF; }
    DWORD WINAPI GetNumBytesPerVertex() override { return m_Stride; }
    DWORD WINAPI GetOptions() override { return m_Options; }
    HRESULT WINAPI GetDevice(IDirect3DDevice9** ppDevice) override { return d3dx::GetDeviceOf(m_Device, ppDevice); }

    HRESULT WINAPI CloneMeshFVF(DWORD Options, DWORD FVF, IDirect3DDevice9* pDevice, ID3DXMesh** ppCloneMesh) override;

    HRESULT WINAPI GetVertexBuffer(IDirect3DVertexBuffer9** ppVB) override
    {
        if (!ppVB)
            return D3DERR_INVALIDCALL;
        m_VB->AddRef();
        *ppVB = m_VB;
        return D3D_OK;
    }
    HRESULT WINAPI GetIndexBuffer(IDirect3DIndexBuffer9** ppIB) override
    {
        if (!ppIB)
            return D3DERR_INVALIDCALL;
        m_IB->AddRef();
        *ppIB = m_IB;
        return D3D_OK;
    }
    HRESULT WINAPI LockVertexBuffer(DWORD Flags, LPVOID* ppData) override
    {
        if (!ppData)
            return D3DERR_INVALIDCALL;
        return m_VB->Lock(0, 0, ppData, Flags);
    }
    HRESULT WINAPI UnlockVertexBuffer() override { return m_VB->Unlock(); }
    HRESULT WINAPI LockIndexBuffer(DWORD Flags, LPVOID* ppData) override
    {
        if (!ppData)
            return D3DERR_INVALIDCALL;
        return m_IB->Lock(0, 0, ppData, Flags);
    }
    HRESULT WINAPI UnlockIndexBuffer() override
    {
        m_RangesDirty = true;
        return m_IB->Unlock();
    }
    HRESULT WINAPI GetAttributeTable(D3DXATTRIBUTERANGE* pAttribTable, DWORD* pAttribTableSize) override
    {
        if (!pAttribTable && !pAttribTableSize)
            return D3DERR_INVALIDCALL;
        UpdateRanges();
        if (pAttribTableSize)
            *pAttribTableSize = (DWORD)m_Ranges.size();
        if (pAttribTable && !m_Ranges.empty())
            memcpy(pAttribTable, m_Ranges.data(), m_Ranges.size() * sizeof(D3DXATTRIBUTERANGE));
        return D3D_OK;
    }
    HRESULT WINAPI LockAttributeBuffer(DWORD Flags, DWORD** ppData) override
    {
        if (!ppData)
            return D3DERR_INVALIDCALL;
        *ppData = m_Attributes.data();
        return D3D_OK;
    }
    HRESULT WINAPI UnlockAttributeBuffer() override
    {
        m_RangesDirty = true;
        return D3D_OK;
    }

private:
    bool Index32() const { return (m_Options & D3DXMESH_32BIT) != 0; }

    // Runs of faces with one attribute, and the vertices each run uses.
    void UpdateRanges()
    {
        if (!m_RangesDirty)
            return;
        m_Ranges.clear();
        void* data = nullptr;
        if (FAILED(m_IB->Lock(0, 0, &data, D3DLOCK_READONLY)))
            return;
        for (DWORD f = 0; f < m_NumFaces;) {
            D3DXATTRIBUTERANGE r = {m_Attributes[f], f, 0, 0, 0};
            DWORD lo = 0xFFFFFFFF, hi = 0;
            while (f < m_NumFaces && m_Attributes[f] == r.AttribId) {
                for (int k = 0; k < 3; ++k) {
                    size_t i = (size_t)f * 3 + k;
                    DWORD v = Index32() ? ((const DWORD*)data)[i] : ((const WORD*)data)[i];
                    lo = v < lo ? v : lo;
                    hi = v > hi ? v : hi;
                }
                ++f;
                ++r.FaceCount;
            }
            r.VertexStart = lo;
            r.VertexCount = hi - lo + 1;
            m_Ranges.push_back(r);
        }
        m_IB->Unlock();
        m_RangesDirty = false;
    }

    ULONG m_Refs = 1;
    IDirect3DDevice9* m_Device;
    DWORD m_Options;
    DWORD m_FVF;
    DWORD m_Stride;
    DWORD m_NumFaces;
    DWORD m_NumVertices;
    IDirect3DVertexBuffer9* m_VB;
    IDirect3DIndexBuffer9* m_IB;
    std::vector<DWORD> m_Attributes;
    std::vector<D3DXATTRIBUTERANGE> m_Ranges;
    bool m_RangesDirty = true;
};

HRESULT WINAPI CMesh::CloneMeshFVF(DWORD Options, DWORD FVF, IDirect3DDevice9* pDevice, ID3DXMesh** ppCloneMesh)
{
    if (!pDevice || !ppCloneMesh)
        return D3DERR_INVALIDCALL;
    ID3DXMesh* clone = nullptr;
    HRESULT hr = d3dx::CreateMesh(m_NumFaces, m_NumVertices, Options, FVF, pDevice, &clone);
    if (FAILED(hr))
        return hr;
    const vr::FvfLayout from = vr::DecodeFvf(m_FVF), to = vr::DecodeFvf(FVF);
    const DWORD toStride = clone->GetNumBytesPerVertex();
    void *src = nullptr, *dst = nullptr;
    if (SUCCEEDED(m_VB->Lock(0, 0, &src, D3DLOCK_READONLY))) {
        if (SUCCEEDED(clone->LockVertexBuffer(0, &dst))) {
            auto copy = [&](int a, int b, size_t n) {
                if (a < 0 || b < 0)
                    return;
                for (DWORD v = 0; v < m_NumVertices; ++v)
                    memcpy((BYTE*)dst + (size_t)v * toStride + b, (const BYTE*)src + (size_t)v * m_Stride + a, n);
            };
            copy(from.position, to.position, from.pretransformed == to.pretransformed ? 12 : 0);
            copy(from.normal, to.normal, 12);
            copy(from.diffuse, to.diffuse, 4);
            copy(from.specular, to.specular, 4);
            for (int t = 0; t < from.texCount && t < to.texCount; ++t) {
                int dims = from.texDims[t] < to.texDims[t] ? from.texDims[t] : to.texDims[t];
                copy(from.tex[t], to.tex[t], (size_t)dims * 4);
            }
            clone->UnlockVertexBuffer();
        }
        m_VB->Unlock();
    }
    if (SUCCEEDED(m_IB->Lock(0, 0, &src, D3DLOCK_READONLY))) {
        if (SUCCEEDED(clone->LockIndexBuffer(0, &dst))) {
            const bool to32 = (clone->GetOptions() & D3DXMESH_32BIT) != 0;
            for (size_t i = 0; i < (size_t)m_NumFaces * 3; ++i) {
                DWORD v = Index32() ? ((const DWORD*)src)[i] : ((const WORD*)src)[i];
                if (to32)
                    ((DWORD*)dst)[i] = v;
                else
                    ((WORD*)dst)[i] = (WORD)v;
            }
            clone->UnlockIndexBuffer();
        }
        m_IB->Unlock();
    }
    DWORD* attributes = nullptr;
    clone->LockAttributeBuffer(0, &attributes);
    memcpy(attributes, m_Attributes.data(), m_Attributes.size() * sizeof(DWORD));
    clone->UnlockAttributeBuffer();
    *ppCloneMesh = clone;
    return D3D_OK;
}

D3DPOOL PoolFor(DWORD options, DWORD systemMem, DWORD managed)
{
    if (options & systemMem)
        return D3DPOOL_SYSTEMMEM;
    if (options & managed)
        return D3DPOOL_MANAGED;
    return D3DPOOL_DEFAULT;
}

DWORD UsageFor(DWORD options, DWORD writeOnly, DWORD dynamic, DWORD software)
{
    DWORD usage = 0;
    if (options & writeOnly)
        usage |= D3DUSAGE_WRITEONLY;
    if (options & dynamic)
        usage |= D3DUSAGE_DYNAMIC;
    if (options & software)
        usage |= D3DUSAGE_SOFTWAREPROCESSING;
    return usage;
}

}  // namespace

namespace d3dx {

HRESULT CreateMesh(DWORD numFaces, DWORD numVertices, DWORD options, DWORD fvf, IDirect3DDevice9* device,
                   ID3DXMesh** ppMesh)
{
    if (!device || !ppMesh)
        return D3DERR_INVALIDCALL;
    *ppMesh = nullptr;
    const vr::FvfLayout layout = vr::DecodeFvf(fvf);
    if (!layout.valid || numFaces == 0 || numVertices == 0)
        return D3DERR_INVALIDCALL;
    const bool index32 = (options & D3DXMESH_32BIT) != 0;
    if (!index32 && numVertices > 0xFFFF)
        return D3DERR_INVALIDCALL;
    const uint64_t vbBytes = (uint64_t)numVertices * (uint64_t)layout.size;
    const uint64_t ibBytes = (uint64_t)numFaces * 3u * (index32 ? 4u : 2u);
    if (vbBytes > 0x7FFFFFFF || ibBytes > 0x7FFFFFFF)
        return E_OUTOFMEMORY;
    DWORD vbOptions = options & ~(DWORD)(D3DXMESH_IB_SYSTEMMEM | D3DXMESH_IB_MANAGED);
    IDirect3DVertexBuffer9* vb = nullptr;
    IDirect3DIndexBuffer9* ib = nullptr;
    HRESULT hr = device->CreateVertexBuffer(
        (UINT)vbBytes,
        UsageFor(options, D3DXMESH_VB_WRITEONLY, D3DXMESH_VB_DYNAMIC, D3DXMESH_VB_SOFTWAREPROCESSING), fvf,
        PoolFor(vbOptions, D3DXMESH_VB_SYSTEMMEM, D3DXMESH_VB_MANAGED), &vb, nullptr);
    if (FAILED(hr))
        return hr;
    hr = device->CreateIndexBuffer((UINT)ibBytes,
                                   UsageFor(options, D3DXMESH_IB_WRITEONLY, D3DXMESH_IB_DYNAMIC,
                                            D3DXMESH_IB_SOFTWAREPROCESSING),
                                   index32 ? D3DFMT_INDEX32 : D3DFMT_INDEX16,
                                   PoolFor(options, D3DXMESH_IB_SYSTEMMEM, D3DXMESH_IB_MANAGED), &ib, nullptr);
    if (FAILED(hr)) {
        vb->Release();
        return hr;
    }
    CMesh* mesh = nullptr;
    try {
        mesh = new CMesh(device, options, fvf, (DWORD)layout.size, numFaces, numVertices, vb, ib);
    } catch (const std::bad_alloc&) {
        vb->Release();
        ib->Release();
        return E_OUTOFMEMORY;
    }
    *ppMesh = mesh;
    return D3D_OK;
}

std::vector<DWORD> FaceAdjacency(const std::vector<DWORD>& points)
{
    const size_t faces = points.size() / 3;
    std::vector<DWORD> adjacency(faces * 3, 0xFFFFFFFF);
    std::unordered_map<uint64_t, DWORD> edges;
    edges.reserve(faces * 3);
    auto key = [](DWORD a, DWORD b) { return ((uint64_t)a << 32) | b; };
    for (size_t f = 0; f < faces; ++f)
        for (int k = 0; k < 3; ++k)
            edges.emplace(key(points[f * 3 + k], points[f * 3 + (k + 1) % 3]), (DWORD)f);
    for (size_t f = 0; f < faces; ++f)
        for (int k = 0; k < 3; ++k) {
            auto it = edges.find(key(points[f * 3 + (k + 1) % 3], points[f * 3 + k]));
            if (it != edges.end() && it->second != f)
                adjacency[f * 3 + k] = it->second;
        }
    return adjacency;
}

HRESULT MakeBuffer(const void* data, DWORD size, ID3DXBuffer** ppBuffer)
{
    HRESULT hr = D3DXCreateBuffer(size, ppBuffer);
    if (SUCCEEDED(hr) && size)
        memcpy((*ppBuffer)->GetBufferPointer(), data, size);
    return hr;
}

}  // namespace d3dx

HRESULT WINAPI D3DXCreateBox(IDirect3DDevice9* pDevice, FLOAT Width, FLOAT Height, FLOAT Depth, ID3DXMesh** ppMesh,
                             ID3DXBuffer** ppAdjacency)
{
    if (!pDevice || !ppMesh || !(Width >= 0.f) || !(Height >= 0.f) || !(Depth >= 0.f))
        return D3DERR_INVALIDCALL;
    ID3DXMesh* mesh = nullptr;
    HRESULT hr = d3dx::CreateMesh(12, 24, D3DXMESH_MANAGED, D3DFVF_XYZ | D3DFVF_NORMAL, pDevice, &mesh);
    if (FAILED(hr))
        return hr;
    struct V {
        float p[3], n[3];
    };
    V* vertices = nullptr;
    WORD* indices = nullptr;
    mesh->LockVertexBuffer(0, (void**)&vertices);
    mesh->LockIndexBuffer(0, (void**)&indices);
    const float half[3] = {Width * 0.5f, Height * 0.5f, Depth * 0.5f};
    DWORD points[36];
    // Per side: the outward axis n, an axis v across it and u = n x v, so that
    // corners -u-v, -u+v, +u+v, +u-v run clockwise seen from outside.
    for (int side = 0; side < 6; ++side) {
        const int axis = side / 2;
        const float sign = (side & 1) ? 1.f : -1.f;
        float n[3] = {0, 0, 0}, v[3] = {0, 0, 0}, u[3];
        n[axis] = sign;
        v[axis == 1 ? 2 : 1] = 1.f;
        u[0] = n[1] * v[2] - n[2] * v[1];
        u[1] = n[2] * v[0] - n[0] * v[2];
        u[2] = n[0] * v[1] - n[1] * v[0];
        static const float corner[4][2] = {{-1, -1}, {-1, 1}, {1, 1}, {1, -1}};
        for (int c = 0; c < 4; ++c) {
            V& out = vertices[side * 4 + c];
            for (int k = 0; k < 3; ++k) {
                out.p[k] = (n[k] + corner[c][0] * u[k] + corner[c][1] * v[k]) * half[k];
                out.n[k] = n[k];
            }
        }
        static const int order[6] = {0, 1, 2, 0, 2, 3};
        for (int i = 0; i < 6; ++i)
            indices[side * 6 + i] = (WORD)(side * 4 + order[i]);
    }
    // Corners shared between sides are one point for the adjacency.
    for (int i = 0; i < 36; ++i) {
        const V& p = vertices[indices[i]];
        points[i] = (p.p[0] > 0 ? 1u : 0u) | (p.p[1] > 0 ? 2u : 0u) | (p.p[2] > 0 ? 4u : 0u);
    }
    mesh->UnlockIndexBuffer();
    mesh->UnlockVertexBuffer();
    if (ppAdjacency) {
        try {
            std::vector<DWORD> adjacency = d3dx::FaceAdjacency(std::vector<DWORD>(points, points + 36));
            hr = d3dx::MakeBuffer(adjacency.data(), (DWORD)(adjacency.size() * sizeof(DWORD)), ppAdjacency);
        } catch (const std::bad_alloc&) {
            hr = E_OUTOFMEMORY;
        }
        if (FAILED(hr)) {
            mesh->Release();
            return hr;
        }
    }
    *ppMesh = mesh;
    return D3D_OK;
}
