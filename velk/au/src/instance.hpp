#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

#include "sys/platform.hpp"
#include "velk/core/param.hpp"
#include "velk/core/plugin.hpp"

namespace velk::au {

/// A value behind its own lock. Configuration paths wait for the lock, each only for a
/// short copy or list operation; the render path only tries it and skips its step when
/// the lock is busy. No code path holds two of these locks at once.
template <class T>
class Guarded {
public:
    Guarded() = default;
    explicit Guarded(T value) : value_(std::move(value)) {}

    /// Any thread but the audio thread: runs `f` on the value under the lock, waiting for it.
    template <class F>
    decltype(auto) with(F&& f) {
        std::lock_guard lock(mutex_);
        return std::forward<F>(f)(value_);
    }

    /// Audio thread: runs `f` on the value when the lock is free at once; false, without
    /// running `f`, when it is busy.
    template <class F>
    bool try_with(F&& f) noexcept {
        std::unique_lock lock(mutex_, std::try_to_lock);
        if (!lock.owns_lock())
            return false;
        std::forward<F>(f)(value_);
        return true;
    }

private:
    std::mutex mutex_;
    T value_{};
};

/// A plain field that configuration calls and the render path may touch at the same
/// time (a host reading the latency while rendering): a relaxed atomic, so every reader
/// sees a whole value. Any thread.
template <class T>
class Relaxed {
    static_assert(std::atomic<T>::is_always_lock_free);

public:
    Relaxed() = default;
    explicit Relaxed(T value) noexcept : value_(value) {}

    T get() const noexcept { return value_.load(std::memory_order_relaxed); }
    void set(T value) noexcept { value_.store(value, std::memory_order_relaxed); }

private:
    std::atomic<T> value_{};
};

/// The host's input callback; present only with a non-null function.
struct RenderInput {
    AURenderCallback proc = nullptr;
    void* ref = nullptr;
};

/// The upstream unit the input is pulled from, and its output bus.
struct Connection {
    AudioUnit source = nullptr;
    UInt32 bus = 0;
};

/// A property listener.
struct Listener {
    AudioUnitPropertyListenerProc proc = nullptr;
    void* user_data = nullptr;
    AudioUnitPropertyID property = 0;
};

/// A render notification.
struct Notify {
    AURenderCallback proc = nullptr;
    void* ref = nullptr;
};

/// A scheduled parameter change waiting for the next render.
struct ScheduledValue {
    AudioUnitParameterID id = 0;
    float value = 0.0f;
};

/// A MIDI channel message waiting for the next render.
struct MidiMessage {
    std::uint8_t status = 0;
    std::uint8_t data1 = 0;
    std::uint8_t data2 = 0;
    std::uint32_t offset = 0;
};

/// A valid host parameter id: the parameter at `index`, whole or one channel of it.
struct ParamRef {
    std::size_t index = 0;
    std::optional<std::size_t> channel; ///< Set for a channel of a per-channel parameter.
};

/// Host parameter ids: the parameter's index times 128 plus a channel in the low 7 bits.
inline constexpr unsigned PARAM_ID_CHANNEL_BITS = 7;

/// Channel count of both stream formats before the host sets one.
inline constexpr std::uint32_t INITIAL_CHANNELS = 2;
inline constexpr double INITIAL_SAMPLE_RATE = 44100.0;
inline constexpr std::uint32_t INITIAL_MAX_FRAMES = 1156;
/// The largest maximum-frames-per-slice a host may set.
inline constexpr std::uint32_t MAX_FRAMES_LIMIT = 1048576;
/// The most MIDI messages waiting for one render; later ones are dropped.
inline constexpr std::size_t MIDI_QUEUE_CAPACITY = 1024;

/// The part of an instance the host sees: the interface record, at the start of a
/// standard-layout record, so that the host's pointer to the interface is a pointer to it.
struct Record {
    AudioComponentPlugInInterface iface;
};

static_assert(std::is_standard_layout_v<Record> && offsetof(Record, iface) == 0,
              "the host's interface pointer is the record's address");

/// One Audio Unit instance. The host's `self` pointer is the address of `iface`; the
/// instance is reached from it through its `Record` base. Created by `create_instance`,
/// destroyed by `au_close`.
struct Instance : Record {
    Instance(Inner plugin, const AudioComponentDescription& description);
    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;

    /// The instance behind an entry point's `self`, or null for a null pointer.
    static Instance* from(void* self) noexcept;

    // Any thread: no locks, no allocation.

    /// The parameter a host id names, or nothing for an invalid id.
    std::optional<ParamRef> decode(AudioUnitParameterID id) const noexcept;
    /// The current value behind a host id, or nothing for an invalid id.
    std::optional<float> get_value(AudioUnitParameterID id) const noexcept;
    /// How many ids `param_ids` lists.
    std::size_t param_id_count() const noexcept;

    // Main thread: may allocate and wait for locks.

    /// Every valid parameter id in table order, each channel of a per-channel parameter.
    std::vector<AudioUnitParameterID> param_ids() const;
    /// Calls the listeners of `property`, in registration order, outside every lock.
    void notify(AudioUnitPropertyID property, AudioUnitScope scope,
                AudioUnitElement element) noexcept;
    /// Stores the channel count, prepares the plug-in for the current configuration and
    /// asks its latency and tail. Throws `std::bad_alloc` when memory runs out.
    void prepare(std::uint32_t channels);

    AudioComponentDescription desc;
    AudioComponentInstance component = nullptr;
    Inner inner;
    /// One buffer of `max_frames` samples per output channel, lent to null host buffers.
    std::vector<std::vector<float>> scratch;
    /// The channel runs handed to the plug-in; empty between render calls.
    ChannelList slices;
    ParamSet params;
    std::uint32_t channel_min = 1;
    std::uint32_t channel_max = MAX_CHANNELS;
    Relaxed<std::uint32_t> input_channels{INITIAL_CHANNELS};
    Relaxed<std::uint32_t> output_channels{INITIAL_CHANNELS};
    Relaxed<double> sample_rate{INITIAL_SAMPLE_RATE};
    Relaxed<std::uint32_t> max_frames{INITIAL_MAX_FRAMES};
    /// Publishes the prepared plug-in and the scratch buffers to the render path.
    std::atomic<bool> initialized{false};
    Relaxed<bool> bypass{false};
    Relaxed<OSStatus> last_render_error{noErr};
    Relaxed<std::int32_t> preset_number{-1};
    Guarded<std::string> preset_name;
    Relaxed<std::uint32_t> latency;
    Relaxed<std::uint32_t> tail;
    Guarded<std::optional<RenderInput>> render_callback;
    Guarded<std::optional<Connection>> connection;
    Guarded<std::optional<HostCallbackInfo>> host_callbacks;
    Guarded<std::vector<Listener>> listeners;
    Guarded<std::vector<Notify>> notifies;
    Guarded<std::vector<ScheduledValue>> param_queue;
    bool is_instrument = false;
    Guarded<std::vector<MidiMessage>> midi_queue;

    /// Set while a render runs, so that a render reaching this instance again (an input
    /// connection that leads back to it) is refused instead of recursing.
    std::atomic<bool> rendering{false};
    /// The thread that runs the render notifications while it holds their lock, so that
    /// a notification adding or removing one on this instance is refused, not deadlocked.
    std::atomic<std::thread::id> notifying{};
};

} // namespace velk::au
