#include "plugin_host.hpp"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>
#include <dlfcn.h>
#include <sys/stat.h>

#include "velk/core/text.hpp"

namespace velk::tool {

namespace {

// Bounds on what a plug-in can make the host walk through.
constexpr std::uint32_t MAX_PLUGINS = 1024;
constexpr std::size_t MAX_FEATURES = 256;
constexpr std::uint32_t MAX_PARAMS = 65536;
constexpr std::uint32_t MAX_PORTS = 64;
constexpr std::size_t MAX_TEXT = 4096;

// The extensions `velk info` asks about.
constexpr std::string_view KNOWN_EXTENSIONS[] = {
    "clap.params",
    "clap.state",
    "clap.latency",
    "clap.tail",
    "clap.audio-ports",
    "clap.audio-ports-config",
    "clap.configurable-audio-ports/1",
    "clap.configurable-audio-ports.draft1",
    "clap.note-ports",
    "clap.gui",
    "clap.render",
    "clap.timer-support",
    "clap.posix-fd-support",
    "clap.thread-pool",
    "clap.voice-info",
    "clap.preset-load",
    "clap.state-context",
    "clap.param-indication",
    "clap.remote-controls",
    "clap.note-name",
    "clap.track-info",
    "clap.context-menu",
    "clap.surround",
    "clap.ambisonic",
};

const clap_output_events IGNORED_OUTPUT{
    .ctx = nullptr,
    .try_push = [](const clap_output_events*, const clap_event_header*) { return true; },
};

// A plug-in's text, which may be null or lack its terminator within `size` bytes.
std::string text_of(const char* text, std::size_t size = MAX_TEXT) {
    return text == nullptr ? std::string() : std::string(text, ::strnlen(text, size));
}

std::string quoted(std::string_view text) {
    return "'" + std::string(text) + "'";
}

std::string number(double value) {
    return format_float(static_cast<float>(value));
}

bool equal_ignoring_case(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               const auto lower = [](char c) {
                   return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
               };
               return lower(x) == lower(y);
           });
}

std::string_view trim(std::string_view text) {
    const auto space = [](char c) {
        return c == ' ' || c == '\t' || c == '\n' || c == '\r';
    };
    while (!text.empty() && space(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && space(text.back()))
        text.remove_suffix(1);
    return text;
}

} // namespace

