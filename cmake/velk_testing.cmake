# GoogleTest is built from the sources Debian ships, so it gets the same compiler,
# sanitizers and target architecture as the code under test.
set(VELK_GTEST_SOURCE "/usr/src/googletest" CACHE PATH "GoogleTest source tree")
if(EXISTS "${VELK_GTEST_SOURCE}/CMakeLists.txt")
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
    add_subdirectory("${VELK_GTEST_SOURCE}" "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL SYSTEM)
    if(NOT TARGET GTest::gtest_main)
        add_library(GTest::gtest ALIAS gtest)
        add_library(GTest::gtest_main ALIAS gtest_main)
        add_library(GTest::gmock ALIAS gmock)
    endif()
else()
    find_package(GTest REQUIRED)
endif()
include(GoogleTest)

# velk_add_tests(<name> LIBS <libs...>): one test executable from tests/*_test.cpp
# of the calling directory, registered with CTest. Suites whose name ends in
# "Concurrency" are the ones the thread-sanitizer run executes.
function(velk_add_tests name)
    cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
    file(GLOB sources CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/tests/*_test.cpp")
    add_executable(${name} ${sources})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} velk_test_support velk_options
        GTest::gmock GTest::gtest_main)
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 120 DISCOVERY_MODE PRE_TEST)
endfunction()
