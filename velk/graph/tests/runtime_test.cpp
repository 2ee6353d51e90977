#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "velk/blocks/delay.hpp"
#include "velk/core/param.hpp"
#include "velk/core/plugin.hpp"
#include "velk/graph/graph.hpp"
#include "velk/test/alloc.hpp"
#include "velk/test/runner.hpp"

#include <gtest/gtest.h>

namespace {

using namespace velk::graph;
using velk::ParamSet;
using velk::ProcessContext;
using velk::ProcessSetup;
using velk::blocks::Frame;

using Signal = std::vector<std::vector<float>>;

constexpr float NAN_F = std::numeric_limits<float>::quiet_NaN();

constexpr std::array<velk::ParamInfo, 6> TABLE{{
    {.id = "x", .name = "X", .min = -100.0f, .max = 100.0f},
    {.id = "mix", .name = "Mix", .default_value = 1.0f},
    {.id = "bypass", .name = "Bypass", .kind = velk::Kind::Toggle},
    {.id = "g", .name = "G", .min = -200.0f, .max = 200.0f},
    {.id = "t", .name = "T", .min = 0.0f, .max = 5000.0f, .default_value = 250.0f},
    {.id = "gr", .name = "GR", .max = 100.0f, .kind = velk::Kind::Meter},
}};
constexpr std::array<std::string_view, 6> NAMES = {"x", "mix", "bypass", "g", "t", "gr"};
constexpr std::size_t X = 0, MIX = 1, BYPASS = 2, G = 3, T = 4, GR = 5;

// A dynamics block that only delays: 64 samples of lookahead at 64000 Hz, and a
// threshold no test signal reaches.
constexpr std::string_view LOOKAHEAD =
    R"j({"block":"dynamics","args":{"threshold_db":0,"lookahead_ms":1}})j";
constexpr float LOOKAHEAD_RATE = 64000.0f;

Graph compile(std::string_view text) {
    auto graph = Graph::from_str(text, NAMES);
    EXPECT_TRUE(graph.ok()) << text << ": " << graph.error();
    if (!graph.ok())
        return Graph(Node(ChainNode{}), {}, NAMES.size());
    return std::move(graph).value();
}

std::string with(std::string_view text, std::string_view a, std::string_view b = {}) {
    std::string out(text);
    for (std::string_view part : {a, b}) {
        if (part.empty())
            continue;
        const auto at = out.find('@');
        out.replace(at, 1, part);
    }
    return out;
}

/// A graph, its parameters and an adapter-like driver.
struct Rig {
    explicit Rig(std::string_view text, std::uint32_t channels = 1, float rate = 48000.0f)
        : graph(compile(text)) {
        graph.prepare({.max_frames = 512, .sample_rate = rate, .channels = channels});
    }

    /// Processes `audio` in place as one host block per entry of `blocks` (cycling).
    void run(Signal& audio, std::span<const std::size_t> blocks = {}) {
        Driver driver{*this};
        const std::array<std::size_t, 1> whole{audio.empty() ? 1 : audio[0].size()};
        velk::test::run_in_blocks(driver, audio, context,
                                  blocks.empty() ? std::span<const std::size_t>(whole) : blocks);
    }

    /// One call with exactly the given buffers.
    void call(std::span<const std::span<float>> buffers) {
        graph.process(params, buffers, context);
    }

    struct Driver {
        Rig& rig;
        void process(velk::ChannelBuffers channels, const ProcessContext& ctx) noexcept {
            rig.graph.process(rig.params, channels, ctx);
        }
    };

