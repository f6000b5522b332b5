// PNG files made in tests: any pixel stream, and a large picture (4096 x 4096)
// that packs to a small file.
#ifndef VELMORA_LARGE_PNG_H
#define VELMORA_LARGE_PNG_H

#include <windows.h>

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <utility>
#include <vector>

// From Debian's stb library, which builds its PNG writer's deflate in.
extern "C" unsigned char* stbi_zlib_compress(unsigned char* data, int data_len, int* out_len, int quality);

namespace testing_support {

inline void Put32(std::string& out, uint32_t v)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out += (char)((v >> shift) & 0xFF);
}

inline void Chunk(std::string& out, const char* type, const std::string& body)
{
    Put32(out, (uint32_t)body.size());
    out += type;
    out += body;
    Put32(out, 0);  // the decoder does not check the CRC
}

// An 8-bit RGBA PNG of the given size whose pixel stream is `raw` deflated.
inline std::string Png(int width, int height, std::vector<unsigned char> raw)
{
    std::string out = "\x89PNG\r\n\x1a\n";
    std::string header;
    Put32(header, (uint32_t)width);
    Put32(header, (uint32_t)height);
    header += std::string("\x08\x06\x00\x00\x00", 5);
    Chunk(out, "IHDR", header);
    int length = 0;
    unsigned char* packed = stbi_zlib_compress(raw.data(), (int)raw.size(), &length, 8);
    Chunk(out, "IDAT", std::string((const char*)packed, (size_t)length));
    free(packed);
    Chunk(out, "IEND", "");
    return out;
}

const int kLargeSide = 4096;
// The bytes of a texture of that side with its mip levels, and of its picture.
const size_t kLargeTexture = ((size_t)kLargeSide * kLargeSide * 4 * 4 - 4) / 3;
const size_t kLargePicture = (size_t)kLargeSide * kLargeSide * 4;

// The large picture's texel, as A8R8G8B8.
inline DWORD LargeTexel(int x, int y)
{
    return ((DWORD)(255 - (x & 127)) << 24) | ((DWORD)(x & 255) << 16) | ((DWORD)(y & 255) << 8) |
           (DWORD)(((x >> 4) ^ (y >> 4)) & 255);
}

// Writes the large picture as a PNG (under 1 MB) to `path` once a program;
// returns the path, empty when it could not be written.
inline std::string LargePng(const std::string& path)
{
    static const std::string written = [&path] {
        // Each row filtered by its left neighbours ("sub"), which packs the gradients well.
        std::vector<unsigned char> raw((size_t)kLargeSide * (kLargeSide * 4 + 1));
        unsigned char* p = raw.data();
        for (int y = 0; y < kLargeSide; ++y) {
            *p++ = 1;
            DWORD left = 0;
            for (int x = 0; x < kLargeSide; ++x) {
                const DWORD c = LargeTexel(x, y);
                *p++ = (unsigned char)((c >> 16) - (left >> 16));
                *p++ = (unsigned char)((c >> 8) - (left >> 8));
                *p++ = (unsigned char)(c - left);
                *p++ = (unsigned char)((c >> 24) - (left >> 24));
                left = c;
            }
        }
        const std::string file = Png(kLargeSide, kLargeSide, std::move(raw));
        const std::string name = path + "." + std::to_string(getpid());
        FILE* f = fopen(name.c_str(), "wb");
        if (!f)
            return std::string();
        const bool ok = fwrite(file.data(), 1, file.size(), f) == file.size();
        if (fclose(f) != 0 || !ok || file.size() >= ((size_t)1 << 20) || rename(name.c_str(), path.c_str()) != 0) {
            remove(name.c_str());
            return std::string();
        }
        return path;
    }();
    return written;
}

}  // namespace testing_support

#endif
