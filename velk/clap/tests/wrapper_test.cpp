#include <array>
#include <cmath>
#include <limits>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "abi.hpp"
#include "param_ids.hpp"
#include "velk/clap/descriptor.hpp"
#include "velk/test/alloc.hpp"
#include "velk/test/clap_host.hpp"
#include "velk/test/test_plugin.hpp"
#include "wrapper.hpp"

#include <gtest/gtest.h>

namespace {

using velk::clap::param_id;
using velk::clap::Wrapper;
using velk::test::AudioBuffer;
using velk::test::Block;
using velk::test::ClapInstance;
using velk::test::EventList;
using velk::test::RecordingHost;
using velk::test::TestPlugin;

constexpr velk::clap::Config CONFIG{.id = "test.plugin", .name = "Test"};

const clap_id GAIN = param_id(TestPlugin::GAIN, 0);
const clap_id LEVEL_1 = param_id(TestPlugin::LEVEL, 1);
const clap_id LATENCY = param_id(TestPlugin::LATENCY, 0);
const clap_id TAIL = param_id(TestPlugin::TAIL, 0);
const clap_id PEAK = param_id(TestPlugin::PEAK, 0);

// A test plug-in whose prepare can be made to fail the way an allocation does.
class FailingPlugin : public TestPlugin {
public:
    bool fail = false;
    void prepare(const velk::ProcessSetup& setup) override {
        if (fail)
            throw std::bad_alloc();
        TestPlugin::prepare(setup);
    }
};

// One instance of the adapter around a test plug-in, driven through its record.
template <typename P = TestPlugin>
class Fixture {
public:
    explicit Fixture(RecordingHost::Options options = {}, float latency = 0.0f, float tail = 0.0f)
        : host(options), instance(create(latency, tail)) {
        instance.init();
        wrapper().params.set_listener([this](const velk::ParamSet&) { ++notified; });
    }

    Wrapper& wrapper() { return *Wrapper::from(instance.get()); }

