#pragma once

#include <AudioToolbox/AudioComponent.h>
#include <concepts>

#include "velk/core/plugin.hpp"

/// Gives a symbol default visibility in a hidden-by-default build. Only a deliverable's
/// exported factory carries it.
#ifndef VELK_EXPORT
#define VELK_EXPORT __attribute__((visibility("default")))
#endif

namespace velk::au {

/// Builds one Audio Unit instance that owns `plugin`, for the component `desc`, and
/// returns its interface record, which the host passes back as `self` to every entry
/// point and finally to `Close`. Main thread. Throws `std::bad_alloc` when memory runs out.
AudioComponentPlugInInterface* create_instance(Inner plugin, const AudioComponentDescription& desc);

/// The body of a component's exported factory for the plug-in type `P`: null for a null
/// description or when the instance cannot be built, otherwise a new instance. Main thread.
template <std::derived_from<Plugin> P>
requires std::default_initializable<P> AudioComponentPlugInInterface*
create(const AudioComponentDescription* desc) noexcept {
    if (desc == nullptr)
        return nullptr;
    try {
        return create_instance(Inner::make<P>(), *desc);
    } catch (...) {
        return nullptr;
    }
}

} // namespace velk::au
