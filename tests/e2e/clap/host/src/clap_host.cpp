#include "velk/test/clap_host.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <dlfcn.h>

#include <gtest/gtest.h>

namespace velk::test {

ClapModule::ClapModule(const std::string& path) {
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) {
        ADD_FAILURE() << "cannot load " << path << ": " << dlerror();
        return;
    }
    entry_ = static_cast<const clap_plugin_entry*>(dlsym(handle_, "clap_entry"));
    if (entry_ == nullptr) {
        ADD_FAILURE() << path << " has no clap_entry";
        return;
    }
    if (!entry_->init(path.c_str())) {
        ADD_FAILURE() << "clap_entry.init failed for " << path;
        entry_ = nullptr;
    }
}

ClapModule::~ClapModule() {
    if (entry_ != nullptr)
        entry_->deinit();
    if (handle_ != nullptr)
        dlclose(handle_);
}

const clap_plugin_factory* ClapModule::factory() const {
    if (entry_ == nullptr)
        return nullptr;
    return static_cast<const clap_plugin_factory*>(entry_->get_factory(CLAP_PLUGIN_FACTORY_ID));
}

RecordingHost::RecordingHost(Options options) : options_(options) {
    rescans_.reserve(16);
    params_ = clap_host_params{
        .rescan = [](const clap_host* host,
                     clap_param_rescan_flags flags) { self(host).rescans_.push_back(flags); },
        .clear = [](const clap_host*, clap_id, clap_param_clear_flags) {},
        .request_flush = [](const clap_host*) {},
    };
    latency_ = clap_host_latency{
        .changed = [](const clap_host* host) { ++self(host).latency_changes_; },
    };
    host_ = clap_host{
        .clap_version = {options.major, CLAP_VERSION_MINOR, CLAP_VERSION_REVISION},
        .host_data = this,
        .name = "velk test host",
        .vendor = "velk",
        .url = "",
        .version = "1",
        .get_extension = [](const clap_host* host, const char* id) -> const void* {
            RecordingHost& h = self(host);
            if (h.options_.offer_params && std::strcmp(id, CLAP_EXT_PARAMS) == 0)
                return &h.params_;
            if (h.options_.offer_latency && std::strcmp(id, CLAP_EXT_LATENCY) == 0)
                return &h.latency_;
            return nullptr;
        },
        .request_restart = [](const clap_host* host) { ++self(host).restarts_; },
        .request_process = [](const clap_host*) {},
        .request_callback = [](const clap_host* host) { ++self(host).callbacks_; },
    };
}

RecordingHost& RecordingHost::self(const clap_host* host) noexcept {
    return *static_cast<RecordingHost*>(host->host_data);
}

void RecordingHost::forget() noexcept {
    callbacks_ = 0;
    restarts_ = 0;
    latency_changes_ = 0;
    rescans_.clear();
}

clap_event_param_value param_event(clap_id id, double value) {
    clap_event_param_value event{};
    event.header = {.size = sizeof(clap_event_param_value),
                    .time = 0,
                    .space_id = CLAP_CORE_EVENT_SPACE_ID,
                    .type = CLAP_EVENT_PARAM_VALUE,
                    .flags = 0};
    event.param_id = id;
    event.cookie = nullptr;
    event.note_id = -1;
    event.port_index = -1;
    event.channel = -1;
    event.key = -1;
    event.value = value;
    return event;
}

EventList& EventList::param(clap_id id, double value) {
    const clap_event_param_value event = param_event(id, value);
    return raw_event(&event, sizeof event);
}

EventList& EventList::raw_event(const void* event, std::size_t size) {
    Slot slot;
    std::memcpy(slot.bytes.data(), event, std::min(size, MAX_EVENT));
    slots_.push_back(slot);
    return *this;
}

EventList& EventList::null_event() {
    Slot slot;
    slot.null = true;
    slots_.push_back(slot);
    return *this;
}

std::uint32_t EventList::count_of(const clap_input_events* list) noexcept {
    return static_cast<std::uint32_t>(static_cast<const EventList*>(list->ctx)->slots_.size());
}

const clap_event_header* EventList::event_at(const clap_input_events* list,
                                             std::uint32_t index) noexcept {
    const auto* self = static_cast<const EventList*>(list->ctx);
    if (index >= self->slots_.size() || self->slots_[index].null)
        return nullptr;
    return reinterpret_cast<const clap_event_header*>(self->slots_[index].bytes.data());
}

OutStream::OutStream(std::size_t piece, std::optional<int> fail_at, std::int64_t fail_result)
    : piece_(piece), fail_at_(fail_at), fail_result_(fail_result) {}

std::int64_t OutStream::write(const clap_ostream* stream, const void* buffer,
                              std::uint64_t size) noexcept {
    auto* self = static_cast<OutStream*>(stream->ctx);
    const int call = self->calls_++;
    if (self->fail_at_ && *self->fail_at_ == call)
        return self->fail_result_;
    const std::size_t n = std::min<std::size_t>(self->piece_, size);
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    self->bytes_.insert(self->bytes_.end(), bytes, bytes + n);
    return static_cast<std::int64_t>(n);
}

InStream::InStream(std::vector<std::uint8_t> bytes, std::size_t piece, std::optional<int> fail_at,
                   std::int64_t fail_result)
    : bytes_(std::move(bytes)), piece_(piece), fail_at_(fail_at), fail_result_(fail_result) {}

