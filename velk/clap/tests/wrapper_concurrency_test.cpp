#include <atomic>
#include <thread>

#include "abi.hpp"
#include "param_ids.hpp"
#include "velk/clap/descriptor.hpp"
#include "velk/test/clap_host.hpp"
#include "velk/test/test_plugin.hpp"
#include "wrapper.hpp"

#include <gtest/gtest.h>

namespace {

using velk::clap::param_id;
using velk::test::TestPlugin;

constexpr velk::clap::Config CONFIG{.id = "test.plugin", .name = "Test"};

// The host's main thread queries, saves and flushes while its audio thread processes
// blocks whose events change values, latency and tail.
TEST(WrapperConcurrency, MainThreadWorksWhileAudioProcesses) {
    velk::clap::Registry registry(CONFIG);
    velk::test::RecordingHost host;
    const velk::test::ClapInstance instance(velk::clap::Wrapper::create(
        registry.descriptor(), host.raw(), velk::Inner::make<TestPlugin>()));
    ASSERT_TRUE(instance.init());
    ASSERT_TRUE(instance.activate(48000.0, 128));
    const clap_plugin_params& params = instance.params();
    const clap_plugin_state& state = instance.state();

    velk::test::EventList events[2];
    events[0].param(param_id(TestPlugin::GAIN, 0), -6.0).param(param_id(TestPlugin::LATENCY, 0), 4);
    events[1].param(param_id(TestPlugin::LATENCY, 0), 9).param(param_id(TestPlugin::TAIL, 0), 64);

    // Each side goes on until both have done a minimum number of rounds, so that
    // they overlap however the threads are scheduled.
    constexpr int min_rounds = 200;
    std::atomic<int> audio_rounds{0};
    std::atomic<int> main_rounds{0};
    auto go_on = [&](const std::atomic<int>& own, const std::atomic<int>& other) {
        return own.load() < min_rounds || other.load() < min_rounds;
    };
    std::thread audio([&] {
        velk::test::AudioBuffer in(2, 128, 0.5f);
        velk::test::AudioBuffer out(2, 128);
        for (int i = 0; go_on(audio_rounds, main_rounds); ++i, ++audio_rounds)
            EXPECT_EQ(instance.process(&in, out, {.events = &events[i % 2]}),
                      CLAP_PROCESS_CONTINUE);
    });
    for (; go_on(main_rounds, audio_rounds); ++main_rounds) {
        for (std::uint32_t index = 0; index < params.count(instance.get()); ++index) {
            clap_param_info info{};
            EXPECT_TRUE(params.get_info(instance.get(), index, &info));
            double value = 0.0;
            EXPECT_TRUE(params.get_value(instance.get(), info.id, &value));
        }
        velk::test::OutStream out;
        EXPECT_TRUE(state.save(instance.get(), out.raw()));
        EXPECT_LE(instance.latency(), 9u);
        EXPECT_LE(instance.tail(), 64u);
        instance.on_main_thread();
    }
    audio.join();
    instance.on_main_thread();
    EXPECT_GT(host.callbacks(), 0);
    EXPECT_GT(host.latency_changes(), 0);
}

} // namespace
