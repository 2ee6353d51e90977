#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <vector>

#include "velk/blocks/block.hpp"
#include "velk/blocks/frame.hpp"

namespace velk::blocks {

/// The responses of one second-order section, in the order of the "filter" block's
/// `type` choices.
enum class SectionType {
    Lowpass,
    Highpass,
    Bandpass,
    Notch,
    Peak,
    Lowshelf,
    Highshelf,
    Allpass,
};

/// One second-order section's coefficients, normalised so that a0 = 1. The default
/// is the identity.
struct Section {
    float b0 = 1.0f;
    float b1 = 0.0f;
    float b2 = 0.0f;
    float a1 = 0.0f;
    float a2 = 0.0f;
};

/// Designs one audio-cookbook section in 64-bit arithmetic and rounds the result to
/// 32-bit floats. `freq_hz` is limited to [5, 0.49 × sample_rate] and `q` to at least
/// 0.05; `gain_db` only matters for Peak, Lowshelf and Highshelf. Any thread.
Section design_section(SectionType type, double freq_hz, double q, double gain_db,
                       double sample_rate) noexcept;

/// One transposed direct form II step through `s` with state (z1, z2); returns y.
inline float run_section(const Section& s, float x, float& z1, float& z2) noexcept {
    const float y = s.b0 * x + z1;
    z1 = s.b1 * x - s.a1 * y + z2;
    z2 = s.b2 * x - s.a2 * y;
    return y;
}

/// A control value that moves a fixed share of the remaining distance towards its
/// target at every control step. The first step after a reset takes the target as is.
struct StepGlide {
    float value = 0.0f;
    bool set = false;

    /// Advances one control step by `coeff` (0 to 1) and returns the new value.
    float step(float target, float coeff) noexcept {
        value = set ? value + coeff * (target - value) : target;
        set = true;
        return value;
    }
};

/// The share of the remaining distance a StepGlide covers per control period of 32
/// samples for a time constant of `time_s` seconds: 1 − e^(−32 / (sample_rate × time_s)).
float step_glide_coeff(float sample_rate, float time_s) noexcept;

/// The "filter" block: a biquad with eight responses, or a cascade of up to four
/// Butterworth sections for 24 to 48 dB per octave low-pass and high-pass. Frequency,
/// Q and gain glide with a 5 ms time constant at control steps.
class Filter final : public Block {
public:
    /// Most sections of a steep low-pass or high-pass.
    static constexpr std::size_t MAX_SECTIONS = 4;

    // Main thread: may allocate.
    Filter() = default;
    Filter(const Filter&) = delete;
    Filter& operator=(const Filter&) = delete;
    void prepare(float sample_rate, std::size_t channels) override;

    // Audio thread: no allocation, no locks, no waits.
    /// Values: type, freq, q, gain_db, slope.
    void control(std::span<const float> values) noexcept override;
    /// Filters the rows of the prepared channels; further rows pass unchanged.
    void process(Frame& frame, std::size_t phase) noexcept override;

private:
    /// z1, z2 of each section, section after section.
    using ChannelState = std::array<float, 2 * MAX_SECTIONS>;

    std::array<Section, MAX_SECTIONS> sections_{};
    std::size_t active_ = 1;
    std::vector<ChannelState> state_;
    StepGlide log_freq_;
    StepGlide log_q_;
    StepGlide gain_db_;
    float sample_rate_ = 48000.0f;
    float glide_coeff_ = 1.0f;
};

namespace biquad {
/// The catalogue description of the "filter" block.
extern const BlockInfo INFO;
} // namespace biquad

} // namespace velk::blocks
