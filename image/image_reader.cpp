#include "image/image_reader.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <type_traits>
#include <utility>

#include "format/bytes.h"
#include "image/page_buffer.h"

namespace vornel {

namespace {

constexpr std::int64_t kBlock = static_cast<std::int64_t>(kBlockSize);
constexpr std::int64_t kLabelCopy = 225;
constexpr std::uint32_t kEndBits = entry::kLastInBlock | entry::kLastInDirectory;
constexpr std::size_t kMaxDirectories = 400000;
// Deeper than any tree whose paths the host can hold, and it keeps every
// path, and a listing of paths, bounded.
constexpr int kMaxDepth = 2048;
constexpr std::int64_t kSweep = 256;  // blocks per read in the whole-image pass

using Block = std::array<std::uint8_t, kBlockSize>;

std::string num(std::int64_t value) { return std::to_string(value); }

std::string hex(std::uint8_t byte) {
  static const char digits[] = "0123456789ABCDEF";
  return std::string("0x") + digits[byte >> 4] + digits[byte & 15];
}

// A 64-bit digest of one block: copies of a file or directory are compared
// block by block through these, so no copy is ever held whole.
std::uint64_t digest(const std::uint8_t* at) {
  std::uint64_t h = 0x9E3779B97F4A7C15u;
  for (std::size_t i = 0; i < kBlockSize; i += 8) {
    std::uint64_t w;
    std::memcpy(&w, at + i, 8);
    h = (h ^ (w * 0xC2B2AE3D27D4EB4Fu)) * 0x100000001B3u;
    h ^= h >> 29;
  }
  return h;
}

// The first byte from `from` on that does not hold the filler pattern in its
// block phase, or kBlockSize.
std::size_t firstNonFiller(const std::uint8_t* at, std::size_t from) {
  if (std::memcmp(at + from, fillerBlock().data() + from, kBlockSize - from) == 0) return kBlockSize;
  for (std::size_t i = from; i < kBlockSize; ++i) {
    if (at[i] != static_cast<std::uint8_t>(kFillerPattern[i % 8])) return i;
  }
  return kBlockSize;
}

// A text field of the label or of an entry without its trailing zero bytes:
// every byte before them is part of it, zeros included.
std::string field(const std::uint8_t* at, std::size_t width) {
  while (width > 0 && at[width - 1] == 0) --width;
  return std::string(reinterpret_cast<const char*>(at), width);
}

// One run of blocks claimed by a record: a label copy, a directory copy or a file copy.
struct Owner {
  enum Kind { Label, Directory, File } kind;
  int directory;  // the directory, or the directory that holds the file
  int entry;      // files: the entry index in that directory
  int copy;       // which avatar
  int copies;     // how many avatars the record has
  std::int64_t first;
  std::int64_t count;
};

class Reader {
 public:
  Reader(ImageFile& file, ImageTree& tree) : file_(file), t_(tree) {}

  void run(bool wholeCheck) {
    t_.imageBytes = file_.size();
    if (!readLabel()) return;
    t_.usable = true;
    for (std::size_t d = 0; d < t_.directories.size() && !t_.readError; ++d) readDirectory(static_cast<int>(d));
    for (const Owner& o : owners_) t_.blocksUsed += o.count;
    checkIds();
    if (wholeCheck && !t_.readError) sweep();
  }

 private:
  // Keeps the problem while fewer than kMaxProblems are kept, and counts it.
  // `what` may be a function that makes the text, so that a text which
  // names a path costs nothing once no more problems are kept.
  template <typename What>
  void problem(std::int64_t block, std::int64_t offset, What&& what) {
    ++t_.problemCount;
    if (t_.problems.size() >= kMaxProblems) return;
    if constexpr (std::is_invocable_v<What>) {
      t_.problems.push_back({block, offset, what()});
    } else {
      t_.problems.push_back({block, offset, std::string(what)});
    }
  }

  bool read(std::int64_t block, std::size_t count, std::uint8_t* into) {
    if (file_.readAt(static_cast<std::uint64_t>(block * kBlock), into, count * kBlockSize)) {
      for (std::size_t i = 0; i < count; ++i) read_[static_cast<std::size_t>(block) + i] = true;
      return true;
    }
    if (!t_.readError) problem(block, -1, "cannot read the block");
    t_.readError = true;
    return false;
  }

