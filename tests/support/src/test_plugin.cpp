#include "velk/test/test_plugin.hpp"

#include <algorithm>
#include <cmath>

namespace velk::test {
namespace {

constexpr std::size_t RING = TEST_MAX_DELAY + 1;

std::uint32_t whole_samples(float value) noexcept {
    return static_cast<std::uint32_t>(std::lround(value));
}

} // namespace

TestPlugin::TestPlugin() : params_(ParamSet::with_channels(TEST_PARAMS, MAX_CHANNELS)) {}

void TestPlugin::prepare(const ProcessSetup& setup) {
    setup_ = setup;
    delay_.assign(static_cast<std::size_t>(setup.channels) * RING, 0.0f);
    write_ = 0;
    midi_count_ = 0;
    ++prepare_count_;
}

void TestPlugin::midi(std::uint8_t status, std::uint8_t data1, std::uint8_t data2,
                      std::uint32_t frame) noexcept {
    if (midi_count_ < MIDI_CAPACITY)
        midi_[midi_count_++] = Midi{status, data1, data2, frame};
}

void TestPlugin::process(ChannelBuffers channels, const ProcessContext& context) noexcept {
    ++process_count_;
    if (channels.empty())
        return;
    context_ = context;
    channels_ = channels.size();
    frames_ = channels.front().size();

    // dB to linear gain as e^(dB × 0.11512925).
    const float gain = std::exp(params_.at(GAIN).get() * 0.11512925f);
    const float sign =
        std::array{1.0f, -1.0f,
                   0.0f}[static_cast<std::size_t>(std::clamp(params_.at(MODE).get(), 0.0f, 2.0f))];
    const bool bypass = params_.at(BYPASS).get() >= 0.5f;
    const std::size_t delay = latency_samples();
    const Param& level = params_.at(LEVEL);

    // Channels beyond the prepared count have no delay line and are left as they are.
    const std::size_t count = std::min<std::size_t>(channels.size(), setup_.channels);
    float peak = 0.0f;
    for (std::size_t ch = 0; ch < count; ++ch) {
        const float factor = bypass ? 1.0f : gain * level.get_ch(ch) * sign;
        float* ring = delay_.data() + ch * RING;
        std::size_t write = write_;
        for (float& sample : channels[ch]) {
            ring[write] = sample * factor;
            sample = ring[(write + RING - delay) % RING];
            peak = std::max(peak, std::fabs(sample));
            write = (write + 1) % RING;
        }
    }
    write_ = (write_ + frames_) % RING;
    params_.at(PEAK).set(peak);
}

std::uint32_t TestPlugin::latency_samples() noexcept {
    return whole_samples(params_.at(LATENCY).get());
}

std::uint32_t TestPlugin::tail_samples() noexcept {
    return whole_samples(params_.at(TAIL).get());
}

} // namespace velk::test
