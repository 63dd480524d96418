#include "platform/posix_file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace vornel {

namespace {

// Owns a descriptor and closes it once.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

class PosixInputFile : public InputFile {
 public:
  explicit PosixInputFile(int fd) : fd_(fd) {}
  long long read(std::uint8_t* buffer, std::size_t size) override {
    ssize_t got;
    do {
      got = ::read(fd_.get(), buffer, size);
    } while (got < 0 && errno == EINTR);
    return got;
  }
  bool rewind() override { return ::lseek(fd_.get(), 0, SEEK_SET) == 0; }

 private:
  Descriptor fd_;
};

class PosixOutputFile : public OutputFile {
 public:
  explicit PosixOutputFile(int fd) : fd_(fd) {}
  bool seek(std::uint64_t offset) override {
    return ::lseek(fd_.get(), static_cast<off_t>(offset), SEEK_SET) == static_cast<off_t>(offset);
  }
  long long write(const std::uint8_t* data, std::size_t size) override {
    ssize_t put;
    do {
      put = ::write(fd_.get(), data, size);
    } while (put < 0 && errno == EINTR);
    return put;
  }

 private:
  Descriptor fd_;
};

}  // namespace

bool PosixFileSystem::listDirectory(const std::string& path, std::vector<std::string>& names) {
  DIR* dir = ::opendir(path.c_str());
  if (dir == nullptr) return false;
  names.clear();
  bool ok = true;
  for (;;) {
    // readdir returns null both at the end and on an error; errno tells them apart.
    errno = 0;
    const dirent* entry = ::readdir(dir);
    if (entry == nullptr) {
      ok = errno == 0;
      break;
    }
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    names.emplace_back(entry->d_name);
  }
  ::closedir(dir);
  return ok;
}

FileInfo PosixFileSystem::stat(const std::string& path) {
  struct ::stat st;
  FileInfo info;
  if (::stat(path.c_str(), &st) != 0) return info;
  if (S_ISREG(st.st_mode)) {
    info.kind = FileKind::Regular;
  } else if (S_ISDIR(st.st_mode)) {
    info.kind = FileKind::Directory;
  } else {
    info.kind = FileKind::Other;
  }
  info.size = static_cast<std::uint64_t>(st.st_size);
  info.device = static_cast<std::uint64_t>(st.st_dev);
  info.inode = static_cast<std::uint64_t>(st.st_ino);
  return info;
}

std::unique_ptr<InputFile> PosixFileSystem::openInput(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  return std::make_unique<PosixInputFile>(fd);
}

std::unique_ptr<OutputFile> PosixFileSystem::createOutput(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, S_IRUSR | S_IWUSR);
  if (fd < 0) return nullptr;
  return std::make_unique<PosixOutputFile>(fd);
}

}  // namespace vornel
