// velk info, velk curve and the help texts.

#include <string>
#include <vector>

#include "tool.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace velk::tool_test {
namespace {

using testing::HasSubstr;

class Inspect : public ToolTest {};

TEST_F(Inspect, InfoDescribesTheCompressor) {
    const Outcome run = velk({"info", HALVEX});
    ASSERT_EQ(run.status, 0) << run.err;
    for (const char* line : {
             "Halvex 0.1.0 by Orvane Labs\n",
             "  id:          orvane-labs.halvex\n",
             "  features:    audio-effect\n",
             "Parameters (9):\n",
             "  0     Threshold  Compressor  -60 to 0    -18      -18.00 dB  automatable (32)\n",
             "  896   Bypass     -           0 to 1      0        Off        stepped, bypass, "
             "automatable (49)\n",
             "  1024  Reduction  -           0 to 30     0        0.00 dB    read-only (8)\n",
             "  input  0 'Main': 2 channels (stereo), main\n",
             "  output 0 'Main': 2 channels (stereo), main\n",
             "Latency:  0 samples at 48000 Hz\n",
             "Tail:     0 samples at 48000 Hz\n",
             "  clap.configurable-audio-ports/1\n",
         })
        EXPECT_THAT(run.out, HasSubstr(line));
}

TEST_F(Inspect, InfoCopesWithAPluginThatOffersNothing) {
    const Outcome run = velk({"info", VELK_PICKY_CLAP_PATH});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_THAT(run.out, HasSubstr("Odd Effect 1 by velk\n"));
    EXPECT_THAT(run.out, HasSubstr("Parameters (0):\n"));
    EXPECT_THAT(run.out, HasSubstr("  none listed\n"));
    EXPECT_THAT(run.out, HasSubstr("Tail:     not reported\n"));
}

TEST_F(Inspect, CurveFollowsThresholdAndRatio) {
    const Outcome run = velk({"curve", HALVEX, "--set", "threshold=-30 dB", "--set", "ratio=4",
                              "--step", "6", "--plot", at("curve.png")});
    ASSERT_EQ(run.status, 0) << run.err;
    // Below the knee nothing changes; 24 dB over the threshold comes out 6 dB over it.
    EXPECT_THAT(run.out, HasSubstr("    -60.0     -60.00      0.00\n"));
    EXPECT_THAT(run.out, HasSubstr("    -42.0     -42.00      0.00\n"));
    EXPECT_THAT(run.out, HasSubstr("     -6.0     -24.00    -18.00\n"));
    EXPECT_THAT(run.out, HasSubstr("      0.0     -22.50    -22.50\n"));
    EXPECT_EQ(files(), std::vector<std::string>{"curve.png"});
}

TEST_F(Inspect, EveryCommandHasHelp) {
    const Outcome top = velk({"--help"});
    EXPECT_EQ(top.status, 0);
    for (const char* name : {"render", "info", "curve", "check", "run"})
        EXPECT_THAT(top.out, HasSubstr(std::string("  ") + name));

    struct Case {
        const char* command;
        const char* usage;
    };
    for (const Case c : {
             Case{"render", "Usage: velk render PLUGIN IN OUT [--set ID=VALUE ...] [--block N] "
                            "[--plot PNG]\n"},
             Case{"info", "Usage: velk info PLUGIN\n"},
             Case{"curve", "Usage: velk curve PLUGIN [--set ID=VALUE ...] [--plot PNG]"},
             Case{"check", "Usage: velk check GRAPH.json [--params NAME,NAME,...]\n"},
             Case{"run", "Usage: velk run GRAPH.json IN OUT [--param NAME=VALUE ...] "
                         "[--block N]\n"},
         }) {
        SCOPED_TRACE(c.command);
        // --help wins over missing or extra arguments.
        const Outcome run = velk({c.command, "one", "two", "three", "four", "--help"});
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.err, "");
        EXPECT_THAT(run.out, HasSubstr(c.usage));
        EXPECT_THAT(run.out, HasSubstr("Example:\n  velk "));
    }

    const Outcome bare = velk({});
    EXPECT_EQ(bare.status, 1);
    EXPECT_THAT(bare.err, HasSubstr("Usage: velk COMMAND"));
}

} // namespace
} // namespace velk::tool_test
