#include <gtest/gtest.h>

#include "Logger.h"
#include "test_support.h"

#include <velmora_platform.h>

#include <dlfcn.h>

#include <string>

using namespace testing_support;

namespace {

const std::string kStartBanner = "\t\n========[LOG START]========\n\n";
const std::string kEndBanner = "\t\n========[LOG END]========\n";

// A logger of its own on a file of drive C:, and that file's text.
struct LocalLog
{
    std::string windowsName;
    std::string hostPath;

    explicit LocalLog(const std::string& name) : windowsName("C:\\" + name)
    {
        char path[4096];
        VelmoraMapPath(windowsName.c_str(), path, sizeof(path));
        hostPath = path;
    }
    std::string Text() const { return ReadFile(hostPath); }
    // The text after the start banner.
    std::string Body() const
    {
        std::string text = Text();
        return text.compare(0, kStartBanner.size(), kStartBanner) == 0 ? text.substr(kStartBanner.size()) : text;
    }
};

} // namespace

TEST(Logger, GlobalLoggerWritesTheStartBannerToItsFile)
{
    EXPECT_EQ(g_Logger.GetFileName(), "C:\\winamplog.txt");
    EXPECT_EQ(ReadLog().compare(0, kStartBanner.size(), kStartBanner), 0);
}

TEST(Logger, LocationFieldsAreRightAlignedAndTheBaseNameIsCut)
{
    LocalLog log("location.txt");
    {
        CLogger logger(log.windowsName.c_str());
        EXPECT_EQ(log.Text(), kStartBanner); // the file was deleted, then the banner written

        logger.SetLocation("src\\abcdefghij", 7);
        logger.Printf("ten");
        logger.SetLocation("src/sub/slashonly", 1234);
        logger.Printf("slash %d", 1);
        logger.SetLocation("nodir", 12345);
        logger.Printf("whole");
        logger.SetLocation("src\\a/b\\back", 3);
        logger.Printf("backslash wins");
        logger.SetLocation("src\\averyveryverylongsourcename", 8);
        logger.Printf("long");
        logger.SetLocation(nullptr, 9);
        logger.Printf("no source");
    }
    EXPECT_EQ(log.Body(), "[      abcdefghij::   7]\tten\n"
                          "[       slashonly::1234]\tslash 1\n"
                          "[           nodir::12345]\twhole\n"
                          "[            back::   3]\tbackslash wins\n"
                          "[averyveryverylongsourcename::   8]\tlong\n"
                          "\tno source\n" +
                              kEndBanner);
}

TEST(Logger, SectionsIndentAndThePendingLocationIsUsedOnce)
{
    LocalLog log("sections.txt");
    {
        CLogger logger(log.windowsName.c_str());
        {
            CLogScope outer(&logger, "OUTER", 10, "src\\plugin");
            logger.Printf("one");
            {
                CLogScope inner(&logger, "INNER", 20, "src\\main");
                logger.SetLocation("src\\main", 21);
                logger.Printf("first");
                logger.Printf("second");
                EXPECT_EQ(logger.GetIndent(), 2);
            }
        }
        logger.TabEnd("UNBALANCED");
        EXPECT_EQ(logger.GetIndent(), 0);
        logger.Write("plain");
    }
    EXPECT_EQ(log.Body(), "[          plugin::  10]\t====[OUTER Tab Start]====\n"
                          "\t\tone\n"
                          "[            main::  20]\t\t====[INNER Tab Start]====\n"
                          "[            main::  21]\t\t\tfirst\n"
                          "\t\t\tsecond\n"
                          "[            main::  20]\t\t====[INNER Tab End]====\n"
                          "[          plugin::  10]\t====[OUTER Tab End]====\n"
                          "\t====[UNBALANCED Tab End]====\n"
                          "\tplain\n" +
                              kEndBanner);
}

TEST(Logger, LongMessagesAreCutTo1023Characters)
{
    LocalLog log("long.txt");
    {
        CLogger logger(log.windowsName.c_str());
        logger.Printf("%s", std::string(1022, 'a').c_str());
        logger.Printf("%s", std::string(1023, 'b').c_str());
        logger.Printf("%s", std::string(1024, 'c').c_str());
        logger.Printf("%s%s", std::string(3000, 'd').c_str(), "tail");
    }
    EXPECT_EQ(log.Body(), "\t" + std::string(1022, 'a') + "\n\t" + std::string(1023, 'b') + "\n\t" +
                              std::string(1023, 'c') + "\n\t" + std::string(1023, 'd') + "\n" + kEndBanner);
}

TEST(Logger, UnopenableFileLosesLinesButKeepsTheLocationPending)
{
    TempFolder folder;
    ASSERT_TRUE(VelmoraSetDriveRoot('L', folder.Path().c_str()));
    const std::string dir = folder / "later";
    {
        CLogger logger("L:\\later\\log.txt"); // its folder does not exist yet
        logger.SetLocation("src\\plugin", 5);
        logger.Printf("lost");
        EXPECT_FALSE(FileExists(dir + "/log.txt"));
        ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
        logger.Printf("kept");
        logger.End();
        EXPECT_EQ(logger.GetFileName(), "");
        logger.Printf("after end");
    }
    EXPECT_EQ(ReadFile(dir + "/log.txt"), "[          plugin::   5]\tkept\n" + kEndBanner);
}

TEST(Logger, LoadingAndUnloadingTheModuleWritesBothBanners)
{
    TempFolder folder;
    const std::string previous = VelmoraGetDriveRoot('C');
    ASSERT_TRUE(VelmoraSetDriveRoot('C', folder.Path().c_str()));
    ASSERT_TRUE(WriteFile(folder / "winamplog.txt", "old text\n"));

    void* module = dlopen(VELMORA_PLUGIN_DIR "/vis_velmora.so", RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(module, nullptr) << dlerror();
    EXPECT_EQ(ReadFile(folder / "winamplog.txt"), kStartBanner); // the old log is gone
    EXPECT_EQ(dlclose(module), 0);
    EXPECT_EQ(ReadFile(folder / "winamplog.txt"), kStartBanner + kEndBanner);

    VelmoraSetDriveRoot('C', previous.c_str());
}
