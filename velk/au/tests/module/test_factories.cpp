// The adapter bound to plug-ins made for tests, as a loadable module with three
// factories: the test plug-in, and a probe, as an effect and as an instrument, that
// reports what the adapter hands it through meter parameters, which a host can read.

#include <array>
#include <cstdint>
#include <string_view>

#include "velk/au/factory.hpp"
#include "velk/core/param.hpp"
#include "velk/core/plugin.hpp"
#include "velk/test/test_plugin.hpp"

namespace {

using velk::Kind;
using velk::ParamInfo;

/// A reading of the probe; meters, so that hosts can read but not write them.
constexpr ParamInfo reading(std::string_view id, float min, float max, std::string_view name = {}) {
    return ParamInfo{
        .id = id, .name = name.empty() ? id : name, .min = min, .max = max, .kind = Kind::Meter};
}

/// The probe's parameters: one it takes from the host, then its readings. A reading of
/// -1 means the value was absent.
constexpr std::array<ParamInfo, 14> PROBE_PARAMS{{
    // Names with characters of more than one byte, to cut: 11 characters in 12 bytes,
    // and 52 bytes whose last character takes three.
    {.id = "gain", .name = "Verst\xC3\xA4rkung", .unit = "dB", .min = -60.0f, .max = 12.0f},
    reading("prepares", 0.0f, 1e6f),
    reading("channels", 0.0f, 64.0f),
    reading("max_frames", 0.0f, 1048576.0f),
    reading("sample_rate", 0.0f, 1e6f),
    reading("processes", 0.0f, 1e7f),
    reading("frames", 0.0f, 1048576.0f),
    reading("tempo", -1.0f, 1000.0f),
    reading("position", -1.0f, 1e9f),
    reading("playing", 0.0f, 1.0f),
    reading("midi_count", 0.0f, 4096.0f),
    reading("midi_status", 0.0f, 255.0f),
    reading("midi_data", 0.0f, 127.0f * 128.0f + 127.0f,
            "Data bytes of the last MIDI message packed in one\xE2\x80\xA6"),
    reading("midi_offset", 0.0f, 1e6f),
}};

/// An effect that takes 1 to 8 channels, so its channel configurations are listed one
/// by one.
constexpr std::array<velk::Port, 1> PROBE_INPUTS{
    velk::Port{.name = "Main", .channels = velk::Channels::range(1, 8)}};

/// Passes audio through unchanged (an instrument writes 0.25) and reports the setup,
/// the context and the MIDI of the last calls.
template <bool Instrument>
class Probe : public velk::Plugin {
public:
    enum Reading : std::size_t {
        Prepares = 1,
        Channels,
        MaxFrames,
        SampleRate,
        Processes,
        Frames,
        Tempo,
        Position,
        Playing,
        MidiCount,
        MidiStatus,
        MidiData,
        MidiOffset,
    };

    Probe() : params_(velk::ParamSet::with_channels(PROBE_PARAMS, velk::MAX_CHANNELS)) {}

    velk::ParamSet params() const override { return params_; }
    velk::Layout layout() const override {
        if constexpr (Instrument)
            return velk::default_layout();
        else
            return {PROBE_INPUTS, velk::DEFAULT_OUTPUTS};
    }
    bool is_instrument() const override { return Instrument; }
    void prepare(const velk::ProcessSetup& setup) override {
        set(Prepares, get(Prepares) + 1.0f);
        set(Channels, static_cast<float>(setup.channels));
        set(MaxFrames, static_cast<float>(setup.max_frames));
        set(SampleRate, setup.sample_rate);
        set(MidiCount, 0.0f);
    }

    void midi(std::uint8_t status, std::uint8_t data1, std::uint8_t data2,
              std::uint32_t frame) noexcept override {
        set(MidiCount, get(MidiCount) + 1.0f);
        set(MidiStatus, status);
        set(MidiData, static_cast<float>(data1 * 128 + data2));
        set(MidiOffset, static_cast<float>(frame));
    }
    void process(velk::ChannelBuffers channels,
                 const velk::ProcessContext& context) noexcept override {
        set(Processes, get(Processes) + 1.0f);
        set(Frames, static_cast<float>(channels.front().size()));
        set(Tempo, context.tempo ? static_cast<float>(*context.tempo) : -1.0f);
        set(Position, context.position ? static_cast<float>(*context.position) : -1.0f);
        set(Playing, context.playing ? 1.0f : 0.0f);
        if constexpr (Instrument) {
            for (const std::span<float> channel : channels) {
                for (float& sample : channel)
                    sample = 0.25f;
            }
        }
    }
    std::uint32_t latency_samples() noexcept override { return 0; }
    std::uint32_t tail_samples() noexcept override { return 0; }

private:
    float get(Reading r) const noexcept { return params_.at(r).get(); }
    void set(Reading r, float value) const noexcept { params_.at(r).set(value); }

    velk::ParamSet params_;
};

} // namespace

extern "C" VELK_EXPORT AudioComponentPlugInInterface*
VelkTestEffectFactory(const AudioComponentDescription* desc) {
    return velk::au::create<velk::test::TestPlugin>(desc);
}

extern "C" VELK_EXPORT AudioComponentPlugInInterface*
VelkProbeEffectFactory(const AudioComponentDescription* desc) {
    return velk::au::create<Probe<false>>(desc);
}

extern "C" VELK_EXPORT AudioComponentPlugInInterface*
VelkProbeInstrumentFactory(const AudioComponentDescription* desc) {
    return velk::au::create<Probe<true>>(desc);
}
