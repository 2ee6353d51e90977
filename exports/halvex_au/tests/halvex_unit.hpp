#pragma once

// The deliverable as a host finds it: the built module, its factory and the component
// description of its registration.

#include "velk/au_test/host.hpp"

namespace velk::au_test {

inline AudioComponentFactoryFunction halvex_factory() {
    static const auto factory = load_factory(HALVEX_AU_MODULE, "HalvexFactory");
    return factory;
}

inline constexpr AudioComponentDescription HALVEX_DESC{
    fourcc(HALVEX_AU_TYPE), fourcc(HALVEX_AU_SUBTYPE), fourcc(HALVEX_AU_MANUFACTURER), 0, 0};

/// Host ids of the compressor's parameters: the table index × 128.
namespace halvex_id {
inline constexpr AudioUnitParameterID THRESHOLD = 0;
inline constexpr AudioUnitParameterID RATIO = 128;
inline constexpr AudioUnitParameterID KNEE = 256;
inline constexpr AudioUnitParameterID ATTACK = 384;
inline constexpr AudioUnitParameterID RELEASE = 512;
inline constexpr AudioUnitParameterID MAKEUP = 640;
inline constexpr AudioUnitParameterID MIX = 768;
inline constexpr AudioUnitParameterID BYPASS = 896;
inline constexpr AudioUnitParameterID GR = 1024;
} // namespace halvex_id

} // namespace velk::au_test
