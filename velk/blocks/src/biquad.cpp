#include "velk/blocks/biquad.hpp"

#include <algorithm>
#include <cmath>
#include <memory>
#include <numbers>
#include <string_view>

#include "velk/blocks/dsp.hpp"

namespace velk::blocks {
namespace {

constexpr std::array<std::string_view, 8> TYPE_CHOICES = {
    "lowpass", "highpass", "bandpass", "notch", "peak", "lowshelf", "highshelf", "allpass",
};
constexpr std::array<std::string_view, 4> SLOPE_CHOICES = {"12", "24", "36", "48"};

constexpr std::array<ArgInfo, 5> ARGS = {{
    {.name = "type",
     .unit = "",
     .choices = TYPE_CHOICES,
     .doc = "Which response.",
     .min = 0.0f,
     .max = 7.0f,
     .default_value = 0.0f},
    {.name = "freq",
     .unit = "Hz",
     .doc = "Cutoff, centre or corner frequency.",
     .min = 10.0f,
     .max = 24000.0f,
     .default_value = 1000.0f},
    {.name = "q",
     .unit = "",
     .doc = "Resonance or bandwidth. For a steep low-pass or high-pass the Butterworth values "
            "are used instead.",
     .min = 0.1f,
     .max = 40.0f,
     .default_value = 0.70710677f},
    {.name = "gain_db",
     .unit = "dB",
     .doc = "Boost or cut for peak, lowshelf and highshelf. The other types ignore it.",
     .min = -36.0f,
     .max = 36.0f,
     .default_value = 0.0f},
    {.name = "slope",
     .unit = "",
     .choices = SLOPE_CHOICES,
     .doc = "Decibels per octave for lowpass and highpass. The other types ignore it.",
     .min = 0.0f,
     .max = 3.0f,
     .default_value = 0.0f},
}};

std::unique_ptr<Block> make_filter() {
    return std::make_unique<Filter>();
}

// 5 × 0.001 in 32-bit arithmetic: one step above the float nearest to 0.005.
constexpr float GLIDE_TIME_S = 0.0050000004f;

// Runs one row through `N` cascaded sections; N is a constant so the cascade unrolls.
template <std::size_t N>
void run_cascade(const std::array<Section, Filter::MAX_SECTIONS>& sections,
                 std::span<float> samples,
                 std::array<float, 2 * Filter::MAX_SECTIONS>& z) noexcept {
    std::array<float, 2 * N> s{};
    for (std::size_t i = 0; i < 2 * N; ++i)
        s[i] = z[i];
    for (float& sample : samples) {
        float x = sample;
        for (std::size_t k = 0; k < N; ++k)
            x = run_section(sections[k], x, s[2 * k], s[2 * k + 1]);
        sample = x;
    }
    for (std::size_t i = 0; i < 2 * N; ++i)
        z[i] = s[i];
}

} // namespace

namespace biquad {
const BlockInfo INFO = {
    .name = "filter",
    .doc = "A second-order filter: low-pass, high-pass, band-pass, notch, peaking bell, low "
           "shelf, high shelf or all-pass. A low-pass or high-pass can have a steeper slope, "
           "made of cascaded Butterworth sections. Frequency, Q and gain glide, so sweeping "
           "them does not click.",
    .args = ARGS,
    .meters = {},
    .make = make_filter,
};
} // namespace biquad

Section design_section(SectionType type, double freq_hz, double q, double gain_db,
                       double sample_rate) noexcept {
    const double f0 = std::clamp(freq_hz, 5.0, 0.49 * sample_rate);
    const double w0 = 2.0 * std::numbers::pi * f0 / sample_rate;
    const double c = std::cos(w0);
    const double s = std::sin(w0);
    const double a = std::pow(10.0, gain_db / 40.0);
    const double alpha = s / (2.0 * std::max(q, 0.05));
    const double r = 2.0 * std::sqrt(a) * alpha;

    double b0 = 1.0;
    double b1 = 0.0;
    double b2 = 0.0;
    double a0 = 1.0;
    double a1 = 0.0;
    double a2 = 0.0;
    switch (type) {
    case SectionType::Lowpass:
        b0 = (1.0 - c) / 2.0;
        b1 = 1.0 - c;
        b2 = (1.0 - c) / 2.0;
        a0 = 1.0 + alpha;
        a1 = -2.0 * c;
        a2 = 1.0 - alpha;
        break;
    case SectionType::Highpass:
        b0 = (1.0 + c) / 2.0;
        b1 = -(1.0 + c);
        b2 = (1.0 + c) / 2.0;
        a0 = 1.0 + alpha;
        a1 = -2.0 * c;
        a2 = 1.0 - alpha;
        break;
    case SectionType::Bandpass:
        b0 = alpha;
        b1 = 0.0;
        b2 = -alpha;
        a0 = 1.0 + alpha;
        a1 = -2.0 * c;
        a2 = 1.0 - alpha;
        break;
    case SectionType::Notch:
        b0 = 1.0;
        b1 = -2.0 * c;
        b2 = 1.0;
        a0 = 1.0 + alpha;
        a1 = -2.0 * c;
        a2 = 1.0 - alpha;
        break;
    case SectionType::Peak:
        b0 = 1.0 + alpha * a;
        b1 = -2.0 * c;
        b2 = 1.0 - alpha * a;
        a0 = 1.0 + alpha / a;
        a1 = -2.0 * c;
        a2 = 1.0 - alpha / a;
        break;
    case SectionType::Lowshelf:
        b0 = a * ((a + 1.0) - (a - 1.0) * c + r);
        b1 = 2.0 * a * ((a - 1.0) - (a + 1.0) * c);
        b2 = a * ((a + 1.0) - (a - 1.0) * c - r);
        a0 = (a + 1.0) + (a - 1.0) * c + r;
        a1 = -2.0 * ((a - 1.0) + (a + 1.0) * c);
        a2 = (a + 1.0) + (a - 1.0) * c - r;
        break;
    case SectionType::Highshelf:
        b0 = a * ((a + 1.0) + (a - 1.0) * c + r);
        b1 = -2.0 * a * ((a - 1.0) + (a + 1.0) * c);
        b2 = a * ((a + 1.0) + (a - 1.0) * c - r);
        a0 = (a + 1.0) - (a - 1.0) * c + r;
        a1 = 2.0 * ((a - 1.0) - (a + 1.0) * c);
        a2 = (a + 1.0) - (a - 1.0) * c - r;
        break;
    case SectionType::Allpass:
        b0 = 1.0 - alpha;
        b1 = -2.0 * c;
        b2 = 1.0 + alpha;
        a0 = 1.0 + alpha;
        a1 = -2.0 * c;
        a2 = 1.0 - alpha;
        break;
    }
    return Section{
        .b0 = static_cast<float>(b0 / a0),
        .b1 = static_cast<float>(b1 / a0),
        .b2 = static_cast<float>(b2 / a0),
        .a1 = static_cast<float>(a1 / a0),
        .a2 = static_cast<float>(a2 / a0),
    };
}

float step_glide_coeff(float sample_rate, float time_s) noexcept {
    return 1.0f - std::exp(-32.0f / (sample_rate * time_s));
}

void Filter::prepare(float sample_rate, std::size_t channels) {
    state_.assign(channels, ChannelState{});
    sample_rate_ = sample_rate;
    glide_coeff_ = step_glide_coeff(sample_rate, GLIDE_TIME_S);
    sections_.fill(Section{});
    active_ = 1;
    log_freq_ = {};
    log_q_ = {};
    gain_db_ = {};
}

void Filter::control(std::span<const float> values) noexcept {
    const auto type = static_cast<SectionType>(
        static_cast<int>(std::clamp(round_half_away(values[0]), 0.0f, 7.0f)));
    const float freq_hz = std::exp2(log_freq_.step(std::log2(values[1]), glide_coeff_));
    const float q = std::exp2(log_q_.step(std::log2(values[2]), glide_coeff_));
    const float gain_db = gain_db_.step(values[3], glide_coeff_);
    const auto slope = static_cast<std::size_t>(std::clamp(round_half_away(values[4]), 0.0f, 3.0f));

    const double fs = static_cast<double>(sample_rate_);
    if ((type == SectionType::Lowpass || type == SectionType::Highpass) && slope > 0) {
        // Butterworth: Q of section k is 1 / (2 sin((2k + 1) π / 4N)) for N sections.
        const std::size_t n = slope + 1;
        const double m = static_cast<double>(4 * n);
        for (std::size_t k = 0; k < n; ++k) {
            const double q_k =
                1.0 / (2.0 * std::sin(static_cast<double>(2 * k + 1) * std::numbers::pi / m));
            sections_[k] = design_section(type, static_cast<double>(freq_hz), q_k, 0.0, fs);
        }
        active_ = n;
    } else {
        sections_[0] = design_section(type, static_cast<double>(freq_hz), static_cast<double>(q),
                                      static_cast<double>(gain_db), fs);
        active_ = 1;
    }
}

void Filter::process(Frame& frame, std::size_t) noexcept {
    const std::size_t channels = std::min(frame.channels(), state_.size());
    for (std::size_t ch = 0; ch < channels; ++ch) {
        const std::span<float> samples = frame.row(ch).first(frame.len);
        ChannelState& z = state_[ch];
        switch (active_) {
        case 1:
            run_cascade<1>(sections_, samples, z);
            break;
        case 2:
            run_cascade<2>(sections_, samples, z);
            break;
        case 3:
            run_cascade<3>(sections_, samples, z);
            break;
        default:
            run_cascade<4>(sections_, samples, z);
            break;
        }
        for (float& v : z)
            flush_state(v);
    }
}

} // namespace velk::blocks
