#pragma once

// The CLAP 1.2.10 plug-in ABI as far as this adapter and its test host use it,
// declared by hand under the standard's names. Every record uses natural
// alignment; the layouts are pinned below for LP64 targets.

#include <cstddef>
#include <cstdint>
#include <cstring>

// NOLINTBEGIN(readability-identifier-naming)
extern "C" {

using clap_id = std::uint32_t;
using clap_process_status = std::int32_t;
using clap_beattime = std::int64_t; // beats × 2^31
using clap_sectime = std::int64_t;  // seconds × 2^31
using clap_param_info_flags = std::uint32_t;
using clap_param_rescan_flags = std::uint32_t;
using clap_param_clear_flags = std::uint32_t;

struct clap_version {
    std::uint32_t major;
    std::uint32_t minor;
    std::uint32_t revision;
};

struct clap_plugin_descriptor {
    ::clap_version clap_version;
    const char* id;
    const char* name;
    const char* vendor;
    const char* url;
    const char* manual_url;
    const char* support_url;
    const char* version;
    const char* description;
    const char* const* features; // null-terminated
};

struct clap_host {
    ::clap_version clap_version;
    void* host_data;
    const char* name;
    const char* vendor;
    const char* url;
    const char* version;
    const void* (*get_extension)(const clap_host* host, const char* extension_id);
    void (*request_restart)(const clap_host* host);
    void (*request_process)(const clap_host* host);
    void (*request_callback)(const clap_host* host);
};

struct clap_event_header {
    std::uint32_t size; // bytes of the whole event
    std::uint32_t time; // sample offset in the block
    std::uint16_t space_id;
    std::uint16_t type;
    std::uint32_t flags;
};

struct clap_event_param_value {
    clap_event_header header;
    clap_id param_id;
    void* cookie;
    std::int32_t note_id;
    std::int16_t port_index;
    std::int16_t channel;
    std::int16_t key;
    double value;
};

struct clap_event_transport {
    clap_event_header header;
    std::uint32_t flags;
    clap_beattime song_pos_beats;
    clap_sectime song_pos_seconds;
    double tempo;
    double tempo_inc;
    clap_beattime loop_start_beats;
    clap_beattime loop_end_beats;
    clap_sectime loop_start_seconds;
    clap_sectime loop_end_seconds;
    clap_beattime bar_start;
    std::int32_t bar_number;
    std::uint16_t tsig_num;
    std::uint16_t tsig_denom;
};

struct clap_input_events {
    void* ctx;
    std::uint32_t (*size)(const clap_input_events* list);
    const clap_event_header* (*get)(const clap_input_events* list, std::uint32_t index);
};

struct clap_output_events {
    void* ctx;
    bool (*try_push)(const clap_output_events* list, const clap_event_header* event);
};

struct clap_audio_buffer {
    float** data32;
    double** data64;
    std::uint32_t channel_count;
    std::uint32_t latency;
    std::uint64_t constant_mask;
};

struct clap_process {
    std::int64_t steady_time;
    std::uint32_t frames_count;
    const clap_event_transport* transport;
    const clap_audio_buffer* audio_inputs;
    clap_audio_buffer* audio_outputs;
    std::uint32_t audio_inputs_count;
    std::uint32_t audio_outputs_count;
    const clap_input_events* in_events;
    const clap_output_events* out_events;
};

struct clap_plugin {
    const clap_plugin_descriptor* desc;
    void* plugin_data;
    bool (*init)(const clap_plugin* plugin);
    void (*destroy)(const clap_plugin* plugin);
    bool (*activate)(const clap_plugin* plugin, double sample_rate, std::uint32_t min_frames,
                     std::uint32_t max_frames);
    void (*deactivate)(const clap_plugin* plugin);
    bool (*start_processing)(const clap_plugin* plugin);
    void (*stop_processing)(const clap_plugin* plugin);
    void (*reset)(const clap_plugin* plugin);
    clap_process_status (*process)(const clap_plugin* plugin, const clap_process* process);
    const void* (*get_extension)(const clap_plugin* plugin, const char* id);
    void (*on_main_thread)(const clap_plugin* plugin);
};

struct clap_plugin_factory {
    std::uint32_t (*get_plugin_count)(const clap_plugin_factory* factory);
    const clap_plugin_descriptor* (*get_plugin_descriptor)(const clap_plugin_factory* factory,
                                                           std::uint32_t index);
    const clap_plugin* (*create_plugin)(const clap_plugin_factory* factory, const clap_host* host,
                                        const char* plugin_id);
};

struct clap_plugin_entry {
    ::clap_version clap_version;
    bool (*init)(const char* plugin_path);
    void (*deinit)();
    const void* (*get_factory)(const char* factory_id);
};

struct clap_istream {
    void* ctx;
    std::int64_t (*read)(const clap_istream* stream, void* buffer, std::uint64_t size);
};

struct clap_ostream {
    void* ctx;
    std::int64_t (*write)(const clap_ostream* stream, const void* buffer, std::uint64_t size);
};

inline constexpr std::size_t CLAP_NAME_SIZE = 256;
inline constexpr std::size_t CLAP_PATH_SIZE = 1024;

struct clap_param_info {
    clap_id id;
    clap_param_info_flags flags;
    void* cookie;
    char name[CLAP_NAME_SIZE];
    char module[CLAP_PATH_SIZE];
    double min_value;
    double max_value;
    double default_value;
};

struct clap_plugin_params {
    std::uint32_t (*count)(const clap_plugin* plugin);
    bool (*get_info)(const clap_plugin* plugin, std::uint32_t param_index, clap_param_info* info);
    bool (*get_value)(const clap_plugin* plugin, clap_id param_id, double* value);
    bool (*value_to_text)(const clap_plugin* plugin, clap_id param_id, double value, char* display,
                          std::uint32_t size);
    bool (*text_to_value)(const clap_plugin* plugin, clap_id param_id, const char* display,
                          double* value);
    void (*flush)(const clap_plugin* plugin, const clap_input_events* in,
                  const clap_output_events* out);
};

struct clap_host_params {
    void (*rescan)(const clap_host* host, clap_param_rescan_flags flags);
    void (*clear)(const clap_host* host, clap_id param_id, clap_param_clear_flags flags);
    void (*request_flush)(const clap_host* host);
};

struct clap_plugin_state {
    bool (*save)(const clap_plugin* plugin, const clap_ostream* stream);
    bool (*load)(const clap_plugin* plugin, const clap_istream* stream);
};

struct clap_plugin_latency {
    std::uint32_t (*get)(const clap_plugin* plugin);
};

struct clap_host_latency {
    void (*changed)(const clap_host* host);
};

struct clap_plugin_tail {
    std::uint32_t (*get)(const clap_plugin* plugin);
};

struct clap_audio_port_info {
    clap_id id;
    char name[CLAP_NAME_SIZE];
    std::uint32_t flags;
    std::uint32_t channel_count;
    const char* port_type;
    clap_id in_place_pair;
};

struct clap_plugin_audio_ports {
    std::uint32_t (*count)(const clap_plugin* plugin, bool is_input);
    bool (*get)(const clap_plugin* plugin, std::uint32_t index, bool is_input,
                clap_audio_port_info* info);
};

struct clap_audio_port_configuration_request {
    bool is_input;
    std::uint32_t port_index;
    std::uint32_t channel_count;
    const char* port_type;
    const void* port_details;
};

struct clap_plugin_configurable_audio_ports {
    bool (*can_apply_configuration)(const clap_plugin* plugin,
                                    const clap_audio_port_configuration_request* requests,
                                    std::uint32_t request_count);
    bool (*apply_configuration)(const clap_plugin* plugin,
                                const clap_audio_port_configuration_request* requests,
                                std::uint32_t request_count);
};

} // extern "C"

