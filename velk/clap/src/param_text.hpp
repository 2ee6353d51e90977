#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

#include "velk/core/param.hpp"

/// Parameter texts as CLAP hosts exchange them. Main thread.
namespace velk::clap {

/// The length of the longest prefix of `text` that holds at most `max_bytes` bytes
/// and ends between two UTF-8 characters. No allocation.
std::size_t utf8_fit(std::string_view text, std::size_t max_bytes) noexcept;

/// Copies the whole UTF-8 characters of `text` that fit in `capacity` − 1 bytes into
/// `out` and terminates them with a NUL; writes nothing when `capacity` is 0.
void copy_text(std::string_view text, char* out, std::size_t capacity) noexcept;

/// The value a host's text stands for, not clamped. Nothing when the text is not
/// UTF-8 or does not read. After trimming Unicode white space: a choice matches its
/// names ignoring ASCII case, or else reads as a number; a toggle takes "1", "on",
/// "true", "0", "off" and "false" in any ASCII case; a number or meter reads its
/// first word with trailing letters (any script) and "%" removed, so "-18 dB",
/// "-18dB" and "50%" read as -18, -18 and 50. Allocates.
std::optional<double> text_to_value(const ParamInfo& info, std::string_view text);

/// A decimal number: optional sign, digits with an optional point, optional
/// exponent; also "inf", "infinity" and "nan" in any case. Nothing for anything else.
std::optional<double> read_number(std::string_view text);

} // namespace velk::clap
