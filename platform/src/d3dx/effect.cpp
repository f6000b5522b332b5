// ID3DXEffect: an effect compiled from HLSL source, its parameters (a tree of
// globals, array elements and structure members addressed by handles), its
// techniques and passes, which set render states and the compiled shaders on
// the device.
#include "d3dx/internal.h"
#include "fx/compiler.h"
#include "fx/shader.h"

#include <velmora_platform.h>

#include <errno.h>
#include <math.h>
#include <stdio.h>
#include <string.h>

#include <memory>
#include <new>
#include <set>
#include <string>
#include <vector>

extern "C" {
const IID IID_ID3DXBaseEffect = {0x56e10105, 0x7a1d, 0x4d3a, {0x9b, 0x02, 0, 0, 0, 0, 0, 0x05}};
const IID IID_ID3DXEffect = {0x56e10106, 0x7a1d, 0x4d3a, {0x9b, 0x02, 0, 0, 0, 0, 0, 0x06}};
}

namespace {

using vd3d::ProgramPixelShader;
using vd3d::ProgramVertexShader;

struct ParamNode {
    std::string name, semantic;
    fx::TypeDesc type;  // arrayLen 0 for an element
    int offset = 0;
    int floats = 0;
    std::vector<std::unique_ptr<ParamNode>> elements, members;
};

struct PassNode {
    const fx::PassDesc* desc = nullptr;
    ProgramVertexShader* vs = nullptr;
    ProgramPixelShader* ps = nullptr;

    PassNode() = default;
    PassNode(const PassNode&) = delete;
    PassNode& operator=(const PassNode&) = delete;
    ~PassNode()
    {
        if (vs)
            vs->Release();
        if (ps)
            ps->Release();
    }
};

struct TechniqueNode {
    const fx::TechniqueDesc* desc = nullptr;
    std::vector<std::unique_ptr<PassNode>> passes;
};

class CEffect final : public d3dx::ComObject<ID3DXEffect, IID_ID3DXEffect>
{
public:
    CEffect(IDirect3DDevice9* device, fx::CompiledEffect compiled) : m_Device(device), m_Fx(std::move(compiled))
    {
        m_Device->AddRef();
        // Out of memory part way: the nodes made so far let their shaders go.
        try {
            Build(device);
        } catch (...) {
            m_Techniques.clear();
            m_Device->Release();
            throw;
        }
    }

    void Build(IDirect3DDevice9* device)
    {
        m_Store = m_Fx.store;
        for (const fx::GlobalDesc& g : m_Fx.globals) {
            if (g.isStatic)
                continue;
            m_Params.push_back(MakeNode(g.name, g.semantic, g.type, g.offset));
        }
        for (const fx::TechniqueDesc& t : m_Fx.techniques) {
            std::unique_ptr<TechniqueNode> tn(new TechniqueNode);
            tn->desc = &t;
            for (const fx::PassDesc& p : t.passes) {
                std::unique_ptr<PassNode> pn(new PassNode);
                pn->desc = &p;
                if (p.vs)
                    pn->vs = new ProgramVertexShader(device, p.vs);
                if (p.ps)
                    pn->ps = new ProgramPixelShader(device, p.ps);
                m_Known.insert(pn.get());
                tn->passes.push_back(std::move(pn));
            }
            m_Known.insert(tn.get());
            m_Techniques.push_back(std::move(tn));
        }
        m_Current = m_Techniques.empty() ? nullptr : m_Techniques[0].get();
    }

    ~CEffect() override
    {
        if (m_ActivePass)
            EndPass();
        m_Techniques.clear();  // the shaders go before the device
        m_Device->Release();
    }

    // --- ID3DXBaseEffect ---

    HRESULT WINAPI GetDesc(D3DXEFFECT_DESC* pDesc) override
    {
        if (!pDesc)
            return D3DERR_INVALIDCALL;
        pDesc->Creator = "Velmora effect compiler";
        pDesc->Parameters = (UINT)m_Params.size();
        pDesc->Techniques = (UINT)m_Techniques.size();
        pDesc->Functions = (UINT)m_Fx.functions;
        return D3D_OK;
    }