inline constexpr std::uint32_t CLAP_VERSION_MAJOR = 1;
inline constexpr std::uint32_t CLAP_VERSION_MINOR = 2;
inline constexpr std::uint32_t CLAP_VERSION_REVISION = 10;
inline constexpr clap_version CLAP_VERSION = {CLAP_VERSION_MAJOR, CLAP_VERSION_MINOR,
                                              CLAP_VERSION_REVISION};

inline constexpr clap_id CLAP_INVALID_ID = 0xFFFFFFFFu;
inline constexpr std::uint16_t CLAP_CORE_EVENT_SPACE_ID = 0;
inline constexpr std::uint32_t CLAP_EVENT_IS_LIVE = 1;
inline constexpr std::uint32_t CLAP_EVENT_DONT_RECORD = 2;
inline constexpr std::int64_t CLAP_BEATTIME_FACTOR = std::int64_t{1} << 31;
inline constexpr std::int64_t CLAP_SECTIME_FACTOR = std::int64_t{1} << 31;

inline constexpr std::uint16_t CLAP_EVENT_NOTE_ON = 0;
inline constexpr std::uint16_t CLAP_EVENT_NOTE_OFF = 1;
inline constexpr std::uint16_t CLAP_EVENT_NOTE_CHOKE = 2;
inline constexpr std::uint16_t CLAP_EVENT_NOTE_END = 3;
inline constexpr std::uint16_t CLAP_EVENT_NOTE_EXPRESSION = 4;
inline constexpr std::uint16_t CLAP_EVENT_PARAM_VALUE = 5;
inline constexpr std::uint16_t CLAP_EVENT_PARAM_MOD = 6;
inline constexpr std::uint16_t CLAP_EVENT_PARAM_GESTURE_BEGIN = 7;
inline constexpr std::uint16_t CLAP_EVENT_PARAM_GESTURE_END = 8;
inline constexpr std::uint16_t CLAP_EVENT_TRANSPORT = 9;
inline constexpr std::uint16_t CLAP_EVENT_MIDI = 10;
inline constexpr std::uint16_t CLAP_EVENT_MIDI_SYSEX = 11;
inline constexpr std::uint16_t CLAP_EVENT_MIDI2 = 12;

