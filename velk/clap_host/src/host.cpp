#include "velk/clap_host/host.hpp"

#include <algorithm>
#include <cstring>

namespace velk::host {

RecordingHost::RecordingHost(Options options) : options_(options) {
    rescans_.reserve(16);
    params_ = clap_host_params{
        .rescan =
            [](const clap_host* host, clap_param_rescan_flags flags) {
                if (RecordingHost* h = self(host))
                    h->rescans_.push_back(flags);
            },
        .clear = [](const clap_host*, clap_id, clap_param_clear_flags) {},
        .request_flush = [](const clap_host*) {},
    };
    latency_ = clap_host_latency{
        .changed =
            [](const clap_host* host) {
                if (RecordingHost* h = self(host))
                    ++h->latency_changes_;
            },
    };
    host_ = clap_host{
        .clap_version = {options.major, CLAP_VERSION_MINOR, CLAP_VERSION_REVISION},
        .host_data = this,
        .name = "velk",
        .vendor = "velk",
        .url = "",
        .version = "1",
        .get_extension = [](const clap_host* host, const char* id) -> const void* {
            RecordingHost* h = self(host);
            if (h == nullptr || id == nullptr)
                return nullptr;
            if (h->options_.offer_params && std::strcmp(id, CLAP_EXT_PARAMS) == 0)
                return &h->params_;
            if (h->options_.offer_latency && std::strcmp(id, CLAP_EXT_LATENCY) == 0)
                return &h->latency_;
            return nullptr;
        },
        .request_restart =
            [](const clap_host* host) {
                if (RecordingHost* h = self(host))
                    ++h->restarts_;
            },
        .request_process = [](const clap_host*) {},
        .request_callback =
            [](const clap_host* host) {
                if (RecordingHost* h = self(host))
                    ++h->callbacks_;
            },
    };
}

RecordingHost* RecordingHost::self(const clap_host* host) noexcept {
    return host == nullptr ? nullptr : static_cast<RecordingHost*>(host->host_data);
}

void RecordingHost::forget() noexcept {
    callbacks_ = 0;
    restarts_ = 0;
    latency_changes_ = 0;
    rescans_.clear();
}

clap_event_param_value param_event(clap_id id, double value) {
    clap_event_param_value event{};
    event.header = {.size = sizeof(clap_event_param_value),
                    .time = 0,
                    .space_id = CLAP_CORE_EVENT_SPACE_ID,
                    .type = CLAP_EVENT_PARAM_VALUE,
                    .flags = 0};
    event.param_id = id;
    event.cookie = nullptr;
    event.note_id = -1;
    event.port_index = -1;
    event.channel = -1;
    event.key = -1;
    event.value = value;
    return event;
}

EventList& EventList::param(clap_id id, double value) {
    const clap_event_param_value event = param_event(id, value);
    return raw_event(&event, sizeof event);
}

EventList& EventList::raw_event(const void* event, std::size_t size) {
    Slot slot;
    std::memcpy(slot.bytes.data(), event, std::min(size, MAX_EVENT));
    slots_.push_back(slot);
    return *this;
}

EventList& EventList::null_event() {
    Slot slot;
    slot.null = true;
    slots_.push_back(slot);
    return *this;
}

std::uint32_t EventList::count_of(const clap_input_events* list) noexcept {
    if (list == nullptr)
        return 0;
    return static_cast<std::uint32_t>(static_cast<const EventList*>(list->ctx)->slots_.size());
}

const clap_event_header* EventList::event_at(const clap_input_events* list,
                                             std::uint32_t index) noexcept {
    if (list == nullptr)
        return nullptr;
    const auto* self = static_cast<const EventList*>(list->ctx);
    if (index >= self->slots_.size() || self->slots_[index].null)
        return nullptr;
    return reinterpret_cast<const clap_event_header*>(self->slots_[index].bytes.data());
}

AudioBuffer::AudioBuffer(std::uint32_t channels, std::uint32_t frames, float value)
    : frames_(frames), samples_(channels, std::vector<float>(frames, value)) {
    for (std::vector<float>& channel : samples_)
        pointers_.push_back(channel.data());
}

clap_audio_buffer AudioBuffer::raw(std::optional<std::uint32_t> channel_count) noexcept {
    return clap_audio_buffer{.data32 = pointers_.data(),
                             .data64 = nullptr,
                             .channel_count = channel_count.value_or(channels()),
                             .latency = 0,
                             .constant_mask = 0};
}

void AudioBuffer::fill(float value) {
    for (std::vector<float>& channel : samples_)
        std::fill(channel.begin(), channel.end(), value);
}

} // namespace velk::host
