#pragma once

#include <cstddef>
#include <span>

#include "velk/blocks/block.hpp"
#include "velk/blocks/frame.hpp"
#include "velk/blocks/glide.hpp"

namespace velk::blocks {

/// Varies the level with a sine or triangle oscillator; each row's cycle runs
/// stereo_phase degrees after the previous row's, so 180 on two channels is an
/// auto-pan. Arguments: rate_hz, depth, shape, stereo_phase.
class Tremolo final : public Block {
public:
    Tremolo() = default;
    Tremolo(const Tremolo&) = delete;
    Tremolo& operator=(const Tremolo&) = delete;

    // Main thread: may allocate.
    /// Keeps the sample rate and restarts the oscillator at phase 0.
    void prepare(float sample_rate, std::size_t channels) override;

    // Audio thread: no allocation, no locks, no waits.
    /// Takes rate, shape and channel offset at once; the depth glides over the period.
    void control(std::span<const float> values) noexcept override;
    /// Scales every row of the frame by its oscillator's level.
    void process(Frame& frame, std::size_t phase) noexcept override;

private:
    double increment_ = 0.0;      // cycles per sample
    double channel_offset_ = 0.0; // cycles between successive rows
    double cycle_phase_ = 0.0;    // cycles, in [0, 1)
    Glide depth_;
    bool triangle_ = false;
    float sample_rate_ = 0.0f;
    bool initialised_ = false;
};

namespace tremolo {
/// The "tremolo" catalogue entry.
extern const BlockInfo INFO;
} // namespace tremolo

} // namespace velk::blocks
