// Presets seen from a host: the ClassInfo dictionary taken from one unit and restored on
// another, its refusals, and who owns what.

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "units.hpp"

#include <gtest/gtest.h>

namespace velk::au_test {
namespace {

/// A dictionary the host builds, with the CoreFoundation type callbacks.
CFMutableDictionaryRef make_dictionary() {
    return CFDictionaryCreateMutable(nullptr, 0, &kCFTypeDictionaryKeyCallBacks,
                                     &kCFTypeDictionaryValueCallBacks);
}

void put_number(CFMutableDictionaryRef dict, CFStringRef key, SInt32 value) {
    CFNumberRef number = CFNumberCreate(nullptr, kCFNumberSInt32Type, &value);
    CFDictionarySetValue(dict, key, number);
    CFRelease(number);
}

void put_string(CFMutableDictionaryRef dict, CFStringRef key, const std::string& text) {
    CFStringRef string = make_string(text);
    CFDictionarySetValue(dict, key, string);
    CFRelease(string);
}

void put_bytes(CFMutableDictionaryRef dict, CFStringRef key, const std::vector<UInt8>& bytes) {
    CFDataRef data = CFDataCreate(nullptr, bytes.data(), static_cast<CFIndex>(bytes.size()));
    CFDictionarySetValue(dict, key, data);
    CFRelease(data);
}

/// A copy of a dictionary that the host can change.
CFMutableDictionaryRef copy_of(CFDictionaryRef source) {
    CFMutableDictionaryRef copy = make_dictionary();
    for (const char* key : {"version", "type", "subtype", "manufacturer", "name", "data"}) {
        CFStringRef k = make_string(key);
        if (const void* value = CFDictionaryGetValue(source, k))
            CFDictionarySetValue(copy, k, value);
        CFRelease(k);
    }
    return copy;
}

/// The unit's current ClassInfo; the caller releases it.
CFDictionaryRef class_info(const Unit& unit) {
    CFPropertyListRef info = nullptr;
    EXPECT_EQ(unit.get(kAudioUnitProperty_ClassInfo, info), noErr);
    return static_cast<CFDictionaryRef>(info);
}

std::string preset_name(const Unit& unit) {
    AUPreset preset{};
    EXPECT_EQ(unit.get(kAudioUnitProperty_PresentPreset, preset), noErr);
    std::string name = text_of(preset.presetName);
    CFRelease(preset.presetName);
    return name;
}

SInt32 number_at(CFDictionaryRef dict, const char* key) {
    CFStringRef k = make_string(key);
    SInt32 value = 0;
    const void* number = CFDictionaryGetValue(dict, k);
    CFRelease(k);
    EXPECT_NE(number, nullptr) << key;
    if (number != nullptr) {
        EXPECT_TRUE(
            CFNumberGetValue(static_cast<CFNumberRef>(number), kCFNumberSInt32Type, &value));
    }
    return value;
}

TEST(AuPresets, ClassInfoCarriesTheIdentityTheNameAndTheState) {
    // A manufacturer code with its top bit set travels as a negative number.
    const AudioComponentDescription desc{fourcc("aufx"), fourcc("Tst2"), 0xC0FFEE42u, 0, 0};
    const Unit unit(test_effect(), desc);
    CFDictionaryRef info = class_info(unit);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(CFGetRetainCount(info), 1) << "the caller owns the dictionary";
    EXPECT_EQ(CFDictionaryGetCount(info), 6);
    EXPECT_EQ(number_at(info, "version"), 0);
    EXPECT_EQ(number_at(info, "type"), static_cast<SInt32>(fourcc("aufx")));
    EXPECT_EQ(number_at(info, "subtype"), static_cast<SInt32>(fourcc("Tst2")));
    EXPECT_EQ(number_at(info, "manufacturer"), static_cast<SInt32>(0xC0FFEE42u));

    CFStringRef name_key = make_string("name");
    CFStringRef data_key = make_string("data");
    const auto name = static_cast<CFStringRef>(CFDictionaryGetValue(info, name_key));
    EXPECT_EQ(text_of(name), "Untitled");
    EXPECT_EQ(CFGetRetainCount(name), 1) << "only the dictionary holds the name";
    const auto data = static_cast<CFDataRef>(CFDictionaryGetValue(info, data_key));
    ASSERT_NE(data, nullptr);
    // The saved state: "VELK", version 1, 7 parameters, 2 of which "level" with 64 cells.
    ASSERT_EQ(CFDataGetLength(data), 12 + 6 * 8 + 4 + 64 * 4);
    const UInt8* bytes = CFDataGetBytePtr(data);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes), 4), "VELK");
    EXPECT_EQ(bytes[4], 1);
    EXPECT_EQ(bytes[8], 7);
    CFRelease(name_key);
    CFRelease(data_key);
    CFRelease(info);
}

