// The deliverable halvex.clap, loaded and driven the way a CLAP host does.

#include <cmath>
#include <cstring>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include "module_fixture.hpp"
#include "velk/core/ftz.hpp"
#include "velk/test/alloc.hpp"

#include <gtest/gtest.h>

namespace {

using velk::test::AudioBuffer;
using velk::test::ClapModule;
using velk::test::EventList;
using velk::test::HALVEX_ID;
using velk::test::HostedInstance;

constexpr clap_id THRESHOLD = 0;
constexpr clap_id MIX = 6 * 128;
constexpr clap_id BYPASS = 7 * 128;
constexpr clap_id GR = 8 * 128;

ClapModule& halvex() {
    return velk::test::halvex_module();
}

// The same export unit with the shared C++ runtime, so that this executable's
// counting operator new sees the compressor's allocations.
ClapModule& halvex_counted() {
    static ClapModule module(VELK_HALVEX_SHARED_CLAP_PATH);
    return module;
}

double db(double ratio) {
    return 20.0 * std::log10(ratio);
}

TEST(HalvexClap, IsNamedForHostsToFind) {
    const std::string path = VELK_HALVEX_CLAP_PATH;
    EXPECT_EQ(path.substr(path.rfind('/') + 1), "halvex.clap");
}

TEST(HalvexClap, DescribesTheCompressor) {
    ASSERT_TRUE(halvex().loaded());
    const clap_plugin_factory* factory = halvex().factory();
    ASSERT_NE(factory, nullptr);
    EXPECT_EQ(factory->get_plugin_count(factory), 1u);
    const clap_plugin_descriptor* d = factory->get_plugin_descriptor(factory, 0);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->clap_version.major, 1u);
    EXPECT_EQ(d->clap_version.minor, 2u);
    EXPECT_EQ(d->clap_version.revision, 10u);
    EXPECT_STREQ(d->id, HALVEX_ID);
    EXPECT_STREQ(d->name, "Halvex");
    EXPECT_STREQ(d->vendor, "Orvane Labs");
    EXPECT_STREQ(d->url, "");
    EXPECT_STREQ(d->manual_url, "");
    EXPECT_STREQ(d->support_url, "");
    EXPECT_STREQ(d->version, "0.1.0");
    EXPECT_STREQ(d->description, "A feed-forward compressor with a soft knee, a parallel mix "
                                 "and a gain reduction meter.");
    EXPECT_STREQ(d->features[0], "audio-effect");
    EXPECT_EQ(d->features[1], nullptr);

    velk::test::RecordingHost host;
    for (const char* id : {"orvane-labs.halvex ", "Orvane-Labs.Halvex", "orvane-labs"}) {
        const velk::test::ClapInstance refused(factory->create_plugin(factory, host.raw(), id));
        EXPECT_FALSE(refused) << id;
    }
}

