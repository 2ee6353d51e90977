// Parameters seen from a host: get, set and schedule with their refusals, property
// listeners, and the descriptions and texts of the parameter properties.

#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "units.hpp"

#include <gtest/gtest.h>

namespace velk::au_test {
namespace {

TEST(AuParameters, AddressesAreCheckedInOrder) {
    const Unit unit(test_effect(), EFFECT_DESC);
    float value = 0.0f;
    EXPECT_EQ(unit.get_parameter(test_id::GAIN, &value, kAudioUnitScope_Input),
              kAudioUnitErr_InvalidScope);
    EXPECT_EQ(unit.get_parameter(test_id::GAIN, &value, kAudioUnitScope_Global, 1),
              kAudioUnitErr_InvalidElement);
    EXPECT_EQ(unit.get_parameter(999, &value, kAudioUnitScope_Input), kAudioUnitErr_InvalidScope);
    EXPECT_EQ(unit.get_parameter(999, &value), kAudioUnitErr_InvalidParameter);
    EXPECT_EQ(unit.get_parameter(test_id::GAIN, nullptr), kAudio_ParamError);
    EXPECT_EQ(unit.set_parameter(test_id::GAIN, 1.0f, kAudioUnitScope_Output),
              kAudioUnitErr_InvalidScope);
    EXPECT_EQ(unit.set_parameter(test_id::GAIN, 1.0f, kAudioUnitScope_Global, 2),
              kAudioUnitErr_InvalidElement);
    EXPECT_EQ(unit.set_parameter(test_id::GAIN + 1, 1.0f), kAudioUnitErr_InvalidParameter);
    EXPECT_EQ(unit.parameter(test_id::GAIN), 0.0f) << "refused writes change nothing";
}

TEST(AuParameters, SetSanitisesAndRefusesWhatItCannotStore) {
    const Unit unit(test_effect(), EFFECT_DESC);
    struct Case {
        AudioUnitParameterID id;
        float written;
        OSStatus status;
        float stored;
    };
    const float inf = std::numeric_limits<float>::infinity();
    const Case cases[] = {
        {test_id::GAIN, 30.0f, noErr, 12.0f}, // clamped to the range
        {test_id::GAIN, -7.5f, noErr, -7.5f},
        {test_id::GAIN, std::nanf(""), kAudioUnitErr_InvalidParameter, -7.5f},
        {test_id::GAIN, -inf, kAudioUnitErr_InvalidParameter, -7.5f},
        {test_id::MODE, 1.5f, noErr, 2.0f}, // a choice rounds halves away from zero
        {test_id::BYPASS, 0.49f, noErr, 0.0f},
        {test_id::PEAK, 1.0f, kAudioUnitErr_InvalidParameter, 0.0f}, // meters are read-only
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.id << " <- " << c.written);
        EXPECT_EQ(unit.set_parameter(c.id, c.written), c.status);
        EXPECT_EQ(unit.parameter(c.id), c.stored);
    }

