#include <gtest/gtest.h>

#include "CSpectrum.h"
#include "Logger.h"
#include "plugin.h"
#include "test_support.h"

#include <velmora_platform.h>

#include <math.h>
#include <string.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

// Weak, so that the tests also link while the platform's path mapping is missing.
extern "C" BOOL VelmoraMapPath(const char* windowsPath, char* out, size_t size) __attribute__((weak));

namespace
{
std::string LogPath()
{
    // Without the drive mapping every test process would share one log file
    // in the working folder; give this process its own.
    static const bool ownLog = [] {
        if (!VelmoraMapPath)
            g_Logger.SetFile((std::string(VELMORA_BINARY_DIR) + "/spectrum_test_log_" + std::to_string(getpid()) + ".txt").c_str());
        return true;
    }();
    (void)ownLog;
    const std::string& name = g_Logger.GetFileName();
    char mapped[4096];
    if (VelmoraMapPath && VelmoraMapPath(name.c_str(), mapped, sizeof(mapped)))
        return mapped;
    return name;
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// What the log gained since the object was made.
class LogWatch
{
public:
    LogWatch() : m_Start(ReadFile(LogPath()).size()) {}
    std::string Added() const { return ReadFile(LogPath()).substr(m_Start); }

private:
    size_t m_Start;
};

class TempFolder
{
public:
    TempFolder()
    {
        char pattern[] = "/tmp/velmora_spectrum_XXXXXX";
        m_Path = mkdtemp(pattern);
    }
    ~TempFolder() { std::system(("rm -rf '" + m_Path + "'").c_str()); }
    std::string Write(const std::string& name, const std::string& text) const
    {
        std::string path = m_Path + "/" + name;
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }

private:
    std::string m_Path;
};

CVisModule MakeRecord(int channels, unsigned char first, unsigned char second)
{
    CVisModule module = {};
    module.spectrumNch = channels;
    memset(module.spectrumData[0], first, 576);
    memset(module.spectrumData[1], second, 576);
    return module;
}

void ExpectDefaults(const CSpectrum& spectrum)
{
    EXPECT_STREQ(spectrum.GetName(), "default");
    EXPECT_TRUE(spectrum.GetCoefs().empty());
    EXPECT_EQ(spectrum.GetBassRange().left, 0);
    EXPECT_EQ(spectrum.GetBassRange().right, 192);
    EXPECT_FLOAT_EQ(spectrum.GetBassRange().scale, 1.0f);
    EXPECT_EQ(spectrum.GetMediumRange().left, 192);
    EXPECT_EQ(spectrum.GetMediumRange().right, 384);
    EXPECT_EQ(spectrum.GetTrebleRange().left, 384);
    EXPECT_EQ(spectrum.GetTrebleRange().right, 576);
    EXPECT_FLOAT_EQ(spectrum.GetTrebleRange().scale, 1.0f);
}
}

TEST(Spectrum, BinsAndLevelsFromOneOrTwoChannels)
{
    CSpectrum spectrum;
    ExpectDefaults(spectrum);

    CVisModule silence = MakeRecord(1, 0, 0);
    spectrum.Update(&silence);
    for (int i = 0; i < 576; ++i)
        ASSERT_EQ(spectrum.GetBins()[i], 0.0f);
    EXPECT_EQ(spectrum.GetBass(), 0.0);
    EXPECT_EQ(spectrum.GetMedium(), 0.0);
    EXPECT_EQ(spectrum.GetTreble(), 0.0);

    // One channel: channel 1 is not read.
    CVisModule full = MakeRecord(1, 255, 0);
    spectrum.Update(&full);
    for (int i = 0; i < 576; ++i)
        ASSERT_EQ(spectrum.GetBins()[i], 1.0f);
    EXPECT_DOUBLE_EQ(spectrum.GetBass(), 1.0);
    EXPECT_DOUBLE_EQ(spectrum.GetMedium(), 1.0);
    EXPECT_DOUBLE_EQ(spectrum.GetTreble(), 1.0);

    CVisModule both = MakeRecord(2, 255, 255);
    spectrum.Update(&both);
    for (int i = 0; i < 576; ++i)
        ASSERT_EQ(spectrum.GetBins()[i], 1.0f);

    CVisModule half = MakeRecord(2, 255, 0);
    spectrum.Update(&half);
    for (int i = 0; i < 576; ++i)
        ASSERT_NEAR(spectrum.GetBins()[i], 0.5f, 1e-6f);
    EXPECT_NEAR(spectrum.GetBass(), 0.5, 1e-6);

    // More than two channels read channel 0 alone.
    CVisModule three = MakeRecord(3, 51, 255);
    spectrum.Update(&three);
    EXPECT_NEAR(spectrum.GetBins()[100], 0.2f, 1e-6f);

    // Each bin follows its own byte, bin 0 first.
    CVisModule ramp = MakeRecord(1, 0, 0);
    for (int i = 0; i < 576; ++i)
        ramp.spectrumData[0][i] = static_cast<unsigned char>(i < 192 ? 255 : 0);
    spectrum.Update(&ramp);
    EXPECT_DOUBLE_EQ(spectrum.GetBass(), 1.0);
    EXPECT_DOUBLE_EQ(spectrum.GetMedium(), 0.0);
}

TEST(Spectrum, NoChannelsLogsAndKeepsTheBins)
{
    CSpectrum spectrum;
    CVisModule full = MakeRecord(1, 255, 255);
    spectrum.Update(&full);

    LogWatch log;
    CVisModule none = MakeRecord(0, 0, 0);
    spectrum.Update(&none);
    CVisModule negative = MakeRecord(-3, 0, 0);
    spectrum.Update(&negative);
    EXPECT_EQ(spectrum.GetBins()[0], 1.0f);
    EXPECT_EQ(spectrum.GetBins()[575], 1.0f);
    EXPECT_DOUBLE_EQ(spectrum.GetTreble(), 1.0);

    std::string added = log.Added();
    const std::string line = "[       CSpectrum:: 118]\tSpectrum:: error 0 spectrum channels!!!\n";
    size_t first = added.find(line);
    ASSERT_NE(first, std::string::npos) << added;
    EXPECT_NE(added.find(line, first + 1), std::string::npos) << "one line per frame";

    // A good frame writes nothing to the log.
    LogWatch quiet;
    spectrum.Update(&full);
    spectrum.GetBass();
    EXPECT_EQ(quiet.Added(), "");
}

TEST(Spectrum, LoadReadsTheProfileAndLogsIt)
{
    TempFolder folder;
    std::string path = folder.Write("profile.xml",
        "<NAME name=\"Club\"/>\n"
        "<COEF left=\"0\" right=\"10\" scale=\"3.0\"/>\n"
        "<BASS left=\"0\" right=\"10\" scale=\"2.0\"/>\n"
        "<MEDIUM left=\"10\" right=\"300\" scale=\"1.0\"/>\n"
        "<TREBLE left=\"300\" right=\"576\" scale=\"0.5\"/>\n"
        "<OTHER left=\"1\"/>\n");

    CSpectrum spectrum;
    LogWatch log;
    ASSERT_TRUE(spectrum.Load(path.c_str()));
    EXPECT_STREQ(spectrum.GetName(), "Club");
    ASSERT_EQ(spectrum.GetCoefs().size(), 1u);

    // COEF scales first, then the bins are clamped; the level is not.
    CVisModule half = MakeRecord(2, 255, 0);
    spectrum.Update(&half);
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(spectrum.GetBins()[i], 1.0f) << i;
    EXPECT_NEAR(spectrum.GetBins()[10], 0.5f, 1e-6f);
    EXPECT_DOUBLE_EQ(spectrum.GetBass(), 2.0);
    EXPECT_NEAR(spectrum.GetMedium(), 0.5, 1e-6);
    EXPECT_NEAR(spectrum.GetTreble(), 0.25, 1e-6);

    const std::string expected =
        "[       CSpectrum::  43]\t====[SPECTRUM LOADER Tab Start]====\n"
        "[       CSpectrum::  45]\t\tdestroying\n"
        "[       CSpectrum::  48]\t\tloading file " + path + "\n"
        "[       CSpectrum::  85]\t\tsetting name Club\n"
        "[       CSpectrum::  63]\t\tadding coef 0 10 3.000000\n"
        "[       CSpectrum::  69]\t\tsetting BASS 0 10 2.000000\n"
        "[       CSpectrum::  74]\t\tsetting MEDIUM 10 300 1.000000\n"
        "[       CSpectrum::  79]\t\tsetting TREBLE 300 576 0.500000\n"
        "[       CSpectrum::  43]\t====[SPECTRUM LOADER Tab End]====\n";
    EXPECT_EQ(log.Added(), expected);

    // Overlapping COEF records multiply in turn; a negative scale clamps to 0.
    path = folder.Write("overlap.xml",
        "<COEF left=\"0\" right=\"20\" scale=\"0.5\"/>\n"
        "<COEF left=\"10\" right=\"30\" scale=\"0.5\"/>\n"
        "<COEF left=\"40\" right=\"50\" scale=\"-2\"/>\n");
    ASSERT_TRUE(spectrum.Load(path.c_str()));
    CVisModule full = MakeRecord(1, 255, 0);
    spectrum.Update(&full);
    EXPECT_FLOAT_EQ(spectrum.GetBins()[5], 0.5f);
    EXPECT_FLOAT_EQ(spectrum.GetBins()[15], 0.25f);
    EXPECT_FLOAT_EQ(spectrum.GetBins()[25], 0.5f);
    EXPECT_FLOAT_EQ(spectrum.GetBins()[35], 1.0f);
    EXPECT_EQ(spectrum.GetBins()[45], 0.0f);
}

TEST(Spectrum, ElementAndAttributeNames)
{
    TempFolder folder;
    std::string longName(100, 'x');
    for (int i = 0; i < 100; ++i)
        longName[i] = static_cast<char>('a' + i % 26);
    std::string path = folder.Write("names.xml",
        "<bass left=\"5\" right=\"50\" scale=\"1.5\"/>\n"
        "<Medium Left=\"200\" right=\"300\" scale=\"1\"/>\n"
        "<tReBlE left=\"400\" right=\"500\" scale=\"1\"/>\n"
        "<name name=\"" + longName + "\"/>\n");

    CSpectrum spectrum;
    ASSERT_TRUE(spectrum.Load(path.c_str()));
    EXPECT_EQ(spectrum.GetBassRange().left, 5);
    EXPECT_EQ(spectrum.GetBassRange().right, 50);
    EXPECT_FLOAT_EQ(spectrum.GetBassRange().scale, 1.5f);
    EXPECT_EQ(spectrum.GetMediumRange().left, 0) << "\"Left\" is not \"left\"";
    EXPECT_EQ(spectrum.GetMediumRange().right, 300);
    EXPECT_EQ(spectrum.GetTrebleRange().left, 400);
    EXPECT_EQ(std::string(spectrum.GetName()), longName.substr(0, 63));

    // A NAME without its attribute changes nothing and logs nothing.
    path = folder.Write("noname.xml", "<NAME value=\"x\"/>\n<BASS left=\"1\" right=\"2\" scale=\"1\"/>\n");
    LogWatch log;
    ASSERT_TRUE(spectrum.Load(path.c_str()));
    EXPECT_STREQ(spectrum.GetName(), "default");
    EXPECT_EQ(log.Added().find("setting name"), std::string::npos);

    // A later BASS replaces an earlier one; children are never visited.
    path = folder.Write("twice.xml",
        "<BASS left=\"1\" right=\"2\" scale=\"1\"><TREBLE left=\"7\" right=\"8\" scale=\"1\"/></BASS>\n"
        "<BASS left=\"3\" right=\"9\" scale=\"1\"/>\n");
    ASSERT_TRUE(spectrum.Load(path.c_str()));
    EXPECT_EQ(spectrum.GetBassRange().left, 3);
    EXPECT_EQ(spectrum.GetBassRange().right, 9);
    EXPECT_EQ(spectrum.GetTrebleRange().left, 384);
}

TEST(Spectrum, FailedOrWrappedFilesGiveTheDefaults)
{
    TempFolder folder;
    std::string good = folder.Write("good.xml",
        "<NAME name=\"Good\"/>\n<COEF left=\"0\" right=\"10\" scale=\"2\"/>\n"
        "<BASS left=\"3\" right=\"9\" scale=\"4\"/>\n");
    std::string broken = folder.Write("broken.xml", "<NAME name=\"Broken\"/>\n<BASS left=\"3\"");
    std::string wrapped = folder.Write("wrapped.xml",
        "<PROFILE>\n<NAME name=\"Wrapped\"/>\n<BASS left=\"3\" right=\"9\" scale=\"4\"/>\n</PROFILE>\n");
    std::string missing = folder.Write("dummy", "") + "_missing.xml";
    // Nested far deeper than TinyXML's recursion can go.
    std::string deep = folder.Write("deep.xml", "<NAME name=\"Deep\"/>\n" + testing_support::NestedXml("COEF", 100000));

    CSpectrum spectrum;
    for (const std::string& path : {missing, broken, deep})
    {
        ASSERT_TRUE(spectrum.Load(good.c_str()));
        EXPECT_STREQ(spectrum.GetName(), "Good");
        LogWatch log;
        EXPECT_FALSE(spectrum.Load(path.c_str())) << path;
        ExpectDefaults(spectrum);
        std::string added = log.Added();
        EXPECT_NE(added.find("[       CSpectrum::  51]\t\terror loading file\n"), std::string::npos) << added;
        EXPECT_NE(added.find("SPECTRUM LOADER Tab End"), std::string::npos);
        const std::string tooDeep = "[       CSpectrum::  50]\t\telements nested deeper than 256 levels in " + deep + "\n";
        EXPECT_EQ(added.find(tooDeep) != std::string::npos, path == deep) << added;
    }

    ASSERT_TRUE(spectrum.Load(good.c_str()));
    EXPECT_TRUE(spectrum.Load(wrapped.c_str()));
    ExpectDefaults(spectrum);

    // Reset alone drops the profile too.
    ASSERT_TRUE(spectrum.Load(good.c_str()));
    spectrum.Reset();
    ExpectDefaults(spectrum);
}

TEST(Spectrum, OddRangesStayInsideTheBins)
{
    TempFolder folder;
    std::string path = folder.Write("odd.xml",
        "<COEF left=\"5\" right=\"5\" scale=\"9\"/>\n"        // empty: changes nothing
        "<COEF left=\"500\" right=\"1000\" scale=\"0.5\"/>\n" // right read as 576
        "<COEF left=\"-40\" right=\"2\" scale=\"0.25\"/>\n"   // left read as 0
        "<COEF left=\"99999\" right=\"100\" scale=\"0\"/>\n"  // reversed: nothing
        "<COEF left=\"-99999\" right=\"-5\" scale=\"0\"/>\n"  // reversed once clamped
        "<COEF left=\"3000000000\" right=\"4000000000\" scale=\"0\"/>\n"
        "<BASS left=\"7\" right=\"7\" scale=\"2\"/>\n"
        "<MEDIUM/>\n"
        "<TREBLE left=\"abc\" right=\"12xyz\" scale=\"0.5.5\"/>\n");

    CSpectrum spectrum;
    ASSERT_TRUE(spectrum.Load(path.c_str()));
    const std::vector<CSpectrumRange>& coefs = spectrum.GetCoefs();
    ASSERT_EQ(coefs.size(), 6u);
    EXPECT_EQ(coefs[1].right, 576);
    EXPECT_EQ(coefs[2].left, 0);
    EXPECT_EQ(coefs[3].left, 99999);
    EXPECT_EQ(coefs[4].left, 0);
    EXPECT_EQ(coefs[4].right, -5);
    for (const CSpectrumRange& coef : coefs)
    {
        EXPECT_GE(coef.left, 0);
        EXPECT_LE(coef.right, 576);
    }
    // Text that is not a number reads as its leading number, else 0.
    EXPECT_EQ(spectrum.GetTrebleRange().left, 0);
    EXPECT_EQ(spectrum.GetTrebleRange().right, 12);
    EXPECT_FLOAT_EQ(spectrum.GetTrebleRange().scale, 0.5f);
    EXPECT_EQ(spectrum.GetMediumRange().left, 0);
    EXPECT_EQ(spectrum.GetMediumRange().right, 0);
    EXPECT_EQ(spectrum.GetMediumRange().scale, 0.0f);
    EXPECT_STREQ(spectrum.GetName(), "default");

    CVisModule full = MakeRecord(1, 255, 0);
    spectrum.Update(&full);
    EXPECT_FLOAT_EQ(spectrum.GetBins()[0], 0.25f);
    EXPECT_FLOAT_EQ(spectrum.GetBins()[1], 0.25f);
    EXPECT_FLOAT_EQ(spectrum.GetBins()[5], 1.0f);
    EXPECT_FLOAT_EQ(spectrum.GetBins()[499], 1.0f);
    EXPECT_FLOAT_EQ(spectrum.GetBins()[500], 0.5f);
    EXPECT_FLOAT_EQ(spectrum.GetBins()[575], 0.5f);

    // A band whose left equals its right has level 0, never not-a-number.
    EXPECT_EQ(spectrum.GetBass(), 0.0);
    EXPECT_EQ(spectrum.GetMedium(), 0.0);
    EXPECT_FALSE(isnan(spectrum.GetTreble()));
    EXPECT_FLOAT_EQ(static_cast<float>(spectrum.GetTreble()), 0.5f * (2 * 0.25f + 10 * 1.0f) / 12);
    EXPECT_STREQ(spectrum.GetName(), "default") << "bins never spill into the name";

    // Ranges built in code are clipped to the bins as well.
    EXPECT_DOUBLE_EQ(spectrum.GetRangeLevel({-1000, 1000000, 1.0f}), spectrum.GetRangeLevel({0, 576, 1.0f}));
    EXPECT_EQ(spectrum.GetRangeLevel({600, 700, 1.0f}), 0.0);
    EXPECT_EQ(spectrum.GetRangeLevel({300, 200, 1.0f}), 0.0);
}

TEST(Spectrum, ShippedProfilesLoadWithTheirNames)
{
    const std::string data = std::string(VELMORA_SOURCE_DIR) + "/data/";
    std::string list = ReadFile(data + "spectrum.xml");
    ASSERT_FALSE(list.empty());

    // Every listed profile loads, names itself and keeps its bands in the bins.
    std::vector<std::string> names;
    size_t at = 0;
    int listed = 0;
    while ((at = list.find("name=\"", at)) != std::string::npos)
    {
        at += 6;
        std::string relative = list.substr(at, list.find('"', at) - at);
        ++listed;
        CSpectrum spectrum;
        ASSERT_TRUE(spectrum.Load((data + relative).c_str())) << relative;
        std::string name = spectrum.GetName();
        EXPECT_NE(name, "default") << relative;
        EXPECT_FALSE(name.empty());
        for (const std::string& other : names)
            EXPECT_NE(other, name);
        names.push_back(name);
        for (const CSpectrumRange* band :
             {&spectrum.GetBassRange(), &spectrum.GetMediumRange(), &spectrum.GetTrebleRange()})
        {
            EXPECT_LT(band->left, band->right) << relative;
            EXPECT_GE(band->left, 0);
            EXPECT_LE(band->right, 576);
            EXPECT_GT(band->scale, 0.0f);
        }
        EXPECT_LE(spectrum.GetBassRange().left, spectrum.GetMediumRange().left);
        EXPECT_LE(spectrum.GetMediumRange().left, spectrum.GetTrebleRange().left);
    }
    EXPECT_GE(listed, 4);
    EXPECT_NE(list.find("\"spectrum/default.xml\""), std::string::npos);
}
