#include "Resource/Texture.h"

#include <d3dx9.h>

#include "d3d_stuff.h"

void CTexture::Init()
{
    m_pTexture = nullptr;
}

bool CTexture::Load()
{
    if (FAILED(D3DXCreateTextureFromFileA(g_pDevice, m_Name.c_str(), &m_pTexture)))
    {
        m_pTexture = nullptr;
        g_Logger.SetLocation("src\\Resource\\Texture", 34);
        g_Logger.Printf("error loading texture %s", m_Name.c_str());
        return false;
    }
    return true;
}

void CTexture::Unload()
{
    if (m_pTexture)
        m_pTexture->Release();
    Init();
}
