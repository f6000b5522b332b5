// The large queues' allocator: whole pages, room for over-aligned elements,
// and a refusal rather than a wrapped size.
#include "renderer/pages.h"

#include <gtest/gtest.h>

#include <stdint.h>

#include <vector>

namespace {

struct alignas(64) Wide {
    float v[20];
};

}  // namespace

TEST(RendererPages, PagesHoldOverAlignedElementsAndRefuseHugeCounts)
{
    std::vector<Wide, vr::PageAllocator<Wide>> wide(1000);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(wide.data()) % 4096, 0u);
    wide[999].v[19] = 5.f;  // the last element lies inside the pages
    EXPECT_EQ(wide[999].v[19], 5.f);
    vr::PageAllocator<int> numbers;
    EXPECT_THROW(numbers.allocate((size_t)-1 / 2), std::bad_alloc);
}
