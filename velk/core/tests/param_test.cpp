#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "velk/core/param.hpp"

#include <gtest/gtest.h>

namespace {

using velk::Kind;
using velk::ParamInfo;
using velk::ParamSet;

constexpr float INF = std::numeric_limits<float>::infinity();
constexpr float NaN = std::numeric_limits<float>::quiet_NaN();

constexpr std::array<std::string_view, 3> SHAPES{"Sine", "Triangle", "Square"};

constexpr ParamInfo THRESHOLD{.id = "threshold",
                              .name = "Threshold",
                              .unit = "dB",
                              .min = -60.0f,
                              .max = 0.0f,
                              .default_value = -18.0f};
constexpr ParamInfo BYPASS{.id = "bypass", .name = "Bypass", .kind = Kind::Toggle};
// A choice whose default is not whole: kept as it is, also for NaN writes.
constexpr ParamInfo SHAPE{.id = "shape",
                          .name = "Shape",
                          .choices = SHAPES,
                          .min = 0.0f,
                          .max = 2.0f,
                          .default_value = 0.5f,
                          .kind = Kind::Choice};
constexpr ParamInfo TRIM{.id = "trim",
                         .name = "Trim",
                         .unit = "dB",
                         .min = -24.0f,
                         .max = 24.0f,
                         .default_value = 0.0f,
                         .per_channel = true};

constexpr std::array<ParamInfo, 4> TABLE{THRESHOLD, BYPASS, SHAPE, TRIM};

bool same_bits(float a, float b) {
    return std::bit_cast<std::uint32_t>(a) == std::bit_cast<std::uint32_t>(b);
}

TEST(Param, WritesAreSanitised) {
    struct Case {
        const ParamInfo* info;
        float written;
        float stored;
    };
    const Case cases[] = {
        {&THRESHOLD, -30.5f, -30.5f}, {&THRESHOLD, 30.0f, 0.0f}, {&THRESHOLD, -INF, -60.0f},
        {&THRESHOLD, INF, 0.0f},      {&THRESHOLD, NaN, -18.0f}, {&BYPASS, 0.5f, 1.0f},
        {&BYPASS, 0.49f, 0.0f},       {&BYPASS, -3.0f, 0.0f},    {&BYPASS, 7.0f, 1.0f},
        {&SHAPE, 1.5f, 2.0f},         {&SHAPE, 0.5f, 1.0f},      {&SHAPE, 2.5f, 2.0f},
        {&SHAPE, 1.49f, 1.0f},        {&SHAPE, NaN, 0.5f},       {&SHAPE, -INF, 0.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.info->id) + " <- " + std::to_string(c.written));
        velk::Param p(*c.info, 1);
        p.set(c.written);
        EXPECT_TRUE(same_bits(p.get(), c.stored)) << p.get();
        p.set(c.stored == c.info->min ? c.info->max : c.info->min);
        p.set_ch(0, c.written);
        EXPECT_TRUE(same_bits(p.get(), c.stored)) << p.get();
        EXPECT_TRUE(same_bits(c.info->sanitise(c.written), c.stored));
    }
}

TEST(Param, StartsAtTheDefaultInEveryCell) {
    const velk::Param shape(SHAPE, 8);
    EXPECT_EQ(shape.cells(), 1u);
    EXPECT_EQ(shape.get(), 0.5f);
    const velk::Param trim({.id = "trim", .max = 2.0f, .default_value = 1.5f, .per_channel = true},
                           8);
    ASSERT_EQ(trim.cells(), 8u);
    for (std::size_t ch = 0; ch < 8; ++ch)
        EXPECT_EQ(trim.get_ch(ch), 1.5f);
    EXPECT_EQ(trim.info().id, "trim");
}