Result<std::unique_ptr<PluginFile>> PluginFile::open(const std::string& path) {
    const std::string q = quoted(path);
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return fail("cannot read " + q + ": " + std::strerror(errno));
    if (S_ISDIR(st.st_mode))
        return fail(q + " is a folder, not a CLAP plug-in file");

    std::unique_ptr<PluginFile> file(new PluginFile());
    file->path_ = path;
    // A name without a slash would be searched for on the library path.
    const std::string load = path.find('/') == std::string::npos ? "./" + path : path;
    file->handle_ = ::dlopen(load.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (file->handle_ == nullptr) {
        // The loader's message starts with the path, which the message names already.
        std::string reason = text_of(::dlerror());
        if (reason.rfind(load + ": ", 0) == 0)
            reason.erase(0, load.size() + 2);
        return fail(q + " is not a CLAP plug-in: " + reason);
    }
    file->entry_ = static_cast<const clap_plugin_entry*>(::dlsym(file->handle_, "clap_entry"));
    if (file->entry_ == nullptr)
        return fail(q + " is not a CLAP plug-in: it has no clap_entry");
    const clap_plugin_entry& entry = *file->entry_;
    if (entry.clap_version.major < 1)
        return fail(q + " is built for CLAP " + std::to_string(entry.clap_version.major) + "." +
                    std::to_string(entry.clap_version.minor) + ", before 1.0");
    if (entry.init == nullptr || entry.get_factory == nullptr || entry.deinit == nullptr)
        return fail(q + " has an incomplete clap_entry");
    if (!entry.init(path.c_str()))
        return fail(q + " failed to initialise (clap_entry.init returned false)");
    file->initialised_ = true;
    file->factory_ =
        static_cast<const clap_plugin_factory*>(entry.get_factory(CLAP_PLUGIN_FACTORY_ID));
    if (file->factory_ == nullptr)
        return fail(q + " offers no plug-in factory");
    const clap_plugin_factory& factory = *file->factory_;
    if (factory.get_plugin_count == nullptr || factory.get_plugin_descriptor == nullptr ||
        factory.create_plugin == nullptr)
        return fail(q + " has an incomplete plug-in factory");

    const std::uint32_t count = std::min(factory.get_plugin_count(&factory), MAX_PLUGINS);
    std::string others;
    for (std::uint32_t i = 0; i < count; ++i) {
        const clap_plugin_descriptor* d = factory.get_plugin_descriptor(&factory, i);
        if (d == nullptr || d->id == nullptr || d->clap_version.major < 1)
            continue;
        std::vector<std::string> features;
        if (d->features != nullptr)
            for (std::size_t f = 0; f < MAX_FEATURES && d->features[f] != nullptr; ++f)
                features.push_back(text_of(d->features[f]));
        const std::string name = text_of(d->name).empty() ? text_of(d->id) : text_of(d->name);
        if (std::find(features.begin(), features.end(), CLAP_PLUGIN_FEATURE_AUDIO_EFFECT) ==
            features.end()) {
            std::string kinds;
            for (const std::string& feature : features)
                kinds += (kinds.empty() ? "" : ", ") + feature;
            others += (others.empty() ? "" : "; ") + name + " (" +
                      (kinds.empty() ? "no features" : kinds) + ")";
            continue;
        }
        file->features_ = std::move(features);
        file->name_ = name;
        file->strings_ = {text_of(d->id),      text_of(d->name),       text_of(d->vendor),
                          text_of(d->url),     text_of(d->manual_url), text_of(d->support_url),
                          text_of(d->version), text_of(d->description)};
        const auto& s = file->strings_;
        file->descriptor_ = clap_plugin_descriptor{
            .clap_version = d->clap_version,
            .id = s[0].c_str(),
            .name = s[1].c_str(),
            .vendor = s[2].c_str(),
            .url = s[3].c_str(),
            .manual_url = s[4].c_str(),
            .support_url = s[5].c_str(),
            .version = s[6].c_str(),
            .description = s[7].c_str(),
            .features = nullptr,
        };
        return file;
    }
    if (others.empty())
        return fail(q + " holds no plug-ins");
    return fail(q + " holds no audio effect, only: " + others);
}

PluginFile::~PluginFile() {
    if (initialised_)
        entry_->deinit();
    if (handle_ != nullptr)
        ::dlclose(handle_);
}

Result<std::unique_ptr<Instance>> Instance::create(const PluginFile& file) {
    std::unique_ptr<Instance> instance(new Instance(file));
    const clap_plugin_factory& factory = file.factory();
    const clap_plugin* plugin =
        factory.create_plugin(&factory, instance->host_.raw(), file.descriptor().id);
    const std::string q = quoted(file.name());
    if (plugin == nullptr)
        return fail(q + " could not be created (" + quoted(file.path()) + ")");
    if (plugin->destroy == nullptr)
        return fail(q + " has no destroy function");
    instance->plugin_ = plugin;
    if (plugin->init == nullptr || plugin->activate == nullptr || plugin->deactivate == nullptr ||
        plugin->start_processing == nullptr || plugin->stop_processing == nullptr ||
        plugin->process == nullptr)
        return fail(q + " lacks one of the plug-in functions a host calls");
    if (!plugin->init(plugin))
        return fail(q + " failed to initialise (init returned false)");
    instance->answer_callbacks();
    instance->read_params();
    return instance;
}

Instance::~Instance() {
    deactivate();
    if (plugin_ != nullptr)
        plugin_->destroy(plugin_);
}

const void* Instance::extension(const char* id) const {
    if (plugin_ == nullptr || plugin_->get_extension == nullptr)
        return nullptr;
    return plugin_->get_extension(plugin_, id);
}

std::vector<std::string> Instance::extensions() const {
    std::vector<std::string> out;
    for (std::string_view id : KNOWN_EXTENSIONS) {
        const std::string name(id);
        if (extension(name.c_str()) != nullptr)
            out.push_back(name);
    }
    return out;
}

void Instance::read_params() {
    params_ext_ = static_cast<const clap_plugin_params*>(extension(CLAP_EXT_PARAMS));
    if (params_ext_ == nullptr || params_ext_->count == nullptr || params_ext_->get_info == nullptr)
        return;
    const std::uint32_t count = std::min(params_ext_->count(plugin_), MAX_PARAMS);
    for (std::uint32_t i = 0; i < count; ++i) {
        clap_param_info info{};
        if (!params_ext_->get_info(plugin_, i, &info))
            continue;
        params_.push_back(ParamEntry{
            .id = info.id,
            .flags = info.flags,
            .name = text_of(info.name, sizeof info.name),
            .module = text_of(info.module, sizeof info.module),
            .min = info.min_value,
            .max = info.max_value,
            .default_value = info.default_value,
        });
    }
}

Result<const ParamEntry*> Instance::find_param(std::string_view key) const {
    if (!key.empty() &&
        std::all_of(key.begin(), key.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        for (const ParamEntry& param : params_)
            if (std::to_string(param.id) == key)
                return &param;
    }
    for (const ParamEntry& param : params_)
        if (param.name == key)
            return &param;
    for (const ParamEntry& param : params_)
        if (equal_ignoring_case(param.name, key))
            return &param;
    const std::string q = quoted(file_.name());
    if (params_.empty())
        return fail("unknown parameter " + quoted(key) + "; " + q + " has no parameters");
    std::string list;
    for (const ParamEntry& param : params_)
        list += (list.empty() ? "" : ", ") + param.name + " (" + std::to_string(param.id) + ")";
    return fail("unknown parameter " + quoted(key) + "; " + q + " has " + list);
}

Result<double> Instance::parse_value(const ParamEntry& param, std::string_view text) const {
    const std::string name = quoted(param.name);
    if (param.read_only())
        return fail("parameter " + name + " is read-only; it cannot be set");
    const std::string_view trimmed = trim(text);
    std::optional<double> value = to_double(trimmed);
    if (!value) {
        if (params_ext_ == nullptr || params_ext_->text_to_value == nullptr)
            return fail(quoted(file_.name()) + " reads no texts for " + name +
                        "; give a number, not " + quoted(text));
        const std::string owned(trimmed);
        double converted = 0.0;
        if (!params_ext_->text_to_value(plugin_, param.id, owned.c_str(), &converted))
            return fail(quoted(file_.name()) + " refuses " + quoted(text) + " for " + name);
        value = converted;
    }
    if (!std::isfinite(*value) || *value < param.min || *value > param.max)
        return fail("value " + quoted(text) + " for " + name + " is outside its range " +
                    number(param.min) + " to " + number(param.max));
    return *value;
}

std::optional<std::string> Instance::text(const ParamEntry& param, double value) const {
    if (params_ext_ == nullptr || params_ext_->value_to_text == nullptr)
        return std::nullopt;
    char display[CLAP_NAME_SIZE] = {};
    if (!params_ext_->value_to_text(plugin_, param.id, value, display, sizeof display))
        return std::nullopt;
    return text_of(display, sizeof display);
}

std::optional<double> Instance::value(const ParamEntry& param) const {
    if (params_ext_ == nullptr || params_ext_->get_value == nullptr)
        return std::nullopt;
    double value = 0.0;
    if (!params_ext_->get_value(plugin_, param.id, &value))
        return std::nullopt;
    return value;
}

std::string Instance::unit(const ParamEntry& param, double value) const {
    const std::optional<std::string> shown = text(param, value);
    if (!shown)
        return {};
    const std::size_t space = shown->find(' ');
    if (space == std::string::npos || !to_double(shown->substr(0, space)))
        return {};
    return std::string(trim(shown->substr(space + 1)));
}

std::vector<PortEntry> Instance::ports(bool input) const {
    std::vector<PortEntry> out;
    const auto* ext = static_cast<const clap_plugin_audio_ports*>(extension(CLAP_EXT_AUDIO_PORTS));
    if (ext == nullptr || ext->count == nullptr || ext->get == nullptr)
        return out;
    const std::uint32_t count = std::min(ext->count(plugin_, input), MAX_PORTS);
    for (std::uint32_t i = 0; i < count; ++i) {
        clap_audio_port_info info{};
        if (!ext->get(plugin_, i, input, &info))
            continue;
        out.push_back(PortEntry{
            .id = info.id,
            .name = text_of(info.name, sizeof info.name),
            .flags = info.flags,
            .channels = info.channel_count,
            .type = text_of(info.port_type, 64),
        });
    }
    return out;
}

Result<void> Instance::settle_channels(std::uint32_t channels) {
    const auto main_channels = [this](bool input) -> std::optional<std::uint32_t> {
        const std::vector<PortEntry> ports = this->ports(input);
        if (ports.empty())
            return std::nullopt;
        return ports.front().channels;
    };
    const auto settled = [&] {
        const std::optional<std::uint32_t> in = main_channels(true);
        const std::optional<std::uint32_t> out = main_channels(false);
        // Without the audio-ports extension a plug-in is taken to be stereo.
        return in.value_or(2) == channels && out.value_or(2) == channels;
    };
    if (settled())
        return {};
    const std::string q = quoted(file_.name());
    const std::string wanted =
        std::to_string(channels) + (channels == 1 ? " channel" : " channels");
    const auto* ext = static_cast<const clap_plugin_configurable_audio_ports*>(
        extension(CLAP_EXT_CONFIGURABLE_AUDIO_PORTS));
    if (ext == nullptr)
        ext = static_cast<const clap_plugin_configurable_audio_ports*>(
            extension(CLAP_EXT_CONFIGURABLE_AUDIO_PORTS_COMPAT));
    if (ext == nullptr || ext->apply_configuration == nullptr)
        return fail(q + " cannot take " + wanted + ": its ports are fixed");
    const char* type =
        channels == 1 ? CLAP_PORT_MONO : (channels == 2 ? CLAP_PORT_STEREO : nullptr);
    const clap_audio_port_configuration_request requests[2] = {
        {.is_input = true,
         .port_index = 0,
         .channel_count = channels,
         .port_type = type,
         .port_details = nullptr},
        {.is_input = false,
         .port_index = 0,
         .channel_count = channels,
         .port_type = type,
         .port_details = nullptr},
    };
    if ((ext->can_apply_configuration != nullptr &&
         !ext->can_apply_configuration(plugin_, requests, 2)) ||
        !ext->apply_configuration(plugin_, requests, 2))
        return fail(q + " refuses " + wanted);
    answer_callbacks();
    if (!settled())
        return fail(q + " accepted " + wanted + " but its ports do not have them");
    return {};
}

void Instance::set_values(const std::vector<std::pair<clap_id, double>>& values) {
    if (values.empty())
        return;
    if (!active_ && params_ext_ != nullptr && params_ext_->flush != nullptr) {
        host::EventList events;
        for (const auto& [id, value] : values)
            events.param(id, value);
        params_ext_->flush(plugin_, events.raw(), &IGNORED_OUTPUT);
        answer_callbacks();
        return;
    }
    for (const auto& [id, value] : values)
        pending_.param(id, value);
}

Result<void> Instance::activate(double sample_rate, std::uint32_t max_frames) {
    if (active_)
        return {};
    if (!plugin_->activate(plugin_, sample_rate, 1, max_frames))
        return fail(quoted(file_.name()) + " refuses the sample rate " + number(sample_rate) +
                    " Hz");
    active_ = true;
    if (!plugin_->start_processing(plugin_))
        return fail(quoted(file_.name()) + " refuses to start processing");
    processing_ = true;
    answer_callbacks();
    return {};
}

void Instance::deactivate() {
    if (processing_)
        plugin_->stop_processing(plugin_);
    processing_ = false;
    if (active_)
        plugin_->deactivate(plugin_);
    active_ = false;
}

std::uint32_t Instance::latency() const {
    const auto* ext = static_cast<const clap_plugin_latency*>(extension(CLAP_EXT_LATENCY));
    return ext == nullptr || ext->get == nullptr ? 0 : ext->get(plugin_);
}

std::optional<std::uint32_t> Instance::tail() const {
    const auto* ext = static_cast<const clap_plugin_tail*>(extension(CLAP_EXT_TAIL));
    if (ext == nullptr || ext->get == nullptr)
        return std::nullopt;
    const std::uint32_t tail = ext->get(plugin_);
    return tail >= static_cast<std::uint32_t>(INT32_MAX) ? UINT32_MAX : tail;
}

Result<void> Instance::process(float** in, float** out, std::uint32_t channels,
                               std::uint32_t frames) {
    const clap_audio_buffer inputs{.data32 = in,
                                   .data64 = nullptr,
                                   .channel_count = channels,
                                   .latency = 0,
                                   .constant_mask = 0};
    clap_audio_buffer outputs{.data32 = out,
                              .data64 = nullptr,
                              .channel_count = channels,
                              .latency = 0,
                              .constant_mask = 0};
    const clap_process process{
        .steady_time = steady_time_,
        .frames_count = frames,
        .transport = nullptr,
        .audio_inputs = &inputs,
        .audio_outputs = &outputs,
        .audio_inputs_count = 1,
        .audio_outputs_count = 1,
        .in_events = pending_sent_ ? empty_.raw() : pending_.raw(),
        .out_events = &IGNORED_OUTPUT,
    };
    pending_sent_ = true;
    const clap_process_status status = plugin_->process(plugin_, &process);
    steady_time_ += frames;
    answer_callbacks();
    if (status == CLAP_PROCESS_ERROR)
        return fail(quoted(file_.name()) + " reported an error while processing");
    return {};
}

void Instance::answer_callbacks() {
    const int callbacks = host_.callbacks();
    if (callbacks == callbacks_seen_)
        return;
    callbacks_seen_ = callbacks;
    if (plugin_ != nullptr && plugin_->on_main_thread != nullptr)
        plugin_->on_main_thread(plugin_);
}

} // namespace velk::tool