    ParamSet params = ParamSet::with_channels(TABLE, 64);
    Graph graph;
    ProcessContext context{};
};

Signal impulse(std::size_t channels, std::size_t length, float height = 0.5f) {
    Signal s(channels, std::vector<float>(length, 0.0f));
    for (auto& ch : s)
        ch[0] = height;
    return s;
}

Signal noise(std::size_t channels, std::size_t length, unsigned seed) {
    std::mt19937 gen(seed);
    std::uniform_real_distribution<float> dist(-0.9f, 0.9f);
    Signal s(channels, std::vector<float>(length));
    for (auto& ch : s)
        for (float& v : ch)
            v = dist(gen);
    return s;
}

// The positions and values of the nonzero samples of one channel.
std::vector<std::pair<std::size_t, float>> nonzero(const std::vector<float>& ch) {
    std::vector<std::pair<std::size_t, float>> out;
    for (std::size_t i = 0; i < ch.size(); ++i)
        if (ch[i] != 0.0f)
            out.emplace_back(i, ch[i]);
    return out;
}

// Records what a block is asked to do.
struct Event {
    bool control = false;
    std::size_t len = 0;
    std::size_t phase = 0;
    bool operator==(const Event&) const = default;
};
constexpr Event CONTROL{true, 0, 0};
constexpr Event chunk(std::size_t len, std::size_t phase) {
    return {false, len, phase};
}

class Recorder final : public velk::blocks::Block {
public:
    explicit Recorder(std::vector<Event>* log) : log_(log) {}
    void prepare(float, std::size_t) override {}
    void control(std::span<const float>) noexcept override { log_->push_back(CONTROL); }
    void process(Frame& frame, std::size_t phase) noexcept override {
        log_->push_back(chunk(frame.len, phase));
    }

private:
    std::vector<Event>* log_;
};

const velk::blocks::BlockInfo RECORDER{.name = "recorder", .doc = ""};

Node recorder(std::vector<Event>* log) {
    BlockNode node;
    node.block = std::make_unique<Recorder>(log);
    node.info = &RECORDER;
    return Node(std::move(node));
}

TEST(Runtime, ChunksNeverCrossAControlBoundary) {
    std::vector<Event> log;
    log.reserve(64);
    Graph graph(recorder(&log), {}, 0);
    const ParamSet params = ParamSet::with_channels(TABLE, 1);
    graph.prepare({.max_frames = 100, .sample_rate = 48000.0f, .channels = 1});
    std::vector<float> audio(100);
    const std::array<std::span<float>, 1> buffers{std::span<float>(audio)};

    graph.process(params, buffers, {});
    EXPECT_EQ(log, (std::vector<Event>{CONTROL, chunk(32, 0), CONTROL, chunk(32, 0), CONTROL,
                                       chunk(32, 0), CONTROL, chunk(4, 0)}));
    EXPECT_EQ(graph.control_position(), 4u);

    log.clear();
    graph.process(params, buffers, {});
    EXPECT_EQ(log, (std::vector<Event>{chunk(28, 4), CONTROL, chunk(32, 0), CONTROL, chunk(32, 0),
                                       CONTROL, chunk(8, 0)}));

    // A prepare restarts the control period.
    log.clear();
    graph.prepare({.max_frames = 100, .sample_rate = 48000.0f, .channels = 1});
    graph.process(params, std::array<std::span<float>, 1>{std::span<float>(audio).first(3)}, {});
    EXPECT_EQ(log, (std::vector<Event>{CONTROL, chunk(3, 0)}));
}

TEST(Runtime, TempoAndEmptyCalls) {
    Rig rig(R"j({"block":"dynamics","meters":{"gain_reduction_db":"gr"}})j");
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        std::optional<double> tempo;
        float expected;
    };
    const Case cases[] = {{std::nullopt, 120.0f}, {19.9, 120.0f}, {20.0, 20.0f},  {140.5, 140.5f},
                          {nan, 120.0f},          {inf, 120.0f},  {1e300, 120.0f}};
    std::vector<float> empty;
    const std::array<std::span<float>, 1> zero_length{std::span<float>(empty)};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        rig.context.tempo = c.tempo;
        rig.params.at(GR).set(7.0f);
        // No buffers: nothing at all happens, not even meters or the tempo.
        const float before = rig.graph.tempo();
        rig.call({});
        EXPECT_EQ(rig.params.at(GR).get(), 7.0f);
        EXPECT_EQ(rig.graph.tempo(), before);
        // A block of 0 samples reads the tempo and writes the meters.
        rig.call(zero_length);
        EXPECT_EQ(rig.graph.tempo(), c.expected);
        EXPECT_EQ(rig.params.at(GR).get(), 0.0f);
        EXPECT_EQ(rig.graph.control_position(), 0u);
        rig.graph.prepare({.sample_rate = 48000.0f, .channels = 1}); // keeps the tempo
        EXPECT_EQ(rig.graph.tempo(), c.expected);
    }
}

TEST(Runtime, TempoReachesExpressions) {
    // sync(1) at 60 bpm is 1000 ms; the delay's tail follows it.
    Rig rig(R"j({"block":"delay","args":{"time_ms":"sync(1)","feedback":0}})j");
    const std::uint32_t at_120 = rig.graph.tail_for(rig.params);
    rig.context.tempo = 60.0;
    Signal audio = impulse(1, 32);
    rig.run(audio);
    EXPECT_EQ(rig.graph.tempo(), 60.0f);
    EXPECT_GT(rig.graph.tail_for(rig.params), at_120);
}

