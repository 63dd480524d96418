// The POSIX image host on real folders.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/image_file.h"

namespace vornel {

namespace fs = std::filesystem;

TEST(PosixImageHostTest, ExtractionNeverFollowsALinkAndReadsStayInsideTheImage) {
  std::string tmp = fs::temp_directory_path() / "vornel-host-XXXXXX";
  ASSERT_NE(::mkdtemp(tmp.data()), nullptr);
  PosixImageHost host;
  std::string error;
  fs::create_directory(tmp + "/outside");
  std::ofstream(tmp + "/victim") << "keep";
  const auto target = host.openExtractRoot(tmp + "/out", error);  // created when missing
  ASSERT_NE(target, nullptr) << error;
  fs::create_directory_symlink(tmp + "/outside", tmp + "/out/dir");
  fs::create_symlink(tmp + "/victim", tmp + "/out/file");
  fs::create_symlink(tmp + "/nothing", tmp + "/out/dangling");
  EXPECT_FALSE(target->createFile("file", error) || target->createFile("dangling", error) ||
               target->enterNewDirectory("dir", error) || fs::exists(tmp + "/nothing"));
  EXPECT_TRUE(fs::file_size(tmp + "/victim") == 4 && fs::is_empty(tmp + "/outside"));
  // Down two levels and back up to the root.
  const auto xyz = reinterpret_cast<const std::uint8_t*>("xyz");
  EXPECT_TRUE(target->enterNewDirectory("a", error) && target->enterNewDirectory("b", error) &&
              target->createFile("deep", error) && target->writeFile(xyz, 3, error) && target->closeFile(error) &&
              target->leaveDirectory(error) && target->leaveDirectory(error) && target->createFile("top", error))
      << error;
  EXPECT_TRUE(fs::file_size(tmp + "/out/a/b/deep") == 3 && fs::exists(tmp + "/out/top"));
  EXPECT_EQ(host.openExtractRoot(tmp + "/out", error), nullptr);
  EXPECT_EQ(error, tmp + "/out is not empty");
  EXPECT_NE(host.openExtractRoot(tmp + "/outside", error), nullptr);  // empty

  const auto image = host.openImage(tmp + "/victim", error);
  std::uint8_t buffer[4];
  ASSERT_NE(image, nullptr) << error;
  EXPECT_TRUE(image->size() == 4 && image->readAt(1, buffer, 3) && buffer[2] == 'p');
  EXPECT_FALSE(image->readAt(1, buffer, 4) || image->readAt(UINT64_MAX, buffer, 2));
  EXPECT_TRUE(host.openImage(tmp + "/none", error) == nullptr && host.openImage(tmp, error) == nullptr);
  fs::remove_all(tmp);
}

}  // namespace vornel
