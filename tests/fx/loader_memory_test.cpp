// Out of memory while a file loads is that file failing to load: the
// module's model loader and the profile (plugin.ini) calls report it as
// their usual failure, and a profile that did not fit in memory is never
// written over.
#include "failing_allocations.h"

#include <gtest/gtest.h>

#include <velmora_platform.h>
#include <windows.h>

#include "ms3d/CMs3d.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

namespace {

std::string ReadText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

TEST(LoaderMemory, ModelsFailToLoadWhenMemoryRunsOut)
{
    if (!kAllocationsCounted)
        GTEST_SKIP() << "allocations are not counted under ThreadSanitizer";
    const std::string data = std::string(VELMORA_PLUGIN_DIR) + "/data/";
    const std::string model = data + "dancer_slim.ms3d";
    FailEachAllocation(
        "ms3d", [&] {
            CMs3d ms3d;
            return ms3d.Load(model.c_str());
        },
        [] {});

    // (TinyXML itself lets go of nothing it built when memory runs out part
    // way, so XML loads are not failed here.)
}

TEST(LoaderMemory, AProfileThatDoesNotFitIsNeverWrittenOver)
{
    if (!kAllocationsCounted)
        GTEST_SKIP() << "allocations are not counted under ThreadSanitizer";
    char folder[] = "/tmp/velmora_profile_XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string path = std::string(folder) + "/plugin.ini";
    std::string original;
    for (int i = 0; i < 200; ++i)
        original += "[S" + std::to_string(i) + "]\nKEY=value " + std::to_string(i) + "\n";
    {
        std::ofstream out(path, std::ios::binary);
        out << original;
    }
    char windowsPath[1024];
    ASSERT_TRUE(VelmoraToWindowsPath(path.c_str(), windowsPath, sizeof windowsPath));

    // Reading: the default, as for a missing file, or the value.
    FailEachAllocation(
        "GetPrivateProfileString", [&] {
            char value[64] = "";
            GetPrivateProfileStringA("S150", "KEY", "none", value, sizeof value, windowsPath);
            return strcmp(value, "value 150") == 0;
        },
        [] {});

    // Writing: either written whole or refused with the file as it was.
    const std::string written = [&] {
        EXPECT_TRUE(WritePrivateProfileStringA("S150", "KEY", "new", windowsPath));
        std::string text = ReadText(path);
        std::ofstream out(path, std::ios::binary);
        out << original;
        return text;
    }();
    ASSERT_NE(written, original);
    BOOL lastOk = FALSE;
    std::string lastText;
    FailEachAllocation(
        "WritePrivateProfileString", [&] {
            lastOk = FALSE;
            lastText.clear();
            lastOk = WritePrivateProfileStringA("S150", "KEY", "new", windowsPath);
            s_FailAllocationAfter = -1;  // the checking below is not the call's
            lastText = ReadText(path);
            std::ofstream out(path, std::ios::binary);
            out << original;
            return lastOk && lastText == written;
        },
        [&] { EXPECT_TRUE(lastText == (lastOk ? written : original)) << "written over"; });
    unlink(path.c_str());
    rmdir(folder);
}
