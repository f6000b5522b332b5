// Loading .x files: text and binary forms, frames, normals, texture
// coordinates, colours, material lists, merging, index sizes, and files that
// are cut short or broken.
#include "xmesh_support.h"

#include <math.h>

using namespace xtest;

namespace {

// Two faces under two frames: a quad (material 1, by reference) and a
// triangle (material 0, inline); vertices 0 and 1 carry two normals each.
const char kCrafted[] =
    "xof 0303txt 0032\n"
    "// made by hand\n"
    "template Dummy {\n <11111111-2222-3333-4444-555555555555>\n DWORD x;\n [...]\n}\n"
    "Material Red {\n 1.0;0.0;0.0;1.0;;\n 20.0;\n 0.5;0.5;0.5;;\n 0.1;0.0;0.0;;\n"
    " TextureFilename { \"tex\\\\red.png\"; }\n}\n"
    "Frame Top {\n"
    " FrameTransformMatrix { 1,0,0,0, 0,1,0,0, 0,0,1,0, 10,20,30,1;; }\n"
    " Frame Inner {\n"
    "  FrameTransformMatrix { 2,0,0,0, 0,2,0,0, 0,0,2,0, 0,0,0,1;; }\n"
    "  Mesh Shape {\n"
    "   5;\n   0;0;0;, 1;0;0;, 1;1;0;, 0;1;0;, 0;0;1;;\n"
    "   2;\n   4;0,3,2,1;,\n   3;0,1,4;;\n"
    "   MeshNormals {\n    2;\n    0;0;-1;, 0;-1;0;;\n    2;\n    4;0,0,0,0;,\n    3;1,1,1;;\n   }\n"
    "   MeshTextureCoords { 5; 0;0;, 1;0;, 1;1;, 0;1;, 0.5;0.25;; }\n"
    "   MeshMaterialList {\n    2;\n    2;\n    1,0;;\n"
    "    Material Green { 0;1;0;1;; 5; 0;0;0;; 0;0;0;; }\n"
    "    { Red }\n   }\n"
    "  }\n }\n}\n";

// The same file in binary form.
std::string CraftedBinary(bool doubles)
{
    BinaryWriter b(doubles);
    b.Word(31).Name("Dummy").Open().Word(5).Dword(0x11111111).Dword(0x33332222).Dword(0x55444444).Dword(0x55555555);
    b.Word(41).Name("x").Word(20).Close();
    b.Name("Material").Name("Red").Open().Floats({1, 0, 0, 1, 20, 0.5, 0.5, 0.5, 0.1, 0, 0});
    b.Name("TextureFilename").Open().String("tex\\red.png").Close().Close();
    b.Name("Frame").Name("Top").Open();
    b.Name("FrameTransformMatrix").Open().Floats({1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 10, 20, 30, 1}).Close();
    b.Name("Frame").Name("Inner").Open();
    b.Name("FrameTransformMatrix").Open().Floats({2, 0, 0, 0, 0, 2, 0, 0, 0, 0, 2, 0, 0, 0, 0, 1}).Close();
    b.Name("Mesh").Name("Shape").Open().Ints({5}).Floats({0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0, 0, 0, 1});
    b.Ints({2, 4, 0, 3, 2, 1, 3, 0, 1, 4});
    b.Name("MeshNormals").Open().Ints({2}).Floats({0, 0, -1, 0, -1, 0}).Ints({2, 4, 0, 0, 0, 0, 3, 1, 1, 1}).Close();
    b.Name("MeshTextureCoords").Open().Ints({5}).Floats({0, 0, 1, 0, 1, 1, 0, 1, 0.5, 0.25}).Close();
    b.Name("MeshMaterialList").Open().Ints({2, 2, 1, 0});
    b.Name("Material").Name("Green").Open().Floats({0, 1, 0, 1, 5, 0, 0, 0, 0, 0, 0}).Close();
    b.Open().Name("Red").Close();
    b.Close().Close().Close().Close();
    return b.Bytes();
}

class XLoad : public ::testing::Test
{
protected:
    void SetUp() override
    {
        VelmoraResetGraphicsCard();
        ASSERT_NE(dev.device, nullptr);
    }
    d3dtest::Device dev{64, 64};
};

bool Near(float a, float b, float eps = 1e-5f) { return fabsf(a - b) <= eps; }

void CheckCrafted(Loaded& l)
{
    ASSERT_EQ(l.hr, D3D_OK);
    ID3DXMesh* m = l.mesh;
    EXPECT_EQ(m->GetFVF(), (DWORD)(D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1));
    EXPECT_EQ(m->GetNumBytesPerVertex(), 32u);
    EXPECT_EQ(m->GetNumFaces(), 3u);
    EXPECT_EQ(m->GetNumVertices(), 7u);  // five, plus two copies for second normals

    // Faces grouped by material: the triangle (material 0) first, then the quad's fan.
    std::vector<DWORD> attr = Attributes(m);
    EXPECT_EQ(attr, (std::vector<DWORD>{0, 1, 1}));
    DWORD tableSize = 0;
    ASSERT_EQ(m->GetAttributeTable(nullptr, &tableSize), D3D_OK);
    ASSERT_EQ(tableSize, 2u);
    D3DXATTRIBUTERANGE table[2];
    m->GetAttributeTable(table, &tableSize);
    EXPECT_EQ(table[0].AttribId, 0u);
    EXPECT_EQ(table[0].FaceStart, 0u);
    EXPECT_EQ(table[0].FaceCount, 1u);
    EXPECT_EQ(table[1].AttribId, 1u);
    EXPECT_EQ(table[1].FaceStart, 1u);
    EXPECT_EQ(table[1].FaceCount, 2u);

    std::vector<Vert> v = Vertices(m);
    std::vector<DWORD> idx = Indices(m);
    ASSERT_EQ(idx.size(), 9u);
    // Frames: scale 2 inside, then moved by (10, 20, 30).
    EXPECT_TRUE(Near(v[2].p[0], 12) && Near(v[2].p[1], 22) && Near(v[2].p[2], 30));
    EXPECT_TRUE(Near(v[4].p[0], 10) && Near(v[4].p[1], 20) && Near(v[4].p[2], 32));
    EXPECT_TRUE(Near(v[4].uv[0], 0.5f) && Near(v[4].uv[1], 0.25f));
    // The triangle's corners all carry the second normal; the quad's the first.
    for (int k = 0; k < 3; ++k) {
        const Vert& t = v[idx[k]];
        EXPECT_TRUE(Near(t.n[0], 0) && Near(t.n[1], -1) && Near(t.n[2], 0)) << k;
    }
    for (int k = 3; k < 9; ++k) {
        const Vert& q = v[idx[k]];
        EXPECT_TRUE(Near(q.n[0], 0) && Near(q.n[1], 0) && Near(q.n[2], -1)) << k;
    }
    // The quad 0,3,2,1 as a fan: (0,3,2), (0,2,1).
    EXPECT_TRUE(Near(v[idx[3]].p[0], 10) && Near(v[idx[3]].p[1], 20));
    EXPECT_TRUE(Near(v[idx[4]].p[0], 10) && Near(v[idx[4]].p[1], 22));
    EXPECT_TRUE(Near(v[idx[5]].p[0], 12) && Near(v[idx[5]].p[1], 22));
    EXPECT_TRUE(Near(v[idx[8]].p[0], 12) && Near(v[idx[8]].p[1], 20));
    // Copies keep position and texture coordinates.
    EXPECT_TRUE(Near(v[idx[1]].p[0], 12) && Near(v[idx[1]].uv[0], 1));

    ASSERT_EQ(l.count, 2u);
    ASSERT_NE(l.materials, nullptr);
    const D3DXMATERIAL* mat = l.Materials();
    EXPECT_EQ(mat[0].MatD3D.Diffuse.g, 1.f);
    EXPECT_EQ(mat[0].MatD3D.Power, 5.f);
    EXPECT_EQ(mat[0].pTextureFilename, nullptr);
    EXPECT_EQ(mat[1].MatD3D.Diffuse.r, 1.f);
    EXPECT_EQ(mat[1].MatD3D.Diffuse.g, 0.f);
    EXPECT_EQ(mat[1].MatD3D.Diffuse.a, 1.f);
    EXPECT_EQ(mat[1].MatD3D.Power, 20.f);
    EXPECT_EQ(mat[1].MatD3D.Specular.r, 0.5f);
    EXPECT_TRUE(Near(mat[1].MatD3D.Emissive.r, 0.1f));
    EXPECT_EQ(mat[1].MatD3D.Ambient.r, 0.f);
    EXPECT_EQ(mat[1].MatD3D.Ambient.g, 0.f);
    ASSERT_NE(mat[1].pTextureFilename, nullptr);
    EXPECT_STREQ(mat[1].pTextureFilename, "tex\\red.png");

    // Adjacency: the quad's two halves meet along 0-2; the triangle meets the quad along 0-1.
    ASSERT_NE(l.adjacency, nullptr);
    ASSERT_EQ(l.adjacency->GetBufferSize(), 9u * sizeof(DWORD));
    const DWORD* adj = (const DWORD*)l.adjacency->GetBufferPointer();
    int links = 0;
    for (int i = 0; i < 9; ++i)
        links += adj[i] != 0xFFFFFFFF;
    EXPECT_EQ(links, 4);  // each link seen from both of its faces
}

TEST_F(XLoad, CraftedTextAndBinaryFilesGiveTheSameMesh)
{
    Loaded text;
    LoadMemory(dev.device, kCrafted, text);
    CheckCrafted(text);
    EXPECT_EQ(text.mesh->GetOptions() & D3DXMESH_32BIT, 0u);
    Loaded bin32, bin64;
    LoadMemory(dev.device, CraftedBinary(false), bin32);
    CheckCrafted(bin32);
    LoadMemory(dev.device, CraftedBinary(true), bin64);
    CheckCrafted(bin64);

    // From a file, and with 32-bit indices when asked.
    std::string path = std::string(VELMORA_BINARY_DIR) + "/xmesh_crafted.x";
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fputs(kCrafted, f);
    fclose(f);
    Loaded fromFile;
    LoadFile(dev.device, path, fromFile, D3DXMESH_VB_SYSTEMMEM | D3DXMESH_32BIT);
    CheckCrafted(fromFile);
    EXPECT_NE(fromFile.mesh->GetOptions() & D3DXMESH_32BIT, 0u);
    IDirect3DVertexBuffer9* vb = nullptr;
    ASSERT_EQ(fromFile.mesh->GetVertexBuffer(&vb), D3D_OK);
    D3DVERTEXBUFFER_DESC desc;
    vb->GetDesc(&desc);
    EXPECT_EQ(desc.Pool, D3DPOOL_SYSTEMMEM);
    vb->Release();
    IDirect3DIndexBuffer9* ib = nullptr;
    ASSERT_EQ(fromFile.mesh->GetIndexBuffer(&ib), D3D_OK);
    D3DINDEXBUFFER_DESC idesc;
    ib->GetDesc(&idesc);
    EXPECT_EQ(idesc.Format, D3DFMT_INDEX32);
    ib->Release();
    remove(path.c_str());
}

TEST_F(XLoad, DefaultsMergingAndMaterialListRules)
{
    // No material list and no normals: one white material, normals from the faces.
    const char plain[] =
        "xof 0303txt 0032\nMesh { 4; 0;0;0;, 0;1;0;, 1;1;0;, 1;0;0;; 1; 4;0,1,2,3;; }\n";
    Loaded l;
    LoadMemory(dev.device, plain, l);
    ASSERT_EQ(l.hr, D3D_OK);
    EXPECT_EQ(l.mesh->GetFVF(), (DWORD)(D3DFVF_XYZ | D3DFVF_NORMAL));
    ASSERT_EQ(l.count, 1u);
    const D3DMATERIAL9& white = l.Materials()[0].MatD3D;
    EXPECT_EQ(white.Diffuse.r, 1.f);
    EXPECT_EQ(white.Diffuse.g, 1.f);
    EXPECT_EQ(white.Diffuse.b, 1.f);
    EXPECT_EQ(white.Diffuse.a, 1.f);
    EXPECT_EQ(l.Materials()[0].pTextureFilename, nullptr);
    for (const Vert& v : Vertices(l.mesh))
        EXPECT_TRUE(Near(v.n[0], 0) && Near(v.n[1], 0) && Near(v.n[2], -1));

    // Three meshes: two materials, none, one: four subsets, each mesh's faces on its own.
    // The first list gives one index for three faces: the last index goes on.
    const char merged[] =
        "xof 0303txt 0032\n"
        "Mesh A { 3; 0;0;0;, 0;1;0;, 1;0;0;; 3; 3;0,1,2;, 3;0,1,2;, 3;0,1,2;;\n"
        "  MeshMaterialList { 2; 1; 1;; Material { 1;0;0;1;; 1; 0;0;0;; 0;0;0;; }"
        "  Material { 0;0;1;1;; 1; 0;0;0;; 0;0;0;; } } }\n"
        "Mesh B { 3; 5;0;0;, 5;1;0;, 6;0;0;; 1; 3;0,1,2;; }\n"
        "Frame F { Mesh C { 3; 9;0;0;, 9;1;0;, 9;0;1;; 1; 3;0,1,2;;\n"
        "  MeshVertexColors { 1; 2; 1.0;0.5;0.0;1.0;;; }\n"
        "  MeshMaterialList { 1; 1; 0;; Material Y { 1;1;0;1;; 1; 0;0;0;; 0;0;0;; } } } }\n";
    Loaded m;
    LoadMemory(dev.device, merged, m);
    ASSERT_EQ(m.hr, D3D_OK);
    EXPECT_EQ(m.count, 4u);
    EXPECT_EQ(m.mesh->GetNumFaces(), 5u);
    EXPECT_EQ(m.mesh->GetNumVertices(), 9u);
    EXPECT_EQ(m.mesh->GetFVF(), (DWORD)(D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE));
    EXPECT_EQ(Attributes(m.mesh), (std::vector<DWORD>{1, 1, 1, 2, 3}));
    EXPECT_EQ(m.Materials()[1].MatD3D.Diffuse.b, 1.f);
    EXPECT_EQ(m.Materials()[2].MatD3D.Diffuse.g, 1.f);  // B's default
    EXPECT_EQ(m.Materials()[3].MatD3D.Diffuse.r, 1.f);
    std::vector<Vert> v = Vertices(m.mesh);
    EXPECT_EQ(v[8].color, 0xFFFF8000u);
    EXPECT_EQ(v[7].color, 0xFFFFFFFFu);
    EXPECT_EQ(v[0].color, 0xFFFFFFFFu);
}

TEST_F(XLoad, IndicesAre16BitUnlessAskedFor32)
{
    std::string big = "xof 0303txt 0032\nMesh {\n70000;\n";
    for (int i = 0; i < 70000; ++i)
        big += std::to_string(i % 7) + ";" + std::to_string(i / 7 % 11) + ";0;" + (i + 1 < 70000 ? ",\n" : ";\n");
    big += "1;\n3;69999,1,2;;\n}\n";
    Loaded small;
    LoadMemory(dev.device, big, small);
    EXPECT_LT(small.hr, 0);
    EXPECT_EQ(small.mesh, nullptr);
    Loaded wide;
    LoadMemory(dev.device, big, wide, D3DXMESH_MANAGED | D3DXMESH_32BIT);
    ASSERT_EQ(wide.hr, D3D_OK);
    EXPECT_EQ(wide.mesh->GetNumVertices(), 70000u);
    EXPECT_EQ(Indices(wide.mesh)[0], 69999u);
}

TEST_F(XLoad, BrokenFilesFailWithoutHarm)
{
    auto fails = [&](const std::string& bytes, const char* what) {
        Loaded l;
        LoadMemory(dev.device, bytes, l);
        EXPECT_LT(l.hr, 0) << what;
        EXPECT_EQ(l.mesh, nullptr) << what;
    };
    fails("", "empty");
    fails("xof 0303txt 003", "short header");
    fails("xof 0303tzip0032\x10\x00\x00\x00", "compressed");
    fails("xof 0303txt 0016Mesh{}", "float size");
    fails("xof 0303txt 0032\n", "no mesh");
    fails("xof 0303txt 0032\nMesh { 3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,3;; }", "vertex index out of range");
    fails("xof 0303txt 0032\nMesh { 3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,2;; MeshMaterialList { 1; 1; 1;; "
          "Material { 1;1;1;1;; 1; 0;0;0;; 0;0;0;; } } }",
          "material index out of range");
    fails("xof 0303txt 0032\nMesh { 3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,2;; MeshMaterialList { 1; 1; 0;; { Nowhere } } }",
          "unknown material");
    fails("xof 0303txt 0032\nMesh { 4000000000; 0;0;0;; 1; 3;0,0,0;; }", "huge count");
    fails("xof 0303txt 0032\nMesh { 3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,2;; MeshMaterialList { 4000000000; 0;; } }",
          "huge material count");
    fails("xof 0303txt 0032\nMesh { 3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,2;;", "unclosed");
    fails("xof 0303txt 0032\nMesh { \"open string", "unclosed string");
    std::string deep = "xof 0303txt 0032\n";
    for (int i = 0; i < 100000; ++i)
        deep += "Frame {";
    fails(deep, "deep nesting");
    BinaryWriter huge;
    huge.Name("Mesh").Open().Word(6).Dword(0xFFFFFFFF).Dword(3);
    fails(huge.Bytes(), "binary list longer than the file");
    BinaryWriter token;
    token.Name("Mesh").Open().Word(99);
    fails(token.Bytes(), "unknown binary token");

    Loaded missing;
    LoadFile(dev.device, std::string(VELMORA_BINARY_DIR) + "/no_such_mesh.x", missing);
    EXPECT_LT(missing.hr, 0);
    EXPECT_EQ(missing.mesh, nullptr);
    ID3DXMesh* mesh = nullptr;
    EXPECT_LT(D3DXLoadMeshFromXA(nullptr, 0, dev.device, nullptr, nullptr, nullptr, nullptr, &mesh), 0);
    EXPECT_LT(D3DXLoadMeshFromXA("x.x", 0, nullptr, nullptr, nullptr, nullptr, nullptr, &mesh), 0);
}

// Every prefix of a file, and the file with each byte spoilt, loads or fails
// cleanly (the sanitizer build checks the reads).
TEST_F(XLoad, TruncatedAndSpoiltFilesNeverReadOutside)
{
    std::vector<std::string> files = {kCrafted, CraftedBinary(false), CraftedBinary(true)};
    std::string cube = ReadFile(RealFile("test_cube_binary.x"));
    if (!cube.empty())
        files.push_back(cube);
    for (const std::string& file : files) {
        // Cut before the last closing brace, braces are unbalanced.
        const size_t lastBrace = file.find_last_of(file[8] == 't' ? '}' : '\x0b');
        for (size_t n = 0; n < file.size(); ++n) {
            Loaded l;
            LoadMemory(dev.device, file.substr(0, n), l);
            if (n <= lastBrace) {
                EXPECT_LT(l.hr, 0) << n;
            }
            EXPECT_EQ(l.hr < 0, l.mesh == nullptr) << n;
        }
        for (size_t i = 16; i < file.size(); ++i)
            for (unsigned char value : {0x00, 0x07, 0xFF}) {
                std::string spoilt = file;
                spoilt[i] = (char)value;
                Loaded l;
                LoadMemory(dev.device, spoilt, l);
                if (SUCCEEDED(l.hr)) {
                    EXPECT_GT(l.mesh->GetNumFaces(), 0u);
                }
            }
    }
}

TEST_F(XLoad, RealFilesLoad)
{
    std::string text = RealFile("test_cube_text.x"), binary = RealFile("test_cube_binary.x");
    if (ReadFile(text).empty() || ReadFile(binary).empty())
        GTEST_SKIP() << "real .x files not present";
    Loaded t, b;
    LoadFile(dev.device, text, t);
    LoadFile(dev.device, binary, b);
    ASSERT_EQ(t.hr, D3D_OK);
    ASSERT_EQ(b.hr, D3D_OK);
    EXPECT_EQ(t.mesh->GetNumFaces(), 12u);
    EXPECT_EQ(t.mesh->GetNumVertices(), 24u);
    EXPECT_EQ(t.mesh->GetFVF(), b.mesh->GetFVF());
    EXPECT_EQ(t.mesh->GetFVF(), (DWORD)(D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1));
    EXPECT_EQ(b.mesh->GetNumFaces(), 12u);
    EXPECT_EQ(b.mesh->GetNumVertices(), 24u);
    EXPECT_EQ(Indices(t.mesh), Indices(b.mesh));
    EXPECT_EQ(Attributes(t.mesh), Attributes(b.mesh));
    std::vector<Vert> tv = Vertices(t.mesh), bv = Vertices(b.mesh);
    ASSERT_EQ(tv.size(), bv.size());
    for (size_t i = 0; i < tv.size(); ++i)
        for (int k = 0; k < 3; ++k) {
            EXPECT_TRUE(Near(tv[i].p[k], bv[i].p[k])) << i;
            EXPECT_TRUE(Near(tv[i].n[k], bv[i].n[k])) << i;
        }
    ASSERT_EQ(t.count, 1u);
    ASSERT_EQ(b.count, 1u);
    const D3DMATERIAL9 &tm = t.Materials()[0].MatD3D, &bm = b.Materials()[0].MatD3D;
    EXPECT_TRUE(Near(tm.Diffuse.r, 0.639216f));
    EXPECT_TRUE(Near(tm.Power, 96.07843f, 1e-4f));
    EXPECT_TRUE(Near(tm.Specular.g, 0.498039f));
    // The text gives six decimals, the binary file the float itself.
    const float* tf = &tm.Diffuse.r;
    const float* bf = &bm.Diffuse.r;
    for (size_t k = 0; k < sizeof tm / sizeof(float); ++k)
        EXPECT_TRUE(Near(tf[k], bf[k], 1e-5f * (1.f + fabsf(tf[k])))) << k;
    // The root frame swaps y and z: the cube stays the cube from -1 to 1.
    D3DXVECTOR3 lo, hi;
    D3DXComputeBoundingBox((const D3DXVECTOR3*)tv.data(), (DWORD)tv.size(), sizeof(Vert), &lo, &hi);
    EXPECT_TRUE(Near(lo.x, -1, 1e-5f) && Near(hi.z, 1, 1e-5f));

    Loaded colours;
    LoadFile(dev.device, RealFile("kwxport_test_cubewithvcolors.x"), colours);
    if (colours.hr != E_FAIL) {
        ASSERT_EQ(colours.hr, D3D_OK);
        EXPECT_EQ(colours.count, 3u);
        EXPECT_EQ(colours.mesh->GetFVF(), (DWORD)(D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_TEX1));
        EXPECT_EQ(colours.mesh->GetNumFaces(), 12u);
        DWORD table = 0;
        colours.mesh->GetAttributeTable(nullptr, &table);
        EXPECT_EQ(table, 3u);
        ASSERT_NE(colours.Materials()[1].pTextureFilename, nullptr);
        EXPECT_NE(std::string(colours.Materials()[1].pTextureFilename).find("top.tga"), std::string::npos);
        bool someColour = false;
        for (const Vert& v : Vertices(colours.mesh))
            someColour = someColour || (v.color & 0xFFFFFF) != 0xFFFFFF;
        EXPECT_TRUE(someColour);
    }

    Loaded big;
    LoadFile(dev.device, RealFile("fromtruespace_bin32.x"), big);
    if (big.hr != E_FAIL) {
        ASSERT_EQ(big.hr, D3D_OK);
        EXPECT_GT(big.mesh->GetNumFaces(), 1000u);
        EXPECT_GE(big.count, 1u);
        std::vector<Vert> v = Vertices(big.mesh);
        D3DXVECTOR3 blo, bhi;
        ASSERT_EQ(D3DXComputeBoundingBox((const D3DXVECTOR3*)v.data(), (DWORD)v.size(), sizeof(Vert), &blo, &bhi),
                  D3D_OK);
        EXPECT_TRUE(isfinite(blo.x) && isfinite(bhi.y) && bhi.x > blo.x);
        for (const Vert& x : v)
            ASSERT_TRUE(Near(x.n[0] * x.n[0] + x.n[1] * x.n[1] + x.n[2] * x.n[2], 1.f, 1e-3f));
    }
}

}  // namespace