inline constexpr std::uint32_t CLAP_TRANSPORT_HAS_TEMPO = 1;
inline constexpr std::uint32_t CLAP_TRANSPORT_HAS_BEATS_TIMELINE = 2;
inline constexpr std::uint32_t CLAP_TRANSPORT_HAS_SECONDS_TIMELINE = 4;
inline constexpr std::uint32_t CLAP_TRANSPORT_HAS_TIME_SIGNATURE = 8;
inline constexpr std::uint32_t CLAP_TRANSPORT_IS_PLAYING = 16;
inline constexpr std::uint32_t CLAP_TRANSPORT_IS_RECORDING = 32;
inline constexpr std::uint32_t CLAP_TRANSPORT_IS_LOOP_ACTIVE = 64;
inline constexpr std::uint32_t CLAP_TRANSPORT_IS_WITHIN_PRE_ROLL = 128;

inline constexpr clap_process_status CLAP_PROCESS_ERROR = 0;
inline constexpr clap_process_status CLAP_PROCESS_CONTINUE = 1;
inline constexpr clap_process_status CLAP_PROCESS_CONTINUE_IF_NOT_QUIET = 2;
inline constexpr clap_process_status CLAP_PROCESS_TAIL = 3;
inline constexpr clap_process_status CLAP_PROCESS_SLEEP = 4;

inline constexpr clap_param_info_flags CLAP_PARAM_IS_STEPPED = 1;
inline constexpr clap_param_info_flags CLAP_PARAM_IS_PERIODIC = 2;
inline constexpr clap_param_info_flags CLAP_PARAM_IS_HIDDEN = 4;
inline constexpr clap_param_info_flags CLAP_PARAM_IS_READONLY = 8;
inline constexpr clap_param_info_flags CLAP_PARAM_IS_BYPASS = 16;
inline constexpr clap_param_info_flags CLAP_PARAM_IS_AUTOMATABLE = 32;
inline constexpr clap_param_info_flags CLAP_PARAM_IS_AUTOMATABLE_PER_NOTE_ID = 64;
inline constexpr clap_param_info_flags CLAP_PARAM_IS_AUTOMATABLE_PER_KEY = 128;
inline constexpr clap_param_info_flags CLAP_PARAM_IS_AUTOMATABLE_PER_CHANNEL = 256;
inline constexpr clap_param_info_flags CLAP_PARAM_IS_AUTOMATABLE_PER_PORT = 512;
inline constexpr clap_param_info_flags CLAP_PARAM_IS_MODULATABLE = 1024;
inline constexpr clap_param_info_flags CLAP_PARAM_IS_MODULATABLE_PER_NOTE_ID = 2048;
inline constexpr clap_param_info_flags CLAP_PARAM_IS_MODULATABLE_PER_KEY = 4096;
inline constexpr clap_param_info_flags CLAP_PARAM_IS_MODULATABLE_PER_CHANNEL = 8192;
inline constexpr clap_param_info_flags CLAP_PARAM_IS_MODULATABLE_PER_PORT = 16384;
inline constexpr clap_param_info_flags CLAP_PARAM_REQUIRES_PROCESS = 32768;
inline constexpr clap_param_info_flags CLAP_PARAM_IS_ENUM = 65536;

