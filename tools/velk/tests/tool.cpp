#include "tool.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sndfile.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace velk::tool_test {

namespace {

std::string quote(const std::string& arg) {
    std::string out = "'";
    for (char c : arg)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

std::string slurp(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace

Outcome velk(const std::vector<std::string>& args) {
    const std::filesystem::path scratch =
        std::filesystem::temp_directory_path() / ("velk-run-" + std::to_string(::getpid()));
    std::filesystem::create_directories(scratch);
    std::string command = VELK_TOOL_EMULATOR;
    command += (command.empty() ? "" : " ") + quote(VELK_TOOL_PATH);
    for (const std::string& arg : args)
        command += " " + quote(arg);
    command += " >" + quote((scratch / "out").string()) + " 2>" +
               quote((scratch / "err").string()) + " </dev/null";
    const int raw = std::system(command.c_str());
    Outcome run;
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    run.out = slurp(scratch / "out");
    run.err = slurp(scratch / "err");
    std::filesystem::remove_all(scratch);
    return run;
}

Sound constant(std::size_t channels, std::size_t frames, float value, int rate) {
    Sound sound;
    sound.channels.assign(channels, std::vector<float>(frames, value));
    sound.rate = rate;
    return sound;
}

void write_sound(const std::filesystem::path& path, const Sound& sound) {
    SF_INFO info{};
    info.samplerate = sound.rate;
    info.channels = static_cast<int>(sound.channels.size());
    info.format = sound.format != 0 ? sound.format : (SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr) << path << ": " << sf_strerror(nullptr);
    const std::size_t channels = sound.channels.size();
    std::vector<float> interleaved(sound.frames() * channels);
    for (std::size_t f = 0; f < sound.frames(); ++f)
        for (std::size_t c = 0; c < channels; ++c)
            interleaved[f * channels + c] = sound.channels[c][f];
    EXPECT_EQ(sf_writef_float(file, interleaved.data(), static_cast<sf_count_t>(sound.frames())),
              static_cast<sf_count_t>(sound.frames()));
    sf_close(file);
}

Sound read_sound(const std::filesystem::path& path) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    Sound sound;
    if (file == nullptr) {
        ADD_FAILURE() << "cannot read " << path << ": " << sf_strerror(nullptr);
        return sound;
    }
    const auto channels = static_cast<std::size_t>(info.channels);
    const auto frames = static_cast<std::size_t>(info.frames);
    std::vector<float> interleaved(frames * channels);
    EXPECT_EQ(sf_readf_float(file, interleaved.data(), info.frames), info.frames);
    sf_close(file);
    sound.rate = info.samplerate;
    sound.format = info.format;
    sound.channels.assign(channels, std::vector<float>(frames));
    for (std::size_t f = 0; f < frames; ++f)
        for (std::size_t c = 0; c < channels; ++c)
            sound.channels[c][f] = interleaved[f * channels + c];
    return sound;
}

double gain_db(const Sound& out, const Sound& reference, std::size_t ch, std::size_t begin,
               std::size_t end) {
    double a = 0.0;
    double b = 0.0;
    for (std::size_t i = begin; i < end; ++i) {
        const auto x = static_cast<double>(out.channels.at(ch).at(i));
        const auto y = static_cast<double>(reference.channels.at(ch).at(i));
        a += x * x;
        b += y * y;
    }
    return 10.0 * std::log10(a / b);
}

double number_after(const std::string& text, const std::string& key) {
    const std::size_t at = text.find(key);
    if (at == std::string::npos)
        return std::nan("");
    return std::strtod(text.c_str() + at + key.size(), nullptr);
}

ToolTest::ToolTest() {
    std::string pattern = (std::filesystem::temp_directory_path() / "velk-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        ADD_FAILURE() << "cannot make a temporary folder";
    dir_ = pattern;
}

ToolTest::~ToolTest() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

std::vector<std::string> ToolTest::files() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir_))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace velk::tool_test
