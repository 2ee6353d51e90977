#pragma once

// Stand-in for the platform's audio base types, for builds off Apple. Declared by hand
// with the platform's names and values; layouts pinned for LP64.

#include <MacTypes.h>
#include <stddef.h>

// NOLINTBEGIN(readability-identifier-naming)
extern "C" {

enum : OSStatus {
    kAudio_ParamError = -50,
    kAudio_MemFullError = -108,
};

typedef UInt32 AudioFormatID;
typedef UInt32 AudioFormatFlags;

enum : AudioFormatID {
    kAudioFormatLinearPCM = 0x6C70636D, // 'lpcm'
};

enum : AudioFormatFlags {
    kAudioFormatFlagIsFloat = 1u << 0,
    kAudioFormatFlagIsBigEndian = 1u << 1,
    kAudioFormatFlagIsSignedInteger = 1u << 2,
    kAudioFormatFlagIsPacked = 1u << 3,
    kAudioFormatFlagIsAlignedHigh = 1u << 4,
    kAudioFormatFlagIsNonInterleaved = 1u << 5,
    kAudioFormatFlagIsNonMixable = 1u << 6,
};

/// One block of audio data: for non-interleaved audio, one channel.
struct AudioBuffer {
    UInt32 mNumberChannels;
    UInt32 mDataByteSize;
    void* mData;
};

/// `mNumberBuffers` buffers; the array is declared with one element and indexed past it.
/// A list of n buffers takes 8 + 16 n bytes.
struct AudioBufferList {
    UInt32 mNumberBuffers;
    AudioBuffer mBuffers[1];
};

typedef UInt32 SMPTETimeType;
typedef UInt32 SMPTETimeFlags;

struct SMPTETime {
    SInt16 mSubframes;
    SInt16 mSubframeDivisor;
    UInt32 mCounter;
    SMPTETimeType mType;
    SMPTETimeFlags mFlags;
    SInt16 mHours;
    SInt16 mMinutes;
    SInt16 mSeconds;
    SInt16 mFrames;
};

typedef UInt32 AudioTimeStampFlags;

enum : AudioTimeStampFlags {
    kAudioTimeStampSampleTimeValid = 1u << 0,
    kAudioTimeStampHostTimeValid = 1u << 1,
    kAudioTimeStampRateScalarValid = 1u << 2,
    kAudioTimeStampWordClockTimeValid = 1u << 3,
    kAudioTimeStampSMPTETimeValid = 1u << 4,
};

/// A render time; only the fields whose bit is set in `mFlags` are meaningful.
struct AudioTimeStamp {
    Float64 mSampleTime;
    UInt64 mHostTime;
    Float64 mRateScalar;
    UInt64 mWordClockTime;
    SMPTETime mSMPTETime;
    AudioTimeStampFlags mFlags;
    UInt32 mReserved;
};

struct AudioStreamBasicDescription {
    Float64 mSampleRate;
    AudioFormatID mFormatID;
    AudioFormatFlags mFormatFlags;
    UInt32 mBytesPerPacket;
    UInt32 mFramesPerPacket;
    UInt32 mBytesPerFrame;
    UInt32 mChannelsPerFrame;
    UInt32 mBitsPerChannel;
    UInt32 mReserved;
};

} // extern "C"

static_assert(sizeof(AudioBuffer) == 16 && alignof(AudioBuffer) == 8);
static_assert(offsetof(AudioBuffer, mNumberChannels) == 0);
static_assert(offsetof(AudioBuffer, mDataByteSize) == 4);
static_assert(offsetof(AudioBuffer, mData) == 8);

static_assert(sizeof(AudioBufferList) == 24 && alignof(AudioBufferList) == 8);
static_assert(offsetof(AudioBufferList, mNumberBuffers) == 0);
static_assert(offsetof(AudioBufferList, mBuffers) == 8);

static_assert(sizeof(SMPTETime) == 24 && alignof(SMPTETime) == 4);
static_assert(offsetof(SMPTETime, mSubframes) == 0);
static_assert(offsetof(SMPTETime, mSubframeDivisor) == 2);
static_assert(offsetof(SMPTETime, mCounter) == 4);
static_assert(offsetof(SMPTETime, mType) == 8);
static_assert(offsetof(SMPTETime, mFlags) == 12);
static_assert(offsetof(SMPTETime, mHours) == 16);
static_assert(offsetof(SMPTETime, mMinutes) == 18);
static_assert(offsetof(SMPTETime, mSeconds) == 20);
static_assert(offsetof(SMPTETime, mFrames) == 22);

static_assert(sizeof(AudioTimeStamp) == 64 && alignof(AudioTimeStamp) == 8);
static_assert(offsetof(AudioTimeStamp, mSampleTime) == 0);
static_assert(offsetof(AudioTimeStamp, mHostTime) == 8);
static_assert(offsetof(AudioTimeStamp, mRateScalar) == 16);
static_assert(offsetof(AudioTimeStamp, mWordClockTime) == 24);
static_assert(offsetof(AudioTimeStamp, mSMPTETime) == 32);
static_assert(offsetof(AudioTimeStamp, mFlags) == 56);
static_assert(offsetof(AudioTimeStamp, mReserved) == 60);

static_assert(sizeof(AudioStreamBasicDescription) == 40 &&
              alignof(AudioStreamBasicDescription) == 8);
static_assert(offsetof(AudioStreamBasicDescription, mSampleRate) == 0);
static_assert(offsetof(AudioStreamBasicDescription, mFormatID) == 8);
static_assert(offsetof(AudioStreamBasicDescription, mFormatFlags) == 12);
static_assert(offsetof(AudioStreamBasicDescription, mBytesPerPacket) == 16);
static_assert(offsetof(AudioStreamBasicDescription, mFramesPerPacket) == 20);
static_assert(offsetof(AudioStreamBasicDescription, mBytesPerFrame) == 24);
static_assert(offsetof(AudioStreamBasicDescription, mChannelsPerFrame) == 28);
static_assert(offsetof(AudioStreamBasicDescription, mBitsPerChannel) == 32);
static_assert(offsetof(AudioStreamBasicDescription, mReserved) == 36);

// NOLINTEND(readability-identifier-naming)
