#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace velk {

/// Converts a decimal token to the correctly rounded double. The token may hold
/// only digits, '.', 'e', 'E', '+' and '-' and must match, as a whole, an optional
/// sign, digits with an optional point (or a point and digits), and an optional
/// exponent; anything else gives nothing. Too large gives an infinity of the
/// token's sign, too small gives zero (or the correctly rounded subnormal).
/// Callers enforce their own, stricter grammar before calling. Any thread.
std::optional<double> to_double(std::string_view token);

/// As to_double, rounded once, directly to a 32-bit float.
std::optional<float> to_float(std::string_view token);

/// The shortest decimal that reads back as the same float, in positional notation
/// (never an exponent), without a point for whole numbers: "24000", "-96",
/// "0.001". Infinities are "inf" and "-inf", not-a-number is "NaN".
std::string format_float(float value);

/// `value` with exactly `decimals` digits after the point, correctly rounded from
/// its exact binary value (ties to even). A negative zero keeps its sign.
std::string format_fixed(double value, int decimals);

} // namespace velk
