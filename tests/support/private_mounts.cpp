// Mounts in the test process's own mount namespace.
#include "support/private_mounts.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "sorvik_lib/platform.hpp"
#if SORVIK_TESTS_HAVE_LINUX
#include <sched.h>
#include <sys/mount.h>
#endif

namespace sorvik_test {

PrivateMounts::PrivateMounts() {
#if !SORVIK_TESTS_HAVE_LINUX
  unavailable_ = "mount namespaces are Linux's";
#else
  if (::geteuid() != 0) {
    unavailable_ = "mounting needs root";
  } else if (::unshare(CLONE_NEWNS) != 0) {
    unavailable_ = std::string("no mount namespace of our own: ") + std::strerror(errno);
  } else if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
    // Without this a mount here could still propagate to the host.
    unavailable_ = std::string("the mounts cannot be made private: ") + std::strerror(errno);
  }
#endif
}

PrivateMounts::~PrivateMounts() {
#if SORVIK_TESTS_HAVE_LINUX
  for (auto mount_point = mounted_.rbegin(); mount_point != mounted_.rend(); ++mount_point) {
    ::umount2(mount_point->c_str(), MNT_DETACH);
  }
#endif
}

bool PrivateMounts::mount_tmpfs([[maybe_unused]] const std::filesystem::path& at) {
  if (unavailable_) return false;
#if SORVIK_TESTS_HAVE_LINUX
  if (::mount("tmpfs", at.c_str(), "tmpfs", 0, "size=1m,mode=0755") != 0) {
    unavailable_ = std::string("no tmpfs: ") + std::strerror(errno);
    return false;
  }
  mounted_.push_back(at);
#endif
  return true;
}

bool PrivateMounts::bind([[maybe_unused]] const std::filesystem::path& source,
                         [[maybe_unused]] const std::filesystem::path& target) {
  if (unavailable_) return false;
#if SORVIK_TESTS_HAVE_LINUX
  if (::mount(source.c_str(), target.c_str(), nullptr, MS_BIND, nullptr) != 0) {
    unavailable_ = std::string("no bind mount: ") + std::strerror(errno);
    return false;
  }
  mounted_.push_back(target);
#endif
  return true;
}

}  // namespace sorvik_test
