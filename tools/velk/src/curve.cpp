#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>

#include "commands.hpp"
#include "levels.hpp"
#include "output.hpp"
#include "plot.hpp"
#include "plugin_host.hpp"
#include "progress.hpp"
#include "velk/core/text.hpp"

namespace velk::tool {

namespace {

constexpr std::string_view CURVE_OPERANDS[] = {"PLUGIN"};
constexpr OptionSpec CURVE_OPTIONS[] = {
    {.name = "set",
     .value = "ID=VALUE",
     .help = "Set a parameter, as 'velk render' does.",
     .repeat = true},
    {.name = "plot", .value = "PNG", .help = "Draw the curve against the unity line."},
    {.name = "step", .value = "DB", .help = "Input level step, 1 to 12 dB (default 2)."},
    {.name = "signal",
     .value = "dc|sine",
     .help = "A constant level (default), or a 1 kHz sine for effects that block DC."},
};

constexpr double RATE = 48000.0;
constexpr double TONE_HZ = 1000.0; // 48 samples a period at 48 kHz
constexpr double SETTLE_SECONDS = 1.0;
constexpr double MEASURE_SECONDS = 0.25; // a whole number of periods
constexpr std::uint32_t BLOCK = 480;
constexpr double LOWEST_DB = -60.0;

// One steady level through a fresh activation: the output level in dBFS, the input
// being a constant signal or a sine whose peak is `level_db`.
Result<double> measure_level(Instance& instance, std::uint32_t channels, double level_db,
                             bool sine) {
    if (Result<void> active = instance.activate(RATE, BLOCK); !active)
        return fail(active.error());
    const auto settle = static_cast<std::size_t>(SETTLE_SECONDS * RATE);
    const auto frames = settle + static_cast<std::size_t>(MEASURE_SECONDS * RATE);
    const double amplitude = std::pow(10.0, level_db / 20.0);
    std::vector<std::vector<float>> in(channels, std::vector<float>(BLOCK));
    std::vector<std::vector<float>> out(channels, std::vector<float>(BLOCK));
    std::vector<float*> in_ptrs;
    std::vector<float*> out_ptrs;
    for (std::uint32_t c = 0; c < channels; ++c) {
        in_ptrs.push_back(in[c].data());
        out_ptrs.push_back(out[c].data());
    }
    double in_sum = 0.0;
    double out_sum = 0.0;
    for (std::size_t at = 0; at < frames; at += BLOCK) {
        for (std::uint32_t i = 0; i < BLOCK; ++i) {
            const double t = static_cast<double>(at + i) / RATE;
            const double phase = 2.0 * std::numbers::pi * TONE_HZ * t;
            const auto x = static_cast<float>(sine ? amplitude * std::sin(phase) : amplitude);
            for (std::uint32_t c = 0; c < channels; ++c)
                in[c][i] = x;
        }
        if (Result<void> done = instance.process(in_ptrs.data(), out_ptrs.data(), channels, BLOCK);
            !done)
            return fail(done.error());
        if (at < settle)
            continue;
        for (std::uint32_t c = 0; c < channels; ++c) {
            for (std::uint32_t i = 0; i < BLOCK; ++i) {
                const auto x = static_cast<double>(in[c][i]);
                const auto y = static_cast<double>(out[c][i]);
                in_sum += x * x;
                out_sum += y * y;
            }
        }
    }
    instance.deactivate();
    // The gain the plug-in applies to the steady tone, added to its level.
    return level_db + to_db(std::sqrt(out_sum / in_sum));
}

} // namespace

const CommandSpec CURVE{
    .name = "curve",
    .operands = CURVE_OPERANDS,
    .summary = "Measure a CLAP effect's static transfer curve.",
    .details =
        "Feeds the first audio effect of the CLAP plug-in file PLUGIN steady signals from\n"
        "-60 to 0 dBFS at 48 kHz, each after a fresh activation: constant levels, which give\n"
        "a compressor's static curve exactly, or 1 kHz sines (level = peak) with --signal\n"
        "sine. Each settles for a second; the output level is measured over the next quarter\n"
        "second. Prints the curve as a table and, with --plot, draws it against the unity\n"
        "line.",
    .options = CURVE_OPTIONS,
    .example = "velk curve halvex.clap --set threshold=-30 --set ratio=4 --plot curve.png",
};

Result<void> curve(const Args& args) {
    double step = 2.0;
    if (args.has("step")) {
        const std::optional<double> parsed = to_double(args.last("step"));
        if (!parsed || *parsed < 1.0 || *parsed > 12.0)
            return fail("'--step' must be a number of dB from 1 to 12, not '" + args.last("step") +
                        "'");
        step = *parsed;
    }
    const std::string signal = args.has("signal") ? args.last("signal") : "dc";
    if (signal != "dc" && signal != "sine")
        return fail("'--signal' must be dc or sine, not '" + signal + "'");
    const bool sine = signal == "sine";
    Result<std::unique_ptr<PluginFile>> file = PluginFile::open(args.operands[0]);
    if (!file)
        return fail(file.error());
    Result<std::unique_ptr<Instance>> created = Instance::create(**file);
    if (!created)
        return fail(created.error());
    Instance& instance = **created;

    std::vector<std::pair<clap_id, double>> values;
    std::string settings;
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
        settings +=
            (settings.empty() ? "" : ", ") + (*param)->name + " " +
            instance.text(**param, *value).value_or(format_float(static_cast<float>(*value)));
    }
    const std::string plot_path = args.last("plot");
    std::optional<Output> plot_file;
    if (!plot_path.empty()) {
        Result<Output> made = Output::create(plot_path);
        if (!made)
            return fail(made.error());
        plot_file.emplace(std::move(*made));
    }

