#include "Resource/Shader.h"

#include <string.h>

#include <string>

#include "d3d_stuff.h"

static_assert(sizeof(CShaderLight) == 40, "the effects read a light as ten floats");

void CShader::Init()
{
    m_pEffect = nullptr;
    m_hProjectionMatrix = nullptr;
    m_hViewMatrix = nullptr;
    m_hWorldMatrix = nullptr;
    m_hLightArray = nullptr;
    for (int i = 0; i < kLightCount; ++i)
        m_hLights[i] = nullptr;
    m_hMaterial = nullptr;
    m_hTechnique = nullptr;
}

bool CShader::Load()
{
    ID3DXBuffer* messages = nullptr;
    HRESULT result = D3DXCreateEffectFromFileA(g_pDevice, m_Name.c_str(), nullptr, nullptr, D3DXSHADER_PARTIALPRECISION,
                                               nullptr, &m_pEffect, &messages);
    if (FAILED(result))
    {
        m_pEffect = nullptr;
        if (messages)
        {
            // The compiler's text need not end with a zero.
            std::string text(static_cast<const char*>(messages->GetBufferPointer()), messages->GetBufferSize());
            text.resize(strnlen(text.c_str(), text.size()));
            g_Logger.SetLocation("src\\Resource\\Shader", 36);
            g_Logger.Printf("%s", text.c_str());
            messages->Release();
        }
        return false;
    }
    if (messages)
        messages->Release();

    if (FAILED(m_pEffect->FindNextValidTechnique(nullptr, &m_hTechnique)))
    {
        g_Logger.SetLocation("src\\Resource\\Shader", 49);
        g_Logger.Printf("%s :error finding next valid technique", m_Name.c_str());
        return false;
    }
    if (FAILED(m_pEffect->SetTechnique(m_hTechnique)))
    {
        g_Logger.SetLocation("src\\Resource\\Shader", 55);
        g_Logger.Printf("%s : error setting technique", m_Name.c_str());
        return false;
    }

    m_hProjectionMatrix = m_pEffect->GetParameterByName(nullptr, "projectionMatrix");
    m_hWorldMatrix = m_pEffect->GetParameterByName(nullptr, "worldMatrix");
    m_hViewMatrix = m_pEffect->GetParameterByName(nullptr, "viewMatrix");
    m_hLightArray = m_pEffect->GetParameterByName(nullptr, "lightArr");
    if (!m_hLightArray)
    {
        g_Logger.SetLocation("src\\Resource\\Shader", 69);
        g_Logger.Printf("warning parameter *lightArr* not founded");
    }
    else
    {
        for (int i = 0; i < kLightCount; ++i)
        {
            m_hLights[i] = m_pEffect->GetParameterElement(m_hLightArray, static_cast<UINT>(i));
            if (!m_hLights[i])
            {
                g_Logger.SetLocation("src\\Resource\\Shader", 74);
                g_Logger.Printf("warning couldnot find light %d", i);
            }
        }
    }
    m_hMaterial = m_pEffect->GetParameterByName(nullptr, "material");
    if (!m_hMaterial)
    {
        g_Logger.SetLocation("src\\Resource\\Shader", 80);
        g_Logger.Printf("WARNING material NULL");
    }
    return true;
}

void CShader::Unload()
{
    if (m_pEffect)
        m_pEffect->Release();
    Init();
}

D3DXHANDLE CShader::NextValidTechnique(D3DXHANDLE technique) const
{
    if (!m_pEffect)
        return nullptr;
    D3DXHANDLE next = nullptr;
    if (FAILED(m_pEffect->FindNextValidTechnique(technique, &next)))
        next = nullptr;
    if (!next && FAILED(m_pEffect->FindNextValidTechnique(nullptr, &next)))
        next = nullptr;
    return next;
}

void CShader::SetTechnique(D3DXHANDLE technique)
{
    m_hTechnique = technique;
    if (m_pEffect)
        m_pEffect->SetTechnique(technique);
}

void CShader::SetMatrix(D3DXHANDLE handle, const D3DXMATRIX& matrix)
{
    if (m_pEffect && handle)
        m_pEffect->SetMatrix(handle, &matrix);
}

void CShader::SetProjectionMatrix(const D3DXMATRIX& matrix)
{
    SetMatrix(m_hProjectionMatrix, matrix);
}

void CShader::SetViewMatrix(const D3DXMATRIX& matrix)
{
    SetMatrix(m_hViewMatrix, matrix);
}

void CShader::SetWorldMatrix(const D3DXMATRIX& matrix)
{
    SetMatrix(m_hWorldMatrix, matrix);
}

void CShader::SetLight(int index, const CShaderLight& light)
{
    if (index < 0 || index >= kLightCount || !m_pEffect || !m_hLights[index])
        return;
    m_pEffect->SetValue(m_hLights[index], &light, sizeof(CShaderLight));
}

void CShader::SetMaterial(const float* colour)
{
    if (!m_pEffect || !m_hMaterial || !colour)
        return;
    m_pEffect->SetValue(m_hMaterial, colour, 4 * sizeof(float));
}
