#pragma once

// Whole builds run in-process on the in-memory file system.

#include <string>
#include <vector>

#include "driver/build.h"
#include "platform/fake_file_system.h"

namespace vornel {

struct BuildRun {
  int status;
  std::string text, image;  // standard output, and what was written, committed or not
};

// Runs "vornel -in src -out out.iso" with these options on the fake file
// system, reading directories ahead of the scan on a second thread or not.
inline BuildRun buildInMemory(FakeFileSystem& fs, const std::vector<std::string>& options = {},
                              bool readAhead = false) {
  std::vector<const char*> argv = {"vornel", "-in", "src", "-out", "out.iso"};
  for (const auto& option : options) argv.push_back(option.c_str());
  StringConsole console;
  const int status = runMain(static_cast<int>(argv.size()), argv.data(), fs, console, readAhead ? &fs : nullptr);
  return {status, console.text(), fs.image};
}

}  // namespace vornel
