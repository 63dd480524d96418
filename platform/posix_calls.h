#pragma once

// Which calls the POSIX host uses. On Linux it takes the kernel's own fast
// paths: copies inside the kernel (copy_file_range), folders read a buffer
// at a time (getdents64), folders held without being opened for reading
// (O_PATH), huge pages, renames that never replace (renameat2), descriptors
// closed on exec from their creation (mkostemp) and positioned vectored
// writes (pwritev). Every other host, and Linux built with
// VORNEL_PORTABLE_POSIX, takes the plain POSIX calls instead: the caller's
// reads and writes, readdir, O_RDONLY folders, no page advice, linkat and
// unlinkat, mkstemp with FD_CLOEXEC, lseek and writev.

#if defined(__linux__) && !defined(VORNEL_PORTABLE_POSIX)
#define VORNEL_LINUX_CALLS 1
#else
#define VORNEL_LINUX_CALLS 0
#endif

namespace vornel {

inline constexpr bool kLinuxCalls = VORNEL_LINUX_CALLS;

}  // namespace vornel