    HRESULT WINAPI GetParameterDesc(D3DXHANDLE hParameter, D3DXPARAMETER_DESC* pDesc) override
    {
        ParamNode* p = Param(hParameter);
        if (!p || !pDesc)
            return D3DERR_INVALIDCALL;
        memset(pDesc, 0, sizeof *pDesc);
        pDesc->Name = p->name.c_str();
        pDesc->Semantic = p->semantic.empty() ? nullptr : p->semantic.c_str();
        const fx::TypeDesc& t = p->type;
        if (t.base == fx::Base::Struct) {
            pDesc->Class = D3DXPC_STRUCT;
            pDesc->Type = D3DXPT_VOID;
            pDesc->StructMembers = (UINT)m_Fx.structs[t.structId].members.size();
        } else {
            pDesc->Class = t.shape == fx::Shape::Matrix ? D3DXPC_MATRIX_ROWS
                           : t.shape == fx::Shape::Vector ? D3DXPC_VECTOR
                                                          : D3DXPC_SCALAR;
            pDesc->Type = t.base == fx::Base::Float ? D3DXPT_FLOAT : t.base == fx::Base::Int ? D3DXPT_INT : D3DXPT_BOOL;
            pDesc->Rows = (UINT)t.rows;
            pDesc->Columns = (UINT)t.cols;
        }
        pDesc->Elements = (UINT)t.arrayLen;
        pDesc->Bytes = (UINT)p->floats * 4;
        return D3D_OK;
    }

    HRESULT WINAPI GetTechniqueDesc(D3DXHANDLE hTechnique, D3DXTECHNIQUE_DESC* pDesc) override
    {
        TechniqueNode* t = Technique(hTechnique);
        if (!t || !pDesc)
            return D3DERR_INVALIDCALL;
        pDesc->Name = t->desc->name.c_str();
        pDesc->Passes = (UINT)t->passes.size();
        pDesc->Annotations = 0;
        return D3D_OK;
    }

    D3DXHANDLE WINAPI GetParameter(D3DXHANDLE hParent, UINT Index) override
    {
        const std::vector<std::unique_ptr<ParamNode>>* list = &m_Params;
        if (hParent) {
            ParamNode* p = Param(hParent);
            if (!p)
                return nullptr;
            list = &p->members;
        }
        return Index < list->size() ? Handle((*list)[Index].get()) : nullptr;
    }

    D3DXHANDLE WINAPI GetParameterByName(D3DXHANDLE hParent, LPCSTR pName) override
    {
        if (!pName)
            return nullptr;
        const std::vector<std::unique_ptr<ParamNode>>* list = &m_Params;
        if (hParent) {
            ParamNode* p = Param(hParent);
            if (!p)
                return nullptr;
            list = &p->members;
        }
        for (const auto& n : *list)
            if (n->name == pName)
                return Handle(n.get());
        return nullptr;
    }

    D3DXHANDLE WINAPI GetParameterElement(D3DXHANDLE hParameter, UINT ElementIndex) override
    {
        ParamNode* p = Param(hParameter);
        if (!p || ElementIndex >= p->elements.size())
            return nullptr;
        return Handle(p->elements[ElementIndex].get());
    }

    D3DXHANDLE WINAPI GetTechnique(UINT Index) override
    {
        return Index < m_Techniques.size() ? Handle(m_Techniques[Index].get()) : nullptr;
    }

    D3DXHANDLE WINAPI GetTechniqueByName(LPCSTR pName) override
    {
        if (!pName)
            return nullptr;
        for (const auto& t : m_Techniques)
            if (t->desc->name == pName)
                return Handle(t.get());
        return nullptr;
    }

    D3DXHANDLE WINAPI GetPass(D3DXHANDLE hTechnique, UINT Index) override
    {
        TechniqueNode* t = Technique(hTechnique);
        if (!t || Index >= t->passes.size())
            return nullptr;
        return Handle(t->passes[Index].get());
    }

