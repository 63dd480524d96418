#include "platform/stdout_console.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace vornel {
namespace {

// What the pipe holds now, or, with a timeout, once it holds `want` bytes.
std::string drain(int fd, std::size_t want = 0, int timeoutMs = 0) {
  std::string got;
  char buffer[256];
  pollfd ready{fd, POLLIN, 0};
  while (::poll(&ready, 1, got.size() < want ? timeoutMs : 0) > 0) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n <= 0) break;
    got.append(buffer, static_cast<std::size_t>(n));
  }
  return got;
}

TEST(StdoutConsoleTest, TextShowsAtOnceAndDotsWithoutAnotherPrint) {
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  std::fflush(stdout);
  const int saved = ::dup(1);
  ::dup2(ends[1], 1);
  std::string status, dots, failure;
  {
    StdoutConsole console;
    console.print("Now write ISO image to output file - ");
    status = drain(ends[0]);
    console.print(".");
    console.print(".");
    dots = drain(ends[0], 2, 5000);  // a generous bound: the flusher's deadline is 50 ms
    console.print(".");
    console.print("Error write to output file.\n");
    failure = drain(ends[0]);
  }
  std::fflush(stdout);
  ::dup2(saved, 1);
  ::close(saved);
  ::close(ends[0]);
  ::close(ends[1]);
  EXPECT_EQ(status, "Now write ISO image to output file - ");
  EXPECT_EQ(dots, "..");
  EXPECT_EQ(failure, ".Error write to output file.\n");
}

}  // namespace
}  // namespace vornel
