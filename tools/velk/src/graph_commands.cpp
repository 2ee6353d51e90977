#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <sys/stat.h>

#include "commands.hpp"
#include "levels.hpp"
#include "output.hpp"
#include "stream.hpp"
#include "velk/core/param.hpp"
#include "velk/core/plugin.hpp"
#include "velk/core/text.hpp"
#include "velk/graph/graph.hpp"

namespace velk::tool {

namespace {

constexpr std::string_view CHECK_OPERANDS[] = {"GRAPH.json"};
constexpr OptionSpec CHECK_OPTIONS[] = {
    {.name = "params",
     .value = "NAME,NAME,...",
     .help = "The parameter names the description may use, in slot order."},
};

constexpr std::string_view RUN_OPERANDS[] = {"GRAPH.json", "IN", "OUT"};
constexpr OptionSpec RUN_OPTIONS[] = {
    {.name = "param",
     .value = "NAME=VALUE",
     .help = "A parameter the description may use, holding the number VALUE; the order of the "
             "options is the slot order.",
     .repeat = true},
    {.name = "block", .value = "N", .help = "Frames per processed block (default 512)."},
};

// Every parameter is a plain number with this range, wide enough for any argument.
constexpr float PARAM_LIMIT = 1.0e9f;
constexpr float CHECK_RATE = 48000.0f;

/// Parameters made from names and values: the names own the text the table and
/// the compiler view.
class GraphParams {
public:
    static Result<GraphParams> make(std::vector<std::string> names, std::vector<float> values) {
        for (std::size_t i = 0; i < names.size(); ++i) {
            if (names[i].empty())
                return fail("a parameter name is empty");
            for (std::size_t j = 0; j < i; ++j)
                if (names[j] == names[i])
                    return fail("parameter '" + names[i] + "' is named twice");
        }
        return GraphParams(std::move(names), std::move(values));
    }

    std::span<const std::string_view> views() const noexcept { return views_; }
    const ParamSet& set() const noexcept { return set_; }

private:
    GraphParams(std::vector<std::string> names, std::vector<float> values)
        : names_(std::move(names)),
          views_(names_.begin(), names_.end()),
          table_(make_table(views_, values)),
          set_(ParamSet::with_channels(table_, 1)) {}

    static std::vector<ParamInfo> make_table(const std::vector<std::string_view>& names,
                                             const std::vector<float>& values) {
        std::vector<ParamInfo> table;
        for (std::size_t i = 0; i < names.size(); ++i)
            table.push_back(ParamInfo{.id = names[i],
                                      .name = names[i],
                                      .min = -PARAM_LIMIT,
                                      .max = PARAM_LIMIT,
                                      .default_value = values[i]});
        return table;
    }

    std::vector<std::string> names_;
    std::vector<std::string_view> views_;
    std::vector<ParamInfo> table_;
    ParamSet set_;
};

Result<std::string> read_text(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return fail("cannot read '" + path + "': " + std::strerror(errno));
    if (S_ISDIR(st.st_mode))
        return fail("cannot read '" + path + "': it is a folder");
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return fail("cannot read '" + path + "': " + std::strerror(errno));
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad())
        return fail("cannot read '" + path + "': read error");
    return text.str();
}

void count_blocks(const graph::Node& node, std::map<std::string, int>& counts,
                  std::vector<std::string>& order) {
    if (const auto* block = std::get_if<graph::BlockNode>(&node.body)) {
        const std::string name = block->info != nullptr ? std::string(block->info->name) : "?";
        if (counts[name]++ == 0)
            order.push_back(name);
    } else if (const auto* chain = std::get_if<graph::ChainNode>(&node.body)) {
        for (const graph::Node& child : chain->nodes)
            count_blocks(child, counts, order);
    } else if (const auto* parallel = std::get_if<graph::ParallelNode>(&node.body)) {
        for (const graph::Branch& branch : parallel->branches)
            count_blocks(branch.node, counts, order);
    } else if (const auto* mix = std::get_if<std::unique_ptr<graph::MixNode>>(&node.body)) {
        if (*mix)
            count_blocks((*mix)->inner, counts, order);
    }
}

std::string seconds_text(std::uint32_t samples, float rate) {
    return format_fixed(static_cast<double>(samples) / static_cast<double>(rate), 3) + " s";
}

} // namespace

const CommandSpec CHECK{
    .name = "check",
    .operands = CHECK_OPERANDS,
    .summary = "Compile a graph description and summarise it.",
    .details = "Compiles the graph description in GRAPH.json against the parameter names of\n"
               "--params. On success prints the blocks used and the latency and tail at\n"
               "48 kHz (every parameter at 0); otherwise prints the compiler's message and\n"
               "exits with status 1.",
    .options = CHECK_OPTIONS,
    .example = "velk check compressor.json --params threshold,ratio,knee,attack,release,makeup,"
               "mix,bypass,gr",
};

const CommandSpec RUN{
    .name = "run",
    .operands = RUN_OPERANDS,
    .summary = "Process an audio file through a graph description.",
    .details =
        "Compiles the graph description in GRAPH.json against the parameters of --param,\n"
        "prepares it at the sample rate and channel count of IN, and processes IN in blocks\n"
        "and then the graph's tail. The output is aligned with the input (the graph's\n"
        "latency is taken off its start) and written to OUT in the format of IN.",
    .options = RUN_OPTIONS,
    .example = "velk run graph.json in.wav out.wav --param level=-6",
};

