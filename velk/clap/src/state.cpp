// The state, latency and tail extensions.

#include "velk/core/state.hpp"

#include <cstdint>
#include <vector>

#include "extensions.hpp"
#include "wrapper.hpp"

namespace velk::clap {
namespace {

constexpr std::uint64_t READ_CHUNK = 4096;

bool state_save(const clap_plugin* plugin, const clap_ostream* stream) noexcept {
    const Wrapper* w = Wrapper::from(plugin);
    if (w == nullptr || stream == nullptr || stream->write == nullptr)
        return false;
    try {
        const std::vector<std::uint8_t> bytes = state::save(w->params);
        std::size_t done = 0;
        while (done < bytes.size()) {
            const std::uint64_t left = bytes.size() - done;
            const std::int64_t written = stream->write(stream, bytes.data() + done, left);
            // A stream that claims more than it was given is as broken as one that fails.
            if (written <= 0 || static_cast<std::uint64_t>(written) > left)
                return false;
            done += static_cast<std::size_t>(written);
        }
        return true;
    } catch (...) {
        return false;
    }
}

bool state_load(const clap_plugin* plugin, const clap_istream* stream) noexcept {
    const Wrapper* w = Wrapper::from(plugin);
    if (w == nullptr || stream == nullptr || stream->read == nullptr)
        return false;
    try {
        std::vector<std::uint8_t> bytes;
        std::uint8_t chunk[READ_CHUNK];
        for (;;) {
            const std::int64_t got = stream->read(stream, chunk, READ_CHUNK);
            if (got == 0)
                break;
            // Negative is the stream's failure; more than asked cannot be trusted; a
            // stream longer than any state may never end.
            if (got < 0 || static_cast<std::uint64_t>(got) > READ_CHUNK ||
                bytes.size() + static_cast<std::size_t>(got) > state::MAX_BYTES)
                return false;
            bytes.insert(bytes.end(), chunk, chunk + got);
        }
        if (!state::load(w->params, bytes))
            return false;
        if (w->host_params != nullptr && w->host_params->rescan != nullptr)
            w->host_params->rescan(w->host, CLAP_PARAM_RESCAN_VALUES);
        return true;
    } catch (...) {
        return false;
    }
}

std::uint32_t latency_get(const clap_plugin* plugin) noexcept {
    const Wrapper* w = Wrapper::from(plugin);
    return w == nullptr ? 0 : w->latency.load(std::memory_order_relaxed);
}

std::uint32_t tail_get(const clap_plugin* plugin) noexcept {
    const Wrapper* w = Wrapper::from(plugin);
    return w == nullptr ? 0 : w->tail.load(std::memory_order_relaxed);
}

} // namespace

const clap_plugin_state STATE = {.save = state_save, .load = state_load};
const clap_plugin_latency LATENCY = {.get = latency_get};
const clap_plugin_tail TAIL = {.get = tail_get};

} // namespace velk::clap
