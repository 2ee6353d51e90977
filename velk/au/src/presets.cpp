// Presets: the ClassInfo dictionary, which carries the component's identity, the preset
// name and the saved state of the parameters, and the PresentPreset record.

#include <array>
#include <span>
#include <utility>

#include "instance.hpp"
#include "properties.hpp"
#include "sys/cf.hpp"
#include "velk/core/state.hpp"

namespace velk::au {
namespace {

/// A component code as the signed number a preset stores: the same 32 bits.
std::int32_t code_number(OSType code) noexcept {
    return static_cast<std::int32_t>(code);
}

/// An owned object of any type, for a list of dictionary values.
template <class T>
sys::Owned<CFTypeRef> any(std::unique_ptr<T, sys::Release> object) noexcept {
    return sys::Owned<CFTypeRef>(object.release());
}

} // namespace

OSStatus copy_class_info(Instance& inst, CFPropertyListRef& out) {
    const std::string name = inst.preset_name.with([](const std::string& n) { return n; });
    const std::vector<std::uint8_t> state = state::save(inst.params);

    const std::array<std::pair<CFStringRef, sys::Owned<CFTypeRef>>, 6> entries{{
        {CFSTR("version"), any(sys::make_number(0))},
        {CFSTR("type"), any(sys::make_number(code_number(inst.desc.componentType)))},
        {CFSTR("subtype"), any(sys::make_number(code_number(inst.desc.componentSubType)))},
        {CFSTR("manufacturer"),
         any(sys::make_number(code_number(inst.desc.componentManufacturer)))},
        {CFSTR("name"), any(sys::make_string(name))},
        {CFSTR("data"), any(sys::make_data(state))},
    }};
    sys::Owned<CFMutableDictionaryRef> dictionary(CFDictionaryCreateMutable(
        nullptr, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks));
    if (!dictionary)
        return kAudio_MemFullError;
    for (const auto& [key, value] : entries) {
        if (!value)
            return kAudio_MemFullError;
        // The dictionary retains the value; our reference goes with `entries`.
        CFDictionarySetValue(dictionary.get(), key, value.get());
    }
    out = dictionary.release();
    return noErr;
}

OSStatus apply_class_info(Instance& inst, CFPropertyListRef dictionary) {
    if (!sys::has_type(dictionary, CFDictionaryGetTypeID()))
        return kAudioUnitErr_InvalidPropertyValue;
    const auto dict = static_cast<CFDictionaryRef>(dictionary);

    const std::array<std::pair<CFStringRef, OSType>, 3> identity{{
        {CFSTR("type"), inst.desc.componentType},
        {CFSTR("subtype"), inst.desc.componentSubType},
        {CFSTR("manufacturer"), inst.desc.componentManufacturer},
    }};
    for (const auto& [key, expected] : identity) {
        const auto value = sys::int32_from_cf(CFDictionaryGetValue(dict, key));
        if (!value || *value != code_number(expected))
            return kAudioUnitErr_InvalidPropertyValue;
    }

    // The name is taken before the data is examined: a preset whose data is refused
    // still renames the current preset.
    if (auto name = sys::string_from_cf(CFDictionaryGetValue(dict, CFSTR("name"))))
        inst.preset_name.with([&](std::string& current) { current = std::move(*name); });

    const CFTypeRef data = CFDictionaryGetValue(dict, CFSTR("data"));
    if (data == nullptr)
        return noErr;
    if (!sys::has_type(data, CFDataGetTypeID()))
        return kAudioUnitErr_InvalidPropertyValue;
    const auto bytes = static_cast<CFDataRef>(data);
    const CFIndex length = CFDataGetLength(bytes);
    const std::span<const std::uint8_t> state(CFDataGetBytePtr(bytes),
                                              length > 0 ? static_cast<std::size_t>(length) : 0);
    if (!state::load(inst.params, state))
        return kAudioUnitErr_InvalidPropertyValue;
    return noErr;
}

OSStatus copy_present_preset(Instance& inst, AUPreset& out) {
    const std::string name = inst.preset_name.with([](const std::string& n) { return n; });
    auto string = sys::make_string(name);
    if (!string)
        return kAudio_MemFullError;
    out.presetNumber = inst.preset_number.get();
    out.presetName = string.release();
    return noErr;
}

void apply_present_preset(Instance& inst, const AUPreset& preset) {
    inst.preset_number.set(preset.presetNumber);
    // Only the name and number change; no preset data is loaded.
    if (auto name = sys::string_from_cf(preset.presetName))
        inst.preset_name.with([&](std::string& current) { current = std::move(*name); });
}

} // namespace velk::au
