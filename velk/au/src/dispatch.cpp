// The selector table behind the interface record's `Lookup`.

#include "entry.hpp"

namespace velk::au {
namespace {

/// An entry point as the generic method type `Lookup` returns; the host casts it back to
/// the selector's own prototype, which `Proc` names, before calling it.
template <class Proc>
AudioComponentMethod method(Proc proc) noexcept {
    return reinterpret_cast<AudioComponentMethod>(proc);
}

} // namespace

AudioComponentMethod au_lookup(SInt16 selector) noexcept {
    switch (selector) {
    case kAudioUnitInitializeSelect:
        return method<AudioUnitInitializeProc>(initialize);
    case kAudioUnitUninitializeSelect:
        return method<AudioUnitUninitializeProc>(uninitialize);
    case kAudioUnitGetPropertyInfoSelect:
        return method<AudioUnitGetPropertyInfoProc>(get_property_info);
    case kAudioUnitGetPropertySelect:
        return method<AudioUnitGetPropertyProc>(get_property);
    case kAudioUnitSetPropertySelect:
        return method<AudioUnitSetPropertyProc>(set_property);
    case kAudioUnitGetParameterSelect:
        return method<AudioUnitGetParameterProc>(get_parameter);
    case kAudioUnitSetParameterSelect:
        return method<AudioUnitSetParameterProc>(set_parameter);
    case kAudioUnitResetSelect:
        return method<AudioUnitResetProc>(reset);
    case kAudioUnitAddPropertyListenerSelect:
        return method<AudioUnitAddPropertyListenerProc>(add_property_listener);
    case kAudioUnitRemovePropertyListenerSelect:
        return method<AudioUnitRemovePropertyListenerProc>(remove_property_listener);
    case kAudioUnitRenderSelect:
        return method<AudioUnitRenderProc>(render);
    case kAudioUnitAddRenderNotifySelect:
        return method<AudioUnitAddRenderNotifyProc>(add_render_notify);
    case kAudioUnitRemoveRenderNotifySelect:
        return method<AudioUnitRemoveRenderNotifyProc>(remove_render_notify);
    case kAudioUnitScheduleParametersSelect:
        return method<AudioUnitScheduleParametersProc>(schedule_parameters);
    case kAudioUnitRemovePropertyListenerWithUserDataSelect:
        return method<AudioUnitRemovePropertyListenerWithUserDataProc>(
            remove_property_listener_with_user_data);
    // Answered for effects too; the entry points themselves refuse.
    case kMusicDeviceMIDIEventSelect:
        return method<MusicDeviceMIDIEventProc>(midi_event);
    case kMusicDeviceSysExSelect:
        return method<MusicDeviceSysExProc>(sysex);
    default:
        return nullptr;
    }
}

} // namespace velk::au
