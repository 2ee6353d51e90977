// The JSON reader on arbitrary bytes. A value that reads is written back as text
// and must read again to the same tree, also with whitespace around it; a refusal
// is one known message whose byte offset lies inside the text.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "support/check.hpp"
#include "support/json_text.hpp"
#include "velk/core/value.hpp"

namespace {

using velk::Json;

// Arrays and objects may nest 64 deep around a value, plus one empty level.
constexpr std::size_t MAX_LEVELS = 65;

std::size_t levels(const Json& v) {
    std::size_t deepest = 0;
    if (v.is_array()) {
        for (const Json& element : v.as_array())
            deepest = std::max(deepest, levels(element));
        return deepest + 1;
    }
    if (v.is_object()) {
        for (const Json::Member& m : v.as_object())
            deepest = std::max(deepest, levels(m.value));
        return deepest + 1;
    }
    return 0;
}

// Json::get finds the first member with a key, on every object of the tree.
void check_lookup(const Json& v) {
    if (v.is_array()) {
        for (const Json& element : v.as_array())
            check_lookup(element);
        return;
    }
    if (!v.is_object()) {
        VELK_FUZZ_CHECK(v.get("") == nullptr);
        return;
    }
    const Json::Object& members = v.as_object();
    for (std::size_t i = 0; i < members.size(); ++i) {
        const Json* found = v.get(members[i].key);
        VELK_FUZZ_CHECK(found != nullptr);
        std::size_t first = 0;
        while (members[first].key != members[i].key)
            ++first;
        VELK_FUZZ_CHECK(found == &members[first].value);
        check_lookup(members[i].value);
    }
}

void check_value(std::string_view text, const Json& v) {
    VELK_FUZZ_CHECK(levels(v) <= MAX_LEVELS);
    check_lookup(v);

    // Strings hold valid UTF-8, so the written text reads again; numbers are exact.
    const std::string written = velk::fuzz::json_text(v);
    auto again = velk::value::parse(written);
    VELK_FUZZ_CHECK(again.ok());
    VELK_FUZZ_CHECK(velk::fuzz::same_json(v, *again));
    VELK_FUZZ_CHECK(velk::fuzz::json_text(*again) == written);

    auto spaced = velk::value::parse(" \t\n" + std::string(text) + "\r ");
    VELK_FUZZ_CHECK(spaced.ok());
    VELK_FUZZ_CHECK(velk::fuzz::same_json(v, *spaced));
}

struct Refusal {
    std::string_view message;
    bool at_end = false; // the offset is the length of the text
};

constexpr std::array<Refusal, 14> REFUSALS = {{
    {.message = "unexpected end of input", .at_end = true},
    {.message = "nesting is too deep"},
    {.message = "unexpected word"},
    {.message = "expected a value"},
    {.message = "expected a comma or ]"},
    {.message = "expected a string key"},
    {.message = "expected a colon"},
    {.message = "expected a comma or }"},
    {.message = "unterminated string", .at_end = true},
    {.message = "unterminated escape", .at_end = true},
    {.message = "unknown escape"},
    {.message = "short \\u escape"},
    {.message = "bad \\u escape"},
    {.message = "unexpected text after the value"},
}};

bool is_whitespace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

void check_refusal(std::string_view text, std::string_view message) {
    VELK_FUZZ_CHECK(!message.empty());
    if (message == "the string is not valid UTF-8")
        return;
    constexpr std::string_view at_byte = " at byte ";
    const std::size_t cut = message.rfind(at_byte);
    VELK_FUZZ_CHECK(cut != std::string_view::npos);
    const std::string_view what = message.substr(0, cut);
    const std::string_view digits = message.substr(cut + at_byte.size());
    VELK_FUZZ_CHECK(!digits.empty() && digits.size() <= 20);
    std::size_t at = 0;
    for (char c : digits) {
        VELK_FUZZ_CHECK(c >= '0' && c <= '9');
        at = at * 10 + static_cast<std::size_t>(c - '0');
    }
    VELK_FUZZ_CHECK(at <= text.size());

    const Refusal* known = nullptr;
    for (const Refusal& r : REFUSALS) {
        if (r.message == what)
            known = &r;
    }
    VELK_FUZZ_CHECK(known != nullptr);
    if (known->at_end)
        VELK_FUZZ_CHECK(at == text.size());
    if (what == "unexpected word")
        VELK_FUZZ_CHECK(at < text.size() &&
                        (text[at] == 't' || text[at] == 'f' || text[at] == 'n'));
    // The depth is checked before the end of the text, so only this one needs a byte.
    if (what == "expected a value")
        VELK_FUZZ_CHECK(at < text.size());
    if (what == "unexpected text after the value")
        VELK_FUZZ_CHECK(at < text.size() && !is_whitespace(text[at]));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    auto result = velk::value::parse(text);
    if (result.ok())
        check_value(text, *result);
    else
        check_refusal(text, result.error());
    return 0;
}
