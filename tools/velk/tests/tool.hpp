#pragma once

#include <filesystem>
#include <fstream>
#include <sndfile.h>
#include <string>
#include <vector>

#include <gtest/gtest.h>

/// Runs the built velk tool and makes and reads the audio files it works on.
namespace velk::tool_test {

/// What one run of the tool left.
struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

/// Runs `velk args...` and waits for it.
Outcome velk(const std::vector<std::string>& args);

/// Non-interleaved float audio.
struct Sound {
    std::vector<std::vector<float>> channels;
    int rate = 48000;
    int format = 0; ///< libsndfile format; 0 reads as float WAV when writing.

    std::size_t frames() const { return channels.empty() ? 0 : channels[0].size(); }
};

/// `channels` channels of `frames` frames, every sample `value`.
Sound constant(std::size_t channels, std::size_t frames, float value, int rate = 48000);

/// Writes a WAV file (32-bit float unless `sound.format` says otherwise).
void write_sound(const std::filesystem::path& path, const Sound& sound);
/// Reads any file libsndfile reads; fails the test when it cannot.
Sound read_sound(const std::filesystem::path& path);

/// 20 log10 of the RMS of frames [begin, end) of channel `ch` over the RMS of the
/// same frames of `reference`.
double gain_db(const Sound& out, const Sound& reference, std::size_t ch, std::size_t begin,
               std::size_t end);

/// The number after `key` on the first line of `text` that holds `key`; NaN if none.
double number_after(const std::string& text, const std::string& key);

/// A fresh folder, removed with everything in it when the test ends.
class ToolTest : public testing::Test {
protected:
    ToolTest();
    ~ToolTest() override;

    std::string at(const std::string& name) const { return (dir_ / name).string(); }
    /// The names of the files in the folder, sorted.
    std::vector<std::string> files() const;

    std::filesystem::path dir_;
};

inline const std::string HALVEX = VELK_HALVEX_CLAP_PATH;
inline const std::string TEST_CLAP = VELK_TEST_CLAP_PATH;

} // namespace velk::tool_test
