#include "writer/image_reader.h"

#include <cstdio>
#include <cstring>
#include <unordered_set>

#include "format/bytes.h"

namespace vornel {

namespace {

constexpr std::int64_t kLabelCopyBlock = 225;
constexpr std::uint32_t kEndBits = entry::kLastInBlock | entry::kLastInDirectory;

std::string hexByte(std::uint8_t b) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", b);
  return text;
}

class Reader {
 public:
  Reader(std::string_view image, ImageTree& tree) : image_(image), tree_(tree) {}

  std::string run() {
    tree_ = ImageTree{};
    if (!readLabel()) return problem_;
    // Directories are appended as their entries are met, so this is a
    // breadth-first walk whatever the depth of the tree.
    for (std::size_t d = 0; d < tree_.directories.size(); ++d) {
      if (!readDirectory(static_cast<int>(d))) return problem_;
    }
    checkUnowned();
    return problem_;
  }

 private:
  const std::uint8_t* at(std::int64_t block, std::size_t offset = 0) const {
    return reinterpret_cast<const std::uint8_t*>(image_.data()) + block * kBlockSize + offset;
  }
  std::int32_t be32(std::int64_t block, std::size_t offset) const { return loadBE32(at(block, offset)); }

  bool fail(std::int64_t block, std::size_t offset, const std::string& what) {
    if (problem_.empty())
      problem_ = "block " + std::to_string(block) + ", offset " + std::to_string(offset) + ": " + what;
    return false;
  }
  bool expect32(std::int64_t block, std::size_t offset, std::int64_t expected, const char* field) {
    const std::int32_t found = be32(block, offset);
    if (found == static_cast<std::int32_t>(expected)) return true;
    return fail(block, offset,
                std::string(field) + " expected " + std::to_string(expected) + ", found " + std::to_string(found));
  }
  // Bytes [from, to) of the block hold the filler pattern in its block phase.
  bool expectFiller(std::int64_t block, std::size_t from, std::size_t to, const std::string& where) {
    for (std::size_t i = from; i < to; ++i) {
      if (*at(block, i) != static_cast<std::uint8_t>(kFillerPattern[i % 8])) {
        return fail(block, i,
                    "expected filler byte '" + std::string(1, kFillerPattern[i % 8]) + "' " + where + ", found " +
                        hexByte(*at(block, i)));
      }
    }
    return true;
  }
  // The `count` blocks from `b` and from `first` are the same bytes.
  bool expectSameCopy(std::int64_t first, std::int64_t b, std::int64_t count, const std::string& what) {
    const std::size_t size = static_cast<std::size_t>(count) * kBlockSize;
    if (std::memcmp(at(first), at(b), size) == 0) return true;
    std::size_t i = 0;
    while (*at(first, i) == *at(b, i)) ++i;
    return fail(b + static_cast<std::int64_t>(i / kBlockSize), i % kBlockSize,
                "copy of " + what + " differs from its first avatar at block " + std::to_string(first) + ": expected " +
                    hexByte(*at(first, i)) + ", found " + hexByte(*at(b, i)));
  }
  bool own(std::int64_t first, std::int64_t count, const std::string& owner) {
    if (first < 0 || first + count > blocks_) {
      return fail(first, 0,
                  owner + " has " + std::to_string(count) + " blocks from block " + std::to_string(first) +
                      ", outside an image of " + std::to_string(blocks_) + " blocks");
    }
    const int index = static_cast<int>(owners_.size());
    owners_.push_back(owner);
    for (std::int64_t b = first; b < first + count; ++b) {
      if (owner_[b] >= 0) return fail(b, 0, "block owned by both " + owners_[owner_[b]] + " and " + owner);
      owner_[b] = index;
    }
    return true;
  }