    // One channel of a per-channel parameter is written alone.
    EXPECT_EQ(unit.set_parameter(test_id::LEVEL + 1, 0.25f), noErr);
    EXPECT_EQ(unit.parameter(test_id::LEVEL), 1.0f);
    EXPECT_EQ(unit.parameter(test_id::LEVEL + 1), 0.25f);
}

TEST(AuParameters, MetersReadTheirCurrentReading) {
    TestEffect fx;
    fx.source.level = {0.75f};
    Buffers buffers(2, 64);
    ASSERT_EQ(fx.unit.render(buffers.list(), 64), noErr);
    EXPECT_EQ(fx.unit.parameter(test_id::PEAK), 0.75f);
}

TEST(AuParameters, ScheduledChangesWaitForTheNextRenderAndApplyInOrder) {
    TestEffect fx;
    Buffers buffers(2, 64);
    const AudioUnitParameterEvent ramp = ramped(test_id::GAIN, -10.0f, -20.0f, 512, 16);
    ASSERT_EQ(fx.unit.schedule({&ramp, 1}), noErr);
    EXPECT_EQ(fx.unit.parameter(test_id::GAIN), 0.0f) << "nothing before the render";
    ASSERT_EQ(fx.unit.render(buffers.list(), 64), noErr);
    EXPECT_EQ(fx.unit.parameter(test_id::GAIN), -20.0f) << "a ramp jumps to its end value";
    // The whole block already had the end value: offsets and ramps are not honoured.
    EXPECT_FLOAT_EQ(buffers.out(0, 64)[0], 0.5f * std::exp(-20.0f * 0.11512925f));

    // Two calls for one parameter before a render: both apply, in order.
    const AudioUnitParameterEvent first = immediate(test_id::GAIN, -3.0f);
    const AudioUnitParameterEvent second = immediate(test_id::GAIN, -9.0f);
    ASSERT_EQ(fx.unit.schedule({&first, 1}), noErr);
    ASSERT_EQ(fx.unit.schedule({&second, 1}), noErr);
    ASSERT_EQ(fx.unit.render(buffers.list(), 64), noErr);
    EXPECT_EQ(fx.unit.parameter(test_id::GAIN), -9.0f);

    // A channel id changes that channel; scheduled values are sanitised when applied.
    const AudioUnitParameterEvent channel = immediate(test_id::LEVEL + 1, 4.0f);
    ASSERT_EQ(fx.unit.schedule({&channel, 1}), noErr);
    ASSERT_EQ(fx.unit.render(buffers.list(), 64), noErr);
    EXPECT_EQ(fx.unit.parameter(test_id::LEVEL), 1.0f);
    EXPECT_EQ(fx.unit.parameter(test_id::LEVEL + 1), 1.0f);
}

TEST(AuParameters, ScheduleStopsAtTheFirstRefusedEvent) {
    TestEffect fx;
    Buffers buffers(2, 32);
    AudioUnitParameterEvent unknown_type = immediate(test_id::GAIN, -1.0f);
    unknown_type.eventType = static_cast<decltype(unknown_type.eventType)>(3);
    struct Case {
        const char* name;
        AudioUnitParameterEvent bad;
        OSStatus status;
    };
    const Case cases[] = {
        {"event type 3", unknown_type, kAudioUnitErr_InvalidPropertyValue},
        {"input scope", immediate(test_id::GAIN, -1.0f, kAudioUnitScope_Input),
         kAudioUnitErr_InvalidScope},
        {"element 1", immediate(test_id::GAIN, -1.0f, kAudioUnitScope_Global, 1),
         kAudioUnitErr_InvalidElement},
        {"invalid id", immediate(test_id::GAIN + 1, -1.0f), kAudioUnitErr_InvalidParameter},
        {"not finite", immediate(test_id::GAIN, std::nanf("")), kAudioUnitErr_InvalidParameter},
        {"infinite ramp end", ramped(test_id::GAIN, 0.0f, INFINITY, 8),
         kAudioUnitErr_InvalidParameter},
    };
    float step = 0.0f;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        step -= 1.0f;
        const AudioUnitParameterEvent events[] = {immediate(test_id::MODE, 2.0f),
                                                  immediate(test_id::TAIL, -step), c.bad,
                                                  immediate(test_id::MODE, 1.0f)};
        ASSERT_EQ(fx.unit.set_parameter(test_id::MODE, 0.0f), noErr);
        EXPECT_EQ(fx.unit.schedule(events), c.status);
        ASSERT_EQ(fx.unit.render(buffers.list(), 32), noErr);
        EXPECT_EQ(fx.unit.parameter(test_id::MODE), 2.0f) << "the events before stay queued";
        EXPECT_EQ(fx.unit.parameter(test_id::TAIL), -step);
        EXPECT_EQ(fx.unit.parameter(test_id::GAIN), 0.0f);
    }
    EXPECT_EQ(fx.unit.schedule({static_cast<const AudioUnitParameterEvent*>(nullptr), 1}),
              kAudio_ParamError);
    EXPECT_EQ(fx.unit.schedule({static_cast<const AudioUnitParameterEvent*>(nullptr), 0}), noErr);
}