  std::string ownerName(const Owner& o) const {
    switch (o.kind) {
      case Owner::Label:
        return "the disc label";
      case Owner::Directory:
        return "directory " + t_.path(o.directory);
      case Owner::File:
        break;
    }
    return "file " + t_.path(o.directory, t_.directories[o.directory].entries[o.entry].name);
  }

  // Claims `count` blocks from `first` for a new owner. False, with the
  // problem named at the avatar's place (block and offset), when the run
  // leaves the image or meets a claimed block.
  bool claim(Owner o, std::int64_t entryBlock, std::int64_t offsetOfAvatar) {
    if (o.first < 0 || o.count > blocks_ || o.first > blocks_ - o.count) {
      problem(entryBlock, offsetOfAvatar, [&] {
        return ownerName(o) + ": avatar " + num(o.first) + " of " + num(o.count) +
               " blocks lies outside the image of " + num(blocks_) + " blocks";
      });
      return false;
    }
    const std::int64_t b = firstClaimed(o.first, o.first + o.count);
    if (b >= 0) {
      const Owner& was = owners_[static_cast<std::size_t>(owner_[static_cast<std::size_t>(b)])];
      problem(entryBlock, offsetOfAvatar, [&] {
        std::string what = "block " + num(b) + " is claimed by both " + ownerName(was) + " and " + ownerName(o);
        if (o.kind == Owner::Directory && was.kind == Owner::Directory && was.directory == o.directory) {
          what += ": two copies of the directory overlap";
        } else if (o.kind == Owner::Directory && was.kind == Owner::Directory &&
                   isAncestor(was.directory, o.directory)) {
          what += ": the directory contains itself or a parent";
        }
        return what;
      });
      return false;
    }
    runs_.emplace(o.first, o.first + o.count);
    const int index = static_cast<int>(owners_.size());
    owners_.push_back(o);
    for (std::int64_t b = o.first; b < o.first + o.count; ++b) owner_[static_cast<std::size_t>(b)] = index;
    return true;
  }

  // The first claimed block in [first, end), or -1. The claimed runs are
  // kept by their first block, so that a claim that fails costs as little as
  // one that succeeds, however long its run.
  std::int64_t firstClaimed(std::int64_t first, std::int64_t end) const {
    auto next = runs_.upper_bound(first);
    if (next != runs_.begin() && std::prev(next)->second > first) return first;
    return next != runs_.end() && next->first < end ? next->first : -1;
  }

  bool isAncestor(int candidate, int d) const {
    for (; d >= 0; d = t_.directories[d].parent) {
      if (d == candidate) return true;
    }
    return false;
  }

  bool labelSignature(const Block& b) const {
    return b[label::kRecordType] == 1 && b[label::kRecordVersion] == 1 &&
           std::all_of(b.begin() + label::kSyncBytes, b.begin() + label::kSyncBytes + 5,
                       [](std::uint8_t c) { return c == 0x5A; });
  }

