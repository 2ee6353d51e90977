#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstddef>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "velk/bench/signal.hpp"
#include "velk/blocks/dynamics.hpp"
#include "velk/blocks/frame.hpp"

#include <gtest/gtest.h>

namespace {

using velk::blocks::Dynamics;
using velk::blocks::Frame;

constexpr float RATE = 48000.0f;
constexpr double ONE_OVER_E = 0.36787944117144233;

struct Settings {
    float mode = 0.0f;
    float threshold_db = -18.0f;
    float ratio = 4.0f;
    float knee_db = 6.0f;
    float attack_ms = 10.0f;
    float release_ms = 120.0f;
    float makeup_db = 0.0f;
    float auto_makeup = 0.0f;
    float detector = 0.0f;
    float sidechain_hpf_hz = 10.0f;
    float link = 1.0f;
    float lookahead_ms = 0.0f;
    float range_db = 80.0f;

    std::array<float, 13> values() const {
        return {mode,       threshold_db, ratio,       knee_db,  attack_ms,
                release_ms, makeup_db,    auto_makeup, detector, sidechain_hpf_hz,
                link,       lookahead_ms, range_db};
    }
};

float amplitude(double db) {
    return static_cast<float>(std::pow(10.0, db / 20.0));
}

double decibels(double ratio) {
    return 20.0 * std::log10(ratio);
}

// The level of `out` relative to `in`, in dB.
double gain_db(float out, float in) {
    return decibels(static_cast<double>(out) / static_cast<double>(in));
}

using Input = std::function<float(std::size_t ch, std::size_t n)>;
using Output = std::vector<std::vector<float>>;

// A configured and prepared block fed in frames that never cross a control period,
// with a control step at the start of every period.
class Runner {
public:
    explicit Runner(const Settings& s, std::size_t channels = 1, float rate = RATE)
        : settings(s), frame_(channels) {
        block.configure(s.values());
        block.prepare(rate, channels);
    }

    // `chunk` samples per frame (the last frame of a period may be shorter).
    Output run(std::size_t samples, const Input& input, std::size_t chunk = 32) {
        return feed(samples, input, chunk, false);
    }
    // The same through the per-channel path only.
    Output run_per_channel(std::size_t samples, const Input& input, std::size_t chunk = 32) {
        return feed(samples, input, chunk, true);
    }

    Settings settings;
    Dynamics block;

private:
    Output feed(std::size_t samples, const Input& input, std::size_t chunk, bool per_channel) {
        Output out(frame_.channels(), std::vector<float>(samples));
        std::size_t done = 0;
        while (done < samples) {
            const std::size_t phase = position_ % 32;
            if (phase == 0)
                block.control(settings.values());
            frame_.len = std::min({chunk, 32 - phase, samples - done});
            for (std::size_t ch = 0; ch < frame_.channels(); ++ch)
                for (std::size_t i = 0; i < frame_.len; ++i)
                    frame_.row(ch)[i] = input(ch, done + i);
            if (per_channel)
                block.process_per_channel(frame_);
            else
                block.process(frame_, phase);
            for (std::size_t ch = 0; ch < frame_.channels(); ++ch)
                for (std::size_t i = 0; i < frame_.len; ++i)
                    out[ch][done + i] = frame_.row(ch)[i];
            done += frame_.len;
            position_ += frame_.len;
        }
        return out;
    }