TEST(AuParameters, AScheduledMeterChangeIsAcceptedAndDropped) {
    const Unit unit(probe_effect(), EFFECT_DESC);
    Source source;
    ASSERT_EQ(unit.set_input(Source::render, &source), noErr);
    ASSERT_EQ(unit.initialize(), noErr);
    const AudioUnitParameterEvent change = immediate(probe_id::PREPARES, 500.0f);
    EXPECT_EQ(unit.schedule({&change, 1}), noErr);
    Buffers buffers(2, 32);
    ASSERT_EQ(unit.render(buffers.list(), 32), noErr);
    EXPECT_EQ(unit.parameter(probe_id::PREPARES), 1.0f);
}

/// Records every call of a property listener.
struct Heard {
    struct Call {
        AudioUnit unit;
        AudioUnitPropertyID property;
        AudioUnitScope scope;
        AudioUnitElement element;
        bool operator==(const Call&) const = default;
    };
    std::vector<Call> calls;

    static void listen(void* user, AudioUnit unit, AudioUnitPropertyID property,
                       AudioUnitScope scope, AudioUnitElement element) {
        static_cast<Heard*>(user)->calls.push_back({unit, property, scope, element});
    }
    static void other(void* user, AudioUnit unit, AudioUnitPropertyID property,
                      AudioUnitScope scope, AudioUnitElement element) {
        listen(user, unit, property, scope, element);
    }
};

TEST(AuListeners, RegistrationsAreCalledAsOftenAsTheyWereAdded) {
    const Unit unit(test_effect(), EFFECT_DESC);
    Heard a;
    Heard b;
    ASSERT_EQ(unit.add_listener(kAudioUnitProperty_BypassEffect, Heard::listen, &a), noErr);
    ASSERT_EQ(unit.add_listener(kAudioUnitProperty_BypassEffect, Heard::listen, &a), noErr);
    ASSERT_EQ(unit.add_listener(kAudioUnitProperty_BypassEffect, Heard::listen, &b), noErr);
    ASSERT_EQ(unit.add_listener(kAudioUnitProperty_BypassEffect, Heard::other, &b), noErr);
    ASSERT_EQ(unit.add_listener(kAudioUnitProperty_LastRenderError, Heard::listen, &b), noErr);

    ASSERT_EQ(unit.set(kAudioUnitProperty_BypassEffect, UInt32{1}), noErr);
    const Heard::Call bypass{unit.handle(), kAudioUnitProperty_BypassEffect, kAudioUnitScope_Global,
                             0};
    EXPECT_EQ(a.calls, (std::vector{bypass, bypass}));
    EXPECT_EQ(b.calls, (std::vector{bypass, bypass}));

    // Parameter writes call no listener.
    ASSERT_EQ(unit.set_parameter(test_id::GAIN, -1.0f), noErr);
    EXPECT_EQ(a.calls.size(), 2u);

    // Without user data every registration of the callback goes, whatever its user data;
    // with it, only the matching ones. Unknown registrations are no error.
    EXPECT_EQ(unit.remove_listener(kAudioUnitProperty_BypassEffect, Heard::listen, nullptr), noErr);
    EXPECT_EQ(unit.remove_listener(kAudioUnitProperty_BypassEffect, Heard::other, &a), noErr);
    ASSERT_EQ(unit.set(kAudioUnitProperty_BypassEffect, UInt32{0}), noErr);
    EXPECT_EQ(a.calls.size(), 4u);
    EXPECT_EQ(b.calls.size(), 4u);

    EXPECT_EQ(unit.remove_listener(kAudioUnitProperty_BypassEffect, Heard::listen), noErr);
    ASSERT_EQ(unit.set(kAudioUnitProperty_BypassEffect, UInt32{1}), noErr);
    EXPECT_EQ(a.calls.size(), 4u);
    EXPECT_EQ(b.calls.size(), 5u) << "the other callback is still registered";
    EXPECT_EQ(unit.remove_listener(kAudioUnitProperty_BypassEffect, Heard::other, &b), noErr);
    ASSERT_EQ(unit.set(kAudioUnitProperty_BypassEffect, UInt32{0}), noErr);
    EXPECT_EQ(b.calls.size(), 5u);

    // The listener of another property was left alone.
    ASSERT_EQ(unit.set(kAudioUnitProperty_LastRenderError, OSStatus{-1}), noErr);
    EXPECT_EQ(b.calls.back().property, kAudioUnitProperty_LastRenderError);
    EXPECT_EQ(unit.add_listener(kAudioUnitProperty_BypassEffect, nullptr, &a), kAudio_ParamError);
}

