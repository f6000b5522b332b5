#include "Resource/GraphicObject.h"

#include <d3dx9mesh.h>
#include <limits.h>

#include "Resource/Shader.h"
#include "d3d_stuff.h"

namespace {

// Toward zero, saturating: a corner behind the camera can project very far out.
int TruncateToInt(float value)
{
    if (value >= 2147483648.0f)
        return INT_MAX;
    if (value <= -2147483648.0f)
        return INT_MIN;
    return static_cast<int>(value);
}

}  // namespace

CGraphicObject::~CGraphicObject()
{
    g_Logger.SetLocation("src\\Resource\\GraphicObject", 13);
    g_Logger.Printf("CGRAPHICOBJ  destructor");
    CGraphicObject::Unload();
}

void CGraphicObject::Init()
{
    m_pMesh = nullptr;
    m_MaterialCount = 0;
    m_pBoundingBox = nullptr;
    m_pMaterials = nullptr;
    m_pShader = nullptr;
}

bool CGraphicObject::Load()
{
    ID3DXBuffer* materials = nullptr;
    DWORD count = 0;
    if (FAILED(D3DXLoadMeshFromXA(m_Name.c_str(), D3DXMESH_VB_SYSTEMMEM, g_pDevice, nullptr, &materials, nullptr,
                                  &count, &m_pMesh)))
    {
        m_pMesh = nullptr;
        if (materials)
            materials->Release();
        g_Logger.SetLocation("src\\Resource\\GraphicObject", 64);
        g_Logger.Printf("Cannot Load the Object %s", m_Name.c_str());
        return false;
    }

    // Texture names are dropped: meshes are drawn without textures.
    const D3DXMATERIAL* source = materials ? static_cast<const D3DXMATERIAL*>(materials->GetBufferPointer()) : nullptr;
    if (!source)
        count = 0;
    m_MaterialCount = count;
    m_pMaterials = new D3DMATERIAL9[count];
    for (DWORD i = 0; i < count; ++i)
        m_pMaterials[i] = source[i].MatD3D;
    if (materials)
        materials->Release();

    if (FAILED(ComputeMeshBounds(&m_pBoundingBox, m_pMesh)))
    {
        g_Logger.SetLocation("src\\Resource\\GraphicObject", 87);
        g_Logger.Printf("Cannot create the bounding shape from %s", m_Name.c_str());
        return false;
    }
    return true;
}

void CGraphicObject::Unload()
{
    if (m_pMesh)
        m_pMesh->Release();
    delete[] m_pBoundingBox;
    delete[] m_pMaterials;
    Init();
}

void CGraphicObject::DrawSubset(DWORD subset)
{
    if (m_pMesh)
        m_pMesh->DrawSubset(subset);
}

void CGraphicObject::Render()
{
    if (!m_pShader || !g_pDevice)
        return;
    D3DXMATRIX world;
    g_pDevice->GetTransform(D3DTS_WORLD, &world);
    m_pShader->SetWorldMatrix(world);
    ID3DXEffect* effect = m_pShader->GetEffect();
    if (!effect)
        return;
    UINT passes = 0;
    effect->Begin(&passes, 0);
    for (UINT pass = 0; pass < passes; ++pass)
    {
        effect->BeginPass(pass);
        for (DWORD subset = 0; subset < m_MaterialCount; ++subset)
            DrawSubset(subset);
        effect->EndPass();
    }
    effect->End();
}

void CGraphicObject::GetScreenRect(int& left, int& top, int& right, int& bottom) const
{
    // Odd start values, kept as they are: right starts at minus one million.
    left = 100000;
    top = 100000;
    right = -1000000;
    bottom = -100000;
    if (!m_pBoundingBox || !g_pDevice)
        return;

    const float* b = m_pBoundingBox;
    const D3DXVECTOR3 corners[8] = {
        D3DXVECTOR3(b[0], b[1], b[2]), D3DXVECTOR3(b[3], b[1], b[2]), D3DXVECTOR3(b[0], b[4], b[2]),
        D3DXVECTOR3(b[3], b[4], b[2]), D3DXVECTOR3(b[0], b[1], b[5]), D3DXVECTOR3(b[3], b[1], b[5]),
        D3DXVECTOR3(b[0], b[4], b[5]), D3DXVECTOR3(b[3], b[4], b[5])};

    D3DVIEWPORT9 viewport;
    D3DXMATRIX world;
    D3DXMATRIX view;
    g_pDevice->GetViewport(&viewport);
    g_pDevice->GetTransform(D3DTS_WORLD, &world);
    g_pDevice->GetTransform(D3DTS_VIEW, &view);

    for (const D3DXVECTOR3& corner : corners)
    {
        D3DXVECTOR3 p;
        D3DXVec3Project(&p, &corner, &viewport, &g_ProjectionMatrix, &view, &world);
        // A coordinate that is not a number fails every comparison.
        if (static_cast<float>(left) > p.x)
            left = TruncateToInt(p.x);
        if (static_cast<float>(top) > p.y)
            top = TruncateToInt(p.y);
        if (static_cast<float>(right) < p.x)
            right = TruncateToInt(p.x);
        if (static_cast<float>(bottom) < p.y)
            bottom = TruncateToInt(p.y);
    }
}

bool CGraphicObject::HitTestScreenBox(int x, int y) const
{
    int left, top, right, bottom;
    GetScreenRect(left, top, right, bottom);
    return left < x && x < right && top < y && y < bottom;
}

D3DXVECTOR2 CGraphicObject::GetScreenCentre() const
{
    int left, top, right, bottom;
    GetScreenRect(left, top, right, bottom);
    // Summed wide so that saturated bounds cannot overflow.
    return D3DXVECTOR2(static_cast<float>(static_cast<long long>(left) + right) * 0.5f,
                       static_cast<float>(static_cast<long long>(top) + bottom) * 0.5f);
}
