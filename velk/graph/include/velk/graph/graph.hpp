#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "velk/blocks/block.hpp"
#include "velk/blocks/frame.hpp"
#include "velk/core/param.hpp"
#include "velk/core/plugin.hpp"
#include "velk/core/result.hpp"
#include "velk/graph/description.hpp"
#include "velk/graph/expr.hpp"

namespace velk::graph {

/// One compiled value: a constant, or an expression evaluated at every control step
/// (then `value` holds the row default and is not read).
struct Arg {
    std::optional<expr::Expr> expr{};
    float value = 0.0f;
};

/// What name resolution needs while compiling: the modulator ids (owned, in
/// declaration order) and the parameter names (borrowed, slot order). Main thread.
class Compiler {
public:
    Compiler(std::vector<std::string> modulators, std::span<const std::string_view> params);

    /// The slot of `name`: a parameter's index, else P + a modulator's index, else nothing.
    /// Names compare byte for byte.
    std::optional<std::size_t> resolve(std::string_view name) const noexcept;
    /// `Expr::parse` with `resolve`; fails with the parser's message.
    Result<expr::Expr> parse(std::string_view text) const;
    /// Every parameter name, then every modulator id, joined by ", ".
    std::string names() const;

    std::span<const std::string_view> params() const noexcept { return params_; }
    std::span<const std::string> modulators() const noexcept { return modulators_; }

private:
    std::vector<std::string> modulators_;
    std::span<const std::string_view> params_;
};

/// The fixed argument rows of values that are not block arguments.
inline constexpr blocks::ArgInfo RATE_ROW{.name = "rate",
                                          .unit = "Hz",
                                          .doc = "How many cycles each second.",
                                          .min = 0.001f,
                                          .max = 200.0f,
                                          .default_value = 1.0f};
inline constexpr blocks::ArgInfo GAIN_ROW{
    .name = "gain_db", .unit = "dB", .doc = "", .min = -96.0f, .max = 48.0f};
inline constexpr blocks::ArgInfo VALUE_ROW{
    .name = "value", .unit = "", .doc = "", .min = 0.0f, .max = 1.0f};

/// The wave of a modulator.
enum class Shape : std::uint8_t { Sine = 0, Triangle = 1, Saw = 2, Square = 3, Random = 4 };

/// A low-frequency source whose value expressions read from its slot.
struct Modulator {
    Arg rate{}; ///< Cycles per second.
    float phase = 0.0f;
    float held = 0.0f;       ///< The random shape's current value.
    std::uint32_t state = 0; ///< xorshift32 state of the random shape.
    Shape shape = Shape::Sine;

    /// Sets the random generator and phase for declaration index `index` (from 0), as
    /// compiling and every prepare do.
    void seed(std::size_t index) noexcept;
    /// One control step: the output at the current phase, then the phase moves on by
    /// rate x 32 / sample rate. `rate_hz` is already sanitised. Audio thread.
    float advance(float rate_hz, float sample_rate) noexcept;
};

/// A block meter written into a parameter after every process call.
struct MeterBind {
    std::size_t meter = 0; ///< Index in the block's meter list.
    std::size_t param = 0; ///< Index in the parameter list.
};

/// A value set once per control step that moves linearly from the previous step's
/// value to the new one across the control period, reaching it on the last sample.
struct Fade {
    float start = 1.0f;
    float target = 1.0f;
    bool computed = false;

    /// Back to unity, without a glide from the first value set afterwards.
    void reset() noexcept { *this = Fade{}; }
    /// Takes a control step's value; the first one after a reset does not glide.
    void set(float value) noexcept;
    /// The factors of samples phase .. phase + len - 1 of the period into `out`.
    void factors(std::size_t phase, std::size_t len, float* out) const noexcept;
};

/// One delay line per channel, all of the same length, with a shared read position.
class DelayLines {
public:
    // Main thread: may allocate (not when the size is unchanged).
    /// `channels` lines of `length` zeros; the position goes back to 0.
    void reset(std::size_t channels, std::size_t length);

