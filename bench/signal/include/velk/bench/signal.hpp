#pragma once

#include <cstddef>
#include <vector>

namespace velk::bench {

/// Frames per second of the benchmark signal.
inline constexpr float SIGNAL_RATE = 48000.0f;

/// The benchmark signal: a drum-like pattern at 120 beats per minute (kick on every
/// beat, snare on two and four, closed hi-hat on every eighth) over pink noise,
/// scaled so its largest sample is 0.5 (about -6 dBFS). One vector per channel;
/// the channels differ in panning and noise. Deterministic: the same arguments give
/// the same samples on every run (uses no clock and no random device). Allocates.
std::vector<std::vector<float>> drum_signal(std::size_t frames, std::size_t channels);

} // namespace velk::bench
