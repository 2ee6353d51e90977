#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "velk/core/result.hpp"
#include "velk/core/value.hpp"

namespace velk::graph {

/// A block argument, bypass, mix, branch gain or modulator rate as written: a
/// number (true and false read as 1 and 0) or a text kept exactly as written.
using ArgValue = std::variant<double, std::string>;

struct NodeSpec;
struct BranchSpec;

/// One member of a block's `args`, in document order.
struct NamedArg {
    std::string name;
    ArgValue value;
};

/// One member of a block's `meters`: a block meter bound to a parameter.
struct MeterBinding {
    std::string meter;
    std::string param;
};

/// A node that runs one catalogue block. Repeated names are kept as separate entries.
struct BlockBody {
    std::string block;
    std::vector<NamedArg> args;
    std::vector<MeterBinding> meters;
};

/// A node whose children run one after another, in order (possibly none).
struct ChainBody {
    std::vector<NodeSpec> chain;
};

/// A node whose branches all take its input and are summed (at least one).
struct ParallelBody {
    std::vector<BranchSpec> parallel;
};

using NodeBody = std::variant<BlockBody, ChainBody, ParallelBody>;

/// One node of the description with its optional wrapping.
struct NodeSpec {
    NodeBody body;
    std::optional<ArgValue> bypass;
    std::optional<ArgValue> mix;
    /// Channels that receive the node's effect, in document order with repeats;
    /// an empty list differs from no list.
    std::optional<std::vector<std::size_t>> only;
};

/// One element of a parallel: its node and its level in decibels (none: unity).
struct BranchSpec {
    NodeSpec node;
    std::optional<ArgValue> gain_db;
};

/// A low-frequency modulator as declared; names and shapes are checked later.
struct ModSpec {
    std::string id;
    std::string shape = "sine";
    ArgValue rate = 1.0;
};

/// A whole graph description. Owns its tree.
struct GraphSpec {
    std::vector<ModSpec> modulators;
    NodeSpec root;
};

namespace spec {

/// Reads a description from JSON text. Checks only the document's shape; fails with
/// one message that locates the problem (graph.chain[0].parallel[1].node,
/// modulators[2]). Any thread.
Result<GraphSpec> from_str(std::string_view text);

/// Reads the modulators, then the root node at the path "graph".
Result<GraphSpec> from_json(const Json& value);

/// Reads one node object and everything below it; `path` locates it in messages.
Result<NodeSpec> node_from_json(const Json& value, const std::string& path);

/// Checks that `value` is an object whose keys are all in `allowed` (byte-exact);
/// the message lists the allowed keys in the given order.
Result<void> only_keys(const Json& value, std::span<const std::string_view> allowed,
                       std::string_view path);

} // namespace spec
} // namespace velk::graph
