// Bad input: each case names the offending item on one line of standard error,
// exits with status 1 and leaves no output file behind.

#include <string>
#include <vector>

#include "tool.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace velk::tool_test {
namespace {

class BadInput : public ToolTest {
protected:
    void SetUp() override {
        write_sound(at("in.wav"), constant(2, 48000, 0.25f));
        write_sound(at("cd.wav"), constant(2, 44100, 0.25f, 44100));
        write_sound(at("mono.wav"), constant(1, 48000, 0.25f));
        std::ofstream(at("fake.clap")) << std::string(256, '#') << "\nnot a shared library\n";
        std::ofstream(at("text.wav")) << "not audio either\n";
    }

    // Runs the tool and checks the one line of standard error and that the folder
    // holds only what SetUp put there.
    void expect_refused(const std::vector<std::string>& args, const std::string& message) {
        const std::vector<std::string> before = files();
        const Outcome run = velk(args);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, message + "\n");
        EXPECT_EQ(files(), before);
    }
};

TEST_F(BadInput, RenderRefusesWithOneLineAndNoFile) {
    const std::string in = at("in.wav");
    const std::string out = at("out.wav");
    const std::string png = at("out.png");
    const std::string halvex_list =
        "Threshold (0), Ratio (128), Knee (256), Attack (384), Release (512), Makeup (640), "
        "Mix (768), Bypass (896), Reduction (1024)";
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const std::vector<Case> cases = {
        {{"render", at("missing.clap"), in, out},
         "velk render: cannot read '" + at("missing.clap") + "': No such file or directory"},
        {{"render", HALVEX, at("missing.wav"), out},
         "velk render: cannot read '" + at("missing.wav") + "': No such file or directory"},
        {{"render", HALVEX, at("text.wav"), out},
         "velk render: cannot read '" + at("text.wav") + "' as audio: Format not recognised."},
        {{"render", at("fake.clap"), in, out},
         "velk render: '" + at("fake.clap") + "' is not a CLAP plug-in: invalid ELF header"},
        {{"render", VELK_NO_ENTRY_CLAP_PATH, in, out},
         "velk render: '" + std::string(VELK_NO_ENTRY_CLAP_PATH) +
             "' is not a CLAP plug-in: it has no clap_entry"},
        {{"render", VELK_NO_EFFECT_CLAP_PATH, in, out},
         "velk render: '" + std::string(VELK_NO_EFFECT_CLAP_PATH) +
             "' holds no audio effect, only: Odd Synth (instrument, synthesizer)"},
        {{"render", HALVEX, in, out, "--set", "loudness=3"},
         "velk render: unknown parameter 'loudness'; 'Halvex' has " + halvex_list},
        {{"render", HALVEX, in, out, "--set", "1=3"},
         "velk render: unknown parameter '1'; 'Halvex' has " + halvex_list},
        {{"render", HALVEX, in, out, "--set", "threshold=loud"},
         "velk render: 'Halvex' refuses 'loud' for 'Threshold'"},
        {{"render", HALVEX, in, out, "--set", "ratio=50"},
         "velk render: value '50' for 'Ratio' is outside its range 1 to 20"},
        {{"render", HALVEX, in, out, "--set", "bypass=maybe"},
         "velk render: 'Halvex' refuses 'maybe' for 'Bypass'"},
        {{"render", HALVEX, in, out, "--set", "Reduction=3"},
         "velk render: parameter 'Reduction' is read-only; it cannot be set"},
        {{"render", HALVEX, in, out, "--set", "threshold"},
         "velk render: '--set threshold' must have the form NAME=VALUE"},
        {{"render", VELK_PICKY_CLAP_PATH, at("cd.wav"), out},
         "velk render: 'Odd Effect' refuses the sample rate 44100 Hz"},
        {{"render", VELK_PICKY_CLAP_PATH, in, out, "--plot", png},
         "velk render: 'Odd Effect' reported an error while processing"},
        {{"render", VELK_PICKY_CLAP_PATH, at("mono.wav"), out},
         "velk render: 'Odd Effect' cannot take 1 channel: its ports are fixed"},
        {{"render", HALVEX, in, at("nowhere/out.wav")},
         "velk render: cannot write '" + at("nowhere/out.wav") + "': No such file or directory"},
        {{"render", HALVEX, in, out, "--plot", at("nowhere/out.png")},
         "velk render: cannot write '" + at("nowhere/out.png") + "': No such file or directory"},
        {{"render", HALVEX, in, out, "--block", "0"},
         "velk render: '--block' must be a whole number from 1 to 65536, not '0'"},
        {{"render", HALVEX, in}, "velk render: needs PLUGIN IN OUT (see velk render --help)"},
        {{"render", HALVEX, in, out, "--loud"},
         "velk render: unknown option '--loud'; it takes --set, --block, --plot, --help"},
        {{"info", at("missing.clap")},
         "velk info: cannot read '" + at("missing.clap") + "': No such file or directory"},
        {{"curve", HALVEX, "--set", "knee=99"},
         "velk curve: value '99' for 'Knee' is outside its range 0 to 24"},
        {{"curve", VELK_PICKY_CLAP_PATH, "--plot", png},
         "velk curve: 'Odd Effect' reported an error while processing"},
        {{"frobnicate"},
         "velk: unknown command 'frobnicate'; it has render, info, curve, check, run"},
    };
    for (const Case& c : cases) {
        std::string line;
        for (const std::string& arg : c.args)
            line += arg + " ";
        SCOPED_TRACE(line);
        expect_refused(c.args, c.message);
    }
}

} // namespace
} // namespace velk::tool_test
