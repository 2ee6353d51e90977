// Hosts that get things wrong: a null instance or argument, a wrong scope, element or
// size, buffer lists that do not fit, non-finite values, saved states of every size and
// calls in the wrong life-cycle state. Each is answered with its refusal status and
// changes nothing a host can see.

#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "units.hpp"

#include <gtest/gtest.h>

namespace velk::au_test {
namespace {

constexpr AudioUnitScope GLOBAL = kAudioUnitScope_Global;
constexpr AudioUnitScope INPUT = kAudioUnitScope_Input;
constexpr AudioUnitScope OUTPUT = kAudioUnitScope_Output;
constexpr float INF = std::numeric_limits<float>::infinity();

int heard = 0;
void count_listener(void*, AudioUnit, AudioUnitPropertyID, AudioUnitScope, AudioUnitElement) {
    ++heard;
}

OSStatus no_notify(void*, AudioUnitRenderActionFlags*, const AudioTimeStamp*, UInt32, UInt32,
                   AudioBufferList*) {
    return noErr;
}

/// The raw bytes of a plain property, for comparing before and after a refused call.
std::vector<std::uint8_t> bytes_of(const Unit& unit, AudioUnitPropertyID id, AudioUnitScope scope,
                                   UInt32 size) {
    std::vector<std::uint8_t> bytes(size);
    UInt32 asked = size;
    EXPECT_EQ(unit.get_property(id, scope, 0, bytes.data(), &asked), noErr) << "property " << id;
    return bytes;
}

TEST(AuMisbehaviour, ANullInstanceIsRefusedByEveryEntryPoint) {
    const Unit unit(probe_instrument(), INSTRUMENT_DESC);
    const auto at = [&](SInt16 selector) { return unit.iface()->Lookup(selector); };
    UInt32 size = 4;
    UInt32 value = 0;
    Boolean writable = 0;
    float parameter = 0.0f;
    const AudioUnitParameterEvent event = immediate(0, 1.0f);
    Buffers buffers(2, 16);
    const UInt8 sysex_bytes[] = {0xF0, 0xF7};
    const std::function<OSStatus()> calls[] = {
        [&] { return unit.iface()->Open(nullptr, unit.handle()); },
        [&] { return reinterpret_cast<AudioUnitInitializeProc>(at(1))(nullptr); },
        [&] { return reinterpret_cast<AudioUnitUninitializeProc>(at(2))(nullptr); },
        [&] {
            return reinterpret_cast<AudioUnitGetPropertyInfoProc>(at(3))(
                nullptr, kAudioUnitProperty_BypassEffect, GLOBAL, 0, &size, &writable);
        },
        [&] {
            return reinterpret_cast<AudioUnitGetPropertyProc>(at(4))(
                nullptr, kAudioUnitProperty_BypassEffect, GLOBAL, 0, &value, &size);
        },
        [&] {
            return reinterpret_cast<AudioUnitSetPropertyProc>(at(5))(
                nullptr, kAudioUnitProperty_BypassEffect, GLOBAL, 0, &value, size);
        },
        [&] {
            return reinterpret_cast<AudioUnitGetParameterProc>(at(6))(nullptr, 0, GLOBAL, 0,
                                                                      &parameter);
        },
        [&] {
            return reinterpret_cast<AudioUnitSetParameterProc>(at(7))(nullptr, 0, GLOBAL, 0, 1.0f,
                                                                      0);
        },
        [&] { return reinterpret_cast<AudioUnitResetProc>(at(9))(nullptr, GLOBAL, 0); },
        [&] {
            return reinterpret_cast<AudioUnitAddPropertyListenerProc>(at(10))(
                nullptr, kAudioUnitProperty_BypassEffect, count_listener, nullptr);
        },
        [&] {
            return reinterpret_cast<AudioUnitRemovePropertyListenerProc>(at(11))(
                nullptr, kAudioUnitProperty_BypassEffect, count_listener);
        },
        [&] {
            return reinterpret_cast<AudioUnitRenderProc>(at(14))(nullptr, nullptr, nullptr, 0, 16,
                                                                 buffers.list());
        },
        [&] {
            return reinterpret_cast<AudioUnitAddRenderNotifyProc>(at(15))(nullptr, no_notify,
                                                                         nullptr);
        },
        [&] {
            return reinterpret_cast<AudioUnitRemoveRenderNotifyProc>(at(16))(nullptr, no_notify,
                                                                            nullptr);
        },
        [&] {
            return reinterpret_cast<AudioUnitScheduleParametersProc>(at(17))(nullptr, &event, 1);
        },
        [&] {
            return reinterpret_cast<AudioUnitRemovePropertyListenerWithUserDataProc>(at(18))(
                nullptr, kAudioUnitProperty_BypassEffect, count_listener, nullptr);
        },
        [&] { return reinterpret_cast<MusicDeviceMIDIEventProc>(at(257))(nullptr, 0x90, 60, 1, 0); },
        [&] {
            return reinterpret_cast<MusicDeviceSysExProc>(at(258))(nullptr, sysex_bytes,
                                                                   sizeof sysex_bytes);
        },
    };
    for (std::size_t i = 0; i < std::size(calls); ++i)
        EXPECT_EQ(calls[i](), kAudio_ParamError) << "call " << i;
    EXPECT_EQ(unit.iface()->Close(nullptr), noErr);
    EXPECT_EQ(unit.initialize(), noErr) << "the real instance is untouched";
}

TEST(AuMisbehaviour, NullCallbacksAndBuffersAreRefusedOrHarmless) {
    TestEffect fx;
    const Unit& unit = fx.unit;
    struct Case {
        const char* name;
        std::function<OSStatus()> call;
        OSStatus status;
    };
    const Case cases[] = {
        {"add a null notification", [&] { return unit.add_notify(nullptr, &fx); },
         kAudio_ParamError},
        {"remove a null notification", [&] { return unit.remove_notify(nullptr, nullptr); }, noErr},
        {"remove a null listener",
         [&] { return unit.remove_listener(kAudioUnitProperty_BypassEffect, nullptr); }, noErr},
        {"remove a null listener with user data",
         [&] { return unit.remove_listener(kAudioUnitProperty_BypassEffect, nullptr, nullptr); },
         noErr},
        {"system exclusive without data on an effect", [&] { return unit.sysex(nullptr, 10); },
         kAudioUnitErr_InvalidProperty},
        {"get into a null buffer with a null size",
         [&] {
             return unit.get_property(kAudioUnitProperty_Latency, GLOBAL, 0, nullptr, nullptr);
         },
         kAudio_ParamError},
        {"set a writable property from null data",
         [&] { return unit.set_property(kAudioUnitProperty_BypassEffect, GLOBAL, 0, nullptr, 4); },
         kAudioUnitErr_InvalidPropertyValue},
        {"set a preset from null data",
         [&] { return unit.set_property(kAudioUnitProperty_ClassInfo, GLOBAL, 0, nullptr, 8); },
         kAudioUnitErr_InvalidPropertyValue},
    };
    ASSERT_EQ(unit.add_listener(kAudioUnitProperty_BypassEffect, count_listener, nullptr), noErr);
    heard = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.call(), c.status);
    }
    EXPECT_EQ(heard, 0);
    // Every listener and the input survived: a render still pulls, a set still notifies.
    Buffers buffers(2, 32);
    EXPECT_EQ(unit.render(buffers.list(), 32), noErr) << "null flags and time stamp are fine";
    EXPECT_EQ(fx.source.calls, 1);
    EXPECT_EQ(unit.set(kAudioUnitProperty_BypassEffect, UInt32{0}), noErr);
    EXPECT_EQ(heard, 1);
}

