// Effect source through the effect compiler (D3DXCreateEffect), then every
// parameter set and every pass of the first techniques drawn on a triangle.
#include "fuzz_support.h"

#include <d3dx9.h>

#include <vector>

namespace {
struct LitVertex
{
    float x, y, z;
    float nx, ny, nz;
};

void SetParameters(ID3DXEffect* effect, UINT count)
{
    std::vector<float> values;
    for (UINT i = 0; i < count && i < 64; ++i)
    {
        D3DXHANDLE parameter = effect->GetParameter(nullptr, i);
        D3DXPARAMETER_DESC desc;
        if (!parameter || FAILED(effect->GetParameterDesc(parameter, &desc)) || desc.Bytes > 4096)
            continue;
        values.assign((desc.Bytes + 3) / 4, 0.0f);
        for (size_t v = 0; v < values.size(); ++v)
            values[v] = 0.25f * static_cast<float>(v % 7) - 0.5f;
        effect->SetValue(parameter, values.data(), desc.Bytes);
    }
}
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    IDirect3DDevice9* device = fuzzing::SmallDevice::Get().device;
    ID3DXEffect* effect = nullptr;
    ID3DXBuffer* errors = nullptr;
    const HRESULT hr = D3DXCreateEffect(device, data, static_cast<UINT>(size), nullptr, nullptr, 0, nullptr, &effect,
                                        &errors);
    if (errors)
        errors->Release();
    if (FAILED(hr) || !effect)
        return 0;

    D3DXEFFECT_DESC desc;
    if (SUCCEEDED(effect->GetDesc(&desc)))
    {
        SetParameters(effect, desc.Parameters);
        const LitVertex triangle[3] = {{-10, -10, 20, 0, 0, -1}, {10, -10, 20, 0, 0, -1}, {0, 10, 20, 0, 0, -1}};
        device->BeginScene();
        device->SetFVF(D3DFVF_XYZ | D3DFVF_NORMAL);
        for (UINT t = 0; t < desc.Techniques && t < 4; ++t)
        {
            if (FAILED(effect->SetTechnique(effect->GetTechnique(t))))
                continue;
            UINT passes = 0;
            if (FAILED(effect->Begin(&passes, 0)))
                continue;
            for (UINT p = 0; p < passes && p < 4; ++p)
            {
                if (FAILED(effect->BeginPass(p)))
                    continue;
                device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, triangle, sizeof(LitVertex));
                effect->EndPass();
            }
            effect->End();
        }
        device->EndScene();
    }
    effect->Release();
    return 0;
}
