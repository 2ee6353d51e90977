#include "velk/core/state.hpp"

#include <bit>
#include <cstddef>

namespace velk::state {
namespace {

constexpr std::uint32_t VERSION = 1;
constexpr std::size_t HEADER_BYTES = 12;

// Writes a little-endian word at `at` and moves past it.
void put_u32(std::vector<std::uint8_t>& out, std::size_t& at, std::uint32_t word) {
    for (int shift = 0; shift < 32; shift += 8)
        out[at++] = static_cast<std::uint8_t>(word >> shift);
}

std::uint32_t get_u32(std::span<const std::uint8_t> bytes, std::size_t at) noexcept {
    return static_cast<std::uint32_t>(bytes[at]) | static_cast<std::uint32_t>(bytes[at + 1]) << 8 |
           static_cast<std::uint32_t>(bytes[at + 2]) << 16 |
           static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

bool has_magic(std::span<const std::uint8_t> bytes) noexcept {
    const auto is = [&](const char* magic) {
        for (std::size_t i = 0; i < 4; ++i) {
            if (bytes[i] != static_cast<std::uint8_t>(magic[i]))
                return false;
        }
        return true;
    };
    return is("VELK") || is("TOVE");
}

// Walks the records, calling `apply(param, cell, value)` for every value; false,
// without any call after the failing record, when a record runs past the end.
template <typename Apply>
bool walk(std::span<const std::uint8_t> bytes, Apply apply) {
    const std::uint32_t count = get_u32(bytes, 8);
    std::size_t at = HEADER_BYTES;
    for (std::uint32_t param = 0; param < count; ++param) {
        if (bytes.size() - at < 4)
            return false;
        const std::uint32_t cells = get_u32(bytes, at);
        at += 4;
        // In 64 bits, so a huge cell count cannot wrap around.
        if (static_cast<std::uint64_t>(cells) * 4 > bytes.size() - at)
            return false;
        for (std::uint32_t cell = 0; cell < cells; ++cell, at += 4)
            apply(param, cell, std::bit_cast<float>(get_u32(bytes, at)));
    }
    return true;
}

} // namespace

std::vector<std::uint8_t> save(const ParamSet& params) {
    std::size_t size = HEADER_BYTES;
    for (std::size_t i = 0; i < params.len(); ++i)
        size += 4 + 4 * params.at(i).cells();
    std::vector<std::uint8_t> out(size);
    std::size_t at = 0;
    for (char c : {'V', 'E', 'L', 'K'})
        out[at++] = static_cast<std::uint8_t>(c);
    put_u32(out, at, VERSION);
    put_u32(out, at, static_cast<std::uint32_t>(params.len()));
    for (std::size_t i = 0; i < params.len(); ++i) {
        const Param& param = params.at(i);
        put_u32(out, at, static_cast<std::uint32_t>(param.cells()));
        for (std::size_t ch = 0; ch < param.cells(); ++ch)
            put_u32(out, at, std::bit_cast<std::uint32_t>(param.get_ch(ch)));
    }
    return out;
}

bool load(const ParamSet& params, std::span<const std::uint8_t> bytes) {
    if (bytes.size() < 4 || !has_magic(bytes))
        return false;
    if (bytes.size() < HEADER_BYTES || get_u32(bytes, 4) != VERSION)
        return false;
    // Check every record first, so a refused string changes nothing.
    if (!walk(bytes, [](std::uint32_t, std::uint32_t, float) {}))
        return false;
    walk(bytes, [&](std::uint32_t index, std::uint32_t cell, float value) {
        if (index >= params.len())
            return;
        Param& param = params.at(index);
        if (param.info().kind == Kind::Meter || cell >= param.cells())
            return;
        param.set_ch(cell, value);
    });
    params.notify();
    return true;
}

} // namespace velk::state