    velk::clap::Registry registry{CONFIG};
    RecordingHost host;
    P* plugin = nullptr;
    ClapInstance instance;
    int notified = 0;

private:
    const clap_plugin* create(float latency, float tail) {
        velk::Inner inner = velk::Inner::make<P>();
        plugin = &static_cast<P&>(inner.plugin());
        plugin->params().at(TestPlugin::LATENCY).set(latency);
        plugin->params().at(TestPlugin::TAIL).set(tail);
        return Wrapper::create(registry.descriptor(), host.raw(), std::move(inner));
    }
};

TEST(Wrapper, StartsInactiveWithTwoChannelsAndKnowsLatencyAndTail) {
    Fixture<> f({}, 12.0f, 480.0f);
    EXPECT_EQ(f.wrapper().channel_count, 2u);
    EXPECT_EQ(f.wrapper().params.channels(), 2u);
    EXPECT_EQ(f.wrapper().sample_rate, 48000.0);
    EXPECT_EQ(f.wrapper().max_frames, 4096u);
    EXPECT_FALSE(f.wrapper().is_active());
    EXPECT_EQ(f.instance.latency(), 12u);
    EXPECT_EQ(f.instance.tail(), 480u);
    EXPECT_EQ(f.plugin->prepare_count(), 0u);
    EXPECT_EQ(f.instance.get()->desc, f.registry.descriptor());
}

TEST(Wrapper, ActivationRefusesRatesThePlugInCannotUse) {
    Fixture<> f;
    const double inf = std::numeric_limits<double>::infinity();
    for (double rate :
         {0.0, -0.0, -44100.0, inf, -inf, std::nan(""), 1e300, 1e-300, 768001.0, 1e38}) {
        SCOPED_TRACE(rate);
        EXPECT_FALSE(f.instance.activate(rate, 256));
        EXPECT_FALSE(f.wrapper().is_active());
        EXPECT_EQ(f.wrapper().sample_rate, 48000.0);
    }
    EXPECT_EQ(f.plugin->prepare_count(), 0u);

    ASSERT_TRUE(f.instance.activate(44100.0, 256));
    EXPECT_EQ(f.plugin->prepare_count(), 1u);
    EXPECT_EQ(f.plugin->last_setup().sample_rate, 44100.0f);
    EXPECT_EQ(f.plugin->last_setup().max_frames, 256u);
    EXPECT_EQ(f.plugin->last_setup().channels, 2u);
    EXPECT_FALSE(f.instance.activate(48000.0, 256)) << "already active";
    EXPECT_EQ(f.plugin->prepare_count(), 1u);

    f.instance.deactivate();
    ASSERT_TRUE(f.instance.activate(96000.0, 0));
    EXPECT_EQ(f.wrapper().max_frames, 1u);
    EXPECT_EQ(f.plugin->last_setup().max_frames, 1u);
    EXPECT_EQ(f.plugin->last_setup().sample_rate, 96000.0f);

    f.instance.deactivate();
    ASSERT_TRUE(f.instance.activate(768000.0, 64)) << "the highest rate in use";
    EXPECT_EQ(f.plugin->last_setup().sample_rate, velk::MAX_SAMPLE_RATE);
}

TEST(Wrapper, ResetPreparesAgainOnlyWhileActiveAndWithoutAllocating) {
    Fixture<> f;
    f.instance.reset();
    EXPECT_EQ(f.plugin->prepare_count(), 0u);

    std::size_t activation_allocations = 0;
    {
        const velk::test::NoAllocScope scope;
        ASSERT_TRUE(f.instance.activate(48000.0, 512));
        activation_allocations = scope.count();
    }
    if (velk::test::counting_allocations()) {
        EXPECT_GT(activation_allocations, 0u) << "the counter does not see the plug-in";
    }
    {
        const velk::test::NoAllocScope scope;
        f.instance.reset();
        EXPECT_EQ(scope.count(), 0u);
    }
    EXPECT_EQ(f.plugin->prepare_count(), 2u);
    EXPECT_EQ(f.plugin->last_setup().max_frames, 512u);

    f.instance.deactivate();
    f.instance.reset();
    EXPECT_EQ(f.plugin->prepare_count(), 2u);
}

TEST(Wrapper, FailingPrepareIsContainedAtTheBoundary) {
    Fixture<FailingPlugin> f;
    f.plugin->fail = true;
    EXPECT_FALSE(f.instance.activate(44100.0, 128));
    EXPECT_FALSE(f.wrapper().is_active());
    EXPECT_EQ(f.wrapper().sample_rate, 48000.0);
    EXPECT_EQ(f.wrapper().max_frames, 4096u);

    f.plugin->fail = false;
    ASSERT_TRUE(f.instance.activate(44100.0, 128));
    f.plugin->fail = true;
    f.instance.reset(); // must return normally

    // The unprepared plug-in is skipped: the input passes unchanged.
    AudioBuffer in(2, 32, 0.25f);
    AudioBuffer out(2, 32, 9.0f);
    EventList events;
    events.param(GAIN, -6.0);
    EXPECT_EQ(f.instance.process(&in, out, {.events = &events}), CLAP_PROCESS_CONTINUE);
    EXPECT_EQ(out.channel(0)[31], 0.25f);
    EXPECT_EQ(out.channel(1)[0], 0.25f);
}

// Only an active instance is prepared for the channel count in force. One never
// activated, or deactivated and configured for more channels since, refuses the
// block: the plug-in does not run, the events wait, the buffers stay as they were.
TEST(Wrapper, InactiveInstanceRefusesToProcess) {
    Fixture<> f;
    AudioBuffer in(2, 32, 0.5f);
    AudioBuffer out(2, 32, 9.0f);
    EventList events;
    events.param(GAIN, -6.0);
    EXPECT_EQ(f.instance.process(&in, out, {.events = &events}), CLAP_PROCESS_ERROR);
    EXPECT_EQ(f.instance.value(GAIN), 0.0);
    EXPECT_EQ(out.channel(0)[0], 9.0f);

    ASSERT_TRUE(f.instance.activate(48000.0, 64));
    ASSERT_EQ(f.instance.process(&in, out, {.events = &events}), CLAP_PROCESS_CONTINUE);
    f.instance.deactivate();
    ASSERT_TRUE(f.instance.apply_channels(4));
    AudioBuffer in4(4, 32, 0.5f);
    AudioBuffer out4(4, 32, 9.0f);
    EventList later;
    later.param(GAIN, -12.0);
    EXPECT_EQ(f.instance.process(&in4, out4, {.events = &later}), CLAP_PROCESS_ERROR);
    EXPECT_EQ(out4.channel(3)[31], 9.0f);
    EXPECT_EQ(f.instance.value(GAIN), -6.0);
    EXPECT_EQ(f.plugin->process_count(), 1u);
    EXPECT_EQ(f.plugin->last_channels(), 2u);
    EXPECT_EQ(f.host.callbacks(), 1);

    ASSERT_TRUE(f.instance.activate(48000.0, 64));
    EXPECT_EQ(f.instance.process(&in4, out4, {.events = &later}), CLAP_PROCESS_CONTINUE);
    EXPECT_EQ(f.plugin->last_channels(), 4u);
}

TEST(Wrapper, ContextFollowsTheTransport) {
    Fixture<> f;
    ASSERT_TRUE(f.instance.activate(48000.0, 64));
    struct Case {
        const char* name;
        std::int64_t steady_time;
        std::optional<clap_event_transport> transport;
        std::optional<double> position;
        std::optional<double> tempo;
        bool playing;
    };
    auto transport = [](std::uint32_t flags, double tempo, double seconds) {
        clap_event_transport t{};
        t.header = {sizeof t, 0, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_TRANSPORT, 0};
        t.flags = flags;
        t.tempo = tempo;
        t.song_pos_seconds = static_cast<clap_sectime>(seconds * 2147483648.0);
        t.song_pos_beats = 12345; // never used
        return t;
    };
    const Case cases[] = {
        {"steady counter only", 1000, std::nullopt, 1000.0, std::nullopt, false},
        {"nothing known", -1, std::nullopt, std::nullopt, std::nullopt, false},
        {"transport without flags", 64, transport(0, 99.0, 3.0), 64.0, std::nullopt, false},
        {"tempo and playing", -1,
         transport(CLAP_TRANSPORT_HAS_TEMPO | CLAP_TRANSPORT_IS_PLAYING, 140.0, 0.0), std::nullopt,
         140.0, true},
        {"seconds timeline wins over the counter", 7,
         transport(CLAP_TRANSPORT_HAS_SECONDS_TIMELINE, 0.0, 2.5), 120000.0, std::nullopt, false},
        {"beats timeline is not a position", -1,
         transport(CLAP_TRANSPORT_HAS_BEATS_TIMELINE, 0.0, 2.5), std::nullopt, std::nullopt, false},
    };
    AudioBuffer out(2, 16);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Block block{.transport = c.transport ? &*c.transport : nullptr,
                          .steady_time = c.steady_time};
        ASSERT_EQ(f.instance.process(nullptr, out, block), CLAP_PROCESS_CONTINUE);
        const velk::ProcessContext& context = f.plugin->last_context();
        EXPECT_EQ(context.position, c.position);
        EXPECT_EQ(context.tempo, c.tempo);
        EXPECT_EQ(context.playing, c.playing);
        EXPECT_EQ(context.sample_rate, 48000.0f);
    }
}

