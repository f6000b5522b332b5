// Writes the demo scene's decor and agent meshes as text DirectX .x files:
// a spot lamp, a disco ball, a speaker stack, a DJ booth and the three agents
// (bass drum, medium horn, treble crystal). Closed shapes wound clockwise seen
// from outside, with normals and a material per part (and, where a part is
// painted, a colour per vertex).
// Usage: make_meshes <folder>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace
{
const float kPi = 3.14159265f;

// How far a part reaches into the part it stands on. Faces that meet in one
// plane leave the depth test to choose between them by rounding; sunk in, the
// hidden face lies clear of the one it stood on, and what shows is unchanged.
const float kSeat = 0.5f;

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

struct Material
{
    float r, g, b, a;
    float power;
    float sr, sg, sb;
    float er, eg, eb;
    // The colour its faces' vertices carry. The scene draws its objects
    // through an effect that takes no material per part but multiplies by
    // the vertex colour; white leaves a part as the effect draws it.
    float pr = 1, pg = 1, pb = 1;

    bool IsPainted() const { return pr != 1 || pg != 1 || pb != 1; }
};

// Where a part goes: its local axes and origin in the mesh.
struct Place
{
    Vec x{1, 0, 0}, y{0, 1, 0}, z{0, 0, 1}, origin{0, 0, 0};
    Vec Point(Vec p) const { return origin + x * p.x + y * p.y + z * p.z; }
    Vec Dir(Vec d) const { return Unit(x * d.x + y * d.y + z * d.z); }
};

Place At(Vec origin)
{
    Place p;
    p.origin = origin;
    return p;
}

// The part's y axis along `axis` (unit), origin at `origin`.
Place Along(Vec origin, Vec axis)
{
    Place p;
    p.origin = origin;
    p.y = axis;
    Vec helper = std::fabs(axis.y) < 0.9f ? Vec{0, 1, 0} : Vec{1, 0, 0};
    p.x = Unit(Cross(helper, axis));
    p.z = Cross(p.x, p.y);
    return p;
}

class Mesh
{
public:
    int AddMaterial(const Material& m)
    {
        m_Materials.push_back(m);
        return (int)m_Materials.size() - 1;
    }

    // A flat polygon; wound so that it faces along `normal`.
    void Polygon(std::vector<Vec> pts, Vec normal, int material)
    {
        std::vector<Vec> ns(pts.size(), normal);
        Face(pts, ns, normal, material);
    }

    // A polygon with a normal per corner; `facing` says which side is out.
    void Face(std::vector<Vec> pts, std::vector<Vec> normals, Vec facing, int material)
    {
        Vec c = Cross(pts[1] - pts[0], pts[2] - pts[0]);
        for (size_t k = 3; k < pts.size() && Dot(c, c) < 1e-12f; ++k)
            c = Cross(pts[k - 1] - pts[0], pts[k] - pts[0]);
        if (Dot(c, facing) < 0) {
            std::vector<Vec> rp(pts.rbegin(), pts.rend()), rn(normals.rbegin(), normals.rend());
            pts.swap(rp);
            normals.swap(rn);
        }
        std::vector<int> face;
        for (size_t k = 0; k < pts.size(); ++k) {
            face.push_back((int)m_Positions.size());
            m_Positions.push_back(pts[k]);
            m_Normals.push_back(Unit(normals[k]));
        }
        m_Faces.push_back(face);
        m_FaceMaterial.push_back(material);
    }

    // A box of half sizes (hx, hy, hz) at `place`; one material, or one per
    // side in the order -x, +x, -y, +y, -z, +z when `sides` is given. Side
    // `seat` (same order) may lie `reach` further out, inside the part the box
    // stands on: the four sides next to it then end in a strip of their own,
    // so that their corners stay where they were and shade as before.
    void Box(const Place& place, Vec half, int material, const int* sides = nullptr, int seat = -1,
             float reach = 0)
    {
        const int seatAxis = seat / 2;
        const float seatSign = (seat & 1) ? 1.f : -1.f;
        // A corner in half sizes, moved `out` along the seat's normal.
        auto corner = [&](Vec p, float out) {
            Vec q{p.x * half.x, p.y * half.y, p.z * half.z};
            if (seat >= 0)
                (&q.x)[seatAxis] += seatSign * out;
            return place.Point(q);
        };
        for (int s = 0; s < 6; ++s) {
            int axis = s / 2;
            float sign = (s & 1) ? 1.f : -1.f;
            Vec n{0, 0, 0}, u{0, 0, 0}, v{0, 0, 0};
            (&n.x)[axis] = sign;
            (&u.x)[(axis + 1) % 3] = 1;
            (&v.x)[(axis + 2) % 3] = 1;
            std::vector<Vec> pts, edge;
            const float cu[4] = {-1, 1, 1, -1}, cv[4] = {-1, -1, 1, 1};
            for (int k = 0; k < 4; ++k) {
                Vec p = n + u * cu[k] + v * cv[k];
                pts.push_back(corner(p, s == seat ? reach : 0));
                if (seat >= 0 && axis != seatAxis && (&p.x)[seatAxis] == seatSign)
                    edge.push_back(p);
            }
            int m = sides ? sides[s] : material;
            Polygon(pts, place.Dir(n), m);
            if (edge.size() == 2 && reach > 0)
                Polygon({corner(edge[0], 0), corner(edge[1], 0), corner(edge[1], reach), corner(edge[0], reach)},
                        place.Dir(n), m);
        }
    }

    // A solid of revolution about the place's y axis: `profile` lists (radius,
    // height) from bottom to top; ends at radius 0 are closed by the profile,
    // other ends by flat caps. Each profile step is its own band of `segments`
    // quads, smooth around and sharp between bands. `materials` gives one
    // material per band (the last repeats), then the caps use the first and last.
    void Lathe(const Place& place, const std::vector<std::pair<float, float>>& profile, int segments,
               const std::vector<int>& materials)
    {
        auto ring = [&](float r, float y, int i) {
            float a = 2 * kPi * (float)i / (float)segments;
            return place.Point({r * std::cos(a), y, r * std::sin(a)});
        };
        auto radial = [&](int i) {
            float a = 2 * kPi * ((float)i) / (float)segments;
            return Vec{std::cos(a), 0, std::sin(a)};
        };
        for (size_t b = 0; b + 1 < profile.size(); ++b) {
            int m = materials[b < materials.size() ? b : materials.size() - 1];
            float r0 = profile[b].first, y0 = profile[b].second;
            float r1 = profile[b + 1].first, y1 = profile[b + 1].second;
            // Profile normal in (radial, y): perpendicular to the step, pointing out.
            float nr = y1 - y0, ny = -(r1 - r0);
            for (int i = 0; i < segments; ++i) {
                Vec d0 = radial(i), d1 = radial(i + 1);
                Vec n0 = place.Dir(d0 * nr + Vec{0, ny, 0}), n1 = place.Dir(d1 * nr + Vec{0, ny, 0});
                Vec mid = place.Dir((d0 + d1) * (0.5f * nr) + Vec{0, ny, 0});
                std::vector<Vec> pts, ns;
                pts.push_back(ring(r0, y0, i));
                ns.push_back(n0);
                if (r0 > 0) {
                    pts.push_back(ring(r0, y0, i + 1));
                    ns.push_back(n1);
                }
                pts.push_back(ring(r1, y1, i + 1));
                ns.push_back(n1);
                if (r1 > 0) {
                    pts.push_back(ring(r1, y1, i));
                    ns.push_back(n0);
                }
                if (pts.size() >= 3)
                    Face(pts, ns, mid, m);
            }
        }
        auto cap = [&](float r, float y, Vec n, int m) {
            std::vector<Vec> pts;
            for (int i = 0; i < segments; ++i)
                pts.push_back(ring(r, y, i));
            Polygon(pts, place.Dir(n), m);
        };
        if (profile.front().first > 0)
            cap(profile.front().first, profile.front().second, {0, -1, 0}, materials.front());
        if (profile.back().first > 0)
            cap(profile.back().first, profile.back().second, {0, 1, 0}, materials.back());
    }

    size_t Vertices() const { return m_Positions.size(); }

    // From vertex `first` on, the normals of faces across `up` (the sides)
    // lean to within 6 degrees of `up`; tops and bottoms keep theirs. A side a
    // pixel or two tall, lit by one spot only, shows that spot's colour against
    // the face it stands on and aliases into specks as the view moves; leaning,
    // it shades like that face, and its normal still points out of it.
    void LeanSides(size_t first, Vec up)
    {
        for (size_t i = first; i < m_Normals.size(); ++i)
            if (std::fabs(Dot(m_Normals[i], up)) < 0.9f)
                m_Normals[i] = Unit(m_Normals[i] + up * 10);
    }

    bool Write(const std::string& path, const char* name) const
    {
        FILE* f = std::fopen(path.c_str(), "w");
        if (!f)
            return false;
        std::fprintf(f, "xof 0303txt 0032\n\n");
        std::fprintf(f, "Frame %s {\n FrameTransformMatrix {\n  1.0,0.0,0.0,0.0,0.0,1.0,0.0,0.0,"
                        "0.0,0.0,1.0,0.0,0.0,0.0,0.0,1.0;;\n }\n\n", name);
        std::fprintf(f, " Mesh %sMesh {\n  %zu;\n", name, m_Positions.size());
        for (size_t i = 0; i < m_Positions.size(); ++i)
            std::fprintf(f, "  %.4f;%.4f;%.4f;%s\n", m_Positions[i].x, m_Positions[i].y, m_Positions[i].z,
                         i + 1 < m_Positions.size() ? "," : ";");
        WriteFaces(f);
        std::fprintf(f, "\n  MeshNormals {\n   %zu;\n", m_Normals.size());
        for (size_t i = 0; i < m_Normals.size(); ++i)
            std::fprintf(f, "   %.5f;%.5f;%.5f;%s\n", m_Normals[i].x, m_Normals[i].y, m_Normals[i].z,
                         i + 1 < m_Normals.size() ? "," : ";");
        WriteFaces(f);
        std::fprintf(f, "  }\n");
        WritePaint(f);
        std::fprintf(f, "\n  MeshMaterialList {\n   %zu;\n   %zu;\n", m_Materials.size(), m_Faces.size());
        for (size_t i = 0; i < m_Faces.size(); ++i)
            std::fprintf(f, "   %d%s\n", m_FaceMaterial[i], i + 1 < m_Faces.size() ? "," : ";");
        for (const Material& m : m_Materials)
            std::fprintf(f, "   Material {\n    %.3f;%.3f;%.3f;%.3f;;\n    %.1f;\n    %.3f;%.3f;%.3f;;\n"
                            "    %.3f;%.3f;%.3f;;\n   }\n",
                         m.r, m.g, m.b, m.a, m.power, m.sr, m.sg, m.sb, m.er, m.eg, m.eb);
        std::fprintf(f, "  }\n }\n}\n");
        bool ok = std::ferror(f) == 0;
        ok = std::fclose(f) == 0 && ok;
        return ok;
    }

    size_t Triangles() const
    {
        size_t n = 0;
        for (const auto& face : m_Faces)
            n += face.size() - 2;
        return n;
    }

private:
    // Vertex colours only where a material is painted: a mesh without them
    // keeps its plain vertex format.
    void WritePaint(FILE* f) const
    {
        bool painted = false;
        for (const Material& m : m_Materials)
            painted = painted || m.IsPainted();
        if (!painted)
            return;
        std::vector<const Material*> paint(m_Positions.size(), nullptr);
        for (size_t i = 0; i < m_Faces.size(); ++i)
            for (int v : m_Faces[i])
                paint[(size_t)v] = &m_Materials[(size_t)m_FaceMaterial[i]];
        std::fprintf(f, "\n  MeshVertexColors {\n   %zu;\n", paint.size());
        for (size_t i = 0; i < paint.size(); ++i)
            std::fprintf(f, "   %zu;%.3f;%.3f;%.3f;1.000;;%s\n", i, paint[i]->pr, paint[i]->pg, paint[i]->pb,
                         i + 1 < paint.size() ? "," : ";");
        std::fprintf(f, "  }\n");
    }

    void WriteFaces(FILE* f) const
    {
        std::fprintf(f, "  %zu;\n", m_Faces.size());
        for (size_t i = 0; i < m_Faces.size(); ++i) {
            std::fprintf(f, "  %zu;", m_Faces[i].size());
            for (size_t k = 0; k < m_Faces[i].size(); ++k)
                std::fprintf(f, "%d%s", m_Faces[i][k], k + 1 < m_Faces[i].size() ? "," : ";");
            std::fprintf(f, "%s\n", i + 1 < m_Faces.size() ? "," : ";");
        }
    }

    std::vector<Vec> m_Positions, m_Normals;
    std::vector<std::vector<int>> m_Faces;
    std::vector<int> m_FaceMaterial;
    std::vector<Material> m_Materials;
};

Material Matte(float r, float g, float b) { return {r, g, b, 1, 8, 0.1f, 0.1f, 0.1f, 0, 0, 0}; }
Material Shiny(float r, float g, float b, float power) { return {r, g, b, 1, power, 0.9f, 0.9f, 0.9f, 0, 0, 0}; }
Material Glow(float r, float g, float b) { return {r, g, b, 1, 40, 1, 1, 1, r * 0.8f, g * 0.8f, b * 0.8f}; }
// The material with its own diffuse colour painted on its vertices.
Material Painted(Material m)
{
    m.pr = m.r;
    m.pg = m.g;
    m.pb = m.b;
    return m;
}

// The spot lamp: a can whose lens faces +y, hung in a yoke; the origin is the
// pivot of the yoke, in the middle of the can.
Mesh SpotLamp()
{
    Mesh m;
    int body = m.AddMaterial(Shiny(0.12f, 0.12f, 0.14f, 30));
    int lens = m.AddMaterial(Glow(1.0f, 0.95f, 0.75f));
    int metal = m.AddMaterial(Shiny(0.55f, 0.55f, 0.6f, 60));
    m.Lathe(At({0, 0, 0}),
            {{0, -30}, {10, -30}, {16, -24}, {16, 18}, {19, 22}, {19, 28}, {15, 28}, {15, 29}},
            20, {body, body, body, body, metal, metal, lens});
    // Yoke: two arms beside the can and a bar behind it.
    m.Box(At({-22, -6, 0}), {2.5f, 22, 5}, metal);
    m.Box(At({22, -6, 0}), {2.5f, 22, 5}, metal);
    // The bar stands out past the arms so that no side of it lies in theirs.
    m.Box(At({0, -30, 0}), {24.5f + kSeat, 2.5f, 5 + kSeat}, metal);
    m.Box(At({0, -40, 0}), {4, 8, 4}, body);
    return m;
}

// The disco ball: a faceted sphere of mirror tiles in two tints, on a rod.
Mesh DiscoBall()
{
    Mesh m;
    int silver = m.AddMaterial(Shiny(0.8f, 0.82f, 0.88f, 80));
    int blue = m.AddMaterial(Shiny(0.55f, 0.65f, 0.95f, 80));
    int rod = m.AddMaterial(Matte(0.2f, 0.2f, 0.22f));
    const int rings = 12, segments = 18;
    const float r = 40;
    auto point = [&](int i, int j) {
        float t = kPi * (float)i / rings, p = 2 * kPi * (float)j / segments;
        return Vec{r * std::sin(t) * std::cos(p), r * std::cos(t), r * std::sin(t) * std::sin(p)};
    };
    for (int i = 0; i < rings; ++i)
        for (int j = 0; j < segments; ++j) {
            std::vector<Vec> pts = {point(i, j), point(i, j + 1), point(i + 1, j + 1), point(i + 1, j)};
            if (i == 0)
                pts.erase(pts.begin());
            else if (i == rings - 1)
                pts.pop_back();
            Vec centre{0, 0, 0};
            for (Vec p : pts)
                centre = centre + p;
            m.Polygon(pts, Unit(centre), (i + j) % 3 == 0 ? blue : silver);
        }
    m.Lathe(At({0, 0, 0}), {{0, 36}, {3, 38}, {3, 90}, {0, 90}}, 8, {rod});
    return m;
}

// A speaker stack: two cabinets, each with a woofer and a tweeter on the
// front (facing -z), on a low plinth.
Mesh Speaker()
{
    Mesh m;
    int cabinet = m.AddMaterial(Matte(0.08f, 0.08f, 0.09f));
    int cone = m.AddMaterial(Shiny(0.3f, 0.3f, 0.32f, 20));
    int rim = m.AddMaterial(Shiny(0.7f, 0.7f, 0.72f, 60));
    int cap = m.AddMaterial(Glow(0.2f, 0.5f, 1.0f));
    m.Box(At({0, 6, 0}), {42, 6, 36}, rim);
    for (int c = 0; c < 2; ++c) {
        float base = 12 + c * 92.f;
        const float sink = c == 0 ? kSeat : 0;  // the lower one into the plinth
        m.Box(At({0, base + 45, 0}), {38, 45, 32}, cabinet, nullptr, 2, sink);
        Vec front{0, 0, -1};
        // Woofer: rim ring, cone sinking toward a glowing cap. Both drivers
        // start kSeat inside the cabinet; what shows begins at its front, z = -32.
        const float in = -32 + kSeat, s = kSeat;
        m.Lathe(Along({0, base + 35, in}, front),
                {{24, 0}, {24, s}, {26, 1 + s}, {26, 3 + s}, {22, 4 + s}, {8, 1 + s}, {5, 3 + s}, {0, 3 + s}}, 20,
                {rim, rim, rim, rim, cone, cone, cap});
        m.Lathe(Along({0, base + 75, in}, front), {{9, 0}, {9, s}, {10, 2 + s}, {7, 3 + s}, {0, 4 + s}}, 12,
                {rim, rim, rim, cone});
    }
    return m;
}

// The DJ booth: a desk whose front faces -z, a deck on top with two
// turntables and a mixer between them. All of it is painted: the spots light
// its front to about 2.4 times full scale, and unpainted it would be a flat
// white slab. The desk is dark, its front panel and the deck's edges a
// lighter trim; the deck's top is light grey, so that the parts on it, dark
// records and mixer, grey tone arms, coloured labels and knobs, read from
// close by.
Mesh DjBooth()
{
    Mesh m;
    int body = m.AddMaterial(Painted(Matte(0.12f, 0.12f, 0.14f)));
    int deck = m.AddMaterial(Painted(Shiny(0.5f, 0.5f, 0.52f, 50)));
    int platter = m.AddMaterial(Painted(Matte(0.08f, 0.08f, 0.09f)));
    // From the default view a label or a tone arm is a pixel or two on a dark
    // record: in deep colours they do not flicker against it as the view moves.
    int label = m.AddMaterial(Painted(Glow(0.35f, 0.06f, 0.1f)));
    int arm = m.AddMaterial(Painted(Shiny(0.35f, 0.35f, 0.38f, 50)));
    int knob = m.AddMaterial(Painted(Glow(0.2f, 1.0f, 0.6f)));
    int mixer = m.AddMaterial(Painted(Matte(0.22f, 0.22f, 0.25f)));
    int trim = m.AddMaterial(Painted(Matte(0.24f, 0.24f, 0.26f)));
    // Each part reaches kSeat into the one below or behind it: the desk into
    // the deck, the panel into the desk, the turntables, tone arms and mixer
    // into the deck (its top at 94), the knobs into the mixer (its top at 97).
    const float s = kSeat;
    m.Box(At({0, 45, 0}), {90, 45, 38}, body, nullptr, 3, s);
    const int deckSides[] = {trim, trim, trim, deck, trim, trim};
    m.Box(At({0, 92, 0}), {94, 2, 40}, deck, deckSides);
    const size_t panel = m.Vertices();
    m.Box(At({0, 45, -39}), {70, 30, 1}, trim, nullptr, 5, s);  // panel on the front
    m.LeanSides(panel, {0, 0, -1});
    // The parts on the deck are kept low: from the usual views, what stands
    // above the deck's back edge would be under a pixel tall and flicker.
    const size_t onDeck = m.Vertices();
    for (int side = -1; side <= 1; side += 2) {
        float x = side * 52.f;
        m.Lathe(At({x, 94 - s, 2}), {{26, 0}, {26, s}, {26, 2 + s}, {8, 2 + s}, {8, 3 + s}, {0, 3 + s}}, 24,
                {platter, platter, platter, platter, label});
        // The tone arm lies over the platter: its foot goes deeper, clear of the platter's.
        m.Box(At({x + side * 20.f, 98, -18}), {2, 4, 12}, arm, nullptr, 2, 2 * s);
    }
    m.Box(At({0, 95.5f, 0}), {16, 1.5f, 28}, mixer, nullptr, 2, s);
    for (int k = 0; k < 3; ++k)
        m.Lathe(At({-8.f + 8.f * k, 97 - s, -10}), {{0, 0}, {3, 0}, {3, s}, {3, 5 + s}, {0, 5 + s}}, 8, {knob});
    m.LeanSides(onDeck, {0, 1, 0});
    return m;
}

// Bass: a big drum, its heads facing the camera (-z), the front one with a
// ring in the shell's red. The agents are lit by the point light alone, which
// hardly reaches their fronts: the drum glows, as the horn's bell does, or it
// reads black. They are drawn without the depth test, one material after the
// other, so the materials go from back to front: the back head, its hoop and
// the legs, the shell, the front hoop, the front head.
Mesh BassDrum()
{
    Mesh m;
    int back = m.AddMaterial(Glow(0.95f, 0.93f, 0.85f));
    int backMetal = m.AddMaterial(Glow(0.6f, 0.6f, 0.65f));
    int shell = m.AddMaterial(Glow(0.85f, 0.1f, 0.12f));
    int metal = m.AddMaterial(Glow(0.6f, 0.6f, 0.65f));
    int head = m.AddMaterial(Glow(0.95f, 0.93f, 0.85f));
    m.Lathe(Along({0, 0, 0}, {0, 0, -1}),
            {{0, -26}, {40, -26}, {42, -26}, {42, -22}, {40, -22}, {40, 22}, {42, 22}, {42, 26}, {40, 26}, {27, 26},
             {0, 26}},
            24, {back, backMetal, backMetal, backMetal, shell, metal, metal, metal, shell, head});
    for (int side = -1; side <= 1; side += 2)  // legs
        m.Box(At({side * 28.f, -42, 0}), {3, 8, 3}, backMetal);
    return m;
}

// Medium: a horn, the bell opening toward the camera (-z).
Mesh Horn()
{
    Mesh m;
    int brass = m.AddMaterial(Shiny(0.9f, 0.7f, 0.2f, 50));
    int bell = m.AddMaterial(Glow(0.9f, 0.5f, 0.1f));
    int dark = m.AddMaterial(Matte(0.15f, 0.1f, 0.05f));
    m.Lathe(Along({0, 0, 40}, {0, 0, -1}),
            {{0, 0}, {6, 0}, {7, 10}, {9, 28}, {13, 45}, {20, 58}, {32, 70}, {38, 76}, {34, 77}, {24, 72}, {0, 68}},
            24, {dark, brass, brass, brass, brass, brass, brass, brass, bell, bell});
    return m;
}

// A bipyramid of `sides` sides round `centre`: a band of half height `band`
// and radius `r`, points at `top` and `bottom` (relative heights).
void Bipyramid(Mesh& m, Vec centre, int sides, float r, float band, float top, float bottom, int a, int b)
{
    auto facing = [](Vec p0, Vec p1, Vec p2, Vec out) {
        Vec n = Unit(Cross(p1 - p0, p2 - p0));
        return Dot(n, out) < 0 ? n * -1.f : n;
    };
    for (int i = 0; i < sides; ++i) {
        float a0 = 2 * kPi * i / sides, a1 = 2 * kPi * (i + 1) / sides;
        Vec p0 = centre + Vec{r * std::cos(a0), band, r * std::sin(a0)};
        Vec p1 = centre + Vec{r * std::cos(a1), band, r * std::sin(a1)};
        Vec q0{p0.x, p0.y - 2 * band, p0.z}, q1{p1.x, p1.y - 2 * band, p1.z};
        Vec apex = centre + Vec{0, top, 0}, foot = centre + Vec{0, bottom, 0};
        Vec out = Unit(Vec{std::cos((a0 + a1) / 2), 0, std::sin((a0 + a1) / 2)});
        m.Polygon({p0, p1, apex}, facing(p0, p1, apex, out), i % 2 ? a : b);
        m.Polygon({p0, q0, q1, p1}, out, a);
        m.Polygon({q0, foot, q1}, facing(q0, foot, q1, out), i % 2 ? b : a);
    }
}

// Treble: a crystal cluster, a tall ten-sided bipyramid among smaller ones.
Mesh Crystal()
{
    Mesh m;
    int ice = m.AddMaterial(Shiny(0.4f, 0.9f, 1.0f, 90));
    int white = m.AddMaterial(Glow(0.8f, 0.9f, 1.0f));
    Bipyramid(m, {0, 0, 0}, 10, 20, 10, 50, -42, ice, white);
    for (int k = 0; k < 5; ++k) {
        float a = 2 * kPi * k / 5 + 0.3f;
        float size = 0.6f + 0.15f * (k % 3);
        Bipyramid(m, {30 * std::cos(a), -22, 30 * std::sin(a)}, 6, 8 * size, 4 * size, 26 * size, -12 * size, white,
                  ice);
    }
    return m;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_meshes <folder>\n");
        return 2;
    }
    const std::string folder = argv[1];
    struct Item
    {
        const char* file;
        const char* name;
        Mesh mesh;
    };
    Item items[] = {
        {"spot.x", "SpotLamp", SpotLamp()},       {"discoball.x", "DiscoBall", DiscoBall()},
        {"speaker.x", "Speaker", Speaker()},      {"djbooth.x", "DjBooth", DjBooth()},
        {"agent_bass.x", "BassDrum", BassDrum()}, {"agent_medium.x", "Horn", Horn()},
        {"agent_treble.x", "Crystal", Crystal()},
    };
    for (const Item& item : items) {
        if (!item.mesh.Write(folder + "/" + item.file, item.name)) {
            std::fprintf(stderr, "make_meshes: cannot write %s/%s\n", folder.c_str(), item.file);
            return 1;
        }
    }
    return 0;
}
