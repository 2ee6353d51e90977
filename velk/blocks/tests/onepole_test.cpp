#include <array>
#include <cmath>
#include <complex>
#include <cstddef>
#include <numbers>
#include <string>
#include <vector>

#include "filter_measure.hpp"
#include "velk/blocks/frame.hpp"
#include "velk/blocks/onepole.hpp"
#include "velk/test/alloc.hpp"

#include <gtest/gtest.h>

namespace {

using velk::blocks::Frame;
using velk::blocks::OnePole;
namespace vt = velk::blocks::test;
using Args = std::array<float, 2>; // type, freq

constexpr float LOWPASS = 0.0f;
constexpr float HIGHPASS = 1.0f;

double gain_db(float type, float corner_hz, double f_hz, double fs = 48000) {
    OnePole filter;
    filter.prepare(static_cast<float>(fs), 1);
    return vt::to_db(std::abs(vt::measure_response(filter, Args{type, corner_hz}, fs, f_hz)));
}

TEST(OnePole, ThreeDecibelsDownAtTheCorner) {
    // The one-pole's corner drifts from the analog -3.01 dB as it nears the sample
    // rate: by 0.17 dB for the high-pass at 300 Hz and 48 kHz.
    for (float type : {LOWPASS, HIGHPASS})
        for (float corner : {50.0f, 100.0f, 300.0f}) {
            SCOPED_TRACE("type " + std::to_string(type) + ", " + std::to_string(corner) + " Hz");
            EXPECT_NEAR(gain_db(type, corner, static_cast<double>(corner)), -3.01, 0.2);
        }
}

TEST(OnePole, SixDecibelsPerOctave) {
    // Low-pass well above its corner, high-pass well below; each doubling of the
    // distance from the corner is 6.02 dB.
    EXPECT_NEAR(gain_db(LOWPASS, 50, 800) - gain_db(LOWPASS, 50, 1600), 6.02, 0.1);
    EXPECT_NEAR(gain_db(LOWPASS, 50, 1600) - gain_db(LOWPASS, 50, 3200), 6.02, 0.1);
    EXPECT_NEAR(gain_db(HIGHPASS, 2000, 100) - gain_db(HIGHPASS, 2000, 50), 6.02, 0.1);
    EXPECT_NEAR(gain_db(HIGHPASS, 2000, 200) - gain_db(HIGHPASS, 2000, 100), 6.02, 0.1);
    // The passbands are flat.
    EXPECT_NEAR(gain_db(LOWPASS, 2000, 20), 0.0, 0.01);
    EXPECT_NEAR(gain_db(HIGHPASS, 20, 8000), 0.0, 0.05);
}

TEST(OnePole, HighpassNearFiveHertzRemovesDc) {
    OnePole filter;
    filter.prepare(48000, 1);
    const Args args = {HIGHPASS, 5};
    Frame frame(1);
    frame.len = 32;
    float last = 1.0f;
    for (std::size_t p = 0; p < 48000 / 32; ++p) { // one second
        filter.control(args);
        for (float& v : frame.row(0))
            v = 0.5f;
        filter.process(frame, 0);
        last = frame.row(0)[31];
    }
    // More than 80 dB down: the 32-bit state stops about 2e-5 short of the offset,
    // where k × (x - s) no longer changes it.
    EXPECT_LT(std::fabs(last), 5e-5f);
}

TEST(OnePole, ClampsCornerBelowNyquist) {
    // At 44.1 kHz, 22000 and 24000 Hz both become 0.49 × 44100 = 21609 Hz.
    const std::vector<float> input = vt::noise(256);
    const std::size_t whole[] = {32};
    auto run = [&](float freq_hz) {
        OnePole filter;
        filter.prepare(44100, 1);
        const Args args = {LOWPASS, freq_hz};
        return vt::run_split(filter, input, whole, [&](std::size_t) { return args; });
    };
    EXPECT_EQ(run(24000), run(22000));
    EXPECT_NE(run(24000), run(21000));
}

// Compared by the impulse response against a fresh filter at the corner expected
// after that many control steps, in the log domain with a 5 ms time constant.
TEST(OnePole, CornerGlidesInLogDomain) {
    constexpr double fs = 48000;
    const double keep = std::exp(-32.0 / (fs * 0.005));
    for (float type : {LOWPASS, HIGHPASS}) {
        for (std::size_t steps : {1u, 4u, 20u}) {
            SCOPED_TRACE(std::to_string(type) + ", " + std::to_string(steps) + " steps");
            OnePole glided;
            glided.prepare(static_cast<float>(fs), 1);
            vt::run_silence(glided, Args{type, 1000}, 1);
            vt::run_silence(glided, Args{type, 4000}, steps - 1);
            const std::array<float, 32> got = vt::impulse_response(glided, Args{type, 4000});

            const double left = std::pow(keep, static_cast<double>(steps));
            const auto expected_hz = static_cast<float>(4000.0 * std::exp2(-2.0 * left));
            OnePole fresh;
            fresh.prepare(static_cast<float>(fs), 1);
            const std::array<float, 32> want = vt::impulse_response(fresh, Args{type, expected_hz});
            for (std::size_t i = 0; i < 32; ++i)
                EXPECT_NEAR(got[i], want[i], 1e-5f) << "sample " << i;
        }
    }
    // A new prepare starts again without a glide.
    OnePole used;
    used.prepare(static_cast<float>(fs), 1);
    vt::run_silence(used, Args{LOWPASS, 8000}, 10);
    used.prepare(static_cast<float>(fs), 1);
    OnePole fresh;
    fresh.prepare(static_cast<float>(fs), 1);
    EXPECT_EQ(vt::impulse_response(used, Args{LOWPASS, 300}),
              vt::impulse_response(fresh, Args{LOWPASS, 300}));
}

TEST(OnePole, SplitFramesMatchWholePeriods) {
    const std::vector<float> input = vt::noise(32 * 60, 11);
    auto args = [](std::size_t period) {
        return Args{period < 30 ? LOWPASS : HIGHPASS, 100.0f + 150.0f * static_cast<float>(period)};
    };
    const std::size_t whole[] = {32};
    OnePole reference;
    reference.prepare(48000, 1);
    const std::vector<float> expected = vt::run_split(reference, input, whole, args);
    const std::vector<std::vector<std::size_t>> splits = {{5, 27}, {1, 13, 7, 11}, {31, 1}};
    for (const auto& lengths : splits) {
        SCOPED_TRACE(lengths.size());
        OnePole split;
        split.prepare(48000, 1);
        EXPECT_EQ(vt::run_split(split, input, lengths, args), expected);
    }
}

TEST(OnePole, FlushesDecayedStateToZero) {
    for (float type : {LOWPASS, HIGHPASS}) {
        SCOPED_TRACE(type);
        OnePole filter;
        filter.prepare(48000, 1);
        const vt::Decay d = vt::impulse_decay(filter, Args{type, 2000}, 400);
        EXPECT_TRUE(d.ends_silent);
        EXPECT_GT(d.smallest_nonzero, 1e-30f);
    }
}

TEST(OnePole, FiltersOnlyPreparedChannels) {
    const std::vector<float> input = vt::noise(32, 3);
    OnePole filter;
    filter.prepare(48000, 2);
    filter.control(Args{LOWPASS, 500});
    Frame frame(3);
    frame.len = 32;
    for (std::size_t ch = 0; ch < 3; ++ch)
        for (std::size_t i = 0; i < 32; ++i)
            frame.row(ch)[i] = input[i];
    filter.process(frame, 0);
    for (std::size_t i = 0; i < 32; ++i) {
        EXPECT_EQ(frame.row(0)[i], frame.row(1)[i]);
        EXPECT_EQ(frame.row(2)[i], input[i]);
    }
    EXPECT_NE(frame.row(0)[31], input[31]);
}

TEST(OnePole, ControlAndProcessDoNotAllocate) {
    if (!velk::test::counting_allocations())
        GTEST_SKIP() << "allocations are not counted in this build";
    OnePole filter;
    filter.prepare(48000, 2);
    Frame frame(2);
    frame.len = 32;
    velk::test::NoAllocScope scope;
    filter.control(Args{HIGHPASS, 1000});
    filter.process(frame, 0);
    EXPECT_EQ(scope.count(), 0u);
}

} // namespace
