#pragma once

#include <string>

#include "velk/core/result.hpp"

/// Output files that appear whole or not at all: each is written to a temporary
/// file in its destination folder and renamed over the destination on commit. An
/// uncommitted file is removed when its `Output` goes, and on SIGINT or SIGTERM.
namespace velk::tool {

class Output {
public:
    /// Creates the temporary file next to `path`; fails with a message naming `path`
    /// when its folder is missing or not writable.
    static Result<Output> create(const std::string& path);

    Output(Output&& other) noexcept;
    Output& operator=(Output&&) = delete;
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;
    ~Output();

    /// The destination.
    const std::string& path() const noexcept { return path_; }
    /// The temporary file to write into.
    const std::string& temp() const noexcept { return temp_; }
    /// Renames the temporary file over the destination.
    Result<void> commit();

private:
    Output(std::string path, std::string temp, int slot) noexcept;

    std::string path_;
    std::string temp_;
    int slot_ = -1; // in the table the signal handler cleans up
};

} // namespace velk::tool
