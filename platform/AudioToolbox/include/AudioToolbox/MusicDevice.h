#pragma once

// Stand-in for the platform's music-device selectors, which instruments answer for MIDI.

#include <AudioToolbox/AUComponent.h>

// NOLINTBEGIN(readability-identifier-naming)
extern "C" {

enum {
    kMusicDeviceMIDIEventSelect = 0x0101,
    kMusicDeviceSysExSelect = 0x0102,
};

typedef OSStatus (*MusicDeviceMIDIEventProc)(void* self, UInt32 inStatus, UInt32 inData1,
                                             UInt32 inData2, UInt32 inOffsetSampleFrame);
typedef OSStatus (*MusicDeviceSysExProc)(void* self, const UInt8* inData, UInt32 inLength);

} // extern "C"
// NOLINTEND(readability-identifier-naming)
