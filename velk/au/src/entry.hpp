#pragma once

#include <new>
#include <type_traits>

#include "sys/platform.hpp"

// The entry points the host reaches through the interface record and `au_lookup`. Each
// has exactly the fixed prototype of its selector (never variadic), takes the instance
// pointer as `self`, checks every pointer, size and count it is handed, and returns an
// OSStatus without letting an exception escape.
namespace velk::au {

// Interface record and life cycle (main thread).
OSStatus au_open(void* self, AudioComponentInstance component) noexcept;
OSStatus au_close(void* self) noexcept;
AudioComponentMethod au_lookup(SInt16 selector) noexcept;
OSStatus initialize(void* self) noexcept;
OSStatus uninitialize(void* self) noexcept;
OSStatus reset(void* self, AudioUnitScope scope, AudioUnitElement element) noexcept;

// Rendering (audio thread) and what feeds it.
OSStatus render(void* self, AudioUnitRenderActionFlags* action_flags,
                const AudioTimeStamp* time_stamp, UInt32 bus, UInt32 frames,
                AudioBufferList* buffers) noexcept;
OSStatus add_render_notify(void* self, AURenderCallback proc, void* ref) noexcept;
OSStatus remove_render_notify(void* self, AURenderCallback proc, void* ref) noexcept;
OSStatus midi_event(void* self, UInt32 status, UInt32 data1, UInt32 data2, UInt32 offset) noexcept;
OSStatus sysex(void* self, const UInt8* data, UInt32 length) noexcept;

// Parameters (any thread) and property listeners (main thread).
OSStatus get_parameter(void* self, AudioUnitParameterID id, AudioUnitScope scope,
                       AudioUnitElement element, AudioUnitParameterValue* value_out) noexcept;
OSStatus set_parameter(void* self, AudioUnitParameterID id, AudioUnitScope scope,
                       AudioUnitElement element, AudioUnitParameterValue value,
                       UInt32 offset) noexcept;
OSStatus schedule_parameters(void* self, const AudioUnitParameterEvent* events,
                             UInt32 count) noexcept;
OSStatus add_property_listener(void* self, AudioUnitPropertyID property,
                               AudioUnitPropertyListenerProc proc, void* user_data) noexcept;
OSStatus remove_property_listener(void* self, AudioUnitPropertyID property,
                                  AudioUnitPropertyListenerProc proc) noexcept;
OSStatus remove_property_listener_with_user_data(void* self, AudioUnitPropertyID property,
                                                 AudioUnitPropertyListenerProc proc,
                                                 void* user_data) noexcept;

// Properties (main thread).
OSStatus get_property_info(void* self, AudioUnitPropertyID property, AudioUnitScope scope,
                           AudioUnitElement element, UInt32* size_out,
                           Boolean* writable_out) noexcept;
OSStatus get_property(void* self, AudioUnitPropertyID property, AudioUnitScope scope,
                      AudioUnitElement element, void* data, UInt32* size_in_out) noexcept;
OSStatus set_property(void* self, AudioUnitPropertyID property, AudioUnitScope scope,
                      AudioUnitElement element, const void* data, UInt32 size) noexcept;

/// Runs a main-thread entry point's body, turning an escaping exception into a status:
/// `kAudio_MemFullError` when memory ran out, `kAudioUnitErr_CannotDoInCurrentContext`
/// for anything else (a lock that could not be taken).
template <class F>
OSStatus contained(F&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return kAudio_MemFullError;
    } catch (...) {
        return kAudioUnitErr_CannotDoInCurrentContext;
    }
}

// Each entry point must convert to its selector's prototype; a mismatch would read its
// arguments from the wrong place.
static_assert(std::is_convertible_v<decltype(&initialize), AudioUnitInitializeProc>);
static_assert(std::is_convertible_v<decltype(&uninitialize), AudioUnitUninitializeProc>);
static_assert(std::is_convertible_v<decltype(&get_property_info), AudioUnitGetPropertyInfoProc>);
static_assert(std::is_convertible_v<decltype(&get_property), AudioUnitGetPropertyProc>);
static_assert(std::is_convertible_v<decltype(&set_property), AudioUnitSetPropertyProc>);
static_assert(std::is_convertible_v<decltype(&get_parameter), AudioUnitGetParameterProc>);
static_assert(std::is_convertible_v<decltype(&set_parameter), AudioUnitSetParameterProc>);
static_assert(std::is_convertible_v<decltype(&reset), AudioUnitResetProc>);
static_assert(
    std::is_convertible_v<decltype(&add_property_listener), AudioUnitAddPropertyListenerProc>);
static_assert(std::is_convertible_v<decltype(&remove_property_listener),
                                    AudioUnitRemovePropertyListenerProc>);
static_assert(std::is_convertible_v<decltype(&render), AudioUnitRenderProc>);
static_assert(std::is_convertible_v<decltype(&add_render_notify), AudioUnitAddRenderNotifyProc>);
static_assert(
    std::is_convertible_v<decltype(&remove_render_notify), AudioUnitRemoveRenderNotifyProc>);
static_assert(
    std::is_convertible_v<decltype(&schedule_parameters), AudioUnitScheduleParametersProc>);
static_assert(std::is_convertible_v<decltype(&remove_property_listener_with_user_data),
                                    AudioUnitRemovePropertyListenerWithUserDataProc>);
static_assert(std::is_convertible_v<decltype(&midi_event), MusicDeviceMIDIEventProc>);
static_assert(std::is_convertible_v<decltype(&sysex), MusicDeviceSysExProc>);

} // namespace velk::au
