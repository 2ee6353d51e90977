#pragma once

#include <cstddef>
#include <span>
#include <vector>

namespace velk::blocks {

/// Samples in one control period; also the row length of a frame.
inline constexpr std::size_t CONTROL_PERIOD = 32;

/// The working block of audio that blocks process in place: one row of 32 samples
/// per channel, rows in channel order, and `len`, the number of valid samples at
/// the start of every row (1 to 32 when a block sees it).
class Frame {
public:
    // Main thread: may allocate.
    Frame() = default;
    explicit Frame(std::size_t channels) { reset(channels); }
    /// Makes one zeroed row per channel and sets `len` to 0.
    void reset(std::size_t channels);

    // Audio thread: no allocation, no locks, no waits.
    std::size_t channels() const noexcept { return channels_; }
    std::span<float, CONTROL_PERIOD> row(std::size_t ch) noexcept {
        return std::span<float, CONTROL_PERIOD>(samples_.data() + ch * CONTROL_PERIOD,
                                                CONTROL_PERIOD);
    }
    std::span<const float, CONTROL_PERIOD> row(std::size_t ch) const noexcept {
        return std::span<const float, CONTROL_PERIOD>(samples_.data() + ch * CONTROL_PERIOD,
                                                      CONTROL_PERIOD);
    }

    std::size_t len = 0;

private:
    std::vector<float> samples_;
    std::size_t channels_ = 0;
};

} // namespace velk::blocks
