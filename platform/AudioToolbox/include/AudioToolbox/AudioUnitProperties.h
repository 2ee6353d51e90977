#pragma once

// Stand-in for the platform's Audio Unit property declarations: scopes, property ids,
// the records exchanged through properties, parameter units and flags, and the host
// callbacks.

#include <AudioToolbox/AUComponent.h>
#include <CoreFoundation/CFString.h>
#include <stddef.h>

// NOLINTBEGIN(readability-identifier-naming)
extern "C" {

enum : AudioUnitScope {
    kAudioUnitScope_Global = 0,
    kAudioUnitScope_Input = 1,
    kAudioUnitScope_Output = 2,
    kAudioUnitScope_Group = 3,
    kAudioUnitScope_Part = 4,
};

enum : AudioUnitPropertyID {
    kAudioUnitProperty_ClassInfo = 0,
    kAudioUnitProperty_MakeConnection = 1,
    kAudioUnitProperty_SampleRate = 2,
    kAudioUnitProperty_ParameterList = 3,
    kAudioUnitProperty_ParameterInfo = 4,
    kAudioUnitProperty_StreamFormat = 8,
    kAudioUnitProperty_ElementCount = 11,
    kAudioUnitProperty_Latency = 12,
    kAudioUnitProperty_SupportedNumChannels = 13,
    kAudioUnitProperty_MaximumFramesPerSlice = 14,
    kAudioUnitProperty_ParameterValueStrings = 16,
    kAudioUnitProperty_TailTime = 20,
    kAudioUnitProperty_BypassEffect = 21,
    kAudioUnitProperty_LastRenderError = 22,
    kAudioUnitProperty_SetRenderCallback = 23,
    kAudioUnitProperty_HostCallbacks = 27,
    kAudioUnitProperty_InPlaceProcessing = 29,
    kAudioUnitProperty_ParameterStringFromValue = 33,
    kAudioUnitProperty_ParameterIDName = 34,
    kAudioUnitProperty_PresentPreset = 36,
    kAudioUnitProperty_ParameterValueFromString = 38,
    kAudioUnitProperty_ShouldAllocateBuffer = 51,
};

/// MakeConnection: pull input bus `destInputNumber` from `sourceAudioUnit`'s output.
struct AudioUnitConnection {
    AudioUnit sourceAudioUnit;
    UInt32 sourceOutputNumber;
    UInt32 destInputNumber;
};

/// SetRenderCallback: the host's input callback and its reference value.
struct AURenderCallbackStruct {
    AURenderCallback inputProc;
    void* inputProcRefCon;
};

/// SupportedNumChannels: one supported (input, output) channel pair; -1 means any.
struct AUChannelInfo {
    SInt16 inChannels;
    SInt16 outChannels;
};

/// PresentPreset.
struct AUPreset {
    SInt32 presetNumber;
    CFStringRef presetName;
};

enum AudioUnitParameterUnit : UInt32 {
    kAudioUnitParameterUnit_Generic = 0,
    kAudioUnitParameterUnit_Indexed = 1,
    kAudioUnitParameterUnit_Boolean = 2,
    kAudioUnitParameterUnit_Percent = 3,
    kAudioUnitParameterUnit_Seconds = 4,
    kAudioUnitParameterUnit_Hertz = 8,
    kAudioUnitParameterUnit_Decibels = 13,
    kAudioUnitParameterUnit_Milliseconds = 24,
};

typedef UInt32 AudioUnitParameterOptions;

enum : AudioUnitParameterOptions {
    kAudioUnitParameterFlag_CFNameRelease = 1u << 4,
    kAudioUnitParameterFlag_MeterReadOnly = 1u << 15,
    kAudioUnitParameterFlag_ValuesHaveStrings = 1u << 21,
    kAudioUnitParameterFlag_DisplayLogarithmic = 1u << 22,
    kAudioUnitParameterFlag_HasCFNameString = 1u << 27,
    kAudioUnitParameterFlag_IsReadable = 1u << 30,
    kAudioUnitParameterFlag_IsWritable = 1u << 31,
};

/// ParameterInfo, 104 bytes with gaps after `name`, after `clumpID` and at the end.
struct AudioUnitParameterInfo {
    char name[52];
    CFStringRef unitName;
    UInt32 clumpID;
    CFStringRef cfNameString;
    AudioUnitParameterUnit unit;
    AudioUnitParameterValue minValue;
    AudioUnitParameterValue maxValue;
    AudioUnitParameterValue defaultValue;
    AudioUnitParameterOptions flags;
};

/// ParameterStringFromValue: `inValue` may be null for the current value.
struct AudioUnitParameterStringFromValue {
    AudioUnitParameterID inParamID;
    const AudioUnitParameterValue* inValue;
    CFStringRef outString;
};

/// ParameterValueFromString.
struct AudioUnitParameterValueFromString {
    AudioUnitParameterID inParamID;
    CFStringRef inString;
    AudioUnitParameterValue outValue;
};

enum : SInt32 {
    kAudioUnitParameterName_Full = -1,
};

/// ParameterIDName: the name cut to `inDesiredLength`, or whole for
/// `kAudioUnitParameterName_Full`.
struct AudioUnitParameterNameInfo {
    AudioUnitParameterID inID;
    SInt32 inDesiredLength;
    CFStringRef outName;
};
typedef AudioUnitParameterNameInfo AudioUnitParameterIDName;

// The host's tempo and transport callbacks. Any out pointer may be null.
typedef OSStatus (*HostCallback_GetBeatAndTempo)(void* inHostUserData, Float64* outCurrentBeat,
                                                 Float64* outCurrentTempo);
typedef OSStatus (*HostCallback_GetMusicalTimeLocation)(void* inHostUserData,
                                                        UInt32* outDeltaSampleOffsetToNextBeat,
                                                        Float32* outTimeSig_Numerator,
                                                        UInt32* outTimeSig_Denominator,
                                                        Float64* outCurrentMeasureDownBeat);
typedef OSStatus (*HostCallback_GetTransportState)(void* inHostUserData, Boolean* outIsPlaying,
                                                   Boolean* outTransportStateChanged,
                                                   Float64* outCurrentSampleInTimeLine,
                                                   Boolean* outIsCycling,
                                                   Float64* outCycleStartBeat,
                                                   Float64* outCycleEndBeat);
typedef OSStatus (*HostCallback_GetTransportState2)(
    void* inHostUserData, Boolean* outIsPlaying, Boolean* outIsRecording,
    Boolean* outTransportStateChanged, Float64* outCurrentSampleInTimeLine, Boolean* outIsCycling,
    Float64* outCycleStartBeat, Float64* outCycleEndBeat);

/// HostCallbacks: the host's user data, passed back to each callback, and the callbacks.
struct HostCallbackInfo {
    void* hostUserData;
    HostCallback_GetBeatAndTempo beatAndTempoProc;
    HostCallback_GetMusicalTimeLocation musicalTimeLocationProc;
    HostCallback_GetTransportState transportStateProc;
    HostCallback_GetTransportState2 transportStateProc2;
};

} // extern "C"

