#include "cli.hpp"

#include <algorithm>
#include <charconv>
#include <optional>

namespace velk::tool {

namespace {

const OptionSpec* find_option(const CommandSpec& command, std::string_view name) {
    for (const OptionSpec& option : command.options)
        if (option.name == name)
            return &option;
    return nullptr;
}

std::string option_list(const CommandSpec& command) {
    std::string out;
    for (const OptionSpec& option : command.options) {
        out += "--";
        out += option.name;
        out += ", ";
    }
    return out + "--help";
}

std::string prefix(const CommandSpec& command) {
    return "velk " + std::string(command.name) + ": ";
}

} // namespace

std::vector<std::string> Args::all(std::string_view name) const {
    std::vector<std::string> out;
    for (const auto& [key, value] : options)
        if (key == name)
            out.push_back(value);
    return out;
}

std::string Args::last(std::string_view name) const {
    std::string out;
    for (const auto& [key, value] : options)
        if (key == name)
            out = value;
    return out;
}

bool Args::has(std::string_view name) const {
    return std::any_of(options.begin(), options.end(),
                       [&](const auto& option) { return option.first == name; });
}

Result<Args> parse(const CommandSpec& command, std::span<const char* const> argv) {
    Args args;
    bool options_done = false;
    for (std::size_t i = 0; i < argv.size(); ++i) {
        const std::string_view arg = argv[i] == nullptr ? std::string_view() : argv[i];
        if (options_done || arg.size() < 2 || arg.substr(0, 2) != "--") {
            args.operands.emplace_back(arg);
            continue;
        }
        if (arg == "--") {
            options_done = true;
            continue;
        }
        std::string_view name = arg.substr(2);
        std::optional<std::string> inline_value;
        if (const std::size_t eq = name.find('='); eq != std::string_view::npos) {
            inline_value = std::string(name.substr(eq + 1));
            name = name.substr(0, eq);
        }
        if (name == "help") {
            args.help = true;
            continue;
        }
        const OptionSpec* option = find_option(command, name);
        if (option == nullptr)
            return fail(prefix(command) + "unknown option '--" + std::string(name) +
                        "'; it takes " + option_list(command));
        std::string value;
        if (!option->value.empty()) {
            if (inline_value) {
                value = *inline_value;
            } else if (i + 1 < argv.size() && argv[i + 1] != nullptr) {
                value = argv[++i];
            } else {
                return fail(prefix(command) + "'--" + std::string(name) + "' needs a value (" +
                            std::string(option->value) + ")");
            }
        } else if (inline_value) {
            return fail(prefix(command) + "'--" + std::string(name) + "' takes no value");
        }
        if (!option->repeat && args.has(name))
            return fail(prefix(command) + "'--" + std::string(name) + "' is given twice");
        args.options.emplace_back(std::string(name), std::move(value));
    }
    if (args.help)
        return args;
    if (args.operands.size() != command.operands.size()) {
        std::string wanted;
        for (std::string_view operand : command.operands)
            wanted += (wanted.empty() ? "" : " ") + std::string(operand);
        const bool few = args.operands.size() < command.operands.size();
        std::string message = prefix(command);
        if (few)
            message += "needs " + wanted;
        else
            message += "unexpected argument '" + args.operands[command.operands.size()] +
                       "'; it takes " + wanted;
        return fail(message + " (see velk " + std::string(command.name) + " --help)");
    }
    return args;
}

std::string help_text(const CommandSpec& command) {
    std::string out = "Usage: velk " + std::string(command.name);
    for (std::string_view operand : command.operands)
        out += " " + std::string(operand);
    for (const OptionSpec& option : command.options) {
        out += " [--" + std::string(option.name);
        if (!option.value.empty())
            out += " " + std::string(option.value);
        out += option.repeat ? " ...]" : "]";
    }
    out += "\n\n" + std::string(command.details) + "\n";
    if (!command.options.empty()) {
        out += "\nOptions:\n";
        std::size_t width = 0;
        for (const OptionSpec& option : command.options)
            width = std::max(width, option.name.size() + option.value.size() + 3);
        for (const OptionSpec& option : command.options) {
            std::string head = "--" + std::string(option.name);
            if (!option.value.empty())
                head += " " + std::string(option.value);
            head.resize(width, ' ');
            out += "  " + head + "  " + std::string(option.help) + "\n";
        }
    }
    if (!command.example.empty())
        out += "\nExample:\n  " + std::string(command.example) + "\n";
    return out;
}

Result<std::size_t> parse_count(std::string_view name, const std::string& text, std::size_t lo,
                                std::size_t hi) {
    std::size_t value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end || value < lo || value > hi)
        return fail("'--" + std::string(name) + "' must be a whole number from " +
                    std::to_string(lo) + " to " + std::to_string(hi) + ", not '" + text + "'");
    return value;
}

Result<std::pair<std::string, std::string>> split_assignment(std::string_view option,
                                                             const std::string& text) {
    const std::size_t eq = text.find('=');
    if (eq == std::string::npos || eq == 0)
        return fail("'--" + std::string(option) + " " + text + "' must have the form NAME=VALUE");
    return std::pair{text.substr(0, eq), text.substr(eq + 1)};
}

} // namespace velk::tool
