#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "velk/core/param.hpp"
#include "velk/core/plugin.hpp"
#include "velk/graph/graph.hpp"

namespace halvex {

/// Parameter indices in table order (also the order in the ParamSet and saved state).
inline constexpr std::size_t THRESHOLD = 0;
inline constexpr std::size_t RATIO = 1;
inline constexpr std::size_t KNEE = 2;
inline constexpr std::size_t ATTACK = 3;
inline constexpr std::size_t RELEASE = 4;
inline constexpr std::size_t MAKEUP = 5;
inline constexpr std::size_t MIX = 6;
inline constexpr std::size_t BYPASS = 7;
inline constexpr std::size_t GR = 8;

/// Per-channel capacity of the parameter set: the most channels a host can give.
inline constexpr std::size_t CHANNEL_CAPACITY = 64;

/// The nine parameters: threshold, ratio, knee, attack, release, makeup, mix, bypass
/// and the meter gr. Constant data; any thread.
std::span<const velk::ParamInfo> param_table() noexcept;

/// The graph description: one compressor-mode dynamics block in a bypass and a mix,
/// its gain reduction metered into gr. Constant text; any thread.
std::string_view description() noexcept;

/// The holder of the compiled graph.
class State {
public:
    /// Compiles `text` against the parameter ids in table order. The text is constant,
    /// so failure means broken constant data: it stops fatally with "the graph was
    /// checked against the parameters when it was set: " and the compiler's message.
    /// Main thread.
    explicit State(std::string_view text = description());

    velk::graph::Graph& graph() noexcept { return graph_; }
    const velk::graph::Graph& graph() const noexcept { return graph_; }

private:
    velk::graph::Graph graph_;
};

/// The compressor: its parameters and its graph. Knows no host format; an adapter
/// owns it and drives it through the `Plugin` contract.
class Halvex final : public velk::Plugin {
public:
    /// Builds the parameter set (capacity 64) and compiles the graph. Main thread.
    Halvex();

    // Main thread: may allocate.
    velk::ParamSet params() const override { return params_; }
    /// Prepares the graph for the setup's sample rate and channel count.
    void prepare(const velk::ProcessSetup& setup) override;

    // Audio thread: no allocation, no locks, no waits.
    void process(velk::ChannelBuffers channels,
                 const velk::ProcessContext& context) noexcept override;
    /// The graph's latency: 0, as the dynamics block has no lookahead.
    std::uint32_t latency_samples() noexcept override;
    /// The graph's tail at the current parameter values: 0.
    std::uint32_t tail_samples() noexcept override;

    const State& state() const noexcept { return state_; }

private:
    velk::ParamSet params_;
    State state_;
};

} // namespace halvex
