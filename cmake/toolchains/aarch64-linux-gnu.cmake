# Cross-build for 64-bit Arm Linux with Debian's cross compilers; tests run under
# qemu user-mode emulation with the target's libraries from /usr/aarch64-linux-gnu.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

set(VELK_TARGET_SYSROOT /usr/aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH ${VELK_TARGET_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Libraries of Debian's arm64 architecture (multiarch), such as the tool's libsndfile
# and cairo, live in /usr/lib/aarch64-linux-gnu and are described to the cross
# pkg-config; "/" as a second root lets find_library reach them there.
list(APPEND CMAKE_FIND_ROOT_PATH /)
find_program(PKG_CONFIG_EXECUTABLE aarch64-linux-gnu-pkg-config)

find_program(VELK_QEMU_AARCH64 qemu-aarch64 REQUIRED)
# The target's libraries come from the sysroot first: with Debian's arm64 multiarch
# packages also installed, the loader would otherwise mix their C library with the
# sysroot's loader, and threaded programs hang.
set(CMAKE_CROSSCOMPILING_EMULATOR ${VELK_QEMU_AARCH64} -L ${VELK_TARGET_SYSROOT}
    -E LD_LIBRARY_PATH=${VELK_TARGET_SYSROOT}/lib)