/// The writable properties with a value the unit would take at the right size.
struct Writable {
    AudioUnitPropertyID id;
    AudioUnitScope scope;
    UInt32 size;
    std::function<void(std::uint8_t*)> value;
};

std::vector<Writable> writable_properties(Source& source) {
    return {
        {kAudioUnitProperty_SampleRate, OUTPUT, 8,
         [](std::uint8_t* d) {
             const Float64 rate = 48000.0;
             std::memcpy(d, &rate, sizeof rate);
         }},
        {kAudioUnitProperty_StreamFormat, OUTPUT, 40,
         [](std::uint8_t* d) {
             AudioStreamBasicDescription f{48000.0, kAudioFormatLinearPCM, 0x29, 4, 1, 4, 3, 32, 0};
             std::memcpy(d, &f, sizeof f);
         }},
        {kAudioUnitProperty_MaximumFramesPerSlice, GLOBAL, 4,
         [](std::uint8_t* d) {
             const UInt32 frames = 4096;
             std::memcpy(d, &frames, sizeof frames);
         }},
        {kAudioUnitProperty_BypassEffect, GLOBAL, 4, [](std::uint8_t* d) { d[0] = 1; }},
        {kAudioUnitProperty_LastRenderError, GLOBAL, 4, [](std::uint8_t* d) { d[0] = 7; }},
        {kAudioUnitProperty_SetRenderCallback, INPUT, 16,
         [&source](std::uint8_t* d) {
             const AURenderCallbackStruct r{Source::render, &source};
             std::memcpy(d, &r, sizeof r);
         }},
        {kAudioUnitProperty_MakeConnection, INPUT, 16,
         [](std::uint8_t* d) {
             const AudioUnitConnection c{reinterpret_cast<AudioUnit>(d), 1, 0};
             std::memcpy(d, &c, sizeof c);
         }},
        {kAudioUnitProperty_HostCallbacks, GLOBAL, 40,
         [](std::uint8_t* d) {
             HostCallbackInfo h{};
             h.beatAndTempoProc = [](void*, Float64*, Float64*) -> OSStatus { return noErr; };
             std::memcpy(d, &h, sizeof h);
         }},
        {kAudioUnitProperty_InPlaceProcessing, GLOBAL, 4, [](std::uint8_t*) {}},
        {kAudioUnitProperty_ShouldAllocateBuffer, OUTPUT, 4, [](std::uint8_t*) {}},
        {kAudioUnitProperty_PresentPreset, GLOBAL, 16,
         [](std::uint8_t* d) {
             const AUPreset p{42, CFSTR("Renamed")};
             std::memcpy(d, &p, sizeof p);
         }},
    };
}

