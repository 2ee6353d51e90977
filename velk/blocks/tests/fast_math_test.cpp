#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

#include "velk/blocks/fast_math.hpp"

#include <gtest/gtest.h>

namespace {

using velk::blocks::fast_exp;
using velk::blocks::fast_ln;
using velk::blocks::pick;

// The distance from `got` to `exact` in units in the last place of a float near `exact`.
double ulps(float got, double exact) {
    const int exponent = std::ilogb(exact);
    return std::fabs(static_cast<double>(got) - exact) / std::ldexp(1.0, exponent - 23);
}

// Every `stride`-th float from `lo` to `hi`, so that each binade is sampled evenly.
template <typename F>
void sweep(float lo, float hi, std::uint32_t stride, F check) {
    const auto last = std::bit_cast<std::uint32_t>(hi);
    for (auto b = std::bit_cast<std::uint32_t>(lo);
         b <= last && b >= std::bit_cast<std::uint32_t>(lo); b += stride)
        check(std::bit_cast<float>(b));
    check(hi);
}

TEST(FastMath, LogStaysWithinThreeUnitsOverTheNormalRange) {
    double worst = 0.0;
    float worst_at = 0.0f;
    sweep(std::numeric_limits<float>::min(), std::numeric_limits<float>::max(), 1009, [&](float x) {
        const double exact = std::log(static_cast<double>(x));
        // Near 1 the result itself goes to 0; there the bound is absolute.
        const double err = std::fabs(exact) < 1e-3
                               ? std::fabs(static_cast<double>(fast_ln(x)) - exact) / 0x1p-33
                               : ulps(fast_ln(x), exact);
        if (err > worst) {
            worst = err;
            worst_at = x;
        }
    });
    EXPECT_LE(worst, 3.0) << "at " << worst_at;
    EXPECT_EQ(fast_ln(1.0f), 0.0f);
}

TEST(FastMath, ExpStaysWithinOneAndAHalfUnitsAndLimitsItsInput) {
    double worst = 0.0;
    float worst_at = 0.0f;
    const auto check = [&](float y) {
        const double err = ulps(fast_exp(y), std::exp(static_cast<double>(y)));
        if (err > worst) {
            worst = err;
            worst_at = y;
        }
    };
    sweep(0.0f, 88.0f, 1009, check);
    sweep(-0.0f, -87.0f, 1009, check);
    EXPECT_LE(worst, 1.5) << "at " << worst_at;
    EXPECT_EQ(fast_exp(0.0f), 1.0f);
    EXPECT_EQ(fast_exp(-1000.0f), fast_exp(-87.0f));
    EXPECT_EQ(fast_exp(1000.0f), fast_exp(88.0f));
    EXPECT_TRUE(std::isfinite(fast_exp(std::numeric_limits<float>::infinity())));
}

TEST(FastMath, NanPassesThroughAndPickSelectsBits) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_TRUE(std::isnan(fast_ln(nan)));
    EXPECT_TRUE(std::isnan(fast_exp(nan)));
    EXPECT_EQ(std::bit_cast<std::uint32_t>(pick(true, -0.0f, 0.0f)), 0x80000000u);
    EXPECT_EQ(std::bit_cast<std::uint32_t>(pick(false, -0.0f, 0.0f)), 0u);
}

} // namespace
