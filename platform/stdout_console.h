#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string_view>
#include <thread>

#include "platform/console.h"

namespace vornel {

// Standard output and standard error. Status lines and messages are flushed
// at once, together with any progress dots before them, on either stream. A run of dots is flushed at most once
// every 50 ms, by a thread that waits for the oldest unflushed dot's
// deadline, so that a build of 100,000 files does not make 100,000 writes
// and a dot printed before a long copy still shows within 50 ms.
class StdoutConsole : public Console {
 public:
  StdoutConsole();
  ~StdoutConsole() override;
  StdoutConsole(const StdoutConsole&) = delete;
  StdoutConsole& operator=(const StdoutConsole&) = delete;

  void print(std::string_view text) override;
  // Standard error, after everything printed before it on standard output.
  void error(std::string_view text) override;

 private:
  static constexpr std::chrono::milliseconds kDotDelay{50};

  void write(std::FILE* stream, std::string_view text);
  void flushDots();

  std::mutex mutex_;
  std::condition_variable wake_;
  bool dotsPending_ = false;  // dots written to the buffer and not flushed
  std::chrono::steady_clock::time_point deadline_;
  bool stopping_ = false;
  std::thread flusher_;
};

}  // namespace vornel
