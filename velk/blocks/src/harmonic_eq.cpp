#include "velk/blocks/harmonic_eq.hpp"

#include <algorithm>
#include <cmath>
#include <memory>
#include <string_view>

#include "velk/blocks/dsp.hpp"

namespace velk::blocks {
namespace {

constexpr ArgInfo db_arg(std::string_view name, std::string_view doc) {
    return {
        .name = name, .unit = "dB", .doc = doc, .min = -24.0f, .max = 24.0f, .default_value = 0.0f};
}

constexpr std::array<ArgInfo, 17> ARGS = {{
    {.name = "fundamental_hz",
     .unit = "Hz",
     .doc = "The pitch. Use note(n) for a MIDI note, or 50 or 60 to treat mains hum.",
     .min = 20.0f,
     .max = 2000.0f,
     .default_value = 110.0f},
    {.name = "harmonics",
     .unit = "",
     .doc = "How many harmonics, counted from the first one affected.",
     .min = 1.0f,
     .max = 32.0f,
     .default_value = 8.0f},
    {.name = "first",
     .unit = "",
     .doc = "The lowest harmonic number affected. 2 leaves the fundamental alone.",
     .min = 1.0f,
     .max = 32.0f,
     .default_value = 1.0f},
    db_arg("gain_db", "Boost or cut for every band."),
    {.name = "tilt_db_oct",
     .unit = "dB",
     .doc = "Extra gain per doubling of the harmonic number. Positive brightens the overtones.",
     .min = -12.0f,
     .max = 12.0f,
     .default_value = 0.0f},
    db_arg("odd_db", "Extra gain on the odd harmonics: 1, 3, 5 and so on."),
    db_arg("even_db", "Extra gain on the even harmonics: 2, 4, 6 and so on."),
    {.name = "bandwidth",
     .unit = "",
     .doc = "Each band's width as a fraction of the fundamental. Small is narrow and surgical.",
     .min = 0.02f,
     .max = 1.0f,
     .default_value = 0.25f},
    {.name = "stretch",
     .unit = "",
     .doc = "Inharmonicity. Band k sits at k times the fundamental times sqrt(1 + stretch * k "
            "* k).",
     .min = 0.0f,
     .max = 0.02f,
     .default_value = 0.0f},
    db_arg("trim_1_db", "Extra gain on harmonic 1."),
    db_arg("trim_2_db", "Extra gain on harmonic 2."),
    db_arg("trim_3_db", "Extra gain on harmonic 3."),
    db_arg("trim_4_db", "Extra gain on harmonic 4."),
    db_arg("trim_5_db", "Extra gain on harmonic 5."),
    db_arg("trim_6_db", "Extra gain on harmonic 6."),
    db_arg("trim_7_db", "Extra gain on harmonic 7."),
    db_arg("trim_8_db", "Extra gain on harmonic 8."),
}};

std::unique_ptr<Block> make_harmonic_eq() {
    return std::make_unique<HarmonicEq>();
}

constexpr float GLIDE_TIME_S = 0.008f;
// Bands at or above this share of the sample rate are left out.
constexpr float TOP_BAND_RATIO = 0.45f;
// A band whose gain is smaller than this is not worth running.
constexpr float MIN_BAND_GAIN_DB = 0.02f;

} // namespace

namespace harmonic_eq {
const BlockInfo INFO = {
    .name = "harmonic_eq",
    .doc = "A parametric equalizer with its bands on the harmonics of one fundamental. Band k "
           "sits at k times the fundamental and has the gain base + tilt * log2(k) + (odd or "
           "even lift) + the trim for harmonic k, if there is one. Bandwidth is a fraction of "
           "the fundamental, so the bands cover the spectrum evenly and a narrow setting rings "
           "like a comb. Harmonics above 45% of the sample rate are left out.",
    .args = ARGS,
    .meters = {},
    .make = make_harmonic_eq,
};
} // namespace harmonic_eq

void HarmonicEq::prepare(float sample_rate, std::size_t channels) {
    state_.assign(channels, ChannelState{});
    bands_.fill(Section{});
    active_.fill(false);
    active_count_ = 0;
    log_fundamental_ = {};
    gain_db_ = {};
    tilt_db_oct_ = {};
    odd_db_ = {};
    even_db_ = {};
    log_bandwidth_ = {};
    stretch_ = {};
    trim_db_.fill(StepGlide{});
    sample_rate_ = sample_rate;
    glide_coeff_ = step_glide_coeff(sample_rate, GLIDE_TIME_S);
}

void HarmonicEq::control(std::span<const float> values) noexcept {
    const float c = glide_coeff_;
    const float f0 = std::exp2(log_fundamental_.step(std::log2(values[0]), c));
    const float gain_db = gain_db_.step(values[3], c);
    const float tilt_db_oct = tilt_db_oct_.step(values[4], c);
    const float odd_db = odd_db_.step(values[5], c);
    const float even_db = even_db_.step(values[6], c);
    const float bandwidth = std::exp2(log_bandwidth_.step(std::log2(values[7]), c));
    const float stretch = stretch_.step(values[8], c);
    std::array<float, TRIMS> trim_db{};
    for (std::size_t i = 0; i < TRIMS; ++i)
        trim_db[i] = trim_db_[i].step(values[9 + i], c);

    active_.fill(false);
    active_count_ = 0;

    // Whole numbers, halves away from zero, before the sum; the argument ranges keep
    // both in [1, 32], so lo >= 1.
    const long lo = std::max(1L, std::lround(round_half_away(values[2])));
    const long hi = lo + std::lround(round_half_away(values[1])) - 1;
    const long last = std::min(hi, static_cast<long>(MAX_BANDS));
    const float top_hz = TOP_BAND_RATIO * sample_rate_;
    const double fs = static_cast<double>(sample_rate_);
    for (long k = lo; k <= last; ++k) {
        const float kf = static_cast<float>(k);
        const float fk = f0 * kf * std::sqrt(stretch * (kf * kf) + 1.0f);
        if (fk >= top_hz)
            break;
        float gk = (k % 2 == 1 ? odd_db : even_db) + (gain_db + tilt_db_oct * std::log2(kf));
        const auto index = static_cast<std::size_t>(k - 1);
        if (index < TRIMS)
            gk += trim_db[index];
        if (std::fabs(gk) < MIN_BAND_GAIN_DB)
            continue;
        const float q = std::clamp(fk / (f0 * bandwidth), 0.5f, 300.0f);
        bands_[index] =
            design_section(SectionType::Peak, static_cast<double>(fk), static_cast<double>(q),
                           static_cast<double>(std::clamp(gk, -36.0f, 36.0f)), fs);
        active_[index] = true;
        order_[active_count_++] = index;
    }
}

void HarmonicEq::process(Frame& frame, std::size_t) noexcept {
    const std::size_t channels = std::min(frame.channels(), state_.size());
    for (std::size_t ch = 0; ch < channels; ++ch) {
        ChannelState& z = state_[ch];
        // A band that becomes active again starts from silence.
        for (std::size_t b = 0; b < MAX_BANDS; ++b)
            if (!active_[b]) {
                z[2 * b] = 0.0f;
                z[2 * b + 1] = 0.0f;
            }
        const std::span<float> samples = frame.row(ch).first(frame.len);
        // Band after band over the whole row: each band only sees the previous band's
        // output, so this equals passing every sample through all bands in turn.
        for (std::size_t i = 0; i < active_count_; ++i) {
            const std::size_t b = order_[i];
            const Section& s = bands_[b];
            float z1 = z[2 * b];
            float z2 = z[2 * b + 1];
            for (float& x : samples)
                x = run_section(s, x, z1, z2);
            z[2 * b] = z1;
            z[2 * b + 1] = z2;
        }
        for (float& v : z)
            flush_state(v);
    }
}

} // namespace velk::blocks
