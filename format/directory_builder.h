#pragma once

// Turns the tree into directory blocks in two passes around the placement of
// the directories: buildDirectories writes every entry (a directory's own
// entry with placeholders, since its size and avatars are not known yet),
// finishDirectories completes those entries once the directories are placed
// and marks the last entry of every directory.

#include <memory>
#include <vector>

#include "format/records.h"
#include "tree/source_tree.h"

namespace vornel {

struct EntrySpace {
  DirBlock* block;
  std::size_t offset;
  bool lastInBlock;  // predicted: a second entry of the same size would not fit
};

// Room for an entry of size bytes at the end of dir's chain, opening a fresh
// block when it does not fit into the last one. An entry that ends exactly
// at byte 2048 fits.
EntrySpace claimEntrySpace(DirNode& dir, std::size_t size, IdCounter& ids);

// Appends a block and renumbers the next and previous links of the whole chain.
void appendDirBlock(std::vector<std::unique_ptr<DirBlock>>& chain, std::unique_ptr<DirBlock> block);

// Writes the label entry (root only), then the entries of every directory
// into its chain: in the directory's entry order when it has one, else the
// files in list order, then the subdirectories in sibling order. A
// directory's entry is as long as its own avatars need. After it the chain
// lengths are final. Returns 0.
int buildDirectories(DirNode& root, IdCounter& ids);

// Copies each directory's avatars and size into its entry in the parent and
// marks the last entry of the last block of every directory.
int finishDirectories(DirNode& root);

}  // namespace vornel