static_assert(sizeof(AudioUnitConnection) == 16 && alignof(AudioUnitConnection) == 8);
static_assert(offsetof(AudioUnitConnection, sourceAudioUnit) == 0);
static_assert(offsetof(AudioUnitConnection, sourceOutputNumber) == 8);
static_assert(offsetof(AudioUnitConnection, destInputNumber) == 12);

static_assert(sizeof(AURenderCallbackStruct) == 16 && alignof(AURenderCallbackStruct) == 8);
static_assert(offsetof(AURenderCallbackStruct, inputProc) == 0);
static_assert(offsetof(AURenderCallbackStruct, inputProcRefCon) == 8);

static_assert(sizeof(AUChannelInfo) == 4 && alignof(AUChannelInfo) == 2);
static_assert(offsetof(AUChannelInfo, inChannels) == 0);
static_assert(offsetof(AUChannelInfo, outChannels) == 2);

static_assert(sizeof(AUPreset) == 16 && alignof(AUPreset) == 8);
static_assert(offsetof(AUPreset, presetNumber) == 0);
static_assert(offsetof(AUPreset, presetName) == 8);

static_assert(sizeof(AudioUnitParameterInfo) == 104 && alignof(AudioUnitParameterInfo) == 8);
static_assert(offsetof(AudioUnitParameterInfo, name) == 0);
static_assert(offsetof(AudioUnitParameterInfo, unitName) == 56);
static_assert(offsetof(AudioUnitParameterInfo, clumpID) == 64);
static_assert(offsetof(AudioUnitParameterInfo, cfNameString) == 72);
static_assert(offsetof(AudioUnitParameterInfo, unit) == 80);
static_assert(offsetof(AudioUnitParameterInfo, minValue) == 84);
static_assert(offsetof(AudioUnitParameterInfo, maxValue) == 88);
static_assert(offsetof(AudioUnitParameterInfo, defaultValue) == 92);
static_assert(offsetof(AudioUnitParameterInfo, flags) == 96);

static_assert(sizeof(AudioUnitParameterStringFromValue) == 24);
static_assert(alignof(AudioUnitParameterStringFromValue) == 8);
static_assert(offsetof(AudioUnitParameterStringFromValue, inParamID) == 0);
static_assert(offsetof(AudioUnitParameterStringFromValue, inValue) == 8);
static_assert(offsetof(AudioUnitParameterStringFromValue, outString) == 16);

static_assert(sizeof(AudioUnitParameterValueFromString) == 24);
static_assert(alignof(AudioUnitParameterValueFromString) == 8);
static_assert(offsetof(AudioUnitParameterValueFromString, inParamID) == 0);
static_assert(offsetof(AudioUnitParameterValueFromString, inString) == 8);
static_assert(offsetof(AudioUnitParameterValueFromString, outValue) == 16);

static_assert(sizeof(AudioUnitParameterNameInfo) == 16 && alignof(AudioUnitParameterNameInfo) == 8);
static_assert(offsetof(AudioUnitParameterNameInfo, inID) == 0);
static_assert(offsetof(AudioUnitParameterNameInfo, inDesiredLength) == 4);
static_assert(offsetof(AudioUnitParameterNameInfo, outName) == 8);

static_assert(sizeof(HostCallbackInfo) == 40 && alignof(HostCallbackInfo) == 8);
static_assert(offsetof(HostCallbackInfo, hostUserData) == 0);
static_assert(offsetof(HostCallbackInfo, beatAndTempoProc) == 8);
static_assert(offsetof(HostCallbackInfo, musicalTimeLocationProc) == 16);
static_assert(offsetof(HostCallbackInfo, transportStateProc) == 24);
static_assert(offsetof(HostCallbackInfo, transportStateProc2) == 32);

// NOLINTEND(readability-identifier-naming)
