#include <array>
#include <cmath>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "velk/graph/graph.hpp"

#include <gtest/gtest.h>

namespace {

using namespace velk::graph;

constexpr std::array<std::string_view, 4> PARAMS = {"threshold", "mix", "gr", "cutoff"};

std::string error_of(std::string_view text) {
    auto graph = Graph::from_str(text, PARAMS);
    if (graph.ok())
        return "(compiled)";
    return graph.error();
}

Graph compiled(std::string_view text) {
    auto graph = Graph::from_str(text, PARAMS);
    EXPECT_TRUE(graph.ok()) << text << ": " << graph.error();
    if (!graph.ok())
        return Graph(Node(ChainNode{}), {}, 0);
    return std::move(graph).value();
}

const BlockNode& block_of(const Node& node) {
    const auto* block = std::get_if<BlockNode>(&node.body);
    EXPECT_NE(block, nullptr);
    static const BlockNode none;
    return block != nullptr ? *block : none;
}

const MixNode* mix_of(const Node& node) {
    const auto* mix = std::get_if<std::unique_ptr<MixNode>>(&node.body);
    return mix != nullptr ? mix->get() : nullptr;
}

float const_value(const std::optional<velk::expr::Expr>& e) {
    EXPECT_TRUE(e && e->root().kind == velk::expr::Kind::Const);
    return e ? e->root().value : -12345.0f;
}

const std::string BLOCKS =
    "The blocks are: gain, filter, onepole, shaper, dynamics, delay, tremolo, stereo, harmonic_eq";
const std::string NAMES = "The names available are: threshold, mix, gr, cutoff";

TEST(Compiler, Messages) {
    struct Case {
        const char* text;
        std::string message;
    };
    const Case cases[] = {
        // The reader's message passes unchanged.
        {"nul", "the graph is not valid JSON: unexpected word at byte 0"},
        {R"({"block":"comp"})", "graph: there is no block called 'comp'. " + BLOCKS},
        {R"({"block":"Gain"})", "graph: there is no block called 'Gain'. " + BLOCKS},
        {R"({"chain":[{"block":"filter","args":{"freq":30000}}]})",
         "graph.chain[0]: filter.freq is 30000, outside the range 10 to 24000 Hz"},
        {R"({"chain":[{"block":"filter","args":{"freq":1e39}}]})",
         "graph.chain[0]: filter.freq is inf, outside the range 10 to 24000 Hz"},
        {R"({"block":"filter","args":{"freq":-1e39}})",
         "graph: filter.freq is -inf, outside the range 10 to 24000 Hz"},
        {R"({"block":"filter","args":{"q":0.05}})",
         "graph: filter.q is 0.05, outside the range 0.1 to 40"},
        // A constant expression is range-checked with its folded value.
        {R"({"block":"filter","args":{"freq":"2*20000"}})",
         "graph: filter.freq is 40000, outside the range 10 to 24000 Hz"},
        {R"j({"block":"filter","args":{"freq":"pow(-1, 0.5)"}})j",
         "graph: filter.freq is NaN, outside the range 10 to 24000 Hz"},
        {R"({"block":"filter","args":{"type":"lowpas"}})",
         "graph: filter.type: 'lowpas' is not one of lowpass, highpass, bandpass, notch, peak, "
         "lowshelf, highshelf, allpass and not a valid expression ('lowpas' is not a parameter, "
         "a modulator or a built-in name. " +
             NAMES + ")"},
        {R"({"block":"filter","args":{"freq":"cutof"}})",
         "graph: filter.freq: 'cutof' is not a parameter, a modulator or a built-in name. " +
             NAMES},
        {R"({"block":"filter","args":{"freq":"2 +"}})",
         "graph: filter.freq: the expression ends where a number or a name should be. " + NAMES},
        {R"({"modulators":[{"id":"lfo"},{"id":"wob"}],"block":"filter","args":{"freq":"x"}})",
         "graph: filter.freq: 'x' is not a parameter, a modulator or a built-in name. " + NAMES +
             ", lfo, wob"},
        {R"({"block":"delay","args":{"max_ms":"cutoff"}})",
         "graph: delay.max_ms is fixed when the plugin is built, so it must be a number and "
         "cannot follow a parameter"},
        {R"({"block":"dynamics","args":{"lookahead_ms":"rate / 48000"}})",
         "graph: dynamics.lookahead_ms is fixed when the plugin is built, so it must be a number "
         "and cannot follow a parameter"},
        {R"({"block":"gain","meters":{"gr":"gr"}})",
         "graph: the block 'gain' has no meter 'gr'. It has no meters."},
        {R"({"chain":[{"block":"dynamics","meters":{"gr":"gr"}}]})",
         "graph.chain[0]: the block 'dynamics' has no meter 'gr'. Its meters are: "
         "gain_reduction_db"},
        {R"({"block":"dynamics","meters":{"gain_reduction_db":"nope"}})",
         "graph: the meter 'gain_reduction_db' is bound to 'nope', which is not a parameter"},
        // All argument names are checked before any value, whatever the document order.
        {R"({"block":"filter","args":{"freq":30000,"fre":1}})",
         "graph: the block 'filter' has no argument 'fre'. Its arguments are: type, freq, q, "
         "gain_db, slope"},
        // Values in table order, then meters.
        {R"({"block":"filter","args":{"slope":9,"freq":30000}})",
         "graph: filter.freq is 30000, outside the range 10 to 24000 Hz"},
        {R"({"block":"dynamics","args":{"ratio":0},"meters":{"x":"gr"}})",
         "graph: dynamics.ratio is 0, outside the range 1 to 100"},
        {R"({"modulators":[{"id":"1lfo"}],"chain":[]})",
         "'1lfo' is not a usable modulator name. Use letters, digits and underscores, starting "
         "with a letter"},
        {R"({"modulators":[{"id":"_lfo"}],"chain":[]})",
         "'_lfo' is not a usable modulator name. Use letters, digits and underscores, starting "
         "with a letter"},
        {R"({"modulators":[{"id":""}],"chain":[]})",
         "'' is not a usable modulator name. Use letters, digits and underscores, starting with "
         "a letter"},
        {R"({"modulators":[{"id":"l-fo"}],"chain":[]})",
         "'l-fo' is not a usable modulator name. Use letters, digits and underscores, starting "
         "with a letter"},
        {R"({"modulators":[{"id":"lfo"},{"id":"lfo"}],"chain":[]})",
         "two modulators are called 'lfo'"},
        {R"({"modulators":[{"id":"mix"}],"chain":[]})",
         "the modulator 'mix' has the same name as a parameter"},
        // Every name before any shape or rate.
        {R"({"modulators":[{"id":"lfo","shape":"Sine","rate":0},{"id":"9"}],"chain":[]})",
         "'9' is not a usable modulator name. Use letters, digits and underscores, starting with "
         "a letter"},
        {R"({"modulators":[{"id":"lfo","shape":"Sine","rate":0}],"chain":[]})",
         "modulator 'lfo' has the shape 'Sine'. The shapes are sine, triangle, saw, square and "
         "random"},
        {R"({"modulators":[{"id":"lfo","rate":0}],"block":"comp"})",
         "modulator 'lfo' rate is 0, outside the range 0.001 to 200 Hz"},
        {R"({"modulators":[{"id":"a","rate":"b"},{"id":"b","rate":"nope"}],"chain":[]})",
         "modulator 'b' rate: 'nope' is not a parameter, a modulator or a built-in name. " + NAMES +
             ", a, b"},
        {R"({"parallel":[{"node":{"block":"gain"},"gain_db":60}]})",
         "graph.parallel[0] gain_db is 60, outside the range -96 to 48 dB"},
        // A branch's node is reported at the branch path, and before the branch's gain.
        {R"({"parallel":[{"node":{"block":"gain"}},{"node":{"block":"x"},"gain_db":60}]})",
         "graph.parallel[1]: there is no block called 'x'. " + BLOCKS},
        {R"({"block":"gain","mix":1.5})", "graph mix is 1.5, outside the range 0 to 1"},
        {R"({"block":"gain","mix":2,"bypass":-1})", "graph bypass is -1, outside the range 0 to 1"},
        {R"({"block":"comp","bypass":2})", "graph: there is no block called 'comp'. " + BLOCKS},
        {R"({"chain":[{"block":"gain"},{"parallel":[{"node":{"chain":[{"block":"gain","args":{"x":1}}]}}]},{"block":"y"}]})",
         "graph.chain[1].parallel[0].chain[0]: the block 'gain' has no argument 'x'. Its "
         "arguments are: gain_db, pan, invert"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(error_of(c.text), c.message);
    }
}

TEST(Compiler, FoldsConstantsAndMatchesChoices) {
    const Graph g = compiled(R"j({"chain":[
        {"block":"filter","args":{"type":"LowPass","freq":"2*500","q":"cutoff","slope":2.4}},
        {"block":"filter","args":{"type":" notch ","freq":"pi * 100"}},
        {"block":"filter","args":{"type":"\u00a0PEAK\u3000\t"}},
        {"block":"filter","args":{"type":"1 + 1"}},
        {"block":"delay","args":{"max_ms":"500","time_ms":"cutoff","time_ms":7}},
        {"block":"dynamics","args":{"threshold_db":"threshold","lookahead_ms":"sqrt(4)"}}
    ]})j");
    const auto& chain = std::get<ChainNode>(g.root().body).nodes;
    ASSERT_EQ(chain.size(), 6u);

