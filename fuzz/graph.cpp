// A graph description compiled against a few parameters and, when it compiles, run
// the way a plug-in runs it. The input is the description text, optionally followed
// by a NUL byte and a script: which parameter set to run with (the whole list the
// graph was compiled against, or a shorter one), a sample rate and a channel count
// to prepare with, then steps that process blocks of audio (any length, any number
// of buffers, even of unequal lengths, any tempo, any signal), write parameters
// (NaN and infinities included), ask latency and tail, or prepare again. A refused
// description carries one of the compiler's messages. Processing, latency and tail
// allocate nothing; buffers beyond the graph's channels are left alone; and a small
// graph fed a finite signal no louder than full scale puts out finite samples.

#include "velk/graph/graph.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string_view>
#include <variant>
#include <vector>

#include "support/bytes.hpp"
#include "support/check.hpp"
#include "velk/core/param.hpp"
#include "velk/core/plugin.hpp"
#include "velk/test/alloc.hpp"

namespace {

using velk::Kind;
using velk::ParamInfo;
using velk::ParamSet;
using velk::fuzz::Bytes;
using velk::graph::Graph;
using velk::graph::Node;

constexpr float INF = std::numeric_limits<float>::infinity();
constexpr float NaN = std::numeric_limits<float>::quiet_NaN();

// Two parameters without bounds, so that infinities reach the expressions.
constexpr std::array<ParamInfo, 5> PARAMS{{
    {.id = "threshold", .min = -INF, .max = INF, .default_value = -18.0f},
    {.id = "mix", .min = 0.0f, .max = 1.0f, .default_value = 1.0f},
    {.id = "x", .min = -INF, .max = INF},
    {.id = "on", .kind = Kind::Toggle},
    {.id = "gr", .max = 30.0f, .kind = Kind::Meter},
}};
constexpr std::array<std::string_view, 5> NAMES{"threshold", "mix", "x", "on", "gr"};

constexpr std::size_t MAX_CHANNELS = 8;
constexpr std::size_t MAX_BUFFERS = MAX_CHANNELS + 1;
constexpr std::size_t MAX_STEPS = 48;
constexpr std::size_t MAX_PREPARES = 4;
// Keeps one input quick: samples per channel over all blocks.
constexpr std::size_t MAX_SAMPLES = 1 << 15;
// Delay lines a description may ask for grow with the sample rate and the channel
// count; past this many bytes the input's own rate is not used (the size follows
// the description, which a plug-in fixes, not the host).
constexpr double MEMORY_BUDGET = 256.0 * 1024 * 1024;
// Graphs with at most this many nodes cannot amplify full scale past the float range.
constexpr std::size_t SMALL_GRAPH = 6;

constexpr float RATES[] = {48000.0f, 44100.0f, 8000.0f, 7999.0f,   1.0f,      0.0f, -48000.0f,
                           NaN,      INF,      -INF,    192000.0f, 768000.0f, 1e7f, 1e38f};
constexpr float VALUES[] = {NaN,   INF,    -INF,   0.0f,  1.0f,   -1.0f,  0.5f,
                            1e30f, -1e30f, 1e-40f, 48.0f, -96.0f, 100.0f, 4000.0f};
constexpr float TEMPOS[] = {NaN, 120.0f, 19.9f, 20.0f, 0.0f, -1.0f, INF, 1e9f, 300.0f};

float raw_float(Bytes& in) noexcept {
    return in.f32();
}

struct Shape {
    std::size_t nodes = 0;
    double delay_seconds = 0.0; // summed longest delay of every block with a line
};

void measure(const Node& node, Shape& shape) {
    ++shape.nodes;
    if (const auto* block = std::get_if<velk::graph::BlockNode>(&node.body)) {
        // The fixed maximum time of a delay, or a dynamics lookahead (10 ms at most).
        if (block->info->name == "delay")
            shape.delay_seconds += 4.0;
        else if (block->info->name == "dynamics")
            shape.delay_seconds += 0.01;
    } else if (const auto* chain = std::get_if<velk::graph::ChainNode>(&node.body)) {
        for (const Node& child : chain->nodes)
            measure(child, shape);
    } else if (const auto* parallel = std::get_if<velk::graph::ParallelNode>(&node.body)) {
        for (const velk::graph::Branch& branch : parallel->branches)
            measure(branch.node, shape);
    } else {
        measure(std::get<std::unique_ptr<velk::graph::MixNode>>(node.body)->inner, shape);
    }
}

// Every refusal starts like one of the description reader's or the compiler's messages.
bool known_message(std::string_view message) {
    constexpr std::string_view starts[] = {
        "the graph is not valid JSON: ", "graph", "modulators",  "the modulator '",
        "two modulators are called '",   "'",     "modulator '",
    };
    return std::any_of(std::begin(starts), std::end(starts),
                       [&](std::string_view s) { return message.starts_with(s); });
}

class Run {
public:
    // The set may hold fewer parameters than the graph was compiled against: the
    // missing slots and meter bindings must be left alone.
    Run(Graph& graph, const Shape& shape, std::size_t params)
        : graph_(graph),
          shape_(shape),
          params_(ParamSet::with_channels(std::span(PARAMS).first(params), 1)) {}

    void prepare(Bytes& in) {
        float rate = in.pick(RATES, raw_float);
        const auto channels = static_cast<std::uint32_t>(1 + in.u8() % MAX_CHANNELS);
        // The rate the graph will use, to weigh what its delay lines take.
        const double used = std::isfinite(rate)
                                ? std::clamp(static_cast<double>(rate), 8000.0,
                                             static_cast<double>(velk::MAX_SAMPLE_RATE))
                                : 8000.0;
        if (used * channels * shape_.delay_seconds * sizeof(float) > MEMORY_BUDGET)
            rate = 48000.0f;
        graph_.prepare({.max_frames = 4096, .sample_rate = rate, .channels = channels});
        VELK_FUZZ_CHECK(graph_.channels() == channels);
        VELK_FUZZ_CHECK(graph_.sample_rate() >= 8000.0f && std::isfinite(graph_.sample_rate()));
        VELK_FUZZ_CHECK(graph_.control_position() == 0);
        heard_wild_ = false;
    }

