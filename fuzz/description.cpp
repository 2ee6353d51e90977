// The graph description reader on arbitrary bytes. An accepted description is
// written back as JSON and must read again to the same description, with every
// node of the document kept; a refusal of valid JSON names a path that exists in
// the document, and a refusal of invalid JSON carries the JSON reader's message.

#include "velk/graph/description.hpp"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

#include "support/check.hpp"
#include "support/json_text.hpp"
#include "velk/core/value.hpp"

namespace {

using velk::Json;
using velk::fuzz::json_number;
using velk::fuzz::json_string;
using namespace velk::graph;

std::string arg_text(const ArgValue& v) {
    if (const double* d = std::get_if<double>(&v))
        return json_number(*d);
    return json_string(std::get<std::string>(v));
}

std::string node_text(const NodeSpec& node) {
    std::string out = "{";
    if (const auto* block = std::get_if<BlockBody>(&node.body)) {
        out += "\"block\":" + json_string(block->block) + ",\"args\":{";
        for (std::size_t i = 0; i < block->args.size(); ++i)
            out += (i ? "," : "") + json_string(block->args[i].name) + ":" +
                   arg_text(block->args[i].value);
        out += "},\"meters\":{";
        for (std::size_t i = 0; i < block->meters.size(); ++i)
            out += (i ? "," : "") + json_string(block->meters[i].meter) + ":" +
                   json_string(block->meters[i].param);
        out += "}";
    } else if (const auto* chain = std::get_if<ChainBody>(&node.body)) {
        out += "\"chain\":[";
        for (std::size_t i = 0; i < chain->chain.size(); ++i)
            out += (i ? "," : "") + node_text(chain->chain[i]);
        out += "]";
    } else {
        const auto& parallel = std::get<ParallelBody>(node.body).parallel;
        VELK_FUZZ_CHECK(!parallel.empty());
        out += "\"parallel\":[";
        for (std::size_t i = 0; i < parallel.size(); ++i) {
            out += (i ? ",{\"node\":" : "{\"node\":") + node_text(parallel[i].node);
            if (parallel[i].gain_db)
                out += ",\"gain_db\":" + arg_text(*parallel[i].gain_db);
            out += "}";
        }
        out += "]";
    }
    if (node.bypass)
        out += ",\"bypass\":" + arg_text(*node.bypass);
    if (node.mix)
        out += ",\"mix\":" + arg_text(*node.mix);
    if (node.only) {
        out += ",\"only\":[";
        for (std::size_t i = 0; i < node.only->size(); ++i)
            out += (i ? "," : "") + std::to_string((*node.only)[i]);
        out += "]";
    }
    return out + "}";
}

// Every field of the description, in a form the reader reads back to the same.
std::string graph_text(const GraphSpec& graph) {
    std::string mods = "[";
    for (std::size_t i = 0; i < graph.modulators.size(); ++i) {
        const ModSpec& m = graph.modulators[i];
        mods += (i ? "," : "") + std::string("{\"id\":") + json_string(m.id) +
                ",\"shape\":" + json_string(m.shape) + ",\"rate\":" + arg_text(m.rate) + "}";
    }
    std::string root = node_text(graph.root);
    return "{\"modulators\":" + mods + "]," + root.substr(1);
}

std::size_t count_nodes(const NodeSpec& node) {
    std::size_t n = 1;
    if (const auto* chain = std::get_if<ChainBody>(&node.body)) {
        for (const NodeSpec& child : chain->chain)
            n += count_nodes(child);
    } else if (const auto* parallel = std::get_if<ParallelBody>(&node.body)) {
        for (const BranchSpec& branch : parallel->parallel)
            n += count_nodes(branch.node);
    }
    return n;
}

// The node objects of an accepted document, found the way the reader descends.
std::size_t count_nodes(const Json& node) {
    std::size_t n = 1;
    if (const Json* chain = node.get("chain"); chain != nullptr && node.get("block") == nullptr) {
        for (const Json& child : chain->as_array())
            n += count_nodes(child);
    } else if (const Json* parallel = node.get("parallel");
               parallel != nullptr && node.get("block") == nullptr) {
        for (const Json& branch : parallel->as_array())
            n += count_nodes(*branch.get("node"));
    }
    return n;
}

// Reads a decimal index at the front of `s` and the ']' after it.
bool take_index(std::string_view& s, std::size_t& index) {
    std::size_t digits = 0;
    index = 0;
    while (digits < s.size() && s[digits] >= '0' && s[digits] <= '9' && digits < 19)
        index = index * 10 + static_cast<std::size_t>(s[digits++] - '0');
    if (digits == 0 || digits >= s.size() || s[digits] != ']')
        return false;
    s.remove_prefix(digits + 1);
    return true;
}

const Json* element(const Json* list, std::size_t index) {
    if (list == nullptr || !list->is_array() || index >= list->as_array().size())
        return nullptr;
    return &list->as_array()[index];
}

// The message of a refused document starts with the path of something the
// document has, followed by a blank and the reason.
void check_path(const Json& doc, std::string_view message) {
    if (message == "modulators must be a list")
        return;
    std::size_t index = 0;
    const Json* at = nullptr;
    std::string_view rest = message;
    if (rest.starts_with("modulators[")) {
        rest.remove_prefix(11);
        VELK_FUZZ_CHECK(take_index(rest, index));
        at = element(doc.get("modulators"), index);
        VELK_FUZZ_CHECK(at != nullptr);
    } else {
        VELK_FUZZ_CHECK(rest.starts_with("graph"));
        rest.remove_prefix(5);
        at = &doc;
        for (;;) {
            if (rest.starts_with(".chain[")) {
                rest.remove_prefix(7);
                VELK_FUZZ_CHECK(take_index(rest, index));
                at = element(at->get("chain"), index);
            } else if (rest.starts_with(".parallel[")) {
                rest.remove_prefix(10);
                VELK_FUZZ_CHECK(take_index(rest, index));
                at = element(at->get("parallel"), index);
                if (at != nullptr && rest.starts_with(".node")) {
                    rest.remove_prefix(5);
                    at = at->get("node");
                }
            } else {
                break;
            }
            VELK_FUZZ_CHECK(at != nullptr);
        }
    }
    VELK_FUZZ_CHECK(rest.size() > 1 && rest[0] == ' ');
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    auto result = spec::from_str(text);
    auto doc = velk::value::parse(text);

    if (!result.ok()) {
        if (!doc.ok()) {
            VELK_FUZZ_CHECK(result.error() == "the graph is not valid JSON: " + doc.error());
            return 0;
        }
        check_path(*doc, result.error());
        return 0;
    }
    VELK_FUZZ_CHECK(doc.ok());
    VELK_FUZZ_CHECK(count_nodes(result->root) == count_nodes(*doc));
    const Json* mods = doc->get("modulators");
    VELK_FUZZ_CHECK(result->modulators.size() == (mods ? mods->as_array().size() : 0));

    const std::string written = graph_text(*result);
    auto again = spec::from_str(written);
    VELK_FUZZ_CHECK(again.ok());
    VELK_FUZZ_CHECK(graph_text(*again) == written);
    return 0;
}
