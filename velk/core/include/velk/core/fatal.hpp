#pragma once

#include <string_view>

namespace velk {

/// Stops the program with a message on standard error. Only for broken constant
/// data compiled into the library, never for anything a host or user can send.
[[noreturn]] void fatal(std::string_view message) noexcept;

} // namespace velk
