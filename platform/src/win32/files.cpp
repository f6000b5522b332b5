// Module file names, profile (INI) files and file deletion.
#include "win32/internal.h"

#include <velmora_platform.h>
#include <windows.h>

#include <dlfcn.h>
#include <errno.h>
#include <limits.h>
#include <link.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <unistd.h>

#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>

namespace {

thread_local DWORD t_LastError = 0;

DWORD ErrorFromErrno(int error)
{
    switch (error)
    {
    case ENOENT:
        return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
        return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
        return ERROR_ACCESS_DENIED;
    case ENAMETOOLONG:
        return ERROR_FILENAME_EXCED_RANGE;
    default:
        return ERROR_ACCESS_DENIED;
    }
}

// --- Module identities -------------------------------------------------------

struct Modules
{
    std::mutex mutex;
    std::map<std::string, std::unique_ptr<std::string>> byName; // the string's address is the instance
};

Modules& TheModules()
{
    static Modules* modules = new Modules;
    return *modules;
}

bool RegisteredName(HMODULE module, std::string& name)
{
    Modules& modules = TheModules();
    std::lock_guard<std::mutex> lock(modules.mutex);
    for (const auto& entry : modules.byName)
    {
        if (reinterpret_cast<HMODULE>(entry.second.get()) == module)
        {
            name = entry.first;
            return true;
        }
    }
    return false;
}

bool ExecutablePath(std::string& path)
{
    char buffer[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
    if (n <= 0)
        return false;
    buffer[n] = '\0';
    path = buffer;
    return true;
}

// The file of a loaded library, from its dlopen handle or an address inside it.
bool LibraryPath(HMODULE module, std::string& path)
{
    void* self = dlopen(nullptr, RTLD_NOW);
    struct link_map* map = nullptr;
    bool found = false;
    if (self && dlinfo(self, RTLD_DI_LINKMAP, &map) == 0 && map)
    {
        while (map->l_prev)
            map = map->l_prev;
        for (; map; map = map->l_next)
        {
            if (reinterpret_cast<void*>(map) == reinterpret_cast<void*>(module))
            {
                found = true;
                if (map->l_name && map->l_name[0])
                    path = map->l_name;
                else
                    found = ExecutablePath(path);
                break;
            }
        }
    }
    if (self)
        dlclose(self);
    if (found)
        return true;
    Dl_info info;
    if (dladdr(reinterpret_cast<void*>(module), &info) && info.dli_fname && info.dli_fname[0])
    {
        path = info.dli_fname;
        return true;
    }
    return false;
}

// --- Profile files -----------------------------------------------------------

std::string Trim(const std::string& text)
{
    size_t begin = text.find_first_not_of(" \t");
    if (begin == std::string::npos)
        return std::string();
    size_t end = text.find_last_not_of(" \t");
    return text.substr(begin, end - begin + 1);
}

struct Profile
{
    std::vector<std::string> lines;
    bool outOfMemory = false;  // the file is there but did not fit in memory

    bool Load(const char* fileName)
    {
        lines.clear();
        outOfMemory = false;
        std::string path;
        if (!velmora::MapPath(fileName, path))
            return false;
        std::unique_ptr<FILE, int (*)(FILE*)> file(fopen(path.c_str(), "rb"), fclose);
        if (!file)
        {
            outOfMemory = errno == ENOMEM;
            return false;
        }
        try
        {
            std::string line;
            int c;
            while ((c = fgetc(file.get())) != EOF)
            {
                if (c == '\n')
                {
                    if (!line.empty() && line.back() == '\r')
                        line.pop_back();
                    lines.push_back(line);
                    line.clear();
                }
                else
                    line += static_cast<char>(c);
            }
            if (!line.empty())
                lines.push_back(line);
        }
        catch (const std::bad_alloc&)
        {
            std::vector<std::string>().swap(lines);
            outOfMemory = true;
            return false;
        }
        return true;
    }

    bool Save(const char* fileName) const
    {
        std::string path;
        if (!velmora::MapPath(fileName, path))
            return false;
        FILE* file = fopen(path.c_str(), "wb");
        if (!file)
        {
            SetLastError(ErrorFromErrno(errno));
            return false;
        }
        bool ok = true;
        for (const std::string& line : lines)
            ok = fputs(line.c_str(), file) >= 0 && fputs("\r\n", file) >= 0 && ok;
        ok = fclose(file) == 0 && ok;
        return ok;
    }

    static bool SectionName(const std::string& line, std::string& name)
    {
        std::string trimmed = Trim(line);
        if (trimmed.size() < 2 || trimmed[0] != '[')
            return false;
        size_t close = trimmed.find(']');
        if (close == std::string::npos)
            return false;
        name = Trim(trimmed.substr(1, close - 1));
        return true;
    }

    static bool KeyValue(const std::string& line, std::string& key, std::string& value)
    {
        std::string trimmed = Trim(line);
        if (trimmed.empty() || trimmed[0] == ';')
            return false;
        size_t equals = trimmed.find('=');
        if (equals == std::string::npos)
            return false;
        key = Trim(trimmed.substr(0, equals));
        value = Trim(trimmed.substr(equals + 1));
        return true;
    }

    // Line index of the section header, or -1; `end` is one past its last line.
    int FindSection(const char* section, size_t& end) const
    {
        std::string name;
        for (size_t i = 0; i < lines.size(); ++i)
        {
            if (SectionName(lines[i], name) && strcasecmp(name.c_str(), section) == 0)
            {
                end = i + 1;
                while (end < lines.size() && !SectionName(lines[end], name))
                    ++end;
                return static_cast<int>(i);
            }
        }
        end = lines.size();
        return -1;
    }

    int FindKey(size_t begin, size_t end, const char* key, std::string* value) const
    {
        std::string k, v;
        for (size_t i = begin; i < end; ++i)
        {
            if (KeyValue(lines[i], k, v) && strcasecmp(k.c_str(), key) == 0)
            {
                if (value)
                    *value = v;
                return static_cast<int>(i);
            }
        }
        return -1;
    }
};

// Copies a list of names, each terminated, the whole closed by a second terminator.
DWORD CopyList(const std::vector<std::string>& names, LPSTR out, DWORD size)
{
    if (size < 2)
    {
        if (size == 1)
            out[0] = '\0';
        return 0;
    }
    DWORD used = 0;
    for (const std::string& name : names)
    {
        for (char c : name)
        {
            if (used + 2 >= size)
            {
                out[used] = '\0';
                out[used + 1] = '\0';
                return size - 2;
            }
            out[used++] = c;
        }
        if (used + 2 >= size)
        {
            out[used] = '\0';
            out[used + 1] = '\0';
            return size - 2;
        }
        out[used++] = '\0';
    }
    out[used] = '\0';
    return used;
}

DWORD CopyText(const std::string& text, LPSTR out, DWORD size)
{
    size_t n = text.size() < size ? text.size() : size - 1;
    memcpy(out, text.data(), n);
    out[n] = '\0';
    return static_cast<DWORD>(n);
}

} // namespace

extern "C" {

DWORD WINAPI GetLastError(void)
{
    return t_LastError;
}

void WINAPI SetLastError(DWORD dwErrCode)
{
    t_LastError = dwErrCode;
}

HINSTANCE VelmoraRegisterModule(const char* windowsFileName)
{
    if (!windowsFileName)
        return nullptr;
    Modules& modules = TheModules();
    std::lock_guard<std::mutex> lock(modules.mutex);
    std::unique_ptr<std::string>& slot = modules.byName[windowsFileName];
    if (!slot)
        slot.reset(new std::string(windowsFileName));
    return reinterpret_cast<HINSTANCE>(slot.get());
}

DWORD WINAPI GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize)
{
    std::string name;
    if (!RegisteredName(hModule, name))
    {
        std::string hostPath;
        bool ok = hModule ? LibraryPath(hModule, hostPath) : ExecutablePath(hostPath);
        if (!ok)
        {
            SetLastError(ERROR_MOD_NOT_FOUND);
            return 0;
        }
        char resolved[PATH_MAX];
        if (realpath(hostPath.c_str(), resolved))
            hostPath = resolved;
        std::vector<char> windowsPath(hostPath.size() + 8);
        if (!VelmoraToWindowsPath(hostPath.c_str(), windowsPath.data(), windowsPath.size()))
        {
            SetLastError(ERROR_MOD_NOT_FOUND);
            return 0;
        }
        name = windowsPath.data();
    }
    if (!lpFilename || nSize == 0)
    {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if (name.size() < nSize)
    {
        memcpy(lpFilename, name.c_str(), name.size() + 1);
        SetLastError(ERROR_SUCCESS);
        return static_cast<DWORD>(name.size());
    }
    // Too long: cut to the buffer, terminated, and the buffer size returned.
    memcpy(lpFilename, name.data(), nSize - 1);
    lpFilename[nSize - 1] = '\0';
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return nSize;
}

namespace
{

DWORD ProfileString(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpDefault, LPSTR lpReturnedString, DWORD nSize,
                    LPCSTR lpFileName)
{
    Profile profile;
    bool loaded = lpFileName && profile.Load(lpFileName);

    if (!lpAppName)
    {
        std::vector<std::string> names;
        std::string name;
        for (const std::string& line : profile.lines)
            if (Profile::SectionName(line, name))
                names.push_back(name);
        return CopyList(names, lpReturnedString, nSize);
    }
    size_t end = 0;
    int section = loaded ? profile.FindSection(lpAppName, end) : -1;
    if (!lpKeyName)
    {
        std::vector<std::string> keys;
        std::string k, v;
        if (section >= 0)
            for (size_t i = section + 1; i < end; ++i)
                if (Profile::KeyValue(profile.lines[i], k, v))
                    keys.push_back(k);
        return CopyList(keys, lpReturnedString, nSize);
    }
    std::string value;
    if (section >= 0 && profile.FindKey(section + 1, end, lpKeyName, &value) >= 0)
    {
        if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0])
            value = value.substr(1, value.size() - 2);
        return CopyText(value, lpReturnedString, nSize);
    }
    std::string fallback = lpDefault ? lpDefault : "";
    while (!fallback.empty() && fallback.back() == ' ')
        fallback.pop_back();
    SetLastError(ERROR_FILE_NOT_FOUND);
    return CopyText(fallback, lpReturnedString, nSize);
}

}  // namespace

