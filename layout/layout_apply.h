#pragma once

// Builds a tree to the layout of an existing image: the entries the layout
// lists take its ids, types, order and avatars; the tree's other entries
// follow in each directory and take ids above every id of the layout.

#include <cstdint>
#include <string>
#include <vector>

#include "layout/free_blocks_pool.h"
#include "layout/layout_document.h"
#include "platform/console.h"
#include "tree/source_tree.h"

namespace vornel {

// Entries of the tree held at the blocks the layout gives, in its order.
struct PinnedEntry {
  FileRecord* file = nullptr;  // or
  DirNode* dir = nullptr;
  const LayoutEntry* entry = nullptr;
};

struct AppliedLayout {
  std::vector<PinnedEntry> pinned;
};

// Avatar counts the command line sets (0: not given); they win over the layout's.
struct AvatarCounts {
  int root = 0;
  int directories = 0;
};

// Matches the layout's entries with the tree's (names compared as the disc
// compares them), warns of each listed entry the tree lacks, and sets ids,
// types, entry order and avatar counts. A directory keeps its listed avatars
// only when the command line does not give it another count. Also gives the
// directory blocks ids above all others, so that the pool tells every owner
// apart.
AppliedLayout applyLayout(const LayoutDocument& layout, const std::string& layoutPath, DirNode& root, IdCounter& ids,
                          AvatarCounts given, Console& console);

// Reserves the blocks of every pinned entry before anything else is placed;
// fails, naming the entry, the block and the sizes, on a copy that leaves the
// disc or meets a block already held. A directory takes the blocks the
// layout gives it.
int placePinned(const AppliedLayout& applied, FreeBlocksPool& pool, Console& console);

// Once the directories are built: a pinned directory whose chain has grown
// past the blocks the layout gives it fails the build; one that has shrunk
// gives back the blocks it no longer needs.
int fitPinnedDirectories(const AppliedLayout& applied, FreeBlocksPool& pool, Console& console);

}  // namespace vornel
