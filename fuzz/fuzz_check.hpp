// The one assertion of the fuzz targets: abort, so that libFuzzer and the replay test both see it.
#pragma once

#include <cstdio>
#include <cstdlib>

#define SORVIK_FUZZ_CHECK(condition)                                                     \
  do {                                                                                   \
    if (!(condition)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                      \
    }                                                                                    \
  } while (false)
