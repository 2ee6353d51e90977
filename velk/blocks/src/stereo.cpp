#include "velk/blocks/stereo.hpp"

#include <algorithm>
#include <array>
#include <memory>
#include <string_view>

#include "velk/blocks/dsp.hpp"

namespace velk::blocks {
namespace {

constexpr std::array<std::string_view, 5> MODES = {"width", "encode", "decode", "mono", "swap"};

constexpr std::array<ArgInfo, 4> ARGS = {{
    {.name = "mode",
     .unit = "",
     .choices = MODES,
     .doc = "width scales mid and side. encode puts mid in channel 0 and side in channel 1. "
            "decode reverses it. mono sums to the middle. swap exchanges left and right.",
     .min = 0.0f,
     .max = 4.0f,
     .default_value = 0.0f},
    {.name = "width",
     .unit = "",
     .doc = "Side level multiplier for width mode. 0 is mono, 1 is unchanged, 2 is twice as wide.",
     .min = 0.0f,
     .max = 2.0f,
     .default_value = 1.0f},
    {.name = "mid_db",
     .unit = "dB",
     .doc = "Mid level for width mode.",
     .min = -24.0f,
     .max = 24.0f,
     .default_value = 0.0f},
    {.name = "side_db",
     .unit = "dB",
     .doc = "Side level for width mode.",
     .min = -24.0f,
     .max = 24.0f,
     .default_value = 0.0f},
}};

std::unique_ptr<Block> make() {
    return std::make_unique<Stereo>();
}

} // namespace

namespace stereo {
constinit const BlockInfo INFO = {
    .name = "stereo",
    .doc = "Mid/side work on a two-channel signal. width changes the level of the side signal "
           "and mid_db and side_db change each one's level. encode turns left and right into "
           "mid and side, so a filter or compressor on one channel, with the node's `only` "
           "option, works on the mid or the side alone. decode turns them back. With any other "
           "channel count the block does nothing.",
    .args = ARGS,
    .make = make,
};
} // namespace stereo

void Stereo::prepare(float, std::size_t channels) {
    mode_ = Mode::Width;
    mid_ = {};
    side_ = {};
    active_ = channels == 2;
    started_ = false;
}

void Stereo::control(std::span<const float> values) noexcept {
    const auto value = [&](std::size_t i) {
        return i < values.size() ? values[i] : ARGS[i].default_value;
    };
    // The runtime hands over a whole number in [0, 4]; the comparison also keeps a
    // stray NaN away from the integer conversion.
    const float mode = value(0);
    mode_ = mode >= 0.0f ? static_cast<Mode>(static_cast<int>(std::min(mode, 4.0f))) : Mode::Width;
    const bool jump = !started_;
    mid_.set(db_to_gain(value(2)), jump);
    side_.set(value(1) * db_to_gain(value(3)), jump);
    started_ = true;
}

void Stereo::process(Frame& frame, std::size_t phase) noexcept {
    if (!active_ || frame.channels() < 2)
        return;
    const std::size_t len = std::min(frame.len, CONTROL_PERIOD);
    const auto left = frame.row(0);
    const auto right = frame.row(1);
    for (std::size_t i = 0; i < len; ++i) {
        const float l = left[i];
        const float r = right[i];
        switch (mode_) {
        case Mode::Width: {
            const std::size_t step = phase + i + 1;
            const float mid = (l + r) * 0.5f * mid_.at(step);
            const float side = (l - r) * 0.5f * side_.at(step);
            left[i] = mid + side;
            right[i] = mid - side;
            break;
        }
        case Mode::Encode:
            left[i] = (l + r) * 0.5f;
            right[i] = (l - r) * 0.5f;
            break;
        case Mode::Decode:
            left[i] = l + r;
            right[i] = l - r;
            break;
        case Mode::Mono:
            left[i] = (l + r) * 0.5f;
            right[i] = left[i];
            break;
        case Mode::Swap:
            left[i] = r;
            right[i] = l;
            break;
        }
    }
}

} // namespace velk::blocks