TEST(Runtime, ChannelsBeyondEitherSideAreLeftAlone) {
    Rig rig(R"j({"block":"stereo","args":{"mode":"swap"}})j", 2);
    std::vector<float> a(40, 1.0f), b(40, 2.0f), c(40, 3.0f);
    const std::array<std::span<float>, 3> three{std::span<float>(a), std::span<float>(b),
                                                std::span<float>(c)};
    rig.call(three);
    EXPECT_EQ(a, std::vector<float>(40, 2.0f));
    EXPECT_EQ(b, std::vector<float>(40, 1.0f));
    EXPECT_EQ(c, std::vector<float>(40, 3.0f)); // past the prepared channels

    // With one buffer the graph's second channel is silent and not written out.
    std::fill(a.begin(), a.end(), 1.0f);
    rig.call(std::array<std::span<float>, 1>{std::span<float>(a)});
    EXPECT_EQ(a, std::vector<float>(40, 0.0f));

    // A buffer shorter than the first limits the block instead of being overrun.
    std::fill(a.begin(), a.end(), 1.0f);
    std::fill(b.begin(), b.end(), 2.0f);
    rig.call(std::array<std::span<float>, 2>{std::span<float>(a), std::span<float>(b).first(10)});
    EXPECT_EQ(a[9], 2.0f);
    EXPECT_EQ(a[10], 1.0f);
}

TEST(Runtime, PrepareSanitisesTheSetup) {
    Graph graph = compile(R"j({"chain":[]})j");
    struct Case {
        float rate;
        std::uint32_t channels;
        float expected_rate;
        std::size_t expected_channels;
    };
    const Case cases[] = {{44100.0f, 2, 44100.0f, 2},
                          {7999.0f, 0, 8000.0f, 1},
                          {NAN_F, 3, 8000.0f, 3},
                          {std::numeric_limits<float>::infinity(), 1, 8000.0f, 1},
                          {velk::MAX_SAMPLE_RATE, 1, velk::MAX_SAMPLE_RATE, 1},
                          {1e9f, 1, velk::MAX_SAMPLE_RATE, 1},
                          {std::numeric_limits<float>::max(), 1, velk::MAX_SAMPLE_RATE, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rate);
        graph.prepare({.sample_rate = c.rate, .channels = c.channels});
        EXPECT_EQ(graph.sample_rate(), c.expected_rate);
        EXPECT_EQ(graph.channels(), c.expected_channels);
    }
}

// Delay lines grow with the sample rate: a huge rate from a host must neither
// overflow their length nor take unbounded memory. It runs as the highest rate.
TEST(Runtime, HugeSampleRatesKeepDelayLinesBounded) {
    Rig rig(R"j({"chain":[{"block":"delay","args":{"time_ms":1,"feedback":0,"max_ms":4000}},
        {"block":"dynamics","args":{"threshold_db":0,"lookahead_ms":10}}]})j",
            2, std::numeric_limits<float>::max());
    EXPECT_EQ(rig.graph.sample_rate(), velk::MAX_SAMPLE_RATE);
    EXPECT_EQ(rig.graph.latency_samples(), 7680u); // 10 ms
    Signal audio = impulse(2, 9000);
    rig.run(audio);
    // 1 ms of delay and 10 ms of lookahead at the highest rate: 768 + 7680 samples.
    const auto heard = nonzero(audio[1]);
    ASSERT_FALSE(heard.empty());
    EXPECT_NEAR(static_cast<double>(heard.front().first), 8448.0, 2.0);
}

TEST(Runtime, MixGlidesAcrossOnePeriodAndStartsWithoutGlide) {
    // The inner node turns 1 into -1, so the output is 1 - 2 x wet.
    Rig rig(R"j({"block":"gain","args":{"invert":"on"},"mix":"mix"})j");
    Signal audio(1, std::vector<float>(96, 1.0f));
    rig.params.at(MIX).set(0.25f);
    Signal first(1, std::vector<float>(32, 1.0f));
    rig.run(first);
    EXPECT_EQ(first[0], std::vector<float>(32, 0.5f)); // no glide up from 1

    rig.params.at(MIX).set(1.0f);
    Signal second(1, std::vector<float>(32, 1.0f));
    rig.run(second);
    for (std::size_t j = 0; j < 32; ++j) {
        const float wet = 0.25f + 0.75f * static_cast<float>(j + 1) / 32.0f;
        EXPECT_NEAR(second[0][j], 1.0f - 2.0f * wet, 1e-6f) << j;
    }
    EXPECT_EQ(second[0][31], -1.0f);

    rig.params.at(MIX).set(0.0f);
    rig.run(audio);
    EXPECT_LT(audio[0][0], 0.0f);
    EXPECT_EQ(audio[0][31], 1.0f); // the target exactly on the period's last sample
    EXPECT_EQ(std::vector<float>(audio[0].begin() + 31, audio[0].end()),
              std::vector<float>(65, 1.0f));
}

TEST(Runtime, MixAmountIsSanitised) {
    Rig rig(R"j({"block":"gain","args":{"invert":"on"},"mix":"x / 10","bypass":"g"})j");
    struct Case {
        float x;
        float g;
        float out; // 1 - 2 x wet
    };
    const Case cases[] = {
        {5.0f, 0.0f, 0.0f},  {-3.0f, 0.0f, 1.0f}, {30.0f, 0.0f, -1.0f},
        {5.0f, 0.49f, 0.0f}, {5.0f, 0.5f, 1.0f},  {5.0f, 100.0f, 1.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.x << " " << c.g);
        rig.params.at(X).set(c.x);
        rig.params.at(G).set(c.g);
        rig.graph.prepare({.sample_rate = 48000.0f, .channels = 1});
        Signal audio(1, std::vector<float>(32, 1.0f));
        rig.run(audio);
        EXPECT_EQ(audio[0], std::vector<float>(32, c.out));
    }
}

