#include <gtest/gtest.h>

#include "test_support.h"

#include <velmora_platform.h>
#include <windows.h>

#include <dlfcn.h>
#include <errno.h>
#include <limits.h>
#include <stdlib.h>
#include <tinyxml.h>

#include <fstream>
#include <string>

using namespace testing_support;

namespace {

class Files : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(VelmoraSetDriveRoot('E', folder.Path().c_str())); }
    TempFolder folder;
};

std::string Map(const char* windowsPath)
{
    char out[4096];
    EXPECT_TRUE(VelmoraMapPath(windowsPath, out, sizeof(out)));
    return out;
}

} // namespace

TEST_F(Files, DriveLettersAndSeparatorsMap)
{
    EXPECT_EQ(Map("E:\\a\\b.txt"), folder / "a/b.txt");
    EXPECT_EQ(Map("e:/a\\data\\/shaders/spot.fx"), folder / "a/data//shaders/spot.fx");
    EXPECT_EQ(Map("E:rel.txt"), folder / "rel.txt");
    EXPECT_EQ(Map("Z:\\etc\\hosts"), "/etc/hosts");
    EXPECT_EQ(Map("Z:\\"), "/");
    EXPECT_EQ(Map("/usr/share/x.txt"), "/usr/share/x.txt");
    EXPECT_EQ(Map("relative\\dir/file"), "relative/dir/file");
    // C: is this process's own folder unless chosen, and never the root.
    EXPECT_NE(std::string(VelmoraGetDriveRoot('C')), "");
    EXPECT_NE(std::string(VelmoraGetDriveRoot('c')), "/");
    EXPECT_EQ(std::string(VelmoraGetDriveRoot('Z')), "/");

    char small[8];
    EXPECT_FALSE(VelmoraMapPath("E:\\a-rather-long-name.txt", small, sizeof(small)));
    EXPECT_FALSE(VelmoraSetDriveRoot('1', "/tmp"));
    EXPECT_FALSE(VelmoraSetDriveRoot('Q', nullptr));

    char windowsPath[4096];
    ASSERT_TRUE(VelmoraToWindowsPath((folder / "x/y.txt").c_str(), windowsPath, sizeof(windowsPath)));
    EXPECT_STREQ(windowsPath, "E:\\x\\y.txt");
    ASSERT_TRUE(VelmoraToWindowsPath("/etc/hosts", windowsPath, sizeof(windowsPath)));
    EXPECT_STREQ(windowsPath, "Z:\\etc\\hosts");
    EXPECT_FALSE(VelmoraToWindowsPath("/etc/hosts", small, sizeof(small)));
}