/// A listener that removes itself and writes a property from inside its call.
struct Reentrant {
    const Unit* unit = nullptr;
    int calls = 0;
    static void listen(void* user, AudioUnit, AudioUnitPropertyID, AudioUnitScope,
                       AudioUnitElement) {
        auto& self = *static_cast<Reentrant*>(user);
        ++self.calls;
        EXPECT_EQ(self.unit->remove_listener(kAudioUnitProperty_BypassEffect, listen), noErr);
        EXPECT_EQ(self.unit->set(kAudioUnitProperty_LastRenderError, OSStatus{-2}), noErr);
    }
};

TEST(AuListeners, ACallbackMayChangeListenersAndProperties) {
    const Unit unit(test_effect(), EFFECT_DESC);
    Reentrant listener{&unit};
    ASSERT_EQ(unit.add_listener(kAudioUnitProperty_BypassEffect, Reentrant::listen, &listener),
              noErr);
    ASSERT_EQ(unit.set(kAudioUnitProperty_BypassEffect, UInt32{1}), noErr);
    ASSERT_EQ(unit.set(kAudioUnitProperty_BypassEffect, UInt32{0}), noErr);
    EXPECT_EQ(listener.calls, 1);
    EXPECT_EQ(unit.last_render_error(), -2);
}

/// ParameterInfo of `id`, its CoreFoundation name taken over and released.
struct Info {
    AudioUnitParameterInfo record{};
    std::string cf_name;
};
Info parameter_info(const Unit& unit, AudioUnitParameterID id) {
    Info info;
    EXPECT_EQ(unit.get(kAudioUnitProperty_ParameterInfo, info.record, kAudioUnitScope_Global, id),
              noErr);
    info.cf_name = text_of(info.record.cfNameString);
    if (info.record.cfNameString != nullptr)
        CFRelease(info.record.cfNameString);
    return info;
}

TEST(AuParameterProperties, InfoDescribesEachKind) {
    const Unit unit(test_effect(), EFFECT_DESC);
    struct Case {
        AudioUnitParameterID id;
        const char* name;
        UInt32 unit;
        float min, max, def;
        UInt32 flags;
    };
    constexpr UInt32 rw = 0xC8000010;
    const Case cases[] = {
        {test_id::GAIN, "Gain", kAudioUnitParameterUnit_Decibels, -60.0f, 12.0f, 0.0f, rw},
        {test_id::LEVEL + 1, "Level 2", kAudioUnitParameterUnit_Generic, 0.0f, 1.0f, 1.0f, rw},
        {test_id::MODE, "Mode", kAudioUnitParameterUnit_Indexed, 0.0f, 2.0f, 0.0f,
         rw | kAudioUnitParameterFlag_ValuesHaveStrings},
        {test_id::BYPASS, "Bypass", kAudioUnitParameterUnit_Boolean, 0.0f, 1.0f, 0.0f, rw},
        {test_id::LATENCY, "Latency", kAudioUnitParameterUnit_Generic, 0.0f, 256.0f, 0.0f, rw},
        {test_id::PEAK, "Peak", kAudioUnitParameterUnit_Generic, 0.0f, 16.0f, 0.0f, 0x48008010},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Info info = parameter_info(unit, c.id);
        EXPECT_STREQ(info.record.name, c.name);
        EXPECT_EQ(info.cf_name, c.name);
        EXPECT_EQ(info.record.unitName, nullptr);
        EXPECT_EQ(info.record.clumpID, 0u);
        EXPECT_EQ(static_cast<UInt32>(info.record.unit), c.unit);
        EXPECT_EQ(info.record.minValue, c.min);
        EXPECT_EQ(info.record.maxValue, c.max);
        EXPECT_EQ(info.record.defaultValue, c.def);
        EXPECT_EQ(info.record.flags, c.flags);
    }
    AudioUnitParameterInfo record{};
    EXPECT_EQ(unit.get(kAudioUnitProperty_ParameterInfo, record, kAudioUnitScope_Global, 1),
              kAudioUnitErr_InvalidParameter);
}

