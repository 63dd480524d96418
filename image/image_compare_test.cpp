// Comparison with the source tree and extraction, on images built by vornel.

#include <gtest/gtest.h>

#include <functional>

#include "image/image_compare.h"
#include "image/test_image.h"
#include "platform/fake_image_host.h"

namespace vornel {
namespace {

std::string lines(const std::vector<std::string>& list) {
  std::string text;
  for (const auto& line : list) text += line + "\n";
  return text;
}

TEST(ImageCompareTest, SameTreeIsSameAndEachDifferenceIsNamed) {
  struct Case {
    const char* name;
    std::function<void(FakeFileSystem&, std::string&)> change;
    std::string differences;
  };
  const Case cases[] = {
      {"nothing", [](FakeFileSystem&, std::string&) {}, ""},
      {"a new placement file", [](FakeFileSystem& fs, std::string&) { fs.addFile("src/#x", "9"); }, ""},
      {"one byte of a file",
       [](FakeFileSystem& fs, std::string&) { fs.setContent("src/data/data.bin", std::string(4999, 'd') + "e"); },
       "content differs: /data/data.bin at avatar 1, byte 4999 (block 3)\n"},
      {"one byte of a second copy", [](FakeFileSystem&, std::string& image) { image[500 * 2048 + 3] ^= 1; },
       "content differs: /readme.txt at avatar 500, byte 3 (block 500)\n"},
      {"a file removed", [](FakeFileSystem& fs, std::string&) { fs.remove("src/data/level1.map"); },
       "only in the image: /data/level1.map\n"},
      {"a file and a directory added",
       [](FakeFileSystem& fs, std::string&) {
         fs.addFile("src/data/new", "");
         fs.addDirectory("src/more");
       },
       "only in the source: /more\nonly in the source: /data/new\n"},
      {"a file become a directory",
       [](FakeFileSystem& fs, std::string&) {
         fs.remove("src/empty");
         fs.addDirectory("src/empty");
       },
       "kind differs: /empty is a file in the image, a directory in the source\n"},
      {"a file grown", [](FakeFileSystem& fs, std::string&) { fs.setContent("src/readme.txt", std::string(31, 'r')); },
       "size differs: /readme.txt has 30 bytes in the image, 31 in the source\n"},
      {"a folder that cannot be read", [](FakeFileSystem& fs, std::string&) { fs.failListing("src/data"); },
       "cannot read the source directory src/data\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeFileSystem fs;
    addKnownTree(fs);
    std::string bytes = buildImage(fs, kKnownOptions);
    c.change(fs, bytes);
    MemoryImageFile image(bytes);
    EXPECT_EQ(lines(compareWithTree(fs, "src", image)), c.differences);
  }
  // A file whose last copy ends exactly where the image ends lies inside it.
  FakeFileSystem fs;
  addKnownTree(fs);
  fs.setContent("src/readme.txt", std::string(2048, 'r'));
  MemoryImageFile image(buildImage(fs, kKnownOptions));
  EXPECT_EQ(image.size(), 501u * 2048);
  EXPECT_EQ(lines(compareWithTree(fs, "src", image)), "");
}

TEST(ImageCompareTest, ExtractWritesOneCopyOfEveryFileAndSkipsWhatItCannotCreate) {
  FakeFileSystem fs;
  addKnownTree(fs);
  fs.addDirectory("src/data/deeper");
  fs.addFile("src/data/deeper/last", "bottom");
  MemoryImageFile image(buildImage(fs, kKnownOptions));
  const ImageTree tree = readImage(image, false);

  FakeImageHost host;
  std::string error;
  ExtractResult result = extractImage(tree, image, *host.openExtractRoot("all", error));
  EXPECT_EQ(lines(result.skipped), "");
  EXPECT_EQ(result.files, 5u);
  EXPECT_EQ(result.directories, 2u);
  const std::map<std::string, std::string> files = {{"data/data.bin", std::string(5000, 'd')},
                                                    {"data/level1.map", "level one!"},
                                                    {"data/deeper/last", "bottom"},
                                                    {"empty", ""},
                                                    {"readme.txt", "Read me: a disc for the tests."}};
  EXPECT_EQ(host.extracted("all").files, files);
  EXPECT_EQ(host.extracted("all").directories, (std::set<std::string>{"", "data", "data/deeper"}));

  // A directory that cannot be created loses its subtree, and says so; the
  // walk goes on with what follows.
  host.failCreate("data/deeper");
  host.failCreate("empty");
  result = extractImage(tree, image, *host.openExtractRoot("some", error));
  EXPECT_EQ(lines(result.skipped), "/empty: cannot create empty\n/data/deeper: cannot create data/deeper\n");
  EXPECT_EQ(host.extracted("some").files.size(), 3u);
}

}  // namespace
}  // namespace vornel
