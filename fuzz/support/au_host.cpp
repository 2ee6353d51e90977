#include "support/au_host.hpp"

#include <cmath>

#include "support/check.hpp"

namespace velk::fuzz {

AuUnit::AuUnit() : iface_(HalvexFactory(&HALVEX_DESC)) {
    VELK_FUZZ_CHECK(iface_ != nullptr);
    VELK_FUZZ_CHECK(iface_->Open(iface_, handle()) == noErr);
}

AuUnit::~AuUnit() {
    iface_->Close(iface_);
}

AudioComponentMethod AuUnit::method(SInt16 selector) const {
    const AudioComponentMethod m = iface_->Lookup(selector);
    VELK_FUZZ_CHECK(m != nullptr);
    return m;
}

OSStatus AuUnit::initialize() const {
    return reinterpret_cast<AudioUnitInitializeProc>(method(kAudioUnitInitializeSelect))(iface_);
}

OSStatus AuUnit::uninitialize() const {
    return reinterpret_cast<AudioUnitUninitializeProc>(method(kAudioUnitUninitializeSelect))(
        iface_);
}

OSStatus AuUnit::reset(AudioUnitScope scope, AudioUnitElement element) const {
    return reinterpret_cast<AudioUnitResetProc>(method(kAudioUnitResetSelect))(iface_, scope,
                                                                               element);
}

OSStatus AuUnit::property_info(AudioUnitPropertyID id, AudioUnitScope scope,
                               AudioUnitElement element, UInt32* size, Boolean* writable) const {
    return reinterpret_cast<AudioUnitGetPropertyInfoProc>(method(kAudioUnitGetPropertyInfoSelect))(
        iface_, id, scope, element, size, writable);
}

OSStatus AuUnit::get_property(AudioUnitPropertyID id, AudioUnitScope scope,
                              AudioUnitElement element, void* data, UInt32* size) const {
    return reinterpret_cast<AudioUnitGetPropertyProc>(method(kAudioUnitGetPropertySelect))(
        iface_, id, scope, element, data, size);
}

OSStatus AuUnit::set_property(AudioUnitPropertyID id, AudioUnitScope scope,
                              AudioUnitElement element, const void* data, UInt32 size) const {
    return reinterpret_cast<AudioUnitSetPropertyProc>(method(kAudioUnitSetPropertySelect))(
        iface_, id, scope, element, data, size);
}

OSStatus AuUnit::get_parameter(AudioUnitParameterID id, AudioUnitScope scope,
                               AudioUnitElement element, AudioUnitParameterValue* out) const {
    return reinterpret_cast<AudioUnitGetParameterProc>(method(kAudioUnitGetParameterSelect))(
        iface_, id, scope, element, out);
}

OSStatus AuUnit::set_parameter(AudioUnitParameterID id, AudioUnitScope scope,
                               AudioUnitElement element, AudioUnitParameterValue value,
                               UInt32 offset) const {
    return reinterpret_cast<AudioUnitSetParameterProc>(method(kAudioUnitSetParameterSelect))(
        iface_, id, scope, element, value, offset);
}

OSStatus AuUnit::schedule(const AudioUnitParameterEvent* events, UInt32 count) const {
    return reinterpret_cast<AudioUnitScheduleParametersProc>(
        method(kAudioUnitScheduleParametersSelect))(iface_, events, count);
}

OSStatus AuUnit::render(AudioUnitRenderActionFlags* flags, const AudioTimeStamp* time_stamp,
                        UInt32 bus, UInt32 frames, AudioBufferList* buffers) const {
    return reinterpret_cast<AudioUnitRenderProc>(method(kAudioUnitRenderSelect))(
        iface_, flags, time_stamp, bus, frames, buffers);
}

OSStatus AuUnit::add_notify(AURenderCallback proc, void* ref) const {
    return reinterpret_cast<AudioUnitAddRenderNotifyProc>(method(kAudioUnitAddRenderNotifySelect))(
        iface_, proc, ref);
}

OSStatus AuUnit::remove_notify(AURenderCallback proc, void* ref) const {
    return reinterpret_cast<AudioUnitRemoveRenderNotifyProc>(
        method(kAudioUnitRemoveRenderNotifySelect))(iface_, proc, ref);
}

OSStatus AuUnit::add_listener(AudioUnitPropertyID id, AudioUnitPropertyListenerProc proc,
                              void* user_data) const {
    return reinterpret_cast<AudioUnitAddPropertyListenerProc>(
        method(kAudioUnitAddPropertyListenerSelect))(iface_, id, proc, user_data);
}

OSStatus AuUnit::remove_listener(AudioUnitPropertyID id,
                                 AudioUnitPropertyListenerProc proc) const {
    return reinterpret_cast<AudioUnitRemovePropertyListenerProc>(
        method(kAudioUnitRemovePropertyListenerSelect))(iface_, id, proc);
}

OSStatus AuUnit::remove_listener(AudioUnitPropertyID id, AudioUnitPropertyListenerProc proc,
                                 void* user_data) const {
    return reinterpret_cast<AudioUnitRemovePropertyListenerWithUserDataProc>(
        method(kAudioUnitRemovePropertyListenerWithUserDataSelect))(iface_, id, proc, user_data);
}

float AuUnit::parameter(AudioUnitParameterID id) const {
    float value = std::nanf("");
    VELK_FUZZ_CHECK(get_parameter(id, kAudioUnitScope_Global, 0, &value) == noErr);
    return value;
}

std::pair<SInt32, std::string> AuUnit::present_preset() const {
    AUPreset preset{};
    VELK_FUZZ_CHECK(get(kAudioUnitProperty_PresentPreset, preset) == noErr);
    const auto name = text_of(preset.presetName);
    VELK_FUZZ_CHECK(name.has_value());
    CFRelease(preset.presetName);
    return {preset.presetNumber, *name};
}

CFDictionaryRef AuUnit::class_info() const {
    CFPropertyListRef info = nullptr;
    VELK_FUZZ_CHECK(get(kAudioUnitProperty_ClassInfo, info) == noErr);
    VELK_FUZZ_CHECK(info != nullptr && CFGetTypeID(info) == CFDictionaryGetTypeID());
    return static_cast<CFDictionaryRef>(info);
}

std::optional<std::string> text_of(CFStringRef string) {
    if (string == nullptr)
        return std::nullopt;
    std::vector<char> buffer(
        static_cast<std::size_t>(
            CFStringGetMaximumSizeForEncoding(CFStringGetLength(string), kCFStringEncodingUTF8)) +
        1);
    VELK_FUZZ_CHECK(CFStringGetCString(string, buffer.data(), static_cast<CFIndex>(buffer.size()),
                                       kCFStringEncodingUTF8));
    return std::string(buffer.data());
}

CFStringRef make_string(std::string_view text) {
    return CFStringCreateWithBytes(nullptr, reinterpret_cast<const UInt8*>(text.data()),
                                   static_cast<CFIndex>(text.size()), kCFStringEncodingUTF8, 0);
}

CFNumberRef make_number(std::int32_t value) {
    return CFNumberCreate(nullptr, kCFNumberSInt32Type, &value);
}

std::vector<std::uint8_t> class_info_data(CFDictionaryRef dictionary) {
    const void* data = CFDictionaryGetValue(dictionary, CFSTR("data"));
    if (data == nullptr || CFGetTypeID(data) != CFDataGetTypeID())
        return {};
    const auto bytes = static_cast<CFDataRef>(data);
    const UInt8* at = CFDataGetBytePtr(bytes);
    return {at, at + CFDataGetLength(bytes)};
}

} // namespace velk::fuzz
