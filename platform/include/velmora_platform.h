// Controls of the platform layer that only the player and the tests use:
// drive letters, the clock, module identities and the pictures of windows.
// The module itself never includes this header.
#ifndef VELMORA_PLATFORM_H
#define VELMORA_PLATFORM_H

#include <windows.h>

VELMORA_EXTERN_C_BEGIN

// --- Paths -----------------------------------------------------------------
// Maps drive letter `drive` ('A'..'Z', either case) to a folder of this
// machine. Z: is the file-system root unless mapped otherwise. C: defaults to
// $VELMORA_DRIVE_C, else to a fresh folder of the process under the temporary
// folder. Returns FALSE for a letter out of range or a null folder.
VELMORA_API BOOL VelmoraSetDriveRoot(char drive, const char* folder);
// The folder a drive letter maps to ("" when none).
VELMORA_API const char* VelmoraGetDriveRoot(char drive);
// Turns a Windows path ("C:\\x\\y.txt", "..\\a/b") into a path of this machine
// in `out` (size `size`); a path without a drive letter only has its
// backslashes turned into slashes. Returns FALSE when `out` is too small.
VELMORA_API BOOL VelmoraMapPath(const char* windowsPath, char* out, size_t size);
// Turns an absolute path of this machine into Windows form ("Z:\\...", or the
// drive whose folder holds it). Returns FALSE when `out` is too small.
VELMORA_API BOOL VelmoraToWindowsPath(const char* hostPath, char* out, size_t size);

// --- Clock -----------------------------------------------------------------
// By default timeGetTime reads the real monotonic clock. A virtual clock
// makes runs repeatable: it starts at `startMs` and moves only when told.
VELMORA_API void VelmoraUseVirtualClock(DWORD startMs);
VELMORA_API void VelmoraUseRealClock(void);
VELMORA_API void VelmoraAdvanceClock(DWORD ms);
VELMORA_API void VelmoraSetClock(DWORD ms);

// --- Modules ---------------------------------------------------------------
// A module instance for code linked into the calling program: its
// GetModuleFileNameA answer is `windowsFileName` as given. A dlopen handle
// is also a valid module instance; its file name is the library's path in
// Windows form.
VELMORA_API HINSTANCE VelmoraRegisterModule(const char* windowsFileName);

// --- Message boxes ---------------------------------------------------------
// Every MessageBoxA call is counted and its last text and caption kept, so
// that tests can see what the user was shown. Without a display the text
// goes to standard error and the answer is IDOK.
VELMORA_API int VelmoraMessageBoxCount(void);
VELMORA_API const char* VelmoraLastMessageBoxText(void);
VELMORA_API const char* VelmoraLastMessageBoxCaption(void);

// --- Window pictures -------------------------------------------------------
// The picture that Present last handed to a window: 32-bit pixels, 0xAARRGGBB,
// rows top to bottom. Returns NULL when the window has none yet.
VELMORA_API const DWORD* VelmoraGetWindowPicture(HWND hWnd, int* width, int* height);
// Number of pictures presented to the window so far.
VELMORA_API unsigned VelmoraGetWindowPictureSerial(HWND hWnd);
// Called by the device's Present: the window keeps a copy of the pixels.
VELMORA_API BOOL VelmoraSetWindowPicture(HWND hWnd, const DWORD* pixels, int width, int height);

// --- Graphics card -----------------------------------------------------------
// What the software Direct3D 9 stand-in reports and refuses, so that tests can
// play a weaker card. Each setting holds until changed or reset.
// Shader versions in the caps of devices created from now on (default
// D3DVS_VERSION(2,0) and D3DPS_VERSION(2,0)).
VELMORA_API void VelmoraSetDeviceShaderVersions(DWORD vertexShaderVersion, DWORD pixelShaderVersion);
// CreateTexture with D3DUSAGE_RENDERTARGET in this D3DFORMAT fails with
// D3DERR_NOTAVAILABLE (0 = refuse none).
VELMORA_API void VelmoraRefuseRenderTargetFormat(DWORD format);
// CreateVertexBuffer fails with D3DERR_OUTOFVIDEOMEMORY while set.
VELMORA_API void VelmoraRefuseVertexBuffers(BOOL refuse);
// Direct3DCreate9 returns null while set.
VELMORA_API void VelmoraFailDirect3DCreate(BOOL fail);
// IDirect3D9::GetAdapterDisplayMode fails with D3DERR_NOTAVAILABLE while set.
VELMORA_API void VelmoraFailDisplayMode(BOOL fail);
// IDirect3D9::CreateDevice fails with D3DERR_NOTAVAILABLE while set.
VELMORA_API void VelmoraFailCreateDevice(BOOL fail);
// The desktop mode GetAdapterDisplayMode reports (default 1024 x 768, X8R8G8B8).
VELMORA_API void VelmoraSetDesktopSize(UINT width, UINT height);
// Texture memory of devices created from now on, in bytes (default 256 MB).
// Past it CreateTexture fails: D3DERR_OUTOFVIDEOMEMORY in D3DPOOL_DEFAULT,
// E_OUTOFMEMORY in the other pools; a texture let go gives its bytes back.
VELMORA_API void VelmoraSetTextureMemory(UINT bytes);
// Back to a shader 2.0 card that refuses nothing, with the default desktop
// and texture memory.
VELMORA_API void VelmoraResetGraphicsCard(void);
// Reuse of shaded vertices by the effect programs, the waiting of their small draws to run together
// and the shading of their vertices in batches (on by default); off, every vertex runs its program
// alone, in the call that draws it.
VELMORA_API void VelmoraSetVertexCacheAndBatching(BOOL enable);
// Specialised pixel loops for common textured draws (on by default); off, every pixel takes the general path.
VELMORA_API void VelmoraSetFastPixelPaths(BOOL enable);
// Pixel programs shaded in batches of pixels on the general path (on by default, with the specialised
// loops); off, one run a pixel.
VELMORA_API void VelmoraSetPixelBatches(BOOL enable);
// Every piece of the renderer's work goes to its threads, however small the piece or the last frame
// (off by default; for tests of the threads).
VELMORA_API void VelmoraShareAllRenderWork(BOOL enable);
// Devices created from now on draw their queued work at the end of every call that queues any (off by
// default; for tests that compare the queue drawn at once with the queue drawn a frame at a time).
VELMORA_API void VelmoraFlushRenderWorkAfterEachCall(BOOL enable);
// Number of Direct3D objects (the Direct3D object, devices, textures, surfaces,
// buffers) alive in the process: tests use it to find leaks.
VELMORA_API int VelmoraLiveGraphicsObjects(void);

VELMORA_EXTERN_C_END

#endif
