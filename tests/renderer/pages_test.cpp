// The large queues' allocator: whole pages, kept contents as a vector grows,
// room for over-aligned elements.
#include "renderer/pages.h"

#include <gtest/gtest.h>

#include <stdint.h>

#include <vector>

namespace {

struct alignas(64) Wide {
    float v[20];
};

}  // namespace

TEST(RendererPages, VectorsGrowShrinkAndKeepTheirContents)
{
    std::vector<int, vr::PageAllocator<int>> numbers;
    for (int i = 0; i < 100000; ++i)
        numbers.push_back(i * 3);
    for (int i = 0; i < 100000; i += 997)
        ASSERT_EQ(numbers[(size_t)i], i * 3);
    numbers.resize(10);
    numbers.shrink_to_fit();
    EXPECT_EQ(numbers.back(), 27);

    std::vector<Wide, vr::PageAllocator<Wide>> wide(1000);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(wide.data()) % 4096, 0u);
    wide[999].v[19] = 5.f;
    std::vector<Wide, vr::PageAllocator<Wide>> copy = wide;
    EXPECT_EQ(copy[999].v[19], 5.f);
    EXPECT_THROW(numbers.get_allocator().allocate((size_t)-1 / 2), std::bad_alloc);
}
