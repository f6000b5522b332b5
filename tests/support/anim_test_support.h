// Helpers of the animation tests: a scratch folder, the module's log, and a
// writer of MilkShape 3D files for crafted models.
#ifndef VELMORA_ANIM_TEST_SUPPORT_H
#define VELMORA_ANIM_TEST_SUPPORT_H

#include "Logger.h"

#include <velmora_platform.h>

#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

// Until the platform maps drive letters, the log name would be a plain file
// shared by every test process: the helpers then give each process its own.
#pragma weak VelmoraMapPath

namespace animtest
{
inline const std::string& ScratchDir()
{
    static std::string dir = [] {
        char pattern[] = "/tmp/velmora-anim-XXXXXX";
        const char* made = mkdtemp(pattern);
        if (!made)
            return std::string("/tmp");
        static char made_copy[sizeof(pattern)];
        memcpy(made_copy, made, sizeof(pattern));
        atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(made_copy, ignored);
        });
        return std::string(made);
    }();
    return dir;
}

inline std::string LogPath()
{
    static bool redirected = false;
    if (!VelmoraMapPath && !redirected)
    {
        g_Logger.SetFile((ScratchDir() + "/winamplog.txt").c_str());
        redirected = true;
    }
    if (!VelmoraMapPath)
        return g_Logger.GetFileName();
    char path[1024];
    if (!VelmoraMapPath(g_Logger.GetFileName().c_str(), path, sizeof(path)))
        return g_Logger.GetFileName();
    return path;
}

inline std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Marks the end of the log so far; LogSince gives what came after.
inline size_t LogMark()
{
    return ReadFile(LogPath()).size();
}

// The messages written since the mark, without location and indent.
inline std::vector<std::string> LogSince(size_t mark)
{
    std::string text = ReadFile(LogPath());
    text = mark <= text.size() ? text.substr(mark) : text;
    std::vector<std::string> messages;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line))
    {
        size_t start = 0;
        if (!line.empty() && line[0] == '[')
        {
            size_t close = line.find("]");
            start = close == std::string::npos ? 0 : close + 1;
        }
        while (start < line.size() && line[start] == '\t')
            ++start;
        messages.push_back(line.substr(start));
    }
    return messages;
}

// Raw lines since the mark, location included.
inline std::string LogTextSince(size_t mark)
{
    std::string text = ReadFile(LogPath());
    return mark <= text.size() ? text.substr(mark) : text;
}

inline std::string WriteScratchFile(const std::string& name, const std::string& bytes)
{
    std::string path = ScratchDir() + "/" + name;
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return path;
}

struct TestVertex
{
    float x, y, z;
    int bone;
};

struct TestTriangle
{
    uint16_t v[3];
    float n[3][3];
};

struct TestJoint
{
    std::string name, parent;
    float rotation[3];
    float position[3];
    uint16_t rotationKeys, positionKeys;
};

// Writes the file layout the model loader reads.
struct Ms3dFile
{
    std::vector<TestVertex> vertices;
    std::vector<TestTriangle> triangles;
    std::vector<std::vector<uint16_t>> groups;
    int materials = 0;
    int totalFrames = 30;
    std::vector<TestJoint> joints;
    std::string trailer; // bytes after the joints

    std::string bytes;
    void Raw(const void* p, size_t n) { bytes.append(static_cast<const char*>(p), n); }
    void U8(uint8_t v) { Raw(&v, 1); }
    void U16(uint16_t v) { Raw(&v, 2); }
    void I32(int32_t v) { Raw(&v, 4); }
    void F32(float v) { Raw(&v, 4); }
    void Name(const std::string& s)
    {
        char field[32] = {};
        memcpy(field, s.data(), s.size() < 32 ? s.size() : 32);
        Raw(field, 32);
    }

    std::string Build()
    {
        bytes.clear();
        Raw("MS3D000000", 10);
        I32(4);
        U16(static_cast<uint16_t>(vertices.size()));
        for (const TestVertex& v : vertices)
        {
            U8(0);
            F32(v.x), F32(v.y), F32(v.z);
            U8(static_cast<uint8_t>(static_cast<int8_t>(v.bone)));
            U8(1);
        }
        U16(static_cast<uint16_t>(triangles.size()));
        for (const TestTriangle& t : triangles)
        {
            U16(0);
            for (int k = 0; k < 3; ++k)
                U16(t.v[k]);
            for (int k = 0; k < 3; ++k)
                for (int c = 0; c < 3; ++c)
                    F32(t.n[k][c]);
            for (int k = 0; k < 6; ++k)
                F32(0.0f);
            U8(1);
            U8(0);
        }
        U16(static_cast<uint16_t>(groups.size()));
        for (const auto& g : groups)
        {
            U8(0);
            Name("group");
            U16(static_cast<uint16_t>(g.size()));
            for (uint16_t t : g)
                U16(t);
            U8(0xff);
        }
        U16(static_cast<uint16_t>(materials));
        bytes.append(size_t(materials) * 361, '\0');
        F32(24.0f);
        F32(0.0f);
        I32(totalFrames);
        U16(static_cast<uint16_t>(joints.size()));
        for (const TestJoint& j : joints)
        {
            U8(0);
            Name(j.name);
            Name(j.parent);
            for (int c = 0; c < 3; ++c)
                F32(j.rotation[c]);
            for (int c = 0; c < 3; ++c)
                F32(j.position[c]);
            U16(j.rotationKeys);
            U16(j.positionKeys);
            bytes.append(size_t(j.rotationKeys + j.positionKeys) * 16, '\x01');
        }
        bytes += trailer;
        return bytes;
    }

    std::string Write(const std::string& name) { return WriteScratchFile(name, Build()); }
};

inline TestJoint Joint(const std::string& name, const std::string& parent, float px, float py, float pz,
                       float rx = 0, float ry = 0, float rz = 0)
{
    return TestJoint{name, parent, {rx, ry, rz}, {px, py, pz}, 0, 0};
}

// A tiny rigged limb: root joint at the origin, child "Tip" 10 above it,
// and one triangle per joint; corner normals point along +z.
inline Ms3dFile TwoBoneFile()
{
    Ms3dFile f;
    f.joints = {Joint("Root", "", 0, 0, 0), Joint("Tip", "Root", 0, 10, 0)};
    f.vertices = {{-1, 0, 0, 0}, {1, 0, 0, 0}, {0, 5, 0, 0}, {-1, 10, 0, 1}, {1, 10, 0, 1}, {0, 15, 0, 1}};
    TestTriangle a = {{0, 1, 2}, {{0, 0, 1}, {0, 0, 1}, {0, 0, 1}}};
    TestTriangle b = {{3, 4, 5}, {{0, 0, 1}, {0, 0, 1}, {0, 0, 1}}};
    f.triangles = {a, b};
    f.groups = {{0, 1}};
    return f;
}
} // namespace animtest

#endif
