// The quoted, escaped form of texts in log messages.
#include "sorvik_lib/log/quoted.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace sorvik_lib::log {
namespace {

TEST(Quoted, PlainTextIsOnlyQuoted) {
  EXPECT_EQ(quoted(""), R"("")");
  EXPECT_EQ(quoted("Total reclaimed space: 1.5GB"), R"("Total reclaimed space: 1.5GB")");
  EXPECT_EQ(quoted("it's {{json .}}"), R"("it's {{json .}}")");
}

TEST(Quoted, NamedEscapes) {
  EXPECT_EQ(quoted("a\"b\\c"), R"("a\"b\\c")");
  EXPECT_EQ(quoted("l1\r\nl2\tx"), R"("l1\r\nl2\tx")");
  EXPECT_EQ(quoted(std::string_view("a\0b", 3)), R"("a\0b")");
}

TEST(Quoted, OtherControlsAsHexWithoutLeadingZeros) {
  EXPECT_EQ(quoted("\x1b[0m"), R"("\u{1b}[0m")");
  EXPECT_EQ(quoted("\x01\x7f"), R"("\u{1}\u{7f}")");
  EXPECT_EQ(quoted("\xc2\x85"), R"("\u{85}")");        // next line, a C1 control
  EXPECT_EQ(quoted("\xe2\x80\x8b"), R"("\u{200b}")");  // zero width space
  EXPECT_EQ(quoted("\xe2\x80\xa8"), R"("\u{2028}")");  // line separator
  EXPECT_EQ(quoted("\xef\xbb\xbf"), R"("\u{feff}")");  // byte order mark
  EXPECT_EQ(quoted("\xf3\xa0\x80\x81"), R"("\u{e0001}")");
}

TEST(Quoted, PrintableUnicodeStaysAsItIs) {
  EXPECT_EQ(quoted("caf\xc3\xa9 \xe2\x86\x92 \xf0\x9f\x90\xb3"),
            "\"caf\xc3\xa9 \xe2\x86\x92 \xf0\x9f\x90\xb3\"");
  EXPECT_EQ(quoted("\xef\xbf\xbd"), "\"\xef\xbf\xbd\"");
}

TEST(Quoted, IllFormedBytesShowAsReplacementCharacters) {
  EXPECT_EQ(quoted("a\xff"), "\"a\xef\xbf\xbd\"");
}

TEST(Escaped, SameEscapesWithoutTheQuotes) {
  EXPECT_EQ(escaped("say \"hi\""), "say \"hi\"");
  EXPECT_EQ(escaped("a\\b\nc\x1b]0;title\x07\xff"), R"(a\\b\nc\u{1b}]0;title\u{7})"
                                                    "\xef\xbf\xbd");
  EXPECT_EQ(escaped("\xe2\x80\xae"
                    "cba"),
            R"(\u{202e}cba)");  // right-to-left override
}

TEST(QuotedList, BracketsAndCommas) {
  EXPECT_EQ(quoted_list(std::vector<std::string>{}), "[]");
  EXPECT_EQ(quoted_list(std::vector<std::string>{"docker", "image", "prune", "-f"}),
            R"(["docker", "image", "prune", "-f"])");
  EXPECT_EQ(quoted_list(std::vector<std::string>{"a\"", ""}), R"(["a\"", ""])");
}

}  // namespace
}  // namespace sorvik_lib::log
