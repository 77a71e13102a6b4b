# Toolchain for macOS, from Linux: Zig's clang with its libc++ and its copies of macOS's C headers
# and libSystem stubs, for the oldest macOS it knows (11). SORVIK_ZIG names the zig program and
# SORVIK_MACOS_ARCH the processor, aarch64 or x86_64; archives are made with LLVM's tools.
set(SORVIK_ZIG "" CACHE FILEPATH "The zig program")
set(SORVIK_MACOS_ARCH "aarch64" CACHE STRING "aarch64 or x86_64")
set(SORVIK_MACOS_VERSION "11.0" CACHE STRING "The oldest macOS to run on")
if(NOT SORVIK_ZIG)
  message(FATAL_ERROR "SORVIK_ZIG must name the zig program (scripts/install-deps macos)")
endif()

set(CMAKE_SYSTEM_NAME Darwin)
if(SORVIK_MACOS_ARCH STREQUAL "aarch64")
  set(CMAKE_SYSTEM_PROCESSOR arm64)
else()
  set(CMAKE_SYSTEM_PROCESSOR ${SORVIK_MACOS_ARCH})
endif()

set(zig_target ${SORVIK_MACOS_ARCH}-macos.${SORVIK_MACOS_VERSION}-none)
set(CMAKE_C_COMPILER ${SORVIK_ZIG} cc -target ${zig_target})
set(CMAKE_CXX_COMPILER ${SORVIK_ZIG} c++ -target ${zig_target})
set(CMAKE_USER_MAKE_RULES_OVERRIDE ${CMAKE_CURRENT_LIST_DIR}/zig-macos-rules.cmake)
set(CMAKE_AR llvm-ar-19 CACHE FILEPATH "")
set(CMAKE_RANLIB llvm-ranlib-19 CACHE FILEPATH "")
set(CMAKE_INSTALL_NAME_TOOL llvm-install-name-tool-19 CACHE FILEPATH "")
# The target is named to the compiler above, not through Xcode's variables.
set(CMAKE_OSX_SYSROOT "" CACHE PATH "")
set(CMAKE_OSX_ARCHITECTURES "" CACHE STRING "")
set(CMAKE_OSX_DEPLOYMENT_TARGET "" CACHE STRING "")

# Nothing of the host's but its programs: its libraries and headers are Linux's.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_TRY_COMPILE_PLATFORM_VARIABLES SORVIK_ZIG SORVIK_MACOS_ARCH SORVIK_MACOS_VERSION)
