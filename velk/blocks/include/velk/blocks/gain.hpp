#pragma once

#include <cstddef>
#include <span>

#include "velk/blocks/block.hpp"
#include "velk/blocks/frame.hpp"
#include "velk/blocks/glide.hpp"

namespace velk::blocks {

/// Level, polarity and constant-power pan. Gains glide across each control period.
/// Pan applies only when prepared for exactly two channels.
class Gain final : public Block {
public:
    Gain() = default;
    Gain(const Gain&) = delete;
    Gain& operator=(const Gain&) = delete;

    // Main thread: may allocate.
    /// Stores the channel count and clears the gains; the next control step does not glide.
    void prepare(float sample_rate, std::size_t channels) override;

    // Audio thread: no allocation, no locks, no waits.
    /// Values: gain_db, pan, invert.
    void control(std::span<const float> values) noexcept override;
    /// Scales the first `len` samples of every row by the gliding gain.
    void process(Frame& frame, std::size_t phase) noexcept override;

private:
    std::size_t channels_ = 0;
    Glide left_;
    Glide right_;
    Glide plain_;
    bool started_ = false;
};

namespace gain {
/// The catalogue entry of "gain".
extern const BlockInfo INFO;
} // namespace gain

} // namespace velk::blocks
