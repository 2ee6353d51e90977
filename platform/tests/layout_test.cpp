// Compile-time checks only. The stand-in headers pin every record's size and offsets
// themselves; including the adapter's shim checks that it finds them and that its own
// checks agree.
#include "sys/platform.hpp"

namespace {

// The flag combinations the adapter reports.
static_assert((kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked |
               kAudioFormatFlagIsNonInterleaved) == 0x29);
static_assert((kAudioUnitParameterFlag_IsReadable | kAudioUnitParameterFlag_IsWritable |
               kAudioUnitParameterFlag_HasCFNameString | kAudioUnitParameterFlag_CFNameRelease) ==
              0xC8000010u);
static_assert((kAudioUnitParameterFlag_IsReadable | kAudioUnitParameterFlag_HasCFNameString |
               kAudioUnitParameterFlag_MeterReadOnly | kAudioUnitParameterFlag_CFNameRelease) ==
              0x48008010u);

// Every selector fits Lookup's signed 16-bit argument.
static_assert(kMusicDeviceSysExSelect <= 0x7FFF);

} // namespace
