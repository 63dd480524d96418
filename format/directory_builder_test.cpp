#include "format/directory_builder.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "format/format_test_util.h"

namespace vornel {
namespace {

using test::hex;

// A run's tree as the scanner leaves it: the root (ids 1, 2) and the five
// fixed placement records (3 to 7) first, then whatever a test adds.
struct Disc {
  explicit Disc(int dirAvatars = 3) : root(newDirNode(ids, dirAvatars)), dirAvatars(dirAvatars) { PlacementList list(ids); }

  DirNode& dir(DirNode& parent, const std::string& name) {
    auto node = newDirNode(ids, dirAvatars);
    node->name = name;
    return appendChild(parent, std::move(node));
  }
  // Placed one-block files with lastAvatar + 1 avatars.
  void files(DirNode& dir, int count, int lastAvatar = 0, const std::string& name = "f") {
    for (int i = 0; i < count; ++i) {
      auto record = newFileRecord(ids);
      record->name = name;
      record->byteSize = 2048;
      record->blockCount = 1;
      record->lastAvatar = lastAvatar;
      for (int j = 0; j <= lastAvatar; ++j) record->avatars[j] = 300 + j;
      record->placed = true;
      appendFile(dir, std::move(record));
    }
  }
  // Both passes, with made-up directory avatars in between (every directory
  // its own base from 1000 on, copies 64 blocks apart).
  void build() {
    ASSERT_EQ(buildDirectories(*root, dirAvatars, ids), 0);
    std::int32_t base = 1000;
    siblingFirstWalk(*root, [&](DirNode& dir) {
      for (int j = 0; j <= dir.lastAvatar; ++j) dir.avatars[j] = base + 64 * j;
      ++base;
      dir.placed = true;
      return 0;
    });
    EXPECT_EQ(finishDirectories(*root), 0);
  }

