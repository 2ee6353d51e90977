#include <array>
#include <cmath>
#include <complex>
#include <cstddef>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "filter_measure.hpp"
#include "velk/blocks/frame.hpp"
#include "velk/blocks/harmonic_eq.hpp"
#include "velk/test/alloc.hpp"

#include <gtest/gtest.h>

namespace {

using velk::blocks::Frame;
using velk::blocks::HarmonicEq;
namespace vt = velk::blocks::test;
using Complex = std::complex<double>;
using Values = std::array<float, 17>;

enum Arg : std::size_t {
    Fundamental,
    Harmonics,
    First,
    Gain,
    Tilt,
    Odd,
    Even,
    Bandwidth,
    Stretch,
    Trim1,
};

Values defaults() {
    Values v{};
    v[Fundamental] = 110;
    v[Harmonics] = 8;
    v[First] = 1;
    v[Bandwidth] = 0.25f;
    return v;
}

Values with(std::initializer_list<std::pair<std::size_t, float>> changes) {
    Values v = defaults();
    for (const auto& [index, value] : changes)
        v[index] = value;
    return v;
}

struct Band {
    double hz;
    double q;
    double gain_db;
};

// The cascade of analog bells that the bands' bilinear transforms come from.
Complex bells(const std::vector<Band>& bands, double f_hz, double fs) {
    Complex h = 1.0;
    for (const Band& b : bands) {
        const Complex s(0.0, vt::warped(f_hz, b.hz, fs));
        const double a = std::pow(10.0, b.gain_db / 40.0);
        h *= (s * s + s * (a / b.q) + 1.0) / (s * s + s / (a * b.q) + 1.0);
    }
    return h;
}

struct PlacementCase {
    const char* name;
    double fs;
    Values values;
    std::vector<Band> bands;
    std::vector<double> freqs;
    double settle_s = 0.5;
    double tolerance = 2e-3; // relative; 0.2 % is 0.017 dB or 0.11 degrees
};

std::vector<Band> harmonic_bands(double f0, int lo, int hi, double bandwidth,
                                 double (*gain_db)(int)) {
    std::vector<Band> out;
    for (int k = lo; k <= hi; ++k)
        out.push_back({f0 * k, k / bandwidth, gain_db(k)});
    return out;
}

std::vector<double> harmonics_and_midpoints(double f0, int count) {
    std::vector<double> out;
    for (int k = 1; k <= count; ++k) {
        out.push_back(f0 * k);
        out.push_back(f0 * (k + 0.5));
    }
    return out;
}

std::vector<PlacementCase> placement_cases() {
    const double root2 = std::sqrt(2.0);
    return {
        {"gain 6 on 8 harmonics", 48000, with({{Gain, 6}}),
         harmonic_bands(110, 1, 8, 0.25, [](int) { return 6.0; }), harmonics_and_midpoints(110, 9)},
        {"tilt 3 per octave", 48000, with({{Tilt, 3}}),
         // Harmonic 1 has 0 dB and stays out.
         harmonic_bands(110, 2, 8, 0.25, [](int k) { return 3.0 * std::log2(k); }),
         harmonics_and_midpoints(110, 8)},
        {"odd -3", 48000, with({{Odd, -3}}),
         harmonic_bands(110, 1, 8, 0.25, [](int k) { return k % 2 == 1 ? -3.0 : 0.0; }),
         harmonics_and_midpoints(110, 8)},
        {"even 4 and base -1", 48000, with({{Even, 4}, {Gain, -1}}),
         harmonic_bands(110, 1, 8, 0.25, [](int k) { return k % 2 == 0 ? 3.0 : -1.0; }),
         harmonics_and_midpoints(110, 8)},
        {"trim 2 only, 32 harmonics",
         48000,
         with({{Harmonics, 32}, {Trim1 + 1, 6}}),
         {{220, 8, 6}},
         {110, 220, 330, 440}},
        {"stretch 0.01 moves band 10 by sqrt 2",
         48000,
         with({{Fundamental, 100}, {First, 10}, {Harmonics, 1}, {Gain, 9}, {Stretch, 0.01f}}),
         {{1000 * root2, 1000 * root2 / 25, 9}},
         {1000, 1000 * root2, 2000}},
        {"bandwidth 0.5 from harmonic 2",
         48000,
         with({{Fundamental, 200}, {First, 2}, {Harmonics, 3}, {Gain, -6}, {Bandwidth, 0.5f}}),
         harmonic_bands(200, 2, 4, 0.5, [](int) { return -6.0; }),
         {200, 400, 500, 600, 800, 1000}},
        {"bands from 45 % of the sample rate are left out",
         44100,
         with({{Fundamental, 2000}, {First, 9}, {Harmonics, 32}, {Gain, 12}}),
         {{18000, 36, 12}},
         {16000, 18000, 20000}},
        {"gain limited to 36 dB",
         48000,
         with(
             {{Fundamental, 1000}, {First, 8}, {Harmonics, 1}, {Gain, 24}, {Tilt, 12}, {Even, 24}}),
         {{8000, 32, 36}},
         {4000, 8000, 12000}},
        {"q limited to 300",
         48000,
         with({{Fundamental, 100}, {First, 8}, {Harmonics, 1}, {Gain, 12}, {Bandwidth, 0.02f}}),
         {{800, 300, 12}},
         {700, 799, 800, 801},
         // Slow to settle, and the 32-bit coefficients shift so narrow a bell slightly.
         3.0,
         5e-3},
    };
}

// Each case lists the bands it should have; the measured response must be that
// cascade, so a band in the wrong place, of the wrong width or gain, or a band too
// many or too few shows up at the harmonics or between them.
TEST(HarmonicEq, BandsSitOnTheHarmonicsWithTheirGains) {
    for (const PlacementCase& c : placement_cases()) {
        for (double f : c.freqs) {
            SCOPED_TRACE(std::string(c.name) + " at " + std::to_string(f) + " Hz");
            HarmonicEq eq;
            eq.prepare(static_cast<float>(c.fs), 1);
            const Complex measured = vt::measure_response(eq, c.values, c.fs, f, c.settle_s);
            const Complex expected = bells(c.bands, f, c.fs);
            EXPECT_LE(std::abs(measured - expected), c.tolerance * std::abs(expected) + 1e-4)
                << "measured " << vt::to_db(std::abs(measured)) << " dB, expected "
                << vt::to_db(std::abs(expected)) << " dB";
        }
    }
}

TEST(HarmonicEq, BoostIsAtTheHarmonicsNotBetween) {
    const Values values = with({{Gain, 6}});
    for (int k = 1; k <= 8; ++k) {
        SCOPED_TRACE(k);
        HarmonicEq on;
        on.prepare(48000, 1);
        const double at = vt::to_db(std::abs(vt::measure_response(on, values, 48000, 110.0 * k)));
        HarmonicEq between;
        between.prepare(48000, 1);
        const double mid =
            vt::to_db(std::abs(vt::measure_response(between, values, 48000, 110.0 * k + 55)));
        EXPECT_NEAR(at, 6.0, 0.5); // the neighbouring bells add up to 0.31 dB
        EXPECT_LT(mid, 2.0);
    }
}

TEST(HarmonicEq, LeavesTheSignalUntouchedWithoutActiveBands) {
    struct Case {
        const char* name;
        float fs;
        Values values;
    };
    const Case cases[] = {
        {"defaults", 48000, defaults()},
        {"all harmonics at or above 45 %", 44100,
         with({{Fundamental, 2000}, {First, 10}, {Harmonics, 32}, {Gain, 12}})},
        {"no trims above harmonic 8", 48000,
         with({{First, 9}, {Harmonics, 24}, {Trim1, 12}, {Trim1 + 3, 12}, {Trim1 + 7, 12}})},
        {"gain below 0.02 dB", 48000, with({{Gain, 0.015f}})},
        {"odd lift on even harmonics only", 48000, with({{First, 2}, {Harmonics, 1}, {Odd, 9}})},
    };
    const std::vector<float> input = vt::noise(32 * 20);
    const std::size_t whole[] = {32};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HarmonicEq eq;
        eq.prepare(c.fs, 1);
        EXPECT_EQ(vt::run_split(eq, input, whole, [&](std::size_t) { return c.values; }), input);
    }
}

