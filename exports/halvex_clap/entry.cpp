// halvex.clap: the CLAP adapter bound to the compressor.

#include "velk/clap/entry.hpp"

#include <array>
#include <string_view>

#include "halvex/halvex.hpp"

namespace {

constexpr std::array<std::string_view, 1> FEATURES{"audio-effect"};

constexpr velk::clap::Config CONFIG{
    .id = "orvane-labs.halvex",
    .name = "Halvex",
    .vendor = "Orvane Labs",
    .url = "",
    .version = "0.1.0",
    .description = "A feed-forward compressor with a soft knee, a parallel mix and a gain "
                   "reduction meter.",
    .features = FEATURES,
};

constinit velk::clap::Registry REGISTRY{CONFIG};

std::uint32_t factory_count(const clap_plugin_factory* /*factory*/) noexcept {
    return 1;
}

const clap_plugin_descriptor* factory_descriptor(const clap_plugin_factory* /*factory*/,
                                                 std::uint32_t index) noexcept {
    return velk::clap::factory_descriptor(REGISTRY, index);
}

const clap_plugin* factory_create(const clap_plugin_factory* /*factory*/, const clap_host* host,
                                  const char* plugin_id) noexcept {
    return velk::clap::factory_create(REGISTRY, host, plugin_id,
                                      &velk::Inner::make<halvex::Halvex>);
}

const clap_plugin_factory FACTORY{
    .get_plugin_count = factory_count,
    .get_plugin_descriptor = factory_descriptor,
    .create_plugin = factory_create,
};

bool entry_init(const char* plugin_path) noexcept {
    return velk::clap::entry_init(REGISTRY, plugin_path);
}

// The descriptor stays until the library is unloaded.
void entry_deinit() noexcept {}

const void* entry_get_factory(const char* factory_id) noexcept {
    return velk::clap::entry_get_factory(FACTORY, factory_id);
}

} // namespace

extern "C" VELK_EXPORT const clap_plugin_entry clap_entry = {
    .clap_version = CLAP_VERSION,
    .init = entry_init,
    .deinit = entry_deinit,
    .get_factory = entry_get_factory,
};