TEST(AuMisbehaviour, WritesOfTheWrongSizeAreRefusedAndChangeNothing) {
    const Unit unit(test_effect(), EFFECT_DESC);
    Source source;
    for (const Writable& w : writable_properties(source)) {
        SCOPED_TRACE(testing::Message() << "property " << w.id);
        ASSERT_EQ(unit.add_listener(w.id, count_listener, nullptr), noErr);
        heard = 0;
        // The preset's bytes hold a new string; it is compared by its number and name.
        const bool preset_record = w.id == kAudioUnitProperty_PresentPreset;
        const std::vector<std::uint8_t> before =
            preset_record ? std::vector<std::uint8_t>{} : bytes_of(unit, w.id, w.scope, w.size);
        AUPreset preset{};
        ASSERT_EQ(unit.get(kAudioUnitProperty_PresentPreset, preset), noErr);
        const std::string name = text_of(preset.presetName);
        CFRelease(preset.presetName);
        alignas(8) std::uint8_t data[64] = {};
        w.value(data);
        for (const UInt32 size : {w.size - 1, w.size + 1, 0u, 1u, 64u, 0xFFFFFFFFu}) {
            EXPECT_EQ(unit.set_property(w.id, w.scope, 0, data, size),
                      kAudioUnitErr_InvalidPropertyValue)
                << "size " << size;
        }
        EXPECT_EQ(heard, 0);
        if (!preset_record) {
            EXPECT_EQ(bytes_of(unit, w.id, w.scope, w.size), before);
        } else {
            ASSERT_EQ(unit.get(kAudioUnitProperty_PresentPreset, preset), noErr);
            EXPECT_EQ(preset.presetNumber, -1);
            EXPECT_EQ(text_of(preset.presetName), name);
            CFRelease(preset.presetName);
        }
        // The same value at the right size is taken.
        if (w.id != kAudioUnitProperty_MakeConnection) {
            EXPECT_EQ(unit.set_property(w.id, w.scope, 0, data, w.size), noErr);
            EXPECT_GE(heard, 1);
        }
        ASSERT_EQ(unit.remove_listener(w.id, count_listener), noErr);
    }
}

