#include "format/directory_builder.h"

namespace vornel {

EntrySpace claimEntrySpace(DirNode& dir, std::size_t size, IdCounter& ids) {
  DirBlock* last = dir.blocks.back().get();
  std::size_t offset = static_cast<std::size_t>(loadBE32(last->data.data() + header::kFirstFreeByte));
  if (offset + size > kBlockSize) {
    appendDirBlock(dir.blocks, newDirBlock(ids));
    last = dir.blocks.back().get();
    offset = static_cast<std::size_t>(loadBE32(last->data.data() + header::kFirstFreeByte));
  }
  storeBE32(last->data.data() + header::kFirstFreeByte, static_cast<std::int64_t>(offset + size));
  // Only the new entry's own size counts: the entry that really follows may
  // be smaller and still fit after one predicted last.
  return {last, offset, predictedLastInBlock(offset, size)};
}

void appendDirBlock(std::vector<std::unique_ptr<DirBlock>>& chain, std::unique_ptr<DirBlock> block) {
  chain.push_back(std::move(block));
  const auto count = static_cast<std::int64_t>(chain.size());
  for (std::int64_t k = 0; k < count; ++k) {
    std::uint8_t* data = chain[k]->data.data();
    storeBE32(data + header::kPrevBlock, k - 1);
    storeBE32(data + header::kNextBlock, k + 1 < count ? k + 1 : -1);
  }
}

int buildDirectories(DirNode& root, IdCounter& ids) {
  return preOrderWalk(root, [&](DirNode& dir) {
    if (dir.parent == nullptr) {
      // The label entry opens the root, at offset 20 of its first block; its
      // flags are exactly 6 whatever the prediction says.
      const EntrySpace space = claimEntrySpace(dir, kLabelEntrySize, ids);
      encodeLabelEntry(*space.block, space.offset, dir);
    }
    const auto add = [&](FileRecord* file, DirNode* sub) {
      const EntrySpace space = claimEntrySpace(dir, entrySize(file ? file->lastAvatar : sub->lastAvatar), ids);
      if (file != nullptr) {
        encodeFileEntry(*space.block, space.offset, *file, space.lastInBlock);
      } else {
        encodeDirEntry(*space.block, space.offset, *sub, space.lastInBlock);
        sub->entryInParent = {space.block, space.offset};
      }
    };
    if (!dir.entryOrder.empty()) {
      for (const DirNode::Entry& e : dir.entryOrder) add(e.file, e.dir);
      return 0;
    }
    for (const auto& file : dir.files) add(file.get(), nullptr);
    for (const auto& sub : dir.children) add(nullptr, sub.get());
    return 0;
  });
}

namespace {

void completeEntryInParent(const DirNode& dir) {
  std::uint8_t* at = dir.entryInParent.block->data.data() + dir.entryInParent.offset;
  for (int i = 0; i <= dir.lastAvatar; ++i) storeBE32(at + entry::kAvatars + 4 * i, dir.avatars[i]);
  storeBE32(at + entry::kBlockCount, dir.blockCount());
  storeBE32(at + entry::kByteCount, static_cast<std::int64_t>(dir.blockCount()) * kBlockSize);
}

// Only the last block is examined: entries of earlier blocks keep the flags
// the builder gave them.
void markLastEntry(DirNode& dir) {
  DirBlock& last = *dir.blocks.back();
  std::uint8_t* data = last.data.data();
  std::size_t offset = static_cast<std::size_t>(loadBE32(data + header::kFirstEntryOffset));
  const std::size_t end = static_cast<std::size_t>(loadBE32(data + header::kFirstFreeByte));
  while (offset < end) {
    const std::size_t size = storedEntrySize(last, offset);
    if (offset + size >= end) {
      const auto flags = static_cast<std::uint32_t>(loadBE32(data + offset + entry::kFlags));
      storeBE32(data + offset + entry::kFlags, flags | entry::kLastInBlock | entry::kLastInDirectory);
      return;
    }
    offset += size;
  }
}

}  // namespace

int finishDirectories(DirNode& root) {
  return siblingFirstWalk(root, [](DirNode& dir) {
    if (dir.entryInParent.block != nullptr) completeEntryInParent(dir);
    markLastEntry(dir);
    return 0;
  });
}

}  // namespace vornel
