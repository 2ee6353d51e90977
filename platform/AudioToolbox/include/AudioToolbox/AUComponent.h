#pragma once

// Stand-in for the platform's Audio Unit (version 2) component declarations: selectors,
// status codes, render flags, parameter events, callback and entry-point types, and the
// one imported function, `AudioUnitRender`.

#include <AudioToolbox/AudioComponent.h>
#include <CoreAudio/CoreAudioTypes.h>
#include <CoreFoundation/CFBase.h>
#include <stddef.h>

// NOLINTBEGIN(readability-identifier-naming)
extern "C" {

typedef AudioComponentInstance AudioUnit;

typedef UInt32 AudioUnitPropertyID;
typedef UInt32 AudioUnitScope;
typedef UInt32 AudioUnitElement;
typedef UInt32 AudioUnitParameterID;
typedef Float32 AudioUnitParameterValue;

/// Selectors, the signed 16-bit argument of `Lookup`.
enum {
    kAudioUnitInitializeSelect = 1,
    kAudioUnitUninitializeSelect = 2,
    kAudioUnitGetPropertyInfoSelect = 3,
    kAudioUnitGetPropertySelect = 4,
    kAudioUnitSetPropertySelect = 5,
    kAudioUnitGetParameterSelect = 6,
    kAudioUnitSetParameterSelect = 7,
    kAudioUnitResetSelect = 9,
    kAudioUnitAddPropertyListenerSelect = 10,
    kAudioUnitRemovePropertyListenerSelect = 11,
    kAudioUnitRenderSelect = 14,
    kAudioUnitAddRenderNotifySelect = 15,
    kAudioUnitRemoveRenderNotifySelect = 16,
    kAudioUnitScheduleParametersSelect = 17,
    kAudioUnitRemovePropertyListenerWithUserDataSelect = 18,
};

enum : OSStatus {
    kAudioUnitErr_InvalidProperty = -10879,
    kAudioUnitErr_InvalidParameter = -10878,
    kAudioUnitErr_InvalidElement = -10877,
    kAudioUnitErr_NoConnection = -10876,
    kAudioUnitErr_FailedInitialization = -10875,
    kAudioUnitErr_TooManyFramesToProcess = -10874,
    kAudioUnitErr_FormatNotSupported = -10868,
    kAudioUnitErr_Uninitialized = -10867,
    kAudioUnitErr_InvalidScope = -10866,
    kAudioUnitErr_PropertyNotWritable = -10865,
    kAudioUnitErr_CannotDoInCurrentContext = -10863,
    kAudioUnitErr_InvalidPropertyValue = -10851,
    kAudioUnitErr_PropertyNotInUse = -10850,
    kAudioUnitErr_Initialized = -10849,
};

typedef UInt32 AudioUnitRenderActionFlags;

enum : AudioUnitRenderActionFlags {
    kAudioUnitRenderAction_PreRender = 1u << 2,
    kAudioUnitRenderAction_PostRender = 1u << 3,
    kAudioUnitRenderAction_OutputIsSilence = 1u << 4,
    kAudioUnitRenderAction_PostRenderError = 1u << 8,
};

enum AUParameterEventType : UInt32 {
    kParameterEvent_Immediate = 1,
    kParameterEvent_Ramped = 2,
};

/// A scheduled parameter change: an immediate value or a ramp, 32 bytes, 4-byte aligned.
struct AudioUnitParameterEvent {
    AudioUnitScope scope;
    AudioUnitElement element;
    AudioUnitParameterID parameter;
    AUParameterEventType eventType;
    union {
        struct {
            SInt32 startBufferOffset;
            UInt32 durationInFrames;
            AudioUnitParameterValue startValue;
            AudioUnitParameterValue endValue;
        } ramp;
        struct {
            UInt32 bufferOffset;
            AudioUnitParameterValue value;
        } immediate;
    } eventValues;
};

/// The host's input callback and render notifications. `ioData` may be null.
typedef OSStatus (*AURenderCallback)(void* inRefCon, AudioUnitRenderActionFlags* ioActionFlags,
                                     const AudioTimeStamp* inTimeStamp, UInt32 inBusNumber,
                                     UInt32 inNumberFrames, AudioBufferList* ioData);

/// A property listener; the one callback that returns nothing.
typedef void (*AudioUnitPropertyListenerProc)(void* inRefCon, AudioUnit inUnit,
                                              AudioUnitPropertyID inID, AudioUnitScope inScope,
                                              AudioUnitElement inElement);

// The fixed prototypes of the entry points, by selector. `self` is the instance pointer,
// which is also the interface pointer.
typedef OSStatus (*AudioUnitInitializeProc)(void* self);
typedef OSStatus (*AudioUnitUninitializeProc)(void* self);
typedef OSStatus (*AudioUnitGetPropertyInfoProc)(void* self, AudioUnitPropertyID prop,
                                                 AudioUnitScope scope, AudioUnitElement elem,
                                                 UInt32* outDataSize, Boolean* outWritable);
typedef OSStatus (*AudioUnitGetPropertyProc)(void* self, AudioUnitPropertyID inID,
                                             AudioUnitScope inScope, AudioUnitElement inElement,
                                             void* outData, UInt32* ioDataSize);
typedef OSStatus (*AudioUnitSetPropertyProc)(void* self, AudioUnitPropertyID inID,
                                             AudioUnitScope inScope, AudioUnitElement inElement,
                                             const void* inData, UInt32 inDataSize);
typedef OSStatus (*AudioUnitGetParameterProc)(void* self, AudioUnitParameterID inID,
                                              AudioUnitScope inScope, AudioUnitElement inElement,
                                              AudioUnitParameterValue* outValue);
typedef OSStatus (*AudioUnitSetParameterProc)(void* self, AudioUnitParameterID inID,
                                              AudioUnitScope inScope, AudioUnitElement inElement,
                                              AudioUnitParameterValue inValue,
                                              UInt32 inBufferOffsetInFrames);
typedef OSStatus (*AudioUnitResetProc)(void* self, AudioUnitScope inScope,
                                       AudioUnitElement inElement);
typedef OSStatus (*AudioUnitAddPropertyListenerProc)(void* self, AudioUnitPropertyID prop,
                                                     AudioUnitPropertyListenerProc proc,
                                                     void* userData);
typedef OSStatus (*AudioUnitRemovePropertyListenerProc)(void* self, AudioUnitPropertyID prop,
                                                        AudioUnitPropertyListenerProc proc);
typedef OSStatus (*AudioUnitRenderProc)(void* self, AudioUnitRenderActionFlags* ioActionFlags,
                                        const AudioTimeStamp* inTimeStamp, UInt32 inOutputBusNumber,
                                        UInt32 inNumberFrames, AudioBufferList* ioData);
typedef OSStatus (*AudioUnitAddRenderNotifyProc)(void* self, AURenderCallback proc, void* userData);
typedef OSStatus (*AudioUnitRemoveRenderNotifyProc)(void* self, AURenderCallback proc,
                                                    void* userData);
typedef OSStatus (*AudioUnitScheduleParametersProc)(void* self,
                                                    const AudioUnitParameterEvent* inParameterEvent,
                                                    UInt32 inNumParamEvents);
typedef OSStatus (*AudioUnitRemovePropertyListenerWithUserDataProc)(
    void* self, AudioUnitPropertyID prop, AudioUnitPropertyListenerProc proc, void* userData);

/// Renders `inUnit`, typically an upstream unit, into `ioData` through the unit's own
/// render entry point: `inUnit` is its interface record, whose `Lookup` gives the entry
/// for `kAudioUnitRenderSelect`, called with `inUnit` as `self` and the other arguments
/// unchanged. Returns its status, or `kAudio_ParamError` for a null unit, a null
/// `Lookup` or no render entry point. Runs on the calling (audio) thread; no locks.
CF_EXPORT OSStatus AudioUnitRender(AudioUnit inUnit, AudioUnitRenderActionFlags* ioActionFlags,
                                   const AudioTimeStamp* inTimeStamp, UInt32 inOutputBusNumber,
                                   UInt32 inNumberFrames, AudioBufferList* ioData) noexcept;

} // extern "C"

static_assert(sizeof(AudioUnitParameterEvent) == 32 && alignof(AudioUnitParameterEvent) == 4);
static_assert(offsetof(AudioUnitParameterEvent, scope) == 0);
static_assert(offsetof(AudioUnitParameterEvent, element) == 4);
static_assert(offsetof(AudioUnitParameterEvent, parameter) == 8);
static_assert(offsetof(AudioUnitParameterEvent, eventType) == 12);
static_assert(offsetof(AudioUnitParameterEvent, eventValues) == 16);
static_assert(offsetof(AudioUnitParameterEvent, eventValues.ramp.startBufferOffset) == 16);
static_assert(offsetof(AudioUnitParameterEvent, eventValues.ramp.durationInFrames) == 20);
static_assert(offsetof(AudioUnitParameterEvent, eventValues.ramp.startValue) == 24);
static_assert(offsetof(AudioUnitParameterEvent, eventValues.ramp.endValue) == 28);
static_assert(offsetof(AudioUnitParameterEvent, eventValues.immediate.bufferOffset) == 16);
static_assert(offsetof(AudioUnitParameterEvent, eventValues.immediate.value) == 20);

// NOLINTEND(readability-identifier-naming)
