#include "platform/posix_file_system.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace vornel {
namespace {

namespace fs = std::filesystem;

TEST(PosixFileSystemTest, ListsStatsReadsAndWritesRealFiles) {
  char pattern[] = "/tmp/vornel-posix-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const fs::path dir = pattern;
  std::ofstream(dir / "file") << "hello";
  fs::create_directory(dir / "sub");
  fs::create_symlink(dir / "sub", dir / "link");
  fs::create_symlink(dir / "missing", dir / "dangling");
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);

  PosixFileSystem posix;
  std::vector<std::string> names;
  ASSERT_TRUE(posix.listDirectory(dir.string() + "/", names));
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"dangling", "fifo", "file", "link", "sub"}));
  EXPECT_FALSE(posix.listDirectory((dir / "nothing").string() + "/", names));
  EXPECT_FALSE(posix.listDirectory((dir / "file").string() + "/", names));

  EXPECT_EQ(posix.stat((dir / "file").string()).kind, FileKind::Regular);
  EXPECT_EQ(posix.stat((dir / "file").string()).size, 5u);
  EXPECT_EQ(posix.stat((dir / "fifo").string()).kind, FileKind::Other);
  EXPECT_EQ(posix.stat((dir / "dangling").string()).kind, FileKind::Missing);
  const FileInfo sub = posix.stat((dir / "sub").string());
  const FileInfo link = posix.stat((dir / "link").string());
  EXPECT_EQ(link.kind, FileKind::Directory);
  EXPECT_EQ(link.inode, sub.inode);

  auto in = posix.openInput((dir / "file").string());
  ASSERT_TRUE(in);
  std::uint8_t buffer[16];
  EXPECT_EQ(in->read(buffer, sizeof buffer), 5);
  EXPECT_EQ(in->read(buffer, sizeof buffer), 0);
  EXPECT_TRUE(in->rewind());
  EXPECT_EQ(in->read(buffer, 2), 2);
  EXPECT_FALSE(posix.openInput((dir / "missing").string()));

  // The output is truncated when it exists and written block by block.
  std::ofstream(dir / "out") << std::string(10000, 'x');
  auto out = posix.createOutput((dir / "out").string());
  ASSERT_TRUE(out);
  ASSERT_TRUE(out->seek(4096));
  EXPECT_EQ(out->write(buffer, 2), 2);
  out.reset();
  EXPECT_EQ(fs::file_size(dir / "out"), 4098u);
  EXPECT_FALSE(posix.createOutput((dir / "no" / "out").string()));
  fs::remove_all(dir);
}

}  // namespace
}  // namespace vornel
