#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

#include "velk/blocks/frame.hpp"

namespace velk::blocks {

/// The constant description of one block argument. Every value a block receives
/// for it is never NaN, lies in [min, max], and is whole when it has choices.
struct ArgInfo {
    std::string_view name;
    std::string_view unit;
    /// Option names of a choice argument, index 0 first; empty for a plain number.
    std::span<const std::string_view> choices = {};
    std::string_view doc;
    float min = 0.0f;
    float max = 0.0f;
    float default_value = 0.0f;
    /// Must be a constant when the graph is built; stored by Block::configure.
    bool fixed = false;
};

class Block;

/// Creates a block in its initial state, owned by the caller. Cannot fail.
using MakeFn = std::unique_ptr<Block> (*)();

/// The constant description of one block kind.
struct BlockInfo {
    std::string_view name;
    std::string_view doc;
    std::span<const ArgInfo> args = {};
    /// Meter names; the position is the meter's index.
    std::span<const std::string_view> meters = {};
    MakeFn make = nullptr;
    /// Block::control's effect depends on the values alone, not on earlier calls, so
    /// a call with the values of the last one changes nothing and may be skipped.
    bool pure_control = false;
    /// Block::tail is the default: always 0.
    bool no_tail = false;
};

/// One signal-processing unit of a graph. Used by one thread at a time.
class Block {
public:
    virtual ~Block() = default;

    // Main thread: may allocate.
    /// Once, after make: the build-time value of every argument (its constant, or
    /// its default when bound to an expression). Blocks with a fixed argument keep it.
    virtual void configure(std::span<const float> values);
    /// Allocates for the channel count and resets all signal state to silence.
    /// The runtime passes a sample rate of at least 8000 and at least one channel.
    virtual void prepare(float sample_rate, std::size_t channels) = 0;

    // Audio thread: no allocation, no locks, no waits.
    /// The current argument values, in table order; at every control period start.
    virtual void control(std::span<const float> values) noexcept = 0;
    /// Processes the frame in place; `phase` (0 to 31) is the position inside the
    /// control period where the frame starts (frame.len <= 32 - phase).
    virtual void process(Frame& frame, std::size_t phase) noexcept = 0;
    /// Samples of delay this block adds, valid after prepare.
    virtual std::uint32_t latency() const noexcept;
    /// Samples the output may go on after silent input, for these argument values
    /// (at most the first 32). Independent of prepared state.
    virtual std::uint32_t tail(std::span<const float> values, float sample_rate) const noexcept;
    /// The reading of meter `index`; 0 for an index the block does not have.
    virtual float meter(std::size_t index) const noexcept;
};

/// Every block kind, in catalogue order.
std::span<const BlockInfo* const> catalogue() noexcept;

/// The block kind whose name equals `name` exactly (case matters, no trimming).
const BlockInfo* find(std::string_view name) noexcept;

} // namespace velk::blocks
