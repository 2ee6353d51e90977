#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "velk/core/param.hpp"

// Parameter texts as the host sees them: display names, names cut to a byte length, and
// values parsed from typed text. Main thread: may allocate.
namespace velk::au {

/// The parameter's name, or for one channel of a per-channel parameter the name, a blank
/// and the channel counted from 1 ("Gain 1" for channel 0).
std::string display_name(const ParamInfo& info, std::optional<std::size_t> channel);

/// The longest prefix of the UTF-8 `text` of at most `max_bytes` bytes that ends on a
/// character boundary.
std::string_view cut_utf8(std::string_view text, std::size_t max_bytes) noexcept;

/// `bytes` as valid UTF-8: each ill-formed sequence replaced by U+FFFD.
std::string utf8_lossy(std::string_view bytes);

/// The value a host's text names, or nothing. White space is trimmed first. A choice
/// takes a name (ASCII case folded) or a decimal number; a toggle takes 1, on, true, 0,
/// off or false in any case; a number takes the first word, without trailing letters or
/// '%' ("-18 dB", "-18dB" and "50%" all parse). Not clamped.
std::optional<float> parse_value(const ParamInfo& info, std::string_view text);

} // namespace velk::au
