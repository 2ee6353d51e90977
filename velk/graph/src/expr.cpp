#include "velk/graph/expr.hpp"

#include <array>
#include <cmath>
#include <string>
#include <type_traits>

#include "velk/core/text.hpp"

namespace velk::expr {
namespace {

// Every function below must stay in single precision.
static_assert(std::is_same_v<decltype(std::pow(1.0f, 1.0f)), float>);
static_assert(std::is_same_v<decltype(std::exp2(1.0f)), float>);
static_assert(std::is_same_v<decltype(std::log10(1.0f)), float>);

struct FnInfo {
    std::string_view name;
    std::size_t arity = 0;
    Fn fn = Fn::Min;
};

constexpr std::array<FnInfo, 21> FUNCTIONS = {{
    {.name = "min", .arity = 2, .fn = Fn::Min},
    {.name = "max", .arity = 2, .fn = Fn::Max},
    {.name = "clamp", .arity = 3, .fn = Fn::Clamp},
    {.name = "abs", .arity = 1, .fn = Fn::Abs},
    {.name = "pow", .arity = 2, .fn = Fn::Pow},
    {.name = "exp", .arity = 1, .fn = Fn::Exp},
    {.name = "ln", .arity = 1, .fn = Fn::Ln},
    {.name = "log2", .arity = 1, .fn = Fn::Log2},
    {.name = "sqrt", .arity = 1, .fn = Fn::Sqrt},
    {.name = "sin", .arity = 1, .fn = Fn::Sin},
    {.name = "cos", .arity = 1, .fn = Fn::Cos},
    {.name = "tanh", .arity = 1, .fn = Fn::Tanh},
    {.name = "floor", .arity = 1, .fn = Fn::Floor},
    {.name = "round", .arity = 1, .fn = Fn::Round},
    {.name = "db2lin", .arity = 1, .fn = Fn::Db2lin},
    {.name = "lin2db", .arity = 1, .fn = Fn::Lin2db},
    {.name = "semitones", .arity = 1, .fn = Fn::Semitones},
    {.name = "note", .arity = 1, .fn = Fn::Note},
    {.name = "mix", .arity = 3, .fn = Fn::Mix},
    {.name = "if", .arity = 3, .fn = Fn::If},
    {.name = "sync", .arity = 1, .fn = Fn::Sync},
}};

constexpr float PI = 3.1415927f;
constexpr float DB_TO_LN = 0.11512925f;

const FnInfo* find_function(std::string_view name) noexcept {
    for (const FnInfo& f : FUNCTIONS) {
        if (f.name == name)
            return &f;
    }
    return nullptr;
}

// Unicode White_Space.
bool is_space(char32_t c) noexcept {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
           c == 0x205F || c == 0x3000;
}

bool is_digit(char32_t c) noexcept {
    return c >= '0' && c <= '9';
}

bool is_letter(char32_t c) noexcept {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Decodes UTF-8; every byte that does not start a well-formed sequence (overlong
// forms and surrogates included) becomes one U+FFFD.
std::vector<char32_t> decode(std::string_view text) {
    std::vector<char32_t> out;
    out.reserve(text.size());
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n) {
        const auto b0 = static_cast<unsigned char>(text[i]);
        std::size_t len = 0;
        char32_t c = 0;
        char32_t min = 0;
        if (b0 < 0x80) {
            len = 1;
            c = b0;
        } else if (b0 >= 0xC2 && b0 <= 0xDF) {
            len = 2;
            c = b0 & 0x1Fu;
            min = 0x80;
        } else if (b0 >= 0xE0 && b0 <= 0xEF) {
            len = 3;
            c = b0 & 0x0Fu;
            min = 0x800;
        } else if (b0 >= 0xF0 && b0 <= 0xF4) {
            len = 4;
            c = b0 & 0x07u;
            min = 0x10000;
        }
        bool ok = len != 0 && i + len <= n;
        for (std::size_t k = 1; ok && k < len; ++k) {
            const auto b = static_cast<unsigned char>(text[i + k]);
            if ((b & 0xC0u) != 0x80u)
                ok = false;
            else
                c = (c << 6) | (b & 0x3Fu);
        }
        if (ok && (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)))
            ok = false;
        if (ok) {
            out.push_back(c);
            i += len;
        } else {
            out.push_back(0xFFFD);
            ++i;
        }
    }
    return out;
}

std::string encode(char32_t c) {
    std::string s;
    if (c < 0x80) {
        s += static_cast<char>(c);
    } else if (c < 0x800) {
        s += static_cast<char>(0xC0 | (c >> 6));
        s += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        s += static_cast<char>(0xE0 | (c >> 12));
        s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        s += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        s += static_cast<char>(0xF0 | (c >> 18));
        s += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        s += static_cast<char>(0x80 | (c & 0x3F));
    }
    return s;
}

// The larger or smaller of two values; when one is NaN, the other.
float max_of(float a, float b) noexcept {
    if (std::isnan(a))
        return b;
    if (std::isnan(b))
        return a;
    return b > a ? b : a;
}

float min_of(float a, float b) noexcept {
    if (std::isnan(a))
        return b;
    if (std::isnan(b))
        return a;
    return b < a ? b : a;
}

float apply(Op op, float a, float b) noexcept {
    switch (op) {
    case Op::Add:
        return a + b;
    case Op::Sub:
        return a - b;
    case Op::Mul:
        return a * b;
    case Op::Div:
        return b == 0.0f ? 0.0f : a / b;
    case Op::Pow:
        return std::pow(a, b);
    case Op::Less:
        return a < b ? 1.0f : 0.0f;
    case Op::Greater:
        return a > b ? 1.0f : 0.0f;
    case Op::LessEqual:
        return a <= b ? 1.0f : 0.0f;
    case Op::GreaterEqual:
        return a >= b ? 1.0f : 0.0f;
    }
    return 0.0f;
}

float call(Fn fn, const float* x, float bpm) noexcept {
    switch (fn) {
    case Fn::Min:
        return min_of(x[0], x[1]);
    case Fn::Max:
        return max_of(x[0], x[1]);
    case Fn::Clamp:
        return min_of(max_of(x[0], x[1]), max_of(x[2], x[1]));
    case Fn::Abs:
        return std::fabs(x[0]);
    case Fn::Pow:
        return std::pow(x[0], x[1]);
    case Fn::Exp:
        return std::exp(x[0]);
    case Fn::Ln:
        return std::log(max_of(x[0], 1e-30f));
    case Fn::Log2:
        return std::log2(max_of(x[0], 1e-30f));
    case Fn::Sqrt:
        return std::sqrt(max_of(x[0], 0.0f));
    case Fn::Sin:
        return std::sin(x[0]);
    case Fn::Cos:
        return std::cos(x[0]);
    case Fn::Tanh:
        return std::tanh(x[0]);
    case Fn::Floor:
        return std::floor(x[0]);
    case Fn::Round:
        return std::round(x[0]);
    case Fn::Db2lin:
        return std::exp(x[0] * DB_TO_LN);
    case Fn::Lin2db:
        return 20.0f * std::log10(max_of(x[0], 1e-9f));
    case Fn::Semitones:
        return std::exp2(x[0] / 12.0f);
    case Fn::Note:
        return 440.0f * std::exp2((x[0] - 69.0f) / 12.0f);
    case Fn::Mix:
        return x[0] + (x[1] - x[0]) * x[2];
    case Fn::If: // chosen before the call; never reached
        return x[0] >= 0.5f ? x[1] : x[2];
    case Fn::Sync:
        return x[0] * (60000.0f / max_of(bpm, 1.0f));
    }
    return 0.0f;
}

float eval_at(const Node* nodes, std::size_t index, const Env& env) noexcept;

float eval_leaf(const Node* nodes, const Node& n, const Env& env) noexcept {
    switch (n.kind) {
    case Kind::Const:
        return n.value;
    case Kind::Slot:
        return n.slot < env.slots.size() ? env.slots[n.slot] : 0.0f;
    case Kind::Rate:
        return env.rate;
    case Kind::Bpm:
        return env.bpm;
    case Kind::Neg:
        return -eval_at(nodes, n.children[0], env);
    case Kind::Binary: // handled by eval_at
        return apply(n.op, eval_at(nodes, n.children[0], env), eval_at(nodes, n.children[1], env));
    case Kind::Call: {
        if (n.fn == Fn::If) {
            const float c = eval_at(nodes, n.children[0], env);
            // NaN fails the test and selects the second choice.
            return eval_at(nodes, c >= 0.5f ? n.children[1] : n.children[2], env);
        }
        std::array<float, MAX_ARGS> x = {};
        for (std::size_t i = 0; i < n.child_count; ++i)
            x[i] = eval_at(nodes, n.children[i], env);
        return call(n.fn, x.data(), env.bpm);
    }
    }
    return 0.0f;
}

// Left operands are walked in a loop and right operands by recursion. Sums and
// products of any length nest to the left, so the recursion depth is bounded by the
// parser's nesting limit, not by the length of the text.
float eval_at(const Node* nodes, std::size_t index, const Env& env) noexcept {
    std::size_t at = index;
    while (nodes[at].kind == Kind::Binary)
        at = nodes[at].children[0];
    float v = eval_leaf(nodes, nodes[at], env);
    while (at != index) {
        at = nodes[at].parent;
        v = apply(nodes[at].op, v, eval_at(nodes, nodes[at].children[1], env));
    }
    return v;
}

} // namespace

/// The parser's cursor over the decoded text; builds the node array children first.
class Parser {
public:
    Parser(std::string_view text, const Resolve& resolve)
        : text_(text), chars_(decode(text)), resolve_(resolve) {}