Result<void> check(const Args& args) {
    const std::string& path = args.operands[0];
    std::vector<std::string> names;
    if (args.has("params")) {
        const std::string list = args.last("params");
        std::size_t start = 0;
        for (;;) {
            const std::size_t comma = list.find(',', start);
            names.push_back(list.substr(start, comma - start));
            if (comma == std::string::npos)
                break;
            start = comma + 1;
        }
    }
    Result<std::string> text = read_text(path);
    if (!text)
        return fail(text.error());
    Result<GraphParams> params = GraphParams::make(names, std::vector<float>(names.size(), 0.0f));
    if (!params)
        return fail("--params: " + params.error());
    Result<graph::Graph> compiled = graph::Graph::from_str(*text, params->views());
    if (!compiled)
        return fail(verbatim(compiled.error()));
    graph::Graph& graph = *compiled;
    graph.prepare(ProcessSetup{.max_frames = 512, .sample_rate = CHECK_RATE, .channels = 2});

    std::map<std::string, int> counts;
    std::vector<std::string> order;
    count_blocks(graph.root(), counts, order);
    int total = 0;
    std::string list;
    for (const std::string& name : order) {
        total += counts[name];
        list += (list.empty() ? "" : ", ") + name;
        if (counts[name] > 1)
            list += " x" + std::to_string(counts[name]);
    }
    const std::uint32_t latency = graph.latency_samples();
    const std::uint32_t tail = graph.tail_for(params->set());
    std::printf("%s compiles against %zu parameters\n", path.c_str(), names.size());
    std::printf("blocks:  %d%s%s\n", total, list.empty() ? "" : ": ", list.c_str());
    if (!graph.modulators().empty())
        std::printf("modulators: %zu\n", graph.modulators().size());
    std::printf("latency: %u samples (%s) at 48 kHz\n", latency,
                seconds_text(latency, CHECK_RATE).c_str());
    std::printf("tail:    %u samples (%s) at 48 kHz, every parameter at 0\n", tail,
                seconds_text(tail, CHECK_RATE).c_str());
    return {};
}

Result<void> run(const Args& args) {
    const std::string& graph_path = args.operands[0];
    const std::string& in_path = args.operands[1];
    const std::string& out_path = args.operands[2];
    Result<std::size_t> block = block_size(args);
    if (!block)
        return fail(block.error());
    std::vector<std::string> names;
    std::vector<float> values;
    for (const std::string& assignment : args.all("param")) {
        auto pair = split_assignment("param", assignment);
        if (!pair)
            return fail(pair.error());
        const std::optional<float> value = to_float(pair->second);
        if (!value || !(std::fabs(*value) <= PARAM_LIMIT))
            return fail("parameter '" + pair->first + "' needs a number from -1e9 to 1e9, not '" +
                        pair->second + "'");
        names.push_back(pair->first);
        values.push_back(*value);
    }
    Result<GraphParams> params = GraphParams::make(names, values);
    if (!params)
        return fail("--param: " + params.error());
    Result<std::string> text = read_text(graph_path);
    if (!text)
        return fail(text.error());
    Result<graph::Graph> compiled = graph::Graph::from_str(*text, params->views());
    if (!compiled)
        return fail(verbatim(compiled.error()));
    graph::Graph& graph = *compiled;

    Result<Audio> input = read_audio(in_path);
    if (!input)
        return fail(input.error());
    const std::size_t channels = input->channels.size();
    if (channels > MAX_CHANNELS)
        return fail("'" + in_path + "' has " + std::to_string(channels) + " channels; at most " +
                    std::to_string(MAX_CHANNELS) + " can be processed");
    Result<Output> out_file = Output::create(out_path);
    if (!out_file)
        return fail(out_file.error());

    const auto rate = static_cast<float>(input->sample_rate);
    graph.prepare(ProcessSetup{.max_frames = *block,
                               .sample_rate = rate,
                               .channels = static_cast<std::uint32_t>(channels)});
    const std::uint32_t latency = graph.latency_samples();
    const ProcessContext context{
        .position = std::nullopt, .tempo = std::nullopt, .sample_rate = rate, .playing = false};
    ChannelList list;
    Result<Streamed> streamed = stream(
        *input, *block, latency, [&] { return graph.tail_for(params->set()); },
        [&](float** in, float** out, std::uint32_t frames) -> Result<void> {
            list.clear();
            for (std::size_t c = 0; c < channels; ++c) {
                std::memcpy(out[c], in[c], frames * sizeof(float));
                (void)list.push(std::span<float>(out[c], frames));
            }
            graph.process(params->set(), list.runs(), context);
            return {};
        },
        nullptr, "processing");
    if (!streamed)
        return fail(streamed.error());
    if (streamed->tail_cut)
        std::fprintf(stderr,
                     "velk run: the graph reports a tail of more than %.0f s; rendered "
                     "%.0f s of it\n",
                     MAX_TAIL_SECONDS, MAX_TAIL_SECONDS);
    if (Result<void> written = write_audio(out_file->temp(), out_path, streamed->audio); !written)
        return fail(written.error());
    if (Result<void> done = out_file->commit(); !done)
        return fail(done.error());

    std::printf("graph:   %s (%zu parameters)\n", graph_path.c_str(), names.size());
    print_levels(in_path, *input, out_path, streamed->audio);
    std::printf("latency: %u samples; tail: %u samples; %zu blocks of up to %zu frames\n", latency,
                streamed->tail, streamed->blocks, *block);
    return {};
}

} // namespace velk::tool
