// Mesh creation shared by the .x loader and the shape makers.
#ifndef VELMORA_D3DX_MESH_INTERNAL_H
#define VELMORA_D3DX_MESH_INTERNAL_H

#include <d3dx9.h>

#include <vector>

namespace d3dx {

// A mesh of `numFaces` triangles and `numVertices` vertices of the format
// `fvf`, every byte zero; the caller fills it through the locks. Fails when
// the indices do not fit 16 bits and D3DXMESH_32BIT is not asked for.
HRESULT CreateMesh(DWORD numFaces, DWORD numVertices, DWORD options, DWORD fvf, IDirect3DDevice9* device,
                   ID3DXMesh** ppMesh);

// Three neighbouring faces per face (0xFFFFFFFF where there is none), from
// shared edges of the triangles given by `points` (three point ids per face).
std::vector<DWORD> FaceAdjacency(const std::vector<DWORD>& points);

// A buffer holding a copy of `size` bytes.
HRESULT MakeBuffer(const void* data, DWORD size, ID3DXBuffer** ppBuffer);

}  // namespace d3dx

#endif