    HRESULT WINAPI SetValue(D3DXHANDLE hParameter, LPCVOID pData, UINT Bytes) override
    {
        ParamNode* p = Param(hParameter);
        if (!p || !pData)
            return D3DERR_INVALIDCALL;
        UINT size = (UINT)p->floats * 4;
        if (Bytes == D3DX_DEFAULT)
            Bytes = size;
        if (Bytes > size)
            return D3DERR_INVALIDCALL;
        const BYTE* src = (const BYTE*)pData;
        for (UINT i = 0; i < Bytes / 4; ++i) {
            int w = p->offset + (int)i;
            if (m_Fx.intWords[w]) {
                INT v;
                memcpy(&v, src + 4 * i, 4);
                m_Store[w] = (float)v;
            } else {
                memcpy(&m_Store[w], src + 4 * i, 4);
            }
        }
        return D3D_OK;
    }

    HRESULT WINAPI GetValue(D3DXHANDLE hParameter, LPVOID pData, UINT Bytes) override
    {
        ParamNode* p = Param(hParameter);
        if (!p || !pData)
            return D3DERR_INVALIDCALL;
        UINT size = (UINT)p->floats * 4;
        if (Bytes == D3DX_DEFAULT)
            Bytes = size;
        if (Bytes < size)
            return D3DERR_INVALIDCALL;
        BYTE* dst = (BYTE*)pData;
        for (int i = 0; i < p->floats; ++i) {
            int w = p->offset + i;
            if (m_Fx.intWords[w]) {
                INT v = (INT)m_Store[w];
                memcpy(dst + 4 * i, &v, 4);
            } else {
                memcpy(dst + 4 * i, &m_Store[w], 4);
            }
        }
        return D3D_OK;
    }

    HRESULT WINAPI SetBool(D3DXHANDLE hParameter, BOOL b) override { return SetFloats(hParameter, b ? 1.f : 0.f); }
    HRESULT WINAPI SetInt(D3DXHANDLE hParameter, INT n) override { return SetFloats(hParameter, (float)n); }
    HRESULT WINAPI SetFloat(D3DXHANDLE hParameter, FLOAT f) override { return SetFloats(hParameter, f); }

    HRESULT WINAPI GetInt(D3DXHANDLE hParameter, INT* pn) override
    {
        float f;
        if (!pn || FAILED(GetFloatArray(hParameter, &f, 1)))
            return D3DERR_INVALIDCALL;
        *pn = (INT)f;
        return D3D_OK;
    }

    HRESULT WINAPI GetFloat(D3DXHANDLE hParameter, FLOAT* pf) override { return GetFloatArray(hParameter, pf, 1); }

    HRESULT WINAPI SetFloatArray(D3DXHANDLE hParameter, const FLOAT* pf, UINT Count) override
    {
        ParamNode* p = Numeric(hParameter);
        if (!p || !pf || Count > (UINT)p->floats)
            return D3DERR_INVALIDCALL;
        for (UINT i = 0; i < Count; ++i)
            Write(p->offset + (int)i, pf[i]);
        return D3D_OK;
    }

    HRESULT WINAPI GetFloatArray(D3DXHANDLE hParameter, FLOAT* pf, UINT Count) override
    {
        ParamNode* p = Numeric(hParameter);
        if (!p || !pf || Count > (UINT)p->floats)
            return D3DERR_INVALIDCALL;
        for (UINT i = 0; i < Count; ++i)
            pf[i] = m_Store[p->offset + i];
        return D3D_OK;
    }

    HRESULT WINAPI SetVector(D3DXHANDLE hParameter, const D3DXVECTOR4* pVector) override
    {
        ParamNode* p = Numeric(hParameter);
        if (!p || !pVector || p->type.shape == fx::Shape::Matrix)
            return D3DERR_INVALIDCALL;
        const float v[4] = {pVector->x, pVector->y, pVector->z, pVector->w};
        int n = p->type.cols < 4 ? p->type.cols : 4;
        for (int i = 0; i < n; ++i)
            Write(p->offset + i, v[i]);
        return D3D_OK;
    }

