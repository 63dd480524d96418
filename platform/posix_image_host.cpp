#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/descriptor.h"
#include "platform/image_file.h"

namespace vornel {

namespace {

std::string reason(const std::string& what) { return what + ": " + std::strerror(errno); }

class PosixImageFile : public ImageFile {
 public:
  PosixImageFile(int fd, std::uint64_t size) : fd_(fd), size_(size) {}
  std::uint64_t size() const override { return size_; }
  bool readAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t size) override {
    if (offset > size_ || size > size_ - offset) return false;
    while (size > 0) {
      const ssize_t got = ::pread(fd_.get(), buffer, size, static_cast<off_t>(offset));
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) return false;
      buffer += got;
      offset += static_cast<std::uint64_t>(got);
      size -= static_cast<std::size_t>(got);
    }
    return true;
  }

 private:
  Descriptor fd_;
  std::uint64_t size_;
};

// Holds one descriptor: the current directory. Going down opens the child
// relative to it and closes it; going up opens "..". So a tree of any depth
// costs two descriptors, and every name is resolved inside a directory that
// this class created itself, never through a link.
class PosixExtractTarget : public ExtractTarget {
 public:
  explicit PosixExtractTarget(int dirFd) : dir_(dirFd) {}

  bool enterNewDirectory(const std::string& name, std::string& error) override {
    if (::mkdirat(dir_.get(), name.c_str(), 0755) != 0) return fail(error, "cannot create directory");
    return moveTo(::openat(dir_.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC), error);
  }
  bool leaveDirectory(std::string& error) override {
    return moveTo(::openat(dir_.get(), "..", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC), error);
  }
  bool createFile(const std::string& name, std::string& error) override {
    // O_EXCL refuses any existing name, a link included, dangling or not.
    file_.reset(::openat(dir_.get(), name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
    return file_.get() >= 0 || fail(error, "cannot create file");
  }
  bool writeFile(const std::uint8_t* data, std::size_t size, std::string& error) override {
    while (size > 0) {
      const ssize_t put = ::write(file_.get(), data, size);
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) return fail(error, "cannot write file");
      data += put;
      size -= static_cast<std::size_t>(put);
    }
    return true;
  }
  bool closeFile(std::string& error) override {
    return ::close(file_.release()) == 0 || fail(error, "cannot write file");
  }

 private:
  static bool fail(std::string& error, const std::string& what) {
    error = reason(what);
    return false;
  }
  bool moveTo(int fd, std::string& error) {
    if (fd < 0) return fail(error, "cannot open directory");
    dir_.reset(fd);
    return true;
  }

  Descriptor dir_;
  Descriptor file_;
};

bool isEmptyDirectory(int fd) {
  const int copy = ::dup(fd);
  if (copy < 0) return false;
  DIR* dir = ::fdopendir(copy);
  if (dir == nullptr) {
    ::close(copy);
    return false;
  }
  bool empty = true;
  while (const dirent* e = ::readdir(dir)) {
    if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) empty = false;
  }
  ::closedir(dir);
  return empty;
}

}  // namespace

std::unique_ptr<ImageFile> PosixImageHost::openImage(const std::string& path, std::string& error) {
  Descriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) {
    error = reason("cannot open " + path);
    return nullptr;
  }
  struct stat st;
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
    error = "cannot read " + path + ": not a regular file";
    return nullptr;
  }
  return std::make_unique<PosixImageFile>(fd.release(), static_cast<std::uint64_t>(st.st_size));
}

std::unique_ptr<ExtractTarget> PosixImageHost::openExtractRoot(const std::string& path, std::string& error) {
  if (::mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) {
    error = reason("cannot create " + path);
    return nullptr;
  }
  Descriptor fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.get() < 0) {
    error = reason("cannot open directory " + path);
    return nullptr;
  }
  if (!isEmptyDirectory(fd.get())) {
    error = path + " is not empty";
    return nullptr;
  }
  return std::make_unique<PosixExtractTarget>(fd.release());
}

}  // namespace vornel
