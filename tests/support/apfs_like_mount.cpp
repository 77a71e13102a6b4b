// Starting the APFS-like filesystem's daemon, waiting for its mount, and taking both down again.
#include "support/apfs_like_mount.hpp"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "sorvik_lib/platform.hpp"
#include "sorvik_lib/sys/spawn_setup.hpp"
#include "sorvik_lib/sys/system_error.hpp"
#if SORVIK_TESTS_HAVE_LINUX
#include <sys/mount.h>
#include <sys/xattr.h>
#endif

namespace sorvik_test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using sorvik_lib::sys::SystemError;

// Debian's pyfuse3 is a package of the system's own Python, whatever python3 comes first on PATH.
constexpr const char* kPython = "/usr/bin/python3";
const std::string kFilesystemScript = SORVIK_APFS_LIKE_FS_PATH;

constexpr auto kMountTimeout = 20s;
constexpr auto kExitTimeout = 10s;
// The daemon's own status when pyfuse3 cannot be imported.
constexpr int kPyfuseMissing = 3;

// The status of `pid` once it has ended, or nothing while it runs.
std::optional<int> ended(pid_t pid) {
  int status = 0;
  const pid_t got = ::waitpid(pid, &status, WNOHANG);
  if (got == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  if (got < 0) return -1;
  return std::nullopt;
}

std::optional<dev_t> device_of(const fs::path& path) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) return std::nullopt;
  return status.st_dev;
}

}  // namespace

ApfsLikeMount::ApfsLikeMount(fs::path at, ApfsLikeOptions options) : at_(std::move(at)) {
  if (!SORVIK_TESTS_HAVE_LINUX) {
    unavailable_ = "the APFS-like filesystem is mounted with FUSE in a mount namespace, on Linux";
    return;
  }
  if (namespace_.unavailable()) {
    unavailable_ = *namespace_.unavailable();
    return;
  }
  if (::access("/dev/fuse", R_OK | W_OK) != 0) {
    unavailable_ = "no usable /dev/fuse: " + SystemError::from_errno().message();
    return;
  }
  if (::access(kPython, X_OK) != 0) {
    unavailable_ = std::string("no ") + kPython + " to run the FUSE filesystem";
    return;
  }
  if (start(options) && wait_until_mounted()) return;
  stop();
}

ApfsLikeMount::~ApfsLikeMount() { stop(); }

