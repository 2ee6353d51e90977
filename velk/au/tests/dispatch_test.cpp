// The factory, the interface record, the selector table, the life cycle and the
// parameter-id encoding, seen from a host.

#include <set>

#include "units.hpp"
#include "velk/au_test/symbols.hpp"

#include <gtest/gtest.h>

namespace velk::au_test {
namespace {

TEST(AuFactory, RefusesANullDescription) {
    ASSERT_NE(test_effect(), nullptr);
    EXPECT_EQ(test_effect()(nullptr), nullptr);
}

TEST(AuFactory, AModuleExportsOnlyItsFactories) {
    EXPECT_EQ(exported_symbols(VELK_AU_TEST_MODULE),
              (std::set<std::string>{"VelkProbeEffectFactory", "VelkProbeInstrumentFactory",
                                     "VelkTestEffectFactory"}));
}

TEST(AuFactory, LookupAnswersExactlyTheSelectorTable) {
    const Unit unit(test_effect(), EFFECT_DESC);
    const AudioComponentPlugInInterface& iface = *unit.iface();
    EXPECT_NE(iface.Open, nullptr);
    EXPECT_NE(iface.Close, nullptr);
    EXPECT_EQ(iface.reserved, nullptr);

    const std::set<int> served{1, 2, 3, 4, 5, 6, 7, 9, 10, 11, 14, 15, 16, 17, 18, 257, 258};
    for (int selector = -2; selector <= 300; ++selector) {
        SCOPED_TRACE(selector);
        const AudioComponentMethod method = iface.Lookup(static_cast<SInt16>(selector));
        EXPECT_EQ(method != nullptr, served.count(selector) == 1);
    }
    // Each unit has its own instance behind the same entry points.
    const Unit other(test_effect(), EFFECT_DESC);
    EXPECT_NE(other.iface(), unit.iface());
    EXPECT_EQ(other.iface()->Lookup(kAudioUnitRenderSelect), iface.Lookup(kAudioUnitRenderSelect));
}

TEST(AuInstance, FreshInstanceReportsItsDefaultsBeforeInitialize) {
    const Unit unit(test_effect(), EFFECT_DESC);
    for (const AudioUnitScope scope : {kAudioUnitScope_Input, kAudioUnitScope_Output}) {
        Float64 rate = 0.0;
        EXPECT_EQ(unit.get(kAudioUnitProperty_SampleRate, rate, scope), noErr);
        EXPECT_EQ(rate, 44100.0);
        AudioStreamBasicDescription format{};
        EXPECT_EQ(unit.get(kAudioUnitProperty_StreamFormat, format, scope), noErr);
        EXPECT_EQ(format.mChannelsPerFrame, 2u);
    }
    UInt32 max_frames = 0;
    EXPECT_EQ(unit.get(kAudioUnitProperty_MaximumFramesPerSlice, max_frames), noErr);
    EXPECT_EQ(max_frames, 1156u);
    AUPreset preset{};
    EXPECT_EQ(unit.get(kAudioUnitProperty_PresentPreset, preset), noErr);
    EXPECT_EQ(preset.presetNumber, -1);
    EXPECT_EQ(text_of(preset.presetName), "Untitled");
    CFRelease(preset.presetName);
    EXPECT_EQ(unit.last_render_error(), noErr);
    UInt32 bypass = 7;
    EXPECT_EQ(unit.get(kAudioUnitProperty_BypassEffect, bypass), noErr);
    EXPECT_EQ(bypass, 0u);
}

TEST(AuInstance, InitializePreparesOnceUntilUninitialized) {
    const Unit unit(probe_effect(), EFFECT_DESC);
    EXPECT_EQ(unit.parameter(probe_id::PREPARES), 0.0f) << "the factory prepares nothing";
    EXPECT_EQ(unit.reset(), noErr);
    EXPECT_EQ(unit.parameter(probe_id::PREPARES), 0.0f) << "reset of an uninitialized unit";

    ASSERT_EQ(unit.set(kAudioUnitProperty_SampleRate, 48000.0, kAudioUnitScope_Output), noErr);
    ASSERT_EQ(unit.set(kAudioUnitProperty_MaximumFramesPerSlice, UInt32{512}), noErr);
    ASSERT_EQ(unit.set_format(kAudioUnitScope_Input, 3, 48000.0), noErr);
    ASSERT_EQ(unit.set_format(kAudioUnitScope_Output, 3, 48000.0), noErr);
    EXPECT_EQ(unit.initialize(), noErr);
    EXPECT_EQ(unit.parameter(probe_id::PREPARES), 1.0f);
    EXPECT_EQ(unit.parameter(probe_id::CHANNELS), 3.0f);
    EXPECT_EQ(unit.parameter(probe_id::MAX_FRAMES), 512.0f);
    EXPECT_EQ(unit.parameter(probe_id::SAMPLE_RATE), 48000.0f);

    EXPECT_EQ(unit.initialize(), noErr);
    EXPECT_EQ(unit.parameter(probe_id::PREPARES), 1.0f) << "a second initialize is a no-op";
    EXPECT_EQ(unit.reset(), noErr);
    EXPECT_EQ(unit.parameter(probe_id::PREPARES), 2.0f) << "reset prepares again";
    EXPECT_EQ(unit.uninitialize(), noErr);
    EXPECT_EQ(unit.initialize(), noErr);
    EXPECT_EQ(unit.parameter(probe_id::PREPARES), 3.0f);
}

TEST(AuInstance, InitializeRefusesChannelCountsItCannotProcess) {
    const Unit unit(test_effect(), EFFECT_DESC);
    Buffers buffers(2, 16);
    ASSERT_EQ(unit.set_format(kAudioUnitScope_Input, 1), noErr);
    EXPECT_EQ(unit.initialize(), kAudioUnitErr_FormatNotSupported);
    EXPECT_EQ(unit.render(buffers.list(), 16), kAudioUnitErr_Uninitialized)
        << "still uninitialized";
    ASSERT_EQ(unit.set_format(kAudioUnitScope_Input, 2), noErr);
    EXPECT_EQ(unit.initialize(), noErr);

    // The probe effect takes 1 to 8 channels; its formats refuse 9.
    const Unit probe(probe_effect(), EFFECT_DESC);
    EXPECT_EQ(probe.set_format(kAudioUnitScope_Output, 9), kAudioUnitErr_FormatNotSupported);
    EXPECT_EQ(probe.set_format(kAudioUnitScope_Output, 8), noErr);
    EXPECT_EQ(probe.initialize(), kAudioUnitErr_FormatNotSupported);
    EXPECT_EQ(probe.set_format(kAudioUnitScope_Input, 8), noErr);
    EXPECT_EQ(probe.initialize(), noErr);
    EXPECT_EQ(probe.parameter(probe_id::CHANNELS), 8.0f);
}

TEST(AuInstance, InstrumentsNeedNoInputFormat) {
    const Unit unit(probe_instrument(), INSTRUMENT_DESC);
    ASSERT_EQ(unit.set_format(kAudioUnitScope_Output, 5), noErr);
    EXPECT_EQ(unit.initialize(), noErr);
    EXPECT_EQ(unit.parameter(probe_id::CHANNELS), 5.0f);
}

TEST(AuInstance, ParameterIdsCarryTheIndexAndTheChannel) {
    const Unit unit(test_effect(), EFFECT_DESC);
    struct Case {
        AudioUnitParameterID id;
        bool valid;
    };
    const Case cases[] = {
        {test_id::GAIN, true},       {test_id::GAIN + 1, false}, // no channels on a global
        {test_id::LEVEL, true},      {test_id::LEVEL + 1, true}, // two output channels
        {test_id::LEVEL + 2, false}, {test_id::LEVEL + 127, false},
        {test_id::PEAK, true},       {test_id::PEAK + 128, false}, // past the last parameter
        {0xFFFFFFFF, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        float value = 0.0f;
        EXPECT_EQ(unit.get_parameter(c.id, &value),
                  c.valid ? OSStatus{noErr} : OSStatus{kAudioUnitErr_InvalidParameter});
    }
    // A third output channel makes the third channel of "level" valid.
    ASSERT_EQ(unit.set_format(kAudioUnitScope_Output, 3), noErr);
    float value = 0.0f;
    EXPECT_EQ(unit.get_parameter(test_id::LEVEL + 2, &value), noErr);
    EXPECT_EQ(value, 1.0f);
}

} // namespace
} // namespace velk::au_test
