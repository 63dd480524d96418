#pragma once

// Whole builds run in-process on the in-memory file system.

#include <string>
#include <vector>

#include "driver/build.h"
#include "platform/fake_file_system.h"

namespace vornel {

struct BuildRun {
  int status;
  std::string text, image, errors;  // standard output, what was written (committed or not), standard error
};

// Runs "vornel -in src -out out.iso" with these options on the fake file
// system; with a helper file system, directories are read ahead of the scan
// on a second thread.
inline BuildRun buildInMemory(FakeFileSystem& fs, const std::vector<std::string>& options = {},
                              FileSystem* helperFs = nullptr) {
  std::vector<const char*> argv = {"vornel", "-in", "src", "-out", "out.iso"};
  for (const auto& option : options) argv.push_back(option.c_str());
  StringConsole console;
  const int status = runMain(static_cast<int>(argv.size()), argv.data(), fs, console, helperFs);
  return {status, console.text(), fs.image, console.errors()};
}

}  // namespace vornel
