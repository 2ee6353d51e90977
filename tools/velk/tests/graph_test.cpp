// velk check and velk run: graph descriptions compiled against parameter names,
// checked, and run over files.

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "tool.hpp"
#include "velk/graph/graph.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace velk::tool_test {
namespace {

using testing::HasSubstr;

class Graphs : public ToolTest {
protected:
    void write(const std::string& name, const std::string& text) {
        std::ofstream(at(name)) << text;
    }

    // The compiler's own message for `text` against `params`.
    static std::string compiler_message(const std::string& text,
                                        const std::vector<std::string_view>& params) {
        Result<graph::Graph> graph = graph::Graph::from_str(text, params);
        return graph ? std::string("(compiles)") : graph.error();
    }
};

constexpr char CHAIN[] = R"({"chain": [
    {"block": "gain", "args": {"gain_db": "level"}},
    {"block": "delay", "args": {"time_ms": "time", "feedback": 0}},
    {"block": "gain", "args": {"gain_db": 0}}]})";

TEST_F(Graphs, CheckSummarisesAValidDescription) {
    write("chain.json", CHAIN);
    const Outcome run = velk({"check", at("chain.json"), "--params", "level,time"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_THAT(run.out, HasSubstr("compiles against 2 parameters"));
    EXPECT_THAT(run.out, HasSubstr("blocks:  3: gain x2, delay"));
    EXPECT_THAT(run.out, HasSubstr("latency: 0 samples (0.000 s) at 48 kHz"));
    EXPECT_THAT(run.out, HasSubstr("tail:    "));
}

TEST_F(Graphs, CheckPrintsTheCompilersMessageExactly) {
    struct Case {
        std::string text;
        std::string params;
    };
    const std::vector<Case> cases = {
        {CHAIN, "level"},                                       // 'time' unknown
        {R"({"block": "gainn"})", "level"},                     // unknown block
        {R"({"chain": [{"block": "gain", "argz": {}}]})", ""},  // unknown key
        {R"({"block": "gain", "args": {"gain_db": 100}})", ""}, // out of range
        {"{\"block\": ", "level,time"},                         // not JSON
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        write("bad.json", c.text);
        std::vector<std::string> names;
        for (std::size_t start = 0; !c.params.empty();) {
            const std::size_t comma = c.params.find(',', start);
            names.push_back(c.params.substr(start, comma - start));
            if (comma == std::string::npos)
                break;
            start = comma + 1;
        }
        const std::vector<std::string_view> views(names.begin(), names.end());
        const std::string expected = compiler_message(c.text, views);
        ASSERT_NE(expected, "(compiles)");
        std::vector<std::string> args{"check", at("bad.json")};
        if (!c.params.empty())
            args.insert(args.end(), {"--params", c.params});
        const Outcome run = velk(args);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, expected + "\n");
    }

    const Outcome twice = velk({"check", at("bad.json"), "--params", "a,b,a"});
    EXPECT_EQ(twice.status, 1);
    EXPECT_EQ(twice.err, "velk check: --params: parameter 'a' is named twice\n");
}

TEST_F(Graphs, RunAppliesGainAndDelay) {
    write("chain.json", CHAIN);
    Sound in = constant(2, 48000, 0.0f);
    in.channels[0][100] = 0.8f;
    in.channels[1][200] = -0.4f;
    write_sound(at("in.wav"), in);

    // -6 dB halves the signal (a factor of 0.50119); 10 ms at 48 kHz moves it 480 frames.
    const Outcome run = velk({"run", at("chain.json"), at("in.wav"), at("out.wav"), "--param",
                              "level=-6", "--param", "time=10"});
    ASSERT_EQ(run.status, 0) << run.err;
    const Sound out = read_sound(at("out.wav"));
    ASSERT_EQ(out.channels.size(), 2u);
    ASSERT_GE(out.frames(), in.frames());
    const auto peak_at = [](const std::vector<float>& x) {
        return static_cast<std::size_t>(
            std::max_element(x.begin(), x.end(),
                             [](float a, float b) { return std::fabs(a) < std::fabs(b); }) -
            x.begin());
    };
    EXPECT_EQ(peak_at(out.channels[0]), 580u);
    EXPECT_EQ(peak_at(out.channels[1]), 680u);
    EXPECT_NEAR(out.channels[0][580], 0.8 * 0.50119, 1e-5);
    EXPECT_NEAR(out.channels[1][680], -0.4 * 0.50119, 1e-5);
    EXPECT_THAT(run.out, HasSubstr("graph:   " + at("chain.json") + " (2 parameters)"));

    // A compile error is the compiler's message; nothing is written.
    const Outcome bad =
        velk({"run", at("chain.json"), at("in.wav"), at("bad.wav"), "--param", "level=-6"});
    EXPECT_EQ(bad.status, 1);
    EXPECT_EQ(bad.err, compiler_message(CHAIN, {"level"}) + "\n");
    const Outcome nan = velk({"run", at("chain.json"), at("in.wav"), at("bad.wav"), "--param",
                              "level=loud", "--param", "time=1"});
    EXPECT_EQ(nan.status, 1);
    EXPECT_EQ(nan.err, "velk run: parameter 'level' needs a number from -1e9 to 1e9, not 'loud'\n");
    EXPECT_EQ(files(), (std::vector<std::string>{"chain.json", "in.wav", "out.wav"}));
}

} // namespace
} // namespace velk::tool_test
