// Interface identifiers of the platform's COM-style objects. The values are
// our own; only their distinctness matters to QueryInterface.
#include <d3d9.h>

#include <string.h>

extern "C" {

const IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IDirect3D9 = {0x56e10001, 0x7a1d, 0x4d3a, {0x9b, 0x01, 0, 0, 0, 0, 0, 0x01}};
const IID IID_IDirect3DDevice9 = {0x56e10002, 0x7a1d, 0x4d3a, {0x9b, 0x01, 0, 0, 0, 0, 0, 0x02}};
const IID IID_IDirect3DResource9 = {0x56e10003, 0x7a1d, 0x4d3a, {0x9b, 0x01, 0, 0, 0, 0, 0, 0x03}};
const IID IID_IDirect3DBaseTexture9 = {0x56e10004, 0x7a1d, 0x4d3a, {0x9b, 0x01, 0, 0, 0, 0, 0, 0x04}};
const IID IID_IDirect3DTexture9 = {0x56e10005, 0x7a1d, 0x4d3a, {0x9b, 0x01, 0, 0, 0, 0, 0, 0x05}};
const IID IID_IDirect3DSurface9 = {0x56e10006, 0x7a1d, 0x4d3a, {0x9b, 0x01, 0, 0, 0, 0, 0, 0x06}};
const IID IID_IDirect3DVertexBuffer9 = {0x56e10007, 0x7a1d, 0x4d3a, {0x9b, 0x01, 0, 0, 0, 0, 0, 0x07}};
const IID IID_IDirect3DIndexBuffer9 = {0x56e10008, 0x7a1d, 0x4d3a, {0x9b, 0x01, 0, 0, 0, 0, 0, 0x08}};

BOOL VelmoraIsEqualGUID(const GUID* a, const GUID* b)
{
    if (!a || !b)
        return FALSE;
    return memcmp(a, b, sizeof(GUID)) == 0 ? TRUE : FALSE;
}
}
