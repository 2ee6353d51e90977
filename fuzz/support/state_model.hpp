#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "velk/core/param.hpp"

/// A plain reading of the saved-state format, for targets to compare `state::load`
/// with, and checks on the values a set holds.
namespace velk::fuzz {

/// Every cell of every parameter, as bit patterns, in table order.
using Cells = std::vector<std::vector<std::uint32_t>>;

Cells cells_of(const ParamSet& set);

/// The cells `bytes` should leave in `set`, which holds `before`; nothing when the
/// bytes must be refused.
std::optional<Cells> expected_load(const ParamSet& set, const Cells& before,
                                   std::span<const std::uint8_t> bytes);

/// Every cell holds a value in its range and no NaN; choices and toggles whole numbers.
void check_values(const ParamSet& set);

/// Writes values away from the defaults into every cell, so that a load that wrongly
/// resets is seen.
void set_apart(const ParamSet& set);

} // namespace velk::fuzz
