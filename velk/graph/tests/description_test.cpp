#include <array>
#include <cmath>
#include <limits>
#include <string>
#include <variant>

#include "velk/graph/description.hpp"

#include <gtest/gtest.h>

namespace {

using velk::Json;
using namespace velk::graph;

std::string error_of(std::string_view text) {
    auto spec = spec::from_str(text);
    if (spec.ok())
        return "(read)";
    return spec.error();
}

GraphSpec read(std::string_view text) {
    auto spec = spec::from_str(text);
    EXPECT_TRUE(spec.ok()) << text << ": " << spec.error();
    if (!spec.ok())
        return GraphSpec{};
    return std::move(spec).value();
}

std::string repeat(std::string_view part, std::size_t n) {
    std::string s;
    for (std::size_t i = 0; i < n; ++i)
        s += part;
    return s;
}

double number(const ArgValue& v) {
    EXPECT_TRUE(std::holds_alternative<double>(v));
    return std::holds_alternative<double>(v) ? std::get<double>(v) : 0.0;
}

std::string text(const ArgValue& v) {
    EXPECT_TRUE(std::holds_alternative<std::string>(v));
    return std::holds_alternative<std::string>(v) ? std::get<std::string>(v) : std::string();
}

TEST(Description, ReadsTheWholeTree) {
    const GraphSpec g = read(R"({
        "modulators": [
            {"id": "lfo", "shape": "triangle", "rate": "speed * 2"},
            {"id": "wob", "shape": 5},
            {"id": "hold", "rate": false}
        ],
        "id": "ignored",
        "mix": 0.5,
        "chain": [
            {"block": "filter",
             "args": {"freq": 1000, "type": " notch ", "freq": "cutoff", "on": true},
             "meters": {"level": "meter", "level": "meter2"},
             "only": [1, -0, 1]},
            {"parallel": [
                {"node": {"block": "gain", "modulators": 7, "id": [1]}, "gain_db": -6},
                {"node": {"chain": [], "args": 5, "meters": "x"}}
             ],
             "bypass": "bp",
             "only": []}
        ]
    })");

    ASSERT_EQ(g.modulators.size(), 3u);
    EXPECT_EQ(g.modulators[0].id, "lfo");
    EXPECT_EQ(g.modulators[0].shape, "triangle");
    EXPECT_EQ(text(g.modulators[0].rate), "speed * 2");
    EXPECT_EQ(g.modulators[1].shape, "sine"); // not a string
    EXPECT_EQ(number(g.modulators[1].rate), 1.0);
    EXPECT_EQ(g.modulators[2].shape, "sine");
    EXPECT_EQ(number(g.modulators[2].rate), 0.0);

    const NodeSpec& root = g.root;
    EXPECT_EQ(number(*root.mix), 0.5);
    EXPECT_FALSE(root.bypass);
    EXPECT_FALSE(root.only);
    const auto* chain = std::get_if<ChainBody>(&root.body);
    ASSERT_NE(chain, nullptr);
    ASSERT_EQ(chain->chain.size(), 2u);

    const NodeSpec& first = chain->chain[0];
    const auto* filter = std::get_if<BlockBody>(&first.body);
    ASSERT_NE(filter, nullptr);
    EXPECT_EQ(filter->block, "filter");
    ASSERT_EQ(filter->args.size(), 4u);
    EXPECT_EQ(filter->args[0].name, "freq");
    EXPECT_EQ(number(filter->args[0].value), 1000.0);
    EXPECT_EQ(filter->args[1].name, "type");
    EXPECT_EQ(text(filter->args[1].value), " notch "); // kept as written
    EXPECT_EQ(filter->args[2].name, "freq");
    EXPECT_EQ(text(filter->args[2].value), "cutoff");
    EXPECT_EQ(number(filter->args[3].value), 1.0);
    ASSERT_EQ(filter->meters.size(), 2u);
    EXPECT_EQ(filter->meters[0].meter, "level");
    EXPECT_EQ(filter->meters[0].param, "meter");
    EXPECT_EQ(filter->meters[1].param, "meter2");
    ASSERT_TRUE(first.only);
    EXPECT_EQ(*first.only, (std::vector<std::size_t>{1, 0, 1}));
    EXPECT_FALSE(first.mix);