    Frame frame_;
    std::size_t position_ = 0;
};

Input constant(float value) {
    return [value](std::size_t, std::size_t) {
        return value;
    };
}

TEST(Dynamics, SettledGainFollowsStaticCurve) {
    struct Case {
        std::string name;
        Settings settings;
        double input_db;
        double gain_db;  // output level over input level
        double meter_db; // gain reduction reported by the meter
    };
    const Case cases[] = {
        {"compressor hard knee", {.knee_db = 0}, -6, -9, 9},
        {"knee centre", {}, -18, -0.5625, 0.5625},
        {"knee upper edge", {}, -15, -2.25, 2.25},
        {"inside knee", {}, -16.5, -0.75 * 4.5 * 4.5 / 12, 0.75 * 4.5 * 4.5 / 12},
        {"knee lower edge", {}, -21, 0, 0},
        {"below knee", {}, -30, 0, 0},
        {"limiter ignores ratio", {.mode = 1, .knee_db = 0}, -6, -12 * 0.999, 12 * 0.999},
        {"gate ratio raised to 20", {.mode = 2, .threshold_db = -40, .knee_db = 0}, -42, -38, 38},
        {"gate keeps steeper ratio",
         {.mode = 2, .threshold_db = -40, .ratio = 30, .knee_db = 0},
         -42,
         -58,
         58},
        {"expander", {.mode = 3, .threshold_db = -40, .ratio = 2, .knee_db = 0}, -50, -10, 10},
        {"expander above threshold",
         {.mode = 3, .threshold_db = -40, .ratio = 2, .knee_db = 0},
         -30,
         0,
         0},
        {"expander range",
         {.mode = 3, .threshold_db = -40, .ratio = 2, .knee_db = 0, .range_db = 6},
         -50,
         -6,
         6},
        {"expander knee centre", {.mode = 3, .threshold_db = -40, .ratio = 2}, -40, -0.75, 0.75},
        {"gate range",
         {.mode = 2, .threshold_db = -40, .knee_db = 0, .range_db = 30},
         -60,
         -30,
         30},
        {"compressor range", {.knee_db = 0, .range_db = 6}, -6, -6, 6},
        {"manual makeup", {.knee_db = 0, .makeup_db = 5}, -6, -4, 9},
        {"auto makeup", {.knee_db = 0, .auto_makeup = 1}, -6, -9 + 6.75, 9},
        {"auto makeup limited to 24",
         {.threshold_db = -60, .ratio = 20, .knee_db = 0, .auto_makeup = 1},
         -6,
         -51.3 + 24,
         51.3},
        {"auto and manual makeup", {.knee_db = 0, .makeup_db = 5, .auto_makeup = 1}, -6, 2.75, 9},
        {"auto makeup ignored by limiter",
         {.mode = 1, .knee_db = 0, .auto_makeup = 1},
         -6,
         -12 * 0.999,
         12 * 0.999},
        {"auto makeup ignored by gate",
         {.mode = 2, .threshold_db = -40, .knee_db = 0, .auto_makeup = 1},
         -42,
         -38,
         38},
        {"auto makeup ignored by expander",
         {.mode = 3, .threshold_db = -40, .ratio = 2, .knee_db = 0, .auto_makeup = 1},
         -50,
         -10,
         10},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Runner runner(c.settings);
        const float in = amplitude(c.input_db);
        const Output out = runner.run(48000, constant(in));
        EXPECT_NEAR(gain_db(out[0].back(), in), c.gain_db, 0.01);
        EXPECT_NEAR(runner.block.meter(0), c.meter_db, 0.01);
    }
}

TEST(Dynamics, DetectorHighPassStartsAbove15Hz) {
    // A DC level is all below the high-pass, so the filtered detector stops seeing it.
    struct Case {
        float hpf_hz;
        float detector;
        double gain_db;
    };
    const Case cases[] = {{10, 0, -9},  {15, 0, -9}, {16, 0, 0},
                          {1000, 0, 0}, {15, 1, -9}, {16, 1, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.hpf_hz) + " Hz, detector " + std::to_string(c.detector));
        Runner runner({.knee_db = 0, .detector = c.detector, .sidechain_hpf_hz = c.hpf_hz});
        const float in = amplitude(-6);
        const Output out = runner.run(96000, constant(in));
        EXPECT_NEAR(gain_db(out[0].back(), in), c.gain_db, 0.01);
    }
}