    Result<Expr> run() {
        skip_space();
        if (at_end())
            return fail("the expression is empty");
        auto root = comparison();
        if (!root)
            return fail(root.error());
        skip_space();
        if (!at_end())
            return fail("unexpected '" + encode(peek()) + "' after the end of the expression '" +
                        std::string(text_) + "'");
        return Expr(std::move(nodes_), *root);
    }

private:
    using Step = Result<std::size_t>;

    bool at_end() const noexcept { return pos_ >= chars_.size(); }
    char32_t peek() const noexcept { return chars_[pos_]; }
    bool next_is(char32_t c) const noexcept { return !at_end() && peek() == c; }

    void skip_space() noexcept {
        while (!at_end() && is_space(peek()))
            ++pos_;
    }

    std::size_t push(Node node) {
        const std::size_t index = nodes_.size();
        for (std::size_t i = 0; i < node.child_count; ++i)
            nodes_[node.children[i]].parent = index;
        nodes_.push_back(node);
        return index;
    }

    std::size_t binary(Op op, std::size_t left, std::size_t right) {
        return push(
            Node{.kind = Kind::Binary, .op = op, .children = {left, right, 0}, .child_count = 2});
    }

    Step comparison() {
        auto left = sum();
        if (!left)
            return left;
        skip_space();
        if (!next_is('<') && !next_is('>'))
            return left;
        const bool less = peek() == '<';
        ++pos_;
        const bool or_equal = next_is('=');
        if (or_equal)
            ++pos_;
        auto right = sum();
        if (!right)
            return right;
        const Op op = less ? (or_equal ? Op::LessEqual : Op::Less)
                           : (or_equal ? Op::GreaterEqual : Op::Greater);
        return binary(op, *left, *right);
    }

