#pragma once

#include <optional>
#include <string>

#include "platform/console.h"

namespace vornel {

struct BuildOptions {
  std::string sourceDir;  // always ends with "/"
  std::string outputPath;
  std::string volumeLabel = "CD_ROM";
  int dirAvatars = 3;
  int rootAvatars = 3;
  // Accepted for compatibility with existing build scripts; not used.
  std::string mfValue;
  std::string rdValue;
  bool sFlag = false;
};

// Reads the command line. Prints the message and usage text of a bad command
// line and returns nothing; the caller then exits with failure.
std::optional<BuildOptions> parseOptions(int argc, const char* const* argv, Console& console);

void printUsage(Console& console);

}  // namespace vornel