    const NodeSpec& second = chain->chain[1];
    EXPECT_EQ(text(*second.bypass), "bp");
    ASSERT_TRUE(second.only);
    EXPECT_TRUE(second.only->empty());
    const auto* parallel = std::get_if<ParallelBody>(&second.body);
    ASSERT_NE(parallel, nullptr);
    ASSERT_EQ(parallel->parallel.size(), 2u);
    EXPECT_EQ(number(*parallel->parallel[0].gain_db), -6.0);
    const auto* gain = std::get_if<BlockBody>(&parallel->parallel[0].node.body);
    ASSERT_NE(gain, nullptr);
    EXPECT_EQ(gain->block, "gain");
    EXPECT_TRUE(gain->args.empty());
    EXPECT_TRUE(gain->meters.empty());
    EXPECT_FALSE(parallel->parallel[1].gain_db);
    const auto* empty = std::get_if<ChainBody>(&parallel->parallel[1].node.body);
    ASSERT_NE(empty, nullptr);
    EXPECT_TRUE(empty->chain.empty());
}

TEST(Description, SingleValuesTakeTheFirstOfRepeatedKeys) {
    const GraphSpec g = read(R"({"block": "gain", "block": 3, "mix": 0.25, "mix": null,
                                 "bypass": true, "only": [2], "only": 1,
                                 "modulators": [{"id": "a", "id": 1, "rate": 3, "rate": null}],
                                 "modulators": 5})");
    EXPECT_EQ(std::get<BlockBody>(g.root.body).block, "gain");
    EXPECT_EQ(number(*g.root.mix), 0.25);
    EXPECT_EQ(number(*g.root.bypass), 1.0);
    EXPECT_EQ(*g.root.only, std::vector<std::size_t>{2});
    ASSERT_EQ(g.modulators.size(), 1u);
    EXPECT_EQ(g.modulators[0].id, "a");
    EXPECT_EQ(number(g.modulators[0].rate), 3.0);
}

TEST(Description, SmallestDocuments) {
    const GraphSpec chain = read(R"({"chain": []})");
    EXPECT_TRUE(chain.modulators.empty());
    EXPECT_TRUE(std::get<ChainBody>(chain.root.body).chain.empty());
    EXPECT_FALSE(chain.root.only);

    const GraphSpec block = read(R"({"block": "", "modulators": []})");
    EXPECT_EQ(std::get<BlockBody>(block.root.body).block, "");
}

TEST(Description, ChannelNumbers) {
    const auto size_max = std::numeric_limits<std::size_t>::max();
    // Whole numbers beyond the machine word name a channel that never exists.
    const GraphSpec g =
        read(R"({"block": "gain", "only": [0, 3e0, 4294967296, 1e300, 18446744073709551615]})");
    EXPECT_EQ(*g.root.only, (std::vector<std::size_t>{0, 3, 4294967296u, size_max, size_max}));

    const char* refused[] = {"0.5",   "-1",   "-0.5", "1e999", "-1e999",
                             "\"1\"", "true", "null", "[1]",   "1.0000001"};
    for (const char* element : refused) {
        SCOPED_TRACE(element);
        EXPECT_EQ(error_of(std::string(R"({"block": "gain", "only": [0, )") + element + "]}"),
                  "graph only must hold whole channel numbers from 0");
    }
}