    // A left-associative run of operands joined by two operators.
    Step run_of(char32_t first, Op first_op, char32_t second, Op second_op,
                Step (Parser::*operand)()) {
        auto left = (this->*operand)();
        if (!left)
            return left;
        std::size_t result = *left;
        for (;;) {
            skip_space();
            if (!next_is(first) && !next_is(second))
                return result;
            const Op op = peek() == first ? first_op : second_op;
            ++pos_;
            auto right = (this->*operand)();
            if (!right)
                return right;
            result = binary(op, result, *right);
        }
    }

    Step sum() { return run_of('+', Op::Add, '-', Op::Sub, &Parser::product); }
    Step product() { return run_of('*', Op::Mul, '/', Op::Div, &Parser::prefixed); }

    // Every nested operand passes through here, so this is the one depth check.
    Step prefixed() {
        if (depth_ == MAX_DEPTH)
            return fail("the expression is nested more than " + std::to_string(MAX_DEPTH) +
                        " levels deep");
        ++depth_;
        auto result = prefixed_body();
        --depth_;
        return result;
    }

    Step prefixed_body() {
        for (;;) {
            skip_space();
            if (at_end())
                return fail("the expression ends where a number or a name should be");
            if (peek() == '-') {
                ++pos_;
                auto operand = prefixed();
                if (!operand)
                    return operand;
                return push(
                    Node{.kind = Kind::Neg, .children = {*operand, 0, 0}, .child_count = 1});
            }
            if (peek() != '+')
                break;
            ++pos_;
        }
        auto base = primary();
        if (!base)
            return base;
        skip_space();
        if (!next_is('^'))
            return base;
        ++pos_;
        auto exponent = prefixed();
        if (!exponent)
            return exponent;
        return binary(Op::Pow, *base, *exponent);
    }

