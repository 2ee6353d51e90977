// A session of host calls decoded from the input, made through halvex.clap's CLAP
// interface: activation with any rate and frame limits, deactivation, reset, start
// and stop, blocks processed with any channel counts, frame counts, buffers (null,
// shared, missing), transports and events (malformed ones included), parameter
// flushes, value and text queries, state saved and loaded, port configurations,
// main-thread callbacks, and calls with null arguments.
//
// The harness keeps its own account of what the instance should hold: whether it
// is active, its channel count, and every parameter value (a mirror set receives
// the same writes). After every call the instance must agree: a refused call
// changes nothing, a value written last is read back, the ports show the settled
// channel count. A refused block leaves the host's buffers as they were; processing
// allocates nothing, restores the floating-point mode and turns a finite input no
// louder than full scale into finite output.

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

#include "halvex/halvex.hpp"
#include "support/bytes.hpp"
#include "support/check.hpp"
#include "support/clap_host.hpp"
#include "velk/core/ftz.hpp"
#include "velk/core/param.hpp"
#include "velk/core/state.hpp"
#include "velk/test/alloc.hpp"
#include "wrapper.hpp"

namespace {

using velk::fuzz::Bytes;
using velk::fuzz::ClapHost;
using velk::fuzz::Events;
using velk::fuzz::Halvex;

constexpr double INF = std::numeric_limits<double>::infinity();
constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr std::size_t PARAMS = 9;
constexpr std::size_t MAX_CALLS = 64;
constexpr std::uint32_t MAX_FRAMES = 8192;
constexpr std::uint32_t MAX_SAMPLES = 65536; // per block, over all channels
constexpr std::size_t MAX_EVENTS = 8;

constexpr double RATES[] = {48000.0, 44100.0, 0.0,    -0.0, -44100.0, INF, -INF, NaN,
                            1e300,   1e-300,  8000.0, 1.0,  768000.0, 1e7, 1e38};
constexpr std::uint32_t FRAME_LIMITS[] = {0, 1, 32, 512, 4096, 65536, 0xFFFFFFFFu};
constexpr double VALUES[] = {NaN,    INF,    -INF,  0.0, 1.0,  -1.0,  0.5,        1e300,
                             -1e300, 1e-320, -18.0, 4.0, 24.0, 100.0, 0.49999999, 1000.0};
constexpr clap_id IDS[] = {0, 128, 256, 384, 512, 640, 768, 896, 1024, 1, 1152, 0xFFFFFFFFu};
constexpr std::uint32_t CHANNELS[] = {0, 1, 2, 3, 8, 64, 65, 0xFFFFFFFFu};

double raw_double(Bytes& in) {
    return static_cast<double>(in.f32());
}

/// Non-interleaved audio with its channel pointer array.
struct Audio {
    Audio(std::uint32_t channels, std::uint32_t frames, std::uint32_t& noise)
        : samples(channels, std::vector<float>(frames)) {
        for (auto& channel : samples) {
            for (float& x : channel) {
                noise = noise * 1664525u + 1013904223u;
                x = static_cast<float>(noise >> 8) * 0x1p-23f - 1.0f;
            }
            pointers.push_back(channel.data());
        }
    }
    std::vector<std::vector<float>> samples;
    std::vector<float*> pointers;
};

class Session {
public:
    Session(Bytes& in) : in_(in), host_(in.u8() % 4 != 0, in.u8() % 4 != 0), h_(host_) {}

    void call() {
        switch (in_.u8() % 14) {
        case 0:
            activate();
            break;
        case 1:
            h_.get()->deactivate(h_.get());
            active_ = false;
            break;
        case 2:
            h_.get()->reset(h_.get());
            break;
        case 3:
        case 4:
            process();
            break;
        case 5:
            flush();
            break;
        case 6:
            query();
            break;
        case 7:
            save_and_load();
            break;
        case 8:
            configure();
            break;
        case 9:
            h_.get()->on_main_thread(h_.get());
            break;
        case 10:
            VELK_FUZZ_CHECK(h_.get()->start_processing(h_.get()));
            h_.get()->stop_processing(h_.get());
            break;
        case 11:
            nulls();
            break;
        default:
            VELK_FUZZ_CHECK(h_.latency() == 0 && h_.tail() == 0);
            break;
        }
        check();
    }

private:
    // Whether the instance is active, seen through a configuration request for the
    // settled count, which is refused only while active.
    bool seen_active() const {
        const clap_audio_port_configuration_request request{true, 0, channels_, nullptr, nullptr};
        return !h_.configurable().can_apply_configuration(h_.get(), &request, 1);
    }

