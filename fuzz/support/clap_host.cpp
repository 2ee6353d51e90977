#include "clap_host.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "check.hpp"

extern "C" const clap_plugin_entry clap_entry;

namespace velk::fuzz {
namespace {

template <typename T>
const T* extension(const clap_plugin* plugin, const char* id) {
    const auto* ext = static_cast<const T*>(plugin->get_extension(plugin, id));
    VELK_FUZZ_CHECK(ext != nullptr);
    return ext;
}

const clap_plugin* create(const ClapHost& host) {
    VELK_FUZZ_CHECK(clap_entry.init("halvex.clap"));
    const auto* factory =
        static_cast<const clap_plugin_factory*>(clap_entry.get_factory(CLAP_PLUGIN_FACTORY_ID));
    VELK_FUZZ_CHECK(factory != nullptr);
    const clap_plugin* plugin =
        factory->create_plugin(factory, host.raw(), factory->get_plugin_descriptor(factory, 0)->id);
    VELK_FUZZ_CHECK(plugin != nullptr && plugin->init(plugin));
    return plugin;
}

} // namespace

ClapHost::ClapHost(bool offer_params, bool offer_latency)
    : offer_params_(offer_params), offer_latency_(offer_latency) {
    params_ = clap_host_params{
        .rescan =
            [](const clap_host* host, clap_param_rescan_flags flags) {
                ++(flags == CLAP_PARAM_RESCAN_VALUES ? self(host).value_rescans
                                                     : self(host).other_rescans);
            },
        .clear = [](const clap_host*, clap_id, clap_param_clear_flags) {},
        .request_flush = [](const clap_host*) {},
    };
    latency_ = clap_host_latency{.changed = [](const clap_host* host) {
        ++self(host).latency_changes;
    }};
    host_ = clap_host{
        .clap_version = CLAP_VERSION,
        .host_data = this,
        .name = "velk fuzz host",
        .vendor = "velk",
        .url = "",
        .version = "1",
        .get_extension = [](const clap_host* host, const char* id) -> const void* {
            ClapHost& h = self(host);
            if (h.offer_params_ && std::strcmp(id, CLAP_EXT_PARAMS) == 0)
                return &h.params_;
            if (h.offer_latency_ && std::strcmp(id, CLAP_EXT_LATENCY) == 0)
                return &h.latency_;
            return nullptr;
        },
        .request_restart = [](const clap_host* host) { ++self(host).restarts; },
        .request_process = [](const clap_host*) {},
        .request_callback = [](const clap_host* host) { ++self(host).callbacks; },
    };
}

ClapHost& ClapHost::self(const clap_host* host) noexcept {
    return *static_cast<ClapHost*>(host->host_data);
}

Halvex::Halvex(const ClapHost& host)
    : plugin_(create(host)),
      params_(extension<clap_plugin_params>(plugin_, CLAP_EXT_PARAMS)),
      state_(extension<clap_plugin_state>(plugin_, CLAP_EXT_STATE)),
      ports_(extension<clap_plugin_audio_ports>(plugin_, CLAP_EXT_AUDIO_PORTS)),
      configurable_(extension<clap_plugin_configurable_audio_ports>(
          plugin_, CLAP_EXT_CONFIGURABLE_AUDIO_PORTS)),
      latency_(extension<clap_plugin_latency>(plugin_, CLAP_EXT_LATENCY)),
      tail_(extension<clap_plugin_tail>(plugin_, CLAP_EXT_TAIL)) {}

Halvex::~Halvex() {
    plugin_->destroy(plugin_);
}

std::uint32_t Halvex::latency() const noexcept {
    return latency_->get(plugin_);
}

std::uint32_t Halvex::tail() const noexcept {
    return tail_->get(plugin_);
}

std::vector<double> Halvex::values() const {
    std::vector<double> out;
    const std::uint32_t count = params_->count(plugin_);
    for (std::uint32_t i = 0; i < count; ++i) {
        clap_param_info info{};
        double value = std::numeric_limits<double>::quiet_NaN();
        if (params_->get_info(plugin_, i, &info))
            params_->get_value(plugin_, info.id, &value);
        out.push_back(value);
    }
    return out;
}

std::vector<std::uint8_t> Halvex::save() const {
    OutStream out;
    if (!state_->save(plugin_, out.raw()))
        return {};
    return out.bytes;
}

bool Events::add(const void* event, std::size_t size) {
    if (slots_.size() == slots_.capacity())
        return false;
    Slot& slot = slots_.emplace_back();
    std::memcpy(slot.bytes.data(), event, std::min(size, SLOT));
    return true;
}

bool Events::add_null() {
    if (slots_.size() == slots_.capacity())
        return false;
    slots_.emplace_back().null = true;
    return true;
}

std::uint32_t Events::count_of(const clap_input_events* list) noexcept {
    return static_cast<std::uint32_t>(static_cast<const Events*>(list->ctx)->slots_.size());
}

const clap_event_header* Events::event_at(const clap_input_events* list,
                                          std::uint32_t index) noexcept {
    const auto& slots = static_cast<const Events*>(list->ctx)->slots_;
    if (index >= slots.size() || slots[index].null)
        return nullptr;
    return reinterpret_cast<const clap_event_header*>(slots[index].bytes.data());
}

clap_event_param_value param_event(clap_id id, double value) noexcept {
    clap_event_param_value event{};
    event.header = {.size = sizeof(clap_event_param_value),
                    .time = 0,
                    .space_id = CLAP_CORE_EVENT_SPACE_ID,
                    .type = CLAP_EVENT_PARAM_VALUE,
                    .flags = 0};
    event.param_id = id;
    event.note_id = -1;
    event.port_index = -1;
    event.channel = -1;
    event.key = -1;
    event.value = value;
    return event;
}

std::int64_t OutStream::write(const clap_ostream* stream, const void* buffer,
                              std::uint64_t size) noexcept {
    auto& self = *static_cast<OutStream*>(stream->ctx);
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    self.bytes.insert(self.bytes.end(), bytes, bytes + size);
    return static_cast<std::int64_t>(size);
}

} // namespace velk::fuzz