TEST(Runtime, NonFiniteMixAndBypassValues) {
    // Division by zero gives 0 in the language: NaN comes from pow, infinities from
    // overflow.
    Rig rig(
        R"j({"block":"gain","args":{"invert":"on"},"mix":"if(g < 0.5, pow(-1, x), x * 1e38 * 10)",
                "bypass":"if(g > 1.5, pow(-1, 0.5), 0)"})j");
    struct Case {
        float x;
        float g;
        float out;
    };
    const Case cases[] = {
        {0.5f, 0.0f, -1.0f},  // NaN mix: fully wet
        {1.0f, 1.0f, -1.0f},  // +inf mix: fully wet
        {-1.0f, 1.0f, -1.0f}, // -inf mix: fully wet too
        {1.0f, 2.0f, 1.0f},   // NaN bypass bypasses
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.x << " " << c.g);
        rig.params.at(X).set(c.x);
        rig.params.at(G).set(c.g);
        rig.graph.prepare({.sample_rate = 48000.0f, .channels = 1});
        Signal audio(1, std::vector<float>(32, 1.0f));
        rig.run(audio);
        EXPECT_EQ(audio[0], std::vector<float>(32, c.out));
    }
}

TEST(Runtime, FullyDryInnerNodeIsNotRun) {
    std::vector<Event> log;
    log.reserve(64);
    const Compiler compiler({}, NAMES);
    auto mix = std::make_unique<MixNode>(
        MixNode{.inner = recorder(&log), .bypass = compiler.parse("bypass").value()});
    Graph graph(Node(std::move(mix)), {}, NAMES.size());
    ParamSet params = ParamSet::with_channels(TABLE, 1);
    graph.prepare({.sample_rate = 48000.0f, .channels = 1});
    std::vector<float> audio(32);
    const std::array<std::span<float>, 1> buffers{std::span<float>(audio)};

    graph.process(params, buffers, {});
    params.at(BYPASS).set(1.0f);
    graph.process(params, buffers, {}); // glides to dry: still run
    graph.process(params, buffers, {});
    EXPECT_EQ(log, (std::vector<Event>{CONTROL, chunk(32, 0), CONTROL, chunk(32, 0), CONTROL}));

    // Bypassed from the first control step after prepare: never run.
    log.clear();
    graph.prepare({.sample_rate = 48000.0f, .channels = 1});
    graph.process(params, buffers, {});
    EXPECT_EQ(log, (std::vector<Event>{CONTROL}));
}

TEST(Runtime, MixDelaysTheDryPathByTheInnerLatency) {
    Rig rig(with(R"j({"chain":[@],"mix":0.5})j", LOOKAHEAD), 1, LOOKAHEAD_RATE);
    EXPECT_EQ(rig.graph.latency_samples(), 64u);
    Signal audio = impulse(1, 200);
    rig.run(audio);
    EXPECT_EQ(nonzero(audio[0]), (std::vector<std::pair<std::size_t, float>>{{64, 0.5f}}));
}

TEST(Runtime, ParallelBranchesAreAligned) {
    const std::string parallel = with(
        R"j({"parallel":[{"node":{"block":"gain"},"gain_db":-6.0206},{"node":@}]})j", LOOKAHEAD);
    Rig rig(parallel, 1, LOOKAHEAD_RATE);
    EXPECT_EQ(rig.graph.latency_samples(), 64u);
    Signal audio = impulse(1, 200);
    rig.run(audio, velk::test::UNEVEN_BLOCKS);
    const auto hits = nonzero(audio[0]);
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(hits[0].first, 64u);
    EXPECT_NEAR(hits[0].second, 0.75f, 1e-5f);

    Rig chain(with(R"j({"chain":[@,@]})j", parallel, parallel), 1, LOOKAHEAD_RATE);
    EXPECT_EQ(chain.graph.latency_samples(), 128u);
    Signal twice = impulse(1, 300);
    chain.run(twice);
    const auto hits2 = nonzero(twice[0]);
    ASSERT_EQ(hits2.size(), 1u);
    EXPECT_EQ(hits2[0].first, 128u);
    EXPECT_NEAR(hits2[0].second, 1.125f, 1e-5f); // 0.75 x (0.5 + 1)
}