TEST(AuParameterProperties, NamesAreCutOnCharacterBoundaries) {
    // The probe's gain is named "Verstärkung"; its "midi_data" reading has a name of 52
    // bytes whose last character takes three, so the 51 bytes of the record end inside it.
    const Unit unit(probe_effect(), EFFECT_DESC);
    const Info info = parameter_info(unit, probe_id::MIDI_DATA);
    ASSERT_EQ(info.cf_name.size(), 52u);
    EXPECT_EQ(std::string(info.record.name), info.cf_name.substr(0, 49));
    for (std::size_t i = 49; i < sizeof info.record.name; ++i)
        EXPECT_EQ(info.record.name[i], '\0');

    struct Case {
        AudioUnitParameterID id;
        SInt32 length;
        const char* name;
    };
    const Case cases[] = {
        {probe_id::GAIN, 7, "Verst\xC3\xA4"},
        {probe_id::GAIN, 6, "Verst"},
        {probe_id::GAIN, 5, "Verst"},
        {probe_id::GAIN, 1, "V"},
        {probe_id::GAIN, 0, "Verst\xC3\xA4rkung"},
        {probe_id::GAIN, -1, "Verst\xC3\xA4rkung"},
        {probe_id::GAIN, 100, "Verst\xC3\xA4rkung"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.length);
        AudioUnitParameterNameInfo record{c.id, c.length, nullptr};
        ASSERT_EQ(unit.get(kAudioUnitProperty_ParameterIDName, record), noErr);
        EXPECT_EQ(text_of(record.outName), c.name);
        CFRelease(record.outName);
    }
    const Unit test(test_effect(), EFFECT_DESC);
    AudioUnitParameterNameInfo record{test_id::LEVEL, kAudioUnitParameterName_Full, nullptr};
    ASSERT_EQ(test.get(kAudioUnitProperty_ParameterIDName, record), noErr);
    EXPECT_EQ(text_of(record.outName), "Level 1");
    CFRelease(record.outName);
    record.inID = test_id::LEVEL + 2;
    EXPECT_EQ(test.get(kAudioUnitProperty_ParameterIDName, record), kAudioUnitErr_InvalidParameter);
}