TEST_F(Files, FileCallsOfTheProgramAndItsLibrariesTakeWindowsPaths)
{
    ASSERT_EQ(mkdir((folder / "sub").c_str(), 0755), 0);
    FILE* file = fopen("E:\\sub\\note.txt", "w");
    ASSERT_NE(file, nullptr);
    fputs("hello", file);
    fclose(file);
    EXPECT_EQ(ReadFile(folder / "sub/note.txt"), "hello");

    file = fopen64("E:/sub\\note.txt", "r");
    ASSERT_NE(file, nullptr);
    file = freopen("E:\\sub\\other.txt", "w", file);
    ASSERT_NE(file, nullptr);
    fclose(file);
    EXPECT_TRUE(FileExists(folder / "sub/other.txt"));

    std::ifstream stream("E:\\sub\\note.txt"); // the C++ library opens through the C library
    std::string word;
    stream >> word;
    EXPECT_EQ(word, "hello");

    // Debian's shared TinyXML opens its files through the same calls.
    ASSERT_TRUE(WriteFile(folder / "scene.xml", "<OBJECT name=\"lamp\"/><AGENT/>"));
    TiXmlDocument document("E:\\scene.xml");
    ASSERT_TRUE(document.LoadFile());
    ASSERT_NE(document.FirstChildElement(), nullptr);
    EXPECT_STREQ(document.FirstChildElement()->Attribute("name"), "lamp");

    EXPECT_EQ(remove("E:\\sub\\other.txt"), 0);
    EXPECT_FALSE(FileExists(folder / "sub/other.txt"));
    EXPECT_TRUE(DeleteFileA("E:\\sub\\note.txt"));
    EXPECT_FALSE(DeleteFileA("E:\\sub\\note.txt"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

// Windows refuses to open a folder as a file; so does every file call here, for
// the module and for the libraries it uses alike.
TEST_F(Files, FoldersDoNotOpenAsFiles)
{
    ASSERT_EQ(mkdir((folder / "data").c_str(), 0755), 0);
    for (const char* path : {"E:\\data", "E:\\data\\", "E:/data/", "E:"})
    {
        for (const char* mode : {"rb", "r", "r+", "wb", "a+"})
        {
            errno = 0;
            EXPECT_EQ(fopen(path, mode), nullptr) << path << " " << mode;
            EXPECT_EQ(errno, EACCES) << path << " " << mode;
            errno = 0;
            EXPECT_EQ(fopen64(path, mode), nullptr) << path << " " << mode;
            EXPECT_EQ(errno, EACCES) << path << " " << mode;
        }
    }
    FILE* stream = fopen("E:\\note.txt", "w");
    ASSERT_NE(stream, nullptr);
    errno = 0;
    EXPECT_EQ(freopen("E:\\data", "rb", stream), nullptr);
    EXPECT_EQ(errno, EACCES);

    std::ifstream cxx("E:\\data");
    EXPECT_FALSE(cxx.is_open());

    TiXmlDocument document("E:\\data");
    EXPECT_FALSE(document.LoadFile());

    // Profile calls read a folder as a missing file and cannot write it.
    char value[16];
    EXPECT_EQ(GetPrivateProfileStringA("a", "b", "dflt", value, sizeof(value), "E:\\data"), 4u);
    EXPECT_STREQ(value, "dflt");
    EXPECT_EQ(GetPrivateProfileIntA("a", "b", 7, "E:\\data\\"), 7u);
    EXPECT_FALSE(WritePrivateProfileStringA("a", "b", "c", "E:\\data"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

    // Files keep opening as before.
    stream = fopen("E:\\data\\..\\note.txt", "rb");
    ASSERT_NE(stream, nullptr);
    fclose(stream);
}

namespace
{

// The child of DriveCFromTheEnvironmentIsMadeOrRefusedAloud, a process of its
// own because C: is chosen once: opens a file on C:, says whether it could,
// and ends before any test runs.
class DriveCChild : public ::testing::Environment
{
public:
    void SetUp() override
    {
        if (!getenv("VELMORA_DRIVE_C_CHILD"))
            return;
        FILE* file = fopen("C:\\probe.txt", "w");
        printf(file ? "opened\n" : "not opened\n");
        if (file)
        {
            fputs("ok", file);
            fclose(file);
        }
        exit(0);
    }
};

::testing::Environment* const g_driveCChild = ::testing::AddGlobalTestEnvironment(new DriveCChild);

} // namespace

TEST_F(Files, DriveCFromTheEnvironmentIsMadeOrRefusedAloud)
{
    char self[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", self, sizeof(self) - 1);
    ASSERT_GT(n, 0);
    self[n] = '\0';
    auto run = [&](const std::string& driveC) {
        return RunProgram({"/usr/bin/env", "VELMORA_DRIVE_C=" + driveC, "VELMORA_DRIVE_C_CHILD=1", self,
                           "--gtest_filter=Files.DriveCFromTheEnvironmentIsMadeOrRefusedAloud"},
                          folder.Path());
    };

    // A folder that does not exist yet is made, parents and all.
    const std::string missing = folder / "not/yet/there";
    ProcessResult made = run(missing);
    EXPECT_EQ(made.status, 0) << made.err;
    EXPECT_NE(made.out.find("opened\n"), std::string::npos) << made.out;
    EXPECT_EQ(made.out.find("not opened"), std::string::npos) << made.out;
    EXPECT_EQ(ReadFile(missing + "/probe.txt"), "ok");
    EXPECT_EQ(made.err.find("VELMORA_DRIVE_C"), std::string::npos) << made.err;

    // One that cannot be made is refused with a line that says so.
    ASSERT_TRUE(WriteFile(folder / "plain.txt", "a file, not a folder"));
    const std::string impossible = folder / "plain.txt/sub";
    ProcessResult refused = run(impossible);
    EXPECT_NE(refused.out.find("not opened"), std::string::npos) << refused.out;
    EXPECT_NE(refused.err.find("velmora: VELMORA_DRIVE_C names " + impossible + ", which cannot be created"),
              std::string::npos)
        << refused.err;
}

TEST_F(Files, ProfilesReadAndWriteLikeWindows)
{
    const char* ini = "E:\\settings\\plugin.ini";
    ASSERT_EQ(mkdir((folder / "settings").c_str(), 0755), 0);
    // Missing file: defaults, then the write creates it.
    EXPECT_EQ(GetPrivateProfileIntA("velmora", "SCREEN_WIDTH", 800, ini), 800u);
    ASSERT_TRUE(WritePrivateProfileStringA("velmora", "SCREEN_WIDTH", "1024", ini));
    EXPECT_TRUE(FileExists(folder / "settings/plugin.ini"));
    EXPECT_EQ(GetPrivateProfileIntA("VELMORA", "screen_width", 0, ini), 1024u);

    ASSERT_TRUE(WriteFile(folder / "settings/plugin.ini", "; kept comment\r\n"
                                                          "[Other]\r\n"
                                                          "Name = \"quoted value\"  \r\n"
                                                          "\r\n"
                                                          "[Velmora]\r\n"
                                                          "Screen_Width=640\r\n"
                                                          "Broken=abc\r\n"
                                                          "Negative=-5\r\n"
                                                          "\r\n"
                                                          "[Last]\r\n"
                                                          "x=1\r\n"));
    EXPECT_EQ(GetPrivateProfileIntA("velmora", "SCREEN_WIDTH", 800, ini), 640u);
    EXPECT_EQ(GetPrivateProfileIntA("velmora", "SCREEN_HEIGHT", 600, ini), 600u);
    EXPECT_EQ(GetPrivateProfileIntA("velmora", "Broken", 7, ini), 0u);
    EXPECT_EQ(static_cast<int>(GetPrivateProfileIntA("velmora", "Negative", 7, ini)), -5);
    char value[64];
    EXPECT_EQ(GetPrivateProfileStringA("other", "name", "", value, sizeof(value), ini), 12u);
    EXPECT_STREQ(value, "quoted value");
    EXPECT_EQ(GetPrivateProfileStringA("other", "name", "", value, 5, ini), 4u);
    EXPECT_STREQ(value, "quot");
    EXPECT_EQ(GetPrivateProfileStringA("other", "missing", "fallback  ", value, sizeof(value), ini), 8u);
    EXPECT_STREQ(value, "fallback");

    ASSERT_TRUE(WritePrivateProfileStringA("VELMORA", "SCREEN_WIDTH", "800", ini));
    ASSERT_TRUE(WritePrivateProfileStringA("velmora", "SCREEN_HEIGHT", "480", ini));
    ASSERT_TRUE(WritePrivateProfileStringA("new", "k", "v", ini));
    ASSERT_TRUE(WritePrivateProfileStringA("last", "x", nullptr, ini)); // deletes the key
    EXPECT_EQ(GetPrivateProfileIntA("velmora", "SCREEN_WIDTH", 0, ini), 800u);
    EXPECT_EQ(GetPrivateProfileIntA("velmora", "SCREEN_HEIGHT", 0, ini), 480u);
    EXPECT_EQ(GetPrivateProfileIntA("last", "x", 9, ini), 9u);
    EXPECT_EQ(GetPrivateProfileStringA("new", "K", "", value, sizeof(value), ini), 1u);
    const std::string text = ReadFile(folder / "settings/plugin.ini");
    EXPECT_NE(text.find("; kept comment"), std::string::npos);
    EXPECT_NE(text.find("Negative=-5"), std::string::npos);
    // The new key joins its own section, before the blank line that ends it.
    EXPECT_NE(text.find("Negative=-5\r\nSCREEN_HEIGHT=480\r\n\r\n[Last]"), std::string::npos);

    char names[64];
    DWORD length = GetPrivateProfileStringA(nullptr, nullptr, "", names, sizeof(names), ini);
    EXPECT_EQ(std::string(names, length), std::string("Other\0Velmora\0Last\0new\0", 23));
    ASSERT_TRUE(WritePrivateProfileStringA("other", nullptr, nullptr, ini)); // deletes the section
    EXPECT_EQ(GetPrivateProfileStringA("other", "name", "gone", value, sizeof(value), ini), 4u);

    // A profile that cannot be written fails without harm.
    ASSERT_EQ(mkdir((folder / "settings/dir.ini").c_str(), 0755), 0);
    EXPECT_FALSE(WritePrivateProfileStringA("a", "b", "c", "E:\\settings\\dir.ini"));
    EXPECT_EQ(GetPrivateProfileIntA("a", "b", 3, "E:\\settings\\dir.ini"), 3u);
    EXPECT_FALSE(WritePrivateProfileStringA("a", "b", "c", "E:\\no\\such\\folder.ini"));
    EXPECT_FALSE(WritePrivateProfileStringA(nullptr, "b", "c", ini));
}

TEST_F(Files, ModuleFileNamesInWindowsForm)
{
    char name[MAX_PATH];
    HINSTANCE fake = VelmoraRegisterModule("D:\\Player\\Plugins\\vis.dll");
    EXPECT_EQ(GetModuleFileNameA(fake, name, sizeof(name)), 25u);
    EXPECT_STREQ(name, "D:\\Player\\Plugins\\vis.dll");
    EXPECT_EQ(VelmoraRegisterModule("D:\\Player\\Plugins\\vis.dll"), fake);

    // Cut to the buffer with a terminator, the buffer size returned.
    memset(name, 'x', sizeof(name));
    EXPECT_EQ(GetModuleFileNameA(fake, name, 8), 8u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_STREQ(name, "D:\\Play");
    EXPECT_EQ(name[8], 'x');
    EXPECT_EQ(GetModuleFileNameA(fake, name, 0), 0u);

    // The program itself and a loaded library, by handle and by an address inside it.
    char exe[PATH_MAX], expected[4096];
    ASSERT_NE(realpath("/proc/self/exe", exe), nullptr);
    ASSERT_TRUE(VelmoraToWindowsPath(exe, expected, sizeof(expected)));
    ASSERT_GT(GetModuleFileNameA(nullptr, name, sizeof(name)), 0u);
    EXPECT_STREQ(name, expected);

    Dl_info info;
    ASSERT_NE(dladdr(reinterpret_cast<void*>(&GetModuleFileNameA), &info), 0);
    void* library = dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(library, nullptr);
    char resolved[PATH_MAX];
    ASSERT_NE(realpath(info.dli_fname, resolved), nullptr);
    ASSERT_TRUE(VelmoraToWindowsPath(resolved, expected, sizeof(expected)));
    EXPECT_GT(GetModuleFileNameA(reinterpret_cast<HMODULE>(library), name, sizeof(name)), 0u);
    EXPECT_STREQ(name, expected);
    EXPECT_NE(strstr(name, "libvelmora_platform.so"), nullptr);
    dlclose(library);
    EXPECT_GT(GetModuleFileNameA(reinterpret_cast<HMODULE>(info.dli_fbase), name, sizeof(name)), 0u);
    EXPECT_STREQ(name, expected);

    int local = 0;
    EXPECT_EQ(GetModuleFileNameA(reinterpret_cast<HMODULE>(&local), name, sizeof(name)), 0u);
}

TEST(Platform, MessageBoxesClockAndFormatting)
{
    const int before = VelmoraMessageBoxCount();
    EXPECT_EQ(MessageBoxA(nullptr, "text", "caption", MB_OK), IDOK);
    EXPECT_EQ(VelmoraMessageBoxCount(), before + 1);
    EXPECT_STREQ(VelmoraLastMessageBoxText(), "text");
    EXPECT_STREQ(VelmoraLastMessageBoxCaption(), "caption");

    VelmoraUseVirtualClock(1000);
    EXPECT_EQ(timeGetTime(), 1000u);
    VelmoraAdvanceClock(25);
    EXPECT_EQ(timeGetTime(), 1025u);
    VelmoraSetClock(5);
    EXPECT_EQ(timeGetTime(), 5u);
    VelmoraUseRealClock();
    DWORD a = timeGetTime();
    DWORD b = timeGetTime();
    EXPECT_LE(b - a, 1000u); // monotonic

    char out[1024];
    EXPECT_EQ(wsprintfA(out, "%d", -640), 4);
    EXPECT_STREQ(out, "-640");
    char small[4];
    EXPECT_EQ(_snprintf(small, sizeof(small), "%s", "abc"), 3);
    EXPECT_EQ(_snprintf(small, sizeof(small), "%s", "abcd"), -1);
}
