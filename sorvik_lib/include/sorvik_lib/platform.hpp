// What the platform offers, decided in this one place: code that depends on the operating system
// or its C library reads these switches, never __linux__, __GLIBC__ or __APPLE__ itself. Each is
// 1 or 0, taken from the platform unless the build defines it first (-DSORVIK_HAS_PIPE2=0).
//
// A portable build (-DSORVIK_PORTABLE=ON) takes a macOS build's values wherever Linux can run
// them, so that Linux runs and tests the branches a macOS build ships: every Linux fast path off,
// and macOS's system roots forbidden in place of Linux's. It is a build for testing, not a helper
// to guard a Linux machine with: its tests delete only in throwaway roots of their own. The
// Apple-only switches name calls that exist nowhere else: the macOS cross build compiles them,
// and only a Mac runs them.
#pragma once

#if defined(SORVIK_PORTABLE) && SORVIK_PORTABLE
#define SORVIK_LINUX_FAST_PATHS 0
#elif defined(__linux__)
#define SORVIK_LINUX_FAST_PATHS 1
#else
#define SORVIK_LINUX_FAST_PATHS 0
#endif

// Directory listings read in large batches with getdents64; readdir on the handle otherwise.
#if !defined(SORVIK_HAS_GETDENTS64)
#define SORVIK_HAS_GETDENTS64 SORVIK_LINUX_FAST_PATHS
#endif

// pipe2(O_CLOEXEC): a pipe whose ends are close-on-exec from the start; pipe and fcntl otherwise.
#if !defined(SORVIK_HAS_PIPE2)
#define SORVIK_HAS_PIPE2 SORVIK_LINUX_FAST_PATHS
#endif

// statx: a directory's status tells whether it is the root of a mount (STATX_ATTR_MOUNT_ROOT),
// also a bind mount of a directory of the same filesystem, whose device is its parent's. Without
// it a mount root is told by its device alone, as on macOS, where nothing else makes one.
#if !defined(SORVIK_HAS_STATX_MOUNT_ROOT)
#define SORVIK_HAS_STATX_MOUNT_ROOT SORVIK_LINUX_FAST_PATHS
#endif

// glibc's allocator, tuned with mallopt and grown with sbrk ahead of a large decode.
#if !defined(SORVIK_HAS_GLIBC_MALLOC)
#if defined(__GLIBC__) && SORVIK_LINUX_FAST_PATHS
#define SORVIK_HAS_GLIBC_MALLOC 1
#else
#define SORVIK_HAS_GLIBC_MALLOC 0
#endif
#endif

// madvise(MADV_DONTNEED) gives pages back at once, as Linux does; MADV_FREE otherwise.
#if !defined(SORVIK_MADV_DONTNEED_FREES)
#define SORVIK_MADV_DONTNEED_FREES SORVIK_LINUX_FAST_PATHS
#endif

// Linux's own system roots (/boot, /proc, /sys, ...) are forbidden as well as the common ones,
// except in a portable build, which screens as a macOS build does.
#if !defined(SORVIK_FORBIDS_LINUX_ROOTS)
#if defined(__linux__) && !(defined(SORVIK_PORTABLE) && SORVIK_PORTABLE)
#define SORVIK_FORBIDS_LINUX_ROOTS 1
#else
#define SORVIK_FORBIDS_LINUX_ROOTS 0
#endif
#endif

// macOS's own system roots (/Volumes, /private, /System/Volumes, ...) are forbidden as well. A
// portable build forbids them alone, so that a Mac-shaped root on Linux shows they hold and
// nothing Linux adds hides a test that would fail on a Mac.
#if !defined(SORVIK_FORBIDS_MACOS_ROOTS)
#if defined(__APPLE__) || (defined(SORVIK_PORTABLE) && SORVIK_PORTABLE)
#define SORVIK_FORBIDS_MACOS_ROOTS 1
#else
#define SORVIK_FORBIDS_MACOS_ROOTS 0
#endif
#endif

// Apple only. The environment reached through _NSGetEnviron(), since a framework or dylib cannot
// link against `environ`.
#if !defined(SORVIK_HAS_NSGETENVIRON)
#if defined(__APPLE__)
#define SORVIK_HAS_NSGETENVIRON 1
#else
#define SORVIK_HAS_NSGETENVIRON 0
#endif
#endif

// Apple only. POSIX_SPAWN_CLOEXEC_DEFAULT: a spawned child gets the descriptors its file actions
// name and no other, whichever thread opened them and however.
#if !defined(SORVIK_HAS_SPAWN_CLOEXEC_DEFAULT)
#if defined(__APPLE__)
#define SORVIK_HAS_SPAWN_CLOEXEC_DEFAULT 1
#else
#define SORVIK_HAS_SPAWN_CLOEXEC_DEFAULT 0
#endif
#endif

// Apple only. setiopolicy_np can keep the process from materializing dataless files and folders
// (cloud placeholders) when it looks at them.
#if !defined(SORVIK_HAS_DATALESS_POLICY)
#if defined(__APPLE__)
#define SORVIK_HAS_DATALESS_POLICY 1
#else
#define SORVIK_HAS_DATALESS_POLICY 0
#endif
#endif

// What the test suite may use of the machine it runs on: Linux's /proc, mount namespaces,
// LD_PRELOAD stand-ins and renameat2. They are not branches of the product, so a portable build
// keeps them and runs every test; elsewhere the tests that need them skip and say why.
#if !defined(SORVIK_TESTS_HAVE_LINUX)
#if defined(__linux__)
#define SORVIK_TESTS_HAVE_LINUX 1
#else
#define SORVIK_TESTS_HAVE_LINUX 0
#endif
#endif
