#include "platform/fake_console.h"
#include "layout/placement.h"

#include <gtest/gtest.h>

#include <array>
#include <random>
#include <string>
#include <vector>

namespace vornel {
namespace {

using Avatars = std::vector<std::int64_t>;

// A run up to the placement passes: the root (ids 1, 2), the five fixed
// placement records (3 to 7), the disc label (8) and its two blocks.
struct Disc {
  Disc() {
    root->path = "/src/disc/";
    reserveLabelBlocks(pool, labelId);
  }
  FileRecord& file(DirNode& dir, const std::string& name, std::int32_t blocks) {
    auto record = newFileRecord(ids);
    record->name = name;
    record->byteSize = static_cast<std::uint32_t>(blocks) * 2048;
    record->blockCount = blocks;
    return appendFile(dir, std::move(record));
  }
  DirNode& dir(DirNode& parent, const std::string& name) {
    auto node = newDirNode(ids, 3);
    node->name = name;
    return appendChild(parent, std::move(node));
  }
  // A user placement record, as a placement file gives it.
  void record(const std::string& name, const Avatars& positions) {
    auto record = newPlacementRecord(ids);
    record->name = name;
    record->lastAvatar = static_cast<std::int32_t>(positions.size()) - 1;
    std::copy(positions.begin(), positions.end(), record->avatars.begin());
    list.append(std::move(record));
  }
  int placeAll(int rootAvatars = 3) {
    if (placeSystemFiles(list, *root, pool, console) != 0 || placeFiles(*root, pool, console) != 0) return -1;
    root->lastAvatar = rootAvatars - 1;
    return placeDirectories(*root, pool, console);
  }
  std::vector<std::int32_t> owners() const {
    std::vector<std::int32_t> result(kPoolSize);
    for (std::int32_t b = 0; b < kPoolSize; ++b) result[b] = pool.owner(b);
    return result;
  }