TEST(Param, OneCellServesEveryChannel) {
    velk::Param p(THRESHOLD, 64);
    ASSERT_EQ(p.cells(), 1u);
    p.set_ch(5, -12.0f);
    EXPECT_EQ(p.get(), -12.0f);
    EXPECT_EQ(p.get_ch(5), -12.0f);
    EXPECT_EQ(p.get_ch(std::numeric_limits<std::size_t>::max()), -12.0f);
}

TEST(Param, PerChannelCellsAreWrittenOneByOneOrAllAtOnce) {
    const ParamSet set = ParamSet::with_channels(TABLE, 64);
    velk::Param& trim = set.at(3);
    ASSERT_EQ(trim.cells(), 64u);

    trim.set(6.0f);
    for (std::size_t ch = 0; ch < 64; ++ch)
        EXPECT_EQ(trim.get_ch(ch), 6.0f) << ch;

    trim.set_ch(3, -3.0f);
    for (std::size_t ch = 0; ch < 64; ++ch)
        EXPECT_EQ(trim.get_ch(ch), ch == 3 ? -3.0f : 6.0f) << ch;
    EXPECT_EQ(trim.get(), 6.0f);

    // Past the last cell lands on the last cell, for writes and reads.
    trim.set_ch(1000, 30.0f);
    EXPECT_EQ(trim.get_ch(63), 24.0f);
    EXPECT_EQ(trim.get_ch(1000), 24.0f);
    EXPECT_EQ(trim.get_ch(62), 6.0f);
}

TEST(ParamSet, CapacityOfZeroOrOneGivesOneCell) {
    for (std::size_t capacity : {0u, 1u}) {
        SCOPED_TRACE(capacity);
        const ParamSet set = ParamSet::with_channels(TABLE, capacity);
        EXPECT_EQ(set.max_channels(), 1u);
        EXPECT_EQ(set.at(3).cells(), 1u);
        set.set_channels(2);
        EXPECT_EQ(set.channels(), 1u);
    }
}

TEST(ParamSet, KeepsTableOrderAndDefaults) {
    const ParamSet set = ParamSet::with_channels(TABLE, 2);
    ASSERT_EQ(set.len(), TABLE.size());
    for (std::size_t i = 0; i < TABLE.size(); ++i) {
        EXPECT_EQ(set.at(i).info().id, TABLE[i].id);
        EXPECT_EQ(set.at(i).get(), TABLE[i].default_value);
    }
    EXPECT_EQ(set.at(3).cells(), 2u);
    EXPECT_EQ(set.channels(), 1u);
    EXPECT_EQ(ParamSet::with_channels({}, 4).len(), 0u);
}

TEST(ParamSet, ChannelCountIsClampedToCapacity) {
    const ParamSet set = ParamSet::with_channels(TABLE, 64);
    struct Case {
        std::size_t written;
        std::size_t stored;
    };
    for (const Case c :
         {Case{0, 1}, Case{1, 1}, Case{2, 2}, Case{64, 64}, Case{65, 64}, Case{1000, 64}}) {
        SCOPED_TRACE(c.written);
        set.set_channels(c.written);
        EXPECT_EQ(set.channels(), c.stored);
    }
}

TEST(ParamSet, HandlesShareOneBody) {
    ParamSet copy = ParamSet::with_channels(TABLE, 2);
    {
        const ParamSet original = ParamSet::with_channels(TABLE, 2);
        copy = original;
        original.at(0).set(-6.0f);
        original.set_channels(2);
    }
    // The body outlives the handle that made it.
    EXPECT_EQ(copy.at(0).get(), -6.0f);
    EXPECT_EQ(copy.channels(), 2u);
}

TEST(ParamSet, ListenerIsSetOnceAndCalledByNotify) {
    const ParamSet set = ParamSet::with_channels(TABLE, 1);
    set.notify(); // nothing installed: nothing happens

    int calls = 0;
    const velk::Param* seen = nullptr;
    EXPECT_TRUE(set.set_listener([&](const ParamSet& s) {
        ++calls;
        seen = &s.at(0);
    }));
    EXPECT_FALSE(set.set_listener([&](const ParamSet&) { calls += 100; }));

    const ParamSet other = set;
    other.notify();
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(seen, &set.at(0));
}

