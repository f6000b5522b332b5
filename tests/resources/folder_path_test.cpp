// A resource path that names a folder fails like a missing file, with the
// loader's own line.
#include <gtest/gtest.h>

#include "Resource/GraphicObject.h"
#include "Resource/ResourceManager.h"
#include "Resource/Shader.h"
#include "Resource/Texture.h"
#include "resource_test_support.h"

#include <sys/stat.h>

#include <string>
#include <vector>

namespace {

using restest::LogWatch;

class FolderPaths : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_EQ(mkdir(path.c_str(), 0755), 0); }

    restest::BoundDevice bound;
    testing_support::TempFolder folder;
    const std::string path = folder / "textures";
};

TEST_F(FolderPaths, EveryResourceKindRefusesAFolder)
{
    CResourceManager manager;
    for (const std::string& name : {path, path + "/"})
    {
        LogWatch log;
        EXPECT_EQ(manager.GetTexture(name), nullptr);
        EXPECT_EQ(manager.GetShader(name), nullptr);
        EXPECT_EQ(manager.GetGraphicObject(name), nullptr);
        EXPECT_EQ(log.Messages(),
                  (std::vector<std::string>{"loading " + name, "CTEXTURE constructor", "error loading texture " + name,
                                            "CTEXTURE destructor", "loading " + name, "CSHADER constructor",
                                            "CSHADER destructor", "loading " + name, "CGRAPHICOBJ constructor",
                                            "Cannot Load the Object " + name, "CGRAPHICOBJ  destructor"}));
    }

    IDirect3DTexture9* texture = nullptr;
    EXPECT_TRUE(FAILED(D3DXCreateTextureFromFileA(g_pDevice, path.c_str(), &texture)));
    EXPECT_EQ(texture, nullptr);
    ID3DXEffect* effect = nullptr;
    EXPECT_EQ(D3DXCreateEffectFromFileA(g_pDevice, path.c_str(), nullptr, nullptr, 0, nullptr, &effect, nullptr),
              D3DERR_NOTFOUND);
    EXPECT_EQ(effect, nullptr);
}

} // namespace
