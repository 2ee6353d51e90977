#include <array>
#include <cmath>
#include <complex>
#include <cstddef>
#include <vector>

#include "filter_measure.hpp"
#include "velk/blocks/biquad.hpp"
#include "velk/blocks/frame.hpp"
#include "velk/test/alloc.hpp"

#include <gtest/gtest.h>

namespace {

using velk::blocks::Filter;
using velk::blocks::Frame;
using velk::blocks::SectionType;
namespace vt = velk::blocks::test;
using Complex = std::complex<double>;
using Args = std::array<float, 5>; // type, freq, q, gain_db, slope

float type_value(SectionType t) {
    return static_cast<float>(static_cast<int>(t));
}

// The analog prototype each cookbook section is the bilinear transform of, at the
// relative analog frequency `omega`.
Complex prototype(SectionType type, double omega, double q, double gain_db) {
    const Complex s(0.0, omega);
    const double a = std::pow(10.0, gain_db / 40.0);
    const double ra = std::sqrt(a);
    const Complex den = s * s + s / q + 1.0;
    switch (type) {
    case SectionType::Lowpass:
        return 1.0 / den;
    case SectionType::Highpass:
        return s * s / den;
    case SectionType::Bandpass:
        return (s / q) / den;
    case SectionType::Notch:
        return (s * s + 1.0) / den;
    case SectionType::Peak:
        return (s * s + s * (a / q) + 1.0) / (s * s + s / (a * q) + 1.0);
    case SectionType::Lowshelf:
        return a * (s * s + s * (ra / q) + a) / (a * s * s + s * (ra / q) + 1.0);
    case SectionType::Highshelf:
        return a * (a * s * s + s * (ra / q) + 1.0) / (s * s + s * (ra / q) + a);
    case SectionType::Allpass:
        return (s * s - s / q + 1.0) / den;
    }
    return 0.0;
}

struct ResponseCase {
    const char* name;
    SectionType type;
    float freq_hz;
    float q;
    float gain_db;
    float slope;
    double fs;
    double design_hz; // the frequency the section should be designed at
};

TEST(Filter, ResponseMatchesAnalogPrototype) {
    const ResponseCase cases[] = {
        {"lowpass, gain ignored", SectionType::Lowpass, 1000, 0.70710677f, 12, 0, 48000, 1000},
        {"lowpass resonant", SectionType::Lowpass, 3000, 6, 0, 0, 48000, 3000},
        {"highpass", SectionType::Highpass, 2000, 2, 0, 0, 48000, 2000},
        {"bandpass, slope ignored", SectionType::Bandpass, 1000, 4, -6, 3, 48000, 1000},
        {"notch", SectionType::Notch, 3000, 1, 0, 0, 48000, 3000},
        {"peak boost", SectionType::Peak, 1000, 1, 9, 2, 48000, 1000},
        {"peak cut", SectionType::Peak, 500, 3, -12, 0, 44100, 500},
        {"lowshelf", SectionType::Lowshelf, 200, 0.70710677f, 6, 0, 48000, 200},
        {"highshelf", SectionType::Highshelf, 5000, 1.5f, -9, 0, 48000, 5000},
        {"allpass", SectionType::Allpass, 1000, 0.70710677f, 0, 0, 48000, 1000},
        {"lowpass above 0.49 fs", SectionType::Lowpass, 24000, 0.70710677f, 0, 0, 44100, 21609},
    };
    const double multiples[] = {0.25, 0.5, 0.9, 1.0, 1.1, 2.0, 4.0};
    for (const ResponseCase& c : cases) {
        for (double m : multiples) {
            const double f = std::round(c.design_hz * m);
            if (f >= 0.495 * c.fs)
                continue;
            SCOPED_TRACE(std::string(c.name) + " at " + std::to_string(f) + " Hz");
            Filter filter;
            filter.prepare(static_cast<float>(c.fs), 1);
            const Args args = {type_value(c.type), c.freq_hz, c.q, c.gain_db, c.slope};
            const Complex measured = vt::measure_response(filter, args, c.fs, f);
            const Complex expected =
                prototype(c.type, vt::warped(f, c.design_hz, c.fs), static_cast<double>(c.q),
                          c.type == SectionType::Peak || c.type == SectionType::Lowshelf ||
                                  c.type == SectionType::Highshelf
                              ? static_cast<double>(c.gain_db)
                              : 0.0);
            // 0.2 % of the gain is 0.017 dB or 0.11 degrees.
            EXPECT_LE(std::abs(measured - expected), 2e-3 * std::abs(expected) + 1e-4)
                << "measured " << measured << ", expected " << expected;
        }
    }
}

TEST(Filter, SteepSlopesAreButterworth) {
    constexpr double fs = 48000;
    constexpr double fc = 1000;
    const double freqs[] = {250, 500, 800, 1000, 1250, 2000, 4000};
    for (SectionType type : {SectionType::Lowpass, SectionType::Highpass}) {
        for (float slope : {1.0f, 2.0f, 3.0f}) {
            const double order = 2.0 * (static_cast<double>(slope) + 1.0);
            for (double f : freqs) {
                SCOPED_TRACE("type " + std::to_string(static_cast<int>(type)) + ", slope " +
                             std::to_string(slope) + ", " + std::to_string(f) + " Hz");
                Filter filter;
                filter.prepare(static_cast<float>(fs), 1);
                // The user's q and gain must not matter.
                const Args args = {type_value(type), static_cast<float>(fc), 8.0f, 12.0f, slope};
                const double measured_db =
                    vt::to_db(std::abs(vt::measure_response(filter, args, fs, f)));
                const double w = type == SectionType::Lowpass ? vt::warped(f, fc, fs)
                                                              : 1.0 / vt::warped(f, fc, fs);
                const double expected_db = -10.0 * std::log10(1.0 + std::pow(w, 2.0 * order));
                if (expected_db > -70.0) {
                    EXPECT_NEAR(measured_db, expected_db, 0.02);
                } else {
                    EXPECT_LT(measured_db, -65.0);
                }
                if (f == fc) {
                    EXPECT_NEAR(measured_db, -3.0103, 0.02);
                }
            }
        }
    }
}

TEST(Filter, ZeroGainBellAndShelvesAreExactIdentity) {
    const std::vector<float> input = vt::noise(256);
    for (SectionType type : {SectionType::Peak, SectionType::Lowshelf, SectionType::Highshelf}) {
        SCOPED_TRACE(static_cast<int>(type));
        Filter filter;
        filter.prepare(48000, 1);
        const Args args = {type_value(type), 700, 2, 0, 0};
        const std::size_t whole[] = {32};
        const std::vector<float> out =
            vt::run_split(filter, input, whole, [&](std::size_t) { return args; });
        EXPECT_EQ(out, input);
    }
}

constexpr double GLIDE_FS = 48000;

struct GlideCase {
    const char* name;
    Args from;
    Args to;
    std::size_t index; // the argument that glides
    bool log_domain;
};

// The frequency, Q and gain approach a new target by the same share of the remaining
// distance every control step, in the log domain for frequency and Q. Compared by the
// impulse response against a fresh filter designed at the expected intermediate value.
TEST(Filter, ControlsGlideWithFiveMillisecondTimeConstant) {
    const GlideCase cases[] = {
        {"freq", {0, 1000, 0.70710677f, 0, 0}, {0, 4000, 0.70710677f, 0, 0}, 1, true},
        {"q", {2, 2000, 0.5f, 0, 0}, {2, 2000, 8, 0, 0}, 2, true},
        {"gain", {4, 1000, 1, 0, 0}, {4, 1000, 1, 12, 0}, 3, false},
        {"steep freq", {1, 300, 1, 0, 3}, {1, 2400, 1, 0, 3}, 1, true},
    };
    const double keep = std::exp(-32.0 / (GLIDE_FS * 0.005)); // 0.875...: share left per step
    for (const GlideCase& c : cases) {
        for (std::size_t steps : {1u, 4u, 20u}) {
            SCOPED_TRACE(std::string(c.name) + ", " + std::to_string(steps) + " steps");
            Filter glided;
            glided.prepare(static_cast<float>(GLIDE_FS), 1);
            vt::run_silence(glided, c.from, 1);
            vt::run_silence(glided, c.to, steps - 1);
            const std::array<float, 32> got = vt::impulse_response(glided, c.to);

            const auto from = static_cast<double>(c.from[c.index]);
            const auto to = static_cast<double>(c.to[c.index]);
            const double left = std::pow(keep, static_cast<double>(steps));
            Args at = c.to;
            at[c.index] = static_cast<float>(
                c.log_domain ? std::exp2(std::log2(to) + (std::log2(from) - std::log2(to)) * left)
                             : to + (from - to) * left);
            Filter fresh;
            fresh.prepare(static_cast<float>(GLIDE_FS), 1);
            const std::array<float, 32> want = vt::impulse_response(fresh, at);
            for (std::size_t i = 0; i < 32; ++i)
                EXPECT_NEAR(got[i], want[i], 2e-5f) << "sample " << i;
        }
    }
}

TEST(Filter, PrepareRestartsWithoutGlide) {
    const Args high = {0, 8000, 2, 0, 0};
    const Args low = {0, 300, 0.70710677f, 0, 0};
    Filter used;
    used.prepare(48000, 1);
    vt::run_silence(used, high, 10);
    ASSERT_NE(vt::impulse_response(used, high)[5], 0.0f); // leaves state behind
    used.prepare(48000, 1);
    Filter fresh;
    fresh.prepare(48000, 1);
    EXPECT_EQ(vt::impulse_response(used, low), vt::impulse_response(fresh, low));
}

TEST(Filter, ClampsFrequencyBelowNyquist) {
    // At 44.1 kHz both 22000 and 24000 Hz design at 0.49 × 44100 = 21609 Hz.
    const std::vector<float> input = vt::noise(512);
    const std::size_t whole[] = {32};
    auto run = [&](float freq_hz) {
        Filter filter;
        filter.prepare(44100, 1);
        const Args args = {6, freq_hz, 1, 6, 0};
        return vt::run_split(filter, input, whole, [&](std::size_t) { return args; });
    };
    EXPECT_EQ(run(24000), run(22000));
    EXPECT_NE(run(24000), run(21000));
}

// The filter ignores `phase`, but its state must carry over between partial frames
// exactly as within one frame of 32, also while the controls move every period.
TEST(Filter, SplitFramesMatchWholePeriods) {
    const std::vector<float> input = vt::noise(32 * 120, 99);
    auto args = [](std::size_t period) {
        const auto p = static_cast<float>(period);
        const float type = period < 40 ? 0.0f : period < 80 ? 4.0f : 1.0f;
        const float slope = period < 60 ? 0.0f : 2.0f;
        return Args{type, 200.0f + 100.0f * p, 0.5f + 0.1f * p, -12.0f + 0.25f * p, slope};
    };
    const std::size_t whole[] = {32};
    Filter reference;
    reference.prepare(48000, 1);
    const std::vector<float> expected = vt::run_split(reference, input, whole, args);
    const std::vector<std::vector<std::size_t>> splits = {{5, 27}, {1, 13, 7, 11}, {31, 1}, {3}};
    for (const auto& lengths : splits) {
        SCOPED_TRACE(lengths.size());
        Filter split;
        split.prepare(48000, 1);
        EXPECT_EQ(vt::run_split(split, input, lengths, args), expected);
    }
}

TEST(Filter, FlushesDecayedStateToZero) {
    for (float slope : {0.0f, 3.0f}) {
        SCOPED_TRACE(slope);
        Filter filter;
        filter.prepare(48000, 1);
        const vt::Decay d = vt::impulse_decay(filter, Args{0, 2000, 0.70710677f, 0, slope}, 400);
        EXPECT_TRUE(d.ends_silent);
        EXPECT_GT(d.smallest_nonzero, 1e-30f); // no tail of denormals
    }
}

TEST(Filter, FiltersOnlyPreparedChannels) {
    const std::vector<float> input = vt::noise(32, 7);
    Filter filter;
    filter.prepare(48000, 2);
    filter.control(Args{0, 500, 0.70710677f, 0, 0});
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

    // Fewer rows than prepared channels is fine too.
    Frame mono(1);
    mono.len = 32;
    mono.row(0)[0] = 1.0f;
    filter.process(mono, 0);
    EXPECT_NE(mono.row(0)[1], 0.0f);
}

TEST(Filter, ControlAndProcessDoNotAllocate) {
    if (!velk::test::counting_allocations())
        GTEST_SKIP() << "allocations are not counted in this build";
    Filter filter;
    filter.prepare(48000, 2);
    Frame frame(2);
    frame.len = 32;
    velk::test::NoAllocScope scope;
    for (float slope : {0.0f, 3.0f}) {
        filter.control(Args{0, 1000, 1, 0, slope});
        filter.process(frame, 0);
    }
    EXPECT_EQ(scope.count(), 0u);
}

} // namespace
