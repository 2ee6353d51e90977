# Shared compile options: warnings, floating-point behaviour and sanitizers.
option(VELK_WERROR "Treat warnings as errors" OFF)
set(VELK_SANITIZE "" CACHE STRING "Sanitizers to build with: address,undefined or thread")

add_library(velk_options INTERFACE)
target_compile_options(velk_options INTERFACE
    -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion -Wdouble-promotion
    -Wold-style-cast -Wnon-virtual-dtor -Woverloaded-virtual -Wimplicit-fallthrough
    -Wextra-semi
    -ffp-contract=off)
if(VELK_WERROR)
    target_compile_options(velk_options INTERFACE -Werror)
endif()

# A fuzzing build instruments everything for coverage and runs the address and
# undefined-behaviour sanitizers; the fuzz targets link libFuzzer's main.
if(VELK_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
        message(FATAL_ERROR "VELK_FUZZ needs clang")
    endif()
    if(VELK_SANITIZE AND NOT VELK_SANITIZE STREQUAL "address,undefined")
        message(FATAL_ERROR "VELK_FUZZ runs with VELK_SANITIZE=address,undefined")
    endif()
    set(VELK_SANITIZE "address,undefined")
    add_compile_options(-fsanitize=fuzzer-no-link)
endif()

# Sanitizers apply to every target, third-party test libraries included, so that
# instrumented and uninstrumented code never mix.
if(VELK_SANITIZE)
    add_compile_options(-fsanitize=${VELK_SANITIZE} -fno-omit-frame-pointer -g)
    add_link_options(-fsanitize=${VELK_SANITIZE})
    if(VELK_SANITIZE MATCHES "address|undefined")
        add_compile_options(-fno-sanitize-recover=all)
    endif()
endif()