bool ApfsLikeMount::start(const ApfsLikeOptions& options) {
  // -B: no compiled files are left beside the filesystem's sources.
  std::vector<std::string> arguments = {
      kPython,
      "-B",
      kFilesystemScript,
      "--listing",
      options.listing == Listing::Shifting ? "shifting" : "stable",
      "--miss-limit",
      std::to_string(options.miss_limit),
      at_.string()};
  std::vector<char*> argv;
  for (auto& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  // Nothing of the test's environment (a PYTHONPATH of another Python) reaches it.
  std::string path_variable = "PATH=/usr/sbin:/usr/bin:/sbin:/bin";
  std::string language = "LC_ALL=C.UTF-8";
  std::vector<char*> environment = {path_variable.data(), language.data(), nullptr};

  sorvik_lib::sys::SpawnSetup setup;
  if (auto ready = setup.ready(); !ready) {
    unavailable_ = "cannot start the FUSE filesystem: " + ready.error().message();
    return false;
  }
  const std::string log = (logs_ / "daemon.log").string();
  // Each call returns its error number; the first that fails is the one told.
  int spawned = ::posix_spawn_file_actions_addopen(setup.actions(), 0, "/dev/null", O_RDONLY, 0);
  if (spawned == 0) {
    spawned = ::posix_spawn_file_actions_addopen(setup.actions(), 1, log.c_str(),
                                                 O_WRONLY | O_CREAT | O_TRUNC, 0644);
  }
  if (spawned == 0) spawned = ::posix_spawn_file_actions_adddup2(setup.actions(), 1, 2);
  // Its own session: a signal meant for the test's process group does not take the mount away.
  if (spawned == 0) spawned = ::posix_spawnattr_setflags(setup.attributes(), POSIX_SPAWN_SETSID);
  if (spawned == 0) {
    spawned = ::posix_spawn(&daemon_, kPython, setup.actions(), setup.attributes(), argv.data(),
                            environment.data());
  }
  if (spawned != 0) {
    daemon_ = -1;
    unavailable_ = "cannot start the FUSE filesystem: " + SystemError(spawned).message();
    return false;
  }
  return true;
}

// Mounted once the mount point is on a device of its own.
bool ApfsLikeMount::wait_until_mounted() {
  const auto outside = device_of(at_.parent_path());
  const auto deadline = std::chrono::steady_clock::now() + kMountTimeout;
  while (std::chrono::steady_clock::now() < deadline) {
    if (const auto status = ended(daemon_)) {
      daemon_ = -1;
      unavailable_ = *status == kPyfuseMissing
                         ? "python3-pyfuse3 is missing: " + daemon_log()
                         : "the FUSE filesystem cannot mount here: " + daemon_log();
      return false;
    }
    const auto inside = device_of(at_);
    if (outside && inside && *inside != *outside) {
      mounted_ = true;
      return true;
    }
    std::this_thread::sleep_for(10ms);
  }
  unavailable_ = "the FUSE filesystem did not mount within 20 s: " + daemon_log();
  return false;
}

// The daemon serves until its mount goes; a detached mount goes once nothing uses it, and the
// daemon then ends by itself. One that does not is killed.
void ApfsLikeMount::stop() {
  if (daemon_ <= 0) return;
#if SORVIK_TESTS_HAVE_LINUX
  // Also when the mount was never seen: it may have come just after the wait gave up.
  ::umount2(at_.c_str(), MNT_DETACH);
#endif
  mounted_ = false;
  const auto deadline = std::chrono::steady_clock::now() + kExitTimeout;
  while (!ended(daemon_)) {
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(daemon_, SIGKILL);
      int status = 0;
      while (::waitpid(daemon_, &status, 0) < 0 && errno == EINTR) {
      }
      break;
    }
    std::this_thread::sleep_for(10ms);
  }
  daemon_ = -1;
}

std::string ApfsLikeMount::daemon_log() const {
  std::ifstream in(logs_ / "daemon.log");
  std::ostringstream text;
  text << in.rdbuf();
  const std::string log = text.str();
  return log.size() > 2000 ? log.substr(log.size() - 2000) : log;
}

std::optional<std::string> ApfsLikeMount::protect([[maybe_unused]] const fs::path& entry) const {
#if SORVIK_TESTS_HAVE_LINUX
  if (::lsetxattr(entry.c_str(), "user.sorvik.protected", "1", 1, 0) != 0) {
    return SystemError::from_errno().message();
  }
  return std::nullopt;
#else
  return "extended attributes are set the Linux way";
#endif
}

std::optional<std::string> ApfsLikeMount::fill([[maybe_unused]] const fs::path& directory,
                                               [[maybe_unused]] unsigned count,
                                               [[maybe_unused]] unsigned largest) const {
#if SORVIK_TESTS_HAVE_LINUX
  const std::string value = std::to_string(count) + " " + std::to_string(largest);
  if (::setxattr(directory.c_str(), "user.sorvik.fill", value.data(), value.size(), 0) != 0) {
    return SystemError::from_errno().message();
  }
  return std::nullopt;
#else
  return "extended attributes are set the Linux way";
#endif
}

std::optional<std::uint64_t> ApfsLikeMount::missed_in(
    [[maybe_unused]] const fs::path& directory) const {
#if SORVIK_TESTS_HAVE_LINUX
  char value[32] = {};
  const ssize_t got = ::getxattr(directory.c_str(), "user.sorvik.missed", value, sizeof value - 1);
  if (got <= 0) return std::nullopt;
  return std::stoull(std::string(value, static_cast<std::size_t>(got)));
#else
  return std::nullopt;
#endif
}

}  // namespace sorvik_test
