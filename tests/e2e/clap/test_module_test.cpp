// The adapter as a host sees it through the test plug-in's module: entry and
// factory, parameters, extensions, ports and state.

#include <array>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "module_fixture.hpp"
#include "velk/core/state.hpp"
#include "velk/test/test_plugin.hpp"

#include <gtest/gtest.h>

namespace {

using velk::test::ClapInstance;
using velk::test::EventList;
using velk::test::HostedInstance;
using velk::test::InStream;
using velk::test::OutStream;
using velk::test::RecordingHost;
using velk::test::test_module;
using velk::test::TestPlugin;

constexpr clap_id id_of(std::size_t index, std::uint32_t channel = 0) {
    return static_cast<clap_id>(index * 128 + channel);
}

TEST(ClapEntry, HandsOutOneFactoryAndOneStableDescriptor) {
    velk::test::ClapModule& module = test_module();
    ASSERT_TRUE(module.loaded());
    const clap_plugin_entry& entry = *module.entry();
    EXPECT_EQ(entry.clap_version.major, 1u);
    EXPECT_EQ(entry.clap_version.minor, 2u);
    EXPECT_EQ(entry.clap_version.revision, 10u);
    for (const char* id : {static_cast<const char*>(nullptr), "clap.plugin-factory.draft",
                           "CLAP.PLUGIN-FACTORY", "clap.plugin-invalidation-factory"})
        EXPECT_EQ(entry.get_factory(id), nullptr) << (id ? id : "null");

    const clap_plugin_factory* factory = module.factory();
    ASSERT_NE(factory, nullptr);
    EXPECT_EQ(factory->get_plugin_count(factory), 1u);
    const clap_plugin_descriptor* descriptor = factory->get_plugin_descriptor(factory, 0);
    ASSERT_NE(descriptor, nullptr);
    EXPECT_EQ(factory->get_plugin_descriptor(factory, 1), nullptr);
    EXPECT_EQ(factory->get_plugin_descriptor(nullptr, 0), descriptor);
    entry.deinit();
    EXPECT_TRUE(entry.init("/elsewhere"));
    EXPECT_EQ(factory->get_plugin_descriptor(factory, 0), descriptor);

    EXPECT_STREQ(descriptor->id, velk::test::TEST_PLUGIN_ID);
    EXPECT_STREQ(descriptor->name, "Velk Test Plug-in");
    EXPECT_STREQ(descriptor->manual_url, "");
    EXPECT_STREQ(descriptor->support_url, "");
    EXPECT_STREQ(descriptor->version, "0.0.1");
    EXPECT_STREQ(descriptor->features[0], "audio-effect");
    EXPECT_STREQ(descriptor->features[1], "utility");
    EXPECT_EQ(descriptor->features[2], nullptr);
}

TEST(ClapEntry, CreatesOnlyForItsIdAndAUsableHost) {
    RecordingHost host;
    RecordingHost pre_release({.major = 0});
    const clap_plugin_factory* factory = test_module().factory();
    ASSERT_NE(factory, nullptr);
    const struct {
        const clap_host* host;
        const char* id;
        bool created;
    } cases[] = {
        {host.raw(), "velk.test-plugin", true},
        {host.raw(), "velk.test-plugin ", false},
        {host.raw(), "Velk.Test-Plugin", false},
        {host.raw(), "velk", false},
        {host.raw(), nullptr, false},
        {nullptr, "velk.test-plugin", false},
        {pre_release.raw(), "velk.test-plugin", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.id ? c.id : "null id");
        const ClapInstance instance(factory->create_plugin(factory, c.host, c.id));
        EXPECT_EQ(static_cast<bool>(instance), c.created);
        if (instance) {
            EXPECT_EQ(instance.get()->desc, factory->get_plugin_descriptor(factory, 0));
        }
    }
}

TEST(ClapExtensions, AreFoundByTheirExactIds) {
    HostedInstance h(test_module());
    ASSERT_TRUE(h.instance);
    const void* configurable = h.instance.extension("clap.configurable-audio-ports/1");
    ASSERT_NE(configurable, nullptr);
    EXPECT_EQ(h.instance.extension("clap.configurable-audio-ports.draft1"), configurable);
    for (const char* id :
         {"clap.params", "clap.state", "clap.latency", "clap.tail", "clap.audio-ports"})
        EXPECT_NE(h.instance.extension(id), nullptr) << id;
    for (const char* id : {static_cast<const char*>(nullptr), "clap.params.draft", "clap.gui",
                           "clap.note-ports", "clap.tail ", "clap.tai", "CLAP.PARAMS", ""})
        EXPECT_EQ(h.instance.extension(id), nullptr) << (id ? id : "null");
}

TEST(ClapParams, ListPerChannelParametersPerChannelInUse) {
    HostedInstance h(test_module());
    ASSERT_TRUE(h.instance);
    struct Expected {
        clap_id id;
        const char* name;
        const char* module;
        clap_param_info_flags flags;
    };
    const Expected expected[] = {
        {id_of(TestPlugin::GAIN), "Gain", "Level", 32},
        {id_of(TestPlugin::LEVEL, 0), "Level 1", "Level/Channel 1", 32},
        {id_of(TestPlugin::LEVEL, 1), "Level 2", "Level/Channel 2", 32},
        {id_of(TestPlugin::MODE), "Mode", "", 65569},
        {id_of(TestPlugin::BYPASS), "Bypass", "", 49},
        {id_of(TestPlugin::LATENCY), "Latency", "", 32},
        {id_of(TestPlugin::TAIL), "Tail", "", 32},
        {id_of(TestPlugin::PEAK), "Peak", "", 8},
    };
    const std::vector<clap_param_info> infos = h.instance.infos();
    ASSERT_EQ(infos.size(), std::size(expected));
    for (std::size_t i = 0; i < infos.size(); ++i) {
        SCOPED_TRACE(expected[i].name);
        EXPECT_EQ(infos[i].id, expected[i].id);
        EXPECT_STREQ(infos[i].name, expected[i].name);
        EXPECT_STREQ(infos[i].module, expected[i].module);
        EXPECT_EQ(infos[i].flags, expected[i].flags);
        EXPECT_EQ(infos[i].cookie, nullptr);
    }
    EXPECT_EQ(infos[0].min_value, -60.0);
    EXPECT_EQ(infos[0].max_value, 12.0);
    EXPECT_EQ(infos[0].default_value, 0.0);
    clap_param_info past{};
    EXPECT_FALSE(h.instance.params().get_info(h.instance.get(), 8, &past));

    ASSERT_TRUE(h.instance.apply_channels(4));
    EXPECT_EQ(h.host.rescans(), std::vector<clap_param_rescan_flags>{CLAP_PARAM_RESCAN_ALL});
    const std::vector<clap_param_info> four = h.instance.infos();
    ASSERT_EQ(four.size(), 10u);
    EXPECT_EQ(four[4].id, id_of(TestPlugin::LEVEL, 3));
    EXPECT_STREQ(four[4].name, "Level 4");
    EXPECT_STREQ(four[4].module, "Level/Channel 4");
}

TEST(ClapParams, ValuesAndTextsRefuseUnlistedIds) {
    HostedInstance h(test_module());
    ASSERT_TRUE(h.instance);
    const clap_plugin_params& params = h.instance.params();
    const clap_plugin* p = h.instance.get();
    for (clap_id id :
         {id_of(TestPlugin::GAIN, 1), id_of(TestPlugin::LEVEL, 2), id_of(7), CLAP_INVALID_ID}) {
        SCOPED_TRACE(id);
        double value = 42.0;
        char text[32] = "untouched";
        EXPECT_FALSE(params.get_value(p, id, &value));
        EXPECT_FALSE(params.value_to_text(p, id, 1.0, text, sizeof text));
        EXPECT_FALSE(params.text_to_value(p, id, "1", &value));
        EXPECT_EQ(value, 42.0);
        EXPECT_STREQ(text, "untouched");
    }

    EXPECT_EQ(h.instance.text(id_of(TestPlugin::GAIN), -18.0), "-18.00 dB");
    EXPECT_EQ(h.instance.text(id_of(TestPlugin::GAIN), -18.0, 4), "-18");
    char untouched[4] = {'#', '#', '#', '#'};
    EXPECT_TRUE(params.value_to_text(p, id_of(TestPlugin::GAIN), -18.0, untouched, 0));
    EXPECT_EQ(untouched[0], '#');
    EXPECT_EQ(h.instance.text(id_of(TestPlugin::MODE), 1.0), "Inverted");
    EXPECT_EQ(h.instance.text(id_of(TestPlugin::BYPASS), 1.0), "On");
    // Beyond the float range a value narrows to infinity, as IEEE conversion does.
    EXPECT_EQ(h.instance.text(id_of(TestPlugin::GAIN), -1e300),
              h.instance.text(id_of(TestPlugin::GAIN), -std::numeric_limits<double>::infinity()));

    double value = 0.0;
    EXPECT_TRUE(h.instance.set_text(id_of(TestPlugin::GAIN), " -6 dB ", value));
    EXPECT_EQ(value, -6.0);
    EXPECT_TRUE(h.instance.set_text(id_of(TestPlugin::MODE), "muted", value));
    EXPECT_EQ(value, 2.0);
    EXPECT_TRUE(h.instance.set_text(id_of(TestPlugin::LEVEL, 1), "50%", value));
    EXPECT_EQ(value, 50.0);
    EXPECT_FALSE(h.instance.set_text(id_of(TestPlugin::BYPASS), "yes", value));
}

TEST(ClapPorts, OneMainPortPerSideFollowingTheChannelCount) {
    HostedInstance h(test_module());
    ASSERT_TRUE(h.instance);
    const clap_plugin_audio_ports& ports = h.instance.ports();
    const clap_plugin_configurable_audio_ports& configurable = h.instance.configurable();
    const clap_plugin* p = h.instance.get();
    EXPECT_EQ(ports.count(p, true), 1u);
    EXPECT_EQ(ports.count(p, false), 1u);

    auto expect_port = [&](std::uint32_t channels, const char* type) {
        for (bool is_input : {true, false}) {
            clap_audio_port_info info{};
            ASSERT_TRUE(ports.get(p, 0, is_input, &info));
            EXPECT_EQ(info.id, 0u);
            EXPECT_STREQ(info.name, "Main");
            EXPECT_EQ(info.flags, CLAP_AUDIO_PORT_IS_MAIN);
            EXPECT_EQ(info.channel_count, channels);
            if (type == nullptr) {
                EXPECT_EQ(info.port_type, nullptr);
            } else {
                EXPECT_STREQ(info.port_type, type);
            }
            EXPECT_EQ(info.in_place_pair, 0u);
        }
    };
    expect_port(2, "stereo");
    clap_audio_port_info info{};
    EXPECT_FALSE(ports.get(p, 1, true, &info));
    EXPECT_FALSE(ports.get(p, 0, false, nullptr));

    auto request = [](bool is_input, std::uint32_t port, std::uint32_t channels) {
        return clap_audio_port_configuration_request{is_input, port, channels, nullptr, nullptr};
    };
    const std::array<clap_audio_port_configuration_request, 2> mono{request(true, 0, 1),
                                                                    request(false, 0, 1)};
    const std::array<clap_audio_port_configuration_request, 2> mixed{request(true, 0, 1),
                                                                     request(false, 0, 2)};
    const std::array<clap_audio_port_configuration_request, 2> second_port{request(true, 0, 1),
                                                                           request(false, 1, 1)};
    const clap_audio_port_configuration_request port1 = request(true, 1, 2);
    const clap_audio_port_configuration_request too_many = request(false, 0, 65);
    const clap_audio_port_configuration_request none = request(true, 0, 0);
    EXPECT_FALSE(configurable.can_apply_configuration(p, nullptr, 1));
    EXPECT_FALSE(configurable.can_apply_configuration(p, mono.data(), 0));
    EXPECT_FALSE(configurable.can_apply_configuration(p, &port1, 1));
    EXPECT_FALSE(configurable.can_apply_configuration(p, &too_many, 1));
    EXPECT_FALSE(configurable.can_apply_configuration(p, &none, 1));
    EXPECT_FALSE(configurable.can_apply_configuration(p, mixed.data(), 2));
    EXPECT_FALSE(configurable.apply_configuration(p, second_port.data(), 2));
    EXPECT_TRUE(h.host.rescans().empty());
    expect_port(2, "stereo");

    ASSERT_TRUE(h.instance.activate());
    EXPECT_FALSE(configurable.can_apply_configuration(p, mono.data(), 2)) << "active";
    EXPECT_FALSE(configurable.apply_configuration(p, mono.data(), 2)) << "active";
    h.instance.deactivate();

    EXPECT_TRUE(configurable.can_apply_configuration(p, mono.data(), 2));
    expect_port(2, "stereo");
    EXPECT_TRUE(configurable.apply_configuration(p, mono.data(), 2));
    expect_port(1, "mono");
    EXPECT_TRUE(h.instance.apply_channels(64));
    expect_port(64, nullptr);
}

std::vector<std::uint8_t> saved(const ClapInstance& instance) {
    OutStream out;
    EXPECT_TRUE(instance.state().save(instance.get(), out.raw()));
    return out.bytes();
}

TEST(ClapState, SavesAndLoadsThroughStreamsInPieces) {
    HostedInstance h(test_module());
    ASSERT_TRUE(h.instance);
    const clap_plugin_state& state = h.instance.state();
    const clap_plugin* p = h.instance.get();
    const std::vector<std::uint8_t> defaults = saved(h.instance);
    ASSERT_GE(defaults.size(), 12u);
    EXPECT_EQ(std::memcmp(defaults.data(), "VELK", 4), 0);

    OutStream trickle(1);
    ASSERT_TRUE(state.save(p, trickle.raw()));
    EXPECT_EQ(trickle.bytes(), defaults);
    EXPECT_EQ(static_cast<std::size_t>(trickle.calls()), defaults.size());
    for (std::int64_t result : {std::int64_t{-1}, std::int64_t{0}, std::int64_t{1} << 40}) {
        OutStream failing(8, 2, result);
        EXPECT_FALSE(state.save(p, failing.raw())) << result;
    }

    EventList events;
    events.param(id_of(TestPlugin::GAIN), -24.0).param(id_of(TestPlugin::LEVEL, 1), 0.5);
    h.instance.params().flush(p, events.raw(), nullptr);
    const std::vector<std::uint8_t> changed = saved(h.instance);

    // A failing or lying stream changes nothing and asks for no rescan.
    for (std::int64_t result : {std::int64_t{-1}, std::int64_t{5000}}) {
        InStream broken(defaults, 7, 1, result);
        EXPECT_FALSE(state.load(p, broken.raw())) << result;
    }
    InStream garbage(std::vector<std::uint8_t>{'N', 'O', 'P', 'E', 1, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_FALSE(state.load(p, garbage.raw()));
    EXPECT_EQ(saved(h.instance), changed);
    EXPECT_TRUE(h.host.rescans().empty());

    InStream bytewise(defaults, 1);
    ASSERT_TRUE(state.load(p, bytewise.raw()));
    EXPECT_EQ(h.instance.value(id_of(TestPlugin::GAIN)), 0.0);
    EXPECT_EQ(h.instance.value(id_of(TestPlugin::LEVEL, 1)), 1.0);
    EXPECT_EQ(h.host.rescans(), std::vector<clap_param_rescan_flags>{CLAP_PARAM_RESCAN_VALUES});

    InStream whole(changed);
    ASSERT_TRUE(state.load(p, whole.raw()));
    EXPECT_EQ(whole.largest_request(), 4096u);
    EXPECT_EQ(h.instance.value(id_of(TestPlugin::GAIN)), -24.0);
    EXPECT_EQ(h.instance.value(id_of(TestPlugin::LEVEL, 1)), 0.5);
}

TEST(ClapState, LoadsWithoutRescanWhenTheHostHasNoParameters) {
    HostedInstance h(test_module(), velk::test::TEST_PLUGIN_ID, {.offer_params = false});
    ASSERT_TRUE(h.instance);
    InStream in(saved(h.instance));
    EXPECT_TRUE(h.instance.state().load(h.instance.get(), in.raw()));
    EXPECT_TRUE(h.instance.apply_channels(1));
    EXPECT_TRUE(h.host.rescans().empty());
}

// A stream is read up to the longest state there can be: a saved state padded to
// that length loads; one byte more, or a stream that never ends, is refused and
// changes nothing.
TEST(ClapState, RefusesStreamsLongerThanAnyState) {
    HostedInstance h(test_module());
    ASSERT_TRUE(h.instance);
    const clap_plugin_state& state = h.instance.state();
    const clap_plugin* p = h.instance.get();
    std::vector<std::uint8_t> padded = saved(h.instance);
    padded.resize(velk::state::MAX_BYTES);
    EventList events;
    events.param(id_of(TestPlugin::GAIN), -24.0);

    h.instance.params().flush(p, events.raw(), nullptr);
    InStream longest(padded);
    EXPECT_TRUE(state.load(p, longest.raw()));
    EXPECT_EQ(h.instance.value(id_of(TestPlugin::GAIN)), 0.0);

    h.instance.params().flush(p, events.raw(), nullptr);
    padded.push_back(0);
    InStream too_long(padded);
    EXPECT_FALSE(state.load(p, too_long.raw()));
    struct Endless {
        std::size_t calls = 0;
        static std::int64_t read(const clap_istream* s, void* buffer, std::uint64_t size) noexcept {
            ++static_cast<Endless*>(s->ctx)->calls;
            std::memset(buffer, 0, size);
            return static_cast<std::int64_t>(size);
        }
    } endless;
    const clap_istream stream{&endless, Endless::read};
    EXPECT_FALSE(state.load(p, &stream));
    EXPECT_LE(endless.calls, velk::state::MAX_BYTES / 4096 + 1);
    EXPECT_EQ(h.instance.value(id_of(TestPlugin::GAIN)), -24.0);
    EXPECT_EQ(h.host.rescans(), std::vector<clap_param_rescan_flags>{CLAP_PARAM_RESCAN_VALUES});
}

} // namespace
