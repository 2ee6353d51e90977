#include <array>
#include <cmath>
#include <cstddef>
#include <random>
#include <string>
#include <vector>

#include "velk/blocks/frame.hpp"
#include "velk/blocks/stereo.hpp"

#include <gtest/gtest.h>

namespace {

using velk::blocks::Frame;
using velk::blocks::Stereo;

constexpr float RATE = 48000.0f;
enum : int { WIDTH = 0, ENCODE = 1, DECODE = 2, MONO = 3, SWAP = 4 };

std::array<float, 4> args(int mode, float width = 1.0f, float mid_db = 0.0f, float side_db = 0.0f) {
    return {static_cast<float>(mode), width, mid_db, side_db};
}

Frame filled(std::size_t channels, float left, float right) {
    Frame frame(channels);
    frame.len = 32;
    for (std::size_t ch = 0; ch < channels; ++ch)
        for (float& s : frame.row(ch))
            s = ch == 0 ? left : right + static_cast<float>(ch - 1) * 0.125f;
    return frame;
}

// A seeded two-channel signal; `grid` rounds it to multiples of 1/256, where sums
// and halves are exact.
Frame noise(unsigned seed, bool grid) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    Frame frame(2);
    frame.len = 32;
    for (std::size_t ch = 0; ch < 2; ++ch)
        for (float& s : frame.row(ch))
            s = grid ? std::round(dist(rng) * 256.0f) / 256.0f : dist(rng);
    return frame;
}

void start(Stereo& block, const std::array<float, 4>& values, std::size_t channels = 2) {
    block.prepare(RATE, channels);
    block.control(values);
}

