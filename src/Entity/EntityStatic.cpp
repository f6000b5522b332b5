// Static objects: their mesh and placement from the scene file, and their drawing.
#include "Entity/EntityStatic.h"

#include "Entity/EntityManager.h"
#include "Logger.h"
#include "Resource/GraphicObject.h"
#include "Resource/ResourceManager.h"
#include "Resource/Shader.h"
#include "d3d_stuff.h"
#include "plugin.h"

#include <cstdio>
#include <tinyxml.h>

namespace
{
const char* const kSource = "src\\Entity\\EntityStatic";
const float kDegreesToRadians = 0.017453292f;
}

CTransform ReadPRS(const TiXmlElement* element)
{
    CTransform transform = CTransform::Identity();
    for (const TiXmlElement* child = element->FirstChildElement(); child; child = child->NextSiblingElement()) {
        if (!NamesMatch(child->Value(), "PRS"))
            continue;
        float position[3] = {0.0f, 0.0f, 0.0f};
        float rotation[4] = {0.0f, 0.0f, 0.0f, 0.0f};
        float scale[3] = {1.0f, 1.0f, 1.0f};
        ReadVec3Attribute(child, "position", position);
        ReadVec4Attribute(child, "rotation", rotation);
        ReadVec3Attribute(child, "scale", scale);
        transform.position = D3DXVECTOR3(position[0], position[1], position[2]);
        const D3DXVECTOR3 axis(rotation[0], rotation[1], rotation[2]);
        D3DXQuaternionRotationAxis(&transform.rotation, &axis, rotation[3] * kDegreesToRadians);
        transform.scale = D3DXVECTOR3(scale[0], scale[1], scale[2]);
    }
    return transform;
}

CEntityStatic::CEntityStatic() : m_pMesh(nullptr)
{
    m_Type = EntityTypeStatic;
}

bool CEntityStatic::Load(const TiXmlElement* element)
{
    const char* fileName = element->Attribute("filename");
    if (!fileName) {
        g_Logger.SetLocation(kSource, 38);
        g_Logger.Printf("Object definition not valid");
        return false;
    }

    char path[128];
    if (FormatDataPath(path, "%sobjects\\%s", fileName)) {
        m_pMesh = g_pResourceManager ? g_pResourceManager->GetGraphicObject(path) : nullptr;
    } else {
        g_Logger.SetLocation(kSource, 47);
        g_Logger.Printf("object path too long: %s", fileName);
        m_pMesh = nullptr;
    }

    const CTransform transform = ReadPRS(element);

    g_Logger.SetLocation(kSource, 69);
    g_Logger.Printf("static obj: setting shader");
    if (m_pMesh)
        m_pMesh->SetShader(g_pSpotShader);

    SetTransform(transform);
    SetInitialTransform(transform);
    return true;
}

void CEntityStatic::Render()
{
    if (!m_pMesh) {
        g_Logger.SetLocation(kSource, 84);
        g_Logger.Printf("warning: object NULL");
        return;
    }
    const D3DXMATRIX world = GetWorldMatrix(m_Transform);
    g_pDevice->SetTransform(D3DTS_WORLD, &world);
    if (g_pSpotShader)
        g_pSpotShader->SetMaterial(D3DXVECTOR4(1.0f, 1.0f, 1.0f, 1.0f));
    m_pMesh->Render();
}
