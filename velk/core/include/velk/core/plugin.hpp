#pragma once

#include <array>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>

#include "velk/core/param.hpp"

namespace velk {

/// The most audio channels any adapter handles.
inline constexpr std::uint32_t MAX_CHANNELS = 64;

/// The highest sample rate, in Hz, that the adapters accept and a graph runs at: the
/// highest in use by audio hardware. Delay lines grow with the rate, so this bounds
/// the memory a host's rate can make a plug-in take.
inline constexpr float MAX_SAMPLE_RATE = 768000.0f;

/// What `Plugin::prepare` receives.
struct ProcessSetup {
    std::size_t max_frames = 0; ///< Largest frame count of one `process` call.
    float sample_rate = 0.0f;   ///< Hz.
    std::uint32_t channels = 0; ///< Channels of the processed signal (input and output alike).
};

/// Host transport and timing for one processed block.
struct ProcessContext {
    std::optional<double> position; ///< Transport position in samples, when the host gives one.
    std::optional<double> tempo;    ///< Beats per minute, when the host gives one.
    float sample_rate = 0.0f;       ///< Hz.
    bool playing = false;           ///< The transport is playing.
};

/// The audio of one block: one run of samples per channel, in channel order, all of
/// the same length; each run holds the input on entry and the output on return.
using ChannelBuffers = std::span<const std::span<float>>;

/// A fixed-capacity list of channel runs that an adapter instance keeps, refills
/// before each `process` call and clears after it, so it never allocates.
class ChannelList {
public:
    static constexpr std::size_t CAPACITY = MAX_CHANNELS;

    // Audio thread: no allocation, no locks, no waits.

    /// Appends one channel's run; false, and nothing added, when the list is full.
    bool push(std::span<float> run) noexcept;
    void clear() noexcept { size_ = 0; }
    std::size_t size() const noexcept { return size_; }
    bool empty() const noexcept { return size_ == 0; }
    /// The runs pushed since the last `clear`, as `process` takes them.
    ChannelBuffers runs() const noexcept { return {runs_.data(), size_}; }

private:
    std::array<std::span<float>, CAPACITY> runs_{};
    std::size_t size_ = 0;
};

/// How many channels an audio port carries. `Fixed` keeps its count n in both `min`
/// and `max`; `Range` keeps its bounds; `Any` uses neither.
struct Channels {
    enum Rule : std::uint8_t { Fixed = 0, Range = 1, Any = 2 };

    Rule rule = Any;
    std::uint32_t min = 0;
    std::uint32_t max = 0;

    static constexpr Channels fixed(std::uint32_t n) noexcept { return {Fixed, n, n}; }
    static constexpr Channels range(std::uint32_t lo, std::uint32_t hi) noexcept {
        return {Range, lo, hi};
    }
    static constexpr Channels any() noexcept { return {}; }
};

/// One audio port of a plug-in.
struct Port {
    std::string_view name = {};
    Channels channels = {};
};

/// A plug-in's audio ports; views constant data.
struct Layout {
    std::span<const Port> inputs = {};
    std::span<const Port> outputs = {};
};

inline constexpr std::array<Port, 1> DEFAULT_INPUTS{
    Port{.name = "Main", .channels = Channels::range(1, MAX_CHANNELS)}};
inline constexpr std::array<Port, 1> DEFAULT_OUTPUTS{
    Port{.name = "Main", .channels = Channels::any()}};

/// The layout of a plug-in that declares none: input "Main" with 1 to 64 channels
/// and output "Main" with any count.
constexpr Layout default_layout() noexcept {
    return {DEFAULT_INPUTS, DEFAULT_OUTPUTS};
}

/// The channel counts an adapter accepts, both within 1 to `MAX_CHANNELS`, min <= max.
struct ChannelBounds {
    std::uint32_t min = 1;
    std::uint32_t max = MAX_CHANNELS;