TEST(AuMisbehaviour, ReadsIntoABufferOneByteShortAreRefusedAndLeaveItAlone) {
    const Unit unit(test_effect(), EFFECT_DESC);
    struct Case {
        AudioUnitPropertyID id;
        AudioUnitScope scope;
        AudioUnitElement element;
        UInt32 size;
    };
    const Case cases[] = {
        {kAudioUnitProperty_ClassInfo, GLOBAL, 0, 8},
        {kAudioUnitProperty_MakeConnection, INPUT, 0, 16},
        {kAudioUnitProperty_SampleRate, INPUT, 0, 8},
        {kAudioUnitProperty_ParameterList, GLOBAL, 0, 32},
        {kAudioUnitProperty_ParameterInfo, GLOBAL, test_id::GAIN, 104},
        {kAudioUnitProperty_ElementCount, OUTPUT, 0, 4},
        {kAudioUnitProperty_Latency, GLOBAL, 0, 8},
        {kAudioUnitProperty_SupportedNumChannels, GLOBAL, 0, 4},
        {kAudioUnitProperty_MaximumFramesPerSlice, GLOBAL, 0, 4},
        {kAudioUnitProperty_ParameterValueStrings, GLOBAL, test_id::MODE, 8},
        {kAudioUnitProperty_TailTime, GLOBAL, 0, 8},
        {kAudioUnitProperty_BypassEffect, GLOBAL, 0, 4},
        {kAudioUnitProperty_LastRenderError, GLOBAL, 0, 4},
        {kAudioUnitProperty_SetRenderCallback, INPUT, 0, 16},
        {kAudioUnitProperty_HostCallbacks, GLOBAL, 0, 40},
        {kAudioUnitProperty_InPlaceProcessing, GLOBAL, 0, 4},
        {kAudioUnitProperty_ParameterStringFromValue, GLOBAL, 0, 24},
        {kAudioUnitProperty_ParameterIDName, GLOBAL, 0, 16},
        {kAudioUnitProperty_PresentPreset, GLOBAL, 0, 16},
        {kAudioUnitProperty_ParameterValueFromString, GLOBAL, 0, 24},
        {kAudioUnitProperty_ShouldAllocateBuffer, INPUT, 0, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "property " << c.id);
        // Exactly one byte short, so that the sanitizer sees any write past it.
        std::vector<std::uint8_t> buffer(c.size - 1, 0xA5);
        UInt32 size = c.size - 1;
        EXPECT_EQ(unit.get_property(c.id, c.scope, c.element, buffer.data(), &size),
                  kAudioUnitErr_InvalidPropertyValue);
        EXPECT_EQ(size, c.size - 1);
        EXPECT_EQ(buffer, std::vector<std::uint8_t>(c.size - 1, 0xA5));
        size = 0;
        EXPECT_EQ(unit.get_property(c.id, c.scope, c.element, buffer.data(), &size),
                  kAudioUnitErr_InvalidPropertyValue);
    }
}

