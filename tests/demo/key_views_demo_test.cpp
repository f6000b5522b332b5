// The demo scene's camera keys, each seen at rest: every dancer, and the
// floor, shows whole. A dancer's pixels are those it covers drawn alone; of
// them at least 90 % must show a dancer in the full scene (that dancer, or
// one in front of it), never a speaker, lamp, booth or ball; of the floor's,
// 99 % the floor or a dancer. Neither may reach the picture's edge. The frame is
// drawn again and again with the clock held (no time passes, nothing moves),
// each time with another set of the scene's entities. The booth behind them
// shows its shading at every key, not a slab blown out to white.
#include <gtest/gtest.h>

#include "Entity/Entity.h"
#include "Entity/EntityManager.h"
#include "demo_scene.h"
#include "main.h"
#include "plugin.h"

#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <vector>

using namespace testing_support;

namespace {

// The projection keeps the framing at any window size; this one is small and
// still gives a dancer a few hundred pixels.
const int kWidth = 320;
const int kHeight = 240;

using Pixels = std::vector<DWORD>;
using Mask = std::vector<bool>;

class KeyViews : public ::testing::Test
{
protected:
    void SetUp() override
    {
        std::string error;
        ASSERT_TRUE(scene.Start(error)) << error;
        manager = g_pEntityManager;
        all = manager->m_Entities;
        for (CEntity* entity : all)
        {
            if (entity->GetType() == EntityTypeDancer)
                dancers.push_back(entity);
            else if (entity->GetType() == EntityTypeFloor)
                floor = entity;
        }
        // No step to the next key, nothing under the mouse.
        g_CycleView = 0;
        g_MouseX = 100000;
        g_MouseY = 100000;
    }

    void TearDown() override
    {
        if (manager)
            manager->m_Entities = all;
    }

    // Puts the camera at rest on key `k`; the first frame there hands the
    // effects the new view.
    void RestOn(size_t k)
    {
        manager->m_Camera.Set(manager->m_KeyPositions[k], manager->m_KeyTargets[k]);
        manager->m_Camera.SetGoal(manager->m_KeyPositions[k], manager->m_KeyTargets[k]);
        Draw([](CEntity*) { return true; });
    }

    // The frame again, with the clock held, drawing only the entities `keep` keeps.
    Pixels Draw(const std::function<bool(CEntity*)>& keep)
    {
        std::vector<CEntity*> kept;
        for (CEntity* entity : all)
            if (keep(entity))
                kept.push_back(entity);
        manager->m_Entities = kept;
        manager->SetState(state_none);
        manager->m_pSelected = nullptr;
        g_FrameMs = 0;
        RenderFrame();
        manager->m_Entities = all;
        int width = 0, height = 0;
        const DWORD* pixels = scene.Picture(width, height);
        if (!pixels || width != kWidth || height != kHeight)
            return {};
        Pixels out(pixels, pixels + static_cast<size_t>(width) * height);
        for (DWORD& p : out)
            p &= 0xFFFFFF;
        return out;
    }

    Pixels Without(const CEntity* gone)
    {
        return Draw([&](CEntity* entity) { return entity != gone; });
    }

    Pixels Alone(const CEntity* only)
    {
        return Draw([&](CEntity* entity) { return entity == only; });
    }

    static Mask Differ(const Pixels& a, const Pixels& b)
    {
        Mask m(a.size(), false);
        for (size_t i = 0; i < a.size() && i < b.size(); ++i)
            m[i] = a[i] != b[i];
        return m;
    }

    static size_t Count(const Mask& m)
    {
        size_t n = 0;
        for (bool b : m)
            n += b;
        return n;
    }

    // Whether any of the mask's pixels lies on the picture's edge.
    static bool TouchesEdge(const Mask& m)
    {
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x)
                if (m[static_cast<size_t>(y) * kWidth + x] &&
                    (x == 0 || y == 0 || x == kWidth - 1 || y == kHeight - 1))
                    return true;
        return false;
    }

    // What a key shows of each dancer and of the floor: the share of the
    // pixels each covers drawn alone that show a dancer in the full scene,
    // or (for the floor) the floor itself or a dancer.
    struct Seen
    {
        std::vector<size_t> covered;
        std::vector<double> shown;
        std::vector<bool> whole;  // clear of the picture's edges
    };