TEST(ParamInfo, Display) {
    constexpr ParamInfo ms{.id = "t", .unit = "ms", .max = 100.0f};
    constexpr ParamInfo plain{.id = "n", .min = -100.0f, .max = 100.0f};
    constexpr ParamInfo meter{.id = "gr", .unit = "dB", .max = 30.0f, .kind = Kind::Meter};
    struct Case {
        const ParamInfo* info;
        float value;
        const char* text;
    };
    const Case cases[] = {
        {&THRESHOLD, -18.0f, "-18.00 dB"},
        {&plain, 4.0f, "4.00"},
        {&ms, 0.1f, "0.10 ms"},
        {&plain, -0.0f, "-0.00"},
        {&plain, 0.125f, "0.12"}, // exact tie: to even
        {&plain, 0.375f, "0.38"},
        {&plain, 2.675f, "2.67"}, // the float lies just below 2.675
        {&plain, 1e6f, "1000000.00"},
        {&meter, 9.0f, "9.00 dB"},
        {&SHAPE, 7.6f, "Square"},
        {&SHAPE, -3.0f, "Sine"},
        {&SHAPE, 0.5f, "Triangle"}, // halves away from zero
        {&SHAPE, 0.49f, "Sine"},
        {&SHAPE, NaN, "Sine"},
        {&SHAPE, INF, "Square"},
        {&SHAPE, 3e9f, "Square"},
        {&BYPASS, 0.5f, "On"},
        {&BYPASS, 0.49f, "Off"},
        {&BYPASS, NaN, "Off"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.info->id) + " " + std::to_string(c.value));
        EXPECT_EQ(c.info->display(c.value), c.text);
    }
}

TEST(ParamInfo, FormatReplacesTheBuiltInRules) {
    constexpr ParamInfo custom{
        .id = "c",
        .choices = SHAPES,
        .format = [](float v) { return std::to_string(static_cast<int>(v)) + "%"; },
        .max = 2.0f,
        .kind = Kind::Choice};
    EXPECT_EQ(custom.display(2.0f), "2%");
    constexpr ParamInfo no_names{.id = "e", .kind = Kind::Choice};
    EXPECT_EQ(no_names.display(1.0f), "");
}

