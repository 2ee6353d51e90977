// The compressor through the Audio Unit, as a host drives it: its parameters and their
// texts, its sound, presets between instances, and the audio-thread rules.

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "halvex_unit.hpp"
#include "velk/au_test/stress.hpp"
#include "velk/core/ftz.hpp"
#include "velk/test/alloc.hpp"

#include <gtest/gtest.h>

namespace velk::au_test {
namespace {

/// -6 dB as a linear amplitude.
constexpr float MINUS_6_DB = 0.5012f;

/// A compressor unit with a constant input on two channels, initialized.
struct Compressor {
    explicit Compressor(float level = MINUS_6_DB) {
        source.level = {level};
        EXPECT_EQ(unit.set_input(Source::render, &source), noErr);
        EXPECT_EQ(unit.initialize(), noErr);
    }

    /// Renders `blocks` blocks of `frames` frames into `buffers`.
    void run(Buffers& buffers, int blocks, UInt32 frames = 512) {
        for (int i = 0; i < blocks; ++i)
            ASSERT_EQ(unit.render(buffers.list(), frames), noErr);
    }

    Unit unit{halvex_factory(), HALVEX_DESC};
    Source source;
};

TEST(HalvexAu, ReportsNineParametersWithTheirDefaults) {
    const Unit unit(halvex_factory(), HALVEX_DESC);
    UInt32 size = 0;
    ASSERT_EQ(unit.get_property(kAudioUnitProperty_ParameterList, kAudioUnitScope_Global, 0,
                                nullptr, &size),
              noErr);
    ASSERT_EQ(size, 36u);
    std::vector<AudioUnitParameterID> ids(9);
    ASSERT_EQ(unit.get_property(kAudioUnitProperty_ParameterList, kAudioUnitScope_Global, 0,
                                ids.data(), &size),
              noErr);
    const std::vector<float> defaults{-18.0f, 4.0f, 6.0f, 10.0f, 120.0f, 0.0f, 1.0f, 0.0f, 0.0f};
    for (std::size_t i = 0; i < ids.size(); ++i) {
        EXPECT_EQ(ids[i], i * 128);
        EXPECT_EQ(unit.parameter(ids[i]), defaults[i]) << "parameter " << i;
    }
    float value = 0.0f;
    EXPECT_EQ(unit.get_parameter(1152, &value), kAudioUnitErr_InvalidParameter);
    EXPECT_EQ(unit.get_parameter(1, &value), kAudioUnitErr_InvalidParameter);

    for (const AudioUnitPropertyID id : {kAudioUnitProperty_Latency, kAudioUnitProperty_TailTime}) {
        Float64 seconds = -1.0;
        ASSERT_EQ(unit.get(id, seconds), noErr);
        EXPECT_EQ(seconds, 0.0);
    }
    AUChannelInfo channels{};
    ASSERT_EQ(unit.get(kAudioUnitProperty_SupportedNumChannels, channels), noErr);
    EXPECT_EQ(channels.inChannels, -1);
    EXPECT_EQ(channels.outChannels, -1);
}

TEST(HalvexAu, DescribesEachParameter) {
    const Unit unit(halvex_factory(), HALVEX_DESC);
    constexpr UInt32 rw = 0xC8000010;
    constexpr UInt32 log = kAudioUnitParameterFlag_DisplayLogarithmic;
    struct Case {
        AudioUnitParameterID id;
        const char* name;
        UInt32 unit;
        float min, max, def;
        UInt32 flags;
    };
    const Case cases[] = {
        {halvex_id::THRESHOLD, "Threshold", kAudioUnitParameterUnit_Decibels, -60, 0, -18, rw},
        {halvex_id::RATIO, "Ratio", kAudioUnitParameterUnit_Generic, 1, 20, 4, rw},
        {halvex_id::KNEE, "Knee", kAudioUnitParameterUnit_Decibels, 0, 24, 6, rw},
        {halvex_id::ATTACK, "Attack", kAudioUnitParameterUnit_Milliseconds, 0.1f, 100, 10,
         rw | log},
        {halvex_id::RELEASE, "Release", kAudioUnitParameterUnit_Milliseconds, 10, 1000, 120,
         rw | log},
        {halvex_id::MAKEUP, "Makeup", kAudioUnitParameterUnit_Decibels, 0, 24, 0, rw},
        {halvex_id::MIX, "Mix", kAudioUnitParameterUnit_Generic, 0, 1, 1, rw},
        {halvex_id::BYPASS, "Bypass", kAudioUnitParameterUnit_Boolean, 0, 1, 0, rw},
        {halvex_id::GR, "Reduction", kAudioUnitParameterUnit_Decibels, 0, 30, 0, 0x48008010},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AudioUnitParameterInfo info{};
        ASSERT_EQ(unit.get(kAudioUnitProperty_ParameterInfo, info, kAudioUnitScope_Global, c.id),
                  noErr);
        EXPECT_STREQ(info.name, c.name);
        EXPECT_EQ(text_of(info.cfNameString), c.name);
        CFRelease(info.cfNameString);
        EXPECT_EQ(static_cast<UInt32>(info.unit), c.unit);
        EXPECT_EQ(info.minValue, c.min);
        EXPECT_EQ(info.maxValue, c.max);
        EXPECT_EQ(info.defaultValue, c.def);
        EXPECT_EQ(info.flags, c.flags);
    }
}

TEST(HalvexAu, ShowsAndParsesParameterTexts) {
    const Unit unit(halvex_factory(), HALVEX_DESC);
    AudioUnitParameterStringFromValue shown{halvex_id::THRESHOLD, nullptr, nullptr};
    ASSERT_EQ(unit.get(kAudioUnitProperty_ParameterStringFromValue, shown), noErr);
    EXPECT_EQ(text_of(shown.outString), "-18.00 dB");
    CFRelease(shown.outString);

    AudioUnitParameterNameInfo name{halvex_id::THRESHOLD, 4, nullptr};
    ASSERT_EQ(unit.get(kAudioUnitProperty_ParameterIDName, name), noErr);
    EXPECT_EQ(text_of(name.outName), "Thre");
    CFRelease(name.outName);
    name = {halvex_id::THRESHOLD, kAudioUnitParameterName_Full, nullptr};
    ASSERT_EQ(unit.get(kAudioUnitProperty_ParameterIDName, name), noErr);
    EXPECT_EQ(text_of(name.outName), "Threshold");
    CFRelease(name.outName);

    struct Case {
        AudioUnitParameterID id;
        const char* text;
        OSStatus status;
        float value;
    };
    const Case cases[] = {
        {halvex_id::THRESHOLD, " -12.5 dB ", noErr, -12.5f},
        {halvex_id::THRESHOLD, "loud", kAudioUnitErr_InvalidPropertyValue, 0.0f},
        {halvex_id::BYPASS, "ON", noErr, 1.0f},
        {halvex_id::ATTACK, "3ms", noErr, 3.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        CFStringRef text = make_string(c.text);
        AudioUnitParameterValueFromString parsed{c.id, text, 0.0f};
        EXPECT_EQ(unit.get(kAudioUnitProperty_ParameterValueFromString, parsed), c.status);
        if (c.status == noErr) {
            EXPECT_EQ(parsed.outValue, c.value);
        }
        CFRelease(text);
    }

    CFArrayRef strings = nullptr;
    EXPECT_EQ(unit.get(kAudioUnitProperty_ParameterValueStrings, strings, kAudioUnitScope_Global,
                       halvex_id::BYPASS),
              kAudioUnitErr_InvalidProperty)
        << "bypass is a toggle, not a choice";
}

/// The level of the last sample of each channel, in dB.
std::vector<double> last_levels_db(Buffers& buffers, UInt32 frames) {
    std::vector<double> levels;
    for (UInt32 ch = 0; ch < buffers.channels(); ++ch)
        levels.push_back(db(static_cast<double>(std::fabs(buffers.out(ch, frames)[frames - 1]))));
    return levels;
}

TEST(HalvexAu, CompressesMinus6dBByNineDecibels) {
    Compressor compressor;
    Buffers buffers(2, 512);
    compressor.run(buffers, 100); // 1.16 s: many release and attack times
    // The 12 dB overshoot lies outside the 6 dB knee: (1/4 - 1) × 12 = -9 dB.
    for (const double level : last_levels_db(buffers, 512))
        EXPECT_NEAR(level, -6.0 - 9.0, 0.05);
    EXPECT_NEAR(static_cast<double>(compressor.unit.parameter(halvex_id::GR)), 9.0, 0.05);

    // Below the threshold and its knee nothing happens.
    Compressor quiet(0.01f); // -40 dB
    quiet.run(buffers, 100);
    for (const double level : last_levels_db(buffers, 512))
        EXPECT_NEAR(level, -40.0, 0.01);
    EXPECT_NEAR(static_cast<double>(quiet.unit.parameter(halvex_id::GR)), 0.0, 0.01);
}

TEST(HalvexAu, MixZeroAndBothBypassesReturnTheInput) {
    struct Case {
        const char* name;
        void (*arrange)(const Unit&);
    };
    const Case cases[] = {
        {"mix 0",
         [](const Unit& u) {
             EXPECT_EQ(u.set_parameter(halvex_id::MIX, 0.0f), noErr);
         }},
        {"bypass parameter",
         [](const Unit& u) {
             EXPECT_EQ(u.set_parameter(halvex_id::BYPASS, 1.0f), noErr);
         }},
        {"bypass property",
         [](const Unit& u) {
             EXPECT_EQ(u.set(kAudioUnitProperty_BypassEffect, UInt32{1}), noErr);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Compressor compressor;
        Buffers buffers(2, 512);
        compressor.run(buffers, 20);
        c.arrange(compressor.unit);
        compressor.run(buffers, 2);
        for (UInt32 ch = 0; ch < 2; ++ch) {
            for (const float sample : buffers.out(ch, 512))
                ASSERT_EQ(sample, MINUS_6_DB);
        }
    }
}

TEST(HalvexAu, CompressesWhatAnUpstreamUnitRenders) {
    // The upstream compressor only passes its input on (mix 0); the downstream one
    // pulls it through AudioUnitRender and compresses it.
    Compressor upstream;
    ASSERT_EQ(upstream.unit.set_parameter(halvex_id::MIX, 0.0f), noErr);
    const Unit unit(halvex_factory(), HALVEX_DESC);
    ASSERT_EQ(unit.connect(upstream.unit.handle()), noErr);
    ASSERT_EQ(unit.initialize(), noErr);
    Buffers buffers(2, 512);
    for (int i = 0; i < 100; ++i)
        ASSERT_EQ(unit.render(buffers.list(), 512), noErr);
    EXPECT_EQ(upstream.source.calls, 100);
    for (const double level : last_levels_db(buffers, 512))
        EXPECT_NEAR(level, -15.0, 0.05);
}

TEST(HalvexAu, PresetsMoveBetweenInstancesWithoutTheMeter) {
    Compressor from;
    ASSERT_EQ(from.unit.set_parameter(halvex_id::THRESHOLD, -30.0f), noErr);
    ASSERT_EQ(from.unit.set_parameter(halvex_id::RATIO, 8.0f), noErr);
    ASSERT_EQ(from.unit.set_parameter(halvex_id::ATTACK, 0.1f), noErr);
    Buffers buffers(2, 512);
    from.run(buffers, 20);
    ASSERT_GT(from.unit.parameter(halvex_id::GR), 1.0f);
    CFPropertyListRef preset = nullptr;
    ASSERT_EQ(from.unit.get(kAudioUnitProperty_ClassInfo, preset), noErr);
    CFStringRef data_key = make_string("data");
    EXPECT_EQ(CFDataGetLength(static_cast<CFDataRef>(
                  CFDictionaryGetValue(static_cast<CFDictionaryRef>(preset), data_key))),
              84);
    CFRelease(data_key);

    const Unit to(halvex_factory(), HALVEX_DESC);
    ASSERT_EQ(to.set(kAudioUnitProperty_ClassInfo, preset), noErr);
    EXPECT_EQ(to.parameter(halvex_id::THRESHOLD), -30.0f);
    EXPECT_EQ(to.parameter(halvex_id::RATIO), 8.0f);
    EXPECT_EQ(to.parameter(halvex_id::ATTACK), 0.1f);
    EXPECT_EQ(to.parameter(halvex_id::GR), 0.0f) << "meter readings are never restored";

    // Another component's preset is refused.
    AudioComponentDescription other = HALVEX_DESC;
    other.componentSubType = fourcc("Hlv2");
    const Unit stranger(halvex_factory(), other);
    EXPECT_EQ(stranger.set(kAudioUnitProperty_ClassInfo, preset),
              kAudioUnitErr_InvalidPropertyValue);
    EXPECT_EQ(stranger.parameter(halvex_id::THRESHOLD), -18.0f);
    CFRelease(preset);
}

TEST(HalvexAu, HostsCannotWriteTheMeter) {
    Compressor compressor;
    Buffers buffers(2, 512);
    compressor.run(buffers, 20);
    const float reading = compressor.unit.parameter(halvex_id::GR);
    EXPECT_GT(reading, 0.0f);
    EXPECT_EQ(compressor.unit.set_parameter(halvex_id::GR, 3.0f), kAudioUnitErr_InvalidParameter);
    // A scheduled write is taken and dropped at the next render; the unit's own bypass
    // keeps the plug-in from measuring again, so the reading must stay as it was.
    const AudioUnitParameterEvent change = immediate(halvex_id::GR, 25.0f);
    EXPECT_EQ(compressor.unit.schedule({&change, 1}), noErr);
    ASSERT_EQ(compressor.unit.set(kAudioUnitProperty_BypassEffect, UInt32{1}), noErr);
    compressor.run(buffers, 4);
    EXPECT_EQ(compressor.unit.parameter(halvex_id::GR), reading);
}

TEST(HalvexAu, RendersWithoutAllocatingAndRestoresTheFloatingPointMode) {
    Compressor compressor;
    const AudioUnitParameterEvent change = ramped(halvex_id::THRESHOLD, -18.0f, -24.0f, 256);
    ASSERT_EQ(compressor.unit.schedule({&change, 1}), noErr);
    Buffers buffers(2, 1156);
    buffers.detach();
    const std::uint64_t mode = velk::float_control_register();
    {
        velk::test::NoAllocScope scope;
        for (const UInt32 frames : {1156u, 1u, 31u, 64u, 0u, 100u})
            ASSERT_EQ(compressor.unit.render(buffers.list(), frames), noErr);
        if (velk::test::counting_allocations()) {
            EXPECT_EQ(scope.count(), 0u);
        }
    }
    EXPECT_EQ(velk::float_control_register(), mode);
    EXPECT_EQ(compressor.unit.parameter(halvex_id::THRESHOLD), -24.0f);
}

TEST(HalvexAu, FlushesDenormalInputToZeroAndKeepsTheFloatingPointMode) {
    Compressor compressor(std::numeric_limits<float>::denorm_min());
    compressor.source.level = {std::numeric_limits<float>::denorm_min(), -1e-39f};
    // Half dry, so the input reaches the output both through the compressor and around it.
    ASSERT_EQ(compressor.unit.set_parameter(halvex_id::MIX, 0.5f), noErr);
    Buffers buffers(2, 512, 1.0f);
    const std::uint64_t mode = velk::float_control_register();
    for (int block = 0; block < 3; ++block) {
        ASSERT_EQ(compressor.unit.render(buffers.list(), 512), noErr);
        EXPECT_EQ(velk::float_control_register(), mode);
        for (UInt32 ch = 0; ch < 2; ++ch)
            for (const float x : buffers.out(ch, 512))
                ASSERT_EQ(x, 0.0f) << "block " << block << ", channel " << ch;
    }
}

TEST(HalvexAuConcurrency, RenderRunsWhileOtherThreadsConfigure) {
    stress_unit(halvex_factory(), HALVEX_DESC,
                StressSetup{.param = halvex_id::THRESHOLD,
                            .low = -40.0f,
                            .high = 0.0f,
                            .own = halvex_id::RATIO,
                            .own_low = 1.0f,
                            .own_high = 20.0f});
}

} // namespace
} // namespace velk::au_test
