// The instance: construction by the factory, the interface record's open and close,
// the life cycle (initialize, uninitialize, reset) and the parameter-id encoding.

#include <utility>

#include "entry.hpp"
#include "instance.hpp"
#include "velk/au/factory.hpp"

namespace velk::au {

Instance::Instance(Inner plugin, const AudioComponentDescription& description)
    : Record{{au_open, au_close, au_lookup, nullptr}},
      desc(description),
      inner(std::move(plugin)),
      params(inner.params()),
      preset_name(std::string("Untitled")),
      is_instrument(inner.is_instrument()) {
    const ChannelBounds bounds = channel_bounds(inner.layout());
    channel_min = bounds.min;
    channel_max = bounds.max;
    const std::uint32_t channels = bounds.clamp(INITIAL_CHANNELS);
    params.set_channels(channels);
    input_channels.set(channels);
    output_channels.set(channels);
    // Asked of the unprepared plug-in, so that the host sees them before initializing.
    latency.set(inner.latency());
    tail.set(inner.tail());
    midi_queue.with([](std::vector<MidiMessage>& queue) { queue.reserve(MIDI_QUEUE_CAPACITY); });
}

Instance* Instance::from(void* self) noexcept {
    // `self` points to the interface record, which begins the instance's `Record` base.
    return static_cast<Instance*>(static_cast<Record*>(self));
}

std::optional<ParamRef> Instance::decode(AudioUnitParameterID id) const noexcept {
    const std::size_t index = id >> PARAM_ID_CHANNEL_BITS;
    const std::size_t channel = id & ((1u << PARAM_ID_CHANNEL_BITS) - 1);
    if (index >= params.len())
        return std::nullopt;
    if (params.at(index).info().per_channel) {
        if (channel >= output_channels.get())
            return std::nullopt;
        return ParamRef{index, channel};
    }
    if (channel != 0)
        return std::nullopt;
    return ParamRef{index, std::nullopt};
}

std::optional<float> Instance::get_value(AudioUnitParameterID id) const noexcept {
    const auto ref = decode(id);
    if (!ref)
        return std::nullopt;
    const Param& param = params.at(ref->index);
    return ref->channel ? param.get_ch(*ref->channel) : param.get();
}

std::size_t Instance::param_id_count() const noexcept {
    std::size_t count = 0;
    for (std::size_t i = 0; i < params.len(); ++i)
        count += params.at(i).info().per_channel ? output_channels.get() : 1;
    return count;
}

std::vector<AudioUnitParameterID> Instance::param_ids() const {
    std::vector<AudioUnitParameterID> ids;
    const std::uint32_t channels = output_channels.get();
    for (std::size_t i = 0; i < params.len(); ++i) {
        const auto base = static_cast<AudioUnitParameterID>(i << PARAM_ID_CHANNEL_BITS);
        const std::uint32_t count = params.at(i).info().per_channel ? channels : 1;
        for (std::uint32_t ch = 0; ch < count; ++ch)
            ids.push_back(base + ch);
    }
    return ids;
}

void Instance::notify(AudioUnitPropertyID property, AudioUnitScope scope,
                      AudioUnitElement element) noexcept {
    // Copied under the lock and called outside it, so a listener may add or remove
    // listeners or set properties from its callback.
    std::vector<Listener> targets;
    try {
        listeners.with([&](const std::vector<Listener>& list) {
            for (const Listener& l : list) {
                if (l.property == property)
                    targets.push_back(l);
            }
        });
    } catch (...) {
        return;
    }
    for (const Listener& l : targets)
        l.proc(l.user_data, component, property, scope, element);
}

void Instance::prepare(std::uint32_t channels) {
    params.set_channels(channels);
    inner.prepare(ProcessSetup{.max_frames = max_frames.get(),
                               .sample_rate = static_cast<float>(sample_rate.get()),
                               .channels = channels});
    latency.set(inner.latency());
    tail.set(inner.tail());
}

AudioComponentPlugInInterface* create_instance(Inner plugin,
                                               const AudioComponentDescription& desc) {
    // The one raw `new`: the host owns the instance until it calls `Close`.
    auto* instance = new Instance(std::move(plugin), desc);
    return &instance->iface;
}

OSStatus au_open(void* self, AudioComponentInstance component) noexcept {
    Instance* inst = Instance::from(self);
    if (inst == nullptr)
        return kAudio_ParamError;
    inst->component = component;
    return noErr;
}

OSStatus au_close(void* self) noexcept {
    // Drops the plug-in, its buffers, the parameter handle and every registered
    // callback without calling any of them.
    delete Instance::from(self);
    return noErr;
}

OSStatus initialize(void* self) noexcept {
    Instance* inst = Instance::from(self);
    if (inst == nullptr)
        return kAudio_ParamError;
    if (inst->initialized.load(std::memory_order_acquire))
        return noErr;
    const std::uint32_t n = inst->output_channels.get();
    if ((!inst->is_instrument && n != inst->input_channels.get()) || n < inst->channel_min ||
        n > inst->channel_max)
        return kAudioUnitErr_FormatNotSupported;
    return contained([&] {
        inst->scratch.assign(n, std::vector<float>(inst->max_frames.get(), 0.0f));
        inst->prepare(n);
        inst->initialized.store(true, std::memory_order_release);
        return noErr;
    });
}

OSStatus uninitialize(void* self) noexcept {
    Instance* inst = Instance::from(self);
    if (inst == nullptr)
        return kAudio_ParamError;
    inst->initialized.store(false, std::memory_order_release);
    return noErr;
}

OSStatus reset(void* self, AudioUnitScope, AudioUnitElement) noexcept {
    Instance* inst = Instance::from(self);
    if (inst == nullptr)
        return kAudio_ParamError;
    if (!inst->initialized.load(std::memory_order_acquire))
        return noErr;
    const OSStatus status = contained([&] {
        inst->prepare(inst->output_channels.get());
        return noErr;
    });
    // A plug-in that could not be prepared again must not be rendered.
    if (status != noErr)
        inst->initialized.store(false, std::memory_order_release);
    return status;
}

} // namespace velk::au
