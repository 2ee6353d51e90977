#include <memory>
#include <vector>

#include "velk/test/alloc.hpp"

#include <gtest/gtest.h>

namespace {

TEST(NoAllocScope, CountsThisThreadsAllocations) {
    if (!velk::test::counting_allocations())
        GTEST_SKIP() << "allocations are not counted in this build";
    velk::test::NoAllocScope scope;
    EXPECT_EQ(scope.count(), 0u);
    auto p = std::make_unique<int>(3);
    std::vector<int> v(10);
    EXPECT_EQ(scope.count(), 2u);
}

} // namespace
