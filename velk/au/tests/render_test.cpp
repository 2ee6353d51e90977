// Rendering seen from a host: the order of the checks and which errors are kept, input
// from a callback or an upstream unit, bypass, render notifications, the context built
// from the host's callbacks, MIDI for instruments, allocation and the floating-point mode.

#include <vector>

#include "units.hpp"
#include "velk/core/ftz.hpp"
#include "velk/test/alloc.hpp"

#include <gtest/gtest.h>

namespace velk::au_test {
namespace {

/// -6 dB as the plug-ins turn decibels into gains: e^(dB × 0.11512925).
const float MINUS_6_DB = std::exp(-6.0f * 0.11512925f);

/// Records the calls of a render notification.
struct Recorder {
    std::vector<AudioUnitRenderActionFlags> flags;
    UInt32 bus = 99;
    UInt32 frames = 0;
    AudioBufferList* buffers = nullptr;
    AudioUnit unit = nullptr;      // set to try list changes from inside a call
    OSStatus inner_status = noErr; // what such a change returned

    std::size_t count(AudioUnitRenderActionFlags flag) const {
        return static_cast<std::size_t>(
            std::count_if(flags.begin(), flags.end(), [&](auto f) { return (f & flag) != 0; }));
    }

    static OSStatus notify(void* ref, AudioUnitRenderActionFlags* action_flags,
                           const AudioTimeStamp*, UInt32 bus, UInt32 frames,
                           AudioBufferList* buffers) {
        auto& self = *static_cast<Recorder*>(ref);
        self.flags.push_back(*action_flags);
        self.bus = bus;
        self.frames = frames;
        self.buffers = buffers;
        *action_flags |= 1u << 12; // a bit of the callback's own stays set
        if (self.unit != nullptr) {
            const auto* iface = reinterpret_cast<AudioComponentPlugInInterface*>(self.unit);
            const auto add = reinterpret_cast<AudioUnitAddRenderNotifyProc>(
                iface->Lookup(kAudioUnitAddRenderNotifySelect));
            self.inner_status = add(self.unit, Recorder::notify, &self);
        }
        return -1; // ignored
    }
};

TEST(AuRender, EarlyRefusalsAreNotKept) {
    const Unit uninitialized(test_effect(), EFFECT_DESC);
    Buffers buffers(2, 64);
    EXPECT_EQ(uninitialized.render(buffers.list(), 64), kAudioUnitErr_Uninitialized);
    EXPECT_EQ(uninitialized.last_render_error(), noErr);

    TestEffect fx;
    Buffers big(2, 1157);
    EXPECT_EQ(fx.unit.render(buffers.list(), 64, nullptr, nullptr, 1),
              kAudioUnitErr_InvalidElement);
    EXPECT_EQ(fx.unit.render(big.list(), 1157), kAudioUnitErr_TooManyFramesToProcess);
    EXPECT_EQ(fx.unit.render(nullptr, 64), kAudio_ParamError);
    EXPECT_EQ(fx.unit.last_render_error(), noErr);
    EXPECT_EQ(fx.source.calls, 0);
    EXPECT_EQ(fx.unit.render(big.list(), 1156), noErr) << "exactly the maximum is fine";
}

/// An input callback that leaves buffer 1 without data.
OSStatus drop_buffer(void*, AudioUnitRenderActionFlags*, const AudioTimeStamp*, UInt32, UInt32,
                     AudioBufferList* data) {
    AudioBuffer* buffers = data->mBuffers;
    buffers[1].mData = nullptr;
    return noErr;
}

TEST(AuRender, LaterErrorsAreKeptAndStopTheBlock) {
    struct Case {
        const char* name;
        OSStatus expected;
        bool pre_render_sent;
        void (*arrange)(const Unit&, Source&, Buffers&);
    };
    const Case cases[] = {
        {"one buffer for two channels", kAudioUnitErr_FormatNotSupported, false,
         [](const Unit&, Source&, Buffers& b) {
             b.list()->mNumberBuffers = 1;
         }},
        {"no input source", kAudioUnitErr_NoConnection, true,
         [](const Unit& u, Source&, Buffers&) {
             EXPECT_EQ(u.set_input(nullptr, nullptr), noErr);
         }},
        {"the input callback fails", -1234, true,
         [](const Unit&, Source& s, Buffers&) {
             s.status = -1234;
         }},
        {"the input leaves a buffer without data", kAudio_ParamError, true,
         [](const Unit& u, Source&, Buffers&) {
             EXPECT_EQ(u.set_input(drop_buffer, nullptr), noErr);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Unit unit(probe_effect(), EFFECT_DESC);
        Source source;
        Recorder recorder;
        Buffers buffers(2, 64);
        ASSERT_EQ(unit.set_input(Source::render, &source), noErr);
        ASSERT_EQ(unit.add_notify(Recorder::notify, &recorder), noErr);
        ASSERT_EQ(unit.initialize(), noErr);
        c.arrange(unit, source, buffers);

        EXPECT_EQ(unit.render(buffers.list(), 64), c.expected);
        EXPECT_EQ(unit.last_render_error(), c.expected);
        EXPECT_EQ(unit.last_render_error(), c.expected) << "reading does not clear it";
        EXPECT_EQ(unit.parameter(probe_id::PROCESSES), 0.0f) << "the plug-in did not run";
        EXPECT_EQ(recorder.count(kAudioUnitRenderAction_PreRender), c.pre_render_sent ? 1u : 0u);
        EXPECT_EQ(recorder.count(kAudioUnitRenderAction_PostRender), 0u);
    }
}

TEST(AuRender, ASuccessfulRenderLeavesTheLastErrorAlone) {
    TestEffect fx;
    Buffers buffers(2, 32);
    ASSERT_EQ(fx.unit.set_input(nullptr, nullptr), noErr);
    EXPECT_EQ(fx.unit.render(buffers.list(), 32), kAudioUnitErr_NoConnection);
    ASSERT_EQ(fx.unit.set_input(Source::render, &fx.source), noErr);
    EXPECT_EQ(fx.unit.render(buffers.list(), 32), noErr);
    EXPECT_EQ(fx.unit.last_render_error(), kAudioUnitErr_NoConnection);
}

TEST(AuRender, NullBuffersBorrowScratchAndCarryTheOutputBack) {
    TestEffect fx;
    ASSERT_EQ(fx.unit.set_parameter(test_id::GAIN, -6.0f), noErr);
    Buffers buffers(2, 256);
    buffers.detach();
    ASSERT_EQ(fx.unit.render(buffers.list(), 256), noErr);
    for (std::size_t ch = 0; ch < 2; ++ch) {
        const AudioBuffer& b = buffers.buffer(ch);
        ASSERT_NE(b.mData, nullptr);
        EXPECT_EQ(b.mNumberChannels, 1u);
        EXPECT_EQ(b.mDataByteSize, 256u * 4);
        for (const float sample : buffers.out(ch, 256))
            ASSERT_FLOAT_EQ(sample, 0.5f * MINUS_6_DB);
    }
    EXPECT_NE(buffers.buffer(0).mData, buffers.buffer(1).mData);
}

TEST(AuRender, ZeroFramesRunThePluginOnEmptyRuns) {
    const Unit unit(probe_effect(), EFFECT_DESC);
    Source source;
    ASSERT_EQ(unit.set_input(Source::render, &source), noErr);
    ASSERT_EQ(unit.initialize(), noErr);
    Buffers buffers(2, 0);
    EXPECT_EQ(unit.render(buffers.list(), 0), noErr);
    EXPECT_EQ(unit.parameter(probe_id::PROCESSES), 1.0f);
    EXPECT_EQ(unit.parameter(probe_id::FRAMES), 0.0f);
}

TEST(AuRender, AHostMayReuseItsBuffersForALargerBlock) {
    // Each render sets the byte sizes to its own block; the next, larger block must still
    // fill the host's buffers, which hold the maximum frames per slice.
    TestEffect fx;
    Buffers buffers(2, 1156);
    for (const UInt32 frames : {16u, 0u, 1156u}) {
        SCOPED_TRACE(frames);
        ASSERT_EQ(fx.unit.render(buffers.list(), frames), noErr);
        EXPECT_EQ(buffers.buffer(1).mDataByteSize, frames * 4);
        EXPECT_EQ(buffers.buffer(1).mData, buffers.audio(1).data());
    }
    EXPECT_EQ(buffers.audio(1)[1155], 0.5f);
}

TEST(AuRender, PullsAnUpstreamUnitThroughAudioUnitRender) {
    TestEffect upstream;
    ASSERT_EQ(upstream.unit.set_parameter(test_id::GAIN, -6.0f), noErr);
    const Unit unit(test_effect(), EFFECT_DESC);
    Source own;
    ASSERT_EQ(unit.set_input(Source::render, &own), noErr);
    ASSERT_EQ(unit.connect(upstream.unit.handle()), noErr); // replaces the callback
    ASSERT_EQ(unit.set_parameter(test_id::MODE, 1.0f), noErr);
    ASSERT_EQ(unit.initialize(), noErr);

    Buffers buffers(2, 128);
    ASSERT_EQ(unit.render(buffers.list(), 128), noErr);
    EXPECT_EQ(own.calls, 0);
    EXPECT_EQ(upstream.source.calls, 1);
    EXPECT_EQ(upstream.source.frames, 128u);
    for (std::size_t ch = 0; ch < 2; ++ch) {
        for (const float sample : buffers.out(ch, 128))
            ASSERT_FLOAT_EQ(sample, -0.5f * MINUS_6_DB);
    }

    // The source bus is passed on: the upstream unit refuses bus 1, and that failure is
    // this unit's error, not the upstream one's.
    ASSERT_EQ(unit.connect(upstream.unit.handle(), 1), noErr);
    EXPECT_EQ(unit.render(buffers.list(), 128), kAudioUnitErr_InvalidElement);
    EXPECT_EQ(unit.last_render_error(), kAudioUnitErr_InvalidElement);
    EXPECT_EQ(upstream.unit.last_render_error(), noErr);
}

TEST(AuRender, AConnectionLoopIsRefusedInsteadOfRecursing) {
    TestEffect fx;
    ASSERT_EQ(fx.unit.connect(fx.unit.handle()), noErr);
    Buffers buffers(2, 64);
    EXPECT_EQ(fx.unit.render(buffers.list(), 64), kAudioUnitErr_CannotDoInCurrentContext);
    EXPECT_EQ(fx.unit.last_render_error(), kAudioUnitErr_CannotDoInCurrentContext);
    // The unit renders again once the loop is gone.
    ASSERT_EQ(fx.unit.set_input(Source::render, &fx.source), noErr);
    EXPECT_EQ(fx.unit.render(buffers.list(), 64), noErr);
}

TEST(AuRender, BypassPassesThePulledInputAndStillNotifies) {
    TestEffect fx;
    Recorder recorder;
    ASSERT_EQ(fx.unit.add_notify(Recorder::notify, &recorder), noErr);
    ASSERT_EQ(fx.unit.set_parameter(test_id::GAIN, -6.0f), noErr);
    ASSERT_EQ(fx.unit.set(kAudioUnitProperty_BypassEffect, UInt32{1}), noErr);
    fx.source.signal = {{0.1f, -0.7f, 0.3f, 0.9f}, {0.2f, 0.4f, -0.6f, 0.8f}};
    Buffers buffers(2, 4);
    ASSERT_EQ(fx.unit.render(buffers.list(), 4), noErr);
    for (std::size_t ch = 0; ch < 2; ++ch) {
        const auto out = buffers.out(ch, 4);
        EXPECT_EQ(std::vector<float>(out.begin(), out.end()), fx.source.signal[ch]);
    }
    EXPECT_EQ(fx.unit.parameter(test_id::PEAK), 0.0f) << "the plug-in was not called";
    EXPECT_EQ(recorder.count(kAudioUnitRenderAction_PostRender), 1u);

    ASSERT_EQ(fx.unit.set(kAudioUnitProperty_BypassEffect, UInt32{0}), noErr);
    fx.source.position = 0;
    ASSERT_EQ(fx.unit.render(buffers.list(), 4), noErr);
    EXPECT_FLOAT_EQ(buffers.out(0, 4)[3], 0.9f * MINUS_6_DB);
}

TEST(AuRender, NotificationsSeeTheirOwnFlagOnly) {
    TestEffect fx;
    Recorder twice;
    Recorder once;
    ASSERT_EQ(fx.unit.add_notify(Recorder::notify, &twice), noErr);
    ASSERT_EQ(fx.unit.add_notify(Recorder::notify, &once), noErr);
    ASSERT_EQ(fx.unit.add_notify(Recorder::notify, &twice), noErr);

    constexpr AudioUnitRenderActionFlags host_bit = 1u << 10;
    AudioUnitRenderActionFlags flags = host_bit | kAudioUnitRenderAction_OutputIsSilence;
    Buffers buffers(2, 48);
    ASSERT_EQ(fx.unit.render(buffers.list(), 48, &flags), noErr);

    const AudioUnitRenderActionFlags own_bit = 1u << 12;
    EXPECT_EQ(flags, host_bit | own_bit) << "silence cleared, other bits kept";
    ASSERT_EQ(twice.flags.size(), 4u);
    EXPECT_EQ(twice.flags[0],
              host_bit | kAudioUnitRenderAction_OutputIsSilence | kAudioUnitRenderAction_PreRender);
    EXPECT_EQ(twice.flags[1], host_bit | kAudioUnitRenderAction_OutputIsSilence |
                                  kAudioUnitRenderAction_PreRender | own_bit);
    EXPECT_EQ(twice.flags[2], host_bit | own_bit | kAudioUnitRenderAction_PostRender);
    EXPECT_EQ(twice.flags[3], host_bit | own_bit | kAudioUnitRenderAction_PostRender);
    EXPECT_EQ(once.flags.size(), 2u);
    EXPECT_EQ(twice.bus, 0u);
    EXPECT_EQ(twice.frames, 48u);
    EXPECT_EQ(twice.buffers, buffers.list());

    // Removal takes every registration with that callback and reference.
    ASSERT_EQ(fx.unit.remove_notify(Recorder::notify, &twice), noErr);
    ASSERT_EQ(fx.unit.remove_notify(Recorder::notify, &buffers), noErr); // never added
    ASSERT_EQ(fx.unit.render(buffers.list(), 48), noErr);                // null flags: a local word
    EXPECT_EQ(twice.flags.size(), 4u);
    EXPECT_EQ(once.flags.size(), 4u);
}

TEST(AuRender, ANotificationCannotChangeTheListItRunsFrom) {
    TestEffect fx;
    Recorder recorder;
    recorder.unit = fx.unit.handle();
    ASSERT_EQ(fx.unit.add_notify(Recorder::notify, &recorder), noErr);
    Buffers buffers(2, 16);
    ASSERT_EQ(fx.unit.render(buffers.list(), 16), noErr);
    EXPECT_EQ(recorder.inner_status, kAudioUnitErr_CannotDoInCurrentContext);
    EXPECT_EQ(recorder.flags.size(), 2u) << "the list did not grow";
}

/// What the host's transport and tempo callbacks answer.
struct Transport {
    OSStatus transport_status = noErr;
    Boolean playing = 0;
    Float64 sample = 0.0;
    OSStatus tempo_status = noErr;
    Float64 tempo = 0.0;

    static OSStatus beat_and_tempo(void* user, Float64* beat, Float64* tempo) {
        const auto& self = *static_cast<Transport*>(user);
        *beat = 3.0;
        *tempo = self.tempo;
        return self.tempo_status;
    }
    static OSStatus transport_state(void* user, Boolean* playing, Boolean* changed, Float64* sample,
                                    Boolean* cycling, Float64* cycle_start, Float64* cycle_end) {
        const auto& self = *static_cast<Transport*>(user);
        *playing = self.playing;
        *changed = 0;
        *sample = self.sample;
        *cycling = 0;
        *cycle_start = 0.0;
        *cycle_end = 0.0;
        return self.transport_status;
    }
};

TEST(AuRender, ContextComesFromTheTimeStampAndTheHostCallbacks) {
    struct Case {
        const char* name;
        bool stamp_valid;
        bool transport;
        bool tempo;
        Transport host;
        float position; // -1: absent
        float tempo_bpm;
        float playing;
    };
    const Case cases[] = {
        {"time stamp only", true, false, false, {}, 512.0f, -1.0f, 0.0f},
        {"time stamp not valid", false, false, false, {}, -1.0f, -1.0f, 0.0f},
        {"transport answers",
         true,
         true,
         true,
         {noErr, 1, 4096.0, noErr, 128.0},
         4096.0f,
         128.0f,
         1.0f},
        {"transport fails",
         true,
         true,
         true,
         {-10863, 1, 4096.0, noErr, 90.0},
         512.0f,
         90.0f,
         0.0f},
        {"tempo of 0", true, true, true, {noErr, 0, 64.0, noErr, 0.0}, 64.0f, -1.0f, 0.0f},
        {"tempo fails", false, false, true, {noErr, 0, 0.0, -10863, 140.0}, -1.0f, -1.0f, 0.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Unit unit(probe_effect(), EFFECT_DESC);
        Source source;
        Transport host = c.host;
        HostCallbackInfo callbacks{};
        callbacks.hostUserData = &host;
        if (c.tempo)
            callbacks.beatAndTempoProc = Transport::beat_and_tempo;
        if (c.transport)
            callbacks.transportStateProc = Transport::transport_state;
        ASSERT_EQ(unit.set(kAudioUnitProperty_HostCallbacks, callbacks), noErr);
        ASSERT_EQ(unit.set_input(Source::render, &source), noErr);
        ASSERT_EQ(unit.initialize(), noErr);

        AudioTimeStamp stamp{};
        stamp.mSampleTime = 512.0;
        stamp.mFlags =
            c.stamp_valid ? kAudioTimeStampSampleTimeValid : kAudioTimeStampHostTimeValid;
        Buffers buffers(2, 32);
        ASSERT_EQ(unit.render(buffers.list(), 32, nullptr, &stamp), noErr);
        EXPECT_EQ(unit.parameter(probe_id::POSITION), c.position);
        EXPECT_EQ(unit.parameter(probe_id::TEMPO), c.tempo_bpm);
        EXPECT_EQ(unit.parameter(probe_id::PLAYING), c.playing);
    }
}

TEST(AuMidi, InstrumentsQueueUpTo1024MessagesForTheNextRender) {
    const Unit unit(probe_instrument(), INSTRUMENT_DESC);
    ASSERT_EQ(unit.initialize(), noErr);
    for (UInt32 i = 0; i < 1024; ++i)
        ASSERT_EQ(unit.midi(0x190, 0xFF, 0x81, 5000), noErr);
    EXPECT_EQ(unit.midi(0x80, 1, 2, 0), noErr) << "the 1025th is dropped, not refused";
    EXPECT_EQ(unit.parameter(probe_id::MIDI_COUNT), 0.0f) << "nothing before the render";

    Buffers buffers(2, 512, 1.0f);
    ASSERT_EQ(unit.render(buffers.list(), 512), noErr);
    EXPECT_EQ(unit.parameter(probe_id::MIDI_COUNT), 1024.0f);
    EXPECT_EQ(unit.parameter(probe_id::MIDI_STATUS), 0x90);
    EXPECT_EQ(unit.parameter(probe_id::MIDI_DATA), 0x7F * 128 + 0x01);
    EXPECT_EQ(unit.parameter(probe_id::MIDI_OFFSET), 511.0f) << "limited to the last frame";
    EXPECT_EQ(buffers.out(1, 512)[0], 0.25f);

    // The queue was emptied; a block of no frames takes offsets as 0.
    ASSERT_EQ(unit.midi(0xB0, 7, 100, 3), noErr);
    ASSERT_EQ(unit.render(buffers.list(), 0), noErr);
    EXPECT_EQ(unit.parameter(probe_id::MIDI_COUNT), 1025.0f);
    EXPECT_EQ(unit.parameter(probe_id::MIDI_OFFSET), 0.0f);
}

TEST(AuMidi, EffectsRefuseMidiAndSysEx) {
    const Unit effect(test_effect(), EFFECT_DESC);
    const Unit instrument(probe_instrument(), INSTRUMENT_DESC);
    const UInt8 message[] = {0xF0, 0x7E, 0xF7};
    EXPECT_EQ(effect.midi(0x90, 60, 100, 0), kAudioUnitErr_InvalidProperty);
    EXPECT_EQ(effect.sysex(message, 3), kAudioUnitErr_InvalidProperty);
    EXPECT_EQ(instrument.sysex(message, 3), noErr);
}

OSStatus tempo_120(void*, Float64* beat, Float64* tempo) {
    *beat = 0.0;
    *tempo = 120.0;
    return noErr;
}

TEST(AuRender, RenderingAllocatesNothing) {
    if (!velk::test::counting_allocations())
        GTEST_SKIP() << "allocations are not counted in this build";
    TestEffect upstream;
    const Unit unit(test_effect(), EFFECT_DESC);
    Recorder recorder;
    recorder.flags.reserve(64);
    HostCallbackInfo callbacks{};
    callbacks.beatAndTempoProc = tempo_120;
    ASSERT_EQ(unit.set(kAudioUnitProperty_HostCallbacks, callbacks), noErr);
    ASSERT_EQ(unit.add_notify(Recorder::notify, &recorder), noErr);
    ASSERT_EQ(unit.connect(upstream.unit.handle()), noErr);
    ASSERT_EQ(unit.initialize(), noErr);
    const AudioUnitParameterEvent change = immediate(test_id::LEVEL + 1, 0.5f);
    ASSERT_EQ(unit.schedule({&change, 1}), noErr);

    const Unit instrument(probe_instrument(), INSTRUMENT_DESC);
    ASSERT_EQ(instrument.initialize(), noErr);
    ASSERT_EQ(instrument.midi(0x90, 60, 100, 0), noErr);

    {
        // The counter sees what the module allocates, so a zero below means something.
        velk::test::NoAllocScope seen;
        AudioUnitParameterID ids[8] = {};
        UInt32 size = sizeof ids;
        ASSERT_EQ(unit.get_property(kAudioUnitProperty_ParameterList, kAudioUnitScope_Global, 0,
                                    ids, &size),
                  noErr);
        ASSERT_GT(seen.count(), 0u);
    }

    Buffers buffers(2, 256);
    Buffers borrowed(2, 256);
    borrowed.detach();
    velk::test::NoAllocScope scope;
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(unit.render(buffers.list(), 256), noErr);
        ASSERT_EQ(unit.render(borrowed.list(), 256), noErr);
        ASSERT_EQ(instrument.render(buffers.list(), 256), noErr);
    }
    EXPECT_EQ(scope.count(), 0u);
    EXPECT_EQ(unit.parameter(test_id::LEVEL + 1), 0.5f);
    EXPECT_EQ(instrument.parameter(probe_id::MIDI_COUNT), 1.0f);
}

/// Records the floating-point control register while the input is pulled.
OSStatus read_control_register(void* ref, AudioUnitRenderActionFlags*, const AudioTimeStamp*,
                               UInt32, UInt32, AudioBufferList*) {
    *static_cast<std::uint64_t*>(ref) = velk::float_control_register();
    return noErr;
}

TEST(AuRender, FlushesDenormalsWhileRenderingAndRestoresTheMode) {
    TestEffect fx;
    std::uint64_t inside = 0;
    ASSERT_EQ(fx.unit.set_input(read_control_register, &inside), noErr);
    Buffers buffers(2, 32);
    const std::uint64_t before = velk::float_control_register();
    ASSERT_EQ(fx.unit.render(buffers.list(), 32), noErr);
    EXPECT_EQ(velk::float_control_register(), before);
#if defined(__x86_64__)
    EXPECT_EQ(inside & 0x8040, 0x8040u) << "FTZ and DAZ";
#elif defined(__aarch64__)
    EXPECT_NE(inside & (std::uint64_t{1} << 24), 0u) << "FZ";
#endif
    // Also on an error exit.
    fx.source.status = -1;
    ASSERT_EQ(fx.unit.set_input(Source::render, &fx.source), noErr);
    EXPECT_EQ(fx.unit.render(buffers.list(), 32), -1);
    EXPECT_EQ(velk::float_control_register(), before);
}

} // namespace
} // namespace velk::au_test