    void check() const {
        VELK_FUZZ_CHECK(seen_active() == active_);
        clap_audio_port_info port{};
        for (bool is_input : {true, false}) {
            VELK_FUZZ_CHECK(h_.ports().count(h_.get(), is_input) == 1);
            VELK_FUZZ_CHECK(h_.ports().get(h_.get(), 0, is_input, &port));
            VELK_FUZZ_CHECK(port.channel_count == channels_);
        }
        VELK_FUZZ_CHECK(h_.params().count(h_.get()) == PARAMS);
        const std::vector<double> values = h_.values();
        for (std::size_t i = 0; i < PARAMS; ++i) {
            const velk::ParamInfo& info = mirror_.at(i).info();
            VELK_FUZZ_CHECK(values[i] >= static_cast<double>(info.min) &&
                            values[i] <= static_cast<double>(info.max));
            if (i != halvex::GR)
                VELK_FUZZ_CHECK(values[i] == static_cast<double>(mirror_.at(i).get()));
        }
    }

    void activate() {
        const double rate = in_.pick(RATES, raw_double);
        const std::uint32_t min_frames = in_.u16();
        const std::uint32_t max_frames =
            in_.pick(FRAME_LIMITS, [](Bytes& b) { return static_cast<std::uint32_t>(b.u16()); });
        const bool ok = h_.get()->activate(h_.get(), rate, min_frames, max_frames);
        const float narrowed = velk::clap::narrow(rate);
        VELK_FUZZ_CHECK(ok == (!active_ && std::isfinite(narrowed) && narrowed > 0.0f &&
                               narrowed <= velk::MAX_SAMPLE_RATE));
        active_ = active_ || ok;
    }

    // Events for one block or flush: well-formed value events and every way of
    // getting one wrong, as the mirror should take them.
    void fill_events(Events& events, std::vector<std::pair<std::size_t, double>>& writes) {
        const std::size_t count = in_.u8() % (MAX_EVENTS + 1);
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint8_t kind = in_.u8();
            const clap_id id = in_.pick(IDS, [](Bytes& b) { return b.u32(); });
            const double value = in_.pick(VALUES, raw_double);
            clap_event_param_value e = velk::fuzz::param_event(id, value);
            switch (kind % 8) {
            case 0:
                events.add_null();
                continue;
            case 1:
                e.header.size = static_cast<std::uint32_t>(in_.u8() % sizeof e);
                break;
            case 2:
                e.header.space_id = static_cast<std::uint16_t>(1 + in_.u8());
                break;
            case 3:
                e.header.type = static_cast<std::uint16_t>(in_.u8() % 13);
                break;
            default:
                break;
            }
            events.add(&e, sizeof e);
            const bool applies = e.header.size >= sizeof e &&
                                 e.header.space_id == CLAP_CORE_EVENT_SPACE_ID &&
                                 e.header.type == CLAP_EVENT_PARAM_VALUE && std::isfinite(value) &&
                                 id % 128 == 0 && id / 128 < PARAMS && id / 128 != halvex::GR;
            if (applies)
                writes.emplace_back(id / 128, value);
        }
    }

    // The mirror takes the writes as the instance does; those of a processed block
    // in flush-to-zero mode, where a subnormal value arrives as 0.
    void apply(const std::vector<std::pair<std::size_t, double>>& writes, bool audio_thread) {
        std::optional<velk::ScopedFlushToZero> mode;
        if (audio_thread)
            mode.emplace();
        for (const auto& [index, value] : writes)
            mirror_.at(index).set(velk::clap::narrow(value));
    }

