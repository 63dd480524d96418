#include "platform/memory_chunks.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace vornel {
namespace {

// Memory chunks lie at boundaries of their size, and each stays mapped and
// whole while the next ones are made; page buffers start on a page.
TEST(MemoryChunksTest, ChunksAndPageBuffersAreAlignedAndStayMapped) {
  std::vector<char*> chunks;
  for (int i = 0; i < 4; ++i) {
    chunks.push_back(static_cast<char*>(allocateMemoryChunk()));
    ASSERT_EQ(reinterpret_cast<std::uintptr_t>(chunks.back()) % kMemoryChunkSize, 0u);
    std::memset(chunks.back(), 'a' + i, kMemoryChunkSize);
  }
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(chunks[i][0] == 'a' + i && chunks[i][kMemoryChunkSize - 1] == 'a' + i);
  void* page = allocatePageAligned(8 * kPageSize);
  ASSERT_NE(page, nullptr);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(page) % kPageSize, 0u);
  freePageAligned(page);
  // The heap measure of the listing's memory test sees a large block, and no
  // more than it; a host (or a sanitizer) that measures nothing gives 0.
  const std::size_t before = heapBytesInUse();
  const std::vector<char> held(std::size_t{8} << 20, 'h');
  EXPECT_TRUE(before == 0 || heapBytesInUse() - before - held.size() < std::size_t{1} << 20);
}

}  // namespace
}  // namespace vornel