    HRESULT WINAPI GetVector(D3DXHANDLE hParameter, D3DXVECTOR4* pVector) override
    {
        ParamNode* p = Numeric(hParameter);
        if (!p || !pVector || p->type.shape == fx::Shape::Matrix)
            return D3DERR_INVALIDCALL;
        float v[4] = {0.f, 0.f, 0.f, 0.f};
        int n = p->type.cols < 4 ? p->type.cols : 4;
        for (int i = 0; i < n; ++i)
            v[i] = m_Store[p->offset + i];
        *pVector = D3DXVECTOR4(v[0], v[1], v[2], v[3]);
        return D3D_OK;
    }

    HRESULT WINAPI SetMatrix(D3DXHANDLE hParameter, const D3DXMATRIX* pMatrix) override
    {
        ParamNode* p = Numeric(hParameter);
        if (!p || !pMatrix || p->type.shape != fx::Shape::Matrix)
            return D3DERR_INVALIDCALL;
        for (int r = 0; r < p->type.rows; ++r)
            for (int c = 0; c < p->type.cols; ++c)
                Write(p->offset + r * p->type.cols + c, pMatrix->m[r][c]);
        return D3D_OK;
    }

    HRESULT WINAPI GetMatrix(D3DXHANDLE hParameter, D3DXMATRIX* pMatrix) override
    {
        ParamNode* p = Numeric(hParameter);
        if (!p || !pMatrix || p->type.shape != fx::Shape::Matrix)
            return D3DERR_INVALIDCALL;
        memset((void*)pMatrix, 0, sizeof *pMatrix);
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 4; ++c)
                pMatrix->m[r][c] = (r < p->type.rows && c < p->type.cols)
                                       ? m_Store[p->offset + r * p->type.cols + c]
                                       : (r == c ? 1.f : 0.f);
        return D3D_OK;
    }

    // --- ID3DXEffect ---

    HRESULT WINAPI GetPool(ID3DXEffectPool** ppPool) override
    {
        if (!ppPool)
            return D3DERR_INVALIDCALL;
        *ppPool = nullptr;
        return D3D_OK;
    }

    HRESULT WINAPI SetTechnique(D3DXHANDLE hTechnique) override
    {
        TechniqueNode* t = Technique(hTechnique);
        if (!t)
            return D3DERR_INVALIDCALL;
        m_Current = t;
        return D3D_OK;
    }

    D3DXHANDLE WINAPI GetCurrentTechnique() override { return m_Current ? Handle(m_Current) : nullptr; }

    HRESULT WINAPI ValidateTechnique(D3DXHANDLE hTechnique) override
    {
        TechniqueNode* t = Technique(hTechnique);
        if (!t)
            return D3DERR_INVALIDCALL;
        return Valid(*t) ? D3D_OK : D3DERR_INVALIDCALL;
    }

    HRESULT WINAPI FindNextValidTechnique(D3DXHANDLE hTechnique, D3DXHANDLE* pTechnique) override
    {
        if (!pTechnique)
            return D3DERR_INVALIDCALL;
        size_t start = 0;
        if (hTechnique) {
            TechniqueNode* t = Technique(hTechnique);
            if (!t)
                return D3DERR_INVALIDCALL;
            start = IndexOf(t) + 1;
        }
        for (size_t i = start; i < m_Techniques.size(); ++i)
            if (Valid(*m_Techniques[i])) {
                *pTechnique = Handle(m_Techniques[i].get());
                return D3D_OK;
            }
        *pTechnique = nullptr;
        return D3D_OK;
    }

    HRESULT WINAPI Begin(UINT* pPasses, DWORD Flags) override
    {
        if (!m_Current || m_Begun)
            return D3DERR_INVALIDCALL;
        m_Begun = true;
        m_Running = m_Current;
        if (pPasses)
            *pPasses = (UINT)m_Running->passes.size();
        return D3D_OK;
    }

