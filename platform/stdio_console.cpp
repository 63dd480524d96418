#include "platform/stdio_console.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace vornel {

void StdioConsole::failed() {
  failed_ = true;
  reason_ = errno != 0 ? std::strerror(errno) : "short write";
}

void StdioConsole::print(std::string_view text) {
  if (failed_ || text.empty()) return;
  errno = 0;
  if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size()) failed();
}

void StdioConsole::error(std::string_view text) {
  if (!failed_) {
    errno = 0;
    if (std::fflush(stdout) != 0) failed();
  }
  std::fwrite(text.data(), 1, text.size(), stderr);
}

bool StdioConsole::finish(std::string& reason) {
  errno = 0;
  // Closing flushes what is buffered and reports a write that failed.
  if (std::fclose(stdout) != 0 && !failed_) failed();
  reason = reason_;
  return !failed_;
}

}  // namespace vornel
