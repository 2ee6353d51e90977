#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "abi.hpp"
#include "velk/core/param.hpp"

/// How the framework's parameters appear as CLAP's flat parameter list: in table
/// order, one entry per ordinary parameter and one per channel in use for a
/// per-channel one, each with the id (table index × 128) + channel.
/// Any thread; no allocation.
namespace velk::clap {

/// One CLAP parameter: a table index and a channel (0 for an ordinary parameter).
struct ParamRef {
    std::size_t index = 0;
    std::uint32_t channel = 0;
};

/// The CLAP id of table index `index` and channel `channel` (below 128).
constexpr clap_id param_id(std::size_t index, std::uint32_t channel) noexcept {
    return static_cast<clap_id>((index << 7) | channel);
}

/// The parameter an id names: valid when the index is in the table and the channel
/// is below `channel_count` for a per-channel parameter, or 0 for an ordinary one.
std::optional<ParamRef> decode_param_id(const ParamSet& params, std::uint32_t channel_count,
                                        clap_id id) noexcept;

/// The number of CLAP parameters with `channel_count` channels in use.
std::uint32_t param_count(const ParamSet& params, std::uint32_t channel_count) noexcept;

/// The CLAP parameter at position `position` of the flat list; nothing past its end.
std::optional<ParamRef> param_at(const ParamSet& params, std::uint32_t channel_count,
                                 std::uint32_t position) noexcept;

/// The CLAP flags of a parameter: automatable numbers, stepped automatable enums and
/// toggles ("bypass" also marked as the bypass), read-only meters.
clap_param_info_flags param_flags(const ParamInfo& info) noexcept;

/// The live value of one CLAP parameter.
float read_param(const ParamSet& params, ParamRef ref) noexcept;

/// Writes one CLAP parameter; sanitised as `Param::set` does.
void write_param(const ParamSet& params, ParamRef ref, float value) noexcept;

} // namespace velk::clap
