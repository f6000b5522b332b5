// XML files whose last bytes start a UTF-8 sequence longer than what follows:
// TinyXML would read past its buffer there, so it reads them without the cut
// character, and loads what it can.
#include <gtest/gtest.h>

#include "CSpectrum.h"
#include "XmlTail.h"
#include "test_support.h"

#include <string>

using namespace testing_support;

namespace
{
bool Whole(const std::string& text)
{
    return XmlTailIsWhole(text.data(), text.size());
}

std::string WholePart(const std::string& text)
{
    return text.substr(0, XmlWholeLength(text.data(), text.size()));
}
}

TEST(XmlTail, CompleteSequencesPassAndCutOnesAreFound)
{
    EXPECT_TRUE(Whole(""));
    EXPECT_TRUE(Whole("<a/>"));
    EXPECT_TRUE(Whole("<a/>\r\n"));
    EXPECT_TRUE(Whole("<a n=\"caf\xC3\xA9\"/>"));
    EXPECT_TRUE(Whole("<a/>caf\xC3\xA9"));     // two bytes, both there
    EXPECT_TRUE(Whole("<a/>\xE2\x82\xAC"));     // three
    EXPECT_TRUE(Whole("<a/>\xF0\x9F\x8E\xB5")); // four
    EXPECT_TRUE(Whole("\xC3\xA9"));

    EXPECT_FALSE(Whole("<a n=\"Ri\xC8"));
    EXPECT_FALSE(Whole("<a/>\xE2\x82"));
    EXPECT_FALSE(Whole("<a/>\xF0\x9F\x8E"));
    EXPECT_FALSE(Whole("<a/>\xEF"));
    EXPECT_FALSE(Whole("\xF0"));
    // Line ends become one newline before TinyXML parses: that shortens the tail.
    EXPECT_FALSE(Whole("<a/>\xE0\r\n"));
    EXPECT_TRUE(Whole("<a/>\xE0\r\n\r\n"));
    EXPECT_FALSE(Whole("<a/>\xF0\r\n\r\n"));
}

TEST(XmlTail, TheWholePartEndsBeforeTheCutCharacters)
{
    for (const char* whole : {"", "<a/>", "<a/>\r\n", "<a/>caf\xC3\xA9", "<a/>\xF0\x9F\x8E\xB5"})
        EXPECT_EQ(WholePart(whole), whole);
    EXPECT_EQ(WholePart("<a/>\xE2\x82"), "<a/>");
    EXPECT_EQ(WholePart("<a/>\xF0\x9F\x8E"), "<a/>");
    EXPECT_EQ(WholePart("<a/>caf\xC3\xA9\xC3"), "<a/>caf\xC3\xA9");
    EXPECT_EQ(WholePart("<a/>\xE0\r\n"), "<a/>");
    EXPECT_EQ(WholePart("\xF0"), "");
    // Cutting the last character can leave the one before it cut.
    EXPECT_EQ(WholePart("<a/>\xE2\x82\xC3"), "<a/>");
    EXPECT_EQ(WholePart("<a n=\"Ri\xC8\xC8\xC8"), "<a n=\"Ri");
}

TEST(XmlTail, AProfileCutInsideAnAttributeStillFailsLikeABrokenOne)
{
    TempFolder folder;
    const std::string good = "<NAME name=\"Caf\xC3\xA9\"/><BASS left=\"0\" right=\"10\" scale=\"2\"/>\n";
    ASSERT_TRUE(WriteFile(folder / "good.xml", good));
    CSpectrum spectrum;
    ASSERT_TRUE(spectrum.Load((folder / "good.xml").c_str()));
    EXPECT_STREQ(spectrum.GetName(), "Caf\xC3\xA9");

    // What the fuzzer found: the file ends inside an attribute value on a lead
    // byte. TinyXML reads by UTF-8 sequences after a declaration or a byte order mark.
    for (const char* start : {"", "<?xml version=\"1.0\"?>", "\xEF\xBB\xBF"})
    {
        ASSERT_TRUE(WriteFile(folder / "cut.xml", std::string(start) +
                                                      "<NAME name=\"Odd\"/><BASS left=\"0\" right=\"10\" scale=\"2\"/>\n"
                                                      "<TREBLE name=\"Ri\xC8\xC8\xC8"));
        EXPECT_FALSE(spectrum.Load((folder / "cut.xml").c_str()));
        EXPECT_STREQ(spectrum.GetName(), "default");
        EXPECT_EQ(spectrum.GetBassRange().right, 192);
    }

    // A file that cannot be read is TinyXML's to fail.
    EXPECT_FALSE(spectrum.Load((folder / "missing.xml").c_str()));
}

TEST(XmlTail, AStrayLeadByteAfterTheLastElementLeavesTheProfileWhole)
{
    TempFolder folder;
    const std::string good =
        "<?xml version=\"1.0\"?><NAME name=\"Caf\xC3\xA9\"/><BASS left=\"3\" right=\"10\" scale=\"2\"/>\r\n";
    for (const char* stray : {"\xC3", "\xE2\x82", "\xF0\r\n", "\xC3\xA9\xE2"})
    {
        ASSERT_TRUE(WriteFile(folder / "stray.xml", good + stray));
        CSpectrum spectrum;
        EXPECT_TRUE(spectrum.Load((folder / "stray.xml").c_str())) << stray;
        EXPECT_STREQ(spectrum.GetName(), "Caf\xC3\xA9");
        EXPECT_EQ(spectrum.GetBassRange().left, 3);
        EXPECT_EQ(spectrum.GetBassRange().right, 10);
    }
    // Long files too: the whole file is read, not only its tail.
    ASSERT_TRUE(WriteFile(folder / "long.xml", std::string(100000, ' ') + good + "\xC3"));
    CSpectrum spectrum;
    EXPECT_TRUE(spectrum.Load((folder / "long.xml").c_str()));
    EXPECT_EQ(spectrum.GetBassRange().left, 3);
}
