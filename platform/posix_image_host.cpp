#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/image_file.h"

namespace vornel {

namespace {

std::string reason(const std::string& what) { return what + ": " + std::strerror(errno); }

class PosixImageFile : public ImageFile {
 public:
  PosixImageFile(int fd, std::uint64_t size) : fd_(fd), size_(size) {}
  ~PosixImageFile() override { ::close(fd_); }
  std::uint64_t size() const override { return size_; }
  bool readAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t size) override {
    if (offset > size_ || size > size_ - offset) return false;
    while (size > 0) {
      const ssize_t got = ::pread(fd_, buffer, size, static_cast<off_t>(offset));
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) return false;
      buffer += got;
      offset += static_cast<std::uint64_t>(got);
      size -= static_cast<std::size_t>(got);
    }
    return true;
  }

 private:
  int fd_;
  std::uint64_t size_;
};

// Holds one descriptor: the current directory. Going down opens the child
// relative to it and closes it; going up opens "..". So a tree of any depth
// costs two descriptors, and every name is resolved inside a directory that
// this class created itself, never through a link.
class PosixExtractTarget : public ExtractTarget {
 public:
  explicit PosixExtractTarget(int dirFd) : dir_(dirFd) {}
  ~PosixExtractTarget() override {
    if (file_ >= 0) ::close(file_);
    ::close(dir_);
  }

  bool enterNewDirectory(const std::string& name, std::string& error) override {
    if (::mkdirat(dir_, name.c_str(), 0755) != 0) return fail(error, "cannot create directory");
    return moveTo(::openat(dir_, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC), error);
  }
  bool leaveDirectory(std::string& error) override {
    return moveTo(::openat(dir_, "..", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC), error);
  }
  bool createFile(const std::string& name, std::string& error) override {
    // O_EXCL refuses any existing name, a link included, dangling or not.
    file_ = ::openat(dir_, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    return file_ >= 0 || fail(error, "cannot create file");
  }
  bool writeFile(const std::uint8_t* data, std::size_t size, std::string& error) override {
    while (size > 0) {
      const ssize_t put = ::write(file_, data, size);
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) return fail(error, "cannot write file");
      data += put;
      size -= static_cast<std::size_t>(put);
    }
    return true;
  }
  bool closeFile(std::string& error) override {
    const int fd = file_;
    file_ = -1;
    return ::close(fd) == 0 || fail(error, "cannot write file");
  }

 private:
  static bool fail(std::string& error, const std::string& what) {
    error = reason(what);
    return false;
  }
  bool moveTo(int fd, std::string& error) {
    if (fd < 0) return fail(error, "cannot open directory");
    ::close(dir_);
    dir_ = fd;
    return true;
  }

  int dir_;
  int file_ = -1;
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
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = reason("cannot open " + path);
    return nullptr;
  }
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    error = "cannot read " + path + ": not a regular file";
    ::close(fd);
    return nullptr;
  }
  return std::make_unique<PosixImageFile>(fd, static_cast<std::uint64_t>(st.st_size));
}

std::unique_ptr<ExtractTarget> PosixImageHost::openExtractRoot(const std::string& path, std::string& error) {
  if (::mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) {
    error = reason("cannot create " + path);
    return nullptr;
  }
  const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    error = reason("cannot open directory " + path);
    return nullptr;
  }
  if (!isEmptyDirectory(fd)) {
    error = path + " is not empty";
    ::close(fd);
    return nullptr;
  }
  return std::make_unique<PosixExtractTarget>(fd);
}

}  // namespace vornel
