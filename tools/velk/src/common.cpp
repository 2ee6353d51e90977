#include <algorithm>
#include <cmath>
#include <cstdio>

#include "commands.hpp"
#include "levels.hpp"
#include "plot.hpp"

namespace velk::tool {

namespace {

constexpr std::size_t DEFAULT_BLOCK = 512;
constexpr std::size_t MAX_BLOCK = 65536;
constexpr double FLOOR_DB = -60.0;

// A round top for an axis that shows values up to `value`.
double axis_top(double value) {
    if (!(value > 0.0))
        return 1.0;
    const std::vector<double> marks = ticks(0.0, value * 1.15, 5);
    const double step = marks.size() > 1 ? marks[1] - marks[0] : value;
    return std::ceil(value * 1.15 / step) * step;
}

} // namespace

std::string verbatim(const std::string& message) {
    return "\x1f" + message;
}

Result<std::size_t> block_size(const Args& args) {
    if (!args.has("block"))
        return DEFAULT_BLOCK;
    return parse_count("block", args.last("block"), 1, MAX_BLOCK);
}

void print_levels(const std::string& in_path, const Audio& in, const std::string& out_path,
                  const Audio& out) {
    const Levels a = measure(in.channels);
    const Levels b = measure(out.channels);
    std::printf("input:   %s (%s)\n", in_path.c_str(), in.describe().c_str());
    std::printf("         peak %s dBFS, RMS %s dBFS\n", format_db(to_db(a.peak)).c_str(),
                format_db(to_db(a.rms)).c_str());
    std::printf("output:  %s (%s)\n", out_path.c_str(), out.describe().c_str());
    std::printf("         peak %s dBFS, RMS %s dBFS\n", format_db(to_db(b.peak)).c_str(),
                format_db(to_db(b.rms)).c_str());
}

Result<void> plot_render(const std::string& title, const Audio& in, const Audio& out,
                         const std::vector<MeterTrace>& meters, const std::string& png,
                         const std::string& path) {
    const double rate = out.sample_rate;
    // About 10 ms per envelope point, and no more than 4000 points.
    const auto window =
        std::max<std::size_t>(static_cast<std::size_t>(rate / 100.0), out.frames() / 4000 + 1);
    const auto envelope = [&](const Audio& audio, const std::string& label, Colour colour,
                              bool filled) {
        Series s;
        s.y = envelope_db(audio.channels, window, FLOOR_DB);
        for (std::size_t i = 0; i < s.y.size(); ++i)
            s.x.push_back(static_cast<double>(i * window) / rate);
        s.label = label;
        s.colour = colour;
        s.filled = filled;
        return s;
    };
    Chart chart;
    chart.title = title;
    chart.x_label = "Time (s)";
    chart.x_min = 0.0;
    chart.x_max = std::max({out.seconds(), in.seconds(), 0.01});
    Panel levels;
    levels.y_label = "Peak level (dBFS)";
    levels.y_min = FLOOR_DB;
    levels.y_max = std::max(0.0, std::ceil(to_db(measure(out.channels).peak) / 6.0) * 6.0);
    levels.height = 2.0;
    levels.series.push_back(envelope(in, "input", INPUT_COLOUR, true));
    levels.series.push_back(envelope(out, "output", OUTPUT_COLOUR, false));
    chart.panels.push_back(std::move(levels));
    for (const MeterTrace& meter : meters) {
        Panel panel;
        panel.y_label = meter.label;
        panel.y_min = meter.lo;
        panel.y_max = meter.lo + axis_top(meter.hi - meter.lo);
        panel.height = 1.0;
        Series s;
        s.x = meter.times;
        s.y = meter.values;
        s.label = meter.legend;
        s.colour = METER_COLOUR;
        s.filled = true;
        panel.series.push_back(std::move(s));
        chart.panels.push_back(std::move(panel));
    }
    const int height = 420 + 200 * static_cast<int>(std::min<std::size_t>(meters.size(), 4));
    return write_png(chart, 1200, height, png, path);
}

} // namespace velk::tool
