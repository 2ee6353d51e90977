#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "velk/core/result.hpp"

/// Audio files through libsndfile (WAV, FLAC, AIFF and the other formats it reads),
/// held in memory as one run of 32-bit float samples per channel.
namespace velk::tool {

/// Non-interleaved audio with the file format it came from.
struct Audio {
    std::vector<std::vector<float>> channels;
    int sample_rate = 0;
    int format = 0; ///< libsndfile's major format and sample encoding.

    std::size_t frames() const noexcept { return channels.empty() ? 0 : channels[0].size(); }
    /// Duration in seconds.
    double seconds() const noexcept;
    /// A short description: "WAV 16-bit, 44100 Hz, stereo, 3.00 s".
    std::string describe() const;
};

/// Reads a whole file; fails with a message naming `path`.
Result<Audio> read_audio(const std::string& path);

/// Writes `audio` into `temp` in `audio.format` (clipping to full scale for integer
/// encodings); `path` names the destination in messages.
Result<void> write_audio(const std::string& temp, const std::string& path, const Audio& audio);

} // namespace velk::tool
