#include "param_text.hpp"

#include <cstdint>
#include <cstring>
#include <limits>

#include "unicode.hpp"
#include "velk/core/text.hpp"

namespace velk::clap {
namespace {

char ascii_lower(char c) noexcept {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equal_ignoring_ascii_case(std::string_view a, std::string_view b) noexcept {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (ascii_lower(a[i]) != ascii_lower(b[i]))
            return false;
    return true;
}

// Both ends of a well-formed text without their white space.
std::string_view trim(std::string_view text) noexcept {
    while (!text.empty()) {
        const auto first = unicode::decode(text);
        if (!first || !unicode::is_white_space(first->code))
            break;
        text.remove_prefix(first->length);
    }
    while (!text.empty()) {
        const std::size_t at = unicode::last_start(text);
        const auto last = unicode::decode(text.substr(at));
        if (!last || !unicode::is_white_space(last->code))
            break;
        text = text.substr(0, at);
    }
    return text;
}

// The text up to its first white space character.
std::string_view first_word(std::string_view text) noexcept {
    std::size_t at = 0;
    while (at < text.size()) {
        const auto d = unicode::decode(text.substr(at));
        if (!d || unicode::is_white_space(d->code))
            break;
        at += d->length;
    }
    return text.substr(0, at);
}

// The text without the letters (any script) and percent signs at its end: the unit.
std::string_view without_unit(std::string_view text) noexcept {
    while (!text.empty()) {
        const std::size_t at = unicode::last_start(text);
        const auto last = unicode::decode(text.substr(at));
        if (!last || (last->code != U'%' && !unicode::is_alphabetic(last->code)))
            break;
        text = text.substr(0, at);
    }
    return text;
}

std::optional<double> toggle_value(std::string_view text) {
    constexpr std::string_view on[] = {"1", "on", "true"};
    constexpr std::string_view off[] = {"0", "off", "false"};
    for (std::string_view word : on)
        if (equal_ignoring_ascii_case(text, word))
            return 1.0;
    for (std::string_view word : off)
        if (equal_ignoring_ascii_case(text, word))
            return 0.0;
    return std::nullopt;
}

} // namespace

std::size_t utf8_fit(std::string_view text, std::size_t max_bytes) noexcept {
    if (text.size() <= max_bytes)
        return text.size();
    std::size_t cut = max_bytes;
    while (cut > 0 && (static_cast<std::uint8_t>(text[cut]) & 0xC0u) == 0x80u)
        --cut;
    return cut;
}

void copy_text(std::string_view text, char* out, std::size_t capacity) noexcept {
    if (out == nullptr || capacity == 0)
        return;
    const std::size_t n = utf8_fit(text, capacity - 1);
    std::memcpy(out, text.data(), n);
    out[n] = '\0';
}

std::optional<double> read_number(std::string_view text) {
    std::string_view body = text;
    bool negative = false;
    if (!body.empty() && (body.front() == '+' || body.front() == '-')) {
        negative = body.front() == '-';
        body.remove_prefix(1);
    }
    if (equal_ignoring_ascii_case(body, "inf") || equal_ignoring_ascii_case(body, "infinity"))
        return negative ? -std::numeric_limits<double>::infinity()
                        : std::numeric_limits<double>::infinity();
    if (equal_ignoring_ascii_case(body, "nan"))
        return std::numeric_limits<double>::quiet_NaN();
    return to_double(text);
}

std::optional<double> text_to_value(const ParamInfo& info, std::string_view text) {
    if (!unicode::valid(text))
        return std::nullopt;
    const std::string_view trimmed = trim(text);
    switch (info.kind) {
    case Kind::Choice:
        for (std::size_t i = 0; i < info.choices.size(); ++i)
            if (equal_ignoring_ascii_case(trimmed, info.choices[i]))
                return static_cast<double>(i);
        return read_number(trimmed);
    case Kind::Toggle:
        return toggle_value(trimmed);
    case Kind::Number:
    case Kind::Meter:
        break;
    }
    return read_number(without_unit(first_word(trimmed)));
}

} // namespace velk::clap
