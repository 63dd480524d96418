#pragma once

#include <cstdint>
#include <vector>

namespace vornel {

// Finds the lowest run of n free blocks in a pool of `size` blocks without
// walking the owned blocks before it. Blocks are kept as bits, 64 to a word,
// under a tree that records, for every range of words, the free blocks at
// its start, at its end and in its longest run: a search goes down one path
// of the tree. Marking a block owned only clears its bit; the tree catches up
// at the next search, once per changed word, so owning a long run costs one
// update per 64 blocks.
class FreeRunIndex {
 public:
  explicit FreeRunIndex(std::int64_t size);

  // Every block free again.
  void clear();
  void markOwned(std::int64_t block);
  void markFree(std::int64_t block);
  // The lowest block b at which blocks b to b + n - 1 are all free, or -1.
  std::int64_t firstFit(std::int64_t n) const;
  // The length of the longest run of free blocks.
  std::int64_t longestFreeRun() const {
    refresh();
    return nodes_[1].longest;
  }

 private:
  struct Node {
    std::int32_t head = 0;     // free blocks at the start of the range
    std::int32_t tail = 0;     // free blocks at its end
    std::int32_t longest = 0;  // the longest run of free blocks in it
  };

  // Updates the leaves of the words changed since the last search, and the
  // nodes above them.
  void refresh() const;
  static Node leaf(std::uint64_t bits);
  // Node i from its two halves.
  void combine(std::size_t i) const;
  // The number of blocks in each half of node i's range.
  std::int32_t halfLength(std::size_t i) const;

  std::int64_t size_;
  std::size_t leaves_;                // words, rounded up to a power of two
  std::vector<std::uint64_t> words_;  // bit i of word w: block 64w + i is free
  mutable std::vector<Node> nodes_;   // node 1 is the root; leaf w is leaves_ + w
  mutable std::vector<std::size_t> changed_;  // words whose leaf is out of date, each once
  mutable std::vector<bool> isChanged_;       // per word: listed in changed_
};

}  // namespace vornel
