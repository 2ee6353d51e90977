// Processing through the test plug-in's module: how input reaches the output
// buffers, what the adapter refuses, the floating-point mode, allocations, and
// bad host input everywhere.

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "module_fixture.hpp"
#include "velk/core/ftz.hpp"
#include "velk/test/alloc.hpp"
#include "velk/test/test_plugin.hpp"

#include <gtest/gtest.h>

namespace {

using velk::test::AudioBuffer;
using velk::test::Block;
using velk::test::EventList;
using velk::test::HostedInstance;
using velk::test::test_module;
using velk::test::TestPlugin;

constexpr clap_id GAIN = TestPlugin::GAIN * 128;
constexpr clap_id LATENCY = TestPlugin::LATENCY * 128;
constexpr clap_id PEAK = TestPlugin::PEAK * 128;
const float MINUS_6_DB = std::exp(-6.0f * 0.11512925f);

class ClapProcess : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(h.instance);
        ASSERT_TRUE(h.instance.activate(48000.0, 256));
    }

    clap_process_status run(clap_audio_buffer* outputs, std::uint32_t outputs_count,
                            const clap_audio_buffer* inputs, std::uint32_t frames) const {
        const clap_process process{
            .steady_time = -1,
            .frames_count = frames,
            .transport = nullptr,
            .audio_inputs = inputs,
            .audio_outputs = outputs,
            .audio_inputs_count = inputs != nullptr ? 1u : 0u,
            .audio_outputs_count = outputs_count,
            .in_events = nullptr,
            .out_events = nullptr,
        };
        return h.instance.get()->process(h.instance.get(), &process);
    }

    HostedInstance h{test_module()};
};

TEST_F(ClapProcess, CopiesInputOrStartsFromSilence) {
    EventList events;
    events.param(GAIN, -6.0);
    AudioBuffer in(2, 64, 0.5f);
    AudioBuffer out(2, 64, 9.0f);
    ASSERT_EQ(h.instance.process(&in, out, {.events = &events}), CLAP_PROCESS_CONTINUE);
    EXPECT_FLOAT_EQ(out.channel(0)[0], 0.5f * MINUS_6_DB);
    EXPECT_FLOAT_EQ(out.channel(1)[63], 0.5f * MINUS_6_DB);
    EXPECT_FLOAT_EQ(static_cast<float>(h.instance.value(PEAK)), 0.5f * MINUS_6_DB);

    out.fill(9.0f);
    ASSERT_EQ(h.instance.process(nullptr, out), CLAP_PROCESS_CONTINUE);
    EXPECT_EQ(out.channel(0)[0], 0.0f);
    EXPECT_EQ(out.channel(1)[63], 0.0f);

    AudioBuffer mono(1, 64, 0.5f);
    out.fill(9.0f);
    ASSERT_EQ(h.instance.process(&mono, out), CLAP_PROCESS_CONTINUE);
    EXPECT_FLOAT_EQ(out.channel(0)[10], 0.5f * MINUS_6_DB);
    EXPECT_EQ(out.channel(1)[10], 0.0f);

    // An input whose pointer array is missing counts as silence.
    clap_audio_buffer no_data = in.raw();
    no_data.data32 = nullptr;
    clap_audio_buffer outputs = out.raw();
    out.fill(9.0f);
    ASSERT_EQ(run(&outputs, 1, &no_data, 64), CLAP_PROCESS_CONTINUE);
    EXPECT_EQ(out.channel(0)[5], 0.0f);

    // In place: input and output share memory, the gain applies once.
    AudioBuffer shared(2, 64, 0.5f);
    clap_audio_buffer same = shared.raw();
    ASSERT_EQ(run(&same, 1, &same, 64), CLAP_PROCESS_CONTINUE);
    EXPECT_FLOAT_EQ(shared.channel(0)[20], 0.5f * MINUS_6_DB);
    EXPECT_FLOAT_EQ(shared.channel(1)[20], 0.5f * MINUS_6_DB);
}

