// D3DX9 meshes of the Velmora platform layer: indexed triangle meshes split
// into subsets by a per-face attribute, loaded from DirectX .x files or made
// as boxes. A mesh draws through the public calls of its device.
#ifndef VELMORA_D3DX9MESH_H
#define VELMORA_D3DX9MESH_H

#include <d3d9.h>
#include <d3dx9math.h>

// Creation options (D3DXMESH).
#define D3DXMESH_32BIT 0x001
#define D3DXMESH_DONOTCLIP 0x002
#define D3DXMESH_POINTS 0x004
#define D3DXMESH_RTPATCHES 0x008
#define D3DXMESH_NPATCHES 0x4000
#define D3DXMESH_VB_SYSTEMMEM 0x010
#define D3DXMESH_VB_MANAGED 0x020
#define D3DXMESH_VB_WRITEONLY 0x040
#define D3DXMESH_VB_DYNAMIC 0x080
#define D3DXMESH_VB_SOFTWAREPROCESSING 0x8000
#define D3DXMESH_IB_SYSTEMMEM 0x100
#define D3DXMESH_IB_MANAGED 0x200
#define D3DXMESH_IB_WRITEONLY 0x400
#define D3DXMESH_IB_DYNAMIC 0x800
#define D3DXMESH_IB_SOFTWAREPROCESSING 0x10000
#define D3DXMESH_VB_SHARE 0x1000
#define D3DXMESH_USEHWONLY 0x2000
#define D3DXMESH_SYSTEMMEM 0x110
#define D3DXMESH_MANAGED 0x220
#define D3DXMESH_WRITEONLY 0x440
#define D3DXMESH_DYNAMIC 0x880
#define D3DXMESH_SOFTWAREPROCESSING 0x18000

// One subset of an attribute-sorted mesh: its faces and the vertices they use.
typedef struct _D3DXATTRIBUTERANGE {
    DWORD AttribId;
    DWORD FaceStart;
    DWORD FaceCount;
    DWORD VertexStart;
    DWORD VertexCount;
} D3DXATTRIBUTERANGE, *LPD3DXATTRIBUTERANGE;

// A material of a .x file; the texture name points into the same buffer (or is null).
typedef struct _D3DXMATERIAL {
    D3DMATERIAL9 MatD3D;
    LPSTR pTextureFilename;
} D3DXMATERIAL, *LPD3DXMATERIAL;

typedef enum _D3DXEFFECTDEFAULTTYPE {
    D3DXEDT_STRING = 1,
    D3DXEDT_FLOATS = 2,
    D3DXEDT_DWORD = 3,
    D3DXEDT_FORCEDWORD = 0x7fffffff
} D3DXEFFECTDEFAULTTYPE;

typedef struct _D3DXEFFECTDEFAULT {
    LPSTR pParamName;
    D3DXEFFECTDEFAULTTYPE Type;
    DWORD NumBytes;
    LPVOID pValue;
} D3DXEFFECTDEFAULT, *LPD3DXEFFECTDEFAULT;

// The effect a .x file names for a subset; files without one give a null name.
typedef struct _D3DXEFFECTINSTANCE {
    LPSTR pEffectFilename;
    DWORD NumDefaults;
    LPD3DXEFFECTDEFAULT pDefaults;
} D3DXEFFECTINSTANCE, *LPD3DXEFFECTINSTANCE;

#ifdef __cplusplus

struct ID3DXBuffer;
struct ID3DXBaseMesh;
struct ID3DXMesh;
typedef ID3DXBaseMesh* LPD3DXBASEMESH;
typedef ID3DXMesh* LPD3DXMESH;

struct ID3DXBaseMesh : public IUnknown {
    // Draws the faces whose attribute is `AttribId` with the device's current state.
    virtual HRESULT WINAPI DrawSubset(DWORD AttribId) = 0;
    virtual DWORD WINAPI GetNumFaces() = 0;
    virtual DWORD WINAPI GetNumVertices() = 0;
    virtual DWORD WINAPI GetFVF() = 0;
    virtual DWORD WINAPI GetNumBytesPerVertex() = 0;
    virtual DWORD WINAPI GetOptions() = 0;
    virtual HRESULT WINAPI GetDevice(IDirect3DDevice9** ppDevice) = 0;
    // A copy of the mesh with another vertex format; components both formats
    // have are copied, the others start at zero.
    virtual HRESULT WINAPI CloneMeshFVF(DWORD Options, DWORD FVF, IDirect3DDevice9* pDevice,
                                        ID3DXMesh** ppCloneMesh) = 0;
    virtual HRESULT WINAPI GetVertexBuffer(IDirect3DVertexBuffer9** ppVB) = 0;
    virtual HRESULT WINAPI GetIndexBuffer(IDirect3DIndexBuffer9** ppIB) = 0;
    virtual HRESULT WINAPI LockVertexBuffer(DWORD Flags, LPVOID* ppData) = 0;
    virtual HRESULT WINAPI UnlockVertexBuffer() = 0;
    virtual HRESULT WINAPI LockIndexBuffer(DWORD Flags, LPVOID* ppData) = 0;
    virtual HRESULT WINAPI UnlockIndexBuffer() = 0;
    // With a null table only the size is given.
    virtual HRESULT WINAPI GetAttributeTable(D3DXATTRIBUTERANGE* pAttribTable, DWORD* pAttribTableSize) = 0;
};

struct ID3DXMesh : public ID3DXBaseMesh {
    // One DWORD per face: the face's subset.
    virtual HRESULT WINAPI LockAttributeBuffer(DWORD Flags, DWORD** ppData) = 0;
    virtual HRESULT WINAPI UnlockAttributeBuffer() = 0;
};

VELMORA_EXTERN_C_BEGIN
VELMORA_API extern const IID IID_ID3DXBaseMesh;
VELMORA_API extern const IID IID_ID3DXMesh;

// Loads every mesh of a text or binary .x file into one mesh (frame transforms
// applied), with one material per subset. Compressed files are refused.
VELMORA_API HRESULT WINAPI D3DXLoadMeshFromXA(LPCSTR pFilename, DWORD Options, IDirect3DDevice9* pD3DDevice,
                                              ID3DXBuffer** ppAdjacency, ID3DXBuffer** ppMaterials,
                                              ID3DXBuffer** ppEffectInstances, DWORD* pNumMaterials,
                                              ID3DXMesh** ppMesh);
// The same from a file image in memory.
VELMORA_API HRESULT WINAPI D3DXLoadMeshFromXInMemory(LPCVOID Memory, DWORD SizeOfMemory, DWORD Options,
                                                     IDirect3DDevice9* pD3DDevice, ID3DXBuffer** ppAdjacency,
                                                     ID3DXBuffer** ppMaterials, ID3DXBuffer** ppEffectInstances,
                                                     DWORD* pNumMaterials, ID3DXMesh** ppMesh);
// A box centred on the origin: 24 vertices with outward normals, 12 faces, one subset.
VELMORA_API HRESULT WINAPI D3DXCreateBox(IDirect3DDevice9* pDevice, FLOAT Width, FLOAT Height, FLOAT Depth,
                                         ID3DXMesh** ppMesh, ID3DXBuffer** ppAdjacency);
VELMORA_EXTERN_C_END

#define D3DXLoadMeshFromX D3DXLoadMeshFromXA

#endif  // __cplusplus

#endif
