// The throwaway root for the helper: built from ldd's listing of the helper, with /proc mounted
// inside for as long as it lives when a sanitizer runtime needs it.
#include "support/helper_chroot.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "sorvik_lib/platform.hpp"
#if SORVIK_TESTS_HAVE_LINUX
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#endif

#include <cstring>
#include <fstream>
#include <sstream>

#include "support/apfs_like_mount.hpp"

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

// Only ever mounted on Linux.
void detach([[maybe_unused]] const fs::path& mount_point) {
#if SORVIK_TESTS_HAVE_LINUX
  ::umount2(mount_point.c_str(), MNT_DETACH);
#endif
}

}  // namespace

HelperChroot::HelperChroot(RootShape shape)
    : root_(dir_.path() / "root"), peak_file_(dir_.path() / "peak") {
  if (!SORVIK_TESTS_HAVE_LINUX) {
    unavailable_ =
        "the throwaway root is built with ldd, mount namespaces and tmpfs, on Linux only";
    return;
  }
  if (::geteuid() != 0) {
    unavailable_ = "needs root to build and enter a chroot";
    return;
  }
  build(shape);
}

HelperChroot::~HelperChroot() {
  // Before the removal of the root, which must never descend into the system's /proc.
  if (proc_mounted_) detach(root_ / "proc");
  if (root_mounted_) detach(root_);
}

// A tmpfs that folds case, with folding switched on for its root (it is off until a directory
// asks for it while still empty).
bool HelperChroot::mount_case_folding_root() {
#if !SORVIK_TESTS_HAVE_LINUX
  return false;
#else
  if (::mount("tmpfs", root_.c_str(), "tmpfs", 0, "casefold=utf8-12.1.0,mode=0755") != 0) {
    unavailable_ =
        std::string("this kernel cannot mount a case-folding tmpfs: ") + std::strerror(errno);
    return false;
  }
  root_mounted_ = true;
  const int fd = ::open(root_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  int flags = 0;
  const bool folded = fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 &&
                      (flags |= FS_CASEFOLD_FL, ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0);
  if (fd >= 0) ::close(fd);
  if (!folded) unavailable_ = "the case-folding tmpfs does not fold its root";
  return folded;
#endif
}

void HelperChroot::build(RootShape shape) {
  fs::create_directory(root_);
  if (shape == RootShape::MacOSCaseFolding && !mount_case_folding_root()) return;
  if (shape == RootShape::MacOSApfsLike) {
    apfs_like_root_ = std::make_unique<ApfsLikeMount>(root_);
    if (apfs_like_root_->unavailable()) {
      unavailable_ = *apfs_like_root_->unavailable();
      return;
    }
  }
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
#if SORVIK_TESTS_HAVE_LINUX
    proc_mounted_ = ::mount("proc", (root_ / "proc").c_str(), "proc",
                            MS_NOSUID | MS_NODEV | MS_NOEXEC, nullptr) == 0;
#endif
    if (!proc_mounted_) {
      unavailable_ = "a sanitizer runtime needs /proc, which cannot be mounted";
      return;
    }
  }
  add_marker("/marker");
  if (shape == RootShape::Plain) {
    lay_out_plain();
  } else {
    lay_out_macos();
  }
  fs::create_directories(root_ / "scratch");
  const auto probe = run(std::string());
  if (probe.process.status.value == 124 && probe.process.output.empty()) {
    unavailable_ = "bind mounts cannot be made here";
  } else if (probe.process.status.value == 125 && probe.process.output.empty()) {
    unavailable_ = "chroot is not possible here";
  }
}

void HelperChroot::lay_out_plain() {
  for (const auto& folder : kSystemFolders) add_marker("/" + folder + "/marker");
}

void HelperChroot::lay_out_macos() {
  for (const char* folder : {"usr/local", "bin", "sbin", "System/Library"}) {
    add_marker(std::string("/") + folder + "/marker");
  }
  const std::string data = "/System/Volumes/Data";
  for (const char* folder : {"Users", "Applications", "Library", "private"}) {
    fs::create_directories(host_path(std::string("/") + folder));
    bind(data + "/" + folder, std::string("/") + folder);
  }
  for (const char* marker :
       {"/Users/alice/Documents/marker", "/Users/Shared/marker", "/Applications/App.app/marker",
        "/Library/Preferences/marker", "/private/var/db/marker", "/private/tmp/marker",
        "/private/etc/marker"}) {
    add_marker(data + marker);
  }
  // Relative, so that they lead to the same places seen from the host.
  for (const char* link : {"var", "tmp", "etc"}) {
    fs::create_directory_symlink(fs::path("private") / link, root_ / link);
  }
}

void HelperChroot::bind(std::string_view source, std::string_view target) {
  binds_.emplace_back(source, target);
}

void HelperChroot::add_marker(std::string_view inside) {
  const fs::path marker = host_path(inside);
  fs::create_directories(marker.parent_path());
  write_file(marker, std::string(inside));
  markers_.emplace_back(inside);
}

fs::path HelperChroot::host_path(std::string_view inside) const {
  return root_ / fs::path(inside).relative_path();
}

ChrootRun HelperChroot::run(std::string_view input,
                            const std::vector<std::string>& arguments) const {
  std::vector<std::string> runner_arguments;
  for (const auto& [source, target] : binds_) {
    runner_arguments.insert(runner_arguments.end(),
                            {"--bind", host_path(source).string(), host_path(target).string()});
  }
  runner_arguments.insert(runner_arguments.end(),
                          {root_.string(), peak_file_.string(), "/sorvik_helper"});
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
  for (const auto& marker : markers_) {
    if (read_file(host_path(marker)) != marker) damaged.push_back(marker);
  }
  if (!fs::exists(root_ / "sorvik_helper")) damaged.push_back("/sorvik_helper");
  return damaged;
}

}  // namespace sorvik_test