TEST(AuParameterProperties, StringFromValueShowsTheGivenOrTheCurrentValue) {
    const Unit unit(test_effect(), EFFECT_DESC);
    ASSERT_EQ(unit.set_parameter(test_id::GAIN, -18.0f), noErr);
    struct Case {
        AudioUnitParameterID id;
        std::optional<float> value;
        const char* text;
    };
    const Case cases[] = {
        {test_id::GAIN, std::nullopt, "-18.00 dB"},
        {test_id::GAIN, 4.0f, "4.00 dB"},
        {test_id::MODE, 1.0f, "Inverted"},
        {test_id::MODE, std::nullopt, "Normal"},
        {test_id::BYPASS, 1.0f, "On"},
        {test_id::LEVEL + 1, 0.1f, "0.10"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        AudioUnitParameterStringFromValue record{c.id, c.value ? &*c.value : nullptr, nullptr};
        ASSERT_EQ(unit.get(kAudioUnitProperty_ParameterStringFromValue, record), noErr);
        EXPECT_EQ(text_of(record.outString), c.text);
        CFRelease(record.outString);
    }
    AudioUnitParameterStringFromValue record{test_id::PEAK + 1, nullptr, nullptr};
    EXPECT_EQ(unit.get(kAudioUnitProperty_ParameterStringFromValue, record),
              kAudioUnitErr_InvalidParameter);
}

TEST(AuParameterProperties, ValueFromStringParsesWhatAHostMayType) {
    const Unit unit(test_effect(), EFFECT_DESC);
    struct Case {
        AudioUnitParameterID id;
        const char* text;
        std::optional<float> value; // nothing: refused
    };
    const Case cases[] = {
        {test_id::GAIN, "  -12.5 dB ", -12.5f},
        {test_id::GAIN, "-18dB", -18.0f},
        {test_id::GAIN, "-18", -18.0f},
        {test_id::GAIN, "50%", 50.0f}, // not clamped
        {test_id::GAIN, "1e3", 1000.0f},
        {test_id::GAIN, "+.5 whatever", 0.5f},
        {test_id::GAIN,
         "\xC2\xA0-3\xE2\x80\x83"
         "dB",
         -3.0f},                             // no-break and em spaces
        {test_id::GAIN, "5\xC2\xB5s", 5.0f}, // micro sign
        {test_id::GAIN, "loud", std::nullopt},
        {test_id::GAIN, "", std::nullopt},
        {test_id::GAIN, "dB -3", std::nullopt},
        {test_id::GAIN, "- 3", std::nullopt},
        {test_id::MODE, " inverted ", 1.0f},
        {test_id::MODE, "MUTED", 2.0f},
        {test_id::MODE, "1.5", 1.5f},
        {test_id::MODE, "-Inf", -INFINITY},
        {test_id::MODE, "Invert", std::nullopt},
        {test_id::BYPASS, "ON", 1.0f},
        {test_id::BYPASS, "False", 0.0f},
        {test_id::BYPASS, " 1 ", 1.0f},
        {test_id::BYPASS, "yes", std::nullopt},
        {test_id::BYPASS, "0.0", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        CFStringRef text = make_string(c.text);
        ASSERT_NE(text, nullptr);
        AudioUnitParameterValueFromString record{c.id, text, -99.0f};
        const OSStatus status = unit.get(kAudioUnitProperty_ParameterValueFromString, record);
        if (c.value) {
            EXPECT_EQ(status, noErr);
            EXPECT_EQ(record.outValue, *c.value);
        } else {
            EXPECT_EQ(status, kAudioUnitErr_InvalidPropertyValue);
        }
        EXPECT_EQ(CFGetRetainCount(text), 1) << "the host's string is only read";
        CFRelease(text);
    }

    AudioUnitParameterValueFromString record{test_id::MODE, nullptr, 0.0f};
    EXPECT_EQ(unit.get(kAudioUnitProperty_ParameterValueFromString, record),
              kAudioUnitErr_InvalidPropertyValue)
        << "no string";
    const SInt32 seven = 7;
    CFNumberRef number = CFNumberCreate(nullptr, kCFNumberSInt32Type, &seven);
    record.inString = reinterpret_cast<CFStringRef>(number);
    EXPECT_EQ(unit.get(kAudioUnitProperty_ParameterValueFromString, record),
              kAudioUnitErr_InvalidPropertyValue)
        << "not a string";
    CFRelease(number);
    CFStringRef text = make_string(std::string(1024, '1'));
    record.inString = text;
    EXPECT_EQ(unit.get(kAudioUnitProperty_ParameterValueFromString, record),
              kAudioUnitErr_InvalidPropertyValue)
        << "longer than 1023 bytes";
    record.inParamID = 1;
    EXPECT_EQ(unit.get(kAudioUnitProperty_ParameterValueFromString, record),
              kAudioUnitErr_InvalidParameter);
    CFRelease(text);
}

TEST(AuParameterProperties, ValueStringsListTheChoicesOfAChoiceOnly) {
    const Unit unit(test_effect(), EFFECT_DESC);
    CFArrayRef names = nullptr;
    ASSERT_EQ(unit.get(kAudioUnitProperty_ParameterValueStrings, names, kAudioUnitScope_Global,
                       test_id::MODE),
              noErr);
    ASSERT_EQ(CFArrayGetCount(names), 3);
    EXPECT_EQ(text_of(static_cast<CFStringRef>(CFArrayGetValueAtIndex(names, 0))), "Normal");
    EXPECT_EQ(text_of(static_cast<CFStringRef>(CFArrayGetValueAtIndex(names, 2))), "Muted");
    EXPECT_EQ(CFGetRetainCount(names), 1) << "the caller owns the array";
    EXPECT_EQ(CFGetRetainCount(CFArrayGetValueAtIndex(names, 1)), 1) << "and only it the names";
    CFRelease(names);

    UInt32 size = 0;
    EXPECT_EQ(unit.property_info(kAudioUnitProperty_ParameterValueStrings, kAudioUnitScope_Global,
                                 test_id::BYPASS, &size, nullptr),
              kAudioUnitErr_InvalidProperty);
    EXPECT_EQ(unit.get(kAudioUnitProperty_ParameterValueStrings, names, kAudioUnitScope_Global,
                       test_id::BYPASS),
              kAudioUnitErr_InvalidProperty);
    EXPECT_EQ(unit.get(kAudioUnitProperty_ParameterValueStrings, names, kAudioUnitScope_Global,
                       test_id::MODE + 1),
              kAudioUnitErr_InvalidParameter);
}

/// The ParameterList of a scope.
std::vector<AudioUnitParameterID> parameter_list(const Unit& unit,
                                                 AudioUnitScope scope = kAudioUnitScope_Global) {
    UInt32 size = 0;
    EXPECT_EQ(unit.get_property(kAudioUnitProperty_ParameterList, scope, 0, nullptr, &size), noErr);
    std::vector<AudioUnitParameterID> ids(size / sizeof(AudioUnitParameterID) + 1, 0xDEAD);
    UInt32 capacity = static_cast<UInt32>(ids.size() * sizeof(AudioUnitParameterID));
    EXPECT_EQ(unit.get_property(kAudioUnitProperty_ParameterList, scope, 0, ids.data(), &capacity),
              noErr);
    EXPECT_EQ(capacity, size);
    EXPECT_EQ(ids.back(), 0xDEADu) << "nothing written past the size";
    ids.pop_back();
    return ids;
}

TEST(AuParameterProperties, ParameterListFollowsTheOutputChannels) {
    const Unit unit(test_effect(), EFFECT_DESC);
    using Ids = std::vector<AudioUnitParameterID>;
    EXPECT_EQ(parameter_list(unit), (Ids{0, 128, 129, 256, 384, 512, 640, 768}));
    EXPECT_EQ(parameter_list(unit, kAudioUnitScope_Input), Ids{});
    EXPECT_EQ(parameter_list(unit, kAudioUnitScope_Output), Ids{});

    Heard heard;
    ASSERT_EQ(unit.add_listener(kAudioUnitProperty_ParameterList, Heard::listen, &heard), noErr);
    ASSERT_EQ(unit.set_format(kAudioUnitScope_Output, 3), noErr);
    EXPECT_EQ(parameter_list(unit), (Ids{0, 128, 129, 130, 256, 384, 512, 640, 768}));
    ASSERT_EQ(heard.calls.size(), 1u);
    EXPECT_EQ(heard.calls[0].scope, kAudioUnitScope_Global);
    ASSERT_EQ(unit.set_format(kAudioUnitScope_Output, 3, 48000.0), noErr);
    EXPECT_EQ(heard.calls.size(), 1u) << "the channel count did not change";
    ASSERT_EQ(unit.set_format(kAudioUnitScope_Input, 1), noErr);
    EXPECT_EQ(heard.calls.size(), 1u) << "the input does not decide the parameters";
}

} // namespace
} // namespace velk::au_test