TEST(Runtime, OnlySelectsTheProcessedChannels) {
    struct Case {
        const char* only;
        float left;
        float right;
    };
    const Case cases[] = {{"[1]", 0.5f, -0.5f},
                          {"[0,0]", -0.5f, 0.5f},
                          {"[5]", 0.5f, 0.5f},
                          {"[]", 0.5f, 0.5f},
                          {"[1,0]", -0.5f, -0.5f}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.only);
        const std::string text =
            with(R"j({"chain":[@,{"block":"gain","args":{"invert":"on"}}],"only":@})j", LOOKAHEAD,
                 c.only);
        Rig rig(text, 2, LOOKAHEAD_RATE);
        Signal audio = impulse(2, 160);
        rig.run(audio);
        using Hits = std::vector<std::pair<std::size_t, float>>;
        EXPECT_EQ(nonzero(audio[0]), (Hits{{64, c.left}}));
        EXPECT_EQ(nonzero(audio[1]), (Hits{{64, c.right}}));
    }
}

TEST(Runtime, BranchGainIsClampedAndSanitised) {
    Rig rig(R"j({"parallel":[{"node":{"chain":[]},"gain_db":"if(x > 50, pow(-1, 0.5), g)"}]})j");
    struct Case {
        float g;
        float x;
        float factor;
        float tolerance;
    };
    const Case cases[] = {
        {100.0f, 0.0f, std::exp(48.0f * 0.11512925f), 0.0f},
        {48.0f, 0.0f, std::exp(48.0f * 0.11512925f), 0.0f},
        {-96.0f, 0.0f, 1.5848932e-5f, 1e-10f},
        {-200.0f, 0.0f, 1.5848932e-5f, 1e-10f},
        {0.0f, 0.0f, 1.0f, 0.0f},
        {0.0f, 60.0f, 1.0f, 0.0f}, // NaN
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.g);
        rig.params.at(G).set(c.g);
        rig.params.at(X).set(c.x);
        rig.graph.prepare({.sample_rate = 48000.0f, .channels = 1});
        Signal audio(1, std::vector<float>(32, 1.0f));
        rig.run(audio);
        for (float v : audio[0])
            EXPECT_NEAR(v, c.factor, c.tolerance);
    }
}

TEST(Runtime, BlockArgumentsAreSanitised) {
    Rig rig(
        R"j({"block":"filter","args":{"type":"x","freq":"if(x > 50, pow(-1, 0.5), 20 * x)"}})j");
    struct Case {
        float x;
        float type;
        float freq;
    };
    const Case cases[] = {
        {2.5f, 3.0f, 50.0f},          {0.5f, 1.0f, 10.0f},    {-2.5f, 0.0f, 10.0f},
        {1.49f, 1.0f, 20.0f * 1.49f}, {60.0f, 7.0f, 1000.0f}, // NaN takes the default
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.x);
        rig.params.at(X).set(c.x);
        Signal audio(1, std::vector<float>(32, 0.0f));
        rig.run(audio);
        const auto& values = std::get<BlockNode>(rig.graph.root().body).values;
        EXPECT_EQ(values[0], c.type);
        EXPECT_EQ(values[1], c.freq);
        EXPECT_EQ(values[2], 0.70710677f); // constants pass through the same checks
    }
}

std::uint32_t xorshift(std::uint32_t x) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    return x;
}

TEST(Runtime, ModulatorShapes) {
    // 62.5 Hz at 8000 Hz moves the phase by exactly a quarter per control step.
    Rig rig(R"j({"modulators":[{"id":"r","shape":"random","rate":62.5},
                              {"id":"s","rate":62.5},
                              {"id":"tri","shape":"triangle","rate":62.5},
                              {"id":"saw","shape":"saw","rate":62.5},
                              {"id":"sq","shape":"square","rate":62.5}],
                "chain":[]})j",
            1, 8000.0f);
    const float held = static_cast<float>(0x510C4619u) * 0x1p-32f * 2.0f - 1.0f;
    const float next = static_cast<float>(xorshift(0x510C4619u)) * 0x1p-32f * 2.0f - 1.0f;
    const std::array<std::array<float, 5>, 5> expected{{
        {held, held, held, held, next},
        {0.0f, 1.0f, 0.0f, -1.0f, 0.0f},
        {-1.0f, 0.0f, 1.0f, 0.0f, -1.0f},
        {-1.0f, -0.5f, 0.0f, 0.5f, -1.0f},
        {1.0f, 1.0f, -1.0f, -1.0f, 1.0f},
    }};
    const std::size_t p = NAMES.size();
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round); // a prepare restarts phases and the random sequence
        for (std::size_t step = 0; step < 5; ++step) {
            Signal audio(1, std::vector<float>(32));
            rig.run(audio);
            for (std::size_t m = 0; m < 5; ++m)
                EXPECT_NEAR(rig.graph.env()[p + m], expected[m][step], 1e-6f)
                    << "modulator " << m << " step " << step;
        }
        rig.graph.prepare({.sample_rate = 8000.0f, .channels = 1});
    }
}

