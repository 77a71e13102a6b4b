// Stand-ins for `docker` and `sudo`: shell scripts in a fresh temporary directory that becomes
// the whole executable search path while the object lives. Each call is logged with its
// arguments and answered with the output, error text and exit status (or signal) the test set.
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sorvik_test {

class StandInPrograms {
 public:
  // Installs `docker` and `sudo` and points PATH at them alone.
  StandInPrograms();
  // Restores PATH and removes the directory.
  ~StandInPrograms();
  StandInPrograms(const StandInPrograms&) = delete;
  StandInPrograms& operator=(const StandInPrograms&) = delete;

  // How the stand-in answers the call `command` (program first, then each argument); a later
  // answer for the same call replaces the earlier one. A call with no answer writes a complaint
  // to its standard error and exits with status 99.
  void answer(const std::vector<std::string>& command, std::string_view output,
              std::string_view error = {}, int status = 0);
  // As `answer`, but the stand-in then kills itself with `signal_name` (e.g. "KILL").
  void answer_with_signal(const std::vector<std::string>& command, std::string_view output,
                          std::string_view error, std::string_view signal_name);
  // As `answer`, but the stand-in then waits until it gets SIGTERM (listed in waiting() from the
  // moment it does), lists the call in terminated() and exits with status 143.
  void answer_until_terminated(const std::vector<std::string>& command, std::string_view output);
  // `docker --version` succeeds, as it does wherever the CLI is installed.
  void answer_version();

  // Takes `program` off the search path.
  void remove(std::string_view program);

  // Every call made so far, in order, each as program and arguments.
  [[nodiscard]] std::vector<std::vector<std::string>> calls() const;
  // The calls answered by answer_until_terminated that wait for SIGTERM now or did, and those
  // that got it.
  [[nodiscard]] std::vector<std::vector<std::string>> waiting() const;
  [[nodiscard]] std::vector<std::vector<std::string>> terminated() const;

  [[nodiscard]] const std::filesystem::path& directory() const { return directory_; }

 private:
  [[nodiscard]] static std::vector<std::vector<std::string>> read_calls(
      const std::filesystem::path& log);
  void write_answer(const std::vector<std::string>& command, std::string_view output,
                    std::string_view error, std::string_view status);

  std::filesystem::path directory_;
  std::string saved_path_;
  bool had_path_ = false;
  std::map<std::string, int> answer_numbers_;
};

// PATH set to `value` (unset for nothing) and the working directory moved to `directory` while
// the object lives; both come back after.
class ScopedSearch {
 public:
  ScopedSearch(const std::optional<std::string>& value, const std::filesystem::path& directory);
  ~ScopedSearch();
  ScopedSearch(const ScopedSearch&) = delete;
  ScopedSearch& operator=(const ScopedSearch&) = delete;

 private:
  std::filesystem::path directory_;
  std::optional<std::string> saved_path_;
};

}  // namespace sorvik_test
