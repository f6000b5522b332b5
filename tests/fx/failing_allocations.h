// Runs a load with one of its allocations failing, for each allocation in
// turn: out of memory must be a failed load, never an exception out of it.
#ifndef VELMORA_FAILING_ALLOCATIONS_H
#define VELMORA_FAILING_ALLOCATIONS_H

#include "allocation_counter.h"

#include <gtest/gtest.h>

#include <functional>

// `load` gives true when it loaded; `check` sees each run in which an
// allocation failed. Every allocation of a small load fails once, a spread
// of them of a large one; the load must succeed again afterwards.
inline void FailEachAllocation(const char* what, const std::function<bool()>& load,
                               const std::function<void()>& check)
{
    const long before = s_Allocations;
    ASSERT_TRUE(load()) << what;
    const long all = s_Allocations - before;
    const long step = all / 300 + 1;
    int failed = 0;
    for (long n = 0; n < all; n += step) {
        s_FailAllocationAfter = n;
        try {
            load();
        } catch (...) {
            ADD_FAILURE() << what << ": an exception left the load at allocation " << n;
        }
        const bool hit = s_FailAllocationAfter < 0;
        s_FailAllocationAfter = -1;
        if (hit) {
            ++failed;
            check();
        }
    }
    EXPECT_GT(failed, 0) << what;
    EXPECT_TRUE(load()) << what << " after the failures";
}

#endif
