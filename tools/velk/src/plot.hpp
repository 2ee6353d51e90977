#pragma once

#include <string>
#include <vector>

#include "velk/core/result.hpp"

/// Line charts written as PNG files with cairo: one or more panels stacked over a
/// shared x axis, each with its own y axis, grid, labelled ticks and legend.
namespace velk::tool {

struct Colour {
    double r = 0.0;
    double g = 0.0;
    double b = 0.0;
};

inline constexpr Colour INPUT_COLOUR{0.55, 0.60, 0.68};
inline constexpr Colour OUTPUT_COLOUR{0.85, 0.37, 0.05};
inline constexpr Colour METER_COLOUR{0.13, 0.45, 0.75};
inline constexpr Colour GUIDE_COLOUR{0.45, 0.45, 0.45};

/// One line: points (x[i], y[i]); NaN y values break it.
struct Series {
    std::vector<double> x;
    std::vector<double> y;
    std::string label;
    Colour colour{};
    bool dashed = false;
    bool markers = false;
    bool filled = false; ///< Shades the area between the line and the panel's bottom.
};

/// One panel: its y axis runs from `y_min` at the bottom to `y_max` at the top.
struct Panel {
    std::string y_label;
    double y_min = 0.0;
    double y_max = 1.0;
    double height = 1.0; ///< Share of the chart's height, relative to the other panels.
    std::vector<Series> series;
};

struct Chart {
    std::string title;
    std::string x_label;
    double x_min = 0.0;
    double x_max = 1.0;
    std::vector<Panel> panels;
};

/// Draws `chart` into a `width` x `height` PNG at `file`; `path` names it in messages.
Result<void> write_png(const Chart& chart, int width, int height, const std::string& file,
                       const std::string& path);

/// Tick positions from `lo` to `hi` at a round step giving about `count` ticks.
std::vector<double> ticks(double lo, double hi, int count);

} // namespace velk::tool
