#pragma once

#include <string>

#include "abi.hpp"
#include "velk/test/clap_host.hpp"

namespace velk::test {

/// The module of the test plug-in, loaded once for the test executable.
inline ClapModule& test_module() {
    static ClapModule module(VELK_TEST_CLAP_PATH);
    return module;
}

inline constexpr char TEST_PLUGIN_ID[] = "velk.test-plugin";

/// The deliverable halvex.clap, loaded once for the test executable.
inline ClapModule& halvex_module() {
    static ClapModule module(VELK_HALVEX_CLAP_PATH);
    return module;
}

inline constexpr char HALVEX_ID[] = "orvane-labs.halvex";

/// A host and one instance of a module's plug-in, initialised.
class HostedInstance {
public:
    explicit HostedInstance(const ClapModule& module, const char* id = TEST_PLUGIN_ID,
                            RecordingHost::Options options = {})
        : host(options), instance(create(module, id)) {
        if (instance)
            instance.init();
    }

    RecordingHost host;
    ClapInstance instance;

private:
    const clap_plugin* create(const ClapModule& module, const char* id) const {
        const clap_plugin_factory* factory = module.factory();
        return factory == nullptr ? nullptr : factory->create_plugin(factory, host.raw(), id);
    }
};

} // namespace velk::test
