#include <AudioToolbox/AudioToolbox.h>
#include <cstddef>

#include <gtest/gtest.h>

namespace {

// A unit as a component builds it: the interface record first, so the unit handle, the
// interface pointer and the instance pointer are one address.
struct FakeUnit {
    AudioComponentPlugInInterface iface;
    OSStatus status = noErr;
    int renders = 0;
    void* self = nullptr;
    AudioUnitRenderActionFlags* flags = nullptr;
    const AudioTimeStamp* time_stamp = nullptr;
    UInt32 bus = 0;
    UInt32 frames = 0;
    AudioBufferList* buffers = nullptr;
};
static_assert(offsetof(FakeUnit, iface) == 0);

SInt16 looked_up = -1;

OSStatus fake_render(void* self, AudioUnitRenderActionFlags* flags,
                     const AudioTimeStamp* time_stamp, UInt32 bus, UInt32 frames,
                     AudioBufferList* buffers) {
    auto* unit = static_cast<FakeUnit*>(self);
    ++unit->renders;
    unit->self = self;
    unit->flags = flags;
    unit->time_stamp = time_stamp;
    unit->bus = bus;
    unit->frames = frames;
    unit->buffers = buffers;
    if (buffers != nullptr) {
        static_cast<float*>(buffers->mBuffers[0].mData)[0] = 0.5f;
    }
    return unit->status;
}

AudioComponentMethod lookup_render(SInt16 selector) {
    looked_up = selector;
    return selector == kAudioUnitRenderSelect ? reinterpret_cast<AudioComponentMethod>(fake_render)
                                              : nullptr;
}

AudioComponentMethod lookup_nothing(SInt16 selector) {
    looked_up = selector;
    return nullptr;
}

AudioUnit handle(FakeUnit& unit) {
    return reinterpret_cast<AudioUnit>(&unit.iface);
}

TEST(AudioUnitRender, CallsTheUnitsRenderEntryWithEveryArgument) {
    FakeUnit unit{{nullptr, nullptr, lookup_render, nullptr}};
    unit.status = kAudioUnitErr_NoConnection; // whatever the unit says is passed back
    float samples[4] = {};
    AudioBufferList list{1, {{1, sizeof samples, samples}}};
    AudioUnitRenderActionFlags flags = kAudioUnitRenderAction_PreRender;
    AudioTimeStamp time_stamp{};
    time_stamp.mSampleTime = 512;
    time_stamp.mFlags = kAudioTimeStampSampleTimeValid;

    looked_up = -1;
    EXPECT_EQ(AudioUnitRender(handle(unit), &flags, &time_stamp, 3, 4, &list),
              kAudioUnitErr_NoConnection);
    EXPECT_EQ(looked_up, kAudioUnitRenderSelect);
    EXPECT_EQ(unit.renders, 1);
    EXPECT_EQ(unit.self, &unit);
    EXPECT_EQ(unit.flags, &flags);
    EXPECT_EQ(unit.time_stamp, &time_stamp);
    EXPECT_EQ(unit.bus, 3u);
    EXPECT_EQ(unit.frames, 4u);
    EXPECT_EQ(unit.buffers, &list);
    EXPECT_EQ(samples[0], 0.5f);

    // Null flags and buffers go through as they are; the unit decides what they mean.
    unit.status = noErr;
    EXPECT_EQ(AudioUnitRender(handle(unit), nullptr, &time_stamp, 0, 0, nullptr), noErr);
    EXPECT_EQ(unit.renders, 2);
    EXPECT_EQ(unit.flags, nullptr);
    EXPECT_EQ(unit.buffers, nullptr);
}

TEST(AudioUnitRender, RefusesAUnitWithoutARenderEntry) {
    FakeUnit no_lookup{{nullptr, nullptr, nullptr, nullptr}};
    FakeUnit no_render{{nullptr, nullptr, lookup_nothing, nullptr}};
    float samples[1] = {};
    AudioBufferList list{1, {{1, sizeof samples, samples}}};
    AudioTimeStamp time_stamp{};

    EXPECT_EQ(AudioUnitRender(nullptr, nullptr, &time_stamp, 0, 1, &list), kAudio_ParamError);
    EXPECT_EQ(AudioUnitRender(handle(no_lookup), nullptr, &time_stamp, 0, 1, &list),
              kAudio_ParamError);
    looked_up = -1;
    EXPECT_EQ(AudioUnitRender(handle(no_render), nullptr, &time_stamp, 0, 1, &list),
              kAudio_ParamError);
    EXPECT_EQ(looked_up, kAudioUnitRenderSelect);
    EXPECT_EQ(samples[0], 0.0f);
}

} // namespace
