#include "velk/blocks/dynamics.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <limits>
#include <memory>
#include <string_view>

#include "velk/blocks/dsp.hpp"
#include "velk/blocks/fast_math.hpp"

namespace velk::blocks {
namespace {

constexpr std::array<std::string_view, 4> MODES = {"compressor", "limiter", "gate", "expander"};
constexpr std::array<std::string_view, 2> OFF_ON = {"off", "on"};
constexpr std::array<std::string_view, 2> DETECTORS = {"peak", "rms"};
constexpr std::array<std::string_view, 1> METERS = {"gain_reduction_db"};

constexpr std::array<ArgInfo, 13> ARGS = {{
    {.name = "mode",
     .unit = "",
     .choices = MODES,
     .doc = "compressor reduces by ratio above the threshold. limiter is a compressor with an "
            "infinite ratio. expander reduces by ratio below the threshold, and gate is the same "
            "with a steep ratio set by range.",
     .min = 0.0f,
     .max = 3.0f,
     .default_value = 0.0f},
    {.name = "threshold_db",
     .unit = "dB",
     .doc = "The level where the effect starts.",
     .min = -80.0f,
     .max = 0.0f,
     .default_value = -18.0f},
    {.name = "ratio",
     .unit = "",
     .doc = "For a compressor, the input change for 1 dB of output change above the threshold. "
            "For an expander, the extra reduction below it.",
     .min = 1.0f,
     .max = 100.0f,
     .default_value = 4.0f},
    {.name = "knee_db",
     .unit = "dB",
     .doc = "The width of the soft transition around the threshold.",
     .min = 0.0f,
     .max = 24.0f,
     .default_value = 6.0f},
    {.name = "attack_ms",
     .unit = "ms",
     .doc = "How fast the gain reduction builds.",
     .min = 0.01f,
     .max = 200.0f,
     .default_value = 10.0f},
    {.name = "release_ms",
     .unit = "ms",
     .doc = "How fast the gain comes back.",
     .min = 1.0f,
     .max = 2000.0f,
     .default_value = 120.0f},
    {.name = "makeup_db",
     .unit = "dB",
     .doc = "Gain after the processing.",
     .min = -24.0f,
     .max = 36.0f,
     .default_value = 0.0f},
    {.name = "auto_makeup",
     .unit = "",
     .choices = OFF_ON,
     .doc = "Adds the gain a typical signal loses, estimated from the threshold and ratio.",
     .min = 0.0f,
     .max = 1.0f,
     .default_value = 0.0f},
    {.name = "detector",
     .unit = "",
     .choices = DETECTORS,
     .doc = "How the level is measured. rms follows loudness and is gentler.",
     .min = 0.0f,
     .max = 1.0f,
     .default_value = 0.0f},
    {.name = "sidechain_hpf_hz",
     .unit = "Hz",
     .doc = "A high-pass on the detector alone. Near 10 Hz it does nothing.",
     .min = 10.0f,
     .max = 1000.0f,
     .default_value = 10.0f},
    {.name = "link",
     .unit = "",
     .doc = "0 measures each channel on its own and 1 uses the loudest channel for all of them.",
     .min = 0.0f,
     .max = 1.0f,
     .default_value = 1.0f},
    {.name = "lookahead_ms",
     .unit = "ms",
     .doc = "Delays the audio so the detector sees peaks early. Adds this much latency.",
     .min = 0.0f,
     .max = 10.0f,
     .default_value = 0.0f,
     .fixed = true},
    {.name = "range_db",
     .unit = "dB",
     .doc = "The most the gain can be turned down.",
     .min = 0.0f,
     .max = 80.0f,
     .default_value = 80.0f},
}};

enum : int { COMPRESSOR = 0, LIMITER = 1, GATE = 2, EXPANDER = 3 };

constexpr std::size_t LOOKAHEAD_ARG = 11;
// Keeps the logarithm finite for silence: -180 dB.
constexpr float LEVEL_FLOOR = 1e-9f;

std::unique_ptr<Block> make() {
    return std::make_unique<Dynamics>();
}

} // namespace

namespace dynamics {
constinit const BlockInfo INFO = {
    .name = "dynamics",
    .doc = "A dynamics processor. As a compressor or limiter it turns down what rises above the "
           "threshold. As a gate or expander it turns down what falls below it. The detector can "
           "be filtered so bass does not pump the whole mix, and the channels can be linked so "
           "the stereo image holds still. A lookahead adds latency, which the plugin reports to "
           "the host.",
    .args = ARGS,
    .meters = METERS,
    .make = make,
    .pure_control = true,
    .no_tail = true,
};
} // namespace dynamics

void Dynamics::configure(std::span<const float> values) {
    lookahead_ms_ =
        LOOKAHEAD_ARG < values.size() ? values[LOOKAHEAD_ARG] : ARGS[LOOKAHEAD_ARG].default_value;
}

void Dynamics::prepare(float sample_rate, std::size_t channels) {
    sample_rate_ = sample_rate;
    rms_keep_ = std::exp(-1.0f / (sample_rate * 0.01f));
    lookahead_samples_ =
        static_cast<std::uint32_t>(round_half_away(sample_rate * (lookahead_ms_ * 0.001f)));
    line_length_ = std::max<std::size_t>(lookahead_samples_, 1);
    channels_.assign(channels, Channel{});
    lines_.assign(channels * line_length_, 0.0f);
    write_pos_ = 0;

    mode_ = 0;
    threshold_db_ = 0.0f;
    ratio_ = 0.0f;
    knee_db_ = 0.0f;
    attack_coef_ = 0.0f;
    release_coef_ = 0.0f;
    makeup_db_ = 0.0f;
    rms_ = false;
    hpf_coef_ = 0.0f;
    link_ = 0.0f;
    range_db_ = 0.0f;
    quiet_level_ = 0.0f;
    meter_ = 0.0f;
    // No time has a coefficient for this sample rate yet.
    attack_ms_ = std::numeric_limits<float>::quiet_NaN();
    release_ms_ = std::numeric_limits<float>::quiet_NaN();
}

void Dynamics::control(std::span<const float> values) noexcept {
    const auto value = [&](std::size_t i) {
        return i < values.size() ? values[i] : ARGS[i].default_value;
    };
    // The runtime hands over a whole number in [0, 3]; the comparison also keeps a
    // stray NaN away from the integer conversion.
    const float mode = value(0);
    mode_ = mode >= 0.0f ? static_cast<int>(std::min(mode, 3.0f)) : COMPRESSOR;
    threshold_db_ = value(1);
    const float ratio = value(2);
    ratio_ = mode_ == LIMITER ? 1000.0f : mode_ == GATE ? std::max(ratio, 20.0f) : ratio;
    knee_db_ = value(3);
    // The exponentials are computed again only when their time changes.
    const float attack_ms = value(4);
    if (std::bit_cast<std::uint32_t>(attack_ms) != std::bit_cast<std::uint32_t>(attack_ms_)) {
        attack_ms_ = attack_ms;
        attack_from_ = std::exp(-1.0f / ((attack_ms * 0.001f) * sample_rate_));
    }
    attack_coef_ = attack_from_;
    const float release_ms = value(5);
    if (std::bit_cast<std::uint32_t>(release_ms) != std::bit_cast<std::uint32_t>(release_ms_)) {
        release_ms_ = release_ms;
        release_from_ = std::exp(-1.0f / (sample_rate_ * (release_ms * 0.001f)));
    }
    release_coef_ = release_from_;
    float auto_makeup_db = 0.0f;
    if (mode_ == COMPRESSOR && value(7) >= 0.5f)
        auto_makeup_db = std::min((1.0f - 1.0f / ratio) * threshold_db_ * -0.5f, 24.0f);
    makeup_db_ = value(6) + auto_makeup_db;
    rms_ = value(8) >= 0.5f;
    hpf_coef_ = 0.0f;
    if (value(9) > 15.0f) {
        const float fc = std::clamp(value(9), 1.0f, sample_rate_ * 0.49f);
        hpf_coef_ = 1.0f - std::exp(fc * -TWO_PI / sample_rate_);
    }
    link_ = value(10);
    range_db_ = value(12);

    // Below the knee (or the threshold without one) a compressor's gain is 0. The
    // margin of 0.01 dB is far above the error of the logarithm, so a level below
    // this bound can only give an overshoot under the knee's lower edge.
    quiet_level_ = 0.0f;
    if (mode_ == COMPRESSOR || mode_ == LIMITER) {
        const double edge_db = static_cast<double>(threshold_db_) -
                               static_cast<double>(std::max(knee_db_, 0.0f)) * 0.5 - 0.01;
        quiet_level_ = static_cast<float>(std::exp(edge_db * (std::log(10.0) / 20.0)));
    }
}

namespace {

// 20 / ln(10): the natural logarithm to decibels.
constexpr float LN_TO_DB = 8.6858896f;

// The detector level in dB. The floor keeps silence finite; the ceiling keeps an
// infinite sample from reaching the curve as an infinite overshoot, which a ratio of
// 1 would turn into a gain of NaN that the smoothing never forgets. NaN stays NaN.
[[gnu::always_inline]] inline float detector_db(float linked) noexcept {
    float v = pick(linked < LEVEL_FLOOR, LEVEL_FLOOR, linked);
    v = pick(v > std::numeric_limits<float>::max(), std::numeric_limits<float>::max(), v);
    return fast_ln(v) * LN_TO_DB;
}

// The linear factor of a gain in dB: e^(dB x 0.11512925).
[[gnu::always_inline]] inline float gain_factor(float db) noexcept {
    return fast_exp(db * DB_TO_LN);
}

} // namespace

float Dynamics::static_gain_db(float o) const noexcept {
    const float r = ratio_;
    const float w = knee_db_;
    const bool in_knee = w > 0.0f && std::fabs(o) < w * 0.5f;
    if (mode_ == COMPRESSOR || mode_ == LIMITER) {
        if (in_knee) {
            const float t = o + w * 0.5f;
            return (1.0f / r - 1.0f) * (t * t) / (2.0f * w);
        }
        return o > 0.0f ? (1.0f / r - 1.0f) * o : 0.0f;
    }
    if (in_knee) {
        const float t = w * 0.5f - o;
        return -(r - 1.0f) * (t * t) / (2.0f * w);
    }
    return o < 0.0f ? (r - 1.0f) * o : 0.0f;
}

void Dynamics::process(Frame& frame, std::size_t) noexcept {
    // The runtime always passes the prepared channel count; anything else is not read
    // past what was allocated.
    const std::size_t count = std::min(frame.channels(), channels_.size());
    if (count > 0 && link_ == 1.0f && gains_agree(count))
        process_linked(frame, count);
    else
        process_per_channel(frame);
}

bool Dynamics::gains_agree(std::size_t count) const noexcept {
    const auto bits = [](float v) {
        return std::bit_cast<std::uint32_t>(v);
    };
    for (std::size_t c = 1; c < count; ++c)
        if (bits(channels_[c].gain_db) != bits(channels_[0].gain_db))
            return false;
    return true;
}

void Dynamics::detect(const Frame& frame, std::size_t count, std::size_t len,
                      float* peak) noexcept {
    const float h = hpf_coef_;
    if (!rms_ && !(h > 0.0f) && count > 0) {
        // Stateless: the whole rows, past `len` too, so the loops have a fixed count.
        // The first channel starts the peak from 0 as the loop below does.
        const float* x = frame.row(0).data();
        for (std::size_t i = 0; i < CONTROL_PERIOD; ++i)
            peak[i] = std::max(0.0f, std::fabs(x[i]));
        for (std::size_t c = 1; c < count; ++c) {
            x = frame.row(c).data();
            for (std::size_t i = 0; i < CONTROL_PERIOD; ++i)
                peak[i] = std::max(peak[i], std::fabs(x[i]));
        }
        return;
    }
    std::fill_n(peak, CONTROL_PERIOD, 0.0f);
    const float rms_step = 1.0f - rms_keep_;
    for (std::size_t c = 0; c < count; ++c) {
        Channel& ch = channels_[c];
        const float* x = frame.row(c).data();
        if (rms_) {
            float lp = ch.low_pass;
            float ms = ch.mean_square;
            for (std::size_t i = 0; i < len; ++i) {
                float v = x[i];
                if (h > 0.0f) {
                    lp += h * (v - lp);
                    v -= lp;
                }
                ms += rms_step * (v * v - ms);
                peak[i] = std::max(peak[i], std::sqrt(ms));
            }
            ch.low_pass = lp;
            ch.mean_square = ms;
        } else { // the high-pass is on
            float lp = ch.low_pass;
            for (std::size_t i = 0; i < len; ++i) {
                lp += h * (x[i] - lp);
                peak[i] = std::max(peak[i], std::fabs(x[i] - lp));
            }
            ch.low_pass = lp;
        }
    }
}

bool Dynamics::static_gains(const float* level, float* target) const noexcept {
    // Not below the bound, NaN included, needs the curve.
    std::uint32_t loud = 0;
    for (std::size_t i = 0; i < CONTROL_PERIOD; ++i)
        loud |= static_cast<std::uint32_t>(!(level[i] < quiet_level_));
    if (loud == 0) {
        std::fill_n(target, CONTROL_PERIOD, 0.0f);
        return true;
    }
    // The curve of static_gain_db and its range limit, written without branches so the
    // loop vectorises; every operation is the same, so the values are identical.
    const float w = knee_db_;
    const float half_w = w * 0.5f;
    const float two_w = 2.0f * w;
    const float low = -range_db_;
    const float threshold = threshold_db_;
    // No knee test: with a width of 0 or below, |o| < w / 2 never holds anyway.
    if (mode_ == COMPRESSOR || mode_ == LIMITER) {
        const float slope = 1.0f / ratio_ - 1.0f;
        for (std::size_t i = 0; i < CONTROL_PERIOD; ++i) {
            const float o = detector_db(level[i]) - threshold;
            const float t = o + half_w;
            const float bent = slope * (t * t) / two_w;
            const float over = slope * o;
            const float straight = pick(o > 0.0f, over, 0.0f);
            const float g = pick(std::fabs(o) < half_w, bent, straight);
            // g is never NaN, and low is 0 or below: the same as the limits below,
            // signed zeros included, as a minimum and a maximum.
            target[i] = std::max(std::min(g, 0.0f), low);
        }
        return false;
    }
    const float slope = ratio_ - 1.0f;
    for (std::size_t i = 0; i < CONTROL_PERIOD; ++i) {
        const float o = detector_db(level[i]) - threshold;
        const float t = half_w - o;
        const float bent = -slope * (t * t) / two_w;
        const float under = slope * o;
        const float straight = pick(o < 0.0f, under, 0.0f);
        const float g = pick(std::fabs(o) < half_w, bent, straight);
        target[i] = pick(g < low, low, pick(0.0f < g, 0.0f, g));
    }
    return false;
}

void Dynamics::apply(Frame& frame, std::size_t c, std::size_t len, std::size_t pos,
                     const float* gain) noexcept {
    float* x = frame.row(c).data();
    const std::size_t n = lookahead_samples_;
    if (n == 0) {
        // The whole row, past `len` too, for a loop of a fixed count; nothing reads
        // the samples there.
        for (std::size_t i = 0; i < CONTROL_PERIOD; ++i)
            x[i] *= gain[i];
        return;
    }
    // The audio is delayed by n samples; the gain is not.
    float* line = lines_.data() + c * line_length_;
    for (std::size_t i = 0; i < len; ++i) {
        const float delayed = line[pos];
        line[pos] = x[i];
        x[i] = delayed * gain[i];
        pos = pos + 1 == n ? 0 : pos + 1;
    }
}

void Dynamics::process_linked(Frame& frame, std::size_t count) noexcept {
    // Every channel sees the loudest channel's level and, starting from the same
    // smoothed gain, reaches the same gain: the curve, the smoothing and the
    // exponential run once per sample for all of them. Only the smoothing is
    // sequential; the stages around it run over all 32 samples of the rows, past
    // `len` too, so that their loops have a fixed count and vectorise. What they
    // compute past `len` is not used.
    const std::size_t len = std::min(frame.len, CONTROL_PERIOD);
    std::array<float, CONTROL_PERIOD> level;
    std::array<float, CONTROL_PERIOD> target;
    std::array<float, CONTROL_PERIOD> gain;
    detect(frame, count, len, level.data());
    const bool quiet = static_gains(level.data(), target.data());

    const float attack = attack_coef_;
    const float release = release_coef_;
    float g = channels_[0].gain_db;
    const auto step = [&](std::size_t i) {
        const float coef = target[i] < g ? attack : release;
        g = target[i] + coef * (g - target[i]);
        level[i] = g;
    };
    // Every target 0 and g 0 or below (or NaN), which it stays: the release throughout.
    // `step` gives the same values.
    const auto decay = [&](std::size_t n) {
#pragma GCC unroll 8
        for (std::size_t i = 0; i < n; ++i) {
            g = 0.0f + release * (g - 0.0f);
            level[i] = g;
        }
    };
    if (quiet && !(0.0f < g)) {
        // Whole periods, the usual case, get a loop of a fixed count.
        if (len == CONTROL_PERIOD)
            decay(CONTROL_PERIOD);
        else
            decay(len);
    } else {
        for (std::size_t i = 0; i < len; ++i)
            step(i);
    }
    if (len < CONTROL_PERIOD) {
        // Past `len` the detector levels, unbounded, would be turned into gains.
        std::fill(level.begin() + static_cast<std::ptrdiff_t>(len), level.end(), g);
    }
    // The smoothed gain lies in [-range, 0] and the make-up in [-24, 36] dB, so the
    // exponent stays far inside fast_exp's limits, which can be left out.
    const float makeup = makeup_db_;
    for (std::size_t i = 0; i < CONTROL_PERIOD; ++i)
        gain[i] = fast_exp_in_range((makeup + level[i]) * DB_TO_LN);

    for (std::size_t c = 0; c < count; ++c)
        apply(frame, c, len, write_pos_, gain.data());
    if (lookahead_samples_ > 0)
        write_pos_ = (write_pos_ + len) % lookahead_samples_;
    if (len > 0)
        meter_ = -std::min(0.0f, g);

    flush_state(g);
    for (Channel& ch : channels_) {
        ch.gain_db = g;
        flush_state(ch.mean_square);
    }
}

void Dynamics::process_per_channel(Frame& frame) noexcept {
    const std::size_t count = std::min(frame.channels(), channels_.size());
    const std::size_t len = std::min(frame.len, CONTROL_PERIOD);
    const std::size_t n = lookahead_samples_;
    const float rms_step = 1.0f - rms_keep_;

    for (std::size_t i = 0; i < len; ++i) {
        float peak = 0.0f;
        for (std::size_t c = 0; c < count; ++c) {
            Channel& ch = channels_[c];
            float x = frame.row(c)[i];
            if (rms_) {
                if (hpf_coef_ > 0.0f) {
                    ch.low_pass += hpf_coef_ * (x - ch.low_pass);
                    x -= ch.low_pass;
                }
                ch.mean_square += rms_step * (x * x - ch.mean_square);
                ch.level = std::sqrt(ch.mean_square);
            } else if (hpf_coef_ > 0.0f) {
                ch.low_pass += hpf_coef_ * (x - ch.low_pass);
                ch.level = std::fabs(x - ch.low_pass);
            } else {
                ch.level = std::fabs(x);
            }
            peak = std::max(peak, ch.level);
        }

        float lowest_db = 0.0f;
        for (std::size_t c = 0; c < count; ++c) {
            Channel& ch = channels_[c];
            // At link 1 the loudest level itself: the blend can miss it by a rounding
            // step, which would give the channels slightly different gains.
            const float linked = link_ == 1.0f ? peak : ch.level + link_ * (peak - ch.level);
            const float target =
                std::clamp(static_gain_db(detector_db(linked) - threshold_db_), -range_db_, 0.0f);
            const float coef = target < ch.gain_db ? attack_coef_ : release_coef_;
            ch.gain_db = target + coef * (ch.gain_db - target);

            float& sample = frame.row(c)[i];
            float signal = sample;
            if (n > 0) {
                // The audio is delayed by n samples; the gain is not.
                float& slot = lines_[c * line_length_ + write_pos_];
                signal = slot;
                slot = sample;
            }
            sample = signal * gain_factor(makeup_db_ + ch.gain_db);
            lowest_db = std::min(lowest_db, ch.gain_db);
        }
        if (n > 0)
            write_pos_ = (write_pos_ + 1) % n;
        meter_ = -lowest_db;
    }

    for (Channel& ch : channels_) {
        flush_state(ch.gain_db);
        flush_state(ch.mean_square);
    }
}

std::uint32_t Dynamics::latency() const noexcept {
    return lookahead_samples_;
}

float Dynamics::meter(std::size_t index) const noexcept {
    return index == 0 ? meter_ : 0.0f;
}

} // namespace velk::blocks