struct GlideCase {
    const char* name;
    Values from;
    Values to;
    std::size_t index;
    bool log_domain;
};

// Arguments approach a new target by the same share of the remaining distance every
// control step (8 ms time constant); the fundamental and the bandwidth in the log
// domain. Compared by the impulse response against a fresh block set to the value
// expected after that many steps.
TEST(HarmonicEq, ArgumentsGlideWithEightMillisecondTimeConstant) {
    const Values one = with({{Fundamental, 1000}, {Harmonics, 1}, {Gain, 6}});
    auto set = [](Values v, std::size_t index, float value) {
        v[index] = value;
        return v;
    };
    const GlideCase cases[] = {
        {"gain", set(one, Gain, 0), set(one, Gain, 12), Gain, false},
        {"fundamental", set(one, Fundamental, 500), one, Fundamental, true},
        {"bandwidth", set(one, Bandwidth, 0.1f), set(one, Bandwidth, 0.4f), Bandwidth, true},
        {"tilt", set(set(one, First, 2), Tilt, -6), set(set(one, First, 2), Tilt, 6), Tilt, false},
        {"odd", set(set(one, First, 3), Odd, 0), set(set(one, First, 3), Odd, -12), Odd, false},
        {"even", set(set(one, First, 2), Even, 0), set(set(one, First, 2), Even, 12), Even, false},
        {"stretch", set(set(one, First, 4), Stretch, 0), set(set(one, First, 4), Stretch, 0.02f),
         Stretch, false},
        {"trim 8", set(set(one, First, 8), Trim1 + 7, -12), set(set(one, First, 8), Trim1 + 7, 12),
         Trim1 + 7, false},
    };
    constexpr double fs = 48000;
    const double keep = std::exp(-32.0 / (fs * 0.008));
    for (const GlideCase& c : cases) {
        for (std::size_t steps : {1u, 4u, 20u}) {
            SCOPED_TRACE(std::string(c.name) + ", " + std::to_string(steps) + " steps");
            HarmonicEq glided;
            glided.prepare(static_cast<float>(fs), 1);
            vt::run_silence(glided, c.from, 1);
            vt::run_silence(glided, c.to, steps - 1);
            const std::array<float, 32> got = vt::impulse_response(glided, c.to);

            const auto from = static_cast<double>(c.from[c.index]);
            const auto to = static_cast<double>(c.to[c.index]);
            const double left = std::pow(keep, static_cast<double>(steps));
            Values at = c.to;
            at[c.index] = static_cast<float>(
                c.log_domain ? std::exp2(std::log2(to) + (std::log2(from) - std::log2(to)) * left)
                             : to + (from - to) * left);
            HarmonicEq fresh;
            fresh.prepare(static_cast<float>(fs), 1);
            const std::array<float, 32> want = vt::impulse_response(fresh, at);
            for (std::size_t i = 0; i < 32; ++i)
                EXPECT_NEAR(got[i], want[i], 2e-5f) << "sample " << i;
        }
    }
}

