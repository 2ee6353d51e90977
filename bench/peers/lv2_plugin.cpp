#include "lv2_plugin.hpp"

#include <cmath>
#include <cstring>
#include <lilv/lilv.h>
#include <lv2/atom/atom.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/core/lv2.h>
#include <lv2/options/options.h>
#include <lv2/urid/urid.h>

namespace velk::bench {

struct Lv2World::Impl {
    LilvWorld* world = lilv_world_new();
    std::vector<std::string> uris;
    LV2_URID_Map map{this, map_uri};
    LV2_URID_Unmap unmap{this, unmap_urid};

    static LV2_URID map_uri(LV2_URID_Map_Handle handle, const char* uri) {
        auto& self = *static_cast<Impl*>(handle);
        for (std::size_t i = 0; i < self.uris.size(); ++i)
            if (self.uris[i] == uri)
                return static_cast<LV2_URID>(i + 1);
        self.uris.emplace_back(uri);
        return static_cast<LV2_URID>(self.uris.size());
    }
    static const char* unmap_urid(LV2_URID_Unmap_Handle handle, LV2_URID urid) {
        auto& self = *static_cast<Impl*>(handle);
        return urid >= 1 && urid <= self.uris.size() ? self.uris[urid - 1].c_str() : nullptr;
    }
    LV2_URID id(const char* uri) { return map_uri(this, uri); }
};

Lv2World::Lv2World() : impl_(std::make_unique<Impl>()) {
    lilv_world_load_all(impl_->world);
}

Lv2World::~Lv2World() {
    lilv_world_free(impl_->world);
}

namespace {

// Room for whatever an atom output port writes during one block.
constexpr std::size_t ATOM_CAPACITY = 8192;

struct AtomBuffer {
    alignas(8) unsigned char bytes[ATOM_CAPACITY] = {};
};

} // namespace

struct Lv2Plugin::Impl {
    LilvInstance* instance = nullptr;
    std::vector<std::uint32_t> audio_in;               // port indices, channel order
    std::vector<std::uint32_t> audio_out;              // port indices, channel order
    std::vector<float> controls;                       // one per port, control ports only read
    std::vector<float> scratch;                        // CV and unknown ports
    std::vector<std::pair<std::uint32_t, bool>> atoms; // port index, is input
    std::vector<AtomBuffer> atom_buffers;
    LV2_URID sequence = 0;
    LV2_URID chunk = 0;
    std::int32_t block_min = 1;
    std::int32_t block_max = 0;
    float rate = 0.0f;
    std::vector<LV2_Options_Option> options;
    LV2_Feature map_feature{};
    LV2_Feature unmap_feature{};
    LV2_Feature options_feature{};
    LV2_Feature bounded_feature{};
    std::vector<const LV2_Feature*> features;