TEST(Wrapper, LongBlocksReachThePlugInInPiecesOfTheActivatedSize) {
    Fixture<> f;
    ASSERT_TRUE(f.instance.activate(48000.0, 64));
    AudioBuffer in(2, 200, 0.5f);
    AudioBuffer out(2, 200);
    EventList events;
    events.param(GAIN, -6.0);
    const std::size_t before = f.plugin->process_count();
    ASSERT_EQ(f.instance.process(&in, out, {.events = &events, .steady_time = 1000}),
              CLAP_PROCESS_CONTINUE);
    EXPECT_EQ(f.plugin->process_count() - before, 4u); // 64, 64, 64, 8
    EXPECT_EQ(f.plugin->last_frames(), 8u);
    EXPECT_EQ(f.plugin->last_context().position, 1192.0);
    const float expected = 0.5f * std::exp(-6.0f * 0.11512925f);
    for (std::size_t i : {0u, 63u, 64u, 199u})
        EXPECT_FLOAT_EQ(out.channel(1)[i], expected) << i;
}

TEST(Wrapper, EventsThatCannotApplyAreSkipped) {
    Fixture<> f;
    ASSERT_TRUE(f.instance.activate(48000.0, 64));
    auto with = [](clap_id id, double value, auto change) {
        clap_event_param_value e = velk::test::param_event(id, value);
        change(e);
        return e;
    };
    auto keep = [](clap_event_param_value&) {
    };
    const struct {
        const char* name;
        clap_event_param_value event;
    } cases[] = {
        {"NaN", with(GAIN, std::nan(""), keep)},
        {"infinity", with(GAIN, std::numeric_limits<double>::infinity(), keep)},
        {"size below the record", with(GAIN, -6.0, [](auto& e) { e.header.size = 55; })},
        {"other event space", with(GAIN, -6.0, [](auto& e) { e.header.space_id = 1; })},
        {"modulation, not a value",
         with(GAIN, -6.0, [](auto& e) { e.header.type = CLAP_EVENT_PARAM_MOD; })},
        {"channel at the channel count", with(param_id(TestPlugin::LEVEL, 2), 0.5, keep)},
        {"channel on an ordinary parameter", with(GAIN + 1, -6.0, keep)},
        {"past the table", with(param_id(7, 0), 1.0, keep)},
        {"meter", with(PEAK, 3.0, keep)},
    };
    AudioBuffer out(2, 0);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EventList events;
        events.raw_event(&c.event, sizeof c.event).null_event();
        f.host.forget();
        EXPECT_EQ(f.instance.process(nullptr, out, {.events = &events}), CLAP_PROCESS_CONTINUE);
        EXPECT_EQ(f.host.callbacks(), 0);
        EXPECT_EQ(f.instance.value(GAIN), 0.0);
        EXPECT_EQ(f.instance.value(param_id(TestPlugin::LEVEL, 0)), 1.0);
        EXPECT_EQ(f.instance.value(LEVEL_1), 1.0);
        EXPECT_EQ(f.instance.value(PEAK), 0.0);
    }
}

