#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "commands.hpp"
#include "levels.hpp"
#include "output.hpp"
#include "plot.hpp"
#include "plugin_host.hpp"
#include "stream.hpp"
#include "velk/core/plugin.hpp"
#include "velk/core/text.hpp"

namespace velk::tool {

namespace {

constexpr std::string_view RENDER_OPERANDS[] = {"PLUGIN", "IN", "OUT"};
constexpr OptionSpec RENDER_OPTIONS[] = {
    {.name = "set",
     .value = "ID=VALUE",
     .help = "Set a parameter before the first block. ID is the parameter's id or name; VALUE "
             "a number or a text the plug-in reads, such as \"-24 dB\".",
     .repeat = true},
    {.name = "block", .value = "N", .help = "Frames per processed block (default 512)."},
    {.name = "plot",
     .value = "PNG",
     .help = "Draw the input and output envelopes and the plug-in's meters over time."},
};

// Meter readings after each block.
struct Meter {
    const ParamEntry* param = nullptr;
    std::vector<double> times;
    std::vector<double> values;
};

std::string shown(const Instance& instance, const ParamEntry& param, double value) {
    return instance.text(param, value).value_or(format_fixed(value, 2));
}

std::string file_name(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

const CommandSpec RENDER{
    .name = "render",
    .operands = RENDER_OPERANDS,
    .summary = "Render an audio file through a CLAP effect.",
    .details =
        "Loads the CLAP plug-in file PLUGIN, activates its first audio effect at the sample\n"
        "rate of IN and processes IN in blocks, then the plug-in's reported tail. The output\n"
        "is aligned with the input: the plug-in's latency is taken off its start. OUT is\n"
        "written in the format and sample rate of IN. Prints the input and output levels and,\n"
        "for each read-only parameter (a meter), its maximum and mean over the render.",
    .options = RENDER_OPTIONS,
    .example = "velk render halvex.clap demo/drum_loop.wav out.wav --set threshold=\"-30 dB\" "
               "--set ratio=6 --plot out.png",
};

Result<void> render(const Args& args) {
    const std::string& plugin_path = args.operands[0];
    const std::string& in_path = args.operands[1];
    const std::string& out_path = args.operands[2];
    const std::string plot_path = args.last("plot");
    Result<std::size_t> block = block_size(args);
    if (!block)
        return fail(block.error());

    Result<Audio> input = read_audio(in_path);
    if (!input)
        return fail(input.error());
    const auto channels = static_cast<std::uint32_t>(input->channels.size());
    if (channels > MAX_CHANNELS)
        return fail("'" + in_path + "' has " + std::to_string(channels) + " channels; at most " +
                    std::to_string(MAX_CHANNELS) + " can be rendered");

    Result<std::unique_ptr<PluginFile>> file = PluginFile::open(plugin_path);
    if (!file)
        return fail(file.error());
    Result<std::unique_ptr<Instance>> created = Instance::create(**file);
    if (!created)
        return fail(created.error());
    Instance& instance = **created;

    std::vector<std::pair<clap_id, double>> values;
    std::vector<std::string> settings;
    for (const std::string& assignment : args.all("set")) {
        auto pair = split_assignment("set", assignment);
        if (!pair)
            return fail(pair.error());
        Result<const ParamEntry*> param = instance.find_param(pair->first);
        if (!param)
            return fail(param.error());
        Result<double> value = instance.parse_value(**param, pair->second);
        if (!value)
            return fail(value.error());
        values.emplace_back((*param)->id, *value);
        settings.push_back((*param)->name + " = " + shown(instance, **param, *value));
    }
    if (Result<void> settled = instance.settle_channels(channels); !settled)
        return fail(settled.error());

    // Every destination is checked before any work, and written only at the end.
    Result<Output> out_file = Output::create(out_path);
    if (!out_file)
        return fail(out_file.error());
    std::optional<Output> plot_file;
    if (!plot_path.empty()) {
        Result<Output> made = Output::create(plot_path);
        if (!made)
            return fail(made.error());
        plot_file.emplace(std::move(*made));
    }

    instance.set_values(values);
    if (Result<void> active =
            instance.activate(input->sample_rate, static_cast<std::uint32_t>(*block));
        !active)
        return fail(active.error());
    const std::uint32_t latency = instance.latency();

    std::vector<Meter> meters;
    for (const ParamEntry& param : instance.params())
        if (param.read_only())
            meters.push_back(Meter{.param = &param, .times = {}, .values = {}});

    Result<Streamed> streamed = stream(
        *input, *block, latency, [&] { return instance.tail().value_or(0); },
        [&](float** in, float** out, std::uint32_t frames) {
            return instance.process(in, out, channels, frames);
        },
        [&](double seconds) {
            for (Meter& meter : meters) {
                if (std::optional<double> v = instance.value(*meter.param)) {
                    meter.times.push_back(seconds);
                    meter.values.push_back(*v);
                }
            }
        },
        "rendering");
    if (!streamed)
        return fail(streamed.error());
    if (streamed->tail_cut)
        std::fprintf(stderr, "velk render: '%s' reports an endless tail; rendered %.0f s of it\n",
                     (*file)->name().c_str(), MAX_TAIL_SECONDS);
    if (instance.latency_changes() > 0)
        std::fprintf(stderr,
                     "velk render: '%s' changed its latency while rendering; the output is "
                     "aligned to the %u samples it reported at activation\n",
                     (*file)->name().c_str(), latency);
    instance.deactivate();

    const Audio& output = streamed->audio;
    if (Result<void> written = write_audio(out_file->temp(), out_path, output); !written)
        return fail(written.error());

    std::vector<MeterTrace> traces;
    for (const Meter& meter : meters) {
        if (meter.values.empty())
            continue;
        const double top = *std::max_element(meter.values.begin(), meter.values.end());
        const double bottom = *std::min_element(meter.values.begin(), meter.values.end());
        const std::string unit = instance.unit(*meter.param, top);
        traces.push_back(MeterTrace{
            .label = meter.param->name + (unit.empty() ? "" : " (" + unit + ")"),
            .legend = meter.param->name,
            .times = meter.times,
            .values = meter.values,
            .lo = std::min(0.0, bottom),
            .hi = top,
        });
    }
    if (plot_file) {
        const std::string title =
            (*file)->name() + ": " + file_name(in_path) + " rendered to " + file_name(out_path);
        if (Result<void> drawn =
                plot_render(title, *input, output, traces, plot_file->temp(), plot_path);
            !drawn)
            return fail(drawn.error());
    }
    if (Result<void> done = out_file->commit(); !done)
        return fail(done.error());
    if (plot_file)
        if (Result<void> done = plot_file->commit(); !done)
            return fail(done.error());

    std::printf("plug-in: %s %s (%s)\n", (*file)->name().c_str(), (*file)->descriptor().version,
                (*file)->path().c_str());
    for (const std::string& setting : settings)
        std::printf("set:     %s\n", setting.c_str());
    print_levels(in_path, *input, out_path, output);
    std::printf("latency: %u samples; tail: %u samples; %zu blocks of up to %zu frames\n", latency,
                streamed->tail, streamed->blocks, *block);
    for (const Meter& meter : meters) {
        if (meter.values.empty())
            continue;
        double sum = 0.0;
        for (double v : meter.values)
            sum += v;
        const double top = *std::max_element(meter.values.begin(), meter.values.end());
        const double mean = sum / static_cast<double>(meter.values.size());
        std::printf("meter:   %s (id %u): max %s, mean %s\n", meter.param->name.c_str(),
                    meter.param->id, shown(instance, *meter.param, top).c_str(),
                    shown(instance, *meter.param, mean).c_str());
    }
    if (plot_file)
        std::printf("plot:    %s\n", plot_path.c_str());
    return {};
}

} // namespace velk::tool
