// Texts made safe and fitted for a terminal: control characters spelled out, widths, shortening.
#include "display_text.hpp"

#include <gtest/gtest.h>

#include "sorvik_lib/types/utf8.hpp"

namespace sorvik_cli {
namespace {

TEST(Displayable, NothingInANameCanActOnTheTerminal) {
  EXPECT_EQ(displayable("/tmp/plain name"), "/tmp/plain name");
  EXPECT_EQ(displayable("/tmp/two\nlines"), R"(/tmp/two\nlines)");
  EXPECT_EQ(displayable("/tmp/\x1b]0;owned\x07\x1b[2J"), R"(/tmp/\u{1b}]0;owned\u{7}\u{1b}[2J)");
  EXPECT_EQ(displayable("/tmp/\xe2\x80\xae"
                        "fdp.exe"),
            R"(/tmp/\u{202e}fdp.exe)");
  EXPECT_EQ(displayable("/tmp/\xc2\x9b"
                        "31m"),
            R"(/tmp/\u{9b}31m)");  // CSI as one C1 byte
  // A real backslash is doubled, so it cannot pass for an escape.
  EXPECT_EQ(displayable(R"(/tmp/a\nb)"), R"(/tmp/a\\nb)");
  EXPECT_EQ(displayable("/tmp/caf\xc3\xa9 \"q\" \xff"), "/tmp/caf\xc3\xa9 \"q\" \xef\xbf\xbd");
}

TEST(Displayable, MessagesLoseTheirTrailingLineBreak) {
  EXPECT_EQ(displayable_message("Error response from daemon: busy\n"),
            "Error response from daemon: busy");
  EXPECT_EQ(displayable_message("one\ntwo\r\n \t"), R"(one\ntwo)");
  EXPECT_EQ(displayable_message(""), "");
}

TEST(DisplayWidth, WideCharactersCountTwo) {
  EXPECT_EQ(display_width(""), 0u);
  EXPECT_EQ(display_width("/tmp/abc"), 8u);
  EXPECT_EQ(display_width("caf\xc3\xa9"), 4u);
  EXPECT_EQ(display_width("\xd0\x96"), 1u);                  // Cyrillic, below U+1100
  EXPECT_EQ(display_width("\xe6\x97\xa5\xe6\x9c\xac"), 4u);  // two CJK ideographs
  EXPECT_EQ(display_width("\xf0\x9f\x90\xb3"), 2u);          // an emoji
  EXPECT_EQ(display_width("\xe1\x83\x90"), 1u);              // Georgian, U+10D0
  EXPECT_EQ(display_width("\xe1\x84\x80"), 2u);              // Hangul jamo, U+1100
}

TEST(ShortenMiddle, KeepsMoreOfTheEnd) {
  EXPECT_EQ(shorten_middle("/short", 10), "/short");
  EXPECT_EQ(shorten_middle("/short", 6), "/short");
  // The ellipsis is counted as two columns (see display_width).
  EXPECT_EQ(shorten_middle("/Users/me/Library/Caches/app/blob.bin", 17),
            "/User\xe2\x80\xa6"
            "p/blob.bin");
  EXPECT_EQ(shorten_middle("/abc", 2), "\xe2\x80\xa6");
  EXPECT_EQ(shorten_middle("/abc", 1), "/");
  EXPECT_EQ(shorten_middle("/abc", 0), "");
}

TEST(ShortenMiddle, NeverSplitsOrOverrunsWideCharacters) {
  const std::string wide =
      "/\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e/\xe6\x97\xa5\xe6\x9c\xac";  // 11 cols
  for (std::size_t columns = 0; columns <= 12; ++columns) {
    const std::string shortened = shorten_middle(wide, columns);
    EXPECT_LE(display_width(shortened), columns) << columns;
    EXPECT_TRUE(sorvik_lib::types::is_valid_utf8(shortened)) << columns;
  }
  EXPECT_EQ(shorten_middle(wide, 6), "/\xe2\x80\xa6\xe6\x9c\xac");
  EXPECT_EQ(shorten_middle(wide, 7), "/\xe2\x80\xa6\xe6\x97\xa5\xe6\x9c\xac");
}

TEST(TruncateToWidth, CutsBetweenCharacters) {
  EXPECT_EQ(truncate_to_width("abcdef", 3), "abc");
  EXPECT_EQ(truncate_to_width("abc", 10), "abc");
  EXPECT_EQ(truncate_to_width("a\xe6\x97\xa5"
                              "b",
                              2),
            "a");
  EXPECT_EQ(truncate_to_width("a\xe6\x97\xa5"
                              "b",
                              3),
            "a\xe6\x97\xa5");
}

}  // namespace
}  // namespace sorvik_cli