TEST(HalvexClap, ListsNineParameters) {
    HostedInstance h(halvex(), HALVEX_ID);
    ASSERT_TRUE(h.instance);
    struct Expected {
        const char* name;
        const char* module;
        clap_param_info_flags flags;
        double min, max, default_value;
    };
    const Expected expected[] = {
        {"Threshold", "Compressor", 32, -60.0, 0.0, -18.0},
        {"Ratio", "Compressor", 32, 1.0, 20.0, 4.0},
        {"Knee", "Compressor", 32, 0.0, 24.0, 6.0},
        {"Attack", "Time", 32, static_cast<double>(0.1f), 100.0, 10.0},
        {"Release", "Time", 32, 10.0, 1000.0, 120.0},
        {"Makeup", "Output", 32, 0.0, 24.0, 0.0},
        {"Mix", "Output", 32, 0.0, 1.0, 1.0},
        {"Bypass", "", 49, 0.0, 1.0, 0.0},
        {"Reduction", "", 8, 0.0, 30.0, 0.0},
    };
    const std::vector<clap_param_info> infos = h.instance.infos();
    ASSERT_EQ(infos.size(), 9u);
    for (std::size_t i = 0; i < infos.size(); ++i) {
        SCOPED_TRACE(expected[i].name);
        EXPECT_EQ(infos[i].id, i * 128);
        EXPECT_STREQ(infos[i].name, expected[i].name);
        EXPECT_STREQ(infos[i].module, expected[i].module);
        EXPECT_EQ(infos[i].flags, expected[i].flags);
        EXPECT_EQ(infos[i].cookie, nullptr);
        EXPECT_EQ(infos[i].min_value, expected[i].min);
        EXPECT_EQ(infos[i].max_value, expected[i].max);
        EXPECT_EQ(infos[i].default_value, expected[i].default_value);
        EXPECT_EQ(h.instance.value(infos[i].id), expected[i].default_value);
    }
    EXPECT_EQ(h.instance.latency(), 0u);
    EXPECT_EQ(h.instance.tail(), 0u);

    const clap_plugin_params& params = h.instance.params();
    for (clap_id id : {1u, 1152u}) {
        double value = 0.0;
        char text[16];
        EXPECT_FALSE(params.get_value(h.instance.get(), id, &value)) << id;
        EXPECT_FALSE(params.value_to_text(h.instance.get(), id, 0.0, text, sizeof text)) << id;
        EXPECT_FALSE(params.text_to_value(h.instance.get(), id, "0", &value)) << id;
    }
}

