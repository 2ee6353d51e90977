#pragma once

#include "abi.hpp"

/// The extension records the adapter hands out, constant for the life of the library.
namespace velk::clap {

extern const clap_plugin_params PARAMS;
extern const clap_plugin_state STATE;
extern const clap_plugin_latency LATENCY;
extern const clap_plugin_tail TAIL;
extern const clap_plugin_audio_ports AUDIO_PORTS;
extern const clap_plugin_configurable_audio_ports CONFIGURABLE_PORTS;

/// The record whose identifier is exactly `id`; null for a null or unknown id.
/// Any thread.
const void* find_extension(const char* id) noexcept;

} // namespace velk::clap
