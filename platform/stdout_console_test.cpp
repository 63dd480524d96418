#include "platform/stdout_console.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <cstdio>

namespace vornel {
namespace {

// Each step prints, then takes from the pipe on standard output what it
// expects: text other than dots is there when the print returns; dots come
// within 50 ms (waited for up to 5 s).
TEST(StdoutConsoleTest, TextShowsAtOnceAndDotsWithoutAnotherPrint) {
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  std::fflush(stdout);
  const int saved = ::dup(1);
  ::dup2(ends[1], 1);
  std::vector<std::string> got;
  {
    StdoutConsole console;
    for (const auto& step : {std::vector<const char*>{"Now write - "}, {".", "."}, {".", "Error.\n"}}) {
      std::string want, text;
      for (const char* piece : step) console.print(piece), want += piece;
      const int wait = std::string_view(step.back()) == "." ? 5000 : 0;
      pollfd ready{ends[0], POLLIN, 0};
      while (text.size() < want.size() && ::poll(&ready, 1, wait) > 0) {
        char buffer[64];
        text.append(buffer, static_cast<std::size_t>(std::max<ssize_t>(0, ::read(ends[0], buffer, sizeof buffer))));
      }
      got.push_back(text);
    }
  }
  ::dup2(saved, 1);
  for (const int fd : {saved, ends[0], ends[1]}) ::close(fd);
  EXPECT_EQ(got, (std::vector<std::string>{"Now write - ", "..", ".Error.\n"}));
}

}  // namespace
}  // namespace vornel
