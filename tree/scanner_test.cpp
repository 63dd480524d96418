#include "tree/scanner.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/fake_file_system.h"

namespace vornel {
namespace {

class ScannerTest : public ::testing::Test {
 protected:
  // Scans "src/" as the driver does: root first, then the fixed records.
  int scan(EntryOrder order = EntryOrder::Name, FileInfo output = {}) {
    root = newDirNode(ids, 3);
    placements = std::make_unique<PlacementList>(ids);
    root->path = "src/";
    ScanContext context{fs, console, ids, *placements, 3, output, order};
    return scanDirectory(*root, context);
  }
  const FileRecord* placement(const std::string& name) { return placements->find(name); }

  FakeFileSystem fs;
  StringConsole console;
  IdCounter ids;
  std::unique_ptr<DirNode> root;
  std::unique_ptr<PlacementList> placements;
};

TEST_F(ScannerTest, DiskOrderKeepsTheHostsOrderWithDepthFirstIds) {
  fs.addFile("src/a", std::string(2049, 'a'));
  fs.addDirectory("src/S");
  fs.addFile("src/S/s1", "");
  fs.addDirectory("src/S/T");
  fs.addFile("src/b", std::string(2048, 'b'));
  fs.addFile("src/#b", "100");
  fs.addFile("src/" + std::string(32, 'n'), "x");

  ASSERT_EQ(scan(EntryOrder::Disk), 0);
  EXPECT_EQ(console.text(), "");
  ASSERT_EQ(root->files.size(), 3u);
  EXPECT_EQ(root->files[0]->name, "a");
  EXPECT_EQ(root->files[0]->byteSize, 2049u);
  EXPECT_EQ(root->files[0]->blockCount, 2);
  EXPECT_EQ(root->files[0]->id, 8);
  ASSERT_EQ(root->children.size(), 1u);
  const DirNode& s = *root->children[0];
  EXPECT_EQ(s.name, "S");
  EXPECT_EQ(s.path, "src/S/");
  EXPECT_EQ(s.parent, root.get());
  EXPECT_EQ(s.blocks.front()->id, 9);
  EXPECT_EQ(s.id, 10);
  EXPECT_EQ(s.files[0]->id, 11);
  EXPECT_EQ(s.files[0]->blockCount, 0);
  EXPECT_EQ(s.children[0]->id, 13);
  EXPECT_EQ(root->files[1]->name, "b");
  EXPECT_EQ(root->files[1]->id, 14);
  EXPECT_EQ(root->files[1]->blockCount, 1);
  // "#b" took id 15 and went to the placement list, not the file list.
  EXPECT_EQ(root->files[2]->id, 16);
  ASSERT_NE(placement("#b"), nullptr);
  EXPECT_EQ(placement("#b")->id, 15);
  EXPECT_EQ(placements->records().size(), 6u);
}

TEST_F(ScannerTest, NameOrderSortsEveryDirectoryWhateverTheHostsOrder) {
  for (const char* path : {"src/b", "src/D/z", "src/D/#z", "src/_x", "src/a", "src/C/y", "src/D/Y2"}) {
    fs.addFile(path, "x");
  }
  ASSERT_EQ(scan(), 0);
  std::vector<std::string> order;
  preOrderWalk(*root, [&](DirNode& dir) {
    order.push_back(dir.name + "/");
    for (const auto& file : dir.files) order.push_back(file->name + "#" + std::to_string(file->id));
    return 0;
  });
  // Ids follow the sorted order, depth first: "#z" (id 15) sorts before "Y2".
  EXPECT_EQ(order, (std::vector<std::string>{"/", "a#8", "b#9", "_x#18", "C/", "y#12", "D/", "Y2#16", "z#17"}));
  EXPECT_EQ(placement("#z")->id, 15);
}

TEST_F(ScannerTest, PlacementFilesAreParsedWithTheirLimits) {
  struct Case {
    const char* text;
    int lastAvatar;
    std::vector<std::int64_t> slots;  // slots 0-3
  };
  const Case cases[] = {
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
  for (const Case& c : cases) {
    PlacementRecord record;
    parsePlacementText(c.text, record);
    EXPECT_EQ(record.lastAvatar, c.lastAvatar) << c.text;
    EXPECT_EQ(std::vector<std::int64_t>(record.avatars.begin(), record.avatars.begin() + 4), c.slots) << c.text;
  }
  // A number too large for 32 bits stays out of range and keeps its digits
  // as written; a smaller one in a later slot forgets them.
  PlacementRecord huge;
  parsePlacementText("00099999999999999999 2147483648 2147483647", huge);
  EXPECT_GT(huge.avatars[0], std::int64_t{0xFFFFFFFF});
  EXPECT_EQ(huge.written, (std::array<std::string, 4>{"00099999999999999999", "2147483648", "", ""}));
  parsePlacementText("1 2 3 4 5", huge);
  EXPECT_EQ(huge.written, (std::array<std::string, 4>{"", "", "", ""}));
  // Only the first 1023 bytes are read.
  fs.addFile("src/#long", std::string(1020, ' ') + "12345");
  fs.addFile("src/long", "x");
  ASSERT_EQ(scan(), 0);
  EXPECT_EQ(placement("#long")->avatars[0], 123);
}

TEST_F(ScannerTest, FirstPlacementFileOfANameWinsAndFixedRecordsCannotBeReplaced) {
  fs.addFile("src/#BOOT_CODE", "500");
  fs.addFile("src/#empty", "");
  fs.addFile("src/#readme", "7");
  fs.addFile("src/#README", "8");  // not on the disc: no clash with "#readme"
  fs.addDirectory("src/A");
  fs.addFile("src/A/#Intro.str", "300");
  fs.addDirectory("src/B");
  fs.addFile("src/B/#intro.STR", "400");
  ASSERT_EQ(scan(), 0);
  EXPECT_EQ(console.text(), "");
  EXPECT_EQ(placement("#boot_code")->avatars[0], 2);
  EXPECT_EQ(placement("#empty"), nullptr);
  EXPECT_EQ(placement("#README")->avatars[0], 8);  // the first in name order
  EXPECT_EQ(placement("#intro.str")->avatars[0], 300);
  EXPECT_EQ(placement("#intro.str")->name, "#Intro.str");
  EXPECT_EQ(placements->records().size(), 7u);
  // The second one was never opened.
  for (const std::string& path : fs.opened()) EXPECT_NE(path, "src/B/#intro.STR");
}

TEST_F(ScannerTest, UnreadableDirectoriesHugeFilesAndTheOutputFailTheScan) {
  struct Case {
    const char* name;
    std::function<void(FakeFileSystem&)> setup;
    std::string message;
  };
  const Case cases[] = {
      {"unreadable subdirectory",
       [](FakeFileSystem& fs) {
         fs.addDirectory("src/A");
         fs.failListing("src/A");
       },
       "Error read directory src/A/\n"},
      {"file of 4 GiB",
       [](FakeFileSystem& fs) {
         fs.addFile("src/big", "");
         fs.reportSize("src/big", std::uint64_t{1} << 32);
       },
       "Error file src/big is 4 GiB or larger.\n"},
      {"placement file that cannot be opened, though empty",
       [](FakeFileSystem& fs) {
         fs.addFile("src/A/#x", "");
         fs.failOpen("src/A/#x");
       },
       "Error read file src/A/#x\n"},
      {"placement file that cannot be read",
       [](FakeFileSystem& fs) {
         fs.addFile("src/#x", "300");
         fs.failReadAfter("src/#x", 0);
       },
       "Error read file src/#x\n"},
      {"status that cannot be read (no permission, a path too long)",
       [](FakeFileSystem& fs) {
         fs.addFile("src/f", "x");
         fs.failStat("src/f");
       },
       "Error read file src/f\n"},
      {"entry removed since it was listed",
       [](FakeFileSystem& fs) {
         fs.addFile("src/gone", "x");
         fs.remove("src/gone");
       },
       "Error read file src/gone\n"},
      {"dangling link", [](FakeFileSystem& fs) { fs.addLink("src/l", "src/nowhere"); },
       "Error file src/l is not a regular file or directory.\n"},
      {"names the disc cannot tell apart",
       [](FakeFileSystem& fs) {
         fs.addFile("src/sub/readme", "b");
         fs.addFile("src/sub/README", "a");
       },
       "Error file src/sub/readme has the same name as src/sub/README on the disc.\n"},
      {"a file and a directory the disc cannot tell apart",
       [](FakeFileSystem& fs) {
         fs.addFile("src/a.bin", "b");
         fs.addFile("src/A.BIN/inner", "a");
       },
       "Error file src/a.bin has the same name as src/A.BIN on the disc.\n"},
      {"a clash is reported before the directory's contents",
       [](FakeFileSystem& fs) {
         fs.addFile("src/AB", "b");
         fs.addFile("src/aB/" + std::string(33, 'n'), "too long, but never reached");
       },
       "Error file src/aB has the same name as src/AB on the disc.\n"},
  };
  for (const Case& c : cases) {
    fs = FakeFileSystem();
    console.clear();
    ids = IdCounter();
    c.setup(fs);
    EXPECT_EQ(scan(), -1) << c.name;
    EXPECT_EQ(console.text(), c.message) << c.name;
  }
  // An output file inside the source tree would be read back while it is
  // being overwritten.
  fs = FakeFileSystem();
  console.clear();
  fs.addFile("src/sub/out.iso", "old image");
  EXPECT_EQ(scan(EntryOrder::Name, fs.stat("src/sub/out.iso")), -1);
  EXPECT_EQ(console.text(), "Error file src/sub/out.iso is the output file.\n");
}

TEST_F(ScannerTest, ALinkToAnotherPartOfTheTreeIsScannedAgainAndSizesUpTo4GiBFit) {
  fs.addDirectory("src/A");
  fs.addFile("src/A/f", "abc");
  fs.addLink("src/B", "src/A");
  fs.addFile("src/big", "");
  fs.reportSize("src/big", 0xFFFFFFFFull);
  ASSERT_EQ(scan(), 0);
  ASSERT_EQ(root->children.size(), 2u);
  EXPECT_EQ(root->children[1]->files[0]->byteSize, 3u);
  // Just under 4 GiB needs 2097152 blocks, not a wrapped-around 0.
  EXPECT_EQ(root->files[0]->byteSize, 0xFFFFFFFFu);
  EXPECT_EQ(root->files[0]->blockCount, 2097152);
}

}  // namespace
}  // namespace vornel
