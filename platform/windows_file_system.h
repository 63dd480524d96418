#pragma once

#include <windows.h>

#include <string>
#include <unordered_set>
#include <utility>

#include "platform/file_system.h"

namespace vornel {

// What the status of a path is when the host refused to open it: from the
// error, and the path's own attributes (a link's, not its target's). A link
// that leads nowhere or round in a loop is no file or directory.
FileInfo statusRefused(DWORD error, DWORD attributes);

// The host's file services through the wide (UTF-16) Windows calls; paths
// and names are UTF-8 on this side and use the backslash.
class WindowsFileSystem : public FileSystem {
 public:
  char separator() const override { return '\\'; }
  bool listDirectory(const std::string& path, std::vector<std::string>& names) override;
  FileInfo stat(const std::string& path) override;
  std::unique_ptr<InputFile> openInput(const std::string& path) override;
  std::unique_ptr<OutputFile> createOutput(const std::string& path) override;
  std::string lastError() const override;

 private:
  bool failed(std::string reason) {
    error_ = std::move(reason);
    return false;
  }


  // Paths listed with a name that is not valid UTF-16: they stand in the
  // listing with U+FFFD, and their status cannot be read.
  std::unordered_set<std::string> unreadable_;
  std::string error_;  // of the last call that failed
};

}  // namespace vornel
