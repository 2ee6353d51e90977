// Properties seen from a host: the table of scopes, elements, sizes and writability,
// the get and set protocol, stream formats, channel configurations and the simpler
// properties with their listeners.

#include <limits>
#include <vector>

#include "units.hpp"

#include <gtest/gtest.h>

namespace velk::au_test {
namespace {

constexpr AudioUnitScope GLOBAL = kAudioUnitScope_Global;
constexpr AudioUnitScope INPUT = kAudioUnitScope_Input;
constexpr AudioUnitScope OUTPUT = kAudioUnitScope_Output;

/// Records the properties its listener heard, in order.
struct Heard {
    std::vector<std::pair<AudioUnitPropertyID, AudioUnitScope>> calls;
    static void listen(void* user, AudioUnit, AudioUnitPropertyID property, AudioUnitScope scope,
                       AudioUnitElement element) {
        EXPECT_EQ(element, 0u);
        static_cast<Heard*>(user)->calls.emplace_back(property, scope);
    }
    void watch(const Unit& unit, std::initializer_list<AudioUnitPropertyID> properties) {
        for (const AudioUnitPropertyID p : properties)
            EXPECT_EQ(unit.add_listener(p, listen, this), noErr);
    }
};

TEST(AuProperties, TheTableGivesSizesWritabilityAndScopes) {
    const Unit unit(test_effect(), EFFECT_DESC);
    struct Case {
        AudioUnitPropertyID id;
        AudioUnitScope scope;
        AudioUnitElement element;
        OSStatus status;
        UInt32 size;
        bool writable;
    };
    const Case cases[] = {
        {kAudioUnitProperty_ClassInfo, GLOBAL, 0, noErr, 8, true},
        {kAudioUnitProperty_ClassInfo, INPUT, 0, kAudioUnitErr_InvalidScope, 0, false},
        {kAudioUnitProperty_MakeConnection, INPUT, 0, noErr, 16, true},
        {kAudioUnitProperty_MakeConnection, OUTPUT, 0, kAudioUnitErr_InvalidScope, 0, false},
        {kAudioUnitProperty_SampleRate, INPUT, 0, noErr, 8, true},
        {kAudioUnitProperty_SampleRate, GLOBAL, 0, kAudioUnitErr_InvalidScope, 0, false},
        {kAudioUnitProperty_ParameterList, GLOBAL, 5, noErr, 32, false},
        {kAudioUnitProperty_ParameterList, OUTPUT, 0, noErr, 0, false},
        {kAudioUnitProperty_ParameterInfo, GLOBAL, test_id::PEAK, noErr, 104, false},
        {kAudioUnitProperty_ParameterInfo, GLOBAL, 7, kAudioUnitErr_InvalidParameter, 0, false},
        {kAudioUnitProperty_StreamFormat, OUTPUT, 0, noErr, 40, true},
        {kAudioUnitProperty_StreamFormat, GLOBAL, 0, kAudioUnitErr_InvalidScope, 0, false},
        {kAudioUnitProperty_StreamFormat, OUTPUT, 1, kAudioUnitErr_InvalidElement, 0, false},
        {kAudioUnitProperty_StreamFormat, 5, 1, kAudioUnitErr_InvalidScope, 0, false},
        {kAudioUnitProperty_ElementCount, INPUT, 3, noErr, 4, false},
        {kAudioUnitProperty_Latency, GLOBAL, 0, noErr, 8, false},
        {kAudioUnitProperty_SupportedNumChannels, GLOBAL, 0, noErr, 4, false},
        {kAudioUnitProperty_MaximumFramesPerSlice, GLOBAL, 0, noErr, 4, true},
        {kAudioUnitProperty_ParameterValueStrings, GLOBAL, test_id::MODE, noErr, 8, false},
        {kAudioUnitProperty_TailTime, GLOBAL, 0, noErr, 8, false},
        {kAudioUnitProperty_BypassEffect, GLOBAL, 0, noErr, 4, true},
        {kAudioUnitProperty_LastRenderError, GLOBAL, 0, noErr, 4, true},
        {kAudioUnitProperty_SetRenderCallback, INPUT, 0, noErr, 16, true},
        {kAudioUnitProperty_HostCallbacks, GLOBAL, 0, noErr, 40, true},
        {kAudioUnitProperty_InPlaceProcessing, GLOBAL, 0, noErr, 4, true},
        {kAudioUnitProperty_ParameterStringFromValue, GLOBAL, 0, noErr, 24, false},
        {kAudioUnitProperty_ParameterIDName, GLOBAL, 0, noErr, 16, false},
        {kAudioUnitProperty_PresentPreset, GLOBAL, 0, noErr, 16, true},
        {kAudioUnitProperty_ParameterValueFromString, GLOBAL, 0, noErr, 24, false},
        {kAudioUnitProperty_ShouldAllocateBuffer, OUTPUT, 0, noErr, 4, true},
        {kAudioUnitProperty_ShouldAllocateBuffer, GLOBAL, 0, kAudioUnitErr_InvalidScope, 0, false},
        {9, GLOBAL, 0, kAudioUnitErr_InvalidProperty, 0, false},
        {1000, GLOBAL, 0, kAudioUnitErr_InvalidProperty, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "property " << c.id << ", scope " << c.scope);
        UInt32 size = 12345;
        Boolean writable = 7;
        EXPECT_EQ(unit.property_info(c.id, c.scope, c.element, &size, &writable), c.status);
        if (c.status == noErr) {
            EXPECT_EQ(size, c.size);
            EXPECT_EQ(writable, c.writable ? 1 : 0);
            // A null data pointer asks only for the size, the same one.
            UInt32 asked = 0;
            EXPECT_EQ(unit.get_property(c.id, c.scope, c.element, nullptr, &asked), noErr);
            EXPECT_EQ(asked, c.size);
        } else {
            EXPECT_EQ(size, 12345u) << "nothing is stored on an error";
            UInt32 asked = 64;
            std::uint64_t data[8] = {};
            EXPECT_EQ(unit.get_property(c.id, c.scope, c.element, data, &asked), c.status);
            EXPECT_EQ(unit.set_property(c.id, c.scope, c.element, data, asked), c.status);
        }
    }
    EXPECT_EQ(unit.property_info(kAudioUnitProperty_Latency, GLOBAL, 0, nullptr, nullptr), noErr);
}

TEST(AuProperties, GetAndSetCheckTheCallersBuffer) {
    const Unit unit(test_effect(), EFFECT_DESC);
    AudioStreamBasicDescription format{};
    UInt32 size = 39;
    EXPECT_EQ(unit.get_property(kAudioUnitProperty_StreamFormat, OUTPUT, 0, &format, nullptr),
              kAudio_ParamError);
    EXPECT_EQ(unit.get_property(kAudioUnitProperty_StreamFormat, OUTPUT, 0, &format, &size),
              kAudioUnitErr_InvalidPropertyValue);
    EXPECT_EQ(format.mChannelsPerFrame, 0u) << "a short buffer is left alone";
    size = 64; // a larger buffer is fine and learns the real size
    EXPECT_EQ(unit.get_property(kAudioUnitProperty_StreamFormat, OUTPUT, 0, &format, &size), noErr);
    EXPECT_EQ(size, 40u);

    const Float64 rate = 48000.0;
    EXPECT_EQ(unit.set_property(kAudioUnitProperty_Latency, GLOBAL, 0, &rate, 8),
              kAudioUnitErr_PropertyNotWritable);
    EXPECT_EQ(unit.set_property(kAudioUnitProperty_SampleRate, OUTPUT, 0, nullptr, 8),
              kAudioUnitErr_InvalidPropertyValue);
    EXPECT_EQ(unit.set_property(kAudioUnitProperty_SampleRate, OUTPUT, 0, &rate, 4),
              kAudioUnitErr_InvalidPropertyValue);
    EXPECT_EQ(unit.set_property(kAudioUnitProperty_SampleRate, OUTPUT, 0, &rate, 16),
              kAudioUnitErr_InvalidPropertyValue);
}

TEST(AuProperties, StreamFormatsFollowTheRules) {
    const Unit unit(test_effect(), EFFECT_DESC);
    AudioStreamBasicDescription format{};
    ASSERT_EQ(unit.get(kAudioUnitProperty_StreamFormat, format, OUTPUT), noErr);
    EXPECT_EQ(format.mSampleRate, 44100.0);
    EXPECT_EQ(format.mFormatID, fourcc("lpcm"));
    EXPECT_EQ(format.mFormatFlags, 0x29u);
    EXPECT_EQ(format.mBytesPerPacket, 4u);
    EXPECT_EQ(format.mFramesPerPacket, 1u);
    EXPECT_EQ(format.mBytesPerFrame, 4u);
    EXPECT_EQ(format.mChannelsPerFrame, 2u);
    EXPECT_EQ(format.mBitsPerChannel, 32u);
    EXPECT_EQ(format.mReserved, 0u);

    struct Case {
        const char* name;
        void (*change)(AudioStreamBasicDescription&);
        bool accepted;
    };
    const Case cases[] = {
        {"as reported", [](AudioStreamBasicDescription&) {}, true},
        {"big-endian bit added", [](auto& f) { f.mFormatFlags |= kAudioFormatFlagIsBigEndian; },
         true},
        {"reserved set", [](auto& f) { f.mReserved = 9; }, true},
        {"64 channels", [](auto& f) { f.mChannelsPerFrame = 64; }, true},
        {"interleaved", [](auto& f) { f.mFormatFlags = 0x09; }, false},
        {"integer", [](auto& f) { f.mFormatFlags = 0x2C; }, false},
        {"other format", [](auto& f) { f.mFormatID = fourcc("aac "); }, false},
        {"16 bits", [](auto& f) { f.mBitsPerChannel = 16; }, false},
        {"8 bytes per frame", [](auto& f) { f.mBytesPerFrame = 8; }, false},
        {"8 bytes per packet", [](auto& f) { f.mBytesPerPacket = 8; }, false},
        {"2 frames per packet", [](auto& f) { f.mFramesPerPacket = 2; }, false},
        {"no channels", [](auto& f) { f.mChannelsPerFrame = 0; }, false},
        {"65 channels", [](auto& f) { f.mChannelsPerFrame = 65; }, false},
        {"rate 0", [](auto& f) { f.mSampleRate = 0.0; }, false},
        {"negative rate", [](auto& f) { f.mSampleRate = -44100.0; }, false},
        {"infinite rate", [](auto& f) { f.mSampleRate = std::numeric_limits<double>::infinity(); },
         false},
        {"NaN rate", [](auto& f) { f.mSampleRate = std::numeric_limits<double>::quiet_NaN(); },
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Unit fresh(test_effect(), EFFECT_DESC);
        Heard heard;
        heard.watch(fresh, {kAudioUnitProperty_StreamFormat});
        AudioStreamBasicDescription changed = format;
        changed.mSampleRate = 48000.0;
        c.change(changed);
        EXPECT_EQ(fresh.set(kAudioUnitProperty_StreamFormat, changed, OUTPUT),
                  c.accepted ? OSStatus{noErr} : OSStatus{kAudioUnitErr_FormatNotSupported});
        AudioStreamBasicDescription now{};
        ASSERT_EQ(fresh.get(kAudioUnitProperty_StreamFormat, now, OUTPUT), noErr);
        EXPECT_EQ(now.mChannelsPerFrame, c.accepted ? changed.mChannelsPerFrame : 2u);
        EXPECT_EQ(now.mSampleRate, c.accepted ? changed.mSampleRate : 44100.0);
        EXPECT_EQ(heard.calls.size(), c.accepted ? 2u : 0u);
    }
}

TEST(AuProperties, OutputAndInputFormatsAreSetApartAndMatchedAtInitialize) {
    const Unit unit(test_effect(), EFFECT_DESC);
    Heard heard;
    heard.watch(unit, {kAudioUnitProperty_StreamFormat, kAudioUnitProperty_SampleRate});
    ASSERT_EQ(unit.set_format(OUTPUT, 8, 48000.0), noErr);
    using Calls = std::vector<std::pair<AudioUnitPropertyID, AudioUnitScope>>;
    EXPECT_EQ(heard.calls, (Calls{{kAudioUnitProperty_StreamFormat, INPUT},
                                  {kAudioUnitProperty_StreamFormat, OUTPUT}}));
    AudioStreamBasicDescription input{};
    ASSERT_EQ(unit.get(kAudioUnitProperty_StreamFormat, input, INPUT), noErr);
    EXPECT_EQ(input.mChannelsPerFrame, 2u);
    EXPECT_EQ(input.mSampleRate, 48000.0) << "one sample rate for both";
    EXPECT_EQ(unit.initialize(), kAudioUnitErr_FormatNotSupported);
    ASSERT_EQ(unit.set_format(INPUT, 8, 48000.0), noErr);
    EXPECT_EQ(unit.initialize(), noErr);

    // While initialized the configuration is fixed.
    EXPECT_EQ(unit.set_format(OUTPUT, 2), kAudioUnitErr_Initialized);
    EXPECT_EQ(unit.set(kAudioUnitProperty_SampleRate, 44100.0, OUTPUT), kAudioUnitErr_Initialized);
    EXPECT_EQ(unit.set(kAudioUnitProperty_MaximumFramesPerSlice, UInt32{512}),
              kAudioUnitErr_Initialized);
    ASSERT_EQ(unit.uninitialize(), noErr);
    EXPECT_EQ(unit.set_format(OUTPUT, 2), noErr);
}

TEST(AuProperties, SampleRateMustBeFiniteAndPositive) {
    const Unit unit(test_effect(), EFFECT_DESC);
    Heard heard;
    heard.watch(unit, {kAudioUnitProperty_StreamFormat, kAudioUnitProperty_SampleRate});
    for (const Float64 bad : {0.0, -1.0, std::numeric_limits<double>::quiet_NaN(),
                              std::numeric_limits<double>::infinity()}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(unit.set(kAudioUnitProperty_SampleRate, bad, OUTPUT),
                  kAudioUnitErr_InvalidPropertyValue);
    }
    EXPECT_TRUE(heard.calls.empty());
    ASSERT_EQ(unit.set(kAudioUnitProperty_SampleRate, 96000.0, INPUT), noErr);
    using Calls = std::vector<std::pair<AudioUnitPropertyID, AudioUnitScope>>;
    EXPECT_EQ(heard.calls, (Calls{{kAudioUnitProperty_SampleRate, INPUT},
                                  {kAudioUnitProperty_SampleRate, OUTPUT},
                                  {kAudioUnitProperty_StreamFormat, INPUT},
                                  {kAudioUnitProperty_StreamFormat, OUTPUT}}));
    Float64 rate = 0.0;
    ASSERT_EQ(unit.get(kAudioUnitProperty_SampleRate, rate, OUTPUT), noErr);
    EXPECT_EQ(rate, 96000.0);
}

TEST(AuProperties, MaximumFramesBoundTheRender) {
    const Unit unit(test_effect(), EFFECT_DESC);
    for (const UInt32 bad : {0u, 1048577u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(unit.set(kAudioUnitProperty_MaximumFramesPerSlice, bad),
                  kAudioUnitErr_InvalidPropertyValue);
    }
    ASSERT_EQ(unit.set(kAudioUnitProperty_MaximumFramesPerSlice, UInt32{1048576}), noErr);
    ASSERT_EQ(unit.set(kAudioUnitProperty_MaximumFramesPerSlice, UInt32{4096}), noErr);
    UInt32 frames = 0;
    ASSERT_EQ(unit.get(kAudioUnitProperty_MaximumFramesPerSlice, frames), noErr);
    EXPECT_EQ(frames, 4096u);

    Source source;
    ASSERT_EQ(unit.set_input(Source::render, &source), noErr);
    ASSERT_EQ(unit.initialize(), noErr);
    Buffers buffers(2, 4097);
    buffers.detach(); // the scratch buffers are as long as the maximum
    EXPECT_EQ(unit.render(buffers.list(), 4096), noErr);
    EXPECT_EQ(buffers.out(1, 4096)[4095], 0.5f);
    EXPECT_EQ(unit.render(buffers.list(), 4097), kAudioUnitErr_TooManyFramesToProcess);
}

TEST(AuProperties, LatencyAndTailAreSecondsAsOfTheLastRender) {
    TestEffect fx;
    Float64 seconds = -1.0;
    ASSERT_EQ(fx.unit.get(kAudioUnitProperty_Latency, seconds), noErr);
    EXPECT_EQ(seconds, 0.0);
    ASSERT_EQ(fx.unit.set_parameter(test_id::LATENCY, 220.0f), noErr);
    ASSERT_EQ(fx.unit.set_parameter(test_id::TAIL, 22050.0f), noErr);
    ASSERT_EQ(fx.unit.get(kAudioUnitProperty_Latency, seconds), noErr);
    EXPECT_EQ(seconds, 0.0) << "not before a render asked the plug-in";
    Buffers buffers(2, 64);
    ASSERT_EQ(fx.unit.render(buffers.list(), 64), noErr);
    ASSERT_EQ(fx.unit.get(kAudioUnitProperty_Latency, seconds), noErr);
    EXPECT_DOUBLE_EQ(seconds, 220.0 / 44100.0);
    ASSERT_EQ(fx.unit.get(kAudioUnitProperty_TailTime, seconds), noErr);
    EXPECT_DOUBLE_EQ(seconds, 0.5);
}

TEST(AuProperties, ChannelConfigurationsFollowTheLayout) {
    struct Case {
        const char* name;
        AudioComponentFactoryFunction factory;
        std::vector<std::pair<int, int>> pairs;
    };
    std::vector<std::pair<int, int>> probe_pairs;
    std::vector<std::pair<int, int>> instrument_pairs;
    for (int n = 1; n <= 8; ++n)
        probe_pairs.emplace_back(n, n);
    for (int n = 1; n <= 16; ++n)
        instrument_pairs.emplace_back(0, n);
    const Case cases[] = {
        {"any matching count", test_effect(), {{-1, -1}}},
        {"1 to 8 channels", probe_effect(), probe_pairs},
        {"instrument", probe_instrument(), instrument_pairs},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Unit unit(c.factory, EFFECT_DESC);
        UInt32 size = 0;
        ASSERT_EQ(
            unit.property_info(kAudioUnitProperty_SupportedNumChannels, GLOBAL, 0, &size, nullptr),
            noErr);
        std::vector<AUChannelInfo> infos(size / sizeof(AUChannelInfo));
        ASSERT_EQ(unit.get_property(kAudioUnitProperty_SupportedNumChannels, GLOBAL, 0,
                                    infos.data(), &size),
                  noErr);
        std::vector<std::pair<int, int>> pairs;
        for (const AUChannelInfo& info : infos)
            pairs.emplace_back(info.inChannels, info.outChannels);
        EXPECT_EQ(pairs, c.pairs);
    }
}

TEST(AuProperties, InstrumentsHaveNoInput) {
    const Unit instrument(probe_instrument(), INSTRUMENT_DESC);
    const Unit effect(test_effect(), EFFECT_DESC);
    for (const AudioUnitPropertyID id :
         {kAudioUnitProperty_MakeConnection, kAudioUnitProperty_SampleRate,
          kAudioUnitProperty_StreamFormat, kAudioUnitProperty_SetRenderCallback,
          kAudioUnitProperty_ShouldAllocateBuffer}) {
        SCOPED_TRACE(id);
        EXPECT_EQ(instrument.property_info(id, INPUT, 0, nullptr, nullptr),
                  kAudioUnitErr_InvalidElement);
        EXPECT_EQ(effect.property_info(id, INPUT, 0, nullptr, nullptr), noErr);
    }
    struct Case {
        const Unit* unit;
        AudioUnitPropertyID id;
        AudioUnitScope scope;
        UInt32 value;
    };
    const Case cases[] = {
        {&instrument, kAudioUnitProperty_ElementCount, INPUT, 0},
        {&instrument, kAudioUnitProperty_ElementCount, OUTPUT, 1},
        {&effect, kAudioUnitProperty_ElementCount, INPUT, 1},
        {&effect, kAudioUnitProperty_ElementCount, GLOBAL, 1},
        {&instrument, kAudioUnitProperty_InPlaceProcessing, GLOBAL, 0},
        {&effect, kAudioUnitProperty_InPlaceProcessing, GLOBAL, 1},
        {&effect, kAudioUnitProperty_ShouldAllocateBuffer, OUTPUT, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.id << " in scope " << c.scope);
        UInt32 value = 99;
        EXPECT_EQ(c.unit->get(c.id, value, c.scope), noErr);
        EXPECT_EQ(value, c.value);
    }
}

TEST(AuProperties, SwitchesAndAcceptedValuesNotifyTheirListeners) {
    const Unit unit(test_effect(), EFFECT_DESC);
    Heard heard;
    heard.watch(unit,
                {kAudioUnitProperty_BypassEffect, kAudioUnitProperty_LastRenderError,
                 kAudioUnitProperty_InPlaceProcessing, kAudioUnitProperty_ShouldAllocateBuffer});
    ASSERT_EQ(unit.set(kAudioUnitProperty_BypassEffect, UInt32{5}), noErr);
    UInt32 bypass = 0;
    ASSERT_EQ(unit.get(kAudioUnitProperty_BypassEffect, bypass), noErr);
    EXPECT_EQ(bypass, 1u);
    ASSERT_EQ(unit.set(kAudioUnitProperty_LastRenderError, OSStatus{-10876}), noErr);
    EXPECT_EQ(unit.last_render_error(), -10876);
    ASSERT_EQ(unit.set(kAudioUnitProperty_InPlaceProcessing, UInt32{0}), noErr);
    ASSERT_EQ(unit.set(kAudioUnitProperty_ShouldAllocateBuffer, UInt32{0}, INPUT), noErr);
    UInt32 value = 0;
    ASSERT_EQ(unit.get(kAudioUnitProperty_InPlaceProcessing, value), noErr);
    EXPECT_EQ(value, 1u) << "accepted and ignored";
    using Calls = std::vector<std::pair<AudioUnitPropertyID, AudioUnitScope>>;
    EXPECT_EQ(heard.calls, (Calls{{kAudioUnitProperty_BypassEffect, GLOBAL},
                                  {kAudioUnitProperty_LastRenderError, GLOBAL},
                                  {kAudioUnitProperty_InPlaceProcessing, GLOBAL},
                                  {kAudioUnitProperty_ShouldAllocateBuffer, INPUT}}));
}

OSStatus some_input(void*, AudioUnitRenderActionFlags*, const AudioTimeStamp*, UInt32, UInt32,
                    AudioBufferList*) {
    return noErr;
}

TEST(AuProperties, AConnectionAndAnInputCallbackReplaceEachOther) {
    const Unit unit(test_effect(), EFFECT_DESC);
    const Unit upstream(test_effect(), EFFECT_DESC);
    Heard heard;
    heard.watch(unit, {kAudioUnitProperty_MakeConnection, kAudioUnitProperty_SetRenderCallback});
    AudioUnitConnection connection{reinterpret_cast<AudioUnit>(1), 5, 5};
    AURenderCallbackStruct callback{some_input, &heard};
    ASSERT_EQ(unit.get(kAudioUnitProperty_MakeConnection, connection, INPUT), noErr);
    EXPECT_EQ(connection.sourceAudioUnit, nullptr);
    EXPECT_EQ(connection.sourceOutputNumber, 0u);
    ASSERT_EQ(unit.get(kAudioUnitProperty_SetRenderCallback, callback, INPUT), noErr);
    EXPECT_EQ(callback.inputProc, nullptr);
    EXPECT_EQ(callback.inputProcRefCon, nullptr);

    ASSERT_EQ(unit.set_input(some_input, &heard), noErr);
    ASSERT_EQ(unit.connect(upstream.handle(), 3), noErr);
    ASSERT_EQ(unit.get(kAudioUnitProperty_MakeConnection, connection, INPUT), noErr);
    EXPECT_EQ(connection.sourceAudioUnit, upstream.handle());
    EXPECT_EQ(connection.sourceOutputNumber, 3u);
    EXPECT_EQ(connection.destInputNumber, 0u);
    ASSERT_EQ(unit.get(kAudioUnitProperty_SetRenderCallback, callback, INPUT), noErr);
    EXPECT_EQ(callback.inputProc, nullptr) << "the connection removed the callback";

    // A null callback is stored as none and keeps the connection.
    ASSERT_EQ(unit.set_input(nullptr, &heard), noErr);
    ASSERT_EQ(unit.get(kAudioUnitProperty_MakeConnection, connection, INPUT), noErr);
    EXPECT_EQ(connection.sourceAudioUnit, upstream.handle());
    ASSERT_EQ(unit.get(kAudioUnitProperty_SetRenderCallback, callback, INPUT), noErr);
    EXPECT_EQ(callback.inputProcRefCon, nullptr);

    ASSERT_EQ(unit.set_input(some_input, &heard), noErr);
    ASSERT_EQ(unit.get(kAudioUnitProperty_MakeConnection, connection, INPUT), noErr);
    EXPECT_EQ(connection.sourceAudioUnit, nullptr) << "the callback removed the connection";
    ASSERT_EQ(unit.get(kAudioUnitProperty_SetRenderCallback, callback, INPUT), noErr);
    EXPECT_EQ(callback.inputProc, some_input);
    EXPECT_EQ(callback.inputProcRefCon, &heard);

    // A null source is stored as none and keeps the callback.
    ASSERT_EQ(unit.connect(nullptr, 2), noErr);
    ASSERT_EQ(unit.get(kAudioUnitProperty_SetRenderCallback, callback, INPUT), noErr);
    EXPECT_EQ(callback.inputProc, some_input);
    EXPECT_EQ(heard.calls.size(), 5u);
    EXPECT_EQ(heard.calls.back().first, kAudioUnitProperty_MakeConnection);
    EXPECT_EQ(heard.calls.back().second, INPUT);
}

OSStatus musical_time(void*, UInt32*, Float32*, UInt32*, Float64*) {
    return noErr;
}
OSStatus transport(void*, Boolean*, Boolean*, Float64*, Boolean*, Float64*, Float64*) {
    return noErr;
}

TEST(AuProperties, HostCallbacksWithoutTempoOrTransportCountAsAbsent) {
    const Unit unit(test_effect(), EFFECT_DESC);
    int user = 0;
    HostCallbackInfo stored{};
    HostCallbackInfo only_musical_time{};
    only_musical_time.hostUserData = &user;
    only_musical_time.musicalTimeLocationProc = musical_time;
    ASSERT_EQ(unit.set(kAudioUnitProperty_HostCallbacks, only_musical_time), noErr);
    ASSERT_EQ(unit.get(kAudioUnitProperty_HostCallbacks, stored), noErr);
    EXPECT_EQ(stored.hostUserData, nullptr);
    EXPECT_EQ(stored.musicalTimeLocationProc, nullptr);

    HostCallbackInfo full = only_musical_time;
    full.transportStateProc = transport;
    ASSERT_EQ(unit.set(kAudioUnitProperty_HostCallbacks, full), noErr);
    ASSERT_EQ(unit.get(kAudioUnitProperty_HostCallbacks, stored), noErr);
    EXPECT_EQ(stored.hostUserData, &user);
    EXPECT_EQ(stored.musicalTimeLocationProc, musical_time);
    EXPECT_EQ(stored.transportStateProc, transport);
    EXPECT_EQ(stored.beatAndTempoProc, nullptr);
}

TEST(AuProperties, PresentPresetNamesWithoutLoading) {
    const Unit unit(test_effect(), EFFECT_DESC);
    Heard heard;
    heard.watch(unit, {kAudioUnitProperty_PresentPreset});
    ASSERT_EQ(unit.set_parameter(test_id::GAIN, -5.0f), noErr);
    const auto present = [&] {
        AUPreset preset{};
        EXPECT_EQ(unit.get(kAudioUnitProperty_PresentPreset, preset), noErr);
        EXPECT_EQ(CFGetRetainCount(preset.presetName), 1) << "the caller owns the name";
        std::pair<SInt32, std::string> result{preset.presetNumber, text_of(preset.presetName)};
        CFRelease(preset.presetName);
        return result;
    };

    ASSERT_EQ(unit.set(kAudioUnitProperty_PresentPreset, AUPreset{3, nullptr}), noErr);
    EXPECT_EQ(present(), std::make_pair(SInt32{3}, std::string("Untitled")));

    CFStringRef verse = make_string("Verse \xE2\x99\xAA");
    ASSERT_EQ(unit.set(kAudioUnitProperty_PresentPreset, AUPreset{-7, verse}), noErr);
    EXPECT_EQ(CFGetRetainCount(verse), 1) << "the host's string is only read";
    CFRelease(verse);
    EXPECT_EQ(present(), std::make_pair(SInt32{-7}, std::string("Verse \xE2\x99\xAA")));

    const SInt32 number = 4;
    CFNumberRef not_a_name = CFNumberCreate(nullptr, kCFNumberSInt32Type, &number);
    ASSERT_EQ(unit.set(kAudioUnitProperty_PresentPreset,
                       AUPreset{4, reinterpret_cast<CFStringRef>(not_a_name)}),
              noErr);
    CFRelease(not_a_name);
    EXPECT_EQ(present(), std::make_pair(SInt32{4}, std::string("Verse \xE2\x99\xAA")));
    EXPECT_EQ(unit.parameter(test_id::GAIN), -5.0f) << "no preset data was loaded";
    EXPECT_EQ(heard.calls.size(), 3u);
}

} // namespace
} // namespace velk::au_test