/// Records the ClassInfo listener's calls.
struct Heard {
    int calls = 0;
    static void listen(void* user, AudioUnit, AudioUnitPropertyID property, AudioUnitScope scope,
                       AudioUnitElement element) {
        EXPECT_EQ(property, kAudioUnitProperty_ClassInfo);
        EXPECT_EQ(scope, kAudioUnitScope_Global);
        EXPECT_EQ(element, 0u);
        ++static_cast<Heard*>(user)->calls;
    }
};

TEST(AuPresets, APresetFromOneUnitRestoresAnother) {
    const Unit from(test_effect(), EFFECT_DESC);
    ASSERT_EQ(from.set_parameter(test_id::GAIN, -12.0f), noErr);
    ASSERT_EQ(from.set_parameter(test_id::MODE, 2.0f), noErr);
    ASSERT_EQ(from.set_parameter(test_id::LEVEL + 1, 0.25f), noErr);
    CFStringRef lead = make_string("Lead");
    ASSERT_EQ(from.set(kAudioUnitProperty_PresentPreset, AUPreset{12, lead}), noErr);
    CFRelease(lead);
    CFDictionaryRef info = class_info(from);

    const Unit to(test_effect(), EFFECT_DESC);
    Heard heard;
    ASSERT_EQ(to.add_listener(kAudioUnitProperty_ClassInfo, Heard::listen, &heard), noErr);
    ASSERT_EQ(to.initialize(), noErr) << "presets load in either state";
    EXPECT_EQ(to.set(kAudioUnitProperty_ClassInfo, CFPropertyListRef{info}), noErr);
    EXPECT_EQ(CFGetRetainCount(info), 1) << "the host's dictionary is only read";
    CFRelease(info);

    EXPECT_EQ(to.parameter(test_id::GAIN), -12.0f);
    EXPECT_EQ(to.parameter(test_id::MODE), 2.0f);
    EXPECT_EQ(to.parameter(test_id::LEVEL), 1.0f);
    EXPECT_EQ(to.parameter(test_id::LEVEL + 1), 0.25f);
    EXPECT_EQ(preset_name(to), "Lead");
    AUPreset preset{};
    ASSERT_EQ(to.get(kAudioUnitProperty_PresentPreset, preset), noErr);
    EXPECT_EQ(preset.presetNumber, -1) << "the number is not part of ClassInfo";
    CFRelease(preset.presetName);
    EXPECT_EQ(heard.calls, 1);
}

