// Drawing meshes subset by subset through the device, boxes, clones and
// attribute changes; pictures go to build/test-pictures/.
#include "xmesh_support.h"

#include "d3d_test_png.h"

#include <math.h>

using namespace xtest;

namespace {

const int kW = 160;
const int kH = 120;

// Two quads facing the camera: the right one (listed first) takes material 1,
// the left one material 0.
const char kTwoQuads[] =
    "xof 0303txt 0032\n"
    "Mesh {\n 8;\n"
    " 0.5;-1;0;, 0.5;1;0;, 2;1;0;, 2;-1;0;,\n"
    " -2;-1;0;, -2;1;0;, -0.5;1;0;, -0.5;-1;0;;\n"
    " 2; 4;0,1,2,3;, 4;4,5,6,7;;\n"
    " MeshNormals { 1; 0;0;-1;; 2; 4;0,0,0,0;, 4;0,0,0,0;; }\n"
    " MeshMaterialList { 2; 2; 1,0;;\n"
    "  Material { 1;0;0;1;; 1; 0;0;0;; 0;0;0;; }\n"
    "  Material { 0;1;0;1;; 1; 0;0;0;; 0;0;0;; }\n }\n}\n";

class XDraw : public ::testing::Test
{
protected:
    void SetUp() override
    {
        VelmoraResetGraphicsCard();
        ASSERT_NE(dev.device, nullptr);
        IDirect3DDevice9* d = dev.device;
        D3DXMATRIX view, proj, world;
        D3DXVECTOR3 eye(0, 0, -5), at(0, 0, 0), up(0, 1, 0);
        D3DXMatrixLookAtLH(&view, &eye, &at, &up);
        D3DXMatrixPerspectiveFovLH(&proj, 3.14159265f / 4, (float)kW / kH, 1.f, 100.f);
        D3DXMatrixIdentity(&world);
        d->SetTransform(D3DTS_VIEW, &view);
        d->SetTransform(D3DTS_PROJECTION, &proj);
        d->SetTransform(D3DTS_WORLD, &world);
        D3DLIGHT9 light;
        memset(&light, 0, sizeof light);
        light.Type = D3DLIGHT_DIRECTIONAL;
        light.Diffuse.r = light.Diffuse.g = light.Diffuse.b = light.Diffuse.a = 1.f;
        light.Direction.x = 0.3f;
        light.Direction.y = -0.4f;
        light.Direction.z = 1.f;
        d->SetLight(0, &light);
        d->LightEnable(0, TRUE);
        d->SetRenderState(D3DRS_LIGHTING, TRUE);
        d->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
        d->SetRenderState(D3DRS_AMBIENT, 0);
    }

    void Begin()
    {
        dev.device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.f, 0);
        dev.device->BeginScene();
    }
    std::vector<DWORD> End(const char* picture)
    {
        dev.device->EndScene();
        std::vector<DWORD> px = dev.Pixels();
        d3dtest::SavePng(std::string("xmesh_") + picture, px, kW, kH);
        return px;
    }
    // Each subset in its file material, as the agents draw.
    void DrawWithMaterials(const Loaded& l)
    {
        for (DWORD i = 0; i < l.count; ++i) {
            dev.device->SetMaterial(&l.Materials()[i].MatD3D);
            EXPECT_EQ(l.mesh->DrawSubset(i), D3D_OK);
        }
    }

    d3dtest::Device dev{kW, kH};
};

DWORD Rgb(const std::vector<DWORD>& px, int x, int y) { return px[(size_t)y * kW + x] & 0xFFFFFF; }

