#include "layout/free_run_index.h"

#include <algorithm>
#include <bit>

namespace vornel {

namespace {

constexpr std::int64_t kWordBits = 64;

// The longest run of set bits in a word.
std::int32_t longestRun(std::uint64_t bits) {
  if (bits == ~0ULL) return kWordBits;
  std::int32_t length = 0;
  for (; bits != 0; bits &= bits << 1) ++length;
  return length;
}

// The lowest bit at which n set bits (1 <= n <= 64) begin, or -1.
std::int64_t lowestRunIn(std::uint64_t bits, std::int64_t n) {
  // After the loop, bit i is set when bits i to i + n - 1 all are.
  for (std::int64_t covered = 1; covered < n && bits != 0;) {
    const std::int64_t step = std::min(covered, n - covered);
    bits &= bits >> step;
    covered += step;
  }
  return bits == 0 ? -1 : std::countr_zero(bits);
}

}  // namespace

FreeRunIndex::FreeRunIndex(std::int64_t size)
    : size_(size),
      leaves_(std::bit_ceil(static_cast<std::size_t>((size + kWordBits - 1) / kWordBits))),
      words_(leaves_),
      nodes_(2 * leaves_),
      isChanged_(leaves_) {
  clear();
}

void FreeRunIndex::clear() {
  std::fill(words_.begin(), words_.end(), 0);
  for (std::int64_t b = 0; b < size_; b += kWordBits) {
    const std::int64_t count = std::min(kWordBits, size_ - b);
    words_[static_cast<std::size_t>(b / kWordBits)] = count == kWordBits ? ~0ULL : (1ULL << count) - 1;
  }
  for (std::size_t w = 0; w < leaves_; ++w) nodes_[leaves_ + w] = leaf(words_[w]);
  for (std::size_t i = leaves_ - 1; i >= 1; --i) combine(i);
  changed_.clear();
  std::fill(isChanged_.begin(), isChanged_.end(), false);
}

void FreeRunIndex::markOwned(std::int64_t block) {
  const auto word = static_cast<std::size_t>(block / kWordBits);
  words_[word] &= ~(1ULL << (block % kWordBits));
  if (!isChanged_[word]) {
    isChanged_[word] = true;
    changed_.push_back(word);
  }
}

void FreeRunIndex::markFree(std::int64_t block) {
  const auto word = static_cast<std::size_t>(block / kWordBits);
  words_[word] |= 1ULL << (block % kWordBits);
  if (!isChanged_[word]) {
    isChanged_[word] = true;
    changed_.push_back(word);
  }
}

void FreeRunIndex::refresh() const {
  for (const std::size_t word : changed_) {
    isChanged_[word] = false;
    std::size_t i = leaves_ + word;
    nodes_[i] = leaf(words_[word]);
    while (i > 1) combine(i /= 2);
  }
  changed_.clear();
}

FreeRunIndex::Node FreeRunIndex::leaf(std::uint64_t bits) {
  return {std::countr_one(bits), std::countl_one(bits), longestRun(bits)};
}

void FreeRunIndex::combine(std::size_t i) const {
  // Free blocks at the start of a range run on into its right half only when
  // the left half is free throughout, and the same for the end.
  const std::int32_t half = halfLength(i);
  const Node& left = nodes_[2 * i];
  const Node& right = nodes_[2 * i + 1];
  nodes_[i] = {left.head == half ? half + right.head : left.head,
               right.tail == half ? half + left.tail : right.tail,
               std::max({left.longest, right.longest, left.tail + right.head})};
}

std::int32_t FreeRunIndex::halfLength(std::size_t i) const {
  return static_cast<std::int32_t>((leaves_ * kWordBits) >> std::bit_width(i));
}

std::int64_t FreeRunIndex::firstFit(std::int64_t n) const {
  refresh();
  if (n <= 0 || nodes_[1].longest < n) return -1;
  // Go down towards the lowest run: in the left half, else across the middle,
  // else in the right half.
  std::size_t i = 1;
  std::int64_t first = 0;  // the first block of node i's range
  while (i < leaves_) {
    const std::int64_t half = halfLength(i);
    const Node& left = nodes_[2 * i];
    const Node& right = nodes_[2 * i + 1];
    if (left.longest >= n) {
      i = 2 * i;
    } else if (left.tail + right.head >= n) {
      return first + half - left.tail;
    } else {
      i = 2 * i + 1;
      first += half;
    }
  }
  return first + lowestRunIn(words_[i - leaves_], n);
}

}  // namespace vornel
