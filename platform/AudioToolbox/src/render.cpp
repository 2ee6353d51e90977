#include <AudioToolbox/AUComponent.h>

OSStatus AudioUnitRender(AudioUnit inUnit, AudioUnitRenderActionFlags* ioActionFlags,
                         const AudioTimeStamp* inTimeStamp, UInt32 inOutputBusNumber,
                         UInt32 inNumberFrames, AudioBufferList* ioData) noexcept {
    if (inUnit == nullptr) {
        return kAudio_ParamError;
    }
    // Off Apple a unit handle is its component's interface record.
    const auto* iface = reinterpret_cast<const AudioComponentPlugInInterface*>(inUnit);
    if (iface->Lookup == nullptr) {
        return kAudio_ParamError;
    }
    const AudioComponentMethod method = iface->Lookup(kAudioUnitRenderSelect);
    if (method == nullptr) {
        return kAudio_ParamError;
    }
    const auto render = reinterpret_cast<AudioUnitRenderProc>(method);
    return render(inUnit, ioActionFlags, inTimeStamp, inOutputBusNumber, inNumberFrames, ioData);
}
