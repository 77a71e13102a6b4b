// The logging facade: its level, its one sink and the docker strategy's records.
#include "sorvik_lib/log/log.hpp"

#include <gtest/gtest.h>

#include "strategies/docker/docker_log.hpp"
#include "support/log_capture.hpp"

namespace sorvik_lib::log {
namespace {

using sorvik_test::LogCapture;

TEST(LogFacade, StartsOffAndBuildsNothing) {
  EXPECT_EQ(max_level(), Level::Off);
  EXPECT_FALSE(enabled(Level::Error));
  bool built = false;
  strategies::docker::log_info([&] {
    built = true;
    return std::string("never");
  });
  EXPECT_FALSE(built);
}

TEST(LogFacade, AdmitsLevelsUpToTheMaximum) {
  LogCapture capture(Level::Warn);
  EXPECT_TRUE(enabled(Level::Error));
  EXPECT_TRUE(enabled(Level::Warn));
  EXPECT_FALSE(enabled(Level::Info));
  EXPECT_FALSE(enabled(Level::Off));
  emit({Level::Info, "t", "f", "dropped"});
  emit({Level::Error, "t", "f", "kept"});
  ASSERT_EQ(capture.records().size(), 1u);
  EXPECT_EQ(capture.records()[0].message, "kept");
}

TEST(LogFacade, DockerRecordsCarryTheirTargetAndFile) {
  LogCapture capture;
  strategies::docker::log_info([] { return std::string("hello"); });
  ASSERT_EQ(capture.records().size(), 1u);
  const auto& record = capture.records()[0];
  EXPECT_EQ(record.level, Level::Info);
  EXPECT_EQ(record.target, "sorvik_lib::strategies::docker");
  EXPECT_EQ(record.file, "src/strategies/docker");
  EXPECT_EQ(record.message, "hello");
}

TEST(LogFacade, WithoutASinkAdmittedRecordsGoNowhere) {
  LogCapture capture(Level::Trace);
  emit({Level::Info, "t", "f", "heard"});
  set_sink(nullptr);
  EXPECT_TRUE(enabled(Level::Info));
  emit({Level::Info, "t", "f", "nobody listens"});
  EXPECT_EQ(capture.messages(), std::vector<std::string>{"heard"});
}

}  // namespace
}  // namespace sorvik_lib::log
