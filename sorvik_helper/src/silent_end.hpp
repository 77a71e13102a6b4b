// How the helper ends when it cannot go on (out of memory, or an exception nothing catches): at
// once, with nothing written to standard error, where the application never looks and where the
// C++ runtime would otherwise print "terminate called after throwing ...".
#pragma once

namespace sorvik_helper {

// The exit status of such an end: neither 0 nor 1, since no result was written. It is EX_SOFTWARE
// of <sysexits.h>, which an application may already know as "internal failure".
inline constexpr int kNoResultStatus = 70;

// From now on, a failed allocation and std::terminate end the process with kNoResultStatus. No
// message, no core dump (a root process's memory may hold any path it was asked about), no
// destructors or atexit handlers run.
void end_silently_when_out_of_memory();

}  // namespace sorvik_helper