  bool readLabel() {
    const std::uint64_t size = file_.size();
    if (size < kBlockSize) {
      problem(-1, -1, "the file is shorter than one block: not an image");
      return false;
    }
    const std::uint64_t wholeBlocks = size / kBlockSize;
    blocks_ = static_cast<std::int64_t>(std::min<std::uint64_t>(wholeBlocks, kMaxImageBlocks));
    if (wholeBlocks > static_cast<std::uint64_t>(kMaxImageBlocks)) {
      problem(-1, -1,
              "the image is longer than the largest image of " + num(kMaxImageBlocks) + " blocks; only those are read");
    }
    owner_.assign(static_cast<std::size_t>(blocks_), -1);
    read_.assign(static_cast<std::size_t>(blocks_), false);
    Block first{};
    Block copy{};
    if (!read(0, 1, first.data())) return false;
    const bool haveCopy = blocks_ > kLabelCopy;
    if (haveCopy && !read(kLabelCopy, 1, copy.data())) return false;
    if (!haveCopy) problem(kLabelCopy, -1, "the image ends before the label copy at block 225");

    const bool firstGood = labelSignature(first);
    if (!firstGood && !(haveCopy && labelSignature(copy))) {
      problem(0, -1, "no disc label at block 0 or 225: not an image");
      return false;
    }
    const Block& use = firstGood ? first : copy;
    const std::int64_t at = firstGood ? 0 : kLabelCopy;
    checkLabel(use, at);
    if (haveCopy) {
      const Block& other = firstGood ? copy : first;
      const auto diff = std::mismatch(use.begin(), use.end(), other.begin());
      if (diff.first != use.end()) {
        const auto offset = diff.first - use.begin();
        problem(
            firstGood ? kLabelCopy : 0, offset,
            "the label copies differ: " + hex(*diff.second) + " here, " + hex(*diff.first) + " in block " + num(at));
      }
    }
    claim({Owner::Label, -1, -1, 0, 2, 0, 1}, 0, -1);
    if (haveCopy) claim({Owner::Label, -1, -1, 1, 2, kLabelCopy, 1}, kLabelCopy, -1);
    return true;
  }

  void checkLabel(const Block& b, std::int64_t at) {
    const auto expect = [&](std::size_t offset, std::int64_t expected, const char* name) {
      const std::int32_t found = loadBE32(b.data() + offset);
      if (found != expected) problem(at, offset, std::string(name) + " is " + num(found) + ", not " + num(expected));
    };
    if (!labelSignature(b)) problem(at, 0, "record type, sync bytes or version are not 01 5A 5A 5A 5A 5A 01");
    expect(label::kBlockSize, kBlockSize, "the label's block size");
    expect(label::kRootDirBlockSize, kBlockSize, "the root's block size");
    ImageLabel& l = t_.label;
    l.volumeLabel = field(b.data() + label::kVolumeLabel, 32);
    l.volumeComment = field(b.data() + label::kVolumeComment, 32);
    l.volumeFlags = b[label::kVolumeFlags];
    l.volumeId = loadLE32(b.data() + label::kVolumeId);
    l.blockCount = loadBE32(b.data() + label::kBlockCount);
    l.rootDirId = loadBE32(b.data() + label::kRootDirId);
    if (static_cast<std::uint64_t>(std::int64_t{l.blockCount}) * kBlockSize != file_.size() || l.blockCount < 0) {
      problem(at, label::kBlockCount,
              "blockCount " + num(l.blockCount) + " does not match the image length of " +
                  num(static_cast<std::int64_t>(file_.size())) + " bytes");
    }
    std::int32_t last = loadBE32(b.data() + label::kRootDirLastAvatar);
    if (last < 0 || last > 7) {
      problem(at, label::kRootDirLastAvatar, "the root's lastAvatar " + num(last) + " is outside 0 to 7");
      last = std::clamp(last, 0, 7);
    }
    for (std::int32_t j = 0; j < 8; ++j) {
      const std::int32_t avatar = loadBE32(b.data() + label::kRootDirAvatars + 4 * static_cast<std::size_t>(j));
      if (j <= last) {
        l.rootAvatars.push_back(avatar);
      } else if (avatar != 0) {
        problem(at, label::kRootDirAvatars + 4 * j, "an unused root avatar slot is not 0");
      }
    }
    std::int32_t rootBlocks = loadBE32(b.data() + label::kRootDirBlocks);
    if (rootBlocks < 1) {
      problem(at, label::kRootDirBlocks, "the root directory has " + num(rootBlocks) + " blocks");
      rootBlocks = 1;
    }
    const std::size_t filler = firstNonFiller(b.data(), label::kSize);
    if (filler != kBlockSize) problem(at, filler, "filler expected after the disc label, found " + hex(b[filler]));
    ImageDirectory root;
    root.blockCount = rootBlocks;
    root.avatars = l.rootAvatars;
    t_.directories.push_back(std::move(root));
  }