TEST(Dynamics, RmsDetectorMeasuresSineLoudness) {
    // A full-scale sine has an RMS level of -3.01 dB: 14.99 dB over the threshold.
    Runner runner({.knee_db = 0, .detector = 1});
    const Input sine = [](std::size_t, std::size_t n) {
        return static_cast<float>(std::sin(2.0 * M_PI * 1000.0 * static_cast<double>(n) / 48000.0));
    };
    runner.run(48000, sine);
    const double expected = 0.75 * (18.0 + decibels(std::sqrt(0.5)));
    for (int frame = 0; frame < 8; ++frame) {
        runner.run(32, sine);
        EXPECT_NEAR(runner.block.meter(0), expected, 0.05);
    }
}

TEST(Dynamics, LinkSharesTheLoudestChannelsLevel) {
    // Channel 0 is 12 dB over the threshold; channel 1 is far below it.
    const float loud = amplitude(-6);
    const float quiet = amplitude(-60);
    const auto shared_gain = [&](float link) {
        const double level =
            static_cast<double>(quiet) +
            static_cast<double>(link) * (static_cast<double>(loud) - static_cast<double>(quiet));
        return std::min(0.0, -0.75 * (decibels(level) + 18.0));
    };
    for (const float link : {0.0f, 0.5f, 1.0f}) {
        SCOPED_TRACE(link);
        Runner runner({.knee_db = 0, .link = link}, 2);
        const Output out =
            runner.run(48000, [&](std::size_t ch, std::size_t) { return ch == 0 ? loud : quiet; });
        EXPECT_NEAR(gain_db(out[0].back(), loud), -9, 0.01);
        EXPECT_NEAR(gain_db(out[1].back(), quiet), shared_gain(link), 0.01);
        EXPECT_NEAR(runner.block.meter(0), 9, 0.01);
    }
}

TEST(Dynamics, LookaheadDelaysAudioByItsLatency) {
    struct Case {
        float lookahead_ms;
        float rate;
        std::uint32_t latency;
    };
    const Case cases[] = {{5, 48000, 240},  {0, 48000, 0},   {0.01f, 48000, 0},
                          {10, 48000, 480}, {5, 44100, 221}, {10, 8000, 80}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.lookahead_ms) + " ms at " + std::to_string(c.rate));
        Runner runner({.lookahead_ms = c.lookahead_ms}, 2, c.rate);
        EXPECT_EQ(runner.block.latency(), c.latency);
        // Below the threshold, so the gain stays at exactly 0 dB. Uneven frames check
        // that the line continues across frame boundaries.
        const Output out = runner.run(
            1000,
            [](std::size_t ch, std::size_t n) {
                return n == 0 ? 0.01f * (1.0f + static_cast<float>(ch)) : 0.0f;
            },
            7);
        for (std::size_t ch = 0; ch < 2; ++ch)
            for (std::size_t n = 0; n < out[ch].size(); ++n)
                ASSERT_EQ(out[ch][n],
                          n == c.latency ? 0.01f * (1.0f + static_cast<float>(ch)) : 0.0f)
                    << "channel " << ch << " sample " << n;
    }
}

TEST(Dynamics, LookaheadAppliesTheGainBeforeTheAudioArrives) {
    // With a 0.5 ms attack, the 5 ms lookahead gives the gain ten time constants to
    // settle before the step is heard.
    Runner runner({.knee_db = 0, .attack_ms = 0.5f, .lookahead_ms = 5});
    const float loud = amplitude(-6);
    const Output out =
        runner.run(4800, [&](std::size_t, std::size_t n) { return n < 2400 ? 0.0f : loud; });
    EXPECT_EQ(out[0][2639], 0.0f);
    EXPECT_NEAR(gain_db(out[0][2640], loud), -9, 0.01);
}