TEST(Runtime, ModulatorRateIsSanitised) {
    Rig rig(R"j({"modulators":[{"id":"m","rate":"if(x < -50, pow(-1, 0.5), x * 10)"}],
                "chain":[]})j");
    struct Case {
        float x;
        float rate;
    };
    const Case cases[] = {
        {0.00005f, 0.001f}, {50.0f, 200.0f}, {-60.0f, 1.0f}, {0.2f, 0.2f * 10.0f}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.x);
        rig.params.at(X).set(c.x);
        rig.graph.prepare({.sample_rate = 48000.0f, .channels = 1});
        Signal audio(1, std::vector<float>(1));
        rig.run(audio);
        EXPECT_EQ(rig.graph.modulators()[0].phase, (c.rate * 32.0f) / 48000.0f);
    }
}

TEST(Runtime, ModulatorsDriveArguments) {
    // Each modulator's rate may read the modulators before it at this step's values.
    Rig rig(R"j({"modulators":[{"id":"a","shape":"square","rate":100},
                              {"id":"b","shape":"saw","rate":"150 + a * 50"}],
                "block":"filter","args":{"freq":"1000 + b * 500"}})j");
    Signal audio(1, std::vector<float>(32));
    rig.run(audio);
    // a = 1 (phase 0), so b runs at 200 Hz; b = -1 at its phase 0.
    EXPECT_EQ(rig.graph.modulators()[1].phase, (200.0f * 32.0f) / 48000.0f);
    EXPECT_EQ(std::get<BlockNode>(rig.graph.root().body).values[1], 500.0f);
}

TEST(Runtime, FlushesTinyOutputSamples) {
    Rig rig(R"j({"chain":[]})j");
    const float denormal = std::numeric_limits<float>::denorm_min();
    Signal audio{{1e-31f, -1e-31f, 1e-30f, -1e-30f, denormal, NAN_F, 0.5f, -9.99e-31f}};
    rig.run(audio);
    EXPECT_EQ(audio[0][0], 0.0f);
    EXPECT_EQ(audio[0][1], 0.0f);
    EXPECT_EQ(audio[0][2], 1e-30f);
    EXPECT_EQ(audio[0][3], -1e-30f);
    EXPECT_EQ(audio[0][4], 0.0f);
    EXPECT_TRUE(std::isnan(audio[0][5]));
    EXPECT_EQ(audio[0][6], 0.5f);
    EXPECT_EQ(audio[0][7], 0.0f);
}

TEST(Runtime, MetersGoToEveryBinding) {
    Rig rig(R"j({"block":"dynamics","args":{"threshold_db":-60,"ratio":100,"attack_ms":0.01},
                "meters":{"gain_reduction_db":"gr","gain_reduction_db":"x"}})j");
    Signal audio(1, std::vector<float>(480, 1.0f));
    rig.run(audio);
    const float reading = rig.params.at(GR).get();
    EXPECT_GT(reading, 50.0f);
    EXPECT_EQ(rig.params.at(X).get(), reading); // every binding is written

    // A set with fewer parameters than the graph knows skips the missing bindings.
    const ParamSet small = ParamSet::with_channels(std::span(TABLE).first(2), 1);
    std::vector<float> more(32, 1.0f);
    rig.graph.process(small, std::array<std::span<float>, 1>{std::span<float>(more)}, {});
    EXPECT_GT(small.at(X).get(), 50.0f);
}

TEST(Runtime, TailFollowsTheCurrentParameters) {
    // The dynamics block has no tail; it adds 0 and must not hide the others.
    Rig rig(R"j({"chain":[{"block":"dynamics","args":{"threshold_db":"x / 2"}},
                         {"block":"delay","args":{"time_ms":"t","feedback":0.5}},
                         {"parallel":[{"node":{"block":"delay","args":{"time_ms":100}}},
                                      {"node":{"block":"delay","args":{"time_ms":"t * 2"},
                                               "mix":0.5}}]}]})j");
    const auto delay = velk::blocks::delay::INFO.make();
    const auto tail = [&](float time_ms, float feedback) {
        std::vector<float> v;
        for (const auto& row : velk::blocks::delay::INFO.args)
            v.push_back(row.default_value);
        v[0] = time_ms;
        v[1] = feedback;
        return delay->tail(v, 48000.0f);
    };
    for (float t : {250.0f, 20.0f, 3000.0f}) {
        SCOPED_TRACE(t);
        rig.params.at(T).set(t);
        // No process call in between: the parameters are read by the query itself.
        const std::uint32_t expected =
            tail(t, 0.5f) + std::max(tail(100.0f, 0.35f), tail(std::min(2.0f * t, 4000.0f), 0.35f));
        EXPECT_EQ(rig.graph.tail_for(rig.params), expected);
    }
    EXPECT_EQ(Rig(R"j({"block":"dynamics","args":{"threshold_db":"x / 2"},"mix":0.5})j")
                  .graph.tail_for(rig.params),
              0u);
}

