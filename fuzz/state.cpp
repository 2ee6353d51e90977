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
#include "velk/core/param.hpp"
#include "velk/test/test_plugin.hpp"

namespace {

using velk::Kind;
using velk::ParamInfo;
using velk::ParamSet;

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

using Cells = std::vector<std::vector<std::uint32_t>>;

Cells cells_of(const ParamSet& set) {
    Cells cells(set.len());
    for (std::size_t i = 0; i < set.len(); ++i) {
        for (std::size_t ch = 0; ch < set.at(i).cells(); ++ch)
            cells[i].push_back(std::bit_cast<std::uint32_t>(set.at(i).get_ch(ch)));
    }
    return cells;
}

std::uint32_t word_at(std::span<const std::uint8_t> bytes, std::size_t at) {
    return static_cast<std::uint32_t>(bytes[at]) | static_cast<std::uint32_t>(bytes[at + 1]) << 8 |
           static_cast<std::uint32_t>(bytes[at + 2]) << 16 |
           static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

// The cells `bytes` should leave in a set holding `before`, or nothing when the
// bytes must be refused.
std::optional<Cells> expected_load(const ParamSet& set, const Cells& before,
                                   std::span<const std::uint8_t> bytes) {
    if (bytes.size() < 12)
        return std::nullopt;
    const std::span<const std::uint8_t> magic = bytes.first(4);
    const bool known = std::equal(magic.begin(), magic.end(), "VELK") ||
                       std::equal(magic.begin(), magic.end(), "TOVE");
    if (!known || word_at(bytes, 4) != 1)
        return std::nullopt;
    Cells after = before;
    const std::uint64_t count = word_at(bytes, 8);
    std::size_t at = 12;
    for (std::uint64_t param = 0; param < count; ++param) {
        if (bytes.size() - at < 4)
            return std::nullopt;
        const std::uint64_t cells = word_at(bytes, at);
        at += 4;
        if (cells > (bytes.size() - at) / 4)
            return std::nullopt;
        for (std::uint64_t cell = 0; cell < cells; ++cell, at += 4) {
            if (param >= set.len())
                continue;
            const ParamInfo& info = set.at(param).info();
            if (info.kind == Kind::Meter || cell >= set.at(param).cells())
                continue;
            const float value = std::bit_cast<float>(word_at(bytes, at));
            after[param][cell] = std::bit_cast<std::uint32_t>(info.sanitise(value));
        }
    }
    return after;
}

void check_values(const ParamSet& set) {
    for (std::size_t i = 0; i < set.len(); ++i) {
        const ParamInfo& info = set.at(i).info();
        for (std::size_t ch = 0; ch < set.at(i).cells(); ++ch) {
            const float v = set.at(i).get_ch(ch);
            VELK_FUZZ_CHECK(!std::isnan(v) && v >= info.min && v <= info.max);
            if (info.kind == Kind::Choice || info.kind == Kind::Toggle)
                VELK_FUZZ_CHECK(v == std::round(v));
        }
    }
}

// Values away from the defaults, so that a load that wrongly resets is seen.
void set_apart(const ParamSet& set) {
    for (std::size_t i = 0; i < set.len(); ++i) {
        const ParamInfo& info = set.at(i).info();
        for (std::size_t ch = 0; ch < set.at(i).cells(); ++ch)
            set.at(i).set_ch(ch, info.default_value == info.max ? info.min : info.max);
    }
}

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
