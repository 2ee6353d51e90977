#include "check.hpp"

#include <cstdio>
#include <cstdlib>

namespace velk::fuzz {

void check_failed(std::string_view what, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: check failed: %.*s\n", file, line, static_cast<int>(what.size()),
                 what.data());
    std::fflush(stderr);
    std::abort();
}

} // namespace velk::fuzz
