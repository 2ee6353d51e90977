#pragma once

// Stand-in for the platform's audio component interface: the factory a component
// exports and the plug-in interface record it returns.

#include <MacTypes.h>
#include <stddef.h>

// NOLINTBEGIN(readability-identifier-naming)
extern "C" {

/// A component's identity: four-character type, subtype and manufacturer codes.
struct AudioComponentDescription {
    OSType componentType;
    OSType componentSubType;
    OSType componentManufacturer;
    UInt32 componentFlags;
    UInt32 componentFlagsMask;
};

/// The host's handle for one component instance.
typedef struct ComponentInstanceRecord* AudioComponentInstance;

/// The generic type `Lookup` returns. The caller casts it back to the selector's own
/// fixed prototype before calling; an entry point is never defined as variadic.
typedef OSStatus (*AudioComponentMethod)(void* self, ...);

/// The record at the start of every instance. Every entry point takes the pointer to
/// this record as `self`.
struct AudioComponentPlugInInterface {
    OSStatus (*Open)(void* self, AudioComponentInstance mInstance);
    OSStatus (*Close)(void* self);
    /// The entry point for a selector, or null.
    AudioComponentMethod (*Lookup)(SInt16 selector);
    void* reserved;
};

/// A component's exported factory: a new instance for the description, or null.
typedef AudioComponentPlugInInterface* (*AudioComponentFactoryFunction)(
    const AudioComponentDescription* inDesc);

} // extern "C"

static_assert(sizeof(AudioComponentDescription) == 20 && alignof(AudioComponentDescription) == 4);
static_assert(offsetof(AudioComponentDescription, componentType) == 0);
static_assert(offsetof(AudioComponentDescription, componentSubType) == 4);
static_assert(offsetof(AudioComponentDescription, componentManufacturer) == 8);
static_assert(offsetof(AudioComponentDescription, componentFlags) == 12);
static_assert(offsetof(AudioComponentDescription, componentFlagsMask) == 16);

static_assert(sizeof(AudioComponentPlugInInterface) == 32);
static_assert(alignof(AudioComponentPlugInInterface) == 8);
static_assert(offsetof(AudioComponentPlugInInterface, Open) == 0);
static_assert(offsetof(AudioComponentPlugInInterface, Close) == 8);
static_assert(offsetof(AudioComponentPlugInInterface, Lookup) == 16);
static_assert(offsetof(AudioComponentPlugInInterface, reserved) == 24);

// NOLINTEND(readability-identifier-naming)
