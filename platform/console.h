#pragma once

#include <string_view>

namespace vornel {

// Where the program's text goes: standard output, the progress display and
// the messages of the build, and standard error, which says why a failure
// happened and warns of input that is ignored. Every piece of text is handed
// over whole and made visible at once, so a log or a pipe shows all that
// happened before a failure.
class Console {
 public:
  virtual ~Console() = default;
  // Standard output.
  virtual void print(std::string_view text) = 0;
  // Standard error.
  virtual void error(std::string_view text) = 0;
};

// Prints the message of a failing step and returns the step's -1.
inline int fail(Console& console, std::string_view message) {
  console.print(message);
  return -1;
}

}  // namespace vornel