    HRESULT WINAPI BeginPass(UINT Pass) override
    {
        if (!m_Begun || m_ActivePass || Pass >= m_Running->passes.size())
            return D3DERR_INVALIDCALL;
        PassNode* p = m_Running->passes[Pass].get();
        const fx::PassDesc& d = *p->desc;
        m_Saved.clear();
        for (const auto& s : d.states) {
            DWORD old = 0;
            m_Device->GetRenderState((D3DRENDERSTATETYPE)s.first, &old);
            m_Saved.push_back({s.first, old});
            m_Device->SetRenderState((D3DRENDERSTATETYPE)s.first, s.second);
        }
        m_Device->GetVertexShader(&m_SavedVs);
        m_Device->GetPixelShader(&m_SavedPs);
        m_ActivePass = p;
        Commit();
        if (d.vsSet)
            m_Device->SetVertexShader(p->vs);
        if (d.psSet)
            m_Device->SetPixelShader(p->ps);
        return D3D_OK;
    }

    HRESULT WINAPI CommitChanges() override
    {
        if (!m_ActivePass)
            return D3DERR_INVALIDCALL;
        Commit();
        return D3D_OK;
    }

    HRESULT WINAPI EndPass() override
    {
        if (!m_ActivePass)
            return D3DERR_INVALIDCALL;
        // Give back what the pass changed, last change first.
        for (size_t i = m_Saved.size(); i-- > 0;)
            m_Device->SetRenderState((D3DRENDERSTATETYPE)m_Saved[i].first, m_Saved[i].second);
        m_Saved.clear();
        m_Device->SetVertexShader(m_SavedVs);
        m_Device->SetPixelShader(m_SavedPs);
        if (m_SavedVs)
            m_SavedVs->Release();
        if (m_SavedPs)
            m_SavedPs->Release();
        m_SavedVs = nullptr;
        m_SavedPs = nullptr;
        m_ActivePass = nullptr;
        return D3D_OK;
    }

    HRESULT WINAPI End() override
    {
        if (!m_Begun)
            return D3DERR_INVALIDCALL;
        if (m_ActivePass)
            EndPass();
        m_Begun = false;
        m_Running = nullptr;
        return D3D_OK;
    }

    HRESULT WINAPI GetDevice(IDirect3DDevice9** ppDevice) override { return d3dx::GetDeviceOf(m_Device, ppDevice); }
    HRESULT WINAPI OnLostDevice() override { return D3D_OK; }
    HRESULT WINAPI OnResetDevice() override { return D3D_OK; }

private:
    IDirect3DDevice9* m_Device;
    fx::CompiledEffect m_Fx;
    std::vector<float> m_Store;
    std::vector<std::unique_ptr<ParamNode>> m_Params;
    std::vector<std::unique_ptr<TechniqueNode>> m_Techniques;
    std::set<const void*> m_Known;  // every handle we gave out
    TechniqueNode* m_Current = nullptr;
    TechniqueNode* m_Running = nullptr;
    PassNode* m_ActivePass = nullptr;
    bool m_Begun = false;
    std::vector<std::pair<DWORD, DWORD>> m_Saved;
    IDirect3DVertexShader9* m_SavedVs = nullptr;
    IDirect3DPixelShader9* m_SavedPs = nullptr;

    static D3DXHANDLE Handle(const void* node) { return reinterpret_cast<D3DXHANDLE>(node); }

    std::unique_ptr<ParamNode> MakeNode(const std::string& name, const std::string& semantic,
                                        const fx::TypeDesc& type, int offset)
    {
        std::unique_ptr<ParamNode> n(new ParamNode);
        n->name = name;
        n->semantic = semantic;
        n->type = type;
        n->offset = offset;
        n->floats = fx::TypeFloats(m_Fx, type);
        if (type.arrayLen > 0) {
            fx::TypeDesc one = type;
            one.arrayLen = 0;
            int size = fx::TypeFloats(m_Fx, one);
            for (int i = 0; i < type.arrayLen; ++i)
                n->elements.push_back(MakeNode(name, semantic, one, offset + i * size));
        } else if (type.base == fx::Base::Struct) {
            for (const fx::StructMember& m : m_Fx.structs[type.structId].members)
                n->members.push_back(MakeNode(m.name, m.semantic, m.type, offset + m.offset));
        }
        m_Known.insert(n.get());
        return n;
    }