TEST_F(XDraw, DrawSubsetDrawsOnlyItsFaces)
{
    Loaded l;
    LoadMemory(dev.device, kTwoQuads, l);
    ASSERT_EQ(l.hr, D3D_OK);
    ASSERT_EQ(l.count, 2u);
    const int left = kW / 5, right = kW * 4 / 5, mid = kW / 2, y = kH / 2;

    Begin();
    dev.device->SetMaterial(&l.Materials()[0].MatD3D);
    EXPECT_EQ(l.mesh->DrawSubset(0), D3D_OK);
    std::vector<DWORD> px = End("subset0");
    EXPECT_GT(d3dtest::Red(px[y * kW + left]), 100);
    EXPECT_EQ(Rgb(px, right, y), 0u);
    EXPECT_EQ(Rgb(px, mid, y), 0u);

    // The mesh's buffers and format are what the device now holds.
    DWORD fvf = 0;
    dev.device->GetFVF(&fvf);
    EXPECT_EQ(fvf, l.mesh->GetFVF());
    IDirect3DVertexBuffer9 *bound = nullptr, *own = nullptr;
    UINT offset = 1, stride = 0;
    dev.device->GetStreamSource(0, &bound, &offset, &stride);
    l.mesh->GetVertexBuffer(&own);
    EXPECT_EQ(bound, own);
    EXPECT_EQ(stride, l.mesh->GetNumBytesPerVertex());
    bound->Release();
    own->Release();

    Begin();
    dev.device->SetMaterial(&l.Materials()[1].MatD3D);
    EXPECT_EQ(l.mesh->DrawSubset(1), D3D_OK);
    EXPECT_EQ(l.mesh->DrawSubset(7), D3D_OK);  // no such subset: nothing drawn
    px = End("subset1");
    EXPECT_EQ(Rgb(px, left, y), 0u);
    EXPECT_GT(d3dtest::Green(px[y * kW + right]), 100);

    Begin();
    DrawWithMaterials(l);
    px = End("subsets");
    EXPECT_GT(d3dtest::Red(px[y * kW + left]), 100);
    EXPECT_EQ(d3dtest::Green(px[y * kW + left]), 0);
    EXPECT_GT(d3dtest::Green(px[y * kW + right]), 100);
    EXPECT_EQ(d3dtest::Red(px[y * kW + right]), 0);

    // Outside a scene the device refuses the draw and the mesh says so.
    EXPECT_LT(l.mesh->DrawSubset(0), 0);

    // New attributes take effect at unlock: everything in subset 0.
    DWORD* attr = nullptr;
    ASSERT_EQ(l.mesh->LockAttributeBuffer(0, &attr), D3D_OK);
    attr[0] = attr[1] = attr[2] = attr[3] = 0;
    l.mesh->UnlockAttributeBuffer();
    DWORD tableSize = 0;
    l.mesh->GetAttributeTable(nullptr, &tableSize);
    EXPECT_EQ(tableSize, 1u);
    Begin();
    dev.device->SetMaterial(&l.Materials()[0].MatD3D);
    l.mesh->DrawSubset(0);
    px = End("relabelled");
    EXPECT_GT(d3dtest::Red(px[y * kW + left]), 100);
    EXPECT_GT(d3dtest::Red(px[y * kW + right]), 100);
}

