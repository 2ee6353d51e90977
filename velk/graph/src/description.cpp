#include "velk/graph/description.hpp"

#include <array>
#include <cmath>
#include <limits>

namespace velk::graph::spec {
namespace {

constexpr std::array<std::string_view, 10> NODE_KEYS = {
    "block", "args", "meters", "chain", "parallel", "bypass", "mix", "only", "modulators", "id",
};
constexpr std::array<std::string_view, 2> BRANCH_KEYS = {"node", "gain_db"};
constexpr std::array<std::string_view, 3> MODULATOR_KEYS = {"id", "shape", "rate"};

std::string indexed(std::string_view prefix, std::string_view list, std::size_t i) {
    return std::string(prefix) + std::string(list) + "[" + std::to_string(i) + "]";
}

Result<ArgValue> arg_value(const Json& value, const std::string& label) {
    switch (value.kind()) {
    case Json::Kind::Number:
        return ArgValue(value.as_number());
    case Json::Kind::Boolean:
        return ArgValue(value.as_bool() ? 1.0 : 0.0);
    case Json::Kind::String:
        return ArgValue(value.as_string());
    default:
        return fail(label + " must be a number or a string");
    }
}

// Reads the member `key` as an argument value when it is present.
Result<std::optional<ArgValue>> optional_arg(const Json& node, std::string_view key,
                                             const std::string& label) {
    const Json* value = node.get(key);
    if (value == nullptr)
        return std::optional<ArgValue>();
    auto converted = arg_value(*value, label);
    if (!converted)
        return fail(converted.error());
    return std::optional<ArgValue>(std::move(converted).value());
}

// A whole number from 0. Infinity is not a whole number; finite numbers beyond
// the machine word saturate to its largest value, a channel that never exists.
std::optional<std::size_t> channel_number(const Json& value) {
    if (!value.is_number())
        return std::nullopt;
    const double d = value.as_number();
    if (!std::isfinite(d) || d < 0.0 || std::trunc(d) != d)
        return std::nullopt;
    constexpr auto max = std::numeric_limits<std::size_t>::max();
    // 2^64 as a double; every double below it converts exactly.
    if (d >= static_cast<double>(max))
        return max;
    return static_cast<std::size_t>(d);
}

Result<std::vector<std::size_t>> only_list(const Json& value, const std::string& path) {
    if (!value.is_array())
        return fail(path + " only must be a list of channel numbers");
    std::vector<std::size_t> channels;
    channels.reserve(value.as_array().size());
    for (const Json& element : value.as_array()) {
        const auto channel = channel_number(element);
        if (!channel)
            return fail(path + " only must hold whole channel numbers from 0");
        channels.push_back(*channel);
    }
    return channels;
}

Result<NodeBody> block_body(const Json& node, const std::string& path) {
    BlockBody body;
    const Json& block = *node.get("block");
    if (!block.is_string())
        return fail(path + " block must be a name");
    body.block = block.as_string();

    if (const Json* args = node.get("args")) {
        if (!args->is_object())
            return fail(path + " args must be an object");
        for (const Json::Member& m : args->as_object()) {
            auto value = arg_value(m.value, path + " argument '" + m.key + "'");
            if (!value)
                return fail(value.error());
            body.args.push_back(NamedArg{m.key, std::move(value).value()});
        }
    }

    if (const Json* meters = node.get("meters")) {
        if (!meters->is_object())
            return fail(path + " meters must be an object");
        for (const Json::Member& m : meters->as_object()) {
            if (!m.value.is_string())
                return fail(path + " meter '" + m.key + "' must name a parameter");
            body.meters.push_back(MeterBinding{m.key, m.value.as_string()});
        }
    }
    return NodeBody(std::move(body));
}

Result<NodeBody> chain_body(const Json& node, const std::string& path) {
    const Json& chain = *node.get("chain");
    if (!chain.is_array())
        return fail(path + " chain must be a list");
    ChainBody body;
    body.chain.reserve(chain.as_array().size());
    std::size_t i = 0;
    for (const Json& element : chain.as_array()) {
        auto child = node_from_json(element, indexed(path, ".chain", i++));
        if (!child)
            return fail(child.error());
        body.chain.push_back(std::move(child).value());
    }
    return NodeBody(std::move(body));
}

Result<NodeBody> parallel_body(const Json& node, const std::string& path) {
    const Json& parallel = *node.get("parallel");
    if (!parallel.is_array())
        return fail(path + " parallel must be a list of branches");
    if (parallel.as_array().empty())
        return fail(path + " parallel needs at least one branch");
    ParallelBody body;
    body.parallel.reserve(parallel.as_array().size());
    std::size_t i = 0;
    for (const Json& element : parallel.as_array()) {
        const std::string branch_path = indexed(path, ".parallel", i++);
        if (auto keys = only_keys(element, BRANCH_KEYS, branch_path); !keys)
            return fail(keys.error());
        const Json* node_value = element.get("node");
        if (node_value == nullptr)
            return fail(branch_path + " needs a node");
        auto gain = optional_arg(element, "gain_db", branch_path + " gain_db");
        if (!gain)
            return fail(gain.error());
        auto child = node_from_json(*node_value, branch_path + ".node");
        if (!child)
            return fail(child.error());
        body.parallel.push_back(BranchSpec{std::move(child).value(), std::move(gain).value()});
    }
    return NodeBody(std::move(body));
}

} // namespace

Result<void> only_keys(const Json& value, std::span<const std::string_view> allowed,
                       std::string_view path) {
    if (!value.is_object())
        return fail(std::string(path) + " must be an object");
    for (const Json::Member& m : value.as_object()) {
        bool known = false;
        for (std::string_view key : allowed)
            known = known || key == m.key;
        if (known)
            continue;
        std::string list;
        for (std::string_view key : allowed) {
            if (!list.empty())
                list += ", ";
            list += key;
        }
        return fail(std::string(path) + " has an unknown key '" + m.key +
                    "'. It can have: " + list);
    }
    return {};
}

Result<NodeSpec> node_from_json(const Json& value, const std::string& path) {
    if (auto keys = only_keys(value, NODE_KEYS, path); !keys)
        return fail(keys.error());

    NodeSpec node;
    auto bypass = optional_arg(value, "bypass", path + " bypass");
    if (!bypass)
        return fail(bypass.error());
    node.bypass = std::move(bypass).value();
    auto mix = optional_arg(value, "mix", path + " mix");
    if (!mix)
        return fail(mix.error());
    node.mix = std::move(mix).value();
    if (const Json* only = value.get("only")) {
        auto channels = only_list(*only, path);
        if (!channels)
            return fail(channels.error());
        node.only = std::move(channels).value();
    }

    const bool has_block = value.get("block") != nullptr;
    const bool has_chain = value.get("chain") != nullptr;
    const bool has_parallel = value.get("parallel") != nullptr;
    if (static_cast<int>(has_block) + static_cast<int>(has_chain) +
            static_cast<int>(has_parallel) !=
        1)
        return fail(path + " must have exactly one of block, chain or parallel");

    auto body = has_block   ? block_body(value, path)
                : has_chain ? chain_body(value, path)
                            : parallel_body(value, path);
    if (!body)
        return fail(body.error());
    node.body = std::move(body).value();
    return node;
}

Result<GraphSpec> from_json(const Json& value) {
    GraphSpec graph;
    if (const Json* modulators = value.get("modulators")) {
        if (!modulators->is_array())
            return fail("modulators must be a list");
        std::size_t i = 0;
        for (const Json& element : modulators->as_array()) {
            const std::string path = indexed("", "modulators", i++);
            if (auto keys = only_keys(element, MODULATOR_KEYS, path); !keys)
                return fail(keys.error());
            ModSpec mod;
            const Json* id = element.get("id");
            if (id == nullptr || !id->is_string())
                return fail(path + " needs an id");
            mod.id = id->as_string();
            // A shape that is not a string reads as the default.
            if (const Json* shape = element.get("shape"); shape != nullptr && shape->is_string())
                mod.shape = shape->as_string();
            if (const Json* rate = element.get("rate")) {
                auto converted = arg_value(*rate, path + " rate");
                if (!converted)
                    return fail(converted.error());
                mod.rate = std::move(converted).value();
            }
            graph.modulators.push_back(std::move(mod));
        }
    }
    auto root = node_from_json(value, "graph");
    if (!root)
        return fail(root.error());
    graph.root = std::move(root).value();
    return graph;
}

Result<GraphSpec> from_str(std::string_view text) {
    auto value = value::parse(text);
    if (!value)
        return fail("the graph is not valid JSON: " + value.error());
    return from_json(value.value());
}

} // namespace velk::graph::spec