  // Claims and reads every copy of directory d: the first copy that can be
  // claimed is decoded, the others are compared with it block by block.
  void readDirectory(int d) {
    const std::int64_t n = t_.directories[d].blockCount;
    const std::vector<std::int32_t> avatars = t_.directories[d].avatars;
    std::vector<std::uint64_t> reference;
    int referenceCopy = -1;
    Block block{};
    const auto [entryBlock, entryOffset] = entryPlace(d);
    for (std::size_t j = 0; j < avatars.size() && !t_.readError; ++j) {
      if (!claim({Owner::Directory, d, -1, static_cast<int>(j), static_cast<int>(avatars.size()), avatars[j], n},
                 entryBlock, entryOffset + entry::kAvatars + 4 * static_cast<std::int64_t>(j))) {
        continue;
      }
      const bool decode = referenceCopy < 0;
      if (decode) referenceCopy = static_cast<int>(j);
      bool differs = false;
      for (std::int64_t k = 0; k < n && !t_.readError; ++k) {
        const std::int64_t b = avatars[j] + k;
        if (!read(b, 1, block.data())) return;
        if (decode) {
          reference.push_back(digest(block.data()));
          decodeBlock(d, block, b, k, n);
        } else if (!differs && digest(block.data()) != reference[static_cast<std::size_t>(k)]) {
          differs = true;
          problem(b, -1, [&] {
            return "copy " + num(static_cast<std::int64_t>(j)) + " of directory " + t_.path(d) +
                   " differs from its copy at block " + num(avatars[referenceCopy] + k);
          });
        }
      }
    }
    if (referenceCopy < 0) {
      problem(entryBlock, -1, [&] { return "directory " + t_.path(d) + " has no copy that can be read"; });
      return;
    }
    finishDirectory(d);
  }

  // Where the entry of directory d is stored (block, offset); for the root,
  // the label, placed so that its avatar list falls where an entry's would.
  std::pair<std::int64_t, std::int64_t> entryPlace(int d) const {
    if (d == 0) return {0, label::kRootDirAvatars - entry::kAvatars};
    const ImageEntry& e = t_.directories[t_.directories[d].parent].entries[entryIndex_[d]];
    return {e.block, e.offset};
  }

  void decodeBlock(int d, const Block& data, std::int64_t b, std::int64_t k, std::int64_t n) {
    const std::uint8_t* at = data.data();
    const std::size_t endBefore = std::exchange(previousEnd_, kBlockSize);
    const auto expect = [&](std::size_t offset, std::int64_t expected, const char* name) {
      const std::int32_t found = loadBE32(at + offset);
      if (found != expected) problem(b, offset, std::string(name) + " is " + num(found) + ", not " + num(expected));
    };
    expect(header::kNextBlock, k + 1 < n ? k + 1 : -1, "nextBlock");
    expect(header::kPrevBlock, k - 1, "prevBlock");
    expect(header::kFlags, 0, "the block header's flags");
    expect(header::kFirstEntryOffset, header::kSize, "firstEntryOffset");
    const std::int32_t end = loadBE32(at + header::kFirstFreeByte);
    if (end < static_cast<std::int32_t>(header::kSize) || end > static_cast<std::int32_t>(kBlockSize)) {
      problem(b, header::kFirstFreeByte, "firstFreeByte " + num(end) + " is outside 20 to 2048");
      return;
    }
    const std::size_t filler = firstNonFiller(at, static_cast<std::size_t>(end));
    if (filler != kBlockSize) {
      problem(b, filler, [&] {
        return "filler expected after the entries of directory " + t_.path(d) + ", found " + hex(at[filler]);
      });
    }
    if (k + 1 == n && end == static_cast<std::int32_t>(header::kSize) && !t_.directories[d].entries.empty()) {
      problem(b, -1, [&] { return "the last block of directory " + t_.path(d) + " holds no entry"; });
    }
    std::size_t off = header::kSize;
    while (off < static_cast<std::size_t>(end)) {
      if (entryCount_ >= kMaxEntries) {
        if (entryCount_++ == kMaxEntries)
          problem(b, off, "more than " + num(kMaxEntries) + " entries: no more are read");
        return;
      }
      const std::size_t room = static_cast<std::size_t>(end) - off;
      const std::int32_t last = room >= entry::kAvatars ? loadBE32(at + off + entry::kLastAvatar) : 0;
      if (room < entry::kAvatars || last < 0 || last > 7 || 72 + 4 * static_cast<std::size_t>(last) > room) {
        problem(b, off,
                "the entry does not fit between its offset and firstFreeByte " + num(end) +
                    (last < 0 || last > 7 ? " (lastAvatar " + num(last) + ")" : ""));
        return;
      }
      const std::size_t size = 72 + 4 * static_cast<std::size_t>(last);
      if (off == header::kSize && k > 0 && endBefore + size <= kBlockSize) {
        problem(b, off, [&] {
          return "entry " + t_.path(d, field(at + off + entry::kName, entry::kNameSize)) +
                 " opens a new block, but it fits after the last entry of the block before";
        });
      }
      decodeEntry(d, at + off, b, off, k + 1 == n && off + size == static_cast<std::size_t>(end));
      off += size;
    }
    previousEnd_ = static_cast<std::size_t>(end);
  }

