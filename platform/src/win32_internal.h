// Helpers shared by the parts of the Win32 stand-in.
#ifndef VELMORA_WIN32_INTERNAL_H
#define VELMORA_WIN32_INTERNAL_H

#include <string>

namespace velmora {

// Turns a Windows path into a path of this machine; false for a null path or
// a drive that has no folder.
bool MapPath(const char* windowsPath, std::string& out);

} // namespace velmora

#endif
