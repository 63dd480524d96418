// The POSIX image host on real folders: extraction never follows a link
// planted in its target, goes down and back up, and refuses a target that is
// not empty; image reads stay inside the file.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/image_file.h"

namespace vornel {
namespace {

namespace fs = std::filesystem;

std::string content(const fs::path& path) {
  std::stringstream bytes;
  bytes << std::ifstream(path, std::ios::binary).rdbuf();
  return bytes.str();
}

TEST(PosixImageHostTest, ExtractionStaysInsideItsTargetAndReadsStayInsideTheImage) {
  std::string pattern = (fs::temp_directory_path() / "vornel-host-XXXXXX").string();
  ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
  const fs::path tmp = pattern;
  PosixImageHost host;
  std::string error;
  fs::create_directory(tmp / "outside");
  std::ofstream(tmp / "victim") << "keep";
  const auto target = host.openExtractRoot((tmp / "out").string(), error);
  ASSERT_NE(target, nullptr) << error;
  fs::create_directory_symlink(tmp / "outside", tmp / "out" / "dir");
  fs::create_symlink(tmp / "victim", tmp / "out" / "file");
  fs::create_symlink(tmp / "nothing", tmp / "out" / "dangling");
  EXPECT_FALSE(target->createFile("file", error) || target->createFile("dangling", error) ||
               target->enterNewDirectory("dir", error));
  EXPECT_EQ(content(tmp / "victim"), "keep");
  EXPECT_FALSE(fs::exists(tmp / "nothing"));
  EXPECT_TRUE(fs::is_empty(tmp / "outside"));

  for (const char* name : {"a", "b", "c"}) EXPECT_TRUE(target->enterNewDirectory(name, error)) << error;
  const auto xyz = reinterpret_cast<const std::uint8_t*>("xyz");
  EXPECT_TRUE(target->createFile("deep", error) && target->writeFile(xyz, 3, error) && target->closeFile(error));
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(target->leaveDirectory(error));
  EXPECT_TRUE(target->createFile("top", error) && target->closeFile(error));
  EXPECT_EQ(content(tmp / "out/a/b/c/deep"), "xyz");
  EXPECT_TRUE(fs::exists(tmp / "out/top"));
  EXPECT_EQ(host.openExtractRoot((tmp / "out").string(), error), nullptr);
  EXPECT_EQ(error, (tmp / "out").string() + " is not empty");
  EXPECT_NE(host.openExtractRoot((tmp / "outside").string(), error), nullptr);

  std::ofstream(tmp / "image") << std::string(3000, 'i');
  const auto image = host.openImage((tmp / "image").string(), error);
  ASSERT_NE(image, nullptr) << error;
  EXPECT_EQ(image->size(), 3000u);
  std::uint8_t buffer[2048];
  EXPECT_TRUE(image->readAt(2048, buffer, 952));
  EXPECT_FALSE(image->readAt(2048, buffer, 953) || image->readAt(UINT64_MAX, buffer, 2));
  EXPECT_EQ(host.openImage((tmp / "none").string(), error), nullptr);
  EXPECT_EQ(error, "cannot open " + (tmp / "none").string() + ": No such file or directory");
  EXPECT_EQ(host.openImage(tmp.string(), error), nullptr);
  EXPECT_EQ(error, "cannot read " + tmp.string() + ": not a regular file");
  fs::remove_all(tmp);
}

}  // namespace
}  // namespace vornel
