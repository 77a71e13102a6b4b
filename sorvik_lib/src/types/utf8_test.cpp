// UTF-8 checking and the lossy conversion that replaces ill-formed sequences.
#include "sorvik_lib/types/utf8.hpp"

#include <gtest/gtest.h>

namespace sorvik_lib::types {
namespace {

using namespace std::string_view_literals;

TEST(Utf8, AcceptsWellFormedText) {
  EXPECT_TRUE(is_valid_utf8(""));
  EXPECT_TRUE(is_valid_utf8("/opt/cache"));
  EXPECT_TRUE(is_valid_utf8("caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80 \xF4\x8F\xBF\xBF"));
  EXPECT_TRUE(is_valid_utf8("with\0nul"sv));
  EXPECT_TRUE(is_valid_utf8(std::string(1000, 'a') + "\xC3\xA9"));
}

TEST(Utf8, RefusesIllFormedSequences) {
  for (std::string_view bad :
       {"\xC3\x28"sv, "\x80"sv, "\xC0\xAF"sv, "\xE0\x80\xAF"sv, "\xED\xA0\x80"sv,
        "\xF4\x90\x80\x80"sv, "\xF8\x88\x80\x80\x80"sv, "\xE2\x82"sv, "abcdefgh\xFF"sv}) {
    EXPECT_FALSE(is_valid_utf8(bad)) << testing::PrintToString(bad);
  }
}

TEST(Utf8, LossyReplacesEachMaximalSubpart) {
  EXPECT_EQ(to_utf8_lossy("plain"), "plain");
  EXPECT_EQ(to_utf8_lossy("a\xFF"
                          "b"),
            "a\xEF\xBF\xBD"
            "b");
  // A truncated three-byte sequence is one maximal subpart, so it becomes one replacement.
  EXPECT_EQ(to_utf8_lossy("\xE2\x82"
                          "x"),
            "\xEF\xBF\xBD"
            "x");
  EXPECT_EQ(to_utf8_lossy("\xC3\x28"), "\xEF\xBF\xBD(");
  EXPECT_EQ(to_utf8_lossy("\xED\xA0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
}

}  // namespace
}  // namespace sorvik_lib::types
