#pragma once

// The in-memory model of everything that goes onto the disc: a DirNode per
// directory, a FileRecord per file, each directory's chain of 2048-byte
// DirBlocks, the PlacementList of system-file records and the IdCounter that
// numbers them all. The ids end up in the image, so the order in which
// records are created is part of the output format.

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "format/bytes.h"

namespace vornel {

inline constexpr int kAvatarSlots = 8;

// One counter for the whole run, starting at 1.
class IdCounter {
 public:
  std::int32_t nextId() { return next_++; }
  // The next id handed out is above `id`.
  void continueAbove(std::int32_t id) { next_ = std::max(next_, id + 1); }

 private:
  std::int32_t next_ = 1;
};

struct DirNode;

struct FileRecord {
  DirNode* parent = nullptr;  // none for the five fixed placement records
  std::string name;           // placement records keep their leading "#"
  std::uint32_t byteSize = 0xFFFFFFFF;
  std::int32_t blockCount = -1;
  std::int32_t lastAvatar = -1;
  // Block numbers of the copies; files use at most the first 4. Wider than
  // the 32 bits of the disc so that a placement number too large for 32 bits
  // stays out of range instead of wrapping into the pool.
  std::array<std::int64_t, kAvatarSlots> avatars;
  std::int32_t id = 0;
  bool placed = false;
  // The entry's type when a layout gives it; else it comes from the name.
  std::optional<std::array<char, 4>> type;

  FileRecord() { avatars.fill(-1); }
};

// A record of a file that must sit at fixed blocks: one of the five system
// files, or one read from a placement file.
struct PlacementRecord : FileRecord {
  // Slots 0-3: a number too large for 32 bits exactly as the file writes it,
  // so that a message shows what the user wrote; empty for every other slot.
  std::array<std::string, 4> written;
};

// One block of directory data, byte for byte as it is written to the disc.
// Blocks come from chunks the host may back with huge pages (a tree of
// 20,000 directories holds 40 MiB of them); a freed block is kept for the
// next one.
struct DirBlock final {
  static void* operator new(std::size_t size);
  static void operator delete(void* block) noexcept;

  std::array<std::uint8_t, kBlockSize> data;
  std::int32_t id = 0;  // owner id of the block in the free blocks pool
};

// Where a directory's own entry lies in its parent's chain.
struct EntryRef {
  DirBlock* block = nullptr;
  std::size_t offset = 0;
};

struct DirNode {
  DirNode* parent = nullptr;  // none for the root
  std::string path;           // full host path, ending with "/"
  std::string name;           // empty for the root
  std::int32_t lastAvatar = 0;
  std::array<std::int32_t, kAvatarSlots> avatars;
  std::int32_t id = 0;
  bool placed = false;
  EntryRef entryInParent;  // none for the root

  // The block chain (never empty), the file list and the subdirectories, in
  // the order in which they are walked and, without an entry order, written.
  std::vector<std::unique_ptr<DirBlock>> blocks;
  std::vector<std::unique_ptr<FileRecord>> files;
  std::vector<std::unique_ptr<DirNode>> children;
  // The order of the directory's entries when a layout gives one, files and
  // subdirectories mixed; when empty, the files come first, then the
  // subdirectories.
  struct Entry {
    FileRecord* file = nullptr;
    DirNode* dir = nullptr;
  };
  std::vector<Entry> entryOrder;

  DirNode() { avatars.fill(-1); }
  int blockCount() const { return static_cast<int>(blocks.size()); }
};

// A fresh directory block: the filler pattern under an empty header.
std::unique_ptr<DirBlock> newDirBlock(IdCounter& ids);
// A directory with its first block; the block takes its id before the node.
std::unique_ptr<DirNode> newDirNode(IdCounter& ids, int dirAvatars);
std::unique_ptr<FileRecord> newFileRecord(IdCounter& ids);
std::unique_ptr<PlacementRecord> newPlacementRecord(IdCounter& ids);

FileRecord& appendFile(DirNode& dir, std::unique_ptr<FileRecord> record);
DirNode& appendChild(DirNode& dir, std::unique_ptr<DirNode> node);

// ASCII case-insensitive equality, as names are compared on the disc.
bool equalsIgnoreCase(std::string_view a, std::string_view b);

// The disc's name order: bytes compared as unsigned values with a-z folded
// to A-Z, names equal under that folding ordered by their raw bytes. It is a
// total order, so sorting by it gives the same sequence on every host.
bool discNameLess(std::string_view a, std::string_view b);

// Records of files that must sit at fixed blocks: the five system files,
// then the user records read from placement files.
class PlacementList {
 public:
  // The list with its five fixed records, which take their ids in order.
  explicit PlacementList(IdCounter& ids);

  PlacementRecord& append(std::unique_ptr<PlacementRecord> record);
  // The first record of that name, compared case-insensitively; null if none.
  const PlacementRecord* find(std::string_view name) const;
  const std::vector<std::unique_ptr<PlacementRecord>>& records() const { return records_; }

 private:
  std::vector<std::unique_ptr<PlacementRecord>> records_;
  std::unordered_map<std::string, const PlacementRecord*> byFoldedName_;  // the first of each name
};

// A visit returns 0 to go on; any other value stops the walk and is returned.
using Visit = std::function<int(DirNode&)>;

// Visits a directory, then the walk of its first child, then the walk of its
// next sibling: a directory's whole subtree before its next sibling.
int preOrderWalk(DirNode& root, const Visit& visit);

// Visits a directory, then the walk of its next sibling, then the walk of its
// first child: all subdirectories of a directory are visited before any of
// their subtrees, and later siblings' subtrees come first. `after`, when
// given, runs for a directory once both walks that follow it are done.
// Siblings are followed with loops, so only the depth of the tree uses stack.
int siblingFirstWalk(DirNode& root, const Visit& visit, const Visit& after = nullptr);

// For each name, the first file of that name (case-insensitive) met by the
// sibling-first walk, searching each directory's file list in order; null if
// none. One walk answers every name, however many placement records ask.
std::vector<FileRecord*> findFilesByName(DirNode& root, const std::vector<std::string_view>& names);

}  // namespace vornel
