#include "velk/blocks/block.hpp"

namespace velk::blocks {

void Block::configure(std::span<const float>) {}
std::uint32_t Block::latency() const noexcept {
    return 0;
}
std::uint32_t Block::tail(std::span<const float>, float) const noexcept {
    return 0;
}
float Block::meter(std::size_t) const noexcept {
    return 0.0f;
}

} // namespace velk::blocks
