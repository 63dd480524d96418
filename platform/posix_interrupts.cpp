#include "platform/posix_interrupts.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>

namespace vornel {

char gTempPath[4096];
int gTempDir = AT_FDCWD;
volatile std::sig_atomic_t gTempSet = 0;

namespace {

extern "C" void removeTempAndDie(int signal) {
  if (gTempSet) ::unlinkat(gTempDir, gTempPath, 0);
  ::signal(signal, SIG_DFL);
  ::raise(signal);
}

// Every signal that ends the program by default while it writes: an
// interrupt, a kill, a closed terminal, a reader of the output gone.
constexpr int kInterrupts[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

}  // namespace

InterruptsBlocked::InterruptsBlocked() {
  sigset_t set;
  sigemptyset(&set);
  for (int signal : kInterrupts) sigaddset(&set, signal);
  ::sigprocmask(SIG_BLOCK, &set, &saved_);
}

InterruptsBlocked::~InterruptsBlocked() { ::sigprocmask(SIG_SETMASK, &saved_, nullptr); }

void registerTemp(int dirFd, const std::string& path) {
  static bool installed = false;
  if (!installed) {
    installed = true;
    for (int signal : kInterrupts) {
      struct sigaction action = {};
      struct sigaction previous = {};
      action.sa_handler = removeTempAndDie;
      sigemptyset(&action.sa_mask);
      // A signal the caller chose to ignore (nohup) stays ignored.
      if (::sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) continue;
      ::sigaction(signal, &action, nullptr);
    }
  }
  gTempSet = 0;
  gTempDir = dirFd;
  std::memcpy(gTempPath, path.c_str(), path.size() + 1);
  gTempSet = 1;
}

void registerTemp(const std::string& path) { registerTemp(AT_FDCWD, path); }

}  // namespace vornel
