#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "block_runner.hpp"
#include "velk/blocks/shaper.hpp"

#include <gtest/gtest.h>

namespace {

using velk::blocks::shaper::INFO;
using namespace velk::blocks::testing;

enum : int { Tanh, Hard, Softclip, Fold, Tube };

// One sample through a freshly prepared shaper with fixed settings.
float shape(float curve, float drive_db, float bias, float output_db, float x) {
    auto block = prepared(INFO, 48000.0f, 1);
    const auto values = args_for(
        INFO, {{"curve", curve}, {"drive_db", drive_db}, {"bias", bias}, {"output_db", output_db}});
    return run(*block, {{x}}, {values})[0][0];
}

double db(double decibels) {
    return std::pow(10.0, decibels / 20.0);
}

TEST(Shaper, CurveValuesAtUnitGain) {
    struct Case {
        int curve;
        float x;
        double expected;
    };
    const double e = std::numbers::e;
    const Case cases[] = {
        {Tanh, 0.5f, 0.46211715726000974},
        {Tanh, -3.0f, -0.99505475368673046},
        {Hard, 0.7f, 0.7},
        {Hard, -1.0f, -1.0},
        {Hard, 1.5f, 1.0},
        {Hard, -20.0f, -1.0},
        {Softclip, 1.0f, 1.0},
        {Softclip, 0.5f, 0.6875},
        {Softclip, -0.5f, -0.6875},
        {Softclip, 2.0f, 1.0},
        {Softclip, -1.0f, -1.0},
        {Fold, 0.5f, std::sqrt(0.5)},
        {Fold, 1.0f, 1.0},
        {Fold, 2.0f, 0.0}, // wrapped back to the centre
        {Fold, 3.0f, -1.0},
        {Tube, 1.0f, 1.0 - 1.0 / e},
        {Tube, -1.0f, -0.8 * (1.0 - std::pow(e, -1.25))},
        {Tube, 30.0f, 1.0},
        {Tube, -30.0f, -0.8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "curve " << c.curve << " at " << c.x);
        EXPECT_NEAR(shape(static_cast<float>(c.curve), 0.0f, 0.0f, 0.0f, c.x), c.expected, 1e-6);
    }
}

TEST(Shaper, HardCurvePassesSignalWithinUnitRange) {
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
    Signal input = silence(2, 256);
    for (auto& ch : input)
        for (float& s : ch)
            s = noise(rng);
    auto block = prepared(INFO, 48000.0f, 2);
    EXPECT_EQ(run(*block, input, {args_for(INFO, {{"curve", Hard}})}), input);
}

TEST(Shaper, BiasConstantIsRemoved) {
    // A silent input stays silent whatever the curve and bias.
    for (int curve = Tanh; curve <= Tube; ++curve)
        for (float bias : {-1.0f, -0.3f, 0.5f, 1.0f}) {
            SCOPED_TRACE(testing::Message() << "curve " << curve << ", bias " << bias);
            EXPECT_EQ(shape(static_cast<float>(curve), 12.0f, bias, 6.0f, 0.0f), 0.0f);
        }

    // Otherwise the output is the curve at bias + x minus the curve at the bias.
    struct Case {
        int curve;
        float bias;
        float x;
        double expected;
    };
    const Case cases[] = {
        {Tanh, 0.5f, 0.3f, std::tanh(0.8) - std::tanh(0.5)},
        {Hard, 0.5f, 0.75f, 0.5},
        {Hard, 0.5f, -0.25f, -0.25},
        {Softclip, -0.5f, -0.5f, -1.0 + 0.6875},
        {Fold, 0.5f, 0.5f, 1.0 - std::sqrt(0.5)},
        {Tube, 0.5f, 0.25f, std::exp(-0.5) - std::exp(-0.75)},
        {Tube, -0.4f, 0.4f, 0.8 * (1.0 - std::exp(-0.5))},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "curve " << c.curve << ", bias " << c.bias << " at " << c.x);
        EXPECT_NEAR(shape(static_cast<float>(c.curve), 0.0f, c.bias, 0.0f, c.x), c.expected, 1e-6);
    }
}

