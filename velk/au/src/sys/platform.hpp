#pragma once

// The platform declarations the Audio Unit adapter uses. On Apple these headers are the
// system's AudioToolbox and CoreFoundation frameworks; elsewhere the stand-in libraries
// under platform/ answer to the same paths with the same names, values and layouts, so
// the adapter's source is the same on both.

#include <AudioToolbox/AUComponent.h>
#include <AudioToolbox/AudioComponent.h>
#include <AudioToolbox/AudioUnitProperties.h>
#include <AudioToolbox/MusicDevice.h>
#include <CoreFoundation/CoreFoundation.h>
#include <cstddef>

// The layouts the adapter relies on for LP64, checked against whichever headers were
// found; on Apple this checks the system's headers.
static_assert(sizeof(AudioComponentDescription) == 20);
static_assert(sizeof(AudioComponentPlugInInterface) == 32);
static_assert(offsetof(AudioComponentPlugInInterface, Lookup) == 16);
static_assert(sizeof(AudioBuffer) == 16);
static_assert(offsetof(AudioBufferList, mBuffers) == 8);
static_assert(sizeof(AudioTimeStamp) == 64 && offsetof(AudioTimeStamp, mFlags) == 56);
static_assert(sizeof(AudioStreamBasicDescription) == 40);
static_assert(sizeof(AudioUnitConnection) == 16);
static_assert(sizeof(AURenderCallbackStruct) == 16);
static_assert(sizeof(HostCallbackInfo) == 40);
static_assert(offsetof(HostCallbackInfo, transportStateProc2) == 32);
static_assert(sizeof(AUChannelInfo) == 4);
static_assert(sizeof(AUPreset) == 16 && offsetof(AUPreset, presetName) == 8);
static_assert(sizeof(AudioUnitParameterInfo) == 104);
static_assert(offsetof(AudioUnitParameterInfo, unitName) == 56);
static_assert(offsetof(AudioUnitParameterInfo, cfNameString) == 72);
static_assert(offsetof(AudioUnitParameterInfo, flags) == 96);
static_assert(sizeof(AudioUnitParameterEvent) == 32);
static_assert(offsetof(AudioUnitParameterEvent, eventValues.immediate.value) == 20);
static_assert(offsetof(AudioUnitParameterEvent, eventValues.ramp.endValue) == 28);
static_assert(sizeof(AudioUnitParameterStringFromValue) == 24);
static_assert(offsetof(AudioUnitParameterStringFromValue, inValue) == 8);
static_assert(sizeof(AudioUnitParameterValueFromString) == 24);
static_assert(offsetof(AudioUnitParameterValueFromString, outValue) == 16);
static_assert(sizeof(AudioUnitParameterNameInfo) == 16);

// Arguments whose width the platform fixes.
static_assert(sizeof(OSStatus) == 4 && sizeof(Boolean) == 1 && sizeof(CFIndex) == 8);
static_assert(sizeof(CFNumberType) == sizeof(CFIndex));
