#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "velk/core/result.hpp"

namespace velk {

/// A parsed JSON value: null, boolean, number (always a double), string (UTF-8,
/// escapes resolved), array or object. An object is an ordered list of members:
/// a key written twice gives two members. A value owns everything below it.
class Json {
public:
    /// The six kinds a value can have.
    enum class Kind : std::uint8_t { Null, Boolean, Number, String, Array, Object };
    /// One object member: a key (UTF-8) and its value.
    struct Member;
    using Array = std::vector<Json>;
    using Object = std::vector<Member>;

    /// A null value.
    Json() = default;
    /// Values of the other kinds; containers take ownership of their contents.
    static Json boolean(bool b);
    static Json number(double d);
    static Json string(std::string s);
    static Json array(Array elements);
    static Json object(Object members);

    /// The kind of this value, and a shorthand test for each kind.
    Kind kind() const noexcept { return static_cast<Kind>(data_.index()); }
    bool is_null() const noexcept { return kind() == Kind::Null; }
    bool is_bool() const noexcept { return kind() == Kind::Boolean; }
    bool is_number() const noexcept { return kind() == Kind::Number; }
    bool is_string() const noexcept { return kind() == Kind::String; }
    bool is_array() const noexcept { return kind() == Kind::Array; }
    bool is_object() const noexcept { return kind() == Kind::Object; }

    /// The payload of a value of that kind; asking the wrong kind is a programming error.
    bool as_bool() const { return std::get<bool>(data_); }
    double as_number() const { return std::get<double>(data_); }
    const std::string& as_string() const { return std::get<std::string>(data_); }
    const Array& as_array() const { return std::get<Array>(data_); }
    const Object& as_object() const { return std::get<Object>(data_); }

    /// The value of the first member whose key equals `key` byte for byte; null
    /// pointer when there is none or this is not an object.
    const Json* get(std::string_view key) const noexcept;

private:
    std::variant<std::monostate, bool, double, std::string, Array, Object> data_;
};

struct Json::Member {
    std::string key;
    Json value;
};

namespace value {

/// Reads a JSON text (UTF-8, read as bytes) in one forward pass. Fails with one
/// message naming the byte offset where reading stopped. Nesting is limited to 64
/// levels, so no text can exhaust the stack. A `\u` surrogate escape that does not
/// pair becomes U+FFFD. Pure; any thread.
Result<Json> parse(std::string_view text);

} // namespace value
} // namespace velk
