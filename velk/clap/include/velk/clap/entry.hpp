#pragma once

#include <cstdint>

#include "abi.hpp"
#include "velk/clap/descriptor.hpp"
#include "velk/core/plugin.hpp"

/// Marks a deliverable's one exported symbol; everything else is hidden.
#ifndef VELK_EXPORT
#define VELK_EXPORT __attribute__((visibility("default")))
#endif

/// What an export unit's `clap_entry` and factory functions forward to. An export
/// unit binds one plug-in type and one `Config`: it holds a `Registry`, the factory
/// record and `clap_entry`. Every function may be called from any thread, answers
/// bad arguments with false or null, and lets no exception out.
namespace velk::clap {

/// Constructs one plug-in, such as `&Inner::make<MyPlugin>`.
using MakePlugin = Inner (*)();

/// `clap_plugin_entry.init`: builds the descriptor if needed; false only when that
/// fails. The path is not used.
bool entry_init(Registry& registry, const char* plugin_path) noexcept;

/// `clap_plugin_entry.get_factory`: `factory` for exactly "clap.plugin-factory",
/// null for a null or any other id.
const void* entry_get_factory(const clap_plugin_factory& factory, const char* factory_id) noexcept;

/// `get_plugin_descriptor`: the descriptor for index 0 (built if needed), else null.
const clap_plugin_descriptor* factory_descriptor(Registry& registry, std::uint32_t index) noexcept;

/// `create_plugin`: a new inactive instance made with `make`, or null for a null host,
/// a host whose CLAP major version is 0, or a plug-in id that is not exactly the
/// configured one (case-sensitive). Main thread.
const clap_plugin* factory_create(Registry& registry, const clap_host* host, const char* plugin_id,
                                  MakePlugin make) noexcept;

} // namespace velk::clap
