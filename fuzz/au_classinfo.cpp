// A ClassInfo restore through halvex_au's property calls. The input sets a few
// parameters, then builds the value handed to the ClassInfo set: null, an object of
// another type, or a dictionary whose identity numbers are right or wrong, of the
// wrong type or missing, with a name or not, and with a "data" entry of the wrong type
// or holding saved-state bytes (the instance's own, damaged, made from the input's
// values or raw). Sometimes the call itself is wrong (scope, element, size, null).
//
// The harness predicts the status from the dictionary it built and a mirror parameter
// set that takes the same state bytes. A refused restore changes no parameter and no
// preset number, and the name only as documented (a preset whose identity matches
// renames the present preset before its data is examined). An accepted one calls the
// ClassInfo listener once, and reads back through a get of ClassInfo: the saved bytes
// are the mirror's and restore the same values and name on a second instance.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "halvex/halvex.hpp"
#include "support/au_host.hpp"
#include "support/bytes.hpp"
#include "support/check.hpp"
#include "velk/core/param.hpp"
#include "velk/core/state.hpp"

namespace {

using velk::fuzz::AU_GR;
using velk::fuzz::AU_PARAMS;
using velk::fuzz::AuUnit;
using velk::fuzz::Bytes;

constexpr float VALUES[] = {-18.0f, 0.0f, 1.0f, -60.0f, 24.0f, 1e30f, -1e30f, 0.5f, 2.5f, 1e-40f};

/// Owns one CoreFoundation reference.
struct Ref {
    explicit Ref(CFTypeRef r = nullptr) : ref(r) {}
    ~Ref() {
        if (ref != nullptr)
            CFRelease(ref);
    }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    CFTypeRef ref;
};

CFDataRef make_data(const std::vector<std::uint8_t>& bytes) {
    return CFDataCreate(nullptr, bytes.data(), static_cast<CFIndex>(bytes.size()));
}

CFNumberRef make_int64(std::int64_t value) {
    return CFNumberCreate(nullptr, kCFNumberSInt64Type, &value);
}

CFNumberRef make_float64(double value) {
    return CFNumberCreate(nullptr, kCFNumberFloat64Type, &value);
}

void put_u32(std::vector<std::uint8_t>& bytes, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        bytes.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

/// Saved-state bytes: the instance's own, damaged, made from the input, or raw.
std::vector<std::uint8_t> state_bytes(Bytes& in, const std::vector<std::uint8_t>& own) {
    std::vector<std::uint8_t> bytes = own;
    const std::uint8_t how = in.u8();
    switch (how % 8) {
    case 0:
        break;
    case 1: { // a well-formed state of the input's values, any count of records and cells
        bytes.clear();
        bytes.insert(bytes.end(), {'V', 'E', 'L', 'K'});
        put_u32(bytes, 1);
        const std::uint32_t count = in.u8() % 12;
        put_u32(bytes, count);
        for (std::uint32_t r = 0; r < count; ++r) {
            const std::uint32_t cells = in.u8() % 4 == 0 ? in.u8() % 4 : 1;
            put_u32(bytes, cells);
            for (std::uint32_t c = 0; c < cells; ++c)
                put_u32(bytes, std::bit_cast<std::uint32_t>(in.pick(VALUES, [](Bytes& b) {
                    return b.f32();
                })));
        }
        break;
    }
    case 2:
        bytes.resize(in.u8() % (bytes.size() + 1));
        break;
    case 3:
        bytes[in.u8() % bytes.size()] ^= static_cast<std::uint8_t>(1 + in.u8() % 255);
        break;
    case 4: // the record count
        bytes[8] = in.u8();
        break;
    case 5:
        std::memcpy(bytes.data(), "TOVE", 4);
        break;
    case 6: {
        const auto tail = in.take(in.u8());
        bytes.insert(bytes.end(), tail.begin(), tail.end());
        break;
    }
    default: {
        const auto raw = in.take(in.u8());
        bytes.assign(raw.begin(), raw.end());
        break;
    }
    }
    return bytes;
}

/// What the harness put under one key.
struct Entry {
    Ref value;
    bool present = false;
    bool matches = false;                ///< an identity number equal to the expected code
    std::optional<std::string> name;     ///< the name text the unit should take
    std::optional<std::vector<std::uint8_t>> data; ///< state bytes of a CFData entry
};

/// An identity entry: the right code in various number types, a wrong one, or another type.
void identity_entry(Bytes& in, Entry& e, OSType code) {
    const auto expected = static_cast<std::int32_t>(code);
    const std::uint8_t how = in.u8();
    e.present = how % 8 != 0;
    switch (how % 8) {
    case 0:
        break;
    case 1:
        e.value.ref = velk::fuzz::make_number(expected);
        e.matches = true;
        break;
    case 2: {
        const auto other = static_cast<std::int32_t>(in.u32());
        e.value.ref = velk::fuzz::make_number(other);
        e.matches = other == expected;
        break;
    }
    case 3: // the four characters as a string
        e.value.ref = velk::fuzz::make_string(std::string{static_cast<char>(code >> 24),
                                                          static_cast<char>(code >> 16),
                                                          static_cast<char>(code >> 8),
                                                          static_cast<char>(code)});
        break;
    case 4: { // a 64-bit number, in range or not
        const std::int64_t v = expected + (in.u8() % 2 ? std::int64_t{1} << 32 : 0);
        e.value.ref = make_int64(v);
        e.matches = v == expected;
        break;
    }
    case 5: { // a float, whole or not
        const double v = expected + (in.u8() % 2 ? 0.5 : 0.0);
        e.value.ref = make_float64(v);
        e.matches = v == expected;
        break;
    }
    case 6:
        e.value.ref = CFDataCreate(nullptr, nullptr, 0);
        break;
    default:
        e.value.ref = CFArrayCreate(nullptr, nullptr, 0, &kCFTypeArrayCallBacks);
        break;
    }
}

void name_entry(Bytes& in, Entry& e) {
    const std::uint8_t how = in.u8();
    switch (how % 4) {
    case 0:
        return;
    case 1:
    case 2: {
        std::string text;
        const auto piece = in.take(in.u8() % 48);
        text.assign(piece.begin(), piece.end());
        if (how % 16 == 2) // past the 1023 bytes a name may have
            text = std::string(1000 + in.u8() % 48, 'n') + text;
        e.value.ref = velk::fuzz::make_string(text);
        if (e.value.ref == nullptr)
            return; // not UTF-8: no string, no entry
        e.present = true;
        if (text.size() <= 1023)
            e.name = std::string(text.c_str()); // up to the first NUL
        return;
    }
    default:
        e.value.ref = velk::fuzz::make_number(7);
        e.present = true;
        return;
    }
}

void data_entry(Bytes& in, Entry& e, const std::vector<std::uint8_t>& own) {
    const std::uint8_t how = in.u8();
    if (how % 8 == 0)
        return;
    e.present = true;
    if (how % 8 == 1) {
        e.value.ref = velk::fuzz::make_string("VELK");
        return;
    }
    if (how % 8 == 2) {
        e.value.ref = velk::fuzz::make_number(1);
        return;
    }
    e.data = state_bytes(in, own);
    e.value.ref = make_data(*e.data);
}

std::vector<float> values_of(const AuUnit& unit) {
    std::vector<float> values;
    for (std::size_t i = 0; i < AU_PARAMS; ++i)
        values.push_back(unit.parameter(static_cast<AudioUnitParameterID>(i * 128)));
    return values;
}

bool same_bits(float a, float b) {
    return std::bit_cast<std::uint32_t>(a) == std::bit_cast<std::uint32_t>(b);
}

int heard = 0;

void listener(void*, AudioUnit, AudioUnitPropertyID, AudioUnitScope, AudioUnitElement) {
    ++heard;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Bytes in({data, size});
    const AuUnit unit;
    velk::ParamSet mirror =
        velk::ParamSet::with_channels(halvex::param_table(), halvex::CHANNEL_CAPACITY);

    // A few values and a present preset to restore over.
    for (std::size_t n = in.u8() % 4; n > 0; --n) {
        const auto id = static_cast<AudioUnitParameterID>(in.u8() % (AU_PARAMS - 1) * 128);
        static_cast<void>(unit.set_parameter(id, kAudioUnitScope_Global, 0,
                                             in.pick(VALUES, [](Bytes& b) { return b.f32(); }), 0));
    }
    const AUPreset preset{static_cast<SInt32>(in.u8()), CFSTR("Before")};
    VELK_FUZZ_CHECK(unit.set(kAudioUnitProperty_PresentPreset, preset) == noErr);

    const std::vector<float> before = values_of(unit);
    const auto [number, old_name] = unit.present_preset();
    std::vector<std::uint8_t> own;
    {
        const Ref info(unit.class_info());
        own = velk::fuzz::class_info_data(static_cast<CFDictionaryRef>(info.ref));
    }
    VELK_FUZZ_CHECK(velk::state::load(mirror, own));

    // The value handed to the set.
    const std::uint8_t shape = in.u8();
    Ref top;
    Entry entries[6];
    const char* const keys[6] = {"version", "type", "subtype", "manufacturer", "name", "data"};
    const bool dictionary = shape % 8 >= 3;
    switch (shape % 8) {
    case 0:
        break; // null
    case 1:
        top.ref = velk::fuzz::make_string("ClassInfo");
        break;
    case 2:
        top.ref = make_data(own);
        break;
    default: {
        CFMutableDictionaryRef dict = CFDictionaryCreateMutable(
            nullptr, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
        top.ref = dict;
        const std::uint8_t version = in.u8();
        if (version % 2) {
            entries[0].value.ref = velk::fuzz::make_number(static_cast<std::int32_t>(version / 2));
            entries[0].present = true;
        }
        identity_entry(in, entries[1], velk::fuzz::HALVEX_DESC.componentType);
        identity_entry(in, entries[2], velk::fuzz::HALVEX_DESC.componentSubType);
        identity_entry(in, entries[3], velk::fuzz::HALVEX_DESC.componentManufacturer);
        name_entry(in, entries[4]);
        data_entry(in, entries[5], own);
        for (std::size_t k = 0; k < 6; ++k) {
            if (entries[k].present && entries[k].value.ref != nullptr) {
                const Ref key(velk::fuzz::make_string(keys[k]));
                CFDictionarySetValue(dict, key.ref, entries[k].value.ref);
            }
        }
        break;
    }
    }

    // The call, right or wrong in one of its arguments.
    AudioUnitScope scope = kAudioUnitScope_Global;
    AudioUnitElement element = 0;
    UInt32 bytes = sizeof(CFPropertyListRef);
    bool null_data = false;
    OSStatus call_error = noErr;
    switch (in.u8() % 16) {
    case 0:
        scope = 1 + in.u8() % 4;
        call_error = kAudioUnitErr_InvalidScope;
        break;
    case 1:
        element = 1 + in.u8();
        call_error = kAudioUnitErr_InvalidElement;
        break;
    case 2:
        bytes = in.u8() % 2 ? 7 : 9;
        call_error = kAudioUnitErr_InvalidPropertyValue;
        break;
    case 3:
        null_data = true;
        call_error = kAudioUnitErr_InvalidPropertyValue;
        break;
    default:
        break;
    }

    // The prediction.
    OSStatus expected = call_error;
    std::string expected_name = old_name;
    bool loads = false;
    if (expected == noErr) {
        const bool identity =
            dictionary && entries[1].matches && entries[2].matches && entries[3].matches;
        if (!identity) {
            expected = kAudioUnitErr_InvalidPropertyValue;
        } else {
            if (entries[4].name)
                expected_name = *entries[4].name;
            if (entries[5].present) {
                loads = entries[5].data && velk::state::load(mirror, *entries[5].data);
                if (!loads)
                    expected = kAudioUnitErr_InvalidPropertyValue;
            }
        }
    }

    heard = 0;
    VELK_FUZZ_CHECK(unit.add_listener(kAudioUnitProperty_ClassInfo, listener, nullptr) == noErr);
    const CFPropertyListRef value = top.ref;
    const OSStatus status = unit.set_property(kAudioUnitProperty_ClassInfo, scope, element,
                                              null_data ? nullptr : &value, bytes);
    VELK_FUZZ_CHECK(status == expected);
    VELK_FUZZ_CHECK(heard == (status == noErr ? 1 : 0));

    const std::vector<float> after = values_of(unit);
    for (std::size_t i = 0; i < AU_PARAMS; ++i) {
        if (i * 128 == AU_GR || !loads)
            VELK_FUZZ_CHECK(same_bits(after[i], before[i]));
        else
            VELK_FUZZ_CHECK(same_bits(after[i], mirror.at(i).get()));
    }
    const auto [number_after, name_after] = unit.present_preset();
    VELK_FUZZ_CHECK(number_after == number);
    VELK_FUZZ_CHECK(name_after == expected_name);
    if (status != noErr)
        return 0;

    // Read back: the unit's ClassInfo now carries the mirror's state and the new name,
    // and restores both on a second instance; restoring it on the first changes nothing.
    const Ref info(unit.class_info());
    const auto dict = static_cast<CFDictionaryRef>(info.ref);
    VELK_FUZZ_CHECK(velk::fuzz::class_info_data(dict) == velk::state::save(mirror));
    const auto name = velk::fuzz::text_of(
        static_cast<CFStringRef>(CFDictionaryGetValue(dict, CFSTR("name"))));
    VELK_FUZZ_CHECK(name && *name == expected_name);

    const AuUnit other;
    VELK_FUZZ_CHECK(other.set(kAudioUnitProperty_ClassInfo, info.ref) == noErr);
    const std::vector<float> restored = values_of(other);
    for (std::size_t i = 0; i < AU_PARAMS; ++i) {
        if (i * 128 != AU_GR)
            VELK_FUZZ_CHECK(same_bits(restored[i], after[i]));
    }
    VELK_FUZZ_CHECK(other.present_preset().second == expected_name);

    VELK_FUZZ_CHECK(unit.set(kAudioUnitProperty_ClassInfo, info.ref) == noErr);
    const std::vector<float> again = values_of(unit);
    for (std::size_t i = 0; i < AU_PARAMS; ++i)
        VELK_FUZZ_CHECK(same_bits(again[i], after[i]));
    return 0;
}