  bool readLabel() {
    if (image_.size() % kBlockSize != 0) {
      return fail(image_.size() / kBlockSize, image_.size() % kBlockSize, "image length is not whole blocks");
    }
    blocks_ = static_cast<std::int64_t>(image_.size() / kBlockSize);
    if (blocks_ <= kLabelCopyBlock) {
      return fail(blocks_, 0, "image ends before the label copy at block 225");
    }
    owner_.assign(static_cast<std::size_t>(blocks_), -1);
    if (!expectSameCopy(0, kLabelCopyBlock, 1, "the disc label")) return false;
    static const std::uint8_t head[8] = {1, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A, 1, 0};
    for (std::size_t i = 0; i < label::kVolumeLabel; ++i) {
      const std::uint8_t want = i < 8 ? head[i] : 0;
      if (*at(0, i) != want)
        return fail(0, i, "label byte expected " + hexByte(want) + ", found " + hexByte(*at(0, i)));
    }
    const auto* text = reinterpret_cast<const char*>(at(0, label::kVolumeLabel));
    tree_.volumeLabel.assign(text, strnlen(text, 32));
    tree_.volumeId = loadLE32(at(0, label::kVolumeId));
    tree_.blockCount = be32(0, label::kBlockCount);
    if (!expect32(0, label::kBlockSize, kBlockSize, "label blockSize") ||
        !expect32(0, label::kBlockCount, blocks_, "label blockCount (image length / 2048)") ||
        !expect32(0, label::kRootDirBlockSize, kBlockSize, "label rootDirBlockSize")) {
      return false;
    }
    const std::int32_t lastAvatar = be32(0, label::kRootDirLastAvatar);
    const std::int32_t rootBlocks = be32(0, label::kRootDirBlocks);
    if (lastAvatar < 0 || lastAvatar > 7) return fail(0, label::kRootDirLastAvatar, "root lastAvatar out of 0..7");
    if (rootBlocks < 1) return fail(0, label::kRootDirBlocks, "root directory without blocks");
    ImageDirectory root;
    root.id = be32(0, label::kRootDirId);
    root.blockCount = rootBlocks;
    for (int j = 0; j < 8; ++j) {
      const std::size_t offset = label::kRootDirAvatars + 4 * static_cast<std::size_t>(j);
      if (j <= lastAvatar) {
        root.avatars.push_back(be32(0, offset));
      } else if (!expect32(0, offset, 0, "unused root avatar slot")) {
        return false;
      }
    }
    if (!expectFiller(0, label::kSize, kBlockSize, "after the disc label")) return false;
    if (!own(0, 1, "the disc label") || !own(kLabelCopyBlock, 1, "the disc label copy")) return false;
    ids_.insert(root.id);
    tree_.directories.push_back(std::move(root));
    return true;
  }