TEST_F(XDraw, BoxHasItsSizeNormalsAndOneSubset)
{
    ID3DXMesh* box = nullptr;
    ID3DXBuffer* adjacency = nullptr;
    ASSERT_EQ(D3DXCreateBox(dev.device, 2.f, 4.f, 6.f, &box, &adjacency), D3D_OK);
    EXPECT_EQ(box->GetNumVertices(), 24u);
    EXPECT_EQ(box->GetNumFaces(), 12u);
    EXPECT_EQ(box->GetFVF(), (DWORD)(D3DFVF_XYZ | D3DFVF_NORMAL));
    EXPECT_EQ(box->GetNumBytesPerVertex(), 24u);
    D3DXATTRIBUTERANGE range;
    DWORD n = 0;
    box->GetAttributeTable(nullptr, &n);
    ASSERT_EQ(n, 1u);
    box->GetAttributeTable(&range, &n);
    EXPECT_EQ(range.AttribId, 0u);
    EXPECT_EQ(range.FaceCount, 12u);
    EXPECT_EQ(range.VertexStart, 0u);
    EXPECT_EQ(range.VertexCount, 24u);

    // The bounds as the mesh resource takes them: a read-only lock of the vertex buffer.
    IDirect3DVertexBuffer9* vb = nullptr;
    ASSERT_EQ(box->GetVertexBuffer(&vb), D3D_OK);
    void* data = nullptr;
    vb->Lock(0, 0, &data, D3DLOCK_READONLY);
    D3DXVECTOR3 lo, hi;
    ASSERT_EQ(D3DXComputeBoundingBox((const D3DXVECTOR3*)data, box->GetNumVertices(), box->GetNumBytesPerVertex(),
                                     &lo, &hi),
              D3D_OK);
    vb->Unlock();
    vb->Release();
    EXPECT_EQ(lo, D3DXVECTOR3(-1, -2, -3));
    EXPECT_EQ(hi, D3DXVECTOR3(1, 2, 3));

    // Unit outward normals; each face wound clockwise seen from outside.
    std::vector<Vert> v = Vertices(box);
    std::vector<DWORD> idx = Indices(box);
    const float half[3] = {1, 2, 3};
    for (const Vert& x : v) {
        int axis = -1;
        for (int k = 0; k < 3; ++k)
            if (x.n[k] != 0.f) {
                EXPECT_EQ(axis, -1);
                axis = k;
                EXPECT_EQ(fabsf(x.n[k]), 1.f);
            }
        ASSERT_GE(axis, 0);
        EXPECT_EQ(x.p[axis] * x.n[axis], half[axis]);
    }
    for (size_t f = 0; f < 12; ++f) {
        const Vert &a = v[idx[f * 3]], &b = v[idx[f * 3 + 1]], &c = v[idx[f * 3 + 2]];
        D3DXVECTOR3 e1(b.p[0] - a.p[0], b.p[1] - a.p[1], b.p[2] - a.p[2]);
        D3DXVECTOR3 e2(c.p[0] - a.p[0], c.p[1] - a.p[1], c.p[2] - a.p[2]), cross;
        D3DXVec3Cross(&cross, &e1, &e2);
        D3DXVECTOR3 normal(a.n[0], a.n[1], a.n[2]);
        EXPECT_GT(D3DXVec3Dot(&cross, &normal), 0.f) << f;
    }
    ASSERT_NE(adjacency, nullptr);
    ASSERT_EQ(adjacency->GetBufferSize(), 36u * sizeof(DWORD));
    const DWORD* adj = (const DWORD*)adjacency->GetBufferPointer();
    for (int i = 0; i < 36; ++i)
        EXPECT_LT(adj[i], 12u) << i;  // a closed box: every edge has a neighbour
    adjacency->Release();

    // Drawn turned, with back faces culled: three sides in three shades.
    D3DXMATRIX world;
    D3DXMatrixRotationYawPitchRoll(&world, 0.6f, 0.5f, 0.f);
    dev.device->SetTransform(D3DTS_WORLD, &world);
    dev.device->SetRenderState(D3DRS_CULLMODE, D3DCULL_CCW);
    D3DMATERIAL9 grey;
    memset(&grey, 0, sizeof grey);
    grey.Diffuse.r = grey.Diffuse.g = grey.Diffuse.b = grey.Diffuse.a = 1.f;
    dev.device->SetMaterial(&grey);
    D3DXMATRIX scale;
    D3DXMatrixScaling(&scale, 0.5f, 0.5f, 0.5f);
    world = scale * world;
    dev.device->SetTransform(D3DTS_WORLD, &world);
    Begin();
    EXPECT_EQ(box->DrawSubset(0), D3D_OK);
    std::vector<DWORD> px = End("box");
    int lit = 0;
    for (DWORD p : px)
        lit += (p & 0xFFFFFF) != 0;
    EXPECT_GT(lit, kW * kH / 20);
    box->Release();

    EXPECT_LT(D3DXCreateBox(nullptr, 1, 1, 1, &box, nullptr), 0);
    EXPECT_LT(D3DXCreateBox(dev.device, -1, 1, 1, &box, nullptr), 0);
    EXPECT_LT(D3DXCreateBox(dev.device, 1, 1, 1, nullptr, nullptr), 0);
}

TEST_F(XDraw, CloneKeepsWhatBothFormatsHave)
{
    Loaded l;
    LoadMemory(dev.device, kTwoQuads, l);
    ASSERT_EQ(l.hr, D3D_OK);
    ID3DXMesh* clone = nullptr;
    ASSERT_EQ(l.mesh->CloneMeshFVF(D3DXMESH_32BIT | D3DXMESH_MANAGED, D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_NORMAL,
                                   dev.device, &clone),
              D3D_OK);
    EXPECT_EQ(clone->GetNumBytesPerVertex(), 28u);
    EXPECT_EQ(Indices(clone), Indices(l.mesh));
    EXPECT_EQ(Attributes(clone), Attributes(l.mesh));
    std::vector<Vert> a = Vertices(l.mesh), b = Vertices(clone);
    ASSERT_EQ(a.size(), b.size());
    for (size_t i = 0; i < a.size(); ++i) {
        EXPECT_EQ(memcmp(a[i].p, b[i].p, 24), 0);
        EXPECT_EQ(b[i].color, 0u);
    }
    void* unknown = nullptr;
    EXPECT_EQ(clone->QueryInterface(IID_ID3DXBaseMesh, &unknown), S_OK);
    EXPECT_EQ(unknown, (void*)static_cast<ID3DXBaseMesh*>(clone));
    EXPECT_EQ(clone->Release(), 1u);
    EXPECT_EQ(clone->Release(), 0u);
    EXPECT_LT(l.mesh->CloneMeshFVF(0, D3DFVF_NORMAL, dev.device, &clone), 0);
}

}  // namespace