  void decodeEntry(int d, const std::uint8_t* at, std::int64_t b, std::size_t off, bool lastOfDirectory) {
    ++entryCount_;
    ImageEntry e;
    e.block = b;
    e.offset = static_cast<std::int64_t>(off);
    e.flags = static_cast<std::uint32_t>(loadBE32(at + entry::kFlags));
    e.id = loadBE32(at + entry::kId);
    std::memcpy(e.type.data(), at + entry::kType, 4);
    e.byteCount = static_cast<std::uint32_t>(loadBE32(at + entry::kByteCount));
    e.blockCount = loadBE32(at + entry::kBlockCount);
    e.name = field(at + entry::kName, entry::kNameSize);
    const std::int32_t last = loadBE32(at + entry::kLastAvatar);
    for (std::int32_t j = 0; j <= last; ++j) e.avatars.push_back(loadBE32(at + entry::kAvatars + 4 * j));

    const auto where = [&] { return "entry " + t_.path(d, e.name); };
    const auto expect = [&](std::size_t offset, std::int64_t expected, const char* name) {
      const std::int32_t found = loadBE32(at + offset);
      if (found != expected) {
        problem(b, off + offset,
                [&] { return where() + ": " + name + " is " + num(found) + ", not " + num(expected); });
      }
    };
    expect(entry::kBlockSize, kBlockSize, "blockSize");
    expect(entry::kBurst, 1, "burst");
    expect(entry::kGap, 0, "gap");
    const std::uint32_t endBits = e.flags & kEndBits;
    if ((e.flags & ~(kEndBits | 0xFFu)) != 0) problem(b, off, [&] { return where() + ": flags hold unknown bits"; });
    const bool predicted = predictedLastInBlock(off, 72 + 4 * e.avatars.size() - 4);
    if (lastOfDirectory && endBits != kEndBits) {
      problem(b, off, [&] { return where() + ": the last entry of the directory is not marked last (0xC0000000)"; });
    } else if (!lastOfDirectory && (endBits & entry::kLastInDirectory) != 0) {
      problem(b, off, [&] { return where() + ": marked last in its directory, but entries follow"; });
    } else if (!lastOfDirectory && ((endBits & entry::kLastInBlock) != 0) != predicted) {
      // Entries are packed in order, and one is marked last in its block
      // exactly when a second entry of its own size would not fit after it.
      problem(b, off, [&] {
        return where() + (predicted ? ": lastInBlock is clear, but no second entry of its size fits after it"
                                    : ": lastInBlock is set, but a second entry of its size fits after it");
      });
    }
    if (e.kind() != entry::kKindLabel) ids_.push_back({e.id, b, static_cast<std::int64_t>(off + entry::kId)});
    const bool first = d == 0 && t_.directories[0].entries.empty();
    const std::uint32_t kind = e.kind();
    if (first && kind != entry::kKindLabel) problem(b, off, "the root's first entry is not the label entry");
    if (kind == entry::kKindLabel) {
      if (!first) {
        problem(b, off, [&] { return where() + ": a label entry that is not the root's first entry"; });
      } else if (e.id != t_.label.rootDirId || std::memcmp(e.type.data(), "*lbl", 4) != 0 ||
                 e.name != "Disc label" || e.byteCount != label::kSize || e.blockCount != 1 ||
                 e.avatars != std::vector<std::int32_t>{0, 225}) {
        problem(b, off,
                "the label entry does not describe blocks 0 and 225 (*lbl, \"Disc label\", 132 bytes, the root's id)");
      }
    } else if (kind != entry::kKindFile && kind != entry::kKindDirectory) {
      problem(b, off + 3,
              [&] { return where() + ": kind " + num(kind) + " is none of 2 (file), 6 (label), 7 (directory)"; });
    } else {
      const std::string bad = unusableName(e.name);
      if (!bad.empty()) problem(b, off + entry::kName, [&] { return where() + ": " + bad; });
    }
    auto& entries = t_.directories[d].entries;
    entries.push_back(std::move(e));
    ImageEntry& stored = entries.back();
    if (kind == entry::kKindFile) {
      ++t_.fileCount;
      readFileEntry(d, stored);
    } else if (kind == entry::kKindDirectory) {
      readDirectoryEntry(d, stored);
    }
  }

