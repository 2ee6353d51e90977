#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "velk/core/result.hpp"

/// Command-line parsing for the velk tool: each command declares its positional
/// arguments and options; the parser turns an argument vector into `Args` or one
/// message naming the offending argument.
namespace velk::tool {

/// One option of a command, written `--name VALUE` or `--name=VALUE` (or bare
/// `--name` when it takes no value).
struct OptionSpec {
    std::string_view name = {};  ///< Without the leading dashes.
    std::string_view value = {}; ///< Placeholder shown in help; empty for a flag.
    std::string_view help = {};
    bool repeat = false; ///< May be given more than once.
};

/// A command: `velk <name> <operands> [options]`.
struct CommandSpec {
    std::string_view name = {};
    std::span<const std::string_view> operands = {}; ///< Placeholders, all required.
    std::string_view summary = {};                   ///< One line for `velk --help`.
    std::string_view details = {};                   ///< Paragraphs after the usage line.
    std::span<const OptionSpec> options = {};
    std::string_view example = {};
};

/// What a command line holds. Option values keep their command-line order.
struct Args {
    std::vector<std::string> operands;
    std::vector<std::pair<std::string, std::string>> options;
    bool help = false;

    /// Every value of option `name`, in order.
    std::vector<std::string> all(std::string_view name) const;
    /// The last value of option `name`, or empty when it was not given.
    std::string last(std::string_view name) const;
    bool has(std::string_view name) const;
};

/// Parses `argv` (the arguments after the command name). `--help` anywhere sets
/// `help` and skips the operand count check; `--` ends the options.
Result<Args> parse(const CommandSpec& command, std::span<const char* const> argv);

/// The help text of a command: usage, details, options and an example.
std::string help_text(const CommandSpec& command);

/// A whole number from `lo` to `hi` given to option `name`, or a message naming both.
Result<std::size_t> parse_count(std::string_view name, const std::string& text, std::size_t lo,
                                std::size_t hi);

/// Splits `NAME=VALUE` at its first '='; fails when there is none or the name is empty.
Result<std::pair<std::string, std::string>> split_assignment(std::string_view option,
                                                             const std::string& text);

} // namespace velk::tool
