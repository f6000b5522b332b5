// The generated scene meshes: they load with their materials, are closed
// and face outward, and are drawn to pictures for a look; the booth's small
// parts shade like what they stand on, and all of it is painted: a dark desk,
// a light deck, dark and coloured parts on it.
#include "xmesh_support.h"

#include <math.h>

#include <algorithm>
#include <map>
#include <tuple>

using namespace xtest;

namespace {

const int kW = 200;
const int kH = 200;

struct Expected {
    const char* file;
    DWORD materials;
    bool painted;  // carries vertex colours
};
const Expected kMeshes[] = {{"spot.x", 3, false},         {"discoball.x", 3, false},    {"speaker.x", 4, false},
                            {"djbooth.x", 8, true},       {"agent_bass.x", 5, false},   {"agent_medium.x", 3, false},
                            {"agent_treble.x", 2, false}};

TEST(XData, GeneratedMeshesLoadClosedAndDraw)
{
    VelmoraResetGraphicsCard();
    d3dtest::Device dev(kW, kH);
    ASSERT_NE(dev.device, nullptr);
    for (const Expected& e : kMeshes) {
        SCOPED_TRACE(e.file);
        Loaded l;
        LoadFile(dev.device, std::string(VELMORA_PLUGIN_DIR) + "/data/objects/" + e.file, l);
        ASSERT_EQ(l.hr, D3D_OK);
        EXPECT_EQ(l.count, e.materials);
        // Unpainted meshes keep the plain format: the objects' effect reads white for them.
        EXPECT_EQ(l.mesh->GetFVF(), (DWORD)(D3DFVF_XYZ | D3DFVF_NORMAL | (e.painted ? D3DFVF_DIFFUSE : 0)));
        EXPECT_GE(l.mesh->GetNumFaces(), 100u);
        EXPECT_LE(l.mesh->GetNumFaces(), 2000u);
        DWORD ranges = 0;
        l.mesh->GetAttributeTable(nullptr, &ranges);
        EXPECT_EQ(ranges, e.materials);  // every material is used

        // Closed: each edge, by position, is crossed once each way. Outward:
        // each face winds clockwise about its own normals.
        std::vector<Vert> v = Vertices(l.mesh);
        std::vector<DWORD> idx = Indices(l.mesh);
        typedef std::tuple<long, long, long> Key;
        auto key = [&](DWORD i) {
            return Key(lroundf(v[i].p[0] * 100), lroundf(v[i].p[1] * 100), lroundf(v[i].p[2] * 100));
        };
        std::map<std::pair<Key, Key>, int> edges;
        int inward = 0;
        for (size_t f = 0; f < idx.size() / 3; ++f) {
            for (int k = 0; k < 3; ++k)
                edges[{key(idx[f * 3 + k]), key(idx[f * 3 + (k + 1) % 3])}]++;
            const Vert &a = v[idx[f * 3]], &b = v[idx[f * 3 + 1]], &c = v[idx[f * 3 + 2]];
            D3DXVECTOR3 e1(b.p[0] - a.p[0], b.p[1] - a.p[1], b.p[2] - a.p[2]);
            D3DXVECTOR3 e2(c.p[0] - a.p[0], c.p[1] - a.p[1], c.p[2] - a.p[2]), cross;
            D3DXVec3Cross(&cross, &e1, &e2);
            D3DXVECTOR3 n(a.n[0] + b.n[0] + c.n[0], a.n[1] + b.n[1] + c.n[1], a.n[2] + b.n[2] + c.n[2]);
            if (D3DXVec3Length(&cross) > 1e-4f && D3DXVec3Dot(&cross, &n) <= 0)
                ++inward;
        }
        EXPECT_EQ(inward, 0);
        int open = 0;
        for (const auto& kv : edges) {
            auto back = edges.find({kv.first.second, kv.first.first});
            if (kv.first.first != kv.first.second && (back == edges.end() || back->second != kv.second))
                ++open;
        }
        EXPECT_EQ(open, 0);

        // A look from the front, above and to the left, lit from behind the camera.
        D3DXVECTOR3 lo, hi;
        D3DXComputeBoundingBox((const D3DXVECTOR3*)v.data(), (DWORD)v.size(), sizeof(Vert), &lo, &hi);
        D3DXVECTOR3 centre = (lo + hi) * 0.5f, extent = hi - lo;
        float radius = D3DXVec3Length(&extent) * 0.5f;
        D3DXVECTOR3 eye = centre + D3DXVECTOR3(-0.8f, 0.6f, -1.6f) * radius * 1.5f, up(0, 1, 0);
        D3DXMATRIX view, proj, world;
        D3DXMatrixLookAtLH(&view, &eye, &centre, &up);
        D3DXMatrixPerspectiveFovLH(&proj, 0.8f, 1.f, radius * 0.1f, radius * 10.f);
        D3DXMatrixIdentity(&world);
        IDirect3DDevice9* d = dev.device;
        d->SetTransform(D3DTS_VIEW, &view);
        d->SetTransform(D3DTS_PROJECTION, &proj);
        d->SetTransform(D3DTS_WORLD, &world);
        D3DLIGHT9 light;
        memset(&light, 0, sizeof light);
        light.Type = D3DLIGHT_DIRECTIONAL;
        light.Diffuse.r = light.Diffuse.g = light.Diffuse.b = 1.f;
        light.Specular = light.Diffuse;
        light.Direction.x = 0.5f;
        light.Direction.y = -0.7f;
        light.Direction.z = 0.8f;
        d->SetLight(0, &light);
        d->LightEnable(0, TRUE);
        d->SetRenderState(D3DRS_LIGHTING, TRUE);
        d->SetRenderState(D3DRS_SPECULARENABLE, TRUE);
        d->SetRenderState(D3DRS_NORMALIZENORMALS, TRUE);
        d->SetRenderState(D3DRS_CULLMODE, D3DCULL_CCW);
        d->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
        d->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF202830, 1.f, 0);
        d->BeginScene();
        for (DWORD i = 0; i < l.count; ++i) {
            d->SetMaterial(&l.Materials()[i].MatD3D);
            EXPECT_EQ(l.mesh->DrawSubset(i), D3D_OK);
        }
        d->EndScene();
        std::vector<DWORD> px = dev.Pixels();
        std::string name = std::string("xmesh_data_") + e.file;
        name.resize(name.size() - 2);
        d3dtest::SavePng(name, px, kW, kH);
        int covered = 0;
        for (DWORD p : px)
            covered += (p & 0xFFFFFF) != 0x202830;
        EXPECT_GT(covered, kW * kH / 10);
    }
}

