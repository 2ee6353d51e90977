#include "velk/bench/signal.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace velk::bench {
namespace {

constexpr double RATE = static_cast<double>(SIGNAL_RATE);
constexpr double TWO_PI = 6.283185307179586;
constexpr double BEAT_SECONDS = 0.5; // 120 beats per minute
constexpr double PEAK = 0.5;

// xorshift32 in [-1, 1): the same sequence everywhere, unlike the standard
// library's distributions.
class Noise {
public:
    explicit Noise(std::uint32_t seed) : state_(seed | 1u) {}
    double next() noexcept {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return static_cast<double>(state_) * 0x1p-31 - 1.0;
    }

private:
    std::uint32_t state_;
};

// Pink noise: white noise through a sum of one-pole filters spread over the
// spectrum, -3 dB per octave within about 0.5 dB above 10 Hz.
class Pink {
public:
    explicit Pink(std::uint32_t seed) : white_(seed) {}
    double next() noexcept {
        const double w = white_.next();
        b_[0] = 0.99886 * b_[0] + w * 0.0555179;
        b_[1] = 0.99332 * b_[1] + w * 0.0750759;
        b_[2] = 0.96900 * b_[2] + w * 0.1538520;
        b_[3] = 0.86650 * b_[3] + w * 0.3104856;
        b_[4] = 0.55000 * b_[4] + w * 0.5329522;
        b_[5] = -0.7616 * b_[5] - w * 0.0168980;
        const double out = b_[0] + b_[1] + b_[2] + b_[3] + b_[4] + b_[5] + b_[6] + w * 0.5362;
        b_[6] = w * 0.115926;
        return out * 0.11;
    }

private:
    Noise white_;
    double b_[7] = {};
};

// One drum hit `t` seconds after its start; 0 once it has died away.
double kick(double t) {
    // The pitch falls from 150 Hz to 50 Hz; the phase is the integral of it.
    const double phase = TWO_PI * (50.0 * t + 100.0 * 0.03 * (1.0 - std::exp(-t / 0.03)));
    return std::sin(phase) * std::exp(-t / 0.18);
}

double snare(double t, double noise) {
    return (0.5 * std::sin(TWO_PI * 185.0 * t) + 0.7 * noise) * std::exp(-t / 0.09);
}

double hat(double t, double noise) {
    return 0.35 * noise * std::exp(-t / 0.025);
}

} // namespace

std::vector<std::vector<float>> drum_signal(std::size_t frames, std::size_t channels) {
    std::vector<std::vector<double>> mix(channels, std::vector<double>(frames));
    Noise snare_noise(0x5eed0001u);
    Noise hat_noise(0x5eed0002u);
    double hat_state = 0.0; // a first-difference high-pass makes the hat bright
    for (std::size_t n = 0; n < frames; ++n) {
        const double seconds = static_cast<double>(n) / RATE;
        const double beat_pos = std::fmod(seconds, BEAT_SECONDS);
        const auto beat = static_cast<std::uint64_t>(seconds / BEAT_SECONDS);
        const double eighth_pos = std::fmod(seconds, BEAT_SECONDS / 2.0);
        const double k = kick(beat_pos);
        const double s = beat % 2 == 1 ? snare(beat_pos, snare_noise.next()) : 0.0;
        const double raw_hat = hat_noise.next();
        const double h = hat(eighth_pos, raw_hat - hat_state);
        hat_state = raw_hat;
        for (std::size_t c = 0; c < channels; ++c) {
            // Snare and hat sit off centre, mirrored on every other channel.
            const double side = c % 2 == 0 ? 1.0 : -1.0;
            mix[c][n] = 0.9 * k + (0.55 + 0.1 * side) * s + (0.5 - 0.25 * side) * h;
        }
    }
    for (std::size_t c = 0; c < channels; ++c) {
        Pink pink(0x9e3779b9u + static_cast<std::uint32_t>(c));
        for (double& x : mix[c])
            x += 0.08 * pink.next();
    }

    double largest = 0.0;
    for (const auto& channel : mix)
        for (double x : channel)
            largest = std::max(largest, std::fabs(x));
    const double scale = largest > 0.0 ? PEAK / largest : 1.0;
    std::vector<std::vector<float>> out(channels, std::vector<float>(frames));
    for (std::size_t c = 0; c < channels; ++c)
        for (std::size_t n = 0; n < frames; ++n)
            out[c][n] = static_cast<float>(mix[c][n] * scale);
    return out;
}

} // namespace velk::bench