TEST(Dynamics, AttackAndReleaseReach63PercentInTheirTime) {
    struct Case {
        float attack_ms;
        float release_ms;
        float rate;
    };
    const Case cases[] = {{10, 120, 48000}, {1, 50, 48000}, {30, 500, 44100}};
    const float loud = amplitude(-6);
    const float quiet = amplitude(-60);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.attack_ms) + "/" + std::to_string(c.release_ms));
        Runner runner({.knee_db = 0, .attack_ms = c.attack_ms, .release_ms = c.release_ms}, 1,
                      c.rate);
        // One sample, or the 0.1 % that a 32-bit coefficient near 1 can be off by.
        const auto tolerance = [](double samples) {
            return std::max(1.5, samples * 0.001);
        };
        const auto first_index = [](const std::vector<float>& out, float in, auto reached) {
            for (std::size_t n = 0; n < out.size(); ++n)
                if (reached(gain_db(out[n], in)))
                    return static_cast<double>(n + 1);
            return -1.0;
        };
        const std::size_t settle = static_cast<std::size_t>(c.rate * 2);
        const Output attack = runner.run(settle, constant(loud));
        const double attack_samples =
            first_index(attack[0], loud, [](double db) { return db <= -9.0 * (1.0 - ONE_OVER_E); });
        const double attack_expected = static_cast<double>(c.attack_ms * c.rate) * 0.001;
        EXPECT_NEAR(attack_samples, attack_expected, tolerance(attack_expected));

        const Output release = runner.run(settle * 4, constant(quiet));
        const double release_samples =
            first_index(release[0], quiet, [](double db) { return db >= -9.0 * ONE_OVER_E; });
        const double release_expected = static_cast<double>(c.release_ms * c.rate) * 0.001;
        EXPECT_NEAR(release_samples, release_expected, tolerance(release_expected));
    }
}

TEST(Dynamics, SilenceGivesSilenceAndTheMeterDecaysToZero) {
    for (const float detector : {0.0f, 1.0f}) {
        SCOPED_TRACE(detector);
        Runner runner({.knee_db = 0, .detector = detector}, 2);
        runner.run(24000, constant(amplitude(-6)));
        EXPECT_GT(runner.block.meter(0), 8.0f);
        const Output out = runner.run(48000 * 8, constant(0.0f));
        for (const auto& row : out)
            EXPECT_TRUE(std::all_of(row.begin(), row.end(), [](float s) { return s == 0.0f; }));
        // The flush of decayed state takes the meter to exactly zero.
        EXPECT_EQ(runner.block.meter(0), 0.0f);
    }
}

TEST(Dynamics, PrepareStartsAgainFromSilence) {
    Runner runner({.knee_db = 0, .lookahead_ms = 5});
    runner.run(24000, constant(amplitude(-6)));
    ASSERT_GT(runner.block.meter(0), 8.0f);

    runner.block.prepare(RATE, 1);
    EXPECT_EQ(runner.block.meter(0), 0.0f);
    EXPECT_EQ(runner.block.latency(), 240u);
    // A silent line and a gain back at 0 dB: only the impulse comes out, unchanged.
    const Output out =
        runner.run(512, [](std::size_t, std::size_t n) { return n == 0 ? 0.01f : 0.0f; });
    for (std::size_t n = 0; n < out[0].size(); ++n)
        ASSERT_EQ(out[0][n], n == 240 ? 0.01f : 0.0f) << "sample " << n;
}

TEST(Dynamics, RowsBeyondThePreparedChannelsAreLeftAlone) {
    Dynamics block;
    block.configure(Settings{}.values());
    block.prepare(RATE, 1);
    block.control(Settings{.knee_db = 0}.values());
    Frame frame(3);
    frame.len = 32;
    for (std::size_t ch = 0; ch < 3; ++ch)
        std::fill(frame.row(ch).begin(), frame.row(ch).end(), 0.5f);
    block.process(frame, 0);
    EXPECT_LT(frame.row(0)[31], 0.5f);
    EXPECT_EQ(frame.row(1)[31], 0.5f);
    EXPECT_EQ(frame.row(2)[31], 0.5f);

    // A frame without channels only clears the meter.
    Frame empty(0);
    empty.len = 32;
    block.process(empty, 0);
    EXPECT_EQ(block.meter(0), 0.0f);
}

} // namespace

