#pragma once

#include <string>
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
  // Standard output that even a quiet run prints: failure messages, the
  // usage text, help and the version.
  virtual void printAlways(std::string_view text) { print(text); }
  // A warning for standard error, which a quiet run drops.
  virtual void warning(std::string_view text) { error(text); }
};

// Says on standard error why the failure just printed happened.
inline void explain(Console& console, std::string_view reason) {
  console.error("vornel: " + std::string(reason.empty() ? "the host gave no reason" : reason) + "\n");
}

// Prints the message of a failing step and why it failed; returns the step's -1.
inline int fail(Console& console, std::string_view message, std::string_view reason) {
  console.printAlways(message);
  explain(console, reason);
  return -1;
}

// Warns on standard error of input that is ignored.
inline void warn(Console& console, std::string_view text) {
  console.warning("vornel: warning: " + std::string(text) + "\n");
}

}  // namespace vornel
