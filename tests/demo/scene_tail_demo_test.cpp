// The demo scene file with a stray UTF-8 lead byte after its last element:
// the module loads every entity of it, as from the file without the byte.
#include <gtest/gtest.h>

#include "Entity/EntityManager.h"
#include "d3d_stuff.h"
#include "module_session.h"
#include "test_support.h"

#include <string>

using namespace testing_support;

namespace {

class StraySceneByte : public ModuleSession, public ::testing::WithParamInterface<const char*>
{
protected:
    bool LinkBuiltProfiles() const override { return false; }

    // The build's data folder, but for a copy of the scene file with the parameter at its end.
    void PrepareData() override
    {
        LinkBuiltData("scene.xml");
        std::string scene;
        ASSERT_TRUE(ReadFile(std::string(VELMORA_PLUGIN_DIR) + "/data/scene.xml", scene));
        ASSERT_TRUE(WriteFile(dataDir + "/scene.xml", scene + GetParam()));
    }
};

TEST_P(StraySceneByte, EveryEntityLoads)
{
    ASSERT_NE(g_pEntityManager, nullptr);
    // 4 objects, 3 agents, 3 dancers, 3 spots and the floor; 5 camera keys; 11 menu images.
    EXPECT_EQ(g_pEntityManager->m_Entities.size(), 14u);
    EXPECT_EQ(g_pEntityManager->m_KeyPositions.size(), 5u);
    for (CTexture* texture : g_pEntityManager->m_MenuTextures)
        EXPECT_NE(texture, nullptr);
    EXPECT_EQ(NewLog().find("error loading file"), std::string::npos) << NewLog();
}

INSTANTIATE_TEST_SUITE_P(Ends, StraySceneByte, ::testing::Values("", "\xC3", "\n\xE2\x82"));

} // namespace
