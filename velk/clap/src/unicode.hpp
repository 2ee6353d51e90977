#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

/// The few Unicode facts that parameter texts need: strict UTF-8 decoding and the
/// White_Space and Alphabetic properties (Unicode 14). Any thread; no allocation.
namespace velk::clap::unicode {

/// One decoded character and the number of bytes it took.
struct Decoded {
    char32_t code = 0;
    std::size_t length = 0;
};

/// The character that starts `text`; nothing for an empty text or a malformed,
/// overlong, surrogate or out-of-range sequence.
std::optional<Decoded> decode(std::string_view text) noexcept;

/// Whether `text` is well-formed UTF-8 throughout.
bool valid(std::string_view text) noexcept;

/// The byte offset where the last character of a non-empty, well-formed `text` starts.
std::size_t last_start(std::string_view text) noexcept;

/// Whether `code` has the White_Space property.
bool is_white_space(char32_t code) noexcept;

/// Whether `code` has the Alphabetic property (letters of any script, letter
/// numbers and the marks that belong to them).
bool is_alphabetic(char32_t code) noexcept;

} // namespace velk::clap::unicode
