#pragma once

#include <cstddef>
#include <span>

#include "velk/blocks/block.hpp"
#include "velk/blocks/frame.hpp"
#include "velk/blocks/glide.hpp"

namespace velk::blocks {

/// Mid/side width, encode, decode, mono and swap on a two-channel signal. Does
/// nothing unless prepared for exactly two channels. Mid and side gains glide.
class Stereo final : public Block {
public:
    Stereo() = default;
    Stereo(const Stereo&) = delete;
    Stereo& operator=(const Stereo&) = delete;

    // Main thread: may allocate.
    /// Clears the gains and the mode; active only for exactly two channels.
    void prepare(float sample_rate, std::size_t channels) override;

    // Audio thread: no allocation, no locks, no waits.
    /// Values: mode, width, mid_db, side_db. The mode changes at once.
    void control(std::span<const float> values) noexcept override;
    /// Rewrites rows 0 and 1 in place when active; otherwise leaves the frame alone.
    void process(Frame& frame, std::size_t phase) noexcept override;

private:
    // In the order of the `mode` choices.
    enum class Mode { Width, Encode, Decode, Mono, Swap };

    Mode mode_ = Mode::Width;
    Glide mid_;
    Glide side_;
    bool active_ = false;
    bool started_ = false;
};

namespace stereo {
/// The catalogue entry of "stereo".
extern const BlockInfo INFO;
} // namespace stereo

} // namespace velk::blocks
