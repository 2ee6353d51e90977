// The expression parser, and eval of what it accepts. The input is the expression
// text, optionally followed by a NUL byte and the environment as little-endian
// 32-bit floats: rate, bpm, then up to four slot values (as many as are given, so
// some names resolve beyond the slots). eval must not allocate; a constant tree
// must give the same bits in every environment; parentheses and whitespace around
// an accepted text change nothing.

#include "velk/graph/expr.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/check.hpp"
#include "velk/test/alloc.hpp"

namespace {

using velk::expr::Env;
using velk::expr::Expr;
using velk::expr::Fn;
using velk::expr::Kind;
using velk::expr::Node;

constexpr std::size_t MAX_SLOTS = 4;

struct Name {
    std::string_view name;
    std::size_t slot = 0;
};

// "mix" and "min" are also functions: without parentheses they are plain names.
// "far" lies beyond any slot the input can give.
constexpr std::array<Name, 6> NAMES = {{
    {.name = "threshold", .slot = 0},
    {.name = "mix", .slot = 1},
    {.name = "lfo", .slot = 2},
    {.name = "x", .slot = 3},
    {.name = "min", .slot = 3},
    {.name = "far", .slot = 1000},
}};

struct Input {
    std::string_view text;
    std::array<float, MAX_SLOTS> slots = {};
    std::size_t slot_count = 0;
    float rate = 48000.0f;
    float bpm = 120.0f;
};

Input split(const std::uint8_t* data, std::size_t size) {
    const std::string_view all(reinterpret_cast<const char*>(data), size);
    Input in;
    const std::size_t nul = all.find('\0');
    in.text = all.substr(0, nul);
    if (nul == std::string_view::npos)
        return in;
    std::string_view rest = all.substr(nul + 1);
    std::vector<float> floats;
    while (rest.size() >= 4 && floats.size() < 2 + MAX_SLOTS) {
        std::uint32_t bits = 0;
        for (std::size_t k = 0; k < 4; ++k)
            bits |= static_cast<std::uint32_t>(static_cast<unsigned char>(rest[k])) << (8 * k);
        floats.push_back(std::bit_cast<float>(bits));
        rest.remove_prefix(4);
    }
    if (!floats.empty())
        in.rate = floats[0];
    if (floats.size() > 1)
        in.bpm = floats[1];
    for (std::size_t i = 2; i < floats.size(); ++i)
        in.slots[in.slot_count++] = floats[i];
    return in;
}

bool same_bits(float a, float b) {
    return (std::isnan(a) && std::isnan(b)) ||
           std::bit_cast<std::uint32_t>(a) == std::bit_cast<std::uint32_t>(b);
}

bool is_name_char(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

std::size_t arity(Fn fn) {
    switch (fn) {
    case Fn::Min:
    case Fn::Max:
    case Fn::Pow:
        return 2;
    case Fn::Clamp:
    case Fn::Mix:
    case Fn::If:
        return 3;
    default:
        return 1;
    }
}

// Every node of the array belongs to the tree, once, and links to its parent.
void check_tree(const Expr& e) {
    const std::span<const Node> nodes = e.nodes();
    VELK_FUZZ_CHECK(e.root_index() < nodes.size());
    VELK_FUZZ_CHECK(e.root().parent == velk::expr::NO_NODE);
    std::vector<std::size_t> stack = {e.root_index()};
    std::vector<bool> seen(nodes.size(), false);
    std::size_t reached = 0;
    while (!stack.empty()) {
        const std::size_t at = stack.back();
        stack.pop_back();
        VELK_FUZZ_CHECK(!seen[at]);
        seen[at] = true;
        ++reached;
        const Node& n = nodes[at];
        std::size_t expected = 0;
        switch (n.kind) {
        case Kind::Neg:
            expected = 1;
            break;
        case Kind::Binary:
            expected = 2;
            break;
        case Kind::Call:
            expected = arity(n.fn);
            break;
        default:
            break;
        }
        VELK_FUZZ_CHECK(n.child_count == expected);
        for (std::size_t i = 0; i < n.child_count; ++i) {
            VELK_FUZZ_CHECK(n.children[i] < nodes.size());
            VELK_FUZZ_CHECK(nodes[n.children[i]].parent == at);
            stack.push_back(n.children[i]);
        }
        if (n.kind == Kind::Const)
            VELK_FUZZ_CHECK(!std::isnan(n.value) && !std::signbit(n.value));
    }
    VELK_FUZZ_CHECK(reached == nodes.size());
}

// Every refusal starts like one of the parser's messages.
constexpr std::array<std::string_view, 9> MESSAGE_STARTS = {
    "the expression is empty",
    "unexpected '",
    "the expression ends where a number or a name should be",
    "a '(' is never closed",
    "expected a number or a name but found '",
    "there is no function named '",
    "the call to '",
    "the expression is nested more than",
    "'", // not a number; wrong count of values; not a parameter
};

bool known_message(std::string_view message) {
    return std::any_of(MESSAGE_STARTS.begin(), MESSAGE_STARTS.end(),
                       [&](std::string_view start) { return message.starts_with(start); });
}

float eval_without_allocating(const Expr& e, const Env& env) {
    velk::test::NoAllocScope scope;
    const float v = velk::expr::eval(e, env);
    if (velk::test::counting_allocations())
        VELK_FUZZ_CHECK(scope.count() == 0);
    return v;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Input in = split(data, size);
    std::vector<std::string> asked;
    const velk::expr::Resolve resolve = [&](std::string_view name) -> std::optional<std::size_t> {
        asked.emplace_back(name);
        for (const Name& n : NAMES) {
            if (n.name == name)
                return n.slot;
        }
        return std::nullopt;
    };

    auto parsed = Expr::parse(in.text, resolve);

    // Only names that are not built-ins reach the resolver, each one written in the text.
    for (const std::string& name : asked) {
        VELK_FUZZ_CHECK(!name.empty() && name != "pi" && name != "bpm" && name != "rate");
        VELK_FUZZ_CHECK(std::all_of(name.begin(), name.end(), is_name_char));
        VELK_FUZZ_CHECK(!(name[0] >= '0' && name[0] <= '9'));
        VELK_FUZZ_CHECK(in.text.find(name) != std::string_view::npos);
    }

    if (!parsed.ok()) {
        VELK_FUZZ_CHECK(known_message(parsed.error()));
        return 0;
    }
    const Expr& e = *parsed;
    check_tree(e);
    VELK_FUZZ_CHECK(e.nodes().size() <= in.text.size());

    const Env env{.slots = std::span<const float>(in.slots.data(), in.slot_count),
                  .rate = in.rate,
                  .bpm = in.bpm};
    const float v = eval_without_allocating(e, env);
    VELK_FUZZ_CHECK(same_bits(v, eval_without_allocating(e, env)));

    // What the compiler folds must not depend on the environment.
    if (velk::expr::is_const(e))
        VELK_FUZZ_CHECK(same_bits(v, eval_without_allocating(e, Env{})));

    const std::string text(in.text);
    auto spaced = Expr::parse("\u3000 " + text + "\t\n", resolve);
    VELK_FUZZ_CHECK(spaced.ok());
    VELK_FUZZ_CHECK(same_bits(v, eval_without_allocating(*spaced, env)));

    // One more level of nesting: the same value, unless the text was already as
    // deep as the parser allows.
    auto wrapped = Expr::parse("(" + text + ")", resolve);
    if (wrapped.ok())
        VELK_FUZZ_CHECK(same_bits(v, eval_without_allocating(*wrapped, env)));
    else
        VELK_FUZZ_CHECK(wrapped.error().find("nested more than") != std::string::npos);
    return 0;
}
