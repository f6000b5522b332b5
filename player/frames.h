// Writes the pictures that the module presents to a window as PNG files.
#ifndef VELMORA_PLAYER_FRAMES_H
#define VELMORA_PLAYER_FRAMES_H

#include <windows.h>

#include <string>

// Writes the last picture of `window` to `path`; false when the window has
// no picture yet or the file cannot be written.
bool WriteWindowPicture(HWND window, const std::string& path);

// "frame_00042.png" for frame 42.
std::string FrameFileName(int frame);

// Creates a folder and its missing parents; true when it exists afterwards.
bool MakeFolders(const std::string& path);

#endif
