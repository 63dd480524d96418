#include "tree/scanner.h"

#include <gtest/gtest.h>

#include "platform/fake_file_system.h"

namespace vornel {
namespace {

class ScannerTest : public ::testing::Test {
 protected:
  // Scans "src/" as the driver does: root first, then the fixed records.
  int scan() {
    root = newDirNode(ids, 3);
    placements = std::make_unique<PlacementList>(ids);
    root->path = "src/";
    ScanContext context{fs, console, ids, *placements, 3};
    return scanDirectory(*root, context);
  }
  const FileRecord* placement(const std::string& name) { return placements->find(name); }

  FakeFileSystem fs;
  StringConsole console;
  IdCounter ids;
  std::unique_ptr<DirNode> root;
  std::unique_ptr<PlacementList> placements;
};

TEST_F(ScannerTest, PlacementFilesAreParsedWithTheirLimits) {
  const struct {
    const char* text;
    int lastAvatar;
    std::vector<std::int64_t> slots;  // slots 0-3
  } cases[] = {
      {"300 500", 1, {300, 500, -1, -1}},
      {"300 500\n", 1, {300, 500, -1, -1}},  // a line end after a number keeps it
      {"300\r\n500", 1, {300, 500, -1, -1}},
      {"1\t2 3 4", 3, {1, 2, 3, 4}},
      {"1 2 3 4 5", 0, {5, 2, 3, 4}},
      {"1 2 3 4 5 6 7 8", 3, {5, 6, 7, 8}},
      {"1 2 3 4 5 6 7 8 9 10", 3, {5, 6, 7, 8}},
      {"7 12a 9", 0, {7, -1, -1, -1}},  // a token that is not all digits ends the reading
      {"x", 3, {-1, -1, -1, -1}},
      {"   ", 3, {-1, -1, -1, -1}},
      {"4294967296", 0, {std::int64_t{1} << 32, -1, -1, -1}},  // too large for 32 bits: no wrap
  };
  for (const auto& c : cases) {
    PlacementRecord record;
    parsePlacementText(c.text, record);
    EXPECT_EQ(record.lastAvatar, c.lastAvatar) << c.text;
    EXPECT_EQ(std::vector<std::int64_t>(record.avatars.begin(), record.avatars.begin() + 4), c.slots) << c.text;
  }
  // Numbers too large for 32 bits keep their digits as written; a smaller
  // one in a later slot forgets them.
  PlacementRecord huge;
  parsePlacementText("00099999999999999999 2147483648 2147483647", huge);
  EXPECT_EQ(huge.written, (std::array<std::string, 4>{"00099999999999999999", "2147483648", "", ""}));
  parsePlacementText("1 2 3 4 5", huge);
  EXPECT_EQ(huge.written, (std::array<std::string, 4>{"", "", "", ""}));
}

TEST_F(ScannerTest, FirstPlacementFileOfANameWinsAndFixedRecordsCannotBeReplaced) {
  fs.addFile("src/#BOOT_CODE", "500");
  fs.addFile("src/#empty", "");
  fs.addFile("src/#readme", "7");
  fs.addFile("src/#README", "8");                             // not on the disc: no clash with "#readme"
  fs.addFile("src/#long", std::string(1020, ' ') + "12345");  // only 1023 bytes are read
  fs.addFile("src/A/#Intro.str", "300");
  fs.addFile("src/B/#intro.STR", "400");
  fs.failOpen("src/B/#intro.STR");  // never even opened
  fs.addFile("src/big", "");
  fs.reportSize("src/big", 0xFFFFFFFFull);  // just under 4 GiB: 2097152 blocks, not a wrapped 0
  ASSERT_EQ(scan(), 0);
  EXPECT_EQ(console.text(), "");
  EXPECT_EQ(placement("#boot_code")->avatars[0], 2);
  EXPECT_EQ(placement("#empty"), nullptr);
  EXPECT_EQ(placement("#README")->avatars[0], 8);  // the first in name order
  EXPECT_EQ(placement("#long")->avatars[0], 123);
  EXPECT_EQ(placement("#intro.str")->name, "#Intro.str");
  EXPECT_EQ(placement("#intro.str")->avatars[0], 300);
  EXPECT_EQ(placements->records().size(), 8u);
  EXPECT_EQ(root->files[0]->blockCount, 2097152);
}

}  // namespace
}  // namespace vornel