    void process() {
        std::uint32_t frames = std::min<std::uint32_t>(
            in_.pick(FRAME_LIMITS, [](Bytes& b) { return static_cast<std::uint32_t>(b.u16()); }),
            MAX_FRAMES);
        const std::uint8_t shape = in_.u8();
        const std::uint32_t out_channels =
            shape & 1
                ? channels_
                : std::min(in_.pick(CHANNELS,
                                    [](Bytes& b) { return static_cast<std::uint32_t>(b.u8()); }),
                           65u);
        const std::uint32_t in_channels = in_.u8() % 66;
        // Wide blocks are kept short, so that a session stays quick.
        frames = std::min(frames, MAX_SAMPLES / std::max({1u, out_channels, in_channels}));
        const bool tame = (shape & 2) == 0; // full scale, else huge and non-finite
        Audio out(out_channels, frames, noise_);
        Audio input(in_channels, frames, noise_);
        if (!tame && !input.samples.empty() && frames > 0) {
            input.samples[0][0] = static_cast<float>(NaN);
            input.samples[0][frames - 1] = 1e30f;
        }
        clap_audio_buffer out_buffer{out.pointers.data(), nullptr, out_channels, 0, 0};
        clap_audio_buffer in_buffer{input.pointers.data(), nullptr, in_channels, 0, 0};
        const std::uint8_t faults = in_.u8();
        bool refused = !active_;
        if (faults & 1) {
            out_buffer.data32 = nullptr;
            refused = true;
        }
        if ((faults & 2) && out_channels > 0) {
            out.pointers[in_.u8() % out_channels] = nullptr;
            refused = true;
        }
        if (faults & 4)
            in_buffer.data32 = nullptr;
        if ((faults & 8) && in_channels > 0)
            input.pointers[in_.u8() % in_channels] = nullptr;
        const bool in_place = (faults & 16) != 0;
        const bool no_outputs = (faults & 32) != 0;
        refused = refused || out_channels != channels_;
        if (in_place) {
            // The host's input and output buffers are the same memory.
            in_buffer = out_buffer;
        }

        Events events(MAX_EVENTS);
        std::vector<std::pair<std::size_t, double>> writes;
        fill_events(events, writes);
        clap_event_transport transport{};
        transport.flags = in_.u8();
        transport.tempo = in_.pick(VALUES, raw_double);
        transport.song_pos_seconds = static_cast<std::int64_t>(in_.u32()) << in_.u8() % 31;
        const clap_process process{
            .steady_time = static_cast<std::int64_t>(in_.u32()) - 1000,
            .frames_count = frames,
            .transport = in_.u8() % 2 ? &transport : nullptr,
            .audio_inputs = &in_buffer,
            .audio_outputs = no_outputs ? nullptr : &out_buffer,
            .audio_inputs_count = (faults & 64) ? 0u : 1u,
            .audio_outputs_count = no_outputs ? 0u : 1u,
            .in_events = events.raw(),
            .out_events = nullptr,
        };
        const std::vector<std::vector<float>> before = out.samples;

        const std::uint64_t mode = velk::float_control_register();
        clap_process_status status = CLAP_PROCESS_ERROR;
        {
            const velk::test::NoAllocScope scope;
            status = h_.get()->process(h_.get(), &process);
            if (velk::test::counting_allocations())
                VELK_FUZZ_CHECK(scope.count() == 0);
        }
        VELK_FUZZ_CHECK(velk::float_control_register() == mode);

        if (!active_) {
            // Nothing reaches an inactive instance, not even its events.
            VELK_FUZZ_CHECK(status == CLAP_PROCESS_ERROR);
            VELK_FUZZ_CHECK(same_bits(out.samples, before));
            return;
        }
        apply(writes, true);
        if (frames == 0 || no_outputs) {
            VELK_FUZZ_CHECK(status == CLAP_PROCESS_CONTINUE);
            VELK_FUZZ_CHECK(same_bits(out.samples, before));
            return;
        }
        VELK_FUZZ_CHECK(status == (refused ? CLAP_PROCESS_ERROR : CLAP_PROCESS_CONTINUE));
        if (refused) {
            VELK_FUZZ_CHECK(same_bits(out.samples, before));
            return;
        }
        if (tame)
            for (const auto& channel : out.samples)
                for (float x : channel)
                    VELK_FUZZ_CHECK(std::isfinite(x));
    }

    static bool same_bits(const std::vector<std::vector<float>>& a,
                          const std::vector<std::vector<float>>& b) {
        if (a.size() != b.size())
            return false;
        for (std::size_t c = 0; c < a.size(); ++c)
            if (!std::equal(a[c].begin(), a[c].end(), b[c].begin(), [](float x, float y) {
                    return std::bit_cast<std::uint32_t>(x) == std::bit_cast<std::uint32_t>(y);
                }))
                return false;
        return true;
    }

