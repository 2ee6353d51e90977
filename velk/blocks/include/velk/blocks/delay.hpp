#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "velk/blocks/block.hpp"
#include "velk/blocks/frame.hpp"
#include "velk/blocks/glide.hpp"

namespace velk::blocks {

/// A modulated delay line with feedback, a damping low-pass in the feedback path
/// and a ping-pong mode for two channels. Outputs only the delayed signal.
/// Arguments: time_ms, feedback, damp_hz, mode, mod_depth_ms, mod_rate_hz, max_ms.
class Delay final : public Block {
public:
    Delay() = default;
    Delay(const Delay&) = delete;
    Delay& operator=(const Delay&) = delete;

    // Main thread: may allocate.
    /// Keeps max_ms, the longest delay the lines will hold (limited to [10, 4000]).
    void configure(std::span<const float> values) override;
    /// One zeroed line of max_ms plus 24 samples per channel; clears all state.
    void prepare(float sample_rate, std::size_t channels) override;

    // Audio thread: no allocation, no locks, no waits.
    /// Takes the delay time (gliding over the period), feedback, damping, modulation
    /// and mode. Ping-pong needs exactly two prepared channels.
    void control(std::span<const float> values) noexcept override;
    /// Replaces each row with its delayed signal; rows without a line pass unchanged.
    void process(Frame& frame, std::size_t phase) noexcept override;
    /// Repeats until the echo falls by 60 dB, times the delay plus modulation depth,
    /// from `values` alone; valid before prepare. Saturates at the largest count.
    std::uint32_t tail(std::span<const float> values, float sample_rate) const noexcept override;

private:
    struct Line {
        std::vector<float> buffer;
        std::size_t write = 0;
        float damping = 0.0f;

        /// The input from `delay_samples` ago (limited to [2, length - 4]), by
        /// four-point cubic Hermite interpolation.
        float read(float delay_samples) const noexcept;
        void push(float sample) noexcept;
    };

    float delay_at(std::size_t pos, double lfo_cycles) const noexcept;
    void process_normal(Frame& frame, std::size_t phase) noexcept;
    void process_ping_pong(Frame& frame, std::size_t phase) noexcept;

    std::vector<Line> lines_;
    float max_ms_ = 2000.0f;
    float sample_rate_ = 0.0f;
    Glide delay_samples_;
    float feedback_ = 0.0f;
    float damping_coeff_ = 0.0f;
    float mod_depth_samples_ = 0.0f;
    double mod_increment_ = 0.0; // LFO cycles per sample
    double mod_phase_ = 0.0;     // LFO cycles, in [0, 1)
    bool ping_pong_ = false;
    bool initialised_ = false;
};

namespace delay {
/// The "delay" catalogue entry.
extern const BlockInfo INFO;
} // namespace delay

} // namespace velk::blocks
