// XML files whose last bytes start a UTF-8 sequence longer than what follows:
// TinyXML would read past its buffer there, so they are refused before it reads.
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
}

TEST(XmlTail, CompleteSequencesPassAndCutOnesAreRefused)
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

TEST(XmlTail, AProfileCutInsideACharacterFailsLikeABrokenOne)
{
    TempFolder folder;
    const std::string good = "<NAME name=\"Caf\xC3\xA9\"/><BASS left=\"0\" right=\"10\" scale=\"2\"/>\n";
    ASSERT_TRUE(WriteFile(folder / "good.xml", good));
    EXPECT_TRUE(XmlFileEndsWhole((folder / "good.xml").c_str()));
    CSpectrum spectrum;
    ASSERT_TRUE(spectrum.Load((folder / "good.xml").c_str()));
    EXPECT_STREQ(spectrum.GetName(), "Caf\xC3\xA9");

    // What the fuzzer found: the file ends inside an attribute value on a lead byte.
    ASSERT_TRUE(WriteFile(folder / "cut.xml", "<NAME name=\"Odd\"/><BASS left=\"0\" right=\"10\" scale=\"2\"/>\n"
                                              "<TREBLE name=\"Ri\xC8\xC8\xC8"));
    EXPECT_FALSE(XmlFileEndsWhole((folder / "cut.xml").c_str()));
    EXPECT_FALSE(spectrum.Load((folder / "cut.xml").c_str()));
    EXPECT_STREQ(spectrum.GetName(), "default");
    EXPECT_EQ(spectrum.GetBassRange().right, 192);

    // Longer than the bytes read at the end, and a file that cannot be read, are TinyXML's to judge.
    ASSERT_TRUE(WriteFile(folder / "long.xml", std::string(100000, ' ') + good));
    EXPECT_TRUE(XmlFileEndsWhole((folder / "long.xml").c_str()));
    EXPECT_TRUE(XmlFileEndsWhole((folder / "missing.xml").c_str()));
}
