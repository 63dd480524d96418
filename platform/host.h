#pragma once

// What main() of each program takes from the host it runs on. Each host's
// files (posix_host.cpp, windows_host.cpp) provide these.

#include <memory>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "platform/image_file.h"

namespace vornel {

// The command line as UTF-8 text, in the form main() hands it on.
class HostCommandLine {
 public:
  explicit HostCommandLine(std::vector<std::string> arguments);
  HostCommandLine(const HostCommandLine&) = delete;
  HostCommandLine& operator=(const HostCommandLine&) = delete;

  int argc() const { return static_cast<int>(arguments_.size()); }
  const char* const* argv() const { return pointers_.data(); }

 private:
  std::vector<std::string> arguments_;
  std::vector<const char*> pointers_;  // into arguments_, ending with a null
};

// Readies standard output and standard error for the programs' text (the
// same bytes, "\n" line ends included, on every host) and returns the
// command line as UTF-8.
std::unique_ptr<HostCommandLine> startHost(int argc, char** argv);

// The host's file services and image services.
std::unique_ptr<FileSystem> newHostFileSystem();
std::unique_ptr<ImageHost> newHostImageHost();

}  // namespace vornel
