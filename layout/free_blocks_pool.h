#pragma once

#include <cstdint>
#include <vector>

#include "layout/free_run_index.h"

namespace vornel {

inline constexpr std::int32_t kPoolSize = 330000;  // blocks of the largest image
inline constexpr std::int32_t kFreeBlock = -1;

// One owner entry per block of the disc: -1 while free, else the id of the
// record whose data lies there. Entries go from free to owned; only a
// directory held at the blocks of a layout gives back what its chain no
// longer needs, before any directory is placed. The highest owned block
// gives the length of the image.
class FreeBlocksPool {
 public:
  FreeBlocksPool() : entries_(kPoolSize, kFreeBlock) {}

  void clear();
  bool isFree(std::int64_t block) const { return entries_[static_cast<std::size_t>(block)] == kFreeBlock; }
  std::int32_t owner(std::int64_t block) const { return entries_[static_cast<std::size_t>(block)]; }
  // Marks a free block as owned by id.
  void own(std::int64_t block, std::int32_t id);
  // Marks an owned block free again.
  void release(std::int64_t block);
  // The lowest block b at which blocks b to b + n - 1 are all free, or -1:
  // the block a scan from block 0 would find, without the scan.
  std::int64_t firstFit(std::int64_t n) const;
  // The length of the longest run of free blocks, for a message.
  std::int64_t longestFreeRun() const { return runs_.longestFreeRun(); }
  // Every block below this one is owned; kPoolSize when the pool is full.
  std::int32_t lowestFreeBlock() const { return lowestFree_; }
  // The highest owned block; -1 while nothing is owned.
  std::int32_t highestUsedBlock() const { return highestUsed_; }

 private:
  std::vector<std::int32_t> entries_;
  FreeRunIndex runs_{kPoolSize};
  std::int32_t lowestFree_ = 0;
  std::int32_t highestUsed_ = -1;
};

}  // namespace vornel
