#pragma once

#include <string_view>

namespace velk::fuzz {

/// Reports a broken property of the target under test on stderr and aborts, so
/// that libFuzzer keeps the input and a corpus replay fails. Never returns.
[[noreturn]] void check_failed(std::string_view what, const char* file, int line);

} // namespace velk::fuzz

/// Checks a property in every build, NDEBUG or not.
#define VELK_FUZZ_CHECK(condition)                                                                 \
    ((condition) ? static_cast<void>(0)                                                            \
                 : ::velk::fuzz::check_failed(#condition, __FILE__, __LINE__))
