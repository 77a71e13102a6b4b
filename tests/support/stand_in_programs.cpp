// The stand-in programs. The script uses only shell built-ins, /bin/cat and /bin/sleep, so PATH
// can hold the stand-ins and nothing else.
#include "support/stand_in_programs.hpp"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>  // mkdtemp, on macOS

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace sorvik_test {
namespace {

constexpr std::string_view kScript = R"(#!/bin/sh
# Stand-in for a command-line program: logs each call and answers as the test configured it.
here=${0%/*}
call="[${0##*/}]"
for argument in "$@"; do call="$call [$argument]"; done
printf '%s\n' "$call" >> "$here/calls.log"
for expected in "$here"/answers/*.call; do
  [ -f "$expected" ] || continue
  IFS= read -r wanted < "$expected"
  [ "$wanted" = "$call" ] || continue
  answer=${expected%.call}
  /bin/cat "$answer.err" >&2
  /bin/cat "$answer.out"
  IFS= read -r status < "$answer.status"
  case $status in
    signal:*) kill -s "${status#signal:}" $$ ;;
    until-term)
      trap 'kill "$sleeper"; printf "%s\n" "$call" >> "$here/terminated.log"; exit 143' TERM
      /bin/sleep 60 < /dev/null > /dev/null 2>&1 &
      sleeper=$!
      printf '%s\n' "$call" >> "$here/waiting.log"
      wait "$sleeper"
      exit 98 ;;
  esac
  exit "$status"
done
printf 'stand-in: no answer for %s\n' "$call" >&2
exit 99
)";

void write(const std::filesystem::path& path, std::string_view content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

// The form in which the script logs and matches a call.
std::string call_line(const std::vector<std::string>& command) {
  std::string line;
  for (const auto& part : command) {
    if (!line.empty()) line += ' ';
    line += '[' + part + ']';
  }
  return line;
}

}  // namespace

StandInPrograms::StandInPrograms() {
  std::string pattern = (std::filesystem::temp_directory_path() / "sorvik-standin-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  directory_ = pattern;
  std::filesystem::create_directory(directory_ / "answers");
  for (const char* program : {"docker", "sudo"}) {
    write(directory_ / program, kScript);
    ::chmod((directory_ / program).c_str(), 0755);
  }
  if (const char* path = ::getenv("PATH")) {
    had_path_ = true;
    saved_path_ = path;
  }
  ::setenv("PATH", directory_.c_str(), 1);
}

StandInPrograms::~StandInPrograms() {
  if (had_path_) {
    ::setenv("PATH", saved_path_.c_str(), 1);
  } else {
    ::unsetenv("PATH");
  }
  std::error_code ignored;
  std::filesystem::remove_all(directory_, ignored);
}

void StandInPrograms::answer(const std::vector<std::string>& command, std::string_view output,
                             std::string_view error, int status) {
  write_answer(command, output, error, std::to_string(status));
}

void StandInPrograms::answer_with_signal(const std::vector<std::string>& command,
                                         std::string_view output, std::string_view error,
                                         std::string_view signal_name) {
  write_answer(command, output, error, "signal:" + std::string(signal_name));
}

void StandInPrograms::answer_until_terminated(const std::vector<std::string>& command,
                                              std::string_view output) {
  write_answer(command, output, {}, "until-term");
}

void StandInPrograms::answer_version() {
  answer({"docker", "--version"}, "Docker version 99.0.0, build stand-in\n");
}

void StandInPrograms::remove(std::string_view program) {
  std::filesystem::remove(directory_ / program);
}

std::vector<std::vector<std::string>> StandInPrograms::calls() const {
  return read_calls(directory_ / "calls.log");
}

std::vector<std::vector<std::string>> StandInPrograms::waiting() const {
  return read_calls(directory_ / "waiting.log");
}

std::vector<std::vector<std::string>> StandInPrograms::terminated() const {
  return read_calls(directory_ / "terminated.log");
}

std::vector<std::vector<std::string>> StandInPrograms::read_calls(
    const std::filesystem::path& log) {
  std::ifstream in(log);
  std::vector<std::vector<std::string>> calls;
  for (std::string line; std::getline(in, line);) {
    // "[a] [b c]" back into its parts; no test argument holds "] [".
    std::vector<std::string> command;
    const std::string_view rest = std::string_view(line).substr(1, line.size() - 2);
    std::size_t start = 0;
    for (std::size_t end; (end = rest.find("] [", start)) != std::string_view::npos;
         start = end + 3) {
      command.emplace_back(rest.substr(start, end - start));
    }
    command.emplace_back(rest.substr(start));
    calls.push_back(std::move(command));
  }
  return calls;
}

void StandInPrograms::write_answer(const std::vector<std::string>& command, std::string_view output,
                                   std::string_view error, std::string_view status) {
  const std::string line = call_line(command);
  auto [entry, added] = answer_numbers_.try_emplace(line, static_cast<int>(answer_numbers_.size()));
  std::ostringstream base;
  base << "answer" << 1000 + entry->second;
  const auto path = directory_ / "answers" / base.str();
  write(std::filesystem::path(path).concat(".out"), output);
  write(std::filesystem::path(path).concat(".err"), error);
  write(std::filesystem::path(path).concat(".status"), std::string(status) + "\n");
  // The call file last: the script never sees an answer half written.
  write(std::filesystem::path(path).concat(".call"), line + "\n");
}

ScopedSearch::ScopedSearch(const std::optional<std::string>& value,
                           const std::filesystem::path& directory)
    : directory_(std::filesystem::current_path()) {
  if (const char* path = ::getenv("PATH")) saved_path_ = path;
  if (value) {
    ::setenv("PATH", value->c_str(), 1);
  } else {
    ::unsetenv("PATH");
  }
  std::filesystem::current_path(directory);
}

ScopedSearch::~ScopedSearch() {
  if (saved_path_) {
    ::setenv("PATH", saved_path_->c_str(), 1);
  } else {
    ::unsetenv("PATH");
  }
  std::error_code ignored;
  std::filesystem::current_path(directory_, ignored);
}

}  // namespace sorvik_test