inline constexpr clap_param_rescan_flags CLAP_PARAM_RESCAN_VALUES = 1;
inline constexpr clap_param_rescan_flags CLAP_PARAM_RESCAN_TEXT = 2;
inline constexpr clap_param_rescan_flags CLAP_PARAM_RESCAN_INFO = 4;
inline constexpr clap_param_rescan_flags CLAP_PARAM_RESCAN_ALL = 8;
inline constexpr clap_param_clear_flags CLAP_PARAM_CLEAR_ALL = 1;
inline constexpr clap_param_clear_flags CLAP_PARAM_CLEAR_AUTOMATIONS = 2;
inline constexpr clap_param_clear_flags CLAP_PARAM_CLEAR_MODULATIONS = 4;

inline constexpr std::uint32_t CLAP_AUDIO_PORT_IS_MAIN = 1;
inline constexpr std::uint32_t CLAP_AUDIO_PORT_SUPPORTS_64BITS = 2;
inline constexpr std::uint32_t CLAP_AUDIO_PORT_PREFERS_64BITS = 4;
inline constexpr std::uint32_t CLAP_AUDIO_PORT_REQUIRES_COMMON_SAMPLE_SIZE = 8;

inline constexpr char CLAP_PLUGIN_FACTORY_ID[] = "clap.plugin-factory";
inline constexpr char CLAP_EXT_PARAMS[] = "clap.params";
inline constexpr char CLAP_EXT_STATE[] = "clap.state";
inline constexpr char CLAP_EXT_LATENCY[] = "clap.latency";
inline constexpr char CLAP_EXT_TAIL[] = "clap.tail";
inline constexpr char CLAP_EXT_AUDIO_PORTS[] = "clap.audio-ports";
inline constexpr char CLAP_EXT_CONFIGURABLE_AUDIO_PORTS[] = "clap.configurable-audio-ports/1";
inline constexpr char CLAP_EXT_CONFIGURABLE_AUDIO_PORTS_COMPAT[] =
    "clap.configurable-audio-ports.draft1";
inline constexpr char CLAP_PORT_MONO[] = "mono";
inline constexpr char CLAP_PORT_STEREO[] = "stereo";
inline constexpr char CLAP_PLUGIN_FEATURE_AUDIO_EFFECT[] = "audio-effect";
// NOLINTEND(readability-identifier-naming)

namespace velk::clap::abi {

/// Whether `id` is exactly `identifier`: `length` counts the identifier's bytes and
/// its terminating NUL; true when `id` is not null, `strlen(id) + 1 == length` and
/// the bytes, terminator included, are equal. Reads at most `length` bytes of `id`.
/// Any thread.
inline bool is_id(const char* id, const char* identifier, std::size_t length) noexcept {
    if (id == nullptr || identifier == nullptr || length == 0)
        return false;
    return ::strnlen(id, length) + 1 == length && std::memcmp(id, identifier, length) == 0;
}

/// `is_id` for an identifier given as a character array with its terminator.
template <std::size_t N>
bool is_id(const char* id, const char (&identifier)[N]) noexcept {
    return is_id(id, identifier, N);
}

} // namespace velk::clap::abi

// Layouts for LP64, as the published headers give them.
static_assert(sizeof(void*) == 8, "the CLAP layouts below are those of LP64 targets");
static_assert(sizeof(bool) == 1);

