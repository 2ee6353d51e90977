#include "json_text.hpp"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <system_error>

#include "check.hpp"

namespace velk::fuzz {

std::string json_number(double value) {
    VELK_FUZZ_CHECK(!std::isnan(value));
    if (std::isinf(value))
        return value < 0 ? "-1e999" : "1e999";
    char buf[64];
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
    VELK_FUZZ_CHECK(ec == std::errc());
    return std::string(buf, end);
}

std::string json_string(std::string_view text) {
    constexpr char hex[] = "0123456789abcdef";
    std::string out = "\"";
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20) {
            out += "\\u00";
            out += hex[byte >> 4];
            out += hex[byte & 0xF];
        } else {
            out += c;
        }
    }
    out += '"';
    return out;
}

std::string json_text(const Json& value) {
    switch (value.kind()) {
    case Json::Kind::Null:
        return "null";
    case Json::Kind::Boolean:
        return value.as_bool() ? "true" : "false";
    case Json::Kind::Number:
        return json_number(value.as_number());
    case Json::Kind::String:
        return json_string(value.as_string());
    case Json::Kind::Array: {
        std::string out = "[";
        for (const Json& element : value.as_array()) {
            if (out.size() > 1)
                out += ',';
            out += json_text(element);
        }
        return out + "]";
    }
    case Json::Kind::Object: {
        std::string out = "{";
        for (const Json::Member& m : value.as_object()) {
            if (out.size() > 1)
                out += ',';
            out += json_string(m.key);
            out += ':';
            out += json_text(m.value);
        }
        return out + "}";
    }
    }
    return {};
}

bool same_json(const Json& a, const Json& b) {
    if (a.kind() != b.kind())
        return false;
    switch (a.kind()) {
    case Json::Kind::Null:
        return true;
    case Json::Kind::Boolean:
        return a.as_bool() == b.as_bool();
    case Json::Kind::Number:
        return std::bit_cast<std::uint64_t>(a.as_number()) ==
               std::bit_cast<std::uint64_t>(b.as_number());
    case Json::Kind::String:
        return a.as_string() == b.as_string();
    case Json::Kind::Array: {
        const Json::Array& x = a.as_array();
        const Json::Array& y = b.as_array();
        if (x.size() != y.size())
            return false;
        for (std::size_t i = 0; i < x.size(); ++i) {
            if (!same_json(x[i], y[i]))
                return false;
        }
        return true;
    }
    case Json::Kind::Object: {
        const Json::Object& x = a.as_object();
        const Json::Object& y = b.as_object();
        if (x.size() != y.size())
            return false;
        for (std::size_t i = 0; i < x.size(); ++i) {
            if (x[i].key != y[i].key || !same_json(x[i].value, y[i].value))
                return false;
        }
        return true;
    }
    }
    return false;
}

} // namespace velk::fuzz