    const BlockNode& first = block_of(chain[0]);
    ASSERT_EQ(first.args.size(), 5u);
    EXPECT_FALSE(first.args[0].expr);
    EXPECT_EQ(first.args[0].value, 0.0f);
    EXPECT_FALSE(first.args[1].expr);
    EXPECT_EQ(first.args[1].value, 1000.0f);
    // An expression keeps the row default as its value.
    ASSERT_TRUE(first.args[2].expr);
    EXPECT_EQ(first.args[2].value, 0.70710677f);
    // A number for a choice row is range-checked, not rounded.
    EXPECT_EQ(first.args[4].value, 2.4f);
    EXPECT_EQ(first.values, std::vector<float>(5, 0.0f));

    EXPECT_EQ(block_of(chain[1]).args[0].value, 3.0f);
    EXPECT_EQ(block_of(chain[1]).args[1].value, 3.1415927f * 100.0f);
    EXPECT_EQ(block_of(chain[2]).args[0].value, 4.0f);
    EXPECT_EQ(block_of(chain[3]).args[0].value, 2.0f);

    // Only the first of two pairs with one name is compiled; a constant text for a
    // fixed row is accepted.
    const BlockNode& delay = block_of(chain[4]);
    ASSERT_TRUE(delay.args[0].expr);
    EXPECT_EQ(delay.args[6].value, 500.0f);
    const BlockNode& dynamics = block_of(chain[5]);
    ASSERT_TRUE(dynamics.args[1].expr);
    EXPECT_EQ(dynamics.args[1].value, -18.0f);
    EXPECT_EQ(dynamics.args[11].value, 2.0f);
}

