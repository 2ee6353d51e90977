#include "clap_plugin.hpp"

#include <dlfcn.h>

namespace velk::bench {
namespace {

std::uint32_t no_events(const clap_input_events* /*list*/) noexcept {
    return 0;
}

const clap_event_header* no_event(const clap_input_events* /*list*/,
                                  std::uint32_t /*index*/) noexcept {
    return nullptr;
}

bool drop_event(const clap_output_events* /*list*/, const clap_event_header* /*event*/) noexcept {
    return true;
}

// One parameter-value event, for the set-up block.
struct OneEvent {
    clap_event_param_value event{};
    clap_input_events list{this, count, get};

    static std::uint32_t count(const clap_input_events* /*list*/) noexcept { return 1; }
    static const clap_event_header* get(const clap_input_events* list,
                                        std::uint32_t /*index*/) noexcept {
        return &static_cast<const OneEvent*>(list->ctx)->event.header;
    }
};

} // namespace

ClapPlugin::ClapPlugin(const std::string& path, const char* plugin_id, std::uint32_t channels,
                       double sample_rate, std::uint32_t max_frames) {
    host_ = clap_host{
        .clap_version = CLAP_VERSION,
        .host_data = this,
        .name = "velk peers",
        .vendor = "velk",
        .url = "",
        .version = "1",
        .get_extension = [](const clap_host*, const char*) -> const void* { return nullptr; },
        .request_restart = [](const clap_host*) {},
        .request_process = [](const clap_host*) {},
        .request_callback = [](const clap_host*) {},
    };
    events_ = clap_input_events{this, no_events, no_event};
    out_events_ = clap_output_events{this, drop_event};

    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) {
        error_ = std::string("cannot load ") + path + ": " + dlerror();
        return;
    }
    entry_ = static_cast<const clap_plugin_entry*>(dlsym(handle_, "clap_entry"));
    if (entry_ == nullptr || !entry_->init(path.c_str())) {
        entry_ = nullptr;
        error_ = path + " has no usable clap_entry";
        return;
    }
    const auto* factory =
        static_cast<const clap_plugin_factory*>(entry_->get_factory(CLAP_PLUGIN_FACTORY_ID));
    if (factory == nullptr) {
        error_ = path + " has no plug-in factory";
        return;
    }
    plugin_ = factory->create_plugin(factory, &host_, plugin_id);
    if (plugin_ == nullptr || !plugin_->init(plugin_)) {
        error_ = std::string("cannot create ") + plugin_id;
        return;
    }
    const auto* ports = static_cast<const clap_plugin_configurable_audio_ports*>(
        plugin_->get_extension(plugin_, CLAP_EXT_CONFIGURABLE_AUDIO_PORTS));
    const clap_audio_port_configuration_request request{
        .is_input = true,
        .port_index = 0,
        .channel_count = channels,
        .port_type = nullptr,
        .port_details = nullptr,
    };
    if (ports == nullptr || !ports->apply_configuration(plugin_, &request, 1)) {
        error_ = "cannot configure " + std::to_string(channels) + " channels";
        return;
    }
    if (!plugin_->activate(plugin_, sample_rate, 1, max_frames)) {
        error_ = "activation failed";
        return;
    }
    active_ = true;
    plugin_->start_processing(plugin_);
    input_.channel_count = channels;
    output_.channel_count = channels;
}

ClapPlugin::~ClapPlugin() {
    if (plugin_ != nullptr) {
        if (active_) {
            plugin_->stop_processing(plugin_);
            plugin_->deactivate(plugin_);
        }
        plugin_->destroy(plugin_);
    }
    if (entry_ != nullptr)
        entry_->deinit();
    if (handle_ != nullptr)
        dlclose(handle_);
}

void ClapPlugin::set_param(clap_id id, double value) {
    OneEvent one;
    one.event = clap_event_param_value{
        .header = {.size = sizeof(clap_event_param_value),
                   .time = 0,
                   .space_id = CLAP_CORE_EVENT_SPACE_ID,
                   .type = CLAP_EVENT_PARAM_VALUE,
                   .flags = 0},
        .param_id = id,
        .cookie = nullptr,
        .note_id = -1,
        .port_index = -1,
        .channel = -1,
        .key = -1,
        .value = value,
    };
    // A block of no frames carries the event and leaves the control period where it is.
    const clap_process process{
        .steady_time = steady_time_,
        .frames_count = 0,
        .transport = nullptr,
        .audio_inputs = nullptr,
        .audio_outputs = nullptr,
        .audio_inputs_count = 0,
        .audio_outputs_count = 0,
        .in_events = &one.list,
        .out_events = &out_events_,
    };
    plugin_->process(plugin_, &process);
}

void ClapPlugin::connect(float* const* in, float* const* out) noexcept {
    // The record's pointer array is not const, though no plug-in writes it.
    input_.data32 = const_cast<float**>(in);
    output_.data32 = const_cast<float**>(out);
}

void ClapPlugin::run(std::uint32_t frames) noexcept {
    const clap_process process{
        .steady_time = steady_time_,
        .frames_count = frames,
        .transport = nullptr,
        .audio_inputs = &input_,
        .audio_outputs = &output_,
        .audio_inputs_count = 1,
        .audio_outputs_count = 1,
        .in_events = &events_,
        .out_events = &out_events_,
    };
    plugin_->process(plugin_, &process);
    steady_time_ += frames;
}

} // namespace velk::bench