TEST(HarmonicEq, ReactivatedBandStartsFromSilence) {
    const Values band1 = with({{Fundamental, 1000}, {Harmonics, 1}, {Gain, 12}});
    Values band2 = band1;
    band2[First] = 2;
    const std::vector<float> input = vt::noise(32 * 10);
    const std::size_t whole[] = {32};

    HarmonicEq eq;
    eq.prepare(48000, 1);
    vt::run_split(eq, input, whole, [&](std::size_t) { return band1; });
    vt::run_silence(eq, band2, 1); // band 1 drops out for one period
    HarmonicEq fresh;
    fresh.prepare(48000, 1);
    vt::run_silence(fresh, band1, 1);
    EXPECT_EQ(vt::impulse_response(eq, band1), vt::impulse_response(fresh, band1));
}

TEST(HarmonicEq, SplitFramesMatchWholePeriods) {
    const std::vector<float> input = vt::noise(32 * 100, 5);
    auto args = [](std::size_t period) {
        const auto p = static_cast<float>(period);
        Values v = with({{Fundamental, 80.0f + 10.0f * p},
                         {Harmonics, period < 50 ? 12.0f : 5.0f},
                         {Gain, -6.0f + 0.2f * p},
                         {Tilt, 2},
                         {Odd, 3}});
        v[Bandwidth] = 0.1f + 0.005f * p;
        return v;
    };
    const std::size_t whole[] = {32};
    HarmonicEq reference;
    reference.prepare(48000, 1);
    const std::vector<float> expected = vt::run_split(reference, input, whole, args);
    const std::vector<std::vector<std::size_t>> splits = {{5, 27}, {1, 13, 7, 11}, {31, 1}};
    for (const auto& lengths : splits) {
        SCOPED_TRACE(lengths.size());
        HarmonicEq split;
        split.prepare(48000, 1);
        EXPECT_EQ(vt::run_split(split, input, lengths, args), expected);
    }
}

TEST(HarmonicEq, FlushesDecayedStateToZero) {
    HarmonicEq eq;
    eq.prepare(48000, 1);
    const vt::Decay d = vt::impulse_decay(eq, with({{Gain, 12}, {Fundamental, 1000}}), 2000);
    EXPECT_TRUE(d.ends_silent);
    EXPECT_GT(d.smallest_nonzero, 1e-30f);
}

TEST(HarmonicEq, FiltersOnlyPreparedChannels) {
    const std::vector<float> input = vt::noise(32, 3);
    HarmonicEq eq;
    eq.prepare(48000, 2);
    eq.control(with({{Gain, 12}, {Fundamental, 1000}}));
    Frame frame(3);
    frame.len = 32;
    for (std::size_t ch = 0; ch < 3; ++ch)
        for (std::size_t i = 0; i < 32; ++i)
            frame.row(ch)[i] = input[i];
    eq.process(frame, 0);
    for (std::size_t i = 0; i < 32; ++i) {
        EXPECT_EQ(frame.row(0)[i], frame.row(1)[i]);
        EXPECT_EQ(frame.row(2)[i], input[i]);
    }
    EXPECT_NE(frame.row(0)[31], input[31]);
}

TEST(HarmonicEq, ControlAndProcessDoNotAllocate) {
    if (!velk::test::counting_allocations())
        GTEST_SKIP() << "allocations are not counted in this build";
    HarmonicEq eq;
    eq.prepare(48000, 2);
    Frame frame(2);
    frame.len = 32;
    velk::test::NoAllocScope scope;
    eq.control(with({{Harmonics, 32}, {Gain, 3}}));
    eq.process(frame, 0);
    EXPECT_EQ(scope.count(), 0u);
}

} // namespace
