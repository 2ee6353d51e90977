#include "output.hpp"

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace velk::tool {

namespace {

// Temporary files not yet committed, for the signal handler; a slot is free when
// its first byte is 0. The tool writes at most a few files at once.
constexpr std::size_t SLOTS = 8;
constexpr std::size_t PATH_BYTES = 4096;
std::array<std::array<char, PATH_BYTES>, SLOTS> pending{};
volatile std::sig_atomic_t handler_installed = 0;

extern "C" void remove_pending(int signal) {
    for (const auto& slot : pending)
        if (slot[0] != 0)
            ::unlink(slot.data());
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

void install_handler() {
    if (handler_installed != 0)
        return;
    handler_installed = 1;
    std::signal(SIGINT, remove_pending);
    std::signal(SIGTERM, remove_pending);
}

int claim(const std::string& temp) {
    if (temp.size() >= PATH_BYTES)
        return -1;
    for (std::size_t i = 0; i < SLOTS; ++i) {
        if (pending[i][0] == 0) {
            std::memcpy(pending[i].data(), temp.c_str(), temp.size() + 1);
            return static_cast<int>(i);
        }
    }
    return -1;
}

void release(int slot) {
    if (slot >= 0)
        pending[static_cast<std::size_t>(slot)][0] = 0;
}

} // namespace

Result<Output> Output::create(const std::string& path) {
    if (path.empty())
        return fail("cannot write '': the name is empty");
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.empty())
        return fail("cannot write '" + path + "': it names a folder");
    std::string temp = folder + "." + name + ".velk-XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0)
        return fail("cannot write '" + path + "': " + std::strerror(errno));
    // mkstemp makes the file private; give it the permissions a plain create would.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    ::close(fd);
    install_handler();
    const int slot = claim(temp);
    return Output(path, std::move(temp), slot);
}

Output::Output(std::string path, std::string temp, int slot) noexcept
    : path_(std::move(path)), temp_(std::move(temp)), slot_(slot) {}

Output::Output(Output&& other) noexcept
    : path_(std::move(other.path_)), temp_(std::move(other.temp_)), slot_(other.slot_) {
    other.temp_.clear();
    other.slot_ = -1;
}

Output::~Output() {
    if (!temp_.empty())
        ::unlink(temp_.c_str());
    release(slot_);
}

Result<void> Output::commit() {
    if (temp_.empty())
        return fail("cannot write '" + path_ + "': already written");
    if (std::rename(temp_.c_str(), path_.c_str()) != 0)
        return fail("cannot write '" + path_ + "': " + std::strerror(errno));
    temp_.clear();
    release(slot_);
    slot_ = -1;
    return {};
}

} // namespace velk::tool