std::int64_t InStream::read(const clap_istream* stream, void* buffer, std::uint64_t size) noexcept {
    auto* self = static_cast<InStream*>(stream->ctx);
    self->largest_request_ = std::max(self->largest_request_, size);
    const int call = self->calls_++;
    if (self->fail_at_ && *self->fail_at_ == call)
        return self->fail_result_;
    const std::size_t n =
        std::min({self->piece_, static_cast<std::size_t>(size), self->bytes_.size() - self->at_});
    std::memcpy(buffer, self->bytes_.data() + self->at_, n);
    self->at_ += n;
    return static_cast<std::int64_t>(n);
}

AudioBuffer::AudioBuffer(std::uint32_t channels, std::uint32_t frames, float value)
    : frames_(frames), samples_(channels, std::vector<float>(frames, value)) {
    for (std::vector<float>& channel : samples_)
        pointers_.push_back(channel.data());
}

clap_audio_buffer AudioBuffer::raw(std::optional<std::uint32_t> channel_count) noexcept {
    return clap_audio_buffer{.data32 = pointers_.data(),
                             .data64 = nullptr,
                             .channel_count = channel_count.value_or(channels()),
                             .latency = 0,
                             .constant_mask = 0};
}

void AudioBuffer::fill(float value) {
    for (std::vector<float>& channel : samples_)
        std::fill(channel.begin(), channel.end(), value);
}

ClapInstance::~ClapInstance() {
    if (plugin_ != nullptr)
        plugin_->destroy(plugin_);
}

const void* ClapInstance::extension(const char* id) const {
    return plugin_->get_extension(plugin_, id);
}

namespace {
template <typename T>
const T& need(const void* record, const char* id) {
    if (record == nullptr) {
        ADD_FAILURE() << "no extension " << id;
        static const T none{};
        return none;
    }
    return *static_cast<const T*>(record);
}
} // namespace

const clap_plugin_params& ClapInstance::params() const {
    return need<clap_plugin_params>(extension(CLAP_EXT_PARAMS), CLAP_EXT_PARAMS);
}
const clap_plugin_state& ClapInstance::state() const {
    return need<clap_plugin_state>(extension(CLAP_EXT_STATE), CLAP_EXT_STATE);
}
const clap_plugin_audio_ports& ClapInstance::ports() const {
    return need<clap_plugin_audio_ports>(extension(CLAP_EXT_AUDIO_PORTS), CLAP_EXT_AUDIO_PORTS);
}
const clap_plugin_configurable_audio_ports& ClapInstance::configurable() const {
    return need<clap_plugin_configurable_audio_ports>(extension(CLAP_EXT_CONFIGURABLE_AUDIO_PORTS),
                                                      CLAP_EXT_CONFIGURABLE_AUDIO_PORTS);
}
std::uint32_t ClapInstance::latency() const {
    const auto& ext = need<clap_plugin_latency>(extension(CLAP_EXT_LATENCY), CLAP_EXT_LATENCY);
    return ext.get == nullptr ? 0 : ext.get(plugin_);
}
std::uint32_t ClapInstance::tail() const {
    const auto& ext = need<clap_plugin_tail>(extension(CLAP_EXT_TAIL), CLAP_EXT_TAIL);
    return ext.get == nullptr ? 0 : ext.get(plugin_);
}

clap_process_status ClapInstance::process(AudioBuffer* in, AudioBuffer& out,
                                          const Block& block) const {
    clap_audio_buffer inputs{};
    if (in != nullptr)
        inputs = in->raw();
    clap_audio_buffer outputs = out.raw();
    const clap_process process{
        .steady_time = block.steady_time,
        .frames_count = out.frames(),
        .transport = block.transport,
        .audio_inputs = in != nullptr ? &inputs : nullptr,
        .audio_outputs = &outputs,
        .audio_inputs_count = in != nullptr ? 1u : 0u,
        .audio_outputs_count = 1,
        .in_events = block.events != nullptr ? block.events->raw() : nullptr,
        .out_events = nullptr,
    };
    return plugin_->process(plugin_, &process);
}

double ClapInstance::value(clap_id id) const {
    double v = 0.0;
    if (!params().get_value(plugin_, id, &v))
        return std::nan("");
    return v;
}

bool ClapInstance::set_text(clap_id id, const char* text, double& value) const {
    return params().text_to_value(plugin_, id, text, &value);
}

std::string ClapInstance::text(clap_id id, double value, std::uint32_t size) const {
    std::vector<char> display(std::max<std::uint32_t>(size, 1), '\x7f');
    if (!params().value_to_text(plugin_, id, value, display.data(), size))
        return "<refused>";
    return size == 0 ? std::string() : std::string(display.data());
}

std::vector<clap_param_info> ClapInstance::infos() const {
    std::vector<clap_param_info> out(params().count(plugin_));
    for (std::uint32_t i = 0; i < out.size(); ++i)
        EXPECT_TRUE(params().get_info(plugin_, i, &out[i])) << "index " << i;
    return out;
}

bool ClapInstance::apply_channels(std::uint32_t channels) const {
    const clap_audio_port_configuration_request request{
        .is_input = true,
        .port_index = 0,
        .channel_count = channels,
        .port_type = nullptr,
        .port_details = nullptr,
    };
    return configurable().apply_configuration(plugin_, &request, 1);
}

} // namespace velk::test
