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
#include "velk/clap_host/host.hpp"

/// A CLAP host for tests: loads modules, creates instances and drives them only
/// through the CLAP records, recording what the plug-in asks of the host (the host
/// record, event lists and audio buffers come from `velk_clap_host`). Nothing here
/// allocates while a block is processed, so allocation counts around `process` see
/// only the plug-in's own.
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

using host::AudioBuffer;
using host::EventList;
using host::param_event;
using host::RecordingHost;

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