  void readFileEntry(int d, ImageEntry& e) {
    const std::int64_t blocks = (std::int64_t{e.byteCount} + kBlock - 1) / kBlock;
    if (e.blockCount != blocks) {
      problem(e.block, e.offset + entry::kBlockCount, [&] {
        return "file " + t_.path(d, e.name) + ": blockCount " + num(e.blockCount) + " does not hold " +
               num(e.byteCount) + " bytes";
      });
    }
    if (blocks == 0) return;
    const int index = static_cast<int>(t_.directories[d].entries.size()) - 1;
    for (std::size_t j = 0; j < e.avatars.size(); ++j) {
      claim({Owner::File, d, index, static_cast<int>(j), static_cast<int>(e.avatars.size()), e.avatars[j], blocks},
            e.block, e.offset + entry::kAvatars + 4 * static_cast<std::int64_t>(j));
    }
  }

  void readDirectoryEntry(int d, ImageEntry& e) {
    const auto path = [&] { return t_.path(d, e.name); };
    if (std::memcmp(e.type.data(), "*dir", 4) != 0)
      problem(e.block, e.offset + entry::kType, [&] { return path() + ": type is not *dir"; });
    if (e.blockCount < 1 || std::int64_t{e.byteCount} != std::int64_t{e.blockCount} * kBlock) {
      problem(e.block, e.offset + entry::kByteCount, [&] {
        return "directory " + path() + ": byteCount " + num(e.byteCount) + " is not blockCount " + num(e.blockCount) +
               " x 2048";
      });
      return;
    }
    if (depth_[d] >= kMaxDepth) {
      problem(e.block, e.offset, [&] {
        return "directory " + path() + " lies deeper than " + num(kMaxDepth) + " levels: it is not read";
      });
      return;
    }
    if (t_.directories.size() >= kMaxDirectories) {
      problem(e.block, e.offset,
              [&] { return "more than " + num(kMaxDirectories) + " directories: " + path() + " is not read"; });
      return;
    }
    e.directory = static_cast<int>(t_.directories.size());
    ImageDirectory dir;
    dir.name = e.name;
    dir.parent = d;
    dir.blockCount = e.blockCount;
    dir.avatars = e.avatars;
    entryIndex_.push_back(static_cast<int>(t_.directories[d].entries.size()) - 1);
    depth_.push_back(depth_[d] + 1);
    t_.directories.push_back(std::move(dir));
  }

  // Checks what needs the whole directory: a root without entries, names
  // that the disc cannot tell apart.
  void finishDirectory(int d) {
    auto& entries = t_.directories[d].entries;
    if (d == 0 && entries.empty())
      problem(t_.label.rootAvatars.empty() ? 0 : t_.label.rootAvatars[0], -1,
              "the root directory holds no label entry");
    std::vector<std::pair<std::string, std::size_t>> names;
    for (std::size_t i = 0; i < entries.size(); ++i) {
      if (entries[i].kind() != entry::kKindLabel) names.emplace_back(foldName(entries[i].name), i);
    }
    std::sort(names.begin(), names.end());
    for (std::size_t i = 1; i < names.size(); ++i) {
      if (names[i].first != names[i - 1].first) continue;
      const ImageEntry& e = entries[std::max(names[i].second, names[i - 1].second)];
      problem(e.block, e.offset + entry::kName, [&] {
        return "entry " + t_.path(d, e.name) + ": the disc cannot tell this name from another one of its directory";
      });
    }
  }

