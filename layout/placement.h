#pragma once

// The placement passes that give every record its avatars and fill the pool:
// the disc label's two blocks, the system files at the blocks their placement
// records name, every other file first-fit, and, once the directory chains
// have their final length, the directories with evenly spaced avatars.

#include "layout/free_blocks_pool.h"
#include "platform/console.h"
#include "tree/source_tree.h"

namespace vornel {

inline constexpr std::int32_t kAvatarSpacing = 64;  // between copies of a directory

// Blocks 0 and 225 hold the two copies of the disc label.
void reserveLabelBlocks(FreeBlocksPool& pool, std::int32_t labelId);

// Places each file a placement record names (found anywhere in the tree) at
// the record's positions. Fails on a position outside the pool or a block
// already owned.
int placeSystemFiles(const PlacementList& list, DirNode& root, FreeBlocksPool& pool, Console& console);

// Gives every file not placed yet the lowest run of free blocks that holds it.
int placeFiles(DirNode& root, FreeBlocksPool& pool, Console& console);

// Gives every directory lastAvatar + 1 copies at the lowest block a for which
// all of them are free, copy j starting at a + j x spacing. The spacing is 64
// blocks, or the next multiple of 64 for a longer chain, so copies never
// overlap.
int placeDirectories(DirNode& root, FreeBlocksPool& pool, Console& console);

// The distance between the first blocks of consecutive copies of a chain.
inline std::int64_t avatarSpacing(std::int64_t blocks) {
  return kAvatarSpacing * ((blocks + kAvatarSpacing - 1) / kAvatarSpacing);
}

}  // namespace vornel
