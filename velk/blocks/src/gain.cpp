#include "velk/blocks/gain.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <string_view>

#include "velk/blocks/dsp.hpp"

namespace velk::blocks {
namespace {

constexpr std::array<std::string_view, 2> OFF_ON = {"off", "on"};

constexpr std::array<ArgInfo, 3> ARGS = {{
    {.name = "gain_db",
     .unit = "dB",
     .doc = "Level change.",
     .min = -96.0f,
     .max = 48.0f,
     .default_value = 0.0f},
    {.name = "pan",
     .unit = "",
     .doc = "Balance from -1 (left) to 1 (right), constant power. Only used with exactly two "
            "channels.",
     .min = -1.0f,
     .max = 1.0f,
     .default_value = 0.0f},
    {.name = "invert",
     .unit = "",
     .choices = OFF_ON,
     .doc = "Flips the polarity.",
     .min = 0.0f,
     .max = 1.0f,
     .default_value = 0.0f},
}};

constexpr float QUARTER_PI = 0.7853982f;
constexpr float SQRT_2 = 1.4142135f;

std::unique_ptr<Block> make() {
    return std::make_unique<Gain>();
}

} // namespace

namespace gain {
constinit const BlockInfo INFO = {
    .name = "gain",
    .doc = "Changes the level, flips the polarity and pans a stereo signal. A change glides "
           "across 32 samples, so automating it does not click.",
    .args = ARGS,
    .make = make,
};
} // namespace gain

void Gain::prepare(float, std::size_t channels) {
    channels_ = channels;
    left_ = {};
    right_ = {};
    plain_ = {};
    started_ = false;
}

void Gain::control(std::span<const float> values) noexcept {
    const auto value = [&](std::size_t i) {
        return i < values.size() ? values[i] : ARGS[i].default_value;
    };
    float g = db_to_gain(value(0));
    if (value(2) >= 0.5f)
        g = -g;
    float left = g;
    float right = g;
    if (channels_ == 2) {
        const float a = (value(1) + 1.0f) * QUARTER_PI;
        left = g * SQRT_2 * std::cos(a);
        right = g * SQRT_2 * std::sin(a);
    }
    const bool jump = !started_;
    left_.set(left, jump);
    right_.set(right, jump);
    plain_.set(g, jump);
    started_ = true;
}

void Gain::process(Frame& frame, std::size_t phase) noexcept {
    const std::size_t len = std::min(frame.len, CONTROL_PERIOD);
    const auto scale = [&](std::size_t ch, const Glide& glide) {
        const auto row = frame.row(ch);
        for (std::size_t i = 0; i < len; ++i)
            row[i] *= glide.at(phase + i + 1);
    };
    for (std::size_t ch = 0; ch < frame.channels(); ++ch) {
        if (channels_ != 2)
            scale(ch, plain_);
        else
            scale(ch, ch == 0 ? left_ : right_);
    }
}

} // namespace velk::blocks
