#include "format/records.h"

#include <gtest/gtest.h>

#include <string>

#include "format/format_test_util.h"

namespace vornel {
namespace {

using test::hex;
using test::zeros;

TEST(DiscLabelTest, EmptyTreeGivesTheExactLabel) {
  IdCounter ids;
  auto root = newDirNode(ids, 3);  // block 1, root 2
  PlacementList list(ids);         // 3 to 7
  DiscLabel label;
  EXPECT_EQ(initDiscLabel(label, "CD_ROM", ids), 8);
  // Until the directories are placed, only the two block sizes are known.
  EXPECT_EQ(hex(label.bytes.data() + 80, 52), zeros(12) + "00 00 08 00 " + zeros(36));
  root->avatars = {1, 65, 129, -1, -1, -1, -1, -1};
  completeDiscLabel(label, *root, 3, 225);
  EXPECT_EQ(hex(label.bytes.data(), label::kSize),
            "01 5A 5A 5A 5A 5A 01 00 " + zeros(32) + hex("CD_ROM") + zeros(26) +
                "08 00 00 00 00 00 08 00 00 00 00 E2 00 00 00 02 00 00 00 01 00 00 08 00 00 00 00 02 "
                "00 00 00 01 00 00 00 41 00 00 00 81 " + zeros(20));
}

TEST(DiscLabelTest, VolumeIdIsLittleEndianAndTheLabelFieldKeepsItsLastByteZero) {
  IdCounter ids;
  for (int i = 1; i < 258; ++i) ids.nextId();
  DiscLabel label;
  ASSERT_EQ(initDiscLabel(label, "", ids), 258);
  auto root = newDirNode(ids, 1);
  root->avatars[0] = 1;
  completeDiscLabel(label, *root, 1, 257);
  EXPECT_EQ(hex(label.bytes.data() + label::kVolumeId, 4), "02 01 00 00 ");
  EXPECT_EQ(hex(label.bytes.data() + label::kBlockCount, 4), "00 00 01 02 ");
  // Avatar slots above the root's last hold 0, not -1.
  EXPECT_EQ(hex(label.bytes.data() + label::kRootDirLastAvatar, 36), "00 00 00 00 00 00 00 01 " + zeros(28));

  // A label of 32 bytes or more is cut so that it cannot reach the volume id.
  for (const std::string text : {"", "AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA", "BBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBB"}) {
    IdCounter labelIds;
    initDiscLabel(label, text, labelIds);
    EXPECT_EQ(hex(label.bytes.data() + label::kVolumeLabel, 36), hex(text.substr(0, 31)) +
                                                                     zeros(32 - std::min<std::size_t>(text.size(), 31)) +
                                                                     "01 00 00 00 ")
        << text;
  }
}

FileRecord fileRecord(std::int32_t id, const std::string& name, std::uint32_t byteSize, std::vector<std::int64_t> avatars) {
  FileRecord record;
  record.id = id;
  record.name = name;
  record.byteSize = byteSize;
  record.blockCount = static_cast<std::int32_t>((byteSize + 2047) / 2048);
  record.lastAvatar = static_cast<std::int32_t>(avatars.size()) - 1;
  for (std::size_t i = 0; i < avatars.size(); ++i) record.avatars[i] = avatars[i];
  return record;
}

TEST(DirEntryTest, EncodersWriteTheirFieldsAndNothingAfterThem) {
  IdCounter ids;
  auto block = newDirBlock(ids);
  const std::uint8_t* data = block->data.data();

  encodeFileEntry(*block, 104, fileRecord(7, "rom_tags", 4000, {1, 226}), true);
  EXPECT_EQ(hex(data + 104, 76), "40 00 00 02 00 00 00 07 20 20 20 20 00 00 08 00 00 00 0F A0 00 00 00 02 "
                                 "00 00 00 01 00 00 00 00 " + hex("rom_tags") + zeros(24) +
                                     "00 00 00 01 00 00 00 01 00 00 00 E2 ");
  EXPECT_EQ(storedEntrySize(*block, 104), 76u);
  EXPECT_EQ(hex(data + 100, 4), hex("duck"));  // before the entry
  EXPECT_EQ(hex(data + 180, 4), hex("duck"));  // after it

  // Empty files: no blocks; the avatar -1 first-fit, the record's otherwise.
  encodeFileEntry(*block, 200, fileRecord(9, "empty", 0, {-1}), false);
  EXPECT_EQ(hex(data + 216, 8), zeros(8));
  EXPECT_EQ(hex(data + 264, 8), "00 00 00 00 FF FF FF FF ");
  EXPECT_EQ(storedEntrySize(*block, 200), 72u);
  encodeFileEntry(*block, 200, fileRecord(9, "boot_code", 0, {2}), false);
  EXPECT_EQ(hex(data + 264, 8), "00 00 00 00 00 00 00 02 ");

  // A name of 32 bytes fills its field; one of 31 leaves the last byte zero.
  for (const std::string& name : {std::string(31, 'n'), std::string(32, 'm')}) {
    encodeFileEntry(*block, 400, fileRecord(9, name, 0, {-1}), false);
    EXPECT_EQ(hex(data + 400 + entry::kName, 36), hex(name) + (name.size() == 31 ? "00 " : "") + zeros(4));
  }

  auto node = newDirNode(ids, 3);  // id 3
  node->name = "sub";
  node->avatars[0] = 500;  // only written once the directory is finished
  encodeDirEntry(*block, 600, *node, false);
  EXPECT_EQ(hex(data + 600, 80), "00 00 00 07 00 00 00 03 2A 64 69 72 00 00 08 00 00 00 08 00 00 00 00 01 "
                                 "00 00 00 01 00 00 00 00 " + hex("sub") + zeros(29) +
                                     "00 00 00 02 FF FF FF FF FF FF FF FF FF FF FF FF ");

  IdCounter rootIds;
  auto root = newDirNode(rootIds, 3);  // id 2, as in a real run
  encodeLabelEntry(*block, 20, *root);
  EXPECT_EQ(hex(data + 20, 76), "00 00 00 06 " + test::labelEntryAfterFlags());
}

TEST(DirEntryTest, TypeIsUpToFourCharactersAfterTheLastFullStop) {
  const char* cases[][2] = {{"intro.str", "str "}, {"archive.tar.gz", "gz  "}, {"clip.MPEG2", "MPEG"},
                            {"boot_code", "    "}, {".profile", "    "},       {"readme.", "    "},
                            {"a", "    "},         {"", "    "},               {"a.b", "b   "}};
  for (const auto& [name, type] : cases) EXPECT_EQ(std::string(entryTypeFromName(name).data(), 4), type) << name;
}

TEST(DirBlockTest, FreshBlockHoldsTheEmptyHeaderOverThePattern) {
  IdCounter ids;
  auto block = newDirBlock(ids);
  EXPECT_EQ(hex(block->data.data(), 24), "FF FF FF FF FF FF FF FF 00 00 00 00 00 00 00 14 00 00 00 14 " + hex("duck"));
  for (std::size_t i = 24; i < kBlockSize; ++i) {
    ASSERT_EQ(block->data[i], static_cast<std::uint8_t>(kFillerPattern[i % 8])) << "byte " << i;
  }
}

}  // namespace
}  // namespace vornel
