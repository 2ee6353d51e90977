#pragma once

#include <chrono>
#include <cstddef>
#include <string>

/// A progress bar on standard error for long renders: drawn only when standard
/// error is a terminal and the work has already taken a second, redrawn at most
/// ten times a second, and erased when done.
namespace velk::tool {

class Progress {
public:
    Progress(std::string label, std::size_t total);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    /// The total grew (or shrank) to `total` units.
    void set_total(std::size_t total) noexcept { total_ = total; }
    /// `done` of the total units are finished.
    void update(std::size_t done);
    /// Erases the bar, if it was drawn.
    void finish();

private:
    using Clock = std::chrono::steady_clock;

    std::string label_;
    std::size_t total_;
    bool terminal_;
    bool drawn_ = false;
    Clock::time_point start_;
    Clock::time_point last_;
};

} // namespace velk::tool