TEST(Wrapper, ParameterEventsNotifyOnceFromTheMainThread) {
    Fixture<> f;
    ASSERT_TRUE(f.instance.activate(48000.0, 64));
    EventList events;
    events.param(GAIN, 100.0).param(LEVEL_1, 0.25).param(GAIN, -3.0);
    AudioBuffer out(2, 0); // zero frames: events only
    ASSERT_EQ(f.instance.process(nullptr, out, {.events = &events}), CLAP_PROCESS_CONTINUE);
    EXPECT_EQ(f.instance.value(GAIN), -3.0);
    EXPECT_EQ(f.instance.value(LEVEL_1), 0.25);
    EXPECT_EQ(f.instance.value(param_id(TestPlugin::LEVEL, 0)), 1.0);
    EXPECT_EQ(f.plugin->process_count(), 0u);
    EXPECT_EQ(f.host.callbacks(), 1);
    EXPECT_EQ(f.notified, 0);
    f.instance.on_main_thread();
    EXPECT_EQ(f.notified, 1);
    f.instance.on_main_thread();
    EXPECT_EQ(f.notified, 1);
    EXPECT_EQ(f.host.latency_changes(), 0);
}

TEST(Wrapper, FlushNotifiesAtOnceWhenInactiveAndLaterWhenActive) {
    Fixture<> f;
    const clap_plugin_params& params = f.instance.params();
    EventList events;
    events.param(GAIN, -12.0);
    params.flush(f.instance.get(), events.raw(), nullptr);
    EXPECT_EQ(f.instance.value(GAIN), -12.0);
    EXPECT_EQ(f.notified, 1);
    EXPECT_EQ(f.host.callbacks(), 0);

    ASSERT_TRUE(f.instance.activate());
    params.flush(f.instance.get(), events.raw(), nullptr);
    EXPECT_EQ(f.notified, 1);
    EXPECT_EQ(f.host.callbacks(), 1);
    f.instance.on_main_thread();
    EXPECT_EQ(f.notified, 2);

    EventList meter_only;
    meter_only.param(PEAK, 1.0);
    params.flush(f.instance.get(), meter_only.raw(), nullptr);
    params.flush(f.instance.get(), nullptr, nullptr);
    EXPECT_EQ(f.host.callbacks(), 1);
}

