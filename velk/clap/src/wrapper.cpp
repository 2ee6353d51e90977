// The instance lifecycle and audio processing.

#include "wrapper.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>

#include "extensions.hpp"
#include "param_ids.hpp"
#include "velk/core/ftz.hpp"

namespace velk::clap {
namespace {

// CLAP's fixed-point seconds: 2^31 units per second.
constexpr double SECTIME_UNIT = 1.0 / static_cast<double>(CLAP_SECTIME_FACTOR);

ProcessSetup setup_of(const Wrapper& w) noexcept {
    return {.max_frames = w.max_frames,
            .sample_rate = narrow(w.sample_rate),
            .channels = w.channel_count};
}

// Prepares the plug-in for the stored setup and asks its tail.
// Main thread on activation; the audio thread on reset, where an unchanged setup
// lets the plug-in clear its state in place. Throws what `prepare` throws.
void prepare(Wrapper& w) {
    w.params.set_channels(w.channel_count);
    w.plugin.prepare(setup_of(w));
    w.tail.store(w.plugin.tail(), std::memory_order_relaxed);
}

bool plugin_init(const clap_plugin* plugin) noexcept {
    Wrapper* w = Wrapper::from(plugin);
    if (w == nullptr)
        return false;
    if (w->host->get_extension != nullptr) {
        w->host_params =
            static_cast<const clap_host_params*>(w->host->get_extension(w->host, CLAP_EXT_PARAMS));
        w->host_latency = static_cast<const clap_host_latency*>(
            w->host->get_extension(w->host, CLAP_EXT_LATENCY));
    }
    return true;
}

void plugin_destroy(const clap_plugin* plugin) noexcept {
    delete Wrapper::from(plugin);
}

bool plugin_activate(const clap_plugin* plugin, double sample_rate, std::uint32_t /*min_frames*/,
                     std::uint32_t max_frames) noexcept {
    Wrapper* w = Wrapper::from(plugin);
    if (w == nullptr || w->is_active())
        return false;
    // The plug-in sees the rate as a float: refuse what does not narrow to a
    // finite positive one, not only zero, negatives, infinities and NaN, and rates
    // above any hardware's, for which a plug-in's delay lines would grow unbounded.
    const float narrowed = narrow(sample_rate);
    if (!(std::isfinite(narrowed) && narrowed > 0.0f && narrowed <= MAX_SAMPLE_RATE))
        return false;
    const double old_rate = w->sample_rate;
    const std::uint32_t old_frames = w->max_frames;
    w->sample_rate = sample_rate;
    w->max_frames = std::max<std::uint32_t>(max_frames, 1);
    try {
        prepare(*w);
    } catch (...) {
        w->sample_rate = old_rate;
        w->max_frames = old_frames;
        return false;
    }
    const std::uint32_t latency = w->plugin.latency();
    w->latency.store(latency, std::memory_order_relaxed);
    w->reported_latency.store(latency, std::memory_order_relaxed);
    w->active.store(1, std::memory_order_release);
    return true;
}

void plugin_deactivate(const clap_plugin* plugin) noexcept {
    if (Wrapper* w = Wrapper::from(plugin))
        w->active.store(0, std::memory_order_release);
}

bool plugin_start_processing(const clap_plugin* plugin) noexcept {
    return Wrapper::from(plugin) != nullptr;
}

void plugin_stop_processing(const clap_plugin* /*plugin*/) noexcept {}

// Latency asked after a block or a reset: a change is announced from the main thread.
void update_latency(Wrapper& w) noexcept {
    const std::uint32_t now = w.plugin.latency();
    if (w.latency.exchange(now, std::memory_order_acq_rel) != now)
        w.request_callback();
}

// Audio thread while active. Must not allocate: the plug-in's prepare with an
// unchanged setup clears in place.
void plugin_reset(const clap_plugin* plugin) noexcept {
    Wrapper* w = Wrapper::from(plugin);
    if (w == nullptr || !w->is_active())
        return;
    try {
        prepare(*w);
    } catch (...) {
        // The plug-in is left unprepared and passes audio through untouched.
        return;
    }
    update_latency(*w);
}

ProcessContext context_of(const Wrapper& w, const clap_process& process) noexcept {
    ProcessContext context;
    context.sample_rate = narrow(w.sample_rate);
    if (process.steady_time >= 0)
        context.position = static_cast<double>(process.steady_time);
    if (const clap_event_transport* transport = process.transport) {
        context.playing = (transport->flags & CLAP_TRANSPORT_IS_PLAYING) != 0;
        if ((transport->flags & CLAP_TRANSPORT_HAS_TEMPO) != 0)
            context.tempo = transport->tempo;
        if ((transport->flags & CLAP_TRANSPORT_HAS_SECONDS_TIMELINE) != 0)
            context.position =
                static_cast<double>(transport->song_pos_seconds) * SECTIME_UNIT * w.sample_rate;
    }
    return context;
}

clap_process_status process_block(Wrapper& w, const clap_process& process) noexcept {
    if (w.apply_events(process.in_events)) {
        w.notify_pending.store(1, std::memory_order_release);
        w.request_callback();
    }
    const std::uint32_t frames = process.frames_count;
    if (frames == 0 || process.audio_outputs == nullptr || process.audio_outputs_count == 0)
        return CLAP_PROCESS_CONTINUE;

    const clap_audio_buffer& out = process.audio_outputs[0];
    if (out.data32 == nullptr || out.channel_count < 1 || out.channel_count > MAX_CHANNELS ||
        out.channel_count != w.channel_count)
        return CLAP_PROCESS_ERROR;
    // Every channel is checked before any is written, so a refused block leaves the
    // host's buffers as they were.
    for (std::uint32_t j = 0; j < out.channel_count; ++j)
        if (out.data32[j] == nullptr)
            return CLAP_PROCESS_ERROR;

    const clap_audio_buffer* in = process.audio_inputs != nullptr && process.audio_inputs_count > 0
                                      ? process.audio_inputs
                                      : nullptr;
    for (std::uint32_t j = 0; j < out.channel_count; ++j) {
        float* dst = out.data32[j];
        const float* src = in != nullptr && j < in->channel_count && in->data32 != nullptr
                               ? in->data32[j]
                               : nullptr;
        if (src == nullptr)
            std::fill_n(dst, frames, 0.0f);
        else if (src != dst)
            std::memmove(dst, src, std::size_t{frames} * sizeof(float));
    }

    // The plug-in was sized for at most max_frames per call; a longer block from the
    // host is handed over in pieces.
    ProcessContext context = context_of(w, process);
    for (std::uint32_t at = 0; at < frames;) {
        const std::uint32_t n = std::min(frames - at, w.max_frames);
        w.buffers.clear();
        for (std::uint32_t j = 0; j < out.channel_count; ++j)
            w.buffers.push(std::span<float>(out.data32[j] + at, n));
        w.plugin.process(w.buffers.runs(), context);
        if (context.position)
            *context.position += static_cast<double>(n);
        at += n;
    }
    w.buffers.clear();

    w.tail.store(w.plugin.tail(), std::memory_order_relaxed);
    update_latency(w);
    return CLAP_PROCESS_CONTINUE;
}

clap_process_status plugin_process(const clap_plugin* plugin,
                                   const clap_process* process) noexcept {
    Wrapper* w = Wrapper::from(plugin);
    // Only an active instance was prepared for the channel count in force: an
    // inactive one may have been configured for another since.
    if (w == nullptr || process == nullptr || !w->is_active())
        return CLAP_PROCESS_ERROR;
    const ScopedFlushToZero flush_to_zero;
    try {
        return process_block(*w, *process);
    } catch (...) {
        w->buffers.clear();
        return CLAP_PROCESS_ERROR;
    }
}

const void* plugin_get_extension(const clap_plugin* plugin, const char* id) noexcept {
    return Wrapper::from(plugin) == nullptr ? nullptr : find_extension(id);
}

void plugin_on_main_thread(const clap_plugin* plugin) noexcept {
    Wrapper* w = Wrapper::from(plugin);
    if (w == nullptr)
        return;
    if (w->notify_pending.exchange(0, std::memory_order_acq_rel) != 0) {
        try {
            w->params.notify();
        } catch (...) {
            // A throwing listener must not reach the host.
        }
    }
    const std::uint32_t latency = w->latency.load(std::memory_order_acquire);
    if (w->reported_latency.exchange(latency, std::memory_order_acq_rel) == latency)
        return;
    if (w->host_latency != nullptr && w->host_latency->changed != nullptr)
        w->host_latency->changed(w->host);
    // Hosts take a new latency only on activation: ask an active instance's host to
    // restart it.
    if (w->is_active() && w->host->request_restart != nullptr)
        w->host->request_restart(w->host);
}

} // namespace

float narrow(double value) noexcept {
    constexpr double largest = static_cast<double>(std::numeric_limits<float>::max());
    if (value > largest)
        return std::numeric_limits<float>::infinity();
    if (value < -largest)
        return -std::numeric_limits<float>::infinity();
    return static_cast<float>(value);
}

Wrapper::Wrapper(const clap_plugin_descriptor* descriptor, const clap_host* client, Inner owned)
    : host(client), plugin(std::move(owned)), params(plugin.params()) {
    const ChannelBounds bounds = input_channel_bounds(plugin.layout());
    channel_min = bounds.min;
    channel_max = bounds.max;
    channel_count = bounds.clamp(2);
    params.set_channels(channel_count);
    const std::uint32_t initial_latency = plugin.latency();
    latency.store(initial_latency, std::memory_order_relaxed);
    reported_latency.store(initial_latency, std::memory_order_relaxed);
    tail.store(plugin.tail(), std::memory_order_relaxed);
    record = clap_plugin{
        .desc = descriptor,
        .plugin_data = this,
        .init = plugin_init,
        .destroy = plugin_destroy,
        .activate = plugin_activate,
        .deactivate = plugin_deactivate,
        .start_processing = plugin_start_processing,
        .stop_processing = plugin_stop_processing,
        .reset = plugin_reset,
        .process = plugin_process,
        .get_extension = plugin_get_extension,
        .on_main_thread = plugin_on_main_thread,
    };
}

const clap_plugin* Wrapper::create(const clap_plugin_descriptor* descriptor, const clap_host* host,
                                   Inner plugin) {
    auto* w = new Wrapper(descriptor, host, std::move(plugin));
    return &w->record;
}

Wrapper* Wrapper::from(const clap_plugin* plugin) noexcept {
    return plugin == nullptr ? nullptr : static_cast<Wrapper*>(plugin->plugin_data);
}

void Wrapper::request_callback() const noexcept {
    if (host->request_callback != nullptr)
        host->request_callback(host);
}

bool Wrapper::apply_events(const clap_input_events* in_events) noexcept {
    if (in_events == nullptr || in_events->size == nullptr || in_events->get == nullptr)
        return false;
    bool written = false;
    const std::uint32_t count = in_events->size(in_events);
    for (std::uint32_t i = 0; i < count; ++i) {
        const clap_event_header* header = in_events->get(in_events, i);
        if (header == nullptr || header->space_id != CLAP_CORE_EVENT_SPACE_ID ||
            header->type != CLAP_EVENT_PARAM_VALUE || header->size < sizeof(clap_event_param_value))
            continue;
        // Copied out, so an event the host packed without 8-byte alignment reads safely.
        clap_event_param_value event;
        std::memcpy(&event, header, sizeof event);
        if (!std::isfinite(event.value))
            continue;
        const std::optional<ParamRef> ref = decode_param_id(params, channel_count, event.param_id);
        if (!ref || params.at(ref->index).info().kind == Kind::Meter)
            continue;
        write_param(params, *ref, narrow(event.value));
        written = true;
    }
    return written;
}

const void* find_extension(const char* id) noexcept {
    if (abi::is_id(id, CLAP_EXT_PARAMS))
        return &PARAMS;
    if (abi::is_id(id, CLAP_EXT_STATE))
        return &STATE;
    if (abi::is_id(id, CLAP_EXT_LATENCY))
        return &LATENCY;
    if (abi::is_id(id, CLAP_EXT_TAIL))
        return &TAIL;
    if (abi::is_id(id, CLAP_EXT_AUDIO_PORTS))
        return &AUDIO_PORTS;
    if (abi::is_id(id, CLAP_EXT_CONFIGURABLE_AUDIO_PORTS) ||
        abi::is_id(id, CLAP_EXT_CONFIGURABLE_AUDIO_PORTS_COMPAT))
        return &CONFIGURABLE_PORTS;
    return nullptr;
}

} // namespace velk::clap
