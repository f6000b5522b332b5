// Textures and the resource manager: loading once by exact path, sharing,
// failures, and the order of unloading.
#include <gtest/gtest.h>

#include "Resource/ResourceManager.h"
#include "Resource/Texture.h"
#include "resource_test_support.h"

#include <string>
#include <vector>

namespace {

using restest::LogWatch;
using testing_support::TempFolder;

// A resource that records what is done to it.
class RecordingResource : public IResource
{
public:
    RecordingResource(const std::string& name, std::vector<std::string>* journal)
        : IResource(RESOURCE_TEXTURE, name), m_Journal(journal)
    {
    }
    ~RecordingResource() override { m_Journal->push_back("delete " + m_Name); }
    void Init() override {}
    bool Load() override { return true; }
    void Unload() override { m_Journal->push_back("unload " + m_Name); }

private:
    std::vector<std::string>* m_Journal;
};

class Textures : public ::testing::Test
{
protected:
    restest::BoundDevice bound;
    TempFolder folder;
};

TEST_F(Textures, LoadKeepsTheNameAndReleasesTheTextureOnce)
{
    const std::string path = folder / "Menu Pics/Button.TGA";
    ASSERT_EQ(mkdir((folder / "Menu Pics").c_str(), 0755), 0);
    ASSERT_TRUE(restest::WriteTga(path, 4, 4, 0xFF20A040));
    const int liveBefore = VelmoraLiveGraphicsObjects();

    LogWatch log;
    CTexture* texture = new CTexture(path);
    EXPECT_EQ(texture->GetName(), path);
    EXPECT_EQ(texture->GetType(), 0);
    EXPECT_EQ(texture->GetRequestCount(), 0);
    EXPECT_EQ(texture->GetD3DTexture(), nullptr);
    ASSERT_TRUE(texture->Load());
    EXPECT_EQ(texture->GetName(), path);
    IDirect3DTexture9* d3dTexture = texture->GetD3DTexture();
    ASSERT_NE(d3dTexture, nullptr);
    D3DSURFACE_DESC desc;
    d3dTexture->GetLevelDesc(0, &desc);
    EXPECT_EQ(desc.Width, 4u);

    // One reference of ours: after the delete it must be the last one.
    d3dTexture->AddRef();
    delete texture;
    EXPECT_EQ(d3dTexture->Release(), 0u);
    EXPECT_EQ(VelmoraLiveGraphicsObjects(), liveBefore);
    EXPECT_TRUE(log.Has("Texture", 20, "CTEXTURE constructor"));
    EXPECT_TRUE(log.Has("Texture", 21, "CTEXTURE destructor"));

    // Unload twice, or without a load, only clears the pointer.
    CTexture twice(path);
    ASSERT_TRUE(twice.Load());
    twice.Unload();
    EXPECT_EQ(twice.GetD3DTexture(), nullptr);
    twice.Unload();
    EXPECT_EQ(VelmoraLiveGraphicsObjects(), liveBefore);
}

TEST_F(Textures, FailedLoadLeavesNoTextureAndSaysWhy)
{
    const std::string missing = folder / "missing.tga";
    const std::string broken = folder / "broken.tga";
    ASSERT_TRUE(testing_support::WriteFile(broken, "not an image"));
    LogWatch log;
    for (const std::string& path : {missing, broken})
    {
        CTexture texture(path);
        EXPECT_FALSE(texture.Load());
        EXPECT_EQ(texture.GetD3DTexture(), nullptr);
        EXPECT_TRUE(log.Has("Texture", 34, "error loading texture " + path));
    }
    // Without a device nothing loads either.
    g_pDevice = nullptr;
    CTexture texture(missing);
    EXPECT_FALSE(texture.Load());
}

TEST_F(Textures, IsDifferentComparesKindAndExactName)
{
    CTexture a("x/a.tga");
    CTexture same("x/a.tga");
    CTexture other("x/A.tga");
    std::vector<std::string> journal;
    RecordingResource sameNameOtherKind("x/a.tga", &journal);
    EXPECT_FALSE(a.IsDifferent(&same));
    EXPECT_TRUE(a.IsDifferent(&other));
    EXPECT_TRUE(a.IsDifferent(nullptr));
    // Same kind id (the recorder claims texture): not different.
    EXPECT_FALSE(a.IsDifferent(&sameNameOtherKind));
}

class Manager : public Textures
{
protected:
    std::string Picture(const std::string& name, uint32_t colour = 0xFFFFFFFF)
    {
        std::string path = folder / name;
        restest::WriteTga(path, 2, 2, colour);
        return path;
    }
};

TEST_F(Manager, SamePathTwiceGivesOneObjectCountedTwice)
{
    const std::string path = Picture("a.tga");
    LogWatch log;
    {
        CResourceManager manager;
        CTexture* first = manager.GetTexture(path);
        ASSERT_NE(first, nullptr);
        EXPECT_EQ(first->GetRequestCount(), 1);
        CTexture* second = manager.GetTexture(path);
        EXPECT_EQ(second, first);
        EXPECT_EQ(first->GetRequestCount(), 2);
        EXPECT_EQ(manager.Find(path), first);
        EXPECT_EQ(log.Count("loading " + path), 2);
        EXPECT_TRUE(log.Has("ResourceManager", 54, "loading " + path));
        EXPECT_EQ(log.Count("CTEXTURE constructor"), 1);
        EXPECT_EQ(log.Count("CTEXTURE destructor"), 0);
    }
    EXPECT_EQ(log.Count("CTEXTURE destructor"), 1);
}

TEST_F(Manager, CaseAndSlashDifferencesAreDifferentKeys)
{
    ASSERT_EQ(mkdir((folder / "sub").c_str(), 0755), 0);
    const std::string lower = Picture("sub/pic.tga");
    const std::string upper = Picture("sub/PIC.tga");
    const std::string backslashed = folder.Path() + "/sub\\pic.tga";
    CResourceManager manager;
    CTexture* a = manager.GetTexture(lower);
    CTexture* b = manager.GetTexture(upper);
    CTexture* c = manager.GetTexture(backslashed);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    ASSERT_NE(c, nullptr);
    EXPECT_NE(a, b);
    EXPECT_NE(a, c);
    EXPECT_NE(a->GetD3DTexture(), c->GetD3DTexture());
    EXPECT_EQ(c->GetName(), backslashed);
    EXPECT_EQ(a->GetRequestCount(), 1);
    EXPECT_EQ(manager.Find(folder.Path() + "/sub/Pic.tga"), nullptr);
}

TEST_F(Manager, FailedLoadIsNotRememberedAndIsTriedAgain)
{
    const std::string path = folder / "late.tga";
    CResourceManager manager;
    LogWatch log;
    EXPECT_EQ(manager.GetTexture(path), nullptr);
    EXPECT_EQ(manager.Find(path), nullptr);
    EXPECT_EQ(manager.GetTexture(path), nullptr);
    const std::vector<std::string> once = {"loading " + path, "CTEXTURE constructor", "error loading texture " + path,
                                           "CTEXTURE destructor"};
    std::vector<std::string> twice = once;
    twice.insert(twice.end(), once.begin(), once.end());
    EXPECT_EQ(log.Messages(), twice);

    // The file turns up: the next request loads it.
    Picture("late.tga");
    CTexture* texture = manager.GetTexture(path);
    ASSERT_NE(texture, nullptr);
    EXPECT_EQ(texture->GetRequestCount(), 1);
}

TEST_F(Manager, DestructionUnloadsEachOnceInKeyOrder)
{
    std::vector<std::string> journal;
    {
        LogWatch log;
        { CResourceManager empty; }
        EXPECT_TRUE(log.Lines().empty());
    }
    {
        RecordingResource duplicate("a", &journal);
        CResourceManager manager;
        for (const char* name : {"b", "a", "B", "a/x", "\xC3\xA9", "ab"})
            manager.Add(new RecordingResource(name, &journal));
        // A key already filed keeps its first resource.
        manager.Add(&duplicate);
        EXPECT_NE(manager.Find("a"), &duplicate);
        manager.UnloadAll();
        EXPECT_EQ(manager.Find("a"), nullptr);
        // Unloaded objects stay valid until the manager goes; no second unload.
        manager.UnloadAll();
        const std::vector<std::string> unloaded = {"unload B", "unload a", "unload a/x", "unload ab", "unload b",
                                                   "unload \xC3\xA9"};
        EXPECT_EQ(journal, unloaded);
        journal.clear();
    }
    const std::vector<std::string> deleted = {"delete B", "delete a", "delete a/x", "delete ab", "delete b",
                                              "delete \xC3\xA9", "delete a"};
    EXPECT_EQ(journal, deleted);
}

TEST_F(Manager, TexturesLeaveNoDeviceObjectBehind)
{
    const int liveBefore = VelmoraLiveGraphicsObjects();
    {
        CResourceManager manager;
        ASSERT_NE(manager.GetTexture(Picture("one.tga")), nullptr);
        ASSERT_NE(manager.GetTexture(Picture("two.tga")), nullptr);
        EXPECT_GT(VelmoraLiveGraphicsObjects(), liveBefore);
        manager.UnloadAll();
        EXPECT_EQ(VelmoraLiveGraphicsObjects(), liveBefore);
    }
    EXPECT_EQ(VelmoraLiveGraphicsObjects(), liveBefore);
}

}  // namespace
