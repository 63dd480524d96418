#include "platform/stdout_console.h"

#include <cstdio>

#include "platform/quiet_thread.h"

namespace vornel {

namespace {

bool isProgress(std::string_view text) {
  return !text.empty() && text.find_first_not_of('.') == std::string_view::npos;
}

}  // namespace

StdoutConsole::StdoutConsole() : flusher_(startQuietThread([this] { flushDots(); })) {}

StdoutConsole::~StdoutConsole() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_one();
  flusher_.join();
  std::fflush(stdout);
}

void StdoutConsole::print(std::string_view text) {
  std::lock_guard lock(mutex_);
  std::fwrite(text.data(), 1, text.size(), stdout);
  if (!isProgress(text)) {
    std::fflush(stdout);
    dotsPending_ = false;
  } else if (!dotsPending_) {
    dotsPending_ = true;
    deadline_ = std::chrono::steady_clock::now() + kDotDelay;
    wake_.notify_one();
  }
}

void StdoutConsole::error(std::string_view text) {
  std::lock_guard lock(mutex_);
  std::fflush(stdout);
  dotsPending_ = false;
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

void StdoutConsole::flushDots() {
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    if (!dotsPending_) {
      wake_.wait(lock);
    } else if (std::chrono::steady_clock::now() < deadline_) {
      wake_.wait_until(lock, deadline_);
    } else {
      std::fflush(stdout);
      dotsPending_ = false;
    }
  }
}

}  // namespace vornel
