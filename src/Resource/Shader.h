// An effect loaded from a .fx file, and the light record the effects receive.
#ifndef VELMORA_RESOURCE_SHADER_H
#define VELMORA_RESOURCE_SHADER_H

#include <d3dx9.h>

#include "Logger.h"
#include "Resource/IResource.h"

// One light as the effects receive it: position, direction, colour (r, g, b, a).
struct CShaderLight
{
    float position[3] = {0.0f, 0.0f, 0.0f};
    float direction[3] = {0.0f, 0.0f, 0.0f};
    float colour[4] = {0.0f, 0.0f, 0.0f, 0.0f};
};

class CShader : public IResource
{
public:
    // Elements of "lightArr" that are looked up.
    static const int kLightCount = 4;

    explicit CShader(const std::string& name) : IResource(RESOURCE_SHADER, name)
    {
        g_Logger.SetLocation("src\\resource\\Shader", 58);
        g_Logger.Printf("CSHADER constructor");
        CShader::Init();
    }
    ~CShader() override
    {
        g_Logger.SetLocation("src\\resource\\Shader", 59);
        g_Logger.Printf("CSHADER destructor");
        CShader::Unload();
    }

    void Init() override;
    // Compiles the file, selects the first valid technique and looks the parameters up.
    bool Load() override;
    void Unload() override;

    ID3DXEffect* GetEffect() const { return m_pEffect; }
    D3DXHANDLE GetTechnique() const { return m_hTechnique; }
    // The next valid technique after the given one, wrapping to the first; null
    // starts at the first. Null only when no technique is valid.
    D3DXHANDLE NextValidTechnique(D3DXHANDLE technique) const;
    void SetTechnique(D3DXHANDLE technique);

    void SetProjectionMatrix(const D3DXMATRIX& matrix);
    void SetViewMatrix(const D3DXMATRIX& matrix);
    void SetWorldMatrix(const D3DXMATRIX& matrix);
    // Index 0 to 3; any other index sets nothing.
    void SetLight(int index, const CShaderLight& light);
    // Red, green, blue, alpha.
    void SetMaterial(const float* colour);

private:
    void SetMatrix(D3DXHANDLE handle, const D3DXMATRIX& matrix);

    ID3DXEffect* m_pEffect;
    D3DXHANDLE m_hProjectionMatrix;
    D3DXHANDLE m_hViewMatrix;
    D3DXHANDLE m_hWorldMatrix;
    D3DXHANDLE m_hLightArray;
    D3DXHANDLE m_hLights[kLightCount];
    D3DXHANDLE m_hMaterial;
    D3DXHANDLE m_hTechnique;
};

#endif
