// What the fuzz targets share: their one assertion (abort, so that libFuzzer and the replay test
// both see it) and the "\r\n" form of a text.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#define SORVIK_FUZZ_CHECK(condition)                                                     \
  do {                                                                                   \
    if (!(condition)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                      \
    }                                                                                    \
  } while (false)

// `text` with every "\n" line end written as "\r\n".
inline std::string with_crlf(std::string_view text) {
  std::string out;
  for (const char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}
