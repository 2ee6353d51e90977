// The audio-ports and configurable-audio-ports extensions: one main port on each
// side, both with the instance's channel count, which a configuration request may
// change while the instance is inactive.

#include "extensions.hpp"
#include "param_text.hpp"
#include "wrapper.hpp"

namespace velk::clap {
namespace {

std::uint32_t ports_count(const clap_plugin* plugin, bool /*is_input*/) noexcept {
    return Wrapper::from(plugin) == nullptr ? 0 : 1;
}

bool ports_get(const clap_plugin* plugin, std::uint32_t index, bool /*is_input*/,
               clap_audio_port_info* info) noexcept {
    const Wrapper* w = Wrapper::from(plugin);
    if (w == nullptr || index != 0 || info == nullptr)
        return false;
    *info = clap_audio_port_info{};
    info->id = 0;
    copy_text("Main", info->name, CLAP_NAME_SIZE);
    info->flags = CLAP_AUDIO_PORT_IS_MAIN;
    info->channel_count = w->channel_count;
    info->port_type = w->channel_count == 1   ? CLAP_PORT_MONO
                      : w->channel_count == 2 ? CLAP_PORT_STEREO
                                              : nullptr;
    info->in_place_pair = 0; // input 0 and output 0 are processed in place
    return true;
}

// Whether the requests name one channel count, for port 0, that the plug-in takes;
// the side they name is not examined, so they settle input and output together.
bool acceptable(const Wrapper& w, const clap_audio_port_configuration_request* requests,
                std::uint32_t count) noexcept {
    if (requests == nullptr || count == 0 || w.is_active())
        return false;
    const clap_audio_port_configuration_request& first = requests[0];
    if (first.port_index != 0 || first.channel_count < w.channel_min ||
        first.channel_count > w.channel_max)
        return false;
    for (std::uint32_t i = 1; i < count; ++i)
        if (requests[i].port_index != 0 || requests[i].channel_count != first.channel_count)
            return false;
    return true;
}

bool configurable_can_apply(const clap_plugin* plugin,
                            const clap_audio_port_configuration_request* requests,
                            std::uint32_t count) noexcept {
    const Wrapper* w = Wrapper::from(plugin);
    return w != nullptr && acceptable(*w, requests, count);
}

bool configurable_apply(const clap_plugin* plugin,
                        const clap_audio_port_configuration_request* requests,
                        std::uint32_t count) noexcept {
    Wrapper* w = Wrapper::from(plugin);
    if (w == nullptr || !acceptable(*w, requests, count))
        return false;
    w->channel_count = requests[0].channel_count;
    w->params.set_channels(w->channel_count);
    // The number and ids of per-channel parameters follow the channel count.
    if (w->host_params != nullptr && w->host_params->rescan != nullptr)
        w->host_params->rescan(w->host, CLAP_PARAM_RESCAN_ALL);
    return true;
}

} // namespace

const clap_plugin_audio_ports AUDIO_PORTS = {.count = ports_count, .get = ports_get};
const clap_plugin_configurable_audio_ports CONFIGURABLE_PORTS = {
    .can_apply_configuration = configurable_can_apply,
    .apply_configuration = configurable_apply,
};

} // namespace velk::clap
