#include <array>
#include <optional>

#include "param_ids.hpp"
#include "velk/core/param.hpp"
#include "velk/test/test_plugin.hpp"

#include <gtest/gtest.h>

namespace {

using velk::Kind;
using velk::ParamInfo;
using velk::clap::decode_param_id;
using velk::clap::param_at;
using velk::clap::param_count;
using velk::test::TestPlugin;

class ParamIds : public testing::Test {
protected:
    // gain, level (per channel), mode, bypass, latency, tail, peak
    velk::ParamSet params = velk::ParamSet::with_channels(velk::test::TEST_PARAMS, 64);
};

TEST_F(ParamIds, ListPerChannelParametersOncePerChannelInUse) {
    EXPECT_EQ(param_count(params, 1), 7u);
    EXPECT_EQ(param_count(params, 2), 8u);
    EXPECT_EQ(param_count(params, 64), 70u);

    // With 3 channels: gain, level ch 0..2, mode, bypass, latency, tail, peak.
    const std::array<velk::clap::ParamRef, 9> expected{
        {{0, 0}, {1, 0}, {1, 1}, {1, 2}, {2, 0}, {3, 0}, {4, 0}, {5, 0}, {6, 0}}};
    for (std::uint32_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(i);
        const auto ref = param_at(params, 3, i);
        ASSERT_TRUE(ref);
        EXPECT_EQ(ref->index, expected[i].index);
        EXPECT_EQ(ref->channel, expected[i].channel);
        const auto back = decode_param_id(
            params, 3, velk::clap::param_id(expected[i].index, expected[i].channel));
        ASSERT_TRUE(back);
        EXPECT_EQ(back->index, expected[i].index);
        EXPECT_EQ(back->channel, expected[i].channel);
    }
    EXPECT_FALSE(param_at(params, 3, 9));
}

TEST_F(ParamIds, DecodeRefusesWhatIsNotListed) {
    struct Case {
        clap_id id;
        bool valid;
    };
    const Case cases[] = {
        {0, true},          // gain
        {1, false},         // gain has no channel 1
        {128, true},        // level, channel 0
        {129, true},        // level, channel 1
        {130, false},       // level, channel 2 of 2
        {127 + 128, false}, // level, channel 127
        {3 * 128, true},    // bypass
        {6 * 128, true},    // peak
        {7 * 128, false},   // past the table
        {CLAP_INVALID_ID, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        EXPECT_EQ(decode_param_id(params, 2, c.id).has_value(), c.valid);
    }
}

TEST(ParamFlags, FollowTheKind) {
    struct Case {
        ParamInfo info;
        clap_param_info_flags flags;
    };
    const Case cases[] = {
        {{.id = "ratio"}, 32},
        {velk::test::TEST_PARAMS[TestPlugin::MODE], 65569},
        {{.id = "enabled", .kind = Kind::Toggle}, 33},
        {{.id = "bypass", .kind = Kind::Toggle}, 49},
        {{.id = "Bypass", .kind = Kind::Toggle}, 33},
        {{.id = "bypass", .kind = Kind::Number}, 32},
        {{.id = "gr", .kind = Kind::Meter}, 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.info.id));
        EXPECT_EQ(velk::clap::param_flags(c.info), c.flags);
    }
}

} // namespace