    void step(Bytes& in) {
        switch (in.u8() % 5) {
        case 0:
        case 1:
            process(in);
            break;
        case 2:
            params_.at(in.u8() % params_.len()).set(in.pick(VALUES, raw_float));
            break;
        case 3:
            ask();
            break;
        default:
            if (prepares_++ < MAX_PREPARES)
                prepare(in);
            break;
        }
    }

private:
    void process(Bytes& in) {
        const std::size_t frames = std::min<std::size_t>(in.u16() % 2049, MAX_SAMPLES - samples_);
        samples_ += frames;
        const std::size_t count = in.u8() % (MAX_BUFFERS + 1);
        const std::uint8_t signal = in.u8();
        velk::ProcessContext context;
        if (const std::uint8_t t = in.u8(); t != 0)
            context.tempo = static_cast<double>(in.pick(TEMPOS, raw_float));

        // One allocation per buffer, exactly as long as the block, so that the address
        // sanitizer sees a read or write past its end.
        std::vector<std::vector<float>> audio(count);
        bool tame = true; // finite and no louder than full scale
        for (std::size_t c = 0; c < count; ++c) {
            // Ragged: buffers after the first may be shorter than it, which the graph
            // must not read or write past.
            const std::size_t cut = (signal & 0x80) != 0 && c > 0 ? (c * 7) % (frames + 1) : 0;
            audio[c].resize(frames - cut);
            for (std::size_t j = 0; j < audio[c].size(); ++j) {
                audio[c][j] = sample(signal, c, j);
                tame = tame && std::fabs(audio[c][j]) <= 1.0f;
            }
        }
        const std::size_t used = std::min(count, graph_.channels());
        const std::vector<std::vector<float>> beyond(audio.begin() + static_cast<long>(used),
                                                     audio.end());
        const float meter_before = params_.at(params_.len() - 1).get();

        velk::ChannelList list;
        for (std::vector<float>& channel : audio)
            list.push(channel);
        {
            const velk::test::NoAllocScope scope;
            graph_.process(params_, list.runs(), context);
            if (velk::test::counting_allocations())
                VELK_FUZZ_CHECK(scope.count() == 0);
        }

        for (std::size_t c = used; c < count; ++c)
            VELK_FUZZ_CHECK(std::equal(
                audio[c].begin(), audio[c].end(), beyond[c - used].begin(), [](float a, float b) {
                    return std::bit_cast<std::uint32_t>(a) == std::bit_cast<std::uint32_t>(b);
                }));
        if (used == 0)
            VELK_FUZZ_CHECK(std::bit_cast<std::uint32_t>(params_.at(params_.len() - 1).get()) ==
                            std::bit_cast<std::uint32_t>(meter_before));
        // A non-finite sample stays in delay lines and filter states until the next
        // prepare; until then later output may carry it.
        heard_wild_ = heard_wild_ || !tame;
        if (!heard_wild_ && shape_.nodes <= SMALL_GRAPH)
            for (std::size_t c = 0; c < used; ++c)
                for (float x : audio[c])
                    VELK_FUZZ_CHECK(std::isfinite(x));
    }

    void ask() {
        const velk::test::NoAllocScope scope;
        static_cast<void>(graph_.latency_samples());
        static_cast<void>(graph_.tail_for(params_));
        if (velk::test::counting_allocations() && graph_.env().size() <= 256)
            VELK_FUZZ_CHECK(scope.count() == 0);
    }

    // A test signal: silence, a tone, noise, an impulse, full-scale DC, subnormals,
    // huge values, or noise with NaN and infinities mixed in.
    float sample(std::uint8_t signal, std::size_t channel, std::size_t j) {
        noise_ = noise_ * 1664525u + 1013904223u;
        const float white = static_cast<float>(noise_ >> 8) * 0x1p-23f - 1.0f;
        switch (signal % 8) {
        case 0:
            return 0.0f;
        case 1:
            return 0.5f * std::sin(static_cast<float>(j + 7 * channel) * 0.05f);
        case 2:
            return white;
        case 3:
            return j == 0 ? 1.0f : 0.0f;
        case 4:
            return 1.0f;
        case 5:
            return white * 1e-39f;
        case 6:
            return white * 1e30f;
        default:
            return (noise_ & 0xF000) == 0 ? ((noise_ & 1) ? NaN : -INF) : white;
        }
    }

    Graph& graph_;
    const Shape& shape_;
    ParamSet params_;
    std::size_t prepares_ = 0;
    bool heard_wild_ = false; // a non-finite or louder than full-scale sample since prepare
    std::size_t samples_ = 0;
    std::uint32_t noise_ = 1;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto [text, script] = velk::fuzz::split_text(data, size);
    velk::Result<Graph> graph = Graph::from_str(text, NAMES);
    if (!graph.ok()) {
        VELK_FUZZ_CHECK(known_message(graph.error()));
        return 0;
    }
    Shape shape;
    measure(graph->root(), shape);

    Bytes in(script);
    Run run(*graph, shape, in.u8() % 8 == 7 ? 2 : PARAMS.size());
    run.prepare(in);
    for (std::size_t i = 0; i < MAX_STEPS && !in.done(); ++i)
        run.step(in);
    return 0;
}
