#pragma once

#include <cstddef>

namespace vornel {

inline constexpr std::size_t kMemoryChunkSize = std::size_t{2} << 20;

// A chunk of kMemoryChunkSize bytes at a boundary of its own size, which the
// host may back with one huge page instead of 512 small ones: a tree of
// tens of thousands of directories then takes a few page faults per chunk
// instead of one per page. Null when the host has no memory to give.
void* allocateMemoryChunk();

}  // namespace vornel
