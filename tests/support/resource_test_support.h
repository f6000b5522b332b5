// Helpers of the resource and drawing tests: the module's log lines since a
// mark, small image files, and the module's device globals bound to a test device.
#ifndef VELMORA_RESOURCE_TEST_SUPPORT_H
#define VELMORA_RESOURCE_TEST_SUPPORT_H

#include "d3d_stuff.h"
#include "d3d_test_device.h"
#include "test_support.h"

#include <stdint.h>

#include <string>
#include <vector>

namespace restest {

// Log lines written after construction, as "[   Texture::  20]\tmessage" or "\tmessage".
class LogWatch
{
public:
    LogWatch() : m_Start(testing_support::ReadLog().size()) {}

    std::vector<std::string> Lines() const
    {
        std::string text = testing_support::ReadLog();
        return testing_support::SplitLines(m_Start < text.size() ? text.substr(m_Start) : std::string());
    }
    // The lines without their location and indent.
    std::vector<std::string> Messages() const
    {
        std::vector<std::string> out;
        for (const std::string& line : Lines())
            out.push_back(Message(line));
        return out;
    }
    static std::string Message(const std::string& line)
    {
        size_t at = 0;
        if (!line.empty() && line[0] == '[')
            at = line.find(']') + 1;
        while (at < line.size() && line[at] == '\t')
            ++at;
        return line.substr(at);
    }
    // How many lines carry exactly this message.
    int Count(const std::string& message) const
    {
        int n = 0;
        for (const std::string& m : Messages())
            n += m == message;
        return n;
    }
    // Whether a line has the location (base name, line number) and the message.
    bool Has(const char* base, int line, const std::string& message) const
    {
        char location[128];
        snprintf(location, sizeof location, "[%16s::%4d]", base, line);
        for (const std::string& l : Lines())
            if (l.compare(0, strlen(location), location) == 0 && Message(l) == message)
                return true;
        return false;
    }

private:
    size_t m_Start;
};

// A 32-bit uncompressed TGA of one colour.
inline bool WriteTga(const std::string& path, int width, int height, uint32_t argb)
{
    std::string data(18, '\0');
    data[2] = 2;
    data[12] = static_cast<char>(width & 0xFF);
    data[13] = static_cast<char>(width >> 8);
    data[14] = static_cast<char>(height & 0xFF);
    data[15] = static_cast<char>(height >> 8);
    data[16] = 32;
    data[17] = 0x28;
    for (int i = 0; i < width * height; ++i)
    {
        data += static_cast<char>(argb & 0xFF);
        data += static_cast<char>((argb >> 8) & 0xFF);
        data += static_cast<char>((argb >> 16) & 0xFF);
        data += static_cast<char>(argb >> 24);
    }
    return testing_support::WriteFile(path, data);
}

// Binds g_pDevice to a test device for the object's life.
struct BoundDevice
{
    explicit BoundDevice(int width = 320, int height = 240) : device(width, height)
    {
        g_pDevice = device.device;
    }
    ~BoundDevice() { g_pDevice = nullptr; }
    d3dtest::Device device;
};

}  // namespace restest

#endif