    // Audio thread: no allocation, no locks, no waits.
    std::size_t length() const noexcept { return length_; }
    /// Replaces the first `frame.len` samples of each row (up to the line count) with
    /// the samples from `length()` samples before, and moves the position on.
    void process(blocks::Frame& frame) noexcept;

private:
    std::vector<float> samples_; // line c at c * length_
    std::size_t channels_ = 0;
    std::size_t length_ = 0;
    std::size_t pos_ = 0;
};

class Node;
struct Branch;
struct MixNode;

/// Runs one catalogue block.
struct BlockNode {
    std::unique_ptr<blocks::Block> block{};
    std::vector<Arg> args{};     ///< One per row of the block's table, in order.
    std::vector<float> values{}; ///< The sanitised values of the last control step.
    std::vector<MeterBind> meters{};
    const blocks::BlockInfo* info = nullptr;
    /// The constant arguments' values are in place; from then on only expressions are
    /// evaluated at control steps.
    bool constants_set = false;
};

/// Runs its children one after another on the same frame.
struct ChainNode {
    std::vector<Node> nodes;
};

/// Runs every branch on a copy of its input and sums the results.
struct ParallelNode {
    std::vector<Branch> branches;
    blocks::Frame input{1};
    blocks::Frame sum{1};
};

/// One compiled node: a block, a chain, a parallel or a mix around another node.
/// Used by one thread at a time.
class Node {
public:
    using Body = std::variant<BlockNode, ChainNode, ParallelNode, std::unique_ptr<MixNode>>;

    explicit Node(Body body);
    Node(Node&&) noexcept;
    Node& operator=(Node&&) noexcept;
    ~Node();

    Body body;

    // Main thread: may allocate (not when channels and sample rate are unchanged).
    /// Prepares every block, sizes frames and alignment delays, and restarts glides.
    void prepare(std::size_t channels, float sample_rate);

    // Audio thread: no allocation, no locks, no waits.
    /// Evaluates and sanitises arguments, gains, mix and bypass; hands values to blocks.
    void control(const expr::Env& env) noexcept;
    /// What `control` does when every expression would give the value of the last
    /// call again: blocks get their stored values (those with a pure control are
    /// skipped) and glides take their stored targets. False when that changed
    /// nothing and never will until the next `control`: no block was called and every
    /// glide had settled.
    bool repeat_control() noexcept;
    /// Processes `frame` in place; `phase` is its start in the control period and
    /// `frame.len` is at most 32 - phase.
    void process(blocks::Frame& frame, std::size_t phase) noexcept;
    /// Samples of delay the node adds; meaningful after prepare.
    std::uint32_t latency() const noexcept;
    /// Samples the output may go on after silent input, for the values of `env`.
    std::uint32_t tail(const expr::Env& env) const noexcept;
    /// Writes every bound meter into its parameter (bindings past `params` are skipped).
    void write_meters(const ParamSet& params) const noexcept;
};

/// One element of a parallel node.
struct Branch {
    Node node;
    std::optional<expr::Expr> gain_db{}; ///< Level in decibels; none is unity.
    DelayLines lines{};                  ///< Aligns the branch with the slowest one.
    blocks::Frame frame{1};
    Fade gain{};
};

/// A node wrapped in a bypass, a dry/wet mix and a channel selection.
struct MixNode {
    Node inner;
    std::optional<expr::Expr> bypass{};
    std::optional<expr::Expr> mix{};
    std::optional<std::vector<std::size_t>> only{};
    blocks::Frame dry{1};
    DelayLines lines{}; ///< Delays the dry signal by the inner node's latency.
    Fade wet{};
    /// Per prepared channel: 1 when it receives the effect.
    std::vector<std::uint8_t> wet_channels{};
};

/// A compiled, runnable graph. Used by one thread at a time; copying is deleted.
class Graph {
public:
    /// Reads the description text and compiles it against the parameter names (the
    /// plug-in's ids in table order). Fails with one message. Main thread.
    static Result<Graph> from_str(std::string_view text, std::span<const std::string_view> params);
    /// Compiles a read description against the parameter names. Main thread.
    static Result<Graph> from_spec(const GraphSpec& spec, std::span<const std::string_view> params);