namespace {

TEST(Dynamics, LinkedPathMatchesThePerChannelPathBitForBit) {
    // The shared path runs at link 1 while the smoothed gains agree; the per-channel
    // path must give exactly the same samples and meter for every detector, mode and
    // lookahead.
    struct Case {
        std::string name;
        Settings settings;
    };
    const Case cases[] = {
        {"compressor", {}},
        {"hard knee with makeup", {.knee_db = 0, .makeup_db = 4}},
        {"limiter", {.mode = 1, .attack_ms = 0.5f}},
        {"gate with range", {.mode = 2, .threshold_db = -30, .range_db = 40}},
        {"expander", {.mode = 3, .threshold_db = -30, .ratio = 2}},
        {"rms with high-pass", {.detector = 1, .sidechain_hpf_hz = 120}},
        {"peak with high-pass", {.sidechain_hpf_hz = 200}},
        {"lookahead", {.lookahead_ms = 1.5f}},
    };
    const auto signal = velk::bench::drum_signal(24000, 2);
    // A pair where blending the quieter level towards the louder by 1 lands one step
    // off it: the quieter channel must still see exactly the louder level.
    const float loud = 0x1.ad4ff2p-1f;
    const float quiet = 0x1.50d13p-5f;
    const Input inputs[] = {
        [&](std::size_t ch, std::size_t n) { return signal[ch][n]; },
        [&](std::size_t ch, std::size_t) { return ch == 0 ? loud : quiet; },
    };
    for (const Case& c : cases) {
        // A level rising slowly from 2 dB below the knee's lower edge to 2 dB above
        // the threshold, where the linked path stops skipping the curve.
        const auto threshold = static_cast<double>(c.settings.threshold_db);
        const double low_db = threshold - static_cast<double>(c.settings.knee_db) / 2.0 - 2.0;
        const double high_db = threshold + 2.0;
        const Input ramp = [&](std::size_t ch, std::size_t n) {
            const double db = low_db + (high_db - low_db) * static_cast<double>(n) / 24000.0;
            return amplitude(db) * (ch == 0 ? 1.0f : 0.5f);
        };
        for (const Input& input : {inputs[0], inputs[1], ramp}) {
            SCOPED_TRACE(c.name);
            Runner linked(c.settings, 2);
            Runner separate(c.settings, 2);
            const Output a = linked.run(24000, input, 13);
            const Output b = separate.run_per_channel(24000, input, 13);
            for (std::size_t ch = 0; ch < 2; ++ch)
                for (std::size_t n = 0; n < a[ch].size(); ++n)
                    ASSERT_EQ(std::bit_cast<std::uint32_t>(a[ch][n]),
                              std::bit_cast<std::uint32_t>(b[ch][n]))
                        << "channel " << ch << " sample " << n;
            EXPECT_EQ(linked.block.meter(0), separate.block.meter(0));
        }
    }
}

TEST(Dynamics, InfiniteSampleDoesNotLeaveTheGainNotANumber) {
    // At ratio 1 an infinite overshoot would make 0 x inf; the gain must stay 0 dB.
    for (const float link : {1.0f, 0.0f}) {
        SCOPED_TRACE(link);
        Runner runner({.ratio = 1, .link = link}, 2);
        const float inf = std::numeric_limits<float>::infinity();
        runner.run(64, [&](std::size_t, std::size_t n) { return n == 3 ? inf : 0.25f; });
        const Output out = runner.run(64, constant(0.25f));
        for (const auto& row : out)
            for (const float s : row)
                ASSERT_EQ(s, 0.25f);
        EXPECT_EQ(runner.block.meter(0), 0.0f);
    }
}

} // namespace
