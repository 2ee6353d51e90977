#include "velk/clap/entry.hpp"

#include <cstring>

#include "wrapper.hpp"

namespace velk::clap {

bool entry_init(Registry& registry, const char* /*plugin_path*/) noexcept {
    try {
        return registry.descriptor() != nullptr;
    } catch (...) {
        return false;
    }
}

const void* entry_get_factory(const clap_plugin_factory& factory, const char* factory_id) noexcept {
    return abi::is_id(factory_id, CLAP_PLUGIN_FACTORY_ID) ? &factory : nullptr;
}

const clap_plugin_descriptor* factory_descriptor(Registry& registry, std::uint32_t index) noexcept {
    if (index != 0)
        return nullptr;
    try {
        return registry.descriptor();
    } catch (...) {
        return nullptr;
    }
}

const clap_plugin* factory_create(Registry& registry, const clap_host* host, const char* plugin_id,
                                  MakePlugin make) noexcept {
    if (host == nullptr || plugin_id == nullptr || make == nullptr || host->clap_version.major == 0)
        return nullptr;
    const std::string_view id = registry.config().id;
    if (::strnlen(plugin_id, id.size() + 1) != id.size() ||
        std::memcmp(plugin_id, id.data(), id.size()) != 0)
        return nullptr;
    try {
        Inner plugin = make();
        const clap_plugin_descriptor* descriptor = registry.descriptor();
        return Wrapper::create(descriptor, host, std::move(plugin));
    } catch (...) {
        return nullptr;
    }
}

} // namespace velk::clap
