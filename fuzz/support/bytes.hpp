#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <utility>

/// Decodes a fuzz input as a script of small numbers. Reads past the end give 0, so
/// every input, however short, is a complete script; `done` says when it ran out.
namespace velk::fuzz {

class Bytes {
public:
    explicit Bytes(std::span<const std::uint8_t> bytes) noexcept : bytes_(bytes) {}

    bool done() const noexcept { return at_ >= bytes_.size(); }
    std::size_t left() const noexcept { return done() ? 0 : bytes_.size() - at_; }

    std::uint8_t u8() noexcept { return done() ? 0 : bytes_[at_++]; }
    std::uint16_t u16() noexcept {
        const auto lo = u8();
        return static_cast<std::uint16_t>(lo | u8() << 8);
    }
    std::uint32_t u32() noexcept {
        const std::uint32_t lo = u16();
        return lo | static_cast<std::uint32_t>(u16()) << 16;
    }
    /// A float from its little-endian bit pattern.
    float f32() noexcept { return std::bit_cast<float>(u32()); }
    /// Up to `n` raw bytes.
    std::span<const std::uint8_t> take(std::size_t n) noexcept {
        const std::size_t k = n < left() ? n : left();
        const std::span<const std::uint8_t> out = bytes_.subspan(at_, k);
        at_ += k;
        return out;
    }
    /// One of `table`'s entries, chosen by one byte; or, for bytes past the table, a
    /// raw value read by `raw`, so that both the interesting cases and everything
    /// else are reachable.
    template <typename T, std::size_t N, typename Raw>
    T pick(const T (&table)[N], Raw raw) noexcept {
        const std::uint8_t b = u8();
        return b < N ? table[b] : raw(*this);
    }

private:
    std::span<const std::uint8_t> bytes_;
    std::size_t at_ = 0;
};

/// Splits an input at its first NUL byte into a text and the bytes after it.
inline std::pair<std::string_view, std::span<const std::uint8_t>>
split_text(const std::uint8_t* data, std::size_t size) noexcept {
    const std::string_view all(reinterpret_cast<const char*>(data), size);
    const std::size_t nul = all.find('\0');
    if (nul == std::string_view::npos)
        return {all, {}};
    return {all.substr(0, nul), std::span<const std::uint8_t>(data + nul + 1, size - nul - 1)};
}

} // namespace velk::fuzz
