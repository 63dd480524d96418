#include "platform/memory_chunks.h"

#include <sys/mman.h>

#include <cstdint>

namespace vornel {

void* allocateMemoryChunk() {
  // Twice the size, so that an aligned chunk lies inside. The rest around it
  // is never touched, so it takes no memory, only addresses.
  void* mapped = ::mmap(nullptr, 2 * kMemoryChunkSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED) return nullptr;
  const auto address = reinterpret_cast<std::uintptr_t>(mapped);
  char* chunk = static_cast<char*>(mapped) + (kMemoryChunkSize - address % kMemoryChunkSize) % kMemoryChunkSize;
  ::madvise(chunk, kMemoryChunkSize, MADV_HUGEPAGE);
  return chunk;
}

}  // namespace vornel
