#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <vector>

#include "velk/blocks/block.hpp"
#include "velk/blocks/frame.hpp"

namespace velk::blocks {

/// Feed-forward compressor, limiter, gate or expander with a soft knee, a peak or
/// RMS detector, a detector high-pass, channel linking, attack and release
/// smoothing, a range limit, make-up gain and an optional lookahead delay.
/// Meter 0 is the current gain reduction in dB (0 or above).
class Dynamics final : public Block {
public:
    Dynamics() = default;
    Dynamics(const Dynamics&) = delete;
    Dynamics& operator=(const Dynamics&) = delete;

    // Main thread: may allocate.
    /// Keeps the fixed lookahead time (value 11, ms).
    void configure(std::span<const float> values) override;
    /// Sizes the per-channel state and lookahead lines, all silent, and computes the
    /// latency. Every setting is 0 until the next control step.
    void prepare(float sample_rate, std::size_t channels) override;

    // Audio thread: no allocation, no locks, no waits.
    /// Values in catalogue order: mode, threshold_db, ratio, knee_db, attack_ms,
    /// release_ms, makeup_db, auto_makeup, detector, sidechain_hpf_hz, link,
    /// lookahead_ms (ignored here), range_db.
    void control(std::span<const float> values) noexcept override;
    /// Processes the channels it was prepared for; other rows are left alone. At link 1
    /// with equal smoothed gains, the channels share one gain computation.
    void process(Frame& frame, std::size_t phase) noexcept override;
    /// The path `process` takes for link below 1: every channel on its own. Gives the
    /// same output as the shared path wherever both apply.
    void process_per_channel(Frame& frame) noexcept;
    /// The lookahead in samples from the last prepare.
    std::uint32_t latency() const noexcept override;
    /// Index 0: the gain reduction in dB at the last processed sample; else 0.
    float meter(std::size_t index) const noexcept override;

private:
    struct Channel {
        float gain_db = 0.0f;     // smoothed gain, 0 or below
        float mean_square = 0.0f; // RMS detector
        float low_pass = 0.0f;    // detector high-pass = input - low_pass
        float level = 0.0f;       // scratch: detector level at the current sample
    };

    float static_gain_db(float overshoot_db) const noexcept;
    bool gains_agree(std::size_t count) const noexcept;
    void process_linked(Frame& frame, std::size_t count) noexcept;
    // The loudest detector level of each of the 32 samples into `peak`; the detector
    // states advance by `len` samples.
    void detect(const Frame& frame, std::size_t count, std::size_t len, float* peak) noexcept;
    // The range-limited static gain in dB of each of the 32 detector levels; true
    // when every one is 0 because every level lies below `quiet_level_`.
    bool static_gains(const float* level, float* target) const noexcept;
    // Channel c times `gain`, through its lookahead line from `pos` when there is one.
    void apply(Frame& frame, std::size_t c, std::size_t len, std::size_t pos,
               const float* gain) noexcept;

    // Settings from the last control step.
    int mode_ = 0;
    float threshold_db_ = 0.0f;
    float ratio_ = 0.0f;
    float knee_db_ = 0.0f;
    float attack_coef_ = 0.0f;
    float release_coef_ = 0.0f;
    float makeup_db_ = 0.0f;
    bool rms_ = false;
    float hpf_coef_ = 0.0f;
    float link_ = 0.0f;
    float range_db_ = 0.0f;
    // A compressor's or limiter's detector level below which the static gain is
    // exactly 0 (below the knee's lower edge, with a margin); 0 in the other modes.
    float quiet_level_ = 0.0f;

    // The times the attack and release coefficients were last computed for (NaN for
    // none since prepare) and those coefficients.
    float attack_ms_ = std::numeric_limits<float>::quiet_NaN();
    float release_ms_ = std::numeric_limits<float>::quiet_NaN();
    float attack_from_ = 0.0f;
    float release_from_ = 0.0f;

    float lookahead_ms_ = 0.0f;
    float sample_rate_ = 0.0f;
    float rms_keep_ = 0.0f; // e^(-1 / (sample rate x 10 ms))
    std::uint32_t lookahead_samples_ = 0;
    std::size_t line_length_ = 0;
    std::size_t write_pos_ = 0;
    std::vector<Channel> channels_;
    std::vector<float> lines_; // one lookahead line per channel, back to back
    float meter_ = 0.0f;
};

namespace dynamics {
/// The catalogue entry of "dynamics".
extern const BlockInfo INFO;
} // namespace dynamics

} // namespace velk::blocks
