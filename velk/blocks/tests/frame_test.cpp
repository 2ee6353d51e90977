#include "velk/blocks/frame.hpp"

#include <gtest/gtest.h>

namespace {

TEST(Frame, ResetMakesZeroedRowsAndEmptyLength) {
    velk::blocks::Frame frame(3);
    frame.len = 32;
    frame.row(2)[31] = 1.0f;
    frame.reset(2);
    EXPECT_EQ(frame.channels(), 2u);
    EXPECT_EQ(frame.len, 0u);
    for (std::size_t ch = 0; ch < 2; ++ch)
        for (float s : frame.row(ch))
            EXPECT_EQ(s, 0.0f);
}

} // namespace