    /// `n` raised to `min` or lowered to `max`.
    constexpr std::uint32_t clamp(std::uint32_t n) const noexcept {
        return n < min ? min : (n > max ? max : n);
    }
};

/// The bounds of one port's rule: `Fixed(n)` gives n..n and `Range` its bounds, each
/// raised to 1 and limited to 64, the upper one raised to the lower; `Any` 1..64.
ChannelBounds channel_bounds(Channels rule) noexcept;
/// The bounds of the first input port, or of the first output port when there are no
/// inputs; 1..64 without ports. The Audio Unit adapter's rule.
ChannelBounds channel_bounds(const Layout& layout) noexcept;
/// The bounds of the first input port only; 1..64 without inputs. The CLAP adapter's rule.
ChannelBounds input_channel_bounds(const Layout& layout) noexcept;

/// The interface a plug-in implements and the adapters drive. Construction takes no
/// arguments and cannot fail. The adapters call, in order: `params` and `layout`;
/// then per activation `prepare`, `latency_samples`, `tail_samples`; then per block
/// `midi` (Audio Unit instruments), `process`, `tail_samples`, `latency_samples`.
/// `process` never runs before the first `prepare`, nor concurrently with `prepare`
/// or itself. Only the `ParamSet` is shared between threads.
class Plugin {
public:
    Plugin() = default;
    virtual ~Plugin() = default;
    Plugin(const Plugin&) = delete;
    Plugin& operator=(const Plugin&) = delete;

    // Main thread: may allocate.

    /// A new handle on the plug-in's parameters.
    virtual ParamSet params() const = 0;
    /// The audio ports; constant.
    virtual Layout layout() const { return default_layout(); }
    /// Whether the plug-in is an instrument (asked by the Audio Unit adapter only).
    virtual bool is_instrument() const { return false; }
    /// Allocates and clears every buffer and all signal state for `setup`; may be
    /// called again between process calls, each time starting from silence.
    virtual void prepare(const ProcessSetup& setup) = 0;

    // Audio thread: no allocation, no locks, no waits.

    /// One MIDI channel message for frame `frame` of the next block. Ignored by default.
    virtual void midi(std::uint8_t /*status*/, std::uint8_t /*data1*/, std::uint8_t /*data2*/,
                      std::uint32_t /*frame*/) noexcept {}
    /// Processes one block in place.
    virtual void process(ChannelBuffers channels, const ProcessContext& context) noexcept = 0;
    /// The delay, in samples, that processing adds. Also answers before `prepare`.
    virtual std::uint32_t latency_samples() noexcept = 0;
    /// How long, in samples, output may go on after the input falls silent, at the
    /// current parameter values. Also answers before `prepare`.
    virtual std::uint32_t tail_samples() noexcept = 0;
};

/// Each adapter's owner of its plug-in: forwards every operation one to one and
/// destroys the plug-in with itself. Also keeps `process` away from a plug-in that
/// is not (or not completely) prepared, and from empty channel lists.
class Inner {
public:
    /// Constructs a `P` with its no-argument construction.
    template <std::derived_from<Plugin> P>
    requires std::default_initializable<P>
    static Inner make() { return Inner(std::make_unique<P>()); }
    /// Takes ownership of `plugin`, which must not be null.
    explicit Inner(std::unique_ptr<Plugin> plugin) noexcept;

    // Main thread: may allocate.

    Layout layout() const { return plugin_->layout(); }
    /// A new handle on the plug-in's parameters.
    ParamSet params() const { return plugin_->params(); }
    /// Prepares the plug-in; exceptions from it (bad_alloc) pass to the adapter,
    /// which catches them, and leave the plug-in unprepared.
    void prepare(const ProcessSetup& setup);

    // Audio thread: no allocation, no locks, no waits.

    /// Processes one block in place; does nothing for an empty list or an unprepared plug-in.
    void process(ChannelBuffers channels, const ProcessContext& context) noexcept;
    std::uint32_t latency() noexcept { return plugin_->latency_samples(); }
    std::uint32_t tail() noexcept { return plugin_->tail_samples(); }
    bool is_instrument() const { return plugin_->is_instrument(); }
    void midi(std::uint8_t status, std::uint8_t data1, std::uint8_t data2,
              std::uint32_t frame) noexcept {
        plugin_->midi(status, data1, data2, frame);
    }

    /// The owned plug-in, for tests.
    Plugin& plugin() noexcept { return *plugin_; }
    bool prepared() const noexcept { return prepared_; }

private:
    std::unique_ptr<Plugin> plugin_;
    bool prepared_ = false;
};

} // namespace velk
