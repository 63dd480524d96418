#include "layout/free_blocks_pool.h"

#include <algorithm>

namespace vornel {

void FreeBlocksPool::clear() {
  std::fill(entries_.begin(), entries_.end(), kFreeBlock);
  runs_.clear();
  lowestFree_ = 0;
  highestUsed_ = -1;
}

void FreeBlocksPool::own(std::int64_t block, std::int32_t id) {
  entries_[static_cast<std::size_t>(block)] = id;
  runs_.markOwned(block);
  highestUsed_ = std::max(highestUsed_, static_cast<std::int32_t>(block));
  while (lowestFree_ < kPoolSize && entries_[static_cast<std::size_t>(lowestFree_)] != kFreeBlock) ++lowestFree_;
}

void FreeBlocksPool::release(std::int64_t block) {
  entries_[static_cast<std::size_t>(block)] = kFreeBlock;
  runs_.markFree(block);
  lowestFree_ = std::min(lowestFree_, static_cast<std::int32_t>(block));
  while (highestUsed_ >= 0 && isFree(highestUsed_)) --highestUsed_;
}

std::int64_t FreeBlocksPool::firstFit(std::int64_t n) const {
  // Every block below the lowest free one is owned, so a run that starts
  // there is the lowest: the usual case, files laid one after the other,
  // needs no search.
  std::int64_t end = lowestFree_;
  while (end < kPoolSize && end - lowestFree_ < n && isFree(end)) ++end;
  if (n > 0 && end - lowestFree_ == n) return lowestFree_;
  return runs_.firstFit(n);
}

}  // namespace vornel
