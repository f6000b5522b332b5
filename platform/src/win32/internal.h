// Helpers shared by the parts of the Win32 stand-in.
#ifndef VELMORA_WIN32_INTERNAL_H
#define VELMORA_WIN32_INTERNAL_H

#include <windows.h>

#include <string>

namespace velmora {

// Turns a Windows path into a path of this machine; false for a null path or
// a drive that has no folder.
bool MapPath(const char* windowsPath, std::string& out);

// Present's way to hand a picture over without a second copy: the window's
// picture sized width x height for the caller to fill, counted as presented;
// null when there is no such window.
DWORD* PresentWindowPictureInPlace(HWND hWnd, int width, int height);

} // namespace velmora

#endif