    void flush() {
        Events events(MAX_EVENTS);
        std::vector<std::pair<std::size_t, double>> writes;
        fill_events(events, writes);
        const bool no_list = in_.u8() % 8 == 0;
        const velk::test::NoAllocScope scope;
        h_.params().flush(h_.get(), no_list ? nullptr : events.raw(), nullptr);
        if (active_ && velk::test::counting_allocations())
            VELK_FUZZ_CHECK(scope.count() == 0);
        if (!no_list)
            apply(writes, false);
    }

    void query() {
        const clap_id id = in_.pick(IDS, [](Bytes& b) { return b.u32(); });
        const bool listed = id % 128 == 0 && id / 128 < PARAMS;
        double value = -1.0;
        VELK_FUZZ_CHECK(h_.params().get_value(h_.get(), id, &value) == listed);
        char text[64];
        const std::uint32_t size = in_.u8() % (sizeof text + 1);
        const double shown = in_.pick(VALUES, raw_double);
        VELK_FUZZ_CHECK(h_.params().value_to_text(h_.get(), id, shown, text, size) == listed);
        if (listed && size > 0) {
            double back = 0.0;
            static_cast<void>(h_.params().text_to_value(h_.get(), id, text, &back));
        }
        clap_param_info info{};
        const std::uint32_t index = in_.u8() % 12;
        VELK_FUZZ_CHECK(h_.params().get_info(h_.get(), index, &info) == (index < PARAMS));
    }

    void save_and_load() {
        const std::vector<std::uint8_t> saved = h_.save();
        VELK_FUZZ_CHECK(saved.size() == 84);
        std::vector<std::uint8_t> bytes = saved;
        // Damage the saved state, or load a piece of the input instead.
        const std::uint8_t how = in_.u8();
        if (how % 4 == 1)
            bytes.resize(in_.u8() % (bytes.size() + 1));
        else if (how % 4 == 2)
            bytes[in_.u8() % bytes.size()] ^= static_cast<std::uint8_t>(1 + in_.u8() % 255);
        else if (how % 4 == 3) {
            const auto piece = in_.take(in_.u8());
            bytes.assign(piece.begin(), piece.end());
        }
        std::size_t at = 0;
        struct Reader {
            std::vector<std::uint8_t>* bytes;
            std::size_t* at;
        } reader{&bytes, &at};
        const clap_istream stream{
            &reader, [](const clap_istream* s, void* buffer, std::uint64_t size) -> std::int64_t {
                auto& r = *static_cast<Reader*>(s->ctx);
                const std::size_t n =
                    std::min<std::size_t>({size, 7, r.bytes->size() - *r.at}); // odd pieces
                std::copy_n(r.bytes->begin() + static_cast<long>(*r.at), n,
                            static_cast<std::uint8_t*>(buffer));
                *r.at += n;
                return static_cast<std::int64_t>(n);
            }};
        const int rescans = host_.value_rescans;
        const bool accepted = h_.state().load(h_.get(), &stream);
        VELK_FUZZ_CHECK(accepted == velk::state::load(mirror_, bytes));
        VELK_FUZZ_CHECK(host_.value_rescans - rescans == (accepted && offers_params() ? 1 : 0));
        if (how % 4 == 0)
            VELK_FUZZ_CHECK(accepted);
    }

    bool offers_params() const {
        return host_.raw()->get_extension(host_.raw(), CLAP_EXT_PARAMS) != nullptr;
    }

    void configure() {
        clap_audio_port_configuration_request requests[3];
        const std::size_t count = in_.u8() % 4;
        for (std::size_t i = 0; i < count; ++i)
            requests[i] = clap_audio_port_configuration_request{
                .is_input = in_.u8() % 2 == 0,
                .port_index = in_.u8() % 4 == 3 ? 1u : 0u,
                .channel_count =
                    in_.pick(CHANNELS, [](Bytes& b) { return static_cast<std::uint32_t>(b.u8()); }),
                .port_type = nullptr,
                .port_details = nullptr,
            };
        bool acceptable = !active_ && count > 0;
        for (std::size_t i = 0; i < count; ++i)
            acceptable = acceptable && requests[i].port_index == 0 &&
                         requests[i].channel_count == requests[0].channel_count &&
                         requests[i].channel_count >= 1 && requests[i].channel_count <= 64;
        const clap_audio_port_configuration_request* list = count ? requests : nullptr;
        VELK_FUZZ_CHECK(h_.configurable().can_apply_configuration(
                            h_.get(), list, static_cast<std::uint32_t>(count)) == acceptable);
        if (in_.u8() % 2 == 0)
            return;
        VELK_FUZZ_CHECK(h_.configurable().apply_configuration(
                            h_.get(), list, static_cast<std::uint32_t>(count)) == acceptable);
        if (acceptable)
            channels_ = requests[0].channel_count;
    }

