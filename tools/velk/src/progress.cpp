#include "progress.hpp"

#include <cstdio>
#include <unistd.h>

namespace velk::tool {

namespace {
constexpr auto DELAY = std::chrono::seconds(1);
constexpr auto INTERVAL = std::chrono::milliseconds(100);
constexpr std::size_t WIDTH = 40;
} // namespace

Progress::Progress(std::string label, std::size_t total)
    : label_(std::move(label)),
      total_(total),
      terminal_(::isatty(STDERR_FILENO) == 1),
      start_(Clock::now()),
      last_(start_) {}

Progress::~Progress() {
    finish();
}

void Progress::update(std::size_t done) {
    if (!terminal_ || total_ == 0)
        return;
    const Clock::time_point now = Clock::now();
    if (now - start_ < DELAY || (drawn_ && now - last_ < INTERVAL))
        return;
    last_ = now;
    drawn_ = true;
    const double fraction =
        done >= total_ ? 1.0 : static_cast<double>(done) / static_cast<double>(total_);
    const auto filled = static_cast<std::size_t>(fraction * WIDTH);
    std::string bar(filled, '#');
    bar.resize(WIDTH, '.');
    std::fprintf(stderr, "\r%s [%s] %3d%%", label_.c_str(), bar.c_str(),
                 static_cast<int>(fraction * 100.0));
    std::fflush(stderr);
}

void Progress::finish() {
    if (!drawn_)
        return;
    drawn_ = false;
    std::fprintf(stderr, "\r\033[K");
    std::fflush(stderr);
}

} // namespace velk::tool
