#pragma once

#include <cstddef>
#include <string>
#include <vector>

/// Signal levels: peak and RMS in dBFS, and the envelopes the plots draw.
namespace velk::tool {

/// Levels over all channels: `peak` the largest magnitude, `rms` the root mean
/// square of every sample; both linear, 1 being full scale.
struct Levels {
    double peak = 0.0;
    double rms = 0.0;
};

/// The levels of frames [begin, end) of every channel (end clipped to the length).
Levels measure(const std::vector<std::vector<float>>& channels, std::size_t begin = 0,
               std::size_t end = static_cast<std::size_t>(-1));

/// 20 log10(linear); minus infinity for 0.
double to_db(double linear);

/// "-6.02", or "-inf" below -999 dB.
std::string format_db(double db);

/// The peak level in dBFS of consecutive windows of `window` frames, one value per
/// window, floored at `floor_db`.
std::vector<double> envelope_db(const std::vector<std::vector<float>>& channels, std::size_t window,
                                double floor_db);

} // namespace velk::tool