  // Every id of the image, the label's and the root's included, is 1 or more
  // and its own: a builder counts them up from 1.
  void checkIds() {
    ids_.push_back({t_.label.volumeId, 0, label::kVolumeId});
    ids_.push_back({t_.label.rootDirId, 0, label::kRootDirId});
    std::stable_sort(ids_.begin(), ids_.end(), [](const IdPlace& a, const IdPlace& b) { return a.id < b.id; });
    for (std::size_t i = 0; i < ids_.size(); ++i) {
      const IdPlace& p = ids_[i];
      if (p.id < 1) {
        problem(p.block, p.offset, "id " + num(p.id) + " is not 1 or more");
      } else if (i > 0 && ids_[i - 1].id == p.id) {
        problem(p.block, p.offset, "id " + num(p.id) + " is the id of another record too");
      }
    }
  }

  // Reads every block that the directory pass has not read, once, in order:
  // file blocks are digested and their copies compared, the filler checked
  // after each file's last byte and in every block that nothing owns.
  void sweep() {
    hashes_.assign(static_cast<std::size_t>(blocks_), 0);
    const PageBuffer buffer(kSweep * kBlockSize);
    for (std::int64_t b = 0; b < blocks_;) {
      if (read_[static_cast<std::size_t>(b)]) {
        ++b;
        continue;
      }
      // Runs end at multiples of kSweep, so that reads start at page-aligned offsets.
      const std::int64_t runEnd = std::min(blocks_, (b / kSweep + 1) * kSweep);
      std::int64_t count = 1;
      while (b + count < runEnd && !read_[static_cast<std::size_t>(b + count)]) ++count;
      if (!read(b, static_cast<std::size_t>(count), buffer.data())) return;
      for (std::int64_t i = 0; i < count; ++i) examine(b + i, buffer.data() + i * kBlock);
      b += count;
    }
    compareFileCopies();
    std::int64_t highest = blocks_ - 1;
    while (highest > 0 && owner_[static_cast<std::size_t>(highest)] < 0) --highest;
    if (highest + 1 < blocks_) problem(highest + 1, -1, "the image goes on past its last block in use");
  }

  void examine(std::int64_t b, const std::uint8_t* at) {
    const int index = owner_[static_cast<std::size_t>(b)];
    if (index < 0) {
      const std::size_t filler = firstNonFiller(at, 0);
      if (filler != kBlockSize)
        problem(b, filler, "filler expected in a block that nothing owns, found " + hex(at[filler]));
      return;
    }
    const Owner& o = owners_[static_cast<std::size_t>(index)];
    if (o.copies > 1) hashes_[static_cast<std::size_t>(b)] = digest(at);
    if (o.kind != Owner::File || b != o.first + o.count - 1 || !isFirstCopy(index)) return;
    const ImageEntry& e = t_.directories[o.directory].entries[o.entry];
    const std::size_t used = e.byteCount - static_cast<std::size_t>(o.count - 1) * kBlockSize;
    const std::size_t filler = firstNonFiller(at, used);
    if (filler != kBlockSize) {
      problem(b, filler,
              [&] { return "filler expected after the last byte of " + ownerName(o) + ", found " + hex(at[filler]); });
    }
  }

  bool isFirstCopy(int index) const {
    if (index == 0) return true;
    const Owner& o = owners_[static_cast<std::size_t>(index)];
    const Owner& before = owners_[static_cast<std::size_t>(index - 1)];
    return !(before.kind == Owner::File && before.directory == o.directory && before.entry == o.entry);
  }