    Seen Look(size_t k)
    {
        RestOn(k);
        const Pixels full = Draw([](CEntity*) { return true; });
        EXPECT_EQ(Draw([](CEntity*) { return true; }), full) << "the held frame changed";
        const Pixels empty = Draw([](CEntity*) { return false; });
        Mask anyDancer(full.size(), false);
        for (CEntity* dancer : dancers)
        {
            const Mask shows = Differ(full, Without(dancer));
            for (size_t i = 0; i < shows.size(); ++i)
                anyDancer[i] = anyDancer[i] || shows[i];
        }
        Seen seen;
        std::vector<CEntity*> targets = dancers;
        targets.push_back(floor);
        for (CEntity* target : targets)
        {
            const Mask covers = Differ(Alone(target), empty);
            Mask allowed = anyDancer;
            if (target == floor)
            {
                const Mask itself = Differ(full, Without(floor));
                for (size_t i = 0; i < allowed.size(); ++i)
                    allowed[i] = allowed[i] || itself[i];
            }
            size_t shown = 0;
            for (size_t i = 0; i < covers.size(); ++i)
                shown += covers[i] && allowed[i];
            const size_t n = Count(covers);
            seen.covered.push_back(n);
            seen.shown.push_back(n ? static_cast<double>(shown) / n : 0.0);
            seen.whole.push_back(!TouchesEdge(covers));
        }
        return seen;
    }

    DemoScene scene{kWidth, kHeight};
    CEntityManager* manager = nullptr;
    std::vector<CEntity*> all;
    std::vector<CEntity*> dancers;
    CEntity* floor = nullptr;
};

} // namespace

TEST_F(KeyViews, EveryKeyShowsEachDancerAndTheFloorWhole)
{
    ASSERT_EQ(dancers.size(), 3u);
    ASSERT_NE(floor, nullptr);
    ASSERT_EQ(manager->m_KeyPositions.size(), 5u);
    for (size_t k = 0; k < manager->m_KeyPositions.size(); ++k)
    {
        const Seen seen = Look(k);
        ASSERT_EQ(seen.covered.size(), 4u);
        for (size_t t = 0; t < seen.covered.size(); ++t)
        {
            const std::string what = t < 3 ? "dancer " + std::to_string(t) : std::string("the floor");
            SCOPED_TRACE("key " + std::to_string(k) + ", " + what);
            printf("key %zu %s: %zu pixels, %.1f %% shown\n", k, what.c_str(), seen.covered[t], 100 * seen.shown[t]);
            EXPECT_GT(seen.covered[t], t < 3 ? 100u : 5000u);
            EXPECT_GE(seen.shown[t], t < 3 ? 0.9 : 0.99);
            EXPECT_TRUE(seen.whole[t]);
        }
    }
}

// The spots light the booth's front far past full scale: unpainted, or
// painted too light, it reads as one flat white. Its pixels (those that change
// when it is left out) must keep almost all below white in some channel, and
// no one colour may cover a tenth of them.
TEST_F(KeyViews, EveryKeyShowsTheBoothShadedNotBlownOut)
{
    CEntity* booth = nullptr;
    for (CEntity* entity : all)
        if (entity->GetType() == EntityTypeStatic && entity->m_Transform.position == D3DXVECTOR3(0, 0, 300))
            booth = entity;
    ASSERT_NE(booth, nullptr);
    ASSERT_EQ(manager->m_KeyPositions.size(), 5u);
    for (size_t k = 0; k < manager->m_KeyPositions.size(); ++k)
    {
        SCOPED_TRACE("key " + std::to_string(k));
        RestOn(k);
        const Pixels full = Draw([](CEntity*) { return true; });
        const Mask shows = Differ(full, Without(booth));
        size_t blown = 0, commonest = 0;
        std::map<DWORD, size_t> colours;
        for (size_t i = 0; i < shows.size(); ++i)
        {
            if (!shows[i])
                continue;
            const DWORD c = full[i];
            blown += ((c >> 16) & 0xFF) >= 250 && ((c >> 8) & 0xFF) >= 250 && (c & 0xFF) >= 250;
            commonest = std::max(commonest, ++colours[c]);
        }
        const size_t n = Count(shows);
        printf("key %zu booth: %zu pixels, %zu white, %zu colours, commonest %zu\n", k, n, blown, colours.size(),
               commonest);
        EXPECT_GT(n, 300u);
        EXPECT_LE(blown, n / 100);
        EXPECT_LT(commonest, n / 10);
    }
}
