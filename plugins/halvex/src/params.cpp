#include <array>

#include "halvex/halvex.hpp"

namespace halvex {
namespace {

using velk::Kind;
using velk::ParamInfo;

constexpr std::array<ParamInfo, 9> PARAMS{{
    {.id = "threshold",
     .name = "Threshold",
     .doc = "The level above which the signal is turned down.",
     .unit = "dB",
     .group = "Compressor",
     .min = -60.0f,
     .max = 0.0f,
     .default_value = -18.0f},
    {.id = "ratio",
     .name = "Ratio",
     .doc = "How much the level above the threshold is reduced. 4 turns a 4 dB rise into 1 dB.",
     .group = "Compressor",
     .min = 1.0f,
     .max = 20.0f,
     .default_value = 4.0f},
    {.id = "knee",
     .name = "Knee",
     .doc = "The width of the soft transition around the threshold.",
     .unit = "dB",
     .group = "Compressor",
     .min = 0.0f,
     .max = 24.0f,
     .default_value = 6.0f},
    {.id = "attack",
     .name = "Attack",
     .doc = "How fast the gain reduction builds when the level rises.",
     .unit = "ms",
     .group = "Time",
     .min = 0.1f,
     .max = 100.0f,
     .default_value = 10.0f,
     .log = true},
    {.id = "release",
     .name = "Release",
     .doc = "How fast the gain comes back when the level falls.",
     .unit = "ms",
     .group = "Time",
     .min = 10.0f,
     .max = 1000.0f,
     .default_value = 120.0f,
     .log = true},
    {.id = "makeup",
     .name = "Makeup",
     .doc = "Gain added after the compressor.",
     .unit = "dB",
     .group = "Output",
     .min = 0.0f,
     .max = 24.0f,
     .default_value = 0.0f},
    {.id = "mix",
     .name = "Mix",
     .doc = "Blends the compressed signal with the dry one. Less than 1 is parallel compression.",
     .group = "Output",
     .min = 0.0f,
     .max = 1.0f,
     .default_value = 1.0f},
    {.id = "bypass",
     .name = "Bypass",
     .doc = "Passes the audio through unchanged.",
     .min = 0.0f,
     .max = 1.0f,
     .default_value = 0.0f,
     .kind = Kind::Toggle},
    {.id = "gr",
     .name = "Reduction",
     .doc = "How far the gain is turned down right now.",
     .unit = "dB",
     .min = 0.0f,
     .max = 30.0f,
     .default_value = 0.0f,
     .kind = Kind::Meter},
}};

} // namespace

std::span<const velk::ParamInfo> param_table() noexcept {
    return PARAMS;
}

} // namespace halvex
