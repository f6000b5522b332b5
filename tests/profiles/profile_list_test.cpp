// The list of spectrum profiles read at start and the next-profile command.
#include <gtest/gtest.h>

#include "CSpectrum.h"
#include "d3d_stuff.h"
#include "module_session.h"

#include <sys/stat.h>

#include <string>
#include <vector>

using namespace testing_support;

namespace {

class ProfileList : public ModuleSession
{
protected:
    bool LinkBuiltProfiles() const override { return false; }

    void PrepareData() override
    {
        ASSERT_EQ(mkdir((dataDir + "/profiles").c_str(), 0755), 0);
        WriteProfile("a.xml", "Profile A");
        WriteProfile("b.xml", "Profile B");
        WriteProfile("c.xml", "Profile C");
        WriteProfile("long.xml", std::string(60, 'N'));
    }

    void WriteProfile(const std::string& file, const std::string& name)
    {
        ASSERT_TRUE(WriteFile(dataDir + "/profiles/" + file,
                              "<NAME name=\"" + name + "\"/>\n<BASS left=\"0\" right=\"10\" scale=\"1.0\"/>\n"
                              "<MEDIUM left=\"10\" right=\"20\" scale=\"1.0\"/>\n"
                              "<TREBLE left=\"20\" right=\"30\" scale=\"1.0\"/>\n"));
    }

    // Reads a new list as the main initialisation does.
    void ReadList(const std::string& xml)
    {
        ASSERT_TRUE(WriteFile(dataDir + "/spectrum.xml", xml));
        g_SpectrumProfiles.clear();
        g_SpectrumProfileIndex = 0;
        LoadSpectrumProfileList();
    }

    // The next-profile command as the player sends it; returns the loaded profile's name.
    std::string Next()
    {
        SendMessageA(host.RenderWindow(), WM_COMMAND, 40391, 0);
        return g_Spectrum.GetName();
    }
};

} // namespace

TEST_F(ProfileList, ThreeEntriesAreSteppedFromTheSecondAndWrap)
{
    ASSERT_TRUE(g_SpectrumProfiles.empty()) << "no list at start";
    logStart = ReadLog().size();
    ReadList("<?xml version=\"1.0\"?>\n<profile name=\"profiles/a.xml\"/>\n"
             "<Other name=\"profiles/b.xml\"><child name=\"profiles/long.xml\"/></Other>\n"
             "<PROFILE name=\"profiles/c.xml\"/>\n");
    ASSERT_EQ(g_SpectrumProfiles.size(), 3u);
    EXPECT_EQ(g_SpectrumProfiles[0], g_DataPath + "profiles/a.xml");
    EXPECT_EQ(g_SpectrumProfiles[2], g_DataPath + "profiles/c.xml");
    const std::vector<std::string> lines = SplitLines(NewLog());
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[0], "[            main:: 100]\tname " + g_DataPath + "profiles/a.xml");
    EXPECT_EQ(lines[2], "[            main:: 100]\tname " + g_DataPath + "profiles/c.xml");

    logStart = ReadLog().size();
    VelmoraSetClock(kSessionStart + 1000);
    EXPECT_EQ(Next(), "Profile B");
    EXPECT_EQ(g_SpectrumProfileIndex, 1u);
    EXPECT_STREQ(g_StatusText, "spectrum profile: Profile B");
    EXPECT_EQ(g_StatusTime, kSessionStart + 1000);
    EXPECT_FALSE(g_StatusDelayed);
    EXPECT_EQ(g_Spectrum.GetBassRange().right, 10);
    EXPECT_EQ(Next(), "Profile C");
    EXPECT_EQ(Next(), "Profile A");
    EXPECT_EQ(g_SpectrumProfileIndex, 0u);
    EXPECT_STREQ(g_StatusText, "spectrum profile: Profile A");
    EXPECT_EQ(Next(), "Profile B");
    EXPECT_NE(NewLog().find("[            main:: 249]\tloading coef " + g_DataPath + "profiles/b.xml\n"),
              std::string::npos)
        << NewLog();

    // A single entry is loaded by every command.
    ReadList("<p name=\"profiles/c.xml\"/>");
    EXPECT_EQ(Next(), "Profile C");
    EXPECT_EQ(Next(), "Profile C");
    EXPECT_EQ(g_SpectrumProfileIndex, 0u);
}

// The number of times `text` occurs in `log`.
static size_t Occurrences(const std::string& log, const std::string& text)
{
    size_t count = 0;
    for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + text.size()))
        ++count;
    return count;
}