    // The plug-in's own channel count; a stereo signal when it lists no ports.
    const std::vector<PortEntry> ports = instance.ports(true);
    const std::uint32_t channels =
        ports.empty() || ports.front().channels == 0 ? 2 : std::min(ports.front().channels, 64u);
    instance.set_values(values);

    std::vector<double> levels;
    for (double level = LOWEST_DB; level <= 1e-9; level += step)
        levels.push_back(level);
    std::vector<double> outs;
    Progress progress("measuring", levels.size());
    for (double level : levels) {
        Result<double> out = measure_level(instance, channels, level, sine);
        if (!out)
            return fail(out.error());
        outs.push_back(*out);
        progress.update(outs.size());
    }
    progress.finish();

    const char* kind = sine ? "1 kHz sines" : "constant levels";
    std::printf("%s %s, %u channels at 48000 Hz, %s%s%s\n", (*file)->name().c_str(),
                (*file)->descriptor().version, channels, kind, settings.empty() ? "" : "; ",
                settings.c_str());
    std::printf("  in dBFS   out dBFS   gain dB\n");
    for (std::size_t i = 0; i < levels.size(); ++i)
        std::printf("  %7s   %8s   %7s\n", format_fixed(levels[i], 1).c_str(),
                    format_db(outs[i]).c_str(), format_db(outs[i] - levels[i]).c_str());

    if (plot_file) {
        double low = LOWEST_DB;
        double high = 0.0;
        for (double out : outs) {
            if (std::isfinite(out)) {
                low = std::min(low, out);
                high = std::max(high, out);
            }
        }
        Chart chart;
        chart.title = (*file)->name() + ": static transfer curve" +
                      (settings.empty() ? std::string() : " (" + settings + ")");
        chart.x_label = sine ? "Input level (dBFS, peak of a 1 kHz sine)"
                             : "Input level (dBFS, constant signal)";
        chart.x_min = LOWEST_DB;
        chart.x_max = 0.0;
        Panel panel;
        panel.y_label = "Output level (dBFS)";
        panel.y_min = std::floor(low / 6.0) * 6.0;
        panel.y_max = std::max(0.0, std::ceil(high / 6.0) * 6.0);
        panel.series.push_back(Series{.x = {LOWEST_DB, 0.0},
                                      .y = {LOWEST_DB, 0.0},
                                      .label = "unity (no change)",
                                      .colour = GUIDE_COLOUR,
                                      .dashed = true});
        Series measured{.x = levels, .y = outs, .label = "measured", .colour = OUTPUT_COLOUR};
        measured.markers = true;
        for (double& y : measured.y)
            if (!std::isfinite(y))
                y = std::nan("");
        panel.series.push_back(std::move(measured));
        chart.panels.push_back(std::move(panel));
        if (Result<void> drawn = write_png(chart, 900, 860, plot_file->temp(), plot_path); !drawn)
            return fail(drawn.error());
        if (Result<void> done = plot_file->commit(); !done)
            return fail(done.error());
        std::printf("plot: %s\n", plot_path.c_str());
    }
    return {};
}

} // namespace velk::tool
