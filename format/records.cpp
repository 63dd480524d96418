#include "format/records.h"

#include <algorithm>
#include <cstring>

namespace vornel {

std::int32_t initDiscLabel(DiscLabel& label, std::string_view volumeLabel, IdCounter& ids) {
  std::uint8_t* at = label.bytes.data();
  label.bytes.fill(0);
  at[label::kRecordType] = 1;
  std::memset(at + label::kSyncBytes, 0x5A, 5);
  at[label::kRecordVersion] = 1;
  at[label::kVolumeFlags] = 0;
  // The driver refuses labels of 32 bytes or more; the bound keeps the
  // record intact whatever a caller passes.
  std::memcpy(at + label::kVolumeLabel, volumeLabel.data(), std::min<std::size_t>(volumeLabel.size(), 31));
  const std::int32_t id = ids.nextId();
  storeLE32(at + label::kVolumeId, id);
  storeBE32(at + label::kBlockSize, kBlockSize);
  storeBE32(at + label::kRootDirBlockSize, kBlockSize);
  return id;
}

void setLabelFields(DiscLabel& label, std::string_view volumeLabel, std::string_view volumeComment,
                    std::uint8_t volumeFlags, std::int32_t volumeId) {
  std::uint8_t* at = label.bytes.data();
  std::memset(at + label::kVolumeLabel, 0, 32);
  std::memcpy(at + label::kVolumeLabel, volumeLabel.data(), std::min<std::size_t>(volumeLabel.size(), 32));
  std::memset(at + label::kVolumeComment, 0, 32);
  std::memcpy(at + label::kVolumeComment, volumeComment.data(), std::min<std::size_t>(volumeComment.size(), 32));
  at[label::kVolumeFlags] = volumeFlags;
  storeLE32(at + label::kVolumeId, volumeId);
}

void completeDiscLabel(DiscLabel& label, const DirNode& root, int rootAvatars, std::int32_t highestUsedBlock) {
  std::uint8_t* at = label.bytes.data();
  storeBE32(at + label::kRootDirLastAvatar, rootAvatars - 1);
  for (int i = 0; i <= root.lastAvatar; ++i) storeBE32(at + label::kRootDirAvatars + 4 * i, root.avatars[i]);
  storeBE32(at + label::kRootDirBlocks, root.blockCount());
  storeBE32(at + label::kBlockCount, highestUsedBlock + 1);
  storeBE32(at + label::kRootDirId, root.id);
}

namespace {

// The fields every kind of entry has, in disc order.
void encodeCommon(std::uint8_t* at, std::uint32_t flags, std::int32_t id, const char* type, std::uint32_t byteCount,
                  std::int32_t blockCount, std::string_view name, std::int32_t lastAvatar) {
  storeBE32(at + entry::kFlags, flags);
  storeBE32(at + entry::kId, id);
  std::memcpy(at + entry::kType, type, 4);
  storeBE32(at + entry::kBlockSize, kBlockSize);
  storeBE32(at + entry::kByteCount, byteCount);
  storeBE32(at + entry::kBlockCount, blockCount);
  storeBE32(at + entry::kBurst, 1);
  storeBE32(at + entry::kGap, 0);
  // A 32-byte name fills the field with no terminating zero.
  std::memset(at + entry::kName, 0, entry::kNameSize);
  std::memcpy(at + entry::kName, name.data(), std::min(name.size(), entry::kNameSize));
  storeBE32(at + entry::kLastAvatar, lastAvatar);
}

std::uint32_t flagsOf(std::uint32_t kind, bool lastInBlock) { return kind | (lastInBlock ? entry::kLastInBlock : 0); }

}  // namespace

void encodeFileEntry(DirBlock& block, std::size_t offset, const FileRecord& record, bool lastInBlock) {
  std::uint8_t* at = block.data.data() + offset;
  const std::array<char, 4> type = record.type ? *record.type : entryTypeFromName(record.name);
  encodeCommon(at, flagsOf(entry::kKindFile, lastInBlock), record.id, type.data(), record.byteSize,
               record.blockCount, record.name, record.lastAvatar);
  for (int i = 0; i <= record.lastAvatar; ++i) storeBE32(at + entry::kAvatars + 4 * i, record.avatars[i]);
}

void encodeDirEntry(DirBlock& block, std::size_t offset, const DirNode& node, bool lastInBlock) {
  std::uint8_t* at = block.data.data() + offset;
  encodeCommon(at, flagsOf(entry::kKindDirectory, lastInBlock), node.id, "*dir", kBlockSize, 1, node.name,
               node.lastAvatar);
  for (int i = 0; i <= node.lastAvatar; ++i) storeBE32(at + entry::kAvatars + 4 * i, -1);
}

void encodeLabelEntry(DirBlock& block, std::size_t offset, const DirNode& root) {
  std::uint8_t* at = block.data.data() + offset;
  encodeCommon(at, entry::kKindLabel, root.id, "*lbl", label::kSize, 1, "Disc label", 1);
  storeBE32(at + entry::kAvatars, kLabelBlocks[0]);
  storeBE32(at + entry::kAvatars + 4, kLabelBlocks[1]);
}

std::size_t storedEntrySize(const DirBlock& block, std::size_t offset) {
  return entrySize(loadBE32(block.data.data() + offset + entry::kLastAvatar));
}

std::array<char, 4> entryTypeFromName(std::string_view name) {
  std::array<char, 4> type = {' ', ' ', ' ', ' '};
  for (std::size_t i = name.size(); i-- > 1;) {
    if (name[i] == '.') {
      const std::string_view extension = name.substr(i + 1, 4);
      std::copy(extension.begin(), extension.end(), type.begin());
      break;
    }
  }
  return type;
}

}  // namespace vornel