TEST(Description, Messages) {
    struct Case {
        const char* text;
        const char* message;
    };
    const Case cases[] = {
        {"nul", "the graph is not valid JSON: unexpected word at byte 0"},
        {"", "the graph is not valid JSON: unexpected end of input at byte 0"},
        {R"({"chain": [}])", "the graph is not valid JSON: expected a value at byte 11"},
        {"{}", "graph must have exactly one of block, chain or parallel"},
        {"[]", "graph must be an object"},
        {R"("chain")", "graph must be an object"},
        {R"({"parallel": []})", "graph parallel needs at least one branch"},
        {R"({"block": "gain", "chain": []})",
         "graph must have exactly one of block, chain or parallel"},
        {R"({"block": "gain", "chain": [], "parallel": [1]})",
         "graph must have exactly one of block, chain or parallel"},
        {R"({"chain": [{"argz": 1}]})",
         "graph.chain[0] has an unknown key 'argz'. It can have: block, args, meters, chain, "
         "parallel, bypass, mix, only, modulators, id"},
        {R"({"Block": "gain"})",
         "graph has an unknown key 'Block'. It can have: block, args, meters, chain, parallel, "
         "bypass, mix, only, modulators, id"},
        {R"({"chain": [], "": 1})",
         "graph has an unknown key ''. It can have: block, args, meters, chain, parallel, "
         "bypass, mix, only, modulators, id"},
        {R"({"parallel": [{"gain_db": 1}]})", "graph.parallel[0] needs a node"},
        {R"({"parallel": [{"node": {}}]})",
         "graph.parallel[0].node must have exactly one of block, chain or parallel"},
        {R"({"parallel": [{"node": 3}]})", "graph.parallel[0].node must be an object"},
        {R"({"parallel": [{"node": null}]})", "graph.parallel[0].node must be an object"},
        {R"({"parallel": [{"node": {"block": "gain"}, "gain": 1}]})",
         "graph.parallel[0] has an unknown key 'gain'. It can have: node, gain_db"},
        {R"({"parallel": [{"node": {"block": "a"}}, "b"]})", "graph.parallel[1] must be an object"},
        {R"({"parallel": [{"node": {"block": "a"}, "gain_db": [0]}]})",
         "graph.parallel[0] gain_db must be a number or a string"},
        {R"({"block": "gain", "only": 1})", "graph only must be a list of channel numbers"},
        {R"({"block": "gain", "only": {}})", "graph only must be a list of channel numbers"},
        {R"({"block": "gain", "args": {"gain_db": null}})",
         "graph argument 'gain_db' must be a number or a string"},
        {R"({"block": "gain", "args": {"a": 1, "b": {}}})",
         "graph argument 'b' must be a number or a string"},
        {R"({"block": "gain", "args": [1]})", "graph args must be an object"},
        {R"({"block": 3})", "graph block must be a name"},
        {R"({"block": null})", "graph block must be a name"},
        {R"({"block": "gain", "meters": {"x": 2}})", "graph meter 'x' must name a parameter"},
        {R"({"block": "gain", "meters": "gr"})", "graph meters must be an object"},
        {R"({"chain": {}})", "graph chain must be a list"},
        {R"({"parallel": {}})", "graph parallel must be a list of branches"},
        {R"({"block": "gain", "bypass": []})", "graph bypass must be a number or a string"},
        {R"({"block": "gain", "mix": null})", "graph mix must be a number or a string"},
        {R"({"modulators": {}, "block": "gain"})", "modulators must be a list"},
        {R"({"modulators": [1], "block": "gain"})", "modulators[0] must be an object"},
        {R"({"modulators": [{}], "block": "gain"})", "modulators[0] needs an id"},
        {R"({"modulators": [{"id": 5}], "block": "gain"})", "modulators[0] needs an id"},
        {R"({"modulators": [{"id": "a"}, {"id": "b", "rate": null}], "block": "gain"})",
         "modulators[1] rate must be a number or a string"},
        {R"({"modulators": [{"id": "a", "speed": 1}], "block": "gain"})",
         "modulators[0] has an unknown key 'speed'. It can have: id, shape, rate"},
        // Deep paths.
        {R"({"chain": [{"block": "a"}, {"parallel": [{"node": {"block": "b"}},
             {"node": {"chain": [{"mix": null, "block": "c"}]}}]}]})",
         "graph.chain[1].parallel[1].node.chain[0] mix must be a number or a string"},
        {R"({"parallel": [{"node": {"parallel": [{"node": {"block": "a"}}, {}]}}]})",
         "graph.parallel[0].node.parallel[1] needs a node"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(error_of(c.text), c.message);
    }
}

