#pragma once

// Measuring helpers for the filter-type block tests: drive a prepared block with a
// tone, an impulse or silence, one control step per 32-sample period.

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <numbers>
#include <span>
#include <vector>

#include "velk/blocks/block.hpp"
#include "velk/blocks/frame.hpp"

namespace velk::blocks::test {

/// The complex gain of `block` (prepared for one channel at `fs`) at `freq_hz`: a unit
/// sine runs for `settle_s` seconds, then one second is projected onto sine and
/// cosine. Exact orthogonality for whole-Hz tones; `values` are sent every period.
inline std::complex<double> measure_response(Block& block, std::span<const float> values, double fs,
                                             double freq_hz, double settle_s = 0.5) {
    const auto settle = static_cast<std::size_t>(settle_s * fs);
    const auto window = static_cast<std::size_t>(fs);
    const std::size_t total = settle + window;
    const double w = 2.0 * std::numbers::pi * freq_hz / fs;
    Frame frame(1);
    double re = 0.0;
    double im = 0.0;
    for (std::size_t start = 0; start < total; start += 32) {
        frame.len = std::min<std::size_t>(32, total - start);
        for (std::size_t i = 0; i < frame.len; ++i)
            frame.row(0)[i] = static_cast<float>(std::sin(w * static_cast<double>(start + i)));
        block.control(values);
        block.process(frame, 0);
        for (std::size_t i = 0; i < frame.len; ++i) {
            const std::size_t n = start + i;
            if (n < settle)
                continue;
            const double y = static_cast<double>(frame.row(0)[i]);
            re += y * std::sin(w * static_cast<double>(n));
            im += y * std::cos(w * static_cast<double>(n));
        }
    }
    const double scale = 2.0 / static_cast<double>(window);
    return {re * scale, im * scale};
}

/// Magnitude in decibels.
inline double to_db(double magnitude) {
    return 20.0 * std::log10(magnitude);
}

/// The analog frequency, relative to the design frequency `f0_hz`, that the bilinear
/// transform maps to the digital frequency `f_hz`.
inline double warped(double f_hz, double f0_hz, double fs) {
    return std::tan(std::numbers::pi * f_hz / fs) / std::tan(std::numbers::pi * f0_hz / fs);
}

/// Runs `periods` control periods of silence through a one-channel block.
inline void run_silence(Block& block, std::span<const float> values, std::size_t periods) {
    Frame frame(1);
    frame.len = 32;
    for (std::size_t p = 0; p < periods; ++p) {
        block.control(values);
        block.process(frame, 0);
    }
}

/// One control step, then the first 32 samples of the response to a unit impulse.
inline std::array<float, 32> impulse_response(Block& block, std::span<const float> values) {
    Frame frame(1);
    frame.len = 32;
    frame.row(0)[0] = 1.0f;
    block.control(values);
    block.process(frame, 0);
    std::array<float, 32> out{};
    for (std::size_t i = 0; i < 32; ++i)
        out[i] = frame.row(0)[i];
    return out;
}

/// Sends an impulse, then `periods` periods of silence, and returns the smallest
/// non-zero output magnitude and whether the output ended in exact zeros. A block
/// that flushes its state at 1e-20 never leaves a long denormal decay behind.
struct Decay {
    float smallest_nonzero = 1.0f;
    bool ends_silent = false;
};
inline Decay impulse_decay(Block& block, std::span<const float> values, std::size_t periods) {
    Decay d;
    Frame frame(1);
    frame.len = 32;
    frame.row(0)[0] = 1.0f;
    for (std::size_t p = 0; p < periods; ++p) {
        block.control(values);
        block.process(frame, 0);
        d.ends_silent = true;
        for (float& v : frame.row(0)) {
            if (v != 0.0f) {
                d.smallest_nonzero = std::min(d.smallest_nonzero, std::fabs(v));
                d.ends_silent = false;
            }
            v = 0.0f;
        }
    }
    return d;
}

/// Deterministic noise in [-1, 1) from a fixed seed.
inline std::vector<float> noise(std::size_t count, std::uint32_t seed = 12345u) {
    std::vector<float> out(count);
    std::uint32_t state = seed;
    for (float& v : out) {
        state = state * 1664525u + 1013904223u;
        v = static_cast<float>(state >> 8) / 8388608.0f - 1.0f;
    }
    return out;
}

/// Feeds `input` (one channel) through `block` in frames whose lengths cycle through
/// `lengths`, never crossing a period end; `args(period)` gives the control values
/// sent at each period start. Returns the output.
template <typename Args>
std::vector<float> run_split(Block& block, const std::vector<float>& input,
                             std::span<const std::size_t> lengths, Args args) {
    std::vector<float> out(input.size());
    Frame frame(1);
    std::size_t next = 0;
    std::size_t pos = 0;
    while (pos < input.size()) {
        const std::size_t phase = pos % 32;
        if (phase == 0)
            block.control(args(pos / 32));
        std::size_t len = lengths[next++ % lengths.size()];
        len = std::min({len, 32 - phase, input.size() - pos});
        frame.len = len;
        for (std::size_t i = 0; i < len; ++i)
            frame.row(0)[i] = input[pos + i];
        block.process(frame, phase);
        for (std::size_t i = 0; i < len; ++i)
            out[pos + i] = frame.row(0)[i];
        pos += len;
    }
    return out;
}

} // namespace velk::blocks::test
