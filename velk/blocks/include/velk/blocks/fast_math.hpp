#pragma once

#include <bit>
#include <cstdint>

namespace velk::blocks {

// Natural logarithm and exponential in 32-bit floats, built only from basic IEEE
// operations, so that they give the same bits on every machine and vectorise when
// called in a loop. Each stays within 3 units in the last place of the exact result
// over the whole range stated (checked against double precision in the tests).

/// `a` when `c` holds, else `b`, both already computed. Unlike `?:`, which compilers
/// may turn back into a branch around one side's arithmetic, this vectorises.
[[gnu::always_inline]] inline float pick(bool c, float a, float b) noexcept {
    const std::uint32_t mask = 0u - static_cast<std::uint32_t>(c);
    return std::bit_cast<float>((std::bit_cast<std::uint32_t>(a) & mask) |
                                (std::bit_cast<std::uint32_t>(b) & ~mask));
}

/// ln(x) for x in [2^-126, FLT_MAX] (positive, normal, finite); NaN gives NaN.
/// Within 3 units in the last place, and 4e-6 absolute. Any thread.
[[gnu::always_inline]] inline float fast_ln(float x) noexcept {
    const auto bits = std::bit_cast<std::uint32_t>(x);
    // x = m 2^e with m in [2/3, 4/3), so that m - 1 is exact and small.
    const std::int32_t e = (std::bit_cast<std::int32_t>(bits) - 0x3f2aaaab) >> 23;
    const float m = std::bit_cast<float>(bits - (static_cast<std::uint32_t>(e) << 23));
    const float f = m - 1.0f;
    // ln(m) = 2 atanh(s) with s = f / (2 + f), |s| <= 1/5: the series to s^9.
    const float s = f / (2.0f + f);
    const float z = s * s;
    const float p = 2.0f + z * (0.6666667f + z * (0.4f + z * (0.2857143f + z * 0.22222222f)));
    // ln 2 split in two: the high part has 15 significant bits, so e times it is exact.
    const auto ef = static_cast<float>(e);
    const float ln = ef * 0.693145752f + (s * p + ef * 1.42860677e-06f);
    return pick(x == x, ln, x);
}

/// fast_exp for a y already in [-87, 88] (or NaN), without the limits.
[[gnu::always_inline]] inline float fast_exp_in_range(float y) noexcept {
    // Adding 1.5 x 2^23 rounds y / ln 2 to the nearest whole number n, which then
    // sits in the low bits of the sum.
    constexpr float shifter = 12582912.0f;
    const float t = y * 1.44269502f + shifter;
    const float n = t - shifter;
    const auto ni = static_cast<std::int32_t>(std::bit_cast<std::uint32_t>(t) -
                                              std::bit_cast<std::uint32_t>(shifter));
    // y - n ln 2 in [-0.35, 0.35], with ln 2 split as in fast_ln.
    const float r = (y - n * 0.693145752f) - n * 1.42860677e-06f;
    const float p =
        1.0f +
        r * (1.0f +
             r * (0.5f + r * (0.16666667f +
                              r * (0.041666668f +
                                   r * (0.008333334f + r * (0.0013888889f + r * 0.0001984127f))))));
    const float scale = std::bit_cast<float>(static_cast<std::uint32_t>(ni + 127) << 23);
    return p * scale;
}

/// e^y in 32-bit floats, y limited to [-87, 88] so that the result stays normal.
/// Within 1.5 units in the last place. NaN gives NaN. Any thread.
[[gnu::always_inline]] inline float fast_exp(float y) noexcept {
    y = pick(y < -87.0f, -87.0f, y);
    y = pick(y > 88.0f, 88.0f, y);
    return fast_exp_in_range(y);
}

} // namespace velk::blocks