static_assert(sizeof(clap_version) == 12 && alignof(clap_version) == 4);
static_assert(offsetof(clap_version, major) == 0);
static_assert(offsetof(clap_version, minor) == 4);
static_assert(offsetof(clap_version, revision) == 8);

static_assert(sizeof(clap_plugin_entry) == 40 && alignof(clap_plugin_entry) == 8);
static_assert(offsetof(clap_plugin_entry, clap_version) == 0);
static_assert(offsetof(clap_plugin_entry, init) == 16);
static_assert(offsetof(clap_plugin_entry, deinit) == 24);
static_assert(offsetof(clap_plugin_entry, get_factory) == 32);

static_assert(sizeof(clap_plugin_factory) == 24 && alignof(clap_plugin_factory) == 8);
static_assert(offsetof(clap_plugin_factory, get_plugin_count) == 0);
static_assert(offsetof(clap_plugin_factory, get_plugin_descriptor) == 8);
static_assert(offsetof(clap_plugin_factory, create_plugin) == 16);

static_assert(sizeof(clap_plugin_descriptor) == 88 && alignof(clap_plugin_descriptor) == 8);
static_assert(offsetof(clap_plugin_descriptor, clap_version) == 0);
static_assert(offsetof(clap_plugin_descriptor, id) == 16);
static_assert(offsetof(clap_plugin_descriptor, name) == 24);
static_assert(offsetof(clap_plugin_descriptor, vendor) == 32);
static_assert(offsetof(clap_plugin_descriptor, url) == 40);
static_assert(offsetof(clap_plugin_descriptor, manual_url) == 48);
static_assert(offsetof(clap_plugin_descriptor, support_url) == 56);
static_assert(offsetof(clap_plugin_descriptor, version) == 64);
static_assert(offsetof(clap_plugin_descriptor, description) == 72);
static_assert(offsetof(clap_plugin_descriptor, features) == 80);

static_assert(sizeof(clap_host) == 88 && alignof(clap_host) == 8);
static_assert(offsetof(clap_host, clap_version) == 0);
static_assert(offsetof(clap_host, host_data) == 16);
static_assert(offsetof(clap_host, name) == 24);
static_assert(offsetof(clap_host, vendor) == 32);
static_assert(offsetof(clap_host, url) == 40);
static_assert(offsetof(clap_host, version) == 48);
static_assert(offsetof(clap_host, get_extension) == 56);
static_assert(offsetof(clap_host, request_restart) == 64);
static_assert(offsetof(clap_host, request_process) == 72);
static_assert(offsetof(clap_host, request_callback) == 80);

static_assert(sizeof(clap_plugin) == 96 && alignof(clap_plugin) == 8);
static_assert(offsetof(clap_plugin, desc) == 0);
static_assert(offsetof(clap_plugin, plugin_data) == 8);
static_assert(offsetof(clap_plugin, init) == 16);
static_assert(offsetof(clap_plugin, destroy) == 24);
static_assert(offsetof(clap_plugin, activate) == 32);
static_assert(offsetof(clap_plugin, deactivate) == 40);
static_assert(offsetof(clap_plugin, start_processing) == 48);
static_assert(offsetof(clap_plugin, stop_processing) == 56);
static_assert(offsetof(clap_plugin, reset) == 64);
static_assert(offsetof(clap_plugin, process) == 72);
static_assert(offsetof(clap_plugin, get_extension) == 80);
static_assert(offsetof(clap_plugin, on_main_thread) == 88);

static_assert(sizeof(clap_process) == 64 && alignof(clap_process) == 8);
static_assert(offsetof(clap_process, steady_time) == 0);
static_assert(offsetof(clap_process, frames_count) == 8);
static_assert(offsetof(clap_process, transport) == 16);
static_assert(offsetof(clap_process, audio_inputs) == 24);
static_assert(offsetof(clap_process, audio_outputs) == 32);
static_assert(offsetof(clap_process, audio_inputs_count) == 40);
static_assert(offsetof(clap_process, audio_outputs_count) == 44);
static_assert(offsetof(clap_process, in_events) == 48);
static_assert(offsetof(clap_process, out_events) == 56);