    // Calls with a null argument somewhere: each is refused and changes nothing.
    void nulls() {
        const clap_plugin* p = h_.get();
        double value = 0.0;
        char text[8];
        clap_param_info info{};
        clap_audio_port_info port{};
        const clap_ostream no_write{nullptr, nullptr};
        const clap_istream no_read{nullptr, nullptr};
        switch (in_.u8() % 16) {
        case 0:
            VELK_FUZZ_CHECK(p->process(p, nullptr) == CLAP_PROCESS_ERROR);
            break;
        case 1:
            VELK_FUZZ_CHECK(!h_.params().get_info(p, 0, nullptr));
            break;
        case 2:
            VELK_FUZZ_CHECK(!h_.params().get_value(p, 0, nullptr));
            break;
        case 3:
            VELK_FUZZ_CHECK(!h_.params().value_to_text(p, 0, 1.0, nullptr, 8));
            break;
        case 4:
            VELK_FUZZ_CHECK(!h_.params().text_to_value(p, 0, nullptr, &value));
            VELK_FUZZ_CHECK(!h_.params().text_to_value(p, 0, "-6", nullptr));
            break;
        case 5:
            VELK_FUZZ_CHECK(!h_.state().save(p, nullptr) && !h_.state().save(p, &no_write));
            break;
        case 6:
            VELK_FUZZ_CHECK(!h_.state().load(p, nullptr) && !h_.state().load(p, &no_read));
            break;
        case 7:
            VELK_FUZZ_CHECK(!h_.configurable().apply_configuration(p, nullptr, 1));
            break;
        case 8:
            VELK_FUZZ_CHECK(!h_.ports().get(p, 0, true, nullptr));
            break;
        case 9:
            VELK_FUZZ_CHECK(p->get_extension(p, nullptr) == nullptr);
            break;
        case 10:
            h_.params().flush(p, nullptr, nullptr);
            break;
        case 11:
            VELK_FUZZ_CHECK(!p->activate(nullptr, 48000.0, 1, 512));
            VELK_FUZZ_CHECK(p->process(nullptr, nullptr) == CLAP_PROCESS_ERROR);
            p->deactivate(nullptr);
            p->reset(nullptr);
            p->on_main_thread(nullptr);
            break;
        case 12:
            VELK_FUZZ_CHECK(h_.params().count(nullptr) == 0);
            VELK_FUZZ_CHECK(!h_.params().get_info(nullptr, 0, &info));
            VELK_FUZZ_CHECK(!h_.params().get_value(nullptr, 0, &value));
            VELK_FUZZ_CHECK(!h_.params().value_to_text(nullptr, 0, 1.0, text, sizeof text));
            VELK_FUZZ_CHECK(!h_.params().text_to_value(nullptr, 0, "1", &value));
            h_.params().flush(nullptr, nullptr, nullptr);
            break;
        case 13:
            VELK_FUZZ_CHECK(h_.ports().count(nullptr, true) == 0);
            VELK_FUZZ_CHECK(!h_.ports().get(nullptr, 0, false, &port));
            VELK_FUZZ_CHECK(!h_.configurable().can_apply_configuration(nullptr, nullptr, 0));
            break;
        case 14:
            VELK_FUZZ_CHECK(!h_.state().save(nullptr, nullptr));
            VELK_FUZZ_CHECK(!h_.state().load(nullptr, nullptr));
            break;
        default:
            VELK_FUZZ_CHECK(!p->init(nullptr) && !p->start_processing(nullptr));
            p->stop_processing(nullptr);
            p->destroy(nullptr);
            break;
        }
    }

    Bytes& in_;
    ClapHost host_;
    Halvex h_;
    velk::ParamSet mirror_ =
        velk::ParamSet::with_channels(halvex::param_table(), halvex::CHANNEL_CAPACITY);
    bool active_ = false;
    std::uint32_t channels_ = 2;
    std::uint32_t noise_ = 1;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Bytes in({data, size});
    Session session(in);
    for (std::size_t i = 0; i < MAX_CALLS && !in.done(); ++i)
        session.call();
    return 0;
}
