#include "platform/memory_chunks.h"

#include <sys/mman.h>

#include <cstdint>

namespace vornel {

void* allocateMemoryChunk() {
  // Twice the size, so that an aligned chunk lies inside; the rest goes back.
  void* mapped = ::mmap(nullptr, 2 * kMemoryChunkSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED) return nullptr;
  auto* begin = static_cast<char*>(mapped);
  const auto address = reinterpret_cast<std::uintptr_t>(begin);
  char* chunk = begin + ((kMemoryChunkSize - address % kMemoryChunkSize) % kMemoryChunkSize);
  if (chunk != begin) ::munmap(begin, static_cast<std::size_t>(chunk - begin));
  char* end = begin + 2 * kMemoryChunkSize;
  if (chunk + kMemoryChunkSize != end) ::munmap(chunk + kMemoryChunkSize, static_cast<std::size_t>(end - chunk) - kMemoryChunkSize);
  ::madvise(chunk, kMemoryChunkSize, MADV_HUGEPAGE);
  return chunk;
}

}  // namespace vornel