static_assert(sizeof(clap_audio_buffer) == 32 && alignof(clap_audio_buffer) == 8);
static_assert(offsetof(clap_audio_buffer, data32) == 0);
static_assert(offsetof(clap_audio_buffer, data64) == 8);
static_assert(offsetof(clap_audio_buffer, channel_count) == 16);
static_assert(offsetof(clap_audio_buffer, latency) == 20);
static_assert(offsetof(clap_audio_buffer, constant_mask) == 24);

static_assert(sizeof(clap_event_header) == 16 && alignof(clap_event_header) == 4);
static_assert(offsetof(clap_event_header, size) == 0);
static_assert(offsetof(clap_event_header, time) == 4);
static_assert(offsetof(clap_event_header, space_id) == 8);
static_assert(offsetof(clap_event_header, type) == 10);
static_assert(offsetof(clap_event_header, flags) == 12);

static_assert(sizeof(clap_event_param_value) == 56 && alignof(clap_event_param_value) == 8);
static_assert(offsetof(clap_event_param_value, header) == 0);
static_assert(offsetof(clap_event_param_value, param_id) == 16);
static_assert(offsetof(clap_event_param_value, cookie) == 24);
static_assert(offsetof(clap_event_param_value, note_id) == 32);
static_assert(offsetof(clap_event_param_value, port_index) == 36);
static_assert(offsetof(clap_event_param_value, channel) == 38);
static_assert(offsetof(clap_event_param_value, key) == 40);
static_assert(offsetof(clap_event_param_value, value) == 48);

static_assert(sizeof(clap_event_transport) == 104 && alignof(clap_event_transport) == 8);
static_assert(offsetof(clap_event_transport, header) == 0);
static_assert(offsetof(clap_event_transport, flags) == 16);
static_assert(offsetof(clap_event_transport, song_pos_beats) == 24);
static_assert(offsetof(clap_event_transport, song_pos_seconds) == 32);
static_assert(offsetof(clap_event_transport, tempo) == 40);
static_assert(offsetof(clap_event_transport, tempo_inc) == 48);
static_assert(offsetof(clap_event_transport, loop_start_beats) == 56);
static_assert(offsetof(clap_event_transport, loop_end_beats) == 64);
static_assert(offsetof(clap_event_transport, loop_start_seconds) == 72);
static_assert(offsetof(clap_event_transport, loop_end_seconds) == 80);
static_assert(offsetof(clap_event_transport, bar_start) == 88);
static_assert(offsetof(clap_event_transport, bar_number) == 96);
static_assert(offsetof(clap_event_transport, tsig_num) == 100);
static_assert(offsetof(clap_event_transport, tsig_denom) == 102);

static_assert(sizeof(clap_input_events) == 24 && alignof(clap_input_events) == 8);
static_assert(offsetof(clap_input_events, ctx) == 0);
static_assert(offsetof(clap_input_events, size) == 8);
static_assert(offsetof(clap_input_events, get) == 16);

static_assert(sizeof(clap_output_events) == 16 && alignof(clap_output_events) == 8);
static_assert(offsetof(clap_output_events, ctx) == 0);
static_assert(offsetof(clap_output_events, try_push) == 8);

static_assert(sizeof(clap_istream) == 16 && alignof(clap_istream) == 8);
static_assert(offsetof(clap_istream, ctx) == 0);
static_assert(offsetof(clap_istream, read) == 8);

static_assert(sizeof(clap_ostream) == 16 && alignof(clap_ostream) == 8);
static_assert(offsetof(clap_ostream, ctx) == 0);
static_assert(offsetof(clap_ostream, write) == 8);

static_assert(sizeof(clap_plugin_params) == 48 && alignof(clap_plugin_params) == 8);
static_assert(offsetof(clap_plugin_params, count) == 0);
static_assert(offsetof(clap_plugin_params, get_info) == 8);
static_assert(offsetof(clap_plugin_params, get_value) == 16);
static_assert(offsetof(clap_plugin_params, value_to_text) == 24);
static_assert(offsetof(clap_plugin_params, text_to_value) == 32);
static_assert(offsetof(clap_plugin_params, flush) == 40);

