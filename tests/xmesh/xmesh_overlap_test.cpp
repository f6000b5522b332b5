// The generated models have no two faces that lie in one plane and overlap:
// the depth test could only pick between such faces by rounding, and where
// they show it would draw specks that change as the view moves.
#include "xmesh_support.h"

#include <math.h>

#include <algorithm>
#include <array>

using namespace xtest;

namespace {

struct P3 {
    float x, y, z;
};
P3 Sub(P3 a, P3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
P3 Cross(P3 a, P3 b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
float Dot(P3 a, P3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

typedef std::vector<std::array<P3, 3>> Triangles;

struct P2 {
    float u, v;
};

float Area(const std::vector<P2>& poly)
{
    float twice = 0;
    for (size_t i = 0; i < poly.size(); ++i) {
        const P2 &a = poly[i], &b = poly[(i + 1) % poly.size()];
        twice += a.u * b.v - b.u * a.v;
    }
    return 0.5f * fabsf(twice);
}

// What of `poly` lies within the convex polygon `clip` (either winding).
std::vector<P2> Clip(std::vector<P2> poly, const std::vector<P2>& clip)
{
    float twice = 0;
    for (size_t i = 0; i < clip.size(); ++i)
        twice += clip[i].u * clip[(i + 1) % clip.size()].v - clip[(i + 1) % clip.size()].u * clip[i].v;
    const float sign = twice < 0 ? -1.f : 1.f;
    for (size_t e = 0; e < clip.size() && !poly.empty(); ++e) {
        const P2 a = clip[e], b = clip[(e + 1) % clip.size()];
        auto inside = [&](P2 p) { return sign * ((b.u - a.u) * (p.v - a.v) - (b.v - a.v) * (p.u - a.u)); };
        std::vector<P2> out;
        for (size_t i = 0; i < poly.size(); ++i) {
            const P2 p = poly[i], q = poly[(i + 1) % poly.size()];
            const float sp = inside(p), sq = inside(q);
            if (sp >= 0)
                out.push_back(p);
            if ((sp >= 0) != (sq >= 0)) {
                const float t = sp / (sp - sq);
                out.push_back({p.u + (q.u - p.u) * t, p.v + (q.v - p.v) * t});
            }
        }
        poly.swap(out);
    }
    return poly;
}

// Pairs of triangles in one plane (to `planeSlack` units, either facing) that
// share more than `areaSlack` square units; triangles that only meet along an
// edge share none.
std::vector<std::pair<size_t, size_t>> CoplanarOverlaps(const Triangles& tris, float planeSlack = 1e-3f,
                                                        float areaSlack = 1e-2f)
{
    std::vector<std::pair<size_t, size_t>> found;
    for (size_t i = 0; i < tris.size(); ++i) {
        P3 n = Cross(Sub(tris[i][1], tris[i][0]), Sub(tris[i][2], tris[i][0]));
        const float length = sqrtf(Dot(n, n));
        if (length < 1e-6f)
            continue;
        n = {n.x / length, n.y / length, n.z / length};
        const float d = Dot(n, tris[i][0]);
        // Drop the axis the plane faces most, to work in two dimensions.
        const float ax = fabsf(n.x), ay = fabsf(n.y), az = fabsf(n.z);
        const int drop = ax >= ay && ax >= az ? 0 : (ay >= az ? 1 : 2);
        auto flat = [drop](P3 p) { return drop == 0 ? P2{p.y, p.z} : drop == 1 ? P2{p.z, p.x} : P2{p.x, p.y}; };
        const float scale = 1.f / std::max({ax, ay, az});
        const std::vector<P2> mine = {flat(tris[i][0]), flat(tris[i][1]), flat(tris[i][2])};
        for (size_t j = i + 1; j < tris.size(); ++j) {
            bool inPlane = true;
            for (const P3& p : tris[j])
                inPlane = inPlane && fabsf(Dot(n, p) - d) <= planeSlack;
            if (!inPlane)
                continue;
            const std::vector<P2> shared = Clip({flat(tris[j][0]), flat(tris[j][1]), flat(tris[j][2])}, mine);
            if (shared.size() >= 3 && Area(shared) * scale > areaSlack)
                found.push_back({i, j});
        }
    }
    return found;
}

std::string Describe(const Triangles& tris, const std::vector<std::pair<size_t, size_t>>& found)
{
    size_t same = 0;
    for (const auto& pair : found) {
        const auto &a = tris[pair.first], &b = tris[pair.second];
        same += Dot(Cross(Sub(a[1], a[0]), Sub(a[2], a[0])), Cross(Sub(b[1], b[0]), Sub(b[2], b[0]))) > 0;
    }
    char line[200];
    snprintf(line, sizeof line, " (%zu of them facing the same way)", same);
    std::string text = line;
    for (size_t k = 0; k < found.size() && k < 5; ++k) {
        const P3 &a = tris[found[k].first][0], &b = tris[found[k].second][0];
        snprintf(line, sizeof line, "\n  triangles %zu and %zu, at (%g %g %g) and (%g %g %g)", found[k].first,
                 found[k].second, a.x, a.y, a.z, b.x, b.y, b.z);
        text += line;
    }
    return text;
}

// A box from `lo` to `hi` as twelve triangles.
void AddBox(Triangles& tris, P3 lo, P3 hi)
{
    auto corner = [&](int i) { return P3{i & 1 ? hi.x : lo.x, i & 2 ? hi.y : lo.y, i & 4 ? hi.z : lo.z}; };
    const int faces[6][4] = {{0, 2, 6, 4}, {1, 3, 7, 5}, {0, 1, 5, 4}, {2, 3, 7, 6}, {0, 1, 3, 2}, {4, 5, 7, 6}};
    for (const auto& f : faces) {
        tris.push_back({corner(f[0]), corner(f[1]), corner(f[2])});
        tris.push_back({corner(f[0]), corner(f[2]), corner(f[3])});
    }
}

TEST(CoplanarOverlaps, FindsFacesInOnePlaneThatShareArea)
{
    Triangles one;
    AddBox(one, {0, 0, 0}, {10, 4, 10});
    EXPECT_TRUE(CoplanarOverlaps(one).empty());  // a box's own faces meet along edges only

    Triangles seated = one;  // a small box flush on the big one's top
    AddBox(seated, {2, 4, 2}, {5, 6, 5});
    EXPECT_FALSE(CoplanarOverlaps(seated).empty());

    Triangles sunk = one;  // the same box sunk a little into the big one
    AddBox(sunk, {2, 3.5f, 2}, {5, 6, 5});
    EXPECT_TRUE(CoplanarOverlaps(sunk).empty());

    Triangles flushSide = one;  // same side plane, same facing, sharing a strip
    AddBox(flushSide, {8, 3, 2}, {10, 6, 5});
    EXPECT_FALSE(CoplanarOverlaps(flushSide).empty());

    Triangles apart = one;  // tops in one plane, side by side
    AddBox(apart, {12, 0, 0}, {14, 4, 10});
    EXPECT_TRUE(CoplanarOverlaps(apart).empty());

    Triangles touching = one;  // side against side, facing each other
    AddBox(touching, {10, 1, 1}, {12, 3, 3});
    EXPECT_FALSE(CoplanarOverlaps(touching).empty());

    Triangles lifted = one;  // clear of the top by less than a hair: still one plane
    AddBox(lifted, {2, 4.0005f, 2}, {5, 6, 5});
    EXPECT_FALSE(CoplanarOverlaps(lifted).empty());
}

TEST(CoplanarOverlaps, ClipKeepsWhatTwoTrianglesShare)
{
    const std::vector<P2> big = {{0, 0}, {4, 0}, {0, 4}};
    EXPECT_FLOAT_EQ(Area(Clip({{0, 0}, {1, 0}, {0, 1}}, big)), 0.5f);  // wholly inside
    EXPECT_FLOAT_EQ(Area(Clip({{0, 0}, {0, 1}, {1, 0}}, big)), 0.5f);  // either winding
    EXPECT_NEAR(Area(Clip({{2, 2}, {6, 2}, {2, 6}}, big)), 0.f, 1e-6f);  // corners touch
    EXPECT_FLOAT_EQ(Area(Clip({{-1, 1}, {1, 1}, {-1, 3}}, big)), 0.5f);  // the part that crosses in
    EXPECT_TRUE(Clip({{5, 5}, {6, 5}, {5, 6}}, big).empty());
}

const char* const kMeshFiles[] = {"spot.x",       "discoball.x",    "speaker.x",     "djbooth.x",
                                  "agent_bass.x", "agent_medium.x", "agent_treble.x"};

TEST(CoplanarOverlaps, NoneInTheGeneratedMeshes)
{
    VelmoraResetGraphicsCard();
    d3dtest::Device dev(16, 16);
    ASSERT_NE(dev.device, nullptr);
    for (const char* file : kMeshFiles) {
        Loaded l;
        LoadFile(dev.device, std::string(VELMORA_PLUGIN_DIR) + "/data/objects/" + file, l);
        ASSERT_EQ(l.hr, D3D_OK) << file;
        const std::vector<Vert> v = Vertices(l.mesh);
        const std::vector<DWORD> idx = Indices(l.mesh);
        Triangles tris;
        for (size_t f = 0; f + 2 < idx.size(); f += 3) {
            std::array<P3, 3> t;
            for (int k = 0; k < 3; ++k)
                t[k] = {v[idx[f + k]].p[0], v[idx[f + k]].p[1], v[idx[f + k]].p[2]};
            tris.push_back(t);
        }
        ASSERT_FALSE(tris.empty()) << file;
        const auto found = CoplanarOverlaps(tris);
        EXPECT_TRUE(found.empty()) << file << ": " << found.size() << " pairs" << Describe(tris, found);
    }
}

// The triangles of a MilkShape 3D file as it holds them (the loader moves the
// vertices into their bones' spaces).
Triangles Ms3dTriangles(const std::string& bytes)
{
    Triangles tris;
    size_t at = 14;  // "MS3D000000" and the version
    auto u16 = [&](size_t where) {
        if (where + 2 > bytes.size())
            return 0u;
        return (unsigned)(uint8_t)bytes[where] | (unsigned)(uint8_t)bytes[where + 1] << 8;
    };
    const unsigned vertices = u16(at);
    const size_t vertexAt = at + 2;
    at = vertexAt + 15 * (size_t)vertices;
    const unsigned triangles = u16(at);
    at += 2;
    if (at + 70 * (size_t)triangles > bytes.size())
        return tris;
    for (unsigned t = 0; t < triangles; ++t, at += 70) {
        std::array<P3, 3> tri;
        for (int k = 0; k < 3; ++k) {
            const unsigned v = u16(at + 2 + 2 * k);
            if (v >= vertices)
                return {};
            memcpy(&tri[k], bytes.data() + vertexAt + 15 * (size_t)v + 1, 12);
        }
        tris.push_back(tri);
    }
    return tris;
}

// The dancers in the rest pose.
TEST(CoplanarOverlaps, NoneInTheGeneratedDancers)
{
    for (const char* file : {"dancer_slim.ms3d", "dancer_broad.ms3d"}) {
        const Triangles tris = Ms3dTriangles(ReadFile(std::string(VELMORA_PLUGIN_DIR) + "/data/" + file));
        ASSERT_GT(tris.size(), 100u) << file;
        const auto found = CoplanarOverlaps(tris);
        EXPECT_TRUE(found.empty()) << file << ": " << found.size() << " pairs" << Describe(tris, found);
    }
}

}  // namespace
