// A mesh read from a DirectX .x file with its materials and bounding box.
#ifndef VELMORA_RESOURCE_GRAPHICOBJECT_H
#define VELMORA_RESOURCE_GRAPHICOBJECT_H

#include <d3d9.h>
#include <d3dx9.h>

#include "Logger.h"
#include "Resource/IResource.h"

struct ID3DXMesh;
class CShader;

class CGraphicObject : public IResource
{
public:
    explicit CGraphicObject(const std::string& name) : IResource(RESOURCE_GRAPHICOBJECT, name)
    {
        g_Logger.SetLocation("src\\resource\\GraphicObject", 43);
        g_Logger.Printf("CGRAPHICOBJ constructor");
        CGraphicObject::Init();
    }
    ~CGraphicObject() override;

    void Init() override;
    bool Load() override;
    void Unload() override;

    // The effect Render draws with; not owned.
    void SetShader(CShader* shader) { m_pShader = shader; }
    CShader* GetShader() const { return m_pShader; }
    DWORD GetMaterialCount() const { return m_MaterialCount; }
    D3DMATERIAL9* GetMaterials() const { return m_pMaterials; }
    ID3DXMesh* GetMesh() const { return m_pMesh; }
    // Minimum x, y, z then maximum x, y, z, in model space; null until loaded.
    const float* GetBoundingBox() const { return m_pBoundingBox; }

    // Draws one subset with the device's current state.
    void DrawSubset(DWORD subset);
    // Every subset through every pass of the assigned effect, with the device's world transform.
    void Render();

    // The bounding box projected with the device's viewport, world and view and
    // g_ProjectionMatrix; a point on an edge is outside.
    bool HitTestScreenBox(int x, int y) const;
    D3DXVECTOR2 GetScreenCentre() const;
    // Left, top, right and bottom of the projected bounding box, in pixels.
    void GetScreenRect(int& left, int& top, int& right, int& bottom) const;

private:
    ID3DXMesh* m_pMesh;
    DWORD m_MaterialCount;
    float* m_pBoundingBox;
    D3DMATERIAL9* m_pMaterials;
    CShader* m_pShader;
};

#endif
