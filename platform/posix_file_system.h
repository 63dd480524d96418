#pragma once

#include <string>

#include "platform/descriptor.h"
#include "platform/file_system.h"

namespace vornel {

// The host's file services through POSIX calls.
class PosixFileSystem : public FileSystem {
 public:
  bool listDirectory(const std::string& path, std::vector<std::string>& names) override;
  FileInfo stat(const std::string& path) override;
  std::unique_ptr<InputFile> openInput(const std::string& path) override;
  std::unique_ptr<OutputFile> createOutput(const std::string& path) override;
  std::string lastError() const override;

 private:
  bool failed(int error) {
    error_ = error;
    return false;
  }

  // The folder to look a path's last name up in, and that name: the scan and
  // the writer take the entries of one folder after another, so keeping the
  // last folder open spares the host walking the whole path for each entry.
  // AT_FDCWD and the whole path when the folder cannot be opened.
  int folderOf(const std::string& path, const char*& name);

  std::string folder_;  // ends with "/"
  Descriptor folderFd_;
  int error_ = 0;  // of the last call that failed
};

// The host's text for an errno value.
std::string hostErrorText(int error);

}  // namespace vornel