TEST(Runtime, TailWithALargeEnvironment) {
    // 300 parameter slots: more than the fixed scratch holds.
    std::vector<std::string> ids;
    for (std::size_t i = 0; i < 300; ++i)
        ids.push_back(i < NAMES.size() ? std::string(NAMES[i]) : "p" + std::to_string(i));
    const std::vector<std::string_view> views(ids.begin(), ids.end());
    const Compiler compiler({}, views);
    GraphSpec spec =
        spec::from_str(R"j({"block":"delay","args":{"time_ms":"t","feedback":0}})j").value();
    auto root = compile_node(spec.root, compiler, "graph");
    ASSERT_TRUE(root.ok()) << root.error();
    const Graph graph(std::move(root).value(), {}, views.size());
    ParamSet params = ParamSet::with_channels(TABLE, 1);
    params.at(T).set(10.0f);
    const std::uint32_t short_tail = graph.tail_for(params);
    params.at(T).set(1000.0f);
    EXPECT_GT(graph.tail_for(params), short_tail);
}

// Every block, every wrapper and a modulator.
constexpr std::string_view EVERYTHING = R"j({
    "modulators":[{"id":"lfo","shape":"triangle","rate":"x + 3"},{"id":"r","shape":"random","rate":40}],
    "mix":"mix","bypass":"bypass",
    "chain":[
        {"block":"gain","args":{"gain_db":"lfo * 3","pan":"r * 0.5"}},
        {"block":"filter","args":{"freq":"2000 + lfo * 500","slope":"24"}},
        {"block":"onepole","args":{"type":"highpass","freq":20}},
        {"block":"shaper","args":{"drive_db":6,"curve":"softclip"}},
        {"parallel":[
            {"node":{"block":"dynamics","args":{"lookahead_ms":1,"threshold_db":-30},
                     "meters":{"gain_reduction_db":"gr"}},"gain_db":"g"},
            {"node":{"block":"delay","args":{"time_ms":"t","max_ms":100,"feedback":0.6}},
             "gain_db":-6},
            {"node":{"block":"tremolo","args":{"rate_hz":7}}}
        ]},
        {"block":"stereo","args":{"width":1.5},"only":[0,1]},
        {"block":"harmonic_eq","args":{"gain_db":6},"mix":0.5,"only":[1]}
    ]})j";

class EveryBlock : public testing::Test {
protected:
    void SetUp() override {
        rig.params.at(MIX).set(0.7f);
        rig.params.at(T).set(30.0f);
    }

    Rig rig{EVERYTHING, 2, 48000.0f};
    const ProcessSetup setup{.max_frames = 512, .sample_rate = 48000.0f, .channels = 2};
};

TEST_F(EveryBlock, ProcessAllocatesNothing) {
    if (!velk::test::counting_allocations())
        GTEST_SKIP() << "allocations are not counted in this build";
    Signal audio = noise(2, 4800, 1);
    velk::ChannelList list;
    const std::array<std::size_t, 6> sizes{100, 1, 31, 64, 0, 512};
    std::size_t allocations = 0;
    {
        velk::test::NoAllocScope scope;
        std::size_t at = 0;
        for (std::size_t i = 0; at < audio[0].size(); ++i) {
            // Move through wet, parallel, bypassed and back.
            rig.params.at(BYPASS).set(i % 7 == 3 ? 1.0f : 0.0f);
            rig.params.at(MIX).set(i % 5 == 0 ? 1.0f : 0.4f);
            rig.params.at(T).set(static_cast<float>(5 + i % 40));
            const std::size_t n = std::min(sizes[i % sizes.size()], audio[0].size() - at);
            for (auto& ch : audio)
                list.push(std::span<float>(ch).subspan(at, n));
            rig.graph.process(rig.params, list.runs(), rig.context);
            list.clear();
            at += n;
            (void)rig.graph.latency_samples();
            (void)rig.graph.tail_for(rig.params);
        }
        allocations = scope.count();
    }
    EXPECT_EQ(allocations, 0u);
    EXPECT_EQ(rig.graph.latency_samples(), 48u);
}

TEST_F(EveryBlock, UnchangedRePrepareClearsInPlace) {
    const Signal input = noise(2, 3000, 2);
    Signal first = input;
    rig.run(first, velk::test::UNEVEN_BLOCKS);
    EXPECT_NE(first, input);

    std::size_t allocations = 0;
    {
        velk::test::NoAllocScope scope;
        rig.graph.prepare(setup);
        allocations = scope.count();
    }
    if (velk::test::counting_allocations()) {
        EXPECT_EQ(allocations, 0u);
    }

    // Everything starts from silence again: delay lines, blocks, glides, modulators.
    Signal second = input;
    rig.run(second, velk::test::UNEVEN_BLOCKS);
    EXPECT_EQ(second, first);

    // Another channel count reallocates and still starts from silence.
    rig.graph.prepare({.sample_rate = 48000.0f, .channels = 1});
    rig.graph.prepare(setup);
    Signal third = input;
    rig.run(third, velk::test::UNEVEN_BLOCKS);
    EXPECT_EQ(third, first);
}

