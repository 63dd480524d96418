#include "platform/stdout_console.h"

#include <cstdio>

#include "platform/quiet_thread.h"

namespace vornel {

namespace {

bool isProgress(std::string_view text) {
  return !text.empty() && text.find_first_not_of('.') == std::string_view::npos;
}

}  // namespace

StdoutConsole::StdoutConsole() : flusher_(startQuietThread([this] { flushDots(); })) {
  // Standard error may carry the progress dots too (when standard output
  // carries the image): buffered, so that they are flushed like those of
  // standard output; every other text is flushed at once.
  std::setvbuf(stderr, nullptr, _IOFBF, BUFSIZ);
}

StdoutConsole::~StdoutConsole() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_one();
  flusher_.join();
  std::fflush(stdout);
  std::fflush(stderr);
}

void StdoutConsole::print(std::string_view text) { write(stdout, text); }

void StdoutConsole::error(std::string_view text) { write(stderr, text); }

void StdoutConsole::write(std::FILE* stream, std::string_view text) {
  std::lock_guard lock(mutex_);
  // What went to the other stream before shows before this text.
  std::fflush(stream == stdout ? stderr : stdout);
  std::fwrite(text.data(), 1, text.size(), stream);
  if (!isProgress(text)) {
    std::fflush(stream);
    dotsPending_ = false;
  } else if (!dotsPending_) {
    dotsPending_ = true;
    deadline_ = std::chrono::steady_clock::now() + kDotDelay;
    wake_.notify_one();
  }
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
      std::fflush(stderr);
      dotsPending_ = false;
    }
  }
}

}  // namespace vornel
