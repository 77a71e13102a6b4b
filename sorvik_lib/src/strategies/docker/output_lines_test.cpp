// Splitting and trimming docker's output lines.
#include "output_lines.hpp"

#include <gtest/gtest.h>

namespace sorvik_lib::strategies::docker {
namespace {

using Lines = std::vector<std::string_view>;

TEST(SplitLines, LineEnds) {
  EXPECT_EQ(split_lines(""), Lines{});
  EXPECT_EQ(split_lines("a"), Lines{"a"});
  EXPECT_EQ(split_lines("a\n"), Lines{"a"});
  EXPECT_EQ(split_lines("a\n\nb"), (Lines{"a", "", "b"}));
  EXPECT_EQ(split_lines("a\r\nb\r\n"), (Lines{"a", "b"}));
  EXPECT_EQ(split_lines("\n"), Lines{""});
  // Only a "\r" right before "\n" goes; others stay.
  EXPECT_EQ(split_lines("a\r"), Lines{"a\r"});
  EXPECT_EQ(split_lines("a\r\r\nb\rc"), (Lines{"a\r", "b\rc"}));
}

TEST(TrimWhiteSpace, AsciiAndUnicodeSpaceAtBothEnds) {
  EXPECT_EQ(trim_white_space(" \t\v\f\r\n x y \n"), "x y");
  EXPECT_EQ(trim_white_space("\xc2\xa0"
                             "1GB"
                             "\xe3\x80\x80"),
            "1GB");
  EXPECT_EQ(trim_white_space("\xe2\x80\x8a"
                             "\xc2\x85"
                             "x"
                             "\xe2\x80\xa9"
                             "\xe2\x81\x9f"),
            "x");
  EXPECT_EQ(trim_white_space(" \xe2\x80\x80 "), "");
  // A zero width space is not white space.
  EXPECT_EQ(trim_white_space("\xe2\x80\x8bx"), "\xe2\x80\x8bx");
}

TEST(TrimmedLines, SkipsLinesThatAreOnlySpace) {
  EXPECT_EQ(trimmed_lines(" a \r\n\r\n \t \n b\n   "), (Lines{"a", "b"}));
}

}  // namespace
}  // namespace sorvik_lib::strategies::docker
