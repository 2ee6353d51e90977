// Rendering: the audio entry point, render notifications and the MIDI queue.
//
// Audio thread: nothing here allocates or waits. Every lock is only tried, one at a
// time, and a busy lock skips the step it guards.

#include <algorithm>
#include <cmath>
#include <span>

#include "entry.hpp"
#include "instance.hpp"
#include "velk/core/ftz.hpp"

namespace velk::au {
namespace {

constexpr UInt32 BYTES_PER_SAMPLE = sizeof(float);

/// Marks an instance as rendering for its lifetime; `entered()` is false when another
/// render of the same instance is already running (an input connection that loops back).
class RenderScope {
public:
    explicit RenderScope(std::atomic<bool>& flag) noexcept
        : flag_(flag), entered_(!flag.exchange(true, std::memory_order_acquire)) {}
    ~RenderScope() {
        if (entered_)
            flag_.store(false, std::memory_order_release);
    }
    RenderScope(const RenderScope&) = delete;
    RenderScope& operator=(const RenderScope&) = delete;

    bool entered() const noexcept { return entered_; }

private:
    std::atomic<bool>& flag_;
    bool entered_;
};

/// Calls every render notification in registration order with `flag` set in the flags
/// word during its call, holding the list's lock; skipped when the lock is busy.
void run_notifies(Instance& inst, AudioUnitRenderActionFlags* flags,
                  const AudioTimeStamp* time_stamp, UInt32 frames, AudioBufferList* buffers,
                  AudioUnitRenderActionFlags flag) noexcept {
    inst.notifies.try_with([&](const std::vector<Notify>& list) {
        inst.notifying.store(std::this_thread::get_id(), std::memory_order_relaxed);
        for (const Notify& n : list) {
            *flags |= flag;
            n.proc(n.ref, flags, time_stamp, 0, frames, buffers);
            *flags &= ~flag;
        }
        inst.notifying.store(std::thread::id{}, std::memory_order_relaxed);
    });
}

/// Applies the scheduled parameter changes in queue order; skipped when the queue is busy.
void apply_scheduled(Instance& inst) noexcept {
    inst.param_queue.try_with([&](std::vector<ScheduledValue>& queue) {
        for (const ScheduledValue& change : queue) {
            const auto ref = inst.decode(change.id);
            if (!ref)
                continue;
            Param& param = inst.params.at(ref->index);
            if (param.info().kind == Kind::Meter)
                continue;
            if (ref->channel)
                param.set_ch(*ref->channel, change.value);
            else
                param.set(change.value);
        }
        queue.clear(); // keeps its storage
    });
}

/// Tempo, position and transport for this block, from the time stamp and the host's
/// callbacks, which are called outside every lock.
ProcessContext make_context(Instance& inst, const AudioTimeStamp* time_stamp) noexcept {
    ProcessContext context;
    context.sample_rate = static_cast<float>(inst.sample_rate.get());
    if (time_stamp != nullptr && (time_stamp->mFlags & kAudioTimeStampSampleTimeValid) != 0)
        context.position = time_stamp->mSampleTime;

    std::optional<HostCallbackInfo> host;
    inst.host_callbacks.try_with([&](const std::optional<HostCallbackInfo>& c) { host = c; });
    if (!host)
        return context;
    if (host->transportStateProc != nullptr) {
        Boolean playing = 0;
        Boolean changed = 0;
        Boolean cycling = 0;
        Float64 sample = 0.0;
        Float64 cycle_start = 0.0;
        Float64 cycle_end = 0.0;
        if (host->transportStateProc(host->hostUserData, &playing, &changed, &sample, &cycling,
                                     &cycle_start, &cycle_end) == noErr) {
            context.playing = playing != 0;
            context.position = sample;
        }
    }
    if (host->beatAndTempoProc != nullptr) {
        Float64 beat = 0.0;
        Float64 tempo = 0.0;
        if (host->beatAndTempoProc(host->hostUserData, &beat, &tempo) == noErr && tempo > 0.0)
            context.tempo = tempo;
    }
    return context;
}

/// Hands the queued MIDI messages to the plug-in in arrival order, each offset limited
/// to the block's last frame; skipped when the queue is busy.
void deliver_midi(Instance& inst, UInt32 frames) noexcept {
    const std::uint32_t last = frames > 0 ? frames - 1 : 0;
    inst.midi_queue.try_with([&](std::vector<MidiMessage>& queue) {
        for (const MidiMessage& m : queue)
            inst.inner.midi(m.status, m.data1, m.data2, std::min(m.offset, last));
        queue.clear();
    });
}

/// Everything after the first checks; a nonzero result is stored as the last render
/// error by the caller.
OSStatus render_block(Instance& inst, AudioUnitRenderActionFlags* flags,
                      const AudioTimeStamp* time_stamp, UInt32 frames,
                      AudioBufferList* buffers) noexcept {
    const std::uint32_t n = inst.output_channels.get();
    if (n > MAX_CHANNELS || buffers->mNumberBuffers != n)
        return kAudioUnitErr_FormatNotSupported;

    // Frames are at most MAX_FRAMES_LIMIT, so the byte count fits.
    const UInt32 bytes = frames * BYTES_PER_SAMPLE;
    AudioBuffer* channel = buffers->mBuffers;
    for (std::uint32_t i = 0; i < n; ++i) {
        if (channel[i].mData == nullptr) {
            if (i >= inst.scratch.size())
                return kAudioUnitErr_Uninitialized;
            channel[i].mData = inst.scratch[i].data();
        }
        channel[i].mNumberChannels = 1;
        channel[i].mDataByteSize = bytes;
    }

    run_notifies(inst, flags, time_stamp, frames, buffers, kAudioUnitRenderAction_PreRender);

    std::optional<Connection> connection;
    std::optional<RenderInput> input;
    inst.connection.try_with([&](const std::optional<Connection>& c) { connection = c; });
    inst.render_callback.try_with([&](const std::optional<RenderInput>& r) { input = r; });

    if (inst.is_instrument) {
        for (std::uint32_t i = 0; i < n; ++i)
            std::fill_n(static_cast<float*>(channel[i].mData), frames, 0.0f);
    } else if (connection) {
        const OSStatus status = AudioUnitRender(connection->source, flags, time_stamp,
                                                connection->bus, frames, buffers);
        if (status != noErr)
            return status;
    } else if (input) {
        const OSStatus status = input->proc(input->ref, flags, time_stamp, 0, frames, buffers);
        if (status != noErr)
            return status;
    } else {
        return kAudioUnitErr_NoConnection;
    }

    apply_scheduled(inst);

    // The input source may have replaced the data pointers; read them again.
    inst.slices.clear();
    for (std::uint32_t i = 0; i < n; ++i) {
        if (channel[i].mData == nullptr) {
            inst.slices.clear();
            return kAudio_ParamError;
        }
        channel[i].mDataByteSize = bytes;
        inst.slices.push(std::span<float>(static_cast<float*>(channel[i].mData), frames));
    }

    // Bypassed, the pulled input stays in the buffers as the output.
    if (!inst.bypass.get()) {
        const ProcessContext context = make_context(inst, time_stamp);
        if (inst.is_instrument)
            deliver_midi(inst, frames);
        inst.inner.process(inst.slices.runs(), context);
        inst.tail.set(inst.inner.tail());
        inst.latency.set(inst.inner.latency());
    }
    inst.slices.clear();
    *flags &= ~static_cast<AudioUnitRenderActionFlags>(kAudioUnitRenderAction_OutputIsSilence);

    run_notifies(inst, flags, time_stamp, frames, buffers, kAudioUnitRenderAction_PostRender);
    return noErr;
}

/// True when the calling thread is running this instance's render notifications.
bool inside_notification(const Instance& inst) noexcept {
    return inst.notifying.load(std::memory_order_relaxed) == std::this_thread::get_id();
}

} // namespace

OSStatus render(void* self, AudioUnitRenderActionFlags* action_flags,
                const AudioTimeStamp* time_stamp, UInt32 bus, UInt32 frames,
                AudioBufferList* buffers) noexcept {
    Instance* inst = Instance::from(self);
    if (inst == nullptr)
        return kAudio_ParamError;
    if (!inst->initialized.load(std::memory_order_acquire))
        return kAudioUnitErr_Uninitialized;
    if (bus != 0)
        return kAudioUnitErr_InvalidElement;
    if (frames > inst->max_frames.get())
        return kAudioUnitErr_TooManyFramesToProcess;
    if (buffers == nullptr)
        return kAudio_ParamError;
    const RenderScope scope(inst->rendering);
    if (!scope.entered())
        return kAudioUnitErr_CannotDoInCurrentContext;

    AudioUnitRenderActionFlags local_flags = 0;
    AudioUnitRenderActionFlags* flags = action_flags != nullptr ? action_flags : &local_flags;
    const ScopedFlushToZero flush_to_zero;
    const OSStatus status = render_block(*inst, flags, time_stamp, frames, buffers);
    if (status != noErr)
        inst->last_render_error.set(status);
    return status;
}

OSStatus add_render_notify(void* self, AURenderCallback proc, void* ref) noexcept {
    Instance* inst = Instance::from(self);
    if (inst == nullptr || proc == nullptr)
        return kAudio_ParamError;
    // The list is locked while its notifications run; waiting for it here would never end.
    if (inside_notification(*inst))
        return kAudioUnitErr_CannotDoInCurrentContext;
    return contained([&] {
        inst->notifies.with([&](std::vector<Notify>& list) { list.push_back({proc, ref}); });
        return noErr;
    });
}

OSStatus remove_render_notify(void* self, AURenderCallback proc, void* ref) noexcept {
    Instance* inst = Instance::from(self);
    if (inst == nullptr)
        return kAudio_ParamError;
    if (inside_notification(*inst))
        return kAudioUnitErr_CannotDoInCurrentContext;
    return contained([&] {
        inst->notifies.with([&](std::vector<Notify>& list) {
            std::erase_if(list, [&](const Notify& n) { return n.proc == proc && n.ref == ref; });
        });
        return noErr;
    });
}

OSStatus midi_event(void* self, UInt32 status, UInt32 data1, UInt32 data2, UInt32 offset) noexcept {
    Instance* inst = Instance::from(self);
    if (inst == nullptr)
        return kAudio_ParamError;
    if (!inst->is_instrument)
        return kAudioUnitErr_InvalidProperty;
    return contained([&] {
        inst->midi_queue.with([&](std::vector<MidiMessage>& queue) {
            // Reserved at construction; a full queue drops the message instead of growing.
            if (queue.size() < MIDI_QUEUE_CAPACITY)
                queue.push_back({static_cast<std::uint8_t>(status & 0xFF),
                                 static_cast<std::uint8_t>(data1 & 0x7F),
                                 static_cast<std::uint8_t>(data2 & 0x7F), offset});
        });
        return noErr;
    });
}

OSStatus sysex(void* self, const UInt8*, UInt32) noexcept {
    Instance* inst = Instance::from(self);
    if (inst == nullptr)
        return kAudio_ParamError;
    if (!inst->is_instrument)
        return kAudioUnitErr_InvalidProperty;
    return noErr;
}

} // namespace velk::au
