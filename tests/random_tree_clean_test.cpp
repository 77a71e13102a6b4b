// `sorvik clean` on small random trees of directories, files and links, then on a few named
// trees: what went must be what was asked for, the credit must be what went, and a preview must
// show what its real run then does.
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/helper_process.hpp"
#include "support/immutable_file.hpp"

namespace sorvik_test {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

// The user the unprivileged runs take (nobody on Debian and macOS alike).
constexpr uid_t kNobody = 65534;

// ---------------------------------------------------------------------------------------------
// Running the tool, as root or as another user.

struct ToolRun {
  int status = -1;
  std::string output;
  std::string error;
};

// Reads both pipes until the child has closed them, so that neither can fill up and stall it.
void drain(int out_fd, int error_fd, std::string& output, std::string& error) {
  pollfd fds[2] = {{out_fd, POLLIN, 0}, {error_fd, POLLIN, 0}};
  std::string* sinks[2] = {&output, &error};
  int open_count = 2;
  char buffer[4096];
  while (open_count > 0) {
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      const ssize_t count = ::read(fds[i].fd, buffer, sizeof buffer);
      if (count < 0 && errno == EINTR) continue;
      if (count <= 0) {
        fds[i].fd = -1;
        --open_count;
        continue;
      }
      sinks[i]->append(buffer, static_cast<std::size_t>(count));
    }
  }
}