TEST(Stereo, ModesOnTwoChannels) {
    // L = 0.75 and R = 0.25: mid 0.5, side 0.25.
    struct Case {
        std::string name;
        std::array<float, 4> values;
        float left;
        float right;
    };
    const Case cases[] = {
        {"width unchanged", args(WIDTH), 0.75f, 0.25f},
        {"width 0 is mono", args(WIDTH, 0), 0.5f, 0.5f},
        {"width 2 doubles side", args(WIDTH, 2), 1.0f, 0.0f},
        {"mid down 6 dB", args(WIDTH, 1, -6.0206f), 0.5f, 0.0f},
        {"side up 6 dB", args(WIDTH, 1, 0, 6.0206f), 1.0f, 0.0f},
        {"side down 6 dB, width 2", args(WIDTH, 2, 0, -6.0206f), 0.75f, 0.25f},
        {"encode", args(ENCODE), 0.5f, 0.25f},
        {"decode", args(DECODE), 1.0f, 0.5f},
        {"mono", args(MONO), 0.5f, 0.5f},
        {"swap", args(SWAP), 0.25f, 0.75f},
        {"levels ignored outside width", args(SWAP, 0, 12, -12), 0.25f, 0.75f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Stereo block;
        start(block, c.values);
        Frame frame = filled(2, 0.75f, 0.25f);
        block.process(frame, 0);
        for (std::size_t i = 0; i < 32; ++i) {
            EXPECT_NEAR(frame.row(0)[i], c.left, 1e-6f);
            EXPECT_NEAR(frame.row(1)[i], c.right, 1e-6f);
        }
    }
}

TEST(Stereo, OtherChannelCountsAreLeftUntouched) {
    for (const std::size_t channels : {1u, 3u}) {
        for (int mode = WIDTH; mode <= SWAP; ++mode) {
            SCOPED_TRACE(std::to_string(channels) + " channels, mode " + std::to_string(mode));
            Stereo block;
            start(block, args(mode, 0, -24, 24), channels);
            Frame frame = filled(channels, 0.75f, 0.25f);
            const Frame before = frame;
            block.process(frame, 0);
            for (std::size_t ch = 0; ch < channels; ++ch)
                for (std::size_t i = 0; i < 32; ++i)
                    EXPECT_EQ(frame.row(ch)[i], before.row(ch)[i]);
        }
    }
    // A block prepared for two does nothing once prepared for another count.
    Stereo block;
    start(block, args(SWAP));
    block.prepare(RATE, 1);
    block.control(args(SWAP));
    Frame frame = filled(1, 0.75f, 0.0f);
    block.process(frame, 0);
    EXPECT_EQ(frame.row(0)[0], 0.75f);
}

TEST(Stereo, RoundTripsRestoreTheInput) {
    for (const bool grid : {true, false}) {
        SCOPED_TRACE(grid ? "grid" : "any float");
        const Frame input = noise(grid ? 7u : 11u, grid);
        // Rounding of L + R and L - R can cost the last bit of an arbitrary float.
        const float tolerance = grid ? 0.0f : 2.4e-7f;
        struct Chain {
            std::string name;
            std::vector<std::array<float, 4>> steps;
        };
        const Chain chains[] = {{"encode then decode", {args(ENCODE), args(DECODE)}},
                                {"swap twice", {args(SWAP), args(SWAP)}},
                                {"unit width", {args(WIDTH)}}};
        for (const Chain& chain : chains) {
            SCOPED_TRACE(chain.name);
            Frame frame = input;
            for (const auto& values : chain.steps) {
                Stereo block;
                start(block, values);
                block.process(frame, 0);
            }
            for (std::size_t ch = 0; ch < 2; ++ch)
                for (std::size_t i = 0; i < 32; ++i)
                    EXPECT_NEAR(frame.row(ch)[i], input.row(ch)[i], tolerance);
        }
    }
}

TEST(Stereo, WidthGlidesAndASplitPeriodMatchesOneFrame) {
    Stereo whole;
    start(whole, args(WIDTH));
    Stereo split;
    start(split, args(WIDTH));
    Frame a = filled(2, 0.75f, 0.25f);
    Frame b = a;
    whole.process(a, 0);
    split.process(b, 0);

    whole.control(args(WIDTH, 0, -12));
    split.control(args(WIDTH, 0, -12));
    a = filled(2, 0.75f, 0.25f);
    b = a;
    whole.process(a, 0);
    Frame part(2);
    std::size_t phase = 0;
    for (const std::size_t len : {10u, 10u, 12u}) {
        part.len = len;
        for (std::size_t ch = 0; ch < 2; ++ch)
            for (std::size_t i = 0; i < len; ++i)
                part.row(ch)[i] = b.row(ch)[phase + i];
        split.process(part, phase);
        for (std::size_t ch = 0; ch < 2; ++ch)
            for (std::size_t i = 0; i < len; ++i)
                b.row(ch)[phase + i] = part.row(ch)[i];
        phase += len;
    }
    const double mid_end = 0.5 * std::pow(10.0, -12.0 / 20.0);
    for (std::size_t i = 0; i < 32; ++i) {
        const double t = static_cast<double>(i + 1) / 32.0;
        const double mid = 0.5 * (1.0 - t) + mid_end * t;
        const double side = 0.25 * (1.0 - t);
        EXPECT_NEAR(a.row(0)[i], mid + side, 1e-6);
        EXPECT_NEAR(a.row(1)[i], mid - side, 1e-6);
        ASSERT_EQ(a.row(0)[i], b.row(0)[i]) << "sample " << i;
        ASSERT_EQ(a.row(1)[i], b.row(1)[i]) << "sample " << i;
    }
    // The period ends exactly mono.
    EXPECT_EQ(a.row(0)[31], a.row(1)[31]);
}

TEST(Stereo, ModeChangesAtOnceAndPrepareStopsTheGlide) {
    Stereo block;
    start(block, args(WIDTH, 2));
    block.control(args(SWAP, 0));
    Frame frame = filled(2, 0.75f, 0.25f);
    block.process(frame, 0);
    EXPECT_EQ(frame.row(0)[0], 0.25f);
    EXPECT_EQ(frame.row(1)[0], 0.75f);

    // After prepare the first control step takes effect from the first sample.
    block.prepare(RATE, 2);
    block.control(args(WIDTH, 0));
    frame = filled(2, 0.75f, 0.25f);
    block.process(frame, 0);
    EXPECT_EQ(frame.row(0)[0], 0.5f);
    EXPECT_EQ(frame.row(1)[0], 0.5f);
}

} // namespace
