// Small CLAP modules that a careful host has to cope with, one per VELK_ODD_KIND:
// 0 exports no clap_entry; 1 holds only an instrument; 2 holds an effect with no
// extensions and no main-thread callback that refuses every sample rate but 48000
// and reports an error on its third processed block.

#include <cstring>

#include "abi.hpp"

#if VELK_ODD_KIND != 0
namespace {

const char* const INSTRUMENT_FEATURES[] = {"instrument", "synthesizer", nullptr};
const char* const EFFECT_FEATURES[] = {"audio-effect", nullptr};

const clap_plugin_descriptor DESCRIPTOR{
    .clap_version = CLAP_VERSION,
    .id = "velk.odd",
    .name = VELK_ODD_KIND == 1 ? "Odd Synth" : "Odd Effect",
    .vendor = "velk",
    .url = nullptr,
    .manual_url = nullptr,
    .support_url = nullptr,
    .version = "1",
    .description = nullptr,
    .features = VELK_ODD_KIND == 1 ? INSTRUMENT_FEATURES : EFFECT_FEATURES,
};

struct Odd {
    clap_plugin plugin{};
    int blocks = 0;
};

Odd& odd(const clap_plugin* plugin) {
    return *static_cast<Odd*>(plugin->plugin_data);
}

clap_process_status process(const clap_plugin* plugin, const clap_process* p) noexcept {
    if (odd(plugin).blocks++ == 2)
        return CLAP_PROCESS_ERROR;
    const clap_audio_buffer& in = p->audio_inputs[0];
    const clap_audio_buffer& out = p->audio_outputs[0];
    for (std::uint32_t c = 0; c < out.channel_count && c < in.channel_count; ++c)
        std::memcpy(out.data32[c], in.data32[c], p->frames_count * sizeof(float));
    return CLAP_PROCESS_CONTINUE;
}

const clap_plugin* create(const clap_plugin_factory*, const clap_host*, const char* id) noexcept {
    if (id == nullptr || std::strcmp(id, DESCRIPTOR.id) != 0)
        return nullptr;
    auto* o = new Odd;
    o->plugin = clap_plugin{
        .desc = &DESCRIPTOR,
        .plugin_data = o,
        .init = [](const clap_plugin*) { return true; },
        .destroy = [](const clap_plugin* plugin) { delete &odd(plugin); },
        .activate = [](const clap_plugin*, double rate, std::uint32_t,
                       std::uint32_t) { return rate == 48000.0; },
        .deactivate = [](const clap_plugin*) {},
        .start_processing = [](const clap_plugin*) { return true; },
        .stop_processing = [](const clap_plugin*) {},
        .reset = [](const clap_plugin*) {},
        .process = process,
        .get_extension = [](const clap_plugin*, const char*) -> const void* { return nullptr; },
        .on_main_thread = nullptr,
    };
    return &o->plugin;
}

const clap_plugin_factory FACTORY{
    .get_plugin_count = [](const clap_plugin_factory*) { return 1u; },
    .get_plugin_descriptor = [](const clap_plugin_factory*, std::uint32_t index)
        -> const clap_plugin_descriptor* { return index == 0 ? &DESCRIPTOR : nullptr; },
    .create_plugin = create,
};

} // namespace

extern "C" __attribute__((visibility("default"))) const clap_plugin_entry clap_entry = {
    .clap_version = CLAP_VERSION,
    .init = [](const char*) { return true; },
    .deinit = [] {},
    .get_factory = [](const char* id) -> const void* {
        return id != nullptr && std::strcmp(id, CLAP_PLUGIN_FACTORY_ID) == 0 ? &FACTORY : nullptr;
    },
};
#else
// Something exported, so that the library is an ordinary one without the entry.
extern "C" __attribute__((visibility("default"))) int velk_odd_answer() {
    return 42;
}
#endif
