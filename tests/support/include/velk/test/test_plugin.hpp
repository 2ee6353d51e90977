#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "velk/core/param.hpp"
#include "velk/core/plugin.hpp"

namespace velk::test {

inline constexpr std::array<std::string_view, 3> TEST_MODES{"Normal", "Inverted", "Muted"};

/// The longest latency the test plug-in can be set to, in samples.
inline constexpr std::uint32_t TEST_MAX_DELAY = 256;

/// The parameters of `TestPlugin`, one of each kind and a per-channel one.
inline constexpr std::array<ParamInfo, 7> TEST_PARAMS{{
    {.id = "gain",
     .name = "Gain",
     .doc = "Gain applied to every channel.",
     .unit = "dB",
     .group = "Level",
     .min = -60.0f,
     .max = 12.0f,
     .default_value = 0.0f},
    {.id = "level",
     .name = "Level",
     .doc = "Linear gain of one channel.",
     .group = "Level",
     .min = 0.0f,
     .max = 1.0f,
     .default_value = 1.0f,
     .per_channel = true},
    {.id = "mode",
     .name = "Mode",
     .doc = "Passes, inverts or mutes the signal.",
     .choices = TEST_MODES,
     .min = 0.0f,
     .max = 2.0f,
     .default_value = 0.0f,
     .kind = Kind::Choice},
    {.id = "bypass",
     .name = "Bypass",
     .doc = "Passes the input unchanged, still delayed by the latency.",
     .kind = Kind::Toggle},
    {.id = "latency",
     .name = "Latency",
     .doc = "Delay added to the signal, rounded to whole samples.",
     .unit = "samples",
     .max = static_cast<float>(TEST_MAX_DELAY)},
    {.id = "tail",
     .name = "Tail",
     .doc = "Tail reported to the host, rounded to whole samples.",
     .unit = "samples",
     .max = 96000.0f},
    {.id = "peak",
     .name = "Peak",
     .doc = "Largest absolute output sample of the last block.",
     .max = 16.0f,
     .kind = Kind::Meter},
}};

/// A plug-in for tests: output = input × gain × level[ch] × mode sign, delayed by
/// "latency" samples; reports "latency" and "tail" rounded; writes the block's output
/// peak into the meter "peak". Records what the adapters hand it, for inspection
/// after the fact (not synchronised: read it once processing has stopped).
class TestPlugin : public Plugin {
public:
    static constexpr std::size_t GAIN = 0;
    static constexpr std::size_t LEVEL = 1;
    static constexpr std::size_t MODE = 2;
    static constexpr std::size_t BYPASS = 3;
    static constexpr std::size_t LATENCY = 4;
    static constexpr std::size_t TAIL = 5;
    static constexpr std::size_t PEAK = 6;

    struct Midi {
        std::uint8_t status = 0;
        std::uint8_t data1 = 0;
        std::uint8_t data2 = 0;
        std::uint32_t frame = 0;
    };
    static constexpr std::size_t MIDI_CAPACITY = 64;

    TestPlugin();

    // Main thread: may allocate.
    ParamSet params() const override { return params_; }
    void prepare(const ProcessSetup& setup) override;

    // Audio thread: no allocation, no locks, no waits.
    void midi(std::uint8_t status, std::uint8_t data1, std::uint8_t data2,
              std::uint32_t frame) noexcept override;
    void process(ChannelBuffers channels, const ProcessContext& context) noexcept override;
    std::uint32_t latency_samples() noexcept override;
    std::uint32_t tail_samples() noexcept override;

    // What the plug-in was given so far.
    std::size_t prepare_count() const noexcept { return prepare_count_; }
    const ProcessSetup& last_setup() const noexcept { return setup_; }
    std::size_t process_count() const noexcept { return process_count_; }
    const ProcessContext& last_context() const noexcept { return context_; }
    std::size_t last_frames() const noexcept { return frames_; }
    std::size_t last_channels() const noexcept { return channels_; }
    /// MIDI messages since the last `prepare`, the first `MIDI_CAPACITY` of them.
    std::span<const Midi> midi_events() const noexcept { return {midi_.data(), midi_count_}; }

private:
    ParamSet params_;
    ProcessSetup setup_;
    std::vector<float> delay_; // TEST_MAX_DELAY + 1 samples per prepared channel
    std::size_t write_ = 0;
    std::size_t prepare_count_ = 0;
    std::size_t process_count_ = 0;
    ProcessContext context_;
    std::size_t frames_ = 0;
    std::size_t channels_ = 0;
    std::array<Midi, MIDI_CAPACITY> midi_{};
    std::size_t midi_count_ = 0;
};

} // namespace velk::test
