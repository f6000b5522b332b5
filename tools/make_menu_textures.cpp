// Writes the ring menu's button images: one 64 x 64 icon with alpha per button
// number, as uncompressed 32-bit TGA files menu0.tga to menu10.tga.
// Usage: make_menu_textures <folder>
#include <cmath>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace
{
const int kSize = 64;
const float kPi = 3.14159265f;

struct Colour
{
    float r, g, b, a;
};

// Coverage of a shape at a point of the 64 x 64 image (centre at 32, 32).
using Shape = std::function<bool(float x, float y)>;

class Icon
{
public:
    Icon() : m_Pixels(kSize * kSize, Colour{0, 0, 0, 0}) {}

    // Paints the shape over what is there, 4 x 4 samples per pixel.
    void Paint(const Shape& shape, Colour c)
    {
        for (int py = 0; py < kSize; ++py) {
            for (int px = 0; px < kSize; ++px) {
                int hits = 0;
                for (int sy = 0; sy < 4; ++sy)
                    for (int sx = 0; sx < 4; ++sx)
                        hits += shape(px + (sx + 0.5f) / 4.0f, py + (sy + 0.5f) / 4.0f);
                if (!hits)
                    continue;
                const float cover = hits / 16.0f * c.a;
                Colour& d = m_Pixels[py * kSize + px];
                const float a = cover + d.a * (1.0f - cover);
                if (a <= 0.0f)
                    continue;
                d.r = (c.r * cover + d.r * d.a * (1.0f - cover)) / a;
                d.g = (c.g * cover + d.g * d.a * (1.0f - cover)) / a;
                d.b = (c.b * cover + d.b * d.a * (1.0f - cover)) / a;
                d.a = a;
            }
        }
    }

    bool Write(const std::string& path) const
    {
        unsigned char header[18] = {};
        header[2] = 2;
        header[12] = kSize;
        header[14] = kSize;
        header[16] = 32;
        header[17] = 0x28;  // 8 alpha bits, top-left origin
        FILE* f = std::fopen(path.c_str(), "wb");
        if (!f)
            return false;
        bool ok = std::fwrite(header, 1, sizeof(header), f) == sizeof(header);
        for (const Colour& c : m_Pixels) {
            const unsigned char bgra[4] = {Byte(c.b), Byte(c.g), Byte(c.r), Byte(c.a)};
            ok = ok && std::fwrite(bgra, 1, 4, f) == 4;
        }
        return std::fclose(f) == 0 && ok;
    }

private:
    static unsigned char Byte(float v)
    {
        v = v < 0.0f ? 0.0f : v > 1.0f ? 1.0f : v;
        return static_cast<unsigned char>(v * 255.0f + 0.5f);
    }
    std::vector<Colour> m_Pixels;
};

Shape Disc(float cx, float cy, float r)
{
    return [=](float x, float y) { return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r; };
}

Shape Ring(float cx, float cy, float r, float width)
{
    return [=](float x, float y) {
        const float d = std::hypot(x - cx, y - cy);
        return d <= r + width * 0.5f && d >= r - width * 0.5f;
    };
}

// A thick segment with round ends.
Shape Segment(float ax, float ay, float bx, float by, float width)
{
    return [=](float x, float y) {
        const float dx = bx - ax, dy = by - ay;
        float t = ((x - ax) * dx + (y - ay) * dy) / (dx * dx + dy * dy);
        t = t < 0.0f ? 0.0f : t > 1.0f ? 1.0f : t;
        return std::hypot(x - (ax + t * dx), y - (ay + t * dy)) <= width * 0.5f;
    };
}

Shape Triangle(float ax, float ay, float bx, float by, float cx, float cy)
{
    return [=](float x, float y) {
        const float d1 = (x - bx) * (ay - by) - (ax - bx) * (y - by);
        const float d2 = (x - cx) * (by - cy) - (bx - cx) * (y - cy);
        const float d3 = (x - ax) * (cy - ay) - (cx - ax) * (y - ay);
        const bool neg = d1 < 0 || d2 < 0 || d3 < 0;
        const bool pos = d1 > 0 || d2 > 0 || d3 > 0;
        return !(neg && pos);
    };
}

Shape Rect(float x0, float y0, float x1, float y1)
{
    return [=](float x, float y) { return x >= x0 && x <= x1 && y >= y0 && y <= y1; };
}

// A shaft from a to b with an arrowhead at b (and at a when both).
void Arrow(Icon& icon, float ax, float ay, float bx, float by, bool both, Colour c)
{
    const float len = std::hypot(bx - ax, by - ay);
    const float ux = (bx - ax) / len, uy = (by - ay) / len;
    const float head = 10.0f, half = 7.0f;
    auto headAt = [&](float px, float py, float dx, float dy) {
        icon.Paint(Triangle(px, py, px - dx * head - dy * half, py - dy * head + dx * half, px - dx * head + dy * half,
                            py - dy * head - dx * half),
                   c);
    };
    icon.Paint(Segment(both ? ax + ux * head * 0.8f : ax, both ? ay + uy * head * 0.8f : ay, bx - ux * head * 0.8f,
                       by - uy * head * 0.8f, 4.5f),
               c);
    headAt(bx, by, ux, uy);
    if (both)
        headAt(ax, ay, -ux, -uy);
}

const Colour kBack{0.08f, 0.10f, 0.22f, 0.85f};
const Colour kEdge{0.55f, 0.75f, 1.0f, 1.0f};
const Colour kInk{1.0f, 1.0f, 1.0f, 1.0f};
const Colour kAccent{1.0f, 0.85f, 0.2f, 1.0f};

Icon Base()
{
    Icon icon;
    icon.Paint(Disc(32, 32, 29), kBack);
    icon.Paint(Ring(32, 32, 29, 2.5f), kEdge);
    return icon;
}

// A small figure: head, body, arms and legs; `limb` 0 to 3 highlights one limb.
void Figure(Icon& icon, int limb, Colour c)
{
    icon.Paint(Disc(32, 17, 5.5f), c);
    icon.Paint(Segment(32, 23, 32, 37, 5), c);
    const float limbs[4][4] = {{32, 26, 21, 33}, {32, 26, 43, 20}, {32, 37, 25, 49}, {32, 37, 39, 49}};
    for (int i = 0; i < 4; ++i)
        icon.Paint(Segment(limbs[i][0], limbs[i][1], limbs[i][2], limbs[i][3], 4), i == limb ? kAccent : c);
}

std::vector<Icon> MakeIcons()
{
    std::vector<Icon> icons;
    // 0 colour: six coloured sectors round a white hub.
    {
        Icon icon = Base();
        const Colour hues[6] = {{1, 0.2f, 0.2f, 1}, {1, 0.8f, 0.1f, 1}, {0.2f, 0.9f, 0.2f, 1},
                                {0.1f, 0.9f, 0.9f, 1}, {0.2f, 0.3f, 1, 1},  {0.9f, 0.2f, 0.9f, 1}};
        for (int i = 0; i < 6; ++i) {
            const float a0 = i * kPi / 3.0f, a1 = (i + 1) * kPi / 3.0f;
            icon.Paint(Triangle(32, 32, 32 + 21 * std::cos(a0), 32 + 21 * std::sin(a0), 32 + 21 * std::cos(a1),
                                32 + 21 * std::sin(a1)),
                       hues[i]);
        }
        icon.Paint(Disc(32, 32, 6), kInk);
        icons.push_back(icon);
    }
    // 1 target: rings and a cross.
    {
        Icon icon = Base();
        icon.Paint(Ring(32, 32, 16, 3), kInk);
        icon.Paint(Ring(32, 32, 8, 3), kInk);
        icon.Paint(Segment(32, 10, 32, 20, 3), kInk);
        icon.Paint(Segment(32, 44, 32, 54, 3), kInk);
        icon.Paint(Segment(10, 32, 20, 32, 3), kInk);
        icon.Paint(Segment(44, 32, 54, 32, 3), kInk);
        icon.Paint(Disc(32, 32, 3), kAccent);
        icons.push_back(icon);
    }
    // 2 sweep along x: a horizontal double arrow with an "x" mark.
    {
        Icon icon = Base();
        Arrow(icon, 11, 36, 53, 36, true, kInk);
        icon.Paint(Segment(27, 15, 37, 25, 3), kAccent);
        icon.Paint(Segment(37, 15, 27, 25, 3), kAccent);
        icons.push_back(icon);
    }
    // 3 up and down: a vertical double arrow.
    {
        Icon icon = Base();
        Arrow(icon, 32, 10, 32, 54, true, kInk);
        icon.Paint(Segment(20, 32, 44, 32, 2), kAccent);
        icons.push_back(icon);
    }
    // 4 back and forth, along z: a double arrow into the depth.
    {
        Icon icon = Base();
        Arrow(icon, 16, 48, 48, 16, true, kInk);
        icon.Paint(Segment(38, 40, 48, 40, 3), kAccent);
        icon.Paint(Segment(48, 40, 38, 50, 3), kAccent);
        icon.Paint(Segment(38, 50, 48, 50, 3), kAccent);
        icons.push_back(icon);
    }
    // 5 circle: a circular arrow.
    {
        Icon icon = Base();
        icon.Paint([](float x, float y) {
            const float d = std::hypot(x - 32, y - 32);
            const float a = std::atan2(y - 32, x - 32);
            return d >= 13.5f && d <= 18.5f && a > -kPi * 0.35f;
        }, kInk);
        const float a = -kPi * 0.35f;
        const float px = 32 + 16 * std::cos(a), py = 32 + 16 * std::sin(a);
        icon.Paint(Triangle(px - 8, py + 2, px + 8, py + 2, px + 1, py - 9), kAccent);
        icons.push_back(icon);
    }
    // 6 position: arrows to the four sides.
    {
        Icon icon = Base();
        Arrow(icon, 32, 32, 32, 10, false, kInk);
        Arrow(icon, 32, 32, 32, 54, false, kInk);
        Arrow(icon, 32, 32, 10, 32, false, kInk);
        Arrow(icon, 32, 32, 54, 32, false, kInk);
        icon.Paint(Disc(32, 32, 4.5f), kAccent);
        icons.push_back(icon);
    }
    // 7 strobe, animation: a lightning bolt.
    {
        Icon icon = Base();
        icon.Paint(Triangle(36, 8, 18, 36, 33, 34), kAccent);
        icon.Paint(Triangle(31, 30, 46, 28, 27, 56), kAccent);
        icons.push_back(icon);
    }
    // 8 pattern: a 3 x 3 chequer.
    {
        Icon icon = Base();
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c)
                icon.Paint(Rect(15.5f + 11.5f * c, 15.5f + 11.5f * r, 25.5f + 11.5f * c, 25.5f + 11.5f * r),
                           (r + c) % 2 ? Colour{0.3f, 0.35f, 0.5f, 1} : kAccent);
        icons.push_back(icon);
    }
    // 9 character: two figures.
    {
        Icon icon = Base();
        Figure(icon, -1, kInk);
        icon.Paint(Disc(47, 24, 4), Colour{0.6f, 0.8f, 1, 1});
        icon.Paint(Segment(47, 29, 47, 40, 4), Colour{0.6f, 0.8f, 1, 1});
        icon.Paint(Segment(47, 40, 44, 48, 3), Colour{0.6f, 0.8f, 1, 1});
        icon.Paint(Segment(47, 40, 50, 48, 3), Colour{0.6f, 0.8f, 1, 1});
        icons.push_back(icon);
    }
    // 10 body part: a figure with one arm picked out.
    {
        Icon icon = Base();
        Figure(icon, 1, kInk);
        icon.Paint(Ring(43, 20, 6, 2), kAccent);
        icons.push_back(icon);
    }
    return icons;
}
}

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
        return 2;
    }
    const std::vector<Icon> icons = MakeIcons();
    for (size_t i = 0; i < icons.size(); ++i) {
        const std::string path = std::string(argv[1]) + "/menu" + std::to_string(i) + ".tga";
        if (!icons[i].Write(path)) {
            std::fprintf(stderr, "%s: write failed\n", path.c_str());
            return 1;
        }
    }
    return 0;
}
