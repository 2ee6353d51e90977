#include <CoreFoundation/CoreFoundation.h>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>

#include <gtest/gtest.h>

namespace {

/// Reads `n` as `type`, widened to double for comparison.
double read_as(CFNumberRef n, CFNumberType type, Boolean& exact) {
    switch (type) {
    case kCFNumberSInt8Type: {
        SInt8 v = 0;
        exact = CFNumberGetValue(n, type, &v);
        return v;
    }
    case kCFNumberSInt32Type: {
        SInt32 v = 0;
        exact = CFNumberGetValue(n, type, &v);
        return v;
    }
    case kCFNumberSInt64Type: {
        SInt64 v = 0;
        exact = CFNumberGetValue(n, type, &v);
        return static_cast<double>(v);
    }
    case kCFNumberFloat32Type: {
        Float32 v = 0;
        exact = CFNumberGetValue(n, type, &v);
        return static_cast<double>(v);
    }
    default: {
        Float64 v = 0;
        exact = CFNumberGetValue(n, kCFNumberFloat64Type, &v);
        return v;
    }
    }
}

TEST(CFNumber, ConversionsStoreTheNearestValueAndReportLoss) {
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    constexpr double inf = std::numeric_limits<double>::infinity();
    constexpr double two_63 = 9223372036854775808.0;
    struct Case {
        const char* name;
        bool from_float; // created as Float64 from `value`, else as SInt64
        double value;
        CFNumberType to;
        double expected;
        bool exact;
    };
    const Case cases[] = {
        {"int to double", false, -18, kCFNumberFloat64Type, -18, true},
        {"int to float", false, -18, kCFNumberFloat32Type, -18, true},
        {"whole double to int", true, 3.0, kCFNumberSInt32Type, 3, true},
        {"fraction cut toward zero", true, 3.75, kCFNumberSInt32Type, 3, false},
        {"negative fraction cut toward zero", true, -3.75, kCFNumberSInt32Type, -3, false},
        {"large double clamped", true, 1e10, kCFNumberSInt32Type, 2147483647, false},
        {"small double clamped", true, -1e10, kCFNumberSInt32Type, -2147483648.0, false},
        {"NaN to int", true, nan, kCFNumberSInt32Type, 0, false},
        {"2^63 clamped to int64", true, two_63, kCFNumberSInt64Type, two_63, false},
        {"-2^63 fits int64", true, -two_63, kCFNumberSInt64Type, -two_63, true},
        {"double to float rounds", true, 0.1, kCFNumberFloat32Type, static_cast<double>(0.1f),
         false},
        {"double beyond float", true, 1e300, kCFNumberFloat32Type, inf, false},
        {"infinity to float", true, -inf, kCFNumberFloat32Type, -inf, true},
        {"NaN stays NaN", true, nan, kCFNumberFloat64Type, nan, true},
        {"int beyond float precision", false, 16777217, kCFNumberFloat32Type, 16777216, false},
        {"int beyond double precision", false, 9007199254740993.0, kCFNumberFloat64Type,
         9007199254740992.0, false},
        {"int clamped to int8", false, 300, kCFNumberSInt8Type, 127, false},
        {"negative int to int8", false, -1, kCFNumberSInt8Type, -1, true},
        {"int64 clamped to int32", false, 1099511627776.0, kCFNumberSInt32Type, 2147483647, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CFNumberRef n = nullptr;
        if (c.from_float) {
            n = CFNumberCreate(nullptr, kCFNumberFloat64Type, &c.value);
        } else {
            // 2^53 + 1 is written as a double literal, so build it from its exact neighbour.
            const SInt64 v = c.value == 9007199254740993.0 ? (SInt64{1} << 53) + 1
                                                           : static_cast<SInt64>(c.value);
            n = CFNumberCreate(nullptr, kCFNumberSInt64Type, &v);
        }
        ASSERT_NE(n, nullptr);
        Boolean exact = 2;
        const double got = read_as(n, c.to, exact);
        if (std::isnan(c.expected)) {
            EXPECT_TRUE(std::isnan(got));
        } else {
            EXPECT_EQ(got, c.expected);
        }
        EXPECT_EQ(exact, c.exact ? 1 : 0);
        CFRelease(n);
    }
}

TEST(CFNumber, EveryTypeReadsAndWritesItsOwnWidth) {
    struct Case {
        CFNumberType type;
        std::size_t size;
    };
    const Case cases[] = {
        {kCFNumberSInt8Type, 1},   {kCFNumberSInt16Type, 2},   {kCFNumberSInt32Type, 4},
        {kCFNumberSInt64Type, 8},  {kCFNumberFloat32Type, 4},  {kCFNumberFloat64Type, 8},
        {kCFNumberCharType, 1},    {kCFNumberShortType, 2},    {kCFNumberIntType, 4},
        {kCFNumberLongType, 8},    {kCFNumberLongLongType, 8}, {kCFNumberFloatType, 4},
        {kCFNumberDoubleType, 8},  {kCFNumberCFIndexType, 8},  {kCFNumberNSIntegerType, 8},
        {kCFNumberCGFloatType, 8},
    };
    SInt32 seven = 7;
    CFNumberRef source = CFNumberCreate(nullptr, kCFNumberSInt32Type, &seven);
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<long>(c.type));
        // Heap cells of exactly the type's size: a wider access is a reported overflow.
        const auto cell = std::make_unique<unsigned char[]>(c.size);
        EXPECT_TRUE(CFNumberGetValue(source, c.type, cell.get()));
        CFNumberRef copy = CFNumberCreate(nullptr, c.type, cell.get());
        ASSERT_NE(copy, nullptr);
        SInt32 back = 0;
        EXPECT_TRUE(CFNumberGetValue(copy, kCFNumberSInt32Type, &back));
        EXPECT_EQ(back, 7);
        EXPECT_TRUE(CFEqual(copy, source));
        CFRelease(copy);
    }
    CFRelease(source);
}

TEST(CFNumber, UnknownTypesAndNullPointersGiveNothing) {
    SInt32 v = 5;
    EXPECT_EQ(CFNumberCreate(nullptr, static_cast<CFNumberType>(0), &v), nullptr);
    EXPECT_EQ(CFNumberCreate(nullptr, static_cast<CFNumberType>(17), &v), nullptr);
    EXPECT_EQ(CFNumberCreate(nullptr, kCFNumberSInt32Type, nullptr), nullptr);

    CFNumberRef n = CFNumberCreate(nullptr, kCFNumberSInt32Type, &v);
    SInt64 out = -1;
    EXPECT_FALSE(CFNumberGetValue(n, static_cast<CFNumberType>(17), &out));
    EXPECT_EQ(out, -1);
    EXPECT_FALSE(CFNumberGetValue(n, kCFNumberSInt32Type, nullptr));
    CFRelease(n);
}

TEST(CFNumber, FourCharCodesRoundTripAsSignedInts) {
    // Component codes are stored as the same 32 bits read as signed.
    const OSType code = 0xC1A55E5Fu;
    SInt32 stored = 0;
    std::memcpy(&stored, &code, sizeof stored);
    CFNumberRef n = CFNumberCreate(nullptr, kCFNumberSInt32Type, &stored);
    SInt32 back = 0;
    EXPECT_TRUE(CFNumberGetValue(n, kCFNumberSInt32Type, &back));
    OSType code_back = 0;
    std::memcpy(&code_back, &back, sizeof code_back);
    EXPECT_EQ(code_back, code);
    CFRelease(n);
}

} // namespace
