// The text of a system error number.
#include "sorvik_lib/sys/system_error.hpp"

#include <gtest/gtest.h>

namespace sorvik_lib::sys {
namespace {

TEST(SystemError, MessageIsDescriptionThenOsErrorNumber) {
  EXPECT_EQ(SystemError(ENOENT).message(), "No such file or directory (os error 2)");
  EXPECT_EQ(SystemError(EACCES).message(), "Permission denied (os error 13)");
  EXPECT_EQ(SystemError(ENOTDIR).message(), "Not a directory (os error 20)");
}

TEST(SystemError, UnknownNumberStillGivesText) {
  const std::string message = SystemError(99999).message();
  EXPECT_FALSE(message.empty());
  EXPECT_TRUE(message.ends_with(" (os error 99999)")) << message;
}

}  // namespace
}  // namespace sorvik_lib::sys
