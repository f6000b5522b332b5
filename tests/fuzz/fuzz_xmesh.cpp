// A .x mesh file (text or binary) loaded as the scene loads its objects, then
// drawn subset by subset and hit-tested on a small device.
#include "fuzz_support.h"

#include "Resource/GraphicObject.h"
#include "d3d_stuff.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::string path = fuzzing::Scratch() + "/mesh.x";
    g_pDevice = fuzzing::SmallDevice::Get().device;
    fuzzing::WriteInput(path, data, size);

    CGraphicObject object(path);
    if (!object.Load())
        return 0;
    D3DXMATRIX view;
    const D3DXVECTOR3 eye(0.0f, 50.0f, -200.0f), at(0.0f, 0.0f, 0.0f), up(0.0f, 1.0f, 0.0f);
    D3DXMatrixLookAtLH(&view, &eye, &at, &up);
    g_pDevice->SetTransform(D3DTS_VIEW, &view);
    D3DXMatrixPerspectiveFovLH(&g_ProjectionMatrix, 1.2566371f, 1.0f, 5.0f, 1000.0f);
    g_pDevice->SetTransform(D3DTS_PROJECTION, &g_ProjectionMatrix);
    g_pDevice->BeginScene();
    for (DWORD subset = 0; subset < object.GetMaterialCount() && subset < 16; ++subset)
    {
        g_pDevice->SetMaterial(&object.GetMaterials()[subset]);
        object.DrawSubset(subset);
    }
    g_pDevice->EndScene();
    object.HitTestScreenBox(16, 16);
    object.GetScreenCentre();
    return 0;
}
