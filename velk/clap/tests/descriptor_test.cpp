#include <array>
#include <atomic>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "abi.hpp"
#include "velk/clap/descriptor.hpp"
#include "velk/clap/entry.hpp"
#include "velk/test/clap_host.hpp"
#include "velk/test/test_plugin.hpp"

#include <gtest/gtest.h>

namespace {

using namespace std::string_view_literals;
using velk::clap::Config;
using velk::clap::Registry;

constexpr std::array<std::string_view, 2> FEATURES{"audio-effect", "stereo"};
constexpr Config CONFIG{
    .id = "test.plugin",
    .name = "Test\0Plugin"sv,
    .vendor = "Vendor",
    .url = "",
    .version = "1.2.3",
    .description = "Does nothing much.",
    .features = FEATURES,
};

TEST(CString, DropsNulBytes) {
    EXPECT_EQ(velk::clap::c_string("a\0b\0"sv), "ab");
    EXPECT_EQ(velk::clap::c_string(""), "");
    EXPECT_EQ(velk::clap::c_string("\xC3\xA9t\xC3\xA9"), "\xC3\xA9t\xC3\xA9");
}

TEST(Descriptor, HoldsTheConfigurationInTheRecordOrder) {
    const velk::clap::Descriptor descriptor(CONFIG);
    const clap_plugin_descriptor& raw = descriptor.raw();
    EXPECT_EQ(raw.clap_version.major, 1u);
    EXPECT_EQ(raw.clap_version.minor, 2u);
    EXPECT_EQ(raw.clap_version.revision, 10u);
    EXPECT_STREQ(raw.id, "test.plugin");
    EXPECT_STREQ(raw.name, "TestPlugin");
    EXPECT_STREQ(raw.vendor, "Vendor");
    EXPECT_STREQ(raw.url, "");
    ASSERT_NE(raw.manual_url, nullptr);
    ASSERT_NE(raw.support_url, nullptr);
    EXPECT_STREQ(raw.manual_url, "");
    EXPECT_STREQ(raw.support_url, "");
    EXPECT_STREQ(raw.version, "1.2.3");
    EXPECT_STREQ(raw.description, "Does nothing much.");
    ASSERT_NE(raw.features, nullptr);
    EXPECT_STREQ(raw.features[0], "audio-effect");
    EXPECT_STREQ(raw.features[1], "stereo");
    EXPECT_EQ(raw.features[2], nullptr);
}

TEST(AbiIsId, ComparesLengthAndBytes) {
    EXPECT_TRUE(velk::clap::abi::is_id("clap.tail", "clap.tail", 10));
    EXPECT_TRUE(velk::clap::abi::is_id("clap.tail", CLAP_EXT_TAIL));
    EXPECT_FALSE(velk::clap::abi::is_id(nullptr, CLAP_EXT_TAIL));
    EXPECT_FALSE(velk::clap::abi::is_id("clap.tai", CLAP_EXT_TAIL));
    EXPECT_FALSE(velk::clap::abi::is_id("clap.tails", CLAP_EXT_TAIL));
    EXPECT_FALSE(velk::clap::abi::is_id("clap.Tail", CLAP_EXT_TAIL));
    EXPECT_FALSE(velk::clap::abi::is_id("clap.tail", "clap.tail", 9)); // length without NUL
    EXPECT_FALSE(velk::clap::abi::is_id("", "", 0));
}

TEST(Entry, HandsOutTheFactoryOnlyForItsExactId) {
    const clap_plugin_factory factory{};
    EXPECT_EQ(velk::clap::entry_get_factory(factory, "clap.plugin-factory"), &factory);
    for (const char* id : {static_cast<const char*>(nullptr), "clap.plugin-factory.draft",
                           "CLAP.PLUGIN-FACTORY", "clap.plugin-factor", ""})
        EXPECT_EQ(velk::clap::entry_get_factory(factory, id), nullptr) << (id ? id : "null");
}

TEST(Registry, BuildsOneDescriptorWhicheverCallComesFirst) {
    Registry registry(CONFIG);
    const clap_plugin_descriptor* first = velk::clap::factory_descriptor(registry, 0);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(velk::clap::factory_descriptor(registry, 1), nullptr);
    EXPECT_TRUE(velk::clap::entry_init(registry, nullptr));
    EXPECT_TRUE(velk::clap::entry_init(registry, "/some/path"));
    EXPECT_EQ(velk::clap::factory_descriptor(registry, 0), first);
    EXPECT_EQ(registry.descriptor(), first);
}

TEST(Registry, FactoryCreateChecksHostAndId) {
    Registry registry(CONFIG);
    velk::test::RecordingHost host;
    velk::test::RecordingHost pre_release({.major = 0});
    const auto make = &velk::Inner::make<velk::test::TestPlugin>;
    struct Case {
        const char* name;
        const clap_host* host;
        const char* id;
        bool created;
    };
    const Case cases[] = {
        {"exact id", host.raw(), "test.plugin", true},
        {"trailing blank", host.raw(), "test.plugin ", false},
        {"other case", host.raw(), "Test.Plugin", false},
        {"prefix", host.raw(), "test", false},
        {"empty", host.raw(), "", false},
        {"null id", host.raw(), nullptr, false},
        {"null host", nullptr, "test.plugin", false},
        {"host version 0.x", pre_release.raw(), "test.plugin", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const velk::test::ClapInstance instance(
            velk::clap::factory_create(registry, c.host, c.id, make));
        EXPECT_EQ(static_cast<bool>(instance), c.created);
        if (instance) {
            EXPECT_EQ(instance.get()->desc, registry.descriptor());
        }
    }
}

TEST(RegistryConcurrency, EveryThreadGetsTheSameDescriptor) {
    constexpr int threads = 4;
    for (int round = 0; round < 10; ++round) {
        Registry registry(CONFIG);
        std::atomic<int> ready{0};
        std::vector<const clap_plugin_descriptor*> seen(threads);
        std::vector<std::thread> workers;
        for (int t = 0; t < threads; ++t)
            workers.emplace_back([&, t] {
                ++ready;
                while (ready.load() < threads)
                    std::this_thread::yield();
                seen[static_cast<std::size_t>(t)] =
                    t % 2 == 0 ? velk::clap::factory_descriptor(registry, 0)
                               : registry.descriptor();
            });
        for (std::thread& w : workers)
            w.join();
        for (const clap_plugin_descriptor* d : seen) {
            ASSERT_NE(d, nullptr);
            EXPECT_EQ(d, seen.front());
            EXPECT_STREQ(d->id, "test.plugin");
        }
    }
}

} // namespace