TEST_F(ClapProcess, RefusesUnusableOutputsWithoutTouchingThem) {
    AudioBuffer in(3, 32, 0.5f);
    AudioBuffer three(3, 32, 9.0f);
    AudioBuffer many(65, 32, 9.0f);
    struct Case {
        const char* name;
        clap_audio_buffer buffer;
    };
    clap_audio_buffer null_data = three.raw(2);
    null_data.data32 = nullptr;
    std::vector<float*> holey{three.data32()[0], nullptr};
    clap_audio_buffer null_channel = three.raw(2);
    null_channel.data32 = holey.data();
    const Case cases[] = {
        {"3 channels while 2 are settled", three.raw()},
        {"no channels", three.raw(0)},
        {"65 channels", many.raw()},
        {"null pointer array", null_data},
        {"null channel pointer", null_channel},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        clap_audio_buffer outputs = c.buffer;
        EXPECT_EQ(run(&outputs, 1, nullptr, 32), CLAP_PROCESS_ERROR);
        clap_audio_buffer inputs = in.raw();
        EXPECT_EQ(run(&outputs, 1, &inputs, 32), CLAP_PROCESS_ERROR);
        EXPECT_EQ(three.channel(0)[0], 9.0f);
        EXPECT_EQ(many.channel(0)[0], 9.0f);
    }

    // Nothing to write into, or nothing to process: nothing is refused.
    clap_audio_buffer outputs = three.raw();
    EXPECT_EQ(run(nullptr, 1, nullptr, 32), CLAP_PROCESS_CONTINUE);
    EXPECT_EQ(run(&outputs, 0, nullptr, 32), CLAP_PROCESS_CONTINUE);
    EXPECT_EQ(run(&outputs, 1, nullptr, 0), CLAP_PROCESS_CONTINUE);
    EXPECT_EQ(three.channel(0)[0], 9.0f);

    // The settled count is accepted again.
    AudioBuffer two(2, 32, 9.0f);
    EXPECT_EQ(h.instance.process(nullptr, two), CLAP_PROCESS_CONTINUE);
}

TEST_F(ClapProcess, RestoresTheCallersFloatingPointMode) {
    const std::uint64_t before = velk::float_control_register();
    AudioBuffer in(2, 64, std::numeric_limits<float>::denorm_min());
    AudioBuffer out(2, 64);
    EXPECT_EQ(h.instance.process(&in, out), CLAP_PROCESS_CONTINUE);
    EXPECT_EQ(velk::float_control_register(), before);
    AudioBuffer wrong(3, 64);
    EXPECT_EQ(h.instance.process(&in, wrong), CLAP_PROCESS_ERROR);
    EXPECT_EQ(velk::float_control_register(), before);
}

TEST_F(ClapProcess, AllocatesNothingAfterActivation) {
    if (!velk::test::counting_allocations())
        GTEST_SKIP() << "allocations are not counted in this build";
    HostedInstance fresh(test_module());
    ASSERT_TRUE(fresh.instance);
    {
        // The module's allocations reach this executable's counting operator new.
        const velk::test::NoAllocScope scope;
        ASSERT_TRUE(fresh.instance.activate(48000.0, 256));
        ASSERT_GT(scope.count(), 0u);
    }
    AudioBuffer in(2, 500, 0.25f);
    AudioBuffer out(2, 500);
    EventList events;
    events.param(GAIN, -3.0).param(LATENCY, 17.0).param(TestPlugin::LEVEL * 128 + 1, 0.5);
    clap_event_transport transport{};
    transport.flags = CLAP_TRANSPORT_HAS_TEMPO | CLAP_TRANSPORT_IS_PLAYING;
    transport.tempo = 128.0;
    const velk::test::NoAllocScope scope;
    for (std::int64_t block = 0; block < 4; ++block)
        EXPECT_EQ(
            fresh.instance.process(
                &in, out, {.events = &events, .transport = &transport, .steady_time = block * 500}),
            CLAP_PROCESS_CONTINUE);
    fresh.instance.reset();
    EXPECT_EQ(fresh.instance.process(&in, out), CLAP_PROCESS_CONTINUE);
    EXPECT_EQ(scope.count(), 0u);
}

TEST_F(ClapProcess, ResetClearsTheSignalState) {
    EventList events;
    events.param(LATENCY, 10.0);
    AudioBuffer in(2, 8, 1.0f);
    AudioBuffer out(2, 8);
    ASSERT_EQ(h.instance.process(&in, out, {.events = &events}), CLAP_PROCESS_CONTINUE);
    EXPECT_EQ(out.channel(0)[7], 0.0f); // still inside the 10-sample delay
    h.instance.reset();
    AudioBuffer silence(2, 8);
    ASSERT_EQ(h.instance.process(&silence, out), CLAP_PROCESS_CONTINUE);
    EXPECT_EQ(out.channel(0)[1], 0.0f) << "the delayed ones were cleared by the reset";
    EXPECT_EQ(h.instance.latency(), 10u);
}

