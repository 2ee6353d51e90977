// The Audio Unit deliverable: the adapter bound to the compressor. Its one exported
// symbol is the component factory that the bundle's registration names.

#include "velk/au/factory.hpp"

#include "halvex/halvex.hpp"

extern "C" VELK_EXPORT AudioComponentPlugInInterface*
HalvexFactory(const AudioComponentDescription* desc) noexcept {
    return velk::au::create<halvex::Halvex>(desc);
}
