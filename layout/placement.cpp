#include "layout/placement.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <map>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "format/bytes.h"

namespace vornel {

void reserveLabelBlocks(FreeBlocksPool& pool, std::int32_t labelId) {
  pool.own(0, labelId);
  pool.own(225, labelId);
}

namespace {

// Whether the n blocks from p lie in the pool and are all free; an earlier
// avatar of the same file counts as owned too. A target of 0 blocks reserves
// nothing, but its position still goes into a 32-bit field.
bool avatarFits(std::int64_t p, std::int64_t n, const FreeBlocksPool& pool) {
  if (n == 0) return p >= -1 && p <= std::numeric_limits<std::int32_t>::max();
  if (p < 0 || p + n > kPoolSize) return false;
  for (std::int64_t k = 0; k < n; ++k) {
    if (!pool.isFree(p + k)) return false;
  }
  return true;
}

// The source path of a file of the tree, or of a user's placement file.
std::string pathOf(const FileRecord& file) { return file.parent->path + file.name; }

// The files placed at fixed blocks so far, by id: who holds a block that a
// later placement asks for.
using Owners = std::unordered_map<std::int32_t, const FileRecord*>;

std::string blocks(std::int64_t n) { return std::to_string(n) + (n == 1 ? " block" : " blocks"); }

// Why an avatar at p (shown as the placement file writes it) for a target of
// n blocks does not fit.
std::string whyNoFit(std::int64_t p, const std::string& shown, std::int64_t n, const FreeBlocksPool& pool,
                     const Owners& owners) {
  if (p == -1) return "the placement file gives no number for this copy";
  if (n == 0 || p < 0 || p >= kPoolSize) return "block " + shown + " lies past the end of the disc";
  if (p + n > kPoolSize) {
    return "a copy of " + blocks(n) + " from block " + shown + " runs past the disc's last block, " +
           std::to_string(kPoolSize - 1);
  }
  std::int64_t held = p;
  while (pool.isFree(held)) ++held;
  const std::int32_t owner = pool.owner(held);
  const auto found = owners.find(owner);
  // Block 0 is always the label's.
  const std::string holder = owner == pool.owner(0)  ? "the disc label"
                             : found != owners.end() ? pathOf(*found->second)
                                                     : "another record";
  return "the copy takes " + blocks(n) + " from block " + std::to_string(p) + ", and block " + std::to_string(held) +
         " already holds " + holder;
}

// Reserves the target's blocks from the position in the record's slot, or
// reports the avatar as the placement file writes it. Nothing is touched for
// an avatar that does not fit, inside the pool or outside it.
int placeAvatar(const PlacementRecord& record, int slot, FileRecord& target, FreeBlocksPool& pool, const Owners& owners,
                Console& console) {
  const std::int64_t p = record.avatars[slot];
  if (!avatarFits(p, target.blockCount, pool)) {
    const std::string shown = record.written[slot].empty() ? std::to_string(p) : record.written[slot];
    return fail(console, "Error avatar placement in file " + record.name + ", avatar: #" + shown + "\n",
                whyNoFit(p, shown, target.blockCount, pool, owners));
  }
  for (std::int64_t k = 0; k < target.blockCount; ++k) pool.own(p + k, target.id);
  return 0;
}

// Whether a directory of the tree bears the name.
bool namesDirectory(DirNode& root, std::string_view name) {
  return preOrderWalk(root, [&](DirNode& dir) { return dir.parent != nullptr && equalsIgnoreCase(dir.name, name); });
}

}  // namespace

int placeSystemFiles(const PlacementList& list, DirNode& root, FreeBlocksPool& pool, Console& console) {
  std::vector<std::string_view> names;
  for (const auto& record : list.records()) names.push_back(std::string_view(record->name).substr(1));
  const std::vector<FileRecord*> targets = findFilesByName(root, names);
  Owners owners;
  for (std::size_t r = 0; r < targets.size(); ++r) {
    const PlacementRecord* record = list.records()[r].get();
    FileRecord* target = targets[r];
    if (target == nullptr) {
      // Not in the tree, or names a directory: the five fixed records are
      // there for any tree, a user's placement file is a mistake.
      if (record->parent == nullptr) continue;
      const std::string_view name = names[r];
      warn(console, "ignored " + pathOf(*record) + ": " + std::string(name) +
                        (namesDirectory(root, name) ? " is a directory, and only files are placed at fixed blocks"
                                                    : " is no file of the tree"));
      continue;
    }
    if (target->placed) {
      // A layout holds it at its own blocks.
      if (record->parent != nullptr) {
        warn(console, "ignored " + pathOf(*record) + ": the layout places " + std::string(names[r]) + " itself");
      }
      continue;
    }
    owners.emplace(target->id, target);
    // A record's last avatar is 0 to 3: a fifth number took the first slot.
    for (int i = 0; i <= record->lastAvatar; ++i) {
      target->avatars[i] = record->avatars[i];
      if (placeAvatar(*record, i, *target, pool, owners, console) != 0) return -1;
    }
    target->lastAvatar = record->lastAvatar;
    target->placed = true;
  }
  return 0;
}

int placeFiles(DirNode& root, FreeBlocksPool& pool, Console& console) {
  return preOrderWalk(root, [&](DirNode& dir) {
    for (auto& file : dir.files) {
      if (file->placed) continue;
      // An empty file owns no block; its avatar stays -1.
      if (file->blockCount > 0) {
        const std::int64_t start = pool.firstFit(file->blockCount);
        if (start < 0) {
          return fail(console, "Error place file " + file->name + " in free blocks pool.\n",
                      "it needs " + blocks(file->blockCount) + "; the largest free run has " +
                          std::to_string(pool.longestFreeRun()));
        }
        for (std::int64_t k = 0; k < file->blockCount; ++k) pool.own(start + k, file->id);
        file->avatars[0] = start;
      }
      file->lastAvatar = 0;
      file->placed = true;
    }
    return 0;
  });
}

namespace {

// The lowest a from `from` on at which every copy of an n-block chain fits,
// or -1. When a candidate meets an owned block x in copy j, every candidate up
// to x - j x spacing would meet it too, so the search goes on right after that.
std::int64_t firstFitSpaced(const FreeBlocksPool& pool, std::int64_t n, int lastAvatar, std::int64_t from) {
  const std::int64_t spacing = avatarSpacing(n);
  const std::int64_t span = spacing * lastAvatar + n;  // from a to the end of the last copy
  std::int64_t a = std::max<std::int64_t>(from, pool.lowestFreeBlock());
  while (a + span <= kPoolSize) {
    std::int64_t next = -1;
    for (int j = 0; j <= lastAvatar && next < 0; ++j) {
      for (std::int64_t k = 0; k < n; ++k) {
        const std::int64_t block = a + spacing * j + k;
        if (!pool.isFree(block)) {
          next = block - spacing * j + 1;
          break;
        }
      }
    }
    if (next < 0) return a;
    a = next;
  }
  return -1;
}

}  // namespace

int placeDirectories(DirNode& root, FreeBlocksPool& pool, Console& console) {
  // Blocks only ever become owned, so a candidate that did not fit a chain of
  // some shape never fits one of that shape again: each search starts where
  // the last one of the same shape ended and finds the block a search from 0
  // would find.
  std::map<std::pair<std::int64_t, int>, std::int64_t> searchFrom;
  return siblingFirstWalk(root, [&](DirNode& dir) {
    if (dir.placed) return 0;
    const std::int64_t n = dir.blockCount();
    std::int64_t& from = searchFrom[{n, dir.lastAvatar}];
    const std::int64_t a = firstFitSpaced(pool, n, dir.lastAvatar, from);
    from = a;
    if (a < 0) {
      // The root has no name; it is shown by its source path.
      const std::string& name = dir.parent == nullptr ? dir.path : dir.name;
      const std::string copies = dir.lastAvatar == 0 ? "one copy" : std::to_string(dir.lastAvatar + 1) + " copies";
      return fail(console, "Error place (stage 2) directory " + name + " in free blocks pool.\n",
                  "it needs " + copies + " of " + blocks(n) + ", " + blocks(avatarSpacing(n)) +
                      " apart; the largest free run has " + std::to_string(pool.longestFreeRun()));
    }
    const std::int64_t spacing = avatarSpacing(n);
    for (int j = 0; j <= dir.lastAvatar; ++j) {
      dir.avatars[j] = static_cast<std::int32_t>(a + spacing * j);
      for (std::int64_t k = 0; k < n; ++k) pool.own(a + spacing * j + k, dir.blocks[k]->id);
    }
    dir.placed = true;
    return 0;
  });
}

}  // namespace vornel
