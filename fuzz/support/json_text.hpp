#pragma once

#include <string>
#include <string_view>

#include "velk/core/value.hpp"

/// Writes values back as JSON text, so that a target can read what it wrote and
/// compare. Numbers are the shortest text that reads back as the same double
/// (infinities as 1e999 and -1e999); strings escape quotes, backslashes and control
/// bytes and keep every other byte.
namespace velk::fuzz {

std::string json_number(double value);
std::string json_string(std::string_view text);
std::string json_text(const Json& value);

/// Deep equality; numbers compare by bit pattern, so 0 differs from -0.
bool same_json(const Json& a, const Json& b);

} // namespace velk::fuzz
