// The ring menu: its states, animation, band levels, hit tests, clamping and images.
#include "Menu/Menu.h"
#include "Resource/Texture.h"
#include "scene_test_support.h"

#include <cmath>

namespace {

using scenetest::SceneTest;

class MenuTest : public SceneTest
{
protected:
    // A menu with every button enabled, centred at (320, 240), already open.
    CMenu OpenMenu()
    {
        CMenu menu;
        for (int i = 0; i < MenuButtonCount; ++i)
            menu.EnableButton(i, true);
        menu.m_CentreX = 320.0f;
        menu.m_CentreY = 240.0f;
        menu.Open();
        menu.Update(0.3f);
        return menu;
    }
};

TEST_F(MenuTest, StartsClosedWithTheTemplateReferences)
{
    CMenu menu;
    EXPECT_EQ(menu.GetState(), CMenu::StateClosed);
    EXPECT_FALSE(menu.IsOpen());
    for (int i = 0; i < MenuButtonCount; ++i) {
        EXPECT_FALSE(menu.GetButton(i).enabled);
        EXPECT_EQ(menu.GetButton(i).reference, i >= 2 && i <= 5 ? RefUnlinked : RefNone) << i;
        EXPECT_EQ(menu.GetButton(i).texture, nullptr);
    }
}

TEST_F(MenuTest, OpenAndCloseActOnlyFromTheirRestingState)
{
    CMenu menu;
    menu.Close();
    EXPECT_EQ(menu.GetState(), CMenu::StateClosed);

    menu.Open();
    EXPECT_EQ(menu.GetState(), CMenu::StateOpening);
    menu.Close();  // still opening: ignored
    menu.Update(0.3f);
    EXPECT_EQ(menu.GetState(), CMenu::StateOpen);
    EXPECT_TRUE(menu.IsOpen());

    menu.Close();
    EXPECT_EQ(menu.GetState(), CMenu::StateClosing);
    EXPECT_FALSE(menu.IsOpen());
    menu.Open();  // still closing: ignored
    menu.Update(0.3f);
    EXPECT_EQ(menu.GetState(), CMenu::StateClosed);
    EXPECT_EQ(menu.GetProgress(), 0.0f);
}

TEST_F(MenuTest, ProgressExactlyOneFinishesOnlyAtTheNextUpdate)
{
    CMenu menu;
    menu.Open();
    menu.Update(0.125f);
    menu.Update(0.125f);
    EXPECT_EQ(menu.GetProgress(), 1.0f);
    EXPECT_EQ(menu.GetState(), CMenu::StateOpening);
    menu.Update(0.0001f);
    EXPECT_EQ(menu.GetState(), CMenu::StateOpen);
    EXPECT_EQ(menu.GetProgress(), 0.0f);
}

TEST_F(MenuTest, HitTestsFindEnabledButtonsOfAnOpenMenuOnly)
{
    CMenu menu;
    menu.EnableButton(0, true);
    menu.EnableButton(3, true);
    menu.m_CentreX = 320.0f;
    menu.m_CentreY = 240.0f;
    int button = -1;
    // Button 0 lies at (420, 240).
    EXPECT_FALSE(menu.HitTest(420, 240, button));
    menu.Open();
    menu.Update(0.1f);
    EXPECT_FALSE(menu.HitTest(420, 240, button)) << "opening";
    menu.Update(0.2f);
    ASSERT_TRUE(menu.HitTest(420, 240, button));
    EXPECT_EQ(button, 0);

    // Exactly 25 pixels away hits; a little further does not.
    EXPECT_TRUE(menu.HitTestButton(445.0f, 240.0f, 0));
    EXPECT_TRUE(menu.HitTestButton(420.0f, 265.0f, 0));
    EXPECT_FALSE(menu.HitTestButton(445.01f, 240.0f, 0));

    // A disabled button is not hit.
    float x, y;
    menu.GetButtonPoint(1, x, y);
    EXPECT_FALSE(menu.HitTest(static_cast<int>(x), static_cast<int>(y), button));
    menu.GetButtonPoint(3, x, y);
    ASSERT_TRUE(menu.HitTest(static_cast<int>(x), static_cast<int>(y), button));
    EXPECT_EQ(button, 3);

    // The hovered button reads the global mouse.
    g_MouseX = 420;
    g_MouseY = 240;
    ASSERT_TRUE(menu.GetHoveredButton(button));
    EXPECT_EQ(button, 0);

    menu.Close();
    EXPECT_FALSE(menu.HitTest(420, 240, button)) << "closing";
}

TEST_F(MenuTest, ButtonPointsLieOnTheRingAndTruncate)
{
    CMenu menu;
    menu.m_CentreX = 320.5f;
    menu.m_CentreY = 240.0f;
    for (int i = 0; i < MenuButtonCount; ++i) {
        float x, y;
        menu.GetButtonPoint(i, x, y);
        EXPECT_NEAR(std::hypot(x - 320.5f, y - 240.0f), 100.0f, 1e-3f);
        const float a = i * 0.57118416f;
        EXPECT_NEAR(x, 320.5f + 100.0f * std::cos(a), 1e-3f);
        EXPECT_NEAR(y, 240.0f + 100.0f * std::sin(a), 1e-3f);
        int ix, iy;
        menu.GetButtonPosition(i, ix, iy);
        EXPECT_EQ(ix, static_cast<int>(x));
        EXPECT_EQ(iy, static_cast<int>(y));
    }
    // Screen y grows downwards: button 2 is below the centre.
    float x, y;
    menu.GetButtonPoint(2, x, y);
    EXPECT_GT(y, 240.0f);
}

TEST_F(MenuTest, LinkedButtonsAccumulateTheirBandAndUnlinkingClears)
{
    CMenu menu;
    menu.GetButton(2).reference = RefBass;
    menu.GetButton(3).reference = RefTreble;
    g_fBass = 0.5f;
    g_fTreble = 0.25f;
    menu.Update(0.025f);
    menu.Update(0.025f);
    EXPECT_FLOAT_EQ(menu.GetButton(2).level, 0.5f);
    EXPECT_FLOAT_EQ(menu.GetButton(2).accumulatedLevel, 1.0f);
    EXPECT_FLOAT_EQ(menu.GetButton(3).accumulatedLevel, 0.5f);
    EXPECT_EQ(menu.GetButton(4).accumulatedLevel, 0.0f);

    menu.GetButton(2).reference = RefUnlinked;
    menu.Update(0.025f);
    EXPECT_EQ(menu.GetButton(2).level, 0.0f);
    EXPECT_EQ(menu.GetButton(2).accumulatedLevel, 0.0f);
}

TEST_F(MenuTest, RenderClampsTheCentreAwayFromTheEdges)
{
    CMenu menu;
    menu.m_CentreX = 10.0f;
    menu.m_CentreY = -50.0f;
    menu.Render();
    EXPECT_EQ(menu.m_CentreX, 120.0f);
    EXPECT_EQ(menu.m_CentreY, 120.0f);
    menu.m_CentreX = 1000.0f;
    menu.m_CentreY = 470.0f;
    menu.Render();
    EXPECT_EQ(menu.m_CentreX, 520.0f);
    EXPECT_EQ(menu.m_CentreY, 360.0f);
}

TEST_F(MenuTest, TexturesGoOnlyToEnabledButtons)
{
    restest::WriteTga(FolderPath("b.tga"), 64, 64, 0xFF00FF00);
    CTexture texture(FolderPath("b.tga"));
    ASSERT_TRUE(texture.Load());
    CTexture* textures[MenuButtonCount] = {};
    textures[0] = &texture;
    textures[1] = &texture;
    textures[7] = &texture;

    CMenu menu;
    menu.EnableButton(0, true);
    menu.EnableButton(7, true);
    menu.EnableButton(8, true);
    restest::LogWatch log;
    menu.SetTextures(textures);
    EXPECT_EQ(menu.GetButton(0).texture, &texture);
    EXPECT_EQ(menu.GetButton(1).texture, nullptr);
    EXPECT_EQ(menu.GetButton(7).texture, &texture);
    EXPECT_EQ(menu.GetButton(8).texture, nullptr);
    EXPECT_EQ(log.Messages(), (std::vector<std::string>{"setting menu textures", "id: 0 texture added",
                                                        "id: 7 texture added"}));
}

TEST_F(MenuTest, OpenMenuDrawsItsImagesAndLogsMissingOnes)
{
    restest::WriteTga(FolderPath("b.tga"), 64, 64, 0xFF00FF00);
    CTexture texture(FolderPath("b.tga"));
    ASSERT_TRUE(texture.Load());
    CMenu menu = OpenMenu();
    for (int i = 1; i < MenuButtonCount; ++i)
        menu.EnableButton(i, i == 4);
    menu.GetButton(0).texture = &texture;

    g_pDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
    g_pDevice->BeginScene();
    restest::LogWatch log;
    menu.Render();
    g_pDevice->EndScene();

    // Button 0's image is centred on (420, 240), drawn at alpha 250 over black.
    const DWORD pixel = m_Bound.device.Pixel(420, 240);
    EXPECT_GT((pixel >> 8) & 0xFF, 0xE0u);
    EXPECT_LT((pixel >> 16) & 0xFF, 0x20u);
    EXPECT_EQ(log.Count("RENDER BUTTON 4: error with the texture"), 1);
    EXPECT_EQ(log.Count("RENDER BUTTON 0: error with the texture"), 0);
}

}  // namespace
