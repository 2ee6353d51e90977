#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <random>
#include <string_view>
#include <vector>

#include "halvex/halvex.hpp"
#include "velk/bench/signal.hpp"
#include "velk/core/param.hpp"
#include "velk/core/plugin.hpp"
#include "velk/test/alloc.hpp"
#include "velk/test/runner.hpp"

#include <gtest/gtest.h>

namespace {

using halvex::Halvex;
using velk::Kind;
using Signal = std::vector<std::vector<float>>;

constexpr float RATE = 48000.0f;

float to_db(float gain) {
    return 20.0f * std::log10(gain);
}

/// A prepared compressor with default parameters.
struct Rig {
    explicit Rig(std::uint32_t channels = 2) {
        plugin.params().set_channels(channels);
        plugin.prepare({.max_frames = 512, .sample_rate = RATE, .channels = channels});
    }

    velk::Param& param(std::size_t index) { return params.at(index); }
    void run(Signal& audio, std::span<const std::size_t> blocks = velk::test::UNEVEN_BLOCKS) {
        velk::test::run_in_blocks(plugin, audio, {}, blocks);
    }

    Halvex plugin;
    velk::ParamSet params = plugin.params();
};

Signal constant(std::size_t channels, std::size_t length, float level) {
    return Signal(channels, std::vector<float>(length, level));
}

Signal noise(std::size_t channels, std::size_t length, unsigned seed, float level = 0.9f) {
    std::mt19937 gen(seed);
    std::uniform_real_distribution<float> dist(-level, level);
    Signal s(channels, std::vector<float>(length));
    for (auto& ch : s)
        for (std::size_t n = 0; n < ch.size(); ++n)
            // Bursts and quiet stretches, so the gain moves both ways.
            ch[n] = dist(gen) * ((n / 2400) % 2 == 0 ? 1.0f : 0.05f);
    return s;
}

TEST(HalvexParams, TableIsExact) {
    struct Row {
        std::string_view id, name, unit, group;
        Kind kind;
        float min, max, default_value;
        bool log;
        std::string_view doc;
    };
    const Row rows[] = {
        {"threshold", "Threshold", "dB", "Compressor", Kind::Number, -60.0f, 0.0f, -18.0f, false,
         "The level above which the signal is turned down."},
        {"ratio", "Ratio", "", "Compressor", Kind::Number, 1.0f, 20.0f, 4.0f, false,
         "How much the level above the threshold is reduced. 4 turns a 4 dB rise into 1 dB."},
        {"knee", "Knee", "dB", "Compressor", Kind::Number, 0.0f, 24.0f, 6.0f, false,
         "The width of the soft transition around the threshold."},
        {"attack", "Attack", "ms", "Time", Kind::Number, 0.1f, 100.0f, 10.0f, true,
         "How fast the gain reduction builds when the level rises."},
        {"release", "Release", "ms", "Time", Kind::Number, 10.0f, 1000.0f, 120.0f, true,
         "How fast the gain comes back when the level falls."},
        {"makeup", "Makeup", "dB", "Output", Kind::Number, 0.0f, 24.0f, 0.0f, false,
         "Gain added after the compressor."},
        {"mix", "Mix", "", "Output", Kind::Number, 0.0f, 1.0f, 1.0f, false,
         "Blends the compressed signal with the dry one. Less than 1 is parallel compression."},
        {"bypass", "Bypass", "", "", Kind::Toggle, 0.0f, 1.0f, 0.0f, false,
         "Passes the audio through unchanged."},
        {"gr", "Reduction", "dB", "", Kind::Meter, 0.0f, 30.0f, 0.0f, false,
         "How far the gain is turned down right now."},
    };
    const auto table = halvex::param_table();
    ASSERT_EQ(table.size(), std::size(rows));
    const Halvex plugin;
    const velk::ParamSet params = plugin.params();
    ASSERT_EQ(params.len(), 9u);
    EXPECT_EQ(params.max_channels(), 64u);
    for (std::size_t i = 0; i < table.size(); ++i) {
        const Row& r = rows[i];
        const velk::ParamInfo& p = table[i];
        SCOPED_TRACE(r.id);
        EXPECT_EQ(p.id, r.id);
        EXPECT_EQ(p.name, r.name);
        EXPECT_EQ(p.unit, r.unit);
        EXPECT_EQ(p.group, r.group);
        EXPECT_EQ(p.kind, r.kind);
        EXPECT_EQ(p.min, r.min);
        EXPECT_EQ(p.max, r.max);
        EXPECT_EQ(p.default_value, r.default_value);
        EXPECT_EQ(p.log, r.log);
        EXPECT_EQ(p.doc, r.doc);
        EXPECT_TRUE(p.choices.empty());
        EXPECT_EQ(p.format, nullptr);
        EXPECT_FALSE(p.per_channel);
        EXPECT_EQ(params.at(i).info().id, r.id);
        EXPECT_EQ(params.at(i).get(), r.default_value);
    }
}

TEST(Halvex, NewInstanceReportsNoLatencyOrTail) {
    Halvex plugin;
    EXPECT_EQ(plugin.latency_samples(), 0u);
    EXPECT_EQ(plugin.tail_samples(), 0u);
    EXPECT_FALSE(plugin.is_instrument());
    const velk::ChannelBounds bounds = velk::channel_bounds(plugin.layout());
    EXPECT_EQ(bounds.min, 1u);
    EXPECT_EQ(bounds.max, 64u);
    plugin.prepare({.max_frames = 256, .sample_rate = 96000.0f, .channels = 2});
    EXPECT_EQ(plugin.latency_samples(), 0u);
    EXPECT_EQ(plugin.tail_samples(), 0u);
}

TEST(Halvex, DescriptionIsOneLineOf252Bytes) {
    const std::string_view text = halvex::description();
    EXPECT_EQ(text.size(), 252u);
    EXPECT_EQ(text.front(), '{');
    EXPECT_EQ(text.back(), '}');
    EXPECT_EQ(text.find_first_of(" \t\r\n"), std::string_view::npos);
}

TEST(HalvexDeathTest, ABrokenDescriptionStopsConstruction) {
    EXPECT_DEATH(halvex::State("{}"), "^the graph was checked against the parameters when it was "
                                      "set: graph must have exactly one of block, chain or "
                                      "parallel\n");
    EXPECT_DEATH(halvex::State(R"({"block":"gain","mix":"wet"})"),
                 "^the graph was checked against the parameters when it was set: graph mix: 'wet' "
                 "is not a parameter");
}

TEST(Halvex, SettlesAtNineDecibelsOfReduction) {
    // -6 dB is 12 dB over the threshold, outside the 6 dB knee: (1/4 - 1) x 12 = -9.
    Rig rig;
    Signal audio = constant(2, 48000, 0.5012f);
    rig.run(audio);
    for (const auto& ch : audio)
        EXPECT_NEAR(to_db(ch.back() / 0.5012f), -9.0f, 0.01f);
    EXPECT_NEAR(rig.param(halvex::GR).get(), 9.0f, 0.01f);
}

TEST(Halvex, MixZeroReturnsTheInputExactly) {
    Rig rig;
    rig.param(halvex::MIX).set(0.0f);
    rig.param(halvex::MAKEUP).set(12.0f);
    const Signal input = noise(2, 9600, 1);
    Signal audio = input;
    rig.run(audio);
    EXPECT_EQ(audio, input);
    EXPECT_EQ(rig.param(halvex::GR).get(), 0.0f); // fully dry: the compressor is skipped
}

TEST(Halvex, BypassIsExactFromTheEndOfItsControlPeriod) {
    Rig rig;
    const Signal input = noise(2, 9600, 2);
    Signal audio = input;
    // Up to a control boundary, then bypass on for the rest.
    Signal head{std::vector<float>(audio[0].begin(), audio[0].begin() + 1024),
                std::vector<float>(audio[1].begin(), audio[1].begin() + 1024)};
    rig.run(head);
    rig.param(halvex::BYPASS).set(1.0f);
    Signal glide{std::vector<float>(audio[0].begin() + 1024, audio[0].begin() + 1056),
                 std::vector<float>(audio[1].begin() + 1024, audio[1].begin() + 1056)};
    rig.run(glide);
    const float reading = rig.param(halvex::GR).get();
    EXPECT_GT(reading, 1.0f);
    Signal tail{std::vector<float>(audio[0].begin() + 1056, audio[0].end()),
                std::vector<float>(audio[1].begin() + 1056, audio[1].end())};
    rig.run(tail);

    for (std::size_t c = 0; c < 2; ++c) {
        SCOPED_TRACE(c);
        // The last sample of the gliding period is already the input.
        EXPECT_EQ(glide[c].back(), input[c][1055]);
        EXPECT_NE(std::vector<float>(glide[c].begin(), glide[c].begin() + 31),
                  std::vector<float>(input[c].begin() + 1024, input[c].begin() + 1055));
        EXPECT_EQ(tail[c], std::vector<float>(input[c].begin() + 1056, input[c].end()));
    }
    // The compressor no longer runs, so its meter holds the last reading.
    EXPECT_EQ(rig.param(halvex::GR).get(), reading);
}

TEST(Halvex, RatioOneOnlyAppliesMakeup) {
    Rig rig;
    rig.param(halvex::RATIO).set(1.0f);
    rig.param(halvex::THRESHOLD).set(-60.0f);
    rig.param(halvex::MAKEUP).set(6.0f);
    const Signal input = noise(2, 4800, 3);
    Signal audio = input;
    rig.run(audio);
    const float makeup = std::exp(6.0f * 0.11512925f);
    for (std::size_t c = 0; c < 2; ++c)
        for (std::size_t n = 0; n < input[c].size(); ++n)
            ASSERT_FLOAT_EQ(audio[c][n], input[c][n] * makeup) << c << " " << n;
    EXPECT_EQ(rig.param(halvex::GR).get(), 0.0f);
}

TEST(Halvex, MeterStopsAtThirtyDecibels) {
    // 60 dB over the threshold at ratio 20 is 57 dB of reduction.
    Rig rig;
    rig.param(halvex::THRESHOLD).set(-60.0f);
    rig.param(halvex::RATIO).set(20.0f);
    rig.param(halvex::ATTACK).set(0.1f);
    Signal audio = constant(2, 4800, 1.0f);
    rig.run(audio);
    EXPECT_NEAR(to_db(audio[0].back()), -57.0f, 0.01f);
    EXPECT_EQ(rig.param(halvex::GR).get(), 30.0f);
}

TEST(Halvex, LinkedGainOnOneTwoAndSixtyFourChannels) {
    for (const std::uint32_t channels : {1u, 2u, 64u}) {
        SCOPED_TRACE(channels);
        Rig rig(channels);
        Signal audio(channels, std::vector<float>(9600));
        // Channel 0 is the loudest and sets the gain for all of them.
        for (std::size_t c = 0; c < channels; ++c)
            std::fill(audio[c].begin(), audio[c].end(),
                      c == 0 ? 0.5012f : 0.4f * static_cast<float>(c + 1) / 64.0f);
        const Signal input = audio;
        rig.run(audio);
        const float gain = audio[0].back() / input[0].back();
        EXPECT_NEAR(to_db(gain), -9.0f, 0.01f);
        for (std::size_t c = 1; c < channels; ++c)
            EXPECT_FLOAT_EQ(audio[c].back() / input[c].back(), gain) << c;
    }
}

TEST(Halvex, HostBlockSizesDoNotChangeTheOutput) {
    const Signal input = noise(2, 9600, 4);
    Rig whole;
    whole.param(halvex::MIX).set(0.6f);
    Signal one = input;
    const std::array<std::size_t, 1> all{input[0].size()};
    whole.run(one, all);

    Rig pieces;
    pieces.param(halvex::MIX).set(0.6f);
    Signal many = input;
    pieces.run(many);
    EXPECT_EQ(many, one);
    EXPECT_NE(one, input);
}

// The gain of every sample of the benchmark signal, evaluated in double precision
// from the same formulas: linked peak level, overshoot over the threshold, the knee
// curve, and attack and release smoothing.
std::vector<double> reference_gain_db(const Signal& input) {
    constexpr double threshold = -18.0, ratio = 4.0, knee = 6.0, range = 80.0;
    const double rate = static_cast<double>(RATE);
    const double attack = std::exp(-1.0 / (0.010 * rate));
    const double release = std::exp(-1.0 / (0.120 * rate));
    std::vector<double> gains(input[0].size());
    double g = 0.0;
    for (std::size_t n = 0; n < gains.size(); ++n) {
        double peak = 0.0;
        for (const auto& ch : input)
            peak = std::max(peak, std::fabs(static_cast<double>(ch[n])));
        const double o = 20.0 * std::log10(std::max(peak, 1e-9)) - threshold;
        double target = 0.0;
        if (std::fabs(o) < knee / 2)
            target = (1.0 / ratio - 1.0) * (o + knee / 2) * (o + knee / 2) / (2.0 * knee);
        else if (o > 0.0)
            target = (1.0 / ratio - 1.0) * o;
        target = std::clamp(target, -range, 0.0);
        const double coef = target < g ? attack : release;
        g = target + coef * (g - target);
        gains[n] = g;
    }
    return gains;
}

TEST(Halvex, GainStaysWithinAThousandthOfADecibelOfDoublePrecision) {
    const Signal input = velk::bench::drum_signal(4 * 48000, 2);
    const std::vector<double> expected = reference_gain_db(input);
    Rig rig;
    Signal audio = input;
    const std::array<std::size_t, 1> blocks{128};
    rig.run(audio, blocks);
    double worst = 0.0;
    std::size_t worst_at = 0;
    for (std::size_t c = 0; c < 2; ++c)
        for (std::size_t n = 0; n < expected.size(); ++n) {
            // Below -120 dB the measured ratio says more about the sample's own rounding.
            if (std::fabs(input[c][n]) < 1e-6f)
                continue;
            const double measured = 20.0 * std::log10(static_cast<double>(audio[c][n]) /
                                                      static_cast<double>(input[c][n]));
            const double deviation = std::fabs(measured - expected[n]);
            if (deviation > worst) {
                worst = deviation;
                worst_at = n;
            }
        }
    std::array<char, 32> text{};
    std::snprintf(text.data(), text.size(), "%.3g", worst);
    RecordProperty("worst_deviation_db", text.data());
    EXPECT_LT(worst, 0.001) << "at sample " << worst_at;
    // The signal is compressed somewhere, or the comparison would say little.
    EXPECT_LT(*std::min_element(expected.begin(), expected.end()), -3.0);
}

TEST(Halvex, ProcessingAllocatesNothing) {
    if (!velk::test::counting_allocations())
        GTEST_SKIP() << "allocations are not counted in this build";
    Rig rig;
    Signal audio = noise(2, 4800, 5);
    velk::ChannelList list;
    std::size_t allocations = 0;
    {
        velk::test::NoAllocScope scope;
        for (std::size_t at = 0, i = 0; at < audio[0].size(); at += 100, ++i) {
            rig.param(halvex::BYPASS).set(i % 9 == 4 ? 1.0f : 0.0f);
            rig.param(halvex::MIX).set(i % 3 == 0 ? 1.0f : 0.5f);
            for (auto& ch : audio)
                list.push(std::span<float>(ch).subspan(at, 100));
            rig.plugin.process(list.runs(), {});
            list.clear();
            (void)rig.plugin.tail_samples();
            (void)rig.plugin.latency_samples();
        }
        rig.plugin.prepare({.max_frames = 512, .sample_rate = RATE, .channels = 2});
        allocations = scope.count();
    }
    EXPECT_EQ(allocations, 0u);
}

} // namespace
