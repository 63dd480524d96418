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

}  // namespace vornel