  IdCounter ids;
  std::unique_ptr<DirNode> root = newDirNode(ids, 3);
  PlacementList list{ids};
  std::int32_t labelId = ids.nextId();
  FreeBlocksPool pool;
  StringConsole console;
};

// Avatars 0 to lastAvatar of a file or a directory.
template <typename Record>
Avatars avatarsOf(const Record& record) {
  return Avatars(record.avatars.begin(), record.avatars.begin() + record.lastAvatar + 1);
}

// The pool agrees with the records: every block that a placed file or
// directory claims lies in the pool and is owned by that record's id (block
// k of a directory copy by its k-th DirBlock), no block is claimed twice,
// every other block is free, and the highest claimed block is the highest used.
void expectConsistent(Disc& disc) {
  std::vector<std::int32_t> claims(kPoolSize, kFreeBlock);
  int bad = 0;
  auto claim = [&](std::int64_t block, std::int32_t id) {
    if (block < 0 || block >= kPoolSize || claims[block] != kFreeBlock) {
      ++bad;
    } else {
      claims[block] = id;
    }
  };
  claim(0, disc.labelId);
  claim(225, disc.labelId);
  preOrderWalk(*disc.root, [&](DirNode& dir) {
    for (int j = 0; dir.placed && j <= dir.lastAvatar; ++j) {
      for (int k = 0; k < dir.blockCount(); ++k) claim(dir.avatars[j] + k, dir.blocks[k]->id);
    }
    for (const auto& file : dir.files) {
      for (int j = 0; file->placed && j <= file->lastAvatar; ++j) {
        for (int k = 0; k < file->blockCount; ++k) claim(file->avatars[j] + k, file->id);
      }
    }
    return 0;
  });
  EXPECT_EQ(bad, 0) << "blocks claimed twice or outside the pool";
  std::int32_t highest = 0;
  for (std::int32_t b = 0; b < kPoolSize; ++b) {
    if (claims[b] != kFreeBlock) highest = b;
    ASSERT_EQ(disc.pool.owner(b), claims[b]) << "block " << b;
  }
  EXPECT_EQ(disc.pool.highestUsedBlock(), highest);
}

// The plain first-fit: a scan from block 0 that takes the first run of n
// free blocks.
std::int64_t scanFromZero(const FreeBlocksPool& pool, std::int64_t n) {
  std::int64_t length = 0;
  for (std::int64_t b = 0; b < kPoolSize; ++b) {
    length = pool.isFree(b) ? length + 1 : 0;
    if (length == n) return b - n + 1;
  }
  return -1;
}

TEST(PlacementTest, FirstFitFindsTheBlockAScanFromZeroFinds) {
  // Pools owned at random blocks and in random runs, as fixed placements
  // leave them, then requests that take their run, as files do, mixed with
  // more owned blocks, as directories add later. One pool, cleared between
  // rounds, as a second build would reuse it.
  std::mt19937 rng(20261207);
  const auto below = [&](std::int64_t limit) { return std::uniform_int_distribution<std::int64_t>(0, limit - 1)(rng); };
  FreeBlocksPool pool;
  for (int round = 0; round < 40; ++round) {
    pool.clear();
    const std::int64_t region = std::array<std::int64_t, 4>{130, 3000, 70000, kPoolSize}[round % 4];
    const std::int64_t owned = below(std::min<std::int64_t>(region, 20000));
    for (std::int64_t i = 0; i < owned; ++i) pool.own(below(region), 1);
    for (int i = below(8); i > 0; --i) {
      const std::int64_t start = below(kPoolSize);
      const std::int64_t end = std::min<std::int64_t>(kPoolSize, start + below(5000));
      for (std::int64_t b = start; b < end; ++b) pool.own(b, 2);
    }
    for (int request = 0; request < 20; ++request) {
      const std::int64_t n = 1 + (request == 19 ? below(kPoolSize) : below(request % 4 == 3 ? 3000 : 70));
      const std::int64_t expected = scanFromZero(pool, n);
      ASSERT_EQ(pool.firstFit(n), expected) << "round " << round << ", request " << request << ", " << n << " blocks";
      if (expected >= 0 && below(4) != 0) {
        for (std::int64_t b = expected; b < expected + n; ++b) pool.own(b, 3);
      }
      pool.own(below(region), 4);
    }
  }
}

TEST(PlacementTest, EmptyTreeRootFollowsTheLabel) {
  for (const auto& [rootAvatars, expected] : {std::pair{3, Avatars{1, 65, 129}}, std::pair{1, Avatars{1}}}) {
    Disc disc;
    ASSERT_EQ(disc.placeAll(rootAvatars), 0);
    EXPECT_EQ(avatarsOf(*disc.root), expected);
    EXPECT_EQ(disc.pool.highestUsedBlock(), 225);
    expectConsistent(disc);
  }
}

TEST(PlacementTest, FilesTakeTheLowestFreeRunInPreOrder) {
  for (const auto& [blocks, expected] : {std::pair{224, 1}, std::pair{225, 226}}) {
    Disc disc;
    FileRecord& file = disc.file(*disc.root, "big", blocks);
    ASSERT_EQ(disc.placeAll(), 0);
    EXPECT_EQ(avatarsOf(file), Avatars{expected});
    expectConsistent(disc);
  }
  Disc sizes;
  FileRecord& three = sizes.file(*sizes.root, "three", 3);
  FileRecord& one = sizes.file(*sizes.root, "one", 1);
  ASSERT_EQ(sizes.placeAll(), 0);
  EXPECT_EQ((Avatars{three.avatars[0], one.avatars[0]}), (Avatars{1, 4}));
  EXPECT_EQ(avatarsOf(*sizes.root), (Avatars{5, 69, 133}));
  expectConsistent(sizes);

  // A directory's files come before its subdirectories' files.
  Disc order;
  FileRecord& a = order.file(*order.root, "a", 1);
  FileRecord& s1 = order.file(order.dir(*order.root, "S"), "s1", 1);
  FileRecord& b = order.file(*order.root, "b", 1);
  ASSERT_EQ(order.placeAll(), 0);
  EXPECT_EQ((Avatars{a.avatars[0], b.avatars[0], s1.avatars[0]}), (Avatars{1, 2, 3}));
  expectConsistent(order);
}

TEST(PlacementTest, SystemFilesTakeTheBlocksOfTheirRecords) {
  Disc disc;
  FileRecord& banner = disc.file(*disc.root, "BannerScreen", 1);
  FileRecord& romTags = disc.file(*disc.root, "rom_tags", 1);
  FileRecord& misc = disc.file(disc.dir(*disc.root, "sys"), "MISC_CODE", 155);  // ends at block 224
  // Of two boot_code files, the sibling-first walk meets B's before A1's.
  FileRecord& deepBoot = disc.file(disc.dir(disc.dir(*disc.root, "A"), "A1"), "boot_code", 1);
  FileRecord& boot = disc.file(disc.dir(*disc.root, "B"), "BOOT_CODE", 4);
  FileRecord& os = disc.file(*disc.root, "os_code", 64);
  FileRecord& data = disc.file(*disc.root, "data", 1);  // first-fit would give it 228
  FileRecord& other = disc.file(*disc.root, "other", 1);
  FileRecord& empty = disc.file(*disc.root, "empty", 0);
  FileRecord& emptyFixed = disc.file(*disc.root, "empty.fixed", 0);
  disc.record("#data", {300});
  disc.record("#missing", {310});  // no such file
  disc.record("#sys", {320});      // a directory, not a file
  disc.record("#empty.fixed", {330, 331});
  ASSERT_EQ(disc.placeAll(), 0);
  EXPECT_EQ(disc.console.text(), "");
  EXPECT_EQ(avatarsOf(banner), Avatars{227});
  EXPECT_EQ(avatarsOf(romTags), (Avatars{1, 226}));
  EXPECT_EQ(avatarsOf(boot), Avatars{2});
  EXPECT_EQ(avatarsOf(os), Avatars{6});
  EXPECT_EQ(avatarsOf(misc), Avatars{70});
  EXPECT_EQ(avatarsOf(data), Avatars{300});
  EXPECT_EQ(avatarsOf(other), Avatars{228});
  EXPECT_EQ(avatarsOf(deepBoot), Avatars{229});  // first-fit like any file
  // Empty files own no block: -1 first-fit, the record's positions otherwise.
  EXPECT_TRUE(empty.placed && emptyFixed.placed);
  EXPECT_EQ(avatarsOf(empty), Avatars{-1});
  EXPECT_EQ(avatarsOf(emptyFixed), (Avatars{330, 331}));
  expectConsistent(disc);  // blocks 310, 320, 330 and 331 stay free
}

TEST(PlacementTest, BadSystemPlacementNamesTheRecordAndTheAvatar) {
  const struct {
    std::vector<std::pair<std::string, std::int32_t>> files;  // in the root
    Avatars positions;                                        // of a record "#data"
    std::string message;
    bool poolUnchanged;
  } cases[] = {
      {{{"boot_code", 5}, {"os_code", 1}}, {}, "Error avatar placement in file #os_code, avatar: #6\n", false},
      {{{"rom_tags", 2}, {"boot_code", 1}}, {}, "Error avatar placement in file #rom_tags, avatar: #1\n", false},
      {{{"misc_code", 156}}, {}, "Error avatar placement in file #misc_code, avatar: #70\n", false},
      {{{"data", 2}}, {100, 101}, "Error avatar placement in file #data, avatar: #101\n", false},
      // A record without numbers: lastAvatar 3, every slot -1.
      {{{"data", 2}}, {-1, -1, -1, -1}, "Error avatar placement in file #data, avatar: #-1\n", true},
      {{{"data", 2}}, {329999}, "Error avatar placement in file #data, avatar: #329999\n", true},
      {{{"data", 2}}, {4294967296}, "Error avatar placement in file #data, avatar: #4294967296\n", true},
      // An empty file reserves nothing, but its avatar must still fit its entry.
      {{{"data", 0}}, {4294967296}, "Error avatar placement in file #data, avatar: #4294967296\n", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    Disc disc;
    for (const auto& [name, blocks] : c.files) disc.file(*disc.root, name, blocks);
    if (!c.positions.empty()) disc.record("#data", c.positions);
    const std::vector<std::int32_t> before = disc.owners();
    EXPECT_EQ(placeSystemFiles(disc.list, *disc.root, disc.pool, disc.console), -1);
    EXPECT_EQ(disc.console.text(), c.message);
    if (c.poolUnchanged) {
      EXPECT_TRUE(disc.owners() == before);
    }
  }
}

TEST(PlacementTest, DirectoriesArePlacedSiblingsFirstLaterSubtreesFirst) {
  Disc disc;
  std::vector<DirNode*> order = {disc.root.get()};
  for (const char* name : {"A", "B", "C"}) order.push_back(&disc.dir(*disc.root, name));
  for (int i = 3; i >= 1; --i) order.push_back(&disc.dir(*order[i], order[i]->name + "1"));
  ASSERT_EQ(disc.placeAll(), 0);
  for (std::size_t i = 1; i < order.size(); ++i) {
    EXPECT_LT(order[i - 1]->avatars[0], order[i]->avatars[0]) << order[i - 1]->name << " before " << order[i]->name;
  }
  expectConsistent(disc);

  // A copy that meets an owned block moves the directory just past it.
  Disc moved;
  moved.file(*moved.root, "misc_code", 1);  // block 70
  moved.file(*moved.root, "five", 5);       // blocks 1 to 5
  ASSERT_EQ(moved.placeAll(), 0);
  EXPECT_EQ(avatarsOf(*moved.root), (Avatars{7, 71, 135}));  // 6 would put a copy on 70
  expectConsistent(moved);
}

TEST(PlacementTest, CopiesOfALongDirectoryDoNotOverlap) {
  for (const auto& [blocks, spacing] : {std::pair{64, 64}, std::pair{65, 128}, std::pair{129, 192}}) {
    SCOPED_TRACE(blocks);
    Disc disc;
    DirNode& sub = disc.dir(*disc.root, "sub");
    for (int k = 1; k < blocks; ++k) {
      disc.root->blocks.push_back(newDirBlock(disc.ids));
      sub.blocks.push_back(newDirBlock(disc.ids));
    }
    ASSERT_EQ(disc.placeAll(2), 0);
    EXPECT_EQ(disc.root->avatars[1] - disc.root->avatars[0], spacing);
    EXPECT_EQ(avatarsOf(sub), (Avatars{sub.avatars[0], sub.avatars[0] + spacing, sub.avatars[0] + 2 * spacing}));
    expectConsistent(disc);
  }
}

TEST(PlacementTest, NoRoomNamesTheFileOrTheDirectory) {
  // A file at block 1 and one from block 226 on; the root has one avatar.
  const struct {
    std::int32_t first;
    std::int32_t rest;
    std::string message;
  } cases[] = {
      {224, 329774, "Error place (stage 2) directory /src/disc/ in free blocks pool.\n"},
      {223, 329774, "Error place (stage 2) directory S in free blocks pool.\n"},  // the root takes block 224
      {1, 329775, "Error place file rest in free blocks pool.\n"},
  };
  for (const auto& c : cases) {
    Disc disc;
    disc.file(*disc.root, "first", c.first);
    disc.file(*disc.root, "rest", c.rest);
    disc.dir(*disc.root, "S");
    EXPECT_EQ(disc.placeAll(1), -1);
    EXPECT_EQ(disc.console.text(), c.message);
  }
  // The pool's last block is usable.
  Disc disc;
  disc.file(*disc.root, "first", 224);
  disc.file(*disc.root, "rest", 329773);
  ASSERT_EQ(disc.placeAll(1), 0);
  EXPECT_EQ(avatarsOf(*disc.root), Avatars{kPoolSize - 1});
  expectConsistent(disc);
}

}  // namespace
}  // namespace vornel
