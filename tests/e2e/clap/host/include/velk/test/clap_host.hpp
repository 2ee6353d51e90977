#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "abi.hpp"

/// A CLAP host for tests: loads modules, creates instances and drives them only
/// through the CLAP records, recording what the plug-in asks of the host. Nothing
/// here allocates while a block is processed, so allocation counts around `process`
/// see only the plug-in's own.
namespace velk::test {

/// A CLAP module loaded with dlopen: `clap_entry` initialised after loading and
/// deinitialised before unloading. A module that does not load fails the test.
class ClapModule {
public:
    explicit ClapModule(const std::string& path);
    ~ClapModule();
    ClapModule(const ClapModule&) = delete;
    ClapModule& operator=(const ClapModule&) = delete;

    bool loaded() const noexcept { return entry_ != nullptr; }
    const clap_plugin_entry* entry() const noexcept { return entry_; }
    /// The plug-in factory, or null.
    const clap_plugin_factory* factory() const;

private:
    void* handle_ = nullptr;
    const clap_plugin_entry* entry_ = nullptr;
};

/// A `clap_host` that records the calls a plug-in makes back into it. Counters may
/// be bumped on any thread; the rescan list is written on the main thread only.
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
    static RecordingHost& self(const clap_host* host) noexcept;

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

/// An output stream that accepts at most `piece` bytes per call and fails (returns
/// `fail_result`) on call number `fail_at` (counted from 0).
class OutStream {
public:
    explicit OutStream(std::size_t piece = std::numeric_limits<std::size_t>::max(),
                       std::optional<int> fail_at = std::nullopt, std::int64_t fail_result = -1);
    OutStream(const OutStream&) = delete;
    OutStream& operator=(const OutStream&) = delete;
    const clap_ostream* raw() const noexcept { return &stream_; }
    const std::vector<std::uint8_t>& bytes() const noexcept { return bytes_; }
    int calls() const noexcept { return calls_; }

private:
    static std::int64_t write(const clap_ostream* stream, const void* buffer,
                              std::uint64_t size) noexcept;

    std::size_t piece_;
    std::optional<int> fail_at_;
    std::int64_t fail_result_;
    int calls_ = 0;
    std::vector<std::uint8_t> bytes_;
    clap_ostream stream_{this, write};
};

/// An input stream that hands out `bytes` in pieces of at most `piece` bytes and
/// fails (returns `fail_result`) on call number `fail_at` (counted from 0).
class InStream {
public:
    explicit InStream(std::vector<std::uint8_t> bytes,
                      std::size_t piece = std::numeric_limits<std::size_t>::max(),
                      std::optional<int> fail_at = std::nullopt, std::int64_t fail_result = -1);
    InStream(const InStream&) = delete;
    InStream& operator=(const InStream&) = delete;
    const clap_istream* raw() const noexcept { return &stream_; }
    int calls() const noexcept { return calls_; }
    /// The largest size the plug-in asked for in one call.
    std::uint64_t largest_request() const noexcept { return largest_request_; }

private:
    static std::int64_t read(const clap_istream* stream, void* buffer, std::uint64_t size) noexcept;

    std::vector<std::uint8_t> bytes_;
    std::size_t at_ = 0;
    std::size_t piece_;
    std::optional<int> fail_at_;
    std::int64_t fail_result_;
    int calls_ = 0;
    std::uint64_t largest_request_ = 0;
    clap_istream stream_{this, read};
};

/// Non-interleaved float audio owned by the test, with the pointer array a
/// `clap_audio_buffer` refers to.
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

/// What one `process` call carries besides the audio.
struct Block {
    const EventList* events = nullptr;
    const clap_event_transport* transport = nullptr;
    std::int64_t steady_time = -1;
};

/// One plug-in instance, destroyed with this object; typed access to its extensions.
class ClapInstance {
public:
    explicit ClapInstance(const clap_plugin* plugin) noexcept : plugin_(plugin) {}
    ~ClapInstance();
    ClapInstance(const ClapInstance&) = delete;
    ClapInstance& operator=(const ClapInstance&) = delete;

    const clap_plugin* get() const noexcept { return plugin_; }
    explicit operator bool() const noexcept { return plugin_ != nullptr; }
    const void* extension(const char* id) const;
    const clap_plugin_params& params() const;
    const clap_plugin_state& state() const;
    const clap_plugin_audio_ports& ports() const;
    const clap_plugin_configurable_audio_ports& configurable() const;
    std::uint32_t latency() const;
    std::uint32_t tail() const;

    bool init() const { return plugin_->init(plugin_); }
    bool activate(double sample_rate = 48000.0, std::uint32_t max_frames = 512) const {
        return plugin_->activate(plugin_, sample_rate, 1, max_frames);
    }
    void deactivate() const { plugin_->deactivate(plugin_); }
    void reset() const { plugin_->reset(plugin_); }
    void on_main_thread() const { plugin_->on_main_thread(plugin_); }

    /// Processes `out.frames()` frames: `in` (may be null) into `out`, in separate
    /// memory. Allocates nothing.
    clap_process_status process(AudioBuffer* in, AudioBuffer& out, const Block& block = {}) const;

    /// The parameter's value; NaN when the plug-in refuses the id.
    double value(clap_id id) const;
    bool set_text(clap_id id, const char* text, double& value) const;
    /// The display text of `value`; "<refused>" when the plug-in refuses.
    std::string text(clap_id id, double value, std::uint32_t size = 256) const;
    /// Every parameter's info, in list order.
    std::vector<clap_param_info> infos() const;
    /// Settles the channel count with one request for the input side.
    bool apply_channels(std::uint32_t channels) const;

private:
    const clap_plugin* plugin_;
};

} // namespace velk::test
