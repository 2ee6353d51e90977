#include "state_model.hpp"

#include <algorithm>
#include <bit>
#include <cmath>

#include "check.hpp"

namespace velk::fuzz {
namespace {

std::uint32_t word_at(std::span<const std::uint8_t> bytes, std::size_t at) {
    return static_cast<std::uint32_t>(bytes[at]) | static_cast<std::uint32_t>(bytes[at + 1]) << 8 |
           static_cast<std::uint32_t>(bytes[at + 2]) << 16 |
           static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

} // namespace

Cells cells_of(const ParamSet& set) {
    Cells cells(set.len());
    for (std::size_t i = 0; i < set.len(); ++i) {
        for (std::size_t ch = 0; ch < set.at(i).cells(); ++ch)
            cells[i].push_back(std::bit_cast<std::uint32_t>(set.at(i).get_ch(ch)));
    }
    return cells;
}

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

void set_apart(const ParamSet& set) {
    for (std::size_t i = 0; i < set.len(); ++i) {
        const ParamInfo& info = set.at(i).info();
        for (std::size_t ch = 0; ch < set.at(i).cells(); ++ch)
            set.at(i).set_ch(ch, info.default_value == info.max ? info.min : info.max);
    }
}

} // namespace velk::fuzz
