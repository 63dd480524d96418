#include "platform/memory_chunks.h"
#include "platform/posix_calls.h"

#include <sys/mman.h>

#include <cstdint>
#if defined(__GLIBC__)
#include <malloc.h>  // mallinfo2
#endif

namespace vornel {

void* allocateMemoryChunk() {
  // Twice the size, so that an aligned chunk lies inside. The rest around it
  // is never touched, so it takes no memory, only addresses.
  void* mapped = ::mmap(nullptr, 2 * kMemoryChunkSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED) return nullptr;
  const auto address = reinterpret_cast<std::uintptr_t>(mapped);
  char* chunk = static_cast<char*>(mapped) + (kMemoryChunkSize - address % kMemoryChunkSize) % kMemoryChunkSize;
#if VORNEL_LINUX_CALLS
  ::madvise(chunk, kMemoryChunkSize, MADV_HUGEPAGE);
#endif
  return chunk;
}

std::size_t heapBytesInUse() {
#if defined(__GLIBC__)
  const auto heap = ::mallinfo2();
  return heap.uordblks + heap.hblkhd;
#else
  return 0;
#endif
}

}  // namespace vornel
