// Saved-state loading on arbitrary bytes, into sets with every parameter kind: a
// number, a per-channel number, a choice, a toggle, a meter and per-channel
// toggle and meter, built for one channel and for several. After any load every
// cell holds a value in its range and no NaN, and choices and toggles hold whole
// numbers. A refused load changes nothing and notifies no one. An accepted one
// gives what a plain reading of the format gives, and its saved state reads back
// to the same values.

#include "velk/core/state.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "support/check.hpp"
#include "support/state_model.hpp"
#include "velk/core/param.hpp"
#include "velk/test/test_plugin.hpp"

namespace {

using velk::Kind;
using velk::ParamInfo;
using velk::ParamSet;
using velk::fuzz::Cells;
using velk::fuzz::cells_of;
using velk::fuzz::check_values;
using velk::fuzz::expected_load;
using velk::fuzz::set_apart;

constexpr std::array<ParamInfo, velk::test::TEST_PARAMS.size() + 2> make_table() {
    std::array<ParamInfo, velk::test::TEST_PARAMS.size() + 2> table{};
    for (std::size_t i = 0; i < velk::test::TEST_PARAMS.size(); ++i)
        table[i] = velk::test::TEST_PARAMS[i];
    table[table.size() - 2] = ParamInfo{.id = "solo", .kind = Kind::Toggle, .per_channel = true};
    table[table.size() - 1] = ParamInfo{
        .id = "channel_peak", .min = -1.0f, .max = 4.0f, .kind = Kind::Meter, .per_channel = true};
    return table;
}

constexpr auto TABLE = make_table();

void check_load(std::size_t channels, std::span<const std::uint8_t> bytes) {
    const ParamSet set = ParamSet::with_channels(TABLE, channels);
    int notified = 0;
    VELK_FUZZ_CHECK(set.set_listener([&notified](const ParamSet&) { ++notified; }));
    set_apart(set);
    const Cells before = cells_of(set);
    const std::optional<Cells> expected = expected_load(set, before, bytes);

    const bool accepted = velk::state::load(set, bytes);
    VELK_FUZZ_CHECK(accepted == expected.has_value());
    VELK_FUZZ_CHECK(notified == (accepted ? 1 : 0));
    VELK_FUZZ_CHECK(cells_of(set) == (accepted ? *expected : before));
    check_values(set);
    if (!accepted)
        return;

    const std::vector<std::uint8_t> saved = velk::state::save(set);
    const ParamSet copy = ParamSet::with_channels(TABLE, channels);
    VELK_FUZZ_CHECK(velk::state::load(copy, saved));
    Cells restored = cells_of(copy);
    Cells wanted = cells_of(set);
    // Meter readings are saved but never restored.
    for (std::size_t i = 0; i < set.len(); ++i) {
        const ParamInfo& info = set.at(i).info();
        if (info.kind != Kind::Meter)
            continue;
        for (std::uint32_t cell : restored[i])
            VELK_FUZZ_CHECK(cell == std::bit_cast<std::uint32_t>(info.default_value));
        restored[i] = wanted[i];
    }
    VELK_FUZZ_CHECK(restored == wanted);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    check_load(1, bytes);
    check_load(3, bytes);
    return 0;
}