TEST(Compiler, FixedValuesReachTheBlockThroughConfigure) {
    Graph g = compiled(R"({"block":"dynamics","args":{"lookahead_ms":"1 + 1"}})");
    g.prepare({.max_frames = 64, .sample_rate = 48000.0f, .channels = 2});
    EXPECT_EQ(g.latency_samples(), 96u);
}

TEST(Compiler, WrapsNodesAndKeepsMeterBindings) {
    const Graph g = compiled(R"({"bypass":1,"mix":"threshold","chain":[
        {"block":"dynamics","meters":{"gain_reduction_db":"gr","gain_reduction_db":"cutoff"},
         "only":[]},
        {"parallel":[{"node":{"block":"gain"},"gain_db":-6},{"node":{"block":"gain"}}]},
        {"block":"gain","only":[3,1,3]}
    ]})");
    const MixNode* root = mix_of(g.root());
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(const_value(root->bypass), 1.0f);
    ASSERT_TRUE(root->mix);
    EXPECT_EQ(root->mix->root().kind, velk::expr::Kind::Slot);
    EXPECT_FALSE(root->only);
    EXPECT_EQ(root->wet.start, 1.0f);
    EXPECT_EQ(root->wet.target, 1.0f);
    EXPECT_FALSE(root->wet.computed);

    const auto& chain = std::get<ChainNode>(root->inner.body).nodes;
    ASSERT_EQ(chain.size(), 3u);
    const MixNode* first = mix_of(chain[0]);
    ASSERT_NE(first, nullptr);
    EXPECT_FALSE(first->bypass);
    EXPECT_FALSE(first->mix);
    ASSERT_TRUE(first->only);
    EXPECT_TRUE(first->only->empty());
    const BlockNode& dynamics = block_of(first->inner);
    ASSERT_EQ(dynamics.meters.size(), 2u);
    EXPECT_EQ(dynamics.meters[0].meter, 0u);
    EXPECT_EQ(dynamics.meters[0].param, 2u);
    EXPECT_EQ(dynamics.meters[1].param, 3u);

    const auto* parallel = std::get_if<ParallelNode>(&chain[1].body);
    ASSERT_NE(parallel, nullptr);
    ASSERT_EQ(parallel->branches.size(), 2u);
    EXPECT_EQ(const_value(parallel->branches[0].gain_db), -6.0f);
    EXPECT_FALSE(parallel->branches[1].gain_db);

    const MixNode* last = mix_of(chain[2]);
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(*last->only, (std::vector<std::size_t>{3, 1, 3}));
}

