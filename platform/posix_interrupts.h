#pragma once

// The one temporary file that a signal ending the program must not leave
// behind: the image being written, or the file being extracted. Kept in
// static storage so that the handler only reads it and calls unlinkat.

#include <signal.h>

#include <csignal>
#include <string>

namespace vornel {

extern char gTempPath[4096];  // relative to gTempDir, or a path when gTempDir is AT_FDCWD
extern int gTempDir;
extern volatile std::sig_atomic_t gTempSet;

// Blocks the interrupting signals for its lifetime, so that a temporary file
// is never created without being registered for removal.
class InterruptsBlocked {
 public:
  InterruptsBlocked();
  ~InterruptsBlocked();

 private:
  sigset_t saved_;
};

// Makes `path` (relative to the directory `dirFd`, shorter than gTempPath)
// the file that SIGINT, SIGTERM, SIGHUP and SIGPIPE remove before they end
// the program; installs the handler on first use.
void registerTemp(int dirFd, const std::string& path);
void registerTemp(const std::string& path);

}  // namespace vornel
