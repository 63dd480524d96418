#include "platform/posix_file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "platform/descriptor.h"
#include "platform/posix_calls.h"
#include "platform/posix_interrupts.h"

namespace vornel {

namespace {

// strerror_r in both of its forms: the GNU one returns its text, which may
// be a text of its own instead of the buffer; the POSIX one fills the buffer.
[[maybe_unused]] const char* errorText(const char* text, const char* /*buffer*/) { return text; }
[[maybe_unused]] const char* errorText(int result, const char* buffer) {
  return result == 0 ? buffer : "unknown error";
}

}  // namespace

std::string hostErrorText(int error) {
  char buffer[256] = {};
  return errorText(::strerror_r(error, buffer, sizeof buffer), buffer);
}

namespace {

class PosixInputFile : public InputFile {
 public:
  explicit PosixInputFile(int fd) : fd_(fd) {}
  int fd() const { return fd_.get(); }
  long long read(std::uint8_t* buffer, std::size_t size) override {
    ssize_t got;
    do {
      got = ::read(fd_.get(), buffer, size);
    } while (got < 0 && errno == EINTR);
    if (got < 0) error_ = errno;
    return got;
  }
  bool seek(std::uint64_t offset) override {
    if (::lseek(fd_.get(), static_cast<off_t>(offset), SEEK_SET) == static_cast<off_t>(offset)) return true;
    error_ = errno;
    return false;
  }
  std::string lastError() const override { return hostErrorText(error_); }

 private:
  Descriptor fd_;
  int error_ = 0;
};

class PosixOutputFile : public OutputFile {
 public:
  // An empty tempPath writes the output in place (a device, a FIFO, standard
  // output); one that cannot seek is written in order.
  PosixOutputFile(int fd, std::string tempPath, std::string finalPath, bool inOrder = false)
      : fd_(fd), tempPath_(std::move(tempPath)), finalPath_(std::move(finalPath)), inOrder_(inOrder) {}
  ~PosixOutputFile() override { discardTemp(); }
  bool inOrder() const override { return inOrder_; }
  // Only a failure the host reports counts: a device such as /dev/null
  // accepts the seek and reports position 0. An output written in order
  // only ever stands at its end.
  bool seek(std::uint64_t offset) override {
    if (inOrder_) return offset == position_ || failed(ESPIPE);
    return ::lseek(fd_.get(), static_cast<off_t>(offset), SEEK_SET) >= 0 || failed(errno);
  }
  long long write(const std::uint8_t* data, std::size_t size) override {
    ssize_t put;
    do {
      put = ::write(fd_.get(), data, size);
    } while (put < 0 && errno == EINTR);
    if (put < 0) failed(errno);
    if (put > 0) position_ += static_cast<std::uint64_t>(put);
    return put;
  }
  // One positioned, vectored write per IOV_MAX blocks instead of a seek and
  // a write per block (a plain vectored write at the end of an output
  // written in order); a short write goes on where it stopped.
  bool writeBlocks(std::uint64_t offset, std::span<const std::uint8_t* const> blocks, std::size_t blockSize) override {
    if (inOrder_ && offset != position_) return failed(ESPIPE);
    std::vector<iovec>& vector = vector_;
    vector.resize(std::min<std::size_t>(blocks.size(), IOV_MAX));
    std::size_t next = 0;     // the first block not yet written whole
    std::size_t written = 0;  // bytes of that block already written
    while (next < blocks.size()) {
      const std::size_t count = std::min(vector.size(), blocks.size() - next);
      for (std::size_t i = 0; i < count; ++i) {
        vector[i].iov_base = const_cast<std::uint8_t*>(blocks[next + i]);
        vector[i].iov_len = blockSize;
      }
      vector[0].iov_base = static_cast<std::uint8_t*>(vector[0].iov_base) + written;
      vector[0].iov_len -= written;
      const ssize_t put = inOrder_ ? ::writev(fd_.get(), vector.data(), static_cast<int>(count))
                                   : writeAt(offset, vector.data(), static_cast<int>(count));
      if (put < 0 && errno == EINTR) continue;
      if (put < 0) return failed(errno);
      if (put == 0) return failed(ENOSPC);  // the host took nothing and gave no reason
      offset += static_cast<std::uint64_t>(put);
      if (inOrder_) position_ = offset;
      written += static_cast<std::size_t>(put);
      next += written / blockSize;
      written %= blockSize;
    }
    return true;
  }
  // On Linux the kernel copies straight from the source into the image; a
  // kernel that cannot copy between the two files (another file system, a
  // device) refuses at once. Then, and on every other host, nothing is
  // copied here and the caller reads and writes instead.
  std::uint64_t copyFrom([[maybe_unused]] InputFile& in, [[maybe_unused]] std::uint64_t offset,
                         [[maybe_unused]] std::uint64_t length) override {
    std::uint64_t copied = 0;
#if VORNEL_LINUX_CALLS
    const auto* source = dynamic_cast<const PosixInputFile*>(&in);
    if (source == nullptr || inOrder_) return 0;
    auto position = static_cast<loff_t>(offset);
    while (copied < length) {
      const ssize_t got = ::copy_file_range(source->fd(), nullptr, fd_.get(), &position, length - copied, 0);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;
      copied += static_cast<std::uint64_t>(got);
    }
#endif
    return copied;
  }
  bool commit() override {
    // A write error that the host defers (NFS, a quota) shows only here.
    if (::close(fd_.release()) != 0 && errno != EINTR) return failed(errno);
    if (tempPath_.empty()) return true;
    if (::rename(tempPath_.c_str(), finalPath_.c_str()) != 0) return failed(errno);
    gTempSet = 0;
    tempPath_.clear();
    return true;
  }
  std::string lastError() const override { return hostErrorText(error_); }