  // A file's copies were claimed one after another: each is compared, block
  // by block, with the first one claimed.
  void compareFileCopies() {
    for (std::size_t i = 0; i < owners_.size(); ++i) {
      const Owner& o = owners_[i];
      if (o.kind != Owner::File || isFirstCopy(static_cast<int>(i))) continue;
      std::size_t first = i;
      while (!isFirstCopy(static_cast<int>(first))) --first;
      const Owner& ref = owners_[first];
      for (std::int64_t k = 0; k < o.count; ++k) {
        if (hashes_[static_cast<std::size_t>(o.first + k)] != hashes_[static_cast<std::size_t>(ref.first + k)]) {
          problem(o.first + k, -1, [&] {
            return "copy " + num(o.copy) + " of " + ownerName(o) + " differs from its copy at block " +
                   num(ref.first + k);
          });
          break;
        }
      }
    }
  }

  ImageFile& file_;
  ImageTree& t_;
  std::int64_t blocks_ = 0;
  std::vector<int> owner_;  // per block: index in owners_, -1 when nothing claims it
  std::vector<Owner> owners_;
  std::map<std::int64_t, std::int64_t> runs_;  // claimed runs: first block -> end
  std::vector<bool> read_;
  std::vector<std::uint64_t> hashes_;
  std::vector<int> entryIndex_{-1};  // per directory: its entry's index in the parent
  std::vector<int> depth_{0};        // per directory: levels below the root
  std::size_t entryCount_ = 0;
  std::size_t previousEnd_ = 0;  // firstFreeByte of the block decoded before
  struct IdPlace {
    std::int32_t id;
    std::int64_t block, offset;
  };
  std::vector<IdPlace> ids_;
};

}  // namespace

std::string describe(const ImageProblem& p) {
  if (p.block < 0) return "image: " + p.what;
  if (p.offset < 0) return "block " + num(p.block) + ": " + p.what;
  return "block " + num(p.block) + ", offset " + num(p.offset) + ": " + p.what;
}

std::string ImageTree::path(int directory) const {
  if (directory <= 0) return "/";
  std::vector<int> chain;
  for (int d = directory; d > 0; d = directories[d].parent) chain.push_back(d);
  std::string result;
  for (auto d = chain.rbegin(); d != chain.rend(); ++d) result += "/" + directories[*d].name;
  return result;
}

std::string ImageTree::path(int directory, const std::string& name) const {
  const std::string dir = path(directory);
  return dir == "/" ? "/" + name : dir + "/" + name;
}

const ImageEntry* ImageTree::entry(const std::string& path) const {
  if (!usable || path.empty() || path[0] != '/') return nullptr;
  int d = 0;
  const ImageEntry* found = nullptr;
  for (std::size_t at = 1; at <= path.size();) {
    const std::size_t end = std::min(path.find('/', at), path.size());
    const std::string name = path.substr(at, end - at);
    if (d < 0) return nullptr;
    const auto& entries = directories[d].entries;
    const auto e = std::find_if(entries.begin(), entries.end(),
                                [&](const ImageEntry& x) { return x.name == name && x.kind() != entry::kKindLabel; });
    if (e == entries.end()) return nullptr;
    found = &*e;
    d = e->directory;
    at = end + 1;
  }
  return found;
}

std::string readContent(ImageFile& file, const ImageEntry& e, std::uint64_t from, std::uint64_t size) {
  if (from >= e.byteCount || e.avatars.empty() || e.avatars[0] < 0) return "";
  size = std::min<std::uint64_t>(size, e.byteCount - from);
  std::string bytes(size, '\0');
  const std::uint64_t at = static_cast<std::uint64_t>(e.avatars[0]) * kBlockSize + from;
  if (!file.readAt(at, reinterpret_cast<std::uint8_t*>(bytes.data()), bytes.size())) return "";
  return bytes;
}

ImageTree readImage(ImageFile& file, bool wholeCheck) {
  ImageTree tree;
  Reader(file, tree).run(wholeCheck);
  return tree;
}


std::string unusableName(const std::string& name) {
  if (name.empty()) return "the name is empty";
  if (name == "." || name == "..") return "the name is \"" + name + "\"";
  if (name.find('/') != std::string::npos) return "the name holds a \"/\"";
  if (name.find('\0') != std::string::npos) return "the name holds a zero byte";
  return "";
}

}  // namespace vornel
