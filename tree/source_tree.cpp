#include "tree/source_tree.h"

#include <algorithm>
#include <mutex>
#include <new>
#include <utility>

#include "platform/memory_chunks.h"

namespace vornel {

// Sanitizer builds (gcc's or clang's) take every block from the heap, where
// they check it.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VORNEL_BLOCKS_ON_HEAP
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(VORNEL_BLOCKS_ON_HEAP)

void* DirBlock::operator new(std::size_t size) { return ::operator new(size); }
void DirBlock::operator delete(void* block) noexcept { ::operator delete(block); }

#else

namespace {

// The blocks' own allocator: carves blocks out of memory chunks one after
// another and keeps freed blocks in a list threaded through them. Chunks are
// never given back; a second build in the same process reuses the blocks.
class BlockPool {
 public:
  void* take() {
    std::lock_guard lock(mutex_);
    if (freed_ != nullptr) return std::exchange(freed_, freed_->next);
    if (static_cast<std::size_t>(end_ - next_) < kSlot) {
      auto* chunk = static_cast<char*>(allocateMemoryChunk());
      if (chunk == nullptr) throw std::bad_alloc();
      next_ = chunk;
      end_ = chunk + kMemoryChunkSize;
    }
    return std::exchange(next_, next_ + kSlot);
  }
  void give(void* block) {
    std::lock_guard lock(mutex_);
    freed_ = new (block) Freed{freed_};
  }

 private:
  struct Freed {
    Freed* next;
  };
  static constexpr std::size_t kSlot = (sizeof(DirBlock) + alignof(std::max_align_t) - 1) / alignof(std::max_align_t) *
                                       alignof(std::max_align_t);

  std::mutex mutex_;
  Freed* freed_ = nullptr;
  char* next_ = nullptr;
  char* end_ = nullptr;
};

BlockPool& blockPool() {
  static BlockPool* pool = new BlockPool;  // outlives every block, freed or not
  return *pool;
}

}  // namespace

void* DirBlock::operator new(std::size_t) { return blockPool().take(); }
void DirBlock::operator delete(void* block) noexcept { blockPool().give(block); }

#endif

std::unique_ptr<DirBlock> newDirBlock(IdCounter& ids) {
  // Left uninitialised: the pattern below fills every byte.
  std::unique_ptr<DirBlock> block(new DirBlock);
  block->id = ids.nextId();
  std::uint8_t* data = block->data.data();
  fillWithPattern(data, kBlockSize);
  storeBE32(data + header::kNextBlock, -1);
  storeBE32(data + header::kPrevBlock, -1);
  storeBE32(data + header::kFlags, 0);
  storeBE32(data + header::kFirstFreeByte, header::kSize);
  storeBE32(data + header::kFirstEntryOffset, header::kSize);
  return block;
}

std::unique_ptr<DirNode> newDirNode(IdCounter& ids, int dirAvatars) {
  auto node = std::make_unique<DirNode>();
  node->blocks.push_back(newDirBlock(ids));
  node->id = ids.nextId();
  node->lastAvatar = dirAvatars - 1;
  return node;
}

std::unique_ptr<FileRecord> newFileRecord(IdCounter& ids) {
  auto record = std::make_unique<FileRecord>();
  record->id = ids.nextId();
  return record;
}

std::unique_ptr<PlacementRecord> newPlacementRecord(IdCounter& ids) {
  auto record = std::make_unique<PlacementRecord>();
  record->id = ids.nextId();
  return record;
}

FileRecord& appendFile(DirNode& dir, std::unique_ptr<FileRecord> record) {
  record->parent = &dir;
  dir.files.push_back(std::move(record));
  return *dir.files.back();
}

DirNode& appendChild(DirNode& dir, std::unique_ptr<DirNode> node) {
  node->parent = &dir;
  dir.children.push_back(std::move(node));
  return *dir.children.back();
}

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (foldCase(a[i]) != foldCase(b[i])) return false;
  }
  return true;
}

bool discNameLess(std::string_view a, std::string_view b) {
  const std::size_t common = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < common; ++i) {
    if (foldCase(a[i]) != foldCase(b[i])) return foldCase(a[i]) < foldCase(b[i]);
  }
  if (a.size() != b.size()) return a.size() < b.size();
  // Equal under folding: the raw bytes decide (compared as unsigned values).
  return a < b;
}

PlacementList::PlacementList(IdCounter& ids) {
  struct Fixed {
    const char* name;
    int lastAvatar;
    int avatars[2];
  };
  // The console's boot layout: these files always sit at these blocks.
  static constexpr Fixed kFixed[] = {
      {"#BannerScreen", 0, {227, -1}}, {"#boot_code", 0, {2, -1}}, {"#os_code", 0, {6, -1}},
      {"#misc_code", 0, {70, -1}},     {"#rom_tags", 1, {1, 226}},
  };
  for (const Fixed& fixed : kFixed) {
    auto record = newPlacementRecord(ids);
    record->name = fixed.name;
    record->lastAvatar = fixed.lastAvatar;
    record->avatars[0] = fixed.avatars[0];
    record->avatars[1] = fixed.avatars[1];
    append(std::move(record));
  }
}

PlacementRecord& PlacementList::append(std::unique_ptr<PlacementRecord> record) {
  byFoldedName_.emplace(foldName(record->name), record.get());
  records_.push_back(std::move(record));
  return *records_.back();
}

const PlacementRecord* PlacementList::find(std::string_view name) const {
  const auto found = byFoldedName_.find(foldName(name));
  return found == byFoldedName_.end() ? nullptr : found->second;
}

int preOrderWalk(DirNode& root, const Visit& visit) {
  if (int result = visit(root)) return result;
  for (auto& child : root.children) {
    if (int result = preOrderWalk(*child, visit)) return result;
  }
  return 0;
}

namespace {

// The sibling-first walk of a whole sibling list: every sibling is visited
// in order, then the subtrees are walked from the last sibling back to the
// first, which is the order the recursive "next sibling, then first child"
// definition gives.
int walkSiblings(std::vector<std::unique_ptr<DirNode>>& siblings, const Visit& visit, const Visit& after) {
  for (auto& sibling : siblings) {
    if (int result = visit(*sibling)) return result;
  }
  for (auto it = siblings.rbegin(); it != siblings.rend(); ++it) {
    if (int result = walkSiblings((*it)->children, visit, after)) return result;
    if (after) {
      if (int result = after(**it)) return result;
    }
  }
  return 0;
}

}  // namespace

int siblingFirstWalk(DirNode& root, const Visit& visit, const Visit& after) {
  if (int result = visit(root)) return result;
  if (int result = walkSiblings(root.children, visit, after)) return result;
  if (after) return after(root);
  return 0;
}

std::vector<FileRecord*> findFilesByName(DirNode& root, const std::vector<std::string_view>& names) {
  std::unordered_map<std::string, FileRecord*> first;  // by folded name
  for (std::string_view name : names) first.emplace(foldName(name), nullptr);
  std::size_t left = first.size();
  siblingFirstWalk(root, [&](DirNode& dir) {
    for (auto& file : dir.files) {
      const auto wanted = first.find(foldName(file->name));
      if (wanted == first.end() || wanted->second != nullptr) continue;
      wanted->second = file.get();
      if (--left == 0) return 1;
    }
    return 0;
  });
  std::vector<FileRecord*> found;
  found.reserve(names.size());
  for (std::string_view name : names) found.push_back(first[foldName(name)]);
  return found;
}

}  // namespace vornel