    // A handle we made, or else a name of a top-level parameter.
    ParamNode* Param(D3DXHANDLE h)
    {
        if (!h)
            return nullptr;
        if (m_Known.count(h)) {
            for (const auto& t : m_Techniques) {
                if ((const void*)t.get() == (const void*)h)
                    return nullptr;
                for (const auto& p : t->passes)
                    if ((const void*)p.get() == (const void*)h)
                        return nullptr;
            }
            return reinterpret_cast<ParamNode*>(const_cast<char*>(h));
        }
        for (const auto& n : m_Params)
            if (n->name == h)
                return n.get();
        return nullptr;
    }

    ParamNode* Numeric(D3DXHANDLE h)
    {
        ParamNode* p = Param(h);
        if (!p || p->type.base == fx::Base::Struct || p->type.arrayLen > 0)
            return nullptr;
        return p;
    }

    TechniqueNode* Technique(D3DXHANDLE h)
    {
        if (!h)
            return nullptr;
        for (const auto& t : m_Techniques)
            if ((const void*)t.get() == (const void*)h)
                return t.get();
        if (m_Known.count(h))
            return nullptr;  // a parameter or a pass
        for (const auto& t : m_Techniques)
            if (t->desc->name == h)
                return t.get();
        return nullptr;
    }

    size_t IndexOf(const TechniqueNode* t) const
    {
        for (size_t i = 0; i < m_Techniques.size(); ++i)
            if (m_Techniques[i].get() == t)
                return i;
        return m_Techniques.size();
    }

    bool Valid(const TechniqueNode& t)
    {
        D3DCAPS9 caps;
        if (FAILED(m_Device->GetDeviceCaps(&caps)))
            return false;
        DWORD vsMax = caps.VertexShaderVersion & 0xffff, psMax = caps.PixelShaderVersion & 0xffff;
        for (const auto& p : t.passes) {
            const fx::PassDesc& d = *p->desc;
            if (d.vs && (DWORD)((d.vsMajor << 8) | d.vsMinor) > vsMax)
                return false;
            if (d.ps && (DWORD)((d.psMajor << 8) | d.psMinor) > psMax)
                return false;
        }
        return true;
    }

    void Write(int word, float value) { m_Store[word] = m_Fx.intWords[word] ? truncf(value) : value; }

    HRESULT SetFloats(D3DXHANDLE h, float value)
    {
        ParamNode* p = Numeric(h);
        if (!p)
            return D3DERR_INVALIDCALL;
        Write(p->offset, value);
        return D3D_OK;
    }

    void Commit()
    {
        if (!m_ActivePass)
            return;
        if (m_ActivePass->vs)
            m_ActivePass->vs->SetUniforms(m_Store.data(), m_Store.size());
        if (m_ActivePass->ps)
            m_ActivePass->ps->SetUniforms(m_Store.data(), m_Store.size());
    }
};

// The compiler's messages to the caller's buffer; the call fails as invalid data.
HRESULT Refuse(const std::string& errors, ID3DXBuffer** ppErrors)
{
    if (ppErrors && SUCCEEDED(D3DXCreateBuffer((DWORD)errors.size() + 1, ppErrors)))
        memcpy((*ppErrors)->GetBufferPointer(), errors.c_str(), errors.size() + 1);
    return D3DXERR_INVALIDDATA;
}

// Out of memory, said in the caller's buffer when there is memory for that
// (what the load took is freed by now).
HRESULT OutOfMemory(const char* name, ID3DXBuffer** ppErrors)
{
    try {
        std::string errors;
        fx::OutOfMemory(name, &errors);
        Refuse(errors, ppErrors);
    } catch (const std::bad_alloc&) {
    }
    return E_OUTOFMEMORY;
}

HRESULT CreateFromSource(IDirect3DDevice9* device, const std::string& source, const std::string& name,
                         const D3DXMACRO* defines, ID3DXEffect** ppEffect, ID3DXBuffer** ppErrors)
{
    std::vector<std::pair<std::string, std::string>> macros;
    for (const D3DXMACRO* m = defines; m && m->Name; ++m)
        macros.push_back({m->Name, m->Definition ? m->Definition : ""});
    fx::CompiledEffect compiled;
    std::string errors;
    if (!fx::Compile(source, name, macros, &compiled, &errors) || !fx::HasTechnique(compiled, name, &errors))
        return Refuse(errors, ppErrors);
    CEffect* effect = new (std::nothrow) CEffect(device, std::move(compiled));
    if (!effect)
        return OutOfMemory(name.c_str(), ppErrors);
    *ppEffect = effect;
    return D3D_OK;
}

}  // namespace

