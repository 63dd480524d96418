#pragma once

// Reading a finished image, and creating the tree that an image holds. The
// POSIX classes (posix_image_host.cpp) are the only code here that talks to
// the OS; tests replace them with the in-memory ones (fake_image_host.h).

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace vornel {

// An image opened read-only. Reads are positioned, so the reader never holds
// more of the image than it asks for.
class ImageFile {
 public:
  virtual ~ImageFile() = default;
  virtual std::uint64_t size() const = 0;
  // Reads exactly size bytes at offset; false on a read error or when the
  // range goes past the end.
  virtual bool readAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t size) = 0;
};

// Reads exactly size bytes at offset of an image of imageSize bytes, piece
// by piece: readSome(offset, buffer, size) returns the count it read, 0 at
// the end, less than 0 on an error. False on an error or when the range
// goes past the end.
template <typename ReadSome>
bool readWhole(std::uint64_t imageSize, std::uint64_t offset, std::uint8_t* buffer, std::size_t size,
               ReadSome readSome) {
  if (offset > imageSize || size > imageSize - offset) return false;
  while (size > 0) {
    const long long got = readSome(offset, buffer, size);
    if (got <= 0) return false;
    buffer += got;
    offset += static_cast<std::uint64_t>(got);
    size -= static_cast<std::size_t>(got);
  }
  return true;
}

// A cursor on a directory tree being created, one directory at a time.
// Every directory on the current path stays held as it was entered, so a
// folder moved or replaced meanwhile never sends an entry anywhere else.
// Nothing is ever created through a symbolic link, and nothing that exists
// is replaced: a name that already exists in the current directory fails.
class ExtractTarget {
 public:
  virtual ~ExtractTarget() = default;
  // Creates the subdirectory `name` of the current directory and makes it
  // the current one.
  virtual bool enterNewDirectory(const std::string& name, std::string& error) = 0;
  // Makes the directory that was current before the last
  // enterNewDirectory the current one again.
  virtual void leaveDirectory() = 0;
  // Starts the file `name` in the current directory, under a temporary
  // name until finishFile.
  virtual bool createFile(const std::string& name, std::string& error) = 0;
  // Appends to the file that createFile started.
  virtual bool writeFile(const std::uint8_t* data, std::size_t size, std::string& error) = 0;
  // Ends the file and gives it its name. On failure (a write the host
  // deferred, the name taken) nothing is left under either name.
  virtual bool finishFile(std::string& error) = 0;
  // Drops the file that createFile started: nothing is left of it.
  virtual void abandonFile() = 0;
};

// What vornel-inspect needs of the host besides the source file services.
class ImageHost {
 public:
  virtual ~ImageHost() = default;
  // Opens an image read-only; null with a reason on failure.
  virtual std::unique_ptr<ImageFile> openImage(const std::string& path, std::string& error) = 0;
  // Opens the folder that receives an extracted tree: created when missing,
  // refused unless empty. Null with a reason on failure.
  virtual std::unique_ptr<ExtractTarget> openExtractRoot(const std::string& path, std::string& error) = 0;
};

class PosixImageHost : public ImageHost {
 public:
  std::unique_ptr<ImageFile> openImage(const std::string& path, std::string& error) override;
  std::unique_ptr<ExtractTarget> openExtractRoot(const std::string& path, std::string& error) override;
};

}  // namespace vornel
