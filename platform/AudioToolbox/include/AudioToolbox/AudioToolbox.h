#pragma once

// The AudioToolbox stand-in: the Audio Unit (version 2) subset the adapter and its hosts
// use. Off Apple there is no component manager: a host calls a component's factory
// itself, takes the returned interface record as the unit, calls `Open(iface, iface)`,
// reaches every entry point through `Lookup` with `iface` as `self`, and ends with
// `Close(iface)`. `AudioUnitRender` follows the same convention.

#include <AudioToolbox/AUComponent.h>
#include <AudioToolbox/AudioComponent.h>
#include <AudioToolbox/AudioUnitProperties.h>
#include <AudioToolbox/MusicDevice.h>
#include <CoreAudio/CoreAudioTypes.h>
#include <CoreFoundation/CoreFoundation.h>