HRESULT WINAPI D3DXCreateEffect(IDirect3DDevice9* pDevice, LPCVOID pSrcData, UINT SrcDataLen,
                                const D3DXMACRO* pDefines, LPD3DXINCLUDE pInclude, DWORD Flags,
                                LPD3DXEFFECTPOOL pPool, LPD3DXEFFECT* ppEffect, LPD3DXBUFFER* ppCompilationErrors)
{
    if (ppCompilationErrors)
        *ppCompilationErrors = nullptr;
    if (!pDevice || !pSrcData || !ppEffect)
        return D3DERR_INVALIDCALL;
    *ppEffect = nullptr;
    try {
        std::string errors;
        if (!fx::SourceFits(SrcDataLen, "memory", &errors))
            return Refuse(errors, ppCompilationErrors);
        std::string source((const char*)pSrcData, SrcDataLen);
        return CreateFromSource(pDevice, source, "memory", pDefines, ppEffect, ppCompilationErrors);
    } catch (const std::bad_alloc&) {
        return OutOfMemory("memory", ppCompilationErrors);
    }
}

namespace {

HRESULT EffectFromFile(IDirect3DDevice9* pDevice, LPCSTR pSrcFile, const D3DXMACRO* pDefines, LPD3DXEFFECT* ppEffect,
                       LPD3DXBUFFER* ppCompilationErrors)
{
    // A path that could not be mapped or opened for want of memory is out of memory.
    errno = 0;
    char mapped[4096];
    if (!VelmoraMapPath(pSrcFile, mapped, sizeof mapped))
        return errno == ENOMEM ? OutOfMemory(pSrcFile, ppCompilationErrors) : D3DERR_NOTFOUND;
    std::unique_ptr<FILE, int (*)(FILE*)> f(fopen(mapped, "rb"), fclose);
    if (!f)
        return errno == ENOMEM ? OutOfMemory(pSrcFile, ppCompilationErrors) : D3DERR_NOTFOUND;
    // The size is known before a byte is read; a file that grows meanwhile
    // is cut one read past the limit, which the compiler refuses.
    const long size = fseek(f.get(), 0, SEEK_END) == 0 ? ftell(f.get()) : -1;
    if (size < 0 || fseek(f.get(), 0, SEEK_SET) != 0)
        return D3DERR_NOTFOUND;
    std::string errors, source;
    if (!fx::SourceFits((size_t)size, pSrcFile, &errors))
        return Refuse(errors, ppCompilationErrors);
    source.reserve((size_t)size);
    char buf[4096];
    size_t got;
    while (source.size() <= fx::kMaxSourceBytes && (got = fread(buf, 1, sizeof buf, f.get())) > 0)
        source.append(buf, got);
    f.reset();
    return CreateFromSource(pDevice, source, pSrcFile, pDefines, ppEffect, ppCompilationErrors);
}

}  // namespace

HRESULT WINAPI D3DXCreateEffectFromFileA(IDirect3DDevice9* pDevice, LPCSTR pSrcFile, const D3DXMACRO* pDefines,
                                         LPD3DXINCLUDE pInclude, DWORD Flags, LPD3DXEFFECTPOOL pPool,
                                         LPD3DXEFFECT* ppEffect, LPD3DXBUFFER* ppCompilationErrors)
{
    if (ppCompilationErrors)
        *ppCompilationErrors = nullptr;
    if (!pDevice || !pSrcFile || !ppEffect)
        return D3DERR_INVALIDCALL;
    *ppEffect = nullptr;
    // Reading, compiling and the effect's own tables may each run out of memory.
    try {
        return EffectFromFile(pDevice, pSrcFile, pDefines, ppEffect, ppCompilationErrors);
    } catch (const std::bad_alloc&) {
        return OutOfMemory(pSrcFile, ppCompilationErrors);
    }
}
