#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "velk/blocks/biquad.hpp"
#include "velk/blocks/block.hpp"
#include "velk/blocks/frame.hpp"

namespace velk::blocks {

/// The "onepole" block: a first-order low-pass or high-pass, 6 dB per octave. The
/// frequency glides in the log domain with a 5 ms time constant at control steps.
class OnePole final : public Block {
public:
    // Main thread: may allocate.
    OnePole() = default;
    OnePole(const OnePole&) = delete;
    OnePole& operator=(const OnePole&) = delete;
    void prepare(float sample_rate, std::size_t channels) override;

    // Audio thread: no allocation, no locks, no waits.
    /// Values: type, freq.
    void control(std::span<const float> values) noexcept override;
    /// Filters the rows of the prepared channels; further rows pass unchanged.
    void process(Frame& frame, std::size_t phase) noexcept override;

private:
    /// The low-pass state of each prepared channel.
    std::vector<float> state_;
    StepGlide log_freq_;
    float sample_rate_ = 48000.0f;
    float glide_coeff_ = 1.0f;
    float coeff_ = 0.0f;
    bool highpass_ = false;
};

namespace onepole {
/// The catalogue description of the "onepole" block.
extern const BlockInfo INFO;
} // namespace onepole

} // namespace velk::blocks
