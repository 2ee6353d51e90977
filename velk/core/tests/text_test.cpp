#include <cmath>
#include <limits>

#include "velk/core/text.hpp"

#include <gtest/gtest.h>

namespace {

TEST(Text, ToDoubleAcceptsOnlyWholeDecimalTokens) {
    struct Case {
        const char* token;
        bool ok;
        double value;
    };
    const Case cases[] = {
        {"0", true, 0.0},   {"+1", true, 1.0},      {".5", true, 0.5},        {"5.", true, 5.0},
        {"007", true, 7.0}, {"1E+3", true, 1000.0}, {"-2.5e-1", true, -0.25}, {"", false, 0},
        {".", false, 0},    {"-", false, 0},        {"1e", false, 0},         {"1.2.3", false, 0},
        {"--1", false, 0},  {"+-1", false, 0},      {"1-2", false, 0},        {"inf", false, 0},
        {"nan", false, 0},  {"0x10", false, 0},     {" 1", false, 0},         {"1 ", false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.token);
        const auto v = velk::to_double(c.token);
        ASSERT_EQ(v.has_value(), c.ok);
        if (c.ok) {
            EXPECT_EQ(*v, c.value);
        }
    }
}

TEST(Text, OutOfRangeGivesInfinityOrZero) {
    EXPECT_EQ(*velk::to_double("1e999"), std::numeric_limits<double>::infinity());
    EXPECT_EQ(*velk::to_double("-1e999"), -std::numeric_limits<double>::infinity());
    const double tiny = *velk::to_double("-1e-999");
    EXPECT_EQ(tiny, 0.0);
    EXPECT_TRUE(std::signbit(tiny));
    EXPECT_EQ(*velk::to_double("-0"), 0.0);
    EXPECT_TRUE(std::signbit(*velk::to_double("-0")));
    EXPECT_EQ(*velk::to_float("1e39"), std::numeric_limits<float>::infinity());
    EXPECT_EQ(*velk::to_float("1e-50"), 0.0f);
    EXPECT_EQ(*velk::to_double("4.9406564584124654e-324"),
              std::numeric_limits<double>::denorm_min());
}

TEST(Text, FloatConversionRoundsOnceToFloat) {
    // Rounding through double first would give 1.0000001 for this input.
    EXPECT_EQ(*velk::to_float("1.00000005960464477550"), 1.00000011920928955078125f);
    EXPECT_EQ(*velk::to_float("0.1"), 0.1f);
}

TEST(Text, FormatFloatIsShortestPositional) {
    EXPECT_EQ(velk::format_float(24000.0f), "24000");
    EXPECT_EQ(velk::format_float(-96.0f), "-96");
    EXPECT_EQ(velk::format_float(0.001f), "0.001");
    EXPECT_EQ(velk::format_float(1.5f), "1.5");
    EXPECT_EQ(velk::format_float(0.70710677f), "0.70710677");
    EXPECT_EQ(velk::format_float(1e20f), "100000000000000000000");
    EXPECT_EQ(velk::format_float(-0.0f), "-0");
    EXPECT_EQ(velk::format_float(0.0f), "0");
    EXPECT_EQ(velk::format_float(1e-7f), "0.0000001");
    EXPECT_EQ(velk::format_float(123.456f), "123.456");
    EXPECT_EQ(velk::format_float(std::numeric_limits<float>::infinity()), "inf");
    EXPECT_EQ(velk::format_float(-std::numeric_limits<float>::infinity()), "-inf");
    EXPECT_EQ(velk::format_float(std::numeric_limits<float>::quiet_NaN()), "NaN");
}

TEST(Text, FormatFixedRoundsExactValueTiesToEven) {
    EXPECT_EQ(velk::format_fixed(-18.0, 2), "-18.00");
    EXPECT_EQ(velk::format_fixed(static_cast<double>(0.1f), 2), "0.10");
    EXPECT_EQ(velk::format_fixed(0.125, 2), "0.12");
    EXPECT_EQ(velk::format_fixed(0.375, 2), "0.38");
    EXPECT_EQ(velk::format_fixed(-0.0, 2), "-0.00");
    // 1.005f is slightly below 1.005, so it rounds down.
    EXPECT_EQ(velk::format_fixed(static_cast<double>(1.005f), 2), "1.00");
}

} // namespace
