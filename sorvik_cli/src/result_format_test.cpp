// A decoded result as readable lines and as JSON.
#include "result_format.hpp"

#include <gtest/gtest.h>

namespace sorvik_cli {
namespace {

sorvik_lib::types::CleanResult sample() {
  return {{"/tmp/a", "/tmp/bad\xFF"}, {{"/tmp/c", "Permission denied (os error 13)"}}, 1'234'567};
}

TEST(ResultFormat, ReadableLines) {
  EXPECT_EQ(format_result(sample()),
            "removed: 2\n  /tmp/a\n  /tmp/bad\xEF\xBF\xBD\n"
            "errors: 1\n  /tmp/c: Permission denied (os error 13)\n"
            "bytes freed: 1234567 (1.235MB)\n");
}

TEST(ResultFormat, JsonUsesTheRecordFieldNames) {
  const auto json = result_to_json(sample());
  EXPECT_EQ(json.dump(),
            R"j({"bytesFreed":1234567,"errors":[{"message":"Permission denied (os error 13)",)j"
            R"j("path":"/tmp/c"}],"removed":["/tmp/a","/tmp/bad�"]})j");
  EXPECT_EQ(result_to_json({}).dump(), R"({"bytesFreed":0,"errors":[],"removed":[]})");
}

}  // namespace
}  // namespace sorvik_cli
