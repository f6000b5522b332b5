// The pictures that velmora-player writes with --out: PNG files named by frame.
#ifndef VELMORA_PLAYER_PICTURES_H
#define VELMORA_PLAYER_PICTURES_H

#include "png_picture.h"

#include <stdio.h>

#include <string>

namespace testing_support {

inline std::string FramePath(const std::string& folder, int frame)
{
    char name[32];
    snprintf(name, sizeof(name), "frame_%05d.png", frame);
    return folder + "/" + name;
}

} // namespace testing_support

#endif
