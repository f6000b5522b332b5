#include "frames.h"

#include <velmora_platform.h>

#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

#include <errno.h>
#include <stdio.h>
#include <sys/stat.h>

#include <vector>

bool WriteWindowPicture(HWND window, const std::string& path)
{
    int width = 0, height = 0;
    const DWORD* pixels = VelmoraGetWindowPicture(window, &width, &height);
    if (!pixels || width <= 0 || height <= 0)
        return false;
    std::vector<unsigned char> rgba(static_cast<size_t>(width) * height * 4);
    for (size_t i = 0; i < static_cast<size_t>(width) * height; ++i)
    {
        const DWORD p = pixels[i];
        rgba[i * 4 + 0] = static_cast<unsigned char>(p >> 16);
        rgba[i * 4 + 1] = static_cast<unsigned char>(p >> 8);
        rgba[i * 4 + 2] = static_cast<unsigned char>(p);
        rgba[i * 4 + 3] = 255; // the back buffer's alpha is not part of the picture
    }
    return stbi_write_png(path.c_str(), width, height, 4, rgba.data(), width * 4) != 0;
}

std::string FrameFileName(int frame)
{
    char name[32];
    snprintf(name, sizeof(name), "frame_%05d.png", frame);
    return name;
}

bool MakeFolders(const std::string& path)
{
    if (path.empty())
        return false;
    for (size_t i = 1; i <= path.size(); ++i)
    {
        if (i == path.size() || path[i] == '/')
        {
            std::string part = path.substr(0, i);
            if (mkdir(part.c_str(), 0777) != 0 && errno != EEXIST)
                return false;
        }
    }
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}
