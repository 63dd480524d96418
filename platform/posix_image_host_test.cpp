// The POSIX image host on real folders: extraction never follows a link
// planted in the target, goes as deep as needed and back, and refuses a
// target that is not empty; image reads stop at the end of the file.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/image_file.h"

namespace vornel {
namespace {

namespace fs = std::filesystem;

class PosixImageHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "vornel-extract-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    tmp_ = pattern;
  }
  void TearDown() override { fs::remove_all(tmp_); }

  static std::string content(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  fs::path tmp_;
  PosixImageHost host_;
  std::string error_;
};

TEST_F(PosixImageHostTest, ExtractionNeverFollowsAPlantedLink) {
  fs::create_directory(tmp_ / "outside");
  std::ofstream(tmp_ / "victim") << "keep";
  auto target = host_.openExtractRoot((tmp_ / "out").string(), error_);
  ASSERT_NE(target, nullptr) << error_;
  fs::create_directory_symlink(tmp_ / "outside", tmp_ / "out" / "dir");
  fs::create_symlink(tmp_ / "victim", tmp_ / "out" / "file");
  fs::create_symlink(tmp_ / "nothing", tmp_ / "out" / "dangling");

  EXPECT_FALSE(target->createFile("file", error_));
  EXPECT_FALSE(target->createFile("dangling", error_));
  EXPECT_FALSE(target->enterNewDirectory("dir", error_));
  EXPECT_EQ(content(tmp_ / "victim"), "keep");
  EXPECT_FALSE(fs::exists(tmp_ / "nothing"));
  EXPECT_TRUE(fs::is_empty(tmp_ / "outside"));

  // Down three levels and back up to the root.
  for (const char* name : {"a", "b", "c"}) ASSERT_TRUE(target->enterNewDirectory(name, error_)) << error_;
  ASSERT_TRUE(target->createFile("deep", error_));
  ASSERT_TRUE(target->writeFile(reinterpret_cast<const std::uint8_t*>("xyz"), 3, error_));
  ASSERT_TRUE(target->closeFile(error_));
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(target->leaveDirectory(error_));
  ASSERT_TRUE(target->createFile("top", error_));
  ASSERT_TRUE(target->closeFile(error_));
  EXPECT_EQ(content(tmp_ / "out" / "a" / "b" / "c" / "deep"), "xyz");
  EXPECT_TRUE(fs::exists(tmp_ / "out" / "top"));

  // The target must be empty; a missing one is created.
  EXPECT_EQ(host_.openExtractRoot((tmp_ / "out").string(), error_), nullptr);
  EXPECT_NE(error_.find("is not empty"), std::string::npos);
  EXPECT_NE(host_.openExtractRoot((tmp_ / "outside").string(), error_), nullptr);
}

TEST_F(PosixImageHostTest, ImageReadsStayInsideTheFile) {
  std::ofstream(tmp_ / "image") << std::string(3000, 'i');
  auto image = host_.openImage((tmp_ / "image").string(), error_);
  ASSERT_NE(image, nullptr) << error_;
  EXPECT_EQ(image->size(), 3000u);
  std::uint8_t buffer[2048];
  EXPECT_TRUE(image->readAt(2048, buffer, 952));
  EXPECT_FALSE(image->readAt(2048, buffer, 953));
  EXPECT_FALSE(image->readAt(UINT64_MAX, buffer, 2));
  EXPECT_EQ(host_.openImage((tmp_ / "none").string(), error_), nullptr);
  EXPECT_EQ(host_.openImage(tmp_.string(), error_), nullptr);
}

}  // namespace
}  // namespace vornel
