// Saved-state loading into the compressor itself, on arbitrary bytes. The load
// does what a plain reading of the format says, never touches the gain-reduction
// meter, and leaves every parameter in its range; the compressor then processes a
// full-scale signal into finite output with a meter reading within 0 to 30 dB, and
// its saved state is 84 bytes that load back to the same values.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "halvex/halvex.hpp"
#include "support/check.hpp"
#include "support/state_model.hpp"
#include "velk/core/plugin.hpp"
#include "velk/core/state.hpp"

namespace {

using velk::fuzz::Cells;

constexpr std::size_t FRAMES = 256;

void check_processing(halvex::Halvex& plugin) {
    plugin.prepare({.max_frames = FRAMES, .sample_rate = 48000.0f, .channels = 2});
    std::vector<std::vector<float>> audio(2, std::vector<float>(FRAMES));
    std::uint32_t noise = 1;
    for (auto& channel : audio)
        for (float& x : channel) {
            noise = noise * 1664525u + 1013904223u;
            x = static_cast<float>(noise >> 8) * 0x1p-23f - 1.0f;
        }
    velk::ChannelList list;
    for (auto& channel : audio)
        list.push(channel);
    plugin.process(list.runs(), {.position = {}, .tempo = {}, .sample_rate = 48000.0f});
    for (const auto& channel : audio)
        for (float x : channel)
            VELK_FUZZ_CHECK(std::isfinite(x));
    const float gr = plugin.params().at(halvex::GR).get();
    VELK_FUZZ_CHECK(gr >= 0.0f && gr <= 30.0f);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static halvex::Halvex plugin;
    const velk::ParamSet params = plugin.params();
    const std::span<const std::uint8_t> bytes(data, size);

    velk::fuzz::set_apart(params);
    const Cells before = velk::fuzz::cells_of(params);
    const std::optional<Cells> expected = velk::fuzz::expected_load(params, before, bytes);
    const bool accepted = velk::state::load(params, bytes);
    VELK_FUZZ_CHECK(accepted == expected.has_value());
    const Cells after = velk::fuzz::cells_of(params);
    VELK_FUZZ_CHECK(after == (accepted ? *expected : before));
    VELK_FUZZ_CHECK(after[halvex::GR] == before[halvex::GR]);
    velk::fuzz::check_values(params);

    const std::vector<std::uint8_t> saved = velk::state::save(params);
    VELK_FUZZ_CHECK(saved.size() == 84);
    const velk::ParamSet copy =
        velk::ParamSet::with_channels(halvex::param_table(), halvex::CHANNEL_CAPACITY);
    VELK_FUZZ_CHECK(velk::state::load(copy, saved));
    for (std::size_t i = 0; i < halvex::GR; ++i)
        VELK_FUZZ_CHECK(copy.at(i).get() == params.at(i).get());

    check_processing(plugin);
    return 0;
}
