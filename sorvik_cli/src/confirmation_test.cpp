// The yes-or-no question `sorvik docker prune` asks on a terminal.
#include "confirmation.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "sorvik_lib/sys/io.hpp"

namespace sorvik_cli {
namespace {

TEST(Confirmation, OnlyYOrYesInAnyCaseIsYes) {
  for (const std::string_view yes : {"y", "Y", "yes", "YES", "yEs", " y\r\n", "\tyes "}) {
    EXPECT_TRUE(answered_yes(yes)) << yes;
  }
  for (const std::string_view no : {"", "\n", "n", "no", "N", "ye", "yess", "y y", "sure", "oui"}) {
    EXPECT_FALSE(answered_yes(no)) << no;
  }
}

// The question on one pipe, the answer from another.
struct Exchange {
  bool yes = false;
  std::string asked;
};

Exchange exchange(std::string_view typed) {
  int in[2];
  int out[2];
  EXPECT_EQ(::pipe(in), 0);
  EXPECT_EQ(::pipe(out), 0);
  EXPECT_TRUE(sorvik_lib::sys::write_all(in[1], typed).has_value());
  ::close(in[1]);
  const auto answer = ask_yes_no("Prune it?", in[0], out[1]);
  ::close(out[1]);
  Exchange result;
  result.yes = answer.value_or(false);
  EXPECT_TRUE(answer.has_value());
  result.asked = sorvik_lib::sys::read_all(out[0]).value_or("");
  ::close(in[0]);
  ::close(out[0]);
  return result;
}

TEST(Confirmation, AsksThenReadsOneLine) {
  const auto yes = exchange("yes\nno\n");
  EXPECT_TRUE(yes.yes);
  EXPECT_EQ(yes.asked, "Prune it? [y/N] ");
  EXPECT_FALSE(exchange("n\ny\n").yes);
  EXPECT_FALSE(exchange("").yes);
  EXPECT_TRUE(exchange("Y").yes);
}

}  // namespace
}  // namespace sorvik_cli