    // Atom inputs hold an empty sequence; atom outputs offer their whole capacity.
    void reset_atoms() noexcept {
        for (std::size_t i = 0; i < atoms.size(); ++i) {
            auto* seq = reinterpret_cast<LV2_Atom_Sequence*>(atom_buffers[i].bytes);
            if (atoms[i].second) {
                seq->atom.size = sizeof(LV2_Atom_Sequence_Body);
                seq->atom.type = sequence;
                seq->body.unit = 0;
                seq->body.pad = 0;
            } else {
                seq->atom.size = ATOM_CAPACITY - sizeof(LV2_Atom);
                seq->atom.type = chunk;
            }
        }
    }
};

Lv2Plugin::Lv2Plugin(Lv2World& world, const std::string& uri, const std::vector<Control>& controls,
                     double sample_rate, std::uint32_t max_frames)
    : impl_(std::make_unique<Impl>()) {
    Lv2World::Impl& w = world.impl();
    Impl& p = *impl_;
    LilvNode* uri_node = lilv_new_uri(w.world, uri.c_str());
    const LilvPlugin* plugin =
        lilv_plugins_get_by_uri(lilv_world_get_all_plugins(w.world), uri_node);
    lilv_node_free(uri_node);
    if (plugin == nullptr) {
        error_ = "not installed";
        return;
    }

    LilvNode* audio = lilv_new_uri(w.world, LV2_CORE__AudioPort);
    LilvNode* control = lilv_new_uri(w.world, LV2_CORE__ControlPort);
    LilvNode* input = lilv_new_uri(w.world, LV2_CORE__InputPort);
    LilvNode* atom = lilv_new_uri(w.world, LV2_ATOM__AtomPort);
    const std::uint32_t ports = lilv_plugin_get_num_ports(plugin);
    std::vector<float> defaults(ports, 0.0f);
    std::vector<float> mins(ports, NAN);
    std::vector<float> maxs(ports, NAN);
    lilv_plugin_get_port_ranges_float(plugin, mins.data(), maxs.data(), defaults.data());
    p.controls.assign(ports, 0.0f);
    std::vector<bool> matched(controls.size(), false);
    for (std::uint32_t i = 0; i < ports; ++i) {
        const LilvPort* port = lilv_plugin_get_port_by_index(plugin, i);
        const bool is_input = lilv_port_is_a(plugin, port, input);
        if (lilv_port_is_a(plugin, port, audio)) {
            (is_input ? p.audio_in : p.audio_out).push_back(i);
        } else if (lilv_port_is_a(plugin, port, control)) {
            float v =
                std::isnan(defaults[i]) ? (std::isnan(mins[i]) ? 0.0f : mins[i]) : defaults[i];
            const char* symbol = lilv_node_as_string(lilv_port_get_symbol(plugin, port));
            for (std::size_t c = 0; c < controls.size(); ++c)
                if (is_input && std::strcmp(symbol, controls[c].symbol) == 0) {
                    v = controls[c].value;
                    matched[c] = true;
                }
            p.controls[i] = v;
        } else if (lilv_port_is_a(plugin, port, atom)) {
            p.atoms.emplace_back(i, is_input);
        }
    }
    lilv_node_free(audio);
    lilv_node_free(control);
    lilv_node_free(input);
    lilv_node_free(atom);
    for (std::size_t c = 0; c < controls.size(); ++c)
        if (!matched[c]) {
            error_ = std::string("has no control input '") + controls[c].symbol + "'";
            return;
        }
    if (p.audio_in.size() < 2 || p.audio_out.size() < 2) {
        error_ = "is not stereo";
        return;
    }

    p.sequence = w.id(LV2_ATOM__Sequence);
    p.chunk = w.id(LV2_ATOM__Chunk);
    p.block_max = static_cast<std::int32_t>(max_frames);
    p.rate = static_cast<float>(sample_rate);
    const LV2_URID int_type = w.id(LV2_ATOM__Int);
    const LV2_URID float_type = w.id(LV2_ATOM__Float);
    p.options = {
        {LV2_OPTIONS_INSTANCE, 0, w.id(LV2_BUF_SIZE__minBlockLength), sizeof(std::int32_t),
         int_type, &p.block_min},
        {LV2_OPTIONS_INSTANCE, 0, w.id(LV2_BUF_SIZE__maxBlockLength), sizeof(std::int32_t),
         int_type, &p.block_max},
        {LV2_OPTIONS_INSTANCE, 0, w.id(LV2_BUF_SIZE__nominalBlockLength), sizeof(std::int32_t),
         int_type, &p.block_max},
        {LV2_OPTIONS_INSTANCE, 0, w.id("http://lv2plug.in/ns/ext/parameters#sampleRate"),
         sizeof(float), float_type, &p.rate},
        {LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr},
    };
    p.map_feature = {LV2_URID__map, &w.map};
    p.unmap_feature = {LV2_URID__unmap, &w.unmap};
    p.options_feature = {LV2_OPTIONS__options, p.options.data()};
    p.bounded_feature = {LV2_BUF_SIZE__boundedBlockLength, nullptr};
    p.features = {&p.map_feature, &p.unmap_feature, &p.options_feature, &p.bounded_feature,
                  nullptr};

    p.instance = lilv_plugin_instantiate(plugin, sample_rate, p.features.data());
    if (p.instance == nullptr) {
        error_ = "cannot be instantiated";
        return;
    }
    p.scratch.assign(std::size_t{max_frames} * 4, 0.0f);
    p.atom_buffers.resize(p.atoms.size());
    for (std::uint32_t i = 0; i < ports; ++i)
        lilv_instance_connect_port(p.instance, i, p.scratch.data());
    for (std::uint32_t i = 0; i < ports; ++i) {
        const LilvPort* port = lilv_plugin_get_port_by_index(plugin, i);
        LilvNode* control_class = lilv_new_uri(w.world, LV2_CORE__ControlPort);
        if (lilv_port_is_a(plugin, port, control_class))
            lilv_instance_connect_port(p.instance, i, &p.controls[i]);
        lilv_node_free(control_class);
    }
    for (std::size_t i = 0; i < p.atoms.size(); ++i)
        lilv_instance_connect_port(p.instance, p.atoms[i].first, p.atom_buffers[i].bytes);
    p.reset_atoms();
    lilv_instance_activate(p.instance);
}

Lv2Plugin::~Lv2Plugin() {
    if (impl_ && impl_->instance != nullptr) {
        lilv_instance_deactivate(impl_->instance);
        lilv_instance_free(impl_->instance);
    }
}

void Lv2Plugin::connect(float* const* in, float* const* out) noexcept {
    Impl& p = *impl_;
    for (std::size_t c = 0; c < 2; ++c) {
        lilv_instance_connect_port(p.instance, p.audio_in[c], in[c]);
        lilv_instance_connect_port(p.instance, p.audio_out[c], out[c]);
    }
    p.reset_atoms();
}

void Lv2Plugin::run(std::uint32_t frames) noexcept {
    lilv_instance_run(impl_->instance, frames);
}

} // namespace velk::bench
