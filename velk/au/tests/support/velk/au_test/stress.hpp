#pragma once

// A host that renders one unit on one thread while its other threads change everything
// else a host may change during playback.

#include <atomic>
#include <cmath>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "velk/au_test/host.hpp"

namespace velk::au_test {

/// What the stress host writes: a parameter it sets and schedules between `low` and
/// `high`, a second one that only the parameter thread writes (between `own_low` and
/// `own_high`), and its channel count.
struct StressSetup {
    AudioUnitParameterID param = 0;
    float low = 0.0f;
    float high = 1.0f;
    AudioUnitParameterID own = 0;
    float own_low = 0.0f;
    float own_high = 0.0f;
    UInt32 channels = 2;
    std::size_t rounds = 400; ///< each thread's minimum, so that all of them overlap
};

namespace stress_detail {

inline std::atomic<int> notifications{0};
inline std::atomic<int> heard{0};

inline OSStatus count_notification(void*, AudioUnitRenderActionFlags*, const AudioTimeStamp*,
                                   UInt32, UInt32, AudioBufferList*) {
    notifications.fetch_add(1, std::memory_order_relaxed);
    return noErr;
}

inline void count_listener(void*, AudioUnit, AudioUnitPropertyID, AudioUnitScope,
                           AudioUnitElement) {
    heard.fetch_add(1, std::memory_order_relaxed);
}

inline OSStatus tempo(void*, Float64* beat, Float64* bpm) {
    *beat = 0.0;
    *bpm = 100.0;
    return noErr;
}

} // namespace stress_detail

/// Renders blocks of 64 frames on the calling thread, with a constant input, while four
/// threads set and read parameters, schedule changes, add and remove listeners and
/// render notifications, and save and restore presets. Every call must succeed (a render
/// may only find its input busy) and every output sample must be finite. No write is
/// lost to the render: the parameter thread reads back the value it wrote last to its
/// own parameter, and the preset thread the preset number and name it set; at the end
/// the last scheduled value is applied and the presets read back.
inline void stress_unit(AudioComponentFactoryFunction factory,
                        const AudioComponentDescription& desc, const StressSetup& setup) {
    const Unit unit(factory, desc);
    Source source;
    source.level = {0.5f, -0.25f};
    ASSERT_EQ(unit.set_format(kAudioUnitScope_Input, setup.channels), noErr);
    ASSERT_EQ(unit.set_format(kAudioUnitScope_Output, setup.channels), noErr);
    ASSERT_EQ(unit.set_input(Source::render, &source), noErr);
    ASSERT_EQ(unit.initialize(), noErr);

    std::atomic<bool> stop{false};
    std::atomic<int> failures{0};
    const auto value = [&](std::size_t i) {
        return setup.low + (setup.high - setup.low) * static_cast<float>(i % 17) / 16.0f;
    };
    const auto own_value = [&](std::size_t i) {
        return setup.own_low + (setup.own_high - setup.own_low) * static_cast<float>(i % 13) / 12.0f;
    };
    const auto check = [&](OSStatus status) {
        if (status != noErr)
            failures.fetch_add(1);
    };
    // A host makes its main-thread calls one at a time: the parameter thread's write and
    // read-back of its own parameter do not interleave with a preset restore, which
    // would put back an older value. The render thread is not held back by it.
    std::mutex main_thread;
    std::atomic<int> lost{0};
    // Each worker loops until told to stop, counting its rounds; the render loop stops
    // them once every worker has done its share.
    std::vector<std::atomic<std::size_t>> done(4);
    const std::vector<std::function<void(std::size_t)>> work{
        [&](std::size_t i) { // parameters
            check(unit.set_parameter(setup.param, value(i)));
            float read = 0.0f;
            check(unit.get_parameter(setup.param, &read));
            if (read < setup.low || read > setup.high)
                failures.fetch_add(1);
            const std::lock_guard lock(main_thread);
            check(unit.set_parameter(setup.own, own_value(i)));
            check(unit.get_parameter(setup.own, &read));
            if (read != own_value(i))
                lost.fetch_add(1);
        },
        [&](std::size_t i) { // scheduled changes
            const AudioUnitParameterEvent events[] = {
                immediate(setup.param, value(i)), ramped(setup.param, value(i), value(i + 5), 64)};
            check(unit.schedule(events));
        },
        [&](std::size_t i) { // listeners and render notifications
            int user = 0;
            check(unit.add_listener(kAudioUnitProperty_BypassEffect, stress_detail::count_listener,
                                    &user));
            check(unit.set(kAudioUnitProperty_BypassEffect, UInt32{0}));
            check(unit.remove_listener(kAudioUnitProperty_BypassEffect,
                                       stress_detail::count_listener, &user));
            if (i % 2 == 0)
                check(unit.add_notify(stress_detail::count_notification, nullptr));
            else
                check(unit.remove_notify(stress_detail::count_notification, nullptr));
        },
        [&](std::size_t i) { // presets, host callbacks, the input and read-only properties
            {
                const std::lock_guard lock(main_thread);
                CFPropertyListRef preset = nullptr;
                check(unit.get(kAudioUnitProperty_ClassInfo, preset));
                if (preset != nullptr) {
                    check(unit.set(kAudioUnitProperty_ClassInfo, preset));
                    CFRelease(preset);
                }
            }
            const std::string name = "Preset " + std::to_string(i);
            CFStringRef written = make_string(name);
            AUPreset present{static_cast<SInt32>(i), written};
            check(unit.set(kAudioUnitProperty_PresentPreset, present));
            CFRelease(written);
            present = AUPreset{};
            check(unit.get(kAudioUnitProperty_PresentPreset, present));
            if (present.presetNumber != static_cast<SInt32>(i) || present.presetName == nullptr ||
                text_of(present.presetName) != name)
                lost.fetch_add(1);
            if (present.presetName != nullptr)
                CFRelease(present.presetName);
            HostCallbackInfo callbacks{};
            if (i % 2 == 0)
                callbacks.beatAndTempoProc = stress_detail::tempo;
            check(unit.set(kAudioUnitProperty_HostCallbacks, callbacks));
            check(unit.set_input(Source::render, &source));
            Float64 seconds = 0.0;
            check(unit.get(kAudioUnitProperty_Latency, seconds));
            check(unit.get(kAudioUnitProperty_TailTime, seconds));
        },
    };
    std::vector<std::thread> threads;
    for (std::size_t w = 0; w < work.size(); ++w) {
        threads.emplace_back([&, w] {
            for (std::size_t i = 0; !stop.load(); ++i) {
                work[w](i);
                done[w].store(i + 1);
            }
        });
    }

    Buffers buffers(setup.channels, 64);
    std::size_t renders = 0;
    std::size_t bad_samples = 0;
    const auto workers_done = [&] {
        for (const auto& d : done) {
            if (d.load() < setup.rounds)
                return false;
        }
        return true;
    };
    while (renders < setup.rounds || !workers_done()) {
        // While the input is being replaced its lock is busy, and the block has no input.
        const OSStatus status = unit.render(buffers.list(), 64);
        if (status != kAudioUnitErr_NoConnection)
            check(status);
        for (UInt32 ch = 0; ch < setup.channels; ++ch) {
            for (const float sample : buffers.out(ch, 64))
                bad_samples += std::isfinite(sample) ? 0u : 1u;
        }
        ++renders;
    }
    stop.store(true);
    for (std::thread& t : threads)
        t.join();

    // Quiet again: a change scheduled last is applied by the next render, and a preset
    // taken now restores every value on another instance.
    const AudioUnitParameterEvent last[] = {immediate(setup.param, setup.high)};
    EXPECT_EQ(unit.schedule(last), noErr);
    EXPECT_EQ(unit.render(buffers.list(), 64), noErr);
    float read = 0.0f;
    EXPECT_EQ(unit.get_parameter(setup.param, &read), noErr);
    EXPECT_EQ(read, setup.high);
    CFPropertyListRef preset = nullptr;
    ASSERT_EQ(unit.get(kAudioUnitProperty_ClassInfo, preset), noErr);
    const Unit copy(factory, desc);
    ASSERT_EQ(copy.set_format(kAudioUnitScope_Output, setup.channels), noErr);
    EXPECT_EQ(copy.set(kAudioUnitProperty_ClassInfo, preset), noErr);
    CFRelease(preset);
    for (const AudioUnitParameterID id : {setup.param, setup.own}) {
        float mine = 0.0f;
        float theirs = 1.0f;
        EXPECT_EQ(unit.get_parameter(id, &mine), noErr);
        EXPECT_EQ(copy.get_parameter(id, &theirs), noErr);
        EXPECT_EQ(mine, theirs) << "parameter " << id;
    }

    EXPECT_EQ(lost.load(), 0);
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(bad_samples, 0u);
    EXPECT_GT(source.calls, 0);
}

} // namespace velk::au_test
