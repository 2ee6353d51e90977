#include <limits>

#include "velk/core/ftz.hpp"

#include <gtest/gtest.h>

namespace {

#if defined(__x86_64__) || defined(__aarch64__)
TEST(ScopedFlushToZero, FlushesInsideAndRestoresAfter) {
    const std::uint64_t before = velk::float_control_register();
    volatile float tiny = std::numeric_limits<float>::min();
    {
        velk::ScopedFlushToZero guard;
        EXPECT_NE(velk::float_control_register(), before);
        volatile float half = tiny * 0.5f;
        EXPECT_EQ(half, 0.0f);
    }
    EXPECT_EQ(velk::float_control_register(), before);
    volatile float half = tiny * 0.5f;
    EXPECT_NE(half, 0.0f);
}
#endif

} // namespace