  bool readDirectory(int d) {
    const std::string path = tree_.directories[d].path;
    const std::vector<std::int32_t> avatars = tree_.directories[d].avatars;
    const std::int64_t n = tree_.directories[d].blockCount;
    const std::string what = "directory '" + path + "'";
    for (const std::int32_t a : avatars) {
      if (!own(a, n, what)) return false;
      if (!expectSameCopy(avatars[0], a, n, what)) return false;
    }
    std::vector<ImageEntry> entries;
    bool sawDirectory = false;
    for (std::int64_t k = 0; k < n; ++k) {
      const std::int64_t b = avatars[0] + k;
      if (!expect32(b, header::kNextBlock, k + 1 < n ? k + 1 : -1, "nextBlock") ||
          !expect32(b, header::kPrevBlock, k - 1, "prevBlock") || !expect32(b, header::kFlags, 0, "header flags") ||
          !expect32(b, header::kFirstEntryOffset, header::kSize, "firstEntryOffset")) {
        return false;
      }
      const std::int32_t end = be32(b, header::kFirstFreeByte);
      if (end < static_cast<std::int32_t>(header::kSize) || end > static_cast<std::int32_t>(kBlockSize)) {
        return fail(b, header::kFirstFreeByte, "firstFreeByte " + std::to_string(end) + " out of 20..2048");
      }
      if (!expectFiller(b, static_cast<std::size_t>(end), kBlockSize, "after the last entry of " + what)) return false;
      for (std::size_t off = header::kSize; off < static_cast<std::size_t>(end);) {
        ImageEntry e;
        if (!readEntry(b, off, static_cast<std::size_t>(end), k + 1 == n, e)) return false;
        const bool first = d == 0 && k == 0 && off == header::kSize;
        if ((e.kind() == entry::kKindLabel) != first) {
          return fail(b, off, "the label entry must be the root's first entry, and only it");
        }
        if (e.kind() == entry::kKindLabel) {
          if (e.id != tree_.directories[0].id || e.type != "*lbl" || e.byteCount != label::kSize || e.blockCount != 1 ||
              e.name != "Disc label" || e.avatars != std::vector<std::int32_t>{0, 225}) {
            return fail(b, off, "label entry expected id of the root, *lbl, 132 bytes, 1 block, avatars 0 and 225");
          }
        } else if (e.kind() == entry::kKindFile) {
          if (sawDirectory) return fail(b, off, "file entry after a directory entry");
          if (!readFile(e, what, b, off)) return false;
        } else if (e.kind() == entry::kKindDirectory) {
          sawDirectory = true;
          if (!newDirectory(e, d, path, b, off)) return false;
        } else {
          return fail(b, off + 3, "entry kind expected 2, 6 or 7, found " + std::to_string(e.kind()));
        }
        off += 68 + 4 * e.avatars.size();
        entries.push_back(std::move(e));
      }
    }
    if (!entries.empty() && (entries.back().flags & kEndBits) != kEndBits) {
      return fail(avatars[0] + n - 1, 0, "the last entry of " + what + " is not in the last block");
    }
    tree_.directories[d].entries = std::move(entries);
    return true;
  }

  // Decodes the entry at `off` of block b, whose entries end at `end`, and
  // checks the fields every kind shares and the end-of-directory bits.
  bool readEntry(std::int64_t b, std::size_t off, std::size_t end, bool inLastBlock, ImageEntry& e) {
    const std::int32_t last = off + entry::kAvatars <= end ? be32(b, off + entry::kLastAvatar) : -1;
    const std::size_t size = 72 + 4 * static_cast<std::size_t>(last);
    if (last < 0 || last > 7 || off + size > end) {
      return fail(b, off, "entry does not fit before firstFreeByte " + std::to_string(end));
    }
    e.flags = static_cast<std::uint32_t>(be32(b, off + entry::kFlags));
    e.id = be32(b, off + entry::kId);
    e.type.assign(reinterpret_cast<const char*>(at(b, off + entry::kType)), 4);
    e.byteCount = static_cast<std::uint32_t>(be32(b, off + entry::kByteCount));
    e.blockCount = be32(b, off + entry::kBlockCount);
    const auto* name = reinterpret_cast<const char*>(at(b, off + entry::kName));
    e.name.assign(name, strnlen(name, entry::kNameSize));
    for (std::size_t j = 0; j <= static_cast<std::size_t>(last); ++j) {
      e.avatars.push_back(be32(b, off + entry::kAvatars + 4 * j));
    }
    if (!expect32(b, off + entry::kBlockSize, kBlockSize, "entry blockSize") ||
        !expect32(b, off + entry::kBurst, 1, "entry burst") || !expect32(b, off + entry::kGap, 0, "entry gap")) {
      return false;
    }
    for (std::size_t i = e.name.size(); i < entry::kNameSize; ++i) {
      if (name[i] != 0) return fail(b, off + entry::kName + i, "name field expected 0 after the name");
    }
    // lastInBlock may stand on any entry; lastInDirectory only, and always,
    // with it on the directory's last entry.
    const bool lastOfDirectory = inLastBlock && off + size == end;
    const std::uint32_t endBits = e.flags & kEndBits;
    if ((e.flags & ~(kEndBits | 0xFF)) != 0 || (lastOfDirectory ? endBits != kEndBits : endBits == kEndBits) ||
        endBits == entry::kLastInDirectory) {
      return fail(b, off,
                  "entry flags " + std::to_string(e.flags) +
                      (lastOfDirectory ? ": the last entry must carry 0xC0000000"
                                       : ": only the last entry may carry 0x80000000"));
    }
    return true;
  }

