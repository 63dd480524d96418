#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vornel {

// What a path names once symbolic links are followed.
enum class FileKind { Regular, Directory, Other, Missing };

struct FileInfo {
  FileKind kind = FileKind::Missing;
  std::uint64_t size = 0;    // bytes; meaningful for regular files
  std::uint64_t device = 0;  // with inode, tells one directory from another
  std::uint64_t inode = 0;
};

// A source file opened for reading from its start.
class InputFile {
 public:
  virtual ~InputFile() = default;
  // Reads up to size bytes; returns the count read, 0 at the end, -1 on error.
  virtual long long read(std::uint8_t* buffer, std::size_t size) = 0;
  // Goes back to the first byte; false on failure.
  virtual bool rewind() = 0;
};

// The image file being written.
class OutputFile {
 public:
  virtual ~OutputFile() = default;
  // Moves the write position to an absolute byte offset; false on failure.
  virtual bool seek(std::uint64_t offset) = 0;
  // Writes size bytes at the write position; returns the count written, -1 on error.
  virtual long long write(const std::uint8_t* data, std::size_t size) = 0;
};

// The host file services the scanner and the writer use. The POSIX class is
// the only code that talks to the OS; tests replace it to script failures and
// to fix the enumeration order.
class FileSystem {
 public:
  virtual ~FileSystem() = default;
  // The names in a directory, in the host's own order, without "." and "..".
  // False when the directory cannot be enumerated (missing, not a directory,
  // no permission, read error): never an empty list in that case.
  virtual bool listDirectory(const std::string& path, std::vector<std::string>& names) = 0;
  // Follows symbolic links; a dangling link is Missing.
  virtual FileInfo stat(const std::string& path) = 0;
  // Opens a file read-only in binary mode; null on failure.
  virtual std::unique_ptr<InputFile> openInput(const std::string& path) = 0;
  // Creates the file, or truncates it when it exists; null on failure.
  virtual std::unique_ptr<OutputFile> createOutput(const std::string& path) = 0;
};

}  // namespace vornel
