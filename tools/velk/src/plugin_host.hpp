#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "abi.hpp"
#include "velk/clap_host/host.hpp"
#include "velk/core/result.hpp"

/// Hosting any CLAP effect from a plug-in file: loading it through `clap_entry`,
/// creating one instance and driving it on one thread (which is the host's main and
/// audio thread alike). Every pointer the plug-in hands back is checked before use;
/// what is missing becomes a message, never a crash of the host.
namespace velk::tool {

/// A loaded plug-in file: `clap_entry` initialised, the factory found and the first
/// effect chosen. Deinitialises and unloads the file when it goes.
class PluginFile {
public:
    /// Loads `path`. Fails with one message naming the file for a missing or
    /// unloadable file, a missing `clap_entry`, an incompatible version, a failed
    /// `init`, a missing factory and a factory without an audio effect.
    static Result<std::unique_ptr<PluginFile>> open(const std::string& path);
    ~PluginFile();
    PluginFile(const PluginFile&) = delete;
    PluginFile& operator=(const PluginFile&) = delete;

    const std::string& path() const noexcept { return path_; }
    /// The chosen effect's descriptor; its strings are never null.
    const clap_plugin_descriptor& descriptor() const noexcept { return descriptor_; }
    /// The descriptor's features, in order.
    const std::vector<std::string>& features() const noexcept { return features_; }
    /// The effect's name, for messages.
    const std::string& name() const noexcept { return name_; }
    const clap_plugin_factory& factory() const noexcept { return *factory_; }

private:
    PluginFile() = default;

    std::string path_;
    void* handle_ = nullptr;
    const clap_plugin_entry* entry_ = nullptr;
    bool initialised_ = false;
    const clap_plugin_factory* factory_ = nullptr;
    clap_plugin_descriptor descriptor_{};
    std::vector<std::string> strings_; // the descriptor's texts, copied
    std::vector<std::string> features_;
    std::string name_;
};

/// One parameter as the plug-in lists it.
struct ParamEntry {
    clap_id id = 0;
    std::uint32_t flags = 0;
    std::string name;
    std::string module;
    double min = 0.0;
    double max = 1.0;
    double default_value = 0.0;

    bool read_only() const noexcept { return (flags & CLAP_PARAM_IS_READONLY) != 0; }
};

/// One audio port as the plug-in lists it.
struct PortEntry {
    clap_id id = 0;
    std::string name;
    std::uint32_t flags = 0;
    std::uint32_t channels = 0;
    std::string type; ///< Empty when the plug-in gives none.
};

/// One plug-in instance, initialised on creation; stopped, deactivated and
/// destroyed when it goes.
class Instance {
public:
    /// Creates and initialises the file's chosen effect.
    static Result<std::unique_ptr<Instance>> create(const PluginFile& file);
    ~Instance();
    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;

    /// The extension record for `id`, or null.
    const void* extension(const char* id) const;
    /// Which of the extensions the tool knows the plug-in offers, by id.
    std::vector<std::string> extensions() const;

    /// Every parameter, in the plug-in's order; empty without the params extension.
    const std::vector<ParamEntry>& params() const noexcept { return params_; }
    /// The parameter named by `key`: its id in decimal, its name, or its name in any
    /// case. Fails with a message listing the parameters.
    Result<const ParamEntry*> find_param(std::string_view key) const;
    /// The value `text` sets `param` to: a decimal number, or the plug-in's own
    /// text-to-value conversion ("-24 dB"). Refuses read-only parameters, texts the
    /// plug-in refuses and values outside the parameter's range.
    Result<double> parse_value(const ParamEntry& param, std::string_view text) const;
    /// The plug-in's text for `value` of `param`, when it gives one.
    std::optional<std::string> text(const ParamEntry& param, double value) const;
    /// The current value of `param`, when the plug-in gives one.
    std::optional<double> value(const ParamEntry& param) const;
    /// The unit the plug-in appends to its texts ("dB"), read from the text of `value`.
    std::string unit(const ParamEntry& param, double value) const;

    /// The audio ports of one side; empty without the audio-ports extension.
    std::vector<PortEntry> ports(bool input) const;
    /// Settles `channels` channels on the main input and output: nothing to do when
    /// the ports already have them, else through the configurable-audio-ports
    /// extension. Before activation only.
    Result<void> settle_channels(std::uint32_t channels);

    /// Sends parameter values before the first block: through the params flush when
    /// the plug-in has one (before activation), else with the first processed block.
    void set_values(const std::vector<std::pair<clap_id, double>>& values);

    /// Activates at `sample_rate` for blocks of at most `max_frames` and starts
    /// processing; fails when the plug-in refuses the rate.
    Result<void> activate(double sample_rate, std::uint32_t max_frames);
    /// Stops processing and deactivates, when active.
    void deactivate();
    /// The latency in samples; 0 without the latency extension.
    std::uint32_t latency() const;
    /// The tail in samples, when the plug-in has the tail extension; UINT32_MAX for
    /// an infinite one.
    std::optional<std::uint32_t> tail() const;

    /// Processes `frames` frames of `channels` channels from `in` into `out`
    /// (separate memory), then answers the plug-in's callback requests. Fails when
    /// the plug-in reports an error.
    Result<void> process(float** in, float** out, std::uint32_t channels, std::uint32_t frames);
    /// How often the plug-in announced a latency change or asked for a restart.
    int latency_changes() const noexcept { return host_.latency_changes() + host_.restarts(); }

private:
    explicit Instance(const PluginFile& file) : file_(file) {}
    void read_params();
    void answer_callbacks();

    const PluginFile& file_;
    host::RecordingHost host_;
    const clap_plugin* plugin_ = nullptr;
    const clap_plugin_params* params_ext_ = nullptr;
    std::vector<ParamEntry> params_;
    host::EventList pending_; // values for the first block
    host::EventList empty_;
    bool pending_sent_ = false;
    bool active_ = false;
    bool processing_ = false;
    int callbacks_seen_ = 0;
    std::int64_t steady_time_ = 0;
};

} // namespace velk::tool