TEST(Wrapper, LatencyAndTailChangesReachTheHost) {
    Fixture<> f;
    ASSERT_TRUE(f.instance.activate(48000.0, 64));
    EventList events;
    events.param(LATENCY, 8.0).param(TAIL, 300.0);
    AudioBuffer out(2, 16);
    ASSERT_EQ(f.instance.process(nullptr, out, {.events = &events}), CLAP_PROCESS_CONTINUE);
    EXPECT_EQ(f.instance.tail(), 300u);
    EXPECT_EQ(f.instance.latency(), 8u);
    EXPECT_EQ(f.host.callbacks(), 2); // one for the values, one for the latency
    EXPECT_EQ(f.host.latency_changes(), 0);

    f.instance.on_main_thread();
    EXPECT_EQ(f.host.latency_changes(), 1);
    EXPECT_EQ(f.host.restarts(), 1) << "an active instance takes a new latency on restart";
    f.instance.on_main_thread();
    EXPECT_EQ(f.host.latency_changes(), 1);

    // Unchanged latency: no callback from the next block.
    ASSERT_EQ(f.instance.process(nullptr, out), CLAP_PROCESS_CONTINUE);
    EXPECT_EQ(f.host.callbacks(), 2);
}

TEST(Wrapper, LatencyChangeWithoutTheHostExtensionOnlyRestarts) {
    Fixture<> f({.offer_latency = false});
    ASSERT_TRUE(f.instance.activate(48000.0, 64));
    EventList events;
    events.param(LATENCY, 4.0);
    AudioBuffer out(2, 16);
    ASSERT_EQ(f.instance.process(nullptr, out, {.events = &events}), CLAP_PROCESS_CONTINUE);
    f.instance.on_main_thread();
    EXPECT_EQ(f.host.latency_changes(), 0);
    EXPECT_EQ(f.host.restarts(), 1);
}

// A plug-in whose per-channel parameter has a name and a group longer than CLAP's
// fields, written in two-byte characters.
const std::string LONG_NAME = [] {
    std::string s;
    for (int i = 0; i < 200; ++i)
        s += "\xC3\xA9";
    return s;
}();
const std::string LONG_GROUP = LONG_NAME + LONG_NAME + LONG_NAME;
const std::array<velk::ParamInfo, 1> LONG_PARAMS{
    {{.id = "long", .name = LONG_NAME, .group = LONG_GROUP, .per_channel = true}}};

class LongNamesPlugin : public velk::Plugin {
public:
    velk::ParamSet params() const override { return params_; }
    void prepare(const velk::ProcessSetup&) override {}
    void process(velk::ChannelBuffers, const velk::ProcessContext&) noexcept override {}
    std::uint32_t latency_samples() noexcept override { return 0; }
    std::uint32_t tail_samples() noexcept override { return 0; }

private:
    velk::ParamSet params_ = velk::ParamSet::with_channels(LONG_PARAMS, 2);
};

TEST(Wrapper, LongNamesAreCutBetweenCharacters) {
    velk::clap::Registry registry(CONFIG);
    RecordingHost host;
    const ClapInstance instance(
        Wrapper::create(registry.descriptor(), host.raw(), velk::Inner::make<LongNamesPlugin>()));
    const std::vector<clap_param_info> infos = instance.infos();
    ASSERT_EQ(infos.size(), 2u);
    // "é" × 200 and " 2" cut to 255 bytes ends after 127 whole characters.
    EXPECT_EQ(std::string(infos[1].name), LONG_NAME.substr(0, 254));
    // The group (1200 bytes) and "/Channel 2" cut to 1023 bytes: 511 characters.
    EXPECT_EQ(std::string(infos[1].module), LONG_GROUP.substr(0, 1022));
    EXPECT_EQ(infos[1].id, 1u);
}

TEST(Wrapper, ProcessAllocatesNothing) {
    if (!velk::test::counting_allocations())
        GTEST_SKIP() << "allocations are not counted in this build";
    Fixture<> f;
    ASSERT_TRUE(f.instance.activate(48000.0, 64));
    AudioBuffer in(2, 300, 0.5f);
    AudioBuffer out(2, 300);
    EventList events;
    events.param(GAIN, -6.0).param(LATENCY, 3.0).param(LEVEL_1, 0.5);
    clap_event_transport transport{};
    transport.flags = CLAP_TRANSPORT_HAS_TEMPO | CLAP_TRANSPORT_HAS_SECONDS_TIMELINE;
    transport.tempo = 90.0;
    const velk::test::NoAllocScope scope;
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(f.instance.process(&in, out, {.events = &events, .transport = &transport}),
                  CLAP_PROCESS_CONTINUE);
    EXPECT_EQ(scope.count(), 0u);
}

} // namespace
