# The libraries the build uses, found once here for every target below.
#
# A cross build cannot take them from the host's package files, which point into the host's
# /usr/include, where the Linux C library's headers would hide the target's own. It names instead,
# in SORVIK_HEADERS_DIR, a folder that holds only fmt/, nlohmann/ and CLI/; all three are used
# header-only. A build whose C++ library is not the one Debian's libgtest was built with (libc++)
# builds GoogleTest from its sources, named in SORVIK_GTEST_SOURCE_DIR.
set(SORVIK_HEADERS_DIR "" CACHE PATH "Folder holding only the fmt, nlohmann and CLI headers")
set(SORVIK_GTEST_SOURCE_DIR "" CACHE PATH "GoogleTest's sources, built with the project")

if(SORVIK_HEADERS_DIR)
  foreach(name IN ITEMS fmt::fmt-header-only nlohmann_json::nlohmann_json CLI11::CLI11)
    add_library(${name} INTERFACE IMPORTED)
    target_include_directories(${name} INTERFACE ${SORVIK_HEADERS_DIR})
  endforeach()
  target_compile_definitions(fmt::fmt-header-only INTERFACE FMT_HEADER_ONLY=1)
else()
  find_package(fmt REQUIRED)
  find_package(nlohmann_json 3 REQUIRED)
  find_package(CLI11 REQUIRED)
endif()
find_package(Threads REQUIRED)

if(SORVIK_BUILD_TESTS)
  if(SORVIK_GTEST_SOURCE_DIR)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    # Its targets come with the GTest:: names that find_package gives.
    add_subdirectory(${SORVIK_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  else()
    find_package(GTest REQUIRED)
  endif()
  include(GoogleTest)
endif()

if(SORVIK_BUILD_BENCH)
  find_package(benchmark REQUIRED)
endif()
