// halvex.clap under the threads of a host: its audio thread processes blocks and
// flushes parameter events while its main thread saves and loads state and takes
// callbacks, and another thread reads values and texts.

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

#include "module_fixture.hpp"

#include <gtest/gtest.h>

namespace {

using velk::test::AudioBuffer;
using velk::test::EventList;
using velk::test::HostedInstance;

constexpr clap_id id_of(std::size_t index) {
    return static_cast<clap_id>(index * 128);
}
// Parameter indices; knee, attack, release and makeup follow each other.
constexpr std::size_t THRESHOLD = 0, RATIO = 1, KNEE = 2, MAKEUP = 5, MIX = 6, BYPASS = 7, GR = 8;

// A state that writes knee, attack, release and makeup only: the other records
// hold no cells, so they leave their parameters alone.
std::vector<std::uint8_t> partial_state(int round) {
    const float values[] = {static_cast<float>(round % 24), 0.1f + static_cast<float>(round % 90),
                            10.0f + static_cast<float>(round % 900),
                            static_cast<float>(round % 13)};
    // Built from the magic rather than inserted into an empty vector, which g++ 12 for
    // 64-bit Arm takes for an overflow at -O2.
    std::vector<std::uint8_t> out{'V', 'E', 'L', 'K'};
    auto word = [&](std::uint32_t w) {
        for (int shift = 0; shift < 32; shift += 8)
            out.push_back(static_cast<std::uint8_t>(w >> shift));
    };
    word(1);
    word(MAKEUP + 1);
    word(0); // threshold
    word(0); // ratio
    for (float v : values) {
        word(1);
        std::uint32_t bits = 0;
        std::memcpy(&bits, &v, sizeof bits);
        word(bits);
    }
    return out;
}

// Each side runs for at least `min_rounds` rounds and until the others have, and
// for about a second in all, so that they overlap however they are scheduled.
class Rounds {
public:
    explicit Rounds(int sides) : done_(static_cast<std::size_t>(sides)) {}
    bool go_on(int side, int rounds) {
        done_[static_cast<std::size_t>(side)].store(rounds);
        if (rounds < MIN_ROUNDS)
            return true;
        if (std::chrono::steady_clock::now() - start_ > std::chrono::seconds(1))
            return false;
        for (const auto& d : done_)
            if (d.load() < MIN_ROUNDS)
                return true;
        return rounds < MIN_ROUNDS * 4;
    }

private:
    static constexpr int MIN_ROUNDS = 100;
    std::vector<std::atomic<int>> done_;
    const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

TEST(HalvexClapConcurrency, HostThreadsShareOneInstance) {
    HostedInstance h(velk::test::halvex_module(), velk::test::HALVEX_ID);
    ASSERT_TRUE(h.instance);
    ASSERT_TRUE(h.instance.activate(48000.0, 256));
    const clap_plugin* p = h.instance.get();
    const clap_plugin_params& params = h.instance.params();
    const clap_plugin_state& state = h.instance.state();
    const std::vector<clap_param_info> infos = h.instance.infos();
    ASSERT_EQ(infos.size(), GR + 1);
    Rounds rounds(3);

    // Audio thread: blocks whose events move threshold and ratio, and flushes between
    // blocks that move mix and bypass.
    std::atomic<int> audio_last{-1};
    std::thread audio([&] {
        AudioBuffer in(2, 256);
        AudioBuffer out(2, 256);
        std::uint32_t noise = 1;
        int i = 0;
        for (; rounds.go_on(0, i); ++i) {
            for (std::uint32_t c = 0; c < 2; ++c)
                for (float& x : in.channel(c)) {
                    noise = noise * 1664525u + 1013904223u;
                    x = static_cast<float>(noise >> 8) * 0x1p-23f - 1.0f;
                }
            EventList events;
            events.param(id_of(THRESHOLD), -static_cast<double>(i % 60))
                .param(id_of(RATIO), 1.0 + i % 19);
            ASSERT_EQ(h.instance.process(&in, out, {.events = &events}), CLAP_PROCESS_CONTINUE);
            for (std::uint32_t c = 0; c < 2; ++c)
                for (float x : out.channel(c))
                    ASSERT_TRUE(std::isfinite(x));
            EventList flushed;
            flushed.param(id_of(MIX), (i % 11) / 10.0).param(id_of(BYPASS), i % 3 == 0 ? 1.0 : 0.0);
            params.flush(p, flushed.raw(), nullptr);
        }
        audio_last = i - 1;
    });

    // Another thread reads what a host's interface shows.
    std::thread reader([&] {
        for (int i = 0; rounds.go_on(1, i); ++i) {
            for (std::size_t index = 0; index <= GR; ++index) {
                double value = 0.0;
                ASSERT_TRUE(params.get_value(p, id_of(index), &value));
                char text[64];
                ASSERT_TRUE(params.value_to_text(p, id_of(index), value, text, sizeof text));
                double back = 0.0;
                EXPECT_TRUE(params.text_to_value(p, id_of(index), text, &back)) << text;
                clap_param_info info{};
                ASSERT_TRUE(params.get_info(p, static_cast<std::uint32_t>(index), &info));
                EXPECT_GE(value, info.min_value);
                EXPECT_LE(value, info.max_value);
            }
        }
    });

    // Main thread: loads and saves state and takes the callbacks the others ask for.
    int main_last = 0;
    for (int i = 0; rounds.go_on(2, i); ++i) {
        velk::test::InStream in(partial_state(i), 5);
        ASSERT_TRUE(state.load(p, in.raw()));
        velk::test::OutStream out;
        ASSERT_TRUE(state.save(p, out.raw()));
        // Every value of a state saved while the others write is whole and in range.
        ASSERT_EQ(out.bytes().size(), 84u);
        for (std::size_t index = 0; index <= GR; ++index) {
            float v = 0.0f;
            std::memcpy(&v, out.bytes().data() + 12 + index * 8 + 4, sizeof v);
            EXPECT_GE(static_cast<double>(v), infos[index].min_value);
            EXPECT_LE(static_cast<double>(v), infos[index].max_value);
        }
        h.instance.on_main_thread();
        main_last = i;
    }
    audio.join();
    reader.join();
    h.instance.on_main_thread();

    // The last value each writer wrote is the value read back.
    const int a = audio_last.load();
    ASSERT_GE(a, 0);
    EXPECT_EQ(h.instance.value(id_of(THRESHOLD)), -static_cast<double>(a % 60));
    EXPECT_EQ(h.instance.value(id_of(RATIO)), 1.0 + a % 19);
    EXPECT_EQ(h.instance.value(id_of(MIX)),
              static_cast<double>(static_cast<float>((a % 11) / 10.0)));
    EXPECT_EQ(h.instance.value(id_of(BYPASS)), a % 3 == 0 ? 1.0 : 0.0);
    const std::vector<std::uint8_t> last = partial_state(main_last);
    for (std::size_t index = KNEE; index <= MAKEUP; ++index) {
        float expected = 0.0f;
        std::memcpy(&expected, last.data() + 12 + 8 + (index - KNEE) * 8 + 4, sizeof expected);
        EXPECT_EQ(h.instance.value(id_of(index)), static_cast<double>(expected)) << index;
    }
    EXPECT_GT(h.host.callbacks(), 0);
}

} // namespace
