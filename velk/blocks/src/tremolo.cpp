#include "velk/blocks/tremolo.hpp"

#include <array>
#include <cmath>
#include <memory>
#include <numbers>
#include <string_view>

namespace velk::blocks {
namespace {

enum Arg : std::size_t { RateHz, Depth, Shape, StereoPhase };

constexpr std::array<std::string_view, 2> SHAPES = {"sine", "triangle"};

constexpr std::array<ArgInfo, 4> ARGS = {{
    {.name = "rate_hz",
     .unit = "Hz",
     .doc = "The speed.",
     .min = 0.05f,
     .max = 40.0f,
     .default_value = 4.0f},
    {.name = "depth",
     .unit = "",
     .doc = "0 does nothing. 1 takes the level all the way down at the bottom of each cycle.",
     .min = 0.0f,
     .max = 1.0f,
     .default_value = 0.5f},
    {.name = "shape",
     .unit = "",
     .choices = SHAPES,
     .doc = "The wave.",
     .min = 0.0f,
     .max = 1.0f,
     .default_value = 0.0f},
    {.name = "stereo_phase",
     .unit = "deg",
     .doc = "How far each channel's cycle is offset from the one before. 180 with two channels "
            "is an auto-pan.",
     .min = 0.0f,
     .max = 180.0f,
     .default_value = 0.0f},
}};

float arg(std::span<const float> values, Arg i) noexcept {
    return i < values.size() ? values[i] : ARGS[i].default_value;
}

double fractional(double x) noexcept {
    return x - std::trunc(x);
}

constexpr double TWO_PI_D = 2.0 * std::numbers::pi;

std::unique_ptr<Block> make() {
    return std::make_unique<Tremolo>();
}

} // namespace

namespace tremolo {
constinit const BlockInfo INFO = {
    .name = "tremolo",
    .doc = "Varies the level with a low-frequency oscillator. With the channels half a cycle "
           "apart it is an auto-pan.",
    .args = ARGS,
    .make = make,
};
} // namespace tremolo

void Tremolo::prepare(float sample_rate, std::size_t) {
    increment_ = 0.0;
    channel_offset_ = 0.0;
    cycle_phase_ = 0.0;
    depth_ = {};
    triangle_ = false;
    sample_rate_ = sample_rate;
    initialised_ = false;
}

void Tremolo::control(std::span<const float> values) noexcept {
    increment_ = static_cast<double>(arg(values, RateHz)) / static_cast<double>(sample_rate_);
    depth_.set(arg(values, Depth), !initialised_);
    initialised_ = true;
    triangle_ = arg(values, Shape) >= 0.5f;
    channel_offset_ = static_cast<double>(arg(values, StereoPhase)) / 360.0;
}

void Tremolo::process(Frame& frame, std::size_t phase) noexcept {
    for (std::size_t c = 0; c < frame.channels(); ++c) {
        const auto row = frame.row(c);
        const double start = static_cast<double>(c) * channel_offset_;
        for (std::size_t i = 0; i < frame.len; ++i) {
            const double p =
                fractional(start + (cycle_phase_ + increment_ * static_cast<double>(i)));
            // Sine tops at p = 0.25, triangle at p = 0.5; both bottom half a cycle away.
            const auto u = triangle_ ? static_cast<float>(1.0 - 4.0 * std::fabs(p - 0.5))
                                     : static_cast<float>(-std::sin(-TWO_PI_D * p));
            const float depth = depth_.at(phase + i + 1);
            row[i] *= 1.0f - depth * (1.0f - u) * 0.5f;
        }
    }
    cycle_phase_ = fractional(cycle_phase_ + increment_ * static_cast<double>(frame.len));
}

} // namespace velk::blocks
