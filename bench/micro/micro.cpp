// Micro-benchmarks of the hot paths: every block's process and control step, the
// compressor's whole graph at several host block sizes, and the dynamics block on
// its own under the same signal, which shows what the graph adds around it.
// Inputs are copied in before each processed block, as a host's buffers would be;
// the copy is part of every figure.

#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "halvex/halvex.hpp"
#include "velk/bench/signal.hpp"
#include "velk/blocks/block.hpp"
#include "velk/blocks/dynamics.hpp"
#include "velk/blocks/frame.hpp"
#include "velk/core/plugin.hpp"

namespace {

using velk::blocks::BlockInfo;
using velk::blocks::CONTROL_PERIOD;
using velk::blocks::Frame;

constexpr float RATE = velk::bench::SIGNAL_RATE;
constexpr std::size_t SIGNAL_FRAMES = 48000;

const std::vector<std::vector<float>>& signal(std::size_t channels) {
    static const auto mono = velk::bench::drum_signal(SIGNAL_FRAMES, 1);
    static const auto stereo = velk::bench::drum_signal(SIGNAL_FRAMES, 2);
    static const auto eight = velk::bench::drum_signal(SIGNAL_FRAMES, 8);
    return channels == 1 ? mono : channels == 2 ? stereo : eight;
}

// Time per item rather than items per second.
benchmark::Counter per_item(double items) {
    return benchmark::Counter(items, benchmark::Counter::kIsIterationInvariantRate |
                                         benchmark::Counter::kInvert);
}

std::vector<float> defaults(const BlockInfo& info) {
    std::vector<float> values;
    for (const auto& arg : info.args)
        values.push_back(arg.default_value);
    return values;
}

// One block with its default arguments, stereo at 48 kHz, fed 32-sample frames.
void block_process(benchmark::State& state, const BlockInfo* info) {
    constexpr std::size_t channels = 2;
    auto block = info->make();
    const std::vector<float> values = defaults(*info);
    block->configure(values);
    block->prepare(RATE, channels);
    block->control(values);
    Frame frame(channels);
    frame.len = CONTROL_PERIOD;
    const auto& in = signal(channels);
    std::size_t at = 0;
    for (auto _ : state) {
        for (std::size_t c = 0; c < channels; ++c)
            std::copy_n(in[c].data() + at, CONTROL_PERIOD, frame.row(c).data());
        block->process(frame, 0);
        benchmark::DoNotOptimize(frame.row(0).data());
        at = (at + CONTROL_PERIOD) % (SIGNAL_FRAMES - CONTROL_PERIOD);
    }
    state.counters["per_sample_channel"] = per_item(CONTROL_PERIOD * channels);
}

void block_control(benchmark::State& state, const BlockInfo* info) {
    auto block = info->make();
    const std::vector<float> values = defaults(*info);
    block->configure(values);
    block->prepare(RATE, 2);
    for (auto _ : state) {
        block->control(values);
        benchmark::ClobberMemory();
    }
}

// Halvex's graph with default parameters; range(0) frames per call, range(1) channels.
void halvex_graph(benchmark::State& state) {
    const auto frames = static_cast<std::size_t>(state.range(0));
    const auto channels = static_cast<std::size_t>(state.range(1));
    halvex::Halvex plugin;
    plugin.prepare({.max_frames = frames,
                    .sample_rate = RATE,
                    .channels = static_cast<std::uint32_t>(channels)});
    velk::ProcessContext context;
    context.sample_rate = RATE;
    const auto& in = signal(channels);
    std::vector<std::vector<float>> buffers(channels, std::vector<float>(frames));
    velk::ChannelList list;
    std::size_t at = 0;
    for (auto _ : state) {
        for (std::size_t c = 0; c < channels; ++c) {
            std::copy_n(in[c].data() + at, frames, buffers[c].data());
            list.push(buffers[c]);
        }
        plugin.process(list.runs(), context);
        list.clear();
        benchmark::DoNotOptimize(buffers[0].data());
        at = (at + frames) % (SIGNAL_FRAMES - frames);
    }
    state.counters["per_frame"] = per_item(static_cast<double>(frames));
}

// The dynamics block with Halvex's settings on its own: a control step every 32
// samples and nothing else, 512 frames per iteration, range(0) channels.
void dynamics_alone(benchmark::State& state) {
    constexpr std::size_t frames = 512;
    const auto channels = static_cast<std::size_t>(state.range(0));
    velk::blocks::Dynamics block;
    const std::vector<float> values = defaults(velk::blocks::dynamics::INFO);
    block.configure(values);
    block.prepare(RATE, channels);
    Frame frame(channels);
    frame.len = CONTROL_PERIOD;
    const auto& in = signal(channels);
    std::size_t at = 0;
    for (auto _ : state) {
        for (std::size_t done = 0; done < frames; done += CONTROL_PERIOD) {
            block.control(values);
            for (std::size_t c = 0; c < channels; ++c)
                std::copy_n(in[c].data() + at + done, CONTROL_PERIOD, frame.row(c).data());
            block.process(frame, 0);
            benchmark::DoNotOptimize(frame.row(0).data());
        }
        at = (at + frames) % (SIGNAL_FRAMES - frames);
    }
    state.counters["per_frame"] = per_item(frames);
}

const bool registered = [] {
    for (const BlockInfo* info : velk::blocks::catalogue()) {
        benchmark::RegisterBenchmark(("BlockProcess/" + std::string(info->name)).c_str(),
                                     block_process, info);
        benchmark::RegisterBenchmark(("BlockControl/" + std::string(info->name)).c_str(),
                                     block_control, info);
    }
    auto* graph = benchmark::RegisterBenchmark("HalvexGraph", halvex_graph);
    graph->ArgNames({"frames", "channels"});
    for (long frames : {32, 128, 512, 4096})
        graph->Args({frames, 2});
    for (long channels : {1, 8})
        graph->Args({128, channels});
    benchmark::RegisterBenchmark("DynamicsAlone", dynamics_alone)
        ->ArgName("channels")
        ->Arg(1)
        ->Arg(2)
        ->Arg(8);
    return true;
}();

} // namespace

BENCHMARK_MAIN();