// Each faulty record with the exact message it stops with.
TEST(ParamDeathTest, FaultyRecordsStopWithTheirReason) {
    constexpr std::array<std::string_view, 1> one_name{"Only"};
    struct Case {
        ParamInfo info;
        const char* message;
    };
    const Case cases[] = {
        {{.id = "a", .min = 1.0f, .max = 1.0f, .default_value = 1.0f}, "a: min must be below max"},
        {{.id = "b", .min = NaN, .max = 1.0f}, "b: min must be below max"},
        {{.id = "c", .min = 0.0f, .max = 1.0f, .default_value = 2.0f}, "c: default outside range"},
        {{.id = "d", .default_value = NaN}, "d: default outside range"},
        {{.id = "e", .min = 0.0f, .max = 10.0f, .default_value = 1.0f, .log = true},
         "e: a log curve needs min above zero"},
        {{.id = "f", .choices = one_name, .kind = Kind::Choice},
         "f: a choice needs two or more names"},
        {{.id = "g", .choices = SHAPES, .max = 3.0f, .kind = Kind::Choice},
         "g: a choice runs from 0 to its last index"},
        {{.id = "h",
          .choices = SHAPES,
          .min = 1.0f,
          .max = 2.0f,
          .default_value = 1.0f,
          .kind = Kind::Choice},
         "h: a choice runs from 0 to its last index"},
        {{.id = "i", .max = 2.0f, .kind = Kind::Toggle}, "i: a toggle runs from 0 to 1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        const std::array<ParamInfo, 1> table{c.info};
        EXPECT_DEATH(ParamSet::with_channels(table, 1), std::string("^") + c.message + "\n");
    }
}

TEST(ParamDeathTest, DuplicateIdStops) {
    constexpr std::array<ParamInfo, 3> table{THRESHOLD, BYPASS, ParamInfo{.id = "threshold"}};
    EXPECT_DEATH(ParamSet::with_channels(table, 1), "^duplicate parameter id threshold\n");
}

TEST(ParamDeathTest, IndexPastTheEndStops) {
    const ParamSet set = ParamSet::with_channels(TABLE, 1);
    EXPECT_DEATH(set.at(4), "^parameter index 4 out of range");
}

// Values whose bit patterns differ in many places, all inside [-100, 100].
std::vector<float> written_values() {
    std::vector<float> values;
    for (int k = 0; k < 257; ++k)
        values.push_back(static_cast<float>(k) * 0.7731f - 99.0f);
    return values;
}

bool is_one_of(const std::vector<std::uint32_t>& sorted_bits, float value) {
    return std::binary_search(sorted_bits.begin(), sorted_bits.end(),
                              std::bit_cast<std::uint32_t>(value));
}

TEST(ParamConcurrency, ReadersSeeOnlyValuesWrittenWhole) {
    constexpr std::array<ParamInfo, 2> table{{
        {.id = "a", .min = -100.0f, .max = 100.0f},
        {.id = "b", .min = -100.0f, .max = 100.0f, .per_channel = true},
    }};
    const ParamSet set = ParamSet::with_channels(table, 8);
    const std::vector<float> values = written_values();
    std::vector<std::uint32_t> allowed{std::bit_cast<std::uint32_t>(0.0f)};
    for (float v : values)
        allowed.push_back(std::bit_cast<std::uint32_t>(v));
    std::sort(allowed.begin(), allowed.end());

    // Both sides run until each has done its share, so they overlap.
    constexpr std::size_t rounds = 20000;
    std::atomic<bool> stop{false};
    std::atomic<std::size_t> writes{0};
    std::thread writer([&] {
        for (std::size_t i = 0; !stop.load(); ++i) {
            set.at(0).set(values[i % values.size()]);
            set.at(1).set_ch(i % 8, values[(i * 7) % values.size()]);
            if (i % 16 == 0)
                set.at(1).set(values[(i * 3) % values.size()]);
            set.set_channels(i % 10);
            writes.fetch_add(1);
        }
    });
    std::size_t reads = 0;
    std::size_t bad = 0;
    while (reads < rounds || writes.load() < rounds) {
        bad += is_one_of(allowed, set.at(0).get()) ? 0u : 1u;
        for (std::size_t ch = 0; ch < 9; ++ch)
            bad += is_one_of(allowed, set.at(1).get_ch(ch)) ? 0u : 1u;
        const std::size_t channels = set.channels();
        bad += channels >= 1 && channels <= 8 ? 0u : 1u;
        ++reads;
    }
    stop.store(true);
    writer.join();
    EXPECT_EQ(bad, 0u) << "in " << reads << " rounds of reads";
}

TEST(ParamConcurrency, ListenerIsInstalledOnceWhileNotifying) {
    const ParamSet set = ParamSet::with_channels({}, 1);
    std::atomic<int> first{0};
    std::atomic<int> second{0};
    std::atomic<int> installed{0};
    std::atomic<bool> go{false};
    const auto install = [&](std::atomic<int>& counter) {
        return [&] {
            while (!go.load()) {
            }
            if (set.set_listener([&counter](const ParamSet&) { counter.fetch_add(1); }))
                installed.fetch_add(1);
        };
    };
    std::thread a(install(first));
    std::thread b(install(second));
    go.store(true);
    // Notifies until the listener that won is seen.
    while (first.load() + second.load() == 0)
        set.notify();
    a.join();
    b.join();
    EXPECT_EQ(installed.load(), 1);
    EXPECT_TRUE(first.load() == 0 || second.load() == 0);
}

} // namespace
