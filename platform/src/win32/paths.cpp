// Windows paths on this machine: drive letters map to folders, both slashes
// separate. The C library's file calls are wrapped here so that every file
// the module or its libraries open may be named the Windows way.
#include "win32/internal.h"

#include <velmora_platform.h>

#include <dlfcn.h>
#include <errno.h>
#include <ftw.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <mutex>
#include <new>
#include <string>

namespace {

struct Drives
{
    std::mutex mutex;
    std::string roots[26];
    // Folders this process created, removed at exit even when a drive was mapped elsewhere since.
    std::string made[26];
};

Drives& TheDrives()
{
    static Drives* drives = new Drives;
    return *drives;
}

template <typename T>
T Next(const char* name)
{
    return reinterpret_cast<T>(dlsym(RTLD_NEXT, name));
}

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*)
{
    static auto real = Next<int (*)(const char*)>("remove");
    real(path);
    return 0;
}

void RemoveMadeFolders()
{
    Drives& drives = TheDrives();
    std::lock_guard<std::mutex> lock(drives.mutex);
    for (int i = 0; i < 26; ++i)
        if (!drives.made[i].empty())
            nftw(drives.made[i].c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
}

std::string MakeTemporaryFolder(char letter)
{
    const char* tmp = getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/velmora-drive-" + letter + "-XXXXXX";
    std::string buffer = pattern;
    if (!mkdtemp(&buffer[0]))
        return std::string();
    return buffer;
}

// mkdir -p: true when the folder exists at the end.
bool MakeFolders(const std::string& path)
{
    for (size_t at = path.find('/', 1); at != std::string::npos; at = path.find('/', at + 1))
        mkdir(path.substr(0, at).c_str(), 0755);
    mkdir(path.c_str(), 0755);
    struct stat info;
    if (stat(path.c_str(), &info) != 0)
        return false;
    if (!S_ISDIR(info.st_mode))
    {
        errno = ENOTDIR;
        return false;
    }
    return true;
}

// The folder of a drive, made on first use when none was chosen.
std::string RootOf(char letter)
{
    int index = letter - 'A';
    Drives& drives = TheDrives();
    std::lock_guard<std::mutex> lock(drives.mutex);
    std::string& root = drives.roots[index];
    if (root.empty())
    {
        const char* env = letter == 'C' ? getenv("VELMORA_DRIVE_C") : nullptr;
        if (env && *env)
        {
            // A folder named there but missing is made, so the module's log is not lost.
            if (MakeFolders(env))
                root = env;
            else
            {
                static bool told = false;
                if (!told)
                    fprintf(stderr,
                            "velmora: VELMORA_DRIVE_C names %s, which cannot be created (%s); C: has no folder\n",
                            env, strerror(errno));
                told = true;
            }
        }
        else if (letter == 'Z')
            root = "/";
        else
        {
            root = MakeTemporaryFolder(letter);
            if (!root.empty())
            {
                static bool registered = false;
                if (!registered)
                {
                    atexit(RemoveMadeFolders);
                    registered = true;
                }
                drives.made[index] = root;
            }
        }
    }
    return root;
}

// Windows opens no folder as a file; here reading one would succeed, and its
// size read by seeking to the end is absurd. Refused like Windows does.
FILE* RefuseFolder(FILE* file)
{
    if (!file && errno == EISDIR)
        errno = EACCES;
    struct stat info;
    if (file && fstat(fileno(file), &info) == 0 && S_ISDIR(info.st_mode))
    {
        fclose(file);
        errno = EACCES;
        return nullptr;
    }
    return file;
}

char DriveLetter(const char* path)
{
    if (!path || !path[0] || path[1] != ':')
        return 0;
    char c = path[0];
    if (c >= 'a' && c <= 'z')
        c = static_cast<char>(c - 'a' + 'A');
    return (c >= 'A' && c <= 'Z') ? c : 0;
}

} // namespace

namespace velmora {

bool MapPath(const char* windowsPath, std::string& out)
{
    if (!windowsPath)
        return false;
    out.clear();
    const char* rest = windowsPath;
    if (char letter = DriveLetter(windowsPath))
    {
        out = RootOf(letter);
        if (out.empty())
            return false;
        while (out.size() > 1 && out.back() == '/')
            out.pop_back();
        rest = windowsPath + 2;
        if (*rest != '\\' && *rest != '/')
            out += '/';
        if (out == "/" && (*rest == '\\' || *rest == '/'))
            out.clear();
    }
    for (const char* p = rest; *p; ++p)
        out += (*p == '\\') ? '/' : *p;
    if (out.empty() && DriveLetter(windowsPath))
        out = "/";
    return true;
}

} // namespace velmora

