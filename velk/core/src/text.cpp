#include "velk/core/text.hpp"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <locale.h>
#include <system_error>

#if defined(__APPLE__)
#include <xlocale.h>
#endif

namespace velk {
namespace {

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// Whole-token match of: sign? (digits ('.' digits?)? | '.' digits) ([eE] sign? digits)?
bool is_decimal(std::string_view s) {
    std::size_t i = 0;
    const std::size_t n = s.size();
    if (i < n && (s[i] == '+' || s[i] == '-'))
        ++i;
    std::size_t int_digits = 0;
    while (i < n && is_digit(s[i])) {
        ++i;
        ++int_digits;
    }
    std::size_t frac_digits = 0;
    if (i < n && s[i] == '.') {
        ++i;
        while (i < n && is_digit(s[i])) {
            ++i;
            ++frac_digits;
        }
    }
    if (int_digits + frac_digits == 0)
        return false;
    if (i < n && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < n && (s[i] == '+' || s[i] == '-'))
            ++i;
        std::size_t exp_digits = 0;
        while (i < n && is_digit(s[i])) {
            ++i;
            ++exp_digits;
        }
        if (exp_digits == 0)
            return false;
    }
    return i == n;
}

locale_t c_locale() {
    static const locale_t loc = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return loc;
}

// strtod/strtof with the C locale: correctly rounded, infinity on overflow, zero or
// a subnormal on underflow. The token was already checked to be plain decimal.
template <typename T>
T convert_with_c_library(std::string_view token) {
    std::string text(token);
    if constexpr (sizeof(T) == sizeof(float)) {
        return strtof_l(text.c_str(), nullptr, c_locale());
    } else {
        return strtod_l(text.c_str(), nullptr, c_locale());
    }
}

template <typename T>
std::optional<T> convert(std::string_view token) {
    if (!is_decimal(token))
        return std::nullopt;
#if defined(__APPLE__)
    return convert_with_c_library<T>(token);
#else
    std::string_view body = token;
    if (!body.empty() && body.front() == '+')
        body.remove_prefix(1); // from_chars refuses an explicit plus
    T value{};
    const auto [end, ec] = std::from_chars(body.data(), body.data() + body.size(), value);
    if (ec == std::errc::result_out_of_range)
        return convert_with_c_library<T>(token); // from_chars leaves the value unset
    if (ec != std::errc() || end != body.data() + body.size())
        return std::nullopt;
    return value;
#endif
}

} // namespace

std::optional<double> to_double(std::string_view token) {
    return convert<double>(token);
}

std::optional<float> to_float(std::string_view token) {
    return convert<float>(token);
}

std::string format_float(float value) {
    if (std::isnan(value))
        return "NaN";
    if (std::isinf(value))
        return value < 0 ? "-inf" : "inf";
    // The shortest digits come from the scientific form; fixed notation would print
    // every digit of the exact value for large numbers (1e20 as 100000002004087734272).
    char buf[64];
    const auto [end, ec] =
        std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific);
    if (ec != std::errc())
        return {};
    const std::string_view sci(buf, static_cast<std::size_t>(end - buf));
    const std::size_t e = sci.find('e');
    std::string_view mantissa = sci.substr(0, e);
    const int exponent = std::atoi(std::string(sci.substr(e + 1)).c_str());
    std::string out;
    if (!mantissa.empty() && mantissa.front() == '-') {
        out += '-';
        mantissa.remove_prefix(1);
    }
    std::string digits;
    for (char c : mantissa)
        if (c != '.')
            digits += c;
    // digits = d0 d1 d2 ..., value = d0.d1d2... x 10^exponent
    const int point = exponent + 1; // digits before the decimal point
    if (point <= 0) {
        out += "0.";
        out.append(static_cast<std::size_t>(-point), '0');
        out += digits;
    } else if (static_cast<std::size_t>(point) >= digits.size()) {
        out += digits;
        out.append(static_cast<std::size_t>(point) - digits.size(), '0');
    } else {
        out += digits.substr(0, static_cast<std::size_t>(point));
        out += '.';
        out += digits.substr(static_cast<std::size_t>(point));
    }
    return out;
}

std::string format_fixed(double value, int decimals) {
    if (std::isnan(value))
        return "NaN";
    if (std::isinf(value))
        return value < 0 ? "-inf" : "inf";
    char buf[400];
    const auto [end, ec] =
        std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals);
    if (ec != std::errc())
        return {};
    return std::string(buf, end);
}

} // namespace velk