    /// Assembles a graph from compiled parts: `params` parameter slots come first in the
    /// environment, then one per modulator. One channel at 48000 Hz, tempo 120.
    Graph(Node root, std::vector<Modulator> modulators, std::size_t params);
    Graph(Graph&&) noexcept = default;
    Graph& operator=(Graph&&) noexcept = default;
    Graph(const Graph&) = delete;
    Graph& operator=(const Graph&) = delete;
    ~Graph() = default;

    // Main thread: may allocate (not when sample rate and channel count are unchanged).
    /// Sizes every frame and delay line for the setup's channel count (0 counts as 1)
    /// and sample rate (8000 to `MAX_SAMPLE_RATE`; NaN and infinities give 8000),
    /// clears them, prepares every block and restarts the control period, the
    /// modulators and all glides.
    void prepare(const ProcessSetup& setup);

    // Audio thread: no allocation, no locks, no waits.
    /// Processes the buffers in place in chunks that never cross a 32-sample control
    /// boundary, then writes the meters. Reads only the context's tempo.
    void process(const ParamSet& params, ChannelBuffers buffers,
                 const ProcessContext& context) noexcept;
    /// Samples of delay the graph adds.
    std::uint32_t latency_samples() const noexcept;
    /// Samples the output may go on after silent input at the current parameter
    /// values. Allocates only for an environment of more than 256 values.
    std::uint32_t tail_for(const ParamSet& params) const noexcept;

    const Node& root() const noexcept { return root_; }
    std::span<const Modulator> modulators() const noexcept { return modulators_; }
    /// Parameter slots, then modulator slots, as of the last control step.
    std::span<const float> env() const noexcept { return env_; }
    std::size_t param_count() const noexcept { return params_; }
    std::size_t channels() const noexcept { return channels_; }
    float sample_rate() const noexcept { return sample_rate_; }
    float tempo() const noexcept { return tempo_; }
    /// Samples since the last control boundary, 0 to 31.
    std::size_t control_position() const noexcept { return position_; }

private:
    void control_step(const ParamSet& params) noexcept;

    Node root_;
    std::vector<Modulator> modulators_;
    std::vector<float> env_;
    // The last answer of tail_for and what it was computed from: the tail depends
    // only on the slots that block arguments read, the sample rate and the tempo.
    std::vector<std::size_t> tail_slots_;
    mutable std::vector<float> tail_env_; // one per tail slot
    mutable float tail_rate_ = 0.0f;
    mutable float tail_bpm_ = 0.0f;
    mutable std::uint32_t tail_ = 0;
    mutable bool tail_known_ = false;
    bool has_tail_ = true; // false when every block's tail is always 0
    // The slots that any expression of the control step reads, and their values and
    // the tempo at the last full control step: while they hold, it is repeated.
    std::vector<std::size_t> control_slots_;
    std::vector<float> control_env_; // one per control slot
    float control_bpm_ = 0.0f;
    bool control_known_ = false;
    bool repeat_idle_ = false; // the last repeat changed nothing

    blocks::Frame frame_{1};
    std::size_t params_ = 0;
    std::size_t channels_ = 1;
    std::size_t position_ = 0;
    float sample_rate_ = 48000.0f;
    float tempo_ = 120.0f;
};

/// Compiles one node and everything below it; `path` locates it in messages.
Result<Node> compile_node(const NodeSpec& node, const Compiler& compiler, const std::string& path);

/// Compiles one value against `row`. A number or a constant expression must lie in
/// the row's range; a text may name a choice (trimmed, ASCII case-insensitive); a
/// fixed row refuses expressions that are not constant. `label` starts every message.
Result<Arg> compile_arg(const ArgValue& value, const blocks::ArgInfo& row, const Compiler& compiler,
                        const std::string& label);

} // namespace velk::graph
