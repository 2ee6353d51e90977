#include "velk/blocks/onepole.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <string_view>

#include "velk/blocks/dsp.hpp"

namespace velk::blocks {
namespace {

constexpr std::array<std::string_view, 2> TYPE_CHOICES = {"lowpass", "highpass"};

constexpr std::array<ArgInfo, 2> ARGS = {{
    {.name = "type",
     .unit = "",
     .choices = TYPE_CHOICES,
     .doc = "Low-pass or high-pass.",
     .min = 0.0f,
     .max = 1.0f,
     .default_value = 0.0f},
    {.name = "freq",
     .unit = "Hz",
     .doc = "The corner frequency, where the response is 3 dB down.",
     .min = 1.0f,
     .max = 24000.0f,
     .default_value = 1000.0f},
}};

std::unique_ptr<Block> make_onepole() {
    return std::make_unique<OnePole>();
}

// 5 × 0.001 in 32-bit arithmetic, as for the filter block.
constexpr float GLIDE_TIME_S = 0.0050000004f;

} // namespace

namespace onepole {
const BlockInfo INFO = {
    .name = "onepole",
    .doc = "A first-order filter with a gentle 6 dB per octave slope. Use it for tone controls, "
           "for DC removal with a high-pass near 5 Hz, and wherever a sharper filter would "
           "sound harsh.",
    .args = ARGS,
    .meters = {},
    .make = make_onepole,
};
} // namespace onepole

void OnePole::prepare(float sample_rate, std::size_t channels) {
    state_.assign(channels, 0.0f);
    sample_rate_ = sample_rate;
    glide_coeff_ = step_glide_coeff(sample_rate, GLIDE_TIME_S);
    log_freq_ = {};
    coeff_ = 0.0f;
    highpass_ = false;
}

void OnePole::control(std::span<const float> values) noexcept {
    const float log_freq = log_freq_.step(std::log2(values[1]), glide_coeff_);
    const float fc = std::clamp(std::exp2(log_freq), 1.0f, 0.49f * sample_rate_);
    coeff_ = 1.0f - std::exp(fc * -TWO_PI / sample_rate_);
    highpass_ = values[0] >= 0.5f;
}

void OnePole::process(Frame& frame, std::size_t) noexcept {
    const std::size_t channels = std::min(frame.channels(), state_.size());
    const float k = coeff_;
    for (std::size_t ch = 0; ch < channels; ++ch) {
        float s = state_[ch];
        for (float& x : frame.row(ch).first(frame.len)) {
            s = s + k * (x - s);
            x = highpass_ ? x - s : s;
        }
        flush_state(s);
        state_[ch] = s;
    }
}

} // namespace velk::blocks
