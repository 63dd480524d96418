// The real program on real directories, for what only the host shows: a
// write that fails for real and an interrupted build.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>

extern char** environ;

namespace vornel {
namespace {

namespace fs = std::filesystem;

class CommandLineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vornel-cli-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir = pattern;
    fs::create_directory(dir / "src");
  }
  void TearDown() override { fs::remove_all(dir); }
  static std::string readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  // Starts the program on dir/src with its standard output in dir/stdout.
  pid_t start(const std::string& out) {
    std::string args[] = {VORNEL_BINARY, "-in", (dir / "src").string(), "-out", out};
    char* argv[] = {args[0].data(), args[1].data(), args[2].data(), args[3].data(), args[4].data(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, (dir / "stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    pid_t pid = -1;
    EXPECT_EQ(::posix_spawn(&pid, VORNEL_BINARY, &actions, nullptr, argv, environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
  }
  // Runs it to the end: its exit status and standard output.
  std::pair<int, std::string> run(const std::string& out) {
    int status = 0;
    ::waitpid(start(out), &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, readAll(dir / "stdout")};
  }
  bool temporaryFileLeft() const {
    return std::any_of(fs::directory_iterator(dir), fs::directory_iterator(), [](const fs::directory_entry& e) {
      return e.path().filename().string().starts_with(".vornel-");
    });
  }

  fs::path dir;
};

TEST_F(CommandLineTest, AFailedOrInterruptedBuildLeavesTheOutputAsItWas) {
  const auto [status, text] = run("/dev/full");
  EXPECT_EQ(status, 255);
  EXPECT_TRUE(text.ends_with(" - .Error write to output file.\n")) << text;
  // SIGTERM while a few hundred megabytes are written, once the temporary
  // file exists: the old output stays and the temporary file goes.
  const fs::path out = dir / "out.iso";
  std::ofstream(out) << "previous image";
  std::ofstream(dir / "src" / "big").close();
  ASSERT_EQ(::truncate((dir / "src" / "big").c_str(), 600 << 20), 0);
  const pid_t pid = start(out.string());
  int wstatus = 0;
  bool seen = false;
  while (!seen && ::waitpid(pid, &wstatus, WNOHANG) == 0) seen = temporaryFileLeft();
  ASSERT_TRUE(seen) << "the build ended before its temporary file was seen";
  ::kill(pid, SIGTERM);
  ASSERT_EQ(::waitpid(pid, &wstatus, 0), pid);
  EXPECT_TRUE(WIFSIGNALED(wstatus) && WTERMSIG(wstatus) == SIGTERM);
  EXPECT_EQ(readAll(out), "previous image");
  EXPECT_FALSE(temporaryFileLeft());
}

}  // namespace
}  // namespace vornel