TEST(AuMisbehaviour, WrongScopesAndElementsAreRefusedByAllThreePropertyCalls) {
    const Unit unit(test_effect(), EFFECT_DESC);
    struct Case {
        AudioUnitPropertyID id;
        AudioUnitScope good_scope;
        bool element_zero_only;
    };
    const Case cases[] = {
        {kAudioUnitProperty_ClassInfo, GLOBAL, true},
        {kAudioUnitProperty_MakeConnection, INPUT, true},
        {kAudioUnitProperty_SampleRate, OUTPUT, true},
        {kAudioUnitProperty_ParameterList, GLOBAL, false},
        {kAudioUnitProperty_StreamFormat, INPUT, true},
        {kAudioUnitProperty_ElementCount, GLOBAL, false},
        {kAudioUnitProperty_Latency, GLOBAL, true},
        {kAudioUnitProperty_SupportedNumChannels, GLOBAL, true},
        {kAudioUnitProperty_MaximumFramesPerSlice, GLOBAL, true},
        {kAudioUnitProperty_TailTime, GLOBAL, true},
        {kAudioUnitProperty_BypassEffect, GLOBAL, true},
        {kAudioUnitProperty_LastRenderError, GLOBAL, true},
        {kAudioUnitProperty_SetRenderCallback, INPUT, true},
        {kAudioUnitProperty_HostCallbacks, GLOBAL, true},
        {kAudioUnitProperty_InPlaceProcessing, GLOBAL, true},
        {kAudioUnitProperty_ParameterStringFromValue, GLOBAL, true},
        {kAudioUnitProperty_ParameterIDName, GLOBAL, true},
        {kAudioUnitProperty_PresentPreset, GLOBAL, true},
        {kAudioUnitProperty_ParameterValueFromString, GLOBAL, true},
        {kAudioUnitProperty_ShouldAllocateBuffer, OUTPUT, true},
    };
    const auto all_three = [&](AudioUnitPropertyID id, AudioUnitScope scope,
                               AudioUnitElement element, OSStatus expected) {
        UInt32 size = 77;
        Boolean writable = 3;
        EXPECT_EQ(unit.property_info(id, scope, element, &size, &writable), expected);
        EXPECT_EQ(size, 77u);
        EXPECT_EQ(writable, 3);
        alignas(8) std::uint8_t data[128] = {};
        UInt32 asked = sizeof data;
        EXPECT_EQ(unit.get_property(id, scope, element, data, &asked), expected);
        EXPECT_EQ(asked, sizeof data);
        EXPECT_EQ(unit.set_property(id, scope, element, data, 4), expected);
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "property " << c.id);
        for (const AudioUnitScope scope : {3u, 4u, 0xFFFFFFFFu})
            all_three(c.id, scope, 0, kAudioUnitErr_InvalidScope);
        if (c.element_zero_only) {
            for (const AudioUnitElement element : {1u, 128u, 0xFFFFFFFFu})
                all_three(c.id, c.good_scope, element, kAudioUnitErr_InvalidElement);
            // A wrong scope wins over a wrong element.
            all_three(c.id, 3, 1, kAudioUnitErr_InvalidScope);
        }
    }
    // The parameter properties take the parameter id in the element.
    for (const AudioUnitElement id : {test_id::GAIN + 1, 7u * 128, 0xFFFFFFFFu}) {
        all_three(kAudioUnitProperty_ParameterInfo, GLOBAL, id, kAudioUnitErr_InvalidParameter);
        all_three(kAudioUnitProperty_ParameterValueStrings, GLOBAL, id,
                  kAudioUnitErr_InvalidParameter);
    }
    all_three(kAudioUnitProperty_ParameterValueStrings, GLOBAL, test_id::GAIN,
              kAudioUnitErr_InvalidProperty);
}

