#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "velk/core/param.hpp"

/// The saved state of a plug-in: the value of every parameter cell, little-endian.
/// "VELK", version 1, the parameter count, then per parameter in table order its
/// cell count and each cell's value as a 32-bit float. Parameters are matched by
/// position, so a table may gain or lose parameters at its end.
namespace velk::state {

/// The longest state an adapter takes from a host's stream; a longer stream is
/// refused rather than read on without end. A thousand parameters of 64 cells save
/// in about a quarter of this.
inline constexpr std::size_t MAX_BYTES = std::size_t{1} << 20;

/// The current values of every parameter, meters included. Any thread; allocates.
std::vector<std::uint8_t> save(const ParamSet& params);

/// Restores the values in `bytes` (magic "VELK" or the older "TOVE") and then calls
/// the set's listener. Values for parameters or cells the set does not have, and for
/// meters, are skipped; the others are sanitised as `Param::set_ch` does. A string
/// that is too short, has another magic or version, or whose records run past its
/// end is refused: false, nothing changed, no notification. Any thread.
bool load(const ParamSet& params, std::span<const std::uint8_t> bytes);

} // namespace velk::state
