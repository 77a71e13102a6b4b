// Writing the one result to standard output, also when a path in it is not UTF-8.
#include "result_output.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <unistd.h>

#include "sorvik_lib/sys/io.hpp"
#include "sorvik_lib/types/wire.hpp"

namespace sorvik_helper {
namespace {

using sorvik_lib::types::CleanResult;

// What write_result puts on standard output, caught in an unnamed temporary file.
std::string written_by(const CleanResult& result) {
  FILE* capture = ::tmpfile();
  const int saved = ::dup(STDOUT_FILENO);
  ::dup2(::fileno(capture), STDOUT_FILENO);
  write_result(result);
  ::dup2(saved, STDOUT_FILENO);
  ::close(saved);
  ::lseek(::fileno(capture), 0, SEEK_SET);
  auto bytes = sorvik_lib::sys::read_all(::fileno(capture)).value();
  ::fclose(capture);
  return bytes;
}

TEST(WriteResult, AValidResultIsWrittenAsEncoded) {
  const CleanResult result{{"/a"}, {{"/b", "Permission denied (os error 13)"}}, 7};
  EXPECT_EQ(written_by(result), sorvik_lib::types::encode_result(result).value());
}

TEST(WriteResult, PathsThatAreNotUtf8AreMadeReadableRatherThanLost) {
  const CleanResult result{
      {"/kept", "/caf\xE9"}, {{"/kept/bad\xFF\xFEname", "Permission denied (os error 13)"}}, 42};
  EXPECT_FALSE(sorvik_lib::types::encode_result(result));
  const auto decoded = sorvik_lib::types::decode_result(written_by(result));
  ASSERT_TRUE(decoded);
  EXPECT_EQ(
      *decoded,
      (CleanResult{{"/kept", "/caf\xEF\xBF\xBD"},
                   {{"/kept/bad\xEF\xBF\xBD\xEF\xBF\xBDname", "Permission denied (os error 13)"}},
                   42}));
}

}  // namespace
}  // namespace sorvik_helper
