#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "block_runner.hpp"
#include "velk/blocks/block.hpp"
#include "velk/blocks/dynamics.hpp"
#include "velk/blocks/frame.hpp"
#include "velk/blocks/gain.hpp"
#include "velk/blocks/stereo.hpp"
#include "velk/test/alloc.hpp"

#include <gtest/gtest.h>

namespace {

namespace blocks = velk::blocks;
using blocks::ArgInfo;
using blocks::BlockInfo;

constexpr std::array<std::string_view, 9> ORDER = {
    "gain", "filter", "onepole", "shaper", "dynamics", "delay", "tremolo", "stereo", "harmonic_eq"};

std::vector<float> defaults(const BlockInfo& info) {
    std::vector<float> values;
    for (const ArgInfo& arg : info.args)
        values.push_back(arg.default_value);
    return values;
}

TEST(Catalogue, FindMatchesNamesExactly) {
    EXPECT_EQ(blocks::find("dynamics"), &blocks::dynamics::INFO);
    for (const std::string_view name : {"Dynamics", "dynamic", "dynamics ", " dynamics", ""})
        EXPECT_EQ(blocks::find(name), nullptr) << "'" << name << "'";
    for (const BlockInfo* info : blocks::catalogue())
        EXPECT_EQ(blocks::find(info->name), info) << info->name;
}

TEST(Catalogue, ListsKnownBlocksOnceInCatalogueOrder) {
    for (const std::string_view name : {"gain", "dynamics", "stereo"})
        EXPECT_NE(blocks::find(name), nullptr) << name;
    auto next = ORDER.begin();
    for (const BlockInfo* info : blocks::catalogue()) {
        const auto it = std::find(next, ORDER.end(), info->name);
        ASSERT_NE(it, ORDER.end()) << "'" << info->name << "' is unknown, repeated or out of order";
        next = it + 1;
    }
}

TEST(Catalogue, GainDynamicsAndStereoEntries) {
    struct Arg {
        std::string_view name;
        std::string_view unit;
        std::vector<std::string_view> choices;
        float min;
        float max;
        float default_value;
        bool fixed = false;
    };
    struct Entry {
        const BlockInfo* info;
        std::string_view name;
        std::vector<Arg> args;
        std::vector<std::string_view> meters;
    };
    const Entry entries[] = {
        {&blocks::gain::INFO,
         "gain",
         {{"gain_db", "dB", {}, -96, 48, 0},
          {"pan", "", {}, -1, 1, 0},
          {"invert", "", {"off", "on"}, 0, 1, 0}},
         {}},
        {&blocks::dynamics::INFO,
         "dynamics",
         {{"mode", "", {"compressor", "limiter", "gate", "expander"}, 0, 3, 0},
          {"threshold_db", "dB", {}, -80, 0, -18},
          {"ratio", "", {}, 1, 100, 4},
          {"knee_db", "dB", {}, 0, 24, 6},
          {"attack_ms", "ms", {}, 0.01f, 200, 10},
          {"release_ms", "ms", {}, 1, 2000, 120},
          {"makeup_db", "dB", {}, -24, 36, 0},
          {"auto_makeup", "", {"off", "on"}, 0, 1, 0},
          {"detector", "", {"peak", "rms"}, 0, 1, 0},
          {"sidechain_hpf_hz", "Hz", {}, 10, 1000, 10},
          {"link", "", {}, 0, 1, 1},
          {"lookahead_ms", "ms", {}, 0, 10, 0, true},
          {"range_db", "dB", {}, 0, 80, 80}},
         {"gain_reduction_db"}},
        {&blocks::stereo::INFO,
         "stereo",
         {{"mode", "", {"width", "encode", "decode", "mono", "swap"}, 0, 4, 0},
          {"width", "", {}, 0, 2, 1},
          {"mid_db", "dB", {}, -24, 24, 0},
          {"side_db", "dB", {}, -24, 24, 0}},
         {}},
    };
    for (const Entry& e : entries) {
        SCOPED_TRACE(e.name);
        EXPECT_EQ(e.info->name, e.name);
        EXPECT_EQ(std::vector<std::string_view>(e.info->meters.begin(), e.info->meters.end()),
                  e.meters);
        ASSERT_EQ(e.info->args.size(), e.args.size());
        for (std::size_t i = 0; i < e.args.size(); ++i) {
            const ArgInfo& got = e.info->args[i];
            const Arg& want = e.args[i];
            SCOPED_TRACE(want.name);
            EXPECT_EQ(got.name, want.name);
            EXPECT_EQ(got.unit, want.unit);
            EXPECT_EQ(std::vector<std::string_view>(got.choices.begin(), got.choices.end()),
                      want.choices);
            EXPECT_EQ(got.min, want.min);
            EXPECT_EQ(got.max, want.max);
            EXPECT_EQ(got.default_value, want.default_value);
            EXPECT_EQ(got.fixed, want.fixed);
        }
    }
}

TEST(Catalogue, ArgumentTablesAreConsistent) {
    for (const BlockInfo* info : blocks::catalogue()) {
        SCOPED_TRACE(info->name);
        EXPECT_FALSE(info->doc.empty());
        EXPECT_NE(info->make, nullptr);
        std::set<std::string_view> names;
        for (const ArgInfo& arg : info->args) {
            SCOPED_TRACE(arg.name);
            EXPECT_TRUE(names.insert(arg.name).second) << "repeated argument";
            EXPECT_FALSE(arg.doc.empty());
            EXPECT_TRUE(std::isfinite(arg.min) && std::isfinite(arg.max));
            EXPECT_LT(arg.min, arg.max);
            EXPECT_GE(arg.default_value, arg.min);
            EXPECT_LE(arg.default_value, arg.max);
            if (!arg.choices.empty()) {
                EXPECT_EQ(arg.min, 0.0f);
                EXPECT_EQ(static_cast<float>(arg.choices.size()), arg.max + 1.0f);
                EXPECT_EQ(arg.default_value, std::round(arg.default_value));
            }
            // Only the delay line's size and the lookahead are fixed at build time.
            if (arg.fixed) {
                const std::string key = std::string(info->name) + "." + std::string(arg.name);
                EXPECT_TRUE(key == "delay.max_ms" || key == "dynamics.lookahead_ms") << key;
            }
        }
        for (const std::string_view meter : info->meters)
            EXPECT_FALSE(meter.empty());
    }
}

TEST(Catalogue, NewBlocksReportNothingBeforePrepare) {
    for (const BlockInfo* info : blocks::catalogue()) {
        SCOPED_TRACE(info->name);
        const std::unique_ptr<blocks::Block> block = info->make();
        ASSERT_NE(block, nullptr);
        EXPECT_EQ(block->latency(), 0u);
        for (std::size_t m = 0; m <= info->meters.size() + 1; ++m)
            EXPECT_EQ(block->meter(m), 0.0f) << "meter " << m;
        // Answers before prepare, whatever the value.
        const std::vector<float> values = defaults(*info);
        (void)block->tail(values, 48000.0f);

        block->configure(values);
        block->prepare(48000.0f, 2);
        EXPECT_EQ(block->meter(info->meters.size()), 0.0f);
        EXPECT_EQ(block->meter(1000), 0.0f);
    }
}

// Argument sets to cycle through while processing: defaults, minimums, maximums and
// the middle of each range (choices rounded). Fixed arguments keep `configured`.
std::vector<std::vector<float>> value_sets(const BlockInfo& info,
                                           const std::vector<float>& configured) {
    std::vector<std::vector<float>> sets(4);
    for (std::size_t i = 0; i < info.args.size(); ++i) {
        const ArgInfo& arg = info.args[i];
        float middle = (arg.min + arg.max) * 0.5f;
        if (!arg.choices.empty())
            middle = std::round(middle);
        const std::array<float, 4> v = {arg.default_value, arg.min, arg.max, middle};
        for (std::size_t s = 0; s < 4; ++s)
            sets[s].push_back(arg.fixed ? configured[i] : v[s]);
    }
    return sets;
}

TEST(Catalogue, ProcessingAllocatesNothingAndStaysFinite) {
    constexpr std::size_t periods = 200;
    // Each control period cut into frames differently.
    const std::vector<std::vector<std::size_t>> cuts = {{32}, {10, 10, 12}, {1, 31}, {7, 25}};
    for (const BlockInfo* info : blocks::catalogue()) {
        for (const std::size_t channels : {1u, 2u, 8u}) {
            const std::vector<float> mins = value_sets(*info, defaults(*info))[1];
            const std::vector<float> maxs = value_sets(*info, defaults(*info))[2];
            for (const std::vector<float>& configured : {defaults(*info), mins, maxs}) {
                SCOPED_TRACE(std::string(info->name) + ", " + std::to_string(channels) +
                             " channels");
                const std::vector<std::vector<float>> sets = value_sets(*info, configured);
                std::vector<float> input(periods * 32);
                for (std::size_t n = 0; n < input.size(); ++n)
                    input[n] = 0.5f * std::sin(0.05f * static_cast<float>(n)) +
                               (n % 97 == 0 ? 0.4f : 0.0f);

                const std::unique_ptr<blocks::Block> block = info->make();
                block->configure(configured);
                block->prepare(48000.0f, channels);
                blocks::Frame frame(channels);
                bool finite = true;
                std::size_t allocations = 0;
                {
                    velk::test::NoAllocScope scope;
                    std::size_t n = 0;
                    for (std::size_t p = 0; p < periods; ++p) {
                        const std::vector<float>& values = sets[p % sets.size()];
                        block->control(values);
                        std::size_t phase = 0;
                        for (const std::size_t len : cuts[p % cuts.size()]) {
                            frame.len = len;
                            for (std::size_t ch = 0; ch < channels; ++ch)
                                for (std::size_t i = 0; i < len; ++i)
                                    frame.row(ch)[i] = input[n + i] * (ch % 2 ? -0.5f : 1.0f);
                            block->process(frame, phase);
                            for (std::size_t ch = 0; ch < channels; ++ch)
                                for (std::size_t i = 0; i < len; ++i)
                                    finite = finite && std::isfinite(frame.row(ch)[i]);
                            phase += len;
                            n += len;
                        }
                        (void)block->latency();
                        (void)block->tail(values, 48000.0f);
                        for (std::size_t m = 0; m <= info->meters.size(); ++m)
                            finite = finite && std::isfinite(block->meter(m));
                    }
                    allocations = scope.count();
                }
                EXPECT_TRUE(finite);
                if (velk::test::counting_allocations()) {
                    EXPECT_EQ(allocations, 0u);
                }
            }
        }
    }
}

TEST(Catalogue, UnchangedPrepareClearsStateInPlace) {
    // A host's reset prepares again with the same setup on its audio thread.
    using velk::blocks::testing::run;
    using velk::blocks::testing::Signal;
    Signal input(2, std::vector<float>(48 * 320));
    for (std::size_t n = 0; n < input[0].size(); ++n) {
        input[0][n] = 0.5f * std::sin(0.05f * static_cast<float>(n));
        input[1][n] = n % 97 == 0 ? 0.8f : 0.0f;
    }
    for (const BlockInfo* info : blocks::catalogue()) {
        SCOPED_TRACE(info->name);
        std::vector<float> values = defaults(*info);
        if (info->name == "delay")
            values[0] = 20.0f; // echoes well inside the signal
        const std::unique_ptr<blocks::Block> block = info->make();
        block->configure(values);
        block->prepare(48000.0f, 2);
        const Signal first = run(*block, input, {values});

        std::size_t allocations = 0;
        {
            velk::test::NoAllocScope scope;
            block->prepare(48000.0f, 2);
            allocations = scope.count();
        }
        if (velk::test::counting_allocations()) {
            EXPECT_EQ(allocations, 0u);
        }
        EXPECT_EQ(run(*block, input, {values}), first);
    }
}

} // namespace
