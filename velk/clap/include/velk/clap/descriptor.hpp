#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "abi.hpp"

namespace velk::clap {

/// What a CLAP host sees of one plug-in type: constant UTF-8 texts, compiled into
/// the export unit.
struct Config {
    std::string_view id = {};
    std::string_view name = {};
    std::string_view vendor = {};
    std::string_view url = {};
    std::string_view version = {};
    std::string_view description = {};
    std::span<const std::string_view> features = {};
};

/// `text` as an owned C string: its bytes with every NUL removed. Main thread;
/// allocates.
std::string c_string(std::string_view text);

/// Owns the strings of a `clap_plugin_descriptor` and the record itself, so that the
/// pointers handed to hosts stay valid as long as the descriptor lives. Immovable.
class Descriptor {
public:
    /// Builds the descriptor of `config`: version 1.2.10, empty manual and support
    /// URLs (never null), features followed by a null pointer. Allocates.
    explicit Descriptor(const Config& config);
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    /// The record handed to hosts.
    const clap_plugin_descriptor& raw() const noexcept { return raw_; }

private:
    // id, name, vendor, url, version, description, "", then one per feature.
    std::vector<std::string> strings_;
    std::vector<const char*> feature_ptrs_;
    clap_plugin_descriptor raw_{};
};

/// A plug-in type's configuration and its descriptor, built once on first use and
/// kept until the library is unloaded. The export unit holds one as a static.
class Registry {
public:
    constexpr explicit Registry(const Config& config) noexcept : config_(&config) {}
    Registry(const Registry&) = delete;
    Registry& operator=(const Registry&) = delete;

    const Config& config() const noexcept { return *config_; }

    /// The descriptor's record, built on the first call. Any thread: a caller that
    /// arrives during the build waits for it, and all callers get the same address.
    /// Throws `std::bad_alloc` when the build fails; a later call tries again.
    const clap_plugin_descriptor* descriptor();

private:
    const Config* config_;
    std::mutex build_;
    std::unique_ptr<Descriptor> owned_;
    std::atomic<const clap_plugin_descriptor*> raw_{nullptr};
};

} // namespace velk::clap
