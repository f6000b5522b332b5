// Writes the demo dancers as MilkShape 3D binary models: a low-poly closed
// body of tubes, an ellipsoid head and box feet, rigidly bound to a 17-joint
// skeleton in its rest pose (all joint angles zero). Usage: make_dancers <folder>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace
{
struct Vec
{
    float x, y, z;
};
Vec operator+(Vec a, Vec b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
Vec operator-(Vec a, Vec b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
Vec operator*(Vec a, float s) { return {a.x * s, a.y * s, a.z * s}; }
Vec Cross(Vec a, Vec b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
float Dot(Vec a, Vec b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
Vec Unit(Vec a)
{
    float l = std::sqrt(Dot(a, a));
    return l > 0 ? a * (1.0f / l) : a;
}

struct Joint
{
    std::string name;
    int parent;
    Vec position; // in model space
};

struct Vertex
{
    Vec position;
    int bone;
};

struct Triangle
{
    int v[3];
    Vec n[3];
    int group;
};

struct Ring
{
    Vec centre;
    float ru, rv; // half widths across the tube
    int bone;
};

struct Build
{
    const char* file;
    float width;    // scales shoulders, hips and torso across
    float girth;    // scales every radius
    float height;   // scales every height
};

class Mesh
{
public:
    std::vector<Joint> joints;
    std::vector<Vertex> vertices;
    std::vector<Triangle> triangles;
    std::vector<std::string> groups;

    int Bone(const char* name) const
    {
        for (size_t i = 0; i < joints.size(); ++i)
            if (joints[i].name == name)
                return static_cast<int>(i);
        return -1;
    }
    int AddVertex(Vec p, int bone)
    {
        vertices.push_back({p, bone});
        return static_cast<int>(vertices.size()) - 1;
    }
    // Clockwise seen from outside, as Direct3D culls: the winding follows the outward normal.
    void AddTriangle(int a, int b, int c, Vec na, Vec nb, Vec nc, int group)
    {
        Vec g = Cross(vertices[b].position - vertices[a].position, vertices[c].position - vertices[a].position);
        if (Dot(g, na + nb + nc) < 0)
        {
            std::swap(b, c);
            std::swap(nb, nc);
        }
        triangles.push_back({{a, b, c}, {na, nb, nc}, group});
    }

    // A closed tube through the rings, capped at both ends.
    void AddTube(const std::vector<Ring>& rings, int sides, const char* groupName)
    {
        int group = static_cast<int>(groups.size());
        groups.push_back(groupName);
        std::vector<std::vector<int>> index(rings.size());
        std::vector<std::vector<Vec>> normal(rings.size());
        std::vector<Vec> axes(rings.size());
        for (size_t r = 0; r < rings.size(); ++r)
        {
            Vec d = Unit(rings[std::min(r + 1, rings.size() - 1)].centre - rings[r > 0 ? r - 1 : 0].centre);
            axes[r] = d;
            Vec helper = std::fabs(d.z) < 0.9f ? Vec{0, 0, 1} : Vec{1, 0, 0};
            Vec u = Unit(Cross(d, helper));
            Vec v = Unit(Cross(d, u));
            for (int s = 0; s < sides; ++s)
            {
                float a = 2.0f * float(M_PI) * s / sides;
                float c = std::cos(a), sn = std::sin(a);
                Vec p = rings[r].centre + u * (rings[r].ru * c) + v * (rings[r].rv * sn);
                index[r].push_back(AddVertex(p, rings[r].bone));
                normal[r].push_back(Unit(u * (c / rings[r].ru) + v * (sn / rings[r].rv)));
            }
        }
        for (size_t r = 0; r + 1 < rings.size(); ++r)
            for (int s = 0; s < sides; ++s)
            {
                int t = (s + 1) % sides;
                AddTriangle(index[r][s], index[r][t], index[r + 1][t], normal[r][s], normal[r][t], normal[r + 1][t], group);
                AddTriangle(index[r][s], index[r + 1][t], index[r + 1][s], normal[r][s], normal[r + 1][t], normal[r + 1][s], group);
            }
        for (int end = 0; end < 2; ++end)
        {
            size_t r = end ? rings.size() - 1 : 0;
            Vec n = end ? axes[r] : axes[r] * -1.0f;
            int centre = AddVertex(rings[r].centre, rings[r].bone);
            for (int s = 0; s < sides; ++s)
                AddTriangle(centre, index[r][s], index[r][(s + 1) % sides], n, n, n, group);
        }
    }

    void AddBox(Vec lo, Vec hi, int bone, const char* groupName)
    {
        int group = static_cast<int>(groups.size());
        groups.push_back(groupName);
        int v[8];
        for (int i = 0; i < 8; ++i)
            v[i] = AddVertex({i & 1 ? hi.x : lo.x, i & 2 ? hi.y : lo.y, i & 4 ? hi.z : lo.z}, bone);
        // Faces as (corner, two edge bits, outward normal).
        struct Face
        {
            int a, b, c, d;
            Vec n;
        } faces[6] = {{0, 2, 6, 4, {-1, 0, 0}}, {1, 3, 7, 5, {1, 0, 0}}, {0, 1, 5, 4, {0, -1, 0}},
                      {2, 3, 7, 6, {0, 1, 0}},  {0, 1, 3, 2, {0, 0, -1}}, {4, 5, 7, 6, {0, 0, 1}}};
        for (const Face& f : faces)
        {
            AddTriangle(v[f.a], v[f.b], v[f.c], f.n, f.n, f.n, group);
            AddTriangle(v[f.a], v[f.c], v[f.d], f.n, f.n, f.n, group);
        }
    }
};

Mesh MakeDancer(const Build& b)
{
    Mesh m;
    const float w = b.width, g = b.girth, h = b.height;
    auto joint = [&](const char* name, const char* parent, Vec p) {
        m.joints.push_back({name, parent ? m.Bone(parent) : -1, p});
    };
    // Model space: y up, the dancer faces -z, its left side is +x.
    joint("Hips", nullptr, {0, 95 * h, 0});
    joint("Spine", "Hips", {0, 107 * h, 0});
    joint("Chest", "Spine", {0, 125 * h, 0});
    joint("Neck", "Chest", {0, 150 * h, 0});
    joint("Head", "Neck", {0, 158 * h, 0});
    for (int side = 0; side < 2; ++side)
    {
        float sx = side ? -1.0f : 1.0f;
        std::string s = side ? "Right" : "Left";
        joint((s + "Shoulder").c_str(), "Chest", {sx * 17 * w, 144 * h, 0});
        joint((s + "Elbow").c_str(), (s + "Shoulder").c_str(), {sx * (19 * w + 3), 116 * h, 6});
        joint((s + "Wrist").c_str(), (s + "Elbow").c_str(), {sx * (20 * w + 4), 90 * h, 0});
    }
    for (int side = 0; side < 2; ++side)
    {
        float sx = side ? -1.0f : 1.0f;
        std::string s = side ? "Right" : "Left";
        // Knees a little forward: a straight leg gives the solver no axis to turn about.
        joint((s + "Hip").c_str(), "Hips", {sx * 9 * w, 91 * h, 0});
        joint((s + "Knee").c_str(), (s + "Hip").c_str(), {sx * 9 * w, 49 * h, -6});
        joint((s + "Ankle").c_str(), (s + "Knee").c_str(), {sx * 9 * w, 9 * h, 0});
    }

    const int sides = 12;
    auto at = [&](const char* name) { return m.joints[m.Bone(name)].position; };
    auto bone = [&](const char* name) { return m.Bone(name); };
    m.AddTube({{{0, 83 * h, 0}, 13 * w * g, 9 * g, bone("Hips")},
               {{0, 95 * h, 0}, 14.5f * w * g, 10 * g, bone("Hips")},
               {{0, 107 * h, 0}, 12.5f * w * g, 9 * g, bone("Spine")},
               {{0, 117 * h, 0}, 14 * w * g, 9.5f * g, bone("Spine")},
               {{0, 127 * h, 0}, 16.5f * w * g, 10.5f * g, bone("Chest")},
               {{0, 139 * h, 0}, 19 * w * g, 10 * g, bone("Chest")},
               {{0, 147 * h, 0}, 12 * w * g, 7.5f * g, bone("Chest")},
               {{0, 151 * h, 0}, 5 * g, 5 * g, bone("Neck")},
               {{0, 159 * h, 0}, 4.5f * g, 4.5f * g, bone("Neck")}},
              sides, "torso");
    std::vector<Ring> head;
    const float headCentre = 169 * h, headHigh = 12 * h;
    for (int i = 0; i <= 8; ++i)
    {
        float a = float(M_PI) * (0.04f + 0.92f * i / 8.0f);
        head.push_back({{0, headCentre - headHigh * std::cos(a), -0.5f},
                        9 * g * std::sin(a), 10 * g * std::sin(a), bone("Head")});
    }
    m.AddTube(head, sides, "head");
    for (int side = 0; side < 2; ++side)
    {
        std::string s = side ? "Right" : "Left";
        Vec sh = at((s + "Shoulder").c_str()), el = at((s + "Elbow").c_str()), wr = at((s + "Wrist").c_str());
        int bs = bone((s + "Shoulder").c_str()), be = bone((s + "Elbow").c_str()), bw = bone((s + "Wrist").c_str());
        Vec hand = wr + Unit(wr - el) * (16 * h);
        m.AddTube({{sh + Vec{0, 3 * h, 0}, 5 * g, 5 * g, bs},
                   {sh, 5.5f * g, 5.5f * g, bs},
                   {sh + (el - sh) * 0.5f, 4.8f * g, 4.8f * g, bs},
                   {el, 4 * g, 4 * g, be},
                   {el + (wr - el) * 0.5f, 3.8f * g, 3.6f * g, be},
                   {wr, 2.8f * g, 2.6f * g, bw},
                   {wr + (hand - wr) * 0.5f, 3.8f * g, 1.8f * g, bw},
                   {hand, 2 * g, 1.2f * g, bw}},
                  sides, (s + "Arm").c_str());
        Vec hp = at((s + "Hip").c_str()), kn = at((s + "Knee").c_str()), an = at((s + "Ankle").c_str());
        int bh = bone((s + "Hip").c_str()), bk = bone((s + "Knee").c_str()), ba = bone((s + "Ankle").c_str());
        m.AddTube({{hp + Vec{0, 5 * h, 0}, 7 * g, 7 * g, bh},
                   {hp, 7.5f * g, 7.5f * g, bh},
                   {hp + (kn - hp) * 0.5f, 6.5f * g, 6.5f * g, bh},
                   {kn, 5 * g, 5 * g, bk},
                   {kn + (an - kn) * 0.5f, 4.6f * g, 4.6f * g, bk},
                   {an, 3.5f * g, 3.5f * g, ba},
                   {an - Vec{0, 4 * h, 0}, 3.2f * g, 3.2f * g, ba}},
                  sides, (s + "Leg").c_str());
        m.AddBox({an.x - 4 * g, 0, an.z - 17 * h}, {an.x + 4 * g, 6 * h, an.z + 4 * g}, ba, (s + "Foot").c_str());
    }
    return m;
}

class Writer
{
public:
    std::vector<uint8_t> bytes;
    void Raw(const void* p, size_t n)
    {
        const uint8_t* b = static_cast<const uint8_t*>(p);
        bytes.insert(bytes.end(), b, b + n);
    }
    void U8(uint8_t v) { Raw(&v, 1); }
    void U16(uint16_t v) { U8(v & 0xff), U8(v >> 8); }
    void I32(int32_t v)
    {
        for (int i = 0; i < 4; ++i)
            U8(static_cast<uint8_t>(uint32_t(v) >> (8 * i)));
    }
    void F32(float f)
    {
        uint32_t u;
        std::memcpy(&u, &f, 4);
        I32(static_cast<int32_t>(u));
    }
    void Name(const std::string& s)
    {
        char field[32] = {};
        std::strncpy(field, s.c_str(), 31);
        Raw(field, 32);
    }
};

std::vector<uint8_t> WriteMs3d(const Mesh& m)
{
    Writer w;
    w.Raw("MS3D000000", 10);
    w.I32(4);
    std::vector<int> references(m.vertices.size(), 0);
    for (const Triangle& t : m.triangles)
        for (int k = 0; k < 3; ++k)
            ++references[t.v[k]];
    w.U16(static_cast<uint16_t>(m.vertices.size()));
    for (size_t i = 0; i < m.vertices.size(); ++i)
    {
        const Vertex& v = m.vertices[i];
        w.U8(0);
        w.F32(v.position.x), w.F32(v.position.y), w.F32(v.position.z);
        w.U8(static_cast<uint8_t>(static_cast<int8_t>(v.bone)));
        w.U8(static_cast<uint8_t>(std::min(references[i], 255)));
    }
    w.U16(static_cast<uint16_t>(m.triangles.size()));
    for (const Triangle& t : m.triangles)
    {
        w.U16(0);
        for (int k = 0; k < 3; ++k)
            w.U16(static_cast<uint16_t>(t.v[k]));
        for (int k = 0; k < 3; ++k)
            w.F32(t.n[k].x), w.F32(t.n[k].y), w.F32(t.n[k].z);
        for (int k = 0; k < 6; ++k)
            w.F32(0.0f);
        w.U8(1);
        w.U8(static_cast<uint8_t>(t.group));
    }
    w.U16(static_cast<uint16_t>(m.groups.size()));
    for (size_t g = 0; g < m.groups.size(); ++g)
    {
        std::vector<uint16_t> members;
        for (size_t t = 0; t < m.triangles.size(); ++t)
            if (m.triangles[t].group == static_cast<int>(g))
                members.push_back(static_cast<uint16_t>(t));
        w.U8(0);
        w.Name(m.groups[g]);
        w.U16(static_cast<uint16_t>(members.size()));
        for (uint16_t t : members)
            w.U16(t);
        w.U8(0);
    }
    // One plain material: name, ambient, diffuse, specular, emissive, shininess,
    // transparency, mode, texture and alpha map names.
    w.U16(1);
    w.Name("skin");
    const float colours[4][4] = {{0.2f, 0.2f, 0.2f, 1}, {0.8f, 0.8f, 0.8f, 1}, {0, 0, 0, 1}, {0, 0, 0, 1}};
    for (const auto& c : colours)
        for (float f : c)
            w.F32(f);
    w.F32(0.0f);
    w.F32(1.0f);
    w.U8(0);
    char path[128] = {};
    w.Raw(path, 128);
    w.Raw(path, 128);
    w.F32(24.0f);
    w.F32(0.0f);
    w.I32(1);
    w.U16(static_cast<uint16_t>(m.joints.size()));
    for (const Joint& j : m.joints)
    {
        Vec relative = j.parent < 0 ? j.position : j.position - m.joints[j.parent].position;
        w.U8(0);
        w.Name(j.name);
        w.Name(j.parent < 0 ? "" : m.joints[j.parent].name);
        w.F32(0), w.F32(0), w.F32(0);
        w.F32(relative.x), w.F32(relative.y), w.F32(relative.z);
        w.U16(0);
        w.U16(0);
    }
    return w.bytes;
}
} // namespace

int main(int argc, char** argv)
{
    if (argc != 2)
    {
        std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
        return 2;
    }
    const Build builds[] = {{"dancer_slim.ms3d", 0.9f, 0.85f, 1.0f}, {"dancer_broad.ms3d", 1.3f, 1.3f, 0.97f}};
    for (const Build& b : builds)
    {
        Mesh mesh = MakeDancer(b);
        std::vector<uint8_t> bytes = WriteMs3d(mesh);
        std::string path = std::string(argv[1]) + "/" + b.file;
        FILE* f = std::fopen(path.c_str(), "wb");
        if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size())
        {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            if (f)
                std::fclose(f);
            return 1;
        }
        std::fclose(f);
        std::printf("%s: %zu vertices, %zu triangles, %zu joints\n", path.c_str(), mesh.vertices.size(),
                    mesh.triangles.size(), mesh.joints.size());
    }
    return 0;
}