TEST(ClapBadInput, NullsAndBrokenRecordsAreAnsweredWithoutACrash) {
    HostedInstance h(test_module());
    ASSERT_TRUE(h.instance);
    const clap_plugin* p = h.instance.get();
    const clap_plugin_params& params = h.instance.params();
    const clap_plugin_state& state = h.instance.state();
    const clap_plugin_audio_ports& ports = h.instance.ports();
    const clap_plugin_configurable_audio_ports& configurable = h.instance.configurable();
    const auto& latency =
        *static_cast<const clap_plugin_latency*>(h.instance.extension(CLAP_EXT_LATENCY));
    const auto& tail = *static_cast<const clap_plugin_tail*>(h.instance.extension(CLAP_EXT_TAIL));

    // A null plug-in everywhere.
    EXPECT_FALSE(p->init(nullptr));
    EXPECT_FALSE(p->activate(nullptr, 48000.0, 1, 256));
    EXPECT_EQ(p->process(nullptr, nullptr), CLAP_PROCESS_ERROR);
    EXPECT_EQ(p->get_extension(nullptr, CLAP_EXT_PARAMS), nullptr);
    p->deactivate(nullptr);
    p->reset(nullptr);
    p->on_main_thread(nullptr);
    p->stop_processing(nullptr);
    p->destroy(nullptr);
    EXPECT_EQ(params.count(nullptr), 0u);
    clap_param_info info{};
    double value = 0.0;
    char text[16];
    EXPECT_FALSE(params.get_info(nullptr, 0, &info));
    EXPECT_FALSE(params.get_value(nullptr, GAIN, &value));
    EXPECT_FALSE(params.value_to_text(nullptr, GAIN, 0.0, text, sizeof text));
    EXPECT_FALSE(params.text_to_value(nullptr, GAIN, "1", &value));
    params.flush(nullptr, nullptr, nullptr);
    velk::test::OutStream out;
    EXPECT_FALSE(state.save(nullptr, out.raw()));
    EXPECT_EQ(latency.get(nullptr), 0u);
    EXPECT_EQ(tail.get(nullptr), 0u);
    EXPECT_EQ(ports.count(nullptr, true), 0u);
    clap_audio_port_info port{};
    EXPECT_FALSE(ports.get(nullptr, 0, true, &port));
    const clap_audio_port_configuration_request mono{true, 0, 1, nullptr, nullptr};
    EXPECT_FALSE(configurable.apply_configuration(nullptr, &mono, 1));

    // Null results and arguments on a real instance.
    EXPECT_FALSE(params.get_info(p, 0, nullptr));
    EXPECT_FALSE(params.get_value(p, GAIN, nullptr));
    EXPECT_FALSE(params.value_to_text(p, GAIN, 0.0, nullptr, 16));
    EXPECT_FALSE(params.text_to_value(p, GAIN, nullptr, &value));
    EXPECT_FALSE(params.text_to_value(p, GAIN, "1", nullptr));
    EXPECT_FALSE(state.save(p, nullptr));
    EXPECT_FALSE(state.load(p, nullptr));
    const clap_ostream no_write{nullptr, nullptr};
    const clap_istream no_read{nullptr, nullptr};
    EXPECT_FALSE(state.save(p, &no_write));
    EXPECT_FALSE(state.load(p, &no_read));
    EXPECT_FALSE(configurable.can_apply_configuration(p, nullptr, 3));
    EXPECT_EQ(p->process(p, nullptr), CLAP_PROCESS_ERROR);

    // Event lists with missing functions or null events are ignored.
    const clap_input_events no_functions{nullptr, nullptr, nullptr};
    params.flush(p, &no_functions, nullptr);
    EventList nulls;
    nulls.null_event().null_event();
    params.flush(p, nulls.raw(), nullptr);
    clap_event_header tiny{sizeof(clap_event_header), 0, CLAP_CORE_EVENT_SPACE_ID,
                           CLAP_EVENT_PARAM_VALUE, 0};
    EventList truncated;
    truncated.raw_event(&tiny, sizeof tiny);
    params.flush(p, truncated.raw(), nullptr);
    EXPECT_EQ(h.instance.value(GAIN), 0.0);

    // A host whose function slots are empty.
    clap_host bare = *h.host.raw();
    bare.get_extension = nullptr;
    bare.request_callback = nullptr;
    bare.request_restart = nullptr;
    const clap_plugin_factory* factory = test_module().factory();
    const velk::test::ClapInstance lone(factory->create_plugin(factory, &bare, "velk.test-plugin"));
    ASSERT_TRUE(lone);
    EXPECT_TRUE(lone.init());
    ASSERT_TRUE(lone.activate());
    EventList latency_change;
    latency_change.param(LATENCY, 5.0);
    AudioBuffer buffer(2, 16);
    EXPECT_EQ(lone.process(nullptr, buffer, {.events = &latency_change}), CLAP_PROCESS_CONTINUE);
    lone.on_main_thread();
    EXPECT_EQ(lone.latency(), 5u);
}

} // namespace
