// A texture file through D3DXCreateTextureFromFileA, then every level read
// back and the texture drawn on a quad.
#include "fuzz_support.h"

#include <d3dx9.h>

namespace {
struct TexturedVertex
{
    float x, y, z, rhw;
    float u, v;
};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::string path = fuzzing::Scratch() + "/texture.tga";
    IDirect3DDevice9* device = fuzzing::SmallDevice::Get().device;
    fuzzing::WriteInput(path, data, size);

    IDirect3DTexture9* texture = nullptr;
    if (FAILED(D3DXCreateTextureFromFileA(device, path.c_str(), &texture)) || !texture)
        return 0;
    volatile DWORD sum = 0;
    for (DWORD level = 0; level < texture->GetLevelCount(); ++level)
    {
        D3DSURFACE_DESC desc;
        D3DLOCKED_RECT locked;
        if (FAILED(texture->GetLevelDesc(level, &desc)) || FAILED(texture->LockRect(level, &locked, nullptr, 0)))
            continue;
        const BYTE* row = static_cast<const BYTE*>(locked.pBits);
        sum += row[0] + row[static_cast<size_t>(locked.Pitch) * (desc.Height - 1) + 4 * (desc.Width - 1)];
        texture->UnlockRect(level);
    }
    (void)sum;
    const TexturedVertex quad[4] = {
        {0, 0, 0.5f, 1, 0, 0}, {32, 0, 0.5f, 1, 1, 0}, {0, 32, 0.5f, 1, 0, 1}, {32, 32, 0.5f, 1, 1, 1}};
    device->BeginScene();
    device->SetTexture(0, texture);
    device->SetFVF(D3DFVF_XYZRHW | D3DFVF_TEX1);
    device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof(TexturedVertex));
    device->SetTexture(0, nullptr);
    device->EndScene();
    texture->Release();
    return 0;
}