// A module started again after Quit without being unloaded (its lists stay in
// memory) appends the list once more: every entry twice, in file order, and
// the command walks the doubled list.
TEST_F(ProfileList, ASecondInitAppendsTheListAgain)
{
    ASSERT_TRUE(WriteFile(dataDir + "/spectrum.xml", "<p name=\"profiles/a.xml\"/><p name=\"profiles/b.xml\"/>"));
    host.Quit();
    ASSERT_EQ(host.Init(), 0);
    host.Quit();
    logStart = ReadLog().size();
    ASSERT_EQ(host.Init(), 0);
    const std::string second = NewLog();
    EXPECT_EQ(Occurrences(second, "\tname " + g_DataPath + "profiles/a.xml\n"), 1u) << second;
    EXPECT_EQ(Occurrences(second, "\tname " + g_DataPath + "profiles/b.xml\n"), 1u);
    ASSERT_EQ(g_SpectrumProfiles.size(), 4u);
    const std::string a = g_DataPath + "profiles/a.xml", b = g_DataPath + "profiles/b.xml";
    EXPECT_EQ(g_SpectrumProfiles, (std::vector<std::string>{a, b, a, b}));

    logStart = ReadLog().size();
    EXPECT_EQ(Next(), "Profile B");
    EXPECT_EQ(Next(), "Profile A");
    EXPECT_EQ(Next(), "Profile B");
    EXPECT_EQ(g_SpectrumProfileIndex, 3u);
    EXPECT_EQ(Next(), "Profile A") << "the fifth step wraps to entry 0";
    EXPECT_EQ(g_SpectrumProfileIndex, 0u);
    const std::string steps = NewLog();
    EXPECT_EQ(Occurrences(steps, "\tloading coef "), 4u) << steps;
    EXPECT_EQ(Occurrences(steps, "\tloading coef " + a + "\n"), 2u);
    EXPECT_EQ(Occurrences(steps, "\tloading coef " + b + "\n"), 2u);
}

TEST_F(ProfileList, ElementsWithoutANameAreSkippedAndLongNamesAreCut)
{
    ReadList("<p name=\"profiles/a.xml\"/><p Name=\"profiles/b.xml\" file=\"x\"/><p name=\"profiles/long.xml\"/>");
    ASSERT_EQ(g_SpectrumProfiles.size(), 2u);
    EXPECT_EQ(g_SpectrumProfiles[1], g_DataPath + "profiles/long.xml");

    EXPECT_EQ(Next(), std::string(60, 'N'));
    const std::string status = g_StatusText;
    EXPECT_EQ(status.size(), 63u);
    EXPECT_EQ(status, "spectrum profile: " + std::string(45, 'N'));
}

TEST_F(ProfileList, AMissingListLeavesTheCommandIdleAndAMissingProfileShowsTheDefault)
{
    // Init found no "spectrum.xml" in this data folder.
    ASSERT_TRUE(g_SpectrumProfiles.empty());
    VelmoraSetClock(kSessionStart + 500);
    SetStatusText("cycle view on", kSessionStart + 500, false);
    logStart = ReadLog().size();
    Next();
    Next();
    EXPECT_EQ(g_SpectrumProfileIndex, 0u);
    EXPECT_STREQ(g_StatusText, "cycle view on");
    EXPECT_EQ(NewLog(), "");

    // A listed profile that does not load leaves the default ranges and name.
    ReadList("<p name=\"profiles/a.xml\"/><p name=\"profiles/gone.xml\"/>");
    EXPECT_EQ(Next(), "default");
    EXPECT_STREQ(g_StatusText, "spectrum profile: default");
    EXPECT_NE(NewLog().find("error loading file"), std::string::npos);
}

// An entry naming a folder loads nothing: the ordinary failure line and the
// default profile, and the next command goes on to the next entry.
TEST_F(ProfileList, AnEntryNamingAFolderFailsLikeAMissingFile)
{
    ReadList("<p name=\"profiles/a.xml\"/><p name=\"profiles\"/><p name=\"\"/><p name=\"profiles/c.xml\"/>");
    ASSERT_EQ(g_SpectrumProfiles.size(), 4u);
    logStart = ReadLog().size();
    EXPECT_EQ(Next(), "default");
    EXPECT_STREQ(g_StatusText, "spectrum profile: default");
    EXPECT_NE(NewLog().find("\terror loading file\n"), std::string::npos) << NewLog();
    logStart = ReadLog().size();
    EXPECT_EQ(Next(), "default");
    EXPECT_NE(NewLog().find("\terror loading file\n"), std::string::npos) << NewLog();
    EXPECT_EQ(Next(), "Profile C");
}

TEST_F(ProfileList, AListNestedTooDeeplyListsNothingAndLogsNothing)
{
    // As deep as we allow: the outer element is listed.
    logStart = ReadLog().size();
    ReadList("<p name=\"profiles/a.xml\">" + NestedXml("p", 255) + "</p>");
    EXPECT_EQ(g_SpectrumProfiles.size(), 1u);
    EXPECT_EQ(NewLog().find("nested"), std::string::npos);

    for (int depth : {257, 100000})
    {
        logStart = ReadLog().size();
        ReadList("<p name=\"profiles/a.xml\"/>" + NestedXml("p", depth));
        EXPECT_TRUE(g_SpectrumProfiles.empty());
        EXPECT_EQ(NewLog(), "");
    }
}
