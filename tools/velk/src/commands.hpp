#pragma once

#include <string>
#include <vector>

#include "audio_file.hpp"
#include "cli.hpp"
#include "velk/core/result.hpp"

/// The velk tool's commands. Each one reports its result on standard output and
/// fails with one message, which `main` prints on standard error.
namespace velk::tool {

extern const CommandSpec RENDER;
extern const CommandSpec INFO;
extern const CommandSpec CURVE;
extern const CommandSpec CHECK;
extern const CommandSpec RUN;

Result<void> render(const Args& args);
Result<void> info(const Args& args);
Result<void> curve(const Args& args);
Result<void> check(const Args& args);
Result<void> run(const Args& args);

/// Block size given with `--block`, 512 without; 1 to 65536 frames.
Result<std::size_t> block_size(const Args& args);

/// A failure that `main` reports without the "velk <command>: " prefix, such as
/// the graph compiler's message, which is printed exactly as the compiler gives it.
std::string verbatim(const std::string& message);

/// Prints the input and output lines of a render summary: file, format, peak and RMS.
void print_levels(const std::string& in_path, const Audio& in, const std::string& out_path,
                  const Audio& out);

/// The output's peak envelope, the input's and extra panels, as `render` and `run`
/// draw them; written to `png` (a temporary file) for `path`.
struct MeterTrace {
    std::string label; ///< Axis label, with the unit.
    std::string legend;
    std::vector<double> times;
    std::vector<double> values;
    double lo = 0.0;
    double hi = 1.0;
};
Result<void> plot_render(const std::string& title, const Audio& in, const Audio& out,
                         const std::vector<MeterTrace>& meters, const std::string& png,
                         const std::string& path);

} // namespace velk::tool
