#pragma once

#include "platform/file_system.h"

namespace vornel {

// The host's file services through POSIX calls.
class PosixFileSystem : public FileSystem {
 public:
  bool listDirectory(const std::string& path, std::vector<std::string>& names) override;
  FileInfo stat(const std::string& path) override;
  std::unique_ptr<InputFile> openInput(const std::string& path) override;
  std::unique_ptr<OutputFile> createOutput(const std::string& path) override;
};

}  // namespace vornel
