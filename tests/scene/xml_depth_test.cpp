// The look at an XML file's nesting that keeps TinyXML's recursive parser
// on its stack, and the scene file refused when it nests too deeply.
#include "XmlDepth.h"
#include "scene_test_support.h"

#include <algorithm>

#include <string>

using testing_support::NestedXml;

namespace {

int Deepest(const std::string& text)
{
    CXmlDepthScan scan;
    scan.Feed(text.data(), text.size());
    return scan.Deepest();
}

// The same text fed a character at a time.
int DeepestByCharacter(const std::string& text)
{
    CXmlDepthScan scan;
    for (char c : text)
        scan.Feed(&c, 1);
    return scan.Deepest();
}

} // namespace

TEST(XmlDepthScan, CountsElementsAsTinyXmlDescendsIntoThem)
{
    const std::pair<const char*, int> cases[] = {
        {"", 0},
        {"plain text > and / alone", 0},
        {"<a/><b/><c></c>", 1},
        {"<a><b><c/></b><d><e>text</e></d></a>", 3},
        {"<CAMERA><key position='1 2 3'/><key/></CAMERA>", 2},
        // Quoted values may hold what looks like tags and ends of tags.
        {"<a x='/>' y=\"<b><c>\"><d/></a>", 2},
        // Comments, CDATA, declarations and unknown tags hold no elements.
        {"<?xml version=\"1.0\"?><!-- <a><b><c> --><a><![CDATA[<b><c>]]></a>", 1},
        {"<!DOCTYPE x><!-->--><a><!---><b>--></a>", 1},
        {"<a>< b><c>", 2},
        {"<_x><\xC3\xA9><z/></\xC3\xA9></_x>", 3},
        // End tags without a start do not let later elements hide.
        {"</a></b><c><d/></c>", 2},
    };
    for (const auto& c : cases)
    {
        EXPECT_EQ(Deepest(c.first), c.second) << c.first;
        EXPECT_EQ(DeepestByCharacter(c.first), c.second) << c.first;
    }
    EXPECT_EQ(Deepest(NestedXml("a", 1000, "<b/>")), 1001);
}

TEST(XmlDepthScan, FilesNestedUpToTheLimitPassAndDeeperOnesAreLogged)
{
    testing_support::TempFolder folder;
    const std::string fine = folder / "fine.xml", deep = folder / "deep.xml";
    ASSERT_TRUE(testing_support::WriteFile(fine, "<!-- our files -->\n" + NestedXml("a", kMaxXmlDepth)));
    ASSERT_TRUE(testing_support::WriteFile(deep, "<!-- one more -->\n" + NestedXml("a", kMaxXmlDepth + 1)));
    restest::LogWatch log;
    EXPECT_TRUE(XmlNestingWithinLimit(fine.c_str(), "src\\test", 7));
    EXPECT_TRUE(XmlNestingWithinLimit((folder / "missing.xml").c_str(), "src\\test", 7));
    EXPECT_TRUE(log.Lines().empty());
    EXPECT_FALSE(XmlNestingWithinLimit(deep.c_str(), "src\\test", 7));
    ASSERT_EQ(log.Lines().size(), 1u);
    EXPECT_EQ(log.Lines()[0], "[            test::   7]\telements nested deeper than 256 levels in " + deep);
}

namespace {

class DeepScene : public scenetest::SceneTest
{
protected:
    void TearDown() override
    {
        manager.Clear();
        SceneTest::TearDown();
    }

    CEntityManager manager;
};

} // namespace

TEST_F(DeepScene, NestingDeeperThanTheLimitFailsTheLoadWithALogLine)
{
    // As deep as we allow: read as usual.
    restest::LogWatch log;
    EXPECT_TRUE(manager.LoadScene(WriteScene("<CAMERA>" + NestedXml("x", kMaxXmlDepth - 1) + "</CAMERA>").c_str()));
    EXPECT_EQ(log.Count("CAMERA 0 key loaded"), 1);

    for (int depth : {kMaxXmlDepth + 1, 100000})
    {
        const std::string path = WriteScene(NestedXml("OBJECT", depth), "deep.xml");
        restest::LogWatch deep;
        EXPECT_FALSE(manager.LoadScene(path.c_str()));
        const std::vector<std::string> lines = deep.Lines();
        const std::vector<std::string> expected = {
            "[   EntityManager::  44]\t\telements nested deeper than 256 levels in " + path,
            "[   EntityManager::  45]\t\terror loading file",
        };
        EXPECT_NE(std::search(lines.begin(), lines.end(), expected.begin(), expected.end()), lines.end())
            << deep.Lines().size();
        EXPECT_TRUE(manager.m_Entities.empty());
    }
}
