#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <random>
#include <vector>

#include "block_runner.hpp"
#include "velk/blocks/delay.hpp"

#include <gtest/gtest.h>

namespace {

using velk::blocks::delay::INFO;
using namespace velk::blocks::testing;

// 1 - e^(-2π f / fs): the one-pole damping coefficient, computed independently.
double damping(double freq_hz, double sample_rate) {
    return 1.0 - std::exp(-2.0 * std::numbers::pi * freq_hz / sample_rate);
}

Signal impulse(std::size_t channels, std::size_t length, std::size_t channel = 0) {
    Signal s = silence(channels, length);
    s[channel][0] = 1.0f;
    return s;
}

// x[n] = n on every channel. A delay of d samples (interpolated) turns it into n - d,
// so the delay actually applied at each sample can be read back from the output.
Signal ramp(std::size_t channels, std::size_t length) {
    Signal s = silence(channels, length);
    for (auto& ch : s)
        for (std::size_t n = 0; n < length; ++n)
            ch[n] = static_cast<float>(n);
    return s;
}

double sum(const std::vector<float>& x, std::size_t from, std::size_t to) {
    double total = 0.0;
    for (std::size_t n = from; n < to; ++n)
        total += static_cast<double>(x[n]);
    return total;
}

// Largest magnitude in [from, to).
float peak(const std::vector<float>& x, std::size_t from, std::size_t to) {
    float m = 0.0f;
    for (std::size_t n = from; n < to; ++n)
        m = std::max(m, std::fabs(x[n]));
    return m;
}

TEST(Delay, ImpulseComesOutAfterExactDelay) {
    struct Case {
        float sample_rate;
        float time_ms;
        float max_ms;
        std::size_t expected;
        float tolerance;
    };
    const Case cases[] = {
        {48000.0f, 250.0f, 2000.0f, 12000, 1e-6f}, // the plain case
        {44100.0f, 100.0f, 2000.0f, 4410, 1e-6f},
        {48000.0f, 4000.0f, 4000.0f, 192000, 1e-6f}, // the longest delay
        {8000.0f, 0.1f, 10.0f, 2, 1e-6f},            // 0.8 samples is read as 2
        // Limited to the line's maximum time; 10 ms is 480.00003 samples in floats.
        {48000.0f, 250.0f, 10.0f, 480, 1e-4f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.sample_rate << " Hz, " << c.time_ms << " ms, max " << c.max_ms << " ms");
        auto block = prepared(INFO, c.sample_rate, 1, args_for(INFO, {{"max_ms", c.max_ms}}));
        const auto values =
            args_for(INFO, {{"time_ms", c.time_ms}, {"feedback", 0.0f}, {"max_ms", c.max_ms}});
        const Signal out = run(*block, impulse(1, c.expected + 100), {values});
        EXPECT_NEAR(out[0][c.expected], 1.0f, c.tolerance);
        EXPECT_LT(peak(out[0], 0, c.expected), c.tolerance);
        EXPECT_LT(peak(out[0], c.expected + 1, c.expected + 100), c.tolerance);
    }
}

TEST(Delay, EachRepeatIsScaledByFeedbackAndDampedOnceMore) {
    constexpr std::size_t d = 12000; // 250 ms at 48 kHz
    auto block = prepared(INFO, 48000.0f, 1);
    const auto values = args_for(INFO, {{"time_ms", 250.0f}, {"feedback", 0.5f}});
    const Signal out = run(*block, impulse(1, 4 * d), {values});
    const double k = damping(8000.0, 48000.0);

    EXPECT_LT(peak(out[0], 0, d), 1e-9f);
    // The first echo is not darkened.
    EXPECT_NEAR(out[0][d], 1.0f, 1e-6f);
    EXPECT_LT(peak(out[0], d + 1, 2 * d), 1e-9f);
    // Repeat r starts at feedback^(r-1) × k^(r-1) and, the low-pass having unit gain
    // at DC, carries feedback^(r-1) in total.
    for (std::size_t r = 2; r <= 3; ++r) {
        SCOPED_TRACE(testing::Message() << "repeat " << r);
        const double scale = std::pow(0.5, static_cast<double>(r - 1));
        EXPECT_NEAR(out[0][r * d], scale * std::pow(k, static_cast<double>(r - 1)), 1e-6);
        // The previous repeat has died away long before this one starts.
        EXPECT_LT(peak(out[0], r * d - 1000, r * d), 1e-9f);
        EXPECT_NEAR(sum(out[0], r * d, (r + 1) * d - 1), scale, 1e-4);
    }
}

TEST(Delay, PingPongBouncesLeftRightLeft) {
    constexpr std::size_t d = 3000; // 62.5 ms at 48 kHz
    constexpr double feedback = 0.6;
    auto block = prepared(INFO, 48000.0f, 2);
    const auto values = args_for(
        INFO, {{"time_ms", 62.5f}, {"feedback", 0.6f}, {"mode", 1.0f}, {"damp_hz", 4000.0f}});
    const Signal out = run(*block, impulse(2, 4 * d), {values});
    const double k = damping(4000.0, 48000.0);

    // Left after d at half amplitude, then right after 2d, then left after 3d, each
    // repeat damped once more and carrying feedback times the previous in total.
    EXPECT_NEAR(out[0][d], 0.5f, 1e-6f);
    EXPECT_NEAR(out[1][2 * d], 0.5 * feedback * k, 1e-5);
    EXPECT_NEAR(sum(out[1], 2 * d, 3 * d - 1), 0.5 * feedback, 1e-4);
    EXPECT_NEAR(out[0][3 * d], 0.5 * feedback * feedback * k * k, 1e-5);
    EXPECT_NEAR(sum(out[0], 3 * d, 4 * d - 1), 0.5 * feedback * feedback, 1e-4);

    EXPECT_EQ(peak(out[0], 0, d), 0.0f);
    EXPECT_EQ(peak(out[0], d + 1, 3 * d), 0.0f); // left is silent while right repeats
    EXPECT_EQ(peak(out[1], 0, 2 * d), 0.0f);
}

TEST(Delay, PingPongNeedsExactlyTwoChannels) {
    constexpr std::size_t d = 3000;
    for (std::size_t channels : {1u, 3u}) {
        SCOPED_TRACE(testing::Message() << channels << " channels");
        auto block = prepared(INFO, 48000.0f, channels);
        const auto values =
            args_for(INFO, {{"time_ms", 62.5f}, {"feedback", 0.0f}, {"mode", 1.0f}});
        const std::size_t last = channels - 1;
        const Signal out = run(*block, impulse(channels, 2 * d, last), {values});
        // As in normal mode: each channel echoes only itself, at full level.
        EXPECT_NEAR(out[last][d], 1.0f, 1e-6f);
        for (std::size_t c = 0; c < last; ++c)
            EXPECT_EQ(peak(out[c], 0, 2 * d), 0.0f);
    }
}

TEST(Delay, TimeChangeGlidesAcrossOnePeriod) {
    constexpr std::size_t before = 40; // periods at 10 ms, enough to fill the line past 11 ms
    auto block = prepared(INFO, 48000.0f, 1);
    const auto at_10 = args_for(INFO, {{"time_ms", 10.0f}, {"feedback", 0.0f}});
    const auto at_11 = args_for(INFO, {{"time_ms", 11.0f}, {"feedback", 0.0f}});
    std::vector<std::vector<float>> steps(before, at_10);
    steps.push_back(at_11);
    const Signal out = run(*block, ramp(1, (before + 2) * 32), steps);

    for (std::size_t j = 0; j < 32; ++j) {
        const std::size_t n = before * 32 + j;
        const double applied = static_cast<double>(n) - static_cast<double>(out[0][n]);
        // From 480 samples to 528, reaching 528 on the period's last sample.
        EXPECT_NEAR(applied, 480.0 + 48.0 * static_cast<double>(j + 1) / 32.0, 0.01) << j;
    }
    const std::size_t n = (before + 1) * 32 + 5;
    EXPECT_NEAR(static_cast<double>(n) - static_cast<double>(out[0][n]), 528.0, 0.01);
}

TEST(Delay, GlideSplitIntoFramesMatchesWholePeriods) {
    struct Case {
        std::size_t channels;
        float mode;
    };
    for (const Case& c : {Case{1, 0.0f}, Case{2, 1.0f}}) {
        SCOPED_TRACE(testing::Message() << c.channels << " channels, mode " << c.mode);
        std::mt19937 rng(7);
        std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
        Signal input = silence(c.channels, 40 * 32);
        for (auto& ch : input)
            for (float& s : ch)
                s = noise(rng);
        std::vector<std::vector<float>> steps;
        for (float ms : {3.0f, 3.0f, 7.5f, 2.2f, 5.0f, 5.0f, 0.1f, 9.0f})
            steps.push_back(args_for(
                INFO,
                {{"time_ms", ms}, {"feedback", 0.7f}, {"mode", c.mode}, {"damp_hz", 3000.0f}}));

        auto whole = prepared(INFO, 48000.0f, c.channels);
        auto split = prepared(INFO, 48000.0f, c.channels);
        const Signal a = run(*whole, input, steps);
        const Signal b = run(*split, input, steps, {10, 10, 12});
        // Damping state below 1e-20 is zeroed at the end of each frame, so only
        // differences on that scale may appear.
        for (std::size_t ch = 0; ch < c.channels; ++ch)
            for (std::size_t n = 0; n < a[ch].size(); ++n)
                ASSERT_NEAR(a[ch][n], b[ch][n], 1e-15f) << "channel " << ch << ", sample " << n;
    }
}

TEST(Delay, FirstControlAfterPrepareStartsAtItsTimeOnCleanLines) {
    auto block = prepared(INFO, 48000.0f, 1);
    const auto long_delay = args_for(INFO, {{"time_ms", 10.0f}, {"feedback", 0.9f}});
    run(*block, ramp(1, 40 * 32), {long_delay});

    block->prepare(48000.0f, 1);
    // 0.125 ms at 48 kHz: 6 samples, applied from the first sample without a glide
    // from the previous 480.
    const auto short_delay = args_for(INFO, {{"time_ms", 0.125f}, {"feedback", 0.0f}});
    const Signal out = run(*block, ramp(1, 32), {short_delay});
    for (std::size_t j = 0; j < 4; ++j) // every tap still reads the cleared line
        EXPECT_EQ(out[0][j], 0.0f) << j;
    for (std::size_t j = 8; j < 32; ++j)
        EXPECT_NEAR(static_cast<double>(j) - static_cast<double>(out[0][j]), 6.0, 0.01) << j;
}

TEST(Delay, ModulationSwingsWithinItsDepthAQuarterCycleApart) {
    constexpr double base = 480.0;         // 10 ms at 48 kHz
    constexpr double depth = 96.0;         // 2 ms
    constexpr double rate = 5.0 / 48000.0; // cycles per sample
    constexpr std::size_t length = 12000;  // more than one 9600-sample cycle
    auto block = prepared(INFO, 48000.0f, 2);
    const auto values = args_for(
        INFO,
        {{"time_ms", 10.0f}, {"feedback", 0.0f}, {"mod_depth_ms", 2.0f}, {"mod_rate_hz", 5.0f}});
    const Signal out = run(*block, ramp(2, length), {values});

    for (std::size_t c = 0; c < 2; ++c) {
        SCOPED_TRACE(testing::Message() << "channel " << c);
        double lowest = 1e9;
        double highest = -1e9;
        for (std::size_t n = 600; n < length; ++n) {
            const double applied = static_cast<double>(n) - static_cast<double>(out[c][n]);
            lowest = std::min(lowest, applied);
            highest = std::max(highest, applied);
            const double lfo =
                std::sin(2.0 * std::numbers::pi *
                         (rate * static_cast<double>(n) + 0.25 * static_cast<double>(c)));
            ASSERT_NEAR(applied, base + depth * lfo, 0.02) << n;
        }
        EXPECT_GE(lowest, base - depth - 0.02);
        EXPECT_LE(highest, base + depth + 0.02);
        EXPECT_GT(highest - lowest, 2.0 * depth * 0.99);
    }
}

TEST(Delay, TailFromArgumentsAloneBeforeAndAfterPrepare) {
    struct Case {
        float sample_rate;
        float time_ms;
        float feedback;
        float mod_depth_ms;
        float max_ms;
        std::uint32_t expected;
    };
    const Case cases[] = {
        {48000.0f, 250.0f, 0.35f, 0.0f, 2000.0f, 84000},  // 7 repeats
        {48000.0f, 250.0f, 0.0f, 0.0f, 2000.0f, 12000},   // one delay time
        {48000.0f, 250.0f, 0.01f, 0.0f, 2000.0f, 12000},  // 0.01 still counts as none
        {48000.0f, 250.0f, 0.0f, 5.0f, 2000.0f, 12240},   // plus the modulation depth
        {48000.0f, 250.0f, 0.5f, 0.0f, 2000.0f, 120000},  // 10 repeats
        {48000.0f, 250.0f, 0.97f, 0.0f, 2000.0f, 720000}, // 227 repeats, limited to 60
        {48000.0f, 250.0f, 0.0f, 0.0f, 10.0f, 480},       // time limited to max_ms
        {20.0e6f, 4000.0f, 0.97f, 20.0f, 4000.0f,         // too long to count
         std::numeric_limits<std::uint32_t>::max()},
    };
    auto fresh = INFO.make();
    // Prepared with a different line length: the answer must not depend on it.
    auto other = prepared(INFO, 44100.0f, 2, args_for(INFO, {{"max_ms", 20.0f}}));
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.time_ms << " ms, feedback " << c.feedback << ", depth " << c.mod_depth_ms
                     << " ms, max " << c.max_ms << " ms at " << c.sample_rate << " Hz");
        const auto values = args_for(INFO, {{"time_ms", c.time_ms},
                                            {"feedback", c.feedback},
                                            {"mod_depth_ms", c.mod_depth_ms},
                                            {"max_ms", c.max_ms}});
        EXPECT_EQ(fresh->tail(values, c.sample_rate), c.expected);
        EXPECT_EQ(other->tail(values, c.sample_rate), c.expected);
    }
}

