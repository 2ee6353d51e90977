#include <array>
#include <cmath>
#include <new>
#include <vector>

#include "velk/core/plugin.hpp"
#include "velk/test/alloc.hpp"
#include "velk/test/runner.hpp"
#include "velk/test/test_plugin.hpp"

#include <gtest/gtest.h>

namespace {

using velk::ChannelBounds;
using velk::Channels;
using velk::Inner;
using velk::Layout;
using velk::Port;
using velk::test::TestPlugin;

using Audio = std::vector<std::vector<float>>;

TEST(ChannelBounds, FollowTheFirstPort) {
    constexpr std::array<Port, 1> fixed0{Port{.name = "In", .channels = Channels::fixed(0)}};
    constexpr std::array<Port, 1> fixed2{Port{.name = "In", .channels = Channels::fixed(2)}};
    constexpr std::array<Port, 1> fixed100{Port{.name = "In", .channels = Channels::fixed(100)}};
    constexpr std::array<Port, 1> range42{Port{.name = "In", .channels = Channels::range(4, 2)}};
    constexpr std::array<Port, 1> range00{Port{.name = "In", .channels = Channels::range(0, 0)}};
    constexpr std::array<Port, 1> range2_99{Port{.name = "In", .channels = Channels::range(2, 99)}};
    constexpr std::array<Port, 1> range80_90{
        Port{.name = "In", .channels = Channels::range(80, 90)}};
    constexpr std::array<Port, 1> any{Port{.name = "In", .channels = Channels::any()}};
    constexpr std::array<Port, 2> mono_then_stereo{Port{.channels = Channels::fixed(1)},
                                                   Port{.channels = Channels::fixed(2)}};
    struct Case {
        const char* name;
        Layout layout;
        ChannelBounds first_port; // first input, else first output
        ChannelBounds first_input;
    };
    const Case cases[] = {
        {"default", velk::default_layout(), {1, 64}, {1, 64}},
        {"no ports", {}, {1, 64}, {1, 64}},
        {"fixed 0", {fixed0, {}}, {1, 1}, {1, 1}},
        {"fixed 2", {fixed2, any}, {2, 2}, {2, 2}},
        {"fixed 100", {fixed100, {}}, {64, 64}, {64, 64}},
        {"range 4 to 2", {range42, {}}, {4, 4}, {4, 4}},
        {"range 0 to 0", {range00, {}}, {1, 1}, {1, 1}},
        {"range 2 to 99", {range2_99, {}}, {2, 64}, {2, 64}},
        {"range 80 to 90", {range80_90, {}}, {64, 64}, {64, 64}},
        {"any", {any, fixed2}, {1, 64}, {1, 64}},
        {"only the first input counts", {mono_then_stereo, fixed2}, {1, 1}, {1, 1}},
        {"outputs only", {{}, fixed2}, {2, 2}, {1, 64}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ChannelBounds a = velk::channel_bounds(c.layout);
        EXPECT_EQ(a.min, c.first_port.min);
        EXPECT_EQ(a.max, c.first_port.max);
        const ChannelBounds b = velk::input_channel_bounds(c.layout);
        EXPECT_EQ(b.min, c.first_input.min);
        EXPECT_EQ(b.max, c.first_input.max);
    }
}

TEST(ChannelBounds, SettleTheInitialCount) {
    EXPECT_EQ((ChannelBounds{1, 64}.clamp(2)), 2u);
    EXPECT_EQ((ChannelBounds{1, 1}.clamp(2)), 1u);
    EXPECT_EQ((ChannelBounds{4, 4}.clamp(2)), 4u);
}

TEST(ChannelList, HoldsUpToSixtyFourRunsWithoutAllocating) {
    std::vector<float> samples(65 * 4);
    velk::ChannelList list;
    const velk::test::NoAllocScope scope;
    for (std::size_t ch = 0; ch < 64; ++ch)
        ASSERT_TRUE(list.push(std::span<float>(samples).subspan(ch * 4, 4)));
    EXPECT_FALSE(list.push(std::span<float>(samples).subspan(256, 4)));
    ASSERT_EQ(list.size(), 64u);
    EXPECT_EQ(list.runs()[63].data(), samples.data() + 63 * 4);
    list.clear();
    EXPECT_TRUE(list.empty());
    EXPECT_TRUE(list.runs().empty());
    EXPECT_EQ(scope.count(), 0u);
}

// Implements only what a plug-in must; everything else is the interface's default.
class Minimal : public velk::Plugin {
public:
    velk::ParamSet params() const override { return params_; }
    void prepare(const velk::ProcessSetup&) override {}
    void process(velk::ChannelBuffers, const velk::ProcessContext&) noexcept override {}
    std::uint32_t latency_samples() noexcept override { return 0; }
    std::uint32_t tail_samples() noexcept override { return 0; }

private:
    velk::ParamSet params_ = velk::ParamSet::with_channels({}, 1);
};

TEST(Plugin, DefaultsAreMainPortsNoInstrumentAndNoMidi) {
    Inner inner = Inner::make<Minimal>();
    const Layout layout = inner.layout();
    ASSERT_EQ(layout.inputs.size(), 1u);
    ASSERT_EQ(layout.outputs.size(), 1u);
    EXPECT_EQ(layout.inputs[0].name, "Main");
    EXPECT_EQ(layout.inputs[0].channels.rule, Channels::Range);
    EXPECT_EQ(layout.inputs[0].channels.min, 1u);
    EXPECT_EQ(layout.inputs[0].channels.max, 64u);
    EXPECT_EQ(layout.outputs[0].name, "Main");
    EXPECT_EQ(layout.outputs[0].channels.rule, Channels::Any);
    EXPECT_FALSE(inner.is_instrument());
    inner.midi(0x90, 60, 100, 0);
}

// Drives the test plug-in through `Inner` in the order the adapters use.
class InnerTest : public ::testing::Test {
protected:
    Inner inner = Inner::make<TestPlugin>();
    velk::ParamSet params = inner.params();
    TestPlugin& plugin = static_cast<TestPlugin&>(inner.plugin());

    void prepare(std::uint32_t channels) {
        params.set_channels(channels);
        inner.prepare({.max_frames = 128, .sample_rate = 48000.0f, .channels = channels});
    }
};

TEST_F(InnerTest, AnswersLatencyAndTailBeforePrepare) {
    const velk::ChannelBounds bounds = velk::channel_bounds(inner.layout());
    params.set_channels(bounds.clamp(2));
    EXPECT_EQ(params.channels(), 2u);
    EXPECT_EQ(inner.latency(), 0u);
    EXPECT_EQ(inner.tail(), 0u);
    params.at(TestPlugin::LATENCY).set(3.4f);
    params.at(TestPlugin::TAIL).set(4800.0f);
    EXPECT_EQ(inner.latency(), 3u);
    EXPECT_EQ(inner.tail(), 4800u);
}

TEST_F(InnerTest, ProcessesInPlaceInUnevenBlocksWithoutAllocating) {
    params.at(TestPlugin::GAIN).set(-6.0f);
    params.at(TestPlugin::LEVEL).set_ch(1, 0.5f);
    params.at(TestPlugin::LATENCY).set(5.0f);
    prepare(2);
    ASSERT_EQ(inner.latency(), 5u);

    Audio audio(2, std::vector<float>(400, 0.0f));
    audio[0][0] = 1.0f;
    audio[1][150] = 1.0f;
    std::size_t calls = 0;
    {
        const velk::test::NoAllocScope scope;
        calls = velk::test::run_in_blocks(inner, audio, {.position = 0.0, .tempo = 90.0});
        EXPECT_EQ(inner.latency(), 5u);
        EXPECT_EQ(inner.tail(), 0u);
        EXPECT_EQ(scope.count(), 0u);
    }
    EXPECT_EQ(calls, plugin.process_count());

    // Each impulse comes out 5 samples late, at -6 dB and channel 1 at half of that.
    const float gain = std::exp(-6.0f * 0.11512925f);
    for (std::size_t ch = 0; ch < 2; ++ch) {
        const std::size_t at = (ch == 0 ? 0 : 150) + 5;
        const float expected = ch == 0 ? gain : gain * 0.5f;
        for (std::size_t i = 0; i < audio[ch].size(); ++i) {
            ASSERT_EQ(audio[ch][i], i == at ? expected : 0.0f) << "channel " << ch << " at " << i;
        }
    }
    // The runner cycles 100, 1, 31, 64 and advances the position; 400 frames end in
    // a block of 8 that starts at 392.
    EXPECT_EQ(calls, 9u);
    EXPECT_EQ(plugin.last_frames(), 8u);
    EXPECT_EQ(plugin.last_channels(), 2u);
    EXPECT_EQ(plugin.last_context().position, 392.0);
    EXPECT_EQ(plugin.last_context().tempo, 90.0);
    // The meter holds the last block's peak, which was silent.
    EXPECT_EQ(params.at(TestPlugin::PEAK).get(), 0.0f);
}

TEST_F(InnerTest, SecondPrepareWithOtherChannelsStartsFromSilence) {
    params.at(TestPlugin::LATENCY).set(64.0f);
    prepare(1);
    Audio mono(1, std::vector<float>(32, 1.0f));
    velk::test::run_in_blocks(inner, mono);
    ASSERT_EQ(params.at(TestPlugin::PEAK).get(), 0.0f); // still inside the latency

    prepare(3);
    EXPECT_EQ(plugin.prepare_count(), 2u);
    EXPECT_EQ(plugin.last_setup().channels, 3u);
    EXPECT_EQ(params.channels(), 3u);
    Audio three(3, std::vector<float>(200, 0.0f));
    three[2][10] = 0.25f;
    velk::test::run_in_blocks(inner, three);
    // Nothing of the first run leaks out; the new impulse arrives 64 samples late.
    for (std::size_t ch = 0; ch < 3; ++ch) {
        for (std::size_t i = 0; i < 200; ++i) {
            ASSERT_EQ(three[ch][i], ch == 2 && i == 74 ? 0.25f : 0.0f) << ch << " " << i;
        }
    }
}

TEST_F(InnerTest, SkipsEmptyListsAndUnpreparedPlugins) {
    std::vector<float> samples(16, 1.0f);
    const std::array<std::span<float>, 1> runs{samples};

    inner.process(runs, {});
    EXPECT_EQ(plugin.process_count(), 0u) << "processed before prepare";

    prepare(1);
    inner.process({}, {});
    EXPECT_EQ(plugin.process_count(), 0u) << "processed an empty list";

    inner.process(runs, {});
    EXPECT_EQ(plugin.process_count(), 1u);
}

TEST_F(InnerTest, ForwardsMidiInOrder) {
    prepare(2);
    inner.midi(0x90, 60, 100, 0);
    inner.midi(0x80, 60, 0, 31);
    ASSERT_EQ(plugin.midi_events().size(), 2u);
    EXPECT_EQ(plugin.midi_events()[0].status, 0x90);
    EXPECT_EQ(plugin.midi_events()[0].data2, 100);
    EXPECT_EQ(plugin.midi_events()[1].status, 0x80);
    EXPECT_EQ(plugin.midi_events()[1].frame, 31u);
}

// A plug-in whose prepare runs out of memory part-way.
class FailingPrepare : public TestPlugin {
public:
    bool fail = true;
    void prepare(const velk::ProcessSetup& setup) override {
        TestPlugin::prepare(setup);
        if (fail)
            throw std::bad_alloc();
    }
};

TEST(Inner, FailedPrepareLeavesThePluginUnprepared) {
    Inner inner = Inner::make<FailingPrepare>();
    auto& plugin = static_cast<FailingPrepare&>(inner.plugin());
    const velk::ProcessSetup setup{.max_frames = 64, .sample_rate = 44100.0f, .channels = 1};
    EXPECT_THROW(inner.prepare(setup), std::bad_alloc);
    EXPECT_FALSE(inner.prepared());

    std::vector<float> samples(8, 1.0f);
    const std::array<std::span<float>, 1> runs{samples};
    inner.process(runs, {});
    EXPECT_EQ(plugin.process_count(), 0u);

    plugin.fail = false;
    inner.prepare(setup);
    inner.process(runs, {});
    EXPECT_EQ(plugin.process_count(), 1u);
}

} // namespace
