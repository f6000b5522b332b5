// The pictures that velmora-player writes with --out: PNG files named by frame.
#ifndef VELMORA_PLAYER_PICTURES_H
#define VELMORA_PLAYER_PICTURES_H

#include <windows.h>

#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#include <stb/stb_image.h>
#pragma GCC diagnostic pop

#include <stdio.h>

#include <string>
#include <vector>

namespace testing_support {

struct Picture
{
    int width = 0;
    int height = 0;
    std::vector<DWORD> pixels; // 0xAARRGGBB

    DWORD At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

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

inline std::string FramePath(const std::string& folder, int frame)
{
    char name[32];
    snprintf(name, sizeof(name), "frame_%05d.png", frame);
    return folder + "/" + name;
}

} // namespace testing_support

#endif
