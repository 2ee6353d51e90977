#include <array>
#include <cmath>
#include <cstddef>
#include <initializer_list>
#include <string>
#include <vector>

#include "velk/blocks/frame.hpp"
#include "velk/blocks/gain.hpp"

#include <gtest/gtest.h>

namespace {

using velk::blocks::Frame;
using velk::blocks::Gain;

constexpr float RATE = 48000.0f;

std::array<float, 3> args(float gain_db, float pan = 0.0f, float invert = 0.0f) {
    return {gain_db, pan, invert};
}

// Runs one control period of `frame` (all rows) through the block in frames of the
// given lengths, continuing `phase`.
void run_period(Gain& block, Frame& frame, std::initializer_list<std::size_t> lengths) {
    Frame part(frame.channels());
    std::size_t phase = 0;
    for (const std::size_t len : lengths) {
        part.len = len;
        for (std::size_t ch = 0; ch < frame.channels(); ++ch)
            for (std::size_t i = 0; i < len; ++i)
                part.row(ch)[i] = frame.row(ch)[phase + i];
        block.process(part, phase);
        for (std::size_t ch = 0; ch < frame.channels(); ++ch)
            for (std::size_t i = 0; i < len; ++i)
                frame.row(ch)[phase + i] = part.row(ch)[i];
        phase += len;
    }
}

Frame ones(std::size_t channels) {
    Frame frame(channels);
    frame.len = 32;
    for (std::size_t ch = 0; ch < channels; ++ch)
        for (float& s : frame.row(ch))
            s = 1.0f;
    return frame;
}

TEST(Gain, LevelPolarityAndPan) {
    const double half = 0.5;
    const double root2 = std::sqrt(2.0);
    struct Case {
        std::string name;
        std::size_t channels;
        std::array<float, 3> values;
        std::vector<double> row_gains;
    };
    const Case cases[] = {
        {"halves", 1, args(-6.0206f), {half}},
        {"inverts", 1, args(-6.0206f, 0, 1), {-half}},
        {"mono ignores pan", 1, args(0, -1), {1}},
        {"three channels ignore pan", 3, args(-6.0206f, 1, 1), {-half, -half, -half}},
        {"centre", 2, args(0), {1, 1}},
        {"hard left", 2, args(-6.0206f, -1), {root2 * half, 0}},
        {"hard right", 2, args(0, 1), {0, root2}},
        {"partly right, inverted",
         2,
         args(-6.0206f, 0.5f, 1),
         {-root2 * half * std::cos(0.375 * M_PI), -root2 * half * std::sin(0.375 * M_PI)}},
        {"loudest", 1, args(48), {std::pow(10.0, 48.0 / 20.0)}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Gain block;
        block.prepare(RATE, c.channels);
        block.control(c.values);
        Frame frame = ones(c.channels);
        block.process(frame, 0);
        for (std::size_t ch = 0; ch < c.channels; ++ch)
            for (float s : frame.row(ch))
                EXPECT_NEAR(s, c.row_gains[ch], 1e-6 * std::max(1.0, std::fabs(c.row_gains[ch])));
    }
    // Hard left is exact: the right side is silent.
    Gain block;
    block.prepare(RATE, 2);
    block.control(args(-6.0206f, -1));
    Frame frame = ones(2);
    block.process(frame, 0);
    EXPECT_EQ(frame.row(1)[0], 0.0f);
}

TEST(Gain, PanKeepsConstantPower) {
    for (int step = -10; step <= 10; ++step) {
        const float pan = static_cast<float>(step) / 10.0f;
        SCOPED_TRACE(pan);
        Gain block;
        block.prepare(RATE, 2);
        block.control(args(-6.0206f, pan));
        Frame frame = ones(2);
        block.process(frame, 0);
        const auto left = static_cast<double>(frame.row(0)[0]);
        const auto right = static_cast<double>(frame.row(1)[0]);
        EXPECT_NEAR(left * left + right * right, 2 * 0.25, 1e-6);
    }
}

TEST(Gain, ChangeGlidesAcrossOnePeriod) {
    const double g = std::pow(10.0, -96.0 / 20.0);
    Gain block;
    block.prepare(RATE, 1);
    block.control(args(0));
    Frame first = ones(1);
    block.process(first, 0);
    for (float s : first.row(0))
        EXPECT_EQ(s, 1.0f);

    block.control(args(-96));
    Frame glide = ones(1);
    block.process(glide, 0);
    for (std::size_t i = 0; i < 32; ++i)
        EXPECT_NEAR(glide.row(0)[i], 1.0 - (1.0 - g) * static_cast<double>(i + 1) / 32.0, 1e-6);
    // The period ends on the new gain exactly, and the next one stays there.
    const float end = glide.row(0)[31];
    EXPECT_NEAR(end, g, 1e-9);
    block.control(args(-96));
    Frame after = ones(1);
    block.process(after, 0);
    for (float s : after.row(0))
        EXPECT_EQ(s, end);
}

TEST(Gain, GlideSplitByPhaseMatchesOneFrame) {
    const std::vector<std::array<float, 3>> steps = {args(0, -1), args(-96, 1, 1), args(12, 0.3f),
                                                     args(12, 0.3f), args(-20, -0.7f)};
    for (const std::size_t channels : {1u, 2u, 3u}) {
        SCOPED_TRACE(channels);
        Gain whole;
        Gain split;
        whole.prepare(RATE, channels);
        split.prepare(RATE, channels);
        for (const auto& values : steps) {
            whole.control(values);
            split.control(values);
            Frame a = ones(channels);
            Frame b = ones(channels);
            run_period(whole, a, {32});
            run_period(split, b, {10, 10, 12});
            for (std::size_t ch = 0; ch < channels; ++ch)
                for (std::size_t i = 0; i < 32; ++i)
                    ASSERT_EQ(a.row(ch)[i], b.row(ch)[i]) << "row " << ch << " sample " << i;
        }
    }
}

TEST(Gain, FirstControlAfterPrepareDoesNotGlide) {
    Gain block;
    block.prepare(RATE, 2);
    block.control(args(12));
    Frame loud = ones(2);
    block.process(loud, 0);

    // Neither from zero after make or prepare, nor from the gain before prepare.
    block.prepare(RATE, 2);
    block.control(args(-6.0206f));
    Frame frame = ones(2);
    block.process(frame, 0);
    for (std::size_t ch = 0; ch < 2; ++ch)
        for (float s : frame.row(ch))
            EXPECT_NEAR(s, 0.5f, 1e-6f);
}

TEST(Gain, TouchesOnlyTheFirstLenSamples) {
    Gain block;
    block.prepare(RATE, 2);
    block.control(args(-12));
    Frame frame = ones(2);
    frame.len = 5;
    block.process(frame, 27);
    for (std::size_t ch = 0; ch < 2; ++ch) {
        EXPECT_LT(frame.row(ch)[4], 1.0f);
        EXPECT_EQ(frame.row(ch)[5], 1.0f);
        EXPECT_EQ(frame.row(ch)[31], 1.0f);
    }
}

} // namespace
