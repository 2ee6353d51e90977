#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "processor.hpp"

namespace velk::bench {

/// A control value set on an LV2 port, found by its symbol.
struct Control {
    const char* symbol;
    float value;
};

/// The LV2 world: every installed bundle, loaded once, and the URID map that
/// instances share. Main thread.
class Lv2World {
public:
    Lv2World();
    ~Lv2World();
    Lv2World(const Lv2World&) = delete;
    Lv2World& operator=(const Lv2World&) = delete;

    struct Impl;
    Impl& impl() noexcept { return *impl_; }

private:
    std::unique_ptr<Impl> impl_;
};

/// A stereo LV2 plug-in instance hosted through lilv. Control inputs take the given
/// values by symbol and their defaults otherwise; control outputs, atom and CV ports
/// are connected to scratch buffers.
class Lv2Plugin final : public Processor {
public:
    Lv2Plugin(Lv2World& world, const std::string& uri, const std::vector<Control>& controls,
              double sample_rate, std::uint32_t max_frames);
    ~Lv2Plugin() override;
    Lv2Plugin(const Lv2Plugin&) = delete;
    Lv2Plugin& operator=(const Lv2Plugin&) = delete;

    bool ok() const noexcept { return error_.empty(); }
    const std::string& error() const noexcept { return error_; }

    void connect(float* const* in, float* const* out) noexcept override;
    void run(std::uint32_t frames) noexcept override;

    struct Impl;

private:
    std::string error_;
    std::unique_ptr<Impl> impl_;
};

} // namespace velk::bench
