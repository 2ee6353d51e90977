#include <algorithm>
#include <cstdio>

#include "commands.hpp"
#include "plugin_host.hpp"
#include "velk/core/text.hpp"

namespace velk::tool {

namespace {

constexpr std::string_view INFO_OPERANDS[] = {"PLUGIN"};
constexpr double INFO_RATE = 48000.0;

struct FlagName {
    std::uint32_t bit;
    const char* name;
};

constexpr FlagName PARAM_FLAGS[] = {
    {CLAP_PARAM_IS_STEPPED, "stepped"},
    {CLAP_PARAM_IS_PERIODIC, "periodic"},
    {CLAP_PARAM_IS_HIDDEN, "hidden"},
    {CLAP_PARAM_IS_READONLY, "read-only"},
    {CLAP_PARAM_IS_BYPASS, "bypass"},
    {CLAP_PARAM_IS_AUTOMATABLE, "automatable"},
    {CLAP_PARAM_IS_AUTOMATABLE_PER_NOTE_ID, "automatable-per-note"},
    {CLAP_PARAM_IS_AUTOMATABLE_PER_KEY, "automatable-per-key"},
    {CLAP_PARAM_IS_AUTOMATABLE_PER_CHANNEL, "automatable-per-channel"},
    {CLAP_PARAM_IS_AUTOMATABLE_PER_PORT, "automatable-per-port"},
    {CLAP_PARAM_IS_MODULATABLE, "modulatable"},
    {CLAP_PARAM_IS_MODULATABLE_PER_NOTE_ID, "modulatable-per-note"},
    {CLAP_PARAM_IS_MODULATABLE_PER_KEY, "modulatable-per-key"},
    {CLAP_PARAM_IS_MODULATABLE_PER_CHANNEL, "modulatable-per-channel"},
    {CLAP_PARAM_IS_MODULATABLE_PER_PORT, "modulatable-per-port"},
    {CLAP_PARAM_REQUIRES_PROCESS, "requires-process"},
    {CLAP_PARAM_IS_ENUM, "enum"},
};

std::string flag_names(std::uint32_t flags) {
    std::string out;
    for (const FlagName& flag : PARAM_FLAGS)
        if ((flags & flag.bit) != 0)
            out += (out.empty() ? "" : ", ") + std::string(flag.name);
    return out.empty() ? "none" : out;
}

std::string number(double value) {
    return format_float(static_cast<float>(value));
}

// Left-aligned columns separated by two blanks, each line indented by two.
void print_table(const std::vector<std::vector<std::string>>& rows) {
    std::vector<std::size_t> widths;
    for (const auto& row : rows) {
        widths.resize(std::max(widths.size(), row.size()), 0);
        for (std::size_t c = 0; c < row.size(); ++c)
            widths[c] = std::max(widths[c], row[c].size());
    }
    for (const auto& row : rows) {
        std::string line = " ";
        for (std::size_t c = 0; c < row.size(); ++c) {
            std::string cell = row[c];
            if (c + 1 < row.size())
                cell.resize(widths[c], ' ');
            line += " " + cell + (c + 1 < row.size() ? " " : "");
        }
        std::printf("%s\n", line.c_str());
    }
}

} // namespace

const CommandSpec INFO{
    .name = "info",
    .operands = INFO_OPERANDS,
    .summary = "Describe a CLAP plug-in: descriptor, parameters, ports, latency, tail.",
    .details = "Loads the CLAP plug-in file PLUGIN and describes its first audio effect: the\n"
               "descriptor, every parameter (id, name, module, range, default and its text,\n"
               "flags), the audio ports, the latency and tail when activated at 48 kHz, and\n"
               "which extensions it offers. Parameter ids and names are what 'velk render\n"
               "--set' takes.",
    .example = "velk info halvex.clap",
};

Result<void> info(const Args& args) {
    Result<std::unique_ptr<PluginFile>> file = PluginFile::open(args.operands[0]);
    if (!file)
        return fail(file.error());
    Result<std::unique_ptr<Instance>> created = Instance::create(**file);
    if (!created)
        return fail(created.error());
    Instance& instance = **created;
    const clap_plugin_descriptor& d = (*file)->descriptor();

    std::printf("%s %s", d.name, d.version);
    if (*d.vendor != '\0')
        std::printf(" by %s", d.vendor);
    std::printf("\n  id:          %s\n", d.id);
    if (*d.description != '\0')
        std::printf("  description: %s\n", d.description);
    std::string features;
    for (const std::string& feature : (*file)->features())
        features += (features.empty() ? "" : ", ") + feature;
    std::printf("  features:    %s\n", features.c_str());
    for (const auto& [label, url] :
         {std::pair{"url:        ", d.url}, std::pair{"manual:     ", d.manual_url},
          std::pair{"support:    ", d.support_url}})
        if (*url != '\0')
            std::printf("  %s %s\n", label, url);
    std::printf("  CLAP:        %u.%u.%u\n", d.clap_version.major, d.clap_version.minor,
                d.clap_version.revision);
    std::printf("  file:        %s\n", (*file)->path().c_str());

    std::printf("\nParameters (%zu):\n", instance.params().size());
    std::vector<std::vector<std::string>> rows{
        {"id", "name", "module", "range", "default", "text", "flags"}};
    for (const ParamEntry& p : instance.params())
        rows.push_back({std::to_string(p.id), p.name, p.module.empty() ? "-" : p.module,
                        number(p.min) + " to " + number(p.max), number(p.default_value),
                        instance.text(p, p.default_value).value_or("-"),
                        flag_names(p.flags) + " (" + std::to_string(p.flags) + ")"});
    if (!instance.params().empty())
        print_table(rows);

    std::printf("\nAudio ports:\n");
    bool any_port = false;
    for (const bool input : {true, false}) {
        for (const PortEntry& port : instance.ports(input)) {
            any_port = true;
            std::printf("  %-6s %u '%s': %u %s%s%s\n", input ? "input" : "output", port.id,
                        port.name.c_str(), port.channels,
                        port.channels == 1 ? "channel" : "channels",
                        port.type.empty() ? "" : (" (" + port.type + ")").c_str(),
                        (port.flags & CLAP_AUDIO_PORT_IS_MAIN) != 0 ? ", main" : "");
        }
    }
    if (!any_port)
        std::printf("  none listed\n");

    if (Result<void> active = instance.activate(INFO_RATE, 512); !active)
        return fail(active.error());
    const std::uint32_t latency = instance.latency();
    const std::optional<std::uint32_t> tail = instance.tail();
    instance.deactivate();
    std::printf("\nLatency:  %u samples at 48000 Hz\n", latency);
    if (!tail)
        std::printf("Tail:     not reported\n");
    else if (*tail == UINT32_MAX)
        std::printf("Tail:     endless\n");
    else
        std::printf("Tail:     %u samples at 48000 Hz\n", *tail);

    std::printf("\nExtensions:\n");
    const std::vector<std::string> extensions = instance.extensions();
    for (const std::string& id : extensions)
        std::printf("  %s\n", id.c_str());
    if (extensions.empty())
        std::printf("  none of those the tool knows\n");
    return {};
}

} // namespace velk::tool
