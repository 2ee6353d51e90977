#pragma once

#include <cmath>

namespace velk::blocks {

/// 2π as the nearest 32-bit float.
inline constexpr float TWO_PI = 6.2831855f;
/// ln(10) / 20: decibels to natural-log units.
inline constexpr float DB_TO_LN = 0.11512925f;
/// Signal state below this magnitude is set to zero after every frame.
inline constexpr float STATE_FLUSH = 1e-20f;

/// Decibels to a linear gain, as e^(dB × 0.11512925) in 32-bit floats.
inline float db_to_gain(float db) noexcept { return std::exp(db * DB_TO_LN); }

/// Nearest whole number, halves away from zero.
inline float round_half_away(float v) noexcept { return std::round(v); }

/// Zeroes a piece of filter or envelope state that has decayed below 1e-20.
inline void flush_state(float& s) noexcept {
    if (std::fabs(s) < STATE_FLUSH)
        s = 0.0f;
}

} // namespace velk::blocks
