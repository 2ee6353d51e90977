#include "text.hpp"

#include <array>
#include <limits>
#include <utility>
#include <vector>

#include "velk/core/text.hpp"

namespace velk::au {
namespace {

constexpr char32_t REPLACEMENT = 0xFFFD;

/// One decoded character: its code point and where its bytes lie.
struct Char {
    char32_t cp = 0;
    std::size_t begin = 0;
    std::size_t end = 0;
    bool valid = true;
};

bool is_continuation(unsigned char byte) noexcept {
    return (byte & 0xC0) == 0x80;
}

/// The character starting at `at`. An ill-formed sequence (stray continuation byte,
/// overlong form, surrogate, code point above U+10FFFF, cut short) is one invalid
/// character spanning the lead and the continuation bytes read before the fault.
Char decode_at(std::string_view text, std::size_t at) noexcept {
    const auto lead = static_cast<unsigned char>(text[at]);
    std::size_t extra = 0;
    char32_t cp = lead;
    char32_t min = 0;
    if (lead < 0x80)
        return {cp, at, at + 1, true};
    if (lead >= 0xC2 && lead < 0xE0) {
        extra = 1;
        cp = lead & 0x1Fu;
        min = 0x80;
    } else if (lead >= 0xE0 && lead < 0xF0) {
        extra = 2;
        cp = lead & 0x0Fu;
        min = 0x800;
    } else if (lead >= 0xF0 && lead < 0xF5) {
        extra = 3;
        cp = lead & 0x07u;
        min = 0x10000;
    } else {
        return {REPLACEMENT, at, at + 1, false};
    }
    std::size_t end = at + 1;
    for (std::size_t k = 0; k < extra; ++k, ++end) {
        if (end >= text.size() || !is_continuation(static_cast<unsigned char>(text[end])))
            return {REPLACEMENT, at, end, false};
        cp = (cp << 6) | (static_cast<unsigned char>(text[end]) & 0x3Fu);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return {REPLACEMENT, at, end, false};
    return {cp, at, end, true};
}

std::vector<Char> decode(std::string_view text) {
    std::vector<Char> chars;
    for (std::size_t at = 0; at < text.size();) {
        chars.push_back(decode_at(text, at));
        at = chars.back().end;
    }
    return chars;
}

void append_utf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

/// Unicode White_Space.
bool is_white_space(char32_t cp) noexcept {
    return (cp >= 0x09 && cp <= 0x0D) || cp == 0x20 || cp == 0x85 || cp == 0xA0 || cp == 0x1680 ||
           (cp >= 0x2000 && cp <= 0x200A) || cp == 0x2028 || cp == 0x2029 || cp == 0x202F ||
           cp == 0x205F || cp == 0x3000;
}

/// Letters of the scripts a unit label is written in: ASCII, Latin-1 and the Latin
/// extensions, Greek, Cyrillic, the letter-like unit signs (ohm, kelvin, angstrom),
/// Hebrew, Arabic, kana, CJK ideographs and Hangul.
bool is_alphabetic(char32_t cp) noexcept {
    struct Range {
        char32_t first;
        char32_t last;
    };
    static constexpr std::array<Range, 22> LETTERS{{
        {'A', 'Z'},       {'a', 'z'},       {0xAA, 0xAA},     {0xB5, 0xB5},     {0xBA, 0xBA},
        {0xC0, 0xD6},     {0xD8, 0xF6},     {0xF8, 0x2C1},    {0x370, 0x373},   {0x376, 0x377},
        {0x37B, 0x37D},   {0x386, 0x386},   {0x388, 0x3FF},   {0x400, 0x481},   {0x48A, 0x52F},
        {0x5D0, 0x5EA},   {0x620, 0x64A},   {0x1E00, 0x1FFF}, {0x2126, 0x212B}, {0x3041, 0x30FF},
        {0x4E00, 0x9FFF}, {0xAC00, 0xD7A3},
    }};
    for (const Range& r : LETTERS) {
        if (cp >= r.first && cp <= r.last)
            return true;
    }
    return false;
}

char fold(char c) noexcept {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equal_folded(std::string_view a, std::string_view b) noexcept {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (fold(a[i]) != fold(b[i]))
            return false;
    }
    return true;
}

/// A decimal number in the usual notation, or "inf", "infinity" or "nan" in any case,
/// each with an optional sign.
std::optional<float> parse_number(std::string_view text) {
    std::string_view body = text;
    bool negative = false;
    if (!body.empty() && (body.front() == '+' || body.front() == '-')) {
        negative = body.front() == '-';
        body.remove_prefix(1);
    }
    if (equal_folded(body, "inf") || equal_folded(body, "infinity"))
        return negative ? -std::numeric_limits<float>::infinity()
                        : std::numeric_limits<float>::infinity();
    if (equal_folded(body, "nan"))
        return std::numeric_limits<float>::quiet_NaN();
    return to_float(text);
}

/// `text` without white space at either end.
std::string_view trim(std::string_view text, const std::vector<Char>& chars) noexcept {
    std::size_t first = 0;
    std::size_t last = chars.size();
    while (first < last && is_white_space(chars[first].cp))
        ++first;
    while (last > first && is_white_space(chars[last - 1].cp))
        --last;
    if (first == last)
        return {};
    return text.substr(chars[first].begin, chars[last - 1].end - chars[first].begin);
}

} // namespace

std::string display_name(const ParamInfo& info, std::optional<std::size_t> channel) {
    std::string name(info.name);
    if (channel)
        name += " " + std::to_string(*channel + 1);
    return name;
}

std::string_view cut_utf8(std::string_view text, std::size_t max_bytes) noexcept {
    if (text.size() <= max_bytes)
        return text;
    std::size_t end = max_bytes;
    while (end > 0 && is_continuation(static_cast<unsigned char>(text[end])))
        --end;
    return text.substr(0, end);
}

std::string utf8_lossy(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (std::size_t at = 0; at < bytes.size();) {
        const Char c = decode_at(bytes, at);
        if (c.valid)
            out.append(bytes.substr(c.begin, c.end - c.begin));
        else
            append_utf8(out, REPLACEMENT);
        at = c.end;
    }
    return out;
}

std::optional<float> parse_value(const ParamInfo& info, std::string_view text) {
    const std::string_view trimmed = trim(text, decode(text));
    switch (info.kind) {
    case Kind::Choice:
        for (std::size_t i = 0; i < info.choices.size(); ++i) {
            if (equal_folded(trimmed, info.choices[i]))
                return static_cast<float>(i);
        }
        return parse_number(trimmed);
    case Kind::Toggle:
        if (equal_folded(trimmed, "1") || equal_folded(trimmed, "on") ||
            equal_folded(trimmed, "true"))
            return 1.0f;
        if (equal_folded(trimmed, "0") || equal_folded(trimmed, "off") ||
            equal_folded(trimmed, "false"))
            return 0.0f;
        return std::nullopt;
    case Kind::Number:
    case Kind::Meter:
        break;
    }
    // The first word, without the unit written after the number.
    const std::vector<Char> chars = decode(trimmed);
    std::size_t word = 0;
    while (word < chars.size() && !is_white_space(chars[word].cp))
        ++word;
    while (word > 0 && (is_alphabetic(chars[word - 1].cp) || chars[word - 1].cp == '%'))
        --word;
    if (word == 0)
        return std::nullopt;
    return parse_number(trimmed.substr(0, chars[word - 1].end));
}

} // namespace velk::au
