// Times Halvex, through its CLAP interface, against the LV2 compressors installed
// from Debian, on one generated signal with matching settings. Only the process
// calls are timed; the plug-ins take turns run after run so that load on the
// machine falls on all of them alike.
//
// peers [--clap PATH] [--runs N] [--seconds S] [--block N]... [--only NAME] [--channels N]
//
// With --only, one plug-in processes the signal once per block size and nothing is
// timed: under callgrind (--collect-atstart=no) only its process calls are counted.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "clap_plugin.hpp"
#include "lv2_plugin.hpp"
#include "velk/bench/signal.hpp"

#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>
#define VELK_COUNT_TOGGLE() CALLGRIND_TOGGLE_COLLECT
#else
#define VELK_COUNT_TOGGLE() ((void)0)
#endif

namespace {

using velk::bench::ClapPlugin;
using velk::bench::Control;
using velk::bench::Lv2Plugin;
using velk::bench::Lv2World;
using velk::bench::Processor;

constexpr double RATE = static_cast<double>(velk::bench::SIGNAL_RATE);
constexpr const char* HALVEX_ID = "orvane-labs.halvex";

// Threshold -18 dB, ratio 4, knee 6 dB, attack 10 ms, release 120 ms, no make-up,
// fully wet; peak detection and linked channels where a peer offers a choice.
float db_to_amp(float db) {
    return std::pow(10.0f, db / 20.0f);
}

struct Peer {
    const char* name;
    const char* uri;
    std::vector<Control> controls;
};

std::vector<Peer> peers() {
    return {
        {"swh sc4",
         "http://plugin.org.uk/swh-plugins/sc4",
         {{"rms_peak", 1.0f},
          {"attack", 10.0f},
          {"release", 120.0f},
          {"threshold", -18.0f},
          {"ratio", 4.0f},
          {"knee", 3.0f}, // a radius: half the knee's width
          {"makeup_gain", 0.0f}}},
        {"x42 darc",
         "http://gareus.org/oss/lv2/darc#stereo",
         {{"enable", 1.0f},
          {"hold", 0.0f},
          {"inputgain", 0.0f},
          {"threshold", -18.0f},
          {"Ratio", 0.75f}, // no knee control; 0.75 gives a slope near 1:4
          {"attack", 0.010f},
          {"release", 0.120f}}},
        {"calf",
         "http://calf.sourceforge.net/plugins/Compressor",
         {{"bypass", 0.0f},
          {"level_in", 1.0f},
          {"threshold", db_to_amp(-18.0f)},
          {"ratio", 4.0f},
          {"attack", 10.0f},
          {"release", 120.0f},
          {"makeup", 1.0f},
          {"knee", db_to_amp(6.0f)},
          {"detection", 1.0f},   // peak
          {"stereo_link", 1.0f}, // the louder channel
          {"mix", 1.0f}}},
        {"lsp",
         "http://lsp-plug.in/plugins/lv2/compressor_stereo",
         {{"enabled", 1.0f},
          {"g_in", 1.0f},
          {"g_out", 1.0f},
          {"scm", 0.0f}, // peak
          {"sla", 0.0f},
          {"scs", 5.0f}, // the louder channel
          {"cm", 0.0f},  // downward
          {"al", db_to_amp(-18.0f)},
          {"at", 10.0f},
          {"rt", 120.0f},
          {"cr", 4.0f},
          {"kn", db_to_amp(-3.0f)}, // a 6 dB wide knee
          {"mk", 1.0f},
          {"cdr", 0.0f},
          {"cwt", 1.0f}}},
        {"zam compx2",
         "urn:zamaudio:ZamCompX2",
         {{"att", 10.0f},
          {"rel", 120.0f},
          {"kn", 6.0f},
          {"rat", 4.0f},
          {"thr", -18.0f},
          {"mak", 0.0f},
          {"stereodet", 1.0f}, // the louder channel
          {"sidechain", 0.0f}}},
    };
}

struct Options {
    std::string clap_path;
    std::string only;
    std::vector<std::uint32_t> blocks;
    int runs = 15;
    double seconds = 4.0;
    std::uint32_t channels = 2;
};

[[noreturn]] void usage(const char* message) {
    std::fprintf(stderr,
                 "%s\nusage: peers [--clap PATH] [--runs N] [--seconds S] [--block N]... "
                 "[--only NAME] [--channels N]\n",
                 message);
    std::exit(2);
}

Options parse(int argc, char** argv) {
    Options o;
    o.clap_path = VELK_HALVEX_CLAP_PATH;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc)
            usage(("missing value after " + arg).c_str());
        const char* value = argv[++i];
        if (arg == "--clap")
            o.clap_path = value;
        else if (arg == "--only")
            o.only = value;
        else if (arg == "--runs")
            o.runs = std::max(1, std::atoi(value));
        else if (arg == "--seconds")
            o.seconds = std::max(0.1, std::atof(value));
        else if (arg == "--block")
            o.blocks.push_back(static_cast<std::uint32_t>(std::max(1, std::atoi(value))));
        else if (arg == "--channels")
            o.channels = static_cast<std::uint32_t>(std::clamp(std::atoi(value), 1, 64));
        else
            usage(("unknown option " + arg).c_str());
    }
    if (o.blocks.empty())
        o.blocks = {128, 512};
    return o;
}

