#include <array>
#include <cmath>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "velk/graph/expr.hpp"
#include "velk/test/alloc.hpp"

#include <gtest/gtest.h>

namespace {

using velk::expr::Env;
using velk::expr::Expr;

constexpr float NAN_F = std::numeric_limits<float>::quiet_NaN();
constexpr float INF = std::numeric_limits<float>::infinity();

// x, y and nan are slots 0 to 2 of SLOTS; far resolves beyond them.
const std::array<float, 3> SLOTS = {2.0f, -3.0f, NAN_F};

std::optional<std::size_t> resolve(std::string_view name) {
    if (name == "x")
        return 0;
    if (name == "y")
        return 1;
    if (name == "nan")
        return 2;
    if (name == "far")
        return 9;
    if (name == "rate" || name == "min")
        return 1;
    return std::nullopt;
}

Env env_at(float rate, float bpm) {
    return Env{.slots = SLOTS, .rate = rate, .bpm = bpm};
}

float value_of(const std::string& text, const Env& env = env_at(48000.0f, 120.0f)) {
    auto e = Expr::parse(text, resolve);
    EXPECT_TRUE(e.ok()) << text << ": " << e.error();
    if (!e.ok())
        return NAN_F;
    return eval(*e, env);
}

std::string error_of(const std::string& text) {
    auto e = Expr::parse(text, resolve);
    if (e.ok())
        return "(parsed)";
    return e.error();
}

std::string repeat(std::string_view part, std::size_t n) {
    std::string s;
    s.reserve(part.size() * n);
    for (std::size_t i = 0; i < n; ++i)
        s += part;
    return s;
}

struct ValueCase {
    const char* text;
    float value;
    float tolerance = 0.0f; // 0: exact
};

void check_values(std::initializer_list<ValueCase> cases) {
    for (const ValueCase& c : cases) {
        SCOPED_TRACE(c.text);
        const float v = value_of(c.text);
        if (c.tolerance == 0.0f) {
            EXPECT_EQ(v, c.value);
        } else {
            EXPECT_NEAR(v, c.value, c.tolerance);
        }
    }
}

TEST(Expr, GrammarPrecedenceAndAssociativity) {
    check_values({
        {"1 + 2 * 3", 7.0f},     {"(1 + 2) * 3", 9.0f},
        {"2^3^2", 512.0f},       {"-2^2", -4.0f},
        {"2 ^ -1", 0.5f},        {"2^-1", 0.5f},
        {"2*-3", -6.0f},         {"1--1", 2.0f},
        {"+-x", -2.0f},          {"++--+x", 2.0f},
        {"-x^2", -4.0f},         {"10 - 2 - 3", 5.0f},
        {"8 / 2 / 2", 2.0f},     {"2 * 3 ^ 2", 18.0f},
        {"(2 * 3) ^ 2", 36.0f},  {"1 + 2 < 2 + 2", 1.0f},
        {"1 < 2", 1.0f},         {"2 < 1", 0.0f},
        {"2 <= 2", 1.0f},        {"2 >= 3", 0.0f},
        {"3 > 2", 1.0f},         {"(1 < 2) + (3 > 4)", 1.0f},
        {"max(1 < 2, 0)", 1.0f}, {"sin (0)", 0.0f},
        {"x*y", -6.0f},          {"x+x", 4.0f},
    });
}

TEST(Expr, NumbersAreRoundedOnceToFloat) {
    check_values({
        {"2e3", 2000.0f},
        {"2E+3", 2000.0f},
        {"2e-1", 0.2f},
        {".5", 0.5f},
        {"5.", 5.0f},
        {"007", 7.0f},
        {"0.1", 0.1f},
        // Rounding through double first would give 1.0000001.
        {"1.00000005960464477550", 1.00000011920928955078125f},
        {"1e39", INF},
        {"-1e39", -INF},
        {"1e-50", 0.0f},
        {"pi", 3.1415927f},
    });
}

TEST(Expr, ArithmeticStaysInSinglePrecision) {
    // In double the two additions would reach 16777218 before rounding.
    EXPECT_EQ(value_of("16777216 + 1 + 1"), 16777216.0f);
    EXPECT_EQ(value_of("0.1 * 3"), 0.1f * 3.0f);
}

TEST(Expr, DivisionByZeroGivesZero) {
    check_values({{"1 / 0", 0.0f}, {"1 / -0", 0.0f}, {"0 / 0", 0.0f}, {"x / (y + 3)", 0.0f}});
    EXPECT_EQ(value_of("1 / 1e-45"), INF);
}

TEST(Expr, Functions) {
    check_values({
        {"min(1, 2)", 1.0f},
        {"max(1, 2)", 2.0f},
        {"min(nan, 2)", 2.0f},
        {"min(2, nan)", 2.0f},
        {"max(nan, -2)", -2.0f},
        {"max(-2, nan)", -2.0f},
        {"clamp(5, 0, 1)", 1.0f},
        {"clamp(-1, 0, 1)", 0.0f},
        {"clamp(0.5, 1, 0)", 1.0f},
        {"clamp(nan, 0, 1)", 0.0f},
        {"abs(-3)", 3.0f},
        {"pow(2, 10)", 1024.0f},
        {"exp(0)", 1.0f},
        {"ln(1)", 0.0f},
        {"ln(0)", std::log(1e-30f)},
        {"ln(-5)", std::log(1e-30f)},
        {"ln(nan)", std::log(1e-30f)},
        {"log2(8)", 3.0f},
        {"log2(0)", std::log2(1e-30f)},
        {"sqrt(9)", 3.0f},
        {"sqrt(-4)", 0.0f},
        {"sqrt(nan)", 0.0f},
        {"sin(pi / 2)", 1.0f},
        {"cos(0)", 1.0f},
        {"tanh(0)", 0.0f},
        {"tanh(100)", 1.0f},
        {"floor(-0.5)", -1.0f},
        {"floor(2.7)", 2.0f},
        {"round(2.5)", 3.0f},
        {"round(-2.5)", -3.0f},
        {"round(0.49)", 0.0f},
        {"db2lin(0)", 1.0f},
        {"db2lin(-6)", 0.501f, 0.001f},
        {"db2lin(20)", 10.0f, 1e-5f},
        {"lin2db(0)", -180.0f, 1e-4f},
        {"lin2db(10)", 20.0f},
        {"lin2db(nan)", -180.0f, 1e-4f},
        {"semitones(12)", 2.0f},
        {"semitones(-12)", 0.5f},
        {"note(69)", 440.0f},
        {"note(81)", 880.0f},
        {"note(57)", 220.0f},
        {"mix(10, 20, 0.25)", 12.5f},
        {"if(0.5, 10, 20)", 10.0f},
        {"if(0.49, 10, 20)", 20.0f},
        {"if(nan, 10, 20)", 20.0f},
        {"if(x > 1, x, y)", 2.0f},
        {"sync(1)", 500.0f},
        {"sync(0.5)", 250.0f},
    });
    EXPECT_TRUE(std::isnan(value_of("min(nan, nan)")));
    EXPECT_TRUE(std::isnan(value_of("nan + 1")));
    EXPECT_EQ(value_of("nan < 1"), 0.0f);
    EXPECT_EQ(value_of("nan >= 1"), 0.0f);
}

TEST(Expr, EnvironmentReads) {
    const Env env = env_at(44100.0f, 90.0f);
    // rate and bpm are built-ins even though resolve knows a "rate".
    EXPECT_EQ(value_of("rate", env), 44100.0f);
    EXPECT_EQ(value_of("bpm", env), 90.0f);
    EXPECT_EQ(value_of("x + y", env), -1.0f);
    EXPECT_EQ(value_of("far", env), 0.0f);
    EXPECT_EQ(value_of("sync(1)", env_at(48000.0f, 0.0f)), 60000.0f);
    EXPECT_EQ(value_of("sync(1)", env_at(48000.0f, NAN_F)), 60000.0f);
    EXPECT_EQ(value_of("sync(2)", env_at(48000.0f, 60.0f)), 2000.0f);
    EXPECT_EQ(value_of("x", Env{}), 0.0f);
    // A function name without parentheses is an ordinary name.
    EXPECT_EQ(value_of("min", env), -3.0f);
}

TEST(Expr, ResolveIsAskedOncePerOtherName) {
    std::vector<std::string> asked;
    auto e = Expr::parse("x + pi + rate + bpm + min(x, sin(y)) + x", [&](std::string_view name) {
        asked.emplace_back(name);
        return resolve(name);
    });
    ASSERT_TRUE(e.ok()) << e.error();
    EXPECT_EQ(asked, (std::vector<std::string>{"x", "x", "y", "x"}));
}

TEST(Expr, ConstantTrees) {
    struct Case {
        const char* text;
        bool constant;
    };
    const Case cases[] = {
        {"1 + 2", true},   {"pi", true},         {"min(1, 2)", true},    {"-(2 ^ 3) < 4", true},
        {"rate", false},   {"bpm", false},       {"sync(1)", false},     {"x", false},
        {"1 + -x", false}, {"max(1, y)", false}, {"if(1, 2, x)", false}, {"sin(rate)", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        auto e = Expr::parse(c.text, resolve);
        ASSERT_TRUE(e.ok()) << e.error();
        EXPECT_EQ(is_const(*e), c.constant);
    }
    const Expr k = Expr::constant(-2.5f);
    EXPECT_TRUE(is_const(k));
    EXPECT_EQ(eval(k, Env{}), -2.5f);
}

TEST(Expr, TreeShape) {
    auto e = Expr::parse("-x + clamp(1, 2, 3)", resolve);
    ASSERT_TRUE(e.ok());
    const auto& root = e->root();
    ASSERT_EQ(root.kind, velk::expr::Kind::Binary);
    EXPECT_EQ(root.op, velk::expr::Op::Add);
    EXPECT_EQ(root.parent, velk::expr::NO_NODE);
    const auto& neg = e->nodes()[root.children[0]];
    const auto& call = e->nodes()[root.children[1]];
    EXPECT_EQ(neg.kind, velk::expr::Kind::Neg);
    EXPECT_EQ(e->nodes()[neg.children[0]].kind, velk::expr::Kind::Slot);
    EXPECT_EQ(e->nodes()[neg.children[0]].slot, 0u);
    ASSERT_EQ(call.kind, velk::expr::Kind::Call);
    EXPECT_EQ(call.fn, velk::expr::Fn::Clamp);
    ASSERT_EQ(call.child_count, 3u);
    for (std::size_t i = 0; i < 3; ++i)
        EXPECT_EQ(e->nodes()[call.children[i]].value, static_cast<float>(i + 1));
}

TEST(Expr, ParseErrors) {
    struct Case {
        const char* text;
        const char* message;
    };
    const Case cases[] = {
        {"", "the expression is empty"},
        {"   ", "the expression is empty"},
        {"\t\n\u3000", "the expression is empty"},
        {"1 < 2 < 3", "unexpected '<' after the end of the expression '1 < 2 < 3'"},
        {"1 2", "unexpected '2' after the end of the expression '1 2'"},
        {"2e", "unexpected 'e' after the end of the expression '2e'"},
        {"2e+", "unexpected 'e' after the end of the expression '2e+'"},
        {"3 )", "unexpected ')' after the end of the expression '3 )'"},
        {"2pi", "unexpected 'p' after the end of the expression '2pi'"},
        {"1 < = 2", "expected a number or a name but found '='"},
        {"$", "expected a number or a name but found '$'"},
        {"min(,1)", "expected a number or a name but found ','"},
        {"*2", "expected a number or a name but found '*'"},
        {"(1", "a '(' is never closed"},
        {"(1 2)", "a '(' is never closed"},
        {"(1 < 2 < 3)", "a '(' is never closed"},
        {"1 +", "the expression ends where a number or a name should be"},
        {"-", "the expression ends where a number or a name should be"},
        {"2 ^", "the expression ends where a number or a name should be"},
        {"min(1,", "the expression ends where a number or a name should be"},
        {"sin(", "the expression ends where a number or a name should be"},
        {"1 <", "the expression ends where a number or a name should be"},
        {"min(1 2)", "the call to 'min' needs a ',' or a ')'"},
        {"max(1, 2", "the call to 'max' needs a ',' or a ')'"},
        {"sin()", "'sin' takes 1 value(s) but was given 0"},
        {"sin(1, 2)", "'sin' takes 1 value(s) but was given 2"},
        {"clamp(1, 2, 3, 4)", "'clamp' takes 3 value(s) but was given 4"},
        {"if(1)", "'if' takes 3 value(s) but was given 1"},
        {"foo(1)", "there is no function named 'foo'"},
        {"pi(1)", "there is no function named 'pi'"},
        {"Sin(1)", "there is no function named 'Sin'"},
        {"1.2.3", "'1.2.3' is not a number"},
        {".", "'.' is not a number"},
        {"1..e5", "'1..e5' is not a number"},
        {"nope", "'nope' is not a parameter, a modulator or a built-in name"},
        {"x + _a1", "'_a1' is not a parameter, a modulator or a built-in name"},
        {"PI", "'PI' is not a parameter, a modulator or a built-in name"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(error_of(c.text), c.message);
    }
}

TEST(Expr, UnicodeText) {
    // Every White_Space character separates tokens.
    const char* spaces[] = {"\t",     "\n",     "\v",     "\f",     "\r",     " ",
                            "\u0085", "\u00a0", "\u1680", "\u2000", "\u2005", "\u200a",
                            "\u2028", "\u2029", "\u202f", "\u205f", "\u3000"};
    for (const char* s : spaces) {
        SCOPED_TRACE(s);
        EXPECT_EQ(value_of(std::string(s) + "1" + s + "+" + s + "x" + s), 3.0f);
    }
    struct Case {
        std::string text;
        std::string message;
    };
    const Case cases[] = {
        // Zero-width space and the byte-order mark are not white space.
        {"1\u200b+1", "unexpected '\u200b' after the end of the expression '1\u200b+1'"},
        {"\ufeff1", "expected a number or a name but found '\ufeff'"},
        {"\u00e9", "expected a number or a name but found '\u00e9'"},
        {"x\U0001F600", "unexpected '\U0001F600' after the end of the expression 'x\U0001F600'"},
        {"\u0661", "expected a number or a name but found '\u0661'"},
        {std::string("1 + \0", 5),
         std::string("expected a number or a name but found '") + '\0' + "'"},
        // Malformed UTF-8 (a stray continuation byte, an overlong slash, a lone
        // surrogate, a cut sequence) reads as U+FFFD, one per byte.
        {"\x80", "expected a number or a name but found '\ufffd'"},
        {"\xc0\xaf", "expected a number or a name but found '\ufffd'"},
        {"\xed\xa0\x80", "expected a number or a name but found '\ufffd'"},
        {"1\xe2\x80", "unexpected '\ufffd' after the end of the expression '1\xe2\x80'"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(error_of(c.text), c.message);
    }
}

TEST(Expr, NestingIsLimited) {
    const std::string too_deep = "the expression is nested more than 64 levels deep";
    // Each parenthesis, prefix sign and power adds one level to the outermost one.
    EXPECT_EQ(value_of(repeat("(", 63) + "1" + repeat(")", 63)), 1.0f);
    EXPECT_EQ(error_of(repeat("(", 64) + "1" + repeat(")", 64)), too_deep);
    EXPECT_EQ(value_of(repeat("-", 62) + "x"), 2.0f);
    EXPECT_EQ(value_of(repeat("min(", 63) + "1" + repeat(", 2)", 63)), 1.0f);
    EXPECT_EQ(error_of(repeat("min(", 64) + "1" + repeat(", 2)", 64)), too_deep);
    EXPECT_EQ(error_of(repeat("2^", 64) + "1"), too_deep);
    // Prefix plus signs are skipped, not nested.
    EXPECT_EQ(value_of(repeat("+", 100000) + "1"), 1.0f);
}

TEST(Expr, HostileInputsEndCleanly) {
    const std::string too_deep = "the expression is nested more than 64 levels deep";
    EXPECT_EQ(error_of(repeat("(", 100000)), too_deep);
    EXPECT_EQ(error_of(repeat("-", 100000) + "1"), too_deep);
    EXPECT_EQ(error_of(repeat("sin(", 100000)), too_deep);
    EXPECT_EQ(error_of(repeat("1^", 100000) + "1"), too_deep);
    EXPECT_EQ(error_of(repeat("1+", 100000)),
              "the expression ends where a number or a name should be");
    EXPECT_EQ(error_of(std::string(100000, '.')),
              "'" + std::string(100000, '.') + "' is not a number");
}

TEST(Expr, LongOperatorChainsEvaluate) {
    // Long sums and products nest to the left; evaluating them must not recurse
    // once per operator.
    EXPECT_EQ(value_of("1" + repeat(" + 1", 200000)), 200001.0f);
    EXPECT_EQ(value_of("x" + repeat("*1/1", 100000) + " - y"), 5.0f);
    EXPECT_EQ(value_of("0" + repeat("+(1+2*x)", 50000) + " < 1"), 0.0f);
    EXPECT_EQ(value_of("(" + repeat("1-", 100000) + "1)*2"), 2.0f * -99999.0f);
}

TEST(Expr, EvalAllocatesNothing) {
    auto e = Expr::parse("if(x > 1, clamp(db2lin(y) * note(60 + x), 0, 1e4), lin2db(x)) + "
                         "sync(2) / rate - sqrt(abs(y)) ^ 2 + mix(ln(x), log2(x), 0.5) + "
                         "min(max(x, y), tanh(y)) + round(semitones(x)) + floor(sin(x) + cos(y))" +
                             repeat(" + x", 1000),
                         resolve);
    ASSERT_TRUE(e.ok()) << e.error();
    const Env env = env_at(48000.0f, 120.0f);
    float sum = 0.0f;
    velk::test::NoAllocScope scope;
    for (int i = 0; i < 100; ++i)
        sum += eval(*e, env);
    EXPECT_EQ(scope.count(), 0u);
    EXPECT_TRUE(std::isfinite(sum));
}

} // namespace

TEST(ExprConcurrency, ThreadsShareOneTree) {
    auto e = Expr::parse("if(x > 1, note(60 + x) * db2lin(y), sync(x)) + clamp(y, 0, 1)", resolve);
    ASSERT_TRUE(e.ok()) << e.error();
    const float expected = eval(*e, env_at(48000.0f, 120.0f));
    std::array<float, 4> results = {};
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < results.size(); ++t) {
        threads.emplace_back([&, t] {
            const Env env = env_at(48000.0f, 120.0f);
            for (int i = 0; i < 1000; ++i)
                results[t] = eval(*e, env);
        });
    }
    for (std::thread& t : threads)
        t.join();
    for (float r : results)
        EXPECT_EQ(r, expected);
}