 private:
  bool failed(int error) {
    error_ = error;
    return false;
  }
  // One positioned, vectored write; a seek and a plain vectored one where
  // the host has no pwritev.
  ssize_t writeAt(std::uint64_t offset, const iovec* vector, int count) {
#if VORNEL_LINUX_CALLS
    return ::pwritev(fd_.get(), vector, count, static_cast<off_t>(offset));
#else
    if (::lseek(fd_.get(), static_cast<off_t>(offset), SEEK_SET) < 0) return -1;
    return ::writev(fd_.get(), vector, count);
#endif
  }
  void discardTemp() {
    if (tempPath_.empty()) return;
    ::unlink(tempPath_.c_str());
    gTempSet = 0;
  }

  Descriptor fd_;
  std::string tempPath_;
  std::string finalPath_;
  std::vector<iovec> vector_;  // kept from one write to the next
  bool inOrder_;
  std::uint64_t position_ = 0;  // the bytes written so far, for an output written in order
  int error_ = 0;
};

// The path that a chain of symbolic links ends at, whether or not it exists;
// the path itself when it is no link. Empty for a loop of links.
std::string followLinks(std::string path) {
  for (int hops = 0; hops < 40; ++hops) {
    std::string target(4096, '\0');
    const ssize_t length = ::readlink(path.c_str(), target.data(), target.size());
    if (length <= 0) return path;
    target.resize(static_cast<std::size_t>(length));
    const std::size_t slash = path.rfind('/');
    path = target.front() == '/' || slash == std::string::npos ? target : path.substr(0, slash + 1) + target;
  }
  return {};
}

}  // namespace

int PosixFileSystem::folderOf(const std::string& path, const char*& name) {
  const std::size_t slash = path.rfind('/');
  name = path.c_str();
  if (slash == std::string::npos || slash + 1 == path.size()) return AT_FDCWD;
  if (path.compare(0, slash + 1, folder_) != 0) {
    folder_ = path.substr(0, slash + 1);
    folderFd_.reset(::open(folder_.c_str(), (VORNEL_LINUX_CALLS ? O_PATH : O_RDONLY) | O_DIRECTORY | O_CLOEXEC));
  }
  if (folderFd_.get() < 0) return AT_FDCWD;
  name = path.c_str() + slash + 1;
  return folderFd_.get();
}

bool PosixFileSystem::listDirectory(const std::string& path, std::vector<std::string>& names) {
  std::string folder = path;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  const char* name = nullptr;
  const int parent = folderOf(folder, name);
  Descriptor fd(::openat(parent, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.get() < 0) return failed(errno);
  names.clear();
#if VORNEL_LINUX_CALLS
  // The entries straight from the host, a buffer at a time: an error is
  // told apart from the end, which an empty read marks.
  alignas(dirent64) char buffer[32768];
  long got;
  while ((got = ::getdents64(fd.get(), buffer, sizeof buffer)) > 0) {
    for (long at = 0; at < got;) {
      const auto* entry = reinterpret_cast<const dirent64*>(buffer + at);
      at += entry->d_reclen;
      if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
      names.emplace_back(entry->d_name);
    }
  }
  return got == 0 || failed(errno);
#else
  // readdir tells an error from the end by errno, which it leaves alone at the end.
  DIR* dir = ::fdopendir(fd.get());
  if (dir == nullptr) return failed(errno);
  fd.release();
  errno = 0;
  while (const dirent* entry = ::readdir(dir)) {
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
      names.emplace_back(entry->d_name);
    }
    errno = 0;
  }
  const int error = errno;
  ::closedir(dir);
  return error == 0 || failed(error);
#endif
}

FileInfo PosixFileSystem::stat(const std::string& path) {
  struct ::stat st;
  FileInfo info;
  const char* name = nullptr;
  const int folder = folderOf(path, name);
  if (::fstatat(folder, name, &st, 0) != 0) {
    const int error = errno;
    struct ::stat link = {};
    const bool isLink = ::fstatat(folder, name, &link, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(link.st_mode);
    if (error == ELOOP || ((error == ENOENT || error == ENOTDIR) && isLink)) {
      info.kind = FileKind::Other;
      info.reason = error == ELOOP ? hostErrorText(error) : "it is a symbolic link that leads nowhere";
    } else {
      info.kind = error == ENOENT ? FileKind::Missing : FileKind::Unreadable;
      info.reason = hostErrorText(error);
    }
    return info;
  }
  if (S_ISREG(st.st_mode)) {
    info.kind = FileKind::Regular;
  } else if (S_ISDIR(st.st_mode)) {
    info.kind = FileKind::Directory;
  } else {
    info.kind = FileKind::Other;
    info.reason = S_ISFIFO(st.st_mode) ? "it is a FIFO" : S_ISSOCK(st.st_mode) ? "it is a socket" : "it is a device";
  }
  info.size = static_cast<std::uint64_t>(st.st_size);
  info.device = static_cast<std::uint64_t>(st.st_dev);
  info.inode = static_cast<std::uint64_t>(st.st_ino);
  return info;
}

std::unique_ptr<InputFile> PosixFileSystem::openInput(const std::string& path) {
  const char* name = nullptr;
  const int folder = folderOf(path, name);
  const int fd = ::openat(folder, name, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return failed(errno), nullptr;
  return std::make_unique<PosixInputFile>(fd);
}

// Whether a descriptor refuses to seek: a pipe, a socket, some devices.
bool cannotSeek(int fd) { return ::lseek(fd, 0, SEEK_CUR) < 0 && errno == ESPIPE; }

std::unique_ptr<OutputFile> PosixFileSystem::createOutput(const std::string& path) {
  // Standard output is taken as it is and always written in order: it may
  // be a pipe, and a redirected file may stand at any offset.
  if (path == "-") return std::make_unique<PosixOutputFile>(STDOUT_FILENO, std::string(), path, true);
  const std::string target = path.empty() ? path : followLinks(path);
  if (target.empty()) return failed(path.empty() ? ENOENT : ELOOP), nullptr;
  struct ::stat st;
  const bool exists = ::stat(target.c_str(), &st) == 0;
  if (exists && (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode) || S_ISFIFO(st.st_mode))) {
    const int fd = ::open(target.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) return failed(errno), nullptr;
    return std::make_unique<PosixOutputFile>(fd, std::string(), target, cannotSeek(fd));
  }
  if (exists && !S_ISREG(st.st_mode)) return failed(S_ISDIR(st.st_mode) ? EISDIR : EINVAL), nullptr;
  const std::size_t slash = target.rfind('/');
  std::string temp = (slash == std::string::npos ? std::string() : target.substr(0, slash + 1)) + ".vornel-XXXXXX";
  if (temp.size() >= sizeof gTempPath) return failed(ENAMETOOLONG), nullptr;
  // The bits a new file would get: 0666 less the umask, which can only be
  // read by setting it, so it is set back at once.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  InterruptsBlocked blocked;
  // Created exclusively; read and write for the owner only until fchmod.
#if VORNEL_LINUX_CALLS
  const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
#else
  const int fd = ::mkstemp(temp.data());
  if (fd >= 0) ::fcntl(fd, F_SETFD, FD_CLOEXEC);
#endif
  if (fd < 0) return failed(errno), nullptr;
  registerTemp(temp);
  auto out = std::make_unique<PosixOutputFile>(fd, temp, target);
  // A replaced output keeps its permission bits.
  if (::fchmod(fd, exists ? st.st_mode & 07777 : 0666 & ~mask) != 0) return failed(errno), nullptr;
  return out;
}

std::string PosixFileSystem::lastError() const { return hostErrorText(error_); }

}  // namespace vornel
