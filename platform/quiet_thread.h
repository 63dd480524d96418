#pragma once

#include <signal.h>

#include <thread>
#include <utility>

namespace vornel {

// Starts a thread that takes no signals: an interrupt must reach the thread
// that builds the image, which removes the temporary output.
template <typename Function>
std::thread startQuietThread(Function&& function) {
  sigset_t all;
  sigset_t previous;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &previous);
  std::thread thread;
  try {
    thread = std::thread(std::forward<Function>(function));
  } catch (...) {
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    throw;
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  return thread;
}

}  // namespace vornel