TEST(Shaper, DriveBeforeAndOutputAfterTheCurve) {
    struct Case {
        int curve;
        float drive_db;
        float output_db;
        float x;
        double expected;
    };
    const Case cases[] = {
        {Hard, 6.0206f, 0.0f, 0.25f, 0.5},   // twice the input, under the clip
        {Hard, 6.0206f, 0.0f, 0.75f, 1.0},   // clipped after the drive
        {Hard, 0.0f, -6.0206f, 0.3f, 0.15},  // output gain does not clip
        {Hard, 0.0f, 24.0f, 2.0f, db(24.0)}, // ... and applies to the clipped value
        {Tanh, -24.0f, 0.0f, 1.0f, std::tanh(db(-24.0))},
        {Tanh, 48.0f, -48.0f, 0.5f, std::tanh(0.5 * db(48.0)) * db(-48.0)},
        {Softclip, 6.0206f, 6.0206f, 0.25f, 2.0 * 0.6875},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "curve " << c.curve << ", drive " << c.drive_db
                                        << " dB, output " << c.output_db << " dB at " << c.x);
        EXPECT_NEAR(shape(static_cast<float>(c.curve), c.drive_db, 0.0f, c.output_db, c.x),
                    c.expected, 1e-5 * std::fabs(c.expected) + 1e-7);
    }
}

TEST(Shaper, GainChangesGlideAcrossOnePeriod) {
    // On the hard curve a small input is scaled by drive × output alone.
    constexpr float x = 0.01f;
    constexpr auto xd = static_cast<double>(x);
    const double g = db(12.0);
    auto block = prepared(INFO, 48000.0f, 1);
    const auto flat = args_for(INFO, {{"curve", Hard}});
    const auto driven = args_for(INFO, {{"curve", Hard}, {"drive_db", 12.0f}});
    const Signal out = run(*block, {std::vector<float>(64, x)}, {flat, driven});
    for (std::size_t i = 0; i < 32; ++i)
        EXPECT_NEAR(out[0][i], x, 1e-9) << i;
    for (std::size_t i = 0; i < 32; ++i)
        EXPECT_NEAR(out[0][32 + i], xd * (1.0 + (g - 1.0) * static_cast<double>(i + 1) / 32.0),
                    1e-8)
            << i;

    // After prepare the first step applies from the first sample, gliding neither
    // from the previous settings nor from zero.
    block->prepare(48000.0f, 1);
    const auto milder = args_for(INFO, {{"curve", Hard}, {"drive_db", 6.0f}});
    const Signal again = run(*block, {std::vector<float>(32, x)}, {milder});
    for (std::size_t i = 0; i < 32; ++i)
        EXPECT_NEAR(again[0][i], xd * db(6.0), 1e-8) << i;
}

TEST(Shaper, GlideSplitIntoFramesMatchesWholePeriods) {
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
    Signal input = silence(3, 8 * 32); // any number of rows
    for (auto& ch : input)
        for (float& s : ch)
            s = noise(rng);
    std::vector<std::vector<float>> steps;
    for (float step : {0.0f, 9.0f, -6.0f, 30.0f, 30.0f, -20.0f})
        steps.push_back(args_for(
            INFO,
            {{"curve", Tube}, {"drive_db", step}, {"bias", 0.2f}, {"output_db", -step * 0.5f}}));
    auto whole = prepared(INFO, 48000.0f, 3);
    auto split = prepared(INFO, 48000.0f, 3);
    EXPECT_EQ(run(*whole, input, steps), run(*split, input, steps, {10, 10, 12}));
}

TEST(Shaper, AudioThreadCallsDoNotAllocate) {
    auto block = prepared(INFO, 48000.0f, 2);
    expect_no_allocations(*block, args_for(INFO, {{"curve", Fold}, {"drive_db", 6.0f}}), 2);
}

} // namespace