    Step primary() {
        const char32_t c = peek();
        if (c == '(') {
            ++pos_;
            auto inner = comparison();
            if (!inner)
                return inner;
            skip_space();
            if (!next_is(')'))
                return fail("a '(' is never closed");
            ++pos_;
            return inner;
        }
        if (is_digit(c) || c == '.')
            return number();
        if (is_letter(c) || c == '_')
            return name();
        return fail("expected a number or a name but found '" + encode(c) + "'");
    }

    Step number() {
        std::string token;
        while (!at_end() && (is_digit(peek()) || peek() == '.'))
            token += static_cast<char>(chars_[pos_++]);
        if (next_is('e') || next_is('E')) {
            std::size_t look = pos_ + 1;
            if (look < chars_.size() && (chars_[look] == '+' || chars_[look] == '-'))
                ++look;
            if (look < chars_.size() && is_digit(chars_[look])) {
                while (pos_ < look)
                    token += static_cast<char>(chars_[pos_++]);
                while (!at_end() && is_digit(peek()))
                    token += static_cast<char>(chars_[pos_++]);
            }
        }
        const std::optional<float> value = to_float(token);
        if (!value)
            return fail("'" + token + "' is not a number");
        return push(Node{.kind = Kind::Const, .value = *value});
    }

    Step name() {
        std::string name;
        while (!at_end() && (is_letter(peek()) || is_digit(peek()) || peek() == '_'))
            name += static_cast<char>(chars_[pos_++]);
        skip_space();
        if (next_is('('))
            return call(name);
        if (name == "pi")
            return push(Node{.kind = Kind::Const, .value = PI});
        if (name == "bpm")
            return push(Node{.kind = Kind::Bpm});
        if (name == "rate")
            return push(Node{.kind = Kind::Rate});
        const std::optional<std::size_t> slot = resolve_ ? resolve_(name) : std::nullopt;
        if (!slot)
            return fail("'" + name + "' is not a parameter, a modulator or a built-in name");
        return push(Node{.kind = Kind::Slot, .slot = *slot});
    }

    Step call(const std::string& name) {
        const FnInfo* info = find_function(name);
        if (info == nullptr)
            return fail("there is no function named '" + name + "'");
        ++pos_;
        skip_space();
        Node node{.kind = Kind::Call, .fn = info->fn};
        std::size_t given = 0;
        if (next_is(')')) {
            ++pos_;
        } else {
            for (;;) {
                auto arg = comparison();
                if (!arg)
                    return arg;
                if (given < MAX_ARGS)
                    node.children[given] = *arg;
                ++given;
                skip_space();
                if (next_is(',')) {
                    ++pos_;
                } else if (next_is(')')) {
                    ++pos_;
                    break;
                } else {
                    return fail("the call to '" + name + "' needs a ',' or a ')'");
                }
            }
        }
        if (given != info->arity)
            return fail("'" + name + "' takes " + std::to_string(info->arity) +
                        " value(s) but was given " + std::to_string(given));
        node.child_count = given;
        return push(node);
    }

    std::string_view text_;
    std::vector<char32_t> chars_;
    const Resolve& resolve_;
    std::size_t pos_ = 0;
    std::size_t depth_ = 0;
    std::vector<Node> nodes_;
};

Result<Expr> Expr::parse(std::string_view text, const Resolve& resolve) {
    return Parser(text, resolve).run();
}

Expr Expr::constant(float value) {
    return Expr({Node{.kind = Kind::Const, .value = value}}, 0);
}

bool is_const(const Expr& expr) noexcept {
    // Every node of the array belongs to the tree.
    for (const Node& n : expr.nodes()) {
        if (n.kind == Kind::Slot || n.kind == Kind::Rate || n.kind == Kind::Bpm ||
            (n.kind == Kind::Call && n.fn == Fn::Sync))
            return false;
    }
    return true;
}

float eval(const Expr& expr, const Env& env) noexcept {
    // Most arguments are a bare parameter name; that needs no walk.
    const Node& root = expr.root();
    if (root.kind == Kind::Slot)
        return root.slot < env.slots.size() ? env.slots[root.slot] : 0.0f;
    return eval_at(expr.nodes().data(), expr.root_index(), env);
}

} // namespace velk::expr
