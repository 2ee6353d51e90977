#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <vector>

#include "velk/blocks/biquad.hpp"
#include "velk/blocks/block.hpp"
#include "velk/blocks/frame.hpp"

namespace velk::blocks {

/// The "harmonic_eq" block: peaking bands on harmonics 1 to 32 of one fundamental,
/// each with base gain + tilt × log2 k + odd or even lift + trim k. Bands at or above
/// 45 % of the sample rate are left out. Arguments glide with an 8 ms time constant.
class HarmonicEq final : public Block {
public:
    /// Highest harmonic number with a band.
    static constexpr std::size_t MAX_BANDS = 32;
    /// Harmonics 1 to TRIMS have a trim argument of their own.
    static constexpr std::size_t TRIMS = 8;

    // Main thread: may allocate.
    HarmonicEq() = default;
    HarmonicEq(const HarmonicEq&) = delete;
    HarmonicEq& operator=(const HarmonicEq&) = delete;
    void prepare(float sample_rate, std::size_t channels) override;

    // Audio thread: no allocation, no locks, no waits.
    /// Values: fundamental_hz, harmonics, first, gain_db, tilt_db_oct, odd_db, even_db,
    /// bandwidth, stretch, trim_1_db to trim_8_db.
    void control(std::span<const float> values) noexcept override;
    /// Runs the active bands on the rows of the prepared channels; further rows pass.
    void process(Frame& frame, std::size_t phase) noexcept override;

private:
    /// z1, z2 of each band, band 1 first.
    using ChannelState = std::array<float, 2 * MAX_BANDS>;

    std::array<Section, MAX_BANDS> bands_{};
    std::array<bool, MAX_BANDS> active_{};
    /// Indices of the active bands, ascending; the first `active_count_` are valid.
    std::array<std::size_t, MAX_BANDS> order_{};
    std::size_t active_count_ = 0;
    std::vector<ChannelState> state_;

    StepGlide log_fundamental_;
    StepGlide gain_db_;
    StepGlide tilt_db_oct_;
    StepGlide odd_db_;
    StepGlide even_db_;
    StepGlide log_bandwidth_;
    StepGlide stretch_;
    std::array<StepGlide, TRIMS> trim_db_{};
    float sample_rate_ = 48000.0f;
    float glide_coeff_ = 1.0f;
};

namespace harmonic_eq {
/// The catalogue description of the "harmonic_eq" block.
extern const BlockInfo INFO;
} // namespace harmonic_eq

} // namespace velk::blocks
