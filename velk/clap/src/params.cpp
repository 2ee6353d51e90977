// The parameters extension and the mapping of the framework's parameters onto
// CLAP's flat, id-addressed list.

#include <string>

#include "extensions.hpp"
#include "param_ids.hpp"
#include "param_text.hpp"
#include "wrapper.hpp"

namespace velk::clap {

std::optional<ParamRef> decode_param_id(const ParamSet& params, std::uint32_t channel_count,
                                        clap_id id) noexcept {
    const std::size_t index = id >> 7;
    const std::uint32_t channel = id & 127u;
    if (index >= params.len())
        return std::nullopt;
    const bool per_channel = params.at(index).info().per_channel;
    if (per_channel ? channel >= channel_count : channel != 0)
        return std::nullopt;
    return ParamRef{index, channel};
}

std::uint32_t param_count(const ParamSet& params, std::uint32_t channel_count) noexcept {
    std::uint32_t count = 0;
    for (std::size_t i = 0; i < params.len(); ++i)
        count += params.at(i).info().per_channel ? channel_count : 1;
    return count;
}

std::optional<ParamRef> param_at(const ParamSet& params, std::uint32_t channel_count,
                                 std::uint32_t position) noexcept {
    for (std::size_t i = 0; i < params.len(); ++i) {
        const std::uint32_t entries = params.at(i).info().per_channel ? channel_count : 1;
        if (position < entries)
            return ParamRef{i, position};
        position -= entries;
    }
    return std::nullopt;
}

clap_param_info_flags param_flags(const ParamInfo& info) noexcept {
    switch (info.kind) {
    case Kind::Number:
        return CLAP_PARAM_IS_AUTOMATABLE;
    case Kind::Choice:
        return CLAP_PARAM_IS_ENUM | CLAP_PARAM_IS_AUTOMATABLE | CLAP_PARAM_IS_STEPPED;
    case Kind::Toggle:
        return CLAP_PARAM_IS_AUTOMATABLE | CLAP_PARAM_IS_STEPPED |
               (info.id == "bypass" ? CLAP_PARAM_IS_BYPASS : 0);
    case Kind::Meter:
        return CLAP_PARAM_IS_READONLY;
    }
    return 0;
}

float read_param(const ParamSet& params, ParamRef ref) noexcept {
    const Param& param = params.at(ref.index);
    return param.info().per_channel ? param.get_ch(ref.channel) : param.get();
}

void write_param(const ParamSet& params, ParamRef ref, float value) noexcept {
    Param& param = params.at(ref.index);
    if (param.info().per_channel)
        param.set_ch(ref.channel, value);
    else
        param.set(value);
}

namespace {

// The per-channel suffix of names and modules counts channels from 1.
std::string channel_number(std::uint32_t channel) {
    return std::to_string(channel + 1);
}

std::uint32_t params_count(const clap_plugin* plugin) noexcept {
    const Wrapper* w = Wrapper::from(plugin);
    return w == nullptr ? 0 : param_count(w->params, w->channel_count);
}

bool params_get_info(const clap_plugin* plugin, std::uint32_t index,
                     clap_param_info* info) noexcept {
    const Wrapper* w = Wrapper::from(plugin);
    if (w == nullptr || info == nullptr)
        return false;
    const std::optional<ParamRef> ref = param_at(w->params, w->channel_count, index);
    if (!ref)
        return false;
    const ParamInfo& p = w->params.at(ref->index).info();
    try {
        std::string name(p.name);
        std::string module(p.group);
        if (p.per_channel) {
            name += ' ' + channel_number(ref->channel);
            module += (module.empty() ? "Channel " : "/Channel ") + channel_number(ref->channel);
        }
        *info = clap_param_info{};
        info->id = param_id(ref->index, ref->channel);
        info->flags = param_flags(p);
        info->cookie = nullptr;
        copy_text(name, info->name, CLAP_NAME_SIZE);
        copy_text(module, info->module, CLAP_PATH_SIZE);
        info->min_value = static_cast<double>(p.min);
        info->max_value = static_cast<double>(p.max);
        info->default_value = static_cast<double>(p.default_value);
        return true;
    } catch (...) {
        return false;
    }
}

bool params_get_value(const clap_plugin* plugin, clap_id id, double* value) noexcept {
    const Wrapper* w = Wrapper::from(plugin);
    if (w == nullptr || value == nullptr)
        return false;
    const std::optional<ParamRef> ref = decode_param_id(w->params, w->channel_count, id);
    if (!ref)
        return false;
    *value = static_cast<double>(read_param(w->params, *ref));
    return true;
}

bool params_value_to_text(const clap_plugin* plugin, clap_id id, double value, char* display,
                          std::uint32_t size) noexcept {
    const Wrapper* w = Wrapper::from(plugin);
    if (w == nullptr || display == nullptr)
        return false;
    const std::optional<ParamRef> ref = decode_param_id(w->params, w->channel_count, id);
    if (!ref)
        return false;
    try {
        const std::string text = w->params.at(ref->index).info().display(narrow(value));
        copy_text(text, display, size);
        return true;
    } catch (...) {
        return false;
    }
}

bool params_text_to_value(const clap_plugin* plugin, clap_id id, const char* display,
                          double* value) noexcept {
    const Wrapper* w = Wrapper::from(plugin);
    if (w == nullptr || display == nullptr || value == nullptr)
        return false;
    const std::optional<ParamRef> ref = decode_param_id(w->params, w->channel_count, id);
    if (!ref)
        return false;
    try {
        const std::optional<double> read =
            text_to_value(w->params.at(ref->index).info(), std::string_view(display));
        if (!read)
            return false;
        *value = *read;
        return true;
    } catch (...) {
        return false;
    }
}

// Audio thread while active, main thread otherwise.
void params_flush(const clap_plugin* plugin, const clap_input_events* in_events,
                  const clap_output_events* /*out_events*/) noexcept {
    Wrapper* w = Wrapper::from(plugin);
    if (w == nullptr || !w->apply_events(in_events))
        return;
    if (w->is_active()) {
        w->notify_pending.store(1, std::memory_order_release);
        w->request_callback();
        return;
    }
    try {
        w->params.notify();
    } catch (...) {
        // A throwing listener must not reach the host.
    }
}

} // namespace

const clap_plugin_params PARAMS = {
    .count = params_count,
    .get_info = params_get_info,
    .get_value = params_get_value,
    .value_to_text = params_value_to_text,
    .text_to_value = params_text_to_value,
    .flush = params_flush,
};

} // namespace velk::clap