TEST(Delay, ExtremeArgumentsStayInsideTheLines) {
    // Every corner of time, depth, rate, feedback and line length at both ends of
    // the sample rates; the sanitizer builds catch any access outside a line.
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
    Signal input = silence(2, 64 * 32);
    for (auto& ch : input)
        for (float& s : ch)
            s = noise(rng);
    for (float rate_hz : {8000.0f, 192000.0f})
        for (float max_ms : {10.0f, 4000.0f})
            for (float time_ms : {0.1f, 4000.0f})
                for (float depth : {0.0f, 20.0f})
                    for (float mode : {0.0f, 1.0f}) {
                        SCOPED_TRACE(testing::Message()
                                     << rate_hz << " Hz, max " << max_ms << ", time " << time_ms
                                     << ", depth " << depth << ", mode " << mode);
                        auto block =
                            prepared(INFO, rate_hz, 2, args_for(INFO, {{"max_ms", max_ms}}));
                        const auto values = args_for(INFO, {{"time_ms", time_ms},
                                                            {"feedback", 0.97f},
                                                            {"mode", mode},
                                                            {"damp_hz", 20000.0f},
                                                            {"mod_depth_ms", depth},
                                                            {"mod_rate_hz", 20.0f},
                                                            {"max_ms", max_ms}});
                        const Signal out = run(*block, input, {values});
                        for (const auto& ch : out)
                            for (float s : ch)
                                ASSERT_TRUE(std::isfinite(s));
                    }
}

