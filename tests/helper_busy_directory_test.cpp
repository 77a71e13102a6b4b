// Directories that others keep filling while the real helper empties them: it lists each one a
// bounded number of times, then gives up on it with the system's "Directory not empty", and ends
// while the writers still write, in a removal and inside a kept root. Should the helper outrun
// the writers for a moment and remove the directory, that is an end too.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "sorvik_lib/sys/system_error.hpp"
#include "sorvik_lib/types/wire.hpp"
#include "support/helper_process.hpp"

namespace sorvik_test {
namespace {

namespace fs = std::filesystem;
using sorvik_lib::types::CleanResult;

const std::string kNotEmpty = sorvik_lib::sys::SystemError(ENOTEMPTY).message();

// Threads that create empty files in `directory` as fast as they can, until they are stopped,
// they have written for ten seconds, or the directory is gone.
class Writers {
 public:
  Writers(const fs::path& directory, int count) {
    for (int writer = 0; writer < count; ++writer) {
      threads_.emplace_back([this, directory, writer] { write(directory, writer); });
    }
    // Under way before the helper starts.
    while (created_.load() < 1000 && !lost_directory_.load()) std::this_thread::yield();
  }
  ~Writers() {
    stop_.store(true);
    for (std::thread& thread : threads_) thread.join();
  }
  Writers(const Writers&) = delete;
  Writers& operator=(const Writers&) = delete;

  // They have not written for as long as they may.
  [[nodiscard]] bool within_time() const { return !out_of_time_.load(); }

 private:
  void write(const fs::path& directory, int writer) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (long n = 0; !stop_.load(); ++n) {
      if (std::chrono::steady_clock::now() > deadline) {
        out_of_time_.store(true);
        return;
      }
      const std::string name =
          (directory / ("w" + std::to_string(writer) + "-" + std::to_string(n))).string();
      const int fd = ::open(name.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
      if (fd < 0) {
        lost_directory_.store(true);
        return;
      }
      ::close(fd);
      created_.fetch_add(1);
    }
  }

  std::atomic<bool> stop_{false};
  std::atomic<bool> out_of_time_{false};
  std::atomic<bool> lost_directory_{false};
  std::atomic<long> created_{0};
  std::vector<std::thread> threads_;
};

CleanResult clean(const std::vector<std::string>& paths, const std::vector<std::string>& keep) {
  const auto ran = run_helper(elevated_request(paths, keep));
  EXPECT_EQ(ran.error, "");
  EXPECT_TRUE(ran.status.success()) << ran.status.to_string();
  return decode_exact(ran.output);
}

TEST(HelperBusyDirectory, ARemovalGivesUpOnADirectoryOthersKeepFilling) {
  TempDir dir(fast_temp_directory());
  fs::create_directories(dir / "t/sub");
  const Writers writers(dir / "t/sub", 2);
  const std::string tree = (dir / "t").string();
  const CleanResult result = clean({tree}, {});
  EXPECT_TRUE(writers.within_time());
  const CleanResult gave_up{{}, {{tree, kNotEmpty}}, 0};
  const CleanResult outran{{tree}, {}, 0};
  EXPECT_TRUE(result == gave_up || result == outran) << result.errors.size();
}

TEST(HelperBusyDirectory, AKeptRootFailsThatEntryAloneAndEmptiesTheRest) {
  TempDir dir(fast_temp_directory());
  fs::create_directories(dir / "kept/sub");
  write_file(dir / "kept/file", std::string(10, 'f'));
  const Writers writers(dir / "kept/sub", 2);
  const std::string kept = (dir / "kept").string();
  const CleanResult result = clean({kept}, {kept});
  EXPECT_TRUE(writers.within_time());
  const CleanResult gave_up{{kept}, {{kept + "/sub", kNotEmpty}}, 10};
  const CleanResult outran{{kept}, {}, 10};
  EXPECT_TRUE(result == gave_up || result == outran) << result.errors.size();
  EXPECT_FALSE(fs::exists(dir / "kept/file"));
}

}  // namespace
}  // namespace sorvik_test