TEST(AuPresets, RefusedPresetsChangeNothingButANameBeforeTheData) {
    const Unit from(test_effect(), EFFECT_DESC);
    ASSERT_EQ(from.set_parameter(test_id::GAIN, -12.0f), noErr);
    CFDictionaryRef saved = class_info(from);
    CFStringRef data_key = make_string("data");
    CFStringRef name_key = make_string("name");
    CFStringRef subtype_key = make_string("subtype");
    CFStringRef type_key = make_string("type");

    struct Case {
        const char* name;
        std::function<void(CFMutableDictionaryRef)> change;
        OSStatus status;
        const char* preset_name; // after the set
        float gain;              // after the set
    };
    // A header that announces seven records and one record after it.
    const UInt8* state =
        CFDataGetBytePtr(static_cast<CFDataRef>(CFDictionaryGetValue(saved, data_key)));
    const std::vector<UInt8> truncated(state, state + 20);
    const Case cases[] = {
        {"unchanged", [](CFMutableDictionaryRef) {}, noErr, "Imported", -12.0f},
        {"another subtype", [&](auto d) { put_number(d, subtype_key, 1234); },
         kAudioUnitErr_InvalidPropertyValue, "Untitled", 0.0f},
        {"no type", [&](auto d) { put_string(d, type_key, "aufx"); },
         kAudioUnitErr_InvalidPropertyValue, "Untitled", 0.0f},
        {"data that is a string", [&](auto d) { CFDictionarySetValue(d, data_key, name_key); },
         kAudioUnitErr_InvalidPropertyValue, "Imported", 0.0f},
        {"state refused", [&](auto d) { put_bytes(d, data_key, truncated); },
         kAudioUnitErr_InvalidPropertyValue, "Imported", 0.0f},
        {"unreadable name", [&](auto d) { put_number(d, name_key, 5); }, noErr, "Untitled", -12.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Unit to(test_effect(), EFFECT_DESC);
        Heard heard;
        ASSERT_EQ(to.add_listener(kAudioUnitProperty_ClassInfo, Heard::listen, &heard), noErr);
        CFMutableDictionaryRef preset = copy_of(saved);
        put_string(preset, name_key, "Imported");
        c.change(preset);
        EXPECT_EQ(to.set(kAudioUnitProperty_ClassInfo, CFPropertyListRef{preset}), c.status);
        EXPECT_EQ(preset_name(to), c.preset_name);
        EXPECT_EQ(to.parameter(test_id::GAIN), c.gain);
        EXPECT_EQ(heard.calls, c.status == noErr ? 1 : 0);
        CFRelease(preset);
    }
    CFRelease(saved);
    CFRelease(data_key);
    CFRelease(name_key);
    CFRelease(subtype_key);
    CFRelease(type_key);
}

TEST(AuPresets, APresetWithoutDataOnlyRenames) {
    const Unit unit(test_effect(), EFFECT_DESC);
    ASSERT_EQ(unit.set_parameter(test_id::GAIN, -3.0f), noErr);
    CFMutableDictionaryRef preset = make_dictionary();
    put_number(preset, CFSTR("type"), static_cast<SInt32>(EFFECT_DESC.componentType));
    put_number(preset, CFSTR("subtype"), static_cast<SInt32>(EFFECT_DESC.componentSubType));
    put_number(preset, CFSTR("manufacturer"),
               static_cast<SInt32>(EFFECT_DESC.componentManufacturer));
    put_string(preset, CFSTR("name"), "Chorus");
    EXPECT_EQ(unit.set(kAudioUnitProperty_ClassInfo, CFPropertyListRef{preset}), noErr);
    EXPECT_EQ(preset_name(unit), "Chorus");
    EXPECT_EQ(unit.parameter(test_id::GAIN), -3.0f);

    // A manufacturer given as a float that is not a whole number does not match.
    const Float64 almost = static_cast<Float64>(EFFECT_DESC.componentManufacturer) + 0.5;
    CFNumberRef fraction = CFNumberCreate(nullptr, kCFNumberFloat64Type, &almost);
    CFDictionarySetValue(preset, CFSTR("manufacturer"), fraction);
    CFRelease(fraction);
    EXPECT_EQ(unit.set(kAudioUnitProperty_ClassInfo, CFPropertyListRef{preset}),
              kAudioUnitErr_InvalidPropertyValue);
    CFRelease(preset);
}

TEST(AuPresets, OnlyADictionaryIsAPreset) {
    const Unit unit(test_effect(), EFFECT_DESC);
    EXPECT_EQ(unit.set(kAudioUnitProperty_ClassInfo, CFPropertyListRef{nullptr}),
              kAudioUnitErr_InvalidPropertyValue);
    CFStringRef string = make_string("preset");
    EXPECT_EQ(unit.set(kAudioUnitProperty_ClassInfo, CFPropertyListRef{string}),
              kAudioUnitErr_InvalidPropertyValue);
    CFRelease(string);
    CFMutableDictionaryRef empty = make_dictionary();
    EXPECT_EQ(unit.set(kAudioUnitProperty_ClassInfo, CFPropertyListRef{empty}),
              kAudioUnitErr_InvalidPropertyValue);
    CFRelease(empty);
}

} // namespace
} // namespace velk::au_test