TEST_F(EveryBlock, HostBlockSizesDoNotChangeTheOutput) {
    const Signal input = noise(2, 3000, 3);
    Signal whole = input;
    rig.run(whole);
    rig.graph.prepare(setup);
    Signal pieces = input;
    rig.run(pieces, velk::test::UNEVEN_BLOCKS);
    EXPECT_EQ(pieces, whole);
}

// A control step whose expressions would all give the last step's values again takes
// a shortcut; its output must be what evaluating everything gives. The reference graph
// reads a modulator through "0 * m", which changes no value but every step's slots.
TEST(Runtime, RepeatedControlStepsMatchFullOnes) {
    const std::string_view blocks[] = {
        R"j({"block":"gain","args":{"gain_db":"@ / 10","pan":"@ / 200"}})j",
        R"j({"block":"filter","args":{"type":"peak","freq":"1000 + 10 * @","gain_db":"@ / 5"}})j",
        R"j({"block":"onepole","args":{"freq":"500 + @"}})j",
        R"j({"block":"shaper","args":{"drive_db":"@ / 5"}})j",
        R"j({"block":"dynamics","args":{"threshold_db":"-30 + @ / 10","attack_ms":"1 + @ / 100",
             "ratio":"3 + @ / 50"},"meters":{"gain_reduction_db":"gr"}})j",
        R"j({"block":"delay","args":{"time_ms":"20 + @ / 10","max_ms":100,"feedback":0.5}})j",
        R"j({"block":"tremolo","args":{"rate_hz":"5 + @ / 10"}})j",
        R"j({"block":"stereo","args":{"width":"1 + @ / 100"}})j",
        R"j({"block":"harmonic_eq","args":{"fundamental_hz":"100 + @"}})j",
    };
    const auto graph_text = [](std::string_view block, std::string_view x) {
        std::string text = R"j({"modulators":[{"id":"m","shape":"saw","rate":3}],
            "mix":"mix","bypass":"bypass","chain":[)j";
        text += block;
        text += R"j(,{"parallel":[{"node":{"block":"gain"},"gain_db":"g"},
            {"node":{"block":"gain","args":{"invert":"on"}},"gain_db":-20}]}]})j";
        for (auto at = text.find('@'); at != std::string::npos; at = text.find('@'))
            text.replace(at, 1, x);
        return text;
    };
    // Parameter changes at the start of some host blocks, each then held for a while.
    struct Change {
        std::size_t block;
        std::size_t param;
        float value;
    };
    const Change changes[] = {{0, X, 5.0f},    {3, X, 40.0f},      {6, MIX, 0.6f},
                              {9, G, -6.0f},   {12, BYPASS, 1.0f}, {15, BYPASS, 0.0f},
                              {18, X, -20.0f}, {18, MIX, 1.0f},    {24, GR, 3.0f}};
    const std::array<std::size_t, 5> sizes{100, 1, 31, 64, 200};
    const Signal input = noise(2, 6000, 4);

    const auto render = [&](std::string_view text, bool prepare_twice) {
        Rig rig(text, 2);
        rig.params.at(X).set(5.0f);
        rig.params.at(G).set(0.0f);
        if (prepare_twice) {
            // The same parameters before and after the prepare.
            Signal warm = input;
            rig.run(warm);
            rig.graph.prepare({.sample_rate = 48000.0f, .channels = 2});
        }
        Signal audio = input;
        velk::ChannelList list;
        std::size_t at = 0;
        for (std::size_t i = 0; at < audio[0].size(); ++i) {
            for (const Change& c : changes)
                if (c.block == i)
                    rig.params.at(c.param).set(c.value);
            const std::size_t n = std::min(sizes[i % sizes.size()], audio[0].size() - at);
            for (auto& ch : audio)
                list.push(std::span<float>(ch).subspan(at, n));
            rig.graph.process(rig.params, list.runs(), rig.context);
            list.clear();
            at += n;
        }
        return audio;
    };
    for (std::string_view block : blocks) {
        SCOPED_TRACE(block);
        const Signal full = render(graph_text(block, "(x + 0 * m)"), false);
        EXPECT_NE(full, input);
        EXPECT_EQ(render(graph_text(block, "x"), false), full);
        // A prepare restores every block's state, so the first step evaluates again.
        EXPECT_EQ(render(graph_text(block, "x"), true), full);
    }
}

} // namespace
