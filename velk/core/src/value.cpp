#include "velk/core/value.hpp"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "velk/core/text.hpp"

namespace velk {

// Containers reallocate by moving their elements only when the move cannot throw;
// otherwise every growth of a long array would deep-copy it.
static_assert(std::is_nothrow_move_constructible_v<Json>);
static_assert(std::is_nothrow_move_assignable_v<Json>);

Json Json::boolean(bool b) {
    Json j;
    j.data_.emplace<bool>(b);
    return j;
}

Json Json::number(double d) {
    Json j;
    j.data_.emplace<double>(d);
    return j;
}

Json Json::string(std::string s) {
    Json j;
    j.data_.emplace<std::string>(std::move(s));
    return j;
}

Json Json::array(Array elements) {
    Json j;
    j.data_.emplace<Array>(std::move(elements));
    return j;
}

Json Json::object(Object members) {
    Json j;
    j.data_.emplace<Object>(std::move(members));
    return j;
}

const Json* Json::get(std::string_view key) const noexcept {
    if (!is_object())
        return nullptr;
    for (const Member& m : std::get<Object>(data_)) {
        if (m.key == key)
            return &m.value;
    }
    return nullptr;
}

namespace {

// Values nested deeper than this are refused; it also bounds the recursion.
constexpr int MAX_DEPTH = 64;
constexpr std::uint32_t REPLACEMENT = 0xFFFD;

bool is_whitespace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool is_number_byte(char c) {
    return (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.' || c == 'e' || c == 'E';
}

bool is_high_surrogate(std::uint32_t u) {
    return u >= 0xD800 && u <= 0xDBFF;
}

bool is_low_surrogate(std::uint32_t u) {
    return u >= 0xDC00 && u <= 0xDFFF;
}

std::uint8_t byte_at(std::string_view s, std::size_t i) {
    return static_cast<std::uint8_t>(s[i]);
}

void append_utf8(std::string& out, std::uint32_t cp) {
    auto put = [&out](std::uint32_t b) {
        out.push_back(static_cast<char>(b));
    };
    if (cp < 0x80) {
        put(cp);
    } else if (cp < 0x800) {
        put(0xC0 | (cp >> 6));
        put(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        put(0xE0 | (cp >> 12));
        put(0x80 | ((cp >> 6) & 0x3F));
        put(0x80 | (cp & 0x3F));
    } else {
        put(0xF0 | (cp >> 18));
        put(0x80 | ((cp >> 12) & 0x3F));
        put(0x80 | ((cp >> 6) & 0x3F));
        put(0x80 | (cp & 0x3F));
    }
}

// Well-formed UTF-8: no overlong forms, no encoded surrogates, nothing above
// U+10FFFF, no stray continuation bytes and no truncated sequences.
bool is_utf8(std::string_view s) {
    const std::size_t n = s.size();
    std::size_t i = 0;
    while (i < n) {
        const std::uint8_t lead = byte_at(s, i);
        if (lead < 0x80) {
            ++i;
            continue;
        }
        std::size_t len = 0;
        // Allowed range of the second byte; it is what excludes overlongs,
        // surrogates and code points past U+10FFFF.
        std::uint8_t lo = 0x80;
        std::uint8_t hi = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            len = 2;
        } else if (lead == 0xE0) {
            len = 3;
            lo = 0xA0;
        } else if (lead == 0xED) {
            len = 3;
            hi = 0x9F;
        } else if (lead >= 0xE1 && lead <= 0xEF) {
            len = 3;
        } else if (lead == 0xF0) {
            len = 4;
            lo = 0x90;
        } else if (lead == 0xF4) {
            len = 4;
            hi = 0x8F;
        } else if (lead >= 0xF1 && lead <= 0xF3) {
            len = 4;
        } else {
            return false;
        }
        if (n - i < len)
            return false;
        const std::uint8_t second = byte_at(s, i + 1);
        if (second < lo || second > hi)
            return false;
        for (std::size_t k = 2; k < len; ++k) {
            const std::uint8_t b = byte_at(s, i + k);
            if (b < 0x80 || b > 0xBF)
                return false;
        }
        i += len;
    }
    return true;
}

// The reader's cursor: one forward pass over the bytes with one byte of look-ahead.
// The only step back is to the start of a number token that does not convert.
class Parser {
public:
    explicit Parser(std::string_view text) : text_(text) {}

    Result<Json> document() {
        skip_whitespace();
        Result<Json> v = value(0);
        if (!v)
            return v;
        skip_whitespace();
        if (!at_end())
            return fail("unexpected text after the value at byte " + std::to_string(pos_));
        return v;
    }

private:
    // One value at `depth`; the cursor is on its first byte.
    Result<Json> value(int depth) {
        if (depth > MAX_DEPTH)
            return err("nesting is too deep");
        if (at_end())
            return err("unexpected end of input");
        switch (peek()) {
        case '"': {
            Result<std::string> s = string();
            if (!s)
                return fail(s.error());
            return Json::string(std::move(s).value());
        }
        case '[':
            return array(depth);
        case '{':
            return object(depth);
        case 't':
            return eat("true", Json::boolean(true));
        case 'f':
            return eat("false", Json::boolean(false));
        case 'n':
            return eat("null", Json());
        default:
            return number();
        }
    }

    Result<Json> array(int depth) {
        ++pos_;
        Json::Array elements;
        skip_whitespace();
        if (!at_end() && peek() == ']') {
            ++pos_;
            return Json::array(std::move(elements));
        }
        for (;;) {
            skip_whitespace();
            Result<Json> element = value(depth + 1);
            if (!element)
                return element;
            elements.push_back(std::move(element).value());
            skip_whitespace();
            if (at_end() || (peek() != ',' && peek() != ']'))
                return err("expected a comma or ]");
            if (text_[pos_++] == ']')
                return Json::array(std::move(elements));
        }
    }

    Result<Json> object(int depth) {
        ++pos_;
        Json::Object members;
        skip_whitespace();
        if (!at_end() && peek() == '}') {
            ++pos_;
            return Json::object(std::move(members));
        }
        for (;;) {
            skip_whitespace();
            if (at_end() || peek() != '"')
                return err("expected a string key");
            Result<std::string> key = string();
            if (!key)
                return fail(key.error());
            skip_whitespace();
            if (at_end() || peek() != ':')
                return err("expected a colon");
            ++pos_;
            skip_whitespace();
            Result<Json> v = value(depth + 1);
            if (!v)
                return v;
            members.push_back(Json::Member{std::move(key).value(), std::move(v).value()});
            skip_whitespace();
            if (at_end() || (peek() != ',' && peek() != '}'))
                return err("expected a comma or }");
            if (text_[pos_++] == '}')
                return Json::object(std::move(members));
        }
    }

    // The longest run of number bytes, converted as a whole. Anything that is not
    // a value at all gives an empty run and lands here too.
    Result<Json> number() {
        const std::size_t start = pos_;
        while (!at_end() && is_number_byte(peek()))
            ++pos_;
        const std::optional<double> d = to_double(text_.substr(start, pos_ - start));
        if (!d) {
            pos_ = start;
            return err("expected a value");
        }
        return Json::number(*d);
    }

    // One quoted string; the cursor is on its opening quote.
    Result<std::string> string() {
        ++pos_;
        std::string buffer;
        while (!at_end()) {
            const char c = text_[pos_++];
            if (c == '"') {
                if (!is_utf8(buffer))
                    return fail("the string is not valid UTF-8");
                return buffer;
            }
            if (c != '\\') {
                buffer.push_back(c);
                continue;
            }
            if (at_end())
                return err("unterminated escape");
            switch (text_[pos_++]) {
            case '"':
                buffer.push_back('"');
                break;
            case '\\':
                buffer.push_back('\\');
                break;
            case '/':
                buffer.push_back('/');
                break;
            case 'b':
                buffer.push_back('\b');
                break;
            case 'f':
                buffer.push_back('\f');
                break;
            case 'n':
                buffer.push_back('\n');
                break;
            case 'r':
                buffer.push_back('\r');
                break;
            case 't':
                buffer.push_back('\t');
                break;
            case 'u': {
                Result<void> u = unicode_escape(buffer);
                if (!u)
                    return fail(u.error());
                break;
            }
            default:
                return err("unknown escape");
            }
        }
        return err("unterminated string");
    }

    // The cursor is just after `\u`. A high surrogate pairs with a directly
    // following `\u` low surrogate. Any other surrogate becomes U+FFFD, and a unit
    // that failed to pair is read again on its own, so no escaped character is lost.
    Result<void> unicode_escape(std::string& buffer) {
        Result<std::uint32_t> first = hex4();
        if (!first)
            return fail(first.error());
        std::uint32_t unit = first.value();
        while (is_high_surrogate(unit) && text_.substr(pos_, 2) == "\\u") {
            pos_ += 2;
            Result<std::uint32_t> second = hex4();
            if (!second)
                return fail(second.error());
            if (is_low_surrogate(second.value())) {
                append_utf8(buffer, 0x10000 + ((unit - 0xD800) << 10) + (second.value() - 0xDC00));
                return {};
            }
            append_utf8(buffer, REPLACEMENT);
            unit = second.value();
        }
        append_utf8(buffer, is_high_surrogate(unit) || is_low_surrogate(unit) ? REPLACEMENT : unit);
        return {};
    }

    // The four characters of a `\u` escape as an unsigned hexadecimal number. A `+`
    // in the first place is skipped, leaving three digits.
    Result<std::uint32_t> hex4() {
        if (text_.size() - pos_ < 4)
            return err("short \\u escape");
        std::uint32_t unit = 0;
        for (std::size_t k = 0; k < 4; ++k) {
            const char c = text_[pos_ + k];
            std::uint32_t digit = 0;
            if (c >= '0' && c <= '9') {
                digit = static_cast<std::uint32_t>(c - '0');
            } else if (c >= 'a' && c <= 'f') {
                digit = static_cast<std::uint32_t>(c - 'a' + 10);
            } else if (c >= 'A' && c <= 'F') {
                digit = static_cast<std::uint32_t>(c - 'A' + 10);
            } else if (c == '+' && k == 0) {
                continue;
            } else {
                return err("bad \\u escape");
            }
            unit = unit * 16 + digit;
        }
        pos_ += 4;
        return unit;
    }

    // An exact literal word; the cursor is on its first letter.
    Result<Json> eat(std::string_view word, Json result) {
        if (text_.substr(pos_, word.size()) != word)
            return err("unexpected word");
        pos_ += word.size();
        return result;
    }

    Failure err(const char* what) const {
        return fail(std::string(what) + " at byte " + std::to_string(pos_));
    }

    void skip_whitespace() noexcept {
        while (!at_end() && is_whitespace(peek()))
            ++pos_;
    }

    bool at_end() const noexcept { return pos_ >= text_.size(); }
    char peek() const noexcept { return text_[pos_]; }

    std::string_view text_;
    std::size_t pos_ = 0;
};

} // namespace

namespace value {

Result<Json> parse(std::string_view text) {
    return Parser(text).document();
}

} // namespace value
} // namespace velk