TEST(AuMisbehaviour, RenderRefusesBufferListsAndBlocksThatDoNotFit) {
    struct Case {
        const char* name;
        UInt32 buffers;
        UInt32 frames;
        UInt32 bus;
        OSStatus status;
        bool kept; ///< stored as the last render error
    };
    const Case cases[] = {
        {"no buffers", 0, 64, 0, kAudioUnitErr_FormatNotSupported, true},
        {"one buffer too many", 3, 64, 0, kAudioUnitErr_FormatNotSupported, true},
        {"65 buffers", 65, 64, 0, kAudioUnitErr_FormatNotSupported, true},
        {"the largest frame count", 2, 0xFFFFFFFFu, 0, kAudioUnitErr_TooManyFramesToProcess,
         false},
        {"the largest bus", 2, 64, 0xFFFFFFFFu, kAudioUnitErr_InvalidElement, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestEffect fx;
        ASSERT_EQ(fx.unit.add_notify(no_notify, nullptr), noErr);
        // Audio for at most 64 frames: a refused block must not touch it.
        Buffers buffers(c.buffers, 64, 0.125f);
        EXPECT_EQ(fx.unit.render(buffers.list(), c.frames, nullptr, nullptr, c.bus), c.status);
        EXPECT_EQ(fx.unit.last_render_error(), c.kept ? c.status : OSStatus{noErr});
        EXPECT_EQ(fx.source.calls, 0);
        for (UInt32 ch = 0; ch < c.buffers; ++ch) {
            EXPECT_EQ(buffers.buffer(ch).mData, buffers.audio(ch).data());
            EXPECT_EQ(buffers.buffer(ch).mDataByteSize, 64u * 4);
            EXPECT_EQ(buffers.audio(ch), std::vector<float>(64, 0.125f));
        }
        Buffers good(2, 64);
        EXPECT_EQ(fx.unit.render(good.list(), 64), noErr) << "the unit still renders";
    }
}

TEST(AuMisbehaviour, NonFiniteValuesAreRefusedAndNeverReachTheParameters) {
    TestEffect fx;
    const Unit& unit = fx.unit;
    ASSERT_EQ(unit.set_parameter(test_id::GAIN, -6.0f), noErr);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case {
        const char* name;
        std::function<OSStatus()> call;
    };
    const Case cases[] = {
        {"set +inf", [&] { return unit.set_parameter(test_id::GAIN, INF); }},
        {"set a channel to NaN", [&] { return unit.set_parameter(test_id::LEVEL + 1, nan); }},
        {"schedule +inf",
         [&] {
             const AudioUnitParameterEvent e[] = {immediate(test_id::GAIN, INF)};
             return unit.schedule(e);
         }},
        {"schedule -inf",
         [&] {
             const AudioUnitParameterEvent e[] = {immediate(test_id::GAIN, -INF)};
             return unit.schedule(e);
         }},
        {"ramp to NaN",
         [&] {
             const AudioUnitParameterEvent e[] = {ramped(test_id::GAIN, -3.0f, nan, 64)};
             return unit.schedule(e);
         }},
        {"ramp to +inf",
         [&] {
             const AudioUnitParameterEvent e[] = {ramped(test_id::GAIN, -3.0f, INF, 64)};
             return unit.schedule(e);
         }},
    };
    Buffers buffers(2, 64);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.call(), kAudioUnitErr_InvalidParameter);
        ASSERT_EQ(unit.render(buffers.list(), 64), noErr);
        EXPECT_EQ(unit.parameter(test_id::GAIN), -6.0f);
        EXPECT_EQ(unit.parameter(test_id::LEVEL + 1), 1.0f);
    }
    // Only the end of a ramp counts: a non-finite start is ignored.
    const AudioUnitParameterEvent start[] = {ramped(test_id::GAIN, nan, -9.0f, 64)};
    EXPECT_EQ(unit.schedule(start), noErr);
    ASSERT_EQ(unit.render(buffers.list(), 64), noErr);
    EXPECT_EQ(unit.parameter(test_id::GAIN), -9.0f);
}