DWORD WINAPI GetPrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpDefault, LPSTR lpReturnedString,
                                      DWORD nSize, LPCSTR lpFileName)
{
    if (!lpReturnedString || nSize == 0)
        return 0;
    // Out of memory reads as nothing found, with nothing written.
    try
    {
        return ProfileString(lpAppName, lpKeyName, lpDefault, lpReturnedString, nSize, lpFileName);
    }
    catch (const std::bad_alloc&)
    {
        lpReturnedString[0] = '\0';
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
}

UINT WINAPI GetPrivateProfileIntA(LPCSTR lpAppName, LPCSTR lpKeyName, INT nDefault, LPCSTR lpFileName)
{
    if (!lpAppName || !lpKeyName)
        return static_cast<UINT>(nDefault);
    char text[64];
    if (GetPrivateProfileStringA(lpAppName, lpKeyName, "", text, sizeof(text), lpFileName) == 0)
        return static_cast<UINT>(nDefault);
    // The leading decimal number; text that is no number reads as 0.
    long value = strtol(text, nullptr, 10);
    return static_cast<UINT>(value);
}

namespace
{
BOOL WriteProfileString(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpString, LPCSTR lpFileName);
}

BOOL WINAPI WritePrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpString, LPCSTR lpFileName)
{
    if (!lpFileName || !lpAppName)
    {
        // With every argument null Windows only flushes its cache.
        if (!lpFileName && !lpAppName && !lpKeyName && !lpString)
            return TRUE;
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // Out of memory fails the call before the file is opened for writing:
    // the file stays as it was, never written over.
    try
    {
        return WriteProfileString(lpAppName, lpKeyName, lpString, lpFileName);
    }
    catch (const std::bad_alloc&)
    {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
}

namespace
{

BOOL WriteProfileString(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpString, LPCSTR lpFileName)
{
    Profile profile;
    if (!profile.Load(lpFileName) && profile.outOfMemory)
    {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    size_t end = 0;
    int section = profile.FindSection(lpAppName, end);
    if (!lpKeyName)
    {
        if (section < 0)
            return TRUE;
        profile.lines.erase(profile.lines.begin() + section, profile.lines.begin() + static_cast<long>(end));
    }
    else if (!lpString)
    {
        if (section < 0)
            return TRUE;
        int key = profile.FindKey(section + 1, end, lpKeyName, nullptr);
        if (key < 0)
            return TRUE;
        profile.lines.erase(profile.lines.begin() + key);
    }
    else
    {
        std::string line = std::string(lpKeyName) + "=" + lpString;
        if (section < 0)
        {
            profile.lines.push_back(std::string("[") + lpAppName + "]");
            profile.lines.push_back(line);
        }
        else
        {
            int key = profile.FindKey(section + 1, end, lpKeyName, nullptr);
            if (key >= 0)
                profile.lines[key] = line;
            else
            {
                // After the section's last non-blank line.
                size_t at = end;
                while (at > static_cast<size_t>(section) + 1 && Trim(profile.lines[at - 1]).empty())
                    --at;
                profile.lines.insert(profile.lines.begin() + static_cast<long>(at), line);
            }
        }
    }
    return profile.Save(lpFileName) ? TRUE : FALSE;
}

}  // namespace

BOOL WINAPI DeleteFileA(LPCSTR lpFileName)
{
    std::string path;
    if (!velmora::MapPath(lpFileName, path))
    {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    if (unlink(path.c_str()) != 0)
    {
        SetLastError(ErrorFromErrno(errno));
        return FALSE;
    }
    return TRUE;
}

} // extern "C"