TEST(Description, ChecksRunInOrder) {
    // Each document breaks two rules; the earlier check is the one reported.
    struct Case {
        const char* text;
        const char* message;
    };
    const Case cases[] = {
        {R"({"modulators": [{}], "blok": 1})", "modulators[0] needs an id"},
        {R"({"modulators": [{"id": "a", "x": 1}, {}]})",
         "modulators[0] has an unknown key 'x'. It can have: id, shape, rate"},
        {R"({"modulators": [{"rate": null}]})", "modulators[0] needs an id"},
        {R"({"bypass": null, "zz": 1})",
         "graph has an unknown key 'zz'. It can have: block, args, meters, chain, parallel, "
         "bypass, mix, only, modulators, id"},
        {R"({"mix": null, "bypass": null})", "graph bypass must be a number or a string"},
        {R"({"only": 1, "mix": null})", "graph mix must be a number or a string"},
        {R"({"only": 1})", "graph only must be a list of channel numbers"},
        {R"({"block": 3, "chain": []})", "graph must have exactly one of block, chain or parallel"},
        {R"({"args": 1, "block": 3})", "graph block must be a name"},
        {R"({"block": "g", "meters": 1, "args": 1})", "graph args must be an object"},
        {R"({"parallel": [{"gain_db": null}]})", "graph.parallel[0] needs a node"},
        {R"({"parallel": [{"node": 3, "gain_db": null}]})",
         "graph.parallel[0] gain_db must be a number or a string"},
        {R"({"parallel": [{"node": 3, "x": 1}]})",
         "graph.parallel[0] has an unknown key 'x'. It can have: node, gain_db"},
        {R"({"chain": [{"block": 1}, {"block": 2}]})", "graph.chain[0] block must be a name"},
        {R"({"mix": null, "chain": [{"block": 1}]})", "graph mix must be a number or a string"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(error_of(c.text), c.message);
    }
}

TEST(Description, EntryPointsOnBuiltValues) {
    EXPECT_EQ(spec::node_from_json(Json::number(1), "x.y").error(), "x.y must be an object");
    EXPECT_EQ(spec::from_json(Json::array({})).error(), "graph must be an object");

    constexpr std::array<std::string_view, 2> allowed = {"b", "a"};
    Json::Object members;
    members.push_back({"a", Json()});
    members.push_back({"c", Json()});
    const Json object = Json::object(std::move(members));
    EXPECT_EQ(spec::only_keys(object, allowed, "p").error(),
              "p has an unknown key 'c'. It can have: b, a");
    EXPECT_TRUE(spec::only_keys(Json::object({}), allowed, "p").ok());
    EXPECT_EQ(spec::only_keys(Json::string("a"), allowed, "p").error(), "p must be an object");
    EXPECT_EQ(spec::only_keys(object, {}, "q").error(), "q has an unknown key 'a'. It can have: ");
}

TEST(Description, DeepAndWideDocuments) {
    // Each nested chain takes two JSON levels (an object and its array). The JSON
    // reader allows values down to level 64, where an object must be empty.
    const std::string deep =
        repeat(R"({"chain": [)", 31) + R"({"block": "x", "q": 1})" + repeat("]}", 31);
    EXPECT_EQ(error_of(deep), "graph" + repeat(".chain[0]", 31) +
                                  " has an unknown key 'q'. It can have: block, args, meters, "
                                  "chain, parallel, bypass, mix, only, modulators, id");
    EXPECT_EQ(error_of(repeat(R"({"chain": [)", 32) + "{}" + repeat("]}", 32)),
              "graph" + repeat(".chain[0]", 32) +
                  " must have exactly one of block, chain or parallel");
    const std::string deep_ok =
        repeat(R"({"parallel": [{"node": )", 16) + R"({"block": "x"})" + repeat("}]}", 16);
    const GraphSpec g = read(deep_ok);
    const NodeSpec* node = &g.root;
    for (int i = 0; i < 16; ++i)
        node = &std::get<ParallelBody>(node->body).parallel[0].node;
    EXPECT_EQ(std::get<BlockBody>(node->body).block, "x");

    const std::string too_deep =
        repeat(R"({"chain": [)", 32) + R"({"block": "x"})" + repeat("]}", 32);
    EXPECT_EQ(
        error_of(too_deep).rfind("the graph is not valid JSON: nesting is too deep at byte ", 0),
        0u);

    std::string wide = R"({"modulators": [)";
    for (int i = 0; i < 2000; ++i)
        wide += std::string(i ? "," : "") + R"({"id": "m", "rate": )" + std::to_string(i) + "}";
    wide += R"(], "chain": [)";
    for (int i = 0; i < 5000; ++i)
        wide += std::string(i ? "," : "") + R"({"block": "gain", "args": {"g": 1}})";
    wide += R"(, {"block": "gain", "only": [0.5]}]})";
    EXPECT_EQ(error_of(wide), "graph.chain[5000] only must hold whole channel numbers from 0");
}

TEST(Description, OddText) {
    // Keys and names are byte strings; nothing is trimmed or normalised.
    const GraphSpec g = read("{\"block\": \"g\\u00e4in \\ud83d\\ude00\", \"args\": {\"\\u0000\": "
                             "\"\\t1\\u3000\", \"\": 2}}");
    const auto& block = std::get<BlockBody>(g.root.body);
    EXPECT_EQ(block.block, "g\u00e4in \U0001F600");
    ASSERT_EQ(block.args.size(), 2u);
    EXPECT_EQ(block.args[0].name, std::string(1, '\0'));
    EXPECT_EQ(text(block.args[0].value), "\t1\u3000");
    EXPECT_EQ(block.args[1].name, "");
    EXPECT_EQ(error_of("{\"bl\\u006fck\": \"a\", \"\xc3\xa9\": 1}"),
              "graph has an unknown key '\xc3\xa9'. It can have: block, args, meters, "
              "chain, parallel, bypass, mix, only, modulators, id");
    EXPECT_EQ(error_of("{\"block\": \"\xff\"}"),
              "the graph is not valid JSON: the string is not valid UTF-8");
}

} // namespace
