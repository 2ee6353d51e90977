#pragma once

#include <cstdint>
#include <string>

#include "abi.hpp"
#include "processor.hpp"

namespace velk::bench {

/// A CLAP plug-in loaded with dlopen and driven as a host drives it: the instance is
/// created, initialised, given its channel count, activated and started; every
/// block goes through the plug-in's `process` with separate input and output
/// buffers and an empty event list.
class ClapPlugin final : public Processor {
public:
    /// Loads `path` and creates `plugin_id` for `channels` channels at `sample_rate`
    /// with blocks of at most `max_frames`; `error()` says why when it fails.
    ClapPlugin(const std::string& path, const char* plugin_id, std::uint32_t channels,
               double sample_rate, std::uint32_t max_frames);
    ~ClapPlugin() override;
    ClapPlugin(const ClapPlugin&) = delete;
    ClapPlugin& operator=(const ClapPlugin&) = delete;

    bool ok() const noexcept { return plugin_ != nullptr && error_.empty(); }
    const std::string& error() const noexcept { return error_; }

    /// Sets a parameter with a value event in a block of no frames.
    void set_param(clap_id id, double value);

    void connect(float* const* in, float* const* out) noexcept override;
    void run(std::uint32_t frames) noexcept override;

private:
    std::string error_;
    void* handle_ = nullptr;
    const clap_plugin_entry* entry_ = nullptr;
    const clap_plugin* plugin_ = nullptr;
    bool active_ = false;
    [[maybe_unused]] std::uint32_t channels_;
    std::int64_t steady_time_ = 0;
    clap_host host_{};
    clap_audio_buffer input_{};
    clap_audio_buffer output_{};
    clap_input_events events_{};
    clap_output_events out_events_{};
};

} // namespace velk::bench