static_assert(sizeof(clap_param_info) == 1320 && alignof(clap_param_info) == 8);
static_assert(offsetof(clap_param_info, id) == 0);
static_assert(offsetof(clap_param_info, flags) == 4);
static_assert(offsetof(clap_param_info, cookie) == 8);
static_assert(offsetof(clap_param_info, name) == 16);
static_assert(offsetof(clap_param_info, module) == 272);
static_assert(offsetof(clap_param_info, min_value) == 1296);
static_assert(offsetof(clap_param_info, max_value) == 1304);
static_assert(offsetof(clap_param_info, default_value) == 1312);

static_assert(sizeof(clap_host_params) == 24 && alignof(clap_host_params) == 8);
static_assert(offsetof(clap_host_params, rescan) == 0);
static_assert(offsetof(clap_host_params, clear) == 8);
static_assert(offsetof(clap_host_params, request_flush) == 16);

static_assert(sizeof(clap_plugin_state) == 16 && alignof(clap_plugin_state) == 8);
static_assert(offsetof(clap_plugin_state, save) == 0);
static_assert(offsetof(clap_plugin_state, load) == 8);

static_assert(sizeof(clap_plugin_latency) == 8 && alignof(clap_plugin_latency) == 8);
static_assert(offsetof(clap_plugin_latency, get) == 0);
static_assert(sizeof(clap_host_latency) == 8 && alignof(clap_host_latency) == 8);
static_assert(offsetof(clap_host_latency, changed) == 0);
static_assert(sizeof(clap_plugin_tail) == 8 && alignof(clap_plugin_tail) == 8);
static_assert(offsetof(clap_plugin_tail, get) == 0);

static_assert(sizeof(clap_plugin_audio_ports) == 16 && alignof(clap_plugin_audio_ports) == 8);
static_assert(offsetof(clap_plugin_audio_ports, count) == 0);
static_assert(offsetof(clap_plugin_audio_ports, get) == 8);

static_assert(sizeof(clap_audio_port_info) == 288 && alignof(clap_audio_port_info) == 8);
static_assert(offsetof(clap_audio_port_info, id) == 0);
static_assert(offsetof(clap_audio_port_info, name) == 4);
static_assert(offsetof(clap_audio_port_info, flags) == 260);
static_assert(offsetof(clap_audio_port_info, channel_count) == 264);
static_assert(offsetof(clap_audio_port_info, port_type) == 272);
static_assert(offsetof(clap_audio_port_info, in_place_pair) == 280);

static_assert(sizeof(clap_plugin_configurable_audio_ports) == 16 &&
              alignof(clap_plugin_configurable_audio_ports) == 8);
static_assert(offsetof(clap_plugin_configurable_audio_ports, can_apply_configuration) == 0);
static_assert(offsetof(clap_plugin_configurable_audio_ports, apply_configuration) == 8);

static_assert(sizeof(clap_audio_port_configuration_request) == 32 &&
              alignof(clap_audio_port_configuration_request) == 8);
static_assert(offsetof(clap_audio_port_configuration_request, is_input) == 0);
static_assert(offsetof(clap_audio_port_configuration_request, port_index) == 4);
static_assert(offsetof(clap_audio_port_configuration_request, channel_count) == 8);
static_assert(offsetof(clap_audio_port_configuration_request, port_type) == 16);
static_assert(offsetof(clap_audio_port_configuration_request, port_details) == 24);

static_assert(sizeof(CLAP_PLUGIN_FACTORY_ID) == 20);
static_assert(sizeof(CLAP_EXT_PARAMS) == 12);
static_assert(sizeof(CLAP_EXT_STATE) == 11);
static_assert(sizeof(CLAP_EXT_LATENCY) == 13);
static_assert(sizeof(CLAP_EXT_TAIL) == 10);
static_assert(sizeof(CLAP_EXT_AUDIO_PORTS) == 17);
static_assert(sizeof(CLAP_EXT_CONFIGURABLE_AUDIO_PORTS) == 32);
static_assert(sizeof(CLAP_EXT_CONFIGURABLE_AUDIO_PORTS_COMPAT) == 37);
static_assert(sizeof(CLAP_PORT_MONO) == 5);
static_assert(sizeof(CLAP_PORT_STEREO) == 7);
static_assert(sizeof(CLAP_PLUGIN_FEATURE_AUDIO_EFFECT) == 13);
