#include "velk/blocks/delay.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <memory>
#include <numbers>
#include <string_view>

#include "velk/blocks/dsp.hpp"

namespace velk::blocks {
namespace {

enum Arg : std::size_t { TimeMs, Feedback, DampHz, Mode, ModDepthMs, ModRateHz, MaxMs };

constexpr std::array<std::string_view, 2> MODES = {"normal", "pingpong"};

constexpr std::array<ArgInfo, 7> ARGS = {{
    {.name = "time_ms",
     .unit = "ms",
     .doc = "The delay. Bind it to sync(beats) to lock it to the tempo.",
     .min = 0.1f,
     .max = 4000.0f,
     .default_value = 250.0f},
    {.name = "feedback",
     .unit = "",
     .doc = "How much of the output returns to the input. It stays below 1 so the echoes die "
            "away.",
     .min = 0.0f,
     .max = 0.97f,
     .default_value = 0.35f},
    {.name = "damp_hz",
     .unit = "Hz",
     .doc = "A low-pass in the feedback path, so each repeat is darker.",
     .min = 200.0f,
     .max = 20000.0f,
     .default_value = 8000.0f},
    {.name = "mode",
     .unit = "",
     .choices = MODES,
     .doc = "pingpong bounces the echoes between left and right when there are two channels.",
     .min = 0.0f,
     .max = 1.0f,
     .default_value = 0.0f},
    {.name = "mod_depth_ms",
     .unit = "ms",
     .doc = "How far the delay time swings from an LFO.",
     .min = 0.0f,
     .max = 20.0f,
     .default_value = 0.0f},
    {.name = "mod_rate_hz",
     .unit = "Hz",
     .doc = "The speed of that swing.",
     .min = 0.02f,
     .max = 20.0f,
     .default_value = 0.5f},
    {.name = "max_ms",
     .unit = "ms",
     .doc = "The longest delay the line can hold. Sets the memory used.",
     .min = 10.0f,
     .max = 4000.0f,
     .default_value = 2000.0f,
     .fixed = true},
}};

// The value of argument `i`, or its default when the list is shorter.
float arg(std::span<const float> values, Arg i) noexcept {
    return i < values.size() ? values[i] : ARGS[i].default_value;
}

double fractional(double x) noexcept {
    return x - std::trunc(x);
}

constexpr double TWO_PI_D = 2.0 * std::numbers::pi;

// Line memory beyond the maximum time: room for the interpolation and modulation.
constexpr std::size_t LINE_SPARE = 24;

std::unique_ptr<Block> make() {
    return std::make_unique<Delay>();
}

} // namespace

namespace delay {
constinit const BlockInfo INFO = {
    .name = "delay",
    .doc = "A delay line. The block outputs only the delayed signal, so set the node's `mix` to "
           "blend it with the dry sound. For an echo use 100 ms or more with feedback. For a "
           "chorus use 10 to 30 ms with depth and no feedback and a mix of 0.5. For a flanger "
           "use 1 to 5 ms with depth and feedback. For a vibrato use mix 1.",
    .args = ARGS,
    .make = make,
};
} // namespace delay

float Delay::Line::read(float delay_samples) const noexcept {
    const std::size_t length = buffer.size();
    float d = delay_samples;
    if (!(d >= 2.0f)) // also catches NaN
        d = 2.0f;
    d = std::min(d, static_cast<float>(length - 4));
    const float whole = std::floor(d);
    const float t = d - whole;
    // Integer bound as well, in case length - 4 rounded up as a float.
    const std::size_t e = std::min(static_cast<std::size_t>(whole), length - 4);

    // base - 2 >= write + 2 and base + 1 < 2 × length, so one wrap suffices.
    const std::size_t base = write + length - e;
    auto at = [&](std::size_t i) {
        return buffer[i >= length ? i - length : i];
    };
    const float y0 = at(base + 1);
    const float y1 = at(base);
    const float y2 = at(base - 1);
    const float y3 = at(base - 2);

    const float c3 = (y1 - y2) * 1.5f + (y3 - y0) * 0.5f;
    const float c2 = y0 - 2.5f * y1 + 2.0f * y2 - 0.5f * y3;
    const float u = t * (c2 + t * c3);
    const float v = (y2 - y0) * 0.5f + u;
    return y1 + t * v;
}

void Delay::Line::push(float sample) noexcept {
    buffer[write] = sample;
    if (++write == buffer.size())
        write = 0;
}

void Delay::configure(std::span<const float> values) {
    const float max_ms = arg(values, MaxMs);
    max_ms_ = std::isnan(max_ms) ? ARGS[MaxMs].default_value
                                 : std::clamp(max_ms, ARGS[MaxMs].min, ARGS[MaxMs].max);
}

void Delay::prepare(float sample_rate, std::size_t channels) {
    const auto length = static_cast<std::size_t>(sample_rate * (max_ms_ * 0.001f)) + LINE_SPARE;
    // Cleared in place: a prepare with an unchanged setup (a host's reset on the audio
    // thread) reuses every line's memory.
    lines_.resize(channels);
    for (Line& line : lines_) {
        line.buffer.assign(length, 0.0f);
        line.write = 0;
        line.damping = 0.0f;
    }
    sample_rate_ = sample_rate;
    delay_samples_ = {};
    feedback_ = 0.0f;
    damping_coeff_ = 0.0f;
    mod_depth_samples_ = 0.0f;
    mod_increment_ = 0.0;
    mod_phase_ = 0.0;
    ping_pong_ = false;
    initialised_ = false;
}

void Delay::control(std::span<const float> values) noexcept {
    const float time_ms = std::min(arg(values, TimeMs), max_ms_);
    delay_samples_.set(sample_rate_ * (time_ms * 0.001f), !initialised_);
    initialised_ = true;

    feedback_ = arg(values, Feedback);
    const float damp_hz = std::min(std::max(arg(values, DampHz), 1.0f), sample_rate_ * 0.49f);
    damping_coeff_ = 1.0f - std::exp(damp_hz * -TWO_PI / sample_rate_);
    mod_depth_samples_ = sample_rate_ * (arg(values, ModDepthMs) * 0.001f);
    mod_increment_ =
        static_cast<double>(arg(values, ModRateHz)) / static_cast<double>(sample_rate_);
    ping_pong_ = arg(values, Mode) >= 0.5f && lines_.size() == 2;
}

void Delay::process(Frame& frame, std::size_t phase) noexcept {
    // Ping-pong needs both rows; a narrower frame falls back to the normal mode.
    if (ping_pong_ && frame.channels() >= 2)
        process_ping_pong(frame, phase);
    else
        process_normal(frame, phase);
    mod_phase_ = fractional(mod_phase_ + mod_increment_ * static_cast<double>(frame.len));
    for (Line& line : lines_)
        flush_state(line.damping);
}

// The delay in samples at position `pos` of the control period, for an LFO at
// `lfo_cycles`; the sine is taken in double and narrowed before scaling.
float Delay::delay_at(std::size_t pos, double lfo_cycles) const noexcept {
    const float glided = delay_samples_.at(pos + 1);
    if (mod_depth_samples_ == 0.0f)
        return glided;
    const auto lfo = static_cast<float>(std::sin(TWO_PI_D * fractional(lfo_cycles)));
    return glided + mod_depth_samples_ * lfo;
}

void Delay::process_normal(Frame& frame, std::size_t phase) noexcept {
    const std::size_t channels = std::min(frame.channels(), lines_.size());
    for (std::size_t c = 0; c < channels; ++c) {
        Line& line = lines_[c];
        const auto row = frame.row(c);
        // Each channel's LFO runs a quarter cycle after the previous one's.
        const double lfo_start = mod_phase_ + static_cast<double>(c) * 0.25;
        for (std::size_t j = 0; j < frame.len; ++j) {
            const double lfo = lfo_start + mod_increment_ * static_cast<double>(j);
            const float y = line.read(delay_at(phase + j, lfo));
            line.damping += damping_coeff_ * (y - line.damping);
            line.push(feedback_ * line.damping + row[j]);
            row[j] = y;
        }
    }
}

void Delay::process_ping_pong(Frame& frame, std::size_t phase) noexcept {
    Line& left = lines_[0];
    Line& right = lines_[1];
    const auto row_l = frame.row(0);
    const auto row_r = frame.row(1);
    for (std::size_t j = 0; j < frame.len; ++j) {
        const double lfo = mod_phase_ + mod_increment_ * static_cast<double>(j);
        const float d = delay_at(phase + j, lfo);
        const float y_l = left.read(d);
        const float y_r = right.read(d);
        left.damping += damping_coeff_ * (y_l - left.damping);
        right.damping += damping_coeff_ * (y_r - right.damping);
        // The mono input enters the left line only; each line feeds the other.
        left.push(feedback_ * right.damping + (row_l[j] + row_r[j]) * 0.5f);
        right.push(feedback_ * left.damping);
        row_l[j] = y_l;
        row_r[j] = y_r;
    }
}

std::uint32_t Delay::tail(std::span<const float> values, float sample_rate) const noexcept {
    const float feedback = arg(values, Feedback);
    float repeats = 1.0f;
    if (feedback > 0.01f) // repeats until the echo is down 60 dB: ln 0.001 / ln feedback
        repeats = std::clamp(std::ceil(-6.9077554f / std::log(feedback)), 1.0f, 60.0f);
    const float time_ms = std::min(arg(values, TimeMs), arg(values, MaxMs));
    const float samples = repeats * (sample_rate * (time_ms * 0.001f) +
                                     sample_rate * (arg(values, ModDepthMs) * 0.001f));
    if (!(samples > 0.0f))
        return 0;
    // 2^32 as a float; any product at or above it does not fit the answer.
    if (samples >= 4294967296.0f)
        return std::numeric_limits<std::uint32_t>::max();
    return static_cast<std::uint32_t>(samples);
}

} // namespace velk::blocks