TEST(HalvexClap, ReadsAndWritesParameterTexts) {
    HostedInstance h(halvex(), HALVEX_ID);
    ASSERT_TRUE(h.instance);
    EXPECT_EQ(h.instance.text(THRESHOLD, -18.0), "-18.00 dB");
    EXPECT_EQ(h.instance.text(THRESHOLD, -18.0, 4), "-18");
    EXPECT_EQ(h.instance.text(BYPASS, 1.0), "On");
    EXPECT_EQ(h.instance.text(GR, 9.0), "9.00 dB");
    char untouched = '#';
    EXPECT_TRUE(
        h.instance.params().value_to_text(h.instance.get(), THRESHOLD, -18.0, &untouched, 0));
    EXPECT_EQ(untouched, '#');

    struct Case {
        clap_id id;
        const char* text;
        bool accepted;
        double value;
    };
    const Case cases[] = {
        {THRESHOLD, " -6 dB ", true, -6.0}, {THRESHOLD, "-6dB", true, -6.0},
        {THRESHOLD, "dB", false, 0.0},      {BYPASS, "ON", true, 1.0},
        {BYPASS, "false", true, 0.0},       {BYPASS, "yes", false, 0.0},
        {MIX, "50%", true, 50.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        double value = -1.0;
        EXPECT_EQ(h.instance.set_text(c.id, c.text, value), c.accepted);
        if (c.accepted) {
            EXPECT_EQ(value, c.value);
        }
    }
}

// Runs `seconds` of a constant level through the instance in 512-frame blocks and
// returns the last output sample of channel 0.
float run_constant(const velk::test::ClapInstance& instance, float level, double seconds,
                   const EventList* events = nullptr) {
    AudioBuffer in(2, 512, level);
    AudioBuffer out(2, 512);
    const int blocks = static_cast<int>(seconds * 48000.0 / 512.0);
    for (int b = 0; b < blocks; ++b) {
        const velk::test::Block block{.events = b == 0 ? events : nullptr, .steady_time = b * 512};
        EXPECT_EQ(instance.process(&in, out, block), CLAP_PROCESS_CONTINUE);
    }
    return out.channel(0).back();
}

TEST(HalvexClap, CompressesAMinus6DbLevelByNineDb) {
    HostedInstance h(halvex(), HALVEX_ID);
    ASSERT_TRUE(h.instance);
    ASSERT_TRUE(h.instance.activate(48000.0, 512));
    const float level = 0.5012f; // -6 dB: 12 dB over the threshold, outside the knee
    const float out = run_constant(h.instance, level, 1.0);
    EXPECT_NEAR(db(static_cast<double>(out)), -15.0, 0.05); // (1/4 - 1) × 12 dB of reduction
    EXPECT_NEAR(h.instance.value(GR), 9.0, 0.05);

    // A host cannot write the meter.
    EventList meter;
    meter.param(GR, 0.0);
    run_constant(h.instance, level, 0.05, &meter);
    EXPECT_NEAR(h.instance.value(GR), 9.0, 0.05);

    // Bypass passes the input unchanged once its control period is over.
    EventList bypass;
    bypass.param(BYPASS, 1.0);
    EXPECT_EQ(run_constant(h.instance, level, 0.05, &bypass), level);
}

TEST(HalvexClap, SavesEightyFourBytesOfState) {
    HostedInstance h(halvex(), HALVEX_ID);
    ASSERT_TRUE(h.instance);
    velk::test::OutStream out(5);
    ASSERT_TRUE(h.instance.state().save(h.instance.get(), out.raw()));
    ASSERT_EQ(out.bytes().size(), 84u);
    EXPECT_EQ(std::memcmp(out.bytes().data(), "VELK", 4), 0);

    EventList events;
    events.param(THRESHOLD, -30.0);
    h.instance.params().flush(h.instance.get(), events.raw(), nullptr);
    velk::test::InStream in(out.bytes(), 1);
    ASSERT_TRUE(h.instance.state().load(h.instance.get(), in.raw()));
    EXPECT_EQ(h.instance.value(THRESHOLD), -18.0);
    EXPECT_EQ(h.host.rescans(), std::vector<clap_param_rescan_flags>{CLAP_PARAM_RESCAN_VALUES});
}

TEST(HalvexClap, ProcessAndResetAllocateNothingAndKeepTheFloatingPointMode) {
    HostedInstance h(halvex_counted(), HALVEX_ID);
    ASSERT_TRUE(h.instance);
    {
        const velk::test::NoAllocScope scope;
        ASSERT_TRUE(h.instance.activate(44100.0, 256));
        if (velk::test::counting_allocations()) {
            ASSERT_GT(scope.count(), 0u) << "the module's allocations are not counted";
        }
    }
    AudioBuffer in(2, 700, 0.5f);
    AudioBuffer out(2, 700);
    EventList events;
    events.param(THRESHOLD, -30.0).param(MIX, 0.5);
    const std::uint64_t mode = velk::float_control_register();
    const velk::test::NoAllocScope scope;
    for (int b = 0; b < 4; ++b)
        EXPECT_EQ(h.instance.process(&in, out, {.events = &events}), CLAP_PROCESS_CONTINUE);
    h.instance.reset();
    EXPECT_EQ(h.instance.process(&in, out), CLAP_PROCESS_CONTINUE);
    EXPECT_EQ(velk::float_control_register(), mode);
    EXPECT_EQ(scope.count(), 0u);
}

TEST(HalvexClap, FlushesDenormalInputToZeroAndKeepsTheFloatingPointMode) {
    HostedInstance h(halvex(), HALVEX_ID);
    ASSERT_TRUE(h.instance);
    ASSERT_TRUE(h.instance.activate(48000.0, 256));
    // Half dry, so the input reaches the output both through the compressor and around it.
    EventList events;
    events.param(MIX, 0.5);
    AudioBuffer in(2, 256);
    const float tiny[] = {std::numeric_limits<float>::denorm_min(), -1e-39f, 1e-38f * 0.5f,
                          -std::numeric_limits<float>::denorm_min()};
    for (std::uint32_t c = 0; c < 2; ++c)
        for (std::size_t i = 0; i < in.channel(c).size(); ++i)
            in.channel(c)[i] = tiny[(i + c) % std::size(tiny)];
    AudioBuffer out(2, 256, 1.0f);
    const std::uint64_t mode = velk::float_control_register();
    for (int block = 0; block < 3; ++block) {
        ASSERT_EQ(h.instance.process(&in, out, {.events = block == 0 ? &events : nullptr}),
                  CLAP_PROCESS_CONTINUE);
        EXPECT_EQ(velk::float_control_register(), mode);
        for (std::uint32_t c = 0; c < 2; ++c)
            for (const float x : out.channel(c))
                ASSERT_EQ(x, 0.0f) << "block " << block << ", channel " << c;
    }
}

} // namespace
