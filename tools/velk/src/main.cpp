// velk: renders audio files through CLAP effects, inspects plug-ins, and checks and
// runs graph descriptions.

#include <cstdio>
#include <span>
#include <string_view>

#include "cli.hpp"
#include "commands.hpp"

namespace {

using velk::tool::Args;
using velk::tool::CommandSpec;

struct Command {
    const CommandSpec* spec;
    velk::Result<void> (*run)(const Args&);
};

const Command COMMANDS[] = {
    {&velk::tool::RENDER, velk::tool::render}, {&velk::tool::INFO, velk::tool::info},
    {&velk::tool::CURVE, velk::tool::curve},   {&velk::tool::CHECK, velk::tool::check},
    {&velk::tool::RUN, velk::tool::run},
};

void print_usage(std::FILE* to) {
    std::fprintf(to, "Usage: velk COMMAND [ARGUMENTS] [OPTIONS]\n\n"
                     "Renders audio files through CLAP effects such as halvex.clap, inspects\n"
                     "plug-ins, and checks and runs velk graph descriptions.\n\nCommands:\n");
    for (const Command& command : COMMANDS) {
        std::string head(command.spec->name);
        head.resize(8, ' ');
        std::fprintf(to, "  %s%s\n", head.c_str(), std::string(command.spec->summary).c_str());
    }
    std::fprintf(to, "\nRun 'velk COMMAND --help' for a command's arguments and options.\n");
}

} // namespace

int main(int argc, char** argv) {
    const std::span<const char* const> all(argv, static_cast<std::size_t>(argc));
    if (all.size() < 2) {
        print_usage(stderr);
        return 1;
    }
    const std::string_view name = all[1] == nullptr ? "" : all[1];
    if (name == "--help" || name == "-h" || name == "help") {
        print_usage(stdout);
        return 0;
    }
    for (const Command& command : COMMANDS) {
        if (command.spec->name != name)
            continue;
        velk::Result<Args> args = velk::tool::parse(*command.spec, all.subspan(2));
        if (!args) {
            std::fprintf(stderr, "%s\n", args.error().c_str());
            return 1;
        }
        if (args->help) {
            std::fputs(velk::tool::help_text(*command.spec).c_str(), stdout);
            return 0;
        }
        const velk::Result<void> done = command.run(*args);
        std::fflush(stdout);
        if (!done) {
            const std::string& message = done.error();
            if (!message.empty() && message[0] == '\x1f')
                std::fprintf(stderr, "%s\n", message.c_str() + 1);
            else
                std::fprintf(stderr, "velk %s: %s\n", std::string(name).c_str(), message.c_str());
            return 1;
        }
        return 0;
    }
    std::fprintf(stderr, "velk: unknown command '%s'; it has render, info, curve, check, run\n",
                 std::string(name).c_str());
    return 1;
}
