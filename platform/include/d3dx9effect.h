// D3DX9 effects of the Velmora platform layer: effect files compiled from
// source, their parameters, techniques and passes. Included by d3dx9.h.
#ifndef VELMORA_D3DX9EFFECT_H
#define VELMORA_D3DX9EFFECT_H

#ifdef __cplusplus

// A handle names a technique, a pass or a parameter. Our handles point at the
// effect's own records; a handle that is not one of them is read as a name.
typedef const char* D3DXHANDLE;
typedef D3DXHANDLE* LPD3DXHANDLE;

typedef struct _D3DXMACRO {
    LPCSTR Name;
    LPCSTR Definition;
} D3DXMACRO, *LPD3DXMACRO;

// Include handlers are not supported: #include is refused by the compiler.
struct ID3DXInclude;
typedef ID3DXInclude* LPD3DXINCLUDE;

// Compile flags (accepted, no effect on the result).
#define D3DXSHADER_DEBUG (1 << 0)
#define D3DXSHADER_SKIPVALIDATION (1 << 1)
#define D3DXSHADER_SKIPOPTIMIZATION (1 << 2)
#define D3DXSHADER_PACKMATRIX_ROWMAJOR (1 << 3)
#define D3DXSHADER_PACKMATRIX_COLUMNMAJOR (1 << 4)
#define D3DXSHADER_PARTIALPRECISION (1 << 5)
#define D3DXSHADER_NO_PRESHADER (1 << 8)
#define D3DXSHADER_AVOID_FLOW_CONTROL (1 << 9)
#define D3DXSHADER_PREFER_FLOW_CONTROL (1 << 10)
#define D3DXFX_NOT_CLONEABLE (1 << 11)

// Begin flags.
#define D3DXFX_DONOTSAVESTATE (1 << 0)
#define D3DXFX_DONOTSAVESHADERSTATE (1 << 1)
#define D3DXFX_DONOTSAVESAMPLERSTATE (1 << 2)

typedef enum _D3DXPARAMETER_CLASS {
    D3DXPC_SCALAR,
    D3DXPC_VECTOR,
    D3DXPC_MATRIX_ROWS,
    D3DXPC_MATRIX_COLUMNS,
    D3DXPC_OBJECT,
    D3DXPC_STRUCT,
    D3DXPC_FORCE_DWORD = 0x7fffffff
} D3DXPARAMETER_CLASS;

typedef enum _D3DXPARAMETER_TYPE {
    D3DXPT_VOID,
    D3DXPT_BOOL,
    D3DXPT_INT,
    D3DXPT_FLOAT,
    D3DXPT_STRING,
    D3DXPT_FORCE_DWORD = 0x7fffffff
} D3DXPARAMETER_TYPE;

typedef struct _D3DXEFFECT_DESC {
    LPCSTR Creator;
    UINT Parameters;
    UINT Techniques;
    UINT Functions;
} D3DXEFFECT_DESC;

typedef struct _D3DXPARAMETER_DESC {
    LPCSTR Name;
    LPCSTR Semantic;
    D3DXPARAMETER_CLASS Class;
    D3DXPARAMETER_TYPE Type;
    UINT Rows;
    UINT Columns;
    UINT Elements;
    UINT Annotations;
    UINT StructMembers;
    DWORD Flags;
    UINT Bytes;
} D3DXPARAMETER_DESC;

typedef struct _D3DXTECHNIQUE_DESC {
    LPCSTR Name;
    UINT Passes;
    UINT Annotations;
} D3DXTECHNIQUE_DESC;

typedef struct _D3DXPASS_DESC {
    LPCSTR Name;
    UINT Annotations;
    const DWORD* pVertexShaderFunction;
    const DWORD* pPixelShaderFunction;
} D3DXPASS_DESC;

struct ID3DXBaseEffect;
struct ID3DXEffect;
struct ID3DXEffectPool;
typedef ID3DXBaseEffect* LPD3DXBASEEFFECT;
typedef ID3DXEffect* LPD3DXEFFECT;
typedef ID3DXEffectPool* LPD3DXEFFECTPOOL;

// Shared parameters between effects: declared only, never made.
struct ID3DXEffectPool : public IUnknown {
};