  bool readFile(ImageEntry& e, const std::string& dir, std::int64_t b, std::size_t off) {
    const std::int64_t n = (std::int64_t{e.byteCount} + 2047) / 2048;
    if (e.blockCount != n) return fail(b, off + entry::kBlockCount, "file blockCount expected " + std::to_string(n));
    if (e.avatars.size() > 4) return fail(b, off + entry::kLastAvatar, "file with more than 4 avatars");
    if (!ids_.insert(e.id).second) return fail(b, off + entry::kId, "id " + std::to_string(e.id) + " used twice");
    ++tree_.fileCount;
    if (n == 0) return true;
    const std::string what = "file '" + e.name + "' of " + dir;
    for (const std::int32_t a : e.avatars) {
      if (!own(a, n, what)) return false;
      if (!expectSameCopy(e.avatars[0], a, n, what)) return false;
    }
    const std::size_t used = e.byteCount - static_cast<std::size_t>(n - 1) * kBlockSize;
    if (!expectFiller(e.avatars[0] + n - 1, used, kBlockSize, "after the end of " + what)) return false;
    e.content = std::string_view(reinterpret_cast<const char*>(at(e.avatars[0])), e.byteCount);
    return true;
  }

  bool newDirectory(ImageEntry& e, int parent, const std::string& parentPath, std::int64_t b, std::size_t off) {
    if (e.type != "*dir" || e.blockCount < 1 || std::int64_t{e.byteCount} != std::int64_t{e.blockCount} * 2048) {
      return fail(b, off, "directory entry expected *dir and byteCount = blockCount x 2048");
    }
    if (!ids_.insert(e.id).second) return fail(b, off + entry::kId, "id " + std::to_string(e.id) + " used twice");
    ImageDirectory dir;
    dir.path = parentPath.empty() ? e.name : parentPath + "/" + e.name;
    dir.parent = parent;
    dir.id = e.id;
    dir.blockCount = e.blockCount;
    dir.avatars = e.avatars;
    e.directory = static_cast<int>(tree_.directories.size());
    tree_.directories.push_back(std::move(dir));
    return true;
  }

  void checkUnowned() {
    std::string filler(kBlockSize, '\0');
    fillWithPattern(reinterpret_cast<std::uint8_t*>(filler.data()), filler.size());
    std::int64_t highest = -1;
    for (std::int64_t b = 0; b < blocks_; ++b) {
      if (owner_[b] >= 0) {
        highest = b;
      } else if (std::memcmp(at(b), filler.data(), kBlockSize) != 0) {
        expectFiller(b, 0, kBlockSize, "in a block that no record owns");
        return;
      }
    }
    if (highest + 1 != blocks_)
      fail(blocks_ - 1, 0, "image goes on past the highest owned block " + std::to_string(highest));
  }

  std::string_view image_;
  ImageTree& tree_;
  std::int64_t blocks_ = 0;
  std::vector<int> owner_;           // per block: index into owners_, -1 when unowned
  std::vector<std::string> owners_;  // what owns a run of blocks, for messages
  std::unordered_set<std::int32_t> ids_;
  std::string problem_;
};

}  // namespace

const ImageDirectory* ImageTree::find(std::string_view path) const {
  for (const auto& dir : directories) {
    if (dir.path == path) return &dir;
  }
  return nullptr;
}

const ImageEntry* ImageTree::entry(std::string_view dirPath, std::string_view name) const {
  const ImageDirectory* dir = find(dirPath);
  if (dir == nullptr) return nullptr;
  for (const auto& e : dir->entries) {
    if (e.name == name) return &e;
  }
  return nullptr;
}

std::string readImage(std::string_view image, ImageTree& tree) { return Reader(image, tree).run(); }

}  // namespace vornel