// `sorvik clean --json ARGUMENTS...` from inside `directory`; with `user`, the child drops to that
// user (groups, group, then user) before it starts the tool, so that the removals it makes are
// that user's.
ToolRun run_clean(const fs::path& directory, const std::vector<std::string>& arguments,
                  std::optional<uid_t> user = std::nullopt) {
  std::vector<std::string> words = {kCliPath, "clean", "--json"};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (auto& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  const std::string where = directory.string();

  int out[2];
  int err[2];
  if (::pipe(out) != 0) throw std::runtime_error("pipe failed");
  if (::pipe(err) != 0) {
    ::close(out[0]);
    ::close(out[1]);
    throw std::runtime_error("pipe failed");
  }
  for (const int fd : {out[0], out[1], err[0], err[1]}) ::fcntl(fd, F_SETFD, FD_CLOEXEC);
  const pid_t child = ::fork();
  if (child == 0) {
    // Only async-signal-safe calls from here on: everything was prepared before the fork.
    if (::dup2(out[1], STDOUT_FILENO) < 0 || ::dup2(err[1], STDERR_FILENO) < 0) ::_exit(126);
    if (::chdir(where.c_str()) != 0) ::_exit(126);
    if (user) {
      const gid_t group = static_cast<gid_t>(*user);
      if (::setgroups(0, nullptr) != 0 || ::setgid(group) != 0 || ::setuid(*user) != 0) {
        ::_exit(125);
      }
    }
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(out[1]);
  ::close(err[1]);
  ToolRun run;
  if (child > 0) drain(out[0], err[0], run.output, run.error);
  ::close(out[0]);
  ::close(err[0]);
  if (child < 0) throw std::runtime_error("fork failed");
  int wait_status = 0;
  while (::waitpid(child, &wait_status, 0) < 0 && errno == EINTR) {
  }
  run.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
  return run;
}

// Whether a child can drop to `user`: root without the right to change users (some containers)
// cannot.
bool can_become(uid_t user) {
  if (::geteuid() != 0) return false;
  const pid_t child = ::fork();
  if (child == 0) {
    const gid_t group = static_cast<gid_t>(user);
    ::_exit(::setgroups(0, nullptr) == 0 && ::setgid(group) == 0 && ::setuid(user) == 0 ? 0 : 1);
  }
  if (child < 0) return false;
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// ---------------------------------------------------------------------------------------------
// Snapshots: every entry of a tree, links not followed.

struct Entry {
  char type = '?';  // 'd' directory, 'f' regular file, 'l' link, '?' anything else
  std::uint64_t size = 0;
  dev_t device = 0;
  ino_t inode = 0;
  std::string target;  // a link's text

  bool same_identity(const Entry& other) const {
    return device == other.device && inode == other.inode && type == other.type;
  }
  bool operator==(const Entry& other) const {
    return same_identity(other) && size == other.size && target == other.target;
  }
};

// Relative path ("" for the root itself) to what lies there.
using Snapshot = std::map<std::string, Entry>;

std::string join_relative(const std::string& parent, const std::string& name) {
  return parent.empty() ? name : parent + "/" + name;
}

void add_to_snapshot(const fs::path& root, const std::string& relative, Snapshot& snapshot) {
  const fs::path path = relative.empty() ? root : root / relative;
  struct stat status {};
  if (::lstat(path.c_str(), &status) != 0) return;
  Entry entry;
  entry.device = status.st_dev;
  entry.inode = status.st_ino;
  if (S_ISDIR(status.st_mode)) {
    entry.type = 'd';
  } else if (S_ISREG(status.st_mode)) {
    entry.type = 'f';
    entry.size = static_cast<std::uint64_t>(status.st_size);
  } else if (S_ISLNK(status.st_mode)) {
    entry.type = 'l';
    char target[PATH_MAX];
    const ssize_t length = ::readlink(path.c_str(), target, sizeof target);
    if (length > 0) entry.target.assign(target, static_cast<std::size_t>(length));
  }
  snapshot[relative] = entry;
  if (entry.type != 'd') return;
  DIR* directory = ::opendir(path.c_str());
  if (directory == nullptr) return;
  std::vector<std::string> names;
  while (const dirent* item = ::readdir(directory)) {
    const std::string name = item->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  ::closedir(directory);
  for (const auto& name : names) add_to_snapshot(root, join_relative(relative, name), snapshot);
}

Snapshot take_snapshot(const fs::path& root) {
  Snapshot snapshot;
  add_to_snapshot(root, "", snapshot);
  return snapshot;
}

std::string describe(const Snapshot& snapshot) {
  std::ostringstream text;
  for (const auto& [relative, entry] : snapshot) {
    text << "  " << (relative.empty() ? "." : relative) << "  ";
    switch (entry.type) {
      case 'd':
        text << "dir";
        break;
      case 'f':
        text << "file " << entry.size;
        break;
      case 'l':
        text << "link -> " << entry.target;
        break;
      default:
        text << "other";
    }
    text << "\n";
  }
  return text.str();
}

// ---------------------------------------------------------------------------------------------
// What a request may take, worked out on the tree before any run.

bool is_directory(const std::string& path) {
  struct stat status {};
  return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

std::optional<std::string> resolve(const std::string& path) {
  char resolved[PATH_MAX];
  if (::realpath(path.c_str(), resolved) == nullptr) return std::nullopt;
  return std::string(resolved);
}

// A trailing "/" or "/." names what the path without it names.
std::string without_trailing(std::string path) {
  for (bool changed = true; changed && path.size() > 1;) {
    changed = false;
    if (path.ends_with("/.")) {
      path.resize(path.size() - 2);
      changed = true;
    } else if (path.ends_with("/")) {
      path.pop_back();
      changed = true;
    }
  }
  return path;
}

struct PathFacts {
  std::string text;
  // The path's own entry: its parent resolved, plus its last name.
  std::optional<std::string> own;
  // The directory it leads to, links followed.
  std::optional<std::string> directory;
  bool own_is_link = false;
  bool has_suffix = false;
};

PathFacts facts_of(const std::string& path) {
  PathFacts facts;
  facts.text = path;
  const std::string bare = without_trailing(path);
  facts.has_suffix = bare != path;
  const auto slash = bare.rfind('/');
  if (slash != std::string::npos && slash > 0) {
    if (const auto parent = resolve(bare.substr(0, slash))) {
      facts.own = *parent + bare.substr(slash);
      struct stat status {};
      facts.own_is_link = ::lstat(facts.own->c_str(), &status) == 0 && S_ISLNK(status.st_mode);
    }
  }
  if (is_directory(path)) facts.directory = resolve(path);
  return facts;
}

bool strictly_below(const std::string& path, const std::string& directory) {
  return path.size() > directory.size() + 1 && path.starts_with(directory) &&
         path[directory.size()] == '/';
}

// ---------------------------------------------------------------------------------------------
// One case: the preview, the real run, and the checks of both against the snapshots.

struct Request {
  std::vector<std::string> paths;
  std::vector<std::string> keeps;

  std::vector<std::string> arguments() const {
    std::vector<std::string> words;
    for (const auto& keep : keeps) {
      words.push_back("--keep");
      words.push_back(keep);
    }
    words.insert(words.end(), paths.begin(), paths.end());
    return words;
  }
};

struct Finding {
  std::string kind;  // short, the same for every case that fails the same way
  std::string detail;
};

struct Outcome {
  Snapshot before;
  json preview;
  json real;
  std::vector<Finding> findings;
  std::string story;  // the tree, the request and both answers, for a failure message
};

json parse_answer(const ToolRun& run, bool dry_run, std::vector<Finding>& findings) {
  const std::string which = dry_run ? "preview" : "run";
  if (run.status != 0 && run.status != 1) {
    findings.push_back({which + ": exit status " + std::to_string(run.status), run.error});
  }
  json document = json::parse(run.output, nullptr, false);
  if (document.is_discarded() || !document.is_object() ||
      !document.value("bytesFreed", json()).is_number_unsigned()) {
    findings.push_back({which + ": no JSON answer", run.output + run.error});
    return json::object({{"removed", json::array()}, {"errors", json::array()}, {"bytesFreed", 0}});
  }
  if (!run.error.empty()) findings.push_back({which + ": wrote to standard error", run.error});
  if (document.value("dryRun", json()) != dry_run) {
    findings.push_back({which + ": dryRun is wrong", run.output});
  }
  return document;
}

std::string relative_to(const fs::path& tree, const std::string& absolute) {
  const std::string root = tree.string();
  if (absolute == root) return "";
  return absolute.substr(root.size() + 1);
}

std::string absolute_of(const fs::path& tree, const std::string& relative) {
  return relative.empty() ? tree.string() : (tree / relative).string();
}

// How a preview differs from its run, in words that group alike cases: a path the preview lists
// that the run skips (gone by its turn), a kept root that is a file (the run fails it), or
// anything else; nothing when they agree.
std::optional<std::string> preview_difference(const json& preview, const json& real,
                                              const std::set<std::string>& kept_paths) {
  if (preview["removed"] == real["removed"] && preview["errors"] == real["errors"]) {
    if (preview["bytesFreed"] == real["bytesFreed"]) return std::nullopt;
    return "credits differently";
  }
  std::set<std::string> reasons;
  std::multiset<std::string> listed;
  for (const auto& path : preview["removed"]) listed.insert(path.get<std::string>());
  for (const auto& path : real["removed"]) {
    const auto found = listed.find(path.get<std::string>());
    if (found == listed.end()) {
      reasons.insert("the run removes a path the preview does not list");
    } else {
      listed.erase(found);
    }
  }
  std::multiset<std::string> kept_files;
  for (const auto& error : real["errors"]) {
    if (std::find(preview["errors"].begin(), preview["errors"].end(), error) !=
        preview["errors"].end()) {
      continue;
    }
    const std::string path = error.value("path", "");
    const bool kept = kept_paths.contains(path);
    if (kept && error.value("message", "") == "Not a directory (os error 20)") {
      reasons.insert("a kept file the run fails");
      kept_files.insert(path);
    } else {
      reasons.insert("the run fails a path the preview does not");
    }
  }
  for (const auto& error : preview["errors"]) {
    if (std::find(real["errors"].begin(), real["errors"].end(), error) == real["errors"].end()) {
      reasons.insert("the preview fails a path the run does not");
    }
  }
  for (const auto& path : listed) {
    if (const auto file = kept_files.find(path); file != kept_files.end()) {
      kept_files.erase(file);
    } else {
      reasons.insert("a path the run skips");
    }
  }
  // Every difference above makes a preview promise more than its run frees, never less.
  if (preview["bytesFreed"].get<std::uint64_t>() < real["bytesFreed"].get<std::uint64_t>()) {
    reasons.insert("the preview credits less than the run frees");
  }
  if (reasons.empty()) reasons.insert("the order of removals");
  std::string kind;
  for (const auto& reason : reasons) kind += (kind.empty() ? "" : " + ") + reason;
  return kind;
}

// Runs the preview as root, snapshots, then the real run (as `user` when given) and checks:
// the preview changed nothing; the credit is the bytes of the files gone; nothing went beyond
// the request; kept directories and kept links are still there; and, for a run as root, the
// preview listed, credited and failed what the run did.
Outcome run_and_check(const fs::path& scratch, const fs::path& tree, const Request& request,
                      std::optional<uid_t> user = std::nullopt) {
  Outcome outcome;
  auto& findings = outcome.findings;
  outcome.before = take_snapshot(tree);
  std::vector<PathFacts> facts;
  for (const auto& path : request.paths) facts.push_back(facts_of(path));
  std::vector<PathFacts> kept_facts;
  for (const auto& keep : request.keeps) kept_facts.push_back(facts_of(keep));

  // A path is kept when it names the entry a kept root names, or by the tool's own matching of
  // its text: component by component, so "/a/b/" keeps "/a/b".
  const auto is_kept = [&](const PathFacts& path) {
    return std::any_of(kept_facts.begin(), kept_facts.end(), [&](const PathFacts& keep) {
      return without_trailing(keep.text) == without_trailing(path.text) ||
             (keep.own && keep.own == path.own);
    });
  };
  std::vector<std::string> preview_arguments = request.arguments();
  preview_arguments.insert(preview_arguments.begin(), "--dry-run");
  const ToolRun preview = run_clean(scratch, preview_arguments);
  outcome.preview = parse_answer(preview, true, findings);
  const Snapshot after_preview = take_snapshot(tree);
  if (after_preview != outcome.before) {
    findings.push_back({"preview changed the tree", describe(after_preview)});
  }

  const ToolRun real = run_clean(scratch, request.arguments(), user);
  outcome.real = parse_answer(real, false, findings);
  const Snapshot after = take_snapshot(tree);

  std::set<std::pair<dev_t, ino_t>> left;
  for (const auto& [relative, entry] : after) left.insert({entry.device, entry.inode});
  std::uint64_t bytes_gone = 0;
  std::vector<std::string> gone;
  for (const auto& [relative, entry] : outcome.before) {
    if (entry.type == 'f' && !left.contains({entry.device, entry.inode})) bytes_gone += entry.size;
    const auto now = after.find(relative);
    if (now == after.end() || !now->second.same_identity(entry)) gone.push_back(relative);
  }

  const std::uint64_t credited = outcome.real["bytesFreed"].get<std::uint64_t>();
  if (credited != bytes_gone) {
    const bool failed = !outcome.real["errors"].empty();
    // A path whose directory is still there but that no longer leads to it: what is left cannot
    // be measured through its spelling.
    const bool cut_off = std::any_of(facts.begin(), facts.end(), [&](const PathFacts& path) {
      if (!path.directory || resolve(path.text) == path.directory) return false;
      if (!strictly_below(*path.directory, tree.string()) && *path.directory != tree.string()) {
        return false;
      }
      return after.contains(relative_to(tree, *path.directory));
    });
    std::string kind = credited > bytes_gone ? "credit: more than went" : "credit: less than went";
    kind += failed ? ", after a failure" : ", with no failure";
    if (cut_off) kind += ", by a path whose spelling went";
    findings.push_back({kind, "credited " + std::to_string(credited) + ", the files gone hold " +
                                  std::to_string(bytes_gone)});
  }

  for (const auto& relative : gone) {
    const std::string absolute = absolute_of(tree, relative);
    const bool asked = std::any_of(facts.begin(), facts.end(), [&](const PathFacts& path) {
      return path.own == absolute ||
             (path.directory && (strictly_below(absolute, *path.directory)));
    });
    if (!asked) findings.push_back({"gone beyond the request", relative.empty() ? "." : relative});
  }

  for (const auto& keep : kept_facts) {
    if (!keep.own || !keep.directory) continue;
    // Another path that takes the directory holding the kept root takes the kept root with it: a
    // directory removed or emptied, or any path with a trailing "/" through a link.
    const bool taken_by_another =
        std::any_of(facts.begin(), facts.end(), [&](const PathFacts& path) {
          if (path.own == keep.own || !path.directory) return false;
          if (path.own_is_link && !path.has_suffix && !is_kept(path)) return false;
          return strictly_below(*keep.own, *path.directory);
        });
    if (taken_by_another) continue;
    if (*keep.own != tree.string() && !strictly_below(*keep.own, tree.string())) continue;
    const std::string relative = relative_to(tree, *keep.own);
    const auto was = outcome.before.find(relative);
    if (was == outcome.before.end()) continue;
    const auto now = after.find(relative);
    if (now == after.end() || !now->second.same_identity(was->second)) {
      std::string kind = was->second.type == 'l' ? "kept link" : "kept directory";
      if (was->second.type == 'l' && strictly_below(*keep.own, *keep.directory)) {
        // In its target's own listing ("d/self -> .") or further down ("d/e/up -> ..").
        const bool directly = keep.own->substr(0, keep.own->rfind('/')) == *keep.directory;
        kind += directly ? " in its own target" : " deeper inside its own target";
      }
      findings.push_back({kind + " gone", keep.text});
    }
  }

  if (!user) {
    std::set<std::string> kept_paths;
    for (const auto& path : facts) {
      if (is_kept(path)) kept_paths.insert(path.text);
    }
    if (auto kind = preview_difference(outcome.preview, outcome.real, kept_paths)) {
      std::string detail;
      for (const char* key : {"removed", "bytesFreed", "errors"}) {
        detail += std::string(key) + ": preview " + outcome.preview[key].dump() + ", run " +
                  outcome.real[key].dump() + "; ";
      }
      findings.push_back({"preview differs: " + *kind, detail});
    }
  }

  std::ostringstream story;
  story << "tree " << tree.string() << " before:\n" << describe(outcome.before);
  story << "request (" << (user ? "run as nobody" : "run as root") << "): sorvik clean";
  for (const auto& word : request.arguments()) story << " " << word;
  story << "\npreview: " << outcome.preview.dump() << "\nrun:     " << outcome.real.dump()
        << "\ntree after the run:\n"
        << describe(after);
  outcome.story = story.str();
  return outcome;
}

std::string describe(const std::vector<Finding>& findings) {
  std::string text;
  for (const auto& finding : findings) text += finding.kind + ": " + finding.detail + "\n";
  return text;
}

// ---------------------------------------------------------------------------------------------
// Random trees and requests.

std::uint64_t environment_number(const char* name, std::uint64_t fallback) {
  const char* text = std::getenv(name);
  if (text == nullptr || *text == '\0') return fallback;
  std::uint64_t value = 0;
  const auto [end, error] = std::from_chars(text, text + std::strlen(text), value);
  if (error != std::errc() || *end != '\0') {
    ADD_FAILURE() << name << " is not a number: " << text;
    return fallback;
  }
  return value;
}

// The engine's numbers are the same with every C++ library, but the library's distributions are
// not: the dice take plain remainders, so that a seed replays a case in any build.
class Dice {
 public:
  explicit Dice(std::uint64_t seed) : engine_(seed) {}
  std::size_t below(std::size_t count) { return static_cast<std::size_t>(engine_() % count); }
  bool chance(double probability) {
    return static_cast<double>(engine_() % 1'000'000) < probability * 1'000'000;
  }
  template <typename T>
  const T& pick(const std::vector<T>& items) {
    return items[below(items.size())];
  }

 private:
  std::mt19937_64 engine_;
};

struct TreeEntry {
  std::string relative;
  char type;
  std::size_t depth;  // 1 for an entry of the root
};

// How a link at `from` (relative to the root) spells `to`, relative to its own directory.
std::string relative_spelling(const std::string& from, const std::string& to) {
  std::string spelling;
  const auto depth = static_cast<std::size_t>(std::count(from.begin(), from.end(), '/'));
  for (std::size_t i = 0; i < depth; ++i) spelling += "../";
  spelling += to;
  if (spelling.empty()) return ".";
  if (spelling.ends_with("/")) spelling.pop_back();
  return spelling;
}

// Up to 12 entries at most 3 deep; links are made last so that they can point at any of them,
// spelled relative or absolute, or at the root, ".", "..", or nothing.
void make_random_tree(const fs::path& tree, Dice& dice) {
  fs::create_directory(tree);
  std::vector<TreeEntry> entries;
  std::vector<TreeEntry> directories = {{"", 'd', 0}};
  std::vector<TreeEntry> links;
  const std::vector<std::string> names = {"a", "b", "c", "d", "e", "f", "g", "h"};
  const std::vector<std::size_t> sizes = {1, 10, 100, 1000, 10000};
  const std::size_t count = 1 + dice.below(12);
  for (std::size_t i = 0; i < count; ++i) {
    std::vector<TreeEntry> parents;
    for (const auto& directory : directories) {
      if (directory.depth < 3) parents.push_back(directory);
    }
    const TreeEntry parent = dice.pick(parents);
    std::string relative;
    for (std::size_t attempt = 0; attempt < 16 && relative.empty(); ++attempt) {
      const std::string candidate = join_relative(parent.relative, dice.pick(names));
      const bool taken = std::any_of(entries.begin(), entries.end(),
                                     [&](const TreeEntry& e) { return e.relative == candidate; });
      if (!taken) relative = candidate;
    }
    if (relative.empty()) continue;
    const std::size_t roll = dice.below(100);
    const char type = roll < 30 ? 'd' : roll < 65 ? 'f' : 'l';
    const TreeEntry entry{relative, type, parent.depth + 1};
    entries.push_back(entry);
    if (type == 'd') {
      fs::create_directory(tree / relative);
      directories.push_back(entry);
    } else if (type == 'f') {
      write_file(tree / relative, std::string(dice.pick(sizes), 'x'));
    } else {
      links.push_back(entry);
    }
  }
  for (const auto& link : links) {
    const std::size_t roll = dice.below(100);
    std::string target;
    if (roll < 15) {
      target = ".";
    } else if (roll < 25) {
      // ".." from the root's own entries would leave the tree.
      target = link.depth > 1 ? ".." : ".";
    } else if (roll < 33) {
      target = dice.chance(0.5) ? "nowhere" : (tree / "nowhere").string();
    } else if (roll < 45) {
      target = dice.chance(0.5) ? tree.string() : relative_spelling(link.relative, "");
    } else {
      const std::string to = dice.pick(entries).relative;
      target = dice.chance(0.4) ? (tree / to).string() : relative_spelling(link.relative, to);
    }
    fs::create_symlink(target, tree / link.relative);
  }
}

// A path spelled by walking down from the root through whatever the tree lists, links followed.
std::string random_path(const fs::path& tree, Dice& dice) {
  std::string path = tree.string();
  if (dice.chance(0.04)) return path;
  for (std::size_t step = 0; step < 5; ++step) {
    std::vector<std::string> names;
    if (DIR* directory = ::opendir(path.c_str())) {
      while (const dirent* item = ::readdir(directory)) {
        const std::string name = item->d_name;
        if (name != "." && name != "..") names.push_back(name);
      }
      ::closedir(directory);
    }
    if (names.empty()) break;
    std::sort(names.begin(), names.end());  // the listing's order must not steer the dice
    path += "/" + dice.pick(names);
    if (!is_directory(path) || dice.chance(0.45)) break;
  }
  const std::size_t roll = dice.below(100);
  if (roll < 12) return path + "/";
  if (roll < 20) return path + "/.";
  return path;
}

Request random_request(const fs::path& tree, Dice& dice) {
  Request request;
  const std::size_t count = 1 + dice.below(4);
  for (std::size_t i = 0; i < count; ++i) {
    if (i > 0 && dice.chance(0.15)) {
      request.paths.push_back(dice.pick(request.paths));
    } else {
      request.paths.push_back(random_path(tree, dice));
    }
  }
  const std::size_t roll = dice.below(100);
  const std::size_t keeps = roll < 50 ? 0 : roll < 80 ? 1 : 2;
  for (std::size_t i = 0; i < keeps; ++i) request.keeps.push_back(dice.pick(request.paths));
  return request;
}

// Leaves the tree to nobody but for one or two directories it may not write: removals there
// fail, part-way through whatever holds them. The scratch folder above stays root's, enterable.
void restrict_for_nobody(const fs::path& scratch, const fs::path& tree, Dice& dice) {
  ::chmod(scratch.c_str(), 0755);
  std::vector<std::string> directories;
  for (const auto& [relative, entry] : take_snapshot(tree)) {
    if (entry.type != 'd') continue;
    directories.push_back(relative);
    ::chmod(absolute_of(tree, relative).c_str(), 0777);
  }
  const std::size_t locked = 1 + dice.below(2);
  for (std::size_t i = 0; i < locked; ++i) {
    ::chmod(absolute_of(tree, dice.pick(directories)).c_str(), 0555);
  }
}

struct Tally {
  std::size_t count = 0;
  std::size_t smallest_size = SIZE_MAX;
  std::uint64_t smallest_seed = 0;
  std::string smallest_story;
};

TEST(RandomTreeClean, WhatGoesIsAskedForCreditedAndPreviewed) {
  const std::uint64_t cases = environment_number("SORVIK_RANDOM_CASES", 600);
  const std::uint64_t first_seed = environment_number("SORVIK_RANDOM_SEED", 20261210);
  const bool as_nobody = can_become(kNobody);
  std::map<std::string, Tally> kinds;
  std::size_t failed = 0;
  std::size_t reported = 0;
  for (std::uint64_t index = 0; index < cases; ++index) {
    // Case i of seed s is case 0 of seed s + i, so one case replays alone.
    const std::uint64_t seed = first_seed + index;
    Dice dice(seed);
    TempDir scratch;
    const fs::path tree = fs::path(resolve(scratch.path().string()).value()) / "x";
    make_random_tree(tree, dice);
    const Request request = random_request(tree, dice);
    std::optional<uid_t> user;
    if (dice.chance(0.3) && as_nobody) {
      restrict_for_nobody(scratch.path(), tree, dice);
      user = kNobody;
    }
    const Outcome outcome = run_and_check(scratch.path(), tree, request, user);
    if (outcome.findings.empty()) continue;
    ++failed;
    std::set<std::string> seen;
    for (const auto& finding : outcome.findings) {
      if (!seen.insert(finding.kind).second) continue;
      Tally& tally = kinds[finding.kind];
      ++tally.count;
      const std::size_t size = outcome.before.size() * 8 + request.paths.size();
      if (size < tally.smallest_size) {
        tally.smallest_size = size;
        tally.smallest_seed = seed;
        tally.smallest_story = describe(outcome.findings) + outcome.story;
      }
    }
    if (reported < 5) {
      ++reported;
      ADD_FAILURE() << "case " << index << " (replay alone: SORVIK_RANDOM_SEED=" << seed
                    << " SORVIK_RANDOM_CASES=1)\n"
                    << describe(outcome.findings) << outcome.story;
    }
  }
  std::ostringstream summary;
  summary << cases << " cases from seed " << first_seed << ", " << failed << " failed\n";
  for (const auto& [kind, tally] : kinds) {
    summary << "== " << kind << ": " << tally.count
            << " cases; smallest: SORVIK_RANDOM_SEED=" << tally.smallest_seed
            << " SORVIK_RANDOM_CASES=1\n"
            << tally.smallest_story;
  }
  std::cout << summary.str();
  EXPECT_EQ(failed, 0u) << summary.str();
}

// ---------------------------------------------------------------------------------------------
// Named trees.

class NamedTreeClean : public testing::Test {
 protected:
  void SetUp() override { tree_ = fs::path(resolve(scratch_.path().string()).value()) / "x"; }

  std::string at(std::string_view relative) const { return (tree_ / relative).string(); }

  void make_file(std::string_view relative, std::size_t size) {
    fs::create_directories((tree_ / relative).parent_path());
    write_file(tree_ / relative, std::string(size, 'x'));
  }

  void make_link(std::string_view relative, const std::string& target) {
    fs::create_directories((tree_ / relative).parent_path());
    fs::create_symlink(target, tree_ / relative);
  }

  bool exists(std::string_view relative) const {
    struct stat status {};
    return ::lstat(at(relative).c_str(), &status) == 0;
  }

  // Runs the request and expects every check to hold.
  Outcome check(const Request& request) {
    Outcome outcome = run_and_check(scratch_.path(), tree_, request);
    EXPECT_TRUE(outcome.findings.empty()) << describe(outcome.findings) << outcome.story;
    return outcome;
  }

  TempDir scratch_;
  fs::path tree_;
};

// A kept link inside its own target, with a file that cannot go: emptying through the link must
// keep the link, and with nothing of the bytes gone the path is no removal and credits nothing.
TEST_F(NamedTreeClean, AKeptLinkInsideItsTargetCreditsOnlyWhatWent) {
  if (::geteuid() != 0) GTEST_SKIP() << "marking a file immutable takes root";
  make_file("t/d/f", 1000);
  make_link("t/d/self", ".");
  const ImmutableFile stuck(tree_ / "t/d/f");
  if (stuck.unavailable()) GTEST_SKIP() << *stuck.unavailable();
  const std::string path = at("t/d/self");
  const Outcome outcome = run_and_check(scratch_.path(), tree_, {{path}, {path}});
  // The file's refusal cannot be foreseen by a preview: the preview is not compared here.
  std::vector<Finding> findings;
  for (const auto& finding : outcome.findings) {
    if (!finding.kind.starts_with("preview differs")) findings.push_back(finding);
  }
  EXPECT_TRUE(findings.empty()) << describe(findings) << outcome.story;
  EXPECT_EQ(outcome.real["bytesFreed"], 0u);
  EXPECT_EQ(outcome.real["removed"], json::array());
  EXPECT_EQ(outcome.real["errors"].size(), 1u);
  EXPECT_TRUE(exists("t/d/self"));
  EXPECT_TRUE(exists("t/d/f"));
}

// A path reached through a link that its own removal takes: a failure part-way must credit only
// the files that went, not what the path's spelling no longer reaches.
TEST_F(NamedTreeClean, APathThroughALinkItRemovesCreditsOnlyWhatWent) {
  if (::geteuid() != 0) GTEST_SKIP() << "marking a file immutable takes root";
  make_file("t/b/a/x", 1000);
  make_file("t/b/y", 10);
  make_link("t/b/cache", at("t"));
  // The removal stops at its first failure: the link must be met before the file that cannot go
  // for its removal to matter. Listing order is the filesystem's, so the file's directory is
  // renamed until it is listed after the link.
  const auto listed_before = [&](const std::string& first, const std::string& second) {
    std::vector<std::string> names;
    if (DIR* directory = ::opendir(at("t/b").c_str())) {
      while (const dirent* item = ::readdir(directory)) names.emplace_back(item->d_name);
      ::closedir(directory);
    }
    const auto one = std::find(names.begin(), names.end(), first);
    const auto two = std::find(names.begin(), names.end(), second);
    return one < two;
  };
  std::string held = "a";
  for (int attempt = 0; attempt < 32 && !listed_before("cache", held); ++attempt) {
    const std::string next = "a" + std::to_string(attempt);
    fs::rename(tree_ / "t/b" / held, tree_ / "t/b" / next);
    held = next;
  }
  if (!listed_before("cache", held)) GTEST_SKIP() << "this filesystem lists the link last";
  const ImmutableFile stuck(tree_ / "t/b" / held / "x");
  if (stuck.unavailable()) GTEST_SKIP() << *stuck.unavailable();
  const Outcome outcome = run_and_check(scratch_.path(), tree_, {{at("t/b/cache/b")}, {}});
  std::vector<Finding> findings;
  for (const auto& finding : outcome.findings) {
    if (!finding.kind.starts_with("preview differs")) findings.push_back(finding);
  }
  EXPECT_TRUE(findings.empty()) << describe(findings) << outcome.story;
  EXPECT_EQ(outcome.real["errors"].size(), 1u);
  EXPECT_TRUE(exists("t/b/" + held + "/x"));
}

// The second path is a link to the first: gone with it, the run skips it, so the preview must.
TEST_F(NamedTreeClean, APreviewSkipsALinkToAFileRemovedBeforeIt) {
  make_file("t/f", 100);
  make_link("t/L", at("t/f"));
  const Outcome outcome = check({{at("t/f"), at("t/L")}, {}});
  EXPECT_EQ(outcome.real["removed"], json::array({at("t/f")}));
  EXPECT_EQ(outcome.real["bytesFreed"], 100u);
}

// A -> B -> D given as B then A: B goes as the link it is, and A then leads nowhere.
TEST_F(NamedTreeClean, APreviewSkipsAChainCutBeforeIt) {
  make_file("t/D/f", 10);
  make_link("t/B", "D");
  make_link("t/A", "B");
  const Outcome outcome = check({{at("t/B"), at("t/A")}, {}});
  EXPECT_EQ(outcome.real["removed"], json::array({at("t/B")}));
  EXPECT_EQ(outcome.real["bytesFreed"], 0u);
  EXPECT_TRUE(exists("t/D/f"));
}

// A directory and a kept link to it, in both orders: removed first, the link then leads nowhere;
// emptied first, the directory then goes empty.
TEST_F(NamedTreeClean, APreviewFollowsADirectoryAndAKeptLinkToIt) {
  make_file("t/D/f", 100);
  make_file("t/D/e/g", 10);
  make_link("t/K", "D");
  const Outcome removed_first = check({{at("t/D"), at("t/K")}, {at("t/K")}});
  EXPECT_EQ(removed_first.real["removed"], json::array({at("t/D")}));
  EXPECT_EQ(removed_first.real["bytesFreed"], 110u);
  EXPECT_TRUE(exists("t/K"));

  fs::remove(tree_ / "t/K");
  make_file("t/D/f", 100);
  make_file("t/D/e/g", 10);
  make_link("t/K", "D");
  const Outcome emptied_first = check({{at("t/K"), at("t/D")}, {at("t/K")}});
  EXPECT_EQ(emptied_first.real["removed"], json::array({at("t/K"), at("t/D")}));
  EXPECT_EQ(emptied_first.real["bytesFreed"], 110u);
  EXPECT_FALSE(exists("t/D"));
}

// A kept root that is a file cannot be emptied: the preview says so too, and credits nothing.
TEST_F(NamedTreeClean, APreviewFailsAKeptFileAsTheRunDoes) {
  make_file("t/f", 1000);
  const Outcome outcome = check({{at("t/f")}, {at("t/f")}});
  EXPECT_EQ(outcome.real["errors"],
            json::array({json{{"path", at("t/f")}, {"message", "Not a directory (os error 20)"}}}));
  EXPECT_EQ(outcome.real["bytesFreed"], 0u);
  EXPECT_TRUE(exists("t/f"));
}

// A kept link to a file cannot be emptied either: the run fails it and then removes the file,
// so the preview must not take the file's bytes with the link.
TEST_F(NamedTreeClean, APreviewCreditsAFileAfterAKeptLinkToIt) {
  make_file("t/a", 100);
  make_link("t/g", "a");
  const Outcome outcome = check({{at("t/g"), at("t/a")}, {at("t/g")}});
  EXPECT_EQ(outcome.real["removed"], json::array({at("t/a")}));
  EXPECT_EQ(outcome.real["bytesFreed"], 100u);
  EXPECT_TRUE(exists("t/g"));
}

}  // namespace
}  // namespace sorvik_test
