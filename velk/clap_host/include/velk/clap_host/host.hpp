#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "abi.hpp"

/// The host side of the CLAP ABI: what a plug-in calls back into, the event lists
/// and the audio buffers a host hands to `process`. Nothing here allocates while a
/// block is processed.
namespace velk::host {

/// A `clap_host` that records the calls a plug-in makes back into it, so that the
/// caller can answer them on its main thread (`on_main_thread` after a callback
/// request, a restart after a latency change). Counters may be bumped on any thread;
/// the rescan list is written on the main thread only. Calls with a null host
/// record or a null extension id are ignored.
class RecordingHost {
public:
    struct Options {
        bool offer_params = true;  ///< answers "clap.params"
        bool offer_latency = true; ///< answers "clap.latency"
        std::uint32_t major = CLAP_VERSION_MAJOR;
    };

    RecordingHost() : RecordingHost(Options{}) {}
    explicit RecordingHost(Options options);
    RecordingHost(const RecordingHost&) = delete;
    RecordingHost& operator=(const RecordingHost&) = delete;

    const clap_host* raw() const noexcept { return &host_; }
    int callbacks() const noexcept { return callbacks_.load(); }
    int restarts() const noexcept { return restarts_.load(); }
    int latency_changes() const noexcept { return latency_changes_.load(); }
    const std::vector<clap_param_rescan_flags>& rescans() const noexcept { return rescans_; }
    void forget() noexcept;

private:
    static RecordingHost* self(const clap_host* host) noexcept;

    Options options_;
    clap_host host_{};
    clap_host_params params_{};
    clap_host_latency latency_{};
    std::atomic<int> callbacks_{0};
    std::atomic<int> restarts_{0};
    std::atomic<int> latency_changes_{0};
    std::vector<clap_param_rescan_flags> rescans_;
};

/// An input event list. Events are stored 8-byte aligned, in the order added.
class EventList {
public:
    static constexpr std::size_t MAX_EVENT = 128;

    EventList() { slots_.reserve(16); }
    EventList(const EventList&) = delete;
    EventList& operator=(const EventList&) = delete;
    /// A core parameter-value event.
    EventList& param(clap_id id, double value);
    /// Any event: `size` bytes of `event` (at most `MAX_EVENT`) copied as they are.
    EventList& raw_event(const void* event, std::size_t size);
    /// An index at which `get` answers null.
    EventList& null_event();
    std::size_t size() const noexcept { return slots_.size(); }
    const clap_input_events* raw() const noexcept { return &list_; }

private:
    struct Slot {
        alignas(8) std::array<std::byte, MAX_EVENT> bytes{};
        bool null = false;
    };
    std::vector<Slot> slots_;
    clap_input_events list_{this, count_of, event_at};

    static std::uint32_t count_of(const clap_input_events* list) noexcept;
    static const clap_event_header* event_at(const clap_input_events* list,
                                             std::uint32_t index) noexcept;
};

/// A parameter-value event record as a host fills it.
clap_event_param_value param_event(clap_id id, double value);

/// Non-interleaved float audio with the pointer array a `clap_audio_buffer` refers to.
class AudioBuffer {
public:
    AudioBuffer(std::uint32_t channels, std::uint32_t frames, float value = 0.0f);
    std::vector<float>& channel(std::size_t ch) { return samples_.at(ch); }
    float** data32() noexcept { return pointers_.data(); }
    std::uint32_t channels() const noexcept { return static_cast<std::uint32_t>(samples_.size()); }
    std::uint32_t frames() const noexcept { return frames_; }
    /// The buffer record, for `channels()` channels unless another count is given.
    clap_audio_buffer raw(std::optional<std::uint32_t> channel_count = std::nullopt) noexcept;
    void fill(float value);

private:
    std::uint32_t frames_;
    std::vector<std::vector<float>> samples_;
    std::vector<float*> pointers_;
};

} // namespace velk::host
