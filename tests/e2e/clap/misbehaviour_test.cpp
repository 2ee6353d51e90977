// halvex.clap answering a misbehaving host: every call in the table breaks a rule
// (a null or unknown argument, a size off by one, a channel count of 0, 65 or one
// not settled, a non-finite value, a broken or oversized state, a call in the wrong
// lifecycle state). Each gets its refusal, and afterwards the instance is exactly as
// it was: parameter values, saved state, latency, tail, activation and channels.

#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <optional>
#include <vector>

#include "module_fixture.hpp"
#include "velk/core/state.hpp"

#include <gtest/gtest.h>

namespace {

using velk::test::AudioBuffer;
using velk::test::ClapInstance;
using velk::test::EventList;
using velk::test::HostedInstance;
using velk::test::InStream;
using velk::test::OutStream;

constexpr clap_id THRESHOLD = 0;
constexpr clap_id RATIO = 128;
constexpr clap_id MIX = 6 * 128;
constexpr clap_id BYPASS = 7 * 128;
constexpr clap_id GR = 8 * 128;
constexpr double INF = std::numeric_limits<double>::infinity();
const double NaN = std::nan("");

std::vector<std::uint8_t> saved(const ClapInstance& instance) {
    OutStream out;
    EXPECT_TRUE(instance.state().save(instance.get(), out.raw()));
    return out.bytes();
}

// Everything a host can see of an instance.
struct Snapshot {
    std::vector<std::uint8_t> state;
    std::uint32_t latency = 0;
    std::uint32_t tail = 0;
    bool active = false;
    std::uint32_t channels = 0;
    std::uint32_t params = 0;
    bool operator==(const Snapshot&) const = default;
};

Snapshot snapshot(const ClapInstance& instance) {
    Snapshot s;
    s.state = saved(instance);
    s.latency = instance.latency();
    s.tail = instance.tail();
    clap_audio_port_info port{};
    EXPECT_TRUE(instance.ports().get(instance.get(), 0, true, &port));
    s.channels = port.channel_count;
    // A request for the settled count is refused only while active.
    const clap_audio_port_configuration_request same{true, 0, s.channels, nullptr, nullptr};
    s.active = !instance.configurable().can_apply_configuration(instance.get(), &same, 1);
    s.params = instance.params().count(instance.get());
    return s;
}

// One block of `channels` output channels (and as many inputs) of half scale.
clap_process_status run(const ClapInstance& instance, std::uint32_t channels,
                        std::uint32_t frames = 64, const EventList* events = nullptr) {
    AudioBuffer in(channels, frames, 0.5f);
    AudioBuffer out(channels, frames, 9.0f);
    const clap_process_status status = instance.process(&in, out, {.events = events});
    if (status == CLAP_PROCESS_ERROR) {
        for (std::uint32_t c = 0; c < channels; ++c) {
            for (float x : out.channel(c)) {
                EXPECT_EQ(x, 9.0f) << "a refused block leaves the buffers alone";
            }
        }
    }
    return status;
}

clap_process_status run_with_event(const ClapInstance& instance, clap_event_param_value event) {
    EventList events;
    events.raw_event(&event, sizeof event);
    return run(instance, 2, 64, &events);
}

bool load(const ClapInstance& instance, std::vector<std::uint8_t> bytes,
          std::optional<int> fail_at = std::nullopt, std::int64_t fail_result = -1) {
    InStream in(std::move(bytes), 17, fail_at, fail_result);
    return instance.state().load(instance.get(), in.raw());
}

bool refuses_text(const ClapInstance& instance, clap_id id, const char* text) {
    double value = -1234.0;
    return !instance.params().text_to_value(instance.get(), id, text, &value) && value == -1234.0;
}

clap_event_param_value event(clap_id id, double value) {
    clap_event_param_value e{};
    e.header = {sizeof e, 0, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_PARAM_VALUE, 0};
    e.param_id = id;
    e.note_id = e.port_index = e.channel = e.key = -1;
    e.value = value;
    return e;
}

template <typename F>
clap_event_param_value changed(clap_event_param_value e, F change) {
    change(e);
    return e;
}

clap_audio_port_configuration_request request(std::uint32_t port, std::uint32_t channels) {
    return {true, port, channels, nullptr, nullptr};
}

struct Case {
    const char* name;
    bool active; // the instance's state when the call comes
    std::function<bool(const ClapInstance&)> refused;
};

const std::vector<std::uint8_t>& good_state() {
    static const std::vector<std::uint8_t> bytes = [] {
        HostedInstance h(velk::test::halvex_module(), velk::test::HALVEX_ID);
        return saved(h.instance);
    }();
    return bytes;
}

std::vector<std::uint8_t> edited(std::vector<std::uint8_t> bytes, std::size_t at,
                                 std::uint8_t value) {
    bytes.at(at) = value;
    return bytes;
}

const Case CASES[] = {
    // Lifecycle.
    {"activate while active", true,
     [](auto& i) {
         return !i.activate(44100.0, 256);
     }},
    {"process while inactive", false,
     [](auto& i) {
         return run(i, 2) == CLAP_PROCESS_ERROR;
     }},
    {"reset while inactive", false,
     [](auto& i) {
         return i.reset(), true;
     }},
    {"configure while active", true,
     [](auto& i) {
         return !i.apply_channels(1);
     }},
    // Sample rates and frame limits.
    {"activate at 0 Hz", false,
     [](auto& i) {
         return !i.activate(0.0, 256);
     }},
    {"activate at -44100 Hz", false,
     [](auto& i) {
         return !i.activate(-44100.0, 256);
     }},
    {"activate at NaN Hz", false,
     [](auto& i) {
         return !i.activate(NaN, 256);
     }},
    {"activate at infinite Hz", false,
     [](auto& i) {
         return !i.activate(INF, 256);
     }},
    {"activate above the highest rate", false,
     [](auto& i) {
         return !i.activate(768000.5, 256);
     }},
    // Audio buffers.
    {"0 channels", true,
     [](auto& i) {
         return run(i, 0) == CLAP_PROCESS_ERROR;
     }},
    {"65 channels", true,
     [](auto& i) {
         return run(i, 65) == CLAP_PROCESS_ERROR;
     }},
    {"3 channels while 2 are settled", true,
     [](auto& i) {
         return run(i, 3) == CLAP_PROCESS_ERROR;
     }},
    {"1 channel while 2 are settled", true,
     [](auto& i) {
         return run(i, 1) == CLAP_PROCESS_ERROR;
     }},
    {"null process record", true,
     [](auto& i) {
         return i.get()->process(i.get(), nullptr) == CLAP_PROCESS_ERROR;
     }},
    // Parameter events: ignored, the block still processed.
    {"NaN value", true,
     [](auto& i) {
         return run_with_event(i, event(THRESHOLD, NaN)) == CLAP_PROCESS_CONTINUE;
     }},
    {"infinite value", true,
     [](auto& i) {
         return run_with_event(i, event(RATIO, -INF)) == CLAP_PROCESS_CONTINUE;
     }},
    {"event one byte short", true,
     [](auto& i) {
         return run_with_event(i, changed(event(MIX, 0.0), [](auto& e) { --e.header.size; })) ==
                CLAP_PROCESS_CONTINUE;
     }},
    {"unknown id", true,
     [](auto& i) {
         return run_with_event(i, event(9 * 128, 1.0)) == CLAP_PROCESS_CONTINUE;
     }},
    {"channel on an ordinary parameter", true,
     [](auto& i) {
         return run_with_event(i, event(MIX + 1, 0.0)) == CLAP_PROCESS_CONTINUE;
     }},
    {"the meter", true,
     [](auto& i) {
         return run_with_event(i, event(GR, 20.0)) == CLAP_PROCESS_CONTINUE;
     }},
    {"flush of a NaN value", false,
     [](auto& i) {
         EventList events;
         events.param(BYPASS, NaN).param(0xFFFFFFFFu, 1.0);
         i.params().flush(i.get(), events.raw(), nullptr);
         return true;
     }},
    // Parameter queries.
    {"value of an unknown id", false,
     [](auto& i) {
         return std::isnan(i.value(1)) && std::isnan(i.value(9 * 128));
     }},
    {"info past the list", false,
     [](auto& i) {
         clap_param_info info{};
         return !i.params().get_info(i.get(), 9, &info) &&
                !i.params().get_info(i.get(), 0xFFFFFFFFu, &info);
     }},
    {"text of an unknown id", false,
     [](auto& i) {
         return i.text(1, 0.0) == "<refused>";
     }},
    {"text to value: a unit only", false,
     [](auto& i) {
         return refuses_text(i, THRESHOLD, "dB");
     }},
    {"text to value: not a toggle word", false,
     [](auto& i) {
         return refuses_text(i, BYPASS, "yes");
     }},
    {"text to value: not UTF-8", false,
     [](auto& i) {
         return refuses_text(i, RATIO, "4\xff");
     }},
    {"text to value: unknown id", false,
     [](auto& i) {
         return refuses_text(i, 1152, "1");
     }},
    // Saved state.
    {"state one byte short", false,
     [](auto& i) {
         std::vector<std::uint8_t> bytes = good_state();
         bytes.pop_back();
         return !load(i, bytes);
     }},
    {"state of 11 bytes", false,
     [](auto& i) {
         return !load(i,
                      std::vector<std::uint8_t>(good_state().begin(), good_state().begin() + 11));
     }},
    {"state with another magic", false,
     [](auto& i) {
         return !load(i, edited(good_state(), 0, 'X'));
     }},
    {"state of version 2", false,
     [](auto& i) {
         return !load(i, edited(good_state(), 4, 2));
     }},
    {"state longer than any", true,
     [](auto& i) {
         std::vector<std::uint8_t> bytes = good_state();
         bytes.resize(velk::state::MAX_BYTES + 1);
         return !load(i, bytes);
     }},
    {"state stream that fails", true,
     [](auto& i) {
         return !load(i, good_state(), 3);
     }},
    {"state stream that claims more than asked", true,
     [](auto& i) {
         return !load(i, good_state(), 0, 4097);
     }},
    {"state save into a failing stream", false,
     [](auto& i) {
         OutStream out(10, 2, 0);
         return !i.state().save(i.get(), out.raw());
     }},
    // Ports.
    {"port 1", false,
     [](auto& i) {
         clap_audio_port_info info{};
         return !i.ports().get(i.get(), 1, true, &info);
     }},
    {"configure port 1", false,
     [](auto& i) {
         const auto r = request(1, 2);
         return !i.configurable().apply_configuration(i.get(), &r, 1);
     }},
    {"configure 0 channels", false,
     [](auto& i) {
         return !i.apply_channels(0);
     }},
    {"configure 65 channels", false,
     [](auto& i) {
         return !i.apply_channels(65);
     }},
    {"configure two counts at once", false,
     [](auto& i) {
         const clap_audio_port_configuration_request r[] = {request(0, 1), request(0, 2)};
         return !i.configurable().apply_configuration(i.get(), r, 2);
     }},
    {"configure an empty list", false,
     [](auto& i) {
         const auto r = request(0, 1);
         return !i.configurable().apply_configuration(i.get(), &r, 0) &&
                !i.configurable().apply_configuration(i.get(), nullptr, 1);
     }},
    {"unknown extension", false,
     [](auto& i) {
         return i.extension("clap.gui") == nullptr && i.extension("clap.params.draft") == nullptr;
     }},
};

TEST(HalvexClapMisbehaviour, RefusedCallsChangeNothing) {
    for (const Case& c : CASES) {
        SCOPED_TRACE(c.name);
        HostedInstance h(velk::test::halvex_module(), velk::test::HALVEX_ID);
        ASSERT_TRUE(h.instance);
        EventList values;
        values.param(THRESHOLD, -30.0).param(RATIO, 8.0).param(MIX, 0.5).param(BYPASS, 1.0);
        h.instance.params().flush(h.instance.get(), values.raw(), nullptr);
        if (c.active) {
            ASSERT_TRUE(h.instance.activate(48000.0, 256));
            ASSERT_EQ(run(h.instance, 2), CLAP_PROCESS_CONTINUE);
        }
        const Snapshot before = snapshot(h.instance);
        EXPECT_EQ(before.active, c.active);
        h.host.forget();

        EXPECT_TRUE(c.refused(h.instance));
        EXPECT_TRUE(snapshot(h.instance) == before);
        EXPECT_TRUE(h.host.rescans().empty());
    }
}

} // namespace
