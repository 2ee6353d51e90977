#include <cmath>
#include <random>
#include <vector>

#include "block_runner.hpp"
#include "velk/blocks/tremolo.hpp"

#include <gtest/gtest.h>

namespace {

using velk::blocks::tremolo::INFO;
using namespace velk::blocks::testing;

// The level the tremolo applies, read from a constant input of 1.
Signal levels(const std::vector<float>& values, std::size_t channels, std::size_t length,
              float sample_rate = 48000.0f) {
    auto block = prepared(INFO, sample_rate, channels);
    return run(*block, Signal(channels, std::vector<float>(length, 1.0f)), {values});
}

TEST(Tremolo, LevelAtQuarterCycles) {
    // 4 Hz at 48 kHz: 12000 samples a cycle, a quarter every 3000, counted from a
    // phase of 0 after prepare.
    struct Case {
        const char* shape;
        float shape_value;
        float depth;
        double at_quarter[5]; // at 0, 1/4, 1/2, 3/4 and a whole cycle
    };
    const Case cases[] = {
        {"sine", 0.0f, 1.0f, {0.5, 1.0, 0.5, 0.0, 0.5}},
        {"sine", 0.0f, 0.5f, {0.75, 1.0, 0.75, 0.5, 0.75}},
        {"triangle", 1.0f, 1.0f, {0.0, 0.5, 1.0, 0.5, 0.0}},
        {"triangle", 1.0f, 0.3f, {0.7, 0.85, 1.0, 0.85, 0.7}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.shape << ", depth " << c.depth);
        const Signal out = levels(
            args_for(INFO, {{"rate_hz", 4.0f}, {"depth", c.depth}, {"shape", c.shape_value}}), 1,
            12001);
        for (std::size_t q = 0; q < 5; ++q)
            EXPECT_NEAR(out[0][q * 3000], c.at_quarter[q], 1e-5) << "quarter " << q;
        // Never outside [1 - depth, 1].
        for (float level : out[0]) {
            ASSERT_GE(level, 1.0f - c.depth - 1e-6f);
            ASSERT_LE(level, 1.0f + 1e-6f);
        }
    }
}

TEST(Tremolo, DepthZeroLeavesSignalUnchanged) {
    std::mt19937 rng(9);
    std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
    Signal input = silence(2, 1000);
    for (auto& ch : input)
        for (float& s : ch)
            s = noise(rng);
    auto block = prepared(INFO, 48000.0f, 2);
    const auto values =
        args_for(INFO, {{"depth", 0.0f}, {"rate_hz", 40.0f}, {"stereo_phase", 90.0f}});
    EXPECT_EQ(run(*block, input, {values}), input);
}

TEST(Tremolo, StereoPhase180IsAnAutoPan) {
    const Signal out = levels(
        args_for(INFO, {{"rate_hz", 4.0f}, {"depth", 1.0f}, {"stereo_phase", 180.0f}}), 2, 12000);
    // Half a cycle apart: one side is up exactly when the other is down.
    EXPECT_NEAR(out[0][3000], 1.0f, 1e-5f);
    EXPECT_NEAR(out[1][3000], 0.0f, 1e-5f);
    EXPECT_NEAR(out[0][9000], 0.0f, 1e-5f);
    EXPECT_NEAR(out[1][9000], 1.0f, 1e-5f);
    for (std::size_t n = 0; n < 12000; ++n)
        ASSERT_NEAR(out[0][n] + out[1][n], 1.0f, 1e-5f) << n;
}

TEST(Tremolo, EachChannelRunsStereoPhaseAfterThePrevious) {
    // 90 degrees at 4 Hz and 48 kHz: each row is 3000 samples ahead of the one before.
    for (float shape : {0.0f, 1.0f}) {
        SCOPED_TRACE(testing::Message() << "shape " << shape);
        const Signal out = levels(
            args_for(
                INFO,
                {{"rate_hz", 4.0f}, {"depth", 0.8f}, {"shape", shape}, {"stereo_phase", 90.0f}}),
            3, 12000);
        for (std::size_t c = 1; c < 3; ++c)
            for (std::size_t n = 0; n + 3000 * c < 12000; n += 7)
                ASSERT_NEAR(out[c][n], out[0][n + 3000 * c], 1e-5f) << c << ", " << n;
    }
}

TEST(Tremolo, DepthChangeGlidesAcrossOnePeriod) {
    // At 4 Hz and 32768 Hz the phase steps by 2^-13, which sums exactly in any
    // order, so frames of any size see the same oscillator.
    constexpr float rate = 32768.0f;
    const auto shallow = args_for(INFO, {{"depth", 0.2f}, {"rate_hz", 4.0f}});
    const auto deep = args_for(INFO, {{"depth", 0.9f}, {"rate_hz", 4.0f}});
    const Signal a = levels(shallow, 1, 96, rate);
    const Signal b = levels(deep, 1, 96, rate);

    auto block = prepared(INFO, rate, 1);
    const Signal ones(1, std::vector<float>(96, 1.0f));
    const std::vector<std::vector<float>> steps = {shallow, shallow, deep};
    const Signal glided = run(*block, ones, steps);
    // The level is linear in the depth, so the glide runs between the two fixed
    // levels and reaches the deep one on the period's last sample.
    for (std::size_t i = 0; i < 32; ++i) {
        const std::size_t n = 64 + i;
        const double f = static_cast<double>(i + 1) / 32.0;
        const auto from = static_cast<double>(a[0][n]);
        const auto to = static_cast<double>(b[0][n]);
        EXPECT_NEAR(glided[0][n], from + (to - from) * f, 1e-6) << i;
    }
    for (std::size_t n = 0; n < 64; ++n)
        EXPECT_EQ(glided[0][n], a[0][n]) << n;

    auto split = prepared(INFO, rate, 1);
    EXPECT_EQ(run(*split, ones, steps, {10, 10, 12}), glided);
    auto odd = prepared(INFO, rate, 1);
    EXPECT_EQ(run(*odd, ones, steps, {1, 30, 1}), glided);
}

TEST(Tremolo, PrepareRestartsPhaseAndDepth) {
    const auto values = args_for(INFO, {{"depth", 0.7f}, {"rate_hz", 3.0f}});
    auto block = prepared(INFO, 44100.0f, 2);
    run(*block, Signal(2, std::vector<float>(1000, 1.0f)),
        {args_for(INFO, {{"depth", 0.1f}, {"rate_hz", 17.0f}})});
    block->prepare(44100.0f, 2);
    const Signal after = run(*block, Signal(2, std::vector<float>(500, 1.0f)), {values});
    EXPECT_EQ(after, levels(values, 2, 500, 44100.0f));
}

TEST(Tremolo, AudioThreadCallsDoNotAllocate) {
    auto block = prepared(INFO, 48000.0f, 2);
    expect_no_allocations(*block, args_for(INFO, {{"stereo_phase", 180.0f}}), 2);
}

} // namespace
