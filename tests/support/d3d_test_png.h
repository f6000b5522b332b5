// PNG writing for d3d_test_device.h; include in exactly one file of a test program.
#ifndef VELMORA_D3D_TEST_PNG_H
#define VELMORA_D3D_TEST_PNG_H

#include "d3d_test_device.h"

#include <sys/stat.h>

#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wunused-function"
#include <stb/stb_image_write.h>
#pragma GCC diagnostic pop

namespace d3dtest {

bool SavePng(const std::string& name, const std::vector<DWORD>& pixels, int width, int height)
{
    std::string dir = std::string(VELMORA_BINARY_DIR) + "/test-pictures";
    mkdir(dir.c_str(), 0777);
    std::vector<unsigned char> rgba((size_t)width * height * 4);
    for (size_t i = 0; i < pixels.size() && i < (size_t)width * height; ++i) {
        rgba[i * 4 + 0] = (unsigned char)Red(pixels[i]);
        rgba[i * 4 + 1] = (unsigned char)Green(pixels[i]);
        rgba[i * 4 + 2] = (unsigned char)Blue(pixels[i]);
        rgba[i * 4 + 3] = 255;
    }
    return stbi_write_png((dir + "/" + name + ".png").c_str(), width, height, 4, rgba.data(), width * 4) != 0;
}

}  // namespace d3dtest

#endif
