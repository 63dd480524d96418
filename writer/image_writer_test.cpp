#include "writer/image_writer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/build.h"
#include "platform/fake_file_system.h"

namespace vornel {
namespace {

const std::string kBanner = "\nvornel 1.0 - disc image builder\n\n";
const std::string kLayoutDone =
    "Now parsing source directory - Done.\n"
    "Disc label avatars placed successfully.\n"
    "System files avatars placed successfully.\n"
    "Other files avatars placed successfully.\n"
    "File system created successfully.\n"
    "Now write ISO image to output file - ";

std::string fillerBlock() {
  std::string block;
  for (int i = 0; i < 256; ++i) block += "iamaduck";
  return block;
}

class ImageWriterTest : public ::testing::Test {
 protected:
  // Builds "src" into "out.iso" through the whole program, in-process.
  int build(std::vector<const char*> extra = {}) {
    std::vector<const char*> argv = {"vornel", "-in", "src", "-out", "out.iso"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    console.clear();
    return runMain(static_cast<int>(argv.size()), argv.data(), fs, console);
  }
  std::string block(std::size_t n) const { return fs.image().substr(n * 2048, 2048); }

  FakeFileSystem fs;
  StringConsole console;
};

TEST_F(ImageWriterTest, EmptyTreeGivesLabelRootAndFillerBlocks) {
  fs.addDirectory("src");
  ASSERT_EQ(build(), 0);
  EXPECT_EQ(console.text(), kBanner + kLayoutDone + ".Done.\n");
  ASSERT_EQ(fs.image().size(), 462848u);

  const std::string label = block(0);
  EXPECT_EQ(label, block(225));
  EXPECT_EQ(label.substr(0, 8), std::string("\x01\x5A\x5A\x5A\x5A\x5A\x01\x00", 8));
  EXPECT_EQ(label.substr(80, 4), std::string("\x00\x00\x00\xE2", 4));  // 226 blocks
  EXPECT_EQ(label.substr(132), fillerBlock().substr(132));
  EXPECT_EQ(label.substr(132, 4), "duck");

  const std::string root = block(1);
  EXPECT_EQ(root.substr(0, 20),
            std::string("\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\x00\x00\x00\x00\x00\x00\x00\x60\x00\x00\x00\x14", 20));
  EXPECT_EQ(root.substr(20, 4), std::string("\xC0\x00\x00\x06", 4));
  EXPECT_EQ(root.substr(96), fillerBlock().substr(96));
  EXPECT_EQ(block(65), root);
  EXPECT_EQ(block(129), root);
  for (std::size_t b : {2, 64, 66, 128, 130, 224}) EXPECT_EQ(block(b), fillerBlock()) << b;

  // Every write is one block at a block boundary; blocks 0 to 225 once each.
  std::vector<int> writesPerBlock(226, 0);
  for (const auto& write : fs.writes()) {
    EXPECT_EQ(write.size, 2048u);
    ASSERT_EQ(write.offset % 2048, 0u);
    ++writesPerBlock[write.offset / 2048];
  }
  for (int count : writesPerBlock) EXPECT_EQ(count, 1);
  // The label is the last write of the build.
  EXPECT_EQ(fs.writes().back().offset, 460800u);
}

TEST_F(ImageWriterTest, FilesAreCopiedToEveryAvatarWithFillerAfterTheirEnd) {
  std::string big(2049, '\0');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>('A' + i % 23);
  const std::string exact(2048, 'e');
  fs.addFile("src/big", big);
  fs.addFile("src/exact", exact);
  fs.addFile("src/empty", "");
  fs.addFile("src/rom_tags", "tags");
  ASSERT_EQ(build({"-ra", "1", "-da", "1"}), 0);
  // One dot for the root and one per file, the empty one included.
  EXPECT_EQ(console.text(), kBanner + kLayoutDone + ".....Done.\n");

  // rom_tags at 1 and 226 from its system record; the rest first-fit: big 2-3, exact 4.
  EXPECT_EQ(block(1).substr(0, 4), "tags");
  EXPECT_EQ(block(1).substr(4), fillerBlock().substr(4));
  EXPECT_EQ(block(226), block(1));
  EXPECT_EQ(block(2), big.substr(0, 2048));
  EXPECT_EQ(block(3), big.substr(2048) + fillerBlock().substr(1));
  EXPECT_EQ(block(4), exact);
  // The root directory follows at block 5; the image ends after block 226.
  EXPECT_EQ(block(5).substr(20, 4), std::string("\x00\x00\x00\x06", 4));
  EXPECT_EQ(fs.image().size(), 227u * 2048);
  EXPECT_TRUE(fs.outputCommitted() && fs.contentOf("out.iso") == fs.image());
}

TEST_F(ImageWriterTest, TheSameTreeGivesTheSameImageAndOutput) {
  fs.addFile("src/a.bin", std::string(5000, 'a'));
  fs.addDirectory("src/sub");
  fs.addFile("src/sub/b.txt", "bee");
  fs.addFile("src/sub/#b.txt", "300 500");
  ASSERT_EQ(build(), 0);
  const std::string firstImage = fs.image();
  const std::string firstText = console.text();
  ASSERT_EQ(build(), 0);
  EXPECT_EQ(fs.image(), firstImage);
  EXPECT_EQ(console.text(), firstText);
  EXPECT_EQ(block(300).substr(0, 3), "bee");
  EXPECT_EQ(block(500).substr(0, 3), "bee");
}

// Copies inside the host, whole or cut short at any byte, give the image
// that reads and writes give.
TEST_F(ImageWriterTest, CopiesInsideTheHostGiveTheSameImageAsReadsAndWrites) {
  std::string image;
  for (const std::uint64_t copyAtMost : {0, 1000, 4096, 1 << 30}) {
    fs = FakeFileSystem();
    fs.addFile("src/rom_tags", std::string(5000, 't'));
    fs.addFile("src/a/big", std::string(300000, 'b'));
    fs.addFile("src/a/exact", std::string(4096, 'e'));
    fs.addFile("src/a/#exact", "400 600");
    fs.addFile("src/small", "s");
    fs.addFile("src/empty", "");
    fs.copyAtMost(copyAtMost);
    ASSERT_EQ(build(), 0) << console.text();
    if (image.empty()) image = fs.image();
    EXPECT_TRUE(fs.image() == image) << copyAtMost;
  }
}

// Each failure of the writing stage: its message (or its silence), the exit
// status, and the writes that happened before the build stopped. The layout
// with -ra 1 -da 1: the file f at block 1 (2 blocks when it is 3000 bytes),
// the root directory right after it.
TEST_F(ImageWriterTest, EveryWriteFailureStopsTheBuildWithItsMessage) {
  struct Case {
    const char* name;
    std::string content;
    std::function<void(FakeFileSystem&)> inject;
    std::string tail;  // what follows the layout's status lines
    std::vector<std::uint64_t> writtenBlocks;
  };
  const std::string f3000(3000, 'f');
  std::vector<std::uint64_t> treeThenFiller = {3, 1, 2};
  for (std::uint64_t b = 4; b < 225; ++b) treeThenFiller.push_back(b);
  std::vector<std::uint64_t> allBlocks = treeThenFiller;
  allBlocks.push_back(0);
  allBlocks.push_back(225);
  const Case cases[] = {
      {"output cannot be created", f3000, [](FakeFileSystem& fs) { fs.failCreate(); },
       "Error create output file out.iso\n", {}},
      {"seek before the root's blocks", f3000, [](FakeFileSystem& fs) { fs.failSeekTo(3 * 2048); },
       ".Error write to output file.\n", {}},
      {"short write of a directory block", f3000, [](FakeFileSystem& fs) { fs.shortWriteAt(3 * 2048, 0); },
       ".Error write to output file.\n", {}},
      {"short write of a file block", f3000, [](FakeFileSystem& fs) { fs.shortWriteAt(2 * 2048, 2047); },
       "..Error write to output file.\n", {3, 1}},
      {"failed close or rename", f3000, [](FakeFileSystem& fs) { fs.failCommit(); },
       "..Error write to output file.\n", allBlocks},
      {"seek before a file's blocks", f3000, [](FakeFileSystem& fs) { fs.failSeekTo(1 * 2048); },
       "..Error write to output file.\n", {3}},
      {"seek before a run of filler blocks", f3000, [](FakeFileSystem& fs) { fs.failSeekTo(4 * 2048); },
       "..Error write to output file.\n", {3, 1, 2}},
      {"seek before the label", f3000, [](FakeFileSystem& fs) { fs.failSeekTo(0); },
       "..Error write to output file.\n", treeThenFiller},
      {"short write of a filler block", f3000, [](FakeFileSystem& fs) { fs.shortWriteAt(4 * 2048, 1); },
       "..Error write to output file.\n", {3, 1, 2}},
      {"short write of the label", f3000, [](FakeFileSystem& fs) { fs.shortWriteAt(0, 100); },
       "..Error write to output file.\n", treeThenFiller},
      {"source removed after the scan", f3000,
       [](FakeFileSystem& fs) { fs.onCreateOutput([&fs] { fs.remove("src/f"); }); }, "..Error open file src/f\n", {3}},
      {"read error", f3000, [](FakeFileSystem& fs) { fs.failReadAfter("src/f", 2048); }, "..Error read file src/f\n",
       {3}},
      // The host copies the whole blocks, then fails: the reads that follow
      // meet the failure and report it.
      {"copy that fails midway",
       f3000,
       [](FakeFileSystem& fs) {
         fs.copyAtMost(1 << 20);
         fs.failReadAfter("src/f", 2048);
       },
       "..Error read file src/f\n",
       {3, 1}},
      {"file grew before its blocks were copied",
       f3000,
       [](FakeFileSystem& fs) {
         fs.copyAtMost(1 << 20);
         fs.onCreateOutput([&fs] { fs.setContent("src/f", std::string(9000, 'g')); });
       },
       "..Error file src/f changed size during the build.\n",
       {3, 1, 2}},
      {"file shrank before its blocks were copied",
       f3000,
       [](FakeFileSystem& fs) {
         fs.copyAtMost(1000);
         fs.onCreateOutput([&fs] { fs.setContent("src/f", std::string(2000, 's')); });
       },
       "..Error file src/f changed size during the build.\n",
       {3, 1}},
      {"file grew", f3000, [](FakeFileSystem& fs) { fs.onCreateOutput([&fs] { fs.setContent("src/f", std::string(9000, 'g')); }); },
       "..Error file src/f changed size during the build.\n", {3, 1, 2}},
      {"file shrank", f3000, [](FakeFileSystem& fs) { fs.onCreateOutput([&fs] { fs.setContent("src/f", "tiny"); }); },
       "..Error file src/f changed size during the build.\n", {3, 1}},
      {"empty file grew", "", [](FakeFileSystem& fs) { fs.onCreateOutput([&fs] { fs.setContent("src/f", "new"); }); },
       "..Error file src/f changed size during the build.\n", {1}},
  };
  for (const Case& c : cases) {
    fs = FakeFileSystem();
    fs.addFile("src/f", c.content);
    fs.addFile("out.iso", "previous image");
    c.inject(fs);
    EXPECT_EQ(build({"-ra", "1", "-da", "1"}), 255) << c.name;
    EXPECT_EQ(console.text(), kBanner + kLayoutDone + c.tail) << c.name;
    // The previous image stays as it was.
    EXPECT_FALSE(fs.outputCommitted()) << c.name;
    EXPECT_EQ(fs.contentOf("out.iso"), "previous image") << c.name;
    // Whole blocks written, in order: the build stopped at the first failure
    // and never wrote past a file's reserved blocks.
    std::vector<std::uint64_t> written;
    for (const auto& write : fs.writes()) {
      if (write.size == 2048) written.push_back(write.offset / 2048);
    }
    EXPECT_EQ(written, c.writtenBlocks) << c.name;
  }
}

}  // namespace
}  // namespace vornel
