// Reading a PNG file into 0xAARRGGBB pixels; include in exactly one file of a test program.
#ifndef VELMORA_PNG_PICTURE_H
#define VELMORA_PNG_PICTURE_H

#include <windows.h>

#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#include <stb/stb_image.h>
#pragma GCC diagnostic pop

#include <string>
#include <vector>

namespace testing_support {

struct Picture
{
    int width = 0;
    int height = 0;
    std::vector<DWORD> pixels; // 0xAARRGGBB, rows top to bottom

    DWORD At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

// An empty picture when the file cannot be read.
inline Picture ReadPng(const std::string& path)
{
    Picture picture;
    int channels = 0;
    unsigned char* data = stbi_load(path.c_str(), &picture.width, &picture.height, &channels, 4);
    if (!data)
        return picture;
    picture.pixels.resize(static_cast<size_t>(picture.width) * picture.height);
    for (size_t i = 0; i < picture.pixels.size(); ++i)
    {
        const unsigned char* p = data + i * 4;
        picture.pixels[i] = (DWORD(p[3]) << 24) | (DWORD(p[0]) << 16) | (DWORD(p[1]) << 8) | p[2];
    }
    stbi_image_free(data);
    return picture;
}

} // namespace testing_support

#endif
