#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "abi.hpp"

/// A small CLAP host for the fuzz targets, which link halvex.clap's export unit in:
/// `clap_entry` is the deliverable's own record, driven through the same ABI a host
/// uses after loading the library. Single-threaded.
namespace velk::fuzz {

/// A `clap_host` that counts what the plug-in asks of it.
class ClapHost {
public:
    explicit ClapHost(bool offer_params = true, bool offer_latency = true);
    ClapHost(const ClapHost&) = delete;
    ClapHost& operator=(const ClapHost&) = delete;

    const clap_host* raw() const noexcept { return &host_; }

    int callbacks = 0;
    int restarts = 0;
    int latency_changes = 0;
    int value_rescans = 0; ///< rescans with CLAP_PARAM_RESCAN_VALUES
    int other_rescans = 0;

private:
    static ClapHost& self(const clap_host* host) noexcept;

    bool offer_params_;
    bool offer_latency_;
    clap_host host_{};
    clap_host_params params_{};
    clap_host_latency latency_{};
};

/// A new, initialised Halvex instance for `host`, made through `clap_entry` and its
/// factory; destroyed with this object.
class Halvex {
public:
    explicit Halvex(const ClapHost& host);
    ~Halvex();
    Halvex(const Halvex&) = delete;
    Halvex& operator=(const Halvex&) = delete;

    const clap_plugin* get() const noexcept { return plugin_; }
    const clap_plugin_params& params() const noexcept { return *params_; }
    const clap_plugin_state& state() const noexcept { return *state_; }
    const clap_plugin_audio_ports& ports() const noexcept { return *ports_; }
    const clap_plugin_configurable_audio_ports& configurable() const noexcept {
        return *configurable_;
    }
    std::uint32_t latency() const noexcept;
    std::uint32_t tail() const noexcept;

    /// Every parameter's current value, in list order (NaN for a refused id).
    std::vector<double> values() const;
    /// The saved state; empty when the save is refused.
    std::vector<std::uint8_t> save() const;

private:
    const clap_plugin* plugin_;
    const clap_plugin_params* params_;
    const clap_plugin_state* state_;
    const clap_plugin_audio_ports* ports_;
    const clap_plugin_configurable_audio_ports* configurable_;
    const clap_plugin_latency* latency_;
    const clap_plugin_tail* tail_;
};

/// An input event list holding events as raw bytes, each in its own 8-byte-aligned
/// slot. Reserve before processing so that adding never allocates there.
class Events {
public:
    static constexpr std::size_t SLOT = 64;

    explicit Events(std::size_t capacity = 64) { slots_.reserve(capacity); }
    Events(const Events&) = delete;
    Events& operator=(const Events&) = delete;

    /// `size` bytes of `event` (at most `SLOT`); false when the list is full.
    bool add(const void* event, std::size_t size);
    /// An index where `get` answers null; false when the list is full.
    bool add_null();
    void clear() noexcept { slots_.clear(); }
    const clap_input_events* raw() const noexcept { return &list_; }

private:
    struct Slot {
        alignas(8) std::array<std::uint8_t, SLOT> bytes{};
        bool null = false;
    };
    std::vector<Slot> slots_;
    clap_input_events list_{this, count_of, event_at};

    static std::uint32_t count_of(const clap_input_events* list) noexcept;
    static const clap_event_header* event_at(const clap_input_events* list,
                                             std::uint32_t index) noexcept;
};

/// A well-formed parameter-value event.
clap_event_param_value param_event(clap_id id, double value) noexcept;

/// An output stream collecting everything written to it.
class OutStream {
public:
    OutStream() = default;
    OutStream(const OutStream&) = delete;
    OutStream& operator=(const OutStream&) = delete;
    const clap_ostream* raw() const noexcept { return &stream_; }
    std::vector<std::uint8_t> bytes;

private:
    static std::int64_t write(const clap_ostream* stream, const void* buffer,
                              std::uint64_t size) noexcept;
    clap_ostream stream_{this, write};
};

} // namespace velk::fuzz
