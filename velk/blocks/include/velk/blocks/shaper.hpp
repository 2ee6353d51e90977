#pragma once

#include <cstddef>
#include <span>

#include "velk/blocks/block.hpp"
#include "velk/blocks/frame.hpp"
#include "velk/blocks/glide.hpp"

namespace velk::blocks {

/// Drives the signal through a saturation curve (tanh, hard, softclip, fold, tube)
/// with a bias before it and the bias's constant removed after. Keeps no state per
/// channel, so it processes every row. Arguments: curve, drive_db, bias, output_db.
class Shaper final : public Block {
public:
    Shaper() = default;
    Shaper(const Shaper&) = delete;
    Shaper& operator=(const Shaper&) = delete;

    // Main thread: may allocate.
    /// Clears the curve, bias and gains; the next control step does not glide.
    void prepare(float sample_rate, std::size_t channels) override;

    // Audio thread: no allocation, no locks, no waits.
    /// Takes the curve and bias at once; drive and output gains glide over the period.
    void control(std::span<const float> values) noexcept override;
    /// Shapes every row of the frame in place.
    void process(Frame& frame, std::size_t phase) noexcept override;

private:
    int curve_ = 0;
    float bias_ = 0.0f;
    float offset_ = 0.0f; // the curve's value at the bias
    Glide drive_gain_;
    Glide output_gain_;
    bool initialised_ = false;
};

namespace shaper {
/// The "shaper" catalogue entry.
extern const BlockInfo INFO;
} // namespace shaper

} // namespace velk::blocks