namespace {

// The C library's calls and the C API report out of memory through errno
// and their result, never by throwing through their callers.
bool MapForC(const char* path, std::string& mapped, int missing)
{
    try
    {
        if (velmora::MapPath(path, mapped))
            return true;
        errno = missing;
    }
    catch (const std::bad_alloc&)
    {
        errno = ENOMEM;
    }
    return false;
}

} // namespace

extern "C" {

BOOL VelmoraSetDriveRoot(char drive, const char* folder)
{
    if (drive >= 'a' && drive <= 'z')
        drive = static_cast<char>(drive - 'a' + 'A');
    if (drive < 'A' || drive > 'Z' || !folder || !folder[0])
        return FALSE;
    Drives& drives = TheDrives();
    std::lock_guard<std::mutex> lock(drives.mutex);
    // A folder the caller chose is the caller's to keep; one this process made still goes at exit.
    drives.roots[drive - 'A'] = folder;
    return TRUE;
}

const char* VelmoraGetDriveRoot(char drive)
{
    if (drive >= 'a' && drive <= 'z')
        drive = static_cast<char>(drive - 'a' + 'A');
    if (drive < 'A' || drive > 'Z')
        return "";
    RootOf(drive);
    Drives& drives = TheDrives();
    std::lock_guard<std::mutex> lock(drives.mutex);
    return drives.roots[drive - 'A'].c_str();
}

BOOL VelmoraMapPath(const char* windowsPath, char* out, size_t size)
{
    std::string mapped;
    if (!out || size == 0 || !MapForC(windowsPath, mapped, ENOENT) || mapped.size() >= size)
        return FALSE;
    memcpy(out, mapped.c_str(), mapped.size() + 1);
    return TRUE;
}

BOOL VelmoraToWindowsPath(const char* hostPath, char* out, size_t size)
{
    if (!hostPath || !out || size == 0)
        return FALSE;
    std::string path = hostPath;
    if (path.empty() || path[0] != '/')
    {
        char cwd[PATH_MAX];
        if (!getcwd(cwd, sizeof(cwd)))
            return FALSE;
        path = std::string(cwd) + "/" + path;
    }
    // The drive whose folder holds the path most closely; Z: is the root.
    char bestLetter = 'Z';
    size_t bestLength = 0;
    {
        Drives& drives = TheDrives();
        std::lock_guard<std::mutex> lock(drives.mutex);
        for (int i = 0; i < 26; ++i)
        {
            std::string root = drives.roots[i];
            while (root.size() > 1 && root.back() == '/')
                root.pop_back();
            if (root.empty() || root == "/" || root.size() <= bestLength)
                continue;
            if (path.compare(0, root.size(), root) == 0 && (path.size() == root.size() || path[root.size()] == '/'))
            {
                bestLetter = static_cast<char>('A' + i);
                bestLength = root.size();
            }
        }
    }
    std::string result;
    result += bestLetter;
    result += ':';
    std::string rest = path.substr(bestLength);
    if (rest.empty() || rest[0] != '/')
        rest = "/" + rest;
    for (char c : rest)
        result += (c == '/') ? '\\' : c;
    if (result.size() >= size)
        return FALSE;
    memcpy(out, result.c_str(), result.size() + 1);
    return TRUE;
}

// --- The C library's file calls, taking Windows paths -----------------------

FILE* fopen(const char* path, const char* mode)
{
    static auto real = Next<FILE* (*)(const char*, const char*)>("fopen");
    std::string mapped;
    if (!MapForC(path, mapped, path ? ENOENT : EINVAL))
        return nullptr;
    return RefuseFolder(real(mapped.c_str(), mode));
}

FILE* fopen64(const char* path, const char* mode)
{
    static auto real = Next<FILE* (*)(const char*, const char*)>("fopen64");
    std::string mapped;
    if (!MapForC(path, mapped, path ? ENOENT : EINVAL))
        return nullptr;
    return RefuseFolder(real(mapped.c_str(), mode));
}

FILE* freopen(const char* path, const char* mode, FILE* stream)
{
    static auto real = Next<FILE* (*)(const char*, const char*, FILE*)>("freopen");
    if (!path)
        return real(nullptr, mode, stream);
    std::string mapped;
    if (!MapForC(path, mapped, ENOENT))
        return nullptr;
    return RefuseFolder(real(mapped.c_str(), mode, stream));
}

int remove(const char* path)
{
    static auto real = Next<int (*)(const char*)>("remove");
    std::string mapped;
    if (!MapForC(path, mapped, path ? ENOENT : EINVAL))
        return -1;
    return real(mapped.c_str());
}

} // extern "C"