TEST(Delay, FramesOfOtherWidthsStayInsideTheLines) {
    const auto values = args_for(INFO, {{"time_ms", 0.1f}, {"feedback", 0.0f}, {"mode", 1.0f}});
    // Prepared for two (ping-pong) but handed a single row: processed as normal.
    auto two = prepared(INFO, 48000.0f, 2);
    const Signal one_row = run(*two, impulse(1, 64), {values});
    EXPECT_NEAR(sum(one_row[0], 0, 64), 1.0, 1e-6); // at full level: not summed to mono
    EXPECT_EQ(peak(one_row[0], 0, 3), 0.0f);        // 4.8 samples, interpolated
    // Prepared for one but handed three rows: the rows without a line pass unchanged.
    auto one = prepared(INFO, 48000.0f, 1);
    const Signal three_rows = run(*one, impulse(3, 64, 2), {values});
    EXPECT_EQ(three_rows[2][0], 1.0f);
    EXPECT_EQ(peak(three_rows[2], 1, 64), 0.0f);
}

TEST(Delay, AudioThreadCallsDoNotAllocate) {
    auto block = prepared(INFO, 48000.0f, 2);
    expect_no_allocations(
        *block, args_for(INFO, {{"mode", 1.0f}, {"mod_depth_ms", 3.0f}, {"time_ms", 1.0f}}), 2);
}

} // namespace