/// Sets a preset whose "data" is `state` and identity is the unit's own.
OSStatus restore(const Unit& unit, const std::vector<std::uint8_t>& state) {
    CFPropertyListRef info = nullptr;
    EXPECT_EQ(unit.get(kAudioUnitProperty_ClassInfo, info), noErr);
    CFMutableDictionaryRef preset = CFDictionaryCreateMutable(
        nullptr, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
    for (const char* key : {"type", "subtype", "manufacturer"}) {
        CFStringRef k = make_string(key);
        CFDictionarySetValue(preset, k, CFDictionaryGetValue(static_cast<CFDictionaryRef>(info), k));
        CFRelease(k);
    }
    CFDataRef data = CFDataCreate(nullptr, state.data(), static_cast<CFIndex>(state.size()));
    CFDictionarySetValue(preset, CFSTR("data"), data);
    CFRelease(data);
    const OSStatus status = unit.set(kAudioUnitProperty_ClassInfo, CFPropertyListRef{preset});
    CFRelease(preset);
    CFRelease(info);
    return status;
}

std::vector<std::uint8_t> saved_state(const Unit& unit) {
    CFPropertyListRef info = nullptr;
    EXPECT_EQ(unit.get(kAudioUnitProperty_ClassInfo, info), noErr);
    const auto data = static_cast<CFDataRef>(
        CFDictionaryGetValue(static_cast<CFDictionaryRef>(info), CFSTR("data")));
    const UInt8* at = CFDataGetBytePtr(data);
    std::vector<std::uint8_t> bytes(at, at + CFDataGetLength(data));
    CFRelease(info);
    return bytes;
}

void put_word(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t word) {
    for (int i = 0; i < 4; ++i)
        bytes[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(word >> (8 * i));
}

TEST(AuMisbehaviour, StatesOfEverySizeInClassInfo) {
    const Unit from(test_effect(), EFFECT_DESC);
    ASSERT_EQ(from.set_parameter(test_id::GAIN, -12.0f), noErr);
    const std::vector<std::uint8_t> good = saved_state(from);
    ASSERT_GT(good.size(), 16u);

    std::vector<std::uint8_t> header_only(good.begin(), good.begin() + 12);
    put_word(header_only, 8, 0);
    std::vector<std::uint8_t> trailing = good;
    trailing.resize(good.size() + (1u << 20), 0xEE);
    std::vector<std::uint8_t> extra_record = good;
    put_word(extra_record, 8, good[8] + 1u);
    extra_record.insert(extra_record.end(), {1, 0, 0, 0, 0, 0, 0x80, 0x3F});
    std::vector<std::uint8_t> announces_more = good;
    put_word(announces_more, 8, 1000);
    std::vector<std::uint8_t> huge_cells = good;
    put_word(huge_cells, 12, 0x40000000u);

    struct Case {
        const char* name;
        std::vector<std::uint8_t> state;
        OSStatus status;
        float gain; // afterwards; the unit starts at 0
    };
    const Case cases[] = {
        {"empty", {}, kAudioUnitErr_InvalidPropertyValue, 0.0f},
        {"one byte", {'V'}, kAudioUnitErr_InvalidPropertyValue, 0.0f},
        {"eleven bytes", {good.begin(), good.begin() + 11}, kAudioUnitErr_InvalidPropertyValue,
         0.0f},
        {"a header of no records", header_only, noErr, 0.0f},
        {"cut inside the first value", {good.begin(), good.begin() + 18},
         kAudioUnitErr_InvalidPropertyValue, 0.0f},
        {"cut one byte short", {good.begin(), good.end() - 1}, kAudioUnitErr_InvalidPropertyValue,
         0.0f},
        {"more records announced than given", announces_more, kAudioUnitErr_InvalidPropertyValue,
         0.0f},
        {"a cell count past the end", huge_cells, kAudioUnitErr_InvalidPropertyValue, 0.0f},
        {"a megabyte after the records", trailing, noErr, -12.0f},
        {"a record past the table", extra_record, noErr, -12.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Unit to(test_effect(), EFFECT_DESC);
        heard = 0;
        ASSERT_EQ(to.add_listener(kAudioUnitProperty_ClassInfo, count_listener, nullptr), noErr);
        const std::vector<std::uint8_t> before = saved_state(to);
        EXPECT_EQ(restore(to, c.state), c.status);
        EXPECT_EQ(to.parameter(test_id::GAIN), c.gain);
        EXPECT_EQ(heard, c.status == noErr ? 1 : 0);
        if (c.status != noErr) {
            EXPECT_EQ(saved_state(to), before);
        }
    }
}

TEST(AuMisbehaviour, CallsInTheWrongLifeCycleState) {
    struct Case {
        const char* name;
        std::function<void(TestEffect&)> arrange;
        bool initialized; ///< afterwards
    };
    const Case cases[] = {
        {"uninitialized", [](TestEffect& fx) { EXPECT_EQ(fx.unit.uninitialize(), noErr); }, false},
        {"uninitialized twice",
         [](TestEffect& fx) {
             EXPECT_EQ(fx.unit.uninitialize(), noErr);
             EXPECT_EQ(fx.unit.uninitialize(), noErr);
         },
         false},
        {"reset while uninitialized",
         [](TestEffect& fx) {
             EXPECT_EQ(fx.unit.uninitialize(), noErr);
             EXPECT_EQ(fx.unit.reset(), noErr);
         },
         false},
        {"a failed initialize",
         [](TestEffect& fx) {
             EXPECT_EQ(fx.unit.uninitialize(), noErr);
             EXPECT_EQ(fx.unit.set_format(OUTPUT, 3), noErr);
             EXPECT_EQ(fx.unit.initialize(), kAudioUnitErr_FormatNotSupported);
         },
         false},
        {"initialized twice", [](TestEffect& fx) { EXPECT_EQ(fx.unit.initialize(), noErr); }, true},
        {"reset while initialized", [](TestEffect& fx) { EXPECT_EQ(fx.unit.reset(), noErr); },
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestEffect fx;
        c.arrange(fx);
        AudioStreamBasicDescription format{};
        ASSERT_EQ(fx.unit.get(kAudioUnitProperty_StreamFormat, format, OUTPUT), noErr);
        Buffers buffers(format.mChannelsPerFrame, 64);
        EXPECT_EQ(fx.unit.render(buffers.list(), 64),
                  c.initialized ? OSStatus{noErr} : OSStatus{kAudioUnitErr_Uninitialized});
        EXPECT_EQ(fx.unit.last_render_error(), noErr);
        EXPECT_EQ(fx.source.calls, c.initialized ? 1 : 0);
        // Configuration is refused exactly while initialized, and changes nothing then.
        const OSStatus config = c.initialized ? OSStatus{kAudioUnitErr_Initialized} : OSStatus{noErr};
        EXPECT_EQ(fx.unit.set(kAudioUnitProperty_MaximumFramesPerSlice, UInt32{4096}), config);
        EXPECT_EQ(fx.unit.set(kAudioUnitProperty_SampleRate, Float64{48000.0}, OUTPUT), config);
        UInt32 frames = 0;
        ASSERT_EQ(fx.unit.get(kAudioUnitProperty_MaximumFramesPerSlice, frames), noErr);
        EXPECT_EQ(frames, c.initialized ? 1156u : 4096u);
    }

    // Initialized again after the changes, the unit renders with the new maximum.
    TestEffect fx;
    ASSERT_EQ(fx.unit.uninitialize(), noErr);
    ASSERT_EQ(fx.unit.set(kAudioUnitProperty_MaximumFramesPerSlice, UInt32{4096}), noErr);
    ASSERT_EQ(fx.unit.initialize(), noErr);
    Buffers big(2, 4096);
    big.detach(); // lent the unit's scratch buffers, which must have grown
    EXPECT_EQ(fx.unit.render(big.list(), 4096), noErr);
    EXPECT_EQ(fx.unit.render(big.list(), 4097), kAudioUnitErr_TooManyFramesToProcess);
}

} // namespace
} // namespace velk::au_test
