#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "velk/core/result.hpp"

namespace velk::expr {

/// The seven kinds of expression node.
enum class Kind : std::uint8_t { Const, Slot, Rate, Bpm, Neg, Binary, Call };

/// Operators of a Binary node. Comparisons give 1 when they hold, else 0.
enum class Op : std::uint8_t { Add, Sub, Mul, Div, Pow, Less, Greater, LessEqual, GreaterEqual };

/// Built-in functions of a Call node.
enum class Fn : std::uint8_t {
    Min,
    Max,
    Clamp,
    Abs,
    Pow,
    Exp,
    Ln,
    Log2,
    Sqrt,
    Sin,
    Cos,
    Tanh,
    Floor,
    Round,
    Db2lin,
    Lin2db,
    Semitones,
    Note,
    Mix,
    If,
    Sync,
};

/// Most arguments any built-in function takes.
inline constexpr std::size_t MAX_ARGS = 3;

/// How deeply operands may nest (parentheses, calls, prefix signs and powers each
/// add a level), so that neither parsing nor evaluation can exhaust the stack.
inline constexpr std::size_t MAX_DEPTH = 64;

/// Marks the absent parent of a tree's root.
inline constexpr std::size_t NO_NODE = static_cast<std::size_t>(-1);

/// One node of an expression tree. Children are indices into the tree's node array.
struct Node {
    Kind kind = Kind::Const;
    /// Binary only.
    Op op = Op::Add;
    /// Call only.
    Fn fn = Fn::Min;
    /// Const only.
    float value = 0.0f;
    /// Slot only: index into Env::slots.
    std::size_t slot = 0;
    /// Neg: the operand; Binary: left, right; Call: the arguments in order.
    std::array<std::size_t, MAX_ARGS> children = {};
    /// Children in use: 1 for Neg, 2 for Binary, the function's arity for Call.
    std::size_t child_count = 0;
    /// The node this one is a child of; NO_NODE for the root.
    std::size_t parent = NO_NODE;
};

/// What eval reads. Borrowed for the duration of one call.
struct Env {
    /// One value per slot: parameters first, then modulators.
    std::span<const float> slots = {};
    /// The sample rate in hertz.
    float rate = 48000.0f;
    /// The tempo in beats per minute.
    float bpm = 120.0f;
};

/// A name's slot index, or nothing when the name is unknown.
using Resolve = std::function<std::optional<std::size_t>(std::string_view name)>;

/// An immutable expression tree, laid out as one flat node array. Copies are
/// independent; destruction frees the whole tree at once.
class Expr {
public:
    /// Parses `text` (UTF-8). `resolve` is asked once per occurrence of a name that
    /// is not a built-in and not a call. Fails with one plain-English message.
    /// Main thread: allocates.
    static Result<Expr> parse(std::string_view text, const Resolve& resolve);

    /// A tree of one Const node.
    static Expr constant(float value);

    /// Every node of the tree; the root is at root_index().
    std::span<const Node> nodes() const noexcept { return nodes_; }
    std::size_t root_index() const noexcept { return root_; }
    const Node& root() const noexcept { return nodes_[root_]; }

private:
    Expr(std::vector<Node> nodes, std::size_t root) : nodes_(std::move(nodes)), root_(root) {}

    std::vector<Node> nodes_;
    std::size_t root_ = 0;

    friend class Parser;
};

/// True when the value can never change: no Slot, Rate, Bpm or call of sync.
/// Any thread.
bool is_const(const Expr& expr) noexcept;

/// The value of the tree in 32-bit floats. Never fails: division by zero gives 0,
/// logarithms and square roots are guarded, a slot beyond env.slots reads 0.
/// Audio thread: no allocation, no locks, no waits. Recursion follows nesting, not
/// the length of operator runs, so its depth is a small multiple of MAX_DEPTH.
float eval(const Expr& expr, const Env& env) noexcept;

} // namespace velk::expr
