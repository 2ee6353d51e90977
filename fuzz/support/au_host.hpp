#pragma once

// The Audio Unit targets' host: one instance of the compressor made by halvex_au's
// HalvexFactory (its export unit is linked in) and reached only the way a host does,
// through the interface record, `Lookup` and the selectors' fixed prototypes.

#include <AudioToolbox/AudioToolbox.h>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

extern "C" AudioComponentPlugInInterface* HalvexFactory(const AudioComponentDescription* desc) noexcept;

namespace velk::fuzz {

/// The component description of halvex_au's registration: aufx, Hlvx, Orvn.
inline constexpr AudioComponentDescription HALVEX_DESC{0x61756678u, 0x486C7678u, 0x4F72766Eu, 0,
                                                       0};

/// Host ids of the compressor's nine parameters: index × 128.
inline constexpr std::size_t AU_PARAMS = 9;
inline constexpr AudioUnitParameterID AU_GR = 8 * 128;

/// An instance of the compressor, opened with its own handle and closed when it goes.
class AuUnit {
public:
    AuUnit();
    ~AuUnit();
    AuUnit(const AuUnit&) = delete;
    AuUnit& operator=(const AuUnit&) = delete;

    AudioComponentPlugInInterface* iface() const noexcept { return iface_; }
    AudioUnit handle() const noexcept { return reinterpret_cast<AudioUnit>(iface_); }

    OSStatus initialize() const;
    OSStatus uninitialize() const;
    OSStatus reset(AudioUnitScope scope, AudioUnitElement element) const;
    OSStatus property_info(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
                           UInt32* size, Boolean* writable) const;
    OSStatus get_property(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
                          void* data, UInt32* size) const;
    OSStatus set_property(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
                          const void* data, UInt32 size) const;
    OSStatus get_parameter(AudioUnitParameterID id, AudioUnitScope scope, AudioUnitElement element,
                           AudioUnitParameterValue* out) const;
    OSStatus set_parameter(AudioUnitParameterID id, AudioUnitScope scope, AudioUnitElement element,
                           AudioUnitParameterValue value, UInt32 offset) const;
    OSStatus schedule(const AudioUnitParameterEvent* events, UInt32 count) const;
    OSStatus render(AudioUnitRenderActionFlags* flags, const AudioTimeStamp* time_stamp, UInt32 bus,
                    UInt32 frames, AudioBufferList* buffers) const;
    OSStatus add_notify(AURenderCallback proc, void* ref) const;
    OSStatus remove_notify(AURenderCallback proc, void* ref) const;
    OSStatus add_listener(AudioUnitPropertyID id, AudioUnitPropertyListenerProc proc,
                          void* user_data) const;
    OSStatus remove_listener(AudioUnitPropertyID id, AudioUnitPropertyListenerProc proc) const;
    OSStatus remove_listener(AudioUnitPropertyID id, AudioUnitPropertyListenerProc proc,
                             void* user_data) const;

    /// Global-scope, element-0 shortcuts for properties of a fixed size.
    template <class T>
    OSStatus get(AudioUnitPropertyID id, T& out, AudioUnitScope scope = kAudioUnitScope_Global) const {
        UInt32 size = sizeof(T);
        return get_property(id, scope, 0, &out, &size);
    }
    template <class T>
    OSStatus set(AudioUnitPropertyID id, const T& value,
                 AudioUnitScope scope = kAudioUnitScope_Global) const {
        return set_property(id, scope, 0, &value, sizeof(T));
    }

    /// The value of a listed parameter (checked to be readable).
    float parameter(AudioUnitParameterID id) const;
    /// The present preset's number and name (checked to be readable).
    std::pair<SInt32, std::string> present_preset() const;
    /// A new ClassInfo dictionary (checked to be readable); the caller releases it.
    CFDictionaryRef class_info() const;

private:
    AudioComponentMethod method(SInt16 selector) const;

    AudioComponentPlugInInterface* iface_;
};

/// The text of a CoreFoundation string, or nothing for null.
std::optional<std::string> text_of(CFStringRef string);
/// A new string of UTF-8 `text`, or null when the bytes are not UTF-8.
CFStringRef make_string(std::string_view text);
/// A new signed 32-bit number.
CFNumberRef make_number(std::int32_t value);
/// The bytes of the "data" entry of a ClassInfo dictionary (empty when absent).
std::vector<std::uint8_t> class_info_data(CFDictionaryRef dictionary);

} // namespace velk::fuzz
