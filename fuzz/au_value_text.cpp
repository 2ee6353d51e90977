// ParameterValueFromString through halvex_au's get_property: the first byte picks a
// parameter id (every listed one and some that are not), the second how the text
// travels (a string of the rest of the input, a null string, a number, a string past
// the 1023 bytes a text may have) and how the call is made (the record's size, a null
// size); the rest is the text.
//
// An unlisted id is refused with kAudioUnitErr_InvalidParameter whatever the text; a
// missing or unconvertible string, or a text that names no value, with
// kAudioUnitErr_InvalidPropertyValue; a refused record keeps its value. White space
// around a text changes nothing. A toggle reads as 0 or 1, a number never as NaN. An
// accepted value is not clamped, but set as the parameter it is taken (when finite) and
// reads back within the parameter's range, or refused (when infinite) with nothing
// changed. The text shown for a value reads back to a value shown the same way.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "support/au_host.hpp"
#include "support/bytes.hpp"
#include "support/check.hpp"

namespace {

using velk::fuzz::AU_GR;
using velk::fuzz::AuUnit;
using velk::fuzz::Bytes;

constexpr AudioUnitParameterID IDS[] = {0,   128, 256, 384,  512,        640, 768, 896,
                                        1024, 1,  127, 1152, 0xFFFFFFFFu};
constexpr std::size_t LISTED = 9;
constexpr AudioUnitParameterID BYPASS = 7 * 128;
constexpr float UNTOUCHED = -12345.0f;

struct Answer {
    OSStatus status;
    float value;
};

Answer value_from(const AuUnit& unit, AudioUnitParameterID id, CFStringRef string,
                  UInt32 size = sizeof(AudioUnitParameterValueFromString)) {
    AudioUnitParameterValueFromString record{id, string, UNTOUCHED};
    const OSStatus status = unit.get_property(kAudioUnitProperty_ParameterValueFromString,
                                              kAudioUnitScope_Global, 0, &record, &size);
    if (status == noErr)
        VELK_FUZZ_CHECK(size == sizeof record);
    else
        VELK_FUZZ_CHECK(record.outValue == UNTOUCHED);
    VELK_FUZZ_CHECK(record.inParamID == id && record.inString == string);
    return {status, record.outValue};
}

std::optional<std::string> shown(const AuUnit& unit, AudioUnitParameterID id, float value) {
    AudioUnitParameterStringFromValue record{id, &value, nullptr};
    UInt32 size = sizeof record;
    VELK_FUZZ_CHECK(unit.get_property(kAudioUnitProperty_ParameterStringFromValue,
                                      kAudioUnitScope_Global, 0, &record, &size) == noErr);
    auto text = velk::fuzz::text_of(record.outString);
    VELK_FUZZ_CHECK(text.has_value());
    CFRelease(record.outString);
    return text;
}

AudioUnitParameterInfo info_of(const AuUnit& unit, AudioUnitParameterID id) {
    AudioUnitParameterInfo info{};
    UInt32 size = sizeof info;
    VELK_FUZZ_CHECK(unit.get_property(kAudioUnitProperty_ParameterInfo, kAudioUnitScope_Global, id,
                                      &info, &size) == noErr);
    if (info.cfNameString != nullptr)
        CFRelease(info.cfNameString);
    return info;
}

struct Ref {
    explicit Ref(CFTypeRef r) : ref(r) {}
    ~Ref() {
        if (ref != nullptr)
            CFRelease(ref);
    }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    CFTypeRef ref;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const AuUnit unit;
    Bytes in({data, size});
    const std::size_t pick = in.u8() % std::size(IDS);
    const AudioUnitParameterID id = IDS[pick];
    const bool listed = pick < LISTED;
    const std::uint8_t how = in.u8();
    const auto rest = in.take(size);
    std::string text(rest.begin(), rest.end());
    if (how % 16 == 3)
        text = std::string(1024, ' ') + text; // white space only, but too long to convert

    Ref string(nullptr);
    switch (how % 8) {
    case 0:
        break; // null
    case 1:
        string.ref = velk::fuzz::make_number(1);
        break;
    default:
        string.ref = velk::fuzz::make_string(text);
        break;
    }
    const auto cf = static_cast<CFStringRef>(string.ref);

    // The size of the record, or a buffer one byte short of it.
    if (how & 0x80) {
        const Answer short_buffer =
            value_from(unit, id, cf, sizeof(AudioUnitParameterValueFromString) - 1);
        VELK_FUZZ_CHECK(short_buffer.status == kAudioUnitErr_InvalidPropertyValue);
    }
    const Answer answer = value_from(unit, id, cf);
    if (!listed) {
        VELK_FUZZ_CHECK(answer.status == kAudioUnitErr_InvalidParameter);
        return 0;
    }
    const bool convertible = cf != nullptr && how % 8 != 1 && text.size() <= 1023;
    if (!convertible) {
        VELK_FUZZ_CHECK(answer.status == kAudioUnitErr_InvalidPropertyValue);
        return 0;
    }
    VELK_FUZZ_CHECK(answer.status == noErr || answer.status == kAudioUnitErr_InvalidPropertyValue);

    // The text is read up to its first NUL; white space around it changes nothing.
    const std::string c_text(text.c_str());
    if (c_text.size() + 8 <= 1023) {
        const Ref padded(velk::fuzz::make_string("\u3000 " + c_text + "\t\n"));
        const Answer spaced = value_from(unit, id, static_cast<CFStringRef>(padded.ref));
        VELK_FUZZ_CHECK(spaced.status == answer.status);
        VELK_FUZZ_CHECK(std::isnan(spaced.value) ? std::isnan(answer.value)
                                                 : spaced.value == answer.value);
    }
    if (answer.status != noErr)
        return 0;

    const float value = answer.value;
    if (id == BYPASS)
        VELK_FUZZ_CHECK(value == 0.0f || value == 1.0f);
    else
        VELK_FUZZ_CHECK(!std::isnan(value));

    // Set as the parameter: clamped into range, or refused when infinite or a meter.
    const AudioUnitParameterInfo info = info_of(unit, id);
    const float old = unit.parameter(id);
    const OSStatus set = unit.set_parameter(id, kAudioUnitScope_Global, 0, value, 0);
    if (id == AU_GR || !std::isfinite(value)) {
        VELK_FUZZ_CHECK(set == kAudioUnitErr_InvalidParameter);
        VELK_FUZZ_CHECK(unit.parameter(id) == old);
        return 0;
    }
    VELK_FUZZ_CHECK(set == noErr);
    const float stored = unit.parameter(id);
    VELK_FUZZ_CHECK(stored >= info.minValue && stored <= info.maxValue);
    if (value >= info.minValue && value <= info.maxValue && id != BYPASS)
        VELK_FUZZ_CHECK(stored == value);

    // The text shown for the stored value reads back to one shown the same way.
    const auto text_shown = shown(unit, id, stored);
    const Ref back_string(velk::fuzz::make_string(*text_shown));
    const Answer back = value_from(unit, id, static_cast<CFStringRef>(back_string.ref));
    VELK_FUZZ_CHECK(back.status == noErr);
    VELK_FUZZ_CHECK(shown(unit, id, back.value) == text_shown);
    return 0;
}