struct ID3DXBaseEffect : public IUnknown {
    virtual HRESULT WINAPI GetDesc(D3DXEFFECT_DESC* pDesc) = 0;
    virtual HRESULT WINAPI GetParameterDesc(D3DXHANDLE hParameter, D3DXPARAMETER_DESC* pDesc) = 0;
    virtual HRESULT WINAPI GetTechniqueDesc(D3DXHANDLE hTechnique, D3DXTECHNIQUE_DESC* pDesc) = 0;
    // Null parent: the top-level parameters; otherwise a structure's members.
    virtual D3DXHANDLE WINAPI GetParameter(D3DXHANDLE hParent, UINT Index) = 0;
    virtual D3DXHANDLE WINAPI GetParameterByName(D3DXHANDLE hParent, LPCSTR pName) = 0;
    // An element of an array parameter; null past the last element.
    virtual D3DXHANDLE WINAPI GetParameterElement(D3DXHANDLE hParameter, UINT ElementIndex) = 0;
    virtual D3DXHANDLE WINAPI GetTechnique(UINT Index) = 0;
    virtual D3DXHANDLE WINAPI GetTechniqueByName(LPCSTR pName) = 0;
    virtual D3DXHANDLE WINAPI GetPass(D3DXHANDLE hTechnique, UINT Index) = 0;
    // Raw bytes in the parameter's packed layout (D3DX_DEFAULT: its whole size).
    virtual HRESULT WINAPI SetValue(D3DXHANDLE hParameter, LPCVOID pData, UINT Bytes) = 0;
    virtual HRESULT WINAPI GetValue(D3DXHANDLE hParameter, LPVOID pData, UINT Bytes) = 0;
    virtual HRESULT WINAPI SetBool(D3DXHANDLE hParameter, BOOL b) = 0;
    virtual HRESULT WINAPI SetInt(D3DXHANDLE hParameter, INT n) = 0;
    virtual HRESULT WINAPI GetInt(D3DXHANDLE hParameter, INT* pn) = 0;
    virtual HRESULT WINAPI SetFloat(D3DXHANDLE hParameter, FLOAT f) = 0;
    virtual HRESULT WINAPI GetFloat(D3DXHANDLE hParameter, FLOAT* pf) = 0;
    virtual HRESULT WINAPI SetFloatArray(D3DXHANDLE hParameter, const FLOAT* pf, UINT Count) = 0;
    virtual HRESULT WINAPI GetFloatArray(D3DXHANDLE hParameter, FLOAT* pf, UINT Count) = 0;
    virtual HRESULT WINAPI SetVector(D3DXHANDLE hParameter, const D3DXVECTOR4* pVector) = 0;
    virtual HRESULT WINAPI GetVector(D3DXHANDLE hParameter, D3DXVECTOR4* pVector) = 0;
    virtual HRESULT WINAPI SetMatrix(D3DXHANDLE hParameter, const D3DXMATRIX* pMatrix) = 0;
    virtual HRESULT WINAPI GetMatrix(D3DXHANDLE hParameter, D3DXMATRIX* pMatrix) = 0;
};

struct ID3DXEffect : public ID3DXBaseEffect {
    virtual HRESULT WINAPI GetPool(ID3DXEffectPool** ppPool) = 0;
    virtual HRESULT WINAPI SetTechnique(D3DXHANDLE hTechnique) = 0;
    virtual D3DXHANDLE WINAPI GetCurrentTechnique() = 0;
    // D3D_OK when the technique's shader profiles fit the device.
    virtual HRESULT WINAPI ValidateTechnique(D3DXHANDLE hTechnique) = 0;
    // The next valid technique after hTechnique (null: from the first); null
    // when none is left.
    virtual HRESULT WINAPI FindNextValidTechnique(D3DXHANDLE hTechnique, D3DXHANDLE* pTechnique) = 0;
    virtual HRESULT WINAPI Begin(UINT* pPasses, DWORD Flags) = 0;
    virtual HRESULT WINAPI BeginPass(UINT Pass) = 0;
    virtual HRESULT WINAPI CommitChanges() = 0;
    virtual HRESULT WINAPI EndPass() = 0;
    virtual HRESULT WINAPI End() = 0;
    virtual HRESULT WINAPI GetDevice(IDirect3DDevice9** ppDevice) = 0;
    virtual HRESULT WINAPI OnLostDevice() = 0;
    virtual HRESULT WINAPI OnResetDevice() = 0;
};

VELMORA_EXTERN_C_BEGIN
VELMORA_API extern const IID IID_ID3DXBaseEffect;
VELMORA_API extern const IID IID_ID3DXEffect;

// Compiles an effect file. Compile errors fail with D3DXERR_INVALIDDATA and
// their text ("file(line,column): error: reason") in ppCompilationErrors; a
// file that cannot be read fails with no text.
VELMORA_API HRESULT WINAPI D3DXCreateEffectFromFileA(IDirect3DDevice9* pDevice, LPCSTR pSrcFile,
                                                     const D3DXMACRO* pDefines, LPD3DXINCLUDE pInclude,
                                                     DWORD Flags, LPD3DXEFFECTPOOL pPool, LPD3DXEFFECT* ppEffect,
                                                     LPD3DXBUFFER* ppCompilationErrors);
VELMORA_API HRESULT WINAPI D3DXCreateEffect(IDirect3DDevice9* pDevice, LPCVOID pSrcData, UINT SrcDataLen,
                                            const D3DXMACRO* pDefines, LPD3DXINCLUDE pInclude, DWORD Flags,
                                            LPD3DXEFFECTPOOL pPool, LPD3DXEFFECT* ppEffect,
                                            LPD3DXBUFFER* ppCompilationErrors);
VELMORA_EXTERN_C_END

#define D3DXCreateEffectFromFile D3DXCreateEffectFromFileA

#endif  // __cplusplus

#endif
