#include "plot.hpp"

#include <algorithm>
#include <cairo.h>
#include <cmath>
#include <fontconfig/fontconfig.h>

#include "velk/core/text.hpp"

namespace velk::tool {

namespace {

constexpr double MARGIN_LEFT = 78.0;
constexpr double MARGIN_RIGHT = 24.0;
constexpr double MARGIN_TOP = 46.0;
constexpr double MARGIN_BOTTOM = 54.0;
constexpr double PANEL_GAP = 26.0;
constexpr double FONT_SIZE = 13.0;
constexpr double TITLE_SIZE = 16.0;
constexpr const char* FONT = "DejaVu Sans";

struct Box {
    double left, top, width, height;
};

void set_colour(cairo_t* cr, Colour c, double alpha = 1.0) {
    cairo_set_source_rgba(cr, c.r, c.g, c.b, alpha);
}

void text_at(cairo_t* cr, const std::string& text, double x, double y, double align_x,
             double align_y) {
    cairo_text_extents_t extents;
    cairo_text_extents(cr, text.c_str(), &extents);
    // align_x: 0 starts the text at x, 1 ends it there; align_y: 0 puts its top at y,
    // 0.5 its middle.
    cairo_move_to(cr, x - extents.x_advance * align_x,
                  y - extents.y_bearing - extents.height * align_y);
    cairo_show_text(cr, text.c_str());
}

std::string tick_label(double value, double step) {
    int decimals = 0;
    while (decimals < 4 && std::fabs(step * std::pow(10.0, decimals) -
                                     std::round(step * std::pow(10.0, decimals))) > 1e-6)
        ++decimals;
    if (std::fabs(value) < step * 1e-6)
        value = 0.0;
    return format_fixed(value, decimals);
}

void draw_panel(cairo_t* cr, const Chart& chart, const Panel& panel, const Box& box, bool last) {
    const auto px = [&](double x) {
        return box.left + (x - chart.x_min) / (chart.x_max - chart.x_min) * box.width;
    };
    const auto py = [&](double y) {
        const double clamped = std::clamp(y, panel.y_min, panel.y_max);
        return box.top + (panel.y_max - clamped) / (panel.y_max - panel.y_min) * box.height;
    };

    cairo_set_source_rgb(cr, 0.97, 0.97, 0.97);
    cairo_rectangle(cr, box.left, box.top, box.width, box.height);
    cairo_fill(cr);

    // Grid and ticks.
    cairo_set_font_size(cr, FONT_SIZE);
    cairo_set_line_width(cr, 1.0);
    const std::vector<double> xs = ticks(chart.x_min, chart.x_max, 10);
    const std::vector<double> ys = ticks(panel.y_min, panel.y_max, 6);
    const double x_step = xs.size() > 1 ? xs[1] - xs[0] : 1.0;
    const double y_step = ys.size() > 1 ? ys[1] - ys[0] : 1.0;
    for (double x : xs) {
        cairo_set_source_rgb(cr, 0.85, 0.85, 0.85);
        cairo_move_to(cr, std::round(px(x)) + 0.5, box.top);
        cairo_line_to(cr, std::round(px(x)) + 0.5, box.top + box.height);
        cairo_stroke(cr);
        if (last) {
            cairo_set_source_rgb(cr, 0.2, 0.2, 0.2);
            text_at(cr, tick_label(x, x_step), px(x), box.top + box.height + 6.0, 0.5, 0.0);
        }
    }
    for (double y : ys) {
        cairo_set_source_rgb(cr, 0.85, 0.85, 0.85);
        cairo_move_to(cr, box.left, std::round(py(y)) + 0.5);
        cairo_line_to(cr, box.left + box.width, std::round(py(y)) + 0.5);
        cairo_stroke(cr);
        cairo_set_source_rgb(cr, 0.2, 0.2, 0.2);
        text_at(cr, tick_label(y, y_step), box.left - 8.0, py(y), 1.0, 0.5);
    }

    // Series, clipped to the panel.
    cairo_save(cr);
    cairo_rectangle(cr, box.left, box.top, box.width, box.height);
    cairo_clip(cr);
    for (const Series& s : panel.series) {
        const std::size_t n = std::min(s.x.size(), s.y.size());
        if (s.filled) {
            bool open = false;
            double first_x = 0.0;
            double prev_x = 0.0;
            for (std::size_t i = 0; i <= n; ++i) {
                const bool gap = i == n || std::isnan(s.y[i]);
                if (gap) {
                    if (open) {
                        cairo_line_to(cr, prev_x, box.top + box.height);
                        cairo_line_to(cr, first_x, box.top + box.height);
                        cairo_close_path(cr);
                        set_colour(cr, s.colour, 0.25);
                        cairo_fill(cr);
                    }
                    open = false;
                    continue;
                }
                prev_x = px(s.x[i]);
                if (!open) {
                    first_x = prev_x;
                    cairo_move_to(cr, prev_x, box.top + box.height);
                    open = true;
                }
                cairo_line_to(cr, prev_x, py(s.y[i]));
            }
        }
        set_colour(cr, s.colour);
        cairo_set_line_width(cr, 1.6);
        if (s.dashed) {
            const double dash[] = {6.0, 4.0};
            cairo_set_dash(cr, dash, 2, 0.0);
        }
        bool drawing = false;
        for (std::size_t i = 0; i < n; ++i) {
            if (std::isnan(s.y[i])) {
                drawing = false;
                continue;
            }
            if (drawing)
                cairo_line_to(cr, px(s.x[i]), py(s.y[i]));
            else
                cairo_move_to(cr, px(s.x[i]), py(s.y[i]));
            drawing = true;
        }
        cairo_stroke(cr);
        cairo_set_dash(cr, nullptr, 0, 0.0);
        if (s.markers) {
            for (std::size_t i = 0; i < n; ++i) {
                if (std::isnan(s.y[i]))
                    continue;
                cairo_arc(cr, px(s.x[i]), py(s.y[i]), 2.8, 0.0, 2.0 * M_PI);
                cairo_fill(cr);
            }
        }
    }
    cairo_restore(cr);

    // Frame, axis label, legend.
    cairo_set_source_rgb(cr, 0.3, 0.3, 0.3);
    cairo_set_line_width(cr, 1.0);
    cairo_rectangle(cr, box.left + 0.5, box.top + 0.5, box.width - 1.0, box.height - 1.0);
    cairo_stroke(cr);

    cairo_save(cr);
    cairo_set_source_rgb(cr, 0.1, 0.1, 0.1);
    cairo_translate(cr, 18.0, box.top + box.height / 2.0);
    cairo_rotate(cr, -M_PI / 2.0);
    text_at(cr, panel.y_label, 0.0, 0.0, 0.5, 0.5);
    cairo_restore(cr);

    double legend_x = box.left + 10.0;
    const double legend_y = box.top + 10.0;
    for (const Series& s : panel.series) {
        if (s.label.empty())
            continue;
        cairo_text_extents_t extents;
        cairo_text_extents(cr, s.label.c_str(), &extents);
        cairo_set_source_rgba(cr, 1.0, 1.0, 1.0, 0.85);
        cairo_rectangle(cr, legend_x - 4.0, legend_y - 3.0, extents.x_advance + 34.0, 20.0);
        cairo_fill(cr);
        set_colour(cr, s.colour);
        cairo_set_line_width(cr, 2.5);
        if (s.dashed) {
            const double dash[] = {5.0, 3.0};
            cairo_set_dash(cr, dash, 2, 0.0);
        }
        cairo_move_to(cr, legend_x, legend_y + 7.0);
        cairo_line_to(cr, legend_x + 22.0, legend_y + 7.0);
        cairo_stroke(cr);
        cairo_set_dash(cr, nullptr, 0, 0.0);
        cairo_set_source_rgb(cr, 0.1, 0.1, 0.1);
        text_at(cr, s.label, legend_x + 28.0, legend_y + 7.0, 0.0, 0.5);
        legend_x += extents.x_advance + 48.0;
    }
}

} // namespace

std::vector<double> ticks(double lo, double hi, int count) {
    std::vector<double> out;
    if (!(hi > lo) || count < 1)
        return out;
    const double raw = (hi - lo) / count;
    const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
    double step = magnitude;
    for (double factor : {1.0, 2.0, 2.5, 3.0, 5.0, 6.0, 10.0}) {
        step = factor * magnitude;
        if (step >= raw)
            break;
    }
    for (double t = std::ceil(lo / step - 1e-9) * step; t <= hi + step * 1e-9; t += step)
        out.push_back(t);
    return out;
}

Result<void> write_png(const Chart& chart, int width, int height, const std::string& file,
                       const std::string& path) {
    if (chart.panels.empty() || !(chart.x_max > chart.x_min))
        return fail("cannot draw '" + path + "': nothing to draw");
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
    cairo_t* cr = cairo_create(surface);
    cairo_set_source_rgb(cr, 1.0, 1.0, 1.0);
    cairo_paint(cr);
    cairo_select_font_face(cr, FONT, CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);

    cairo_set_source_rgb(cr, 0.05, 0.05, 0.05);
    // A long title is set smaller until it fits between the margins.
    double title_size = TITLE_SIZE;
    cairo_set_font_size(cr, title_size);
    cairo_text_extents_t title_extents;
    cairo_text_extents(cr, chart.title.c_str(), &title_extents);
    const double room = width - 2.0 * MARGIN_RIGHT;
    if (title_extents.x_advance > room) {
        title_size = std::max(8.0, title_size * room / title_extents.x_advance);
        cairo_set_font_size(cr, title_size);
    }
    text_at(cr, chart.title, width / 2.0, 14.0, 0.5, 0.0);

    double shares = 0.0;
    for (const Panel& panel : chart.panels)
        shares += panel.height;
    const double plot_width = width - MARGIN_LEFT - MARGIN_RIGHT;
    const double plot_height = height - MARGIN_TOP - MARGIN_BOTTOM -
                               PANEL_GAP * static_cast<double>(chart.panels.size() - 1);
    double top = MARGIN_TOP;
    for (std::size_t i = 0; i < chart.panels.size(); ++i) {
        const Panel& panel = chart.panels[i];
        const Box box{MARGIN_LEFT, top, plot_width, plot_height * panel.height / shares};
        draw_panel(cr, chart, panel, box, i + 1 == chart.panels.size());
        top += box.height + PANEL_GAP;
    }
    cairo_set_source_rgb(cr, 0.1, 0.1, 0.1);
    cairo_set_font_size(cr, FONT_SIZE);
    text_at(cr, chart.x_label, MARGIN_LEFT + plot_width / 2.0, height - 20.0, 0.5, 0.0);

    cairo_destroy(cr);
    const cairo_status_t status = cairo_surface_write_to_png(surface, file.c_str());
    cairo_surface_destroy(surface);
    // Drops cairo's and fontconfig's font caches, so that nothing they hold outlives
    // the drawing (leak checkers would report it); both are rebuilt when needed.
    cairo_debug_reset_static_data();
    FcFini();
    if (status != CAIRO_STATUS_SUCCESS)
        return fail("cannot write '" + path + "': " + cairo_status_to_string(status));
    return {};
}

} // namespace velk::tool
