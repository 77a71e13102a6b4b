// The throwaway root for the helper: built from ldd's listing of the helper, with /proc mounted
// inside for as long as it lives when a sanitizer runtime needs it.
#include "support/helper_chroot.hpp"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

namespace sorvik_test {

namespace fs = std::filesystem;

const std::vector<std::string> HelperChroot::kSystemFolders = {"usr", "usr/local", "etc",  "var",
                                                               "tmp", "bin",       "home", "root"};

namespace {

const std::string kRunnerPath = SORVIK_CHROOT_RUNNER_PATH;

// The absolute library path of one line of ldd's listing ("libx.so => /lib/libx.so (0x...)" or
// "/lib64/ld-linux-x86-64.so.2 (0x...)"), or nothing for lines without one.
std::string library_of(std::string_view line) {
  const auto address = line.find(" (0x");
  if (address == std::string_view::npos) return {};
  line = line.substr(0, address);
  if (const auto arrow = line.find("=> "); arrow != std::string_view::npos) {
    line = line.substr(arrow + 3);
  }
  line.remove_prefix(std::min(line.find_first_not_of(" \t"), line.size()));
  return line.starts_with('/') ? std::string(line) : std::string();
}

}  // namespace

HelperChroot::HelperChroot() : root_(dir_.path() / "root"), peak_file_(dir_.path() / "peak") {
  if (::geteuid() != 0) {
    unavailable_ = "needs root to build and enter a chroot";
    return;
  }
  build();
}

HelperChroot::~HelperChroot() {
  // Before the removal of the root, which must never descend into the system's /proc.
  if (proc_mounted_) ::umount2((root_ / "proc").c_str(), MNT_DETACH);
}

void HelperChroot::build() {
  fs::create_directory(root_);
  fs::permissions(root_, fs::perms(0755));
  fs::copy_file(kHelperPath, root_ / "sorvik_helper");
  const auto listed = sorvik_test::run("ldd", {kHelperPath});
  if (!listed.status.success()) {
    unavailable_ = "ldd cannot list the helper's libraries: " + listed.error;
    return;
  }
  bool sanitized = false;
  std::istringstream lines(listed.output);
  for (std::string line; std::getline(lines, line);) {
    const fs::path source = library_of(line);
    if (source.empty()) continue;
    // A sanitizer runtime reads /proc/self/maps as it starts.
    if (source.filename().string().find("san.so") != std::string::npos) sanitized = true;
    const fs::path target = root_ / source.relative_path();
    fs::create_directories(target.parent_path());
    fs::copy_file(source, target, fs::copy_options::overwrite_existing);
  }
  if (sanitized) {
    fs::create_directory(root_ / "proc");
    proc_mounted_ = ::mount("proc", (root_ / "proc").c_str(), "proc",
                            MS_NOSUID | MS_NODEV | MS_NOEXEC, nullptr) == 0;
    if (!proc_mounted_) {
      unavailable_ = "a sanitizer runtime needs /proc, which cannot be mounted";
      return;
    }
  }
  write_file(root_ / "marker", "root");
  for (const auto& folder : kSystemFolders) {
    fs::create_directories(root_ / folder);
    write_file(root_ / folder / "marker", folder);
  }
  fs::create_directories(root_ / "scratch");
  const auto probe = run(std::string());
  if (probe.process.status.value == 125 && probe.process.output.empty()) {
    unavailable_ = "chroot is not possible here";
  }
}

fs::path HelperChroot::host_path(std::string_view inside) const {
  return root_ / fs::path(inside).relative_path();
}

ChrootRun HelperChroot::run(std::string_view input,
                            const std::vector<std::string>& arguments) const {
  std::vector<std::string> runner_arguments = {root_.string(), peak_file_.string(),
                                               "/sorvik_helper"};
  runner_arguments.insert(runner_arguments.end(), arguments.begin(), arguments.end());
  ChrootRun ran;
  ran.process = sorvik_test::run(kRunnerPath, std::move(runner_arguments), input);
  std::ifstream peak(peak_file_);
  std::string ended;
  if (peak >> ran.peak_kib >> ended >> ran.process.status.value) {
    // The runner's own status folds a signal into a number; the file tells them apart.
    ran.process.status.kind = ended == "signal" ? sorvik_lib::sys::ExitStatus::Kind::Signaled
                                                : sorvik_lib::sys::ExitStatus::Kind::Exited;
  }
  fs::remove(peak_file_);
  return ran;
}

std::vector<std::string> HelperChroot::damaged_markers() const {
  std::vector<std::string> damaged;
  if (read_file(root_ / "marker") != "root") damaged.push_back("/marker");
  for (const auto& folder : kSystemFolders) {
    if (read_file(root_ / folder / "marker") != folder) damaged.push_back("/" + folder + "/marker");
  }
  if (!fs::exists(root_ / "sorvik_helper")) damaged.push_back("/sorvik_helper");
  return damaged;
}

}  // namespace sorvik_test