  IdCounter ids;
  std::unique_ptr<DirNode> root;
  int dirAvatars;
};

std::int32_t field(const DirBlock& block, std::size_t offset) { return loadBE32(block.data.data() + offset); }
std::uint32_t flagsAt(const DirBlock& block, std::size_t offset) { return static_cast<std::uint32_t>(field(block, offset)); }

// The directory's entry in its parent, as finishDirectories left it.
void expectEntryInParent(const DirNode& dir, int blocks) {
  const DirBlock& block = *dir.entryInParent.block;
  const std::size_t at = dir.entryInParent.offset;
  EXPECT_EQ(field(block, at + entry::kId), dir.id);
  EXPECT_EQ(field(block, at + entry::kBlockCount), blocks);
  EXPECT_EQ(field(block, at + entry::kByteCount), blocks * 2048);
  for (int j = 0; j <= dir.lastAvatar; ++j) EXPECT_EQ(field(block, at + entry::kAvatars + 4 * j), dir.avatars[j]);
}

TEST(DirectoryBuilderTest, EmptyRootHoldsOnlyTheMarkedLabelEntry) {
  Disc disc;
  disc.build();
  ASSERT_EQ(disc.root->blockCount(), 1);
  const DirBlock& block = *disc.root->blocks[0];
  EXPECT_EQ(hex(block.data.data(), 96), "FF FF FF FF FF FF FF FF 00 00 00 00 00 00 00 60 00 00 00 14 C0 00 00 06 " +
                                            test::labelEntryAfterFlags());
  for (std::size_t i = 96; i < kBlockSize; ++i) {
    ASSERT_EQ(block.data[i], static_cast<std::uint8_t>(kFillerPattern[i % 8])) << "byte " << i;
  }
}

TEST(DirectoryBuilderTest, ChainGrowsWhenTheNextFileEntryDoesNotFit) {
  const struct {
    bool inRoot;
    int files;
    int blocks;
    std::size_t last;      // offset of block 0's last entry
    std::uint32_t flags;   // its flags once finished
  } cases[] = {{false, 28, 1, 1964, 0xC0000002}, {false, 29, 2, 1964, 0x40000002},
               {true, 27, 1, 1968, 0xC0000002},  {true, 28, 2, 1968, 0x40000002}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << (c.inRoot ? "root" : "subdirectory") << " with " << c.files << " files");
    Disc disc;
    DirNode& dir = c.inRoot ? *disc.root : disc.dir(*disc.root, "sub");
    disc.files(dir, c.files);
    disc.build();
    ASSERT_EQ(dir.blockCount(), c.blocks);
    const DirBlock& first = *dir.blocks[0];
    EXPECT_EQ(field(first, header::kFirstFreeByte), static_cast<std::int32_t>(c.last + 72));
    EXPECT_EQ(flagsAt(first, c.last - 72), 2u);  // 72 more bytes fitted after it
    EXPECT_EQ(flagsAt(first, c.last), c.flags);
    if (c.blocks == 2) {
      const DirBlock& second = *dir.blocks[1];
      EXPECT_EQ(hex(first.data.data(), 8), "00 00 00 01 FF FF FF FF ");
      EXPECT_EQ(hex(second.data.data(), 20), "FF FF FF FF 00 00 00 00 00 00 00 00 00 00 00 5C 00 00 00 14 ");
      EXPECT_EQ(flagsAt(second, 20), 0xC0000002u);
      EXPECT_EQ(field(second, 20 + entry::kId), dir.files.back()->id);
    }
    if (!c.inRoot) expectEntryInParent(dir, c.blocks);
  }
}

TEST(DirectoryBuilderTest, DirectoryEntriesFillABlockAndEmptyDirectoriesKeepTheirFreshBlock) {
  for (const auto& [dirAvatars, count] : {std::pair{3, 25}, std::pair{8, 20}}) {
    SCOPED_TRACE(testing::Message() << "dirAvatars " << dirAvatars);
    const std::size_t size = 68 + 4 * dirAvatars;
    Disc disc(dirAvatars);
    DirNode& sub = disc.dir(*disc.root, "sub");
    for (int i = 0; i < count; ++i) disc.dir(sub, "d" + std::to_string(i));
    disc.build();
    ASSERT_EQ(sub.blockCount(), 1);
    const std::size_t last = 20 + (count - 1) * size;
    EXPECT_EQ(field(*sub.blocks[0], header::kFirstFreeByte), static_cast<std::int32_t>(last + size));
    EXPECT_EQ(flagsAt(*sub.blocks[0], last - size), 7u);
    EXPECT_EQ(flagsAt(*sub.blocks[0], last), 0xC0000007u);

    const DirNode& empty = *sub.children.back();
    IdCounter freshIds;
    ASSERT_EQ(empty.blockCount(), 1);
    EXPECT_EQ(empty.blocks[0]->data, newDirBlock(freshIds)->data);
    EXPECT_EQ(empty.entryInParent.offset, last);
    expectEntryInParent(empty, 1);
  }
}

TEST(DirectoryBuilderTest, LastInBlockPredictionLooksOnlyAtTheEntryItself) {
  // The label entry, then one-avatar files, two 76-byte entries, and
  // one-avatar files again up to byte 2048.
  const struct {
    int before;
    int after;
    std::size_t offset;  // of the entry before the last one
    std::uint32_t flags;
  } cases[] = {{24, 1, 1900, 0x40000002},   // 76 bytes at 1900, yet 72 more fit
               {23, 2, 1904, 0x00000002}};  // 72 bytes at 1904: one more fits exactly
  for (const auto& c : cases) {
    Disc disc;
    disc.files(*disc.root, c.before);
    disc.files(*disc.root, 2, 1);
    disc.files(*disc.root, c.after);
    disc.build();
    ASSERT_EQ(disc.root->blockCount(), 1);
    const DirBlock& block = *disc.root->blocks[0];
    EXPECT_EQ(field(block, header::kFirstFreeByte), 2048);
    EXPECT_EQ(flagsAt(block, c.offset), c.flags);
    EXPECT_EQ(flagsAt(block, 1976), 0xC0000002u);
  }
  // A larger entry after one not predicted last opens a block, which leaves
  // block 0 without a marked entry once the directory entry is over 84 bytes.
  for (int dirAvatars = 1; dirAvatars <= 8; ++dirAvatars) {
    SCOPED_TRACE(testing::Message() << "dirAvatars " << dirAvatars);
    Disc disc(dirAvatars);
    DirNode& sub = disc.dir(*disc.root, "sub");
    disc.files(sub, 27);
    disc.dir(sub, "t");
    disc.build();
    const bool opensBlock = dirAvatars >= 5;
    ASSERT_EQ(sub.blockCount(), opensBlock ? 2 : 1);
    EXPECT_EQ(flagsAt(*sub.blocks[0], 1892), 2u);
    EXPECT_EQ(flagsAt(*sub.blocks.back(), opensBlock ? 20 : 1964), 0xC0000007u);
  }
}

TEST(DirectoryBuilderTest, FilesComeBeforeSubdirectories) {
  Disc disc;
  disc.dir(*disc.root, "a");       // ids 8, 9
  disc.files(*disc.root, 1, 0, "b");  // 10
  disc.dir(*disc.root, "c");       // 11, 12
  disc.files(*disc.root, 1, 0, "d");  // 13
  disc.build();
  const DirBlock& block = *disc.root->blocks[0];
  const std::tuple<std::size_t, const char*, std::int32_t> expected[] = {
      {96, "b", 10}, {168, "d", 13}, {240, "a", 9}, {320, "c", 12}};
  for (const auto& [offset, name, id] : expected) {
    EXPECT_EQ(hex(block.data.data() + offset + entry::kName, 2), hex(std::string(name) + '\0')) << name;
    EXPECT_EQ(field(block, offset + entry::kId), id) << name;
  }
}

TEST(DirectoryBuilderTest, AppendRenumbersTheWholeChain) {
  IdCounter ids;
  std::vector<std::unique_ptr<DirBlock>> chain;
  chain.push_back(newDirBlock(ids));
  storeBE32(chain[0]->data.data() + header::kFirstFreeByte, 1000);  // left alone
  appendDirBlock(chain, newDirBlock(ids));
  appendDirBlock(chain, newDirBlock(ids));
  EXPECT_EQ(hex(chain[0]->data.data(), 20), "00 00 00 01 FF FF FF FF 00 00 00 00 00 00 03 E8 00 00 00 14 ");
  EXPECT_EQ(hex(chain[1]->data.data(), 20), "00 00 00 02 00 00 00 00 00 00 00 00 00 00 00 14 00 00 00 14 ");
  EXPECT_EQ(hex(chain[2]->data.data(), 20), "FF FF FF FF 00 00 00 01 00 00 00 00 00 00 00 14 00 00 00 14 ");
}

}  // namespace
}  // namespace vornel
