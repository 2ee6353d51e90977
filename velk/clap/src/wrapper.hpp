#pragma once

#include <atomic>
#include <cstdint>

#include "abi.hpp"
#include "velk/core/param.hpp"
#include "velk/core/plugin.hpp"

namespace velk::clap {

/// One CLAP plug-in instance: the `clap_plugin` record handed to the host (its
/// `plugin_data` points back here), the plug-in, and what the host has settled.
/// Between the host's threads only the atomics and the `ParamSet` are shared;
/// `channel_count` changes only while inactive, when nothing is processed.
struct Wrapper {
    // Main thread: may allocate.

    /// A new inactive instance on the heap, freed by the record's `destroy`. Asks the
    /// plug-in's layout for the channel bounds, starts at 2 channels within them, and
    /// asks latency and tail. Throws only `std::bad_alloc`.
    static const clap_plugin* create(const clap_plugin_descriptor* descriptor,
                                     const clap_host* host, Inner plugin);

    // Any thread: no allocation, no locks, no waits.

    /// The instance behind a record the host hands back; null for a null record.
    static Wrapper* from(const clap_plugin* plugin) noexcept;
    /// Writes the block's parameter-value events into the `ParamSet` (sanitised;
    /// meters, invalid ids, non-finite values and malformed events are skipped).
    /// True when at least one parameter was written.
    bool apply_events(const clap_input_events* in_events) noexcept;
    bool is_active() const noexcept { return active.load(std::memory_order_acquire) != 0; }
    /// Asks the host for a main-thread callback, when it offers one.
    void request_callback() const noexcept;

    Wrapper(const Wrapper&) = delete;
    Wrapper& operator=(const Wrapper&) = delete;

    clap_plugin record{}; // first, so the instance's address is the record's
    const clap_host* host;
    Inner plugin;
    ChannelList buffers; // refilled for every processed block
    ParamSet params;
    std::uint32_t channel_min = 1;
    std::uint32_t channel_max = MAX_CHANNELS;
    std::uint32_t channel_count = 2; // input and output alike
    double sample_rate = 48000.0;    // Hz, of the last activation
    std::uint32_t max_frames = 4096; // of the last activation, at least 1
    std::atomic<std::uint8_t> active{0};
    std::atomic<std::uint32_t> latency{0};          // samples, as last asked
    std::atomic<std::uint32_t> reported_latency{0}; // samples, as the host knows it
    std::atomic<std::uint32_t> tail{0};             // samples, as last asked
    std::atomic<std::uint8_t> notify_pending{0};    // values changed on the audio thread
    const clap_host_params* host_params = nullptr;
    const clap_host_latency* host_latency = nullptr;

private:
    Wrapper(const clap_plugin_descriptor* descriptor, const clap_host* host, Inner plugin);
};

/// A double narrowed to a float the way IEEE conversion does, without undefined
/// behaviour for magnitudes beyond the float range (those give infinities).
float narrow(double value) noexcept;

} // namespace velk::clap
