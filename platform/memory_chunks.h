#pragma once

#include <cstddef>

namespace vornel {

inline constexpr std::size_t kMemoryChunkSize = std::size_t{2} << 20;
inline constexpr std::size_t kPageSize = 4096;

// A chunk of kMemoryChunkSize bytes at a boundary of its own size, which the
// host may back with one huge page instead of 512 small ones: a tree of
// tens of thousands of directories then takes a few page faults per chunk
// instead of one per page. Null when the host has no memory to give.
void* allocateMemoryChunk();

// size bytes (a multiple of kPageSize) starting on a page boundary, given
// back with freePageAligned; null when the host has no memory to give.
void* allocatePageAligned(std::size_t size);
void freePageAligned(void* memory);

// The bytes that the program's heap holds now, for tests that check memory
// stays bounded; 0 where the host cannot tell.
std::size_t heapBytesInUse();

}  // namespace vornel
