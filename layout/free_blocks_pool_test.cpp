#include "layout/free_blocks_pool.h"

#include <gtest/gtest.h>

#include <array>
#include <random>

namespace vornel {
namespace {

// The plain first-fit: a scan from block 0 that takes the first run of n
// free blocks.
std::int64_t scanFromZero(const FreeBlocksPool& pool, std::int64_t n) {
  std::int64_t length = 0;
  for (std::int64_t b = 0; b < kPoolSize; ++b) {
    length = pool.isFree(b) ? length + 1 : 0;
    if (length == n) return b - n + 1;
  }
  return -1;
}

TEST(FreeBlocksPoolTest, FirstFitFindsTheBlockAScanFromZeroFinds) {
  // Pools owned at random blocks and runs, then requests that take their run
  // mixed with more owned blocks; one pool, cleared between rounds.
  std::mt19937 rng(20261207);
  const auto below = [&](std::int64_t limit) { return std::uniform_int_distribution<std::int64_t>(0, limit - 1)(rng); };
  FreeBlocksPool pool;
  for (int round = 0; round < 40; ++round) {
    pool.clear();
    const std::int64_t region = std::array<std::int64_t, 4>{130, 3000, 70000, kPoolSize}[round % 4];
    const std::int64_t owned = below(std::min<std::int64_t>(region, 20000));
    for (std::int64_t i = 0; i < owned; ++i) pool.own(below(region), 1);
    for (int i = below(8); i > 0; --i) {
      const std::int64_t start = below(kPoolSize);
      const std::int64_t end = std::min<std::int64_t>(kPoolSize, start + below(5000));
      for (std::int64_t b = start; b < end; ++b) pool.own(b, 2);
    }
    for (int request = 0; request < 20; ++request) {
      const std::int64_t n = 1 + (request == 19 ? below(kPoolSize) : below(request % 4 == 3 ? 3000 : 70));
      const std::int64_t expected = scanFromZero(pool, n);
      ASSERT_EQ(pool.firstFit(n), expected) << "round " << round << ", request " << request << ", " << n << " blocks";
      if (expected >= 0 && below(4) != 0) {
        for (std::int64_t b = expected; b < expected + n; ++b) pool.own(b, 3);
      }
      pool.own(below(region), 4);
    }
  }
}

}  // namespace
}  // namespace vornel
