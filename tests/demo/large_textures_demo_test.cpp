// The demo with a picture of 4096 x 4096 (a PNG of under 1 MB) as its veil and
// as each of its 11 menu images: the device's texture memory takes the veil
// and the first image, each further image is refused with its log line, and
// the frames go on, within that memory and one picture more.
#include <gtest/gtest.h>

#include "large_png.h"
#include "module_session.h"
#include "peak_memory.h"
#include "test_support.h"

#include <sys/stat.h>
#include <unistd.h>

#include <string>

using namespace testing_support;

namespace {

class LargeTextures : public ModuleSession
{
protected:
    bool LinkBuiltProfiles() const override { return false; }
    bool StartModule() const override { return false; }

    // The build's data folder, with the large picture under every texture name.
    void PrepareData() override
    {
        LinkBuiltData("textures");
        const std::string picture = LargePng(std::string(VELMORA_BINARY_DIR) + "/demo_large_texture.png");
        ASSERT_FALSE(picture.empty());
        ASSERT_EQ(mkdir((dataDir + "/textures").c_str(), 0755), 0);
        ASSERT_EQ(symlink(picture.c_str(), (dataDir + "/textures/white.tga").c_str()), 0);
        for (int i = 0; i < 11; ++i)
        {
            const std::string name = dataDir + "/textures/menu" + std::to_string(i) + ".tga";
            ASSERT_EQ(symlink(picture.c_str(), name.c_str()), 0);
        }
    }
};

size_t Count(const std::string& text, const std::string& part)
{
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

} // namespace

TEST_F(LargeTextures, TexturesPastTheCardsMemoryAreRefusedAndLogged)
{
    PeakMemory peak;
    ASSERT_TRUE(peak.Start());
    ASSERT_EQ(host.Init(), 0) << NewLog();
    for (int i = 0; i < 4; ++i)
        Frame();
    const long long used = peak.Peak();
    RecordProperty("PeakBytes", std::to_string(used));

    const std::string log = NewLog();
    EXPECT_EQ(log.find("failed to load the veil"), std::string::npos) << log;
    EXPECT_EQ(Count(log, "error loading texture "), 10u) << log;
    // Named once as it is loaded, and again when refused.
    EXPECT_EQ(Count(log, "\\menu0.tga\n"), 1u) << log;
    for (int i = 1; i < 11; ++i)
        EXPECT_EQ(Count(log, "\\menu" + std::to_string(i) + ".tga\n"), 2u) << i;
    int width = 0, height = 0;
    EXPECT_NE(VelmoraGetWindowPicture(host.RenderWindow(), &width, &height), nullptr);
    // The device's 256 MB, the picture while it is decoded, and the demo itself;
    // the four copies of each picture the decode made before came to 1.26 GB.
    EXPECT_LT(used, (long long)(256 << 20) + (long long)kLargePicture + (64 << 20)) << used / (1 << 20) << " MB";
}

// A card with no texture memory at all: every texture of the demo is refused
// (render target, veil, font pages, menu images) and the frames still come.
TEST_F(LargeTextures, ACardWithoutTextureMemoryStillDrawsFrames)
{
    VelmoraSetTextureMemory(0);
    const int init = host.Init();
    for (int i = 0; i < 4 && init == 0; ++i)
        Frame();
    VelmoraResetGraphicsCard();
    ASSERT_EQ(init, 0) << NewLog();
    const std::string log = NewLog();
    EXPECT_NE(log.find("error creating renderTexture"), std::string::npos) << log;
    EXPECT_NE(log.find("ERROR : failed to load the veil"), std::string::npos) << log;
    EXPECT_EQ(Count(log, "error loading texture "), 11u) << log;
    int width = 0, height = 0;
    EXPECT_NE(VelmoraGetWindowPicture(host.RenderWindow(), &width, &height), nullptr);
}
