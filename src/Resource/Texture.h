// A texture read from an image file.
#ifndef VELMORA_RESOURCE_TEXTURE_H
#define VELMORA_RESOURCE_TEXTURE_H

#include <d3d9.h>

#include "Logger.h"
#include "Resource/IResource.h"

class CTexture : public IResource
{
public:
    explicit CTexture(const std::string& name) : IResource(RESOURCE_TEXTURE, name)
    {
        g_Logger.SetLocation("src\\resource\\Texture", 20);
        g_Logger.Printf("CTEXTURE constructor");
        CTexture::Init();
    }
    ~CTexture() override
    {
        g_Logger.SetLocation("src\\resource\\Texture", 21);
        g_Logger.Printf("CTEXTURE destructor");
        CTexture::Unload();
    }

    void Init() override;
    bool Load() override;
    void Unload() override;

    IDirect3DTexture9* GetD3DTexture() const { return m_pTexture; }

private:
    IDirect3DTexture9* m_pTexture;
};

#endif
