#include <array>
#include <string>

#include "halvex/halvex.hpp"
#include "velk/core/fatal.hpp"

namespace halvex {
namespace {

// One line, no white space: 252 bytes.
constexpr std::string_view DESCRIPTION =
    R"({"bypass":"bypass","mix":"mix","chain":[{"block":"dynamics","args":{"mode":"compressor",)"
    R"("threshold_db":"threshold","ratio":"ratio","knee_db":"knee","attack_ms":"attack",)"
    R"("release_ms":"release","makeup_db":"makeup"},"meters":{"gain_reduction_db":"gr"}}]})";

velk::graph::Graph compile(std::string_view text) {
    std::array<std::string_view, 9> ids{};
    const auto table = param_table();
    for (std::size_t i = 0; i < ids.size(); ++i)
        ids[i] = table[i].id;
    auto graph = velk::graph::Graph::from_str(text, ids);
    if (!graph)
        velk::fatal("the graph was checked against the parameters when it was set: " +
                    graph.error());
    return std::move(graph).value();
}

} // namespace

std::string_view description() noexcept {
    return DESCRIPTION;
}

State::State(std::string_view text) : graph_(compile(text)) {}

} // namespace halvex
