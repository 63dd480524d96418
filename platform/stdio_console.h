#pragma once

#include <string>
#include <string_view>

#include "platform/console.h"

namespace vornel {

// A console whose standard output can be lost (a full disk, a closed pipe):
// finish() flushes and closes it and says whether all of it went out.
class CheckedConsole : public Console {
 public:
  // False with the reason when any write to standard output failed.
  virtual bool finish(std::string& reason) = 0;
};

// Standard output and standard error through the C library's streams, for
// vornel-inspect: text goes out as it is handed over (buffered, never kept
// whole), and every write is checked. After the first failed or short write
// standard output takes nothing more, and finish() says why.
class StdioConsole : public CheckedConsole {
 public:
  void print(std::string_view text) override;
  // Standard error, after everything printed before it on standard output.
  void error(std::string_view text) override;
  bool finish(std::string& reason) override;

 private:
  bool failed_ = false;
  std::string reason_;
  void failed();
};

}  // namespace vornel
