#include <array>

#include "velk/blocks/block.hpp"
#include "velk/blocks/biquad.hpp"
#include "velk/blocks/delay.hpp"
#include "velk/blocks/dynamics.hpp"
#include "velk/blocks/gain.hpp"
#include "velk/blocks/harmonic_eq.hpp"
#include "velk/blocks/onepole.hpp"
#include "velk/blocks/shaper.hpp"
#include "velk/blocks/stereo.hpp"
#include "velk/blocks/tremolo.hpp"

namespace velk::blocks {
namespace {

// Catalogue order, also the order in which the compiler lists the known blocks:
// gain, filter, onepole, shaper, dynamics, delay, tremolo, stereo, harmonic_eq.
constexpr std::array<const BlockInfo*, 9> CATALOGUE = {
    &gain::INFO,
    &biquad::INFO,
    &onepole::INFO,
    &shaper::INFO,
    &dynamics::INFO,
    &delay::INFO,
    &tremolo::INFO,
    &stereo::INFO,
    &harmonic_eq::INFO,
};

} // namespace

std::span<const BlockInfo* const> catalogue() noexcept {
    return CATALOGUE;
}

const BlockInfo* find(std::string_view name) noexcept {
    for (const BlockInfo* info : CATALOGUE)
        if (info->name == name)
            return info;
    return nullptr;
}

} // namespace velk::blocks