TEST(Compiler, ResolvesParametersBeforeModulators) {
    const std::vector<std::string> mods = {"lfo", "wob"};
    const Compiler compiler(mods, PARAMS);
    EXPECT_EQ(compiler.resolve("threshold"), 0u);
    EXPECT_EQ(compiler.resolve("cutoff"), 3u);
    EXPECT_EQ(compiler.resolve("lfo"), 4u);
    EXPECT_EQ(compiler.resolve("wob"), 5u);
    EXPECT_EQ(compiler.resolve("Lfo"), std::nullopt);
    EXPECT_EQ(compiler.names(), "threshold, mix, gr, cutoff, lfo, wob");

    const Graph g = compiled(R"({"modulators":[{"id":"lfo_2","shape":"random","rate":"cutoff"},
                                               {"id":"b","shape":"square","rate":"lfo_2 * 2"}],
                                 "block":"gain","args":{"gain_db":"b"}})");
    ASSERT_EQ(g.modulators().size(), 2u);
    EXPECT_EQ(g.modulators()[0].shape, Shape::Random);
    EXPECT_EQ(g.modulators()[1].shape, Shape::Square);
    const auto& gain = block_of(g.root()).args[0];
    ASSERT_TRUE(gain.expr);
    EXPECT_EQ(gain.expr->root().slot, 5u);
}

TEST(Compiler, SeedsModulatorsAndStartsIdle) {
    const Graph g = compiled(R"({"modulators":[{"id":"a","shape":"random"},{"id":"b"},{"id":"c"}],
                                 "chain":[]})");
    ASSERT_EQ(g.modulators().size(), 3u);
    const Modulator& a = g.modulators()[0];
    EXPECT_EQ(a.state, 0x510C4619u);
    EXPECT_NEAR(a.held, -0.366813f, 1e-6f);
    EXPECT_EQ(a.phase, 0.0f);
    EXPECT_EQ(a.rate.value, 1.0f);
    EXPECT_FALSE(a.rate.expr);
    const Modulator& b = g.modulators()[1];
    EXPECT_EQ(b.state, 0xA21CAC13u);
    EXPECT_NEAR(b.held, 0.2665f, 1e-4f);
    EXPECT_EQ(b.shape, Shape::Sine);

    EXPECT_EQ(g.param_count(), 4u);
    EXPECT_EQ(g.env().size(), 7u);
    for (float v : g.env())
        EXPECT_EQ(v, 0.0f);
    EXPECT_EQ(g.channels(), 1u);
    EXPECT_EQ(g.sample_rate(), 48000.0f);
    EXPECT_EQ(g.tempo(), 120.0f);
    EXPECT_EQ(g.control_position(), 0u);
}

} // namespace
