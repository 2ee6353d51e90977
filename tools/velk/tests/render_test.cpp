// velk render: levels through the compressor, parameter values, channel counts,
// latency and tail, and what it prints.

#include <cmath>
#include <string>
#include <vector>

#include "tool.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace velk::tool_test {
namespace {

using testing::HasSubstr;

// -6 dBFS: with the default threshold of -18 dB and ratio 4 the 12 dB overshoot
// lies outside the knee, so the compressor settles at (1/4 - 1) x 12 = -9 dB.
constexpr float MINUS_6_DB = 0.5012f;
constexpr std::size_t RATE = 48000;

class Render : public ToolTest {};

TEST_F(Render, ConstantToneComesOutNineDbLowerAndTheMeterReadsNine) {
    const Sound in = constant(2, RATE * 2, MINUS_6_DB);
    write_sound(at("in.wav"), in);
    const Outcome run =
        velk({"render", HALVEX, at("in.wav"), at("out.wav"), "--plot", at("gr.png")});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");

    const Sound out = read_sound(at("out.wav"));
    EXPECT_EQ(out.rate, 48000);
    EXPECT_EQ(out.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    ASSERT_EQ(out.channels.size(), 2u);
    ASSERT_EQ(out.frames(), in.frames());
    // After the attack (10 ms) has long settled.
    for (std::size_t ch = 0; ch < 2; ++ch)
        EXPECT_NEAR(gain_db(out, in, ch, RATE, 2 * RATE), -9.0, 0.05) << "channel " << ch;

    EXPECT_NEAR(number_after(run.out, "Reduction (id 1024): max "), 9.0, 0.1) << run.out;
    EXPECT_NEAR(number_after(run.out, "peak "), -6.0, 0.01) << run.out;
    EXPECT_THAT(run.out, HasSubstr("latency: 0 samples; tail: 0 samples"));

    // A PNG was drawn, and only the files asked for are left.
    EXPECT_EQ(files(), (std::vector<std::string>{"gr.png", "in.wav", "out.wav"}));
    std::ifstream png(at("gr.png"), std::ios::binary);
    std::string magic(8, '\0');
    png.read(magic.data(), 8);
    EXPECT_EQ(magic, "\x89PNG\r\n\x1a\n");
}

TEST_F(Render, SetsValuesByNumberOrByThePluginsText) {
    // Threshold -30 dB: a -6 dB input lies 24 dB over it and comes out 18 dB lower.
    const Sound in = constant(1, RATE, MINUS_6_DB);
    write_sound(at("in.wav"), in);
    for (const char* setting :
         {"threshold=-30", "threshold=-30 dB", "Threshold= -30dB ", "0=-30.0", "THRESHOLD=-3e1"}) {
        SCOPED_TRACE(setting);
        const Outcome run = velk({"render", HALVEX, at("in.wav"), at("out.wav"), "--set", setting});
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_THAT(run.out, HasSubstr("set:     Threshold = -30.00 dB"));
        const Sound out = read_sound(at("out.wav"));
        EXPECT_NEAR(gain_db(out, in, 0, RATE / 2, RATE), -18.0, 0.05);
    }

    // Several values, in order: mix 0 returns the input exactly, whatever else is set.
    const Outcome dry = velk({"render", HALVEX, at("in.wav"), at("dry.wav"), "--set", "ratio=20",
                              "--set", "mix=0", "--set", "threshold=-60 dB"});
    ASSERT_EQ(dry.status, 0) << dry.err;
    EXPECT_EQ(read_sound(at("dry.wav")).channels, in.channels);
}

TEST_F(Render, TakesMonoStereoAndWiderFiles) {
    for (std::size_t channels : {1u, 2u, 3u, 6u}) {
        SCOPED_TRACE(channels);
        const Sound in = constant(channels, RATE, MINUS_6_DB);
        write_sound(at("in.wav"), in);
        const Outcome run = velk({"render", HALVEX, at("in.wav"), at("out.wav")});
        ASSERT_EQ(run.status, 0) << run.err;
        const Sound out = read_sound(at("out.wav"));
        ASSERT_EQ(out.channels.size(), channels);
        for (std::size_t ch = 0; ch < channels; ++ch)
            EXPECT_NEAR(gain_db(out, in, ch, RATE / 2, RATE), -9.0, 0.05) << "channel " << ch;
    }
}

TEST_F(Render, KeepsTheInputsFormatAndRate) {
    Sound in = constant(2, 44100, 0.25f, 44100);
    in.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_24;
    write_sound(at("in.flac"), in);
    const Outcome run = velk({"render", HALVEX, at("in.flac"), at("out.flac"), "--set", "mix=0"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_THAT(run.out, HasSubstr("FLAC 24-bit, 44100 Hz, stereo, 1.00 s"));
    const Sound out = read_sound(at("out.flac"));
    EXPECT_EQ(out.format, in.format);
    EXPECT_EQ(out.rate, 44100);
    EXPECT_EQ(out.channels, read_sound(at("in.flac")).channels);
}

TEST_F(Render, AlignsTheOutputWithTheInputAndAddsTheTail) {
    // The test plug-in delays by its "latency" parameter and reports it; its tail is
    // its "tail" parameter.
    Sound in = constant(2, 4000, 0.0f);
    in.channels[0][1000] = 1.0f;
    in.channels[1][3999] = -0.5f;
    write_sound(at("in.wav"), in);
    struct Case {
        const char* block;
        const char* latency;
    };
    for (const Case c :
         {Case{"512", "100"}, Case{"64", "100"}, Case{"7", "256"}, Case{"4096", "0"}}) {
        SCOPED_TRACE(std::string("block ") + c.block + ", latency " + c.latency);
        const Outcome run =
            velk({"render", TEST_CLAP, at("in.wav"), at("out.wav"), "--set",
                  std::string("latency=") + c.latency, "--set", "tail=300", "--block", c.block});
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_THAT(run.out, HasSubstr(std::string("latency: ") + c.latency + " samples"));
        const Sound out = read_sound(at("out.wav"));
        ASSERT_EQ(out.frames(), 4300u);
        std::vector<float> expected0(4300, 0.0f);
        std::vector<float> expected1(4300, 0.0f);
        expected0[1000] = 1.0f;
        expected1[3999] = -0.5f;
        EXPECT_EQ(out.channels[0], expected0);
        EXPECT_EQ(out.channels[1], expected1);
    }
}

} // namespace
} // namespace velk::tool_test