// The booth as the build wrote it.
void LoadBooth(d3dtest::Device& dev, Loaded& l)
{
    ASSERT_NE(dev.device, nullptr);
    LoadFile(dev.device, std::string(VELMORA_PLUGIN_DIR) + "/data/objects/djbooth.x", l);
    ASSERT_EQ(l.hr, D3D_OK);
}

// The small parts on the booth's deck, and the panel on its front, are a pixel
// or two deep at the demo's distances: lit by one spot from the side, their
// sides would show as coloured specks. Every corner that stands out of the
// deck's top (y 94), or below the deck out of the desk's front (z -38), shades
// like that face.
TEST(XData, BoothPartsShadeLikeWhatTheyStandOn)
{
    VelmoraResetGraphicsCard();
    d3dtest::Device dev(kW, kH);
    Loaded l;
    ASSERT_NO_FATAL_FAILURE(LoadBooth(dev, l));
    int onDeck = 0, onFront = 0, across = 0;
    for (const Vert& v : Vertices(l.mesh)) {
        const float len = sqrtf(v.n[0] * v.n[0] + v.n[1] * v.n[1] + v.n[2] * v.n[2]);
        ASSERT_GT(len, 0.99f);
        if (v.p[1] > 94.01f) {
            ++onDeck;
            across += fabsf(v.n[1]) / len < 0.99f;
        } else if (v.p[1] < 89.99f && v.p[2] < -38.01f) {
            ++onFront;
            across += fabsf(v.n[2]) / len < 0.99f;
        }
    }
    EXPECT_EQ(across, 0);
    EXPECT_GT(onDeck, 100);  // turntables, tone arms, mixer, knobs
    EXPECT_GT(onFront, 8);   // the panel
}

// The scene draws the booth through an effect that multiplies by the vertex
// colour, and its spots light the booth past full scale: every part is
// painted. The desk is dark, the deck's top light, the records on it dark.
TEST(XData, BoothIsPaintedDarkWithALightDeckAndDarkRecords)
{
    VelmoraResetGraphicsCard();
    d3dtest::Device dev(kW, kH);
    Loaded l;
    ASSERT_NO_FATAL_FAILURE(LoadBooth(dev, l));
    ASSERT_TRUE(l.mesh->GetFVF() & D3DFVF_DIFFUSE);
    auto brightest = [](DWORD c) {
        return std::max({(c >> 16) & 0xFFu, (c >> 8) & 0xFFu, c & 0xFFu});
    };
    int white = 0, onDeck = 0, record = 0, whiteAbove = 0, lightRecord = 0, desk = 0, lightDesk = 0, deckTop = 0,
        darkDeckTop = 0;
    for (const Vert& v : Vertices(l.mesh)) {
        const bool isWhite = (v.color & 0xFFFFFF) == 0xFFFFFF;
        white += isWhite;
        // The parts on the deck reach into it, below its top (y 94); what
        // stands above it is theirs.
        if (v.p[1] > 94.01f) {
            ++onDeck;
            whiteAbove += isWhite;
        }
        // The record's top, from the label (radius 8) to the rim (26).
        const float dx = fabsf(v.p[0]) - 52.f, dz = v.p[2] - 2.f, r = sqrtf(dx * dx + dz * dz);
        if (r > 7.5f && r < 26.5f && fabsf(v.p[1] - 96.f) < 0.01f) {
            ++record;
            lightRecord += brightest(v.color) > 0x30;
        }
        // The desk's corners at its sides (x 90), below the deck (y 90).
        if (v.p[1] < 89.99f && fabsf(v.p[0]) > 89.99f && fabsf(v.p[0]) < 90.01f) {
            ++desk;
            lightDesk += brightest(v.color) > 0x30;
        }
        // The deck's top corners (x 94, z 40).
        if (fabsf(v.p[1] - 94.f) < 0.01f && fabsf(fabsf(v.p[0]) - 94.f) < 0.01f && v.n[1] > 0.99f) {
            ++deckTop;
            darkDeckTop += brightest(v.color) < 0x60;
        }
    }
    EXPECT_EQ(white, 0);
    EXPECT_GT(onDeck, 100);
    EXPECT_GT(record, 50);
    EXPECT_EQ(whiteAbove, 0);
    EXPECT_EQ(lightRecord, 0);
    EXPECT_GE(desk, 12);  // the corners of its sides, front, back and bottom
    EXPECT_EQ(lightDesk, 0);
    EXPECT_EQ(deckTop, 4);
    EXPECT_EQ(darkDeckTop, 0);
}

}  // namespace
