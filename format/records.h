#pragma once

// The three records the image holds besides file contents, kept in their
// on-disc byte form: the DiscLabel as one 132-byte record, block headers and
// directory entries inside the data of a DirBlock.

#include <array>
#include <cstdint>
#include <string_view>

#include "format/bytes.h"
#include "tree/source_tree.h"

namespace vornel {

struct DiscLabel {
  std::array<std::uint8_t, label::kSize> bytes{};
};

inline constexpr std::int32_t kLabelBlocks[2] = {0, 225};
inline constexpr std::size_t kLabelEntrySize = 76;

// Fills the label's fixed fields and volume label, and takes the next id as
// its volume id; returns that id.
std::int32_t initDiscLabel(DiscLabel& label, std::string_view volumeLabel, IdCounter& ids);
// The fields a layout gives: the whole volume label (up to 32 bytes) and
// comment, the volume flags and the volume id.
void setLabelFields(DiscLabel& label, std::string_view volumeLabel, std::string_view volumeComment,
                    std::uint8_t volumeFlags, std::int32_t volumeId);
// Adds what is known once the directories are placed.
void completeDiscLabel(DiscLabel& label, const DirNode& root, int rootAvatars, std::int32_t highestUsedBlock);

// Entry encoders: each writes only the entry's own bytes at the offset.
void encodeFileEntry(DirBlock& block, std::size_t offset, const FileRecord& record, bool lastInBlock);
// A directory entry with placeholders: one block, avatars -1.
void encodeDirEntry(DirBlock& block, std::size_t offset, const DirNode& node, bool lastInBlock);
void encodeLabelEntry(DirBlock& block, std::size_t offset, const DirNode& root);

// 72 + 4 x the lastAvatar stored in the entry at offset.
std::size_t storedEntrySize(const DirBlock& block, std::size_t offset);
inline constexpr std::size_t entrySize(std::int32_t lastAvatar) { return 72 + 4 * static_cast<std::size_t>(lastAvatar); }

// The 4-byte type of a file entry: up to four characters after the last full
// stop (not counting one at position 0), padded with spaces.
std::array<char, 4> entryTypeFromName(std::string_view name);

}  // namespace vornel
