#pragma once

#include <unistd.h>

#include <utility>

namespace vornel {

// Owns a host file descriptor and closes it once; -1 owns nothing.
class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() { reset(); }

  int get() const { return fd_; }
  // Closes the one it owns and takes fd instead.
  void reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }
  // Gives the descriptor up without closing it, for a caller that must see
  // the result of close.
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

}  // namespace vornel
