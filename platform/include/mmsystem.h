// Multimedia timer of the Velmora platform layer.
#ifndef VELMORA_MMSYSTEM_H
#define VELMORA_MMSYSTEM_H

#include <windows.h>

VELMORA_EXTERN_C_BEGIN
// Milliseconds of the platform clock; the player may drive it (see velmora_platform.h).
VELMORA_API DWORD WINAPI timeGetTime(void);
VELMORA_EXTERN_C_END

#endif
