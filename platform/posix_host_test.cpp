// The host's own file services on real folders.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "platform/image_file.h"
#include "platform/posix_calls.h"
#include "platform/posix_file_system.h"
#include "platform/quiet_thread.h"
#include "platform/stdio_console.h"

namespace vornel {
namespace {

namespace fs = std::filesystem;

TEST(PosixHostTest, ListsStatsReadsWritesAndExtractsRealFiles) {
  char pattern[] = "/tmp/vornel-posix-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const fs::path dir = pattern;
  std::ofstream(dir / "file") << "hello";
  fs::create_directory(dir / "sub");
  fs::create_symlink(dir / "sub", dir / "link");
  fs::create_symlink(dir / "missing", dir / "dangling");
  fs::create_symlink(dir / "file" / "x", dir / "through");  // through a file: ENOTDIR
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);

  PosixFileSystem posix;
  std::vector<std::string> names;
  ASSERT_TRUE(posix.listDirectory(dir.string() + "/", names));
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"dangling", "fifo", "file", "link", "sub", "through"}));
  // The folder named without its final "/", or with two.
  for (std::vector<std::string> again; const std::string& path : {dir.string(), dir.string() + "//"}) {
    EXPECT_TRUE(posix.listDirectory(path, again) && std::ranges::is_permutation(again, names)) << path;
  }
  EXPECT_FALSE(posix.listDirectory((dir / "nothing").string() + "/", names) ||
               posix.listDirectory((dir / "file").string() + "/", names));

  const auto stat = [&](const std::string& name) { return posix.stat((dir / name).string()); };
  using enum FileKind;
  EXPECT_EQ((std::vector{stat("file").kind, stat("fifo").kind, stat("dangling").kind, stat("through").kind,
                         stat("nothing").kind, stat(std::string(5000, 'p')).kind, stat("link").kind}),
            (std::vector{Regular, Other, Other, Other, Missing, Unreadable, Directory}));  // 5000: a path too long
  EXPECT_TRUE(stat("file").size == 5 && stat("link").inode == stat("sub/").inode);  // a folder with its "/" too

  // A copy inside the host ends at the end of its input.
  auto source = posix.openInput((dir / "file").string());
  auto copy = posix.createOutput((dir / "copy").string());
  ASSERT_TRUE(source && copy);
  EXPECT_EQ(copy->copyFrom(*source, 2048, 10000), kLinuxCalls ? 5u : 0u);  // else the caller reads and writes
  EXPECT_EQ(posix.createOutput("/dev/null")->copyFrom(*source, 0, 5), 0u);  // a device: refused at once
  copy.reset();
  EXPECT_FALSE(posix.openInput((dir / "missing").string()));

  // An image replaces the output only when committed, and keeps its
  // permission bits; no temporary file is left either way.
  const fs::path out = dir / "out";
  std::ofstream(out) << std::string(10000, 'x');
  const fs::perms mode = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
  fs::permissions(out, mode);
  const auto entries = [&] { return std::distance(fs::directory_iterator(dir), fs::directory_iterator()); };
  const auto before = entries();
  auto image = posix.createOutput(out.string());
  ASSERT_TRUE(image && image->seek(4096));
  const std::uint8_t buffer[2] = {1, 2};
  EXPECT_EQ(image->write(buffer, 2), 2);
  image.reset();  // a failed build
  EXPECT_EQ(fs::file_size(out), 10000u);
  EXPECT_EQ(entries(), before);
  // A link to the output stays a link; the image goes to its target.
  fs::create_symlink("out", dir / "alias");
  image = posix.createOutput((dir / "alias").string());
  EXPECT_TRUE(image->seek(4096) && image->write(buffer, 2) == 2 && image->commit());
  EXPECT_TRUE(fs::file_size(out) == 4098 && fs::is_symlink(dir / "alias"));
  EXPECT_EQ(fs::status(out).permissions() & fs::perms::all, mode);
  // A rename that fails (the output became a folder) leaves no temporary file.
  image = posix.createOutput(out.string());
  fs::remove(out);
  fs::create_directories(out / "in the way");
  EXPECT_FALSE(image->commit());
  image.reset();
  EXPECT_EQ(entries(), before + 1);  // "alias" only
  // A folder, an empty path or a missing folder cannot take an image; a
  // device is written in place.
  EXPECT_FALSE(posix.createOutput(out.string()) || posix.createOutput("") ||
               posix.createOutput((dir / "no" / "out").string()));
  image = posix.createOutput("/dev/null");
  EXPECT_TRUE(image && image->seek(675837952) && image->write(buffer, 2) == 2 && image->commit());
  image = posix.createOutput("/dev/full");  // a write that fails for real
  const std::uint8_t* blocks[] = {buffer, buffer};
  EXPECT_FALSE(image && image->writeBlocks(0, blocks, 2));

  // A signal while an image or an extracted file is written: the old output
  // stays and the temporary file goes.
  const fs::path term = dir / "term";
  std::ofstream(term) << "previous image";
  fs::create_directory(dir / "x");
  const auto settled = entries();
  for (const auto& [signal, extract] : {std::pair{SIGTERM, false}, {SIGPIPE, false}, {SIGHUP, true}}) {
    const pid_t child = ::fork();
    if (child == 0) {
      std::string error;
      auto target = PosixImageHost().openExtractRoot((dir / "x").string(), error);
      auto output = extract && target->createFile("file", error) ? nullptr : posix.createOutput(term.string());
      for (std::uint64_t at = 0;; at += 2) {
        output ? output->writeBlocks(at, blocks, 1) : target->writeFile(buffer, 2, error);
      }
    }
    int status = 0;
    while (entries() == settled && fs::is_empty(dir / "x") && ::waitpid(child, &status, WNOHANG) == 0) ::usleep(1000);
    ::kill(child, signal);
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << signal;
    EXPECT_TRUE(fs::file_size(term) == 14u && fs::is_empty(dir / "x")) << signal;
    EXPECT_EQ(entries(), settled);
  }

  // A helper thread takes no signals: they reach the thread that writes.
  sigset_t mask;
  startQuietThread([&] { pthread_sigmask(SIG_BLOCK, nullptr, &mask); }).join();
  EXPECT_TRUE(sigismember(&mask, SIGINT) && sigismember(&mask, SIGTERM) && sigismember(&mask, SIGPIPE));

  // Extraction never follows a link; image reads stay inside the image.
  const std::string tmp = (dir / "host").string();
  fs::create_directory(tmp);
  PosixImageHost host;
  std::string error;
  fs::create_directory(tmp + "/outside");
  std::ofstream(tmp + "/victim") << "keep";
  const auto target = host.openExtractRoot(tmp + "/out", error);  // created when missing
  ASSERT_NE(target, nullptr) << error;
  fs::create_directory_symlink(tmp + "/outside", tmp + "/out/dir");
  fs::create_symlink(tmp + "/victim", tmp + "/out/file");
  fs::create_symlink(tmp + "/nothing", tmp + "/out/dangling");
  const auto write = [&](const char* name) {
    return target->createFile(name, error) && target->writeFile(buffer, 2, error) && target->finishFile(error);
  };
  EXPECT_FALSE(write("file") || write("dangling") || target->enterNewDirectory("dir", error) ||
               fs::exists(tmp + "/nothing"));
  EXPECT_TRUE(fs::file_size(tmp + "/victim") == 4 && fs::is_empty(tmp + "/outside"));
  // Down two levels and back up to the root, with the first level moved
  // elsewhere and replaced meanwhile: its entries follow the folder held.
  ASSERT_TRUE(target->enterNewDirectory("a", error) && target->enterNewDirectory("b", error)) << error;
  fs::create_directory(tmp + "/moved");
  fs::rename(tmp + "/out/a", tmp + "/moved/a");
  fs::create_directory(tmp + "/out/a");
  EXPECT_TRUE(write("deep") && (target->leaveDirectory(), write("mid")) && (target->leaveDirectory(), write("top")));
  EXPECT_TRUE(target->createFile("gone", error) && target->writeFile(buffer, 2, error)) << error;
  target->abandonFile();
  EXPECT_TRUE(fs::file_size(tmp + "/moved/a/b/deep") == 2 && fs::exists(tmp + "/moved/a/mid") &&
              fs::file_size(tmp + "/out/top") == 2 && fs::is_empty(tmp + "/out/a"));
  EXPECT_EQ(std::distance(fs::directory_iterator(tmp + "/out"), fs::directory_iterator()), 5);  // nothing else
  EXPECT_EQ(host.openExtractRoot(tmp + "/out", error), nullptr);
  EXPECT_EQ(error, tmp + "/out is not empty");
  auto outside = host.openExtractRoot(tmp + "/outside", error);  // empty
  EXPECT_TRUE(outside && outside->createFile("part", error) && !fs::is_empty(tmp + "/outside"));
  outside.reset();  // a run that ends mid-file leaves nothing
  EXPECT_TRUE(fs::is_empty(tmp + "/outside"));

  const auto victim = host.openImage(tmp + "/victim", error);
  std::uint8_t read[4];
  ASSERT_NE(victim, nullptr) << error;
  EXPECT_TRUE(victim->size() == 4 && victim->readAt(1, read, 3) && read[2] == 'p');
  EXPECT_FALSE(victim->readAt(1, read, 4) || victim->readAt(UINT64_MAX, read, 2));
  EXPECT_TRUE(host.openImage(tmp + "/none", error) == nullptr && host.openImage(tmp, error) == nullptr);
  fs::resize_file(tmp + "/victim", 1);  // an image that shrinks while it is read
  EXPECT_FALSE(victim->readAt(1, read, 3));

  // Standard output on a device: a loss shows when it is flushed.
  for (const std::string device : {"/dev/null", "/dev/full"}) {
    if (const pid_t pid = ::fork(); pid == 0) {
      ::dup2(::open(device.c_str(), O_WRONLY), 1);
      StdioConsole console;
      console.print("text");
      ::_exit(console.finish(error) ? 0 : error == "No space left on device" ? 2 : 1);
    } else {
      int s = 0;
      EXPECT_TRUE(::waitpid(pid, &s, 0) == pid && WIFEXITED(s) && WEXITSTATUS(s) == (device == "/dev/full") * 2);
    }
  }
  fs::remove_all(dir);
}

}  // namespace
}  // namespace vornel