struct Entry {
    std::string name;
    std::unique_ptr<Processor> processor;
    std::vector<double> ns_per_frame; // one per run
};

std::unique_ptr<ClapPlugin> make_halvex(const Options& o, std::uint32_t block) {
    auto plugin = std::make_unique<ClapPlugin>(o.clap_path, HALVEX_ID, o.channels, RATE, block);
    if (!plugin->ok()) {
        std::fprintf(stderr, "halvex: %s\n", plugin->error().c_str());
        std::exit(1);
    }
    // The defaults already match; set them anyway so the comparison holds if they change.
    const double settings[] = {-18.0, 4.0, 6.0, 10.0, 120.0, 0.0, 1.0, 0.0};
    for (std::size_t i = 0; i < std::size(settings); ++i)
        plugin->set_param(static_cast<clap_id>(i * 128), settings[i]);
    return plugin;
}

// Feeds the whole signal through `p` in blocks of `block`; returns the nanoseconds
// spent inside its process calls.
double process_signal(Processor& p, const std::vector<std::vector<float>>& in,
                      std::vector<std::vector<float>>& out, std::uint32_t block, bool count) {
    const std::size_t channels = in.size();
    const std::size_t frames = in.front().size();
    std::vector<float*> in_ptrs(channels);
    std::vector<float*> out_ptrs(channels);
    double total = 0.0;
    for (std::size_t at = 0; at < frames; at += block) {
        const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(block, frames - at));
        for (std::size_t c = 0; c < channels; ++c) {
            in_ptrs[c] = const_cast<float*>(in[c].data()) + at;
            out_ptrs[c] = out[c].data() + at;
        }
        p.connect(in_ptrs.data(), out_ptrs.data());
        if (count) {
            VELK_COUNT_TOGGLE();
            p.run(n);
            VELK_COUNT_TOGGLE();
            continue;
        }
        const auto start = std::chrono::steady_clock::now();
        p.run(n);
        const auto stop = std::chrono::steady_clock::now();
        total += std::chrono::duration<double, std::nano>(stop - start).count();
    }
    return total;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 == 1 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

int run_one(const Options& o) {
    const auto frames = static_cast<std::size_t>(o.seconds * RATE);
    for (std::uint32_t block : o.blocks) {
        std::unique_ptr<Processor> p;
        std::uint32_t channels = 2;
        std::unique_ptr<Lv2World> world;
        if (o.only == "halvex") {
            p = make_halvex(o, block);
            channels = o.channels;
        } else {
            world = std::make_unique<Lv2World>();
            for (const Peer& peer : peers())
                if (o.only == peer.name || o.only == peer.uri) {
                    auto lv2 =
                        std::make_unique<Lv2Plugin>(*world, peer.uri, peer.controls, RATE, block);
                    if (!lv2->ok()) {
                        std::fprintf(stderr, "%s: %s\n", peer.name, lv2->error().c_str());
                        return 1;
                    }
                    p = std::move(lv2);
                }
            if (!p)
                usage(("no plug-in named " + o.only).c_str());
        }
        const auto in = velk::bench::drum_signal(frames, channels);
        auto out = in;
        process_signal(*p, in, out, block, true);
        std::printf("%s block %u: %zu frames processed\n", o.only.c_str(), block, frames);
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const Options o = parse(argc, argv);
    if (!o.only.empty())
        return run_one(o);

    const auto frames = static_cast<std::size_t>(o.seconds * RATE);
    const auto in = velk::bench::drum_signal(frames, 2);
    auto out = in;
    Lv2World world;
    std::printf("%zu frames at %.0f Hz, stereo, %d runs; ns per stereo frame inside the process "
                "calls, median [min, max]\n",
                frames, RATE, o.runs);
    for (std::uint32_t block : o.blocks) {
        std::vector<Entry> entries;
        entries.push_back({"halvex (clap)", make_halvex(o, block), {}});
        for (const Peer& peer : peers()) {
            auto lv2 = std::make_unique<Lv2Plugin>(world, peer.uri, peer.controls, RATE, block);
            if (!lv2->ok()) {
                std::printf("skipped %s (%s): %s\n", peer.name, peer.uri, lv2->error().c_str());
                continue;
            }
            entries.push_back({peer.name, std::move(lv2), {}});
        }
        // One untimed pass each warms caches and settles the envelopes.
        for (Entry& e : entries)
            process_signal(*e.processor, in, out, block, false);
        for (int run = 0; run < o.runs; ++run)
            for (std::size_t k = 0; k < entries.size(); ++k) {
                Entry& e = entries[(k + static_cast<std::size_t>(run)) % entries.size()];
                const double ns = process_signal(*e.processor, in, out, block, false);
                e.ns_per_frame.push_back(ns / static_cast<double>(frames));
            }

        const double halvex = median(entries.front().ns_per_frame);
        std::printf("\nblock %u frames\n%-16s %10s %22s %16s\n", block, "plug-in", "ns/frame",
                    "range", "halvex / this");
        for (const Entry& e : entries) {
            const auto [lo, hi] = std::minmax_element(e.ns_per_frame.begin(), e.ns_per_frame.end());
            const double m = median(e.ns_per_frame);
            std::printf("%-16s %10.2f %10.2f - %9.2f %16.3f\n", e.name.c_str(), m, *lo, *hi,
                        halvex / m);
        }
    }
    return 0;
}
