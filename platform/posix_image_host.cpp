#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/descriptor.h"
#include "platform/image_file.h"
#include "platform/posix_calls.h"
#include "platform/posix_interrupts.h"

namespace vornel {

namespace {

std::string reason(const std::string& what) { return what + ": " + std::strerror(errno); }

class PosixImageFile : public ImageFile {
 public:
  PosixImageFile(int fd, std::uint64_t size) : fd_(fd), size_(size) {}
  std::uint64_t size() const override { return size_; }
  bool readAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t size) override {
    return readWhole(size_, offset, buffer, size, [this](std::uint64_t at, std::uint8_t* into, std::size_t count) {
      ssize_t got;
      do {
        got = ::pread(fd_.get(), into, count, static_cast<off_t>(at));
      } while (got < 0 && errno == EINTR);
      return static_cast<long long>(got);
    });
  }

 private:
  Descriptor fd_;
  std::uint64_t size_;
};

// Holds a descriptor of every directory on the current path: going down
// opens the child relative to its parent, going up closes it, and no name
// is ever looked up from the root or through "..". So a folder moved or
// replaced during the run keeps receiving its own entries wherever it now
// is, and every name is resolved inside a directory that this class created
// itself, never through a link. A file is written under a temporary name in
// its directory and linked to its real name only when whole.
class PosixExtractTarget : public ExtractTarget {
 public:
  explicit PosixExtractTarget(int rootFd) : dirs_{rootFd} {}
  ~PosixExtractTarget() override {
    abandonFile();
    for (const int fd : dirs_) ::close(fd);
  }
  PosixExtractTarget(const PosixExtractTarget&) = delete;
  PosixExtractTarget& operator=(const PosixExtractTarget&) = delete;

  bool enterNewDirectory(const std::string& name, std::string& error) override {
    if (::mkdirat(dir(), name.c_str(), 0755) != 0) return fail(error, "cannot create directory");
    const int fd = ::openat(dir(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return fail(error, "cannot open directory");
    dirs_.push_back(fd);
    return true;
  }
  void leaveDirectory() override {
    ::close(dirs_.back());
    dirs_.pop_back();
  }
  bool createFile(const std::string& name, std::string& error) override {
    name_ = name;
    // O_EXCL refuses any existing name, a link included, dangling or not;
    // a temporary name that happens to be taken is tried again.
    for (int attempt = 0; attempt < 100; ++attempt) {
      temp_ = ".vornel-inspect-" + std::to_string(::getpid()) + "-" + std::to_string(nextTemp_++);
      const InterruptsBlocked blocked;
      file_.reset(::openat(dir(), temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
      if (file_.get() >= 0) {
        registerTemp(dir(), temp_);
        return true;
      }
      if (errno != EEXIST) break;
    }
    temp_.clear();
    return fail(error, "cannot create file");
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
  bool finishFile(std::string& error) override {
    // A write error that the host defers (NFS, a quota) shows only at close.
    if (::close(file_.release()) != 0) return discard(error, "cannot write file");
    if (!publish()) return discard(error, "cannot create file");
    gTempSet = 0;
    temp_.clear();
    return true;
  }
  void abandonFile() override {
    file_.reset();
    if (temp_.empty()) return;
    ::unlinkat(dir(), temp_.c_str(), 0);
    gTempSet = 0;
    temp_.clear();
  }

 private:
  int dir() const { return dirs_.back(); }
  static bool fail(std::string& error, const std::string& what) {
    error = reason(what);
    return false;
  }
  // Fails with the host's reason and removes the temporary file.
  bool discard(std::string& error, const std::string& what) {
    fail(error, what);
    abandonFile();
    return false;
  }
  // Gives the temporary file its real name, never replacing an entry that
  // exists: an atomic rename where the host offers one, else a new link.
  bool publish() {
#if VORNEL_LINUX_CALLS && defined(RENAME_NOREPLACE)
    if (::renameat2(dir(), temp_.c_str(), dir(), name_.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;  // the file system cannot rename so
#endif
    if (::linkat(dir(), temp_.c_str(), dir(), name_.c_str(), 0) != 0) return false;
    ::unlinkat(dir(), temp_.c_str(), 0);
    return true;
  }

  std::vector<int> dirs_;  // the root first, the current directory last
  Descriptor file_;
  std::string name_;  // the file being written, and its temporary name
  std::string temp_;
  unsigned nextTemp_ = 0;
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
  // A descriptor per level of the deepest chain an image holds (2048
  // levels), where the host allows that many.
  constexpr rlim_t kWanted = 4096;
  struct rlimit files;
  if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < kWanted) {
    files.rlim_cur = std::min(kWanted, files.rlim_max);
    ::setrlimit(RLIMIT_NOFILE, &files);
  }
  return std::make_unique<PosixExtractTarget>(fd.release());
}

}  // namespace vornel
