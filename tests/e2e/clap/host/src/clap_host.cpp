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
