#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace vornel {

// What a path names once symbolic links are followed.
enum class FileKind {
  Regular,
  Directory,
  Other,       // neither, or a link that leads nowhere (dangling, a loop)
  Missing,     // no entry of that name
  Unreadable,  // its status cannot be read: no permission, a path too long, an I/O error
};

struct FileInfo {
  FileKind kind = FileKind::Missing;
  std::uint64_t size = 0;    // bytes; meaningful for regular files
  std::uint64_t device = 0;  // with inode, tells one directory from another
  std::uint64_t inode = 0;
  // Missing, Unreadable and Other: why, in the host's words ("Permission
  // denied", "it is a FIFO"); empty otherwise.
  std::string reason;
};

// A source file opened for reading from its start.
class InputFile {
 public:
  virtual ~InputFile() = default;
  // Reads up to size bytes; returns the count read, 0 at the end, -1 on error.
  virtual long long read(std::uint8_t* buffer, std::size_t size) = 0;
  // Moves the read position to an absolute byte offset; false on failure.
  virtual bool seek(std::uint64_t offset) = 0;
  // Why the last call that failed did, in the host's words.
  virtual std::string lastError() const { return {}; }
};

// Reads until size bytes are in or the input ends: the count read, less than
// size only at the end of the input; -1 on an error.
inline long long readFully(InputFile& in, std::uint8_t* buffer, std::size_t size) {
  std::size_t got = 0;
  while (got < size) {
    const long long n = in.read(buffer + got, size - got);
    if (n < 0) return -1;
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  return static_cast<long long>(got);
}

// The image being written. Until it is committed it stands apart from the
// output path (a temporary file beside it), so an existing output is replaced
// only by a complete image; destroying it uncommitted throws the bytes away.
// An output that cannot seek (standard output, a pipe) takes its bytes in
// order: a seek or a write anywhere but at its end fails.
class OutputFile {
 public:
  virtual ~OutputFile() = default;
  // Whether the image must be written in order, from block 0 to the last.
  virtual bool inOrder() const { return false; }
  // Moves the write position to an absolute byte offset; false on failure.
  virtual bool seek(std::uint64_t offset) = 0;
  // Writes size bytes at the write position; returns the count written, -1 on error.
  virtual long long write(const std::uint8_t* data, std::size_t size) = 0;
  // Writes the blocks of blockSize bytes one after another from offset (the
  // same block may stand several times); false unless all are written.
  virtual bool writeBlocks(std::uint64_t offset, std::span<const std::uint8_t* const> blocks, std::size_t blockSize) {
    if (!seek(offset)) return false;
    for (const std::uint8_t* block : blocks) {
      if (write(block, blockSize) != static_cast<long long>(blockSize)) return false;
    }
    return true;
  }
  // Copies up to length bytes from the input's position to offset inside the
  // host, without passing them through the program, and moves the input on
  // by as many. Returns the count copied: less than length at the end of the
  // input, or when the host cannot copy between these two files or fails
  // midway; the caller then goes on with reads and writes from there, which
  // meet and report any real failure. By default nothing is copied.
  virtual std::uint64_t copyFrom(InputFile& /*in*/, std::uint64_t /*offset*/, std::uint64_t /*length*/) { return 0; }
  // Closes the image and puts it at the output path; false when the close or
  // the rename fails, and the output path is then left as it was.
  virtual bool commit() = 0;
  // Why the last call that failed did, in the host's words ("No space left
  // on device"); a short write the host gave no reason for says so.
  virtual std::string lastError() const { return {}; }
};

// The host file services the scanner and the writer use. The POSIX class is
// the only code that talks to the OS; tests replace it to script failures and
// to fix the enumeration order.
class FileSystem {
 public:
  virtual ~FileSystem() = default;
  // The host's path separator: every path the scanner and the writer
  // compose puts it between a folder and a name, and the source folder
  // ends with it.
  virtual char separator() const { return '/'; }
  // The names in a directory, in the host's own order, without "." and "..".
  // False when the directory cannot be enumerated (missing, not a directory,
  // no permission, read error): never an empty list in that case.
  virtual bool listDirectory(const std::string& path, std::vector<std::string>& names) = 0;
  // Follows symbolic links; a link that leads nowhere is Other.
  virtual FileInfo stat(const std::string& path) = 0;
  // Opens a file read-only in binary mode; null on failure.
  virtual std::unique_ptr<InputFile> openInput(const std::string& path) = 0;
  // Starts the image for an output path: a new temporary file, created
  // exclusively beside the output (beside the target of a symbolic link),
  // which commit() renames over it; an existing device or FIFO is written in
  // place, and "-" is standard output. A new output gets the permission bits
  // 0666 less the umask, a replaced one keeps its own. Null when it cannot
  // be created (a missing or read-only folder, an output that is a
  // directory, an empty path).
  virtual std::unique_ptr<OutputFile> createOutput(const std::string& path) = 0;
  // Why the last call of listDirectory, openInput or createOutput that
  // failed did, in the host's words ("No such file or directory").
  virtual std::string lastError() const { return {}; }
};

}  // namespace vornel
