#pragma once

// The units of the test module: the test plug-in as an effect, and the probe as an effect
// and as an instrument, with their parameter ids.

#include "velk/au_test/host.hpp"

namespace velk::au_test {

inline AudioComponentFactoryFunction test_effect() {
    static const auto factory = load_factory(VELK_AU_TEST_MODULE, "VelkTestEffectFactory");
    return factory;
}
inline AudioComponentFactoryFunction probe_effect() {
    static const auto factory = load_factory(VELK_AU_TEST_MODULE, "VelkProbeEffectFactory");
    return factory;
}
inline AudioComponentFactoryFunction probe_instrument() {
    static const auto factory = load_factory(VELK_AU_TEST_MODULE, "VelkProbeInstrumentFactory");
    return factory;
}

inline constexpr AudioComponentDescription EFFECT_DESC{fourcc("aufx"), fourcc("Tst1"),
                                                       fourcc("Velk"), 0, 0};
inline constexpr AudioComponentDescription INSTRUMENT_DESC{fourcc("aumu"), fourcc("Prb1"),
                                                           fourcc("Velk"), 0, 0};

/// Host ids of the test plug-in's parameters: index × 128, plus the channel for "level".
namespace test_id {
inline constexpr AudioUnitParameterID GAIN = 0;      // dB, -60 to 12
inline constexpr AudioUnitParameterID LEVEL = 128;   // per channel, 0 to 1
inline constexpr AudioUnitParameterID MODE = 256;    // choice: Normal, Inverted, Muted
inline constexpr AudioUnitParameterID BYPASS = 384;  // toggle
inline constexpr AudioUnitParameterID LATENCY = 512; // samples
inline constexpr AudioUnitParameterID TAIL = 640;    // samples
inline constexpr AudioUnitParameterID PEAK = 768;    // meter
} // namespace test_id

/// Host ids of the probe's parameters: "gain", then its readings (-1 when absent).
namespace probe_id {
inline constexpr AudioUnitParameterID GAIN = 0;
inline constexpr AudioUnitParameterID PREPARES = 1 * 128;
inline constexpr AudioUnitParameterID CHANNELS = 2 * 128;
inline constexpr AudioUnitParameterID MAX_FRAMES = 3 * 128;
inline constexpr AudioUnitParameterID SAMPLE_RATE = 4 * 128;
inline constexpr AudioUnitParameterID PROCESSES = 5 * 128;
inline constexpr AudioUnitParameterID FRAMES = 6 * 128;
inline constexpr AudioUnitParameterID TEMPO = 7 * 128;
inline constexpr AudioUnitParameterID POSITION = 8 * 128;
inline constexpr AudioUnitParameterID PLAYING = 9 * 128;
inline constexpr AudioUnitParameterID MIDI_COUNT = 10 * 128;
inline constexpr AudioUnitParameterID MIDI_STATUS = 11 * 128;
inline constexpr AudioUnitParameterID MIDI_DATA = 12 * 128;
inline constexpr AudioUnitParameterID MIDI_OFFSET = 13 * 128;
} // namespace probe_id

/// A unit of the test plug-in, initialized, with `source` as its input.
struct TestEffect {
    explicit TestEffect(UInt32 channels = 2) {
        if (channels != 2) {
            EXPECT_EQ(unit.set_format(kAudioUnitScope_Input, channels), noErr);
            EXPECT_EQ(unit.set_format(kAudioUnitScope_Output, channels), noErr);
        }
        EXPECT_EQ(unit.set_input(Source::render, &source), noErr);
        EXPECT_EQ(unit.initialize(), noErr);
    }

    Unit unit{test_effect(), EFFECT_DESC};
    Source source;
};

} // namespace velk::au_test
