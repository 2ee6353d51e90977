#include "velk/blocks/shaper.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <string_view>

#include "velk/blocks/dsp.hpp"

namespace velk::blocks {
namespace {

enum Arg : std::size_t { CurveArg, DriveDb, Bias, OutputDb };
enum Curve : int { Tanh, Hard, Softclip, Fold, Tube };

constexpr std::array<std::string_view, 5> CURVES = {"tanh", "hard", "softclip", "fold", "tube"};

constexpr std::array<ArgInfo, 4> ARGS = {{
    {.name = "curve",
     .unit = "",
     .choices = CURVES,
     .doc = "tanh rounds the peaks smoothly. hard cuts them flat. softclip is a gentle cubic "
            "knee. fold wraps the peaks back on themselves. tube is asymmetric, saturating one "
            "half harder than the other.",
     .min = 0.0f,
     .max = 4.0f,
     .default_value = 0.0f},
    {.name = "drive_db",
     .unit = "dB",
     .doc = "Gain before the curve.",
     .min = -24.0f,
     .max = 48.0f,
     .default_value = 0.0f},
    {.name = "bias",
     .unit = "",
     .doc = "Moves the signal off centre before the curve. The constant this adds is removed "
            "after.",
     .min = -1.0f,
     .max = 1.0f,
     .default_value = 0.0f},
    {.name = "output_db",
     .unit = "dB",
     .doc = "Gain after the curve.",
     .min = -48.0f,
     .max = 24.0f,
     .default_value = 0.0f},
}};

float arg(std::span<const float> values, Arg i) noexcept {
    return i < values.size() ? values[i] : ARGS[i].default_value;
}

float curve_value(int curve, float w) noexcept {
    switch (curve) {
    case Hard:
        return std::clamp(w, -1.0f, 1.0f);
    case Softclip:
        if (w >= 1.0f)
            return 1.0f;
        if (w <= -1.0f)
            return -1.0f;
        return (w - w * w * w / 3.0f) * 1.5f;
    case Fold:
        return std::sin(w * 1.5707964f); // π/2
    case Tube:
        if (w >= 0.0f)
            return 1.0f - std::exp(-w);
        return -0.8f * (1.0f - std::exp(1.25f * w));
    default:
        return std::tanh(w);
    }
}

std::unique_ptr<Block> make() {
    return std::make_unique<Shaper>();
}

} // namespace

namespace shaper {
constinit const BlockInfo INFO = {
    .name = "shaper",
    .doc = "Pushes the signal through a curve. Drive sets how hard, and every curve adds "
           "harmonics. Bias moves the signal off centre before the curve, which adds even "
           "harmonics. It does not oversample yet, so very high drive can alias. Follow it with "
           "a low-pass to tame the top.",
    .args = ARGS,
    .make = make,
};
} // namespace shaper

void Shaper::prepare(float, std::size_t) {
    curve_ = Tanh;
    bias_ = 0.0f;
    offset_ = 0.0f;
    drive_gain_ = {};
    output_gain_ = {};
    initialised_ = false;
}

void Shaper::control(std::span<const float> values) noexcept {
    // Whole already; rounded and bounded so no value can select a missing curve.
    const float curve = std::clamp(round_half_away(arg(values, CurveArg)), 0.0f, 4.0f);
    curve_ = std::isnan(curve) ? Tanh : static_cast<int>(curve);
    bias_ = arg(values, Bias);
    offset_ = curve_value(curve_, bias_);
    drive_gain_.set(db_to_gain(arg(values, DriveDb)), !initialised_);
    output_gain_.set(db_to_gain(arg(values, OutputDb)), !initialised_);
    initialised_ = true;
}

void Shaper::process(Frame& frame, std::size_t phase) noexcept {
    for (std::size_t c = 0; c < frame.channels(); ++c) {
        const auto row = frame.row(c);
        for (std::size_t i = 0; i < frame.len; ++i) {
            const float w = bias_ + row[i] * drive_gain_.at(phase + i + 1);
            row[i] = output_gain_.at(phase + i + 1) * (curve_value(curve_, w) - offset_);
        }
    }
}

} // namespace velk::blocks
